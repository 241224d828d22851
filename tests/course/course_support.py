"""Shared helpers of the sample course's tests: where the sources, tools and
the fixture build are, copies of the sources, runs of the builder, and small
readers of the formats it writes (volumes through ehdd-volume, PNG, Ogg)."""

import importlib.machinery
import importlib.util
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

sys.dont_write_bytecode = True

SOURCE = os.environ.get("COURSE_SOURCE") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "course")
TOOLS = os.environ.get("COURSE_TOOLS", "")
BUILT = os.environ.get("COURSE_BUILT", "")


def tool(name):
    return os.path.join(TOOLS, name)


def copy_course(into):
    """A copy of the course sources; the builder reads only its own folder."""
    target = os.path.join(into, "course")
    shutil.copytree(SOURCE, target, ignore=shutil.ignore_patterns("__pycache__", ".*"))
    return target


def run_build(course, outdir, env=None, tools=None):
    done = subprocess.run([sys.executable, os.path.join(course, "build"), outdir, "--tools",
                           tools or TOOLS], capture_output=True, text=True, env=env, timeout=300)
    return done.returncode, done.stdout, done.stderr


def load_builder(course):
    """The builder of a copy as a module, to reach its checks without a build."""
    path = os.path.join(course, "build")
    loader = importlib.machinery.SourceFileLoader("course_build_%d" % id(course), path)
    spec = importlib.util.spec_from_loader(loader.name, loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def snapshot(folder):
    """Every file under a folder with its bytes and time of change."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = (f.read(), os.stat(path).st_mtime_ns)
    return files


def volume_files(prefix):
    """{inner path: size} of every file of a volume, read by ehdd-volume."""
    out = {}
    pending = ["/"]
    while pending:
        folder = pending.pop()
        listing = subprocess.run([tool("ehdd-volume"), "list", prefix, folder],
                                 capture_output=True, text=True, check=True).stdout
        for line in listing.splitlines():
            kind, size, name = line.split(" ", 2)
            path = folder.rstrip("/") + "/" + name
            if kind == "d":
                pending.append(path)
            else:
                out[path] = int(size)
    return out


def volume_cat(prefix, path):
    return subprocess.run([tool("ehdd-volume"), "cat", prefix, path], capture_output=True,
                          check=True).stdout


def png_info(data):
    """(width, height, bit depth, colour type, chunk names) of a PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    at, chunks = 8, []
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks.append(kind.decode("ascii"))
        at += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
    return width, height, depth, colour, chunks


def png_rows(data):
    """The RGB rows of an 8-bit RGB PNG, filters undone."""
    width, height, _, _, _ = png_info(data)
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            idat += data[at + 8:at + 8 + length]
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 3
    rows, prev, k = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[k]
        line = bytearray(raw[k + 1:k + 1 + stride])
        k += 1 + stride
        for x in range(stride):
            a = line[x - 3] if x >= 3 else 0
            b = prev[x]
            c = prev[x - 3] if x >= 3 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return rows


def ogg_info(data):
    """(serials, channels, rate, samples) of an Ogg file: its pages' stream
    serials, the first Vorbis identification header and the last granule."""
    at, serials, first, granule = 0, [], None, 0
    while at < len(data):
        if data[at:at + 4] != b"OggS":
            raise ValueError("not an Ogg page at %d" % at)
        granule_pos, serial = struct.unpack("<qI", data[at + 6:at + 18])
        segments = data[at + 26]
        table = data[at + 27:at + 27 + segments]
        body = at + 27 + segments
        if first is None:
            first = data[body:body + sum(table)]
        serials.append(serial)
        if granule_pos >= 0:
            granule = granule_pos
        at = body + sum(table)
    if first is None or first[:7] != b"\x01vorbis":
        raise ValueError("no Vorbis identification header")
    channels = first[11]
    rate = struct.unpack("<I", first[12:16])[0]
    return sorted(set(serials)), channels, rate, granule


class TempDir:
    def __enter__(self):
        self.path = tempfile.mkdtemp(prefix="course-test-")
        return self.path

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)

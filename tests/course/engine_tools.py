"""Running the engine's inspection tools on the built course, with the
store options every tool shares."""

import subprocess

from course_support import BUILT, tool

UNIT_STORE = {1: "data\\unit001.dat", 2: "data\\unit002.dat"}


def store_options(mounts):
    """--local-root, --local and --mount for {letter: store name}."""
    args = ["--local-root", BUILT + "/", "--local", "".join(sorted(mounts))]
    for letter, store in sorted(mounts.items()):
        args += ["--mount", "%s=%s" % (letter, store)]
    return args


def unit_mounts(unit):
    return {"U": UNIT_STORE[unit], "M": "data\\mcd01.dat", "X": "data\\common.dat"}


def run(name, mounts, *args, timeout=120):
    done = subprocess.run([tool(name)] + store_options(mounts) + list(args),
                          capture_output=True, text=True, timeout=timeout)
    return done.returncode, done.stdout, done.stderr


def document_names(unit):
    return ["CLA%03d%s.TAE" % (unit, part)
            for part in ("SI", "ST", "DI", "RO", "GR", "WR", "VO", "PR")]


def highest_numbers(unit):
    """Per part, the highest sound and exercise numbers of its document, as
    the engine's reader finds them (lectoria-tae parse)."""
    counts = []
    for name in document_names(unit):
        code, out, err = run("lectoria-tae", unit_mounts(unit), "parse", "U:\\" + name)
        if code != 0:
            raise AssertionError("parse %s: %s" % (name, err))
        values = {}
        for line in out.splitlines():
            fields = line.split()
            if fields and fields[0] in ("sounds", "exercises"):
                values[fields[0]] = int(fields[2])
        counts.append((values["sounds"], values["exercises"]))
    return counts


def audit_size(counts):
    """The audit file of documents with these highest numbers."""
    return 1331 + sum((n + 1) * 4 * (n > 0) + (m + 1) * 410 * (m > 0) for n, m in counts)

"""The built course studied end to end by the headless driver
(lectoria-drive): each unit walks through all its pages without a box and
saves an audit of the size its documents give, which reads back; a unit
whose store lost its animation loads with the one box that says so."""

import os
import re
import shutil
import struct
import subprocess
import unittest

from course_support import (BUILT, SOURCE, TempDir, load_builder, png_rows, tool, volume_cat,
                            volume_files)
from engine_tools import audit_size, highest_numbers

PAGE_LINE = re.compile(r"part (\d) page (\d+) of (\d+)\Z")
TIMEOUT_S = 240


def walk(course, unit, out):
    # A registry of the run's own, beside the course: the user's may name an
    # engine that is gone.
    env = dict(os.environ,
               LECTORIA_REGISTRY_DIR=os.path.join(os.path.dirname(course), "registry"))
    done = subprocess.run([tool("lectoria-drive"), "--course", course, "--unit", str(unit),
                           "--out", out, "--timeout", str(TIMEOUT_S)],
                          capture_output=True, text=True, timeout=TIMEOUT_S + 30, env=env)
    return done.returncode, done.stdout, done.stderr


def boxes(stderr):
    return [l for l in stderr.splitlines() if l.startswith("lectoria-drive: box ")]


class Walks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        course = load_builder(SOURCE).check_course()
        cls.pages = {u.number: u.pages for u in course.units}

    def setUp(self):
        self.temp = TempDir()
        self.root = self.temp.__enter__()
        self.course = os.path.join(self.root, "course")
        shutil.copytree(BUILT, self.course)

    def tearDown(self):
        self.temp.__exit__(None, None, None)

    def check_walk(self, unit, out, stdout):
        total = self.pages[unit]
        lines = stdout.splitlines()
        self.assertEqual(len(lines), total, stdout)
        for n, line in enumerate(lines, 1):
            m = PAGE_LINE.match(line)
            self.assertIsNotNone(m, line)
            part, page, of = (int(v) for v in m.groups())
            self.assertEqual((page, of), (n, total))
            shot = os.path.join(out, "p%dp%02d.png" % (part, page))
            with open(shot, "rb") as f:
                rows = png_rows(f.read())
            self.assertGreater(len(set(rows[y][x:x + 3] for y in range(0, len(rows), 7)
                                       for x in range(0, len(rows[0]), 21))), 1, shot)
        self.assertEqual(len([f for f in os.listdir(out) if f.endswith(".png")]), total)

    def test_both_units_walk_and_keep_their_audit(self):
        for unit in (1, 2):
            with self.subTest(unit=unit):
                out = os.path.join(self.root, "shots%d" % unit)
                code, stdout, stderr = walk(self.course, unit, out)
                self.assertEqual(code, 0, stderr)
                self.assertEqual(boxes(stderr), [])
                self.check_walk(unit, out, stdout)
                audit = os.path.join(self.course, "userdata", "work", "C%03d" % unit, "AUDIT.ALU")
                counts = highest_numbers(unit)
                self.assertEqual(os.path.getsize(audit), audit_size(counts))
                spec = ",".join("%d:%d" % c for c in counts)
                done = subprocess.run([tool("lectoria-audit"), "check", audit, "--counts", spec],
                                      capture_output=True, text=True)
                self.assertEqual((done.returncode, done.stdout), (0, "match\n"), done.stderr)
                # A second study reads the audit back without a word.
                again = os.path.join(self.root, "again%d" % unit)
                code, stdout, stderr = walk(self.course, unit, again)
                self.assertEqual(code, 0, stderr)
                self.assertEqual(boxes(stderr), [])
                self.check_walk(unit, again, stdout)

    def test_a_unit_without_its_animation_loads_with_one_box(self):
        prefix = os.path.join(BUILT, "data", "unit002")
        tree = os.path.join(self.root, "unit002")
        for path in volume_files(prefix):
            if path.startswith("/ANIM/"):
                continue
            target = os.path.join(tree, *path.strip("/").split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(volume_cat(prefix, path))
        with open(prefix + ".FAT", "rb") as f:
            fat = f.read()
        length = struct.unpack("<I", fat[8:12])[0]
        block = struct.unpack("<I", fat[12 + length:16 + length])[0]
        target = os.path.join(self.course, "data", "unit002")
        os.remove(target + ".FAT")
        os.remove(target + ".DAT")
        subprocess.run([tool("ehdd-volume"), "build", tree, target, "--block-size", str(block)],
                       check=True)
        self.assertFalse(any(p.startswith("/ANIM") for p in volume_files(target)))
        out = os.path.join(self.root, "shots")
        code, stdout, stderr = walk(self.course, 2, out)
        self.assertEqual(code, 0, stderr)
        self.assertEqual(boxes(stderr),
                         ['lectoria-drive: box "ERROR": No se ha podido abrir el fichero DEFANIM.TXT'])
        self.check_walk(2, out, stdout)


if __name__ == "__main__":
    unittest.main()

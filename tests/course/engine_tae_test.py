"""The built documents through the engine's reader and formatter
(lectoria-tae): they read without a message, their pages add up to the
builder's count and none overflows, the role-play files read as written,
and together they use every keyword."""

import os
import re
import unittest

from course_support import SOURCE, load_builder, volume_cat, volume_files
from engine_tools import BUILT, document_names, run, unit_mounts

TAG = re.compile(r'\d+ tag (SONIDO|EJESCRITO|ASPEAK) "([^"]*)"\Z')


def referenced(unit):
    """The sounds the unit's documents (as the engine reads them) and its
    role-play file name: (native audio folder, private folder)."""
    native, private = set(), set()
    for name in document_names(unit):
        code, out, _ = run("lectoria-tae", unit_mounts(unit), "parse", "U:\\" + name)
        for line in out.splitlines():
            m = TAG.match(line)
            if not m:
                continue
            fields = m.group(2).split(",")
            if m.group(1) == "ASPEAK" and len(fields) == 2:
                native.add(fields[1])
            elif m.group(1) != "ASPEAK" and len(fields) == 3:
                (private if fields[0] == "3" else native).add(fields[2])
    code, out, _ = run("lectoria-tae", unit_mounts(unit), "roleplay", "U:\\CLA%03d.RLP" % unit)
    private |= set(re.findall(r'^name \d+ "([^"]+)"', out, re.M))
    return native, private

PAGE = re.compile(r"page (\d+) first (\d+) style (\d+) lines (\d+) drawn (\d+) end (break|text|full) "
                  r"ys (\S+)\Z")


class Documents(unittest.TestCase):
    def test_pages_add_up_and_none_overflows(self):
        expected = load_builder(SOURCE).check_course().pages
        total = 0
        for unit in (1, 2):
            for name in document_names(unit):
                with self.subTest(document=name):
                    code, out, err = run("lectoria-tae", unit_mounts(unit), "pages", "U:\\" + name)
                    self.assertEqual((code, err), (0, ""), out)
                    lines = out.splitlines()
                    pages = int(lines[0].split()[1])
                    self.assertEqual(len(lines), pages + 1)
                    for line in lines[1:]:
                        m = PAGE.match(line)
                        self.assertIsNotNone(m, line)
                        self.assertNotEqual(m.group(6), "full", line)
                    total += pages
        self.assertEqual(total, expected)

    def test_every_keyword_is_used(self):
        used = {}
        for unit in (1, 2):
            for name in document_names(unit):
                code, out, err = run("lectoria-tae", unit_mounts(unit), "parse", "U:\\" + name)
                self.assertEqual((code, err), (0, ""), name)
                self.assertNotIn(" unknown", out, name)
                for line in out.splitlines():
                    fields = line.split()
                    if fields[0] == "count":
                        used[fields[1]] = used.get(fields[1], 0) + int(fields[2])
        # Speaking points are rewritten into sounds when read; they stand in
        # the stored speaking documents.
        missing = sorted(k for k, v in used.items() if v == 0 and k not in
                         ("FSPEAK", "BOTON4", "BOTON5", "BOTON6", "BOTON7"))
        self.assertEqual(missing, [])
        for unit in (1, 2):
            stored = volume_cat(os.path.join(BUILT, "data", "unit%03d" % unit),
                                "/CLA%03dPR.TAE" % unit)
            for tag in (b"<FSPEAK:", b"<BOTON:4", b"<BITMAPF:PASSPEAK", b"<COLORF:FSPEAK>"):
                self.assertIn(tag, stored)

    def test_the_stores_hold_exactly_the_sounds_named(self):
        native = set()
        for unit in (1, 2):
            unit_native, private = referenced(unit)
            native |= unit_native
            files = volume_files(os.path.join(BUILT, "data", "unit%03d" % unit))
            self.assertEqual({p[1:-4] for p in files if p.count("/") == 1 and p.endswith(".OGG")},
                             private)
        files = volume_files(os.path.join(BUILT, "data", "mcd01"))
        self.assertEqual({p[7:-4] for p in files if p.startswith("/AUDIO/")}, native | {"VACIO"})

    def test_role_play_files_read_as_written(self):
        for unit in (1, 2):
            with open(os.path.join(SOURCE, "unit%03d" % unit, "CLA%03d.RLP" % unit)) as f:
                lines = f.read().split("\n")
            characters, count, width = int(lines[0]), int(lines[1]), int(lines[2])
            want = ["characters %d" % characters, "lines %d" % count, "width %d" % width,
                    "finished 1"]
            want += ['name %d "%s" 0' % (j, lines[3 + j]) for j in range(count)]
            for i in range(characters):
                row = lines[3 + count + i].rstrip(",")
                want.append("row %d %s,255" % (i, row))
            code, out, err = run("lectoria-tae", unit_mounts(unit), "roleplay",
                                 "U:\\CLA%03d.RLP" % unit)
            self.assertEqual((code, err), (0, ""))
            self.assertEqual(out.splitlines(), want)


if __name__ == "__main__":
    unittest.main()

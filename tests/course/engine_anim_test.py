"""The built animations through the engine's readers (lectoria-anim): both
load and check clean, with the figures of their descriptions."""

import re
import unittest

from engine_tools import run, unit_mounts


class Animations(unittest.TestCase):
    def test_both_units_check_clean(self):
        for unit in (1, 2):
            with self.subTest(unit=unit):
                code, out, err = run("lectoria-anim", unit_mounts(unit), "check", "U:\\ANIM")
                self.assertEqual((code, err), (0, ""), out)
                lines = out.splitlines()
                self.assertEqual(lines[0], "size 550x412")
                self.assertEqual(lines[1], "backgrounds 2")
                casts = int(next(l for l in lines if l.startswith("casts ")).split()[1])
                self.assertGreaterEqual(casts, 3)
                score = next(l for l in lines if l.startswith("score "))
                m = re.match(r"score VM02\.00 frames (\d+) length (\d+) ms entries \d+ sections (\d+)\Z",
                             score)
                self.assertIsNotNone(m, score)
                frames = int(m.group(1))
                self.assertEqual(int(m.group(2)), 200 * frames)
                self.assertGreater(int(m.group(3)), 10)
                self.assertEqual(lines[-1], "images %d" % (2 + 5 * casts))

    def test_the_first_scene_shows_at_the_start(self):
        code, out, err = run("lectoria-anim", unit_mounts(1), "frames", "U:\\ANIM", "--at", "0")
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(out.splitlines()[0], "0 frame 0 section 0 background 1")


if __name__ == "__main__":
    unittest.main()

"""A built sound played through the engine's audio path (lectoria-audio):
it plays whole, mono at 22050 Hz."""

import os
import unittest
import wave

from course_support import TempDir, ogg_info, volume_cat
from engine_tools import BUILT, run, unit_mounts


class Sounds(unittest.TestCase):
    def test_a_role_play_line_plays_whole(self):
        samples = ogg_info(volume_cat(os.path.join(BUILT, "data", "unit001"), "/U1RP08.OGG"))[3]
        with TempDir() as temp:
            out = os.path.join(temp, "line.wav")
            code, _, err = run("lectoria-audio", unit_mounts(1), "play", "U:\\U1RP08.OGG", "--wav", out)
            self.assertEqual((code, err), (0, ""))
            with wave.open(out) as w:
                self.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate()), (1, 2, 22050))
                self.assertGreaterEqual(w.getnframes(), samples)


if __name__ == "__main__":
    unittest.main()

"""course/build on copies of the sources: each refusal names its file, line
and reason, exits 1 and leaves OUTDIR as it was; bounds pass at their limit
and fail one past it; builds repeat byte for byte, an unchanged course is up
to date, and a rebuild never touches the learner's files."""

import os
import re
import stat
import struct
import sys
import unittest

from course_support import (TempDir, copy_course, load_builder, run_build, snapshot,
                            tool)


class CourseCopy(unittest.TestCase):
    """A fresh copy of the sources and an OUTDIR holding the learner's files."""

    def setUp(self):
        self.temp = TempDir()
        self.root = self.temp.__enter__()
        self.course = copy_course(self.root)
        self.out = os.path.join(self.root, "program")
        os.makedirs(os.path.join(self.out, "data"))
        os.makedirs(os.path.join(self.out, "userdata", "work", "C001"))
        with open(os.path.join(self.out, "data", "units.alu"), "wb") as f:
            f.write(b"1 0 0 0 0 0 0\r\n")
        with open(os.path.join(self.out, "userdata", "work", "C001", "AUDIT.ALU"), "wb") as f:
            f.write(b"ALUMNOVe1.0    learner")

    def tearDown(self):
        self.temp.__exit__(None, None, None)

    def path(self, rel):
        return os.path.join(self.course, rel)

    def read(self, rel):
        with open(self.path(rel), encoding="utf-8") as f:
            return f.read()

    def write(self, rel, text):
        with open(self.path(rel), "w", encoding="utf-8") as f:
            f.write(text)

    def edit(self, rel, old, new):
        text = self.read(rel)
        self.assertEqual(text.count(old), 1, "%r in %s" % (old, rel))
        self.write(rel, text.replace(old, new))

    def line_of(self, rel, needle):
        text = self.read(rel)
        self.assertIn(needle, text)
        return text[:text.index(needle)].count("\n") + 1

    def append(self, rel, text):
        with open(self.path(rel), "a", encoding="utf-8") as f:
            f.write(text)

    def check(self):
        """The builder's checks on the copy (no build): the course it read."""
        return load_builder(self.course).check_course()

    def refused(self, where, what):
        before = snapshot(self.out)
        code, out, err = run_build(self.course, self.out)
        self.assertEqual(code, 1, out + err)
        self.assertEqual(err, "course/build: %s: %s\n" % (where, what))
        self.assertEqual(snapshot(self.out), before)
        self.assertEqual(sorted(n for n in os.listdir(self.root) if n.startswith(".")), [])


class Refusals(CourseCopy):
    PR = "unit001/CLA001PR.TAE"
    ST = "unit001/CLA001ST.TAE"
    WR = "unit001/CLA001WR.TAE"

    def test_a_tag_of_a_speaking_document_holds_199_characters(self):
        tag = "<BITMAPF:PASSPEAK,0,640,100>"
        line = self.line_of(self.PR, tag)
        at_limit = "<BITMAPF:PASSPEAK,0" + "x" * (199 - len(tag)) + ",640,100>"
        self.assertEqual(len(at_limit), 199)
        self.edit(self.PR, tag, at_limit)
        self.check()
        self.edit(self.PR, at_limit, at_limit[:-1] + "0>")
        self.refused("%s:%d" % (self.PR, line), "<BITMAPF: tag over 199 characters (200)")

    def test_a_parameter_list_holds_255_characters(self):
        tag = "<BITMAPF:LLAVE,0,490,70>"
        line = self.line_of(self.ST, tag)
        params = "LLAVE," + "x" * (255 - len("LLAVE,,490,70")) + ",490,70"
        self.assertEqual(len(params), 255)
        self.edit(self.ST, tag, "<BITMAPF:%s>" % params)
        self.check()
        self.edit(self.ST, params, params.replace("LLAVE,", "LLAVE,x"))
        self.refused("%s:%d" % (self.ST, line), "<BITMAPF: parameters over 255 characters (256)")

    def test_a_less_than_sign_outside_a_tag(self):
        line = self.line_of(self.ST, "Is breakfast included?<SONIDO:1,0>")
        self.edit(self.ST, "Is breakfast included?<SONIDO:1,0>", "Is 2 < 3?<SONIDO:1,0>")
        self.refused("%s:%d" % (self.ST, line), "'<' outside a tag (no keyword after it)")

    def test_an_unknown_keyword(self):
        line = self.line_of(self.ST, "<CURSIVA:1>una reserva")
        self.edit(self.ST, "<CURSIVA:1>una reserva", "<CURSIVAS:1>una reserva")
        self.refused("%s:%d" % (self.ST, line), "'<' outside a tag (unknown keyword 'CURSIVAS')")

    def test_a_nul_character(self):
        line = self.line_of(self.ST, "a double room")
        self.edit(self.ST, "a double room", "a double\0room")
        self.refused("%s:%d" % (self.ST, line), "NUL character")

    def test_a_document_holds_39_page_breaks(self):
        si = "unit001/CLA001SI.TAE"
        self.assertEqual(self.read(si).count("<SALTOPAG:>"), 1)
        self.append(si, "<SALTOPAG:>\n" * 38)
        self.assertEqual(self.check().units[0].docs[0].pages, 40)
        self.append(si, "<SALTOPAG:>\n")
        last = self.read(si).count("\n")
        self.refused("%s:%d" % (si, last), "over 39 page breaks (a document holds 40 pages)")

    def test_a_unit_holds_255_pages(self):
        names = ["unit001/CLA001%s.TAE" % p for p in ("SI", "ST", "DI", "RO", "GR", "WR", "VO", "PR")]
        pages = sum(self.read(n).count("<SALTOPAG:>") + 1 for n in names)
        missing = 255 - pages
        for n in names:
            room = 39 - self.read(n).count("<SALTOPAG:>")
            take = min(room, missing)
            self.append(n, "<SALTOPAG:>\n" * take)
            missing -= take
        self.assertEqual(missing, 0)
        self.assertEqual(self.check().units[0].pages, 255)
        self.append("unit001/CLA001PR.TAE", "<SALTOPAG:>\n")
        self.refused("unit001", "the unit has 256 pages, over 255")

    def add_exercises(self, count):
        lines = ["<SALTOPAG:>"]
        speech = []
        for n in range(1, count + 1):
            lines.append("<EJESCRITO:2,%d,U1X%03d><HUECO:1>word<HUECO:0><EJESCRITO:0>" % (20 + n, n))
            speech.append("U1X%03d | en-gb\n" % n)
        self.append(self.WR, "\n".join(lines) + "\n")
        self.append("unit001/speech.txt", "".join(speech))

    def test_a_page_holds_29_exercises(self):
        self.add_exercises(29)
        self.check()
        self.append(self.WR, "<EJESCRITO:2,50,U1X030><HUECO:1>word<HUECO:0><EJESCRITO:0>\n")
        self.append("unit001/speech.txt", "U1X030 | en-gb\n")
        last = self.read(self.WR).count("\n")
        self.refused("%s:%d" % (self.WR, last), "over 29 exercises on page 3")

    def test_a_page_holds_99_regions(self):
        vo = "unit001/CLA001VO.TAE"
        lines = ["<SALTOPAG:>"]
        for n in range(1, 100):
            lines.append("<SONIDO:2,%d,U1Y%03d>word<SONIDO:2,0>" % (100 + n, n))
            self.append("unit001/speech.txt", "U1Y%03d | en-gb\n" % n)
        self.append(vo, "\n".join(lines) + "\n")
        self.check()
        self.append(vo, "<SONIDO:2,200,U1Y100>word<SONIDO:2,0>\n")
        self.append("unit001/speech.txt", "U1Y100 | en-gb\n")
        last = self.read(vo).count("\n")
        self.refused("%s:%d" % (vo, last), "over 99 hit regions on page 3")

    def test_an_exercise_holds_198_characters(self):
        line = self.line_of(self.WR, "Where is the lift?")
        self.edit(self.WR, "Where is the lift?", "a" * 198)
        self.check()
        self.edit(self.WR, "a" * 198, "a" * 199)
        self.refused("%s:%d" % (self.WR, line), "exercise over 198 characters")

    def test_an_exercise_stays_on_its_line(self):
        line = self.line_of(self.WR, "Where is the lift?")
        self.edit(self.WR, "Where is the lift?", "Where is\nthe lift?")
        self.refused("%s:%d" % (self.WR, line), "the exercise crosses a line end")

    def test_an_empty_gap(self):
        line = self.line_of(self.WR, "<HUECO:1>Where is the lift?<HUECO:0>")
        self.edit(self.WR, "<HUECO:1>Where is the lift?<HUECO:0>", "Where is the lift?<HUECO:1><HUECO:0>")
        self.refused("%s:%d" % (self.WR, line), "an empty gap")

    def test_chino_runs(self):
        vo = "unit002/CLA002VO.TAE"
        line = self.line_of(vo, "<FONT:CHINO>你好")
        for text, where_line, what in (
                ("你\n好", line, "a CHINO run crosses a line end"),
                ("上好", line, "the CHINO run holds the byte 0x0A, a line end"),
                ("不好", line, "the CHINO run holds the byte 0x0D, a CR the reader drops"),
                ("Ā好", line, "the CHINO run holds the byte 0x00, the end of the text"),
                ("\u463c好", line, "the CHINO run holds the bytes '<F', a tag")):
            with self.subTest(text=text):
                self.edit(vo, "<FONT:CHINO>你好", "<FONT:CHINO>" + text)
                self.refused("%s:%d" % (vo, where_line), what)
                self.edit(vo, "<FONT:CHINO>" + text, "<FONT:CHINO>你好")
        self.edit(vo, "<FONT:CHINO>你好<FONT:INTER>", "<FONT:CHINO>你好<SONIDO:2,0><FONT:INTER>")
        self.refused("%s:%d" % (vo, line), "<SONIDO inside a CHINO run (only a FONT tag ends it)")

    def test_unknown_colours_fonts_and_buttons(self):
        gr = "unit001/CLA001GR.TAE"
        for old, new, what in (
                ("<COLOR:AZUL>", "<COLOR:VERDE>", "unknown colour 'VERDE'"),
                ("<COLOR:AZUL>", "<COLORF:MARRONMC>", "unknown background colour 'MARRONMC'"),
                ("<COLOR:AZUL>", "<FONT:ARABE>", "unknown font 'ARABE'"),
                ("<BOTON:1,150,81>", "<BOTON:4,150,81>", "unknown button type 4")):
            with self.subTest(new=new):
                text = self.read(gr)
                self.write(gr, text.replace(old, new, 1))
                line = self.line_of(gr, new)
                self.refused("%s:%d" % (gr, line), what)
                self.write(gr, text)

    def test_a_speaking_point_numbers_up_to_20(self):
        line = self.line_of(self.PR, "<FSPEAK:6>")
        self.edit(self.PR, "<FSPEAK:6>", "<FSPEAK:20>")
        self.check()
        self.edit(self.PR, "<FSPEAK:20>", "<FSPEAK:21>")
        self.refused("%s:%d" % (self.PR, line), "FSPEAK number 21 outside 1 to 20")

    def test_role_play_files(self):
        rlp = "unit002/CLA002.RLP"
        good = self.read(rlp)
        lines = good.split("\n")
        for number, value, what in ((1, "1", "character count 1 outside 2 to 4"),
                                    (1, "5", "character count 5 outside 2 to 4"),
                                    (2, "0", "line count 0 outside 1 to 59"),
                                    (2, "60", "line count 60 outside 1 to 59")):
            with self.subTest(value=value, line=number):
                changed = list(lines)
                changed[number - 1] = value
                self.write(rlp, "\n".join(changed))
                self.refused("%s:%d" % (rlp, number), what)
        row = lines.index("0,2,4,7,") + 1
        for text, what in (("0,2,0,", "line 0 is named twice (also line %d)" % row),
                           ("0,2,9,", "line 9 is past the 9 lines"),
                           ("0,2,4,7,5,", "line 5 is named twice (also line %d)" % (row - 1))):
            with self.subTest(row=text):
                self.write(rlp, good.replace("0,2,4,7,", text))
                self.refused("%s:%d" % (rlp, row), what)
        self.write(rlp, good)

    def test_a_role_play_has_up_to_four_characters(self):
        rlp = "unit002/CLA002.RLP"
        self.edit(rlp, "3\n9\n", "4\n9\n")
        # Tom's second line goes to a fourth character.
        self.edit(rlp, "5,8,\n0,2,4,7,\n", "5,\n0,2,4,7,\n8,\n")
        ro = "unit002/CLA002RO.TAE"
        self.edit(ro, "<BOTON:3,3,420,120>", "<BOTON:3,3,420,120><BOTON:3,4,500,120>")
        self.assertEqual(self.check().units[1].rlp["characters"], 4)

    def test_a_role_play_has_up_to_59_lines(self):
        rlp = "unit001/CLA001.RLP"
        ro = "unit001/CLA001RO.TAE"
        names = ["U1L%02d" % n for n in range(1, 60)]
        self.write(rlp, "2\n59\n255\n" + "\n".join(names) + "\n" +
                   "".join("%d," % n for n in range(0, 59, 2)) + "\n" +
                   "".join("%d," % n for n in range(1, 59, 2)) + "\n")
        text = self.read(ro)
        text = re.sub(r"<ROLPLAY:\d+>", "", text)
        text += "<SALTOPAG:>\n" + "".join("<ROLPLAY:%d>Line %d.\n" % (n, n) for n in range(1, 60))
        self.write(ro, text)
        speech = re.sub(r"U1RP\d\d \|[^\n]*\n", "", self.read("unit001/speech.txt"))
        self.write("unit001/speech.txt", speech + "".join("%s | en-gb\n" % n for n in names))
        self.assertEqual(self.check().units[0].rlp["lines"], 59)

    def test_a_title_holds_299_bytes(self):
        # Line 0 of the subtitle files is the title, never shown in the panel.
        dialogue = "unit001/dialogue.txt"
        line = self.line_of(dialogue, "| En el hotel\n")
        self.edit(dialogue, "| En el hotel\n", "| %s\n" % ("a" * 299))
        self.check()
        self.edit(dialogue, "a" * 299, "a" * 300)
        self.refused("%s:%d" % (dialogue, line), "TRADUC-ES.TXT line 0 is over 299 bytes")

    DIALOGUE = "unit001/dialogue.txt"
    CHECK_IN = "Let me check. / Yes, a single room / for three nights."

    def test_both_texts_of_a_line_have_as_many_pieces(self):
        line = self.line_of(self.DIALOGUE, self.CHECK_IN)
        self.edit(self.DIALOGUE, "Déjeme comprobarlo. /", "Déjeme / comprobarlo. /")
        self.refused("%s:%d" % (self.DIALOGUE, line), "the English text has 3 subtitle pieces "
                     "and the Spanish 4; split both alike with ' / '")
        self.edit(self.DIALOGUE, "Déjeme / comprobarlo. /", "Déjeme comprobarlo. /")
        self.edit(self.DIALOGUE, "Let me check. / Yes,", "Let me check. Yes,")
        self.refused("%s:%d" % (self.DIALOGUE, line), "the English text has 2 subtitle pieces "
                     "and the Spanish 3; split both alike with ' / '")

    def test_a_subtitle_piece_holds_40_characters(self):
        line = self.line_of(self.DIALOGUE, self.CHECK_IN)
        # 40 characters of cp1252, accents one byte each.
        forty = "Sí, una habitación individual, señor: sí"
        self.assertEqual(len(forty.encode("cp1252")), 40)
        self.edit(self.DIALOGUE, "Sí, una habitación individual /", forty + " /")
        self.check()
        english = "Yes, a single room for you, sir, oh yes!"
        self.assertEqual(len(english), 40)
        self.edit(self.DIALOGUE, "Yes, a single room /", english + " /")
        self.check()
        for old, new, what in (
                (forty, forty + "!", "the Spanish subtitle piece '%s!' has 41 characters; the "
                 "subtitle panel shows about 40 (split the text with ' / ')" % forty),
                (english, english + "!", "the English subtitle piece '%s!' has 41 characters; "
                 "the subtitle panel shows about 40 (split the text with ' / ')" % english)):
            with self.subTest(piece=new):
                self.edit(self.DIALOGUE, old, new)
                self.refused("%s:%d" % (self.DIALOGUE, line), what)
                self.edit(self.DIALOGUE, new, old)

    def test_a_subtitle_piece_is_not_empty(self):
        line = self.line_of(self.DIALOGUE, self.CHECK_IN)
        for old, new in ((self.CHECK_IN, "/ " + self.CHECK_IN),
                         ("for three nights.", "for three nights. /"),
                         ("Let me check. /", "Let me check. / /")):
            with self.subTest(new=new):
                text = self.read(self.DIALOGUE)
                self.edit(self.DIALOGUE, old, new)
                self.refused("%s:%d" % (self.DIALOGUE, line), "an empty English subtitle piece "
                             "(a ' / ' with nothing on one side)")
                self.write(self.DIALOGUE, text)

    def write_defanim(self, backgrounds, listings, casts):
        """backgrounds: count; listings: {background: [cast, ...]}; casts:
        {cast: background}. Priorities 1 for the first, 0 for the others."""
        lines = ["[CABECERA]", "version=eVM01.00", "ancho=550", "alto=412", "[FONDOS]",
                 "numfondos=%d" % backgrounds]
        for k in range(1, backgrounds + 1):
            lines += ["fondo=%d" % k, "tipo=PL", "prioridad=%d" % (1 if k == 1 else 0)]
            lines += ["cast=%d" % c for c in listings.get(k, [])] + ["cast=end"]
        lines += ["[CASTS]", "numcasts=%d" % len(casts)]
        for c in sorted(casts):
            lines += ["cast=%d" % c, "cx=0", "cy=0", "ancho=10", "alto=10", "numsprites=5",
                      "idfondo=%d" % casts[c]]
        self.write("unit001/DEFANIM.TXT", "\n".join(lines) + "\n")

    def load_defanim(self):
        return load_builder(self.course).load_defanim(self.path("unit001/DEFANIM.TXT"))

    def defanim_line(self, needle):
        return "unit001/DEFANIM.TXT:%d" % self.line_of("unit001/DEFANIM.TXT", needle)

    def test_animation_backgrounds_up_to_14(self):
        casts = {2: 1, 3: 1, 4: 2, 5: 2}
        listed = {1: [2, 3], 2: [4, 5]}
        self.write_defanim(14, listed, casts)
        self.assertEqual(len(self.load_defanim()["backgrounds"]), 14)
        self.write_defanim(15, listed, casts)
        self.refused(self.defanim_line("numfondos=15"), "numfondos 15 outside 0 to 14")

    def test_animation_casts_up_to_13_a_background(self):
        casts = {2: 1, 3: 1, 4: 2, 5: 2}
        self.write_defanim(2, {1: [2] * 12 + [3], 2: [4, 5]}, casts)
        self.load_defanim()
        self.write_defanim(2, {1: [2] * 13 + [3], 2: [4, 5]}, casts)
        text = self.read("unit001/DEFANIM.TXT")
        line = text.split("\n").index("cast=3") + 1
        self.refused("unit001/DEFANIM.TXT:%d" % line, "over 13 casts in one background")

    def test_animation_casts_up_to_30(self):
        casts = {c: 1 if c <= 14 else 2 if c <= 27 else 3 for c in range(2, 32)}
        listed = {1: list(range(2, 15)), 2: list(range(15, 28)), 3: list(range(28, 32))}
        self.write_defanim(3, listed, casts)
        self.assertEqual(len(self.load_defanim()["casts"]), 30)
        casts[32] = 3
        self.write_defanim(3, listed, casts)
        self.refused(self.defanim_line("numcasts=31"), "numcasts 31 outside 0 to 30")

    def test_animation_images_up_to_499(self):
        # 9 backgrounds and 98 listings of 5 sprites: 9 + 490 images.
        casts = {1 + k: k for k in range(1, 10)}
        counts = [13] * 7 + [6, 1]
        listed = {k: [1 + k] * counts[k - 1] for k in range(1, 10)}
        self.write_defanim(9, listed, casts)
        self.assertEqual(self.load_defanim()["images"], 499)
        self.write_defanim(10, listed, casts)  # one more background: 500
        self.refused("unit001/DEFANIM.TXT", "over 499 images (500)")

    def test_a_dialogue_lasts_up_to_2030_frames(self):
        builder = load_builder(self.course)
        course = builder.check_course()
        unit = course.units[0]
        line = unit.exchanges[0][0]
        unit.exchanges = [[line]]
        frame = 2 * builder.FRAME_SAMPLES
        # Two frames before the line, three after the last of an exchange.
        score, pcm, frames = builder.make_score(unit, [bytes(frame * 2025)])
        self.assertEqual(frames, 2030)
        self.assertEqual(len(pcm), frame * 2030)
        self.assertEqual(len(score), 69030)
        with self.assertRaises(builder.Fault) as fault:
            builder.make_score(unit, [bytes(frame * 2026)])
        self.assertEqual(fault.exception.what, "the dialogue lasts 2031 frames, over 2030")

    def test_a_sound_no_speech_line_makes(self):
        line = self.line_of(self.ST, "<SONIDO:2,5,U1ST05>")
        self.edit("unit001/speech.txt", "U1ST05 | en-gb+f2\n", "")
        self.refused("%s:%d" % (self.ST, line), "no speech line makes the sound U1ST05")

    def test_a_speech_line_no_document_uses(self):
        self.append("unit001/speech.txt", "U1ZZ01 | en-gb | Hello.\n")
        last = self.read("unit001/speech.txt").count("\n")
        self.refused("unit001/speech.txt:%d" % last, "no document uses the sound U1ZZ01")

    def test_a_picture_nothing_draws(self):
        line = self.line_of(self.ST, "<BITMAPF:LLAVE,")
        self.edit(self.ST, "<BITMAPF:LLAVE,", "<BITMAPF:NADA,")
        self.refused("%s:%d" % (self.ST, line), "nothing draws the picture NADA (unit001/skin.draw)")

    def test_a_picture_stays_inside_the_page(self):
        # x counts from the page's margin (44): 44 + 493 + 150 is the last column.
        line = self.line_of(self.ST, "<BITMAPF:LLAVE,0,490,70>")
        for good, bad, what in (("493,70", "494,70", "at 538, 70"), ("490,434", "490,435", "at 534, 435")):
            with self.subTest(bad=bad):
                text = self.read(self.ST)
                self.write(self.ST, text.replace("LLAVE,0,490,70>", "LLAVE,0,%s>" % good))
                self.check()
                self.write(self.ST, text.replace("LLAVE,0,490,70>", "LLAVE,0,%s>" % bad))
                self.refused("%s:%d" % (self.ST, line),
                             "the picture LLAVE (150x100) %s reaches past 687x534" % what)
                self.write(self.ST, text)

    def test_a_character_its_font_cannot_write(self):
        line = self.line_of(self.ST, "<CURSIVA:1>una reserva<CURSIVA:0>")
        self.edit(self.ST, "<CURSIVA:1>una reserva<CURSIVA:0>", "<CURSIVA:1>una reserva Ж<CURSIVA:0>")
        self.refused("%s:%d" % (self.ST, line),
                     "'Ж' cannot be written in the INTER font's code page (cp1252)")

    def test_without_espeak_ng_or_oggenc(self):
        import shutil
        for present, absent in (("oggenc", "espeak-ng"), ("espeak-ng", "oggenc")):
            with self.subTest(absent=absent):
                bin_dir = os.path.join(self.root, "bin-" + absent)
                os.makedirs(bin_dir)
                os.symlink(shutil.which(present), os.path.join(bin_dir, present))
                env = dict(os.environ, PATH=bin_dir)
                before = snapshot(self.out)
                code, out, err = run_build(self.course, self.out, env=env)
                self.assertEqual(code, 1, out + err)
                self.assertEqual(err, "course/build: %s: not found on PATH\n" % absent)
                self.assertEqual(snapshot(self.out), before)


class Dialogue(CourseCopy):
    """A dialogue line split into subtitle pieces: one sound, one section per
    piece, its frames shared by the pieces' lengths."""

    def test_a_split_line_is_one_sound_with_its_sections_in_order(self):
        self.edit("unit001/dialogue.txt", "Good evening. I have a reservation. / My name",
                  "Good evening. / I have a reservation. / My name")
        self.edit("unit001/dialogue.txt", "Buenas noches. Tengo una reserva. / Me llamo",
                  "Buenas noches. / Tengo una reserva. / Me llamo")
        builder = load_builder(self.course)
        course = builder.check_course()
        unit = course.units[0]
        line = unit.exchanges[0][1]
        self.assertEqual(line["english"],
                         "Good evening. I have a reservation. My name is Daniel Ortega.")
        self.assertEqual(line["spanish"],
                         "Buenas noches. Tengo una reserva. Me llamo Daniel Ortega.")
        self.assertEqual([p[0] for p in line["pieces"]],
                         ["Good evening.", "I have a reservation.", "My name is Daniel Ortega."])
        # The voice speaks the whole line, marks taken out, and no sound of
        # the course is spoken with a mark in it.
        key = "speech:en-us+m3|" + line["english"]
        self.assertEqual(course.wavs[key][1], line["english"])
        _, _, sounds = course.wavs["dialogue:unit001"]
        self.assertEqual(len(sounds), sum(len(e) for e in unit.exchanges))
        self.assertEqual(sounds[1], key)
        spoken = [v[1] for v in course.wavs.values() if v[0] not in ("pcm", "dialogue")]
        self.assertFalse([t for t in spoken if builder.SUBTITLE_MARK.search(t)])
        # Each piece a subtitle line after the three pieces of the first line.
        uk = course.stores["unit001"]["ANIM/TRADUC-UK.TXT"][1].split(b"\r\n")
        self.assertEqual(uk[3:6], [b"Good evening.", b"I have a reservation.",
                                   b"My name is Daniel Ortega."])
        # 13 + 21 + 25 characters over 59 frames: 13, 21, 25 frames.
        unit.exchanges = [[line]]
        frame = 2 * builder.FRAME_SAMPLES
        score, pcm, frames = builder.make_score(unit, [bytes(frame * 59 - 100)])
        self.assertEqual(frames, 2 + 59 + 3)
        self.assertEqual(len(pcm), frame * frames)
        sections = struct.unpack("<2030H", score[10 + 32 * 2030:])
        self.assertEqual(list(sections[:frames]),
                         [0, 0] + [1] * 13 + [2] * 21 + [3] * 25 + [0] * 3)
        # The speaker's mouth moves across the whole line, pieces or not.
        mouth = score[10 + 2 * 2030:10 + 3 * 2030]
        self.assertEqual(list(mouth[2:61]), [2, 1] * 29 + [2])

    def test_each_piece_has_a_frame_however_short(self):
        builder = load_builder(self.course)
        self.assertEqual(builder.share_frames(3, [1, 100, 1]), [1, 1, 1])
        self.assertEqual(builder.share_frames(10, [1, 100]), [1, 9])
        self.assertEqual(builder.share_frames(10, [1, 1, 1]), [3, 4, 3])
        # A line spoken in fewer frames than it has pieces gets one frame each.
        unit = builder.check_course().units[0]
        line = unit.exchanges[1][0]
        self.assertEqual(len(line["pieces"]), 3)
        unit.exchanges = [[line]]
        score, _, frames = builder.make_score(unit, [bytes(10)])
        self.assertEqual(frames, 2 + 3 + 3)
        sections = struct.unpack("<2030H", score[10 + 32 * 2030:])
        self.assertEqual(list(sections[:frames]), [0, 0, 1, 2, 3, 0, 0, 0])


class Margins(CourseCopy):
    """The page margin the builder adds to each stored document."""
    ST = "unit001/CLA001ST.TAE"

    def stored(self, text, surface=None):
        builder = load_builder(self.course)
        elements = builder.parse_tae("X.TAE", text)
        margin = builder.PAGE_MARGINS[surface or builder.UNIT_SURFACE]
        return builder.encode_tae("X.TAE", builder.with_margin("X.TAE", elements, margin))

    def test_each_paragraph_starts_at_the_margin_with_its_own_indents(self):
        stops = lambda first, *rest: ",".join(str(v) for v in (first,) + rest + tuple(
            range(60 + 30 * (1 + len(rest)) + 44, 481 + 44, 30)))
        text = ("Title\n"
                "<TABULADOR:0,0,230>a\tb\n"
                "c<TABULADOR:5,10>\n"
                "\n"
                "<BITMAPF:LLAVE,0,10,20><BOTON:3,1,420,80>x<BOTON:8,0,80,1><BOTON:2><SALTOPAG:>y\n"
                "<TABULADOR:0>z")
        self.assertEqual(self.stored(text).decode("ascii"),
                         "<TABULADOR:44,44,%s>Title\r\n" % stops(104) +
                         "<TABULADOR:44,44,%s>a\tb\r\n" % stops(274) +
                         "<TABULADOR:44,44,%s>c\r\n" % stops(274) +
                         "\r\n"
                         "<TABULADOR:49,44,%s><BITMAPF:LLAVE,0,54,20><BOTON:3,1,464,80>x"
                         "<BOTON:8,44,80,1><BOTON:2><SALTOPAG:>" % stops(274) +
                         "<TABULADOR:49,44,%s>y\r\n" % stops(274) +
                         # A TABULADOR at the start: the first-line indent in force.
                         "<TABULADOR:44,54,%s>z" % stops(274))
        # The mini-course's smaller page has a smaller margin.
        builder = load_builder(self.course)
        self.assertTrue(self.stored("m", builder.MINI_SURFACE).startswith(b"<TABULADOR:34,34,94,"))

    def test_a_tabulador_between_texts_is_refused(self):
        line = self.line_of(self.ST, "<CURSIVA:1>una reserva<CURSIVA:0>")
        self.edit(self.ST, "<CURSIVA:1>una reserva<CURSIVA:0>",
                  "<CURSIVA:1>una<TABULADOR:0,0,300> reserva<CURSIVA:0>")
        self.refused("%s:%d" % (self.ST, line),
                     "<TABULADOR: between the texts of a paragraph (it goes at the paragraph's "
                     "start or end, where the page margin is added to it)")


class Builds(CourseCopy):
    SUMMARY = re.compile(r"course: (\d+) units, (\d+) pages, (\d+) files, (\d+) bytes\Z")

    def summary(self, out):
        lines = out.strip().split("\n")
        for stage in lines[:-1]:
            self.assertRegex(stage, r"\Acourse: [a-z]+ \d+\.\d\d s\Z")
        m = self.SUMMARY.match(lines[-1])
        self.assertIsNotNone(m, out)
        return [int(v) for v in m.groups()]

    PROGRAM = ("velarno", "liblectoria.so")

    def built_files(self, folder):
        return {k: v[0] for k, v in snapshot(folder).items()
                if not k.startswith("userdata") and k != os.path.join("data", "units.alu")
                and k not in self.PROGRAM}

    def assert_program(self, folder):
        """The program beside data/: DIR's own files, executable."""
        for name in self.PROGRAM:
            path = os.path.join(folder, name)
            with open(path, "rb") as installed, open(tool(name), "rb") as built:
                self.assertTrue(installed.read() == built.read(), name)
            self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o755, name)

    def test_two_builds_are_the_same_bytes_and_a_third_is_up_to_date(self):
        code, out, err = run_build(self.course, self.out)
        self.assertEqual(code, 0, err)
        units, pages, files, size = self.summary(out)
        self.assertEqual(units, 2)
        self.assertEqual(pages, self.check().pages)
        built = self.built_files(self.out)
        self.assertEqual(files, len(built))
        self.assertEqual(size, sum(len(v) for v in built.values()))
        self.assertLessEqual(size, 5 * 1024 * 1024)
        other = os.path.join(self.root, "other")
        code, out2, err = run_build(self.course, other)
        self.assertEqual(code, 0, err)
        self.assertEqual(self.built_files(other), built)
        self.assert_program(self.out)
        self.assert_program(other)
        before = snapshot(self.out)
        code, out3, err = run_build(self.course, self.out)
        self.assertEqual((code, out3, err), (0, "course: up to date\n", ""))
        self.assertEqual(snapshot(self.out), before)

        # A program that differs from DIR's (an older build) is copied again,
        # without rebuilding the data.
        with open(os.path.join(self.out, "velarno"), "wb") as f:
            f.write(b"an older build")
        os.chmod(os.path.join(self.out, "velarno"), 0o700)
        code, out4, err = run_build(self.course, self.out)
        self.assertEqual((code, out4, err),
                         (0, "course: program velarno copied\ncourse: up to date\n", ""))
        self.assert_program(self.out)
        after = snapshot(self.out)
        for path in built:
            self.assertEqual(after[path], before[path], path)

    def test_the_program_is_needed_beside_the_tools(self):
        tools = os.path.join(self.root, "tools")
        os.makedirs(tools)
        for name in os.listdir(tool("")):
            if name != "liblectoria.so":
                os.symlink(tool(name), os.path.join(tools, name))
        before = snapshot(self.out)
        code, out, err = run_build(self.course, self.out, tools=tools)
        self.assertEqual(code, 1, out + err)
        self.assertEqual(err, "course/build: liblectoria.so: not found in %s (build the "
                              "project, or give --tools)\n" % tools)
        self.assertEqual(snapshot(self.out), before)

    def test_a_rebuild_keeps_the_learners_files(self):
        learner = {k: v for k, v in snapshot(self.out).items()}
        code, out, err = run_build(self.course, self.out)
        self.assertEqual(code, 0, err)
        self.assertTrue(os.path.exists(os.path.join(self.out, "data", "unit002.DAT")))
        # The course loses its second unit: the rebuild removes what it made
        # for it and nothing of the learner's.
        import shutil
        shutil.rmtree(self.path("unit002"))
        self.edit("packs/unit_text.txt", "Shopping for clothes\n", "")
        text = self.read("packs/skin0.draw")
        start = text.index("picture imgc002.bmp")
        self.write("packs/skin0.draw", text[:start] + text[text.index("picture level0.bmp"):])
        code, out, err = run_build(self.course, self.out)
        self.assertEqual(code, 0, err)
        self.assertEqual(self.summary(out)[:2], [1, self.check().pages])
        self.assertFalse(os.path.exists(os.path.join(self.out, "data", "unit002.DAT")))
        self.assertFalse(os.path.exists(os.path.join(self.out, "data", "unit002.FAT")))
        now = snapshot(self.out)
        for path, (data, mtime) in learner.items():
            self.assertEqual(now[path], (data, mtime), path)


if __name__ == "__main__":
    unittest.main()

"""The built sample course (one build, made as a test fixture): the program
folder holds exactly its inventory; every store holds what its documents
name in the formats the engine and the host read; the animations are real
(two scenes, mirrored strips, a speaker's mouth that moves with its line)."""

import os
import re
import struct
import subprocess
import unittest
import zlib

from course_support import (BUILT, SOURCE, load_builder, ogg_info, png_info, png_rows, tool,
                            volume_cat, volume_files)

DATA = os.path.join(BUILT, "data")
VOLUMES = {"common": "data/common", "mcd01": "data/mcd01", "unit001": "data/unit001",
           "unit002": "data/unit002", "minicourse": "data/minicourse",
           "glossary": "data/ehddservers/GLOSSARY10/GLOSSARY10"}
LETTERS = {"common": "X:", "mcd01": "M:", "unit001": "U:", "unit002": "U:",
           "minicourse": "Y:", "glossary": "G:"}
NAME = re.compile(r"[A-Z0-9]{1,12}\Z")


def prefix(store):
    return os.path.join(BUILT, VOLUMES[store])


def pack_members(pack):
    listing = subprocess.run([tool("velarno-pack"), "list", os.path.join(DATA, pack)],
                             capture_output=True, text=True, check=True).stdout
    return {line.split(" ", 1)[1]: int(line.split(" ", 1)[0]) for line in listing.splitlines()}


def pack_member(pack, member):
    return subprocess.run([tool("velarno-pack"), "cat", os.path.join(DATA, pack), member],
                          capture_output=True, check=True).stdout


def bmp_info(data):
    width, height = struct.unpack("<ii", data[18:26])
    bits, compression = struct.unpack("<HI", data[28:34])
    return width, height, bits, compression


class ProgramFolder(unittest.TestCase):
    def test_holds_exactly_its_inventory(self):
        files = set()
        for root, _, names in os.walk(BUILT):
            for n in names:
                files.add(os.path.relpath(os.path.join(root, n), BUILT).replace(os.sep, "/"))
        want = {"course.stamp", "data/skin.dat", "data/skin.fat", "data/skin0.fat",
                "data/skin0.dat", "data/abk.DAT", "data/doc/st.htm", "data/doc/bienvenida.png"}
        for path in VOLUMES.values():
            want |= {path + ".FAT", path + ".DAT"}
        program = {"velarno", "liblectoria.so"}  # a whole installation
        self.assertEqual(files, want | program)
        self.assertLessEqual(sum(os.path.getsize(os.path.join(BUILT, f)) for f in want),
                             5 * 1024 * 1024)

    def test_the_stamp_lists_every_other_file(self):
        with open(os.path.join(BUILT, "course.stamp"), encoding="utf-8") as f:
            lines = f.read().splitlines()
        self.assertRegex(lines[0], r"\Adigest [0-9a-f]{64}\Z")
        listed = {}
        for line in lines[1:]:
            _, size, path = line.split(" ", 2)
            listed[path] = int(size)
        for path, size in listed.items():
            self.assertEqual(os.path.getsize(os.path.join(BUILT, path)), size, path)
        self.assertNotIn("course.stamp", listed)

    def test_pages(self):
        with open(os.path.join(DATA, "abk.DAT"), "rb") as f:
            blank = f.read()
        self.assertRegex(blank, rb"<body>\s*</body>")
        self.assertNotIn(b"\n", blank.replace(b"\r\n", b""))
        with open(os.path.join(DATA, "doc", "st.htm"), "rb") as f:
            start = f.read()
        text = start.decode("cp1252")
        self.assertIn("charset=windows-1252", text)
        self.assertIn("Bienvenido", text)
        for picture in re.findall(r'src="([^"]+)"', text):
            with open(os.path.join(DATA, "doc", picture), "rb") as f:
                self.assertEqual(png_info(f.read())[2:4], (8, 2))


class Stores(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.files = {store: volume_files(prefix(store)) for store in VOLUMES}

    def test_common_skin(self):
        builder = load_builder(SOURCE)
        want = {"/HDD/DATOS/SKIN/COMUN/" + n.upper() for n in builder.SKIN_SIZES}
        self.assertEqual(set(self.files["common"]), want)
        self.assertEqual(len(want), 40)
        for name, (w, h) in builder.SKIN_SIZES.items():
            data = volume_cat(prefix("common"), "/HDD/DATOS/SKIN/COMUN/" + name.upper())
            self.assertEqual(png_info(data)[:2], (w, h), name)

    def test_block_sizes(self):
        for store, size in (("common", 1024), ("glossary", 1024)):
            with open(prefix(store) + ".FAT", "rb") as f:
                fat = f.read()
            length = struct.unpack("<I", fat[8:12])[0]
            self.assertEqual(struct.unpack("<I", fat[12 + length:16 + length])[0], size, store)

    def test_multimedia_store(self):
        files = self.files["mcd01"]
        pictures = {p for p in files if p.startswith("/DATOS/SKIN/CLASES/")}
        self.assertEqual(pictures, {"/DATOS/SKIN/CLASES/%s.PNG" % n
                                    for n in ("PORT001A", "PORT002A", "LLAVE", "TIENDA")})
        for cover in ("PORT001A", "PORT002A"):
            data = volume_cat(prefix("mcd01"), "/DATOS/SKIN/CLASES/%s.PNG" % cover)
            self.assertEqual(png_info(data)[:2], (687, 534))
        audio = {p for p in files if p.startswith("/AUDIO/")}
        self.assertIn("/AUDIO/VACIO.OGG", audio)
        self.assertEqual(set(files), pictures | audio)
        silence = ogg_info(volume_cat(prefix("mcd01"), "/AUDIO/VACIO.OGG"))
        self.assertEqual(silence[3], 2 * 22050)

    def test_unit_stores(self):
        for number in (1, 2):
            store = "unit%03d" % number
            files = self.files[store]
            docs = {"/CLA%03d%s.TAE" % (number, p) for p in ("SI", "ST", "DI", "RO", "GR", "WR",
                                                            "VO", "PR")}
            self.assertTrue(docs <= set(files))
            self.assertIn("/CLA%03d.RLP" % number, files)
            anim = {p for p in files if p.startswith("/ANIM/")}
            for name in ("DEFANIM.TXT", "SCORE.VM", "JUMPS.TXT", "FONDO1.PNG", "FONDO2.PNG",
                         "DIALOGO.OGG", "TRADUC-UK.TXT", "TRADUC-ES.TXT"):
                self.assertIn("/ANIM/" + name, anim)
            rest = set(files) - docs - anim - {"/CLA%03d.RLP" % number}
            self.assertTrue(rest and all(p.endswith(".OGG") for p in rest), rest)

    def test_sound_names_and_streams(self):
        for store, files in self.files.items():
            for path in files:
                if not path.endswith(".OGG"):
                    continue
                stem = path.rsplit("/", 1)[1][:-4]
                if stem != "DIALOGO":
                    self.assertRegex(stem, NAME, path)
                data = volume_cat(prefix(store), path)
                serials, channels, rate, samples = ogg_info(data)
                virtual = LETTERS[store] + path.replace("/", "\\")
                self.assertEqual(serials, [zlib.crc32(virtual.encode())], path)
                self.assertEqual((channels, rate), (1, 22050), path)
                self.assertGreater(samples, 0, path)

    def test_pictures_are_eight_bit_rgb(self):
        for store, files in self.files.items():
            for path in files:
                if path.endswith(".PNG"):
                    w, h, depth, colour, chunks = png_info(volume_cat(prefix(store), path))
                    self.assertEqual((depth, colour), (8, 2), path)
                    self.assertFalse({"tRNS", "tIME"} & set(chunks), path)

    def test_texts_are_cr_lf(self):
        for store, files in self.files.items():
            for path in files:
                if path.endswith((".TAE", ".RLP", ".TXT")):
                    data = volume_cat(prefix(store), path)
                    if b"<FONT:CHINO>" not in data:
                        self.assertNotIn(b"\n", data.replace(b"\r\n", b""), path)
                    self.assertTrue(data.endswith(b"\r\n"), path)

    def test_fonts_write_their_code_pages(self):
        vo = volume_cat(prefix("unit002"), "/CLA002VO.TAE")
        for word, codec in (("Здравствуйте", "cp1251"), ("Dzień dobry", "cp1250"),
                            ("Merhaba, nasılsınız?", "cp1254"), ("你好", "utf-16-le")):
            self.assertIn(word.encode(codec), vo)
        self.assertIn("¿Qué talla usa?".encode("cp1252"),
                      volume_cat(prefix("unit002"), "/CLA002SI.TAE"))

    def test_mini_course_and_glossary(self):
        mini = self.files["minicourse"]
        self.assertIn("/MC001.TAE", mini)
        self.assertTrue(any(p.startswith("/DATOS/SKIN/MC/") for p in mini))
        self.assertTrue(any(p.startswith("/AUDIO/") for p in mini))
        glossary = self.files["glossary"]
        self.assertGreaterEqual(len([p for p in glossary if p.startswith("/GLO00/W00")]), 10)
        self.assertIn("/GLO01/W00738.OGG", glossary)
        for path in glossary:
            number = int(path[-9:-4])
            self.assertEqual(path[:7], "/GLO00/" if number <= 737 else "/GLO01/", path)


class Animations(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.units = {u.number: u for u in load_builder(SOURCE).check_course().units}

    def anim(self, number, name):
        return volume_cat(prefix("unit%03d" % number), "/ANIM/" + name)

    def description(self, number):
        text = self.anim(number, "DEFANIM.TXT").decode("cp1252")
        backgrounds, casts, current = {}, {}, None
        block = None
        for line in text.split("\r\n"):
            if line.startswith("["):
                block = line
                continue
            if "=" not in line:
                continue
            key, value = line.split("=", 1)
            if block == "[FONDOS]" and key == "fondo":
                current = backgrounds.setdefault(int(value), {"casts": []})
            elif block == "[FONDOS]" and key == "prioridad":
                current["priority"] = int(value)
            elif block == "[FONDOS]" and key == "cast" and value != "end":
                current["casts"].append(int(value))
            elif block == "[CASTS]" and key == "cast":
                current = casts.setdefault(int(value), {})
            elif block == "[CASTS]":
                current[key] = int(value)
        return backgrounds, casts

    def score(self, number):
        data = self.anim(number, "SCORE.VM")
        self.assertEqual(len(data), 69030)
        self.assertEqual(data[:8], b"VM02.00\0")
        frames = struct.unpack("<H", data[8:10])[0]
        tracks = [data[10 + t * 2030:10 + (t + 1) * 2030] for t in range(32)]
        sections = struct.unpack("<2030H", data[10 + 32 * 2030:])
        return frames, tracks, sections

    def test_two_scenes_and_three_casts_or_more(self):
        for number in (1, 2):
            backgrounds, casts = self.description(number)
            self.assertEqual(sorted(b["priority"] for b in backgrounds.values()), [0, 1])
            self.assertGreaterEqual(len(casts), 3)
            for k in backgrounds:
                w, h = png_info(self.anim(number, "FONDO%d.PNG" % k))[:2]
                self.assertEqual((w, h), (550, 412))

    def test_strips_are_five_mirrored_cells(self):
        for number in (1, 2):
            _, casts = self.description(number)
            for c, cast in casts.items():
                name = "CAST%d_%02d_05.PNG" % (cast["idfondo"], c)
                data = self.anim(number, name)
                self.assertEqual(png_info(data)[:2], (5 * cast["ancho"], cast["alto"]), name)
                rows = png_rows(data)
                w = 3 * cast["ancho"]
                cell = lambda k: [r[k * w:(k + 1) * w] for r in rows]
                self.assertEqual(cell(0), cell(4), name)
                self.assertEqual(cell(1), cell(3), name)
                self.assertNotEqual(cell(0), cell(1), name)  # the mouth opens
                self.assertNotEqual(cell(0), cell(2), name)  # the eyes close

    def test_scores_follow_the_dialogue(self):
        for number in (1, 2):
            backgrounds, casts = self.description(number)
            frames, tracks, sections = self.score(number)
            self.assertLessEqual(frames, 2030)
            self.assertEqual(set(tracks[0][frames:]), {0})
            changes = [(f, b) for f, b in enumerate(tracks[0][:frames]) if b]
            self.assertEqual(changes[0][0], 0)
            self.assertEqual(len(changes), 2, "one scene change")
            self.assertEqual(backgrounds[changes[0][1]]["priority"], 1)
            shown = None
            # A line is a run of frames with sections, the silence after it
            # has none; its sections are its subtitle pieces.
            lines = []
            for f in range(frames):
                shown = tracks[0][f] or shown
                if sections[f] and (f == 0 or not sections[f - 1]):
                    lines.append({"sections": [], "speakers": set()})
                for c, cast in casts.items():
                    sprite = tracks[c - 1][f]
                    if cast["idfondo"] != shown:
                        self.assertEqual(sprite, 0, (number, c, f))
                    else:
                        self.assertIn(sprite, (1, 2, 3), (number, c, f))
                    if sections[f] and sprite == 2:
                        lines[-1]["speakers"].add(c)
                if sections[f]:
                    lines[-1]["sections"].append(sections[f])
            source = [l for exchange in self.units[number].exchanges for l in exchange]
            self.assertEqual(len(lines), len(source))
            # The sections run 1, 2, ... in order, a piece's frames together.
            runs = [s for line in lines for k, s in enumerate(line["sections"])
                    if k == 0 or line["sections"][k - 1] != s]
            self.assertEqual(runs, list(range(1, len(runs) + 1)))
            self.assertEqual(set(sections[frames:]), {0})
            for line, want in zip(lines, source):
                self.assertEqual(len(set(line["sections"])), len(want["pieces"]), want["where"])
                # One speaker, the line's cast, whose mouth opens and closes.
                self.assertEqual(line["speakers"], {want["cast"]}, want["where"])
            self.assertGreater(len(runs), len(source), "some lines are split")
            ogg = ogg_info(self.anim(number, "DIALOGO.OGG"))
            self.assertEqual(ogg[1:3], (1, 22050))
            self.assertGreaterEqual(ogg[3], frames * 4410)

    def test_subtitles_and_jumps(self):
        for number in (1, 2):
            frames, _, sections = self.score(number)
            count = max(sections)
            unit = self.units[number]
            pieces = [p for exchange in unit.exchanges for l in exchange for p in l["pieces"]]
            self.assertEqual(len(pieces), count)
            for name, language in (("TRADUC-UK.TXT", 0), ("TRADUC-ES.TXT", 1)):
                text = self.anim(number, name).split(b"\r\n")[:-1]
                self.assertEqual(len(text), count + 1, name)
                self.assertEqual(text[0], unit.title[language].encode("cp1252"))
                # Each shown line fits the subtitle panel's 40 characters.
                self.assertEqual(text[1:], [p[language].encode("cp1252") for p in pieces])
                self.assertTrue(all(0 < len(t) <= 40 for t in text[1:]), name)
                self.assertFalse([t for t in text if b" / " in t], name)
            # A recap restarts at the first piece of an exchange.
            jumps = [int(j) for j in self.anim(number, "JUMPS.TXT").split(b"\r\n")[:-1]]
            starts = [1]
            for exchange in unit.exchanges[:-1]:
                starts.append(starts[-1] + sum(len(l["pieces"]) for l in exchange))
            self.assertEqual(jumps, starts)
            self.assertEqual(jumps, sorted(set(jumps)))
            self.assertTrue(all(1 <= j <= count for j in jumps))

    def test_the_units_differ(self):
        for name in ("FONDO1.PNG", "FONDO2.PNG", "TRADUC-UK.TXT", "TRADUC-ES.TXT",
                     "DIALOGO.OGG", "SCORE.VM"):
            self.assertNotEqual(self.anim(1, name), self.anim(2, name), name)
        self.assertNotEqual(self.anim(1, "FONDO1.PNG"), self.anim(2, "FONDO2.PNG"))


class Packs(unittest.TestCase):
    def trailer(self, pack):
        with open(os.path.join(DATA, pack), "rb") as f:
            data = f.read()
        return data, data[-8:-5], struct.unpack("<I", data[-4:])[0]

    def test_layouts(self):
        for pack in ("skin.dat", "skin0.dat"):
            data, magic, base = self.trailer(pack)
            self.assertEqual((magic, base), (b"QOR", 1024), pack)
            self.assertEqual(data[1024:1026], b"PK")
        for pack in ("skin.fat", "skin0.fat"):
            data, magic, _ = self.trailer(pack)
            self.assertEqual(data[:2], b"PK")
            self.assertNotEqual(magic, b"QOR")

    def test_pictures(self):
        members = pack_members("skin.dat")
        self.assertEqual(len(members), 7)
        for member in members:
            w, h, bits, compression = bmp_info(pack_member("skin.dat", member))
            self.assertEqual((bits, compression), (24, 0))
            self.assertEqual((w, h), (88, 88) if member == "tip-1-fr_1.bmp" else (687, 40))
        members = pack_members("skin0.dat")
        self.assertEqual(set(members), {"imgc001.bmp", "imgc002.bmp"} |
                         {"level%d.bmp" % n for n in range(6)})
        for member in members:
            w, h, bits, compression = bmp_info(pack_member("skin0.dat", member))
            self.assertEqual((bits, compression), (24, 0))
            self.assertEqual((w, h), (120, 74) if member.startswith("imgc") else (91, 534))

    def test_texts(self):
        texts = pack_member("skin.fat", "texts.txt").split(b"\r\n")
        self.assertEqual(texts[-1], b"")
        self.assertEqual(len(texts) - 1, 19)
        self.assertEqual(texts[12], b"userdata")
        links = pack_member("skin.fat", "links.txt").split(b"\r\n")[:-1]
        self.assertEqual(len(links), 7)
        for link in links:
            self.assertRegex(link.decode(), r"\Ahttps://(www\.)?example\.org(/|\Z)")
        help_text = pack_member("skin.fat", "help.txt").decode("cp1252")
        self.assertTrue(all(line.endswith(">") for line in help_text.split("\r\n")[:-1]))
        self.assertTrue(help_text.startswith("<body"))
        titles = pack_member("skin0.fat", "unit_text.txt").split(b"\r\n")[:-1]
        self.assertEqual(titles, [b"At the hotel", b"Shopping for clothes"])
        self.assertTrue(all(len(t) <= 34 for t in titles))


if __name__ == "__main__":
    unittest.main()

// The built sample course through the engine's and the host's own readers:
// every member of every store opens by its virtual path with the session's
// mounts and reads whole, every picture decodes at its size, every sound is
// one mono 22050 Hz Vorbis stream, and the packs serve the host under their
// aliases.
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <QImage>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "base/TGestorGDI.h"
#include "ehdd/TEHDDClient.h"
#include "ehdd/TVolumen.h"
#include "host/qorFileManager.h"
#include "host/qorTexts.h"

namespace {

const std::string kBuilt = COURSE_BUILT_DIR;

struct Store {
  char letter;
  const char* name;  // as the session mounts it
  const char* prefix;
};

// The stores of a study session of unit N (the multimedia store of units 1
// to 12, the mini-course beside it, the fixed glossary).
std::vector<Store> Stores(int unit) {
  static const char* const kUnits[] = {"", "data\\unit001.dat", "data\\unit002.dat"};
  static const char* const kPrefixes[] = {"", "data/unit001", "data/unit002"};
  return {{'X', "data\\common.dat", "data/common"},
          {'M', "data\\mcd01.dat", "data/mcd01"},
          {'U', kUnits[unit], kPrefixes[unit]},
          {'Y', "data\\minicourse.dat", "data/minicourse"},
          {'G', "data\\ehddservers\\GLOSSARY10\\GLOSSARY10.DAT",
           "data/ehddservers/GLOSSARY10/GLOSSARY10"}};
}

// Every file of a volume: inner path with '/' and size.
void ListVolume(TVolumen& volume, const std::string& folder, std::map<std::string, uint32_t>& out) {
  uint32_t block = 0;
  ASSERT_TRUE(volume.BuscarDirectorio(folder, &block)) << folder;
  std::vector<TEntradaDirectorio> entries;
  ASSERT_TRUE(volume.Listar(block, "full", entries)) << folder;
  for (const auto& e : entries) {
    const std::string path = (folder == "/" ? "" : folder) + "/" + e.nombre;
    if (e.tipo == 1) {
      ListVolume(volume, path, out);
    } else {
      out[path] = e.size;
    }
  }
}

std::string Virtual(char letter, const std::string& inner) {
  std::string path = std::string(1, letter) + ":" + inner;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

class CourseContent : public testing::Test {
 protected:
  // The session's mounts in local mode, rooted at the program folder.
  void MountUnit(int unit) {
    client_.SetLocalRoot(kBuilt + "/");
    for (const Store& s : Stores(unit)) {
      client_.AddLocalLetter(s.letter, s.name);
      client_.AddMount(s.name, s.letter);
    }
    client_.AddLocalLetter('S', "userdata\\work");
    client_.Mount("userdata\\work", 'S');
  }

  // The whole file through the file interface, in 50,000-byte reads.
  bool ReadWhole(const std::string& path, std::vector<unsigned char>& bytes) {
    TFicheroEHDD* file = client_.Abrir(path.c_str(), 0);
    if (file == nullptr) return false;
    uint32_t length = 0;
    uint32_t remaining = 0;
    client_.Size(file, length, remaining);
    bytes.assign(length, 0);
    uint32_t done = 0;
    while (done < length) {
      const uint32_t got =
          client_.Leer(bytes.data() + done, 1, std::min(50000u, length - done), file);
      if (got == 0) break;
      done += got;
    }
    client_.Cerrar(file);
    return done == length;
  }

  TEHDDClient client_;
  TGestorGDI gdi_;
  TGestorBMP bmp_{nullptr, &gdi_, &client_};
};

// The size of each picture the engine reads by name.
std::map<std::string, std::pair<uint32_t, uint32_t>> KnownSizes() {
  std::map<std::string, std::pair<uint32_t, uint32_t>> sizes;
  auto states = [&sizes](const std::string& stem, const std::string& suffixes, uint32_t w,
                         uint32_t h) {
    if (suffixes.empty()) sizes[stem + ".PNG"] = {w, h};
    for (char s : suffixes) sizes[stem + s + ".PNG"] = {w, h};
  };
  for (const char* icon : {"GGRA04", "ALT04", "MIC01", "MIC04"}) states(icon, "", 32, 32);
  states("BTNDIF1", "NMP", 64, 20);
  states("BTNDIF2", "NMP", 64, 20);
  states("BTNSOL", "NMP", 70, 18);
  for (const char* b : {"BTNPLAY", "BTNSTOP", "BTNREC", "BTNSUBT"}) states(b, "NMPD", 20, 20);
  states("BTNPLDI", "NMPD", 22, 18);
  states("BOXDIMN", "", 24, 20);
  states("BOXDIFN", "", 24, 20);
  states("PUNTAN", "", 7, 12);
  states("FONTHUMB", "", 425, 16);
  states("FONCONAN", "", 124, 24);
  states("SIGBIEN", "", 16, 16);
  states("SIGMAL", "", 16, 16);
  sizes["PORT001A.PNG"] = {687, 534};
  sizes["PORT002A.PNG"] = {687, 534};
  sizes["FONDO1.PNG"] = {550, 412};
  sizes["FONDO2.PNG"] = {550, 412};
  return sizes;
}

// Cast strips by the description: five cells of the cast's width.
std::map<std::string, std::pair<uint32_t, uint32_t>> StripSizes(const std::string& defanim) {
  std::map<std::string, std::pair<uint32_t, uint32_t>> sizes;
  const size_t casts = defanim.find("[CASTS]");
  size_t at = defanim.find("\r\ncast=", casts);
  while (at != std::string::npos) {
    auto value = [&](const char* key) {
      const size_t k = defanim.find(std::string("\r\n") + key + "=", at + 2);
      return static_cast<uint32_t>(std::atoi(defanim.c_str() + k + std::strlen(key) + 3));
    };
    const uint32_t cast = static_cast<uint32_t>(std::atoi(defanim.c_str() + at + 7));
    char name[32];
    std::snprintf(name, sizeof name, "CAST%u_%02u_%02u.PNG", value("idfondo"), cast,
                  value("numsprites"));
    sizes[name] = {value("ancho") * value("numsprites"), value("alto")};
    at = defanim.find("\r\ncast=", at + 2);
  }
  return sizes;
}

struct Memory {
  const std::vector<unsigned char>* bytes;
  size_t at = 0;
};

size_t MemoryRead(void* ptr, size_t size, size_t count, void* source) {
  auto* m = static_cast<Memory*>(source);
  const size_t n = std::min(size * count, m->bytes->size() - m->at);
  std::memcpy(ptr, m->bytes->data() + m->at, n);
  m->at += n;
  return size == 0 ? 0 : n / size;
}

TEST_F(CourseContent, EveryMemberOpensThroughTheMountsAndDecodes) {
  for (int unit : {1, 2}) {
    SCOPED_TRACE("unit " + std::to_string(unit));
    MountUnit(unit);
    auto sizes = KnownSizes();
    std::vector<unsigned char> defanim;
    ASSERT_TRUE(ReadWhole("U:\\ANIM\\DEFANIM.TXT", defanim));
    for (const auto& [name, size] : StripSizes(std::string(defanim.begin(), defanim.end()))) {
      sizes[name] = size;
    }
    int pictures = 0;
    int sounds = 0;
    for (const Store& store : Stores(unit)) {
      TVolumen volume;
      ASSERT_TRUE(volume.Abrir(kBuilt + "/" + store.prefix)) << store.prefix;
      std::map<std::string, uint32_t> files;
      ListVolume(volume, "/", files);
      ASSERT_FALSE(files.empty());
      for (const auto& [inner, length] : files) {
        const std::string path = Virtual(store.letter, inner);
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(ReadWhole(path, bytes)) << path;
        EXPECT_EQ(bytes.size(), length) << path;
        const std::string name = inner.substr(inner.rfind('/') + 1);
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".PNG") == 0) {
          uint32_t w = 0;
          uint32_t h = 0;
          uint8_t* rgb = bmp_.LeerPNGToMemoryRGB(path.c_str(), &w, &h);
          EXPECT_NE(rgb, nullptr) << path;
          OSAL::Free(rgb);
          auto known = sizes.find(name);
          if (known != sizes.end()) {
            EXPECT_EQ(std::make_pair(w, h), known->second) << path;
          } else {
            // Page pictures: inside the page they are shown on.
            EXPECT_TRUE(w > 0 && h > 0 && w <= 687 && h <= 534) << path;
          }
          ++pictures;
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".OGG") == 0) {
          Memory memory{&bytes};
          OggVorbis_File vf;
          ov_callbacks callbacks{MemoryRead, nullptr, nullptr, nullptr};
          ASSERT_EQ(ov_open_callbacks(&memory, &vf, nullptr, 0, callbacks), 0) << path;
          EXPECT_EQ(ov_streams(&vf), 1) << path;
          vorbis_info* info = ov_info(&vf, -1);
          ASSERT_NE(info, nullptr);
          EXPECT_EQ(info->channels, 1) << path;
          EXPECT_EQ(info->rate, 22050) << path;
          ov_clear(&vf);
          ++sounds;
        }
      }
    }
    EXPECT_GT(pictures, 40);
    EXPECT_GT(sounds, 50);
  }
}

TEST_F(CourseContent, ThePacksServeTheHostUnderTheirAliases) {
  qorFileManager* files = qorFileManager::Instance();
  ASSERT_TRUE(files->OpenArchive("IMAGE", kBuilt + "/data/skin.dat"));
  ASSERT_TRUE(files->SelectArchive("IMAGE"));
  files->SetAlias("0", "IMAGE");
  ASSERT_TRUE(files->OpenArchive("TEXT", kBuilt + "/data/skin.fat"));
  files->SetAlias("1", "TEXT");
  ASSERT_TRUE(files->OpenArchive("TXT", kBuilt + "/data/skin0.fat"));
  files->SetAlias("2", "TXT");
  ASSERT_TRUE(files->OpenArchive("BMP", kBuilt + "/data/skin0.dat"));
  files->SetAlias("3", "BMP");

  LoadHostTexts();
  ASSERT_TRUE(TextsLoaded());
  EXPECT_EQ(MainText(12), "userdata");  // the learner's folder
  EXPECT_EQ(MainText(6), "Inicio");
  EXPECT_EQ(MainText(18), "Conoce en profundidad este nivel");
  for (unsigned level = 0; level < 6; ++level) {
    EXPECT_EQ(LinkText(level + 1).rfind("https://www.example.org/", 0), 0u) << level;
  }
  auto titles = LoadPackMember("2:unit_text.txt");
  ASSERT_TRUE(titles.has_value());
  EXPECT_EQ(SplitLines(std::string(titles->begin(), titles->end())),
            (std::vector<std::string>{"At the hotel", "Shopping for clothes"}));
  auto help = LoadPackMember("1:help.txt");
  ASSERT_TRUE(help.has_value());

  struct Picture {
    const char* member;
    int w, h;
  } pictures[] = {{"0:tip-1-fr_1.bmp", 88, 88},
                  {"0:tip-situation-fr_1.bmp", 687, 40},
                  {"0:tip-dictation-fr_1.bmp", 687, 40},
                  {"0:tip-study-grammar-newwords-fr_1.bmp", 687, 40},
                  {"0:tip-roleplay-fr_1.bmp", 687, 40},
                  {"0:tip-writing-fr_1.bmp", 687, 40},
                  {"0:tip-speaking-fr_1.bmp", 687, 40},
                  {"3:imgc001.bmp", 120, 74},
                  {"3:imgc002.bmp", 120, 74},
                  {"3:level0.bmp", 91, 534},
                  {"3:level5.bmp", 91, 534}};
  for (const auto& p : pictures) {
    QImage image;
    LoadPackBitmap(p.member, image);
    EXPECT_EQ(image.width(), p.w) << p.member;
    EXPECT_EQ(image.height(), p.h) << p.member;
  }
  ForgetHostTexts();
  qorFileManager::Release();
}

}  // namespace

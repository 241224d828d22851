#include "ProgramFolder.h"

#include <QImage>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

void Run(const std::string& command) {
  if (std::system((command + " > /dev/null").c_str()) != 0)
    throw std::runtime_error("failed: " + command);
}

std::string Tool(const char* name) {
  return std::string(LECTORIA_BIN_DIR) + "/" + name;
}

void Bitmap(const fs::path& path, QColor colour, int w = 24, int h = 15) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(colour);
  if (!image.save(QString::fromStdString(path.string()), "BMP"))
    throw std::runtime_error("cannot write " + path.string());
}

void Pack(const fs::path& source, const fs::path& out) {
  Run(Tool("velarno-pack") + " build '" + out.string() + "' '" + source.string() + "'");
}

std::string Unit(const char* pattern, int n) {
  char name[64];
  std::snprintf(name, sizeof(name), pattern, n);
  return name;
}

}  // namespace

QColor TileColour(int n) {
  return QColor(40 + n, 200 - n, (n * 37) % 256);
}
QColor LevelPictureColour(int level) {
  return QColor(10 + 40 * level, 90, 30);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string MakeProgramFolder(const FolderOptions& o, const fs::path& root) {
  const fs::path folder = root / "program";
  const fs::path data = folder / "data";
  const fs::path sources = root / "sources";
  fs::create_directories(data);

  if (o.texts_pack) {
    std::string texts = o.texts;
    if (texts.empty()) {
      for (int i = 0; i < 19; ++i) texts += "Texto " + std::to_string(i) + "\r\n";
    }
    WriteFile(sources / "text" / "texts.txt", texts);
    if (!o.links.empty()) WriteFile(sources / "text" / "links.txt", o.links);
    if (!o.help_txt.empty()) WriteFile(sources / "text" / "help.txt", o.help_txt);
    Pack(sources / "text", data / "skin.fat");
  }
  if (o.pictures_pack) {
    fs::create_directories(sources / "image");
    Bitmap(sources / "image" / "tip-situation-fr_1.bmp", QColor(1, 2, 3), o.footer_size.width(),
           o.footer_size.height());
    if (!o.tip_size.isEmpty())
      Bitmap(sources / "image" / "tip-1-fr_1.bmp", QColor(4, 5, 6), o.tip_size.width(),
             o.tip_size.height());
    Pack(sources / "image", data / "skin.dat");
  }
  if (o.titles_pack) {
    std::string lines;
    if (o.titles.empty()) {
      for (int n = 1; n <= 144; ++n) lines += "Title " + std::to_string(n) + "\r\n";
    } else {
      for (const auto& title : o.titles) lines += title + "\r\n";
    }
    WriteFile(sources / "txt" / "unit_text.txt", lines);
    Pack(sources / "txt", data / "skin0.fat");
  }
  if (o.tiles_pack) {
    fs::create_directories(sources / "bmp");
    for (int n = 1; n <= 144; ++n) {
      if (o.missing_tiles.count(n) == 0)
        Bitmap(sources / "bmp" / Unit("imgc%03d.bmp", n), TileColour(n), o.tile_width,
               o.tile_height);
    }
    for (int level : o.level_pictures)
      Bitmap(sources / "bmp" / Unit("level%d.bmp", level), LevelPictureColour(level),
             o.level_picture_size.width(), o.level_picture_size.height());
    Pack(sources / "bmp", data / "skin0.dat");
  }
  // One stub unit volume, copied for every installed unit.
  WriteFile(sources / "unit" / "README.TXT", "stub unit\r\n");
  Run(Tool("ehdd-volume") + " build '" + (sources / "unit").string() + "' '" +
      (root / "stub").string() + "'");
  for (int n : o.installed) {
    fs::copy_file(root / "stub.FAT", data / Unit("unit%03d.FAT", n));
    fs::copy_file(root / "stub.DAT", data / Unit("unit%03d.DAT", n));
  }
  for (int n : o.fat_only) fs::copy_file(root / "stub.FAT", data / Unit("unit%03d.FAT", n));
  if (!o.units_alu.empty()) WriteFile(data / "units.alu", o.units_alu);
  WriteFile(data / "doc" / "st.htm",
            "<html><body bgcolor=\"#dde8f4\"><h1>Bienvenido</h1><p>P\xE1gina de inicio.</p>"
            "<p><a href=\"second.htm\">Segunda</a></p></body></html>");
  WriteFile(data / "doc" / "second.htm", "<html><body><h1>Segunda</h1></body></html>");
  WriteFile(data / "abk.DAT",
            "<html><head><title>Ayuda</title></head><body><p>Shell</p></body></html>");
  if (o.help_file)
    WriteFile(data / "hlp" / "hlp.htm",
              "<html><head><meta charset=\"utf-8\"></head><body><h1>Ayuda local "
              "\xC3\xA1</h1></body></html>");
  return folder.string() + "/";
}

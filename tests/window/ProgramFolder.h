// Program folders for the host's tests, made with the project's tools:
// packs with velarno-pack, stub unit volumes with ehdd-volume, the start and
// help pages, and a progress table.
#pragma once

#include <QColor>
#include <QSize>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

struct FolderOptions {
  std::set<int> installed = {1, 5, 7, 12, 13, 30, 40, 54, 144};
  std::set<int> fat_only;           // units with a .FAT and no .DAT
  bool texts_pack = true;           // data/skin.fat
  std::string texts;                // texts.txt (empty: a 19-line one)
  std::string links;                // links.txt (empty: none)
  std::string help_txt;             // help.txt (empty: none)
  bool pictures_pack = true;        // data/skin.dat
  QSize footer_size{687, 40};       // of tip-situation-fr_1.bmp
  QSize tip_size;                   // of tip-1-fr_1.bmp (empty: none)
  bool titles_pack = true;          // data/skin0.fat
  std::vector<std::string> titles;  // unit_text.txt lines (empty: "Title n")
  bool tiles_pack = true;           // data/skin0.dat
  std::set<int> missing_tiles;      // units without an imgc picture
  int tile_width = 24;              // size of the imgc pictures
  int tile_height = 15;
  std::set<int> level_pictures = {1};  // level%d.bmp members
  QSize level_picture_size{91, 534};   // of the level%d.bmp members
  bool help_file = false;              // data/hlp/hlp.htm
  std::string units_alu;               // data/units.alu (empty: none)
};

// The colour of unit n's tile picture, and of level L's menu picture.
QColor TileColour(int n);
QColor LevelPictureColour(int level);

// Makes a program folder under root; returns it with a trailing '/'. Throws
// std::runtime_error when a tool fails.
std::string MakeProgramFolder(const FolderOptions& options, const std::filesystem::path& root);
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

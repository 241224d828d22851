// course-draw: draws the pictures a text description gives (see
// PictureSpec.h) and writes each to OUT_FOLDER/NAME.
//
//   course-draw SPEC OUT_FOLDER
//
// Silent on success (exit 0). A bad line prints "course-draw: SPEC:LINE: what"
// and writes nothing (exit 1); a bad command line prints the usage (exit 2).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "tools/course-draw/PictureSpec.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::fprintf(stderr, "usage: course-draw SPEC OUT_FOLDER\n");
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "course-draw: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') return Usage();
  const std::string spec = argv[1];
  const std::string folder = argv[2];
  std::ifstream in(spec, std::ios::binary);
  if (!in) return Fail(spec + ": cannot be read");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Fail(spec + ": cannot be read");

  std::vector<course_draw::Picture> pictures;
  course_draw::SpecError error;
  if (!course_draw::DrawPictures(text, pictures, error)) {
    return Fail(spec + ":" + std::to_string(error.line) + ": " + error.what);
  }

  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder)) return Fail(folder + ": not a folder");
  // Each picture goes to a temporary name first; a failure removes what
  // this run wrote, so the folder keeps no half of a set.
  std::vector<fs::path> written;
  auto undo = [&written]() {
    std::error_code ignored;
    for (const auto& p : written) fs::remove(p, ignored);
  };
  for (const auto& picture : pictures) {
    const fs::path aside = fs::path(folder) / ("." + picture.name + ".course-draw");
    std::string reason;
    if (!course_draw::WritePicture(picture, aside.string(), &reason)) {
      undo();
      fs::remove(aside, ec);
      return Fail(picture.name + ": cannot be written: " + reason);
    }
    written.push_back(aside);
  }
  std::vector<fs::path> temporaries = written;
  written.clear();
  for (size_t i = 0; i < pictures.size(); ++i) {
    const fs::path target = fs::path(folder) / pictures[i].name;
    fs::rename(temporaries[i], target, ec);
    if (ec) {
      undo();
      for (size_t k = i; k < temporaries.size(); ++k) fs::remove(temporaries[k], ec);
      return Fail(pictures[i].name + ": cannot be written: " + ec.message());
    }
    written.push_back(target);
  }
  return 0;
}

// velarno on the sample course under a virtual X display, unit 1 opened with
// an audit whose counts do not match the unit: the integrity box must be
// readable on the screen (not a blank rectangle), Return dismisses it, the
// unit's first page shows, and the close ends the program. Driven from
// outside with xdotool and xwd, as a learner's display would see it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "../support/VelarnoProcess.h"

namespace fs = std::filesystem;

namespace {

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " > /dev/null 2>&1").c_str()) == 0;
}

std::string OnDisplay(const std::string& display, const std::string& command) {
  const std::string full = "DISPLAY='" + display + "' " + command + " 2>/dev/null";
  std::string out;
  if (FILE* pipe = popen(full.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while (out.size() < (1u << 26) && (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
      out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

uint32_t Be32(const std::string& bytes, size_t at) {
  return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
         (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
}

// The distinct colours of a rectangle of an xwd dump of the root window
// (a 24-bit screen, each pixel in 4 bytes as Xvfb stores it); empty when
// the dump is not of that kind.
std::set<uint32_t> ColoursIn(const std::string& xwd, int x, int y, int w, int h) {
  std::set<uint32_t> colours;
  if (xwd.size() < 100) return colours;
  const uint32_t header = Be32(xwd, 0);
  const uint32_t width = Be32(xwd, 16);
  const uint32_t height = Be32(xwd, 20);
  const uint32_t byte_order = Be32(xwd, 28);
  const uint32_t depth = Be32(xwd, 12);
  const uint32_t bytes_per_line = Be32(xwd, 48);
  const uint32_t ncolors = Be32(xwd, 76);
  if (depth != 24 || width == 0 || bytes_per_line / width != 4) return colours;
  const size_t data = size_t(header) + size_t(ncolors) * 12;
  for (int row = y; row < y + h && row < int(height); ++row) {
    for (int col = x; col < x + w && col < int(width); ++col) {
      const size_t at = data + size_t(row) * bytes_per_line + size_t(col) * 4;
      if (at + 4 > xwd.size()) return colours;
      uint32_t pixel = Be32(xwd, at);
      if (byte_order == 0)  // LSBFirst
        pixel = __builtin_bswap32(pixel);
      colours.insert(pixel & 0xFFFFFF);
    }
  }
  return colours;
}

struct Geometry {
  int x = 0, y = 0, w = 0, h = 0;
};

// The window's place on the screen (xwininfo's absolute corner: under a
// window manager, xdotool's counts the frame's title bar twice).
std::optional<Geometry> WindowGeometry(const std::string& display, const std::string& id) {
  std::istringstream out(OnDisplay(display, "xwininfo -id " + id));
  Geometry g;
  int found = 0;
  const auto value = [](const std::string& line, const char* key, int& into) {
    const size_t at = line.find(key);
    if (at == std::string::npos) return false;
    into = std::atoi(line.c_str() + at + std::strlen(key));
    return true;
  };
  for (std::string line; std::getline(out, line);) {
    found += value(line, "Absolute upper-left X:", g.x);
    found += value(line, "Absolute upper-left Y:", g.y);
    found += value(line, "Width:", g.w);
    found += value(line, "Height:", g.h);
  }
  if (found != 4) return std::nullopt;
  return g;
}

std::string FirstWindow(const std::string& display, const std::string& name) {
  std::istringstream out(OnDisplay(display, "xdotool search --name '" + name + "'"));
  std::string id;
  std::getline(out, id);
  return id;
}

// The display runs a window manager, as every learner's desktop does: on a
// bare X server with none, a Qt window lying wholly inside another of the
// same program reads back black from the screen (any Qt program, any box),
// which no learner sees.
TEST(VelarnoBoxTest, TheIntegrityBoxIsReadableAndReturnDismissesIt) {
  const fs::path course = fs::path(LECTORIA_SOURCE_DIR) / "build" / "course";
  ASSERT_TRUE(fs::exists(course / "velarno")) << "build the sample course first";
  for (const char* tool : {"xvfb-run", "xdotool", "xwd", "xwininfo", "openbox"})
    if (!Have(tool)) GTEST_SKIP() << tool << " is not installed";
  char pattern[] = "/tmp/velarno-box-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  ASSERT_TRUE(CopyAndRegisterCourse(course, root));
  const fs::path copy = root / "course";
  const fs::path registry = root / "registry";
  // Unit 1's audit, with counts no document of the unit has.
  fs::create_directories(copy / "userdata" / "work");
  ASSERT_EQ(std::system((LECTORIA_BIN_DIR "/lectoria-audit new '" +
                         (copy / "userdata" / "work").string() +
                         "' --unit 1 --counts 99:99,0:0,0:0,0:0,0:0,0:0,0:0,0:0 > /dev/null")
                            .c_str()),
            0);

  const std::string pid_file = (root / "velarno.pid").string();
  const std::string display_file = (root / "display").string();
  VelarnoProcess velarno(
      {"env", "-u", "VELARNO_PROGRAM_DIR", "xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "sh",
       "-c", "echo $DISPLAY $XAUTHORITY > '" + display_file + "'; echo $$ > '" + pid_file +
           "'; openbox > /dev/null 2>&1 & sleep 1; exec \"$0\"",
       (copy / "velarno").string()},
      {{"VELARNO_STARTUP_TRACE", "1"},
       {"LECTORIA_REGISTRY_DIR", registry.string()},
       {"QT_QPA_PLATFORM", "xcb"},
       {"LSAN_OPTIONS", "detect_leaks=0"}},
      pid_file);
  ASSERT_TRUE(velarno.WaitForLine("velarno: first paint after ", 60000));
  // The display and its key, for the tools that drive it.
  std::string display;
  std::string key;
  std::ifstream(display_file) >> display >> key;
  ASSERT_FALSE(display.empty());
  display += "' XAUTHORITY='" + key;

  const std::string main = FirstWindow(display, "^Velarno Course$");
  ASSERT_FALSE(main.empty());
  const auto window = WindowGeometry(display, main);
  ASSERT_TRUE(window);
  // The "Unit 1" tab of the window's header.
  OnDisplay(display, "xdotool mousemove " + std::to_string(window->x + 516) + " " +
                   std::to_string(window->y + 35) + " click 1");

  std::string box;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (box.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    box = FirstWindow(display, "^ERROR$");
  }
  ASSERT_FALSE(box.empty()) << "no box titled ERROR within 15 s";
  const auto where = WindowGeometry(display, box);
  ASSERT_TRUE(where);
  // What the screen shows where the box is: its face, its text, its button
  // (a box that never drew is one colour), read until it has painted.
  std::set<uint32_t> colours;
  const auto painted = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (colours.size() <= 2 && std::chrono::steady_clock::now() < painted) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    colours = ColoursIn(OnDisplay(display, "xwd -root -silent"), where->x, where->y, where->w,
                        where->h);
  }
  EXPECT_GT(colours.size(), 2u) << "the box is a blank rectangle on the screen";

  OnDisplay(display, "xdotool key Return");
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_TRUE(FirstWindow(display, "^ERROR$").empty()) << "Return left the box open";
  // The unit's first page: the lesson area is no longer one colour.
  const std::string after = OnDisplay(display, "xwd -root -silent");
  EXPECT_GT(ColoursIn(after, window->x + 91, window->y + 77, 520, 400).size(), 8u);

  // The window's close button.
  OnDisplay(display, "xdotool mousemove " + std::to_string(window->x + 763) + " " +
                   std::to_string(window->y + 65) + " click 1");
  EXPECT_EQ(velarno.WaitExit(15000), std::optional<int>(0)) << "still running 15 s after the close";
  fs::remove_all(root);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/ui/Headless.h"

namespace {

class RecordingLog : public TEHDDLogTarget {
 public:
  void EscribirLog(const char* fichero, const char* linea) override {
    entries.emplace_back(fichero, linea);
  }
  std::vector<std::pair<std::string, std::string>> entries;
};

class OSALTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::SetMessageSink([this](const std::string& t, const std::string& c, unsigned) {
      boxes.emplace_back(c, t);
      return platform::kIdOk;
    });
  }
  void TearDown() override {
    platform::SetMessageSink(nullptr);
    SetOSALMallocForTesting(nullptr);
    SetStudentStoreName("");
  }
  std::vector<std::pair<std::string, std::string>> boxes;  // caption, text
};

TEST_F(OSALTest, ElapsedTicksAcrossTheWrap) {
  platform::ManualClock clock(0xFFFFFF00u);
  platform::ScopedClock scoped(&clock);
  OSAL osal;
  EXPECT_EQ(osal.IniciarTicks(), 0xFFFFFF00u);
  clock.Advance(0x200);  // the tick is now 0x100
  EXPECT_EQ(osal.ElapsedTicks(), 0x200u);
}

TEST_F(OSALTest, ErrorShowsTheBoxThenLogsTheLine) {
  OSAL osal;
  osal.MostrarError("sin cliente");  // no client yet: the box, and no log line
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, "ERROR");
  EXPECT_EQ(boxes[0].second, "sin cliente");

  RecordingLog log;
  osal.SetEHDDClient(&log);
  SetStudentStoreName("alumno1");
  osal.MostrarError("Module FTAE loaded ERROR.");
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].first, "ALLERROR.LOG");
  EXPECT_EQ(log.entries[0].second, "[ERROR] -> 'alumno1' error:'Module FTAE loaded ERROR.'\r");
}

TEST_F(OSALTest, ErrorLineIsCutWithAStudentNameOf300Bytes) {
  OSAL osal;
  RecordingLog log;
  osal.SetEHDDClient(&log);
  std::string long_name(400, 'n');
  SetStudentStoreName(long_name.c_str());
  EXPECT_EQ(std::strlen(StudentStoreName()), 299u);  // the 300-byte field
  osal.MostrarError(std::string(500, 'e').c_str());
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].second.size(), 199u);
  EXPECT_EQ(log.entries[0].second.rfind("[ERROR] -> 'nnn", 0), 0u);
}

TEST_F(OSALTest, FailedMemoryRequestIsReportedAndCut) {
  SetOSALMallocForTesting([](size_t) -> void* { return nullptr; });
  OSAL osal;
  EXPECT_EQ(osal.PedirMemoria(1234, "paginas"), nullptr);
  std::string long_tag(300, 't');
  EXPECT_EQ(osal.PedirMemoria(5, long_tag.c_str()), nullptr);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].second, "Error al pedir 1234 bytes de memoria para paginas.");
  EXPECT_EQ(boxes[1].second.size(), 99u);
  EXPECT_EQ(boxes[1].second.rfind("Error al pedir 5 bytes de memoria para ttt", 0), 0u);
}

TEST_F(OSALTest, MemoryRequestsAndRelease) {
  OSAL osal;
  void* block = osal.PedirMemoria(64, "ftae");
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(osal.LiberarMemoria(block, "ftae"), nullptr);
  EXPECT_EQ(osal.LiberarMemoria(nullptr, "ftae"), nullptr);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(OSALTest, CopiarAUnicodeWidensAndStaysInsideTheBuffer) {
  uint16_t out[8];
  std::memset(out, 0xAA, sizeof(out));
  OSAL::CopiarAUnicode("", out, 8);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0xAAAA);

  OSAL::CopiarAUnicode("a\xE9z", out, 8);
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[1], 0x00E9);
  EXPECT_EQ(out[2], 'z');
  EXPECT_EQ(out[3], 0);

  std::string long_text(300, 'x');  // longer than an 8-bit count
  std::vector<uint16_t> big(400, 0xAAAA);
  OSAL::CopiarAUnicode(long_text.c_str(), big.data(), 300);
  EXPECT_EQ(big[298], 'x');
  EXPECT_EQ(big[299], 0);
  EXPECT_EQ(big[300], 0xAAAA);
}

TEST_F(OSALTest, CaretOperationsKeepTheirCallOrder) {
  platform::ui::HeadlessControlSite window(100, 100);
  SetUnitControlWindow(&window);
  OSAL osal;
  osal.MostrarCaret();
  osal.PosicionarCaret(10, 20);
  osal.OcultarCaret();
  std::vector<std::string> expected = {"SetFocus",          "DestroyCaret", "CreateCaret 2x19",
                                       "SetFocus",          "ShowCaret",    "SetFocus",
                                       "SetCaretPos 10,20", "SetFocus",     "HideCaret"};
  EXPECT_EQ(window.CallLog(), expected);
  EXPECT_TRUE(window.HasFocus());
  EXPECT_FALSE(window.Caret().Visible());
  EXPECT_EQ(window.Caret().x, 10);
  SetUnitControlWindow(nullptr);
}

TEST_F(OSALTest, CambiarCursorGivesThePreviousCursor) {
  OSAL osal;
  EXPECT_EQ(osal.CambiarCursor(platform::ui::kCursorHand), 0u);  // no window: nothing
  platform::ui::HeadlessControlSite window(10, 10);
  SetUnitControlWindow(&window);
  osal.CambiarCursor(platform::ui::kCursorArrow);
  EXPECT_EQ(osal.CambiarCursor(platform::ui::kCursorHand), platform::ui::kCursorArrow);
  EXPECT_EQ(osal.CambiarCursor(platform::ui::kCursorArrow), platform::ui::kCursorHand);
  EXPECT_EQ(window.Cursor(), platform::ui::kCursorArrow);
  SetUnitControlWindow(nullptr);
}

}  // namespace

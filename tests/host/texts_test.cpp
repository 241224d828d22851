// Texts from the skin pack with the built-in fallbacks, and pack bitmaps.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/qorFileManager.h"
#include "host/qorTexts.h"

namespace fs = std::filesystem;

namespace {

class TextsTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-texts-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "src");
    SetPackTrace(nullptr);
    qorFileManager::Release();
    ForgetHostTexts();
  }
  void TearDown() override {
    ForgetHostTexts();
    qorFileManager::Release();
    SetPackTrace(stdout);
    fs::remove_all(dir_);
  }
  void Pack(const std::string& texts, const std::string& links) {
    if (!texts.empty()) std::ofstream(dir_ / "src" / "texts.txt", std::ios::binary) << texts;
    if (!links.empty()) std::ofstream(dir_ / "src" / "links.txt", std::ios::binary) << links;
    QImage bmp(3, 2, QImage::Format_RGB32);
    bmp.fill(QColor(10, 20, 30));
    bmp.save(QString::fromStdString((dir_ / "src" / "pic.bmp").string()), "BMP");
    ASSERT_EQ(std::system((std::string(LECTORIA_BIN_DIR) + "/velarno-pack build " + (dir_ / "skin.fat").string() +
                           " " + (dir_ / "src").string())
                              .c_str()),
              0);
    qorFileManager::Instance()->OpenArchive("skin", (dir_ / "skin.fat").string());
    qorFileManager::Instance()->SetAlias("1", "skin");
  }
  fs::path dir_;
};

TEST_F(TextsTest, BuiltInTablesWithoutAPack) {
  EXPECT_EQ(MainText(12), "userdata");
  EXPECT_EQ(MainText(7), "Indice del curso");
  EXPECT_EQ(MainText(19), "");  // past the table: empty, never out of bounds
  EXPECT_EQ(LinkText(99), "");
  EXPECT_EQ(UnitCaption(7), "Unit 7");
  LoadHostTexts();  // no pack: the lists stay empty
  EXPECT_TRUE(TextsLoaded());
  EXPECT_EQ(MainText(18), "Conoce en profundidad este nivel");
  const std::string help = BuiltInHelpHtml();
  EXPECT_EQ(help.rfind("<body>", 0), 0u);
  EXPECT_NE(help.find("</body>"), std::string::npos);
  // Pages turn with the page keys; the arrow keys belong to the lesson.
  EXPECT_NE(help.find("Re P\xE1g y Av P\xE1g"), std::string::npos);
  EXPECT_EQ(help.find("flechas del teclado"), std::string::npos);
}

TEST_F(TextsTest, MembersServeTheirLinesAndTheRestFallsBack) {
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += "linea " + std::to_string(i) + "\r\n";
  Pack(ten, "https://unica/\r\n");
  LoadHostTexts();
  EXPECT_EQ(MainText(0), "linea 0");
  EXPECT_EQ(MainText(9), "linea 9");
  EXPECT_EQ(MainText(12), "userdata");
  for (unsigned level = 1; level <= 6; ++level) EXPECT_EQ(LinkText(level), "https://unica/");

  QImage image(1, 1, QImage::Format_RGB32);
  image.fill(Qt::white);
  LoadPackBitmap("1:nothere.bmp", image);
  EXPECT_EQ(image.width(), 1);  // unchanged
  LoadPackBitmap("1:PIC.BMP", image);
  ASSERT_EQ(image.width(), 3);
  EXPECT_EQ(QColor(image.pixel(1, 1)), QColor(10, 20, 30));
}

TEST(TextLines, EndingsOfAllKinds) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
}

}  // namespace

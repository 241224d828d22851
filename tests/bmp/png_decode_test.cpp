// Reading PNG files through the eHDD client: every colour type and depth
// comes back as RGB rows, damaged and oversized files end in null or the
// placeholder, decodes from several threads stay apart, and a connection
// lost in the middle of a decode leaves as the client's text.
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "ehdd/TEHDDCache.h"
#include "ehdd/TEHDDClient.h"
#include "tests/support/TestServer.h"

namespace fs = std::filesystem;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

struct PngPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  int depth = 8;
  int colour = PNG_COLOR_TYPE_RGB;
  bool interlaced = false;
  bool stored = false;  // no compression
  std::vector<png_color> palette;
  std::vector<uint8_t> palette_alpha;  // tRNS of a palette image
  bool colour_key = false;             // tRNS of an RGB image
  png_color_16 key{};
  double gamma = 0;  // gAMA when not 0
  Rows rows;         // rows as stored in the file (packed samples)
};

PngPicture Picture(uint32_t width, uint32_t height, int depth = 8,
                   int colour = PNG_COLOR_TYPE_RGB) {
  PngPicture picture;
  picture.width = width;
  picture.height = height;
  picture.depth = depth;
  picture.colour = colour;
  return picture;
}

void AppendBytes(png_structp png, png_bytep data, size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

std::string EncodePng(const PngPicture& picture) {
  std::string out;
  std::vector<png_bytep> pointers;
  for (const auto& row : picture.rows) pointers.push_back(const_cast<png_bytep>(row.data()));
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "";
  }
  png_set_write_fn(png, &out, AppendBytes, nullptr);
  if (picture.stored) png_set_compression_level(png, 0);
  png_set_IHDR(png, info, picture.width, picture.height, picture.depth, picture.colour,
               picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!picture.palette.empty()) {
    png_set_PLTE(png, info, picture.palette.data(), static_cast<int>(picture.palette.size()));
  }
  if (!picture.palette_alpha.empty()) {
    png_set_tRNS(png, info, picture.palette_alpha.data(),
                 static_cast<int>(picture.palette_alpha.size()), nullptr);
  }
  if (picture.colour_key) png_set_tRNS(png, info, nullptr, 0, &picture.key);
  if (picture.gamma > 0) png_set_gAMA(png, info, picture.gamma);
  png_write_info(png, info);
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

// Samples of depth 1, 2 or 4 packed into bytes, leftmost in the high bits.
std::vector<uint8_t> Pack(const std::vector<uint8_t>& samples, int depth) {
  std::vector<uint8_t> row((samples.size() * depth + 7) / 8, 0);
  for (size_t i = 0; i < samples.size(); ++i) {
    const size_t bit = i * depth;
    row[bit / 8] |= static_cast<uint8_t>(samples[i] << (8 - depth - bit % 8));
  }
  return row;
}

uint8_t R(uint32_t x, uint32_t y) {
  return static_cast<uint8_t>(x * 37 + y * 11);
}
uint8_t G(uint32_t x, uint32_t y) {
  return static_cast<uint8_t>(x * 5 + y * 71 + 3);
}
uint8_t B(uint32_t x, uint32_t y) {
  return static_cast<uint8_t>(x * x + y * 3 + 200);
}

// An RGB pattern image, and the RGB bytes it should decode to.
PngPicture RgbPattern(uint32_t width, uint32_t height, uint32_t seed = 0) {
  PngPicture picture = Picture(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    std::vector<uint8_t> row;
    for (uint32_t x = 0; x < width; ++x) {
      row.insert(row.end(), {R(x + seed, y), G(x, y + seed), B(x, y)});
    }
    picture.rows.push_back(row);
  }
  return picture;
}

std::vector<uint8_t> RgbOf(const PngPicture& rgb) {
  std::vector<uint8_t> out;
  for (const auto& row : rgb.rows) out.insert(out.end(), row.begin(), row.end());
  return out;
}

class BmpDecode : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-bmp-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = std::string(pattern) + "/";
    fs::create_directories(root_ + "img");
    client_.SetLocalRoot(root_);
    client_.AddLocalLetter('G', "");
    client_.Mount("img", 'G');
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Put(const std::string& name, const std::string& bytes) {
    std::ofstream(root_ + "img/" + name, std::ios::binary) << bytes;
    return "G:\\" + name;
  }

  // The decoded bytes (empty for null) and size.
  std::vector<uint8_t> Decode(const std::string& path, uint32_t* width = nullptr,
                              uint32_t* height = nullptr) {
    uint32_t w = 7, h = 7;
    uint8_t* rgb = bmp_.LeerPNGToMemoryRGB(path.c_str(), &w, &h);
    if (width) *width = w;
    if (height) *height = h;
    if (rgb == nullptr) {
      EXPECT_EQ(w, 0u);
      EXPECT_EQ(h, 0u);
      return {};
    }
    std::vector<uint8_t> out(rgb, rgb + size_t{w} * h * 3);
    OSAL::Free(rgb);
    return out;
  }

  bool IsPlaceholder(HBITMAP b) {
    return b != nullptr && b->Width() == 30 && b->Height() == 30 && b->GetPixel(0, 0) == 0 &&
           b->GetPixel(5, 10) == 0xFFFFFF && b->GetPixel(10, 10) == 0 && b->GetPixel(29, 29) == 0;
  }

  std::string root_;
  TEHDDClient client_;
  TGestorGDI gdi_;
  TGestorBMP bmp_{nullptr, &gdi_, &client_};
};

TEST_F(BmpDecode, RgbImageComesBackAsRowsOfRgbAndAsABitmap) {
  const PngPicture picture = RgbPattern(7, 5);
  const std::string path = Put("rgb.png", EncodePng(picture));
  uint32_t w = 0, h = 0;
  EXPECT_EQ(Decode(path, &w, &h), RgbOf(picture));
  EXPECT_EQ(w, 7u);
  EXPECT_EQ(h, 5u);
  uint8_t* plain = bmp_.LeerPNGToMemoryRGB(path.c_str());
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(std::memcmp(plain, RgbOf(picture).data(), 7 * 5 * 3), 0);
  OSAL::Free(plain);

  HBITMAP bitmap = bmp_.LeerBitmapPNGDisco(0, path.c_str());
  uint16_t bw = 0, bh = 0;
  bmp_.BitmapSize(bitmap, bw, bh);
  ASSERT_EQ(bw, 7);
  ASSERT_EQ(bh, 5);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 7; ++x)
      ASSERT_EQ(bitmap->GetPixel(x, y), platform::gfx::Rgb(R(x, y), G(x, y), B(x, y)))
          << x << "," << y;
  bmp_.DeleteBitmap(bitmap);
}

TEST_F(BmpDecode, PaletteAndGreyOfEveryDepthExpandToRgb) {
  PngPicture palette = Picture(5, 3, 4, PNG_COLOR_TYPE_PALETTE);
  palette.palette = {{10, 20, 30}, {200, 100, 0}, {1, 2, 3}, {255, 255, 254}};
  std::vector<uint8_t> want;
  for (uint32_t y = 0; y < 3; ++y) {
    std::vector<uint8_t> indices;
    for (uint32_t x = 0; x < 5; ++x) {
      const uint8_t i = static_cast<uint8_t>((x + y) % 4);
      indices.push_back(i);
      want.insert(want.end(),
                  {palette.palette[i].red, palette.palette[i].green, palette.palette[i].blue});
    }
    palette.rows.push_back(Pack(indices, 4));
  }
  EXPECT_EQ(Decode(Put("palette.png", EncodePng(palette))), want);

  for (int depth : {1, 2, 4}) {
    SCOPED_TRACE(depth);
    const int top = (1 << depth) - 1;
    PngPicture grey = Picture(9, 2, depth, PNG_COLOR_TYPE_GRAY);
    want.clear();
    for (uint32_t y = 0; y < 2; ++y) {
      std::vector<uint8_t> samples;
      for (uint32_t x = 0; x < 9; ++x) {
        const uint8_t v = static_cast<uint8_t>((x + y) % (top + 1));
        samples.push_back(v);
        const uint8_t scaled = static_cast<uint8_t>(v * 255 / top);
        want.insert(want.end(), {scaled, scaled, scaled});
      }
      grey.rows.push_back(Pack(samples, depth));
    }
    EXPECT_EQ(Decode(Put("grey.png", EncodePng(grey))), want);
  }

  // 16-bit samples keep their high byte.
  PngPicture grey16 = Picture(2, 1, 16, PNG_COLOR_TYPE_GRAY);
  grey16.rows = {{0x12, 0x34, 0xFF, 0x00}};
  EXPECT_EQ(Decode(Put("grey16.png", EncodePng(grey16))),
            (std::vector<uint8_t>{0x12, 0x12, 0x12, 0xFF, 0xFF, 0xFF}));
}

TEST_F(BmpDecode, AlphaIsDroppedAndRowsStayThreeBytesAPixel) {
  PngPicture rgba = Picture(3, 2, 8, PNG_COLOR_TYPE_RGB_ALPHA);
  PngPicture grey_alpha = Picture(3, 2, 8, PNG_COLOR_TYPE_GRAY_ALPHA);
  std::vector<uint8_t> want_rgba, want_grey;
  for (uint32_t y = 0; y < 2; ++y) {
    std::vector<uint8_t> row, grow;
    for (uint32_t x = 0; x < 3; ++x) {
      row.insert(row.end(), {R(x, y), G(x, y), B(x, y), static_cast<uint8_t>(x * 100)});
      want_rgba.insert(want_rgba.end(), {R(x, y), G(x, y), B(x, y)});
      grow.insert(grow.end(), {G(x, y), static_cast<uint8_t>(y * 90)});
      want_grey.insert(want_grey.end(), {G(x, y), G(x, y), G(x, y)});
    }
    rgba.rows.push_back(row);
    grey_alpha.rows.push_back(grow);
  }
  EXPECT_EQ(Decode(Put("rgba.png", EncodePng(rgba))), want_rgba);
  EXPECT_EQ(Decode(Put("ga.png", EncodePng(grey_alpha))), want_grey);

  // Transparency chunks: a palette with alpha values, an RGB colour key.
  PngPicture palette = Picture(2, 2, 8, PNG_COLOR_TYPE_PALETTE);
  palette.palette = {{9, 8, 7}, {100, 150, 200}};
  palette.palette_alpha = {0, 128};
  palette.rows = {{0, 1}, {1, 0}};
  EXPECT_EQ(Decode(Put("ptrns.png", EncodePng(palette))),
            (std::vector<uint8_t>{9, 8, 7, 100, 150, 200, 100, 150, 200, 9, 8, 7}));
  PngPicture keyed = RgbPattern(4, 3);
  keyed.colour_key = true;
  keyed.key.red = R(1, 1);
  keyed.key.green = G(1, 1);
  keyed.key.blue = B(1, 1);
  EXPECT_EQ(Decode(Put("ktrns.png", EncodePng(keyed))), RgbOf(keyed));
}

TEST_F(BmpDecode, GammaChunkIsAppliedForTheScreen) {
  PngPicture grey = Picture(3, 1, 8, PNG_COLOR_TYPE_GRAY);
  grey.rows = {{0, 64, 255}};
  // Samples made for a 2.2 screen stay as they are.
  grey.gamma = 1 / 2.2;
  std::vector<uint8_t> same = Decode(Put("g045.png", EncodePng(grey)));
  ASSERT_EQ(same.size(), 9u);
  EXPECT_NEAR(same[3], 64, 1);
  // Linear samples are brightened; black and white stay.
  grey.gamma = 1.0;
  std::vector<uint8_t> linear = Decode(Put("g100.png", EncodePng(grey)));
  ASSERT_EQ(linear.size(), 9u);
  EXPECT_EQ(linear[0], 0);
  EXPECT_NEAR(linear[3], 136, 2);
  EXPECT_EQ(linear[6], 255);
}

TEST_F(BmpDecode, InterlacedImagesMatchProgressiveOnes) {
  PngPicture picture = RgbPattern(13, 11, 5);
  const std::vector<uint8_t> plain = Decode(Put("p.png", EncodePng(picture)));
  picture.interlaced = true;
  EXPECT_EQ(Decode(Put("i.png", EncodePng(picture))), plain);
  EXPECT_EQ(plain, RgbOf(picture));

  PngPicture palette = Picture(11, 9, 2, PNG_COLOR_TYPE_PALETTE);
  palette.palette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  for (uint32_t y = 0; y < 9; ++y) {
    std::vector<uint8_t> indices;
    for (uint32_t x = 0; x < 11; ++x) indices.push_back(static_cast<uint8_t>((x * y + x) % 4));
    palette.rows.push_back(Pack(indices, 2));
  }
  const std::vector<uint8_t> packed = Decode(Put("pp.png", EncodePng(palette)));
  palette.interlaced = true;
  EXPECT_EQ(Decode(Put("pi.png", EncodePng(palette))), packed);
  EXPECT_EQ(packed.size(), 11u * 9 * 3);
}

// A PNG of the IHDR given, with right CRCs, and a few bytes of IDAT.
std::string HeaderOnly(uint32_t width, uint32_t height) {
  auto chunk = [](const char* type, const std::string& data) {
    std::string body = std::string(type, 4) + data;
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    std::string out;
    for (uint32_t v : {static_cast<uint32_t>(data.size())})
      for (int s = 24; s >= 0; s -= 8) out += static_cast<char>(v >> s);
    out += body;
    for (int s = 24; s >= 0; s -= 8) out += static_cast<char>(crc >> s);
    return out;
  };
  std::string ihdr;
  for (uint32_t v : {width, height})
    for (int s = 24; s >= 0; s -= 8) ihdr += static_cast<char>(v >> s);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
         chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + chunk("IEND", "");
}

TEST_F(BmpDecode, DamagedMissingAndOversizedFilesGiveNullAndThePlaceholder) {
  const std::string good = EncodePng(RgbPattern(40, 30));
  std::string bad_signature = good;
  bad_signature[1] = 'Q';
  std::string bad_header_crc = good;
  bad_header_crc[8 + 8 + 13] ^= 0x01;  // last byte of the IHDR CRC
  std::string bad_data = good;
  bad_data[good.size() - 20] ^= 0x40;  // inside the last IDAT
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"truncated-data", good.substr(0, good.size() / 2)},
      {"truncated-header", good.substr(0, 20)},
      {"empty", ""},
      {"signature", bad_signature},
      {"header-crc", bad_header_crc},
      {"data-crc", bad_data},
      {"no-end", good.substr(0, good.size() - 12)},
      {"huge", HeaderOnly(100000, 100000)},
      {"over-the-buffer-cap", HeaderOnly(16000, 16000)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    const std::string path = Put(name + ".png", bytes);
    EXPECT_TRUE(Decode(path).empty());
    HBITMAP b = bmp_.LeerBitmapPNGDisco(0, path.c_str());
    EXPECT_TRUE(IsPlaceholder(b));
    bmp_.DeleteBitmap(b);
  }
  EXPECT_TRUE(Decode("G:\\none.png").empty());
  HBITMAP b = bmp_.LeerBitmapPNGDisco(0, "G:\\none.png");
  EXPECT_TRUE(IsPlaceholder(b));
  bmp_.DeleteBitmap(b);
  EXPECT_EQ(bmp_.LeerPNGToMemoryRGB(nullptr), nullptr);
  // The file good was cut from still reads after all that.
  EXPECT_EQ(Decode(Put("good.png", good)), RgbOf(RgbPattern(40, 30)));
}

TEST_F(BmpDecode, FourThreadsDecodeTheirOwnImages) {
  std::vector<PngPicture> pictures;
  std::vector<std::string> paths;
  for (uint32_t i = 0; i < 4; ++i) {
    pictures.push_back(RgbPattern(20 + i * 3, 10 + i, i * 17));
    pictures.back().interlaced = i % 2 == 1;
    paths.push_back(Put("t" + std::to_string(i) + ".png", EncodePng(pictures.back())));
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (uint32_t i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      const std::vector<uint8_t> want = RgbOf(pictures[i]);
      for (int round = 0; round < 25; ++round) {
        uint32_t w = 0, h = 0;
        uint8_t* rgb = bmp_.LeerPNGToMemoryRGB(paths[i].c_str(), &w, &h);
        if (rgb == nullptr || w != pictures[i].width || h != pictures[i].height ||
            std::memcmp(rgb, want.data(), want.size()) != 0) {
          ++wrong;
        }
        OSAL::Free(rgb);
        HBITMAP b = bmp_.LeerBitmapPNGDisco(0, paths[i].c_str());
        if (b->Width() != static_cast<int>(pictures[i].width) ||
            b->GetPixel(1, 2) != platform::gfx::Rgb(want[(2 * w + 1) * 3],
                                                    want[(2 * w + 1) * 3 + 1],
                                                    want[(2 * w + 1) * 3 + 2])) {
          ++wrong;
        }
        bmp_.DeleteBitmap(b);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

using Server = TestServer;

int CountReads(const fs::path& log) {
  std::ifstream in(log);
  int reads = 0;
  for (std::string line; std::getline(in, line);) reads += line.rfind("CM=RD", 0) == 0;
  return reads;
}

// The picture is larger than one read-ahead of the client, so the decode
// asks the server a second time. The server answers slowly and is killed as
// soon as that second request arrives: the client throws inside libpng's
// read, and the text reaches the caller after the decode is cleaned up.
TEST(BmpLostConnection, TheClientsTextLeavesTheLoaderAfterCleanUp) {
  char pattern[] = "/tmp/lectoria-bmp-server-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  struct RemoveAtEnd {
    fs::path dir;
    ~RemoveAtEnd() {
      unsetenv("LECTORIA_REGISTRY_DIR");
      TEHDDCache::Destroy();
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } remove_at_end{dir};
  fs::create_directories(dir / "root" / "data");
  PngPicture big = RgbPattern(200, 200);
  big.stored = true;
  std::ofstream(dir / "root" / "data" / "big.png", std::ios::binary) << EncodePng(big);
  ASSERT_GT(fs::file_size(dir / "root" / "data" / "big.png"), TEHDDClient::kBloque * 16u);
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  setenv("LECTORIA_REGISTRY_DIR", (dir / "registry").c_str(), 1);

  for (int loader = 0; loader < 2; ++loader) {
    SCOPED_TRACE(loader);
    TEHDDCache::Destroy();
    const fs::path log = dir / ("log" + std::to_string(loader));
    Server server(dir / "root", log, {"--delay-ms", "150"});
    ASSERT_NE(server.port(), 0);
    TEHDDClient client;
    client.SetTimeout(1);
    client.Mount("data", 'D');
    client.Conectar("127.0.0.1", "alumno", server.port());
    TGestorGDI gdi;
    TGestorBMP bmp(nullptr, &gdi, &client);
    std::thread killer([&] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (CountReads(log) < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      server.Kill();
    });
    try {
      if (loader == 0) {
        OSAL::Free(bmp.LeerPNGToMemoryRGB("D:\\big.png"));
      } else {
        bmp.DeleteBitmap(bmp.LeerBitmapPNGDisco(0, "D:\\big.png"));
      }
      ADD_FAILURE() << "a whole picture through a dead server";
    } catch (const std::string& text) {
      EXPECT_EQ(text, kErrorPerdida);
    }
    killer.join();
    // The manager's lock was given back.
    const uint8_t pixel[3] = {1, 2, 3};
    HBITMAP b = bmp.BitmapFromRGBFrame(0, 0, 1, 1, pixel, 1);
    EXPECT_EQ(b->GetPixel(0, 0), platform::gfx::Rgb(1, 2, 3));
    bmp.DeleteBitmap(b);
    client.ForgetOpenFiles();
  }
}

}  // namespace

// The animation's frame step and its load, each beside the bare work it
// stands on:
//   - a tick showing 30 sprites of 64 x 64 against CopyRect of the same
//     rectangles plus one 550 x 412 copy (the present), and a tick with a
//     background change against one more 550 x 412 copy;
//   - loading 3 backgrounds of 550 x 412 and 10 casts of 8 sprites of
//     64 x 64 against bare libpng decodes of the same files from memory.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "base/TGestorGDI.h"
#include "ehdd/TEHDDClient.h"
#include "media/FakeAudioAnim.h"
#include "media/TGestorAnim.h"
#include "platform/gfx/Surface.h"
#include "platform/ui/Headless.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSprite = 64;

// A picture with gradients and noise, as PNG bytes.
std::string Png(int w, int h, uint32_t seed) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = static_cast<uint8_t>(x * 255 / w);
      p[1] = static_cast<uint8_t>(y * 255 / h);
      p[2] = static_cast<uint8_t>((seed >> 24) & 0x3F);
    }
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr)) std::abort();
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, rgb.data(), 0, nullptr))
    std::abort();
  bytes.resize(size);
  return bytes;
}

struct Caso {
  int fondos;
  int casts;
  int sprites;
  bool cambio_de_fondo;  // every frame names a background
};

// An animation folder on U: with casts spread over the backgrounds, 13 to
// a background, every cast showing a sprite in every frame.
class Carpeta {
 public:
  explicit Carpeta(const Caso& caso) {
    char pattern[] = "/tmp/lectoria-bench-anim-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    raiz_ = pattern;
    fs::create_directories(raiz_ / "ANIM");
    std::string d =
        "[CABECERA]\r\nversion=eVM01.00\r\nancho=550\r\nalto=412\r\n[FONDOS]\r\nnumfondos=" +
        std::to_string(caso.fondos) + "\r\n";
    int cast = 2;
    for (int k = 1; k <= caso.fondos; ++k) {
      d += "fondo=" + std::to_string(k) + "\r\ntipo=PL\r\nprioridad=1\r\n";
      const int ultimo = k == caso.fondos ? caso.casts + 1 : std::min(cast + 12, caso.casts + 1);
      for (; cast <= ultimo; ++cast) d += "cast=" + std::to_string(cast) + "\r\n";
      d += "cast=end\r\n";
    }
    d += "[CASTS]\r\nnumcasts=" + std::to_string(caso.casts) + "\r\n";
    for (int c = 2; c <= caso.casts + 1; ++c) {
      const int i = c - 2;
      d += "cast=" + std::to_string(c) + "\r\ncx=" + std::to_string((i % 8) * 68) +
           "\r\ncy=" + std::to_string((i / 8) * 68) +
           "\r\nancho=64\r\nalto=64\r\nnumsprites=" + std::to_string(caso.sprites) +
           "\r\nidfondo=1\r\n";
    }
    Escribir("DEFANIM.TXT", d);
    std::string vm = std::string("VM02.00", 8);
    vm += static_cast<char>(2030 & 0xFF);
    vm += static_cast<char>(2030 >> 8);
    for (int t = 0; t < 32; ++t) {
      for (int f = 0; f < 2030; ++f) {
        uint8_t v = 0;
        if (t == 0) {
          v = caso.cambio_de_fondo || f == 0 ? static_cast<uint8_t>(1 + f % caso.fondos) : 0;
        } else if (t <= caso.casts) {
          v = static_cast<uint8_t>(1 + (f + t) % caso.sprites);
        }
        vm += static_cast<char>(v);
      }
    }
    vm += std::string(4060, '\0');
    Escribir("SCORE.VM", vm);
    for (int k = 1; k <= caso.fondos; ++k) {
      Escribir(TGestorAnim::NombreFondo(static_cast<uint8_t>(k)), Png(550, 412, 7u * k));
    }
    for (int c = 2; c <= caso.casts + 1; ++c) {
      Escribir(
          TGestorAnim::NombreCast(1, static_cast<uint8_t>(c), static_cast<uint8_t>(caso.sprites)),
          Png(kSprite * caso.sprites, kSprite, 11u * c));
    }
    cliente.Mount(raiz_.c_str(), 'U');
    cliente.AddLocalLetter('U', "");
  }
  ~Carpeta() {
    std::error_code ignored;
    fs::remove_all(raiz_, ignored);
  }
  // The picture files' bytes.
  std::vector<std::string> Imagenes() const {
    std::vector<std::string> todas;
    for (const auto& entrada : fs::directory_iterator(raiz_ / "ANIM")) {
      if (entrada.path().extension() != ".PNG") continue;
      std::ifstream in(entrada.path(), std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      todas.push_back(s.str());
    }
    return todas;
  }

  TEHDDClient cliente;

 private:
  void Escribir(const std::string& nombre, const std::string& bytes) const {
    std::ofstream(raiz_ / "ANIM" / nombre, std::ios::binary) << bytes;
  }
  fs::path raiz_;
};

// A loaded player on a headless window.
struct Jugador {
  explicit Jugador(Carpeta& carpeta) {
    SetUnitControlWindow(&ventana);
    bmp.SetEHDDClient(&carpeta.cliente);
    anim.SetGestorGDI(&gdi);
    anim.SetEHDDClient(&carpeta.cliente);
    anim.SetGestorBMP(&bmp);
    anim.SetAudio(&audio);
    if (!anim.Iniciar() || anim.CargarAnim("U:\\ANIM") != 0 || !anim.EsperarCarga(60000))
      std::abort();
  }
  ~Jugador() { SetUnitControlWindow(nullptr); }
  platform::ui::HeadlessControlSite ventana{687, 534};
  TGestorGDI gdi;
  TGestorBMP bmp{nullptr, &gdi, nullptr};
  FakeAudioAnim audio;
  TGestorAnim anim;
};

void Tics(benchmark::State& state, bool cambio) {
  Carpeta carpeta({3, 30, 2, cambio});
  Jugador j(carpeta);
  j.anim.PlayAnim(0);
  j.anim.TimerTicAnim();  // the start: sound, scene and frame 0
  for (auto _ : state) {
    j.audio.Tic(TGestorAnim::kMsPorFrame);
    j.anim.TimerTicAnim();
    if (j.anim.FrameActual() >= TGestorAnim::kMaxFrames - 1) {
      state.PauseTiming();
      j.ventana.ClearPresentLog();
      j.anim.PlayAnim(0);
      j.anim.TimerTicAnim();
      state.ResumeTiming();
    }
  }
  if (j.ventana.PresentLog().empty()) state.SkipWithError("no frame was shown");
}

void BM_TicAnim30Sprites(benchmark::State& state) {
  Tics(state, false);
}
BENCHMARK(BM_TicAnim30Sprites)->Unit(benchmark::kMicrosecond);

void BM_TicAnim30SpritesNewBackground(benchmark::State& state) {
  Tics(state, true);
}
BENCHMARK(BM_TicAnim30SpritesNewBackground)->Unit(benchmark::kMicrosecond);

// The same copies done directly: 30 sprites into the area, the area into a
// window-sized front image, and with a change one background copy first.
void Copias(benchmark::State& state, bool cambio) {
  platform::gfx::Surface area(550, 412);
  platform::gfx::Surface fondo(550, 412);
  platform::gfx::Surface front(687, 534);
  std::vector<platform::gfx::Surface> sprites(30, platform::gfx::Surface(kSprite, kSprite));
  for (auto _ : state) {
    if (cambio) platform::gfx::CopyRect(area, 0, 0, fondo, 0, 0, 550, 412);
    for (int i = 0; i < 30; ++i) {
      platform::gfx::CopyRect(area, (i % 8) * 68, (i / 8) * 68, sprites[i], 0, 0, kSprite, kSprite);
    }
    platform::gfx::CopyRect(front, 65, 13, area, 0, 0, 550, 412);
    benchmark::DoNotOptimize(front.Row(13));
  }
}

void BM_CopyRect30SpritesAndPresent(benchmark::State& state) {
  Copias(state, false);
}
BENCHMARK(BM_CopyRect30SpritesAndPresent)->Unit(benchmark::kMicrosecond);

void BM_CopyRect30SpritesBackgroundAndPresent(benchmark::State& state) {
  Copias(state, true);
}
BENCHMARK(BM_CopyRect30SpritesBackgroundAndPresent)->Unit(benchmark::kMicrosecond);

const Caso kCarga{3, 10, 8, false};

void BM_CargarAnim3Fondos10Casts(benchmark::State& state) {
  Carpeta carpeta(kCarga);
  for (auto _ : state) {
    auto j = std::make_unique<Jugador>(carpeta);
    state.PauseTiming();
    j.reset();
    state.ResumeTiming();
  }
}

struct LecturaMemoria {
  const std::string* bytes;
  size_t pos;
};

void LeerDeMemoria(png_structp png, png_bytep out, size_t n) {
  auto* m = static_cast<LecturaMemoria*>(png_get_io_ptr(png));
  if (m->pos + n > m->bytes->size()) png_error(png, "short");
  std::copy_n(m->bytes->data() + m->pos, n, out);
  m->pos += n;
}

void BM_BareLibpngDecodes3Fondos10Casts(benchmark::State& state) {
  Carpeta carpeta(kCarga);
  const std::vector<std::string> imagenes = carpeta.Imagenes();
  if (imagenes.size() != 13) std::abort();
  std::vector<uint8_t> rgb;
  std::vector<png_bytep> filas;
  for (auto _ : state) {
    for (const std::string& bytes : imagenes) {
      LecturaMemoria m{&bytes, 0};
      png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
      png_infop info = png_create_info_struct(png);
      if (setjmp(png_jmpbuf(png))) std::abort();
      png_set_read_fn(png, &m, LeerDeMemoria);
      png_read_info(png, info);
      png_read_update_info(png, info);
      const size_t w = png_get_image_width(png, info);
      const size_t h = png_get_image_height(png, info);
      rgb.resize(w * h * 3);
      filas.resize(h);
      for (size_t y = 0; y < h; ++y) filas[y] = &rgb[y * w * 3];
      png_read_image(png, filas.data());
      png_read_end(png, nullptr);
      png_destroy_read_struct(&png, &info, nullptr);
      benchmark::DoNotOptimize(rgb.data());
    }
  }
}

BENCHMARK(BM_CargarAnim3Fondos10Casts)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BareLibpngDecodes3Fondos10Casts)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

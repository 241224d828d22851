// What the animation tests share: an animation folder written at test time
// (description, score, jumps, pictures, sound) served as a local store on
// U:, the engine pieces a player needs on a headless window, and a message
// sink and exit hook that record.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "base/TGestorGDI.h"
#include "ehdd/TEHDDClient.h"
#include "media/FakeAudioAnim.h"
#include "media/TGestorAnim.h"
#include "platform/MessageBox.h"
#include "platform/gfx/Surface.h"
#include "platform/ui/Headless.h"

// Reaches the player's internals the public operations cannot: the shared
// tables the loader fills and its stopped flag.
struct TGestorAnimTestAccess {
  static void SetParada(TGestorAnim& anim, bool parada) { anim.d_->parada.store(parada ? 1 : 0); }
  static uint16_t NumImagenes(const TGestorAnim& anim) { return anim.d_->num_imagenes.load(); }
  static uint8_t FondoCargando(const TGestorAnim& anim) { return anim.d_->fondo_cargando.load(); }
  static const ImagenAnim& Imagen(const TGestorAnim& anim, uint16_t i) {
    return anim.d_->imagenes[i];
  }
  static void SetObservador(TGestorAnim& anim, std::function<void()> observador) {
    anim.d_->observador = std::move(observador);
  }
};

namespace anim_test {

namespace fs = std::filesystem;

// The bytes of a DEFANIM.TXT, built line by line with CR LF.
struct Fondo {
  std::string tipo = "PL";
  int prioridad = 1;
  std::vector<int> casts;
};

struct Cast {
  int x = 0;
  int y = 0;
  int ancho = 8;
  int alto = 8;
  int sprites = 1;
  int id_fondo = 1;
};

struct Descripcion {
  int ancho = 550;
  int alto = 412;
  std::vector<Fondo> fondos;
  std::vector<Cast> casts;

  std::string Texto() const {
    std::string t = "[CABECERA]\r\nversion=eVM01.00\r\nancho=" + std::to_string(ancho) +
                    "\r\nalto=" + std::to_string(alto) +
                    "\r\n\r\n[FONDOS]\r\nnumfondos=" + std::to_string(fondos.size()) + "\r\n";
    for (size_t k = 0; k < fondos.size(); ++k) {
      t += "fondo=" + std::to_string(k + 1) + "\r\ntipo=" + fondos[k].tipo +
           "\r\nprioridad=" + std::to_string(fondos[k].prioridad) + "\r\n";
      for (int c : fondos[k].casts) t += "cast=" + std::to_string(c) + "\r\n";
      t += "cast=end\r\n";
    }
    t += "\r\n[CASTS]\r\nnumcasts=" + std::to_string(casts.size()) + "\r\n";
    for (size_t i = 0; i < casts.size(); ++i) {
      const Cast& c = casts[i];
      t += "cast=" + std::to_string(i + 2) + "\r\ncx=" + std::to_string(c.x) +
           "\r\ncy=" + std::to_string(c.y) + "\r\nancho=" + std::to_string(c.ancho) +
           "\r\nalto=" + std::to_string(c.alto) + "\r\nnumsprites=" + std::to_string(c.sprites) +
           "\r\nidfondo=" + std::to_string(c.id_fondo) + "\r\n";
    }
    return t;
  }
};

// A score: 32 tracks and the sections, frame by frame.
struct Score {
  explicit Score(uint16_t frames_)
      : frames(frames_), pistas(32, std::vector<uint8_t>(2030, 0)), secciones(2030, 0) {}
  uint16_t frames;
  std::vector<std::vector<uint8_t>> pistas;
  std::vector<uint16_t> secciones;

  std::string VM02() const {
    std::string b = std::string("VM02.00", 8);
    b += static_cast<char>(frames & 0xFF);
    b += static_cast<char>(frames >> 8);
    for (const auto& p : pistas) b.append(reinterpret_cast<const char*>(p.data()), 2030);
    for (uint16_t s : secciones) {
      b += static_cast<char>(s & 0xFF);
      b += static_cast<char>(s >> 8);
    }
    return b;
  }
  std::string VM01() const {
    std::string b = std::string("VM01.10", 8);
    b += static_cast<char>(frames & 0xFF);
    b += static_cast<char>(frames >> 8);
    for (const auto& p : pistas) b.append(reinterpret_cast<const char*>(p.data()), 1500);
    for (size_t f = 0; f < 1500; ++f) b += static_cast<char>(secciones[f] & 0xFF);
    return b;
  }
};

// Cell i of a strip (counted from the left) is filled with Celda(i).
inline platform::gfx::COLORREF Celda(int i) {
  return platform::gfx::Rgb(static_cast<uint8_t>(40 + 20 * i), static_cast<uint8_t>(200 - 10 * i),
                            7);
}

// A folder U:\ANIM on a temporary local store.
class CarpetaAnim {
 public:
  CarpetaAnim() {
    char pattern[] = "/tmp/lectoria-anim-XXXXXX";
    if (mkdtemp(pattern) == nullptr) ADD_FAILURE() << "mkdtemp";
    raiz_ = pattern;
    fs::create_directories(raiz_ / "ANIM");
    cliente.Mount(raiz_.c_str(), 'U');
    cliente.AddLocalLetter('U', "");
  }
  ~CarpetaAnim() {
    std::error_code ignored;
    fs::remove_all(raiz_, ignored);
  }
  CarpetaAnim(const CarpetaAnim&) = delete;
  CarpetaAnim& operator=(const CarpetaAnim&) = delete;

  fs::path Dir() const { return raiz_ / "ANIM"; }
  fs::path Raiz() const { return raiz_; }

  void Escribir(const std::string& nombre, const std::string& bytes) const {
    std::ofstream(Dir() / nombre, std::ios::binary) << bytes;
  }
  void Borrar(const std::string& nombre) const { fs::remove(Dir() / nombre); }

  // A picture of n cells of w x h side by side, each its Celda colour.
  void Imagen(const std::string& nombre, int w, int h, int n = 1,
              platform::gfx::COLORREF fondo = 0) const {
    platform::gfx::Surface s(w * n, h);
    for (int i = 0; i < n; ++i) s.Fill({i * w, 0, w, h}, n == 1 && fondo != 0 ? fondo : Celda(i));
    std::string error;
    EXPECT_TRUE(platform::gfx::WritePng(s, (Dir() / nombre).string(), &error)) << error;
  }

  // Every picture of the description at its size, and a sound.
  void Imagenes(const Descripcion& d) const {
    for (size_t k = 0; k < d.fondos.size(); ++k) {
      Imagen("FONDO" + std::to_string(k + 1) + ".PNG", d.ancho, d.alto, 1,
             platform::gfx::Rgb(static_cast<uint8_t>(10 * (k + 1)), 0, 99));
    }
    for (size_t i = 0; i < d.casts.size(); ++i) {
      const Cast& c = d.casts[i];
      Imagen(TGestorAnim::NombreCast(static_cast<uint8_t>(c.id_fondo), static_cast<uint8_t>(i + 2),
                                     static_cast<uint8_t>(c.sprites)),
             c.ancho, c.alto, c.sprites);
    }
  }

  void Todo(const Descripcion& d, const Score& s, const std::string& jumps = "",
            size_t bytes_dialogo = 1000) const {
    Escribir("DEFANIM.TXT", d.Texto());
    Escribir("SCORE.VM", s.VM02());
    Escribir("JUMPS.TXT", jumps);
    Imagenes(d);
    Escribir("DIALOGO.OGG", std::string(bytes_dialogo, 'o'));
  }

  TEHDDClient cliente;

 private:
  fs::path raiz_;
};

// Boxes go to a list; the exit hook must never run.
class Mensajes {
 public:
  Mensajes() {
    platform::SetMessageSink([this](const std::string& text, const std::string&, unsigned type) {
      std::lock_guard<std::mutex> lock(mutex_);
      cajas_.push_back(text);
      return platform::DefaultButton(type);
    });
    platform::SetExitHook([this](int code) {
      std::lock_guard<std::mutex> lock(mutex_);
      salidas_.push_back(code);
      throw platform::ExitRequested(code);
    });
  }
  ~Mensajes() {
    platform::SetMessageSink(nullptr);
    platform::SetExitHook(nullptr);
  }
  std::vector<std::string> Cajas() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cajas_;
  }
  std::vector<int> Salidas() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return salidas_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> cajas_;
  std::vector<int> salidas_;
};

// A player on a headless 687 x 534 window over a folder.
struct Reproductor {
  explicit Reproductor(CarpetaAnim& carpeta, uint32_t ticks_hasta_empezar = 0)
      : audio(ticks_hasta_empezar) {
    SetUnitControlWindow(&ventana);
    anim.SetOSAL(&osal);
    anim.SetGestorGDI(&gdi);
    anim.SetEHDDClient(&carpeta.cliente);
    anim.SetGestorBMP(&bmp);
    anim.SetAudio(&audio);
    anim.SetCerrojoPagina(&pagina);
    bmp.SetEHDDClient(&carpeta.cliente);
  }
  ~Reproductor() { SetUnitControlWindow(nullptr); }

  // Loads U:\ANIM and waits for the loader.
  bool Cargar() {
    if (!anim.Iniciar()) return false;
    if (anim.CargarAnim("U:\\ANIM") != 0) return false;
    return anim.EsperarCarga(20000);
  }
  // One timer tick, then the sound moves on by avance_ms.
  void Tic(uint32_t avance_ms = 50) {
    anim.TimerTicAnim();
    audio.Tic(avance_ms);
  }
  platform::gfx::COLORREF Pixel(int x, int y) { return gdi.Superficie(anim.Area()).GetPixel(x, y); }
  // The animation plays from the loader's first step on: the loader waits.
  void TocarDesdeElPrimerPaso() {
    TGestorAnimTestAccess::SetObservador(anim, [this] {
      if (primer_paso.exchange(false)) TGestorAnimTestAccess::SetParada(anim, false);
    });
  }

  Mensajes mensajes;
  platform::ui::HeadlessControlSite ventana{687, 534};
  OSAL osal;
  TGestorGDI gdi;
  TGestorBMP bmp{&osal, &gdi, nullptr};
  FakeAudioAnim audio;
  CriticalSection pagina;
  // Before the animation: its loader may look at it until it is stopped.
  std::atomic<bool> primer_paso{true};
  TGestorAnim anim;
};

// One background of one picture and a score of five frames.
inline void UnFondo(CarpetaAnim& carpeta) {
  Descripcion d;
  d.fondos = {{"PL", 1, {}}};
  carpeta.Todo(d, Score(5));
}

}  // namespace anim_test

// What the page tests share on top of the document fixture: the hit-region
// table, the status icon's save slot, a recording sound side and a
// recording animation, solid-colour skin pictures written by the tests into
// the store (the skin roots are U:\SKIN and U:\CLASES), a manual press
// clock, and readers of the regions the page registered.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/gfx/Surface.h"
#include "player/AudioPaginaSinSonido.h"
#include "player/EJE_PANTALLA.h"
#include "player/IAnimPagina.h"
#include "player/IAudioPagina.h"
#include "player/RECT_VIRTUAL.h"
#include "player/TRectangulosVirtuales.h"
#include "tests/player/tae_fixture.h"

namespace tae_test {

// Logs each operation ("PlayAudio NAME F", "GrabarAudioSTR PATH", ...) and
// keeps the sentence state as the handlers leave it.
class AudioGrabador : public AudioPaginaSinSonido {
 public:
  std::vector<std::string> log;

 protected:
  void Llamada(const char* operacion, const char* texto, int numero) override {
    std::string linea = operacion;
    if (texto != nullptr) linea += " " + std::string(texto);
    if (numero >= 0) linea += " " + std::to_string(numero);
    log.push_back(linea);
  }
};

class AnimGrabadora : public IAnimPagina {
 public:
  void PlayAnim(uint16_t frame) override { log.push_back("PlayAnim " + std::to_string(frame)); }
  void PauseAnim() override { log.push_back("PauseAnim"); }
  void RecapAnim() override { log.push_back("RecapAnim"); }
  void CloseAnim() override { log.push_back("CloseAnim"); }
  void CambiarSubtitulos() override { log.push_back("CambiarSubtitulos"); }
  bool Cargada() override { return cargada; }
  bool Parada() override { return parada; }
  uint16_t NumFrames() override { return frames; }
  uint16_t Seccion(uint16_t frame) override {
    return frame < secciones.size() ? secciones[frame] : 0;
  }
  uint8_t PorcentajeAudio() override { return audio; }
  uint8_t PorcentajeImagenes() override { return imagenes; }
  void PintarFondo(uint16_t, uint16_t x, uint16_t y) override {
    log.push_back("PintarFondo " + std::to_string(x) + "," + std::to_string(y));
  }

  std::vector<std::string> log;
  bool cargada = false;
  bool parada = true;
  uint16_t frames = 0;
  std::vector<uint16_t> secciones;
  uint8_t audio = 0;
  uint8_t imagenes = 0;
};

// One region as the tests compare it.
struct Caja {
  uint8_t tipo;
  int left, top, right, bottom;
  bool operator==(const Caja&) const = default;
};

class PageFixture : public TaeFixture {
 protected:
  void SetUp() override {
    TaeFixture::SetUp();
    reloj_ = std::make_unique<platform::ScopedClock>(&clock_);
    tae_.SetAudioPagina(&audio_);
    tae_.SetAnimPagina(&anim_);
    regiones_.SetOSAL(&osal_);
    regiones_.SetGestorTAE(&tae_);
    ASSERT_TRUE(regiones_.Iniciar());
    Preparar(*formateador_);
  }
  void TearDown() override {
    tae_.EsperarMensajes(2000);
    formateador_.reset();
    tae_.SetAudioPagina(nullptr);
    tae_.SetAnimPagina(nullptr);
    reloj_.reset();
    TaeFixture::TearDown();
  }

  void Preparar(TFormatae& f) {
    f.SetCarpetaSkin("U:\\SKIN");
    f.SetCarpetaSkinUnidad("U:\\CLASES");
    f.SetColorNivel(0xBFDFDF);
    f.SetRectangulosVirtuales(&regiones_);
    const uint16_t guardar = gdi_.CrearBuffer(100, 100, 0, 0, &ventana_);
    f.SetSlotGuardar(static_cast<int16_t>(guardar));
    regiones_.SetFormatae(&f);
  }

  // A solid picture of the skin (folder "SKIN" or "CLASES", name without ".PNG").
  void Imagen(const std::string& nombre, int w, int h, uint32_t color,
              const std::string& carpeta = "SKIN") {
    platform::gfx::Surface s(w, h);
    s.Fill({0, 0, w, h}, color);
    std::string ruta = nombre;
    for (char& c : ruta) {
      if (c == '\\') c = '/';
    }
    const std::filesystem::path path =
        std::filesystem::path(almacen_.folder()) / carpeta / (ruta + ".PNG");
    std::filesystem::create_directories(path.parent_path());
    ASSERT_TRUE(platform::gfx::WritePng(s, path.string()));
  }

  // Loads the document, makes the formatter current and draws page 0.
  platform::gfx::Surface Pagina(const std::string& bytes, const std::string& nombre = "DOCSI.TAE") {
    Cargar(bytes, nombre);
    tae_.CambiarFormateador(formateador_.get());
    audio_.log.clear();
    anim_.log.clear();
    return Pintar(0);
  }

  // The regions in use, in slot order.
  std::vector<Caja> Cajas() const {
    std::vector<Caja> cajas;
    for (uint16_t s = 1; s < regiones_.Cuenta(); ++s) {
      const RECT_VIRTUAL* rv = regiones_.Region(s);
      if (rv->en_uso == 1) cajas.push_back({rv->tipo, rv->left, rv->top, rv->right, rv->bottom});
    }
    return cajas;
  }
  // The first region of a kind (null when none).
  RECT_VIRTUAL* Primera(uint8_t tipo, int n = 0) {
    for (uint16_t s = 1; s < regiones_.Cuenta(); ++s) {
      RECT_VIRTUAL* rv = regiones_.Region(s);
      if (rv->en_uso == 1 && rv->tipo == tipo && n-- == 0) return rv;
    }
    return nullptr;
  }

  // A click: move, press and release at one point.
  void Clic(int x, int y) {
    for (uint8_t e = 1; e <= 3; ++e) {
      regiones_.EventoRaton(static_cast<uint16_t>(x), static_cast<uint16_t>(y), e);
    }
    tae_.EsperarMensajes(2000);
  }
  // A key as the host sends it: the window's character with its key.
  void Tecla(uint16_t vk, char16_t caracter = 0) {
    ventana_.SetKeyChar(caracter);
    tae_.TeclaPulsada(vk);
    ventana_.SetKeyChar(0);
    tae_.EsperarMensajes(2000);
  }
  void Escribir(const std::u16string& texto) {
    for (char16_t c : texto) {
      const uint16_t vk = (c >= 'a' && c <= 'z')   ? static_cast<uint16_t>(c - 32)
                          : (c >= 'A' && c <= 'Z') ? c
                          : (c >= '0' && c <= '9') ? c
                          : c == ' '               ? 0x20
                                                   : 0xBA;
      Tecla(vk, c);
    }
  }

  platform::gfx::Surface Superficie() {
    return gdi_.Superficie(static_cast<uint16_t>(formateador_->ftae()->slot_pagina));
  }
  EJE_TRATADO& Registro(uint16_t n) { return formateador_->Auditoria()->bufejetrat[n]; }

  platform::ManualClock clock_{1000};
  std::unique_ptr<platform::ScopedClock> reloj_;
  AudioGrabador audio_;
  AnimGrabadora anim_;
  TRectangulosVirtuales regiones_;
};

}  // namespace tae_test

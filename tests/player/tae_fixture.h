// What the document and layout tests share: a store folder mounted on U:,
// the fake font (8 px characters, 4 px space, ascent 12, descent 3), a
// recording message sink, a headless 687 x 534 window with a page slot, the
// lesson manager and one unit formatter.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "ehdd/TEHDDClient.h"
#include "platform/MessageBox.h"
#include "platform/gfx/Font.h"
#include "platform/ui/Headless.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"

namespace tae_test {

constexpr uint32_t kBlanco = 0xFFFFFF;

// Boxes shown through the message sink, from any thread.
class Mensajes {
 public:
  void Instalar() {
    platform::SetMessageSink([this](const std::string& text, const std::string&, unsigned) {
      std::lock_guard<std::mutex> lock(mutex_);
      textos_.push_back(text);
      return platform::kIdOk;
    });
  }
  static void Quitar() { platform::SetMessageSink({}); }
  std::vector<std::string> Textos() {
    std::lock_guard<std::mutex> lock(mutex_);
    return textos_;
  }
  int Cuenta(const std::string& texto) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& t : textos_) n += t == texto;
    return n;
  }
  void Limpiar() {
    std::lock_guard<std::mutex> lock(mutex_);
    textos_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> textos_;
};

// A temporary folder served as drive U: in local mode.
class Almacen {
 public:
  explicit Almacen(TEHDDClient& client) {
    char pattern[] = "/tmp/lectoria-tae-XXXXXX";
    if (mkdtemp(pattern) != nullptr) folder_ = pattern;
    client.Mount(folder_.c_str(), 'U');
    client.AddLocalLetter('U', "");
  }
  ~Almacen() {
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }
  // Writes the file and gives its virtual path.
  std::string Escribir(const std::string& nombre, const std::string& bytes) const {
    std::ofstream(folder_ + "/" + nombre, std::ios::binary) << bytes;
    return "U:\\" + nombre;
  }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
};

class TaeFixture : public testing::Test {
 protected:
  static constexpr int16_t kAncho = 687;
  static constexpr int16_t kAlto = 534;

  TaeFixture() : almacen_(client_), ventana_(kAncho, kAlto) {}

  void SetUp() override {
    fuentes_ = std::make_shared<platform::gfx::FakeFontBackend>(8, 12, 3);
    fuentes_->SetAdvance(U' ', 4);
    platform::gfx::SetFontBackend(fuentes_);
    mensajes_.Instalar();
    gdi_.SetOSAL(&osal_);
    SetUnitControlWindow(&ventana_);
    tae_.SetOSAL(&osal_);
    tae_.SetGestorGDI(&gdi_);
    tae_.SetEHDDClient(&client_);
    tae_.Iniciar();
    formateador_ = Formateador(664);
  }

  void TearDown() override {
    formateador_.reset();
    SetUnitControlWindow(nullptr);
    Mensajes::Quitar();
    SetOSALMallocForTesting(nullptr);
    platform::gfx::SetFontBackend(nullptr);
  }

  // A unit formatter with a text area of the width, drawing into its own slot.
  std::unique_ptr<TFormatae> Formateador(int16_t ancho_area) {
    std::unique_ptr<TFormatae> f(
        TFormatae::Crear(&tae_, 0, 0, ancho_area, kAlto, kAncho, kAlto, 0, 0, 0xFFFFFF, 0xBFDFDF));
    const uint16_t slot = gdi_.CrearBuffer(kAncho, kAlto, 0, 0, &ventana_);
    f->SetSlotPagina(static_cast<int16_t>(slot));
    return f;
  }

  // Loads the bytes as the document of that name.
  void Cargar(const std::string& bytes, const std::string& nombre = "DOC.TAE") {
    formateador_->CargarDocumento(almacen_.Escribir(nombre, bytes).c_str());
  }

  // The page drawn, as the slot holds it.
  platform::gfx::Surface Pintar(uint16_t pagina, int32_t* resultado = nullptr) {
    const int32_t r = formateador_->PintarPagina(pagina);
    if (resultado != nullptr) *resultado = r;
    tae_.EsperarMensajes(2000);  // boxes of a render are shown once it ends
    return gdi_.Superficie(static_cast<uint16_t>(formateador_->ftae()->slot_pagina));
  }

  // Offset of the first occurrence of the bytes in the loaded text.
  uint32_t Offset(const std::string& bytes) const {
    return static_cast<uint32_t>(
        std::string(formateador_->Texto(), formateador_->LongitudTexto()).find(bytes));
  }

  // Whether any pixel of the rectangle differs from the colour.
  static bool Tinta(const platform::gfx::Surface& s, int x, int y, int w, int h,
                    uint32_t fondo = kBlanco) {
    for (int j = y; j < y + h; ++j) {
      for (int i = x; i < x + w; ++i) {
        if (s.GetPixel(i, j) != fondo) return true;
      }
    }
    return false;
  }

  // The first row at or below y0 with ink in the column range.
  static int PrimeraFilaConTinta(const platform::gfx::Surface& s, int x, int w, int y0 = 0) {
    for (int j = y0; j < s.Height(); ++j) {
      if (Tinta(s, x, j, w, 1)) return j;
    }
    return -1;
  }

  std::shared_ptr<platform::gfx::FakeFontBackend> fuentes_;
  Mensajes mensajes_;
  OSAL osal_;
  TEHDDClient client_;
  Almacen almacen_;
  platform::ui::HeadlessControlSite ventana_;
  TGestorGDI gdi_;
  TGestorTAE tae_;
  std::unique_ptr<TFormatae> formateador_;
};

}  // namespace tae_test

// The engine's off-screen drawing surfaces: ten slots, each a surface shown
// at a position of a control window.
//
// All drawing of the lesson player and the media engine goes into a slot:
// fills, text, lines, bitmaps and copies between slots. MostrarBuffer then
// presents a rectangle of the slot through the slot's window. Coordinates and
// sizes are u16; colours are COLORREF (0x00BBGGRR).
//
// Slots are locked one by one around each operation, so two threads drawing
// into one slot never corrupt it. An index of 10 or more, or a free slot,
// makes an operation do nothing (CharWidths and CrearDIB do not need the
// slot's surface and work on any index).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/gfx/Colour.h"
#include "platform/gfx/Dib.h"
#include "platform/gfx/Font.h"
#include "platform/gfx/Surface.h"
#include "platform/ui/ControlSite.h"

class OSAL;

using COLORREF = platform::gfx::COLORREF;
using LOGFONTA = platform::gfx::LOGFONTA;
using BITMAPINFOHEADER = platform::gfx::BITMAPINFOHEADER;
using BITMAPINFO = platform::gfx::BITMAPINFO;
// A bitmap is a surface owned by whoever made it (deleted with DeleteBitmap).
using HBITMAP = platform::gfx::Surface*;
// A realised font.
using HFONT = std::shared_ptr<platform::gfx::FontInstance>;
using HWND = platform::ui::IControlSite*;

struct TBufferGDI {
  uint8_t en_uso = 0;
  uint16_t ancho = 0;
  uint16_t alto = 0;
  uint16_t ventana_x = 0;
  uint16_t ventana_y = 0;
  HFONT fuente_seleccionada;  // set by SelectFont until ReleaseFont
  HFONT fuente_anterior;      // the font SelectFont replaced
  HWND ventana = nullptr;
  std::unique_ptr<platform::gfx::Surface> superficie;  // the surface and its bitmap

  // Text state of the surface, as SelectFont, TextOutFont and TextColor leave it.
  HFONT fuente_actual;  // null: the default font, made when text first needs it
  int8_t extra = 0;
  COLORREF color_texto = 0x000000;
  COLORREF color_fondo = 0xFFFFFF;

  std::recursive_mutex cerrojo;
};

class TGestorGDI {
 public:
  static constexpr uint16_t kNumBuffers = 10;
  // What CrearBuffer gives when every slot is taken.
  static constexpr uint16_t kBufferInvalido = 0xFFFF;

  TGestorGDI() { Iniciar(); }
  ~TGestorGDI();
  TGestorGDI(const TGestorGDI&) = delete;
  TGestorGDI& operator=(const TGestorGDI&) = delete;

  void SetOSAL(OSAL* osal) { osal_ = osal; }

  void Iniciar();
  uint16_t CrearBuffer(uint16_t ancho, uint16_t alto, uint16_t ventana_x, uint16_t ventana_y,
                       HWND ventana);
  void MostrarBuffer(uint16_t buffer, uint16_t x, uint16_t y, uint16_t w, uint16_t h);
  void FillRect(uint16_t buffer, uint16_t x, uint16_t y, uint16_t w, uint16_t h, COLORREF color);
  // Text at (x, y), signed: a run partly above or left of the surface is
  // drawn clipped to it.
  void TextOutFont(uint16_t buffer, int32_t x, int32_t y, const char* texto, int longitud,
                   const LOGFONTA& fuente, int8_t extra, COLORREF color_texto,
                   COLORREF color_fondo);
  void TextOutFontW(uint16_t buffer, int32_t x, int32_t y, const uint16_t* texto, int longitud,
                    const LOGFONTA& fuente, int8_t extra, COLORREF color_texto,
                    COLORREF color_fondo);
  // Advance of each byte 0-255 in the font, cut to 8 bits.
  void CharWidths(uint16_t buffer, const LOGFONTA& fuente, uint8_t tabla[256]);
  void SelectFont(uint16_t buffer, const LOGFONTA& fuente, int8_t extra, COLORREF color_texto,
                  COLORREF color_fondo);
  void TextColor(uint16_t buffer, COLORREF color);
  void TextOut(uint16_t buffer, uint16_t x, uint16_t y, const char* texto, int longitud);
  void ReleaseFont(uint16_t buffer);
  void DrawBitmap(uint16_t buffer, HBITMAP bitmap, uint16_t x, uint16_t y, uint16_t w, uint16_t h);
  // A bitmap from 24-bit DIB pixels laid out as the header says; null when
  // the header is not one. The overload checks the pixels' size as well.
  HBITMAP CrearDIB(uint16_t buffer, const BITMAPINFOHEADER* cabecera, const void* bits,
                   const BITMAPINFO* info);
  HBITMAP CrearDIB(uint16_t buffer, const BITMAPINFOHEADER* cabecera, const void* bits,
                   size_t bits_size);
  void DrawLine(uint16_t buffer, uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2,
                COLORREF color);
  void CopyBuffer(uint16_t buffer, uint16_t x_origen, uint16_t y_origen, uint16_t destino,
                  uint16_t x_destino, uint16_t y_destino, uint16_t w, uint16_t h);
  void ShadeBuffer(uint16_t buffer);
  void FreeBuffer(uint16_t buffer);

  // For inspection: whether a slot is taken, and a copy of its surface.
  bool EnUso(uint16_t buffer);
  platform::gfx::Surface Superficie(uint16_t buffer);

 private:
  template <typename F>
  void ConBuffer(uint16_t buffer, F&& f);
  void TextoConFuente(uint16_t buffer, int32_t x, int32_t y, std::u16string_view texto,
                      const LOGFONTA& fuente, int8_t extra, COLORREF color_texto,
                      COLORREF color_fondo);
  static void Liberar(TBufferGDI& b);

  TBufferGDI buffers_[kNumBuffers];
  OSAL* osal_ = nullptr;
  std::mutex tabla_;  // taking a free slot
};

// The font a surface draws with before any is selected.
LOGFONTA FuentePorDefecto();

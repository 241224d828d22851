#include "base/TGestorGDI.h"

#include <new>
#include <string_view>

#include "base/OSAL.h"
#include "platform/gfx/CodePage.h"
#include "platform/gfx/TextDraw.h"

using platform::gfx::Rect;
using platform::gfx::Surface;

LOGFONTA FuentePorDefecto() {
  return platform::gfx::MakeLogFont("System", 16, 700);
}

namespace {
constexpr COLORREF kColorSombra = 0x666666;
}

template <typename F>
void TGestorGDI::ConBuffer(uint16_t buffer, F&& f) {
  if (buffer >= kNumBuffers) return;
  TBufferGDI& b = buffers_[buffer];
  std::lock_guard<std::recursive_mutex> lock(b.cerrojo);
  if (!b.en_uso || !b.superficie) return;
  f(b);
}

TGestorGDI::~TGestorGDI() {
  for (auto& b : buffers_) {
    std::lock_guard<std::recursive_mutex> lock(b.cerrojo);
    if (b.en_uso) Liberar(b);
  }
  OSAL::Trace(kTraceModulos, "Terminado TGestorGDI.");
}

void TGestorGDI::Iniciar() {
  std::lock_guard<std::mutex> tabla(tabla_);
  for (auto& b : buffers_) {
    std::lock_guard<std::recursive_mutex> lock(b.cerrojo);
    if (b.en_uso) Liberar(b);
  }
}

uint16_t TGestorGDI::CrearBuffer(uint16_t ancho, uint16_t alto, uint16_t ventana_x,
                                 uint16_t ventana_y, HWND ventana) {
  std::lock_guard<std::mutex> tabla(tabla_);
  for (uint16_t i = 0; i < kNumBuffers; ++i) {
    TBufferGDI& b = buffers_[i];
    std::lock_guard<std::recursive_mutex> lock(b.cerrojo);
    if (b.en_uso) continue;
    b.ancho = ancho;
    b.alto = alto;
    b.ventana_x = ventana_x;
    b.ventana_y = ventana_y;
    b.ventana = ventana;
    b.fuente_seleccionada.reset();
    b.fuente_anterior.reset();
    try {
      b.superficie = std::make_unique<Surface>(ancho, alto);
    } catch (const std::bad_alloc&) {
      return kBufferInvalido;  // no memory for the surface: the slot stays free
    }
    b.fuente_actual.reset();  // the default font is made when text first needs it
    b.extra = 0;
    b.color_texto = 0x000000;
    b.color_fondo = 0xFFFFFF;
    b.en_uso = 1;
    return i;
  }
  return kBufferInvalido;
}

void TGestorGDI::MostrarBuffer(uint16_t buffer, uint16_t x, uint16_t y, uint16_t w, uint16_t h) {
  ConBuffer(buffer, [&](TBufferGDI& b) {
    if (b.ventana == nullptr) return;
    if (w == 0) {
      b.ventana->Present(*b.superficie, Rect{0, 0, b.ancho, b.alto}, b.ventana_x, b.ventana_y);
    } else {
      b.ventana->Present(*b.superficie, Rect{x, y, w, h}, b.ventana_x + x, b.ventana_y + y);
    }
  });
}

void TGestorGDI::FillRect(uint16_t buffer, uint16_t x, uint16_t y, uint16_t w, uint16_t h,
                          COLORREF color) {
  ConBuffer(buffer, [&](TBufferGDI& b) { b.superficie->Fill(Rect{x, y, w, h}, color); });
}

void TGestorGDI::TextoConFuente(uint16_t buffer, int32_t x, int32_t y, std::u16string_view texto,
                                const LOGFONTA& fuente, int8_t extra, COLORREF color_texto,
                                COLORREF color_fondo) {
  ConBuffer(buffer, [&](TBufferGDI& b) {
    HFONT font = platform::gfx::CreateFont(fuente);
    // The spacing and colours stay set on the surface, as the font does not.
    b.extra = extra;
    b.color_texto = color_texto;
    b.color_fondo = color_fondo;
    platform::gfx::DrawText(*b.superficie, x, y, *font, texto, extra, color_texto, color_fondo);
  });
}

void TGestorGDI::TextOutFont(uint16_t buffer, int32_t x, int32_t y, const char* texto,
                             int longitud, const LOGFONTA& fuente, int8_t extra,
                             COLORREF color_texto, COLORREF color_fondo) {
  if (texto == nullptr || longitud <= 0) longitud = 0;
  std::u16string units =
      platform::gfx::BytesToUnicode(fuente.lfCharSet, texto, static_cast<size_t>(longitud));
  TextoConFuente(buffer, x, y, units, fuente, extra, color_texto, color_fondo);
}

void TGestorGDI::TextOutFontW(uint16_t buffer, int32_t x, int32_t y, const uint16_t* texto,
                              int longitud, const LOGFONTA& fuente, int8_t extra,
                              COLORREF color_texto, COLORREF color_fondo) {
  if (texto == nullptr || longitud <= 0) longitud = 0;
  std::u16string units(texto, texto + longitud);
  TextoConFuente(buffer, x, y, units, fuente, extra, color_texto, color_fondo);
}

void TGestorGDI::CharWidths(uint16_t buffer, const LOGFONTA& fuente, uint8_t tabla[256]) {
  if (tabla == nullptr) return;
  // The widths depend on the font alone; they come from its cached table.
  const std::array<int, 256> anchos = platform::gfx::CharWidthTable(fuente);
  for (int c = 0; c < 256; ++c) tabla[c] = static_cast<uint8_t>(anchos[c] & 0xFF);
}

void TGestorGDI::SelectFont(uint16_t buffer, const LOGFONTA& fuente, int8_t extra,
                            COLORREF color_texto, COLORREF color_fondo) {
  ConBuffer(buffer, [&](TBufferGDI& b) {
    HFONT font = platform::gfx::CreateFont(fuente);
    // A second selection keeps the font the first one replaced, so the
    // release puts the surface's own font back.
    if (!b.fuente_seleccionada) b.fuente_anterior = b.fuente_actual;
    b.fuente_seleccionada = font;
    b.fuente_actual = font;
    b.extra = extra;
    b.color_texto = color_texto;
    b.color_fondo = color_fondo;
  });
}

void TGestorGDI::TextColor(uint16_t buffer, COLORREF color) {
  ConBuffer(buffer, [&](TBufferGDI& b) { b.color_texto = color; });
}

void TGestorGDI::TextOut(uint16_t buffer, uint16_t x, uint16_t y, const char* texto, int longitud) {
  if (texto == nullptr || longitud <= 0) longitud = 0;
  ConBuffer(buffer, [&](TBufferGDI& b) {
    if (!b.fuente_actual) b.fuente_actual = platform::gfx::CreateFont(FuentePorDefecto());
    platform::gfx::DrawTextBytes(*b.superficie, x, y, *b.fuente_actual, texto,
                                 static_cast<size_t>(longitud), b.extra, b.color_texto,
                                 b.color_fondo);
  });
}

void TGestorGDI::ReleaseFont(uint16_t buffer) {
  ConBuffer(buffer, [&](TBufferGDI& b) {
    if (!b.fuente_seleccionada) return;
    b.fuente_actual = std::move(b.fuente_anterior);
    b.fuente_anterior.reset();
    b.fuente_seleccionada.reset();
  });
}

void TGestorGDI::DrawBitmap(uint16_t buffer, HBITMAP bitmap, uint16_t x, uint16_t y, uint16_t w,
                            uint16_t h) {
  if (bitmap == nullptr) return;
  ConBuffer(buffer, [&](TBufferGDI& b) {
    platform::gfx::CopyRect(*b.superficie, x, y, *bitmap, 0, 0, w, h);
  });
}

HBITMAP TGestorGDI::CrearDIB(uint16_t buffer, const BITMAPINFOHEADER* cabecera, const void* bits,
                             const BITMAPINFO* info) {
  if (cabecera == nullptr) return nullptr;
  // The caller lays out the pixels as the header says: stride x height bytes.
  size_t filas = static_cast<size_t>(std::llabs(static_cast<int64_t>(cabecera->biHeight)));
  size_t stride = platform::gfx::DibStride24(cabecera->biWidth > 0 ? cabecera->biWidth : 0);
  return CrearDIB(buffer, cabecera, bits, stride * filas);
}

HBITMAP TGestorGDI::CrearDIB(uint16_t buffer, const BITMAPINFOHEADER* cabecera, const void* bits,
                             size_t bits_size) {
  if (cabecera == nullptr) return nullptr;
  try {
    return platform::gfx::SurfaceFromDib(*cabecera, bits, bits_size).release();
  } catch (const std::bad_alloc&) {
    return nullptr;  // no memory for the bitmap
  }
}

void TGestorGDI::DrawLine(uint16_t buffer, uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2,
                          COLORREF color) {
  ConBuffer(buffer, [&](TBufferGDI& b) { b.superficie->DrawLine(x1, y1, x2, y2, color); });
}

void TGestorGDI::CopyBuffer(uint16_t buffer, uint16_t x_origen, uint16_t y_origen, uint16_t destino,
                            uint16_t x_destino, uint16_t y_destino, uint16_t w, uint16_t h) {
  if (buffer >= kNumBuffers || destino >= kNumBuffers) return;
  TBufferGDI& origen = buffers_[buffer];
  TBufferGDI& meta = buffers_[destino];
  auto copiar = [&] {
    if (!origen.en_uso || !meta.en_uso || !origen.superficie || !meta.superficie) return;
    platform::gfx::CopyRect(*meta.superficie, x_destino, y_destino, *origen.superficie, x_origen,
                            y_origen, w, h);
  };
  if (buffer == destino) {
    std::lock_guard<std::recursive_mutex> lock(origen.cerrojo);
    copiar();
  } else {
    // Both slots, without deadlock when another thread copies the other way.
    std::scoped_lock lock(origen.cerrojo, meta.cerrojo);
    copiar();
  }
}

void TGestorGDI::ShadeBuffer(uint16_t buffer) {
  ConBuffer(buffer, [&](TBufferGDI& b) {
    Surface& s = *b.superficie;
    const uint32_t sombra = platform::gfx::ToXrgb(kColorSombra);
    for (int y = 0; y < s.Height(); ++y) {
      uint32_t* fila = s.Row(y);
      for (int x = (y % 2 == 0) ? 1 : 0; x < s.Width(); x += 2) fila[x] = sombra;
    }
  });
}

void TGestorGDI::Liberar(TBufferGDI& b) {
  b.en_uso = 0;
  b.fuente_seleccionada.reset();
  b.fuente_anterior.reset();
  b.fuente_actual.reset();
  b.superficie.reset();
  b.ventana = nullptr;
}

void TGestorGDI::FreeBuffer(uint16_t buffer) {
  if (buffer >= kNumBuffers) return;
  TBufferGDI& b = buffers_[buffer];
  std::lock_guard<std::recursive_mutex> lock(b.cerrojo);
  if (b.en_uso) Liberar(b);
}

bool TGestorGDI::EnUso(uint16_t buffer) {
  if (buffer >= kNumBuffers) return false;
  std::lock_guard<std::recursive_mutex> lock(buffers_[buffer].cerrojo);
  return buffers_[buffer].en_uso != 0;
}

Surface TGestorGDI::Superficie(uint16_t buffer) {
  Surface copia;
  ConBuffer(buffer, [&](TBufferGDI& b) { copia = *b.superficie; });
  return copia;
}

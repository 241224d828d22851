#include "base/TGestorBMP.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"

using platform::gfx::DibStride24;
using platform::gfx::Rect;
using platform::gfx::Surface;

namespace {

constexpr size_t kBytesFirma = 8;
constexpr uint32_t kBytesCabecerasBMP = 54;  // file header + info header

// libpng errors return to the decode's setjmp; nothing unwinds through
// libpng's frames.
[[noreturn]] void ErrorPNG(png_structp png, png_const_charp /*mensaje*/) {
  png_longjmp(png, 1);
}

// Warnings (a damaged ancillary chunk, say) are not worth a trace.
void AvisoPNG(png_structp /*png*/, png_const_charp /*mensaje*/) {}

}  // namespace

TGestorBMP::TGestorBMP() {
  // The header and its colour table, all zero; only the header is used.
  void* bloque = OSAL::Malloc(kTamanoBitmapInfo);
  if (bloque != nullptr) {
    std::memset(bloque, 0, kTamanoBitmapInfo);
    info_bitmap_ = new (bloque) BITMAPINFO{};
  }
}

TGestorBMP::TGestorBMP(OSAL* osal, TGestorGDI* gdi, TEHDDClient* ehdd) : TGestorBMP() {
  osal_ = osal;
  gdi_ = gdi;
  ehdd_ = ehdd;
}

TGestorBMP::~TGestorBMP() {
  LiberarPNG();
  OSAL::Free(info_bitmap_);
  OSAL::Trace(kTraceModulos, "Terminado TGestorBMP.");
}

void TGestorBMP::LiberarPNG() {
  if (png_ != nullptr) {
    png_structp png = png_;
    png_infop info = info_png_;
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
  png_ = nullptr;
  info_png_ = nullptr;
}

void TGestorBMP::LeerPNGCallback(png_structp png, png_bytep datos, size_t longitud) {
  auto* lectura = static_cast<Lectura*>(png_get_io_ptr(png));
  bool completo = false;
  if (lectura != nullptr && longitud <= std::numeric_limits<uint32_t>::max()) {
    try {
      completo = lectura->ehdd->Leer(datos, 1, static_cast<uint32_t>(longitud), lectura->fichero) ==
                 longitud;
    } catch (...) {
      // Kept for the loader to rethrow once the decode is cleaned up.
      lectura->excepcion = std::current_exception();
    }
  }
  // Outside the handler: png_error leaves this frame by longjmp.
  if (!completo) png_error(png, "lectura incompleta");
}

// Steps from the signature on. Only libpng calls and plain values live in
// this frame, so the longjmp of an error skips nothing that needs a
// destructor; what the decode allocates is in the Lectura, which the caller
// frees on every way out.
TGestorBMP::Resultado TGestorBMP::DecodificarPNG(Lectura& lectura) {
  if (setjmp(png_jmpbuf(png_))) return kErrorPNG;

  png_set_read_fn(png_, &lectura, LeerPNGCallback);
  png_set_sig_bytes(png_, static_cast<int>(kBytesFirma));
  // Headers that promise more than any course picture are refused before
  // anything is allocated for them.
  png_set_user_limits(png_, kMaxLadoPNG, kMaxLadoPNG);
  png_set_chunk_malloc_max(png_, kMaxBytesChunk);
  png_read_info(png_, info_png_);

  ancho_ = png_get_image_width(png_, info_png_);
  alto_ = png_get_image_height(png_, info_png_);
  profundidad_ = png_get_bit_depth(png_, info_png_);
  tipo_color_ = png_get_color_type(png_, info_png_);

  if (tipo_color_ == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png_);
  if (tipo_color_ == PNG_COLOR_TYPE_GRAY && profundidad_ < 8) png_set_expand_gray_1_2_4_to_8(png_);
  if (png_get_valid(png_, info_png_, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png_);
  if (profundidad_ == 16) png_set_strip_16(png_);
  if (tipo_color_ == PNG_COLOR_TYPE_GRAY || tipo_color_ == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_gray_to_rgb(png_);
  }
  double gamma_fichero = 0;
  if (png_get_gAMA(png_, info_png_, &gamma_fichero))
    png_set_gamma(png_, gamma_pantalla_, gamma_fichero);
  // Callers take 3 bytes a pixel, so an alpha channel (its own or from
  // tRNS) is dropped rather than left to skew the rows.
  png_set_strip_alpha(png_);
  png_set_interlace_handling(png_);
  png_read_update_info(png_, info_png_);

  const size_t bytes_fila = png_get_rowbytes(png_, info_png_);
  if (png_get_channels(png_, info_png_) != 3 || bytes_fila != size_t{ancho_} * 3)
    return kSinMemoria;
  if (alto_ == 0 || bytes_fila > kMaxBytesImagen / alto_) return kSinMemoria;

  lectura.rgb = static_cast<uint8_t*>(OSAL::Malloc(bytes_fila * alto_));
  lectura.filas = static_cast<png_bytep*>(OSAL::Malloc(sizeof(png_bytep) * alto_));
  if (lectura.rgb == nullptr || lectura.filas == nullptr) return kSinMemoria;
  for (uint32_t y = 0; y < alto_; ++y) lectura.filas[y] = lectura.rgb + size_t{y} * bytes_fila;
  png_read_image(png_, lectura.filas);
  OSAL::Free(lectura.filas);
  lectura.filas = nullptr;
  png_read_end(png_, nullptr);
  return kLeido;
}

TGestorBMP::Resultado TGestorBMP::LeerPNG(const char* path, uint8_t** rgb) {
  *rgb = nullptr;
  ancho_ = alto_ = profundidad_ = tipo_color_ = 0;
  gamma_pantalla_ = 2.2;
  if (ehdd_ == nullptr || path == nullptr) return kNoAbre;

  Lectura lectura;
  lectura.ehdd = ehdd_;
  lectura.fichero = ehdd_->Abrir(path, 0);
  if (lectura.fichero == nullptr) return kNoAbre;

  Resultado resultado = kFirma;
  try {
    png_byte firma[kBytesFirma];
    if (ehdd_->Leer(firma, 1, kBytesFirma, lectura.fichero) == kBytesFirma &&
        png_sig_cmp(firma, 0, kBytesFirma) == 0) {
      resultado = kLeido;
    }
  } catch (...) {
    lectura.excepcion = std::current_exception();
  }

  if (resultado == kLeido && !lectura.excepcion) {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorPNG, AvisoPNG);
    if (png_ != nullptr) info_png_ = png_create_info_struct(png_);
    resultado = (png_ == nullptr || info_png_ == nullptr) ? kSinEstado : DecodificarPNG(lectura);
  }

  // Every way out: the row table goes, the image too unless it was read
  // whole, the libpng state is destroyed and the file closed.
  OSAL::Free(lectura.filas);
  if (resultado != kLeido || lectura.excepcion) {
    OSAL::Free(lectura.rgb);
    lectura.rgb = nullptr;
    if (resultado == kLeido) resultado = kErrorPNG;
  }
  LiberarPNG();
  try {
    ehdd_->Cerrar(lectura.fichero);
  } catch (...) {
    if (!lectura.excepcion) lectura.excepcion = std::current_exception();
  }
  if (lectura.excepcion) {
    OSAL::Free(lectura.rgb);  // a close that threw after a whole read
    std::rethrow_exception(lectura.excepcion);
  }
  *rgb = lectura.rgb;
  return resultado;
}

void TGestorBMP::Informar(const char* path, const char* origen, int paso) {
  const char* nombre = path != nullptr ? path : "";
  if (paso == 1) {
    char linea[512];
    std::snprintf(linea, sizeof(linea), "Imposible abrir el fichero PNG '%s'.", nombre);
    OSAL::Trace(kTraceError, linea);
  } else if (paso == 2) {
    OSAL::Trace(kTraceError, "Imposible leer la imagen PNG.");
  }
  if (ehdd_ != nullptr) {
    char etiqueta[64];
    std::snprintf(etiqueta, sizeof(etiqueta), "%s:%d", origen, paso);
    ehdd_->ReportMissingImage(nombre, etiqueta);
  }
}

uint8_t* TGestorBMP::LeerPNGBloqueado(const char* path, const char* origen, uint32_t* ancho,
                                      uint32_t* alto) {
  if (ancho != nullptr) *ancho = 0;
  if (alto != nullptr) *alto = 0;
  uint8_t* rgb = nullptr;
  const Resultado resultado = LeerPNG(path, &rgb);
  if (resultado != kLeido) {
    Informar(path, origen, resultado == kNoAbre ? 1 : resultado == kSinMemoria ? 3 : 2);
    return nullptr;
  }
  if (ancho != nullptr) *ancho = ancho_;
  if (alto != nullptr) *alto = alto_;
  return rgb;
}

uint8_t* TGestorBMP::LeerPNGToMemoryRGB(const char* path) {
  return LeerPNGToMemoryRGB(path, nullptr, nullptr);
}

uint8_t* TGestorBMP::LeerPNGToMemoryRGB(const char* path, uint32_t* ancho, uint32_t* alto) {
  std::lock_guard<std::mutex> lock(cerrojo_);
  return LeerPNGBloqueado(path, "LeerPNGToMemoryRGB", ancho, alto);
}

HBITMAP TGestorBMP::LeerBitmapPNGDisco(uint16_t buffer, const char* path) {
  std::lock_guard<std::mutex> lock(cerrojo_);
  uint32_t ancho = 0;
  uint32_t alto = 0;
  uint8_t* rgb = LeerPNGBloqueado(path, "LeerBitmapPNGDisco", &ancho, &alto);
  if (rgb == nullptr) return BitmapNoEncontrado();
  HBITMAP bitmap = CrearBitmapRGB(buffer, rgb, size_t{ancho} * 3, ancho, alto);
  OSAL::Free(rgb);
  if (bitmap == nullptr) {
    Informar(path, "LeerBitmapPNGDisco", 3);
    return BitmapNoEncontrado();
  }
  return bitmap;
}

// A top-down 24-bit bitmap of ancho x alto RGB pixels whose rows start
// paso_origen bytes apart. Null when the size is not drawable or memory runs
// out.
HBITMAP TGestorBMP::CrearBitmapRGB(uint16_t buffer, const uint8_t* origen, size_t paso_origen,
                                   uint32_t ancho, uint32_t alto) {
  if (gdi_ == nullptr || info_bitmap_ == nullptr || ancho == 0 || alto == 0 ||
      ancho > static_cast<uint32_t>(platform::gfx::kMaxDibSide) ||
      alto > static_cast<uint32_t>(platform::gfx::kMaxDibSide)) {
    return nullptr;
  }
  // At most 49152 x 16384 bytes, well inside the header's 32-bit sizes.
  const size_t paso = DibStride24(ancho);
  const size_t tamano = paso * alto;

  cabecera_fichero_.bfType = 0x4D42;
  cabecera_fichero_.bfSize = kBytesCabecerasBMP + static_cast<uint32_t>(tamano);
  cabecera_fichero_.bfReserved1 = 0;
  cabecera_fichero_.bfReserved2 = 0;
  cabecera_fichero_.bfOffBits = kBytesCabecerasBMP;

  BITMAPINFOHEADER& cabecera = info_bitmap_->bmiHeader;
  cabecera = BITMAPINFOHEADER{};
  cabecera.biSize = sizeof(BITMAPINFOHEADER);
  cabecera.biWidth = static_cast<int32_t>(ancho);
  cabecera.biHeight = -static_cast<int32_t>(alto);  // rows top-down
  cabecera.biPlanes = 1;
  cabecera.biBitCount = 24;
  cabecera.biCompression = platform::gfx::BI_RGB;
  cabecera.biSizeImage = static_cast<uint32_t>(tamano);

  // The bitmap is a surface: the RGB rows go straight into its pixels,
  // without a BGR copy in between.
  std::unique_ptr<Surface> bitmap;
  try {
    bitmap = std::make_unique<Surface>(static_cast<int>(ancho), static_cast<int>(alto));
  } catch (const std::bad_alloc&) {
    return nullptr;  // no memory for the bitmap
  }
  for (uint32_t y = 0; y < alto; ++y) {
    const uint8_t* p = origen + size_t{y} * paso_origen;
    uint32_t* q = bitmap->Row(static_cast<int>(y));
    for (uint32_t x = 0; x < ancho; ++x, p += 3) {
      q[x] = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
  }
  return bitmap.release();
}

// Frame a of the strip begins (n - a - 1) x w pixels into the first row,
// and a strip row is n x w pixels. The caller has checked a < n and the
// sizes.
HBITMAP TGestorBMP::Frame(uint16_t buffer, uint8_t a, uint16_t w, uint16_t h, const uint8_t* tira,
                          uint8_t n) {
  const size_t fila_tira = size_t{n} * w * 3;
  const uint8_t* origen = tira + size_t(n - a - 1) * w * 3;
  HBITMAP bitmap = CrearBitmapRGB(buffer, origen, fila_tira, w, h);
  return bitmap != nullptr ? bitmap : BitmapNoEncontrado();
}

HBITMAP TGestorBMP::BitmapFromRGBFrame(uint16_t buffer, uint8_t a, uint16_t w, uint16_t h,
                                       const uint8_t* tira, uint8_t n) {
  if (tira == nullptr) return BitmapNoEncontrado();
  std::lock_guard<std::mutex> lock(cerrojo_);
  if (n == 0 || a >= n || w == 0 || h == 0) return BitmapNoEncontrado();
  return Frame(buffer, a, w, h, tira, n);
}

HBITMAP TGestorBMP::BitmapFromRGBFrame(uint16_t buffer, uint8_t a, uint16_t w, uint16_t h,
                                       const uint8_t* tira, uint8_t n, uint32_t ancho_tira,
                                       uint32_t alto_tira) {
  if (tira == nullptr) return BitmapNoEncontrado();
  std::lock_guard<std::mutex> lock(cerrojo_);
  // A strip of another width would skew every row after the first.
  if (n == 0 || a >= n || w == 0 || h == 0 || uint64_t{ancho_tira} != uint64_t{n} * w ||
      alto_tira < h) {
    return BitmapNoEncontrado();
  }
  return Frame(buffer, a, w, h, tira, n);
}

void TGestorBMP::BitmapSize(HBITMAP bitmap, uint16_t& ancho, uint16_t& alto) {
  ancho = bitmap != nullptr ? static_cast<uint16_t>(bitmap->Width()) : 0;
  alto = bitmap != nullptr ? static_cast<uint16_t>(bitmap->Height()) : 0;
}

void TGestorBMP::DeleteBitmap(HBITMAP bitmap) {
  delete bitmap;
}

// The placeholder was a monochrome bitmap filled with a white brush and
// outlined with a pen that maps to black: the rectangle (0,0)-(29,29)
// leaves its border at rows and columns 0 and 28 (the right and bottom edge
// are excluded) with a white inside, the two diagonals leave out their end
// points, and row and column 29 keep the black of a fresh bitmap.
HBITMAP TGestorBMP::BitmapNoEncontrado() {
  constexpr int kLado = kLadoNoEncontrado;
  auto* bitmap = new Surface(kLado, kLado);
  bitmap->Fill(Rect{1, 1, kLado - 3, kLado - 3}, 0xFFFFFF);
  bitmap->DrawLine(0, 0, kLado - 1, kLado - 1, 0x000000);
  bitmap->DrawLine(0, kLado - 1, kLado - 1, 0, 0x000000);
  return bitmap;
}

// Turns PNG files of the eHDD stores into pictures the engine draws: an RGB
// pixel buffer, a 24-bit bitmap of the whole image, or a bitmap of one frame
// cut out of a horizontal strip of frames.
//
// Files are read through the eHDD client and decoded by libpng. A picture
// that cannot be loaded gives null (RGB buffer) or a 30 x 30 placeholder
// (bitmaps), so drawing code never gets a null bitmap. Decodes and
// conversions run one at a time per manager.
//
// Ownership: an RGB buffer is the caller's, freed with OSAL::Free; a bitmap
// is the caller's, freed with DeleteBitmap.
//
// Exceptions: when the client throws while a file is read (its lost
// connection text on a server file), the decode is cleaned up (libpng state
// destroyed, buffers freed, file closed, lock released) and the same
// exception leaves the loader for the caller to handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>

#include "base/TGestorGDI.h"
#include "platform/gfx/Dib.h"

class OSAL;
class TEHDDClient;
struct TFicheroEHDD;
struct png_struct_def;
struct png_info_def;

using BITMAPFILEHEADER = platform::gfx::BITMAPFILEHEADER;

class TGestorBMP {
 public:
  // Header plus room for 256 colours.
  static constexpr size_t kTamanoBitmapInfo = 1064;
  // Side of the placeholder bitmap.
  static constexpr uint16_t kLadoNoEncontrado = 30;
  // Largest side a PNG may declare, and the largest decoded RGB buffer.
  static constexpr uint32_t kMaxLadoPNG = 16384;
  static constexpr size_t kMaxBytesImagen = size_t{256} << 20;
  // Largest ancillary chunk libpng keeps in memory.
  static constexpr size_t kMaxBytesChunk = size_t{2} << 20;

  TGestorBMP();
  TGestorBMP(OSAL* osal, TGestorGDI* gdi, TEHDDClient* ehdd);
  ~TGestorBMP();
  TGestorBMP(const TGestorBMP&) = delete;
  TGestorBMP& operator=(const TGestorBMP&) = delete;

  void SetOSAL(OSAL* osal) { osal_ = osal; }
  void SetGestorGDI(TGestorGDI* gdi) { gdi_ = gdi; }
  void SetEHDDClient(TEHDDClient* ehdd) { ehdd_ = ehdd; }

  // The image as rows of width x 3 bytes (R, G, B), top row first; null
  // when it cannot be read. The overload also gives the decoded size (0 x 0
  // on failure).
  uint8_t* LeerPNGToMemoryRGB(const char* path);
  uint8_t* LeerPNGToMemoryRGB(const char* path, uint32_t* ancho, uint32_t* alto);

  // A bitmap of the whole image; the placeholder on failure.
  HBITMAP LeerBitmapPNGDisco(uint16_t buffer, const char* path);

  // A bitmap of frame a (counted from the right end) of a strip of n frames
  // of w x h side by side. The placeholder when the strip is null, n is 0,
  // a >= n, or w or h is 0 or too large. The caller guarantees the strip
  // holds n x w by h pixels; the overload checks it against the strip's
  // width and height in pixels and gives the placeholder when the width is
  // not n x w or the height is under h.
  HBITMAP BitmapFromRGBFrame(uint16_t buffer, uint8_t a, uint16_t w, uint16_t h,
                             const uint8_t* tira, uint8_t n);
  HBITMAP BitmapFromRGBFrame(uint16_t buffer, uint8_t a, uint16_t w, uint16_t h,
                             const uint8_t* tira, uint8_t n, uint32_t ancho_tira,
                             uint32_t alto_tira);

  // The bitmap's size; 0 x 0 for a null bitmap.
  void BitmapSize(HBITMAP bitmap, uint16_t& ancho, uint16_t& alto);
  void DeleteBitmap(HBITMAP bitmap);
  // A new 30 x 30 placeholder.
  HBITMAP BitmapNoEncontrado();

  // Destroys the libpng read and info state of the current decode.
  void LiberarPNG();

  // The libpng read function: reads through the eHDD client of the decode.
  static void LeerPNGCallback(png_struct_def* png, unsigned char* datos, size_t longitud);

 private:
  // How a read ended.
  enum Resultado {
    kLeido = 0,
    kFirma = 1,
    kErrorPNG = 2,
    kSinMemoria = 3,
    kSinEstado = 4,
    kNoAbre = 5
  };

  // One decode: the file, the buffers it owns until it ends, and what the
  // client threw while reading.
  struct Lectura {
    TEHDDClient* ehdd = nullptr;
    TFicheroEHDD* fichero = nullptr;
    uint8_t* rgb = nullptr;
    unsigned char** filas = nullptr;
    std::exception_ptr excepcion;
  };

  uint8_t* LeerPNGBloqueado(const char* path, const char* origen, uint32_t* ancho, uint32_t* alto);
  Resultado LeerPNG(const char* path, uint8_t** rgb);
  Resultado DecodificarPNG(Lectura& lectura);
  HBITMAP CrearBitmapRGB(uint16_t buffer, const uint8_t* origen, size_t paso_origen, uint32_t ancho,
                         uint32_t alto);
  HBITMAP Frame(uint16_t buffer, uint8_t a, uint16_t w, uint16_t h, const uint8_t* tira, uint8_t n);
  void Informar(const char* path, const char* origen, int paso);

  BITMAPFILEHEADER cabecera_fichero_;
  BITMAPINFO* info_bitmap_ = nullptr;  // kTamanoBitmapInfo bytes from OSAL::Malloc
  png_struct_def* png_ = nullptr;
  png_info_def* info_png_ = nullptr;
  uint32_t ancho_ = 0;
  uint32_t alto_ = 0;
  uint32_t profundidad_ = 0;
  uint32_t tipo_color_ = 0;
  double gamma_pantalla_ = 2.2;
  std::mutex cerrojo_;
  OSAL* osal_ = nullptr;
  TGestorGDI* gdi_ = nullptr;
  TEHDDClient* ehdd_ = nullptr;
};

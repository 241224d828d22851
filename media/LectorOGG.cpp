#include "media/LectorOGG.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"

namespace {

// More lost pages in a row than a whole file could hold means a stream that
// makes no progress.
constexpr int kMaxHuecosSeguidos = 100000;

void TraceF(int categoria, const char* formato, unsigned a, unsigned b) {
  char linea[96];
  std::snprintf(linea, sizeof linea, formato, a, b);
  OSAL::Trace(categoria, linea);
}

size_t LeerEHDD(void* buffer, size_t size, size_t count, void* datasource) {
  auto* fuente = static_cast<FuenteEHDD*>(datasource);
  if (fuente->perdida || size == 0) return 0;
  uint32_t res = 0;
  try {
    const size_t bytes = std::min<size_t>(size * count, UINT32_MAX);
    res = fuente->client->Leer(buffer, 1, static_cast<uint32_t>(bytes), fuente->file);
  } catch (...) {
    fuente->perdida = true;
    return 0;
  }
  TraceF(kTraceOggCallbacks, "OGG IOCallback Read %u bloques, res=%u.",
         static_cast<unsigned>(count), res);
  return res / size;
}

// vorbisfile seeks from the start, the current offset or the end; the
// client's relative seek takes no negative distance and its end-relative one
// counts back, so every seek becomes an absolute offset.
int SeekEHDD(void* datasource, ogg_int64_t offset, int whence) {
  auto* fuente = static_cast<FuenteEHDD*>(datasource);
  if (fuente->perdida) return -1;
  TraceF(kTraceOggCallbacks, "OGG IOCallback Seek [offset,whence]->[%u,%u].",
         static_cast<unsigned>(offset), static_cast<unsigned>(whence));
  uint32_t length = 0;
  uint32_t remaining = 0;
  fuente->client->Size(fuente->file, length, remaining);
  int64_t base = 0;
  if (whence == SEEK_CUR) base = fuente->client->Posicion(fuente->file);
  if (whence == SEEK_END) base = length;
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
  const int64_t target = base + offset;
  if (target < 0 || target > static_cast<int64_t>(length)) return -1;
  return fuente->client->Posicionar(fuente->file, static_cast<uint32_t>(target), 0) == 0 ? 0 : -1;
}

int CloseEHDD(void* datasource) {
  auto* fuente = static_cast<FuenteEHDD*>(datasource);
  OSAL::Trace(kTraceOggCallbacks, "OGG IOCallback Close.");
  TFicheroEHDD* file = fuente->file;
  fuente->file = nullptr;
  if (file != nullptr) {
    try {
      fuente->client->Cerrar(file);
    } catch (...) {
      fuente->perdida = true;
    }
  }
  return 0;
}

long TellEHDD(void* datasource) {
  auto* fuente = static_cast<FuenteEHDD*>(datasource);
  OSAL::Trace(kTraceOggCallbacks, "OGG IOCallback Tell.");
  return static_cast<long>(fuente->client->Posicion(fuente->file));
}

}  // namespace

ov_callbacks LectorOGG::CallbacksEHDD() {
  return ov_callbacks{&LeerEHDD, &SeekEHDD, &CloseEHDD, &TellEHDD};
}

LectorOGG::~LectorOGG() {
  Cerrar();
}

bool LectorOGG::Abrir(void* datasource, ov_callbacks callbacks, uint32_t start_ms) {
  Cerrar();
  fallo_ = kNinguno;
  codigo_ = 0;
  llevados_ = 0;
  desde_ = 0;
  std::memset(&vf_, 0, sizeof vf_);
  const int abierto = ov_open_callbacks(datasource, &vf_, nullptr, 0, callbacks);
  if (abierto < 0) {
    // A failed open leaves the source to its owner.
    if (callbacks.close_func != nullptr) callbacks.close_func(datasource);
    fallo_ = kAbrir;
    codigo_ = abierto;
    return false;
  }
  abierto_ = true;
  const vorbis_info* info = ov_info(&vf_, -1);
  if (info == nullptr || info->channels != kCanales || info->rate != kFrecuencia) {
    fallo_ = kFormato;
    Cerrar();
    return false;
  }
  enlace_ = -1;
  if (start_ms > 0) {
    const int posicion = ov_time_seek(&vf_, start_ms * 0.001);
    if (posicion != 0) {
      fallo_ = kPosicion;
      codigo_ = posicion;
      Cerrar();
      return false;
    }
  }
  return true;
}

LectorOGG::Resultado LectorOGG::Llenar(int16_t* buffer, uint32_t muestras) {
  auto* destino = reinterpret_cast<char*>(buffer);
  const uint32_t sitio = muestras * 2;
  uint32_t lleno = 0;
  if (llevados_ > 0) {
    if (llevados_ > sitio) {
      std::memcpy(destino, scratch_ + desde_, sitio);
      llevados_ = static_cast<uint16_t>(llevados_ - sitio);
      desde_ = static_cast<uint16_t>(desde_ + sitio);
      return kLleno;
    }
    std::memcpy(destino, scratch_ + desde_, llevados_);
    lleno = llevados_;
    llevados_ = 0;
    desde_ = 0;
    if (lleno == sitio) return kLleno;
  }
  if (!abierto_) {
    std::memset(destino + lleno, 0, sitio - lleno);
    return kFin;
  }
  int huecos = 0;
  while (lleno < sitio) {
    int enlace = 0;
    // A read of the scratch's size that the buffer has room for goes
    // straight into it: the same read, nothing to carry, no copy.
    const bool directo = sitio - lleno >= kScratch;
    char* const hacia = directo ? destino + lleno : scratch_;
    const long leidos = ov_read(&vf_, hacia, kScratch, 0, 2, 1, &enlace);
    if (leidos == OV_HOLE && ++huecos < kMaxHuecosSeguidos) continue;
    if (leidos < 0) {
      fallo_ = kLectura;
      codigo_ = static_cast<int>(leidos);
      return kError;
    }
    huecos = 0;
    if (leidos == 0) {
      std::memset(destino + lleno, 0, sitio - lleno);
      Cerrar();
      return kFin;
    }
    if (enlace != enlace_) {
      // A chained file may change format at a link: only mono 22050 Hz plays.
      const vorbis_info* info = ov_info(&vf_, enlace);
      if (info == nullptr || info->channels != kCanales || info->rate != kFrecuencia) {
        fallo_ = kFormato;
        return kError;
      }
      enlace_ = enlace;
    }
    const uint32_t n = static_cast<uint32_t>(leidos);
    const uint32_t resto = sitio - lleno;
    if (directo) {
      lleno += n;  // at most kScratch, which fitted
    } else if (n <= resto) {
      std::memcpy(destino + lleno, scratch_, n);
      lleno += n;
    } else {
      std::memcpy(destino + lleno, scratch_, resto);
      lleno = sitio;
      desde_ = static_cast<uint16_t>(resto);
      llevados_ = static_cast<uint16_t>(n - resto);
    }
  }
  return kLleno;
}

void LectorOGG::Cerrar() {
  if (!abierto_) return;
  abierto_ = false;
  ov_clear(&vf_);
}

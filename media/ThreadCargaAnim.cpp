#include "media/ThreadCargaAnim.h"

#include <algorithm>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "ehdd/TEHDDClient.h"
#include "media/TGestorAnim_trace.h"
#include "platform/Clock.h"

using anim_trace::kTraceCarga;
using anim_trace::Trace;

ThreadCargaAnim::ThreadCargaAnim(TGestorAnim& anim, std::shared_ptr<TGestorAnim::Compartido> datos)
    : d_(std::move(datos)),
      osal_(anim.osal_),
      bmp_(anim.bmp_),
      ehdd_(anim.ehdd_),
      area_(anim.area_) {}

bool ThreadCargaAnim::Crear() {
  return ThreadRecord::Crear("ThreadCargaAnim", "ThreadCargaAnim creation failed.", osal_,
                             [this] { Ejecutar(); });
}

void ThreadCargaAnim::Ejecutar() {
  progreso_ = d_->progreso.load();
  d_->cargada.store(0);
  d_->porcentaje_basico.store(0);
  d_->porcentaje_resto.store(0);
  d_->fondo_cargando.store(0);
  d_->cast_cargando.store(0);
  d_->num_imagenes.store(1);
  Progreso(kProgresoInicio);
  try {
    if (CargarFase(1, d_->porcentaje_basico,
                   "Actualizar Porcentaje Carga Anim Basica %u porciento.") &&
        CargarFase(0, d_->porcentaje_resto,
                   "Actualizar Porcentaje Carga Anim Resto %u porciento.")) {
      LeerDialogo();
    }
  } catch (const std::string& texto) {
    OSAL::Trace(kTraceError, texto.c_str());  // a lost connection: what is loaded stays
  } catch (...) {
    OSAL::Trace(kTraceError, "ThreadCargaAnim: error inesperado.");
  }
  // Every way out ends the figures and flags the animation loaded, so no
  // one waits for it any longer; what could not be read draws nothing.
  d_->porcentaje_basico.store(100);
  d_->porcentaje_resto.store(100);
  d_->porcentaje_audio.store(100);
  d_->fondo_cargando.store(0);
  d_->cast_cargando.store(0);
  Observar();
  d_->cargada.store(1, std::memory_order_release);
  OSAL::Trace(kTraceCarga, "Fin Carga Animacion en background.");
  Notificar();
}

bool ThreadCargaAnim::EsperarParada() {
  while (d_->parada.load(std::memory_order_acquire) == 0) {
    if (PararPedido()) return false;
    SuspenderThreadFor(kEsperaMs);
  }
  return !PararPedido();
}

void ThreadCargaAnim::Observar() const {
  if (d_->observador) d_->observador();
}

void ThreadCargaAnim::Progreso(uint8_t valor) {
  if (progreso_ != nullptr) progreso_->store(valor);
  Observar();
}

void ThreadCargaAnim::Porcentaje(std::atomic<uint8_t>& porcentaje, uint8_t valor,
                                 const char* traza) {
  porcentaje.store(valor);
  Trace(kTraceCarga, traza, unsigned{valor});
  Observar();
}

void ThreadCargaAnim::AvanzarProgresoFondo() {
  if (progreso_ == nullptr) return;
  const uint8_t valor = progreso_->load();
  if (valor < kProgresoMaxImagenes) {
    progreso_->store(
        static_cast<uint8_t>(std::min<int>(valor + kProgresoFondo, kProgresoMaxImagenes)));
  }
}

// The backgrounds of one priority in number order, each with its casts in
// the order listed. Each background is an equal share of the figure, and
// each of its casts an equal part of that share (a background without casts
// adds its share at once); the figure is the exact sum, truncated.
bool ThreadCargaAnim::CargarFase(uint8_t prioridad, std::atomic<uint8_t>& porcentaje,
                                 const char* traza) {
  uint32_t total = 0;
  for (uint8_t k = 1; k <= d_->num_fondos; ++k) total += d_->fondos[k].prioridad == prioridad;
  uint32_t hechos = 0;
  for (uint8_t k = 1; k <= d_->num_fondos; ++k) {
    const FondoAnim& fondo = d_->fondos[k];
    if (fondo.prioridad != prioridad) continue;
    if (!CargarFondo(k)) return false;
    const uint32_t casts = fondo.num_casts;
    if (casts == 0) Porcentaje(porcentaje, static_cast<uint8_t>(100 * (hechos + 1) / total), traza);
    for (uint32_t i = 0; i < casts; ++i) {
      const uint8_t c = fondo.casts[i];
      // A cast listed but never defined loads nothing.
      if (c <= d_->num_casts + 1 && !CargarCast(c)) return false;
      Porcentaje(porcentaje, static_cast<uint8_t>(100 * (hechos * casts + i + 1) / (total * casts)),
                 traza);
    }
    ++hechos;
    AvanzarProgresoFondo();
  }
  Porcentaje(porcentaje, 100, traza);
  return true;
}

uint8_t* ThreadCargaAnim::LeerImagen(const std::string& path, uint32_t ancho, uint32_t alto) {
  if (bmp_ == nullptr) return nullptr;
  uint32_t leido_ancho = 0;
  uint32_t leido_alto = 0;
  uint8_t* rgb = bmp_->LeerPNGToMemoryRGB(path.c_str(), &leido_ancho, &leido_alto);
  if (rgb != nullptr && (leido_ancho != ancho || leido_alto != alto)) {
    OSAL::Free(rgb);
    return nullptr;
  }
  return rgb;
}

HBITMAP ThreadCargaAnim::Recortar(const uint8_t* rgb, uint8_t a, uint16_t w, uint16_t h,
                                  uint8_t n) {
  HBITMAP bitmap = bmp_->BitmapFromRGBFrame(area_, a, w, h, rgb, n, uint32_t{n} * w, h);
  uint16_t ancho = 0;
  uint16_t alto = 0;
  bmp_->BitmapSize(bitmap, ancho, alto);
  if (ancho != w || alto != h) {
    // The placeholder of a bitmap that could not be made: never drawn.
    bmp_->DeleteBitmap(bitmap);
    return nullptr;
  }
  return bitmap;
}

uint16_t ThreadCargaAnim::NuevaImagen(HBITMAP bitmap, int16_t ancho, int16_t alto) {
  const uint16_t indice = d_->num_imagenes.load();
  if (indice >= TGestorAnim::kEntradasImagen) {
    if (bitmap != nullptr) bmp_->DeleteBitmap(bitmap);
    return 0;
  }
  ImagenAnim& imagen = d_->imagenes[indice];
  imagen.bitmap = bitmap;
  imagen.ancho = ancho;
  imagen.alto = alto;
  imagen.cargado.store(1, std::memory_order_release);
  d_->num_imagenes.store(static_cast<uint16_t>(indice + 1));
  return indice;
}

bool ThreadCargaAnim::CargarFondo(uint8_t k) {
  d_->fondo_cargando.store(k);
  if (!EsperarParada()) return false;
  const int16_t ancho = d_->ancho;
  const int16_t alto = d_->alto;
  uint8_t* rgb = LeerImagen(d_->carpeta + "\\" + TGestorAnim::NombreFondo(k),
                            static_cast<uint32_t>(ancho), static_cast<uint32_t>(alto));
  HBITMAP bitmap = rgb != nullptr ? Recortar(rgb, 0, static_cast<uint16_t>(ancho),
                                             static_cast<uint16_t>(alto), 1)
                                  : nullptr;
  OSAL::Free(rgb);
  d_->fondos[k].imagen.store(NuevaImagen(bitmap, ancho, alto), std::memory_order_release);
  d_->fondo_cargando.store(0);
  return true;
}

bool ThreadCargaAnim::CargarCast(uint8_t c) {
  d_->cast_cargando.store(c);
  if (!EsperarParada()) return false;
  CastAnim& cast = d_->casts[c];
  const uint8_t n = cast.num_sprites;
  const auto w = static_cast<uint16_t>(cast.ancho);
  const auto h = static_cast<uint16_t>(cast.alto);
  uint8_t* rgb = LeerImagen(d_->carpeta + "\\" + TGestorAnim::NombreCast(cast.id_fondo, c, n),
                            uint32_t{n} * w, h);
  // Sprite s is the s-th cell counted from the right end of the strip.
  const uint16_t primera = d_->num_imagenes.load();
  for (uint32_t s = 1; s <= n; ++s) {
    HBITMAP bitmap = rgb != nullptr ? Recortar(rgb, static_cast<uint8_t>(s - 1), w, h, n) : nullptr;
    NuevaImagen(bitmap, cast.ancho, cast.alto);
  }
  OSAL::Free(rgb);
  cast.primera_imagen.store(primera, std::memory_order_release);
  cast.cargado.store(1, std::memory_order_release);
  d_->cast_cargando.store(0);
  return true;
}

void ThreadCargaAnim::LeerDialogo() {
  Progreso(kProgresoAudio);
  d_->porcentaje_audio.store(0);
  d_->bytes_dialogo.store(0);
  d_->longitud_dialogo.store(0);
  dialogo_ = ehdd_ != nullptr ? ehdd_->Abrir((d_->carpeta + "\\DIALOGO.OGG").c_str(), 0) : nullptr;
  if (dialogo_ != nullptr) {
    uint32_t longitud = 0;
    uint32_t resto = 0;
    ehdd_->Size(dialogo_, longitud, resto);
    d_->longitud_dialogo.store(longitud);
    std::vector<uint8_t> trozo(kTrozoDialogo);
    uint32_t leidos = 0;
    try {
      while (leidos < longitud && !PararPedido()) {
        const uint32_t pedir = std::min(kTrozoDialogo, longitud - leidos);
        const uint32_t got = ehdd_->Leer(trozo.data(), 1, pedir, dialogo_);
        if (got == 0) break;
        leidos += got;
        d_->bytes_dialogo.store(leidos);
        Progreso(static_cast<uint8_t>(uint64_t{leidos} * kProgresoParteAudio / longitud +
                                      kProgresoAudio));
        platform::SleepMs(1);
      }
    } catch (...) {
      try {
        ehdd_->Cerrar(dialogo_);
      } catch (...) {
      }
      dialogo_ = nullptr;
      throw;
    }
    ehdd_->Cerrar(dialogo_);
    dialogo_ = nullptr;
  }
  if (PararPedido()) return;
  // An empty or missing sound ends the phase where a whole one does.
  Progreso(kProgresoAudio + kProgresoParteAudio);
  d_->porcentaje_audio.store(100);
  Observar();
}

#include "media/TGestorAnim.h"

#include <algorithm>
#include <cstring>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "ehdd/TEHDDClient.h"
#include "media/IAudioAnim.h"
#include "media/ISubtitulosAnim.h"
#include "media/TGestorAnim_trace.h"
#include "media/ThreadCargaAnim.h"

using anim_trace::kTraceAnim;
using anim_trace::kTraceCarga;
using anim_trace::kTraceTicAnim;
using anim_trace::Trace;

namespace {

// Frames of a section shown before a recap restarts that section itself
// rather than going back to the group before it.
constexpr uint16_t kFramesRecapSeccion = 7;

}  // namespace

TGestorAnim::TGestorAnim()
    : d_(std::make_shared<Compartido>()),
      pistas_(new uint8_t[size_t{kPistas} * kMaxFrames]()),
      secciones_(new uint16_t[kMaxFrames]()) {}

TGestorAnim::~TGestorAnim() {
  bool parado = true;
  if (carga_ != nullptr) {
    parado = carga_->Parar();
    if (parado) {
      carga_.reset();
      OSAL::Trace(kTraceModulos, "ThreadCargaAnim Terminado.");
    } else {
      // The thread still runs and uses its record and the shared tables:
      // both stay allocated (with the pictures) rather than be freed under it.
      carga_.release();
    }
  }
  if (gdi_ != nullptr && area_ != TGestorGDI::kBufferInvalido) gdi_->FreeBuffer(area_);
  if (parado) {
    for (ImagenAnim& imagen : d_->imagenes) {
      if (imagen.cargado.load(std::memory_order_acquire) == 0 || imagen.bitmap == nullptr) continue;
      if (bmp_ != nullptr) {
        bmp_->DeleteBitmap(imagen.bitmap);
      } else {
        delete imagen.bitmap;
      }
      imagen.bitmap = nullptr;
    }
  }
  OSAL::Trace(kTraceModulos, "Terminado TGestorAnim.");
}

void TGestorAnim::SetCerrojoPagina(CriticalSection* cerrojo) {
  cerrojo_ = cerrojo;
}

void TGestorAnim::SetPintarBarraAnim(PintarBarraAnimHook hook) {
  std::lock_guard<std::mutex> lock(hook_mutex_);
  hook_ = std::move(hook);
}

void TGestorAnim::SetProgreso(std::atomic<uint8_t>* progreso) {
  d_->progreso.store(progreso);
}

bool TGestorAnim::Iniciar() {
  if (carga_ != nullptr) return true;
  {
    std::lock_guard<CriticalSection> lock(Cerrojo());
    d_->cargada.store(0);
    d_->parada.store(1);
    siguiente_ms_ = 0;
    frame_actual_ = frame_fin_ = 0;
    resync_ = 0;
    d_->carpeta.clear();
    d_->porcentaje_audio.store(0);
    d_->num_casts = 0;
    num_frames_.store(0);
  }
  if (gdi_ != nullptr && area_ == TGestorGDI::kBufferInvalido) {
    area_ = gdi_->CrearBuffer(kAnchoArea, kAltoArea, kAreaX, kAreaY, UnitControlWindow());
  }
  carga_ = std::make_unique<ThreadCargaAnim>(*this, d_);
  if (!carga_->Crear()) {
    carga_.reset();
    return false;
  }
  return true;
}

int TGestorAnim::CargarAnim(const char* folder) {
  if (carga_pedida_.exchange(true)) return -1;
  {
    std::lock_guard<CriticalSection> lock(Cerrojo());
    d_->parada.store(1);
    siguiente_ms_ = 0;
    frame_actual_ = frame_fin_ = 0;
  }
  d_->num_casts = 0;
  num_frames_.store(0);
  d_->carpeta = folder != nullptr ? folder : "";
  const std::string& carpeta = d_->carpeta;
  if (LeerDefAnim((carpeta + "\\DEFANIM.TXT").c_str()) != 0) return -1;
  if (LeerScore((carpeta + "\\SCORE.VM").c_str()) != 0) return -1;
  if (LeerJumps((carpeta + "\\JUMPS.TXT").c_str()) != 0) return -1;
  if (ehdd_ != nullptr) {
    // The loader's pictures and the dialogue go to the store together.
    std::vector<std::string> ficheros;
    for (const ImagenPlan& imagen : PlanDeCarga()) ficheros.push_back(carpeta + "\\" + imagen.nombre);
    ficheros.push_back(carpeta + "\\DIALOGO.OGG");
    ehdd_->Anticipar(ficheros);
  }
  // Without a loader the animation would never count as loaded.
  if (carga_ == nullptr) return -1;
  carga_iniciada_.store(true);
  carga_->DespertarThread();
  carga_->EsperarThreadArrancado();
  return 0;
}

bool TGestorAnim::EsperarCarga(uint32_t timeout_ms) {
  if (Cargada()) return true;
  if (carga_ == nullptr || !carga_iniciada_.load()) return false;
  carga_->EsperarCondicion(
      [this] {
        return d_->cargada.load(std::memory_order_acquire) != 0 ||
               carga_->Estado() == ThreadRecord::kTerminado;
      },
      timeout_ms);
  return Cargada();
}

void TGestorAnim::PedirParadaCarga() {
  if (carga_ == nullptr) return;
  // A loader never started skips its body; a running one stops.
  uint8_t estado = ThreadRecord::kNuevo;
  if (!carga_->state.compare_exchange_strong(estado, ThreadRecord::kParar) &&
      estado == ThreadRecord::kCorriendo) {
    carga_->state.compare_exchange_strong(estado, ThreadRecord::kParar);
  }
  carga_->Notificar();
  carga_->DespertarThread();
}

bool TGestorAnim::Cargada() const {
  return d_->cargada.load(std::memory_order_acquire) != 0;
}

bool TGestorAnim::Parada() const {
  return d_->parada.load(std::memory_order_acquire) != 0;
}

uint16_t TGestorAnim::NumFrames() const {
  return num_frames_.load(std::memory_order_acquire);
}

uint16_t TGestorAnim::Seccion(uint16_t frame) const {
  return frame < NumFrames() ? secciones_[frame] : 0;
}

uint16_t TGestorAnim::FrameActual() const {
  std::lock_guard<CriticalSection> lock(Cerrojo());
  return frame_actual_;
}

uint8_t TGestorAnim::PorcentajeBasico() const {
  return d_->porcentaje_basico.load();
}

const FondoAnim& TGestorAnim::Fondo(uint8_t k) const {
  static const FondoAnim kVacio;
  return k >= 1 && k <= kMaxFondos ? d_->fondos[k] : kVacio;
}

const CastAnim& TGestorAnim::Cast(uint8_t c) const {
  static const CastAnim kVacio;
  return c >= kPrimerCast && c <= kUltimoCast ? d_->casts[c] : kVacio;
}

std::string TGestorAnim::VersionScore() const {
  return std::string(version_score_, strnlen(version_score_, sizeof(version_score_)));
}

uint8_t TGestorAnim::Pista(uint8_t t, uint16_t frame) const {
  return t < kPistas && frame < kMaxFrames ? pistas_[size_t{t} * kMaxFrames + frame] : 0;
}

uint8_t TGestorAnim::UltimoFondoDibujado() const {
  return ultimo_fondo_.load();
}

uint8_t TGestorAnim::UltimoSpriteDibujado(uint8_t c) const {
  return c <= kUltimoCast ? ultimo_sprite_[c].load() : 0;
}

// What the player draws: a background of the description that gets loaded
// (priority 1 or 0), a cast listed under one, a sprite its cast has.
bool TGestorAnim::FondoDibujable(uint8_t k) const {
  return k >= 1 && k <= d_->num_fondos && d_->fondos[k].prioridad <= 1;
}

bool TGestorAnim::CastDibujable(uint8_t c) const {
  return c >= kPrimerCast && c <= d_->num_casts + 1 && cast_listado_[c];
}

uint8_t TGestorAnim::FondoEn(uint16_t frame) const {
  const uint8_t k = Pista(0, frame);
  return FondoDibujable(k) ? k : 0;
}

uint8_t TGestorAnim::SpriteEn(uint8_t c, uint16_t frame) const {
  const uint8_t s = Pista(static_cast<uint8_t>(c - 1), frame);
  return CastDibujable(c) && s >= 1 && s <= d_->casts[c].num_sprites ? s : 0;
}

void TGestorAnim::DibujarFondo(uint8_t k) {
  const uint16_t indice = d_->fondos[k].imagen.load(std::memory_order_acquire);
  if (indice == 0 || indice >= kEntradasImagen) return;
  const ImagenAnim& imagen = d_->imagenes[indice];
  if (imagen.cargado.load(std::memory_order_acquire) == 0) return;
  if (gdi_ != nullptr && imagen.bitmap != nullptr) {
    gdi_->DrawBitmap(area_, imagen.bitmap, 0, 0, static_cast<uint16_t>(imagen.ancho),
                     static_cast<uint16_t>(imagen.alto));
  }
  ultimo_fondo_.store(k);
}

void TGestorAnim::DibujarSprite(uint8_t c, uint8_t s) {
  const CastAnim& cast = d_->casts[c];
  if (cast.cargado.load(std::memory_order_acquire) == 0) return;
  const uint32_t indice = cast.primera_imagen.load(std::memory_order_acquire) + s - 1u;
  if (indice == 0 || indice >= kEntradasImagen) return;
  const ImagenAnim& imagen = d_->imagenes[indice];
  if (imagen.cargado.load(std::memory_order_acquire) == 0) return;
  if (gdi_ != nullptr && imagen.bitmap != nullptr) {
    gdi_->DrawBitmap(area_, imagen.bitmap, static_cast<uint16_t>(cast.x),
                     static_cast<uint16_t>(cast.y), static_cast<uint16_t>(cast.ancho),
                     static_cast<uint16_t>(cast.alto));
  }
  ultimo_sprite_[c].store(s);
}

void TGestorAnim::DibujarFrame(uint16_t frame) {
  const uint8_t k = FondoEn(frame);
  if (k != 0) DibujarFondo(k);
  for (uint8_t c = kPrimerCast; c <= d_->num_casts + 1; ++c) {
    const uint8_t s = SpriteEn(c, frame);
    if (s != 0) DibujarSprite(c, s);
  }
}

// A play that starts inside a scene draws what that scene shows: the last
// background before the frame, and each cast the frame leaves unchanged as
// its last sprite since that background.
void TGestorAnim::RestaurarEscena(uint16_t frame) {
  if (FondoEn(frame) != 0) return;
  int desde = static_cast<int>(frame) - 1;
  while (desde >= 0 && FondoEn(static_cast<uint16_t>(desde)) == 0) --desde;
  if (desde < 0) return;
  DibujarFondo(FondoEn(static_cast<uint16_t>(desde)));
  for (uint8_t c = kPrimerCast; c <= d_->num_casts + 1; ++c) {
    if (SpriteEn(c, frame) != 0) continue;
    for (int g = static_cast<int>(frame) - 1; g >= desde; --g) {
      const uint8_t s = SpriteEn(c, static_cast<uint16_t>(g));
      if (s != 0) {
        DibujarSprite(c, s);
        break;
      }
    }
  }
}

void TGestorAnim::TimerTicAnim() {
  std::lock_guard<CriticalSection> lock(Cerrojo());
  if (Parada()) return;
  Trace(kTraceTicAnim, "TimerTicAnim");
  if (frame_actual_ > frame_fin_) {
    d_->parada.store(1);
    return;
  }
  if (d_->porcentaje_basico.load() < 100) return;
  if (resync_ != 0) {
    Trace(kTraceTicAnim, "Animacion sincronizada.");
    siguiente_ms_ = uint32_t{frame_actual_} * kMsPorFrame;
    if (audio_ != nullptr) {
      audio_->PlayAudioOGGPosicion((d_->carpeta + "\\DIALOGO.OGG").c_str(), siguiente_ms_);
    }
    RestaurarEscena(frame_actual_);
    resync_ = 0;
    ticks_sin_audio_ = 0;
  }
  if (audio_ == nullptr || !audio_->Empezado()) {
    Trace(kTraceTicAnim, "Animacion esperando sincronizacion del Audio.");
    // A sound that never starts would hold the animation for ever.
    if (++ticks_sin_audio_ >= kTicksSinAudio) CloseAnimBloqueado();
    return;
  }
  if (audio_->PosicionAudio() < siguiente_ms_) {
    Trace(kTraceTicAnim,
          "Animacion esperando la sincronizacion con el audio para mostrar el nuevo frame");
    return;
  }
  siguiente_ms_ += kMsPorFrame;
  DibujarFrame(frame_actual_);
  if (gdi_ != nullptr) gdi_->MostrarBuffer(area_, 0, 0, 0, 0);
  {
    std::lock_guard<std::mutex> hook_lock(hook_mutex_);
    if (hook_) hook_(frame_actual_, NumFrames());
  }
  Trace(kTraceTicAnim, "Animacion mostrado el frame %u", unsigned{frame_actual_});
  ++frame_actual_;
}

void TGestorAnim::PlayAnimBloqueado(uint16_t frame) {
  const uint16_t frames = NumFrames();
  if (!Cargada() || frame >= frames) return;
  CloseAnimBloqueado();
  frame_actual_ = frame;
  frame_fin_ = static_cast<uint16_t>(frames - 1);
  resync_ = 1;
  ticks_sin_audio_ = 0;
  ultimo_fondo_.store(0);
  for (auto& sprite : ultimo_sprite_) sprite.store(0);
  d_->parada.store(0);
  Trace(kTraceAnim, "Start Play Animacion desde el frame %u hasta %u", unsigned{frame},
        unsigned{frame_fin_});
}

void TGestorAnim::PlayAnim(uint16_t frame) {
  std::lock_guard<CriticalSection> lock(Cerrojo());
  PlayAnimBloqueado(frame);
}

void TGestorAnim::PauseAnim() {
  std::lock_guard<CriticalSection> lock(Cerrojo());
  if (!Cargada()) return;
  if (Parada()) {
    Trace(kTraceAnim, "Resume Anim at frame %u.", unsigned{frame_actual_});
    PlayAnimBloqueado(frame_actual_);
  } else {
    Trace(kTraceAnim, "Pause Anim at frame %u.", unsigned{frame_actual_});
    CloseAnimBloqueado();
  }
}

void TGestorAnim::CloseAnimBloqueado() {
  Trace(kTraceAnim, "Close Anim.");
  if (audio_ != nullptr) audio_->CloseAudio();
  d_->parada.store(1);
}

void TGestorAnim::CloseAnim() {
  std::lock_guard<CriticalSection> lock(Cerrojo());
  CloseAnimBloqueado();
}

// Where a recap restarts: the start of the run of the greatest jump section
// not above the section playing before the current stretch (or the current
// section itself once more than 7 of its frames were shown). Stepping back
// never passes frame 0; no such jump plays from 0.
uint16_t TGestorAnim::InicioRecap(uint16_t frame) const {
  const uint16_t frames = NumFrames();
  if (frames == 0) return 0;
  uint16_t g = std::min<uint16_t>(frame, static_cast<uint16_t>(frames - 1));
  const uint16_t a = secciones_[g];
  if (a != 0) {
    uint16_t inicio = g;
    while (inicio > 0 && secciones_[inicio - 1] == a) --inicio;
    if (g - inicio <= kFramesRecapSeccion) {
      if (inicio == 0) return 0;
      g = static_cast<uint16_t>(inicio - 1);
    }
  }
  while (g > 0 && secciones_[g] == 0) --g;
  if (g == 0) return 0;
  const uint16_t c = secciones_[g];
  bool hay = false;
  uint16_t d = 0;
  for (uint16_t i = 0; i < num_jumps_; ++i) {
    if (jumps_[i] <= c && (!hay || jumps_[i] > d)) {
      d = jumps_[i];
      hay = true;
    }
  }
  if (!hay) return 0;
  while (g > 0 && secciones_[g] != d) --g;
  if (secciones_[g] != d) return 0;
  while (g > 0 && secciones_[g - 1] == d) --g;
  return g;
}

void TGestorAnim::RecapAnim() {
  std::lock_guard<CriticalSection> lock(Cerrojo());
  if (!Cargada() || Parada()) return;
  Trace(kTraceAnim, "Recap Anim at frame %u.", unsigned{frame_actual_});
  CloseAnimBloqueado();
  frame_actual_ = InicioRecap(frame_actual_);
  PlayAnimBloqueado(frame_actual_);
}

uint8_t TGestorAnim::ActualizarPorcentajeAudio() {
  if (d_->porcentaje_audio.load() >= 100) return 100;
  const uint32_t longitud = d_->longitud_dialogo.load();
  const uint64_t leidos = d_->bytes_dialogo.load();
  const uint8_t porcentaje =
      longitud == 0 ? 0 : static_cast<uint8_t>(std::min<uint64_t>(leidos * 100 / longitud, 100));
  Trace(kTraceCarga, "Actualizar Porcentaje de Audio %u porciento.", unsigned{porcentaje});
  return porcentaje;
}

uint8_t TGestorAnim::PorcentajeCarga() {
  return d_->porcentaje_resto.load();
}

void TGestorAnim::CambiarSubtitulos() {
  if (subtitulos_ == nullptr) return;
  const TListaStrings* actual = subtitulos_->DiccionarioActual();
  const TListaStrings* uk = subtitulos_->DiccionarioUK();
  const TListaStrings* es = subtitulos_->DiccionarioES();
  const TListaStrings* nuevo = nullptr;
  if (actual == nullptr) {
    nuevo = uk;
  } else if (actual == uk) {
    nuevo = es;
  } else if (actual == es) {
    nuevo = nullptr;
  } else {
    return;  // a list that is neither: left alone
  }
  subtitulos_->CambiarDiccionarioActual(actual, nuevo);
}

void TGestorAnim::PintarFondo(uint16_t slot, uint16_t x, uint16_t y) {
  std::lock_guard<CriticalSection> lock(Cerrojo());
  const uint16_t frames = NumFrames();
  if (!Cargada() || frames == 0 || gdi_ == nullptr) return;
  int g = std::min<int>(frame_actual_, frames - 1);
  while (g >= 0 && FondoEn(static_cast<uint16_t>(g)) == 0) --g;
  if (g < 0) return;
  const uint16_t indice = d_->fondos[FondoEn(static_cast<uint16_t>(g))].imagen.load();
  if (indice == 0 || indice >= kEntradasImagen) return;
  const ImagenAnim& imagen = d_->imagenes[indice];
  if (imagen.cargado.load(std::memory_order_acquire) == 0 || imagen.bitmap == nullptr) return;
  gdi_->DrawBitmap(slot, imagen.bitmap, x, y, static_cast<uint16_t>(imagen.ancho),
                   static_cast<uint16_t>(imagen.alto));
}

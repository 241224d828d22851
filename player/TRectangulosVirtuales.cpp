// The hit-region table and the mouse events: the hit test, the pointer
// indices, and which action of a region's kind an event runs.
#include "player/TRectangulosVirtuales.h"

#include <cstring>

#include "base/OSAL.h"
#include "platform/Clock.h"
#include "platform/ui/ControlSite.h"
#include "player/IAnimPagina.h"
#include "player/IAudioPagina.h"
#include "player/SesionAX.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"

namespace {

constexpr uint32_t kBytesTabla = TRectangulosVirtuales::kNumRegiones * sizeof(RECT_VIRTUAL);
static_assert(kBytesTabla == 11400);

}  // namespace

TRectangulosVirtuales::~TRectangulosVirtuales() {
  if (bufrectvirt_ != nullptr) OSALDeSesion(osal_).LiberarMemoria(bufrectvirt_, "bufrectvirt");
  bufrectvirt_ = nullptr;
  OSAL::Trace(kTraceModulos, "Terminado TRectangulosVirtuales.");
}

void TRectangulosVirtuales::Error(const char* texto) {
  if (tae_ != nullptr) {
    tae_->MostrarError(texto);
  } else {
    OSALDeSesion(osal_).MostrarError(texto);
  }
}

IAudioPagina& TRectangulosVirtuales::Audio() const {
  return tae_ ? tae_->AudioPagina() : TGestorTAE::SinAudio();
}

IAnimPagina& TRectangulosVirtuales::Anim() const {
  return tae_ ? tae_->AnimPagina() : TGestorTAE::SinAnim();
}

bool TRectangulosVirtuales::Iniciar() {
  bufrectvirt_ =
      static_cast<RECT_VIRTUAL*>(OSALDeSesion(osal_).PedirMemoria(kBytesTabla, "bufrectvirt"));
  if (bufrectvirt_ == nullptr) {
    Error("Error en 'malloc' para 'bufrectvirt'.");
    return false;
  }
  std::memset(bufrectvirt_, 0, kBytesTabla);
  Reset();
  RECT_VIRTUAL& cero = bufrectvirt_[0];
  PonerPalabraTipo(cero, 1);
  cero.left = cero.top = cero.right = cero.bottom = 0;
  cero.enlace = 0;
  return true;
}

void TRectangulosVirtuales::Reset() {
  if (bufrectvirt_ == nullptr) return;
  for (uint16_t s = 1; s < kNumRegiones; ++s) PonerPalabraTipo(bufrectvirt_[s], 0);
  cuenta_ = 1;
  hover_ = 0;
  pulsado_ = 0;
  LimpiarPulsacion();
  ++generacion_;
  lleno_informado_ = false;
}

uint16_t TRectangulosVirtuales::NuevoRectangulo() {
  if (bufrectvirt_ == nullptr) return 0;
  for (uint16_t s = 1; s < cuenta_; ++s) {
    if (PalabraTipo(bufrectvirt_[s]) == 0) return s;
  }
  if (cuenta_ >= kNumRegiones) {
    if (!lleno_informado_) {
      lleno_informado_ = true;
      Error("Error excedido el numero de rectangulos virtuales.");
    }
    return 0;
  }
  return cuenta_++;
}

void TRectangulosVirtuales::BorrarRectangulos(uint8_t valor) {
  if (bufrectvirt_ == nullptr) return;
  for (int s = cuenta_ - 1; s >= 0; --s) {
    if (bufrectvirt_[s].en_uso != valor) continue;
    PonerPalabraTipo(bufrectvirt_[s], 0);
    if (s == cuenta_ - 1 && cuenta_ > 1) --cuenta_;
  }
  // The pointer was over regions that are gone.
  hover_ = 0;
  pulsado_ = 0;
  ++generacion_;
  lleno_informado_ = false;
}

RECT_VIRTUAL* TRectangulosVirtuales::Region(uint16_t slot) {
  return bufrectvirt_ != nullptr && slot < kNumRegiones ? &bufrectvirt_[slot] : nullptr;
}

const RECT_VIRTUAL* TRectangulosVirtuales::Region(uint16_t slot) const {
  return bufrectvirt_ != nullptr && slot < kNumRegiones ? &bufrectvirt_[slot] : nullptr;
}

uint16_t TRectangulosVirtuales::Slot(const RECT_VIRTUAL* rv) const {
  if (bufrectvirt_ == nullptr || rv < bufrectvirt_ || rv >= bufrectvirt_ + kNumRegiones) return 0;
  return static_cast<uint16_t>(rv - bufrectvirt_);
}

void TRectangulosVirtuales::MarcarPulsacion() {
  pulsacion_.store(platform::TickCount());
  pulsacion_pendiente_.store(true);
}

uint32_t TRectangulosVirtuales::TiempoPulsado() const {
  if (!pulsacion_pendiente_.load()) return 0;
  return platform::TickCount() - pulsacion_.load();
}

void TRectangulosVirtuales::EventoRaton(uint16_t x, uint16_t y, uint8_t evento) {
  if (bufrectvirt_ == nullptr || tae_ == nullptr || evento < kMover || evento > kDerechoArriba) {
    return;
  }
  // A release waits for the page; a move or a press gives way to a render.
  const bool soltar = evento == kIzquierdoArriba || evento == kDerechoArriba;
  TGestorTAE::Bloqueo bloqueo(tae_, soltar);
  if (!bloqueo.Tomado()) return;
  if (!soltar && tae_->Ocupado()) return;
  tae_->SetOcupado(1);
  struct Libre {
    TGestorTAE* tae;
    ~Libre() { tae->SetOcupado(0); }
  } libre{tae_};

  tae_->ActivarTiempo();
  IAudioPagina& audio = Audio();
  // A release ends any press: no recording starts after it.
  if (evento == kIzquierdoArriba) LimpiarPulsacion();
  if (audio.Grabando()) {
    if (evento == kIzquierdoArriba) {
      OSAL::Trace(kTracePulsacionLarga, "Detectado final de la grabacion.");
      audio.FinAudio();
    }
    return;
  }

  uint16_t hit = 0;
  for (uint16_t s = static_cast<uint16_t>(cuenta_ - 1); s >= 1; --s) {
    const RECT_VIRTUAL& r = bufrectvirt_[s];
    if (r.left < x && x < r.right && r.top < y && y < r.bottom) {
      hit = s;
      break;
    }
  }
  const uint16_t anterior = hover_;
  if (hit != anterior && anterior != 0) Sale(&bufrectvirt_[anterior]);
  if (hit == 0) {
    if (audio.Estado() == estado_audio::kRolePlayEspera && evento == kIzquierdoAbajo) {
      audio.FinAudio();
      return;
    }
    hover_ = 0;
    pulsado_ = 0;
    Cursor(platform::ui::kCursorArrow);
    return;
  }
  RECT_VIRTUAL* rv = &bufrectvirt_[hit];
  // An action that drew the page again leaves the indices at 0.
  const uint32_t generacion = generacion_;
  auto poner = [&](bool pulsado) {
    if (generacion_ != generacion) return;
    hover_ = hit;
    if (pulsado) pulsado_ = hit;
  };
  switch (evento) {
    case kMover:
      Entra(rv, anterior);
      poner(false);
      break;
    case kIzquierdoAbajo:
      IzquierdoAbajo(rv);
      poner(true);
      break;
    case kIzquierdoArriba:
      if (hit == pulsado_) IzquierdoArriba(rv, x, y);
      poner(false);
      break;
    case kDerechoAbajo:
      poner(true);
      break;
    case kDerechoArriba:
      if (hit == pulsado_) DerechoArriba(rv);
      poner(false);
      break;
    default:
      break;
  }
}

void TRectangulosVirtuales::ActivarGrabacion() {
  if (tae_ == nullptr) return;
  TGestorTAE::Bloqueo bloqueo(tae_);
  LimpiarPulsacion();
  IAudioPagina& audio = Audio();
  const uint8_t estado = audio.Estado();
  if (audio.Grabando() ||
      (estado != estado_audio::kFraseArmada && estado != estado_audio::kEjercicioArmado)) {
    return;
  }
  const std::string nombre = audio.NombreFrase();
  // The name becomes a file of the student's folder: it must stay there.
  if (nombre.find("..") != std::string::npos || nombre.find_first_of(":\\/") != std::string::npos) {
    return;
  }
  const std::string path = audio.CarpetaAlumno() + nombre + ".STR";
  TrazarF(kTracePulsacionLarga, "Activada grabacion de la frase '%s'", path.c_str());
  if (TFormatae* f = Formatae()) f->MostrarIcono(1);
  audio.GrabarAudioSTR(path.c_str());
  audio.SetGrabando(true);
}

#include "player/ThreadPeriodicEvents.h"

#include <algorithm>
#include <cstring>

#include "base/TGestorBMP.h"
#include "platform/Clock.h"
#include "player/EsperaGui.h"
#include "player/ILeccion.h"
#include "player/SesionAX.h"

const char* const ThreadPeriodicEvents::kTextosFinUnit[6] = {
    "End unit : please wait.",
    nullptr,
    "End unit : deinitializing, please wait.",
    "End unit : saving the student's work, please wait.",
    "End unit : inform of errors, please wait.",
    "End unit : freeing resources, please wait."};

namespace {

constexpr uint16_t kAnchoBarra = ThreadPeriodicEvents::kAncho;
constexpr uint16_t kFinBarraLenta = 679;  // where a slow load jumps back to the middle
constexpr uint16_t kMitadBarra = 343;
constexpr uint32_t kPausaCajaMs = 1000;
constexpr uint32_t kPausaFaseMs = 1000;
constexpr uint32_t kPasoEsperaMs = 100;

LOGFONTA FuenteAviso() {
  LOGFONTA fuente = platform::gfx::MakeLogFont("Arial", -12, 400);
  fuente.lfQuality = 2;
  return fuente;
}

}  // namespace

ThreadPeriodicEvents::ThreadPeriodicEvents(SesionAX& sesion) : sesion_(sesion) {}

ThreadPeriodicEvents::~ThreadPeriodicEvents() {
  if (record_.TieneThread() || superficie_ != TGestorGDI::kBufferInvalido) Terminar();
}

bool ThreadPeriodicEvents::Crear() {
  if (sesion_.gdi != nullptr && superficie_ == TGestorGDI::kBufferInvalido) {
    superficie_ = sesion_.gdi->CrearBuffer(kAncho, kAlto, 0, 0, sesion_.Unit().ventana);
  }
  objetivo_ = 0.0f;
  peticion_progreso_.store(0);
  progreso_.store(0);
  posicion_.store(0);
  esperado_.store(kEsperadoInicialMs);
  inicio_ = 0;
  peticion_espera_.store(0);
  retardo_espera_.store(0);
  peticion_fin_.store(0);
  return record_.Crear("ThreadPeriodicEvents", "ThreadPeriodicEvents creation failed.",
                       sesion_.osal, [this] { Bucle(); });
}

bool ThreadPeriodicEvents::Terminar() {
  OSAL::Trace(kTraceModulos, "Esperando a ThreadPeriodicEvents terminar.");
  // A thread that does not end may still draw with the cover and the slot:
  // they stay.
  if (!record_.Parar()) return false;
  TGestorBMP* bmp = sesion_.leccion != nullptr ? sesion_.leccion->GestorBMP() : nullptr;
  if (bmp != nullptr) {
    bmp->DeleteBitmap(portada_);
  } else {
    delete portada_;  // what DeleteBitmap does, without the manager
  }
  portada_ = nullptr;
  if (superficie_ != TGestorGDI::kBufferInvalido && sesion_.gdi != nullptr) {
    sesion_.gdi->FreeBuffer(superficie_);
  }
  superficie_ = TGestorGDI::kBufferInvalido;
  OSAL::Trace(kTraceModulos, "Terminado ThreadPeriodicEvents.");
  return true;
}

bool ThreadPeriodicEvents::Corriendo() const {
  return record_.TieneThread() && record_.Estado() == ThreadRecord::kCorriendo;
}

void ThreadPeriodicEvents::SumarProgreso(uint8_t pasos) {
  uint8_t actual = progreso_.load();
  uint8_t nuevo = 0;
  do {
    nuevo = static_cast<uint8_t>(std::min(100, actual + pasos));
  } while (!progreso_.compare_exchange_weak(actual, nuevo));
}

void ThreadPeriodicEvents::FijarProgreso(uint8_t pasos) {
  progreso_.store(std::min<uint8_t>(pasos, 100));
}

void ThreadPeriodicEvents::PedirProgresoUnit(uint8_t unidad) {
  progreso_.store(0);
  unidad_.store(unidad);
  peticion_progreso_.store(1);
  record_.DespertarThread();
}

bool ThreadPeriodicEvents::EsperarFinProgreso(const std::function<bool()>& parar) {
  const auto fin = [this] { return peticion_progreso_.load() == 0 || !Corriendo(); };
  while (!record_.EsperarCondicion(fin, kPasoEsperaMs)) {
    if (parar && parar()) return fin();
  }
  return true;
}

void ThreadPeriodicEvents::InicioEsperaPagina(uint8_t parte, uint16_t superficie_pagina) {
  if (parte == 0) return;
  if (sesion_.gdi != nullptr) {
    sesion_.gdi->CopyBuffer(superficie_pagina, 0, 0, superficie_, 0, 0, kAncho, kAlto);
  }
  {
    std::lock_guard<std::mutex> lock(cerrojo_espera_);
    retardo_espera_.store(kRetardoCaja);
    peticion_espera_.store(1);
  }
  // Asleep, the thread would never draw the box.
  record_.DespertarThread();
}

void ThreadPeriodicEvents::FinEsperaPagina() {
  {
    std::lock_guard<std::mutex> lock(cerrojo_espera_);
    if (peticion_espera_.load() == 0) return;
    if (retardo_espera_.load() > 0) {
      peticion_espera_.store(0);  // called off before the box was drawn
      return;
    }
  }
  // The box is being drawn: it stays its second, then the thread clears it.
  while (!record_.EsperarCondicion([this] { return peticion_espera_.load() == 0 || !Corriendo(); },
                                   kPasoEsperaMs)) {
  }
}

void ThreadPeriodicEvents::PedirFinUnit() {
  {
    std::lock_guard<std::mutex> lock(cerrojo_espera_);
    peticion_espera_.store(0);
  }
  peticion_progreso_.store(0);
  fase_fin_.store(0);
  peticion_fin_.store(1);
  record_.Notificar();
  record_.DespertarThread();
}

bool ThreadPeriodicEvents::FaseFinUnit(uint8_t fase) {
  // The phase before this one is on screen first; this one follows it by
  // at least a second. The caller is the GUI thread: the screens this
  // thread draws meanwhile are presented while it waits.
  while (Corriendo() && !EsperarFaseDibujada(kPasoEsperaMs)) {
  }
  if (!Corriendo()) return false;
  PausaEnGui(kPausaFaseMs);
  uint8_t dibujada = 1;
  fase_fin_.compare_exchange_strong(dibujada, fase);
  record_.DespertarThread();
  return true;
}

bool ThreadPeriodicEvents::EsperarFaseDibujada(uint32_t ms) {
  return EsperarEnGui([this] { return fase_fin_.load() == 1 || !Corriendo(); }, ms) &&
         Corriendo();
}

void ThreadPeriodicEvents::ProgresoCargaUnit() {
  TGestorGDI* gdi = sesion_.gdi;
  uint16_t posicion = posicion_.load();
  if (posicion >= kAnchoBarra) {
    peticion_progreso_.store(0);
    record_.Notificar();
    OSAL::Trace(kTraceProgreso, "Progress Carga Unit finalizado.");
    return;
  }
  const uint32_t ahora = sesion_.ElapsedTicks();
  if (posicion == 0) {
    OSAL::Trace(kTraceProgreso, "Progress Carga Unit inicializado.");
    posicion_.store(1);
    inicio_ = ahora;
    esperado_.store(kEsperadoInicialMs);
    if (portada_ == nullptr && sesion_.leccion != nullptr) {
      if (TGestorBMP* bmp = sesion_.leccion->GestorBMP()) {
        const std::string path = FormatoF("M:\\DATOS\\SKIN\\CLASES\\PORT%03uA.PNG",
                                          static_cast<unsigned>(unidad_.load()));
        try {
          portada_ = bmp->LeerBitmapPNGDisco(superficie_, path.c_str());
        } catch (...) {
          portada_ = nullptr;  // a lost connection: the bar reveals nothing
        }
      }
    }
    return;
  }
  const uint32_t transcurrido = ahora - inicio_;
  const uint8_t pasos = progreso_.load();
  objetivo_ = static_cast<float>(transcurrido) * 687.0f / static_cast<float>(esperado_.load());
  bool dibujar = true;
  if (pasos >= 100) {
    posicion = static_cast<uint16_t>(std::min<int>(kAnchoBarra, posicion + 40));
  } else {
    const int objetivo = static_cast<int>(objetivo_);
    if (objetivo > posicion + 8) {
      posicion += 8;
    } else if (objetivo > posicion + 4) {
      posicion += 4;
    } else if (objetivo > posicion + 2) {
      posicion += 2;
    } else {
      dibujar = false;
    }
  }
  posicion_.store(posicion);
  if (dibujar && gdi != nullptr) {
    gdi->DrawBitmap(superficie_, portada_, 0, 0, posicion, kAlto);
    gdi->MostrarBuffer(superficie_, 0, 0, posicion, kAlto);
  }
  if (pasos >= 1) {
    // Re-estimated from the steps, in 64 bits, never 0.
    const uint64_t estimado = uint64_t{transcurrido} * 100 / pasos;
    esperado_.store(static_cast<uint32_t>(std::clamp<uint64_t>(estimado, 1, kEsperadoInicialMs)));
  }
  if (pasos <= 90 && posicion >= kFinBarraLenta) {
    posicion_.store(kMitadBarra);
    if (gdi != nullptr) {
      gdi->FillRect(superficie_, 0, 0, kAncho, kAlto, 0x000000);
      gdi->MostrarBuffer(superficie_, 0, 0, 0, 0);
    }
  }
}

void ThreadPeriodicEvents::PintarCargandoPagina() {
  {
    std::lock_guard<std::mutex> lock(cerrojo_espera_);
    if (peticion_espera_.load() == 0) return;
    const uint8_t retardo = retardo_espera_.load();
    if (retardo > 0) {
      retardo_espera_.store(retardo - 1);
      return;
    }
  }
  // From here FinEsperaPagina waits for the request to clear.
  if (TGestorGDI* gdi = sesion_.gdi) {
    static const char kTexto[] = "Page loading, please wait ...";
    gdi->ShadeBuffer(superficie_);
    gdi->FillRect(superficie_, 256, 222, 186, 26, 0xFFFFFF);
    gdi->TextOutFont(superficie_, 272, 228, kTexto, static_cast<int>(std::strlen(kTexto)),
                     FuenteAviso(), 0, 0x000000, 0xFFFFFF);
    gdi->MostrarBuffer(superficie_, 0, 0, 0, 0);
  }
  Observar(kCajaDibujada);
  platform::SleepMs(kPausaCajaMs);
  {
    std::lock_guard<std::mutex> lock(cerrojo_espera_);
    peticion_espera_.store(0);
  }
  record_.Notificar();
}

void ThreadPeriodicEvents::TextoFinUnit(uint8_t fase) {
  const char* texto = fase < 6 ? kTextosFinUnit[fase] : nullptr;
  const uint16_t pagina = sesion_.Unit().superficie_pagina;
  if (texto != nullptr && sesion_.gdi != nullptr) {
    sesion_.gdi->FillRect(pagina, 114, 222, 466, 26, 0xFFFFFF);
    sesion_.gdi->TextOutFont(pagina, 130, 228, texto, static_cast<int>(std::strlen(texto)),
                             FuenteAviso(), 0, 0x000000, 0xFFFFFF);
    sesion_.gdi->MostrarBuffer(pagina, 114, 222, 466, 26);
  }
  Observar(fase);
}

void ThreadPeriodicEvents::PantallaFinUnit() {
  uint8_t fase = fase_fin_.load();
  if (fase == 0) {
    const uint16_t pagina = sesion_.Unit().superficie_pagina;
    if (sesion_.gdi != nullptr) {
      sesion_.gdi->ShadeBuffer(pagina);
      sesion_.gdi->MostrarBuffer(pagina, 0, 0, 0, 0);
    }
    TextoFinUnit(0);
  } else if (fase >= 2 && fase <= 5) {
    TextoFinUnit(fase);
    if (fase == 5) peticion_fin_.store(0);
  } else {
    return;
  }
  // Only the phase just drawn goes back to idle, never a newer one.
  fase_fin_.compare_exchange_strong(fase, 1);
  record_.Notificar();
}

void ThreadPeriodicEvents::Dormir() {
  OSAL::Trace(kTraceProgreso, "Thread ThreadPeriodicEvents suspendido.");
  record_.SuspenderThread();
}

void ThreadPeriodicEvents::Bucle() {
  while (record_.Estado() == ThreadRecord::kCorriendo) {
    bool servido = false;
    if (peticion_progreso_.load() != 0) {
      ProgresoCargaUnit();
      servido = true;
    }
    if (peticion_espera_.load() != 0) {
      PintarCargandoPagina();
      servido = true;
    }
    if (peticion_fin_.load() != 0) {
      PantallaFinUnit();
      platform::SleepMs(kTurnoMs);
      continue;
    }
    if (servido) {
      platform::SleepMs(kTurnoMs);
    } else {
      OSAL::Trace(kTraceProgreso, "Thread de Progress se duerme esperando peticiones.");
      Dormir();
    }
  }
}

#include "media/ThreadGrabaAudio.h"

#include <string>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"
#include "media/TAudio.h"
#include "media/internal/TrazaAudio.h"

using media_internal::Traza;

namespace {
constexpr uint32_t kEsperaPaqueteMs = 100;
}

const char* const ThreadGrabaAudio::kErrorGrabacion = "No se ha podido grabar el audio.";

bool ThreadGrabaAudio::Crear(OSAL* osal) {
  return ThreadRecord::Crear("ThreadGrabaAudio", "ThreadGrabaAudio creation failed.", osal,
                             [this] { Ejecutar(); });
}

bool ThreadGrabaAudio::Terminar() {
  const bool parado = Parar();
  OSAL::Trace(kTraceModulos, "ThreadGrabaAudio Terminado.");
  return parado;
}

void ThreadGrabaAudio::Ejecutar() {
  while (Estado() == kCorriendo) {
    // Nothing thrown ends the worker: the recording in hand fails, is
    // reported once, and the next one finds the worker as usual.
    try {
      Vuelta();
    } catch (...) {
      Fallar(kErrorGrabacion);
      audio_.compresor_activo_.store(0);
      audio_.AvisarCambio();
      SuspenderThreadFor(kEsperaPaqueteMs);
    }
  }
  CerrarFichero();
}

void ThreadGrabaAudio::Fallar(const char* texto) {
  const bool primera = !fallo_;
  fallo_ = true;
  audio_.gen_fallo_grabacion_.store(generacion_);
  if (primera && texto != nullptr) audio_.Informar(texto);
}

void ThreadGrabaAudio::Vuelta() {
  const uint8_t estado = audio_.estado_.load(std::memory_order_acquire);
  if (estado == TAudio::kCancelando) {
    OSAL::Trace(kTraceAudioCrudo, "Cancelada la grabacion de audio a disco.");
    audio_.compresor_activo_.store(0);
    audio_.VaciarPaquetes();
    CerrarFichero();
    en_curso_ = false;
    audio_.AvisarCambio();
    SuspenderThread();
    OSAL::Trace(kTraceAudioCrudo, "ThreadGrabaAudio RESUME.");
    return;
  }
  audio_.compresor_activo_.store(1);
  PaqueteAudio paquete;
  size_t quedan = 0;
  if (audio_.SacarPaquete(&paquete, &quedan)) {
    Traza(kTraceAudioCrudo, "Comprimir paquete (%u) de audio RAW.",
          static_cast<unsigned>(quedan + 1));
    Comprimir(paquete);
    return;
  }
  if (estado == TAudio::kGrabando) {
    OSAL::Trace(kTraceAudioCrudo, "Esperando un nuevo paquete de audio RAW para comprimir.");
    SuspenderThreadFor(kEsperaPaqueteMs);
    return;
  }
  // The recording was ended and every packet is written.
  if (en_curso_) {
    const bool cerrado = CerrarFichero();
    OSAL::Trace(kTraceAudioCrudo, "Finalizado el fichero STR.");
    en_curso_ = false;
    if (cerrado && audio_.gen_cancelada_.load() != generacion_) {
      audio_.Notificar(TAudio::kFinGrabacion);
      OSAL::Trace(kTraceNotificador, "Thread Notificaciones despertado -> FIN_GRABACION.");
    }
  }
  audio_.compresor_activo_.store(0);
  audio_.AvisarCambio();
  OSAL::Trace(kTraceAudioCrudo,
              "Nos dormimos porque ya se ha finalizado la compresion de paquetes de audio RAW.");
  SuspenderThread();
  OSAL::Trace(kTraceAudioCrudo, "ThreadGrabaAudio RESUME.");
}

void ThreadGrabaAudio::Comprimir(const PaqueteAudio& paquete) {
  if (!en_curso_ || paquete.generacion != generacion_) {
    // A packet of a new recording: the file of an older one is closed first
    // (it was cancelled or its end timed out).
    if (en_curso_) CerrarFichero();
    const TAudio::Trabajo trabajo = audio_.LeerTrabajo();
    if (trabajo.generacion != paquete.generacion) return;  // a recording already over
    generacion_ = paquete.generacion;
    en_curso_ = true;
    fallo_ = false;
    audio_.codec_.ReiniciarCodificador();
    escritor_.Iniciar(audio_.ehdd_, trabajo.grabacion, &audio_.codec_);
    if (audio_.ehdd_ == nullptr || trabajo.grabacion[0] == '\0') fallo_ = true;
  }
  if (fallo_) {
    audio_.gen_fallo_grabacion_.store(generacion_);
    audio_.AvisarCambio();
    return;
  }
  try {
    audio_.HookCompresor();
    if (!escritor_.EscribirTrama(paquete.muestras.data())) {
      Fallar(nullptr);
    } else if (escritor_.tramas() == 1) {
      audio_.gen_fichero_creado_.store(generacion_);
    }
  } catch (const std::string& texto) {
    Fallar(texto.c_str());
  } catch (...) {
    Fallar(kErrorGrabacion);
  }
  audio_.AvisarCambio();
}

bool ThreadGrabaAudio::CerrarFichero() {
  try {
    escritor_.Cerrar();
    return !fallo_;
  } catch (const std::string& texto) {
    audio_.Informar(texto.c_str());
  } catch (...) {
  }
  return false;
}

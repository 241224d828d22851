#include "media/ThreadNotifyAudio.h"

#include "base/OSAL.h"
#include "media/TAudio.h"

bool ThreadNotifyAudio::Crear(OSAL* osal) {
  return ThreadRecord::Crear("ThreadNotifyAudio", "ThreadNotifyAudio creation failed.", osal,
                             [this] { Ejecutar(); });
}

bool ThreadNotifyAudio::Terminar() {
  const bool parado = Parar();
  OSAL::Trace(kTraceModulos, "ThreadNotifyAudio Terminado.");
  return parado;
}

void ThreadNotifyAudio::Ejecutar() {
  while (Estado() == kCorriendo) {
    NotificacionAudio aviso;
    if (audio_.SacarNotificacion(&aviso)) {
      // A code whose handling throws is dropped; the notifier goes on.
      try {
        Atender(aviso);
      } catch (...) {
        OSAL::Trace(kTraceError, "Fallo atendiendo una notificacion de audio.");
      }
      continue;
    }
    OSAL::Trace(kTraceNotificador, "Thread Notificaciones dormido.");
    SuspenderThread();
  }
}

void ThreadNotifyAudio::Atender(const NotificacionAudio& aviso) {
  switch (aviso.codigo) {
    case TAudio::kFinOGG:
    case TAudio::kFinSTR: {
      OSAL::Trace(kTraceNotificador, aviso.codigo == TAudio::kFinOGG ? "Notificado Fin Play OGG."
                                                                     : "Notificado Fin Play STR.");
      // Only the playback that ended: one a start or a cancel already closed
      // reaches nothing.
      if (audio_.CerrarStreamTerminado(aviso.generacion)) audio_.AvisarFin(aviso.generacion);
      break;
    }
    case TAudio::kCancelOGG:
      OSAL::Trace(kTraceNotificador, "Notificado Cancel Play OGG.");
      break;
    case TAudio::kCancelSTR:
      OSAL::Trace(kTraceNotificador, "Notificado Cancel Play STR.");
      break;
    case TAudio::kCancelGrabacion:
      OSAL::Trace(kTraceNotificador, "Notificado Cancel Grabar STR.");
      break;
    default:
      break;
  }
  audio_.Observar(aviso.codigo, aviso.generacion);
}

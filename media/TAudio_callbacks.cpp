// TAudio's side of the device threads: the output and capture callbacks,
// and the queues they share with the workers.
#include <algorithm>
#include <cstring>

#include "base/OSAL.h"
#include "media/TAudio.h"
#include "media/internal/TrazaAudio.h"

using media_internal::Traza;

int TAudio::CallbackSalida(const int16_t* /*input*/, int16_t* output, uint32_t frames,
                           uint32_t time_ms, void* user) {
  try {
    static_cast<TAudio*>(user)->Salida(output, frames, time_ms);
  } catch (...) {
    if (output != nullptr) std::memset(output, 0, size_t{frames} * 2);
  }
  return 0;
}

int TAudio::CallbackEntrada(const int16_t* input, int16_t* /*output*/, uint32_t frames,
                            uint32_t /*time_ms*/, void* user) {
  try {
    static_cast<TAudio*>(user)->Entrada(input, frames);
  } catch (...) {
  }
  return 0;
}

void TAudio::Salida(int16_t* output, uint32_t frames, uint32_t time_ms) {
  if (output == nullptr) return;
  const uint32_t propios = frames_.load();
  const uint32_t frecuencia = frecuencia_.load();
  const uint32_t duracion = frecuencia > 0 ? propios * 1000 / frecuencia : 0;
  const size_t bytes = size_t{frames} * 2;
  const uint8_t estado = estado_.load(std::memory_order_acquire);

  if (estado == kCancelando) {
    // Reported once: by the callback that was playing, or for a playback the
    // loader turned into a cancellation before any callback played it.
    if (callback_activo_.load() != 0 || cancelacion_pendiente_.exchange(0) != 0) {
      cargador_.DespertarThread();
      Notificar(tipo_fuente_.load() == kFuenteOGG ? kCancelOGG : kCancelSTR);
      OSAL::Trace(kTraceNotificador, "Thread Notificaciones despertado -> AUDIO_CANCELAR.");
    }
    callback_activo_.store(0);
    AvisarCambio();
    std::memset(output, 0, bytes);
    return;
  }
  if (estado != kReproduciendo) {
    callback_activo_.store(0);
    OSAL::Trace(kTraceAudioBuffers,
                "Callback de audio emitiendo silencios esperando a que lo paren.");
    std::memset(output, 0, bytes);
    return;
  }

  callback_activo_.store(1);
  if (buffer_listo_.load(std::memory_order_acquire) == 0) {
    std::memset(output, 0, bytes);
    Traza(kTraceAudioTiempo, "Audio entro en silencio en %lu / %lu mseg.",
          static_cast<unsigned long>(tiempo_logico_.load()),
          static_cast<unsigned long>(tiempo_reproducido_.load()));
    tiempo_logico_.fetch_add(duracion);
    return;
  }

  const uint32_t n = std::min(frames, std::min(propios, kMuestrasBuffer));
  std::memcpy(output, buffer_, size_t{n} * 2);
  if (frames > n) std::memset(output + n, 0, size_t{frames - n} * 2);

  if (ultimo_buffer_.load() != 0) {
    Traza(kTraceAudioBuffers, "Play ultimo buffer audio en %lu / %lu / %lu mseg.",
          static_cast<unsigned long>(tiempo_logico_.load()),
          static_cast<unsigned long>(tiempo_reproducido_.load()),
          static_cast<unsigned long>(time_ms));
    const uint32_t logico = tiempo_logico_.fetch_add(duracion) + duracion;
    const uint32_t reproducido = tiempo_reproducido_.fetch_add(duracion) + duracion;
    if (logico != reproducido) {
      Traza(kTraceAudioTiempo, "Playeado un audio con delays: %lu / %lu mseg.",
            static_cast<unsigned long>(logico), static_cast<unsigned long>(reproducido));
    }
    uint8_t esperado = kReproduciendo;
    if (estado_.compare_exchange_strong(esperado, kInactivo, std::memory_order_acq_rel)) {
      Notificar(tipo_fuente_.load() == kFuenteOGG ? kFinOGG : kFinSTR);
      OSAL::Trace(kTraceNotificador, "Thread Notificaciones despertado -> FIN_AUDIO.");
    }
    callback_activo_.store(0);
    AvisarCambio();
    return;
  }

  buffer_listo_.store(0, std::memory_order_release);
  cargador_.DespertarThread();
  if (empezado_.load() != 0) {
    tiempo_logico_.fetch_add(duracion);
    tiempo_reproducido_.fetch_add(duracion);
  } else {
    inicio_hardware_.store(time_ms);
    Traza(kTraceAudioTiempo, "Sincronizacion Start Audio en %lu mseg. reales,%lu mseg. hardware.",
          static_cast<unsigned long>(tiempo_logico_.load()), static_cast<unsigned long>(time_ms));
    if (tiempo_logico_.load() > 0) {
      Traza(kTraceAudioTiempo, "El audio empieza %lu mseg tarde.",
            static_cast<unsigned long>(tiempo_logico_.load()));
    }
    tiempo_logico_.store(posicion_inicio_.load());
    tiempo_reproducido_.store(posicion_inicio_.load());
    empezado_.store(1, std::memory_order_release);
  }
  Traza(kTraceAudioBuffers, "Play buffer audio en %lu / %lu mseg.",
        static_cast<unsigned long>(tiempo_logico_.load()),
        static_cast<unsigned long>(tiempo_reproducido_.load()));
}

void TAudio::Entrada(const int16_t* input, uint32_t frames) {
  const uint8_t estado = estado_.load(std::memory_order_acquire);
  if (estado == kCancelando) {
    callback_activo_.store(0);
    OSAL::Trace(kTraceNotificador, "Cancelado el callback.");
    if (cancel_notificado_.exchange(1) == 0) Notificar(kCancelGrabacion);
    AvisarCambio();
    return;
  }
  if (estado != kGrabando) {
    callback_activo_.store(0);
    OSAL::Trace(kTraceAudioCrudo,
                "Callback de audio grabando pero no se esta procesando la grabacion.");
    return;
  }
  callback_activo_.store(1);
  if (input == nullptr) return;
  PaqueteAudio paquete;
  paquete.generacion = generacion_.load(std::memory_order_acquire);
  std::copy_n(input, std::min<size_t>(frames, paquete.muestras.size()), paquete.muestras.begin());
  size_t encolados = 0;
  {
    std::lock_guard<std::mutex> lock(cola_mutex_);
    if (cola_.size() < kMaxPaquetes) cola_.push_back(paquete);
    encolados = cola_.size();
  }
  Traza(kTraceAudioCrudo, "Encolado nuevo paquete (%u) RAW de audio grabado.",
        static_cast<unsigned>(encolados));
  compresor_.DespertarThread();
}

void TAudio::Notificar(uint8_t codigo) {
  {
    std::lock_guard<std::mutex> lock(avisos_mutex_);
    if (avisos_.size() >= kMaxNotificaciones) avisos_.pop_front();
    avisos_.push_back(NotificacionAudio{codigo, generacion_.load(std::memory_order_acquire)});
  }
  notificador_.DespertarThread();
}

bool TAudio::SacarNotificacion(NotificacionAudio* aviso) {
  std::lock_guard<std::mutex> lock(avisos_mutex_);
  if (avisos_.empty()) return false;
  *aviso = avisos_.front();
  avisos_.pop_front();
  return true;
}

bool TAudio::SacarPaquete(PaqueteAudio* paquete, size_t* quedan) {
  std::lock_guard<std::mutex> lock(cola_mutex_);
  if (cola_.empty()) return false;
  *paquete = cola_.front();
  cola_.pop_front();
  *quedan = cola_.size();
  return true;
}

void TAudio::VaciarPaquetes() {
  std::lock_guard<std::mutex> lock(cola_mutex_);
  cola_.clear();
}

TAudio::Trabajo TAudio::LeerTrabajo() {
  std::lock_guard<std::mutex> lock(trabajo_mutex_);
  return trabajo_;
}

void TAudio::AvisarFin(uint32_t generacion) {
  std::lock_guard<std::mutex> lock(sink_mutex_);
  if (!sink_) return;
  try {
    sink_(generacion);
  } catch (...) {
  }
}

void TAudio::Observar(uint8_t codigo, uint32_t generacion) {
  std::lock_guard<std::mutex> lock(sink_mutex_);
  if (!observador_) return;
  try {
    observador_(codigo, generacion);
  } catch (...) {
  }
}

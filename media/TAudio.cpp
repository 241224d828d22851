#include "media/TAudio.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/OSAL.h"
#include "media/internal/TrazaAudio.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"

using media_internal::Traza;

namespace {

uint32_t MsDesde(std::chrono::steady_clock::time_point inicio) {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - inicio)
                                   .count());
}

// Copies a path into a fixed field; a path that does not fit leaves the field
// empty (it names no file) rather than naming another one.
template <size_t N>
void CopiarNombre(char (&destino)[N], const char* origen) {
  destino[0] = '\0';
  if (origen == nullptr) return;
  const size_t n = std::strlen(origen);
  if (n >= N) return;
  std::memcpy(destino, origen, n + 1);
}

}  // namespace

TAudio::TAudio() = default;

TAudio::~TAudio() {
  Terminar();
}

void TAudio::SetFinAudio(FinAudioSink sink) {
  std::lock_guard<std::mutex> lock(sink_mutex_);
  sink_ = std::move(sink);
}

void TAudio::SetObservador(Observador observador) {
  std::lock_guard<std::mutex> lock(sink_mutex_);
  observador_ = std::move(observador);
}

void TAudio::SetHookCargaForTesting(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(hook_mutex_);
  hook_carga_ = std::move(hook);
}

void TAudio::SetHookCompresorForTesting(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(hook_mutex_);
  hook_compresor_ = std::move(hook);
}

void TAudio::HookCompresor() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(hook_mutex_);
    hook = hook_compresor_;
  }
  if (hook) hook();
}

AudioDevice& TAudio::Dispositivo() {
  return device_ != nullptr ? *device_ : DefaultAudioDevice();
}

void TAudio::Informar(const char* texto) {
  if (osal_ != nullptr) {
    osal_->MostrarError(texto);
  } else {
    OSAL::Trace(kTraceError, texto);
    platform::ShowMessageBox(texto, "ERROR", platform::kMbOk);
  }
}

bool TAudio::Esperar(const std::function<bool()>& pred, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(espera_mutex_);
  return espera_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), pred);
}

void TAudio::AvisarCambio() {
  { std::lock_guard<std::mutex> lock(espera_mutex_); }
  espera_cv_.notify_all();
}

void TAudio::LimpiarEstado() {
  callback_activo_.store(0);
  carga_confirmada_.store(0);
  empezado_.store(0);
  posicion_inicio_.store(0);
  inicio_hardware_.store(0);
  tiempo_logico_.store(0);
  tiempo_reproducido_.store(0);
  posicion_leida_.store(0);
  buffer_listo_.store(0);
  ultimo_buffer_.store(0);
  compresor_activo_.store(0);
  frecuencia_.store(0);
  frames_.store(0);
  tipo_fuente_.store(0);
  fuente_abierta_.store(0);
  porcentaje_.store(0);
  bytes_leidos_.store(0);
  longitud_.store(0);
  std::lock_guard<std::mutex> lock(trabajo_mutex_);
  trabajo_.nombre[0] = '\0';
}

void TAudio::Iniciar() {
  if (iniciado_) return;
  LimpiarEstado();
  buffer_ = static_cast<int16_t*>(OSAL::Malloc(kBytesBuffer));
  if (buffer_ == nullptr) {
    Informar("No se ha podido reservar la memoria para los buffers de audio.");
    return;
  }
  std::memset(buffer_, 0, kBytesBuffer);
  cargador_.Crear(osal_);
  compresor_.Crear(osal_);
  notificador_.Crear(osal_);
  iniciado_ = true;
}

void TAudio::PlayAudioOGG(const char* path) {
  IniciarPlay(kFuenteOGG, path, 0, "Play audio OGG '%s'");
}

void TAudio::PlayAudioSTR(const char* path) {
  IniciarPlay(kFuenteSTR, path, 0, "Play audio STR '%s'");
}

void TAudio::PlayAudioOGGPosicion(const char* path, uint32_t ms) {
  IniciarPlay(kFuenteOGG, path, ms, "Play audio OGG '%s' at %lu mseg.");
}

void TAudio::IniciarPlay(uint8_t tipo, const char* path, uint32_t ms, const char* texto_traza) {
  std::lock_guard<CriticalSection> lock(operacion_);
  const char* nombre = path != nullptr ? path : "";
  char que[kMaxNombre + 64];
  std::snprintf(que, sizeof que, texto_traza, nombre, static_cast<unsigned long>(ms));
  Traza(kTraceAudioExclusion, "Start Exclusion Mutua -> %s", que);
  CancelarAudio();
  // Without its buffer or loader a playback would never end.
  if (iniciado_ && buffer_ != nullptr && cargador_.TieneThread()) {
    const uint32_t generacion = generacion_.load() + 1;
    {
      std::lock_guard<std::mutex> trabajo(trabajo_mutex_);
      trabajo_.tipo = tipo;
      CopiarNombre(trabajo_.nombre, nombre);
      trabajo_.posicion = ms;
      trabajo_.generacion = generacion;
    }
    const bool ogg = tipo == kFuenteOGG;
    tipo_fuente_.store(tipo);
    fuente_abierta_.store(0);
    buffer_listo_.store(0);
    ultimo_buffer_.store(0);
    empezado_.store(0);
    cancelacion_pendiente_.store(0);
    frecuencia_.store(ogg ? kFrecuenciaOGG : kFrecuenciaSTR);
    frames_.store(ogg ? kFramesOGG : kFramesSTR);
    posicion_inicio_.store(ms);
    posicion_leida_.store(0);
    generacion_.store(generacion, std::memory_order_release);
    estado_.store(kReproduciendo, std::memory_order_release);
    cargador_.DespertarThread();
    AudioStreamParams params;
    params.output_channels = 1;
    params.sample_rate = frecuencia_.load();
    params.frames_per_buffer = frames_.load();
    AbrirStream(params, &TAudio::CallbackSalida, "No se ha podido crear el stream de audio.",
                "No se ha podido empezar el play del audio.");
  }
  Traza(kTraceAudioExclusion, "End Exclusion Mutua -> %s", que);
}

void TAudio::GrabarAudioSTR(const char* path) {
  std::lock_guard<CriticalSection> lock(operacion_);
  const char* nombre = path != nullptr ? path : "";
  Traza(kTraceAudioExclusion, "Start Exclusion Mutua -> Grabar audio STR '%s'", nombre);
  CancelarAudio();
  if (iniciado_ && compresor_.TieneThread()) {
    const uint32_t generacion = generacion_.load() + 1;
    frecuencia_.store(kFrecuenciaSTR);
    frames_.store(kFramesSTR);
    VaciarPaquetes();
    {
      std::lock_guard<std::mutex> trabajo(trabajo_mutex_);
      CopiarNombre(trabajo_.grabacion, nombre);
      trabajo_.generacion = generacion;
    }
    cancel_notificado_.store(0);
    generacion_.store(generacion, std::memory_order_release);
    estado_.store(kGrabando, std::memory_order_release);
    AudioStreamParams params;
    params.input_channels = 1;
    params.sample_rate = kFrecuenciaSTR;
    params.frames_per_buffer = kFramesSTR;
    if (AbrirStream(params, &TAudio::CallbackEntrada,
                    "No se ha podido crear el stream de grabacion de audio.",
                    "No se ha podido empezar el record del audio.")) {
      compresor_.DespertarThread();
    }
  }
  Traza(kTraceAudioExclusion, "End Exclusion Mutua -> Grabar audio STR '%s'", nombre);
}

bool TAudio::AbrirStream(const AudioStreamParams& params, AudioCallback callback,
                         const char* texto_crear, const char* texto_empezar) {
  AudioDevice& device = Dispositivo();
  std::string motivo;
  if (!device.Initialize(&motivo)) {
    Informar("No se ha podido inicializar la libreria PORTAUDIO.");
    CancelarAudio();
    return false;
  }
  abierto_en_ = osal_ != nullptr ? osal_->ElapsedTicks() : platform::TickCount();
  std::unique_ptr<AudioStream> stream = device.OpenDefaultStream(params, callback, this, &motivo);
  if (!stream) {
    Traza(kTraceError, "%s (%s)", texto_crear, motivo.c_str());
    Informar(texto_crear);
    CancelarAudio();
    return false;
  }
  AudioStream* abierto = stream.get();
  {
    std::lock_guard<CriticalSection> lock(stream_mutex_);
    stream_ = std::move(stream);
  }
  if (!abierto->Start(&motivo)) {
    Traza(kTraceError, "%s (%s)", texto_empezar, motivo.c_str());
    Informar(texto_empezar);
    CancelarAudio();
    return false;
  }
  return true;
}

void TAudio::FinGrabarFraseSTR() {
  std::lock_guard<CriticalSection> lock(operacion_);
  OSAL::Trace(kTraceAudioExclusion, "Start Exclusion Mutua -> FinGrabarFraseSTR");
  // Only a recording that runs has anything to end (a capture that did not
  // start left the state at 0).
  if (estado_.load() == kGrabando) {
    const uint32_t generacion = generacion_.load();
    // Every finished recording has a file with at least one frame.
    OSAL::Trace(kTraceAudioExclusion, "    -> Esperamos a que se inicialize.");
    Esperar(
        [&] {
          return estado_.load() != kGrabando || gen_fichero_creado_.load() == generacion ||
                 gen_fallo_grabacion_.load() == generacion;
        },
        kEsperaMaximaMs);
    CerrarStream();
    callback_activo_.store(0);
    estado_.store(kInactivo);
    AvisarCambio();
    compresor_.DespertarThread();
    // The compressor writes what is queued, closes the file and sends code
    // 3; the wait ends when it is done or makes no progress for 2 s.
    size_t antes = SIZE_MAX;
    while (!Esperar([&] { return compresor_activo_.load() == 0; }, kEsperaMaximaMs)) {
      size_t quedan = 0;
      {
        std::lock_guard<std::mutex> cola(cola_mutex_);
        quedan = cola_.size();
      }
      if (quedan >= antes) break;
      antes = quedan;
    }
  }
  OSAL::Trace(kTraceAudioExclusion, "End Exclusion Mutua -> FinGrabarFraseSTR");
}

void TAudio::CloseAudio() {
  std::lock_guard<CriticalSection> lock(operacion_);
  OSAL::Trace(kTraceAudioExclusion, "Close Audio.");
  CancelarAudio();
}

void TAudio::CancelarAudio() {
  OSAL::Trace(kTraceAudioExclusion, "AudioStreaming Cancelar el audio actual.");
  Traza(kTraceAudioExclusion, "    -> Audio en estado %u y valor 1 si se esta escuchando: %u",
        estado_.load(), empezado_.load());
  if (estado_.load() != kInactivo) gen_cancelada_.store(generacion_.load());

  if (estado_.load() == kReproduciendo && cargador_.TieneThread()) {
    OSAL::Trace(kTraceAudioExclusion, "    -> Esperamos a que se inicialize.");
    Esperar([&] { return estado_.load() != kReproduciendo || fuente_abierta_.load() != 0; },
            kEsperaMaximaMs);
  }

  estado_.store(kCancelando, std::memory_order_release);
  bool hay_stream = false;
  {
    std::lock_guard<CriticalSection> lock(stream_mutex_);
    hay_stream = stream_ != nullptr;
  }
  if (hay_stream) {
    Esperar([&] { return callback_activo_.load() == 0; }, kEsperaMaximaMs);
  }
  callback_activo_.store(0);
  OSAL::Trace(kTraceAudioExclusion, "    Callback audio cancelado.");

  if (cargador_.TieneThread()) {
    carga_confirmada_.store(0);
    const auto inicio = std::chrono::steady_clock::now();
    do {
      estado_.store(kCancelando, std::memory_order_release);
      cargador_.DespertarThread();
      if (Esperar([&] { return carga_confirmada_.load() != 0; }, 10)) break;
    } while (MsDesde(inicio) < kEsperaMaximaMs);
  }
  OSAL::Trace(kTraceAudioExclusion, "    ThreadCargaAudio Cancelado.");

  if (compresor_activo_.load() != 0 && compresor_.TieneThread()) {
    compresor_.DespertarThread();
    Esperar([&] { return compresor_activo_.load() == 0; }, kEsperaMaximaMs);
  }
  OSAL::Trace(kTraceAudioExclusion, "    Thread Grabacion Cancelado.");

  CerrarStream();
  OSAL::Trace(kTraceAudioExclusion, "    PORTAUDIO cancelado.");

  LimpiarEstado();
  estado_.store(kInactivo, std::memory_order_release);
  AvisarCambio();
}

void TAudio::CerrarStream() {
  std::lock_guard<CriticalSection> lock(stream_mutex_);
  if (!stream_) return;
  const uint32_t ahora = osal_ != nullptr ? osal_->ElapsedTicks() : platform::TickCount();
  if (ahora - abierto_en_ <= kGuardaCierreMs) {
    OSAL::Trace(kTraceAudioExclusion, "Libreria PORTAUDIO cerrada demasiado rapida.");
    platform::SleepMs(kGuardaCierreMs);
  }
  stream_->Stop();
  stream_.reset();
}

bool TAudio::CerrarStreamTerminado(uint32_t generacion) {
  std::lock_guard<CriticalSection> lock(operacion_);
  if (generacion != generacion_.load()) return false;
  {
    std::lock_guard<CriticalSection> stream(stream_mutex_);
    if (!stream_) return false;
  }
  CerrarStream();
  return true;
}

uint32_t TAudio::PosicionAudio() {
  if (estado_.load(std::memory_order_acquire) != kReproduciendo) {
    OSAL::Trace(kTraceAudioExclusion,
                "Peticion de Posicion de audio cuando el audio esta inactivo.");
    return 0;
  }
  uint32_t tiempo = 0;
  {
    std::lock_guard<CriticalSection> lock(stream_mutex_);
    if (!stream_) return 0;
    tiempo = stream_->TimeMs();
  }
  const int64_t frecuencia = frecuencia_.load();
  const int64_t duracion = frecuencia > 0 ? int64_t{frames_.load()} * 1000 / frecuencia : 0;
  const int64_t hardware =
      int64_t{tiempo} + posicion_inicio_.load() - int64_t{inicio_hardware_.load()};
  const int64_t logico = tiempo_logico_.load();
  const int64_t reproducido = tiempo_reproducido_.load();
  if (std::llabs(logico - hardware) > duracion + 25) {
    Traza(kTraceAudioTiempo,
          "El hardware de audio y el contador logico se estan desfasando %lu / %lu",
          static_cast<unsigned long>(logico), static_cast<unsigned long>(hardware));
  }
  int64_t posicion = reproducido + hardware - logico;
  if (posicion < 0) posicion = 0;
  if (posicion > UINT32_MAX) posicion = UINT32_MAX;
  // A buffer of silence the loader was late for pushes the sound back by
  // its length; the position then holds until the sound is there again, so
  // the readings of one playback only rise.
  uint32_t previa = posicion_leida_.load();
  while (static_cast<uint32_t>(posicion) > previa &&
         !posicion_leida_.compare_exchange_weak(previa, static_cast<uint32_t>(posicion))) {
  }
  if (static_cast<uint32_t>(posicion) < previa) posicion = previa;
  Traza(kTraceAudioExclusion, "Posicion del audio %lu mseg.", static_cast<unsigned long>(posicion));
  return static_cast<uint32_t>(posicion);
}

void TAudio::Terminar() {
  if (terminado_) return;
  terminado_ = true;
  if (iniciado_) CloseAudio();
  bool parados = cargador_.Terminar();
  parados = compresor_.Terminar() && parados;
  parados = notificador_.Terminar() && parados;
  {
    std::lock_guard<std::mutex> lock(sink_mutex_);
    sink_ = nullptr;
    observador_ = nullptr;
  }
  // A worker that did not stop may still touch the buffer: it is left.
  if (parados) {
    OSAL::Free(buffer_);
    buffer_ = nullptr;
  }
  VaciarPaquetes();
  OSAL::Trace(kTraceModulos, "Terminado TAudio.");
}

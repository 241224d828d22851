// The engine's one user of the sound device: plays OGG Vorbis files (22050
// Hz mono) and recorded sentences (.STR, Speex, 8000 Hz mono), records the
// microphone into .STR files, cancels whatever runs and reports the play
// position. One operation runs at a time: every start first cancels the
// current one.
//
// Audio moves through one playback buffer that the loader thread fills and
// the output callback plays, and through a queue of raw packets that the
// capture callback fills and the compressor drains. The notifier reports the
// end of a playback through the end sink.
//
// Every stream carries a generation number; the end of a stream that a later
// start or a cancel already closed reaches nothing. Every wait made under
// the operation lock ends after about 2 s.
//
// Locks: the page lock of the session (held by whoever calls in from a page)
// comes before the operation lock, which comes before the stream lock. The
// end sink is called with neither held.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "base/CriticalSection.h"
#include "media/AudioDevice.h"
#include "media/TCodecSpeex.h"
#include "media/ThreadCargaAudioB.h"
#include "media/ThreadGrabaAudio.h"
#include "media/ThreadNotifyAudio.h"

class OSAL;
class TEHDDClient;

// 20 ms of captured audio at 8000 Hz, tagged with its recording.
struct PaqueteAudio {
  uint32_t generacion = 0;
  std::array<int16_t, 160> muestras{};
};

struct NotificacionAudio {
  uint8_t codigo = 0;
  uint32_t generacion = 0;
};

class TAudio {
 public:
  // States.
  static constexpr uint8_t kInactivo = 0;
  static constexpr uint8_t kReproduciendo = 1;
  static constexpr uint8_t kGrabando = 2;
  static constexpr uint8_t kCancelando = 3;
  // Source kinds.
  static constexpr uint8_t kFuenteOGG = 1;
  static constexpr uint8_t kFuenteSTR = 2;
  // Notify codes.
  static constexpr uint8_t kFinOGG = 1;
  static constexpr uint8_t kFinSTR = 2;
  static constexpr uint8_t kFinGrabacion = 3;
  static constexpr uint8_t kCancelOGG = 4;
  static constexpr uint8_t kCancelSTR = 5;
  static constexpr uint8_t kCancelGrabacion = 6;

  static constexpr uint32_t kBytesBuffer = 4410;
  static constexpr uint32_t kMuestrasBuffer = kBytesBuffer / 2;
  static constexpr uint16_t kFrecuenciaOGG = 22050;
  static constexpr uint16_t kFramesOGG = 2205;
  static constexpr uint16_t kFrecuenciaSTR = 8000;
  static constexpr uint16_t kFramesSTR = 160;
  static constexpr size_t kMaxNombre = 202;           // file name, NUL included
  static constexpr size_t kMaxNombreGrabacion = 200;  // recording name, NUL included
  static constexpr uint32_t kEsperaMaximaMs = 2000;
  static constexpr uint32_t kGuardaCierreMs = 100;
  // Five minutes of packets: a compressor that falls further behind is
  // stuck, and later packets are dropped instead of filling memory.
  static constexpr size_t kMaxPaquetes = 15000;
  static constexpr size_t kMaxNotificaciones = 64;

  using FinAudioSink = std::function<void(uint32_t generacion)>;
  using Observador = std::function<void(uint8_t codigo, uint32_t generacion)>;

  TAudio();
  ~TAudio();
  TAudio(const TAudio&) = delete;
  TAudio& operator=(const TAudio&) = delete;

  void SetOSAL(OSAL* osal) { osal_ = osal; }
  void SetEHDDClient(TEHDDClient* client) { ehdd_ = client; }
  // The device streams are opened on; null: DefaultAudioDevice().
  void SetDispositivo(AudioDevice* device) { device_ = device; }
  // Called on the notifier thread after a playback's stream closed at its
  // end, with that playback's generation. Setting it waits for a call in
  // progress, so it must not be set under a lock the sink takes.
  void SetFinAudio(FinAudioSink sink);
  // Called on the notifier thread for every notify code handled, after the
  // end sink (for tests and tools).
  void SetObservador(Observador observador);

  // Clears the state, takes the playback buffer and creates the loader,
  // compressor and notifier, asleep.
  void Iniciar();
  void PlayAudioOGG(const char* path);
  void PlayAudioSTR(const char* path);
  void PlayAudioOGGPosicion(const char* path, uint32_t ms);
  void GrabarAudioSTR(const char* path);
  // Ends the recording and waits until its file is complete.
  void FinGrabarFraseSTR();
  void CloseAudio();
  // Position of the running playback in ms; 0 when nothing plays.
  uint32_t PosicionAudio();
  void Terminar();

  // 1 once the first real buffer of the playback has been played.
  bool Empezado() const { return empezado_.load(std::memory_order_acquire) != 0; }
  uint8_t Estado() const { return estado_.load(std::memory_order_acquire); }
  // The generation of the last start.
  uint32_t Generacion() const { return generacion_.load(std::memory_order_acquire); }
  uint8_t PorcentajeCargado() const { return porcentaje_.load(); }
  // Bytes read so far and length of the playback's source; 0 when none.
  uint32_t BytesLeidos() const { return bytes_leidos_.load(); }
  uint32_t LongitudFuente() const { return longitud_.load(); }
  bool BufferListo() const { return buffer_listo_.load(std::memory_order_acquire) != 0; }

  // For tests: called by the loader before it loads each buffer.
  void SetHookCargaForTesting(std::function<void()> hook);
  // For tests: called by the compressor before it writes each frame.
  void SetHookCompresorForTesting(std::function<void()> hook);

 private:
  friend class ThreadCargaAudioB;
  friend class ThreadGrabaAudio;
  friend class ThreadNotifyAudio;

  struct Trabajo {
    uint8_t tipo = 0;
    char nombre[kMaxNombre] = {};
    uint32_t posicion = 0;
    uint32_t generacion = 0;
    char grabacion[kMaxNombreGrabacion] = {};
  };

  void IniciarPlay(uint8_t tipo, const char* path, uint32_t ms, const char* texto_traza);
  // The cancel itself; the caller holds the operation lock.
  void CancelarAudio();
  void CerrarStream();
  // Flags, times, figures and the file name back to their idle values.
  void LimpiarEstado();
  // Opens and starts the stream; on a failure reports it, cancels and
  // returns false (state 0).
  bool AbrirStream(const AudioStreamParams& params, AudioCallback callback, const char* texto_crear,
                   const char* texto_empezar);
  // Under the operation lock: closes the stream of that generation after its
  // end; false when a start or a cancel closed it already.
  bool CerrarStreamTerminado(uint32_t generacion);

  static int CallbackSalida(const int16_t* input, int16_t* output, uint32_t frames,
                            uint32_t time_ms, void* user);
  static int CallbackEntrada(const int16_t* input, int16_t* output, uint32_t frames,
                             uint32_t time_ms, void* user);
  void Salida(int16_t* output, uint32_t frames, uint32_t time_ms);
  void Entrada(const int16_t* input, uint32_t frames);

  void Notificar(uint8_t codigo);
  bool SacarNotificacion(NotificacionAudio* aviso);
  bool SacarPaquete(PaqueteAudio* paquete, size_t* quedan);
  void VaciarPaquetes();
  Trabajo LeerTrabajo();
  void AvisarFin(uint32_t generacion);
  void Observar(uint8_t codigo, uint32_t generacion);
  void Informar(const char* texto);
  void HookCompresor();
  AudioDevice& Dispositivo();

  // Waits (real time) until pred() holds, woken by AvisarCambio; false after
  // timeout_ms.
  bool Esperar(const std::function<bool()>& pred, uint32_t timeout_ms);
  void AvisarCambio();

  std::atomic<uint8_t> estado_{kInactivo};
  std::atomic<uint8_t> callback_activo_{0};
  std::atomic<uint8_t> carga_confirmada_{0};
  std::atomic<uint8_t> cancelacion_pendiente_{0};  // the loader cancelled: report it once
  CriticalSection operacion_;
  CriticalSection stream_mutex_;
  std::atomic<uint8_t> empezado_{0};
  std::atomic<uint32_t> posicion_inicio_{0};
  std::atomic<uint32_t> inicio_hardware_{0};
  std::atomic<uint32_t> tiempo_logico_{0};
  std::atomic<uint32_t> tiempo_reproducido_{0};
  std::atomic<uint32_t> posicion_leida_{0};  // the highest position read of the playback
  int16_t* buffer_ = nullptr;                // kMuestrasBuffer samples
  ThreadCargaAudioB cargador_{*this};
  std::atomic<uint8_t> tipo_fuente_{0};
  std::atomic<uint8_t> fuente_abierta_{0};
  std::atomic<uint8_t> porcentaje_{0};
  std::atomic<uint32_t> bytes_leidos_{0};
  std::atomic<uint32_t> longitud_{0};
  std::atomic<uint8_t> buffer_listo_{0};
  std::atomic<uint8_t> ultimo_buffer_{0};
  ThreadGrabaAudio compresor_{*this};
  std::mutex cola_mutex_;
  std::deque<PaqueteAudio> cola_;
  std::atomic<uint8_t> compresor_activo_{0};
  std::atomic<uint32_t> gen_fichero_creado_{0};   // a recording whose file holds a frame
  std::atomic<uint32_t> gen_fallo_grabacion_{0};  // a recording whose file cannot be written
  TCodecSpeex codec_;
  ThreadNotifyAudio notificador_{*this};
  std::mutex avisos_mutex_;
  std::deque<NotificacionAudio> avisos_;
  std::unique_ptr<AudioStream> stream_;
  std::atomic<uint16_t> frecuencia_{0};
  std::atomic<uint16_t> frames_{0};
  uint32_t abierto_en_ = 0;
  OSAL* osal_ = nullptr;
  TEHDDClient* ehdd_ = nullptr;
  AudioDevice* device_ = nullptr;

  std::mutex trabajo_mutex_;
  Trabajo trabajo_;
  std::atomic<uint32_t> generacion_{0};
  std::atomic<uint32_t> gen_cancelada_{0};
  std::atomic<uint8_t> cancel_notificado_{0};  // the capture callback reported its cancel
  std::mutex sink_mutex_;
  FinAudioSink sink_;
  Observador observador_;
  std::mutex espera_mutex_;
  std::condition_variable espera_cv_;
  std::mutex hook_mutex_;
  std::function<void()> hook_carga_;
  std::function<void()> hook_compresor_;
  bool iniciado_ = false;
  bool terminado_ = false;
};

// The audio notifier: reports the end or the cancellation of a playback or
// recording that the callbacks and the compressor queue, in their order. For
// the end of a playback it closes that playback's stream and hands the end to
// TAudio's end sink (TGestorAudio::FinAudio in a session).
#pragma once

#include "base/ThreadRecord.h"

class OSAL;
class TAudio;
struct NotificacionAudio;

class ThreadNotifyAudio : public ThreadRecord {
 public:
  explicit ThreadNotifyAudio(TAudio& audio) : audio_(audio) {}

  // Created asleep; "ThreadNotifyAudio creation failed." when it cannot be.
  bool Crear(OSAL* osal);
  bool Terminar();

 private:
  void Ejecutar();
  void Atender(const NotificacionAudio& aviso);

  TAudio& audio_;
};

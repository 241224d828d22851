// The audio loader: fills TAudio's playback buffer from the OGG or STR
// source of the running playback whenever the output callback has taken the
// previous one, and sleeps in between.
#pragma once

#include <cstdint>

#include "base/ThreadRecord.h"
#include "media/FicheroSTR.h"
#include "media/LectorOGG.h"

class OSAL;
class TAudio;
struct TFicheroEHDD;

class ThreadCargaAudioB : public ThreadRecord {
 public:
  explicit ThreadCargaAudioB(TAudio& audio) : audio_(audio) {}
  ~ThreadCargaAudioB();

  // Created asleep; "ThreadCargaAudioB creation failed." when it cannot be.
  bool Crear(OSAL* osal);
  // Stop request, wake, wait for the end; true when it ended.
  bool Terminar();

 private:
  void Ejecutar();
  // One pass of the worker's loop.
  void Vuelta();
  // Loads the next buffer of the running playback, opening its source
  // first. True when the buffer was handed to the callback.
  bool CargarBuffer();
  bool AbrirFuente(uint8_t tipo, const char* nombre, uint32_t posicion);
  void CerrarFuente();
  // The playback cannot go on: its source closed, it becomes a cancellation,
  // and the text is reported.
  void Fallar(const char* texto);
  void ActualizarContadores(TFicheroEHDD* file);

  TAudio& audio_;
  uint32_t generacion_ = 0;  // the playback whose source is open
  bool abierta_ = false;
  uint8_t tipo_ = 0;
  FuenteEHDD fuente_;
  LectorOGG ogg_;
  TFicheroEHDD* str_ = nullptr;
  LectorSTR lector_str_;
};

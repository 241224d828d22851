// The recording compressor: turns the raw packets the capture callback
// queues into Speex frames of the recording's .STR file, and closes the file
// once the recording has ended and every packet is written.
#pragma once

#include <cstdint>

#include "base/ThreadRecord.h"
#include "media/FicheroSTR.h"

class OSAL;
class TAudio;
struct PaqueteAudio;

class ThreadGrabaAudio : public ThreadRecord {
 public:
  explicit ThreadGrabaAudio(TAudio& audio) : audio_(audio) {}

  // Created asleep; "ThreadGrabaAudio creation failed." when it cannot be.
  bool Crear(OSAL* osal);
  bool Terminar();

  // Reported when a recording fails for a reason other than the eHDD
  // client's own text.
  static const char* const kErrorGrabacion;

 private:
  void Ejecutar();
  // One pass of the worker's loop.
  void Vuelta();
  // The recording in hand cannot be written: its packets are dropped, it
  // sends no end code, and the text (if any) is reported, once.
  void Fallar(const char* texto);
  void Comprimir(const PaqueteAudio& paquete);
  // Closes the file of the recording in hand; false when closing failed.
  bool CerrarFichero();

  TAudio& audio_;
  EscritorSTR escritor_;
  uint32_t generacion_ = 0;  // the recording the file belongs to
  bool en_curso_ = false;    // a recording of that generation is in hand
  bool fallo_ = false;       // its file cannot be written: packets are dropped
};

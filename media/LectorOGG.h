// OGG Vorbis playback buffers as the audio loader fills them: decoded by
// vorbisfile into a 2048-byte scratch, copied into the playback buffer, and
// what does not fit carried into the next buffer. Only mono 22050 Hz
// streams are accepted.
//
// The source comes through vorbisfile callbacks: CallbacksEHDD reads an eHDD
// file (nothing thrown crosses vorbisfile: a lost connection reads 0 bytes,
// seeks fail, and FuenteEHDD::perdida tells it); tests and the fuzzer give
// callbacks over memory.
#pragma once

#include <vorbis/vorbisfile.h>

#include <cstdint>

class TEHDDClient;
struct TFicheroEHDD;

struct FuenteEHDD {
  TEHDDClient* client = nullptr;
  TFicheroEHDD* file = nullptr;
  bool perdida = false;  // a read threw the lost-connection text
};

class LectorOGG {
 public:
  static constexpr uint32_t kScratch = 2048;
  static constexpr uint32_t kCanales = 1;
  static constexpr long kFrecuencia = 22050;

  enum Resultado { kLleno, kFin, kError };
  // Why Abrir or Llenar failed.
  enum Fallo { kNinguno, kAbrir, kFormato, kPosicion, kLectura };

  LectorOGG() = default;
  ~LectorOGG();
  LectorOGG(const LectorOGG&) = delete;
  LectorOGG& operator=(const LectorOGG&) = delete;

  static ov_callbacks CallbacksEHDD();

  // Opens the stream and checks its format; with start_ms > 0 seeks there
  // first. False (see fallo()) when it does not open, is not mono 22050 Hz
  // or cannot seek; a stream that opened is then cleared, and the source is
  // closed through the callbacks in every case.
  bool Abrir(void* datasource, ov_callbacks callbacks, uint32_t start_ms);
  // Fills `muestras` samples. kFin: the stream ended, the rest of the buffer
  // is silence and the stream is cleared. kError (see fallo()): a read that
  // failed (a lost page is no failure: decoding goes on) or a link of
  // another format; the stream stays open for Cerrar.
  Resultado Llenar(int16_t* buffer, uint32_t muestras);
  // Clears the stream (closing the source) when it is open.
  void Cerrar();

  bool abierto() const { return abierto_; }
  Fallo fallo() const { return fallo_; }
  int codigo() const { return codigo_; }  // vorbisfile's result behind the failure

 private:
  OggVorbis_File vf_{};
  bool abierto_ = false;
  Fallo fallo_ = kNinguno;
  int codigo_ = 0;
  int enlace_ = -1;
  char scratch_[kScratch];
  uint16_t llevados_ = 0;  // decoded bytes not yet copied
  uint16_t desde_ = 0;     // where they start in scratch_
};

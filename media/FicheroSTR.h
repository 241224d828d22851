// .STR sentence recordings: a bare sequence of Speex narrowband frames, each
// preceded by one byte holding its length (1 to 200). No header, no trailer;
// each frame is 160 samples, 20 ms at 8000 Hz.
//
// LectorSTR fills playback buffers from a file as the audio loader does;
// EscritorSTR writes a recording frame by frame as the compressor does.
// Both go through the eHDD client, whose Leer / Escribir / Cerrar throw its
// lost-connection text: callers catch it.
#pragma once

#include <cstdint>
#include <string>

class TCodecSpeex;
class TEHDDClient;
struct TFicheroEHDD;

namespace formato_str {
constexpr uint32_t kMuestrasTrama = 160;
constexpr uint32_t kMaxTrama = 200;
}  // namespace formato_str

// A decoded value as a 16-bit sample: clamped to -32768..32767, then
// truncated toward zero (NaN gives 0).
int16_t MuestraDesdeFloat(float valor);

enum class ResultadoTrama { kTrama, kFin, kDanada };

// Reads one frame into trama (200 bytes). kFin: the file ends before a
// length byte. kDanada: a length of 0 or over 200, or fewer bytes than the
// length says (the bytes there are consumed).
ResultadoTrama LeerTramaSTR(TEHDDClient& client, TFicheroEHDD* file, uint8_t* trama, uint8_t* n);

// Decodes one frame as playback does (perceptual enhancement on) into 160
// samples; a frame the decoder refuses gives silence.
void DecodificarTramaSTR(TCodecSpeex& codec, uint8_t* trama, uint8_t n, int16_t* muestras);

// Codes 160 samples as a recording does (quality 10, DTX, VAD, complexity 3,
// set before every frame) and puts the length byte and the frame into
// salida (201 bytes). Returns the bytes put there, length byte included.
uint32_t CodificarTramaSTR(TCodecSpeex& codec, const int16_t* muestras, uint8_t* salida);

class LectorSTR {
 public:
  enum Resultado { kLleno, kFin, kDanado };

  // Starts reading an open file from where it stands.
  void Iniciar(TEHDDClient* client, TFicheroEHDD* file, TCodecSpeex* codec);
  // Fills `muestras` samples: those carried from the last frame first, then
  // whole frames, a part of the last one carried to the next buffer. kFin (the
  // file ended) and kDanado (a damaged frame): the rest of the buffer is
  // silence and reading is over.
  Resultado Llenar(int16_t* buffer, uint32_t muestras);

 private:
  TEHDDClient* client_ = nullptr;
  TFicheroEHDD* file_ = nullptr;
  TCodecSpeex* codec_ = nullptr;
  int16_t trama_[formato_str::kMuestrasTrama] = {};
  uint16_t llevadas_ = 0;  // decoded samples not yet copied
  uint16_t desde_ = 0;     // where they start in trama_
  bool terminado_ = false;
};

class EscritorSTR {
 public:
  ~EscritorSTR();
  // A new recording into path; nothing is created before the first frame.
  void Iniciar(TEHDDClient* client, const std::string& path, TCodecSpeex* codec);
  // Codes one 160-sample packet and writes it, creating the file first when
  // it is the first. False when the file cannot be created or the write
  // fell short.
  bool EscribirTrama(const int16_t* muestras);
  // Closes the file when it was created.
  void Cerrar();
  bool creado() const { return file_ != nullptr; }
  uint32_t tramas() const { return tramas_; }

 private:
  TEHDDClient* client_ = nullptr;
  TCodecSpeex* codec_ = nullptr;
  std::string path_;
  TFicheroEHDD* file_ = nullptr;
  uint32_t tramas_ = 0;
};

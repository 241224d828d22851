// One Speex narrowband encoder and one decoder with their bit buffers
// (libspeex, float interface). A frame is 160 samples, 20 ms at 8000 Hz.
// The encoder and the decoder are independent: one thread may encode while
// another decodes.
#pragma once

#include <speex/speex.h>

#include <cstdint>

class TCodecSpeex {
 public:
  TCodecSpeex();
  virtual ~TCodecSpeex();
  TCodecSpeex(const TCodecSpeex&) = delete;
  TCodecSpeex& operator=(const TCodecSpeex&) = delete;

  // Codes 160 float samples into at most limit bytes; the bytes written.
  int Codificar(float* entrada, char* salida, int limite);
  // Decodes one frame of count bytes into 160 floats; Speex's result (0 for
  // a frame decoded, -1 at an end-of-stream code, -2 for a damaged frame).
  int Decodificar(char* entrada, int count, float* salida);

  void SetMejora(bool on);
  void SetCalidad(int calidad);
  void SetDTX(bool on);
  void SetVAD(bool on);
  void SetComplejidad(int complejidad);

  // Forget what earlier frames left in the states, so every recording and
  // every playback starts as a fresh coder would.
  void ReiniciarCodificador();
  void ReiniciarDecodificador();

  int frame_size() const { return frame_size_; }

 private:
  SpeexBits bits_codificador_;
  SpeexBits bits_decodificador_;
  void* codificador_ = nullptr;
  void* decodificador_ = nullptr;
  int frame_size_ = 0;
};

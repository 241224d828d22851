#include "media/TCodecSpeex.h"

TCodecSpeex::TCodecSpeex() {
  speex_bits_init(&bits_codificador_);
  speex_bits_init(&bits_decodificador_);
  codificador_ = speex_encoder_init(&speex_nb_mode);
  decodificador_ = speex_decoder_init(&speex_nb_mode);
  speex_encoder_ctl(codificador_, SPEEX_GET_FRAME_SIZE, &frame_size_);
}

TCodecSpeex::~TCodecSpeex() {
  speex_bits_destroy(&bits_decodificador_);
  speex_bits_destroy(&bits_codificador_);
  speex_encoder_destroy(codificador_);
  speex_decoder_destroy(decodificador_);
}

int TCodecSpeex::Codificar(float* entrada, char* salida, int limite) {
  speex_bits_reset(&bits_codificador_);
  speex_encode(codificador_, entrada, &bits_codificador_);
  return speex_bits_write(&bits_codificador_, salida, limite);
}

int TCodecSpeex::Decodificar(char* entrada, int count, float* salida) {
  speex_bits_read_from(&bits_decodificador_, entrada, count);
  return speex_decode(decodificador_, &bits_decodificador_, salida);
}

void TCodecSpeex::SetMejora(bool on) {
  int value = on ? 1 : 0;
  speex_decoder_ctl(decodificador_, SPEEX_SET_ENH, &value);
}

void TCodecSpeex::SetCalidad(int calidad) {
  speex_encoder_ctl(codificador_, SPEEX_SET_QUALITY, &calidad);
}

void TCodecSpeex::SetDTX(bool on) {
  int value = on ? 1 : 0;
  speex_encoder_ctl(codificador_, SPEEX_SET_DTX, &value);
}

void TCodecSpeex::SetVAD(bool on) {
  int value = on ? 1 : 0;
  speex_encoder_ctl(codificador_, SPEEX_SET_VAD, &value);
}

void TCodecSpeex::SetComplejidad(int complejidad) {
  speex_encoder_ctl(codificador_, SPEEX_SET_COMPLEXITY, &complejidad);
}

// Speex's own reset leaves part of the state (pitch, noise seed) as it was,
// so the states are made afresh.
void TCodecSpeex::ReiniciarCodificador() {
  speex_encoder_destroy(codificador_);
  codificador_ = speex_encoder_init(&speex_nb_mode);
  speex_bits_reset(&bits_codificador_);
}

void TCodecSpeex::ReiniciarDecodificador() {
  speex_decoder_destroy(decodificador_);
  decodificador_ = speex_decoder_init(&speex_nb_mode);
  speex_bits_reset(&bits_decodificador_);
}

#include "media/FicheroSTR.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ehdd/TEHDDClient.h"
#include "media/TCodecSpeex.h"

using formato_str::kMaxTrama;
using formato_str::kMuestrasTrama;

int16_t MuestraDesdeFloat(float valor) {
  if (!(valor == valor)) return 0;  // NaN
  if (valor >= 32767.0f) return 32767;
  if (valor <= -32768.0f) return -32768;
  return static_cast<int16_t>(valor);  // the conversion truncates toward zero
}

ResultadoTrama LeerTramaSTR(TEHDDClient& client, TFicheroEHDD* file, uint8_t* trama, uint8_t* n) {
  uint8_t longitud = 0;
  if (client.Leer(&longitud, 1, 1, file) != 1) return ResultadoTrama::kFin;
  *n = longitud;
  if (longitud == 0 || longitud > kMaxTrama) return ResultadoTrama::kDanada;
  if (client.Leer(trama, 1, longitud, file) != longitud) return ResultadoTrama::kDanada;
  return ResultadoTrama::kTrama;
}

void DecodificarTramaSTR(TCodecSpeex& codec, uint8_t* trama, uint8_t n, int16_t* muestras) {
  float decodificada[kMuestrasTrama];
  codec.SetMejora(true);
  if (codec.Decodificar(reinterpret_cast<char*>(trama), n, decodificada) != 0) {
    std::fill_n(muestras, kMuestrasTrama, 0);
    return;
  }
  for (uint32_t i = 0; i < kMuestrasTrama; ++i) muestras[i] = MuestraDesdeFloat(decodificada[i]);
}

uint32_t CodificarTramaSTR(TCodecSpeex& codec, const int16_t* muestras, uint8_t* salida) {
  float entrada[kMuestrasTrama];
  for (uint32_t i = 0; i < kMuestrasTrama; ++i) entrada[i] = static_cast<float>(muestras[i]);
  codec.SetCalidad(10);
  codec.SetDTX(true);
  codec.SetVAD(true);
  codec.SetComplejidad(3);
  const int n = codec.Codificar(entrada, reinterpret_cast<char*>(salida + 1), kMaxTrama);
  const uint8_t longitud = static_cast<uint8_t>(std::clamp(n, 0, static_cast<int>(kMaxTrama)));
  salida[0] = longitud;
  return 1u + longitud;
}

void LectorSTR::Iniciar(TEHDDClient* client, TFicheroEHDD* file, TCodecSpeex* codec) {
  client_ = client;
  file_ = file;
  codec_ = codec;
  llevadas_ = 0;
  desde_ = 0;
  terminado_ = false;
}

LectorSTR::Resultado LectorSTR::Llenar(int16_t* buffer, uint32_t muestras) {
  uint32_t lleno = 0;
  auto rellenar = [&](Resultado resultado) {
    std::fill(buffer + lleno, buffer + muestras, 0);
    terminado_ = true;
    return resultado;
  };
  if (llevadas_ > 0) {
    const uint32_t n = std::min<uint32_t>(llevadas_, muestras);
    std::copy_n(trama_ + desde_, n, buffer);
    lleno = n;
    llevadas_ = static_cast<uint16_t>(llevadas_ - n);
    desde_ = llevadas_ > 0 ? static_cast<uint16_t>(desde_ + n) : 0;
    if (lleno == muestras) return kLleno;
  }
  if (terminado_ || client_ == nullptr || file_ == nullptr) return rellenar(kFin);
  uint8_t bytes[kMaxTrama];
  while (lleno < muestras) {
    uint8_t n = 0;
    const ResultadoTrama leida = LeerTramaSTR(*client_, file_, bytes, &n);
    if (leida == ResultadoTrama::kFin) return rellenar(kFin);
    if (leida == ResultadoTrama::kDanada) return rellenar(kDanado);
    DecodificarTramaSTR(*codec_, bytes, n, trama_);
    const uint32_t cabe = std::min(kMuestrasTrama, muestras - lleno);
    std::copy_n(trama_, cabe, buffer + lleno);
    lleno += cabe;
    if (cabe < kMuestrasTrama) {
      desde_ = static_cast<uint16_t>(cabe);
      llevadas_ = static_cast<uint16_t>(kMuestrasTrama - cabe);
    }
  }
  return kLleno;
}

EscritorSTR::~EscritorSTR() {
  // An owner that did not close (a lost connection) leaves the file to the
  // client; nothing may throw from here.
  file_ = nullptr;
}

void EscritorSTR::Iniciar(TEHDDClient* client, const std::string& path, TCodecSpeex* codec) {
  client_ = client;
  codec_ = codec;
  path_ = path;
  file_ = nullptr;
  tramas_ = 0;
}

bool EscritorSTR::EscribirTrama(const int16_t* muestras) {
  if (client_ == nullptr || codec_ == nullptr) return false;
  uint8_t salida[1 + kMaxTrama];
  const uint32_t n = CodificarTramaSTR(*codec_, muestras, salida);
  if (file_ == nullptr) {
    file_ = client_->Crear(path_.c_str());
    if (file_ == nullptr) return false;
  }
  if (client_->Escribir(salida, n, file_) != n) return false;
  ++tramas_;
  return true;
}

void EscritorSTR::Cerrar() {
  TFicheroEHDD* file = file_;
  file_ = nullptr;
  if (file != nullptr && client_ != nullptr) client_->Cerrar(file);
}

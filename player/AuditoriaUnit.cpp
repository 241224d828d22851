#include "player/AuditoriaUnit.h"

#include <algorithm>
#include <cstring>

const char* const AuditoriaUnit::kEtiquetasParte[8] = {"<TAG:SIT>", "<TAG:STU>", "<TAG:DIC>",
                                                       "<TAG:ROL>", "<TAG:GRA>", "<TAG:WRI>",
                                                       "<TAG:NEW>", "<TAG:SPE>"};

namespace {

void PonerU16(std::string& out, uint16_t v) {
  const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
  out.append(b, 2);
}

void PonerU32(std::string& out, uint32_t v) {
  char b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  out.append(b, 4);
}

// Exactly `size` bytes of the buffer: cut, or padded with zeros.
void PonerBloque(std::string& out, const uint8_t* data, size_t n, size_t size) {
  const size_t take = data == nullptr ? 0 : std::min(size, n);
  if (take > 0) out.append(reinterpret_cast<const char*>(data), take);
  out.append(size - take, '\0');
}

size_t BytesSonidos(uint16_t n) {
  return n > 0 ? (size_t{n} + 1) * AuditoriaUnit::kBytesSonido : 0;
}

size_t BytesEjercicios(uint16_t m) {
  return m > 0 ? (size_t{m} + 1) * AuditoriaUnit::kBytesEjercicio : 0;
}

// Walks the bytes, recording the first fault.
class Lector {
 public:
  explicit Lector(std::string_view bytes) : bytes_(bytes) {}

  bool Fallo() const { return !motivo_.empty(); }
  const std::string& motivo() const { return motivo_; }
  size_t offset() const { return offset_fallo_; }

  // The next n bytes, or null (the fault noted) when fewer remain.
  const uint8_t* Tomar(size_t n, const std::string& bloque) {
    if (Fallo()) return nullptr;
    if (bytes_.size() - pos_ < n) {
      Fallar(bloque + " cut short", pos_);
      return nullptr;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data() + pos_);
    pos_ += n;
    return p;
  }
  void Literal(const char* texto, size_t n, const std::string& bloque) {
    const size_t at = pos_;
    const uint8_t* p = Tomar(n, bloque);
    if (p != nullptr && std::memcmp(p, texto, n) != 0) Fallar(bloque + " differs", at);
  }
  uint16_t U16(const std::string& bloque) {
    const uint8_t* p = Tomar(2, bloque);
    return p == nullptr ? 0 : static_cast<uint16_t>(p[0] | (p[1] << 8));
  }
  uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  }
  void Registros(uint16_t cuenta, size_t tamano, std::vector<uint8_t>& destino,
                 const std::string& bloque) {
    destino.clear();
    if (cuenta == 0) return;
    const size_t n = (static_cast<size_t>(cuenta) + 1) * tamano;
    const uint8_t* p = Tomar(n, bloque);
    if (p != nullptr) destino.assign(p, p + n);
  }
  void Fallar(const std::string& motivo, size_t at) {
    if (Fallo()) return;
    motivo_ = motivo;
    offset_fallo_ = at;
  }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
  std::string motivo_;
  size_t offset_fallo_ = 0;
};

}  // namespace

size_t AuditoriaUnit::Tamano(const RegistrosParte (&partes)[8]) {
  size_t total = kBytesMagia + kBytesCabecera + kBytesEtiqueta + kBytesRolPlay;
  for (const RegistrosParte& parte : partes) {
    total += kBytesEtiquetaParte + 2 * (kBytesEtiqueta + 2) + BytesSonidos(parte.n) +
             BytesEjercicios(parte.m);
  }
  return total;
}

void AuditoriaUnit::Escribir(const CabeceraAuditoria& cabecera, const RegistrosParte (&partes)[8],
                             const uint8_t* rolplay, std::string& out) {
  out.clear();
  out.reserve(Tamano(partes));
  out.append(kMagia, kBytesMagia);
  PonerU32(out, cabecera.tiempo_estudio);
  PonerU32(out, cabecera.frames);
  out.append(reinterpret_cast<const char*>(cabecera.progreso), 8);
  for (uint16_t v : cabecera.errores) PonerU16(out, v);
  for (uint16_t v : cabecera.respuestas) PonerU16(out, v);
  for (int i = 0; i < 8; ++i) {
    const RegistrosParte& parte = partes[i];
    out.append(kEtiquetasParte[i], kBytesEtiquetaParte);
    out.append(kEtiquetaSonidos, kBytesEtiqueta);
    PonerU16(out, parte.n);
    PonerBloque(out, parte.sonidos, parte.bytes_sonidos, BytesSonidos(parte.n));
    out.append(kEtiquetaEjercicios, kBytesEtiqueta);
    PonerU16(out, parte.m);
    PonerBloque(out, parte.ejercicios, parte.bytes_ejercicios, BytesEjercicios(parte.m));
  }
  out.append(kEtiquetaRolPlay, kBytesEtiqueta);
  PonerBloque(out, rolplay, kBytesRolPlay, kBytesRolPlay);
}

std::string AuditoriaUnit::ABytes() const {
  RegistrosParte vistas[8];
  for (int i = 0; i < 8; ++i) {
    const AuditoriaParte& parte = partes[i];
    vistas[i] = {parte.n, parte.sonidos.data(),    parte.sonidos.size(),
                 parte.m, parte.ejercicios.data(), parte.ejercicios.size()};
  }
  std::string out;
  Escribir(cabecera, vistas, rolplay, out);
  return out;
}

LecturaAuditoria AuditoriaUnit::DesdeBytes(std::string_view bytes, AuditoriaUnit* salida) {
  LecturaAuditoria lectura;
  if (bytes.empty()) {
    lectura.estado = LecturaAuditoria::kVacia;
    lectura.motivo = "empty";
    return lectura;
  }
  if (bytes.size() > kMaxBytes) {
    lectura.estado = LecturaAuditoria::kDanada;
    lectura.motivo = "larger than 64 MiB";
    lectura.offset = kMaxBytes;
    return lectura;
  }
  AuditoriaUnit leida;
  Lector lector(bytes);
  lector.Literal(kMagia, kBytesMagia, "magic");
  if (const uint8_t* p = lector.Tomar(kBytesCabecera, "head")) {
    CabeceraAuditoria& c = leida.cabecera;
    c.tiempo_estudio = lector.U32(p);
    c.frames = lector.U32(p + 4);
    std::memcpy(c.progreso, p + 8, 8);
    for (int i = 0; i < 8; ++i) {
      c.errores[i] = static_cast<uint16_t>(p[16 + 2 * i] | (p[17 + 2 * i] << 8));
      c.respuestas[i] = static_cast<uint16_t>(p[32 + 2 * i] | (p[33 + 2 * i] << 8));
    }
  }
  for (int i = 0; i < 8 && !lector.Fallo(); ++i) {
    const std::string nombre = "part " + std::to_string(i);
    AuditoriaParte& parte = leida.partes[i];
    lector.Literal(kEtiquetasParte[i], kBytesEtiquetaParte, nombre + " tag");
    lector.Literal(kEtiquetaSonidos, kBytesEtiqueta, nombre + " sound tag");
    parte.n = lector.U16(nombre + " sound count");
    lector.Registros(parte.n, kBytesSonido, parte.sonidos, nombre + " sound records");
    lector.Literal(kEtiquetaEjercicios, kBytesEtiqueta, nombre + " exercise tag");
    parte.m = lector.U16(nombre + " exercise count");
    lector.Registros(parte.m, kBytesEjercicio, parte.ejercicios, nombre + " exercise records");
  }
  lector.Literal(kEtiquetaRolPlay, kBytesEtiqueta, "role-play tag");
  if (const uint8_t* p = lector.Tomar(kBytesRolPlay, "role-play lines")) {
    std::memcpy(leida.rolplay, p, kBytesRolPlay);
  }
  if (lector.Fallo()) {
    lectura.estado = LecturaAuditoria::kDanada;
    lectura.motivo = lector.motivo();
    lectura.offset = lector.offset();
    return lectura;
  }
  if (salida != nullptr) *salida = std::move(leida);
  return lectura;
}

DiferenciaCuentas AuditoriaUnit::CompararCuentas(const uint16_t n[8], const uint16_t m[8]) const {
  DiferenciaCuentas diferencia;
  for (uint8_t i = 0; i < 8; ++i) {
    if (partes[i].n != n[i]) return {true, i, 'N', partes[i].n, n[i]};
    if (partes[i].m != m[i]) return {true, i, 'M', partes[i].m, m[i]};
  }
  return diferencia;
}

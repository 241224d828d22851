// The unit's audit file (AUDIT.ALU, and its backup AUDIT.BKP, in the
// student's folder of the unit): the record, its bytes, the reader that takes
// a file whole or says why it will not, and the check of its record counts
// against the unit's documents.
//
// Layout, little-endian, blocks without padding: the 15-byte magic, the
// 48-byte head, eight part sections (part tag; "<TAG:BUFSON>", N and, when
// N > 0, N + 1 sound records of 4 bytes; "<TAG:BUFEJE>", M and, when M > 0,
// M + 1 exercise records of 410 bytes), "<TAG:EX_ROL>" and the 960 bytes of
// the role-play line slots. Bytes after the role-play block are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The head of figures, stored as it is.
struct CabeceraAuditoria {
  uint32_t tiempo_estudio = 0;  // ms, earlier sessions plus this one
  uint32_t frames = 0;          // animation frames shown
  uint8_t progreso[8] = {};     // percentage per part
  uint16_t errores[8] = {};
  uint16_t respuestas[8] = {};
};
static_assert(sizeof(CabeceraAuditoria) == 48, "the audit head is 48 bytes");

// One part's records where they lie (a record's buffers or a document's),
// for writing without a copy of their own.
struct RegistrosParte {
  uint16_t n = 0;
  const uint8_t* sonidos = nullptr;  // bytes_sonidos of them
  size_t bytes_sonidos = 0;
  uint16_t m = 0;
  const uint8_t* ejercicios = nullptr;
  size_t bytes_ejercicios = 0;
};

struct AuditoriaParte {
  uint16_t n = 0;                   // highest sound number of the document
  std::vector<uint8_t> sonidos;     // (n + 1) x 4 bytes when n > 0, else none
  uint16_t m = 0;                   // highest exercise number
  std::vector<uint8_t> ejercicios;  // (m + 1) x 410 bytes when m > 0, else none
};

// How a file's bytes read.
struct LecturaAuditoria {
  enum Estado { kEntera, kVacia, kDanada };
  Estado estado = kEntera;
  std::string motivo;  // what is wrong, for a damaged file
  size_t offset = 0;   // where it is wrong
};

// The first record count that differs from a document's.
struct DiferenciaCuentas {
  bool hay = false;
  uint8_t parte = 0;
  char campo = 'N';  // 'N' sounds, 'M' exercises
  uint16_t encontrado = 0;
  uint16_t esperado = 0;
};

struct AuditoriaUnit {
  static constexpr char kMagia[] = "ALUMNOVe1.0    ";
  static constexpr size_t kBytesMagia = 15;
  static constexpr size_t kBytesCabecera = 48;
  static constexpr size_t kBytesEtiquetaParte = 9;
  static constexpr size_t kBytesEtiqueta = 12;
  static constexpr size_t kBytesSonido = 4;
  static constexpr size_t kBytesEjercicio = 410;
  static constexpr size_t kBytesRolPlay = 960;
  // A file larger than this is damaged.
  static constexpr size_t kMaxBytes = size_t{64} << 20;
  static const char* const kEtiquetasParte[8];  // "<TAG:SIT>" ... "<TAG:SPE>"
  static constexpr char kEtiquetaSonidos[] = "<TAG:BUFSON>";
  static constexpr char kEtiquetaEjercicios[] = "<TAG:BUFEJE>";
  static constexpr char kEtiquetaRolPlay[] = "<TAG:EX_ROL>";

  CabeceraAuditoria cabecera;
  AuditoriaParte partes[8];
  uint8_t rolplay[kBytesRolPlay] = {};

  // The file's bytes. Record buffers shorter than their count are padded
  // with zeros, longer ones cut.
  std::string ABytes() const;
  // The size of a file with these counts.
  static size_t Tamano(const RegistrosParte (&partes)[8]);
  // The file's bytes from a head, the parts' records where they lie and the
  // role-play slots (null: zeros), into `out` (replaced), sized once;
  // buffers are padded or cut as ABytes does.
  static void Escribir(const CabeceraAuditoria& cabecera, const RegistrosParte (&partes)[8],
                       const uint8_t* rolplay, std::string& out);
  // Reads a whole file's bytes into *salida, which changes only when they
  // are whole. Empty: no byte at all. Damaged: over kMaxBytes, a magic or a
  // tag that differs, or a block cut short.
  static LecturaAuditoria DesdeBytes(std::string_view bytes, AuditoriaUnit* salida);
  // Compares N and M of each part, in part order, N before M, with the
  // documents' highest sound and exercise numbers.
  DiferenciaCuentas CompararCuentas(const uint16_t n[8], const uint16_t m[8]) const;
};

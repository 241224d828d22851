// Reading the unit's role-play file into the role-play context.
//
// The file is 8-bit text in lines ended by CR; the byte after a CR (the LF
// of CR LF) is skipped unread. Lines: the character count (0 to 4), the
// line count (0 to 59), the width of a line's hit region, one audio name
// per line, then one row per character: the numbers of that character's
// lines, each followed by a comma.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"

namespace {

// A count line keeps this many bytes; the rest up to its CR is skipped.
constexpr size_t kLineaNumeros = 80;
constexpr uint32_t kBloqueLectura = 4096;

// Buffered bytes of an open file; the lines of the role-play file.
class LectorLineas {
 public:
  LectorLineas(TEHDDClient& ehdd, TFicheroEHDD* fichero) : ehdd_(ehdd), fichero_(fichero) {}

  // Reads a line up to CR or the end of the file, keeping at most capacidad
  // bytes; returns the bytes kept. The byte after the CR is skipped.
  size_t Linea(char* destino, size_t capacidad) {
    size_t kept = 0;
    for (;;) {
      const int byte = Siguiente();
      if (byte < 0) break;
      if (byte == '\r') {
        Siguiente();
        break;
      }
      if (kept < capacidad) destino[kept++] = static_cast<char>(byte);
    }
    return kept;
  }

  // The next byte of the file, -1 at its end.
  int Byte() { return Siguiente(); }

 private:
  int Siguiente() {
    if (pos_ == llenos_) {
      if (fin_) return -1;
      llenos_ = ehdd_.Leer(bloque_, 1, kBloqueLectura, fichero_);
      pos_ = 0;
      if (llenos_ == 0) {
        fin_ = true;
        return -1;
      }
    }
    return bloque_[pos_++];
  }

  TEHDDClient& ehdd_;
  TFicheroEHDD* fichero_;
  unsigned char bloque_[kBloqueLectura];
  uint32_t llenos_ = 0;
  uint32_t pos_ = 0;
  bool fin_ = false;
};

// A decimal number read one byte at a time as atoi reads it: leading blanks
// (spaces and TABs) and a sign, then digits up to the first other byte;
// saturating at +-2147483647.
class NumeroEnCurso {
 public:
  void Anadir(char c) {
    if (fin_) return;
    if (!empezado_) {
      if (c == ' ' || c == '\t') return;
      empezado_ = true;
      if (c == '-' || c == '+') {
        negativo_ = c == '-';
        return;
      }
    }
    if (c < '0' || c > '9') {
      fin_ = true;
      return;
    }
    valor_ = std::min<int64_t>(valor_ * 10 + (c - '0'), kMaximo);
  }
  int32_t Valor() const { return static_cast<int32_t>(negativo_ ? -valor_ : valor_); }

 private:
  static constexpr int64_t kMaximo = 2147483647;
  int64_t valor_ = 0;
  bool empezado_ = false;
  bool negativo_ = false;
  bool fin_ = false;
};

int32_t LeerNumero(LectorLineas& lector) {
  char linea[kLineaNumeros];
  const size_t n = lector.Linea(linea, sizeof linea);
  return TFormatae::NumeroTAE(linea, n);
}

// Fills one character's row: the numbers ended by a comma that name one of
// the role play's lines, at most kMaxLineasRolPlay - 1 of them, then 255.
// The row is read whole, up to its CR or the end of the file, however long
// it is; each number is read as atoi reads it while its bytes go by.
void LeerFila(LectorLineas& lector, uint8_t* fila, uint8_t num_lineas) {
  int kept = 0;
  NumeroEnCurso numero;
  for (;;) {
    const int byte = lector.Byte();
    if (byte < 0) break;
    if (byte == '\r') {
      lector.Byte();
      break;
    }
    if (byte != ',') {
      numero.Anadir(static_cast<char>(byte));
      continue;
    }
    const int32_t valor = numero.Valor();
    numero = NumeroEnCurso{};
    if (valor < 0 || valor >= num_lineas || kept >= kMaxLineasRolPlay - 1) continue;
    fila[kept++] = static_cast<uint8_t>(valor);
  }
  fila[kept] = kFinFilaRolPlay;
}

}  // namespace

bool TGestorTAE::LeerRolePlay(const char* path) {
  CON_ROLPLAY* contexto = conrolplay_;
  TFicheroEHDD* fichero = ehdd_ && path ? ehdd_->Abrir(path, 0) : nullptr;
  if (fichero == nullptr) {
    Error("No se ha podido abrir el fichero de ROLEPLAY");
    return false;
  }
  if (contexto == nullptr) {
    ehdd_->Cerrar(fichero);
    return true;
  }
  try {
    LectorLineas lector(*ehdd_, fichero);
    const int32_t personajes = LeerNumero(lector);
    if (personajes < 0 || personajes >= kMaxPersonajesRolPlay) {
      ehdd_->Cerrar(fichero);
      Error("Error excedido el numero maximo de personajes de ROLEPLAY.");
      return true;
    }
    contexto->num_personajes = static_cast<uint8_t>(personajes);
    const int32_t lineas = LeerNumero(lector);
    if (lineas < 0 || lineas >= kMaxLineasRolPlay) {
      ehdd_->Cerrar(fichero);
      Error("Error excedido el numero maximo de intervenciones del ROLEPLAY.");
      return true;
    }
    contexto->num_lineas = static_cast<uint8_t>(lineas);
    const int32_t ancho = LeerNumero(lector);
    contexto->ancho_linea = static_cast<uint8_t>(ancho < 0 ? 0 : (ancho > 255 ? 255 : ancho));
    for (int32_t j = 0; j < lineas; ++j) {
      LINEA_ROLPLAY& slot = contexto->lineas[j];
      std::memset(slot.nombre, 0, sizeof slot.nombre);
      lector.Linea(slot.nombre, sizeof slot.nombre);
      slot.grabada = 0;
    }
    for (int32_t i = 0; i < personajes; ++i) {
      LeerFila(lector, contexto->filas[i], static_cast<uint8_t>(lineas));
    }
  } catch (...) {
    ehdd_->Cerrar(fichero);
    throw;
  }
  ehdd_->Cerrar(fichero);
  contexto->terminado = 1;
  return true;
}

// Reading the unit's role-play file into the role-play context.
//
// The file is 8-bit text in lines ended by CR; the byte after a CR (the LF
// of CR LF) is skipped unread. Lines: the character count (0 to 4), the
// line count (0 to 59), the width of a line's hit region, one audio name
// per line, then one row per character: the numbers of that character's
// lines, each followed by a comma.
#include <cstring>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"

namespace {

// A number line keeps this many bytes; the rest up to its CR is skipped.
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

int32_t LeerNumero(LectorLineas& lector) {
  char linea[kLineaNumeros];
  const size_t n = lector.Linea(linea, sizeof linea);
  return TFormatae::NumeroTAE(linea, n);
}

// Fills one character's row: the numbers ended by a comma that name one of
// the role play's lines, at most kMaxLineasRolPlay - 1 of them, then 255.
void LeerFila(LectorLineas& lector, uint8_t* fila, uint8_t num_lineas) {
  char linea[kLineaNumeros];
  const size_t n = lector.Linea(linea, sizeof linea);
  int kept = 0;
  size_t inicio = 0;
  for (size_t i = 0; i < n; ++i) {
    if (linea[i] != ',') continue;
    const int32_t numero = TFormatae::NumeroTAE(linea + inicio, i - inicio);
    inicio = i + 1;
    if (numero < 0 || numero >= num_lineas || kept >= kMaxLineasRolPlay - 1) continue;
    fila[kept++] = static_cast<uint8_t>(numero);
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

// The three description files of an animation: DEFANIM.TXT (size,
// backgrounds, casts), SCORE.VM (the tracks and sections of every frame) and
// JUMPS.TXT (the sections a recap may restart at).
#include <cstring>
#include <limits>

#include "base/OSAL.h"
#include "base/TListaStrings.h"
#include "ehdd/TEHDDClient.h"
#include "media/TGestorAnim.h"
#include "platform/MessageBox.h"

namespace {

constexpr const char* kTextoNoAbre = "No se ha podido abrir el fichero DEFANIM.TXT";
constexpr const char* kTextoLinea = "Linea de atributo=valor incorrecta.";
constexpr const char* kTextoVersion = "Version de DEFANIM.TXT no soportada.";
constexpr const char* kTextoBloque = "Bloque de informacion no reconocido.";
constexpr const char* kTextoFichero = "Error en el fichero DEFANIM.TXT";
constexpr const char* kTextoImagenes = "Demasiadas imagenes en la animacion.";
constexpr const char* kVersionDefAnim = "eVM01.00";
constexpr char kVersionVM01[8] = {'V', 'M', '0', '1', '.', '1', '0', '\0'};
constexpr char kVersionVM02[8] = {'V', 'M', '0', '2', '.', '0', '0', '\0'};
constexpr uint32_t kCabeceraScore = 10;
constexpr uint32_t kTrozoLectura = 4096;

// A decimal number as atoi reads it (leading blanks, a sign, digits),
// saturated to the 32-bit range instead of wrapping; *digitos tells whether
// any digit stood there.
int64_t Atoi(const char* texto, bool* digitos = nullptr) {
  const auto* p = reinterpret_cast<const unsigned char*>(texto);
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negativo = false;
  if (*p == '+' || *p == '-') negativo = *p++ == '-';
  const int64_t tope = negativo ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
  int64_t valor = 0;
  bool alguno = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    alguno = true;
    valor = valor * 10 + (*p - '0');
    if (valor > tope) valor = tope;
  }
  if (digitos != nullptr) *digitos = alguno;
  return negativo ? -valor : valor;
}

int64_t Atoi(const std::string& texto) {
  return Atoi(texto.c_str());
}

uint8_t TipoFondo(const std::string& valor) {
  static const char* const kTipos[] = {"PL", "PM", "PC", "PCC", "PE"};
  for (uint8_t i = 0; i < 5; ++i) {
    if (valor == kTipos[i]) return i + 1;
  }
  return 0;
}

// Reads until count bytes are in or the file ends.
uint32_t LeerTodo(TEHDDClient& ehdd, TFicheroEHDD* fichero, void* destino, uint32_t count) {
  auto* p = static_cast<uint8_t*>(destino);
  uint32_t total = 0;
  while (total < count) {
    const uint32_t leidos = ehdd.Leer(p + total, 1, count - total, fichero);
    if (leidos == 0) break;
    total += leidos;
  }
  return total;
}

void CerrarSinExcepcion(TEHDDClient& ehdd, TFicheroEHDD* fichero) {
  try {
    ehdd.Cerrar(fichero);
  } catch (...) {
    // A file opened for reading flushes nothing; the caller is already
    // leaving with the exception that brought it here.
  }
}

}  // namespace

// DEFANIM.TXT byte by byte (read in pieces), counting lines: a byte's line
// is one more than the LFs before it.
class TGestorAnim::Lector {
 public:
  Lector(TEHDDClient& ehdd, TFicheroEHDD* fichero) : ehdd_(ehdd), fichero_(fichero) {}

  // The next byte; -1 at the end of the file.
  int Byte() {
    if (pos_ == len_) {
      if (fin_) return -1;
      len_ = ehdd_.Leer(trozo_, 1, kTrozoLectura, fichero_);
      pos_ = 0;
      if (len_ == 0) {
        fin_ = true;
        return -1;
      }
    }
    const uint8_t byte = trozo_[pos_++];
    linea_byte_ = linea_;
    if (byte == '\n') ++linea_;
    return byte;
  }

  // The line of the byte last read, and the line the next one stands on.
  uint32_t LineaByte() const { return linea_byte_; }
  uint32_t Linea() const { return linea_; }

  // A name up to '=' (CR and LF before it skipped), then a value up to CR
  // (the byte after the CR skipped) or the end of the file. False when the
  // file ends before the '=' or either text runs past its bound, with
  // *linea_fallo where reading stopped.
  bool Atributo(std::string& nombre, std::string& valor, uint32_t& linea_igual,
                uint32_t& linea_fallo) {
    nombre.clear();
    valor.clear();
    for (;;) {
      const int byte = Byte();
      if (byte < 0) {
        linea_fallo = linea_;
        return false;
      }
      if (byte == '\r' || byte == '\n') continue;
      if (byte == '=') {
        linea_igual = linea_byte_;
        break;
      }
      if (nombre.size() == kMaxTexto) {
        linea_fallo = linea_byte_;
        return false;
      }
      nombre += static_cast<char>(byte);
    }
    for (;;) {
      const int byte = Byte();
      if (byte < 0) return true;
      if (byte == '\r') {
        Byte();
        return true;
      }
      if (valor.size() == kMaxTexto) {
        linea_fallo = linea_byte_;
        return false;
      }
      valor += static_cast<char>(byte);
    }
  }

 private:
  TEHDDClient& ehdd_;
  TFicheroEHDD* fichero_;
  uint8_t trozo_[kTrozoLectura];
  uint32_t pos_ = 0;
  uint32_t len_ = 0;
  bool fin_ = false;
  uint32_t linea_ = 1;
  uint32_t linea_byte_ = 1;
};

int TGestorAnim::Rechazar(uint32_t linea, const std::string& texto) {
  error_.fichero = "DEFANIM.TXT";
  error_.linea = linea;
  error_.texto = texto;
  error_.score = ErrorAnim::kScoreBien;
  if (osal_ != nullptr) {
    osal_->MostrarError(texto.c_str());
  } else {
    OSAL::Trace(kTraceError, texto.c_str());
    platform::ShowMessageBox(texto, "ERROR", platform::kMbOk);
  }
  return -1;
}

int TGestorAnim::LeerAtributo(Lector& lector, std::string& nombre, std::string& valor,
                              uint32_t& linea) {
  uint32_t fallo = 0;
  if (!lector.Atributo(nombre, valor, linea, fallo)) return Rechazar(fallo, kTextoLinea);
  return 0;
}

int TGestorAnim::LeerNumero(Lector& lector, const char* nombre, int64_t minimo, int64_t maximo,
                            int64_t& valor) {
  std::string leido;
  std::string texto;
  uint32_t linea = 0;
  if (LeerAtributo(lector, leido, texto, linea) != 0) return -1;
  if (leido != nombre) return Rechazar(linea, std::string("Falta el atributo ") + nombre + ".");
  valor = Atoi(texto);
  if (valor < minimo || valor > maximo) {
    return Rechazar(linea, std::string("Atributo ") + nombre + " fuera de rango.");
  }
  return 0;
}

void TGestorAnim::BorrarDescripcion() {
  cabecera_leida_ = false;
  d_->ancho = 0;
  d_->alto = 0;
  d_->num_fondos = 0;
  d_->num_casts = 0;
  for (FondoAnim& fondo : d_->fondos) {
    fondo.tipo = 0;
    fondo.prioridad = 0;
    fondo.num_casts = 0;
    std::memset(fondo.casts, 0, sizeof(fondo.casts));
  }
  for (CastAnim& cast : d_->casts) {
    cast.x = cast.y = cast.ancho = cast.alto = 0;
    cast.num_sprites = 0;
    cast.id_fondo = 0;
  }
  std::memset(cast_listado_, 0, sizeof(cast_listado_));
}

int TGestorAnim::LeerCabecera(Lector& lector) {
  std::string nombre;
  std::string valor;
  uint32_t linea = 0;
  if (LeerAtributo(lector, nombre, valor, linea) != 0) return -1;
  if (valor != kVersionDefAnim) return Rechazar(linea, kTextoVersion);
  int64_t ancho = 0;
  int64_t alto = 0;
  if (LeerNumero(lector, "ancho", 1, 32767, ancho) != 0) return -1;
  if (LeerNumero(lector, "alto", 1, 32767, alto) != 0) return -1;
  d_->ancho = static_cast<int16_t>(ancho);
  d_->alto = static_cast<int16_t>(alto);
  cabecera_leida_ = true;
  return 0;
}

int TGestorAnim::LeerFondos(Lector& lector) {
  int64_t numero = 0;
  if (LeerNumero(lector, "numfondos", 0, kMaxFondos, numero) != 0) return -1;
  d_->num_fondos = 0;
  for (FondoAnim& fondo : d_->fondos) {
    fondo.tipo = fondo.prioridad = fondo.num_casts = 0;
  }
  std::string nombre;
  std::string valor;
  uint32_t linea = 0;
  for (int64_t k = 1; k <= numero; ++k) {
    FondoAnim& fondo = d_->fondos[k];
    if (LeerAtributo(lector, nombre, valor, linea) != 0) return -1;
    if (Atoi(valor) != k) return Rechazar(linea, "Falta la definicion de un fondo.");
    if (LeerAtributo(lector, nombre, valor, linea) != 0) return -1;
    fondo.tipo = TipoFondo(valor);
    if (fondo.tipo == 0) return Rechazar(linea, "Atributo tipo incorrecto.");
    int64_t prioridad = 0;
    if (LeerNumero(lector, "prioridad", 0, 255, prioridad) != 0) return -1;
    fondo.prioridad = static_cast<uint8_t>(prioridad);
    for (;;) {
      if (LeerAtributo(lector, nombre, valor, linea) != 0) return -1;
      if (nombre != "cast") return Rechazar(linea, "Falta el atributo cast.");
      if (valor == "end") break;
      const int64_t cast = Atoi(valor);
      if (cast < kPrimerCast || cast > kUltimoCast || fondo.num_casts == kMaxCastsFondo) {
        return Rechazar(linea, "Atributo cast fuera de rango.");
      }
      fondo.casts[fondo.num_casts++] = static_cast<uint8_t>(cast);
    }
  }
  d_->num_fondos = static_cast<uint8_t>(numero);
  return 0;
}

int TGestorAnim::LeerCasts(Lector& lector) {
  int64_t numero = 0;
  if (LeerNumero(lector, "numcasts", 0, kMaxCasts, numero) != 0) return -1;
  d_->num_casts = 0;
  std::string nombre;
  std::string valor;
  uint32_t linea = 0;
  for (int64_t w = kPrimerCast; w <= numero + 1; ++w) {
    CastAnim& cast = d_->casts[w];
    if (LeerAtributo(lector, nombre, valor, linea) != 0) return -1;
    if (Atoi(valor) != w) return Rechazar(linea, "Falta la definicion de un cast.");
    int64_t x = 0, y = 0, ancho = 0, alto = 0, sprites = 0, fondo = 0;
    if (LeerNumero(lector, "cx", 0, 32767, x) != 0) return -1;
    if (LeerNumero(lector, "cy", 0, 32767, y) != 0) return -1;
    if (LeerNumero(lector, "ancho", 1, 32767, ancho) != 0) return -1;
    if (LeerNumero(lector, "alto", 1, 32767, alto) != 0) return -1;
    if (LeerNumero(lector, "numsprites", 1, 255, sprites) != 0) return -1;
    if (LeerNumero(lector, "idfondo", 0, 255, fondo) != 0) return -1;
    cast.x = static_cast<int16_t>(x);
    cast.y = static_cast<int16_t>(y);
    cast.ancho = static_cast<int16_t>(ancho);
    cast.alto = static_cast<int16_t>(alto);
    cast.num_sprites = static_cast<uint8_t>(sprites);
    cast.id_fondo = static_cast<uint8_t>(fondo);
  }
  d_->num_casts = static_cast<uint8_t>(numero);
  return 0;
}

int TGestorAnim::LeerDefAnim(const char* path) {
  BorrarDescripcion();
  error_ = ErrorAnim{};
  TFicheroEHDD* fichero = ehdd_ != nullptr && path != nullptr ? ehdd_->Abrir(path, 0) : nullptr;
  if (fichero == nullptr) return Rechazar(0, kTextoNoAbre);

  Lector lector(*ehdd_, fichero);
  int resultado = 0;
  try {
    for (;;) {
      const int byte = lector.Byte();
      if (byte < 0) break;
      if (byte == '[') {
        const uint32_t linea = lector.LineaByte();
        std::string bloque;
        bool largo = false;
        for (;;) {
          const int c = lector.Byte();
          if (c < 0) break;
          if (c == '\r') {
            lector.Byte();
            break;
          }
          if (bloque.size() == kMaxTexto) {
            largo = true;
            break;
          }
          bloque += static_cast<char>(c);
        }
        if (largo) {
          resultado = Rechazar(linea, kTextoBloque);
        } else if (bloque == "CABECERA]") {
          resultado = LeerCabecera(lector);
        } else if (bloque == "FONDOS]") {
          resultado = LeerFondos(lector);
        } else if (bloque == "CASTS]") {
          resultado = LeerCasts(lector);
        } else {
          resultado = Rechazar(linea, kTextoBloque);
        }
        if (resultado != 0) break;
      } else if (byte == '\r') {
        lector.Byte();
      } else {
        resultado = Rechazar(lector.LineaByte(), kTextoFichero);
        break;
      }
    }
  } catch (...) {
    CerrarSinExcepcion(*ehdd_, fichero);
    BorrarDescripcion();
    throw;
  }
  CerrarSinExcepcion(*ehdd_, fichero);

  if (resultado == 0 && !cabecera_leida_) resultado = Rechazar(0, kTextoVersion);
  if (resultado == 0) {
    for (uint8_t k = 1; k <= d_->num_fondos; ++k) {
      if (!FondoDibujable(k)) continue;
      const FondoAnim& fondo = d_->fondos[k];
      for (uint8_t i = 0; i < fondo.num_casts; ++i) {
        if (fondo.casts[i] <= d_->num_casts + 1) cast_listado_[fondo.casts[i]] = true;
      }
    }
    if (ContarImagenes() > kMaxImagenes) resultado = Rechazar(0, kTextoImagenes);
  }
  if (resultado != 0) BorrarDescripcion();
  return resultado;
}

void TGestorAnim::BorrarScore() {
  num_frames_.store(0, std::memory_order_release);
  std::memset(version_score_, 0, sizeof(version_score_));
  std::memset(pistas_.get(), 0, size_t{kPistas} * kMaxFrames);
  std::memset(secciones_.get(), 0, sizeof(uint16_t) * kMaxFrames);
}

int TGestorAnim::LeerScore(const char* path) {
  BorrarScore();
  auto rechazar = [this](ErrorAnim::Score causa) {
    BorrarScore();
    error_ = ErrorAnim{};
    error_.fichero = "SCORE.VM";
    error_.score = causa;
    return -1;
  };
  TFicheroEHDD* fichero = ehdd_ != nullptr && path != nullptr ? ehdd_->Abrir(path, 0) : nullptr;
  if (fichero == nullptr) return rechazar(ErrorAnim::kScoreNoAbre);

  ErrorAnim::Score causa = ErrorAnim::kScoreBien;
  uint16_t frames = 0;
  try {
    uint8_t cabecera[kCabeceraScore];
    const bool vm02 = [&] {
      if (LeerTodo(*ehdd_, fichero, cabecera, kCabeceraScore) < kCabeceraScore) {
        causa = ErrorAnim::kScoreCorto;
      } else if (std::memcmp(cabecera, kVersionVM02, 8) != 0 &&
                 std::memcmp(cabecera, kVersionVM01, 8) != 0) {
        causa = ErrorAnim::kScoreVersion;
      } else {
        frames = static_cast<uint16_t>(cabecera[8] | (cabecera[9] << 8));
        if (frames > kMaxFrames) causa = ErrorAnim::kScoreFrames;
      }
      return causa == ErrorAnim::kScoreBien && std::memcmp(cabecera, kVersionVM02, 8) == 0;
    }();
    if (causa == ErrorAnim::kScoreBien) {
      const uint32_t largo_pista = vm02 ? kMaxFrames : kFramesVM01;
      bool completo = true;
      for (uint32_t t = 0; t < kPistas && completo; ++t) {
        completo = LeerTodo(*ehdd_, fichero, pistas_.get() + size_t{t} * kMaxFrames, largo_pista) ==
                   largo_pista;
      }
      uint8_t secciones[kMaxFrames * 2];
      const uint32_t bytes_secciones = vm02 ? kMaxFrames * 2 : kFramesVM01;
      completo =
          completo && LeerTodo(*ehdd_, fichero, secciones, bytes_secciones) == bytes_secciones;
      if (!completo) {
        causa = ErrorAnim::kScoreCorto;
      } else if (vm02) {
        for (uint32_t f = 0; f < kMaxFrames; ++f) {
          secciones_[f] = static_cast<uint16_t>(secciones[2 * f] | (secciones[2 * f + 1] << 8));
        }
      } else {
        for (uint32_t f = 0; f < kFramesVM01; ++f) secciones_[f] = secciones[f];
      }
      if (completo) std::memcpy(version_score_, cabecera, sizeof(version_score_));
    }
  } catch (...) {
    CerrarSinExcepcion(*ehdd_, fichero);
    BorrarScore();
    throw;
  }
  CerrarSinExcepcion(*ehdd_, fichero);
  if (causa != ErrorAnim::kScoreBien) return rechazar(causa);
  num_frames_.store(frames, std::memory_order_release);
  return 0;
}

bool TGestorAnim::ValorJump(const char* linea, uint16_t& valor) {
  bool digitos = false;
  const int64_t numero = Atoi(linea != nullptr ? linea : "", &digitos);
  if (!digitos || numero < 0 || numero > std::numeric_limits<uint16_t>::max()) return false;
  valor = static_cast<uint16_t>(numero);
  return true;
}

int TGestorAnim::LeerJumps(const char* path) {
  num_jumps_ = 0;
  TListaStrings lista(osal_, ehdd_);
  lista.Iniciar();
  if (lista.CargarFichero(path) != 0) return 0;
  for (uint16_t i = 0; i < lista.Count() && num_jumps_ < kMaxJumps; ++i) {
    uint16_t valor = 0;
    if (ValorJump(lista.Item(i), valor)) jumps_[num_jumps_++] = valor;
  }
  return 0;
}

uint32_t TGestorAnim::ContarImagenes() const {
  uint32_t total = 0;
  for (uint8_t k = 1; k <= d_->num_fondos; ++k) {
    if (!FondoDibujable(k)) continue;
    const FondoAnim& fondo = d_->fondos[k];
    ++total;
    for (uint8_t i = 0; i < fondo.num_casts; ++i) {
      const uint8_t c = fondo.casts[i];
      if (c <= d_->num_casts + 1) total += d_->casts[c].num_sprites;
    }
  }
  return total;
}

std::vector<ImagenPlan> TGestorAnim::PlanDeCarga() const {
  std::vector<ImagenPlan> plan;
  for (uint8_t prioridad : {uint8_t{1}, uint8_t{0}}) {
    for (uint8_t k = 1; k <= d_->num_fondos; ++k) {
      const FondoAnim& fondo = d_->fondos[k];
      if (fondo.prioridad != prioridad) continue;
      plan.push_back(
          {NombreFondo(k), static_cast<uint32_t>(d_->ancho), static_cast<uint32_t>(d_->alto)});
      for (uint8_t i = 0; i < fondo.num_casts; ++i) {
        const uint8_t c = fondo.casts[i];
        if (c > d_->num_casts + 1) continue;
        const CastAnim& cast = d_->casts[c];
        plan.push_back({NombreCast(cast.id_fondo, c, cast.num_sprites),
                        uint32_t{cast.num_sprites} * static_cast<uint32_t>(cast.ancho),
                        static_cast<uint32_t>(cast.alto)});
      }
    }
  }
  return plan;
}

std::string TGestorAnim::NombreFondo(uint8_t k) {
  char nombre[32];
  std::snprintf(nombre, sizeof(nombre), "FONDO%u.PNG", unsigned{k});
  return nombre;
}

std::string TGestorAnim::NombreCast(uint8_t id_fondo, uint8_t c, uint8_t sprites) {
  char nombre[48];
  std::snprintf(nombre, sizeof(nombre), "CAST%u_%02u_%02u.PNG", unsigned{id_fondo}, unsigned{c},
                unsigned{sprites});
  return nombre;
}

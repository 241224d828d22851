// The tag grammar of TAE documents and the keyword table: how each keyword
// changes the layout, which counter it bumps and which handler draws it.
#include <algorithm>
#include <cstring>

#include "player/ColoresTAE.h"
#include "player/TFormatae.h"

const char* const kNombresContadoresTAE[kNumContadoresTAE] = {
    "COLOR",      "NEGRITA",    "CURSIVA", "SUBRAYADO", "SALTOPAG", "TAMANO",     "TABULADOR",
    "COLORF",     "INTERLINEA", "SONIDO1", "SONIDO2",   "SONIDO3",  "EJESCRITO1", "EJESCRITO2",
    "EJESCRITO3", "EJESCRITO0", "HUECO",   "BITMAPF",   "BOTON1",   "BOTON2",     "BOTON3",
    "BOTON4",     "BOTON5",     "BOTON6",  "BOTON7",    "BOTON8",   "ROLPLAY",    "FSPEAK",
    "ASPEAK",     "INVISIBLE",  "FONT",
};

namespace {

constexpr int kMaxValoresTabulador = 2 + kTabuladoresTAE;
constexpr int32_t kMaxTabulador = 32767;

int32_t Acotar(int32_t valor, int32_t menor, int32_t mayor) {
  return valor < menor ? menor : (valor > mayor ? mayor : valor);
}

void Sumar(uint16_t& contador) {
  if (contador < 0xFFFF) ++contador;
}

void Sumar(int16_t& contador) {
  if (contador < 0x7FFF) ++contador;
}

// Layout effects.

EfectoTag SinEfecto(const char*, const TagTAE&, ESTILO_TAE&, bool) {
  return {};
}

EfectoTag Fallo(MensajeTAE mensaje) {
  EfectoTag efecto;
  efecto.tipo = TipoEfecto::kFallo;
  efecto.mensaje = mensaje;
  return efecto;
}

// NEGRITA, CURSIVA, SUBRAYADO: only a whole list "1" or "0" changes anything.
int InterruptorTag(const char* texto, const TagTAE& tag) {
  if (TFormatae::ListaEs(texto, tag, "1")) return 1;
  if (TFormatae::ListaEs(texto, tag, "0")) return 0;
  return -1;
}

EfectoTag EfectoNegrita(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo, bool) {
  const int valor = InterruptorTag(texto, tag);
  if (valor >= 0) estilo.fuente.lfWeight = valor ? 700 : 400;
  return {};
}

EfectoTag EfectoCursiva(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo, bool) {
  const int valor = InterruptorTag(texto, tag);
  if (valor >= 0) estilo.fuente.lfItalic = static_cast<uint8_t>(valor);
  return {};
}

EfectoTag EfectoSubrayado(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo, bool) {
  const int valor = InterruptorTag(texto, tag);
  if (valor >= 0) estilo.fuente.lfUnderline = static_cast<uint8_t>(valor);
  return {};
}

EfectoTag EfectoSaltoPag(const char*, const TagTAE&, ESTILO_TAE&, bool) {
  EfectoTag efecto;
  efecto.tipo = TipoEfecto::kSaltoPagina;
  return efecto;
}

EfectoTag EfectoTamano(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo, bool) {
  // The number saturates at +-2147483647, so its negation always fits.
  estilo.fuente.lfHeight = -TFormatae::NumeroCampo(texto, tag, 0);
  return {};
}

EfectoTag EfectoTabulador(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo,
                          bool inicio_parrafo) {
  const int valores = std::min<int>(TFormatae::NumCampos(tag, texto), kMaxValoresTabulador);
  for (int i = 0; i < valores; ++i) {
    const int32_t valor = Acotar(TFormatae::NumeroCampo(texto, tag, i), 0, kMaxTabulador);
    if (i == 0) {
      estilo.sangria = static_cast<int16_t>(valor);
    } else if (i == 1) {
      estilo.sangria_primera = static_cast<int16_t>(valor);
    } else {
      estilo.tabuladores[i - 2] = static_cast<uint16_t>(valor);
    }
  }
  EfectoTag efecto;
  if (inicio_parrafo) {
    efecto.tipo = TipoEfecto::kAvance;
    efecto.avance = estilo.sangria_primera;
  }
  return efecto;
}

EfectoTag EfectoInterlinea(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo, bool) {
  estilo.interlinea = static_cast<uint8_t>(Acotar(TFormatae::NumeroCampo(texto, tag, 0), 0, 255));
  return {};
}

EfectoTag EfectoColor(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo, bool fondo) {
  platform::gfx::COLORREF color = 0;
  switch (BuscarColorTAE(texto + tag.parametros, tag.longitud, fondo, color)) {
    case ResultadoColor::kDesconocido:
      return Fallo(kMensajeColor);
    case ResultadoColor::kColor:
      (fondo ? estilo.color_fondo : estilo.color_texto) = color;
      break;
    case ResultadoColor::kSinCambio:
      break;
  }
  return {};
}

EfectoTag EfectoColorTexto(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo, bool) {
  return EfectoColor(texto, tag, estilo, false);
}

EfectoTag EfectoColorFondo(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo, bool) {
  return EfectoColor(texto, tag, estilo, true);
}

// FONT ends a double-byte run whatever its list (the walker knows that from
// the tag itself); CHINO starts one.
EfectoTag EfectoFont(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo, bool) {
  struct Fuente {
    const char* nombre;
    const char* cara;
    uint8_t juego;
  };
  static constexpr Fuente kFuentes[] = {
      {"INTER", "Arial", 0},   {"RUSO", "Arial", 204},  {"POLACO", "Arial", 238},
      {"TURCO", "Arial", 162}, {"CHINO", "MS Song", 1},
  };
  for (const Fuente& fuente : kFuentes) {
    if (TFormatae::ListaEs(texto, tag, fuente.nombre)) {
      PonerFuente(estilo, fuente.cara, fuente.juego);
      return {};
    }
  }
  return Fallo(kMensajeFont);
}

// SONIDO opens and closes sounds of types 1 to 3; any other type fails.
EfectoTag EfectoSonido(const char* texto, const TagTAE& tag, ESTILO_TAE&, bool) {
  const int32_t tipo = TFormatae::NumeroCampo(texto, tag, 0);
  if (tipo >= 1 && tipo <= 3) return {};
  return Fallo(kMensajeSonido);
}

// BOTON draws types 1, 2, 3 and 8; the others fail and leave a gap.
EfectoTag EfectoBoton(const char* texto, const TagTAE& tag, ESTILO_TAE&, bool) {
  EfectoTag efecto;
  switch (TFormatae::NumeroCampo(texto, tag, 0)) {
    case 1:
    case 2:
    case 3:
    case 8:
      return efecto;
    case 5:
      efecto = Fallo(kMensajeSpeakComparar);
      break;
    case 6:
      efecto = Fallo(kMensajeSpeakAnswer);
      break;
    default:
      efecto = Fallo(kMensajeBoton);
      break;
  }
  efecto.avance = kAvanceDesconocido;
  return efecto;
}

// Counters.

void ContarSonido(const char* texto, const TagTAE& tag, AUDIT_TAE& audit) {
  const int32_t tipo = TFormatae::NumeroCampo(texto, tag, 0);
  if (tipo < 1 || tipo > 3) return;
  Sumar(audit.contadores[kCuentaSonido1 + tipo - 1]);
  const int32_t numero = TFormatae::NumeroCampo(texto, tag, 1);
  if (numero < 1 || numero > 0xFFFF) return;
  const uint16_t n = static_cast<uint16_t>(numero);
  if (n < audit.sonido_menor) audit.sonido_menor = n;
  if (n > audit.sonido_mayor) audit.sonido_mayor = n;
  Sumar(audit.sonidos_abiertos);
  if (tipo == 3) Sumar(audit.sonidos_tipo3);
}

void ContarEjEscrito(const char* texto, const TagTAE& tag, AUDIT_TAE& audit) {
  const int32_t tipo = TFormatae::NumeroCampo(texto, tag, 0);
  if (tipo == 0) {
    Sumar(audit.contadores[kCuentaEjEscrito0]);
    return;
  }
  if (tipo < 1 || tipo > 3) return;
  Sumar(audit.contadores[kCuentaEjEscrito1 + tipo - 1]);
  Sumar(audit.ejercicios_abiertos);
  if (tipo == 3) Sumar(audit.ejercicios_tipo3);
  int32_t numero = TFormatae::NumeroCampo(texto, tag, 1);
  if (numero < 0 || numero > 0xFFFF) numero = 0;
  const uint16_t n = static_cast<uint16_t>(numero);
  if (n < audit.ejercicio_menor) audit.ejercicio_menor = n;
  if (n > audit.ejercicio_mayor) audit.ejercicio_mayor = n;
}

void ContarBoton(const char* texto, const TagTAE& tag, AUDIT_TAE& audit) {
  const int32_t tipo = TFormatae::NumeroCampo(texto, tag, 0);
  if (tipo >= 1 && tipo <= 8) Sumar(audit.contadores[kCuentaBoton1 + tipo - 1]);
}

template <ContadorTAE kContador>
void Contar(const char*, const TagTAE&, AUDIT_TAE& audit) {
  Sumar(audit.contadores[kContador]);
}

}  // namespace

const TFormatae::ClaveInfo TFormatae::kClaves[kNumClavesTAE] = {
    {"COLOR", 5, EfectoColorTexto, Contar<kCuentaColor>, nullptr},
    {"NEGRITA", 7, EfectoNegrita, Contar<kCuentaNegrita>, nullptr},
    {"CURSIVA", 7, EfectoCursiva, Contar<kCuentaCursiva>, nullptr},
    {"SUBRAYADO", 9, EfectoSubrayado, Contar<kCuentaSubrayado>, nullptr},
    {"SALTOPAG", 8, EfectoSaltoPag, Contar<kCuentaSaltoPag>, nullptr},
    {"TAMANO", 6, EfectoTamano, Contar<kCuentaTamano>, nullptr},
    {"TABULADOR", 9, EfectoTabulador, Contar<kCuentaTabulador>, nullptr},
    {"COLORF", 6, EfectoColorFondo, Contar<kCuentaColorF>, nullptr},
    {"INTERLINEA", 10, EfectoInterlinea, Contar<kCuentaInterlinea>, nullptr},
    {"SONIDO", 6, EfectoSonido, ContarSonido, &TFormatae::TagSonido},
    {"EJESCRITO", 9, SinEfecto, ContarEjEscrito, &TFormatae::TagEjEscrito},
    {"HUECO", 5, SinEfecto, Contar<kCuentaHueco>, &TFormatae::TagHueco},
    {"BITMAPF", 7, SinEfecto, Contar<kCuentaBitmapF>, &TFormatae::TagBitmapF},
    {"BOTON", 5, EfectoBoton, ContarBoton, &TFormatae::TagBoton},
    {"ROLPLAY", 7, SinEfecto, Contar<kCuentaRolPlay>, &TFormatae::TagRolPlay},
    {"FSPEAK", 6, SinEfecto, Contar<kCuentaFSpeak>, &TFormatae::TagFSpeak},
    {"ASPEAK", 6, SinEfecto, Contar<kCuentaASpeak>, &TFormatae::TagASpeak},
    {"INVISIBLE", 9, SinEfecto, Contar<kCuentaInvisible>, nullptr},
    {"FONT", 4, EfectoFont, Contar<kCuentaFont>, nullptr},
};

const char* TFormatae::NombreClave(ClaveTAE clave) {
  return clave < kNumClavesTAE ? kClaves[clave].nombre : "";
}

uint8_t TFormatae::CompararClave(const char* texto, uint32_t disponible, const char* clave,
                                 char terminador) {
  const size_t longitud = std::strlen(clave);
  if (disponible <= longitud) return 0;
  if (std::memcmp(texto, clave, longitud) != 0 || texto[longitud] != terminador) return 0;
  return static_cast<uint8_t>(longitud);
}

bool TFormatae::LeerTag(const char* texto, uint32_t longitud, uint32_t pos, TagTAE& tag) {
  if (pos >= longitud || texto[pos] != '<') return false;
  const uint32_t resto = longitud - pos - 1;
  for (int i = 0; i < kNumClavesTAE; ++i) {
    const ClaveInfo& info = kClaves[i];
    if (CompararClave(texto + pos + 1, resto, info.nombre, ':') == 0) continue;
    const uint32_t parametros = pos + 2 + info.longitud;
    // The list runs to the first '>', holds no LF, NUL or '<' and is at
    // most kMaxParametrosTAE bytes long.
    for (uint32_t j = parametros; j < longitud && j - parametros <= kMaxParametrosTAE; ++j) {
      const char c = texto[j];
      if (c == '>') {
        tag.clave = static_cast<ClaveTAE>(i);
        tag.inicio = pos;
        tag.parametros = parametros;
        tag.longitud = static_cast<uint16_t>(j - parametros);
        tag.fin = j + 1;
        tag.abre_doble = tag.clave == kClaveFont && ListaEs(texto, tag, "CHINO");
        return true;
      }
      if (c == '\n' || c == '\0' || c == '<') return false;
    }
    return false;  // keywords never share a prefix followed by ':'
  }
  return false;
}

CampoTAE TFormatae::Campo(const char* texto, const TagTAE& tag, int indice) {
  CampoTAE campo;
  const char* p = texto + tag.parametros;
  const char* fin = p + tag.longitud;
  for (int i = 0;; ++i) {
    const char* coma = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(fin - p)));
    const char* final_campo = coma ? coma : fin;
    if (i == indice) {
      campo.bytes = p;
      campo.longitud = static_cast<uint16_t>(final_campo - p);
      campo.existe = true;
      return campo;
    }
    if (coma == nullptr) return campo;
    p = coma + 1;
  }
}

uint16_t TFormatae::NumCampos(const TagTAE& tag, const char* texto) {
  const char* p = texto + tag.parametros;
  uint16_t campos = 1;
  for (uint16_t i = 0; i < tag.longitud; ++i) {
    if (p[i] == ',') ++campos;
  }
  return campos;
}

size_t TFormatae::LeerParametro(const CampoTAE& campo, char* destino, size_t capacidad) {
  if (destino == nullptr || capacidad == 0) return 0;
  size_t n = campo.existe ? campo.longitud : 0;
  if (n > capacidad - 1) n = capacidad - 1;
  if (n > 0) std::memcpy(destino, campo.bytes, n);
  destino[n] = '\0';
  return n;
}

int32_t TFormatae::NumeroTAE(const char* bytes, size_t longitud) {
  size_t i = 0;
  while (i < longitud && (bytes[i] == ' ' || bytes[i] == '\t')) ++i;
  bool negativo = false;
  if (i < longitud && (bytes[i] == '+' || bytes[i] == '-')) {
    negativo = bytes[i] == '-';
    ++i;
  }
  constexpr int64_t kTope = 2147483647;
  int64_t valor = 0;
  for (; i < longitud && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
    valor = valor * 10 + (bytes[i] - '0');
    if (valor > kTope) valor = kTope;
  }
  return static_cast<int32_t>(negativo ? -valor : valor);
}

int32_t TFormatae::NumeroCampo(const char* texto, const TagTAE& tag, int indice) {
  const CampoTAE campo = Campo(texto, tag, indice);
  return campo.existe ? NumeroTAE(campo.bytes, campo.longitud) : 0;
}

bool TFormatae::ListaEs(const char* texto, const TagTAE& tag, const char* palabra) {
  const size_t n = std::strlen(palabra);
  return tag.longitud == n && std::memcmp(texto + tag.parametros, palabra, n) == 0;
}

bool TFormatae::LeerElemento(const char* texto, uint32_t longitud, PosicionTAE& pos,
                             ElementoTAE& elemento) {
  uint32_t p = pos.offset;
  if (pos.doble) {
    if (p + 1 >= longitud) return false;  // a lone last byte is dropped
    if (texto[p] != '<' || texto[p + 1] != 'F') {
      const uint32_t inicio = p;
      while (p + 1 < longitud && !(texto[p] == '<' && texto[p + 1] == 'F')) p += 2;
      elemento.tipo = ElementoTAE::kTexto2;
      elemento.inicio = inicio;
      elemento.longitud = p - inicio;
      pos.offset = p;
      return true;
    }
    pos.doble = false;  // a pair starting "<F" ends the run and is read as below
  }
  if (p >= longitud || texto[p] == '\0') return false;
  elemento.inicio = p;
  const char c = texto[p];
  if (c == '\n' || c == '\t') {
    elemento.tipo = c == '\n' ? ElementoTAE::kLF : ElementoTAE::kTab;
    elemento.longitud = 1;
    pos.offset = p + 1;
    return true;
  }
  if (c == '<') {
    if (LeerTag(texto, longitud, p, elemento.tag)) {
      elemento.tipo = ElementoTAE::kTag;
      elemento.longitud = elemento.tag.fin - p;
      pos.offset = elemento.tag.fin;
      pos.doble = elemento.tag.abre_doble;
    } else {
      elemento.tipo = ElementoTAE::kDesconocido;
      elemento.longitud = 1;
      pos.offset = p + 1;
    }
    return true;
  }
  while (p < longitud && texto[p] != '\0' && texto[p] != '\n' && texto[p] != '\t' &&
         texto[p] != '<') {
    ++p;
  }
  elemento.tipo = ElementoTAE::kTexto;
  elemento.longitud = p - elemento.inicio;
  pos.offset = p;
  return true;
}

// Reading a TAE document into memory: the plain read, the speaking part's
// rewrite, and the per-document records a load allocates.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"

namespace {

const char* const kErrorAbrir = "Error al abrir el fichero TAE.";
const char* const kErrorMemoria = "Error en 'malloc' para el buffer en memoria del fichero TAE.";
const char* const kErrorLeer = "Error en al leer el fichero TAE.";

constexpr char kAbreDoble[] = "<FONT:CHINO>";
constexpr size_t kLargoAbreDoble = sizeof(kAbreDoble) - 1;

// The first "<FONT:CHINO>" within bytes [desde, hasta), found by its '>'.
const char* BuscarAbreDoble(const char* datos, uint32_t desde, uint32_t hasta) {
  if (hasta - desde < kLargoAbreDoble) return nullptr;
  const char* p = datos + desde + kLargoAbreDoble - 1;
  const char* fin = datos + hasta;
  while (p < fin) {
    const void* mayor = std::memchr(p, '>', static_cast<size_t>(fin - p));
    if (mayor == nullptr) return nullptr;
    const char* inicio = static_cast<const char*>(mayor) - (kLargoAbreDoble - 1);
    if (std::memcmp(inicio, kAbreDoble, kLargoAbreDoble) == 0) return inicio;
    p = static_cast<const char*>(mayor) + 1;
  }
  return nullptr;
}

// The one-byte empty text used when not even that could be allocated.
char g_texto_vacio[1] = {'\0'};

// Speaking rewrite: a tag is at most this many bytes, '<' and '>' included.
constexpr uint32_t kMaxTagSpeaking = 199;
constexpr size_t kNombreAudioSpeaking = 6;  // "S00000"

bool Contiene(const std::string& tag, const char* trozo) {
  return tag.find(trozo) != std::string::npos;
}

// The speaking part's tags rewritten: FSPEAK becomes a type-1 sound whose
// audio name the next ASPEAK fills in, the bold-off tag after it closes
// the sound, and the speaking part's own buttons and images go.
std::string Reescribir(const char* datos, uint32_t tamano) {
  std::string limpio;
  limpio.reserve(tamano);
  for (uint32_t i = 0; i < tamano; ++i) {
    if (datos[i] != '\r') limpio.push_back(datos[i]);
  }
  std::string salida;
  salida.reserve(limpio.size() + limpio.size() / 8 + 16);
  size_t marcador = std::string::npos;  // where the placeholder name stands in salida
  bool abierto = false;
  size_t i = 0;
  while (i < limpio.size()) {
    if (limpio[i] != '<') {
      salida.push_back(limpio[i++]);
      continue;
    }
    const size_t ventana = std::min<size_t>(kMaxTagSpeaking, limpio.size() - i);
    const void* mayor = std::memchr(limpio.data() + i, '>', ventana);
    if (mayor == nullptr) {
      salida.append(limpio, i, ventana);  // no '>' close enough: the bytes stand as they are
      i += ventana;
      continue;
    }
    const size_t cierre = static_cast<size_t>(static_cast<const char*>(mayor) - limpio.data());
    const std::string tag = limpio.substr(i, cierre - i + 1);
    i = cierre + 1;
    if (Contiene(tag, "<BITMAPF:PASSPEAK") || Contiene(tag, "<BITMAPF:PASNEGA") ||
        Contiene(tag, "<BOTON:4") || Contiene(tag, "<COLORF:FSPEAK")) {
      continue;
    }
    const size_t fspeak = tag.find("<FSPEAK:");
    if (fspeak != std::string::npos) {
      const size_t desde = fspeak + 8;
      const std::string numero = tag.substr(desde, tag.size() - 1 - desde);
      if (numero.empty()) {
        salida += tag;
        continue;
      }
      // A sound of type 1 numbered with four digits by the FSPEAK number.
      salida += numero.size() == 1 ? "<SONIDO:1,000" : "<SONIDO:1,00";
      salida.append(numero, 0, std::min<size_t>(numero.size(), 2));
      salida += ',';
      marcador = salida.size();
      salida += "S00000>";
      abierto = true;
      continue;
    }
    if (abierto && Contiene(tag, "<NEGRITA:0")) {
      salida += tag;
      salida += "<SONIDO:1,0>";
      abierto = false;
      continue;
    }
    const size_t aspeak = tag.find("<ASPEAK:");
    if (aspeak != std::string::npos) {
      const size_t desde = aspeak + 8;
      const size_t coma = tag.find(',', desde);
      const bool cero = desde < tag.size() && tag[desde] == '0';
      if (!cero && coma != std::string::npos && marcador != std::string::npos) {
        size_t fin = tag.find(',', coma + 1);
        if (fin == std::string::npos) fin = tag.size() - 1;
        const size_t n = std::min(kNombreAudioSpeaking, fin - (coma + 1));
        salida.replace(marcador, n, tag, coma + 1, n);
      }
      salida += tag;
      continue;
    }
    salida += tag;
  }
  return salida;
}

}  // namespace

void TFormatae::ReiniciarAuditoria() {
  AUDIT_TAE& audit = ftae_->audit;
  Liberar(audit.bufsontrat, "bufsontrat");
  Liberar(audit.bufejetrat, "bufejetrat");
  std::memset(&audit, 0, sizeof audit);
  audit.sonido_menor = kMenorInicialTAE;
  audit.ejercicio_menor = kMenorInicialTAE;
  ftae_->respuestas = 0;
  ftae_->errores = 0;
}

void TFormatae::LiberarTexto() {
  if (ftae_->doctae != g_texto_vacio) Liberar(ftae_->doctae, "doctae");
  ftae_->doctae = nullptr;
  ftae_->longitud = 0;
}

void TFormatae::TextoVacio() {
  LiberarTexto();
  char* texto = static_cast<char*>(Pedir(1, "doctae"));
  if (texto == nullptr) texto = g_texto_vacio;
  texto[0] = '\0';
  ftae_->doctae = texto;
  ftae_->longitud = 0;
}

bool TFormatae::LeerFichero(const char* path, char** datos, uint32_t* tamano) {
  *datos = nullptr;
  *tamano = 0;
  TFicheroEHDD* fichero = ehdd_ && path ? ehdd_->Abrir(path, 0) : nullptr;
  if (fichero == nullptr) {
    lectura_ = Lectura::kNoAbre;
    Error(kErrorAbrir);
    return false;
  }
  uint32_t longitud = 0;
  uint32_t restante = 0;
  ehdd_->Size(fichero, longitud, restante);
  ftae_->audit.tamano = longitud;
  char* buffer = nullptr;
  if (longitud <= kMaxDocumentoTAE) buffer = static_cast<char*>(Pedir(longitud + 1, "doctae"));
  if (buffer == nullptr) {
    ehdd_->Cerrar(fichero);
    lectura_ = Lectura::kSinMemoria;
    Error(kErrorMemoria);
    return false;
  }
  uint32_t leidos = 0;
  try {
    leidos = longitud > 0 ? ehdd_->Leer(buffer, 1, longitud, fichero) : 0;
  } catch (...) {
    Liberar(buffer, "doctae");
    ehdd_->Cerrar(fichero);
    throw;
  }
  ehdd_->Cerrar(fichero);
  if (leidos < longitud) {
    Liberar(buffer, "doctae");
    lectura_ = Lectura::kNoLee;
    Error(kErrorLeer);
    return false;
  }
  buffer[longitud] = '\0';
  *datos = buffer;
  *tamano = longitud;
  return true;
}

bool TFormatae::LeerPlano(const char* path) {
  char* datos = nullptr;
  uint32_t tamano = 0;
  if (!LeerFichero(path, &datos, &tamano)) return false;
  // Every CR goes, except inside a double-byte run: right after the bytes
  // "<FONT:CHINO>" whole pairs are copied as they are, up to the first pair
  // that begins "<F" or to the end.
  uint32_t salida = 0;
  uint32_t inicio_simple = 0;  // where the current single-byte stretch began in the output
  bool doble = false;
  uint32_t i = 0;
  while (i < tamano) {
    if (doble) {
      if (i + 1 < tamano && datos[i] == '<' && datos[i + 1] == 'F') {
        doble = false;
        inicio_simple = salida;
        continue;
      }
      const uint32_t n = i + 1 < tamano ? 2 : 1;
      std::memmove(datos + salida, datos + i, n);
      salida += n;
      i += n;
      continue;
    }
    // The bytes up to the next CR move down as they are...
    const void* cr = std::memchr(datos + i, '\r', tamano - i);
    const uint32_t fin = cr ? static_cast<uint32_t>(static_cast<const char*>(cr) - datos) : tamano;
    const uint32_t antes = salida;
    const uint32_t desplazamiento = i - antes;  // input offset = output offset + this
    std::memmove(datos + salida, datos + i, fin - i);
    salida += fin - i;
    // ...unless a run starts among them: the first "<FONT:CHINO>" of the
    // output that ends in them (it may begin before a CR already dropped).
    const uint32_t desde = std::max(
        inicio_simple,
        antes >= kLargoAbreDoble - 1 ? antes - static_cast<uint32_t>(kLargoAbreDoble - 1) : 0u);
    const char* abre = BuscarAbreDoble(datos, desde, salida);
    if (abre != nullptr) {
      // The run's bytes were moved down with the rest: put them back where
      // the input had them and copy them as pairs from there.
      const uint32_t fin_abre = static_cast<uint32_t>(abre - datos + kLargoAbreDoble);
      std::memmove(datos + fin_abre + desplazamiento, datos + fin_abre, salida - fin_abre);
      salida = fin_abre;
      i = fin_abre + desplazamiento;
      doble = true;
      continue;
    }
    i = cr ? fin + 1 : fin;
  }
  datos[salida] = '\0';
  ftae_->doctae = datos;
  ftae_->longitud = salida;
  return true;
}

bool TFormatae::ReescribirSpeaking(const char* path) {
  char* datos = nullptr;
  uint32_t tamano = 0;
  if (!LeerFichero(path, &datos, &tamano)) return false;
  std::string texto;
  try {
    texto = Reescribir(datos, tamano);
  } catch (const std::bad_alloc&) {
    Liberar(datos, "doctae");
    lectura_ = Lectura::kSinMemoria;
    Error(kErrorMemoria);
    return false;
  }
  Liberar(datos, "doctae");
  char* salida = texto.size() < UINT32_MAX
                     ? static_cast<char*>(Pedir(static_cast<uint32_t>(texto.size() + 1), "doctae"))
                     : nullptr;
  if (salida == nullptr) {
    lectura_ = Lectura::kSinMemoria;
    Error(kErrorMemoria);
    return false;
  }
  std::memcpy(salida, texto.data(), texto.size());
  salida[texto.size()] = '\0';
  ftae_->doctae = salida;
  ftae_->longitud = static_cast<uint32_t>(texto.size());
  return true;
}

void TFormatae::CrearRegistrosTratados() {
  AUDIT_TAE& audit = ftae_->audit;
  // A record set that cannot be allocated shrinks to one record, so the
  // document's highest number always matches the records it has.
  auto pedir = [this](uint16_t& mayor, size_t tamano, const char* tag) {
    void* bloque = Pedir(static_cast<uint32_t>((size_t{mayor} + 1) * tamano), tag);
    if (bloque == nullptr) {
      mayor = 0;
      bloque = Pedir(static_cast<uint32_t>(tamano), tag);
    }
    return bloque;
  };
  audit.bufsontrat =
      static_cast<SON_TRATADO*>(pedir(audit.sonido_mayor, sizeof(SON_TRATADO), "bufsontrat"));
  if (audit.bufsontrat != nullptr) {
    std::memset(audit.bufsontrat, 0, (size_t{audit.sonido_mayor} + 1) * sizeof(SON_TRATADO));
  }
  audit.bufejetrat =
      static_cast<EJE_TRATADO*>(pedir(audit.ejercicio_mayor, sizeof(EJE_TRATADO), "bufejetrat"));
  if (audit.bufejetrat != nullptr) {
    const size_t registros = size_t{audit.ejercicio_mayor} + 1;
    std::memset(audit.bufejetrat, '*', registros * sizeof(EJE_TRATADO));
    for (size_t i = 0; i < registros; ++i) {
      EJE_TRATADO& registro = audit.bufejetrat[i];
      registro.tipo = 0;
      registro.selector = 1;
      registro.resultado1 = 0;
      registro.resultado2 = 0;
      registro.escuchas = 0;
      registro.grabaciones = 0;
      registro.comparaciones = 0;
    }
  }
}

void TFormatae::CargarDocumento(const char* path) {
  if (!usable_) return;
  mensajes_.store(0);
  lectura_ = Lectura::kLeido;
  ReiniciarAuditoria();
  LiberarTexto();

  // The speaking part is the document whose name ends in "PR.TAE".
  const size_t largo = path ? std::strlen(path) : 0;
  const bool speaking = largo >= 6 && path[largo - 6] == 'P' && path[largo - 5] == 'R';
  std::exception_ptr pendiente;
  bool leido = false;
  try {
    leido = speaking ? ReescribirSpeaking(path) : LeerPlano(path);
  } catch (...) {
    pendiente = std::current_exception();
    lectura_ = Lectura::kNoLee;
  }
  if (!leido) TextoVacio();
  parte_ = speaking ? 7 : ParteDeRuta(path);
  {
    // The pictures of the last load are read again for this one.
    TGestorTAE::Bloqueo bloqueo(tae_);
    imagenes_carga_.clear();
  }

  Preformatear();
  itae_->pagina_actual = 0;
  CrearRegistrosTratados();
  if (pendiente) std::rethrow_exception(pendiente);
}

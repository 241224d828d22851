// lectoria-tae: reads TAE documents, role-play files and string lists the
// way the lesson player does and prints what it made of them.
//
//   lectoria-tae [--local-root DIR] [--local LETTERS] [--mount L=STORE]... COMMAND PATH
//   COMMAND: parse | pages | lines | roleplay
//
// PATH is a virtual path (a letter, ':' and '\') or a plain local file,
// whose folder is mounted on a spare letter. Engine messages go to stderr
// as "lectoria-tae: <text>". Exit 0 when the command ran, 1 when the file
// could not be opened or read, 2 for usage.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "base/TListaStrings.h"
#include "ehdd/TEHDDClient.h"
#include "platform/MessageBox.h"
#include "platform/ui/Headless.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"
#include "tools/common/StoreOptions.h"

namespace {

// The unit page and its text area.
constexpr int16_t kAnchoPagina = 687;
constexpr int16_t kAltoPagina = 534;
constexpr int16_t kAnchoArea = 664;

int Usage() {
  std::fprintf(stderr,
               "usage: lectoria-tae [--local-root DIR] [--local LETTERS] [--mount L=STORE]... "
               "COMMAND PATH\n"
               "commands: parse PATH | pages PATH | lines PATH | roleplay PATH\n");
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "lectoria-tae: %s\n", message.c_str());
  return 1;
}

std::string Quoted(const char* bytes, size_t length) {
  return "\"" + tools::Quote(bytes, length) + "\"";
}

// The engine as the lesson player sets it up for one unit page: a headless
// control window with a page slot, the lesson manager, and one formatter.
struct Motor {
  explicit Motor(TEHDDClient& client) : ventana(kAnchoPagina, kAltoPagina) {
    gdi.SetOSAL(&osal);
    SetUnitControlWindow(&ventana);
    tae.SetOSAL(&osal);
    tae.SetGestorGDI(&gdi);
    tae.SetEHDDClient(&client);
    tae.Iniciar();
  }
  ~Motor() {
    formateador.reset();
    SetUnitControlWindow(nullptr);
  }

  // A unit formatter drawing into a page slot of the window.
  TFormatae* Formateador() {
    formateador.reset(TFormatae::Crear(&tae, 0, 0, kAnchoArea, kAltoPagina, kAnchoPagina,
                                       kAltoPagina, 0, 0, 0xFFFFFF, 0xBFDFDF));
    if (!formateador) return nullptr;
    const uint16_t slot = gdi.CrearBuffer(kAnchoPagina, kAltoPagina, 0, 0, &ventana);
    formateador->SetSlotPagina(static_cast<int16_t>(slot));
    return formateador.get();
  }

  OSAL osal;
  platform::ui::HeadlessControlSite ventana;
  TGestorGDI gdi;
  TGestorTAE tae;
  std::unique_ptr<TFormatae> formateador;
};

// Loads the document; false (after its message) when it could not be read.
bool Cargar(TFormatae& formateador, const std::string& path) {
  formateador.CargarDocumento(path.c_str());
  return formateador.ResultadoLectura() == TFormatae::Lectura::kLeido;
}

// Offsets of the elements of the text, in order.
std::vector<uint32_t> InicioElementos(const TFormatae& formateador) {
  std::vector<uint32_t> inicios;
  PosicionTAE pos;
  ElementoTAE elemento;
  while (TFormatae::LeerElemento(formateador.Texto(), formateador.LongitudTexto(), pos, elemento)) {
    inicios.push_back(elemento.inicio);
  }
  return inicios;
}

int Parse(TEHDDClient& client, const std::string& path) {
  Motor motor(client);
  TFormatae* formateador = motor.Formateador();
  if (formateador == nullptr) return 1;
  if (!Cargar(*formateador, path)) return 1;
  const AUDIT_TAE& audit = *formateador->Auditoria();
  const char* texto = formateador->Texto();
  std::printf("size %u\n", audit.tamano);
  PosicionTAE pos;
  ElementoTAE elemento;
  unsigned indice = 0;
  while (TFormatae::LeerElemento(texto, formateador->LongitudTexto(), pos, elemento)) {
    switch (elemento.tipo) {
      case ElementoTAE::kTag:
        std::printf("%u tag %s %s\n", indice, TFormatae::NombreClave(elemento.tag.clave),
                    Quoted(texto + elemento.tag.parametros, elemento.tag.longitud).c_str());
        break;
      case ElementoTAE::kTexto:
      case ElementoTAE::kTexto2:
        std::printf("%u %s %u %s\n", indice,
                    elemento.tipo == ElementoTAE::kTexto ? "text" : "text2", elemento.longitud,
                    Quoted(texto + elemento.inicio, elemento.longitud).c_str());
        break;
      case ElementoTAE::kLF:
        std::printf("%u lf\n", indice);
        break;
      case ElementoTAE::kTab:
        std::printf("%u tab\n", indice);
        break;
      case ElementoTAE::kDesconocido:
        std::printf("%u unknown\n", indice);
        break;
    }
    ++indice;
  }
  std::printf("elements %u\n", indice);
  for (int i = 0; i < kNumContadoresTAE; ++i) {
    std::printf("count %s %u\n", kNombresContadoresTAE[i], audit.contadores[i]);
  }
  std::printf("sounds %u %u %d %d\n", audit.sonido_menor, audit.sonido_mayor,
              audit.sonidos_abiertos, audit.sonidos_tipo3);
  std::printf("exercises %u %u %d %d\n", audit.ejercicio_menor, audit.ejercicio_mayor,
              audit.ejercicios_abiertos, audit.ejercicios_tipo3);
  return 0;
}

int Pages(TEHDDClient& client, const std::string& path) {
  Motor motor(client);
  TFormatae* formateador = motor.Formateador();
  if (formateador == nullptr) return 1;
  if (!Cargar(*formateador, path)) return 1;
  const std::vector<uint32_t> inicios = InicioElementos(*formateador);
  const int16_t paginas = formateador->NumPaginas();
  std::printf("pages %d\n", paginas);
  for (int16_t p = 0; p < paginas; ++p) {
    const int32_t resultado = formateador->PintarPagina(static_cast<uint16_t>(p));
    const PAGINA_TAE* pagina = formateador->Pagina(static_cast<uint16_t>(p));
    const uint32_t offset = static_cast<uint32_t>(pagina->texto - formateador->Texto());
    const size_t primero =
        std::lower_bound(inicios.begin(), inicios.end(), offset) - inicios.begin();
    std::string ys;
    int dibujadas = 0;
    for (const TFormatae::LineaPintada& linea : formateador->LineasPintadas()) {
      if (!linea.con_elementos) continue;
      ys += (dibujadas++ ? "," : "") + std::to_string(linea.y);
    }
    const char* fin = (resultado & TFormatae::kPaginaSalto) != 0          ? "break"
                      : (resultado & TFormatae::kPaginaTextoAcabado) != 0 ? "text"
                                                                          : "full";
    std::printf("page %d first %zu style %u lines %d drawn %d end %s ys %s\n", p + 1, primero,
                pagina->estilo, pagina->lineas, dibujadas, fin, ys.empty() ? "-" : ys.c_str());
  }
  return 0;
}

int Lines(TEHDDClient& client, const std::string& path, const std::string& given) {
  OSAL osal;
  TListaStrings lista(&osal, &client);
  lista.Iniciar();
  if (lista.CargarFichero(path.c_str()) != 0) return Fail("cannot open " + given);
  std::printf("count %u\n", lista.Count());
  for (uint16_t i = 0; i < lista.Count(); ++i) {
    const char* item = lista.Item(i);
    const size_t n = std::strlen(item);
    std::printf("%u %zu %s\n", i, n, Quoted(item, n).c_str());
  }
  return 0;
}

int Roleplay(TEHDDClient& client, const std::string& path) {
  OSAL osal;
  TGestorTAE tae;
  tae.SetOSAL(&osal);
  tae.SetEHDDClient(&client);
  tae.Iniciar();
  const CON_ROLPLAY* contexto = tae.ConRolPlay();
  if (contexto == nullptr) return 1;
  if (!tae.LeerRolePlay(path.c_str())) return 1;
  std::printf("characters %u\n", contexto->num_personajes);
  std::printf("lines %u\n", contexto->num_lineas);
  std::printf("width %u\n", contexto->ancho_linea);
  std::printf("finished %u\n", contexto->terminado);
  for (int j = 0; j < contexto->num_lineas && j < kMaxLineasRolPlay; ++j) {
    const LINEA_ROLPLAY& slot = contexto->lineas[j];
    const size_t n = strnlen(slot.nombre, sizeof slot.nombre);
    std::printf("name %d %s %u\n", j, Quoted(slot.nombre, n).c_str(), slot.grabada);
  }
  for (int i = 0; i < contexto->num_personajes && i < kMaxPersonajesRolPlay; ++i) {
    std::string fila;
    for (int k = 0; k < kMaxLineasRolPlay; ++k) {
      fila += (k ? "," : "") + std::to_string(contexto->filas[i][k]);
      if (contexto->filas[i][k] == kFinFilaRolPlay) break;
    }
    std::printf("row %d %s\n", i, fila.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetMessageSink([](const std::string& text, const std::string&, unsigned type) {
    std::fprintf(stderr, "lectoria-tae: %s\n", text.c_str());
    return platform::DefaultButton(type);
  });
  int index = 1;
  tools::StoreOptions options;
  std::string error;
  if (!tools::ParseStoreOptions(argc, argv, index, options, &error)) {
    std::fprintf(stderr, "lectoria-tae: %s\n", error.c_str());
    return Usage();
  }
  if (argc - index != 2) return Usage();
  const std::string command = argv[index];
  const std::string path = argv[index + 1];
  if (command != "parse" && command != "pages" && command != "lines" && command != "roleplay") {
    return Usage();
  }

  TEHDDClient client;
  tools::ApplyStoreOptions(client, options);
  const std::string engine_path = tools::EnginePathForFile(client, options, path);
  if (engine_path.empty()) return Fail("no spare drive letter for " + path);
  try {
    if (command == "parse") return Parse(client, engine_path);
    if (command == "pages") return Pages(client, engine_path);
    if (command == "lines") return Lines(client, engine_path, path);
    return Roleplay(client, engine_path);
  } catch (const std::string& text) {
    return Fail(text);
  } catch (const char* text) {
    return Fail(text);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

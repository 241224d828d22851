// lectoria-tae: reads TAE documents, role-play files and string lists the
// way the lesson player does and prints what it made of them; draws a page,
// clicks it and types into it.
//
//   lectoria-tae [--local-root DIR] [--local LETTERS] [--mount L=STORE]... COMMAND PATH
//   COMMAND: parse | pages | lines | roleplay
//          | render PATH --page N --out FILE.png [--click X,Y]... [--type TEXT]... [--regions]
//
// PATH is a virtual path (a letter, ':' and '\') or a plain local file,
// whose folder is mounted on a spare letter. Engine messages go to stderr
// as "lectoria-tae: <text>". Exit 0 when the command ran, 1 when the file
// could not be opened or read (or the page or the picture could not be
// had), 2 for usage.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "base/TListaStrings.h"
#include "ehdd/TEHDDClient.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/com/Utf16.h"
#include "platform/gfx/Surface.h"
#include "platform/ui/Headless.h"
#include "player/AudioPaginaSinSonido.h"
#include "player/EJE_PANTALLA.h"
#include "player/IAnimPagina.h"
#include "player/IAudioPagina.h"
#include "player/RECT_VIRTUAL.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"
#include "player/TRectangulosVirtuales.h"
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
               "commands: parse PATH | pages PATH | lines PATH | roleplay PATH\n"
               "          render PATH --page N --out FILE.png [--click X,Y]... [--type TEXT]... "
               "[--regions]\n");
  return 2;
}

// Every box the engine showed, in order.
std::mutex g_mensajes_mutex;
std::vector<std::string> g_mensajes;

int Fail(const std::string& message) {
  std::fprintf(stderr, "lectoria-tae: %s\n", message.c_str());
  return 1;
}

std::string Quoted(const char* bytes, size_t length) {
  return "\"" + tools::Quote(bytes, length) + "\"";
}

// The sound side of a page without sound: each operation is logged; the
// sentence state is kept as the handlers set it.
class AudioRegistro : public AudioPaginaSinSonido {
 public:
  void Anotar(const std::string& linea) {
    if (activo) llamadas.push_back(linea);
  }
  bool activo = false;
  std::vector<std::string> llamadas;

 protected:
  void Llamada(const char* operacion, const char* texto, int numero) override {
    std::string linea = operacion;
    if (texto != nullptr) linea += " " + Quoted(texto, std::strlen(texto));
    if (numero >= 0) linea += " " + std::to_string(numero);
    Anotar(linea);
  }
};

// An animation that is never loaded; its operations are logged with the sound's.
class AnimRegistro : public IAnimPagina {
 public:
  explicit AnimRegistro(AudioRegistro& log) : log_(log) {}
  void PlayAnim(uint16_t frame) override { log_.Anotar("PlayAnim " + std::to_string(frame)); }
  void PauseAnim() override { log_.Anotar("PauseAnim"); }
  void RecapAnim() override { log_.Anotar("RecapAnim"); }
  void CloseAnim() override { log_.Anotar("CloseAnim"); }
  void CambiarSubtitulos() override { log_.Anotar("CambiarSubtitulos"); }
  bool Cargada() override { return false; }
  bool Parada() override { return false; }
  uint16_t NumFrames() override { return 0; }
  uint16_t Seccion(uint16_t) override { return 0; }
  uint8_t PorcentajeAudio() override { return 0; }
  uint8_t PorcentajeImagenes() override { return 0; }
  void PintarFondo(uint16_t, uint16_t, uint16_t) override { log_.Anotar("PintarFondo"); }

 private:
  AudioRegistro& log_;
};

// The engine as the lesson player sets it up for one unit page: a headless
// control window with a page slot and the status icon's save slot, the
// lesson manager with the page lock and the logging seams, the hit regions,
// and one formatter. The press clock stands still.
struct Motor {
  explicit Motor(TEHDDClient& client)
      : ventana(kAnchoPagina, kAltoPagina), reloj_fijo(&reloj), anim(audio) {
    gdi.SetOSAL(&osal);
    SetUnitControlWindow(&ventana);
    tae.SetOSAL(&osal);
    tae.SetGestorGDI(&gdi);
    tae.SetEHDDClient(&client);
    tae.SetCerrojoPagina(&cerrojo);
    tae.Iniciar();
    tae.SetAudioPagina(&audio);
    tae.SetAnimPagina(&anim);
    tae.SetModoNavegacion(false);
    regiones.SetOSAL(&osal);
    regiones.SetGestorTAE(&tae);
    regiones.Iniciar();
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
    const uint16_t guardar = gdi.CrearBuffer(100, 100, 0, 0, &ventana);
    formateador->SetSlotPagina(static_cast<int16_t>(slot));
    formateador->SetSlotGuardar(static_cast<int16_t>(guardar));
    formateador->SetCarpetaSkin("X:\\HDD\\DATOS\\SKIN");
    formateador->SetCarpetaSkinUnidad("M:\\DATOS\\SKIN\\CLASES");
    formateador->SetCarpetaAudioNativo("M:\\AUDIO\\");
    formateador->SetCarpetaAudioPrivado("U:\\");
    formateador->SetCarpetaAlumno("S:\\");
    formateador->SetColorNivel(0xBFDFDF);
    formateador->SetRectangulosVirtuales(&regiones);
    regiones.SetFormatae(formateador.get());
    return formateador.get();
  }

  OSAL osal;
  platform::ui::HeadlessControlSite ventana;
  platform::ManualClock reloj;
  platform::ScopedClock reloj_fijo;
  CriticalSection cerrojo;
  TGestorGDI gdi;
  TGestorTAE tae;
  AudioRegistro audio;
  AnimRegistro anim;
  TRectangulosVirtuales regiones;
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

// One event of a render: a click at (x, y), or a key (virtual key and the
// character the window reports with it).
struct EventoRender {
  bool clic = false;
  uint16_t x = 0, y = 0;
  uint16_t tecla = 0;
  uint16_t caracter = 0;
};

struct OpcionesRender {
  long pagina = -1;
  std::string salida;
  bool regiones = false;
  std::vector<EventoRender> eventos;
};

bool Numero(const std::string& texto, long maximo, long& valor) {
  if (texto.empty() || texto.size() > 9) return false;
  for (char c : texto) {
    if (c < '0' || c > '9') return false;
  }
  valor = std::stol(texto);
  return valor <= maximo;
}

bool Clic(const std::string& texto, EventoRender& e) {
  const size_t coma = texto.find(',');
  long x = 0, y = 0;
  if (coma == std::string::npos || !Numero(texto.substr(0, coma), 65535, x) ||
      !Numero(texto.substr(coma + 1), 65535, y)) {
    return false;
  }
  e.clic = true;
  e.x = static_cast<uint16_t>(x);
  e.y = static_cast<uint16_t>(y);
  return true;
}

// The key of a character: its upper-case letter or digit, 0x20 for a
// space, 0xBA for any other.
uint16_t TeclaDe(char32_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint16_t>(c - 'a' + 'A');
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ') return static_cast<uint16_t>(c);
  return 0xBA;
}

// The keys of a --type text (UTF-8, with the backslash sequences).
bool Teclas(const std::string& texto, std::vector<EventoRender>& eventos) {
  for (size_t i = 0; i < texto.size();) {
    const auto b = static_cast<unsigned char>(texto[i]);
    EventoRender e;
    if (b == '\\') {
      if (i + 1 >= texto.size()) return false;
      switch (texto[i + 1]) {
        case 'n':
          e.tecla = 13;
          break;
        case 't':
          e.tecla = 9;
          break;
        case 'b':
          e.tecla = 8;
          break;
        case 'e':
          e.tecla = 27;
          break;
        case 'x':
          e.tecla = 46;
          break;
        case 'L':
          e.tecla = 37;
          break;
        case 'R':
          e.tecla = 39;
          break;
        case 'U':
          e.tecla = 38;
          break;
        case 'D':
          e.tecla = 40;
          break;
        case '\\':
          e.tecla = TeclaDe('\\');
          e.caracter = '\\';
          break;
        default:
          return false;
      }
      eventos.push_back(e);
      i += 2;
      continue;
    }
    char32_t c = 0;
    const size_t n = platform::com::DecodeUtf8At(texto, i, c);
    if (n == 0 || c > 0xFFFF) return false;  // not UTF-8, or above U+FFFF
    e.tecla = TeclaDe(c);
    e.caracter = static_cast<uint16_t>(c);
    eventos.push_back(e);
    i += n;
  }
  return true;
}

bool LeerOpcionesRender(int argc, char** argv, int index, OpcionesRender& o) {
  for (int i = index; i < argc; ++i) {
    const std::string a = argv[i];
    const bool valor = i + 1 < argc;
    if (a == "--regions") {
      o.regiones = true;
    } else if (a == "--page" && valor) {
      if (!Numero(argv[++i], 999999999, o.pagina)) return false;
    } else if (a == "--out" && valor) {
      o.salida = argv[++i];
    } else if (a == "--click" && valor) {
      EventoRender e;
      if (!Clic(argv[++i], e)) return false;
      o.eventos.push_back(e);
    } else if (a == "--type" && valor) {
      if (!Teclas(argv[++i], o.eventos)) return false;
    } else {
      return false;
    }
  }
  return o.pagina >= 0 && !o.salida.empty();
}

std::string Hasta(const char* bytes, size_t maximo, char fin, bool incluir) {
  size_t n = 0;
  while (n < maximo && bytes[n] != '\0' && bytes[n] != fin) ++n;
  if (incluir && n < maximo && bytes[n] == fin) ++n;
  return std::string(bytes, n);
}

void ImprimirRegiones(Motor& m, TFormatae& f) {
  std::printf("page %u of %d\n", f.PaginaActual() + 1, f.NumPaginas());
  for (uint16_t slot = 1; slot < m.regiones.Cuenta(); ++slot) {
    const RECT_VIRTUAL* rv = m.regiones.Region(slot);
    if (rv == nullptr || rv->en_uso != 1) continue;
    std::string cola = "-";
    const ColaHueco c = LeerColaHueco(*rv);
    switch (rv->tipo) {
      case kRegionFrase:
      case kRegionRespuestaSpeak:
      case kRegionFraseUnica:
      case kRegionFrasePrivada:
        cola = Quoted(rv->cola, LongitudTextoRegion(*rv));
        break;
      case kRegionEjercicio:
      case kRegionPlayDictado:
        cola = "entry=" + std::to_string(c.entrada);
        break;
      case kRegionHueco:
        cola = "entry=" + std::to_string(c.entrada) + " start=" + std::to_string(c.inicio) +
               " length=" + std::to_string(c.longitud) + " width=" + std::to_string(c.ancho);
        break;
      default:
        break;
    }
    std::printf("region %u %u %u %u %u %u %d %u %s\n", slot, rv->tipo, rv->left, rv->top, rv->right,
                rv->bottom, rv->enlace, rv->id, cola.c_str());
  }
  const CON_EJESCRITO* ce = m.tae.ConEjEscrito();
  for (uint16_t i = 1; ce != nullptr && i <= ce->num_entradas; ++i) {
    const EJE_PANTALLA* e = f.Entrada(i);
    const EJE_TRATADO* r = e ? f.Ejercicio(e->numero) : nullptr;
    if (e == nullptr || r == nullptr) continue;
    const bool nivel2 = r->selector == 2;
    const uint8_t resultado = nivel2 ? r->resultado2 : r->resultado1;
    const std::string estado = resultado == 0   ? "none"
                               : resultado == 1 ? "wrong"
                               : resultado == 2 ? "right"
                                                : std::to_string(resultado);
    const std::string texto = Hasta(e->texto, sizeof e->texto, '}', true);
    const std::string mascara = Hasta(e->mascara, sizeof e->mascara, '}', true);
    const size_t antes = Hasta(e->texto, sizeof e->texto, '}', false).size();
    const char* area = nivel2 ? r->area2 : r->area1;
    std::printf("exercise %u %u %u %u %s %s %s %s\n", i, e->numero, e->tipo, r->selector,
                estado.c_str(), Quoted(texto.data(), texto.size()).c_str(),
                Quoted(mascara.data(), mascara.size()).c_str(),
                Quoted(area, std::min<size_t>(antes, kAreaRespuesta)).c_str());
  }
  const platform::ui::CaretState caret = m.ventana.Caret();
  if (caret.exists) {
    std::printf("caret %d %d %s\n", caret.x, caret.y, caret.Visible() ? "shown" : "hidden");
  } else {
    std::printf("caret none\n");
  }
  std::printf("cursor %lu\n", static_cast<unsigned long>(m.ventana.Cursor()));
  std::printf("counters errors=%u answers=%u\n", f.ftae()->errores, f.ftae()->respuestas);
  for (const std::string& llamada : m.audio.llamadas) std::printf("call %s\n", llamada.c_str());
  std::lock_guard<std::mutex> lock(g_mensajes_mutex);
  for (const std::string& texto : g_mensajes) {
    std::printf("message %s\n", Quoted(texto.data(), texto.size()).c_str());
  }
}

int Render(TEHDDClient& client, const std::string& path, const OpcionesRender& o) {
  Motor motor(client);
  TFormatae* f = motor.Formateador();
  if (f == nullptr) return 1;
  if (!Cargar(*f, path)) return 1;
  const int16_t paginas = f->NumPaginas();
  if (o.pagina < 1 || o.pagina > paginas) {
    return Fail("page " + std::to_string(o.pagina) + ": the document has " +
                std::to_string(paginas) + " pages");
  }
  motor.tae.CambiarFormateador(f);
  f->SaltarPagina(static_cast<uint16_t>(o.pagina - 1));
  f->SolicitudRepintar(0, 0, 0, 0);
  motor.audio.activo = true;
  for (const EventoRender& e : o.eventos) {
    if (e.clic) {
      for (uint8_t evento = 1; evento <= 3; ++evento) motor.regiones.EventoRaton(e.x, e.y, evento);
    } else {
      motor.ventana.SetKeyChar(e.caracter);
      motor.tae.TeclaPulsada(e.tecla);
      motor.ventana.SetKeyChar(0);
    }
  }
  motor.tae.EsperarMensajes(2000);
  if (o.regiones) ImprimirRegiones(motor, *f);
  std::string error;
  if (!platform::gfx::WritePng(motor.gdi.Superficie(static_cast<uint16_t>(f->ftae()->slot_pagina)),
                               o.salida, &error)) {
    return Fail("cannot write " + o.salida + (error.empty() ? "" : ": " + error));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetMessageSink([](const std::string& text, const std::string&, unsigned type) {
    std::fprintf(stderr, "lectoria-tae: %s\n", text.c_str());
    std::lock_guard<std::mutex> lock(g_mensajes_mutex);
    g_mensajes.push_back(text);
    return platform::DefaultButton(type);
  });
  int index = 1;
  tools::StoreOptions options;
  std::string error;
  if (!tools::ParseStoreOptions(argc, argv, index, options, &error)) {
    std::fprintf(stderr, "lectoria-tae: %s\n", error.c_str());
    return Usage();
  }
  if (argc - index < 2) return Usage();
  const std::string command = argv[index];
  const std::string path = argv[index + 1];
  OpcionesRender render;
  if (command == "render") {
    if (!LeerOpcionesRender(argc, argv, index + 2, render)) return Usage();
  } else if (argc - index != 2 || (command != "parse" && command != "pages" && command != "lines" &&
                                   command != "roleplay")) {
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
    if (command == "render") return Render(client, engine_path, render);
    return Roleplay(client, engine_path);
  } catch (const std::string& text) {
    return Fail(text);
  } catch (const char* text) {
    return Fail(text);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

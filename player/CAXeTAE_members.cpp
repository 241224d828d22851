// The 43 members of IAXeTAE.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"
#include "media/TAudio.h"
#include "platform/com/Utf16.h"
#include "platform/gfx/CodePage.h"
#include "player/CAXeTAE.h"
#include "player/InterfaceAXNavegacion.h"
#include "player/InterfaceAXSesion.h"
#include "player/ServerEHDD.h"
#include "player/TGestorAlumno.h"
#include "player/TGestorTAE.h"
#include "player/ThreadCargaUnit.h"
#include "player/ThreadEvents.h"

using platform::com::E_POINTER;
using platform::com::S_OK;

namespace {

// The glossary's folders by the last word number each holds.
struct CarpetaGlosario {
  const char* carpeta;
  uint16_t hasta;
};
constexpr CarpetaGlosario kGlosario[] = {
    {"\\GLO00", 737},   {"\\GLO01", 1240},  {"\\GLO02", 2242},  {"\\GLO03", 3571},
    {"\\GLO04", 4187},  {"\\GLO05", 4826},  {"\\GLO06", 5706},  {"\\GLO07", 6664},
    {"\\GLO08", 7805},  {"\\GLO09", 9345},  {"\\GLO10", 10850}, {"\\GLO11", 12001},
    {"\\GLO12", 12648}, {"\\GLO13", 13835}, {"\\GLO14", 15518}, {"\\GLO15", 16904},
    {"\\GLO16", 18059}, {"\\GLO17", 19238}, {"\\GLO18", 20623}, {"\\GLO19", 21040},
    {"\\GLO20", 21486},
};

std::u16string Unidades(BSTR texto) {
  std::u16string out;
  if (texto == nullptr) return out;
  const uint32_t n = platform::com::SysStringLen(texto);
  for (uint32_t i = 0; i < n && texto[i] != 0; ++i) out.push_back(texto[i]);
  return out;
}

// A text for a field of `maximo` bytes: one that does not fit is not kept.
std::string Campo(const std::string& texto, size_t maximo, const char* que) {
  if (texto.size() <= maximo) return texto;
  TrazarF(kTraceError, "%s: el texto de %zu bytes no cabe en su campo.", que, texto.size());
  return std::string();
}

HRESULT Numero(int32_t* salida, int32_t valor) {
  if (salida == nullptr) return E_POINTER;
  *salida = valor;
  return S_OK;
}

HRESULT Texto(BSTR* salida, const std::u16string& texto) {
  if (salida == nullptr) return E_POINTER;
  *salida = platform::com::SysAllocStringLen(texto.data(), static_cast<uint32_t>(texto.size()));
  return *salida != nullptr ? S_OK : platform::com::E_OUTOFMEMORY;
}

SesionAX& Sesion() {
  return Motor().sesion;
}

bool UnitActiva() {
  return Sesion().Unit().activa.load() != 0;
}

TAudio* Audio() {
  TGestorTAE* tae = Motor().tae;
  return tae != nullptr ? tae->GetAudio() : nullptr;
}

// A command for the worker, unless the engine is being unloaded.
void Publicar(uint8_t comando, uint32_t valor, uint8_t modo) {
  ThreadEvents* eventos = Sesion().eventos;
  if (eventos == nullptr || Motor().cerrando.load() != 0) return;
  eventos->Post(comando, valor, modo);
}

// Runs a member's body: nothing it throws leaves the member.
template <typename F>
HRESULT Proteger(const char* miembro, F&& cuerpo) {
  try {
    return cuerpo();
  } catch (const platform::ExitRequested&) {
    throw;
  } catch (const std::string& texto) {
    TrazarF(kTraceError, "%s: %s", miembro, texto.c_str());
  } catch (const std::exception& e) {
    TrazarF(kTraceError, "%s: %s", miembro, e.what());
  } catch (...) {
    TrazarF(kTraceError, "%s: error.", miembro);
  }
  return S_OK;
}

// How long a figure waits for the audit lock: a copy of a figure holds it
// for far less; a worker that holds it for longer (the audit's save at the
// unit stop) is not waited for.
constexpr auto kEsperaFigura = std::chrono::milliseconds(20);

// The figure of the selected part under the audit lock; 0 until the unit
// loader has read the audit (before that the loader may hold the lock for
// the whole read). While another thread keeps the lock the figure last read
// is given again.
template <typename F>
int32_t FiguraAuditoria(std::atomic<int32_t>& ultima, F&& figura) {
  SesionAX& sesion = Sesion();
  if (!UnitActiva() || sesion.alumno == nullptr || sesion.carga_unit == nullptr ||
      !sesion.carga_unit->AuditoriaCargada()) {
    ultima.store(0);
    return 0;
  }
  const auto limite = std::chrono::steady_clock::now() + kEsperaFigura;
  std::unique_lock<CriticalSection> lock(sesion.cerrojo_auditoria, std::try_to_lock);
  while (!lock.owns_lock()) {
    if (std::chrono::steady_clock::now() >= limite) return ultima.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    lock.try_lock();
  }
  const uint8_t parte = Motor().auditoria_seleccionada.load();
  const int32_t valor = parte < kNumPartes ? figura(*sesion.alumno, parte) : 0;
  ultima.store(valor);
  return valor;
}

std::atomic<int32_t> g_ultimo_porcentaje{0};
std::atomic<int32_t> g_ultimas_respuestas{0};
std::atomic<int32_t> g_ultimos_errores{0};

}  // namespace

std::string TextoAnsi(BSTR texto) {
  return platform::gfx::UnicodeToBytes(platform::gfx::CodePage::kCp1252, Unidades(texto), '?');
}

std::string TextoUtf8(BSTR texto) {
  return platform::com::Utf16ToUtf8(Unidades(texto));
}

std::string ElegirCarpetaGlosario(const std::string& nombre) {
  // "L:\" then one character, the five-digit word number and its extension.
  if (nombre.size() < 10 || nombre[1] != ':' || nombre[2] != '\\') return std::string();
  uint32_t numero = 0;
  size_t i = 4;
  for (; i < 9 && nombre[i] >= '0' && nombre[i] <= '9'; ++i)
    numero = numero * 10 + (nombre[i] - '0');
  if (i == 4) return std::string();
  for (const CarpetaGlosario& c : kGlosario) {
    if (c.hasta >= numero) {
      std::string resto = nombre.substr(3);
      resto[6] = '.';
      return std::string(1, nombre[0]) + ":" + c.carpeta + "\\" + resto;
    }
  }
  return std::string();
}

HRESULT CAXeTAE::get_Version(BSTR* value) {
  // Built whole whether or not the window exists yet.
  const std::string& version = Motor().version;
  return Texto(value, std::u16string(version.begin(), version.end()));
}

HRESULT CAXeTAE::ServerEHDD(BSTR ip, int32_t portc, int32_t portd) {
  return Proteger("ServerEHDD", [&] {
    InterfaceAXServerEHDD(TextoAnsi(ip), TextoUtf8(ip), portc, portd);
    return S_OK;
  });
}

HRESULT CAXeTAE::SetEHDDUnits(BSTR nameehdd) {
  Sesion().instancias[modo_].nombre_units =
      Campo(TextoAnsi(nameehdd), MotorAX::kMaxNombre, "SetEHDDUnits");
  return S_OK;
}

HRESULT CAXeTAE::SetEHDDStudent(BSTR nameehdd) {
  const std::string nombre = Campo(TextoAnsi(nameehdd), MotorAX::kMaxAlumno, "SetEHDDStudent");
  Sesion().nombre_alumno = nombre;
  SetStudentStoreName(nombre.c_str());
  return S_OK;
}

HRESULT CAXeTAE::InicializarAXeTAE() {
  return Proteger("InicializarAXeTAE", [&] {
    if (descargado_ != 0) {
      // This control's engine is gone: a start after it is refused.
      OSAL::Trace(kTraceError, "InicializarAXeTAE despues de UnloadAll: se ignora.");
      return S_OK;
    }
    if (modo_ == kModoUnit) {
      InterfaceAXInicializarAXeTAE();
    } else {
      InterfaceAXInicializarAXeTAEMiniCourse();
    }
    return S_OK;
  });
}

HRESULT CAXeTAE::SetLimiteVelocidad(int32_t) {
  return S_OK;
}

HRESULT CAXeTAE::SetNavigationMode(int32_t value) {
  SesionAX& sesion = Sesion();
  if (sesion.sesion_activa.load() == 0) return S_OK;
  TrazarF(kTraceInterfaz, "InterfaceAXSetNavigationMode %u.", static_cast<uint32_t>(value));
  if (value != 0 && value != 1) return S_OK;
  sesion.modo_navegacion.store(static_cast<uint8_t>(value));
  if (TGestorTAE* tae = Motor().tae) tae->SetModoNavegacion(value == 1);
  return S_OK;
}

HRESULT CAXeTAE::CargarUnit(int32_t value) {
  return Proteger("CargarUnit", [&] {
    SesionAX& sesion = Sesion();
    if (sesion.eventos == nullptr || Motor().cerrando.load() != 0) return S_OK;
    if (sesion.solo_stores.load() != 0) {
      // The stores-only load returns once its mounts and folders are done.
      // They are server requests: the worker makes them while the GUI
      // thread waits, served and bounded, as for any command.
      ThreadEvents* eventos = sesion.eventos;
      const auto libre = [eventos] { return eventos->Libre(); };
      if (!EsperarEnGui(libre, ThreadEvents::kEsperaFinMs) ||
          !eventos->Post(ThreadEvents::kEventoCargarUnit, static_cast<uint32_t>(value) & 0xFF,
                         modo_)) {
        OSAL::Trace(kTraceError, "CargarUnit: el trabajador sigue ocupado.");
        return S_OK;
      }
      if (!EsperarEnGui(libre, ThreadEvents::kEsperaFinMs))
        OSAL::Trace(kTraceError, "CargarUnit: los stores no se han montado a tiempo.");
    } else {
      Publicar(ThreadEvents::kEventoCargarUnit, static_cast<uint32_t>(value) & 0xFF, modo_);
    }
    return S_OK;
  });
}

HRESULT CAXeTAE::UnloadAll() {
  return Proteger("UnloadAll", [&] {
    if (descargado_ == 0) {
      descargado_ = 1;
      InterfaceAXUnloadAll(modo_);
    }
    return S_OK;
  });
}

HRESULT CAXeTAE::PaginaSiguiente() {
  Publicar(ThreadEvents::kEventoPaginaSiguiente, 0, modo_);
  return S_OK;
}

HRESULT CAXeTAE::PaginaAnterior() {
  Publicar(ThreadEvents::kEventoPaginaAnterior, 0, modo_);
  return S_OK;
}

HRESULT CAXeTAE::TeclaPulsada(int32_t value) {
  return Proteger("TeclaPulsada", [&] {
    InterfaceAXTeclaPulsada(Sesion(), static_cast<uint32_t>(value));
    return S_OK;
  });
}

HRESULT CAXeTAE::CambiarDeParte(int32_t value) {
  Publicar(ThreadEvents::kEventoCambiarParte, static_cast<uint32_t>(value), modo_);
  return S_OK;
}

HRESULT CAXeTAE::get_numeropaginaactual(int32_t* value) {
  OSAL::Trace(kTraceInterfaz, "InterfaceAXPropertynumeropaginaactual.");
  const InstanciaAX& i = Sesion().instancias[modo_];
  return Numero(value, i.activa.load() != 0 ? i.pagina.load() : 0);
}

HRESULT CAXeTAE::get_numtotalpaginas(int32_t* value) {
  OSAL::Trace(kTraceInterfaz, "InterfaceAXPropertynumtotalpaginas.");
  const InstanciaAX& i = Sesion().instancias[modo_];
  return Numero(value, i.activa.load() != 0 ? i.total.load() : 0);
}

HRESULT CAXeTAE::get_tiempoactivohoras(int32_t* value) {
  uint8_t horas = 0, minutos = 0;
  if (UnitActiva() && Motor().tae != nullptr) Motor().tae->TiempoEstudio(horas, minutos);
  return Numero(value, horas);
}

HRESULT CAXeTAE::get_tiempoactivominutos(int32_t* value) {
  uint8_t horas = 0, minutos = 0;
  if (UnitActiva() && Motor().tae != nullptr) Motor().tae->TiempoEstudio(horas, minutos);
  return Numero(value, minutos);
}

HRESULT CAXeTAE::EsperaFinEvento() {
  return Proteger("EsperaFinEvento", [&] {
    if (!InterfaceAXEsperaFinEvento(Sesion(), ThreadEvents::kEsperaFinMs))
      OSAL::Trace(kTraceError, "EsperaFinEvento: el comando no ha terminado a tiempo.");
    return S_OK;
  });
}

HRESULT CAXeTAE::SeleccionarAuditoria(int32_t value) {
  SesionAX& sesion = Sesion();
  if (!UnitActiva() || sesion.alumno == nullptr || sesion.carga_unit == nullptr ||
      !sesion.carga_unit->AuditoriaCargada()) {
    return S_OK;
  }
  // A value outside the eight parts (256 included) selects none: its
  // figures are 0.
  const uint8_t parte = value >= 0 && value < kNumPartes ? static_cast<uint8_t>(value) : kNumPartes;
  TrazarF(kTraceInterfaz, "InterfaceAXSeleccionarAuditoria %u", static_cast<uint32_t>(value));
  Motor().auditoria_seleccionada.store(parte);
  std::lock_guard<CriticalSection> lock(sesion.cerrojo_auditoria);
  if (parte < kNumPartes) sesion.alumno->ActualizarParte(parte);
  return S_OK;
}

HRESULT CAXeTAE::get_porcentajeauditoria(int32_t* value) {
  return Numero(value, FiguraAuditoria(g_ultimo_porcentaje,
                                       [](TGestorAlumno& a, uint8_t p) { return a.Progreso(p); }));
}

HRESULT CAXeTAE::get_estiempomuerto(int32_t* value) {
  if (!UnitActiva() || Motor().tae == nullptr) return Numero(value, 1);
  uint8_t horas = 0, minutos = 0;
  return Numero(value, Motor().tae->TiempoEstudio(horas, minutos) != 0 ? 0 : 1);
}

HRESULT CAXeTAE::get_answersauditoria(int32_t* value) {
  return Numero(value,
                FiguraAuditoria(g_ultimas_respuestas,
                                [](TGestorAlumno& a, uint8_t p) { return a.Respuestas(p); }));
}

HRESULT CAXeTAE::get_errorsauditoria(int32_t* value) {
  return Numero(value, FiguraAuditoria(g_ultimos_errores,
                                       [](TGestorAlumno& a, uint8_t p) { return a.Errores(p); }));
}

HRESULT CAXeTAE::SincronizarFichero(BSTR) {
  return S_OK;
}

HRESULT CAXeTAE::EsperaSincronizarFichero(BSTR filename) {
  return Proteger("EsperaSincronizarFichero", [&] {
    if (TEHDDClient* ehdd = Sesion().ehdd) ehdd->SyncTempFile(TextoAnsi(filename).c_str());
    return S_OK;
  });
}

HRESULT CAXeTAE::SetEHDDMultimedia(BSTR nameehdd) {
  SesionAX& sesion = Sesion();
  const std::string nombre = Campo(TextoAnsi(nameehdd), MotorAX::kMaxNombre, "SetEHDDMultimedia");
  sesion.instancias[modo_].nombre_multimedia = nombre;
  const size_t barra = nombre.rfind('\\');
  if (barra != std::string::npos)
    sesion.ruta_minicourse = nombre.substr(0, barra + 1) + "minicourse.dat";
  return S_OK;
}

HRESULT CAXeTAE::SetEHDDCommon(BSTR nameehdd) {
  Motor().nombre_common = Campo(TextoAnsi(nameehdd), MotorAX::kMaxNombre, "SetEHDDCommon");
  return S_OK;
}

HRESULT CAXeTAE::InicializarAXTestMode() {
  return S_OK;
}

HRESULT CAXeTAE::TestMode_Conection(BSTR, int32_t, int32_t) {
  return S_OK;
}

HRESULT CAXeTAE::get_TestResult(int32_t* value) {
  if (value == nullptr) return E_POINTER;
  // Each result is read once.
  *value = Motor().test_result.exchange(99) & 0xFF;
  return S_OK;
}

HRESULT CAXeTAE::TestMode_PlayAudio() {
  return S_OK;
}

HRESULT CAXeTAE::TestMode_PlayAnim() {
  return S_OK;
}

HRESULT CAXeTAE::TestMode_Keyboard() {
  return S_OK;
}

HRESULT CAXeTAE::TestMode_ClearCache(BSTR) {
  return S_OK;
}

HRESULT CAXeTAE::TestMode_PlayAudio2() {
  return S_OK;
}

HRESULT CAXeTAE::get_cachepath(BSTR* value) {
  // The folder is a path of the file system, in UTF-8.
  return Texto(value, platform::com::Utf8ToUtf16(RutaCachePropiedad()));
}

HRESULT CAXeTAE::get_axstatus(int32_t* value) {
  return Numero(value, Sesion().axstatus.load());
}

HRESULT CAXeTAE::get_parteunit(int32_t* value) {
  return Numero(value, Sesion().Unit().parte.load());
}

HRESULT CAXeTAE::CargarMiniCourse(BSTR efilename) {
  return Proteger("CargarMiniCourse", [&] {
    InterfaceAXCargarMiniCourse(TextoAnsi(efilename));
    return S_OK;
  });
}

HRESULT CAXeTAE::PlayOGG(BSTR efilename) {
  return Proteger("PlayOGG", [&] {
    if (!UnitActiva()) return S_OK;
    const std::string path = ElegirCarpetaGlosario(TextoAnsi(efilename));
    if (path.empty()) {
      OSAL::Trace(kTraceError, "PlayOGG: nombre fuera del glosario.");
      return S_OK;
    }
    if (TAudio* audio = Audio()) audio->PlayAudioOGG(path.c_str());
    return S_OK;
  });
}

HRESULT CAXeTAE::PlaySTR(BSTR efilename) {
  return Proteger("PlaySTR", [&] {
    if (!UnitActiva()) return S_OK;
    if (TAudio* audio = Audio()) audio->PlayAudioSTR(TextoAnsi(efilename).c_str());
    return S_OK;
  });
}

HRESULT CAXeTAE::get_PlaySTR_GetPos(int32_t* value) {
  TAudio* audio = Audio();
  return Numero(value, audio != nullptr ? static_cast<int32_t>(audio->BytesLeidos()) : 0);
}

HRESULT CAXeTAE::get_PlaySTR_GetLength(int32_t* value) {
  TAudio* audio = Audio();
  return Numero(value, audio != nullptr ? static_cast<int32_t>(audio->LongitudFuente()) : 0);
}

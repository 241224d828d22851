#include "player/ThreadCargaUnit.h"

#include <algorithm>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "platform/Clock.h"
#include "player/IDocumentoParte.h"
#include "player/ILeccion.h"
#include "player/SesionAX.h"
#include "player/TGestorAlumno.h"
#include "player/ThreadPeriodicEvents.h"

const char* const ThreadCargaUnit::kSkin[kNumSkin] = {
    "GGRA04",   "BTNDIF1N", "BTNDIF1M", "BTNDIF1P", "BTNDIF2N", "BTNDIF2M", "BTNDIF2P", "BTNSOLN",
    "BTNSOLM",  "BTNSOLP",  "BTNPLAYN", "BTNPLAYM", "BTNPLAYP", "BTNPLAYD", "BTNSTOPN", "BTNSTOPM",
    "BTNSTOPP", "BTNSTOPD", "PUNTAN",   "FONTHUMB", "FONCONAN", "BTNSUBTN", "BTNSUBTM", "BTNSUBTP",
    "BTNSUBTD", "BOXDIFN",  "BOXDIMN",  "BTNPLDIN", "BTNPLDIM", "BTNPLDIP", "BTNPLDID", "ALT04",
    "MIC01",    "MIC04",    "BTNRECN",  "BTNRECM",  "BTNRECP",  "BTNRECD",  "SIGBIEN",  "SIGMAL"};

namespace {

constexpr uint32_t kPasoEsperaParteMs = 500;
// How often a wait on the loader looks at its waiter's own stop.
constexpr uint32_t kPasoParadaMs = 50;

// Thrown inside the load when its stop is asked: the load leaves at once.
struct CargaParada {};
constexpr int kMaxPagina = 255;

// Closes a file on every way out of a read.
struct CierreFichero {
  TEHDDClient* cliente;
  TFicheroEHDD* fichero;
  ~CierreFichero() {
    try {
      cliente->Cerrar(fichero);
    } catch (...) {
    }
  }
};

}  // namespace

ThreadCargaUnit::ThreadCargaUnit(SesionAX& sesion) : sesion_(sesion) {}

ThreadCargaUnit::~ThreadCargaUnit() {
  if (record_.TieneThread()) Terminar();
}

bool ThreadCargaUnit::Crear() {
  unidad_.store(0);
  color_nivel_.store(0);
  auditoria_cargada_.store(0);
  for (auto& parte : parte_cargada_) parte.store(0);
  hecho_.store(0);
  parada_.store(0);
  return record_.Crear("ThreadCargaUnit", "ThreadCargaUnit creation failed.", sesion_.osal,
                       [this] { Proc(); });
}

void ThreadCargaUnit::Despertar() {
  despertado_.store(true);
  record_.DespertarThread();
}

bool ThreadCargaUnit::Corriendo() const {
  return record_.TieneThread() && despertado_.load() &&
         record_.Estado() != ThreadRecord::kTerminado;
}

bool ThreadCargaUnit::EsperarParte(uint8_t parte, const std::function<bool()>& parar) {
  if (parte >= 8) return false;
  // The waiter's stop wakes nothing here: it is looked at every short step.
  const uint32_t paso = parar ? kPasoParadaMs : kPasoEsperaParteMs;
  while (!record_.EsperarCondicion([&] { return ParteCargada(parte) || !Corriendo(); }, paso)) {
    if (parar && parar()) break;
  }
  return ParteCargada(parte);
}

void ThreadCargaUnit::PedirParada() {
  parada_.store(1);
  record_.Notificar();
}

void ThreadCargaUnit::SeguirSiNoParada() const {
  if (ParadaPedida()) throw CargaParada{};
}

bool ThreadCargaUnit::Terminar() {
  OSAL::Trace(kTraceModulos, "Esperando a ThreadCargaUnit terminar.");
  if (record_.Estado() == ThreadRecord::kNuevo) {
    OSAL::Trace(kTraceModulos, "ThreadCargaUnit Terminado (aunque nunca empezo).");
  }
  if (!record_.EsperarFin()) return false;
  OSAL::Trace(kTraceModulos, "ThreadCargaUnit Terminado.");
  return true;
}

platform::gfx::COLORREF ThreadCargaUnit::ColorDeNivel(uint8_t nivel) {
  static constexpr platform::gfx::COLORREF kColores[6] = {0x00CCFF, 0x0000FF, 0x00CC99,
                                                          0xCC6600, 0xCCCC00, 0xFF00CC};
  return nivel >= 1 && nivel <= 6 ? kColores[nivel - 1] : 0;
}

bool ThreadCargaUnit::NumerarPaginas(InstanciaAX& instancia) {
  bool limitada = false;
  auto Limitar = [&](int valor) {
    if (valor > kMaxPagina) limitada = true;
    return static_cast<uint8_t>(std::clamp(valor, 0, kMaxPagina));
  };
  auto Paginas = [&](int parte) {
    IDocumentoParte* documento = instancia.partes[parte].formatae;
    return documento != nullptr ? std::max<int>(0, documento->Paginas()) : 0;
  };
  instancia.primera_pagina.store(1);
  int primera = 1;
  for (int parte = 0; parte < 7; ++parte) {
    primera += Paginas(parte);
    instancia.partes[parte].primera_pagina_siguiente.store(Limitar(primera));
  }
  // The first page of part 7 as it was stored, so the total never lies
  // before it.
  const int primera_ultima = std::min(primera, kMaxPagina);
  instancia.total.store(Limitar(primera_ultima + Paginas(7) - 1));
  return limitada;
}

void ThreadCargaUnit::MarcarParte(uint8_t parte) {
  parte_cargada_[parte].store(1);
  record_.Notificar();
}

void ThreadCargaUnit::Proc() {
  OSAL::Trace(kTraceCargaUnidad, "Start Carga UNIT en background.");
  if (sesion_.solo_stores.load() == 0) {
    try {
      CargarUnit();
    } catch (const CargaParada&) {
      OSAL::Trace(kTraceCargaUnidad, "Carga UNIT parada.");
    } catch (const std::string& texto) {
      TrazarF(kTraceError, "Carga UNIT interrumpida: %s", texto.c_str());
    } catch (...) {
      OSAL::Trace(kTraceError, "Carga UNIT interrumpida.");
    }
    if (!AuditoriaCargada() && sesion_.alumno != nullptr) {
      // The audit was never read: a fresh one must not replace it at the stop.
      sesion_.alumno->RechazarAuditoria();
      // A load stopped before the audit is a close, not an error.
      if (!ParadaPedida()) {
        sesion_.MostrarError(
            "Error en la auditoría de la unidad, por favor póngase en contacto con Velarno.");
      }
    }
    if (sesion_.periodicos != nullptr) sesion_.periodicos->FijarProgreso(100);
  }
  OSAL::Trace(kTraceCargaUnidad, "End Carga UNIT background.");
  TrazarF(kTraceEstudio, "Unit %03u background cargada OK en %u seg.", unidad_.load(),
          sesion_.ElapsedTicks() / 1000);
  hecho_.store(1);
  record_.Notificar();
}

void ThreadCargaUnit::CargarUnit() {
  unidad_.store(sesion_.unidad.load());
  color_nivel_.store(ColorDeNivel(sesion_.nivel.load()));
  const unsigned unidad = unidad_.load();
  ThreadPeriodicEvents* periodicos = sesion_.periodicos;
  auto Avanzar = [&](uint8_t pasos) {
    if (periodicos != nullptr) periodicos->SumarProgreso(pasos);
  };
  OSAL::Trace(kTraceCargaUnidad, "    -> Start sincronizar DEBUG.");
  OSAL::Trace(kTraceCargaUnidad, "    -> End sincronizar DEBUG.");
  Avanzar(1);
  InstanciaAX& instancia = sesion_.Unit();
  if (sesion_.ehdd != nullptr) {
    // The documents go to the store together; each is read as it comes.
    std::vector<std::string> documentos;
    for (uint8_t parte = 0; parte < 8; ++parte) {
      if (parte == 3) documentos.push_back(FormatoF("U:\\CLA%03u.RLP", unidad));
      documentos.push_back("U:\\" + FormatoF(kDocumentos[parte], unidad));
    }
    sesion_.ehdd->Anticipar(documentos);
  }
  for (uint8_t parte = 0; parte < 8; ++parte) {
    SeguirSiNoParada();
    TrazarF(kTraceCargaUnidad, "    -> Start carga %s.", kNombresParte[parte]);
    if (parte == 3 && sesion_.leccion != nullptr) {
      sesion_.leccion->LeerRolePlay(FormatoF("U:\\CLA%03u.RLP", unidad).c_str());
      SeguirSiNoParada();
    }
    CargarParte(instancia.partes[parte].formatae, FormatoF(kDocumentos[parte], unidad),
                color_nivel_.load());
    if (NumerarPaginas(instancia) && !numeracion_limitada_) {
      numeracion_limitada_ = true;
      OSAL::Trace(kTraceError, "Numeracion de paginas de la UNIT limitada a 255.");
    }
    MarcarParte(parte);
    TrazarF(kTraceCargaUnidad, "    -> End carga %s.", kNombresParte[parte]);
  }
  Avanzar(1);
  SeguirSiNoParada();
  OSAL::Trace(kTraceCargaUnidad, "    -> Start carga animacion.");
  CargarAnimacion();
  OSAL::Trace(kTraceCargaUnidad, "    -> End carga animacion.");
  SeguirSiNoParada();
  OSAL::Trace(kTraceCargaUnidad, "    -> Start carga AUDITORIA.");
  CargarAuditoria();
  OSAL::Trace(kTraceCargaUnidad, "    -> End carga AUDITORIA.");
  Avanzar(5);
  PrecargarSkin("X:\\HDD\\DATOS\\SKIN\\COMUN");
  if (periodicos != nullptr) periodicos->FijarProgreso(100);
}

void ThreadCargaUnit::CargarParte(IDocumentoParte* documento, const std::string& nombre,
                                  platform::gfx::COLORREF color) {
  if (documento == nullptr) return;
  documento->Cargar(("U:\\" + nombre).c_str());
  // The unit's three digits of the name: unit 7 gets S:\C007\.
  const std::string carpeta_alumno =
      nombre.size() >= 6 ? "S:\\C" + nombre.substr(3, 3) + "\\" : std::string("S:\\");
  std::lock_guard<CriticalSection> lock(sesion_.cerrojo_pagina);
  documento->Preparar(kColorTratado, color, "U:\\", carpeta_alumno.c_str());
}

void ThreadCargaUnit::CargarAnimacion() {
  ILeccion* leccion = sesion_.leccion;
  if (leccion == nullptr) return;
  if (sesion_.ehdd != nullptr) {
    sesion_.ehdd->Anticipar({"U:\\ANIM\\DEFANIM.TXT", "U:\\ANIM\\SCORE.VM",
                             "U:\\ANIM\\JUMPS.TXT", "U:\\ANIM\\TRADUC-UK.TXT",
                             "U:\\ANIM\\TRADUC-ES.TXT"});
  }
  // Only an animation that will load is waited for.
  if (leccion->CargarAnim("U:\\ANIM") == 0) leccion->EsperarAnimacion();
  SeguirSiNoParada();
  leccion->CargarDiccionarios("U:\\ANIM");
}

void ThreadCargaUnit::CargarAuditoria() {
  if (TGestorAlumno* alumno = sesion_.alumno) {
    std::lock_guard<CriticalSection> lock(sesion_.cerrojo_auditoria);
    alumno->LeerAuditoriaUnidad(unidad_.load());
    alumno->ActualizarAuditoriaUnit();
  }
  auditoria_cargada_.store(1);
  record_.Notificar();
}

void ThreadCargaUnit::PrecargarSkin(const char* carpeta) {
  if (sesion_.ehdd != nullptr) {
    std::vector<std::string> ficheros;
    for (const char* nombre : kSkin) ficheros.push_back(FormatoF("%s\\%s.PNG", carpeta, nombre));
    sesion_.ehdd->Anticipar(ficheros);
  }
  for (const char* nombre : kSkin) {
    SeguirSiNoParada();
    PrecargarFichero(FormatoF("%s\\%s.PNG", carpeta, nombre));
  }
}

void ThreadCargaUnit::PrecargarFichero(const std::string& path) {
  TEHDDClient* ehdd = sesion_.ehdd;
  if (ehdd == nullptr) return;
  TFicheroEHDD* fichero = ehdd->Abrir(path.c_str(), 0);
  if (fichero == nullptr) return;  // a missing image is skipped
  CierreFichero cierre{ehdd, fichero};
  std::vector<unsigned char> buffer(kBytesLecturaSkin);
  // The data is dropped: the reads only bring the blocks into the cache.
  while (ehdd->Leer(buffer.data(), 1, kBytesLecturaSkin, fichero) == kBytesLecturaSkin) {
    SeguirSiNoParada();
    platform::SleepMs(1);
  }
}

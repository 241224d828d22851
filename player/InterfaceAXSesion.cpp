#include "player/InterfaceAXSesion.h"

#include <chrono>
#include <new>
#include <optional>
#include <thread>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "base/TGestorGDI.h"
#include "base/ThreadRecord.h"
#include "ehdd/TEHDDCache.h"
#include "ehdd/TEHDDClient.h"
#include "media/TGestorAnim.h"
#include "media/TGestorAudio.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "player/DocumentoParteFormatae.h"
#include "player/InterfaceAXNavegacion.h"
#include "player/LeccionGestorTAE.h"
#include "player/RegionesSesion.h"
#include "player/ServerEHDD.h"
#include "player/TFormatae.h"
#include "player/TGestorAlumno.h"
#include "player/TGestorTAE.h"
#include "player/ThreadCargaUnit.h"
#include "player/ThreadEvents.h"
#include "player/ThreadPeriodicEvents.h"

namespace {

constexpr uint32_t kColorTratado = 0xBFDFDF;
// How often a stop's wait serves the GUI thread.
constexpr uint32_t kPasoParadaMs = 5;
// How long a close waits for the end screen's last phase to be drawn.
constexpr uint32_t kEsperaUltimaFaseMs = 5000;

// Runs f with the page lock held. The GUI thread only tries the lock, and is
// served between the tries, so a page being drawn never blocks it; false
// (f not run) when the lock stayed busy past the bound.
bool ConPaginaEnGui(const std::function<void()>& f,
                    uint32_t timeout_ms = ThreadEvents::kEsperaFinMs) {
  SesionAX& sesion = Motor().sesion;
  std::optional<TGestorTAE::Bloqueo> bloqueo;
  EsperarEnGui(
      [&] {
        if (bloqueo) return true;
        bloqueo.emplace(sesion.cerrojo_pagina, false);
        if (bloqueo->Tomado()) return true;
        bloqueo.reset();
        return false;
      },
      timeout_ms);
  if (!bloqueo) {
    OSAL::Trace(kTraceError, "La pagina sigue ocupada: no se puede tomar.");
    return false;
  }
  f();
  return true;
}

// Waits, serving the GUI thread, until the command worker runs no command.
// A wait that ended by time-out leaves a worker that may still use the
// session's objects: it is taken as one that did not stop (they are kept).
void EsperarComandoEnGui(ThreadEvents* eventos) {
  if (eventos == nullptr) return;
  if (!EsperarEnGui([eventos] { return eventos->Libre(); }, ThreadEvents::kEsperaFinMs)) {
    OSAL::Trace(kTraceError, "El comando en curso no termina: lo que usa no se libera.");
    Motor().fuga = true;
  }
}

// The unit's load asked to stop, with the animation's loader it waits on.
void PararCarga() {
  MotorAX& motor = Motor();
  if (ThreadCargaUnit* carga = motor.sesion.carga_unit) carga->PedirParada();
  if (motor.tae != nullptr && !motor.fuga) motor.tae->PararCargaAnim();
}

// A module that cannot be made: its message, then the end of the process.
[[noreturn]] void FalloModulo(const char* modulo) {
  Motor().sesion.MostrarError(FormatoF("Module %s loaded ERROR.", modulo).c_str());
  platform::ExitProcess(1);
  // The exit hook of a test returns by throwing; a real exit never returns.
  std::abort();
}

// A worker made asleep, woken, and waited for until it runs.
void ArrancarWorker(ThreadRecord& record) {
  record.DespertarThread();
  EsperarEnGui(
      [&record] { return !record.TieneThread() || record.Estado() != ThreadRecord::kNuevo; },
      MotorAX::kEsperaArranqueMs);
}

// A worker made asleep; one that cannot be made is a module failure.
template <typename W>
W* CrearWorker(SesionAX& sesion, const char* modulo) {
  auto* worker = new (std::nothrow) W(sesion);
  if (worker == nullptr || !worker->Crear()) {
    delete worker;
    FalloModulo(modulo);
  }
  return worker;
}

// The session's values as a new window finds them; the host sets the
// student and COMMON names after the window exists.
void ValoresDeSesionACero() {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  sesion.sesion_activa.store(0);
  sesion.nivel.store(0);
  sesion.unidad.store(0);
  motor.auditoria_seleccionada.store(0);
  sesion.modo_navegacion.store(0);
  sesion.nombre_alumno.clear();
  motor.nombre_common.clear();
  motor.test_result.store(99);
}

void LiberarSuperficies(InstanciaAX& instancia) {
  TGestorGDI* gdi = Motor().sesion.gdi;
  if (gdi != nullptr) {
    if (instancia.superficie_pagina != TGestorGDI::kBufferInvalido)
      gdi->FreeBuffer(instancia.superficie_pagina);
    if (instancia.segunda_superficie != TGestorGDI::kBufferInvalido)
      gdi->FreeBuffer(instancia.segunda_superficie);
  }
  instancia.superficie_pagina = TGestorGDI::kBufferInvalido;
  instancia.segunda_superficie = TGestorGDI::kBufferInvalido;
}

// The page surface and the second surface of a record on its window, the
// page filled with the background and copied to the window.
void CrearSuperficies(InstanciaAX& instancia, uint16_t ancho, uint16_t alto) {
  TGestorGDI* gdi = Motor().sesion.gdi;
  LiberarSuperficies(instancia);
  instancia.superficie_pagina = gdi->CrearBuffer(ancho, alto, 0, 0, instancia.ventana);
  instancia.segunda_superficie = gdi->CrearBuffer(100, 100, 0, 0, instancia.ventana);
  if (instancia.superficie_pagina == TGestorGDI::kBufferInvalido ||
      instancia.segunda_superficie == TGestorGDI::kBufferInvalido) {
    OSAL::Trace(kTraceError, "No quedan superficies de dibujo para la pagina.");
  }
  gdi->FillRect(instancia.superficie_pagina, 0, 0, ancho, alto, MotorAX::kColorFondo);
}

// The formatters' folders and surfaces.
struct CarpetasFormatae {
  const char* skin;
  const char* skin_unidad;
  const char* audio_nativo;
  const char* audio_privado;
  const char* alumno;
};

TFormatae* CrearFormatae(InstanciaAX& instancia, int16_t area_ancho, int16_t area_alto,
                         int16_t ancho, int16_t alto, const CarpetasFormatae& carpetas,
                         TRectangulosVirtuales* regiones) {
  TFormatae* f = TFormatae::Crear(Motor().tae, 0, 0, area_ancho, area_alto, ancho, alto, 0, 0,
                                  0xFFFFFF, kColorTratado);
  if (f == nullptr) platform::ExitProcess(1);  // Crear showed the module's message
  f->SetSlotPagina(static_cast<int16_t>(instancia.superficie_pagina));
  f->SetSlotGuardar(static_cast<int16_t>(instancia.segunda_superficie));
  f->SetCarpetaSkin(carpetas.skin);
  f->SetCarpetaSkinUnidad(carpetas.skin_unidad);
  f->SetCarpetaAudioNativo(carpetas.audio_nativo);
  f->SetCarpetaAudioPrivado(carpetas.audio_privado);
  f->SetCarpetaAlumno(carpetas.alumno);
  f->SetRectangulosVirtuales(regiones);
  // Every animation frame shown counts in the learner's audit.
  f->SetHookFrameMostrado([] {
    if (TGestorAlumno* alumno = Motor().sesion.alumno) alumno->SumarFrameMostrado();
  });
  return f;
}

TRectangulosVirtuales* RegionesNuevas(const char* modulo) {
  MotorAX& motor = Motor();
  TRectangulosVirtuales* regiones = CrearRegiones(motor.sesion.osal, motor.tae);
  if (regiones == nullptr) FalloModulo(modulo);
  TrazarF(kTraceModulos, "Start %s.", modulo);
  return regiones;
}

// The text drawn on the wait screen.
void TextoEspera(uint16_t superficie, uint16_t x, uint16_t y, const std::string& texto,
                 int32_t peso) {
  LOGFONTA fuente = platform::gfx::MakeLogFont("Arial", -12, peso);
  fuente.lfQuality = 2;  // proof quality
  Motor().sesion.gdi->TextOutFont(superficie, x, y, texto.c_str(), static_cast<int>(texto.size()),
                                  fuente, 1, 0xFFFFFF, MotorAX::kColorFondo);
}

// Connects to the server on its port, then on the alternate one; false
// (TestResult 1, the box) when both refuse.
bool Conectar() {
  MotorAX& motor = Motor();
  TEHDDClient* ehdd = motor.sesion.ehdd;
  const char* alumno = motor.sesion.nombre_alumno.c_str();
  for (uint16_t puerto : {motor.canal.puerto, motor.puerto_alternativo}) {
    try {
      ehdd->Conectar(motor.canal.servidor.c_str(), alumno, puerto);
      motor.conectado = 1;
      return true;
    } catch (const std::string& texto) {
      TrazarF(kTraceEstudio, "Conexion en el puerto %u: %s", puerto, texto.c_str());
    } catch (const std::exception& e) {
      TrazarF(kTraceEstudio, "Conexion en el puerto %u: %s", puerto, e.what());
    }
  }
  motor.test_result.store(1);
  platform::ShowMessageBox("Server connection failed", "Error", platform::kMbOk);
  return false;
}

void IniciarModulosBase() {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  if (motor.base_iniciada) {
    sesion.ehdd->ForgetOpenFiles();
    if (!motor.conectado && !motor.canal.modo_local) Conectar();
    return;
  }
  OSAL::Trace(kTraceModulos, "Start OSAL.");
  OSAL::Trace(kTraceModulos, "Start DEBUG.");
  TrazarF(kTraceModulos, "---> VERSION %s", motor.version.c_str());
  OSAL::Trace(kTraceModulos, "Start ThreadHEART.");
  // Each object is made only while its pointer is null: a start that
  // failed to connect made them, and the next start only connects.
  if (sesion.gdi == nullptr) {
    sesion.gdi = new (std::nothrow) TGestorGDI();
    if (sesion.gdi == nullptr) FalloModulo("GDI");
    sesion.gdi->SetOSAL(sesion.osal);
    OSAL::Trace(kTraceModulos, "Start GDI.");
  }
  if (sesion.ehdd == nullptr) {
    sesion.ehdd = new (std::nothrow) TEHDDClient();
    if (sesion.ehdd == nullptr) FalloModulo("eHDD");
    if (motor.timeout_peticion_s > 0) sesion.ehdd->SetTimeout(motor.timeout_peticion_s);
    sesion.ehdd->SetSessionTag(motor.canal.etiqueta);
    OSAL::Trace(kTraceModulos, "Start eHDD.");
    if (sesion.osal != nullptr) sesion.osal->SetEHDDClient(sesion.ehdd);
  }
  if (motor.bmp == nullptr) {
    motor.bmp = new (std::nothrow) TGestorBMP(sesion.osal, sesion.gdi, sesion.ehdd);
    if (motor.bmp == nullptr) FalloModulo("GBMP");
    OSAL::Trace(kTraceModulos, "Start GBMP.");
  }
  if (sesion.eventos == nullptr) {
    sesion.eventos = CrearWorker<ThreadEvents>(sesion, "teventos");
    if (motor.preparar_eventos_para_pruebas) motor.preparar_eventos_para_pruebas(*sesion.eventos);
    ArrancarWorker(sesion.eventos->record());
    OSAL::Trace(kTraceModulos, "Start teventos.");
  }
  if (!motor.cache_iniciada) {
    TEHDDCache::Instance()->Iniciar(sesion.nombre_alumno, TEHDDClient::kBloque);
    motor.cache_iniciada = true;
  }
  if (!motor.canal.modo_local && !Conectar()) return;
  if (motor.timer == 0) {
    if (auto host = platform::ui::UiHost()) {
      motor.timer = host->SetTimer(MotorAX::kPeriodoTimerMs, [] { EventAXTimerTic(); });
    }
  }
  motor.base_iniciada = 1;
}

void IniciarSesionEstudio() {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  InstanciaAX& unit = sesion.Unit();
  TrazarF(kTraceModulos, "Start Sesion Estudio (version:%s, %s) OK.", motor.version.c_str(),
          motor.version2.c_str());
  OSAL::Trace(kTraceModulos, "Gestores base incializados OK.");

  CrearSuperficies(unit, MotorAX::kAnchoUnit, MotorAX::kAltoUnit);
  const uint16_t pagina = unit.superficie_pagina;
  TextoEspera(pagina, 180, 230, "Unit loading, please wait ...", 700);
  TextoEspera(pagina, 180, 250, "This process can take some minutes", 400);
  TextoEspera(pagina, 180, 270, "depending on the internet's connection quality.", 400);
  TextoEspera(pagina, 270, 508, "Lectoria " + motor.version, 400);
  sesion.gdi->MostrarBuffer(pagina, 0, 0, 0, 0);

  OSAL::Trace(kTraceEstudio, "Inicio de la conexion al servidor . . .");
  if (sesion.ehdd->AddMount(motor.nombre_common.c_str(), 'X') != 0) {
    motor.test_result.store(2);
    return;
  }
  OSAL::Trace(kTraceEstudio, " -> Conexion establecida con el servidor eHDD OK.");
  sesion.EscribirLog("ALLCLIENT.LOG", FormatoF("[CONNECT] -> version:%s, %s\r",
                                               motor.version.c_str(), motor.version2.c_str())
                                          .c_str());

  motor.tae = new (std::nothrow) TGestorTAE();
  if (motor.tae == nullptr) FalloModulo("GestorTAE");
  motor.tae->SetOSAL(sesion.osal);
  motor.tae->SetGestorGDI(sesion.gdi);
  motor.tae->SetEHDDClient(sesion.ehdd);
  motor.tae->SetModoNavegacion(sesion.modo_navegacion.load() != 0);
  // Pages, sounds and the animation draw under the session's page lock.
  motor.tae->SetCerrojoPagina(&sesion.cerrojo_pagina);
  motor.tae->Iniciar();
  if (TGestorAudio* audio = motor.tae->GetGestorAudio()) {
    // A role play running onto its next page moves the unit's counter.
    audio->SetHookContadorPaginas(
        [](int paso) { MoverContadorPagina(Motor().sesion, kModoUnit, paso); });
  }
  // The manager makes the unit's animation player with its sound and
  // subtitles; the session steps it and ends it.
  motor.anim = motor.tae->GetGestorAnim();
  if (motor.anim == nullptr) FalloModulo("GAnim");
  motor.leccion = new (std::nothrow) LeccionGestorTAE(motor.tae);
  if (motor.leccion == nullptr) FalloModulo("GestorTAE");
  sesion.leccion = motor.leccion;
  OSAL::Trace(kTraceModulos, "Start GestorTAE.");

  unit.regiones = RegionesNuevas("RectVirtClase");

  static const CarpetasFormatae kCarpetasUnit = {"X:\\HDD\\DATOS\\SKIN", "M:\\DATOS\\SKIN\\CLASES",
                                                 "M:\\AUDIO\\", "M:\\AUDIO\\", "S:\\"};
  for (uint8_t parte = 0; parte < kNumPartes; ++parte) {
    motor.formatae[parte] = CrearFormatae(unit, 664, 534, MotorAX::kAnchoUnit, MotorAX::kAltoUnit,
                                          kCarpetasUnit, unit.regiones);
    motor.documentos[parte] = new (std::nothrow) DocumentoParteFormatae(motor.formatae[parte]);
    if (motor.documentos[parte] == nullptr) FalloModulo("FTAE");
    unit.partes[parte].formatae = motor.documentos[parte];
  }
  OSAL::Trace(kTraceModulos, "Start los 8 Formateadores TAE de la unidad.");

  sesion.alumno = new (std::nothrow) TGestorAlumno(sesion);
  if (sesion.alumno == nullptr) FalloModulo("GestorAlumno");
  sesion.alumno->Iniciar();

  sesion.periodicos = CrearWorker<ThreadPeriodicEvents>(sesion, "ThreadPeriodicEvents");
  ArrancarWorker(sesion.periodicos->record());
  motor.anim->SetProgreso(&sesion.periodicos->Progreso());
  OSAL::Trace(kTraceModulos, "Start Periodic Events.");

  sesion.carga_unit = CrearWorker<ThreadCargaUnit>(sesion, "ThreadCargaUnit");
  OSAL::Trace(kTraceModulos, "Start ThreadCargaUnit.");

  sesion.sesion_activa.store(1);
}

// The unit's figures saved and its screens shown, as the unload and a
// restart do it (steps 2.1 to 2.8): the restart shows phase 4 too and
// leaves the check of the store to the next start.
void CerrarUnidad(bool descarga) {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  const uint8_t unidad = sesion.unidad.load();
  sesion.EscribirLog("ALLCLIENT.LOG", "    [START DISCONNECT] -> \r");
  OSAL::Trace(kTraceEstudio, "Start cerrando la Unit . . .");
  ThreadPeriodicEvents* periodicos = sesion.periodicos;
  if (periodicos != nullptr) {
    periodicos->PedirFinUnit();
    periodicos->FaseFinUnit(2);
  }
  // A unit is never unloaded while its background load runs: it is asked
  // to stop, and leaves at its next document, picture or read.
  ThreadCargaUnit* carga = sesion.carga_unit;
  bool cargada = true;
  if (carga != nullptr) {
    PararCarga();
    EsperarEnGui([carga] { return carga->Hecho() || !carga->record().TieneThread(); },
                 MotorAX::kEsperaCargaMs);
    // A load still running past the bound (its animation, its skin) has
    // read the audit all the same: the session's work is saved.
    cargada = carga->AuditoriaCargada();
  }
  if (ILeccion* leccion = sesion.leccion) {
    // A page lock held past the bound is a thread that does not end.
    if (!ConPaginaEnGui([leccion] { leccion->SoltarFormateador(); })) motor.fuga = true;
  }
  if (periodicos != nullptr) {
    periodicos->FaseFinUnit(3);
    if (!descarga) periodicos->FaseFinUnit(4);
  }
  if (!motor.canal.sin_guardar_auditoria && sesion.alumno != nullptr) {
    std::lock_guard<CriticalSection> lock(sesion.cerrojo_auditoria);
    TGestorAlumno* alumno = sesion.alumno;
    if (!cargada) {
      // The stored audit was never read: writing now would replace it.
      OSAL::Trace(kTraceError, "La auditoria no se ha leido: no se guarda.");
    } else {
      alumno->ActualizarAuditoriaUnit();
      if (!alumno->AuditoriaRechazada()) {
        GuardarCopiaLocalAuditoria();
        // A store that took no save would take no upload either: against a
        // lost server each try costs a whole request time. The copy stays
        // for the next start.
        if (alumno->GuardarAuditoriaUnidad(unidad)) {
          if (descarga) SincronizarCopiaLocalAuditoria();
        } else {
          OSAL::Trace(kTraceError, "La auditoria queda en la copia local para el proximo inicio.");
        }
      }
    }
  }
  const uint32_t minutos = sesion.ElapsedTicks() / 60000;
  TrazarF(kTraceEstudio, "End Unit %03u SAFE con %u min. de conexion.", unidad, minutos);
  OSAL::Trace(kTraceEstudio, " -> Unit cerrada y subida al Server OK.");
  OSAL::Trace(kTraceEstudio, "#END#");
  // The last phase is on screen for its second before the screens' thread
  // stops: on a busy machine the thread may take a while to draw it.
  if (periodicos != nullptr && periodicos->FaseFinUnit(5)) {
    periodicos->EsperarFaseDibujada(kEsperaUltimaFaseMs);
  }
  PausaEnGui(1000);
  const uint32_t estudio = sesion.leccion != nullptr ? sesion.leccion->TiempoActivo() / 60000 : 0;
  sesion.EscribirLog(
      "ALLCLIENT.LOG",
      FormatoF("[DISCONNECT] -> '%s' ha estado conectado a la unit %u %u min. y ha estado "
               "estudiando %u min.\r",
               sesion.nombre_alumno.c_str(), unidad, minutos, estudio)
          .c_str());
}

// Deletes an object unless a worker that did not stop may still use it.
template <typename T>
void Borrar(T*& objeto) {
  T* o = objeto;
  objeto = nullptr;
  if (o == nullptr) return;
  if (Motor().fuga) {
    Motor().retenidos.push_back([o] { delete o; });
  } else {
    delete o;
  }
}

// Asks a worker to stop (a looping one; one that ends by itself is only
// waited for) and waits for its end on the GUI thread, so the frames it
// presents and the boxes it asks for meanwhile are served. True when it
// ended within the stop's bound.
bool EsperarParadaEnGui(ThreadRecord& record, bool pedir_parada) {
  if (!record.TieneThread()) return true;
  // A thread never woken skips its body: the stop comes before its start.
  uint8_t esperado = ThreadRecord::kNuevo;
  const bool nunca_empezo = record.state.compare_exchange_strong(esperado, ThreadRecord::kParar);
  if (!nunca_empezo && pedir_parada && esperado == ThreadRecord::kCorriendo) {
    record.state.compare_exchange_strong(esperado, ThreadRecord::kParar);
  }
  record.Notificar();
  if (pedir_parada || nunca_empezo) record.DespertarThread();
  const auto terminado = [&record] {
    return !record.TieneThread() || record.Estado() == ThreadRecord::kTerminado;
  };
  // Short waits on the record itself, which its end cuts short, each
  // followed by a turn of the GUI thread's serving.
  // Real time, as the record's own waits: a stuck worker moves no clock.
  const auto limite =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ThreadRecord::kEsperaParadaMs);
  for (;;) {
    record.EsperarCondicion(terminado, kPasoParadaMs);
    EsperarEnGui(terminado, 0);
    if (terminado()) return true;
    if (std::chrono::steady_clock::now() >= limite) return false;
  }
}

// Stops a worker; one that does not end, and everything after it, stays.
// The wait is served on the GUI thread; the worker's own stop then only
// joins and frees what it holds.
template <typename T>
void Detener(T* worker, bool pedir_parada = true) {
  if (worker == nullptr) return;
  if (!EsperarParadaEnGui(worker->record(), pedir_parada)) {
    platform::ShowMessageBox(worker->record().name() + " no termina.", "ERROR", platform::kMbOk);
  } else if (worker->Terminar()) {
    return;
  }
  TrazarF(kTraceError, "Un worker no termina: lo que usa no se libera.");
  Motor().fuga = true;
}

template <typename T>
void Parar(T*& worker) {
  Detener(worker);
  Borrar(worker);
}

// The session objects of the unit, in the unload's order from the
// periodic-screens thread on; the audit manager first at a restart.
void DestruirObjetosSesion(bool reinicio) {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  InstanciaAX& unit = sesion.Unit();
  ThreadPeriodicEvents* periodicos = sesion.periodicos;
  ThreadCargaUnit* carga = sesion.carga_unit;
  Detener(periodicos);
  // The loader ends by itself once its unit is read, or at once when asked.
  if (carga != nullptr) carga->PedirParada();
  Detener(carga, false);
  if (reinicio) {
    // The audit manager goes first of the objects at a restart, but only
    // once the loader that reads the audit into it has stopped.
    TGestorAlumno* alumno = sesion.alumno;
    sesion.alumno = nullptr;
    Borrar(alumno);
  }
  // The animation's loader advances the loading screen's steps: it stops
  // (with the animation) before the screens' thread goes. After a stop that
  // failed the animation stays with the manager, which is kept: the worker
  // that did not end may be waiting inside it.
  motor.anim = nullptr;
  if (motor.tae != nullptr && !motor.fuga) motor.tae->TerminarAnim();
  sesion.periodicos = nullptr;
  Borrar(periodicos);
  sesion.carga_unit = nullptr;
  Borrar(carga);
  for (uint8_t parte = 0; parte < kNumPartes; ++parte) {
    unit.partes[parte].formatae = nullptr;
    unit.partes[parte].primera_pagina_siguiente.store(0);
    Borrar(motor.documentos[parte]);
    Borrar(motor.formatae[parte]);
  }
  TRectangulosVirtuales* regiones = unit.regiones;
  unit.regiones = nullptr;
  if (motor.fuga) {
    if (regiones != nullptr) motor.retenidos.push_back([regiones] { DestruirRegiones(regiones); });
  } else {
    DestruirRegiones(regiones);
  }
  sesion.leccion = nullptr;
  Borrar(motor.leccion);
  Borrar(motor.tae);
  if (!reinicio) {
    TGestorAlumno* alumno = sesion.alumno;
    sesion.alumno = nullptr;
    Borrar(alumno);
  }
}

}  // namespace

MotorAX& Motor() {
  // Never destroyed: a worker that did not stop may still read it at exit.
  static MotorAX* motor = new MotorAX();
  return *motor;
}

void LiberarRetenidosParaPruebas() {
  MotorAX& motor = Motor();
  // The order they were kept in is the unload's order.
  for (auto& liberar : motor.retenidos) liberar();
  motor.retenidos.clear();
  motor.fuga = false;
}

void ResetearGlobales() {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  sesion.osal = nullptr;
  sesion.gdi = nullptr;
  sesion.ehdd = nullptr;
  sesion.leccion = nullptr;
  sesion.eventos = nullptr;
  sesion.carga_unit = nullptr;
  sesion.periodicos = nullptr;
  sesion.alumno = nullptr;
  motor.bmp = nullptr;
  motor.tae = nullptr;
  motor.anim = nullptr;
  motor.leccion = nullptr;
  for (uint8_t i = 0; i < kNumPartes; ++i) {
    motor.formatae[i] = nullptr;
    motor.documentos[i] = nullptr;
  }
  motor.formatae_mini = nullptr;
  motor.documento_mini = nullptr;
  motor.version = MotorAX::kVersion;
  motor.version2.clear();
  sesion.axstatus.store(0);
  motor.minicourse_iniciado.store(0);
  ValoresDeSesionACero();
  motor.canal.servidor.clear();
  motor.timer = 0;
  motor.base_iniciada = 0;
  motor.conectado = 0;
  motor.cache_iniciada = false;
}

bool EventAXCreate(platform::ui::IControlSite* ventana, uint8_t modo) {
  if (modo == kModoUnit) {
    IniciarInstanciaUnit(ventana);
    return true;
  }
  if (modo == kModoMini) {
    IniciarInstanciaMini(ventana);
    return true;
  }
  platform::ShowMessageBox("Creacion instancia AX erronea", "DEBUG", platform::kMbOk);
  return false;
}

void IniciarInstanciaUnit(platform::ui::IControlSite* ventana) {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  sesion.axstatus.store(1);
  ValoresDeSesionACero();
  SetStudentStoreName("");
  motor.cerrando.store(0);
  sesion.instancias[kModoUnit].activa.store(0);
  sesion.instancias[kModoMini].activa.store(0);
  sesion.Unit().ventana = ventana;
  SetUnitControlWindow(ventana);
  if (sesion.osal == nullptr) {
    sesion.osal = new (std::nothrow) OSAL();
    if (sesion.osal == nullptr) {
      platform::ExitProcess(1);
      return;
    }
  }
  sesion.osal->IniciarTicks();
}

void IniciarInstanciaMini(platform::ui::IControlSite* ventana) {
  MotorAX& motor = Motor();
  motor.minicourse_iniciado.store(0);
  motor.sesion.instancias[kModoMini].ventana = ventana;
}

void InterfaceAXInicializarAXeTAE() {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  OSAL::Trace(kTraceInterfaz, "InterfaceAXInicializarAXeTAE.");
  if (motor.cerrando.load() != 0) return;
  if (motor.base_iniciada && sesion.Unit().activa.load() != 0) {
    // A new session over a loaded unit: the unit is closed and its audit
    // saved first, under the audit lock like the unload. The lock is taken
    // around the save only: the loader, still reading, takes it too.
    EsperarComandoEnGui(sesion.eventos);
    DescartarEntradasPendientes(sesion);
    // A live MINI control keeps its window, its instance and its text: only
    // what the old session made for it goes.
    LiberarObjetosMiniCourse();
    CerrarUnidad(false);
    sesion.Unit().activa.store(0);
    DestruirObjetosSesion(true);
    LiberarSuperficies(sesion.Unit());
    sesion.sesion_activa.store(0);
  }
  if (sesion.sesion_activa.load() != 0 || sesion.nombre_alumno.empty() ||
      motor.nombre_common.empty() || motor.canal.servidor.empty()) {
    return;
  }
  if (motor.fuga) {
    // A worker of the last session never ended: nothing new is started
    // beside it.
    OSAL::Trace(kTraceError, "Un worker anterior no termino: la sesion no se inicia.");
    return;
  }
  // One session per student store: beside another one (in this process or
  // another) nothing starts, and the host gives up as for a missing common
  // store.
  if (TomarSesionAlumno() == SesionAlumno::kOcupada) {
    motor.test_result.store(2);
    platform::ShowMessageBox(kTextoSesionOcupada, "ERROR", platform::kMbOk);
    return;
  }
  motor.test_result.store(0);
  IniciarModulosBase();
  if (motor.test_result.load() != 0) return;

  TEHDDClient* ehdd = sesion.ehdd;
  if (motor.canal.modo_local) {
    ehdd->SetLocalRoot(motor.canal.raiz_local);
    ehdd->ClearLocalLetters();
    ehdd->AddLocalLetter('X', motor.nombre_common.c_str());
    ehdd->AddLocalLetter('M', sesion.Unit().nombre_multimedia.c_str());
    ehdd->AddLocalLetter('U', sesion.Unit().nombre_units.c_str());
    ehdd->AddLocalLetter('Y', sesion.ruta_minicourse.c_str());
    ehdd->AddLocalLetter('G', MotorAX::kGlosario);
    ehdd->AddLocalLetter('S', (sesion.nombre_alumno + "\\work").c_str());
  } else {
    ehdd->SetLocalRoot("");
    ehdd->ClearLocalLetters();
  }
  ehdd->Mount((sesion.nombre_alumno + "\\work").c_str(), 'S');
  SincronizarCopiaLocalAuditoria();
  sesion.axstatus.store(2);
  IniciarSesionEstudio();
  sesion.axstatus.store(3);
}

void InterfaceAXInicializarAXeTAEMiniCourse() {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  // A second start keeps the control's window and instance.
  if (motor.minicourse_iniciado.load() != 0) LiberarObjetosMiniCourse();
  OSAL::Trace(kTraceInterfaz, "InterfaceAXInicializarAXeTAEMiniCourse.");
  // The mini-course draws with the unit session's objects.
  if (sesion.sesion_activa.load() == 0 || motor.tae == nullptr || motor.cerrando.load() != 0) {
    OSAL::Trace(kTraceError, "MiniCourse sin sesion de estudio.");
    return;
  }
  InstanciaAX& mini = sesion.instancias[kModoMini];
  CrearSuperficies(mini, MotorAX::kAnchoMini, MotorAX::kAltoMini);
  sesion.gdi->MostrarBuffer(mini.superficie_pagina, 0, 0, 0, 0);
  mini.regiones = RegionesNuevas("RectVirtMiniCourse");
  static const CarpetasFormatae kCarpetasMini = {"X:\\HDD\\DATOS\\SKIN", "Y:\\DATOS\\SKIN\\MC",
                                                 "Y:\\AUDIO\\", "Y:\\AUDIO\\", "S:\\MC\\"};
  motor.formatae_mini = CrearFormatae(mini, 499, 371, MotorAX::kAnchoMini, MotorAX::kAltoMini,
                                      kCarpetasMini, mini.regiones);
  motor.documento_mini = new (std::nothrow) DocumentoParteFormatae(motor.formatae_mini);
  if (motor.documento_mini == nullptr) FalloModulo("FTAE");
  mini.partes[0].formatae = motor.documento_mini;
  OSAL::Trace(kTraceModulos, "Start Formateador TAE MiniCourse.");
  motor.minicourse_iniciado.store(1);
  sesion.axstatus.store(5);
}

void InterfaceAXCargarMiniCourse(const std::string& nombre) {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  if (motor.minicourse_iniciado.load() == 0 || motor.documento_mini == nullptr) return;
  TrazarF(kTraceInterfaz, "InterfaceAXCargarMiniCourse %s.", nombre.c_str());
  InstanciaAX& mini = sesion.instancias[kModoMini];
  mini.parte.store(0);
  mini.pagina.store(1);
  try {
    motor.documento_mini->Cargar(("Y:\\" + nombre).c_str());
  } catch (const std::string& texto) {
    TrazarF(kTraceError, "MiniCourse %s: %s", nombre.c_str(), texto.c_str());
  }
  motor.formatae_mini->SetColorTratado(kColorTratado);
  motor.formatae_mini->SetColorNivel(kColorTratado);
  const int16_t paginas = motor.documento_mini->Paginas();
  mini.total.store(static_cast<uint8_t>(paginas < 0 ? 0 : paginas > 255 ? 255 : paginas));
  const bool mostrada = ConPaginaEnGui([&motor, &mini] {
    motor.leccion->CambiarFormateador(motor.documento_mini, mini.regiones);
    motor.documento_mini->SaltarPagina(0);
    motor.documento_mini->SolicitudRepintar();
  });
  if (!mostrada) return;
  mini.activa.store(1);
  sesion.axstatus.store(6);
}

void LiberarObjetosMiniCourse() {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  InstanciaAX& mini = sesion.instancias[kModoMini];
  // No MINI command starts from here; one already running (between its two
  // page-lock sections) is waited for before its document goes, and before
  // the document's place is cleared: the command reads it without a lock.
  mini.activa.store(0);
  EsperarComandoEnGui(sesion.eventos);
  mini.partes[0].formatae = nullptr;
  if (LeccionGestorTAE* leccion = motor.leccion) {
    if (!ConPaginaEnGui([leccion] { leccion->SoltarFormateador(); })) motor.fuga = true;
  }
  Borrar(motor.documento_mini);
  Borrar(motor.formatae_mini);
  TRectangulosVirtuales* regiones = mini.regiones;
  mini.regiones = nullptr;
  if (motor.fuga) {
    if (regiones != nullptr) motor.retenidos.push_back([regiones] { DestruirRegiones(regiones); });
  } else {
    DestruirRegiones(regiones);
  }
  if (motor.minicourse_iniciado.load() != 0) LiberarSuperficies(mini);
  mini.activa.store(0);
  motor.minicourse_iniciado.store(0);
  const uint8_t estado = sesion.axstatus.load();
  if (estado == 5 || estado == 6) sesion.axstatus.store(4);
}

void LiberarMiniCourse() {
  MotorAX& motor = Motor();
  LiberarObjetosMiniCourse();
  motor.sesion.instancias[kModoMini].ventana = nullptr;
  // A unit control that is already gone stays gone.
  if (motor.texto_instancia == "MINI") motor.texto_instancia = "UNIT";
}

void InterfaceAXUnloadAll(uint8_t modo) {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  if (modo == kModoMini) {
    LiberarMiniCourse();
    return;
  }
  if (modo != kModoUnit) {
    sesion.MostrarError("Error liberando una instancia del AX invalida.");
    return;
  }
  OSAL::Trace(kTraceInterfaz, "InterfaceAXUnloadAll.");
  // No new command from here on. The pending one and the unit's load are
  // asked to stop, not waited for: each leaves at its next wait, document,
  // picture or read (a read in progress ends within its request time).
  motor.cerrando.store(1);
  DescartarEntradasPendientes(sesion);
  PararCarga();
  if (ThreadEvents* eventos = sesion.eventos) {
    eventos->PedirParada();
    EsperarComandoEnGui(eventos);
  }
  LiberarMiniCourse();
  // The save takes the audit lock; the wait for the loader before it must
  // not hold it, since the loader takes it to read the audit.
  if (sesion.Unit().activa.load() != 0) CerrarUnidad(true);
  if (motor.timer != 0) {
    if (auto host = platform::ui::UiHost()) host->KillTimer(motor.timer);
    motor.timer = 0;
  }
  sesion.Unit().activa.store(0);
  sesion.sesion_activa.store(0);

  ThreadEvents* eventos = sesion.eventos;
  Parar(eventos);
  sesion.eventos = nullptr;
  DestruirObjetosSesion(false);
  LiberarSuperficies(sesion.Unit());
  Borrar(motor.bmp);
  // The OSAL object's client pointer goes before the client.
  if (sesion.osal != nullptr) sesion.osal->SetEHDDClient(nullptr);
  Borrar(sesion.ehdd);
  if (motor.cache_iniciada) {
    if (motor.fuga) {
      motor.retenidos.push_back([] { TEHDDCache::Destroy(); });
    } else {
      TEHDDCache::Destroy();
    }
  }
  motor.cache_iniciada = false;
  Borrar(sesion.gdi);
  // The window belongs to the host: it is forgotten before it can go.
  SetUnitControlWindow(nullptr);
  sesion.Unit().ventana = nullptr;
  Borrar(sesion.osal);
  motor.texto_instancia = "NULL";
  motor.base_iniciada = 0;
  motor.conectado = 0;
  // The audit is saved and checked: the store is free for another session.
  SoltarSesionAlumno();
  OSAL::Trace(kTraceModulos, "Terminado AXeTAE.");
}

void EventAXTimerTic() {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  if (sesion.sesion_activa.load() == 0) return;
  OSAL::Trace(kTraceRaton, "EventAXTimerTic.");
  try {
    // Keys and button-ups that found the page busy, once it is free.
    AtenderEntradasPendientes(sesion);
    TGestorTAE* tae = motor.tae;
    if (sesion.Unit().activa.load() == 0 || tae == nullptr) return;
    if (motor.anim != nullptr) motor.anim->TimerTicAnim();
    TFormatae* actual = tae->FormateadorActual();
    if (actual == nullptr) return;
    TRectangulosVirtuales* regiones = actual == motor.formatae_mini
                                          ? sesion.instancias[kModoMini].regiones
                                          : sesion.Unit().regiones;
    RegionesTimerTic(regiones);
  } catch (const platform::ExitRequested&) {
    throw;
  } catch (const std::string& texto) {
    TrazarF(kTraceError, "EventAXTimerTic: %s", texto.c_str());
  } catch (const std::exception& e) {
    TrazarF(kTraceError, "EventAXTimerTic: %s", e.what());
  }
}

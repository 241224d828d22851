// The engine's life cycle inside the library: the process-wide state of the
// engine (one set per process, shared by the UNIT and MINI controls), the
// window creation of each instance mode, the start of the base modules and
// of the study session, the mini-course, the 50 ms timer and the unload
// that saves the learner's audit and destroys everything in a fixed order.
//
// Everything here runs on the host's GUI thread. Every wait of the GUI
// thread goes through the UI host's GUI-thread wait, so frames and the
// workers' boxes are served meanwhile; every wait is bounded.
//
// Objects a worker that did not stop may still use are never freed: once a
// stop fails, the objects after it in the unload order are left allocated
// (a leak, never a use after free).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/UiHost.h"
#include "player/EsperaGui.h"
#include "player/SesionAX.h"

class DocumentoParteFormatae;
class LeccionGestorTAE;
class TFormatae;
class TGestorAnim;
class TGestorBMP;
class TGestorTAE;
class ThreadEvents;

// The settings the ServerEHDD channel holds (process-wide single values).
struct CanalServerEHDD {
  static constexpr size_t kMaxServidor = 99;  // bytes of the 100-byte host field
  std::string servidor;                       // host of the eHDD server
  uint16_t puerto = 8080;
  uint8_t sin_guardar_auditoria = 0;  // 6002: no local copy, no audit save, no check
  uint8_t modo_local = 0;             // 3232 with a non-zero portc
  std::string raiz_local;             // the folder given with 3232 (UTF-8)
  std::string etiqueta;               // "[T" and the text of 6003, or empty
  std::string nombre_cache;           // CacheName of the student name
  // The local copy's file name: the student name and the store it lives in
  // (the real path of the local root, or the server host), set when the
  // study session starts; empty before.
  std::string nombre_copia;
};

struct MotorAX {
  static constexpr const char* kVersion = "1.08.02.04A";
  static constexpr uint16_t kPuertoAlternativo = 6002;
  static constexpr uint16_t kAnchoUnit = 687, kAltoUnit = 534;
  static constexpr uint16_t kAnchoMini = 531, kAltoMini = 371;
  static constexpr uint32_t kColorFondo = 0x666666;
  static constexpr uint32_t kPeriodoTimerMs = 50;
  // Bounds of the GUI thread's waits.
  static constexpr uint32_t kEsperaArranqueMs = 10000;
  static constexpr uint32_t kEsperaCargaMs = 120000;
  static constexpr size_t kMaxAlumno = 299;  // bytes of the 300-byte field
  static constexpr size_t kMaxNombre = 49;   // bytes of the 50-byte fields
  static constexpr const char* kGlosario = "data\\ehddservers\\GLOSSARY10\\GLOSSARY10.DAT";

  SesionAX sesion;
  std::string version = kVersion;
  std::string version2;
  std::atomic<uint16_t> test_result{99};
  std::string nombre_common;
  std::atomic<uint8_t> auditoria_seleccionada{0};
  std::atomic<uint8_t> minicourse_iniciado{0};
  uint8_t base_iniciada = 0;
  uint8_t conectado = 0;
  bool cache_iniciada = false;
  // "NULL" with no control, "UNIT" after the first, "MINI" after the second.
  std::string texto_instancia = "NULL";
  // Bumped by every construction of a control; the one that makes it 1
  // resets the globals.
  uint8_t construcciones = 0;
  // Set by the unload of the UNIT control: posts are refused from then on.
  std::atomic<uint8_t> cerrando{0};
  platform::ui::IUiHost::TimerId timer = 0;
  // The port tried when the set one refuses (tests point it elsewhere).
  uint16_t puerto_alternativo = kPuertoAlternativo;
  // The server requests' time limit in seconds; 0 keeps the client's own
  // (tests shorten it).
  int32_t timeout_peticion_s = 0;
  CanalServerEHDD canal;

  // The objects of the session beside those SesionAX points to.
  TGestorBMP* bmp = nullptr;
  TGestorTAE* tae = nullptr;
  // The unit's dialogue animation: the lesson manager's, stepped by the
  // session's timer.
  TGestorAnim* anim = nullptr;
  LeccionGestorTAE* leccion = nullptr;
  TFormatae* formatae[kNumPartes] = {};
  DocumentoParteFormatae* documentos[kNumPartes] = {};
  TFormatae* formatae_mini = nullptr;
  DocumentoParteFormatae* documento_mini = nullptr;
  // A worker did not stop: what it may use is never freed, only kept here
  // (the process ends with it; a test frees it once the worker has ended).
  bool fuga = false;
  std::vector<std::function<void()>> retenidos;
  // For tests: runs on the command worker once it is made, before it runs.
  std::function<void(ThreadEvents&)> preparar_eventos_para_pruebas;
};

// The process's engine.
MotorAX& Motor();

// All manager pointers null and the values of a fresh engine.
void ResetearGlobales();
// WM_CREATE of a control: mode 0 the UNIT window, mode 1 the MINI window;
// false (after the box "Creacion instancia AX erronea") for any other mode.
bool EventAXCreate(platform::ui::IControlSite* ventana, uint8_t modo);
void IniciarInstanciaUnit(platform::ui::IControlSite* ventana);
void IniciarInstanciaMini(platform::ui::IControlSite* ventana);

void InterfaceAXInicializarAXeTAE();
void InterfaceAXInicializarAXeTAEMiniCourse();
void InterfaceAXCargarMiniCourse(const std::string& nombre);
// The MINI control's objects of the session (formatter, regions, the two
// surfaces), after the command worker has left any MINI command; its window
// and the instance text stay (a restart of either control).
void LiberarObjetosMiniCourse();
// The same, and the MINI window is forgotten (the unload).
void LiberarMiniCourse();
void InterfaceAXUnloadAll(uint8_t modo);
void EventAXTimerTic();

// Frees what a worker that did not stop kept allocated (for tests, once
// that worker has ended) and forgets the failed stop.
void LiberarRetenidosParaPruebas();

// The study session's records: one InstanciaAX per instance mode of the
// control (0 UNIT, 1 MINI) with its eight parts and global page numbering,
// the session values the workers read, the session's one recursive page
// lock, and pointers to the collaborators.
//
// The control owns the process-wide session and hands it to the workers by
// reference. Bytes that one thread writes while another reads them are
// atomic; the texts and pointers are set before the workers are woken.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/CriticalSection.h"
#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "platform/MessageBox.h"

class IDocumentoParte;
class ILeccion;
class TEHDDClient;
class TGestorAlumno;
class TRectangulosVirtuales;
class ThreadCargaUnit;
class ThreadEvents;
class ThreadPeriodicEvents;

constexpr uint8_t kModoUnit = 0;
constexpr uint8_t kModoMini = 1;
constexpr uint8_t kNumPartes = 8;

// One part of an instance: its document and the global number of the first
// page of the part that follows it.
struct ParteAX {
  IDocumentoParte* formatae = nullptr;
  std::atomic<uint8_t> primera_pagina_siguiente{0};
};

struct InstanciaAX {
  // 1 while its unit (mode 0) or mini-course document (mode 1) is shown.
  std::atomic<uint8_t> activa{0};
  TRectangulosVirtuales* regiones = nullptr;
  // Global number of the first page of part 0.
  std::atomic<uint8_t> primera_pagina{1};
  ParteAX partes[kNumPartes];
  // Current global page (from 1), page total and current part.
  std::atomic<uint8_t> pagina{1};
  std::atomic<uint8_t> total{0};
  std::atomic<uint8_t> parte{0};
  uint16_t superficie_pagina = TGestorGDI::kBufferInvalido;
  uint16_t segunda_superficie = TGestorGDI::kBufferInvalido;
  std::string nombre_units;       // from SetEHDDUnits
  std::string nombre_multimedia;  // from SetEHDDMultimedia
  platform::ui::IControlSite* ventana = nullptr;

  // Global number of the first page of part p.
  uint8_t PrimeraPaginaDeParte(uint8_t p) const {
    if (p == 0) return primera_pagina.load();
    if (p >= kNumPartes) return 0;
    return partes[p - 1].primera_pagina_siguiente.load();
  }
};

struct SesionAX {
  InstanciaAX instancias[2];

  std::atomic<uint8_t> sesion_activa{0};  // the study session is up
  std::atomic<uint8_t> axstatus{0};
  std::atomic<uint8_t> nivel{0};   // course level of the loaded unit
  std::atomic<uint8_t> unidad{0};  // number of the loaded unit
  std::atomic<uint8_t> modo_navegacion{0};
  // The next unit load only mounts the stores and makes the student folders.
  std::atomic<uint32_t> solo_stores{0};
  std::string nombre_alumno;  // the student store name
  std::string ruta_minicourse = "data\\ehddservers\\multimedia\\minicourse.dat";

  // The one lock of every page render, key and mouse event of the session;
  // the lesson manager is given it before it starts.
  CriticalSection cerrojo_pagina;
  // Guards the audit figures, the audit save and the local audit copy.
  CriticalSection cerrojo_auditoria;

  OSAL* osal = nullptr;
  TGestorGDI* gdi = nullptr;
  TEHDDClient* ehdd = nullptr;
  ILeccion* leccion = nullptr;
  ThreadEvents* eventos = nullptr;
  ThreadCargaUnit* carga_unit = nullptr;
  ThreadPeriodicEvents* periodicos = nullptr;
  TGestorAlumno* alumno = nullptr;

  InstanciaAX& Unit() { return instancias[kModoUnit]; }

  // An error box ("ERROR"), through the OSAL object when there is one.
  void MostrarError(const char* texto) {
    if (osal != nullptr) {
      osal->MostrarError(texto);
    } else {
      platform::ShowMessageBox(texto, "ERROR", platform::kMbOk);
    }
  }
  void EscribirLog(const char* fichero, const char* linea) {
    if (osal != nullptr) osal->EscribirLog(fichero, linea);
  }
  uint32_t ElapsedTicks() const { return osal != nullptr ? osal->ElapsedTicks() : 0; }
};

// A formatted trace line (cut at 511 bytes).
__attribute__((format(printf, 2, 3))) inline void TrazarF(int categoria, const char* formato, ...) {
  char linea[512];
  va_list args;
  va_start(args, formato);
  std::vsnprintf(linea, sizeof(linea), formato, args);
  va_end(args);
  OSAL::Trace(categoria, linea);
}

// The same text formatted into a string (for log lines and paths).
__attribute__((format(printf, 1, 2))) inline std::string FormatoF(const char* formato, ...) {
  char linea[512];
  va_list args;
  va_start(args, formato);
  std::vsnprintf(linea, sizeof(linea), formato, args);
  va_end(args);
  return linea;
}

// The engine's one operating-system object: the start tick, tagged memory,
// the error report, the log writer, the caret and cursor of the control
// window, the widening copy to 16-bit text and the debug trace.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ui/ControlSite.h"

// Where OSAL::EscribirLog hands its lines: the eHDD client's log operation.
class TEHDDLogTarget {
 public:
  virtual ~TEHDDLogTarget() = default;
  virtual void EscribirLog(const char* fichero, const char* linea) = 0;
};

// Trace categories (what the callers use them for).
enum TraceCategoria : int {
  kTraceModulos = 0,          // module start and stop
  kTraceError = 4,            // errors
  kTraceAudioTiempo = 5,      // audio timing warnings
  kTraceAudioBuffers = 6,     // audio buffer flow
  kTraceAudioExclusion = 7,   // audio mutual exclusion, audio close
  kTraceOggCallbacks = 8,     // OGG file callbacks
  kTracePulsacionLarga = 10,  // long left-button press
  kTraceNotificador = 11,     // audio notification thread
  kTraceInterfaz = 14,        // calls of the control's interface
  kTraceProgreso = 20,        // progress thread, unit load progress
  kTraceRaton = 30,           // mouse events and timer ticks
  kTraceAudioCrudo = 31,      // raw audio packets
  kTraceEstudio = 33,         // study start and end, server connection
  kTraceCargaUnidad = 35,     // unit load steps
  kTraceAudioPrimero = 36,    // first audio buffer, mouse click received
  kTraceAudioPausa = 37,      // unexplained audio pause
};

class OSAL {
 public:
  OSAL() = default;

  uint32_t IniciarTicks();
  uint32_t ElapsedTicks() const;

  // malloc; a failure is reported through MostrarError and gives null.
  void* PedirMemoria(uint32_t size, const char* tag);
  // free; always returns null for the caller to store back.
  void* LiberarMemoria(void* block, const char* tag);
  static void* Malloc(size_t size);
  static void Free(void* block);

  // Box "ERROR" with the text, then the line for "ALLERROR.LOG".
  void MostrarError(const char* texto);
  // A box without owner; returns the button pressed.
  int MostrarMensaje(const char* texto, const char* titulo, unsigned tipo);
  void EscribirLog(const char* fichero, const char* linea);

  void CrearCaret();
  void PosicionarCaret(uint16_t x, uint16_t y);
  void MostrarCaret();
  void OcultarCaret();
  platform::ui::CursorHandle CambiarCursor(uint32_t cursor_id);

  // Widens each byte to one 16-bit unit and ends with a 16-bit zero; writes
  // at most capacity units in all (the text is cut to fit).
  static void CopiarAUnicode(const char* texto, uint16_t* salida, size_t capacidad);

  // The debug trace: takes the category and the formatted line, writes nothing.
  static void Trace(int categoria, const char* linea = nullptr) {
    (void)categoria;
    (void)linea;
  }

  void SetEHDDClient(TEHDDLogTarget* client) { ehdd_client_ = client; }
  TEHDDLogTarget* EHDDClient() const { return ehdd_client_; }

 private:
  uint32_t start_tick_ = 0;
  TEHDDLogTarget* ehdd_client_ = nullptr;
};

// The student store name that the host sets (at most 299 bytes are kept);
// the error log lines carry it.
void SetStudentStoreName(const char* name);
const char* StudentStoreName();

// Replaces the allocator behind OSAL::PedirMemoria (nullptr restores malloc),
// so tests can make a request fail.
void SetOSALMallocForTesting(void* (*allocator)(size_t));

// The window of the UNIT control that the caret and cursor operations act on.
void SetUnitControlWindow(platform::ui::IControlSite* window);
platform::ui::IControlSite* UnitControlWindow();

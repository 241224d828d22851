#include "base/OSAL.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/Clock.h"
#include "platform/MessageBox.h"

namespace {

constexpr size_t kStudentNameSize = 300;
constexpr size_t kErrorLineSize = 200;
constexpr size_t kMemoryTextSize = 100;

std::mutex g_student_mutex;
char g_student_name[kStudentNameSize] = "";

std::atomic<platform::ui::IControlSite*> g_unit_window{nullptr};

std::atomic<void* (*)(size_t)> g_malloc{&std::malloc};

}  // namespace

void SetOSALMallocForTesting(void* (*allocator)(size_t)) {
  g_malloc.store(allocator ? allocator : &std::malloc);
}

void SetStudentStoreName(const char* name) {
  std::lock_guard<std::mutex> lock(g_student_mutex);
  std::snprintf(g_student_name, sizeof(g_student_name), "%s", name ? name : "");
}

const char* StudentStoreName() {
  // The text is set while no session runs; readers take it as it stands.
  return g_student_name;
}

void SetUnitControlWindow(platform::ui::IControlSite* window) {
  g_unit_window.store(window);
}

platform::ui::IControlSite* UnitControlWindow() {
  return g_unit_window.load();
}

uint32_t OSAL::IniciarTicks() {
  start_tick_ = platform::TickCount();
  return start_tick_;
}

uint32_t OSAL::ElapsedTicks() const {
  return platform::TickCount() - start_tick_;
}

void* OSAL::PedirMemoria(uint32_t size, const char* tag) {
  void* block = g_malloc.load()(size);
  if (block == nullptr) {
    char texto[kMemoryTextSize];
    std::snprintf(texto, sizeof(texto), "Error al pedir %lu bytes de memoria para %s.",
                  static_cast<unsigned long>(size), tag ? tag : "");
    MostrarError(texto);
  }
  return block;
}

void* OSAL::LiberarMemoria(void* block, const char* /*tag*/) {
  std::free(block);
  return nullptr;
}

void* OSAL::Malloc(size_t size) {
  return std::malloc(size);
}

void OSAL::Free(void* block) {
  std::free(block);
}

void OSAL::MostrarError(const char* texto) {
  if (texto == nullptr) texto = "";
  Trace(kTraceError, texto);
  platform::ShowMessageBox(texto, "ERROR", platform::kMbOk);
  char linea[kErrorLineSize];
  std::string alumno;
  {
    std::lock_guard<std::mutex> lock(g_student_mutex);
    alumno = g_student_name;
  }
  std::snprintf(linea, sizeof(linea), "[ERROR] -> '%s' error:'%s'\r", alumno.c_str(), texto);
  EscribirLog("ALLERROR.LOG", linea);
}

int OSAL::MostrarMensaje(const char* texto, const char* titulo, unsigned tipo) {
  return platform::ShowMessageBox(texto ? texto : "", titulo ? titulo : "", tipo);
}

void OSAL::EscribirLog(const char* fichero, const char* linea) {
  if (ehdd_client_ != nullptr) ehdd_client_->EscribirLog(fichero, linea);
}

// The caret operations act on the UNIT control's window; without one they do
// nothing.
void OSAL::CrearCaret() {
  platform::ui::IControlSite* window = UnitControlWindow();
  if (window == nullptr) return;
  window->SetFocus();
  window->DestroyCaret();
  window->CreateCaret(2, 19);
}

void OSAL::PosicionarCaret(uint16_t x, uint16_t y) {
  platform::ui::IControlSite* window = UnitControlWindow();
  if (window == nullptr) return;
  window->SetFocus();
  window->SetCaretPos(x, y);
}

void OSAL::MostrarCaret() {
  CrearCaret();
  platform::ui::IControlSite* window = UnitControlWindow();
  if (window == nullptr) return;
  window->SetFocus();
  window->ShowCaret();
}

void OSAL::OcultarCaret() {
  platform::ui::IControlSite* window = UnitControlWindow();
  if (window == nullptr) return;
  window->SetFocus();
  window->HideCaret();
}

platform::ui::CursorHandle OSAL::CambiarCursor(uint32_t cursor_id) {
  platform::ui::IControlSite* window = UnitControlWindow();
  if (window == nullptr) return 0;
  return window->SetCursor(cursor_id);
}

void OSAL::CopiarAUnicode(const char* texto, uint16_t* salida, size_t capacidad) {
  if (salida == nullptr || capacidad == 0) return;
  size_t i = 0;
  if (texto != nullptr) {
    for (; i + 1 < capacidad && texto[i] != '\0'; ++i) {
      salida[i] = static_cast<unsigned char>(texto[i]);
    }
  }
  salida[i] = 0;
}

// The unit loader: once the unit's stores are mounted it reads, on a thread
// of its own, the eight parts in order (the role-play file before the role
// play), the animation, the audit and the common skin, while the loading
// screen shows the progress. Every page waits for its part's flag.
//
// It runs once per unit and ends by itself. Whatever it meets (a lost
// connection included) it ends with its done flag set, so no wait on it
// hangs: the waits on its flags return once it does not run. A stop asked
// of it (PedirParada) is looked at between documents, pictures and reads:
// it then leaves at once, with the parts it has not read unflagged and,
// when the audit was not read, the audit refused without a box.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "base/ThreadRecord.h"
#include "platform/gfx/Colour.h"

class IDocumentoParte;
struct InstanciaAX;
struct SesionAX;

class ThreadCargaUnit {
 public:
  static constexpr const char* kNombresParte[8] = {"SITUATION", "STUDY",   "DICTATION", "ROLEPLAY",
                                                   "GRAMMAR",   "WRITING", "NEWWORDS",  "SPEAKING"};
  // The documents of the parts on drive U (the unit in place of %03u).
  static constexpr const char* kDocumentos[8] = {"CLA%03uSI.TAE", "CLA%03uST.TAE", "CLA%03uDI.TAE",
                                                 "CLA%03uRO.TAE", "CLA%03uGR.TAE", "CLA%03uWR.TAE",
                                                 "CLA%03uVO.TAE", "CLA%03uPR.TAE"};
  static constexpr uint32_t kColorTratado = 0xBFDFDF;
  static constexpr uint32_t kBytesLecturaSkin = 50000;
  static constexpr int kNumSkin = 40;
  static const char* const kSkin[kNumSkin];

  explicit ThreadCargaUnit(SesionAX& sesion);
  ~ThreadCargaUnit();
  ThreadCargaUnit(const ThreadCargaUnit&) = delete;
  ThreadCargaUnit& operator=(const ThreadCargaUnit&) = delete;

  // Makes the loader asleep; "ThreadCargaUnit creation failed." when it cannot.
  bool Crear();
  // Starts the load (once the stores are mounted and the loading screen asked for).
  void Despertar();
  // Waits until part n is loaded, or until the loader does not run (never
  // started, ended, never made), or until parar() holds (the waiter's own
  // stop); true when the part is loaded.
  bool EsperarParte(uint8_t parte, const std::function<bool()>& parar = {});
  // Asks the load to stop; it does not wait.
  void PedirParada();
  bool ParadaPedida() const {
    return parada_.load() != 0 || record_.Estado() == ThreadRecord::kParar;
  }
  // Waits (bounded) for the loader to end; one that was never started ends
  // at once.
  bool Terminar();

  // The load sequence, on the loader's thread (callable alone by a benchmark).
  void CargarUnit();

  // The global page numbering of the unit's record from its documents' page
  // counts, summed in int and capped at 255; true when a number was capped.
  static bool NumerarPaginas(InstanciaAX& instancia);
  static platform::gfx::COLORREF ColorDeNivel(uint8_t nivel);

  bool ParteCargada(uint8_t parte) const { return parte < 8 && parte_cargada_[parte].load() != 0; }
  bool AuditoriaCargada() const { return auditoria_cargada_.load() != 0; }
  bool Hecho() const { return hecho_.load() != 0; }
  uint8_t Unidad() const { return unidad_.load(); }
  platform::gfx::COLORREF ColorNivel() const { return color_nivel_.load(); }
  ThreadRecord& record() { return record_; }

 private:
  void Proc();
  void CargarParte(IDocumentoParte* documento, const std::string& nombre,
                   platform::gfx::COLORREF color);
  void CargarAnimacion();
  void CargarAuditoria();
  void PrecargarSkin(const char* carpeta);
  void PrecargarFichero(const std::string& path);
  void MarcarParte(uint8_t parte);
  // Leaves the load (by a throw Proc catches) once its stop is asked.
  void SeguirSiNoParada() const;
  bool Corriendo() const;

  SesionAX& sesion_;
  ThreadRecord record_;
  std::atomic<uint8_t> unidad_{0};
  std::atomic<uint32_t> color_nivel_{0};
  std::atomic<uint8_t> auditoria_cargada_{0};
  std::atomic<uint8_t> parte_cargada_[8] = {};
  std::atomic<uint8_t> hecho_{0};
  std::atomic<bool> despertado_{false};
  std::atomic<uint8_t> parada_{0};
  bool numeracion_limitada_ = false;
};

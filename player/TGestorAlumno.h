// The learner's audit of the current unit: the head of figures (study time,
// animation frames shown, a progress percentage per part, errors and answers
// per part), worked out from the records the unit's documents keep, saved
// with those records in the unit's audit file and read back at the next
// load.
//
// The audit is never lost: a file is read whole and checked before anything
// of it is applied; the main file falls back to its backup; a file that
// exists but cannot be read, or whose counts do not match the documents,
// refuses the audit for the session (fresh figures, nothing written back);
// saves go through the client's atomic save, backup first.
//
// The updates, the figure reads and the saves run under the session's audit
// lock (the callers hold it); the frame count is added from the page render
// without it. The documents' records are read and restored under the page
// lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "player/AuditoriaUnit.h"

struct AuditoriaDocumento;
struct SesionAX;

class TGestorAlumno {
 public:
  // What LeerAuditoria gives.
  static constexpr int16_t kLeida = 0;
  static constexpr int16_t kNoAbre = -2;        // the file does not exist
  static constexpr int16_t kVacia = -3;         // it has no byte
  static constexpr int16_t kDanada = -4;        // it is not a whole audit file
  static constexpr int16_t kDiscrepancia = -5;  // its counts differ from the documents'
  static constexpr int16_t kIlegible = -6;      // it exists but could not be read

  // What the unit's two files gave.
  enum class Origen { kPrincipal, kCopia, kPrimeraVez, kNueva, kRechazada };

  // Figures of one document's records.
  struct Estadisticas {
    int n = 0;                              // sound tags with a number
    int m = 0;                              // exercise tags
    uint8_t L = 0, R = 0, C = 0;            // sounds listened, recorded, compared (%)
    uint8_t S = 0, EL = 0, ER = 0, EC = 0;  // exercises solved, listened, recorded, compared
  };

  explicit TGestorAlumno(SesionAX& sesion);
  ~TGestorAlumno();
  TGestorAlumno(const TGestorAlumno&) = delete;
  TGestorAlumno& operator=(const TGestorAlumno&) = delete;

  // Study time 0, frames shown 10, every figure 0.
  void Iniciar();

  void ActualizarSituation();
  void ActualizarStudy();
  void ActualizarDictation();
  void ActualizarRoleplay();
  void ActualizarGrammar();
  void ActualizarWriting();
  void ActualizarNewwords();
  void ActualizarSpeaking();
  // The update of part 0-7 (others: nothing).
  void ActualizarParte(uint8_t parte);
  // The eight updates, then the study time.
  void ActualizarAuditoriaUnit();

  // Saves the audit to one file; nothing in navigation mode (true). False
  // when the save failed or the audit is refused this session.
  bool GuardarAuditoria(const char* path);
  // Saves "S:\C%03u\AUDIT.BKP", then "S:\C%03u\AUDIT.ALU", the same bytes,
  // stopping at the first failure, which shows one box.
  bool GuardarAuditoriaUnidad(uint8_t unidad);

  // Reads one file whole, checks it against the documents and, only when it
  // serves, applies it.
  int16_t LeerAuditoria(const char* path);
  // Reads the unit's main file and its backup and applies the one that
  // serves (the backup when it is the newer); shows the box the outcome
  // needs and refuses the audit when a file could not be read or did not
  // match.
  Origen LeerAuditoriaUnidad(uint8_t unidad);

  // One animation frame shown (from any thread).
  void SumarFrameMostrado() { frames_.fetch_add(1, std::memory_order_relaxed); }

  bool AuditoriaRechazada() const { return rechazada_.load(); }
  // Nothing of the audit is written this session.
  void RechazarAuditoria() { rechazada_.store(true); }

  CabeceraAuditoria Cabecera() const;
  uint8_t Progreso(uint8_t parte) const { return parte < 8 ? cabecera_.progreso[parte] : 0; }
  uint16_t Errores(uint8_t parte) const { return parte < 8 ? cabecera_.errores[parte] : 0; }
  uint16_t Respuestas(uint8_t parte) const { return parte < 8 ? cabecera_.respuestas[parte] : 0; }

  // The record a save writes now, and its bytes (taken in one copy).
  AuditoriaUnit Construir();
  std::string Bytes();

  static Estadisticas EstadisticasDocumento(const AuditoriaDocumento& auditoria);

 private:
  Estadisticas EstadisticasParte(uint8_t parte);
  // Errors and answers of the part's document into the head.
  void ContadoresDocumento(uint8_t parte);
  int16_t CargarFichero(const char* path, AuditoriaUnit* auditoria);
  void Aplicar(const AuditoriaUnit& auditoria);
  bool Guardar(const char* path, const std::string& bytes);

  SesionAX& sesion_;
  CabeceraAuditoria cabecera_;
  std::atomic<uint32_t> frames_{0};
  std::atomic<bool> rechazada_{false};
};

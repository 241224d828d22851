// The sentence audio player of a study session: plays a sentence's native
// recording, records the student saying it, compares the two (the student
// first, then the native), plays dictation sentences and speaking answers,
// runs the two role-play modes line by line, and counts listens, recordings
// and comparisons into the current document's records (each counter stops
// at 255).
//
// A small state machine driven by the region click handlers and by the end
// of each sound (FinAudio), which comes from the audio notifier thread. Every
// operation takes the session's page lock (IPaginaAudio::BloqueoPagina)
// first, so the notifier never runs beside a click or a render; that lock
// comes before TAudio's operation lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "media/IPaginaAudio.h"

class OSAL;
class TAudio;

class TGestorAudio {
 public:
  // States.
  static constexpr uint8_t kInactivo = 0;
  static constexpr uint8_t kFraseNativa = 1;
  static constexpr uint8_t kFraseArmada = 2;
  static constexpr uint8_t kCompararAlumno = 3;
  static constexpr uint8_t kCompararNativa = 4;
  static constexpr uint8_t kEjercicio = 5;
  static constexpr uint8_t kEjercicioArmado = 6;
  static constexpr uint8_t kDictado = 7;
  static constexpr uint8_t kRolePlayEspera = 8;
  static constexpr uint8_t kRolePlayGrabar = 9;
  static constexpr uint8_t kRolePlayAlumno = 10;
  static constexpr uint8_t kRespuesta = 11;
  // Sentence kinds.
  static constexpr uint8_t kTipoFrase = 1;
  static constexpr uint8_t kTipoFrasePrivada = 3;
  static constexpr uint8_t kTipoEjercicio = 4;

  static constexpr size_t kMaxNombreFrase = 14;
  static constexpr size_t kMaxCarpeta = 199;

  TGestorAudio() = default;
  ~TGestorAudio();
  TGestorAudio(const TGestorAudio&) = delete;
  TGestorAudio& operator=(const TGestorAudio&) = delete;

  void SetOSAL(OSAL* osal) { osal_ = osal; }
  void SetTAudio(TAudio* audio) { audio_ = audio; }
  void SetPaginaAudio(IPaginaAudio* pagina) { pagina_ = pagina; }
  // The current document's native, second (private, dictation, role play)
  // and student folders; each keeps at most 199 characters.
  void SetCarpetas(const char* nativa, const char* segunda, const char* alumno);
  // Called with +1 or -1 when a role play turns the page (the session's page
  // counter follows).
  void SetHookContadorPaginas(std::function<void(int paso)> hook);
  // Connects TAudio's end of playback to FinAudio; the destructor
  // disconnects it. Neither may be called with the page lock held.
  void ConectarFinAudio();

  void Iniciar();
  void PlayAudio(const char* nombre, uint8_t carpeta);
  void PlayFichero(const char* path);
  void StopAudio();
  void FinAudio();
  // The end of a playback as TAudio's notifier reports it: FinAudio, unless
  // a later start or a StopAudio came first (the end then belongs to what
  // was stopped, not to what the click set up after the stop).
  void FinAudioDeStream(uint32_t generacion);
  void IniciarComparar();
  void ContarComparacion();
  void ContarEscuchaEjercicio();
  void PlayRolePlayGrabar();
  void PlayRolePlayAlumno();
  void FinRolePlay();

  // The sentence state the region handlers set and read.
  uint8_t Estado() const { return estado_.load(); }
  void SetEstado(uint8_t estado) { estado_.store(estado); }
  bool Grabando() const { return grabando_.load() != 0; }
  void SetGrabando(bool grabando) { grabando_.store(grabando ? 1 : 0); }
  uint16_t IdFrase() const { return id_frase_.load(); }
  void SetIdFrase(uint16_t id) { id_frase_.store(id); }
  uint8_t TipoFrase() const { return tipo_frase_.load(); }
  void SetTipoFrase(uint8_t tipo) { tipo_frase_.store(tipo); }
  std::string NombreFrase() const;
  // Keeps at most 14 characters.
  void SetNombreFrase(const char* nombre);
  std::string CarpetaAlumno() const;
  std::string CarpetaNativa() const;
  std::string CarpetaSegunda() const;

 private:
  std::unique_lock<CriticalSection> Bloquear();
  // Adds one to a counter byte, saturating at 255; the new value, or 0 when
  // there is no record.
  uint8_t Contar(uint8_t* registro, size_t byte);
  void Repintar();
  // Finds the region of the role play's current line, turning pages as the
  // line numbers on them say; false when the line is on none of them.
  bool BuscarLineaRolePlay(EstadoRolePlay* rp);
  // The role play ends: state 0 and the context reset.
  void TerminarRolePlay(EstadoRolePlay* rp);
  void IniciarLineaAlumno();
  // The status icon shown at the line's left, (left - 35, top - 5).
  void MostrarIconoLinea(uint8_t icono, const EstadoRolePlay& rp);
  void PintarRespuesta();

  OSAL* osal_ = nullptr;
  TAudio* audio_ = nullptr;
  IPaginaAudio* pagina_ = nullptr;
  std::function<void(int)> hook_paginas_;
  CriticalSection propio_;  // the lock when there is no page side

  std::atomic<uint8_t> estado_{kInactivo};
  std::atomic<uint8_t> grabando_{0};
  std::atomic<uint16_t> id_frase_{0};
  std::atomic<uint8_t> tipo_frase_{0};
  // TAudio's generation at the last StopAudio (0: none; streams start at 1).
  std::atomic<uint32_t> generacion_parada_{0};
  mutable std::mutex textos_;
  std::string nombre_frase_;
  std::string carpeta_nativa_ = "AUDIO\\";
  std::string carpeta_segunda_;
  std::string carpeta_alumno_;
  bool conectado_ = false;
};

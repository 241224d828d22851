// The lesson manager: one per study session. It owns the session's media
// managers, the text styles every formatter lays pages out with, the three
// work contexts shared by the formatters, the hit regions and the sentence
// audio manager, the two subtitle dictionaries of the unit's animation, the
// current formatter, and the learner's study-time counters. It reads the
// unit's role-play file, makes the formatters and turns the learner's keys
// into codes for the current one.
//
// Media managers. Iniciar makes the sound stream (TAudio) and the sentence
// audio manager (TGestorAudio); the page reaches them through IAudioPagina
// and reaches the animation through IAnimPagina. Either seam may be
// replaced (tests and tools) or be missing: without one every call is
// skipped and every flag reads 0.
//
// The page lock. The session's one recursive page lock is given before
// Iniciar (a manager without one uses its own). Every render, partial
// redraw, mouse event and key takes it through Bloqueo. Like every engine
// lock it is a counted CriticalSection: a box the page asks for while this
// thread holds one (MostrarError) is shown by this thread once it holds
// none, since a box waits for the GUI thread, which may itself be waiting
// for the lock to hand over a button-up.
//
// Threads. Styles are registered by the unit loader while pages are drawn
// on other threads: the style list has a lock (counted too: the full list's
// box is asked for under it). The dictionaries are
// published once loaded. The study-time counters are atomic (the host's
// thread and the audio notifier both record actions). The busy byte is
// shared by the page render and the mouse handling.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/IAudioAnim.h"
#include "media/IPaginaAudio.h"
#include "media/ISubtitulosAnim.h"
#include "platform/gfx/Surface.h"
#include "player/ContextosTAE.h"
#include "player/ESTILO_TAE.h"
#include "player/IAnimPagina.h"
#include "player/IAudioPagina.h"

class AudioDevice;
class OSAL;
class TAudio;
class TEHDDClient;
class TFormatae;
class TGestorAnim;
class TGestorAudio;
class TGestorBMP;
class TGestorGDI;
class TListaStrings;
struct ThreadPeriodicEventsRec;

// The session's OSAL object, or a process-wide one when none was given, so
// tagged memory and error boxes always have an object to go through.
OSAL& OSALDeSesion(OSAL* osal);

class TGestorTAE {
 public:
  static constexpr uint16_t kMaxEstilos = 100;
  // Actions less than this apart count as study time; longer gaps as idle.
  static constexpr uint32_t kMsActivo = 30000;
  // What CodigoTecla gives for a key that passes nothing.
  static constexpr int32_t kSinCodigo = -1;

  TGestorTAE() = default;
  ~TGestorTAE();
  TGestorTAE(const TGestorTAE&) = delete;
  TGestorTAE& operator=(const TGestorTAE&) = delete;

  // Set by the session before Iniciar.
  void SetOSAL(OSAL* osal) { osal_ = osal; }
  void SetGestorGDI(TGestorGDI* gdi) { gdi_ = gdi; }
  void SetEHDDClient(TEHDDClient* ehdd) { ehdd_ = ehdd; }
  // Set by the session once the periodic-screens thread exists.
  void SetThreadPeriodicEvents(ThreadPeriodicEventsRec* record) { periodic_ = record; }
  // The session's navigation mode: keys and study time do nothing in it.
  void SetModoNavegacion(bool activo) { navegacion_.store(activo); }
  bool ModoNavegacion() const { return navegacion_.load(); }

  // The session's page lock (before Iniciar; null: the manager's own).
  void SetCerrojoPagina(CriticalSection* cerrojo) { cerrojo_ = cerrojo ? cerrojo : &propio_; }
  CriticalSection& CerrojoPagina() const { return *cerrojo_; }
  // The sound device TAudio opens its streams on (before Iniciar; null:
  // the process's default, which LECTORIA_AUDIO chooses).
  void SetDispositivoAudio(AudioDevice* dispositivo) { dispositivo_ = dispositivo; }

  // Holds the page lock for a scope. Without esperar it only tries, and
  // Tomado() says whether it got it. A null manager locks nothing. The
  // second form holds the session's page lock itself (before or without a
  // manager), counted the same.
  class Bloqueo {
   public:
    explicit Bloqueo(TGestorTAE* tae, bool esperar = true);
    Bloqueo(CriticalSection& cerrojo, bool esperar);
    ~Bloqueo();
    Bloqueo(const Bloqueo&) = delete;
    Bloqueo& operator=(const Bloqueo&) = delete;
    bool Tomado() const { return tomado_; }

   private:
    void Tomar(bool esperar);
    CriticalSection* cerrojo_;
    bool tomado_ = false;
  };

  // An error box ("ERROR"): shown now, or when this thread lets go of its
  // last engine lock.
  void MostrarError(const char* texto);
  // Kept for callers that waited for boxes put off: they are shown by the
  // asking thread as it releases its locks, so this gives true at once.
  bool EsperarMensajes(uint32_t timeout_ms);

  // Creates the style list, the contexts and the media managers.
  void Iniciar();

  // Styles. RegistrarEstilo gives the index of the first record equal to
  // the style (all bytes), appending it when there is none; when the list's
  // 100 records are taken it gives 0 and reports the full list once.
  uint16_t RegistrarEstilo(const ESTILO_TAE& estilo);
  void VaciarEstilos();
  const ESTILO_TAE& EstiloPorDefecto() const { return estilo_defecto_; }
  // A copy of record `indice`; the default style outside the list.
  ESTILO_TAE Estilo(uint16_t indice) const;
  uint16_t NumEstilos() const;
  // The default style's values, before any manager exists.
  static ESTILO_TAE EstiloInicial();

  // Reads the unit's role-play file into conrolplay; false when it cannot
  // be opened. A refused count stops the reading with its message (true).
  bool LeerRolePlay(const char* path);

  void CambiarFormateador(TFormatae* formateador);
  void SoltarFormateador();
  TFormatae* FormateadorActual() const { return actual_.load(); }

  // A key press: the virtual key of the keyboard.
  void TeclaPulsada(uint16_t tecla);
  // The code a key passes to the current formatter, or kSinCodigo.
  int32_t CodigoTecla(uint16_t tecla) const;

  // Study time.
  void ActivarTiempo();
  // Hours (at most 99) and minutes of the study time; 1 while the last
  // action is less than 30 s old.
  uint8_t TiempoEstudio(uint8_t& horas, uint8_t& minutos) const;
  void SetTiempoAlmacenado(uint32_t ms) { tiempo_almacenado_.store(ms); }
  uint32_t TiempoAlmacenado() const { return tiempo_almacenado_.load(); }
  uint32_t TiempoActivo() const { return tiempo_activo_.load(); }
  uint32_t TiempoInactivo() const { return tiempo_inactivo_.load(); }

  // Subtitle dictionaries of the unit's animation folder.
  void CargarDiccionarios(const char* carpeta);
  TListaStrings* DiccionarioActual() const { return diccionario_actual_.load(); }
  void SetDiccionarioActual(TListaStrings* lista) { diccionario_actual_.store(lista); }
  TListaStrings* DiccionarioUK() const { return diccionario_uk_.load(); }
  TListaStrings* DiccionarioES() const { return diccionario_es_.load(); }
  // Makes nuevo the current dictionary when actual still is; false when
  // another thread changed it first (the animation's subtitle button and a
  // load may race).
  bool CambiarDiccionarioActual(const TListaStrings* actual, const TListaStrings* nuevo);

  // The busy byte: set while a page is drawn or a mouse event handled.
  void SetOcupado(uint8_t valor) { ocupado_.store(valor); }
  uint8_t Ocupado() const { return ocupado_.load(); }

  // The seams of the page to sound and animation; never null (a missing
  // one is a stand-in that does nothing and reads 0).
  IAudioPagina& AudioPagina() const;
  IAnimPagina& AnimPagina() const;
  // The stand-ins themselves.
  static IAudioPagina& SinAudio();
  static IAnimPagina& SinAnim();
  // Replaces a seam (null: none).
  void SetAudioPagina(IAudioPagina* audio) { audio_pagina_.store(audio); }
  void SetAnimPagina(IAnimPagina* anim) { anim_pagina_.store(anim); }
  // What the sentence audio manager reaches of the page.
  IPaginaAudio* PaginaAudio() const { return pagina_audio_.get(); }

  // A decoded skin image kept for the session: made by `decodificar` the
  // first time (null: the image is missing or bad). *nueva tells whether
  // this call made it.
  const platform::gfx::Surface* ImagenSesion(
      const std::string& path,
      const std::function<std::unique_ptr<platform::gfx::Surface>()>& decodificar, bool* nueva);

  OSAL* GetOSAL() const { return osal_; }
  TGestorGDI* GetGestorGDI() const { return gdi_; }
  TEHDDClient* GetEHDDClient() const { return ehdd_; }
  TGestorBMP* GetGestorBMP() const { return bmp_; }
  TAudio* GetAudio() const { return audio_; }
  TGestorAudio* GetGestorAudio() const { return gestor_audio_; }
  TGestorAnim* GetGestorAnim() const { return gestor_anim_; }
  // Ends the animation player ahead of the manager, for an owner whose
  // objects it reaches (a progress byte) go first; GetGestorAnim() is null
  // after. Without the page lock, which the player's tick takes.
  void TerminarAnim() { DestruirAnim(); }
  // The animation's loader asked to stop, nothing destroyed (a close).
  void PararCargaAnim();
  ThreadPeriodicEventsRec* GetThreadPeriodicEvents() const { return periodic_; }
  CON_EJESCRITO* ConEjEscrito() const { return conejescrito_; }
  CON_ROLPLAY* ConRolPlay() const { return conrolplay_; }
  CON_SPEAK* ConSpeak() const { return conspeak_; }

 private:
  void CrearConEjEscrito();
  void CrearConRolPlay();
  void CrearConSpeak();
  void* Pedir(uint32_t size, const char* tag);
  void Liberar(void* bloque, const char* tag);
  void Error(const char* texto);
  uint8_t TeclaVirtualAAscii() const;
  void CrearAudio();
  void DestruirAudio();
  void CrearAnim();
  void DestruirAnim();

  std::atomic<uint8_t> ocupado_{0};
  TGestorAudio* gestor_audio_ = nullptr;
  TAudio* audio_ = nullptr;
  TGestorBMP* bmp_ = nullptr;
  TGestorAnim* gestor_anim_ = nullptr;

  ESTILO_TAE* bufcformatae_ = nullptr;
  uint16_t num_estilos_ = 0;
  bool estilos_llenos_informado_ = false;
  mutable CriticalSection estilos_;
  ESTILO_TAE estilo_defecto_ = EstiloInicial();

  CON_EJESCRITO* conejescrito_ = nullptr;
  CON_ROLPLAY* conrolplay_ = nullptr;
  CON_SPEAK* conspeak_ = nullptr;

  std::atomic<TListaStrings*> diccionario_actual_{nullptr};
  std::atomic<TListaStrings*> diccionario_uk_{nullptr};
  std::atomic<TListaStrings*> diccionario_es_{nullptr};
  // Dictionaries a later load replaced, kept until the end of the session
  // because a reader may still hold them.
  std::vector<TListaStrings*> diccionarios_retirados_;
  std::mutex diccionarios_;

  std::atomic<TFormatae*> actual_{nullptr};

  std::atomic<uint32_t> tiempo_almacenado_{0};
  std::atomic<uint32_t> tiempo_activo_{0};
  std::atomic<uint32_t> tiempo_inactivo_{0};
  std::atomic<uint32_t> ultima_accion_{0};
  std::atomic<bool> navegacion_{false};

  OSAL* osal_ = nullptr;
  TGestorGDI* gdi_ = nullptr;
  TEHDDClient* ehdd_ = nullptr;
  ThreadPeriodicEventsRec* periodic_ = nullptr;

  CriticalSection propio_;
  CriticalSection* cerrojo_ = &propio_;
  AudioDevice* dispositivo_ = nullptr;
  std::unique_ptr<IPaginaAudio> pagina_audio_;
  std::unique_ptr<IAudioPagina> audio_gestor_;  // the seam over gestor_audio_
  std::atomic<IAudioPagina*> audio_pagina_{nullptr};
  std::atomic<IAnimPagina*> anim_pagina_{nullptr};
  std::unique_ptr<IAudioAnim> audio_anim_;       // the animation's sound on audio_
  std::unique_ptr<ISubtitulosAnim> subtitulos_;  // the dictionaries, for the animation
  std::unique_ptr<IAnimPagina> anim_gestor_;     // the seam over gestor_anim_

  std::mutex imagenes_mutex_;
  std::map<std::string, std::unique_ptr<platform::gfx::Surface>> imagenes_;
};

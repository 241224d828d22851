// The animated dialogue of a unit: sprite pictures over a background in a
// 550 x 412 drawing area of the page, one frame every 200 ms of the
// dialogue sound, which paces the frames.
//
// An animation is a folder holding its description (DEFANIM.TXT: size,
// backgrounds and sprite groups called casts), its score (SCORE.VM: per
// frame the background, the sprite of each cast and the dialogue section),
// its recap points (JUMPS.TXT), the pictures FONDO<k>.PNG and
// CAST<background>_<cast>_<sprites>.PNG and the sound DIALOGO.OGG.
// CargarAnim reads the three description files on the caller's thread and
// then starts the loader thread (ThreadCargaAnim), which decodes the
// pictures while the animation is stopped and reads the sound once through.
//
// Threads: the session timer calls TimerTicAnim on the GUI thread; the page
// buttons call the play operations; all of them take the page lock (a
// recursive lock the session gives, or one of the object's own). The loader
// fills the image table beside them: every entry, cast and background is
// published by its loaded flag (release) and read only after it (acquire).
//
// Failures never end the process: a description that cannot be used shows
// one box and CargarAnim returns -1; the unit goes on without animation.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/CriticalSection.h"
#include "base/TGestorGDI.h"

class IAudioAnim;
class ISubtitulosAnim;
class OSAL;
class TEHDDClient;
class TGestorBMP;
class ThreadCargaAnim;
struct TGestorAnimTestAccess;

// A background of the description (numbered from 1).
struct FondoAnim {
  uint8_t tipo = 0;                 // 1 PL, 2 PM, 3 PC, 4 PCC, 5 PE
  uint8_t prioridad = 0;            // 1 loaded first, 0 after, others never
  std::atomic<uint16_t> imagen{0};  // its image entry once loaded (0 none)
  uint8_t num_casts = 0;
  uint8_t casts[13] = {};  // cast numbers, in the order listed
};

// A cast: a group of sprites of one size at one place (numbered from 2).
struct CastAnim {
  int16_t x = 0;
  int16_t y = 0;
  int16_t ancho = 0;  // of one sprite
  int16_t alto = 0;
  uint8_t num_sprites = 0;
  std::atomic<uint16_t> primera_imagen{0};  // entry of sprite 1
  std::atomic<uint8_t> cargado{0};          // 1 once its sprites are in the table
  uint8_t id_fondo = 0;                     // background number in its picture's name
};

// One picture of the image table. A picture that could not be used is an
// entry flagged loaded without a bitmap: it draws nothing.
struct ImagenAnim {
  std::atomic<uint8_t> cargado{0};
  int16_t ancho = 0;
  int16_t alto = 0;
  HBITMAP bitmap = nullptr;
};

// Why the description was refused.
struct ErrorAnim {
  enum Score : uint8_t { kScoreBien = 0, kScoreNoAbre, kScoreCorto, kScoreVersion, kScoreFrames };
  std::string fichero;  // "DEFANIM.TXT" or "SCORE.VM"; empty: no refusal
  uint32_t linea = 0;   // line of a DEFANIM.TXT error; 0 when it has none
  std::string texto;    // the text shown for a DEFANIM.TXT error
  Score score = kScoreBien;
};

// A picture the loader reads, in the order it reads them.
struct ImagenPlan {
  std::string nombre;  // "FONDO1.PNG", "CAST1_02_05.PNG"
  uint32_t ancho = 0;  // the size the description gives it (a strip: n x w)
  uint32_t alto = 0;
};

class TGestorAnim {
 public:
  static constexpr uint16_t kAnchoArea = 550;
  static constexpr uint16_t kAltoArea = 412;
  static constexpr uint16_t kAreaX = 65;
  static constexpr uint16_t kAreaY = 13;
  static constexpr uint8_t kMaxFondos = 14;
  static constexpr uint8_t kMaxCastsFondo = 13;
  static constexpr uint8_t kPrimerCast = 2;
  static constexpr uint8_t kUltimoCast = 31;
  static constexpr uint8_t kMaxCasts = 30;
  static constexpr uint8_t kPistas = 32;
  static constexpr uint16_t kMaxFrames = 2030;
  static constexpr uint16_t kFramesVM01 = 1500;
  static constexpr uint16_t kMaxJumps = 300;
  static constexpr uint16_t kEntradasImagen = 500;  // entry 0 is never used
  static constexpr uint16_t kMaxImagenes = kEntradasImagen - 1;
  static constexpr uint32_t kMsPorFrame = 200;
  // Ticks a started sound may take to play its first buffer before the
  // animation gives up and closes.
  static constexpr uint32_t kTicksSinAudio = 100;
  // Longest name or value of a description line, and of a block name.
  static constexpr size_t kMaxTexto = 63;

  using PintarBarraAnimHook = std::function<void(uint16_t frame, uint16_t frames)>;

  TGestorAnim();
  // Stops the loader (waking it when it never ran), frees the drawing area
  // and every picture. Returns promptly, also while playing.
  ~TGestorAnim();
  TGestorAnim(const TGestorAnim&) = delete;
  TGestorAnim& operator=(const TGestorAnim&) = delete;

  // Collaborators, given before Iniciar.
  void SetOSAL(OSAL* osal) { osal_ = osal; }
  void SetGestorGDI(TGestorGDI* gdi) { gdi_ = gdi; }
  void SetEHDDClient(TEHDDClient* ehdd) { ehdd_ = ehdd; }
  void SetAudio(IAudioAnim* audio) { audio_ = audio; }
  void SetGestorBMP(TGestorBMP* bmp) { bmp_ = bmp; }
  void SetSubtitulos(ISubtitulosAnim* subtitulos) { subtitulos_ = subtitulos; }
  // The session's page lock; null: the object's own.
  void SetCerrojoPagina(CriticalSection* cerrojo);
  // Called after each frame shown, with the frame and the frame count, under
  // the page lock (the page draws its progress bar and subtitle).
  void SetPintarBarraAnim(PintarBarraAnimHook hook);
  // The load progress byte of the loading screen, read when the loader
  // starts; null: none.
  void SetProgreso(std::atomic<uint8_t>* progreso);

  // Clears the state, takes the drawing area (black) on the unit's control
  // window and makes the loader thread, asleep. False when the thread or the
  // tables could not be made (reported); the object then loads nothing.
  bool Iniciar();

  // Reads the three description files of the folder and starts the loader.
  // 0: the loader runs and Cargada() will become 1 whatever it meets; -1:
  // the animation is refused (a box says why, Error() too) and will never
  // be loaded. Only the first call loads; later ones return -1. A lost
  // connection (the eHDD client's thrown text) leaves with the files closed
  // and nothing started.
  int CargarAnim(const char* folder);
  // Waits until the loader has finished; true when the animation is loaded.
  // Returns at once when it never will be (refused, no loader).
  bool EsperarCarga(uint32_t timeout_ms);
  // Asks the loader to stop (the session is closing) without waiting: it
  // leaves at its next picture or read, and EsperarCarga returns.
  void PedirParadaCarga();

  // The frame step of the 50 ms session timer.
  void TimerTicAnim();
  void PlayAnim(uint16_t frame);
  void PauseAnim();
  void RecapAnim();
  void CloseAnim();
  // Figure of the dialogue sound's load, 100 once complete.
  uint8_t ActualizarPorcentajeAudio();
  // Load of the backgrounds loaded after the first ones (100 when done).
  uint8_t PorcentajeCarga();
  // Load of the first (priority 1) backgrounds; the animation plays at 100.
  uint8_t PorcentajeBasico() const;
  // Subtitles: none -> UK -> ES -> none.
  void CambiarSubtitulos();
  // Draws the background in force at the current frame into the slot at
  // (x, y), when the animation is loaded and that picture is.
  void PintarFondo(uint16_t slot, uint16_t x, uint16_t y);

  bool Cargada() const;
  bool Parada() const;
  uint16_t NumFrames() const;
  // The dialogue section of the frame; 0 past the frame count.
  uint16_t Seccion(uint16_t frame) const;
  uint16_t FrameActual() const;

  // The description readers CargarAnim runs, in this order (0, or -1 when
  // the file is refused).
  int LeerDefAnim(const char* path);
  int LeerScore(const char* path);
  int LeerJumps(const char* path);

  // What the description holds, for the page and the tools.
  const ErrorAnim& Error() const { return error_; }
  int16_t AnchoFondo() const { return d_->ancho; }
  int16_t AltoFondo() const { return d_->alto; }
  uint8_t NumFondos() const { return d_->num_fondos; }
  uint8_t NumCasts() const { return d_->num_casts; }
  // Background k (1..14) and cast c (2..31); others give an empty record.
  const FondoAnim& Fondo(uint8_t k) const;
  const CastAnim& Cast(uint8_t c) const;
  // The score's version text ("VM02.00") and track t (0..31) at a frame.
  std::string VersionScore() const;
  uint8_t Pista(uint8_t t, uint16_t frame) const;
  uint16_t NumJumps() const { return num_jumps_; }
  uint16_t Jump(uint16_t i) const { return i < num_jumps_ ? jumps_[i] : 0; }
  // Entries the pictures fill: one per background that is loaded, plus the
  // sprites of each defined cast listed under it, per listing.
  uint32_t ContarImagenes() const;
  // The pictures the loader reads, in its order (a cast listed twice comes
  // twice).
  std::vector<ImagenPlan> PlanDeCarga() const;
  // The drawing area's slot.
  uint16_t Area() const { return area_; }
  // Since the last PlayAnim: the background last drawn and the sprite last
  // drawn of cast c (0: none), a picture without bitmap included.
  uint8_t UltimoFondoDibujado() const;
  uint8_t UltimoSpriteDibujado(uint8_t c) const;

  // A JUMPS.TXT line as the reader takes it: true with the value when it
  // holds a number (as atoi reads it) from 0 to 65535.
  static bool ValorJump(const char* linea, uint16_t& valor);
  // Picture names inside the folder.
  static std::string NombreFondo(uint8_t k);
  static std::string NombreCast(uint8_t id_fondo, uint8_t c, uint8_t sprites);

 private:
  friend class ThreadCargaAnim;
  friend struct TGestorAnimTestAccess;

  // What the loader thread shares with the player. It outlives the object
  // when a loader does not stop in time.
  struct Compartido {
    std::atomic<uint8_t> cargada{0};
    std::atomic<uint8_t> parada{1};
    std::atomic<uint8_t> porcentaje_basico{0};
    std::atomic<uint8_t> porcentaje_resto{0};
    std::atomic<uint8_t> porcentaje_audio{0};
    std::atomic<uint8_t> fondo_cargando{0};
    std::atomic<uint8_t> cast_cargando{0};
    std::atomic<uint32_t> bytes_dialogo{0};
    std::atomic<uint32_t> longitud_dialogo{0};
    std::atomic<uint16_t> num_imagenes{1};
    std::atomic<std::atomic<uint8_t>*> progreso{nullptr};
    // Told after each change of a load figure (tests watch the loader's
    // steps with it); set before the loader starts.
    std::function<void()> observador;
    ImagenAnim imagenes[kEntradasImagen];
    // The description, written by CargarAnim before the loader starts.
    std::string carpeta;
    int16_t ancho = 0;
    int16_t alto = 0;
    uint8_t num_fondos = 0;
    uint8_t num_casts = 0;
    FondoAnim fondos[kMaxFondos + 1];
    CastAnim casts[kUltimoCast + 1];
  };

  class Lector;

  // A refusal of DEFANIM.TXT: the box, the record, -1.
  int Rechazar(uint32_t linea, const std::string& texto);
  // One name=value line (-1: refused as unreadable).
  int LeerAtributo(Lector& lector, std::string& nombre, std::string& valor, uint32_t& linea);
  // A line that must be named nombre, with a number from minimo to maximo.
  int LeerNumero(Lector& lector, const char* nombre, int64_t minimo, int64_t maximo,
                 int64_t& valor);
  int LeerCabecera(Lector& lector);
  int LeerFondos(Lector& lector);
  int LeerCasts(Lector& lector);
  void BorrarDescripcion();
  void BorrarScore();

  CriticalSection& Cerrojo() const { return cerrojo_ != nullptr ? *cerrojo_ : propio_; }
  bool FondoDibujable(uint8_t k) const;
  bool CastDibujable(uint8_t c) const;
  // Track values as the player takes them: what it cannot draw counts as 0.
  uint8_t FondoEn(uint16_t frame) const;
  uint8_t SpriteEn(uint8_t c, uint16_t frame) const;
  void DibujarFondo(uint8_t k);
  void DibujarSprite(uint8_t c, uint8_t s);
  void DibujarFrame(uint16_t frame);
  void RestaurarEscena(uint16_t frame);
  uint16_t InicioRecap(uint16_t frame) const;
  void CloseAnimBloqueado();
  void PlayAnimBloqueado(uint16_t frame);

  OSAL* osal_ = nullptr;
  TGestorGDI* gdi_ = nullptr;
  TEHDDClient* ehdd_ = nullptr;
  IAudioAnim* audio_ = nullptr;
  TGestorBMP* bmp_ = nullptr;
  ISubtitulosAnim* subtitulos_ = nullptr;
  CriticalSection* cerrojo_ = nullptr;
  mutable CriticalSection propio_;
  std::mutex hook_mutex_;
  PintarBarraAnimHook hook_;

  std::shared_ptr<Compartido> d_;
  std::unique_ptr<ThreadCargaAnim> carga_;
  uint16_t area_ = TGestorGDI::kBufferInvalido;
  std::atomic<bool> carga_pedida_{false};
  std::atomic<bool> carga_iniciada_{false};
  ErrorAnim error_;

  // Play state, under the page lock.
  uint32_t siguiente_ms_ = 0;
  uint16_t frame_actual_ = 0;
  uint16_t frame_fin_ = 0;
  uint8_t resync_ = 0;
  uint32_t ticks_sin_audio_ = 0;
  std::atomic<uint8_t> ultimo_fondo_{0};
  std::atomic<uint8_t> ultimo_sprite_[kUltimoCast + 1] = {};

  // The rest of the description.
  bool cabecera_leida_ = false;
  bool cast_listado_[kUltimoCast + 1] = {};  // under a background that is loaded
  char version_score_[8] = {};
  std::atomic<uint16_t> num_frames_{0};    // published after the tracks
  std::unique_ptr<uint8_t[]> pistas_;      // kPistas x kMaxFrames
  std::unique_ptr<uint16_t[]> secciones_;  // kMaxFrames
  uint16_t jumps_[kMaxJumps] = {};
  uint16_t num_jumps_ = 0;
};

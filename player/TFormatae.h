// The TAE formatter: one lesson document (one unit part, or the mini-course
// page), its page table and its statistics, and the layout that draws its
// pages into the page back buffer.
//
// A TAE document is 8-bit text with inline tags: '<', a keyword, ':', a
// parameter list split at ',' and '>'. Reading it (TFormatae_reader.cpp)
// drops the CR bytes (and rewrites the speaking part's tags); the pre-pass
// (Preformatear) measures every line, counts every tag and cuts the text
// into pages at each SALTOPAG; PintarPagina lays a page out again line by
// line and draws it.
//
// Layout. Both passes use one line walker (TFormatae_layout.cpp). A line is
// first measured on a scratch copy of the style, which decides where it
// ends; then the same walk runs again on the real style up to that end,
// counting tags (pre-pass) or drawing runs and calling tag handlers
// (drawing pass). So a word carried to the next line takes its tags with it
// and no tag is applied, counted or drawn twice.
//
// Keywords. Every keyword has one row in the table of TFormatae_tags.cpp:
//   - its layout effect (style change, extra advance, page break, or a
//     failure whose parameters are then laid out as text), shared by the
//     measuring and both committing walks;
//   - its counter in the document's AUDIT_TAE, bumped by the pre-pass;
//   - its drawing handler, a member run by the drawing pass right after the
//     effect was applied (the pending run is already drawn, itae holds the
//     pen, the line's y and the style in force). Handlers of keywords that
//     draw images or register hit regions are added to that row.
//
// Hooks of the drawing pass for page features (each a member with its
// place in the walk):
//   - PrepararPagina: ReiniciarContextosPagina (exercise and speaking
//     contexts, the status icon, the caret), BorrarRegionesPagina (hit
//     regions of the page);
//   - each line: ContinuarRegion at its start, CerrarRegionLinea at its end;
//   - GrabarTexto: every run before it is drawn (or hidden, itae's
//     ocultar_texto), to record exercise and speaking characters;
//   - FinPintarPagina: PintarHuecos (gaps and the difficulty button).
//
// Page features. The handlers of SONIDO, BITMAPF, BOTON, ROLPLAY, FSPEAK
// and ASPEAK, the page requests, the status icon and the animation bar are
// in TFormatae_drawing.cpp; EJESCRITO, HUECO, the gaps, the caret, the keys
// and the checking of answers in TFormatae_exercises.cpp.
//
// Threads. Every page request, render, partial redraw and key takes the
// session's page lock (through the lesson manager), so a page is drawn by
// one thread at a time; a box asked for meanwhile is shown once the lock is
// released. Formatters share the lesson manager's style list, which has its
// own lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/CodePage.h"
#include "platform/gfx/Colour.h"
#include "platform/gfx/Surface.h"
#include "player/AUDIT_TAE.h"
#include "player/ContextosTAE.h"
#include "player/ESTILO_TAE.h"

class OSAL;
class TEHDDClient;
class TGestorAnim;
class TGestorAudio;
class TGestorBMP;
class TGestorGDI;
class TGestorTAE;
class TRectangulosVirtuales;
class IAudioPagina;
class IAnimPagina;
struct RECT_VIRTUAL;
struct EJE_PANTALLA;

constexpr int kMaxPaginasTAE = 40;
// Larger documents are refused (their size + 1 would not be a sane buffer).
constexpr uint32_t kMaxDocumentoTAE = uint32_t{16} << 20;
// Bytes of a parameter list.
constexpr uint16_t kMaxParametrosTAE = 255;
constexpr int kCarpetaTAE = 200;
constexpr int kNumClavesTAE = 19;
// Line counters of the page table saturate here.
constexpr int16_t kMaxLineasPaginaTAE = 32767;
// The advance given to an unknown keyword.
constexpr int32_t kAvanceDesconocido = 255;

struct PAGINA_TAE {
  const char* texto;  // first character of the page
  int16_t lineas;     // lines measured on the page by the pre-pass
  uint16_t estilo;    // index of the page's starting style in the style list
};

// The document state.
struct FTAE {
  char* doctae;       // the text, NUL-terminated, CRs removed
  uint32_t longitud;  // bytes of doctae before its terminating NUL
  int16_t ancho_superficie, alto_superficie;
  int16_t area_x, area_y, area_ancho, area_alto;
  int16_t ventana_x, ventana_y;  // added to area positions for the caret
  PAGINA_TAE* paginas;           // kMaxPaginasTAE entries
  int16_t num_paginas;
  platform::gfx::COLORREF color_pagina;   // the surface is cleared to it
  platform::gfx::COLORREF color_tratado;  // background of compared sounds and exercises
  platform::gfx::COLORREF color_nivel;    // background of an exercise's solution line
  AUDIT_TAE audit;
  uint16_t respuestas, errores;
  struct ITAE* itae;
  char carpeta_skin[kCarpetaTAE];         // buttons and boxes, names under COMUN\ .
  char carpeta_skin_unidad[kCarpetaTAE];  // pictures of BITMAPF
  char carpeta_audio_nativo[kCarpetaTAE];
  char carpeta_audio_privado[kCarpetaTAE];
  char carpeta_alumno[kCarpetaTAE];
  uint8_t icono_visible;
  int16_t icono_x, icono_y;
  char icono[kCarpetaTAE];
  int16_t slot_pagina;   // TGestorGDI slot of the page back buffer (-1: none)
  int16_t slot_guardar;  // 100 x 100 scratch slot under the status icon
};

// The layout state.
struct ITAE {
  ESTILO_TAE estilo;    // the style in force
  uint8_t* tabtamchar;  // widths of its font
  platform::gfx::COLORREF fondo_guardado;
  // The pending run: bytes of the text not drawn yet, where they start.
  int32_t run_x;  // area x + pen where the run starts
  int32_t run_y;  // the line's y
  const char* run;
  uint32_t run_longitud;
  uint8_t run_volcado;     // a run was drawn since the line or tag began
  uint8_t run_doble;       // the run holds double-byte pairs
  int32_t pen;             // x offset within the line of the next character
  uint8_t inicio_parrafo;  // the line is the first of its paragraph
  uint8_t ultima_pagina;   // laying out the last page of the table: page breaks end lines only
  uint16_t pagina_actual;
  int16_t lineas_pagina;
  uint16_t region_abierta;
  uint16_t region_ejercicio;
  uint8_t region_abierta_flag;
  uint16_t sonando;  // sound or exercise whose native audio plays
  uint16_t ejercicio_actual;
  uint8_t en_hueco, ocultar_texto, indice_grabado, longitud_hueco;
  int16_t respuesta_speak;
  uint8_t doble;  // a double-byte run is being laid out
};

// A point of the text where layout goes on: a byte offset, and whether the
// bytes there go in double-byte pairs.
struct PosicionTAE {
  uint32_t offset = 0;
  bool doble = false;
  bool operator==(const PosicionTAE&) const = default;
};

// The keywords, in the order the drawing pass tries them.
enum ClaveTAE : uint8_t {
  kClaveColor,
  kClaveNegrita,
  kClaveCursiva,
  kClaveSubrayado,
  kClaveSaltoPag,
  kClaveTamano,
  kClaveTabulador,
  kClaveColorF,
  kClaveInterlinea,
  kClaveSonido,
  kClaveEjEscrito,
  kClaveHueco,
  kClaveBitmapF,
  kClaveBoton,
  kClaveRolPlay,
  kClaveFSpeak,
  kClaveASpeak,
  kClaveInvisible,
  kClaveFont,
};

// A tag of the text: '<', a keyword, ':', at most 255 parameter bytes
// (no LF, NUL or '<') and '>'.
struct TagTAE {
  ClaveTAE clave;
  uint32_t inicio;      // offset of '<'
  uint32_t parametros;  // offset of the first parameter byte
  uint16_t longitud;    // bytes of the parameter list
  uint32_t fin;         // offset after '>'
  bool abre_doble;      // FONT with the list CHINO: pairs follow
};

// One parameter of a tag's list.
struct CampoTAE {
  const char* bytes = nullptr;
  uint16_t longitud = 0;
  bool existe = false;
};

// What the static reading of a text is made of.
struct ElementoTAE {
  enum Tipo : uint8_t { kTexto, kTexto2, kLF, kTab, kTag, kDesconocido };
  Tipo tipo;
  uint32_t inicio;
  uint32_t longitud;
  TagTAE tag;  // kTag only
};

enum class TipoEfecto : uint8_t { kNinguno, kAvance, kSaltoPagina, kFallo };

// Texts the layout reports, each at most once per document load.
enum MensajeTAE : uint8_t {
  kMensajeNinguno,
  kMensajeDesconocido,
  kMensajeColor,
  kMensajeFont,
  kMensajePaginas,
  // Reported by the drawing pass only.
  kMensajeSonido,
  kMensajeBoton,
  kMensajeSpeakComparar,
  kMensajeSpeakAnswer,
  kNumMensajesTAE
};

// What a tag does to the layout of its line.
struct EfectoTag {
  TipoEfecto tipo = TipoEfecto::kNinguno;
  int32_t avance = 0;  // pen moves right by it (kAvance, kFallo)
  MensajeTAE mensaje = kMensajeNinguno;
};

class TFormatae {
 public:
  // How the last document read went.
  enum class Lectura : uint8_t { kLeido, kNoAbre, kSinMemoria, kNoLee };

  // What PintarPagina adds to its line count.
  static constexpr int32_t kPaginaTextoAcabado = 0x10000;
  static constexpr int32_t kPaginaSalto = 0x20000;

  // One line the last PintarPagina laid out, for inspection.
  struct LineaPintada {
    int32_t y;
    uint32_t inicio;     // offset of its first byte
    uint32_t fin;        // offset where the next line starts
    bool con_elementos;  // it consumed at least one byte
  };

  // A new formatter given the lesson manager's collaborators and contexts;
  // null (after "Module FTAE loaded ERROR.") when it cannot be made.
  static TFormatae* Crear(TGestorTAE* tae, int16_t area_x, int16_t area_y, int16_t area_ancho,
                          int16_t area_alto, int16_t ancho_superficie, int16_t alto_superficie,
                          int16_t ventana_x, int16_t ventana_y,
                          platform::gfx::COLORREF color_pagina,
                          platform::gfx::COLORREF color_tratado);
  ~TFormatae();
  TFormatae(const TFormatae&) = delete;
  TFormatae& operator=(const TFormatae&) = delete;

  // Allocates ftae, itae, tabtamchar and paginas. A formatter missing one of
  // them is not usable: it loads and draws nothing.
  void IniciarFtae(int16_t area_x, int16_t area_y, int16_t area_ancho, int16_t area_alto,
                   int16_t ancho_superficie, int16_t alto_superficie, int16_t ventana_x,
                   int16_t ventana_y, platform::gfx::COLORREF color_pagina,
                   platform::gfx::COLORREF color_tratado);
  bool Usable() const { return usable_; }

  // Reads the document, lays out its pages, sets the current page to 0 and
  // allocates its treated-item records. An unreadable document becomes the
  // empty text (one empty page). When the eHDD client throws while reading,
  // the load is completed with the empty text and the text is thrown on.
  void CargarDocumento(const char* path);

  // Draws page n into the page back buffer (not to the window). The lines
  // drawn, plus kPaginaTextoAcabado or kPaginaSalto for what ended the page;
  // when the area filled up, the lines drawn minus 1. Outside the page
  // table nothing is drawn and the result is 0.
  int32_t PintarPagina(uint16_t n);

  // Page requests: each draws the page into the page back buffer (the
  // caller then copies it with SolicitudRepintar). 1 when there is no such
  // page (nothing changes), else 0; moving stops the animation and the
  // sentence audio and resets the role play.
  int PaginaAdelante();
  int PaginaAtras();
  int SaltarPagina(uint16_t n);
  // Redraws the current page, stopping nothing.
  void SolicitudActualizarPagina();
  // Copies the rectangle (the whole buffer when w is 0) to the window.
  void SolicitudRepintar(uint16_t x, uint16_t y, uint16_t w, uint16_t h);
  void SetPaginaActual(uint16_t n);

  // The status icon over the page: 1 GGRA04, 2 ALT04, 3 MIC01, 4 MIC04.
  void SeleccionarIcono(uint8_t n);
  void PosicionarIcono(int16_t x, int16_t y);
  void MostrarIcono(uint8_t mostrar);

  // The animation's progress bar and subtitle after a frame is shown.
  void PintarBarraAnim(uint16_t frame, uint16_t frames);
  // Called once per frame PintarBarraAnim draws.
  void SetHookFrameMostrado(std::function<void()> hook);

  void CambiarCursor(uint32_t id);

  // A skin image ("%s\%s.PNG" of the skin root) drawn at (x, y) of the page
  // surface at its own size; its size. A missing or bad image is reported
  // once and the 30 x 30 placeholder is drawn instead.
  struct Tamano {
    uint16_t ancho = 0;
    uint16_t alto = 0;
  };
  Tamano PintarPNG(const char* imagen, int32_t x, int32_t y);
  // Fills a rectangle of the page surface (clipped to it).
  void RellenarRect(int32_t x, int32_t y, int32_t w, int32_t h, platform::gfx::COLORREF color);
  // Writes 8-bit text on the page surface.
  void EscribirTexto(int32_t x, int32_t y, const char* texto, size_t longitud,
                     const platform::gfx::LOGFONTA& fuente, int8_t espaciado,
                     platform::gfx::COLORREF color, platform::gfx::COLORREF fondo);

  // Written exercises (TFormatae_exercises.cpp).
  // A key code of the learner for the selected exercise gap.
  void TeclaEjercicio(uint16_t codigo);
  // The caret into the selected gap, dx pixels from its left.
  void SeleccionarHueco(uint16_t dx);
  // Selects the gap of an exercise where its answer first differs from the
  // solution.
  void MostrarSolucionHueco(uint16_t ejercicio);
  void MostrarCaretPantalla();
  void OcultarCaretPantalla();
  void PosicionarCaretPantalla(int32_t x, int32_t y);
  // The exercise record of a number of the document (null outside them).
  EJE_TRATADO* Ejercicio(uint16_t numero);
  SON_TRATADO* Sonido(uint16_t numero);
  // The page entry of an index (1 to the entry count; null otherwise).
  EJE_PANTALLA* Entrada(uint16_t indice);

  // The text y of a font height (a negative lfHeight) on a line at y.
  static int32_t AjusteVertical(int32_t y, int32_t altura);
  // The advance of a double-byte character in a font of that height.
  static int32_t AnchoDoble(int32_t altura);

  // The grammar.
  // The length of the keyword when the text holds exactly its letters and
  // then the terminator, within `disponible` bytes; 0 otherwise.
  static uint8_t CompararClave(const char* texto, uint32_t disponible, const char* clave,
                               char terminador);
  // Reads the tag starting with the '<' at pos; false when it is none.
  static bool LeerTag(const char* texto, uint32_t longitud, uint32_t pos, TagTAE& tag);
  // Field `indice` (from 0) of the tag's list; an empty list is one empty field.
  static CampoTAE Campo(const char* texto, const TagTAE& tag, int indice);
  // Copies a field, cut to fit, and ends it with NUL; returns the bytes copied.
  static size_t LeerParametro(const CampoTAE& campo, char* destino, size_t capacidad);
  static uint16_t NumCampos(const TagTAE& tag, const char* texto);
  // A decimal number as atoi reads it (blanks are spaces and TABs), saturating at
  // +-2147483647; a missing field is 0.
  static int32_t NumeroTAE(const char* bytes, size_t longitud);
  static int32_t NumeroCampo(const char* texto, const TagTAE& tag, int indice);
  // The whole list is exactly the word.
  static bool ListaEs(const char* texto, const TagTAE& tag, const char* palabra);
  // The next element of a static reading from pos (moved past it); false at
  // the end of the text.
  static bool LeerElemento(const char* texto, uint32_t longitud, PosicionTAE& pos,
                           ElementoTAE& elemento);
  static const char* NombreClave(ClaveTAE clave);

  // The document.
  const char* Texto() const;
  uint32_t LongitudTexto() const;
  Lectura ResultadoLectura() const { return lectura_; }
  int16_t NumPaginas() const;
  const PAGINA_TAE* Pagina(uint16_t n) const;
  uint16_t PaginaActual() const;
  AUDIT_TAE* Auditoria();
  const AUDIT_TAE* Auditoria() const;
  FTAE* ftae() { return ftae_; }
  const FTAE* ftae() const { return ftae_; }
  ITAE* itae() { return itae_; }
  const ITAE* itae() const { return itae_; }
  const std::vector<LineaPintada>& LineasPintadas() const { return lineas_pintadas_; }

  // What the session and the unit loader set (texts cut to 199 bytes).
  void SetCarpetaSkin(const char* carpeta);
  void SetCarpetaSkinUnidad(const char* carpeta);
  void SetCarpetaAudioNativo(const char* carpeta);
  void SetCarpetaAudioPrivado(const char* carpeta);
  void SetCarpetaAlumno(const char* carpeta);
  void SetColorTratado(platform::gfx::COLORREF color);
  void SetColorNivel(platform::gfx::COLORREF color);
  void SetSlotPagina(int16_t slot);
  void SetSlotGuardar(int16_t slot);
  void SetRectangulosVirtuales(TRectangulosVirtuales* regiones) { regiones_ = regiones; }
  TRectangulosVirtuales* RectangulosVirtuales() const { return regiones_; }
  // The part of the unit the document is (0 situation ... 7 speaking), from
  // the two letters before ".TAE" of the last path loaded.
  uint8_t Parte() const { return parte_; }
  void SetParte(uint8_t parte) { parte_ = parte; }
  // The part of a document path.
  static uint8_t ParteDeRuta(const char* path);

  TGestorTAE* GestorTAE() const { return tae_; }

 private:
  enum class ModoLinea : uint8_t { kMedir, kContar, kPintar };
  enum class FinLinea : uint8_t { kLleno, kLF, kSalto, kAcabado };

  // The style, widths and paragraph flag a walk works on.
  struct VistaEstilo {
    ESTILO_TAE* estilo;
    uint8_t* anchos;
    uint8_t* inicio_parrafo;
    bool ultima_pagina;
  };
  // Widths of a font, kept so switching back to it costs a copy.
  struct AnchosFuente {
    platform::gfx::LOGFONTA fuente;
    uint8_t anchos[256];
  };
  static constexpr int kFuentesGuardadas = 8;
  struct LineaTAE {
    PosicionTAE fin_dibujo;  // end of what the line lays out
    PosicionTAE fin;         // where the next line starts
    FinLinea motivo = FinLinea::kAcabado;
    bool con_elementos = false;
  };

  // A keyword's row: its letters, its layout effect, its counter and its
  // drawing handler (null: nothing is drawn or registered).
  struct ClaveInfo {
    const char* nombre;
    uint8_t longitud;
    EfectoTag (*efecto)(const char* texto, const TagTAE& tag, ESTILO_TAE& estilo,
                        bool inicio_parrafo);
    void (*contar)(const char* texto, const TagTAE& tag, AUDIT_TAE& audit);
    void (TFormatae::*pintar)(const TagTAE& tag);
  };
  static const ClaveInfo kClaves[kNumClavesTAE];

  TFormatae() = default;

  // Reading (TFormatae_reader.cpp).
  bool LeerPlano(const char* path);
  bool ReescribirSpeaking(const char* path);
  bool LeerFichero(const char* path, char** datos, uint32_t* tamano);
  void TextoVacio();
  void LiberarTexto();
  void ReiniciarAuditoria();
  void CrearRegistrosTratados();

  // Layout (TFormatae_layout.cpp).
  int Preformatear();
  void RecorrerLinea(ModoLinea modo, VistaEstilo vista, PosicionTAE inicio, LineaTAE& linea,
                     int32_t y);
  LineaTAE MedirLinea(PosicionTAE inicio);
  void RellenarAnchos(const platform::gfx::LOGFONTA& fuente, uint8_t* anchos);
  void PrepararPagina();
  void FinPintarPagina();
  void VolcarTexto();
  void EmpezarRun(PosicionTAE pos);
  void Informar(MensajeTAE mensaje);
  void ContarTag(const TagTAE& tag);

  // Hooks of the drawing pass (see the top of this file).
  void ReiniciarContextosPagina();
  void BorrarRegionesPagina();
  void ContinuarRegion();
  void CerrarRegionLinea();
  void GrabarTexto(const char* bytes, uint32_t longitud);
  void PintarHuecos();

  // Drawing handlers (TFormatae_drawing.cpp).
  void TagSonido(const TagTAE& tag);
  void TagBitmapF(const TagTAE& tag);
  void TagBoton(const TagTAE& tag);
  void TagRolPlay(const TagTAE& tag);
  void TagFSpeak(const TagTAE& tag);
  void TagASpeak(const TagTAE& tag);
  void PanelAnimacion();
  void PintarPorcentajesAnim();
  // A page move to n: the stops, the role-play reset and the draw.
  void MoverAPagina(uint16_t n);
  // The region the handlers register: a slot filled with the type word,
  // rectangle, link -1 and id; 0 when the table is full or missing.
  uint16_t NuevaRegion(uint8_t tipo, int32_t left, int32_t top, int32_t right, int32_t bottom,
                       uint16_t id);
  RECT_VIRTUAL* Region(uint16_t slot);
  // The top of text on the current line, and its bottom.
  int32_t ArribaLinea() const;
  int32_t AbajoLinea() const;
  // An image of a folder drawn at (x, y); cached: skin images for the
  // session, BITMAPF pictures for the load.
  Tamano PintarImagen(const std::string& path, int32_t x, int32_t y, bool de_sesion);
  void CopiarSlots(int16_t origen, int32_t ox, int32_t oy, int16_t destino, int32_t dx, int32_t dy,
                   int32_t w, int32_t h);
  void Presentar(int32_t x, int32_t y, int32_t w, int32_t h);
  // The drawing slot of the page back buffer.
  uint16_t SlotPagina() const { return static_cast<uint16_t>(ftae_->slot_pagina); }

  // Written exercises (TFormatae_exercises.cpp).
  void TagEjEscrito(const TagTAE& tag);
  void TagHueco(const TagTAE& tag);
  void AbrirEjercicio(const TagTAE& tag);
  void CerrarEjercicio();
  // Gap pieces: one begins where the first character of a gap (or of a
  // level-2 exercise) is recorded on a line; it ends at x, at the line's end
  // or at the closing tag.
  void ContinuarPiezaHueco();
  void CerrarPiezaHueco(int32_t x);
  void CerrarPiezaNivel2(int32_t x);
  // For each position of an entry's text, whether a gap piece starts there.
  std::vector<bool> IniciosPiezas(uint16_t entrada) const;
  // The gaps: text (mode 1 typing, 2 page) and rows of boxes.
  void PintarHueco(const RECT_VIRTUAL& rv, uint8_t modo);
  void PintarHuecoCajas(const RECT_VIRTUAL& rv, uint8_t modo);
  void PintarHuecoRegion(const RECT_VIRTUAL& rv, uint8_t modo);
  // What a gap region stands for: its entry, record, answer area, style.
  struct HuecoTAE;
  bool Hueco(const RECT_VIRTUAL* rv, HuecoTAE& h);
  // Makes a gap region the selected one (its exercise and entry current).
  void ElegirHueco(RECT_VIRTUAL* rv);
  // Places the caret at a character index of the selected gap.
  void PonerCaret(uint8_t indice);
  void BorrarSolucionVisible();
  void RedibujarHueco();
  void TeclaCaracter(uint8_t caracter);
  void Borrar(bool atras);
  // Gap regions next to the selected one.
  uint16_t HuecoSiguiente(uint16_t desde, bool adelante, bool envolver) const;
  void Comprobar();
  void CorregirRespuesta(const EJE_PANTALLA& entrada, char* area, uint8_t nivel,
                         platform::gfx::CodePage pagina, const std::vector<bool>& inicios);
  enum class Evaluacion : uint8_t { kVacia, kMal, kBien };
  Evaluacion EvaluarRespuesta(const EJE_PANTALLA& entrada, const char* area, uint8_t nivel) const;
  void RedibujarPagina();
  void PlayEjercicio(const EJE_PANTALLA& entrada, uint8_t estado, uint8_t carpeta);

  void* Pedir(uint32_t size, const char* tag);
  void Liberar(void* bloque, const char* tag);
  void Error(const char* texto);
  IAudioPagina& Audio() const;
  IAnimPagina& Anim() const;

  FTAE* ftae_ = nullptr;
  ITAE* itae_ = nullptr;
  OSAL* osal_ = nullptr;
  TGestorGDI* gdi_ = nullptr;
  TEHDDClient* ehdd_ = nullptr;
  TGestorTAE* tae_ = nullptr;
  TGestorAudio* audio_ = nullptr;
  TGestorBMP* bmp_ = nullptr;
  TGestorAnim* anim_ = nullptr;
  CON_EJESCRITO* conejescrito_ = nullptr;
  CON_ROLPLAY* conrolplay_ = nullptr;
  CON_SPEAK* conspeak_ = nullptr;
  TRectangulosVirtuales* regiones_ = nullptr;

  bool usable_ = false;
  Lectura lectura_ = Lectura::kLeido;
  std::atomic<uint32_t> mensajes_{0};  // texts reported in this load, one bit each
  std::vector<LineaPintada> lineas_pintadas_;
  std::vector<uint16_t> unidades_;   // a double-byte run as 16-bit characters
  uint8_t anchos_medida_[256] = {};  // widths of a font met while measuring
  AnchosFuente anchos_fuentes_[kFuentesGuardadas];
  int fuentes_guardadas_ = 0;
  int siguiente_fuente_ = 0;

  uint8_t parte_ = 0;
  // Each page entry's own style and widths, for its gaps and keys.
  struct EstiloEntrada {
    ESTILO_TAE estilo;
    uint8_t anchos[256];
  };
  EstiloEntrada estilos_entradas_[kEntradasEjePantalla];
  // The exercise being laid out switched to the treated background.
  bool ejercicio_tratado_ = false;
  // A gap that wraps is a region piece on each line it reaches, linked as a
  // sound's pieces are: the level-1 gap being laid out (itae's open region
  // is its current piece) and the level-2 exercise laid out as one gap,
  // whose pieces are registered when it closes.
  struct PiezaHueco {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    uint8_t inicio = 0, longitud = 0;
  };
  bool hueco_pedido_ = false;    // the open level-1 gap registers regions
  bool hueco_en_linea_ = false;  // its current piece is on the line being laid out
  bool nivel2_pedido_ = false;   // the open exercise is a level-2 gap
  bool nivel2_en_linea_ = false;
  PiezaHueco nivel2_pieza_;
  std::vector<PiezaHueco> nivel2_piezas_;
  // The speaking answer being recorded: its region and bytes so far.
  uint16_t region_speak_ = 0;
  uint16_t grabado_speak_ = 0;
  bool speak_abierto_ = false;
  // Where the status icon was last shown.
  int32_t x_icono_ = 0;
  int32_t y_icono_ = 0;
  // Where the caret was last placed (window pixels).
  int32_t caret_x_ = 0;
  int32_t caret_y_ = 0;
  std::function<void()> hook_frame_;
  // BITMAPF pictures of this load (null: missing, reported).
  std::map<std::string, std::unique_ptr<platform::gfx::Surface>> imagenes_carga_;
};

// The three work contexts the lesson manager shares with every formatter,
// the hit regions and the sentence audio manager: the written exercise on
// the page (conejescrito), the role play (conrolplay) and the speaking
// answers (conspeak). They are plain records allocated with tags through
// OSAL::PedirMemoria and zero-filled before their first values are set; the
// role play's line slots reach the audit file byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "player/ESTILO_TAE.h"

struct RECT_VIRTUAL;  // a hit region of the page
struct EJE_PANTALLA;  // a written exercise laid out on the page

// The written exercise being worked on, and the exercises of the page.
constexpr int kEntradasEjePantalla = 30;  // entry 0 stays empty
constexpr size_t kBytesEjePantalla = 428;

struct CON_EJESCRITO {
  uint16_t ejercicio_actual;  // exercise of the selected gap (0: none)
  uint16_t entrada_actual;    // its entry in bufejescpant
  uint8_t indice_caret;       // characters from the start of the selected gap
  uint8_t caret_visible;
  uint8_t solucion_visible;  // set by the solution button
  uint8_t nivel;             // difficulty level of the exercise last laid out (1 or 2)
  RECT_VIRTUAL* boton_dificultad1;
  RECT_VIRTUAL* boton_dificultad2;
  RECT_VIRTUAL* hueco;  // the selected gap
  RECT_VIRTUAL* boton_solucion;
  ESTILO_TAE estilo;           // the exercise's text style, copied at its opening
  uint8_t* tabtamchar;         // 256 widths of that style's font
  EJE_PANTALLA* bufejescpant;  // kEntradasEjePantalla entries of kBytesEjePantalla
  uint16_t num_entradas;       // entries in use
};

// The role play of the unit, read from its role-play file.
constexpr int kMaxPersonajesRolPlay = 5;  // a file may give 0 to 4
constexpr int kMaxLineasRolPlay = 60;     // a file may give 0 to 59
constexpr int kNombreLineaRolPlay = 15;   // bytes of a line's audio name
constexpr uint8_t kFinFilaRolPlay = 255;  // ends a character's row

struct LINEA_ROLPLAY {
  char nombre[kNombreLineaRolPlay];  // audio name, NUL-padded (no NUL when 15 bytes long)
  uint8_t grabada;                   // 1 once the learner recorded the line
};
static_assert(sizeof(LINEA_ROLPLAY) == 16);

struct CON_ROLPLAY {
  uint8_t modo;          // 0 none, 1 playback with the learner's recordings, 2 performing
  uint8_t personaje;     // the learner's character, from 0
  uint8_t terminado;     // 1 when no role play runs
  uint8_t linea_actual;  // next line to handle, from 0
  uint8_t posicion;      // index into the learner's row
  int16_t linea_izquierda, linea_derecha, linea_arriba, linea_abajo;  // highlighted line
  uint8_t microfono_visible;
  uint8_t num_personajes;
  uint8_t num_lineas;
  uint8_t ancho_linea;                      // width of a role-play line's hit region
  LINEA_ROLPLAY lineas[kMaxLineasRolPlay];  // saved in the audit file
  uint8_t filas[kMaxPersonajesRolPlay][kMaxLineasRolPlay];  // line numbers, then 255
};
static_assert(sizeof(CON_ROLPLAY) == 1278);
static_assert(offsetof(CON_ROLPLAY, lineas) == 18);
static_assert(sizeof(CON_ROLPLAY::lineas) == 960);

// The speaking answers of the page.
constexpr int kRespuestasSpeak = 100;  // answer numbers 0 to 99 have a name slot
constexpr int kNombreSpeak = 15;

struct CON_SPEAK {
  uint16_t reservado0;
  uint8_t reservado1;
  uint8_t reservado2;
  uint8_t respuesta_visible;  // 1 from the click on an answer until its audio ends
  uint8_t reservado3;
  char nombres[kRespuestasSpeak][kNombreSpeak];  // audio names by answer number
  RECT_VIRTUAL* region_respondida;
  uint32_t reservado4;
  uint32_t reservado5;
  platform::gfx::LOGFONTA fuente;  // font and spacing answers are written with
  int8_t espaciado;
  uint8_t* tabtamchar;  // 256 widths of that font
};

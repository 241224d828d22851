// What the learner did with one written exercise of a document: the
// treated-exercise record, 410 bytes, stored as it is in the audit file.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kAreaRespuesta = 200;

struct EJE_TRATADO {
  int16_t tipo;                // 0 not seen yet, 1, 2, 3 (3: dictation)
  uint16_t selector;           // difficulty: 1 answer area 1 (gaps), 2 area 2 (whole text)
  char area1[kAreaRespuesta];  // typed character per position of the text, '*' where none
  uint8_t resultado1;          // area 1: 0 none or empty, 1 wrong, 2 right
  char area2[kAreaRespuesta];  // as area 1, for the whole text
  uint8_t resultado2;
  uint8_t escuchas;       // listens to the exercise's native audio
  uint8_t grabaciones;    // the learner's recordings of its sentence
  uint8_t comparaciones;  // comparisons of a recording with the native audio
  char final;             // '*'
};
static_assert(sizeof(EJE_TRATADO) == 410);
static_assert(offsetof(EJE_TRATADO, area1) == 4);
static_assert(offsetof(EJE_TRATADO, resultado1) == 204);
static_assert(offsetof(EJE_TRATADO, area2) == 205);
static_assert(offsetof(EJE_TRATADO, resultado2) == 405);
static_assert(offsetof(EJE_TRATADO, escuchas) == 406);
static_assert(offsetof(EJE_TRATADO, final) == 409);

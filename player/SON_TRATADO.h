// What the learner did with one sound of a document: the treated-sound
// record, 4 bytes, stored as it is in the audit file.
#pragma once

#include <cstdint>

struct SON_TRATADO {
  uint8_t reservado;      // always 0
  uint8_t escuchas;       // listens to the native audio
  uint8_t grabaciones;    // the learner's recordings of the sentence
  uint8_t comparaciones;  // comparisons of a recording with the native audio
};
static_assert(sizeof(SON_TRATADO) == 4);

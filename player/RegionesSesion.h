// The session's hit-region tables (one for the unit's pages, one for the
// mini-course page): made at the session start, handed to the formatters
// and the lesson manager, fed the mouse events, and polled by the 50 ms
// timer for a long press. Every operation takes a null table and does
// nothing with it.
#pragma once

#include <cstdint>

class OSAL;
class TFormatae;
class TGestorTAE;
class TRectangulosVirtuales;

// A started table given the session's objects; null when it cannot be made.
TRectangulosVirtuales* CrearRegiones(OSAL* osal, TGestorTAE* tae);
void DestruirRegiones(TRectangulosVirtuales* regiones);
// The formatter whose page the table holds.
void RegionesFormatae(TRectangulosVirtuales* regiones, TFormatae* formatae);
void RegionesEventoRaton(TRectangulosVirtuales* regiones, uint16_t x, uint16_t y, uint8_t tipo);
// The 50 ms timer's look at a held left button: from 400 ms on, the press
// is cleared and the armed sentence starts recording.
void RegionesTimerTic(TRectangulosVirtuales* regiones);

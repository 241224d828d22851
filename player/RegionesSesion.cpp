#include "player/RegionesSesion.h"

// This build's pages register no hit regions: the tables are never made,
// and a page is read, turned and typed into without them.

bool RegionesDisponibles() {
  return false;
}

TRectangulosVirtuales* CrearRegiones(OSAL*, TGestorTAE*) {
  return nullptr;
}

void DestruirRegiones(TRectangulosVirtuales*) {}

void RegionesFormatae(TRectangulosVirtuales*, TFormatae*) {}

void RegionesEventoRaton(TRectangulosVirtuales*, uint16_t, uint16_t, uint8_t) {}

void RegionesTimerTic(TRectangulosVirtuales*) {}

// The unit load front, the page and part moves with the global page
// numbering, and the key and mouse entries of the control.
//
// The unit load and the page moves run on the command worker (the unit load
// on the caller's thread with the stores-only flag); the key and mouse
// entries on the host's thread. Every call to the formatter, the keys and
// the mouse holds the session's page lock, never across a wait.
#pragma once

#include <cstdint>

#include "player/ThreadEvents.h"

struct SesionAX;

// Mounts the unit's stores, makes the student folders, reads the cover,
// wakes the loader and the loading screen, waits for that screen to end and
// shows the first page. Only while the session is up and the unit is not
// active; unit 0 is refused. The low 8 bits of the value are the unit.
void InterfaceAXCargarUnit(SesionAX& sesion, uint32_t unidad);
void InterfaceAXPaginaSiguiente(SesionAX& sesion, uint8_t modo);
void InterfaceAXPaginaAnterior(SesionAX& sesion, uint8_t modo);
// The low 8 bits of the value are the part; above 7 nothing.
void InterfaceAXCambiarDeParte(SesionAX& sesion, uint32_t parte);
void InterfaceAXTeclaPulsada(SesionAX& sesion, uint32_t tecla);
// Types 1 move, 2 left down, 3 left up, 4 right down, 5 right up.
void EventAXMouseEvent(SesionAX& sesion, uint16_t x, uint16_t y, uint8_t tipo, uint8_t modo);
// Moves the mode's page counter by a step when a page is turned inside the
// current part by something other than these moves (a role play running
// onto its next page), kept within the part's pages.
void MoverContadorPagina(SesionAX& sesion, uint8_t modo, int paso);
// Waits for the command worker (through the UI host's GUI-thread wait when
// a host is installed); false when it gave up.
bool InterfaceAXEsperaFinEvento(SesionAX& sesion, uint32_t timeout_ms = ThreadEvents::kEsperaFinMs);

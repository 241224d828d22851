// The unit load front, the page and part moves with the global page
// numbering, and the key and mouse entries of the control.
//
// The unit load and the page moves run on the command worker; the key and
// mouse entries on the host's thread. Every call to the formatter, the keys
// and the mouse holds the session's page lock, never across a wait. Every
// wait of a command ends once the worker's stop is asked: the command then
// leaves at its next step (a unit load leaves the unit not active).
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
// The key entry and the mouse entry only try the page lock: the GUI thread
// never waits for a page being drawn. A key or a button-up that finds the
// page busy is kept (with the key's character) and handled, in order and
// once, by AtenderEntradasPendientes when the page is free (the session's
// timer calls it); a move or a press is dropped.
void InterfaceAXTeclaPulsada(SesionAX& sesion, uint32_t tecla);
// Types 1 move, 2 left down, 3 left up, 4 right down, 5 right up.
void EventAXMouseEvent(SesionAX& sesion, uint16_t x, uint16_t y, uint8_t tipo, uint8_t modo);
// Handles the kept keys and button-ups when the page lock is free; false
// while some still wait.
bool AtenderEntradasPendientes(SesionAX& sesion);
// Forgets the session's kept entries (its unit is going).
void DescartarEntradasPendientes(SesionAX& sesion);
// Moves the mode's page counter by a step when a page is turned inside the
// current part by something other than these moves (a role play running
// onto its next page), kept within the part's pages.
void MoverContadorPagina(SesionAX& sesion, uint8_t modo, int paso);
// Waits for the command worker (through the UI host's GUI-thread wait when
// a host is installed); false when it gave up.
bool InterfaceAXEsperaFinEvento(SesionAX& sesion, uint32_t timeout_ms = ThreadEvents::kEsperaFinMs);

#include "player/InterfaceAXNavegacion.h"

#include <algorithm>
#include <deque>
#include <string>

#include "base/TGestorBMP.h"
#include "ehdd/TEHDDClient.h"
#include "platform/ui/ControlSite.h"
#include "platform/ui/UiHost.h"
#include "player/IDocumentoParte.h"
#include "player/ILeccion.h"
#include "player/SesionAX.h"
#include "player/TGestorTAE.h"
#include "player/ThreadCargaUnit.h"
#include "player/ThreadPeriodicEvents.h"

namespace {

constexpr int kTraceNavegacion = kTraceInterfaz;
constexpr int kTraceClic = 15;
constexpr const char* kGlosario = "data\\ehddservers\\GLOSSARY10\\GLOSSARY10.DAT";

enum class Movimiento { kSaltar, kAdelante, kAtras };

// Keys and button-ups that found the page busy, in the order they came, to
// be handled once the page is free. Only the GUI thread touches them.
constexpr size_t kMaxEntradasPendientes = 64;
struct EntradaPendiente {
  SesionAX* sesion;
  bool tecla;  // a key, else a button-up
  uint32_t valor;
  uint16_t caracter;  // the key's character, as the site held it
  uint16_t x, y;
  uint8_t tipo, modo;
};
std::deque<EntradaPendiente>& EntradasPendientes() {
  static std::deque<EntradaPendiente> entradas;
  return entradas;
}
bool HayPendientes(SesionAX& sesion) {
  for (const EntradaPendiente& e : EntradasPendientes()) {
    if (e.sesion == &sesion) return true;
  }
  return false;
}
void Guardar(const EntradaPendiente& entrada) {
  auto& entradas = EntradasPendientes();
  if (entradas.size() >= kMaxEntradasPendientes) {
    OSAL::Trace(kTraceError, "Demasiadas entradas esperando a la pagina: se pierde una.");
    return;
  }
  entradas.push_back(entrada);
}

// The command worker's own stop, seen by the waits of the command it runs.
bool ComandoParado(SesionAX& sesion) {
  ThreadEvents* eventos = sesion.eventos;
  return eventos != nullptr && eventos->ParadaPedida();
}

// The key, with the page lock held.
void Tecla(SesionAX& sesion, uint32_t tecla, uint16_t caracter) {
  if (sesion.Unit().activa.load() == 0 || sesion.leccion == nullptr) return;
  // A key handled later is given the character it was typed with.
  auto* sitio = dynamic_cast<platform::ui::ControlSiteBase*>(sesion.Unit().ventana);
  const uint16_t antes = sitio != nullptr ? sitio->KeyChar() : 0;
  if (sitio != nullptr) sitio->SetKeyChar(caracter);
  sesion.leccion->TeclaPulsada(tecla);
  if (sitio != nullptr) sitio->SetKeyChar(antes);
}

// The mouse event, with the page lock held.
void Raton(SesionAX& sesion, uint16_t x, uint16_t y, uint8_t tipo, uint8_t modo) {
  InstanciaAX& instancia = sesion.instancias[modo];
  ILeccion* leccion = sesion.leccion;
  if (instancia.activa.load() == 0 || leccion == nullptr) return;
  const uint8_t parte = std::min<uint8_t>(instancia.parte.load(), kNumPartes - 1);
  leccion->CambiarFormateador(instancia.partes[parte].formatae, instancia.regiones);
  leccion->EventoRaton(x, y, tipo, instancia.regiones);
}

// Handles the session's kept entries when the page lock is free; false
// when some are still waiting.
bool Atender(SesionAX& sesion) {
  if (!HayPendientes(sesion)) return true;
  TGestorTAE::Bloqueo bloqueo(sesion.cerrojo_pagina, false);
  if (!bloqueo.Tomado()) return false;
  auto& entradas = EntradasPendientes();
  // Each is taken off before it runs: none runs twice.
  for (auto it = entradas.begin(); it != entradas.end();) {
    if (it->sesion != &sesion) {
      ++it;
      continue;
    }
    const EntradaPendiente e = *it;
    it = entradas.erase(it);
    if (e.tecla) {
      Tecla(sesion, e.valor, e.caracter);
    } else {
      Raton(sesion, e.x, e.y, e.tipo, e.modo);
    }
    it = entradas.begin();
  }
  return true;
}

void Montar(SesionAX& sesion, const char* nombre, const std::string& store, char letra) {
  TrazarF(kTraceEstudio, "    -> Start conexion con el eHDD %s.", nombre);
  if (sesion.ehdd != nullptr) sesion.ehdd->AddMount(store.c_str(), letra);
  TrazarF(kTraceEstudio, "    -> End conexion con el eHDD %s.", nombre);
}

// Shows in-part page n (a jump) or the next or previous page of part p of
// the mode's record, changing the formatter on screen first when asked.
void SecuenciaPagina(SesionAX& sesion, uint8_t modo, uint8_t parte, bool cambio_parte,
                     Movimiento movimiento, int pagina_en_parte) {
  InstanciaAX& instancia = sesion.instancias[modo];
  IDocumentoParte* documento = parte < kNumPartes ? instancia.partes[parte].formatae : nullptr;
  ILeccion* leccion = sesion.leccion;
  if (cambio_parte && leccion != nullptr) {
    std::lock_guard<CriticalSection> lock(sesion.cerrojo_pagina);
    leccion->CambiarFormateador(documento, instancia.regiones);
  }
  ThreadPeriodicEvents* periodicos = sesion.periodicos;
  if (periodicos != nullptr && documento != nullptr) {
    periodicos->InicioEsperaPagina(parte, documento->SuperficiePagina());
  }
  if (sesion.carga_unit != nullptr) {
    sesion.carga_unit->EsperarParte(modo == kModoUnit ? parte : 0,
                                    [&sesion] { return ComandoParado(sesion); });
  }
  if (ComandoParado(sesion)) {
    // The worker is stopping: the page is left as it is.
    if (periodicos != nullptr) periodicos->FinEsperaPagina();
    return;
  }
  if (movimiento == Movimiento::kSaltar && modo == kModoUnit) {
    // The numbers of a part that was still loading are only now final.
    const int global = instancia.PrimeraPaginaDeParte(parte) + pagina_en_parte;
    instancia.pagina.store(static_cast<uint8_t>(std::clamp(global, 1, 255)));
  }
  if (documento != nullptr) {
    std::lock_guard<CriticalSection> lock(sesion.cerrojo_pagina);
    switch (movimiento) {
      case Movimiento::kSaltar:
        documento->SaltarPagina(static_cast<uint16_t>(pagina_en_parte));
        break;
      case Movimiento::kAdelante:
        documento->PaginaAdelante();
        break;
      case Movimiento::kAtras:
        documento->PaginaAtras();
        break;
    }
  }
  if (periodicos != nullptr) periodicos->FinEsperaPagina();
  if (documento != nullptr) {
    std::lock_guard<CriticalSection> lock(sesion.cerrojo_pagina);
    documento->SolicitudRepintar();
  }
  TrazarF(kTraceNavegacion,
          modo == kModoUnit ? "Entrada OK en la pagina %02u de la parte %u de la UNIT."
                            : "Entrada OK en la pagina %02u de la parte %u del MINICOURSE.",
          instancia.pagina.load(), parte);
}

}  // namespace

void InterfaceAXCargarUnit(SesionAX& sesion, uint32_t valor) {
  InstanciaAX& unit = sesion.Unit();
  if (sesion.sesion_activa.load() == 0 || unit.activa.load() != 0) return;
  const uint8_t unidad = static_cast<uint8_t>(valor & 0xFF);
  TrazarF(kTraceInterfaz, "InterfaceAXCargarUnit %03u.", unidad);
  if (unidad == 0) {
    // Unit 0 would have level 0 and name a folder C000 no course has.
    OSAL::Trace(kTraceError, "InterfaceAXCargarUnit: la unidad 0 no existe.");
    return;
  }
  TrazarF(kTraceEstudio, "Start Unit %03u student '%s'.", unidad, sesion.nombre_alumno.c_str());
  sesion.EscribirLog("ALLCLIENT.LOG", FormatoF("    [STARTUNIT] -> %s en la unit %u\r",
                                               sesion.nombre_alumno.c_str(), unidad)
                                          .c_str());
  unit.parte.store(0);
  unit.pagina.store(1);
  sesion.nivel.store(static_cast<uint8_t>((unidad - 1) / 24 + 1));
  sesion.unidad.store(unidad);
  OSAL::Trace(kTraceEstudio, "Start Carga UNIT basica.");

  // Each step is a server request: a stop of the worker is looked at
  // between them, and the load leaves with the unit not active.
  const auto parado = [&sesion] {
    if (!ComandoParado(sesion)) return false;
    OSAL::Trace(kTraceEstudio, "Carga UNIT basica parada.");
    return true;
  };
  const std::pair<const char*, std::pair<std::string, char>> kMontajes[] = {
      {"MULTIMEDIA", {unit.nombre_multimedia, 'M'}},
      {"UNITS", {unit.nombre_units, 'U'}},
      {"MINICOURSE", {sesion.ruta_minicourse, 'Y'}},
      {"GLOSSARY", {kGlosario, 'G'}},
      {"STUDENT", {sesion.nombre_alumno + "\\work", 'S'}}};
  for (const auto& [nombre, montaje] : kMontajes) {
    if (parado()) return;
    Montar(sesion, nombre, montaje.first, montaje.second);
  }
  if (sesion.ehdd != nullptr) {
    if (parado()) return;
    sesion.ehdd->CrearDirectorio(FormatoF("\\C%03u", unidad).c_str(), 'S');
    if (parado()) return;
    sesion.ehdd->CrearDirectorio("\\MC", 'S');
  }
  if (sesion.solo_stores.load() != 0) {
    sesion.solo_stores.store(0);
    return;
  }

  // The cover is read once here so the loading screen finds it in the cache.
  if (parado()) return;
  TGestorBMP* bmp = sesion.leccion != nullptr ? sesion.leccion->GestorBMP() : nullptr;
  if (bmp != nullptr) {
    const std::string portada = FormatoF("M:\\DATOS\\SKIN\\CLASES\\PORT%03uA.PNG", unidad);
    try {
      bmp->DeleteBitmap(bmp->LeerBitmapPNGDisco(unit.superficie_pagina, portada.c_str()));
    } catch (const std::string& texto) {
      TrazarF(kTraceError, "Portada %s: %s", portada.c_str(), texto.c_str());
    }
  }

  ThreadPeriodicEvents* periodicos = sesion.periodicos;
  ThreadCargaUnit* carga = sesion.carga_unit;
  if (periodicos != nullptr) {
    periodicos->PedirProgresoUnit(unidad);
    // Without a loader nothing would ever advance the steps.
    if (carga == nullptr || !carga->record().TieneThread()) periodicos->FijarProgreso(100);
  }
  if (parado()) return;
  if (carga != nullptr) carga->Despertar();
  if (periodicos != nullptr) periodicos->EsperarFinProgreso([&sesion] { return ComandoParado(sesion); });
  if (parado()) return;
  OSAL::Trace(kTraceEstudio, "End Carga UNIT basica.");

  unit.parte.store(0);
  unit.pagina.store(1);
  SecuenciaPagina(sesion, kModoUnit, 0, true, Movimiento::kSaltar, 0);
  if (parado()) return;

  unit.activa.store(1);
  sesion.axstatus.store(4);
  const uint32_t segundos = sesion.ElapsedTicks() / 1000;
  TrazarF(kTraceEstudio, "Unit %03u basica cargada OK en %u seg.", unidad, segundos);
  sesion.EscribirLog("ALLCLIENT.LOG",
                     FormatoF("    [LOADUNIT] -> %s en la unit %u cargada en %u seg.\r",
                              sesion.nombre_alumno.c_str(), unidad, segundos)
                         .c_str());
  sesion.solo_stores.store(0);
}

void InterfaceAXPaginaSiguiente(SesionAX& sesion, uint8_t modo) {
  if (modo > kModoMini) return;
  InstanciaAX& instancia = sesion.instancias[modo];
  if (instancia.activa.load() == 0) return;
  OSAL::Trace(kTraceInterfaz, "InterfaceAXPaginaSiguiente.");
  const uint8_t pagina = instancia.pagina.load();
  if (pagina >= instancia.total.load()) return;
  const uint8_t nueva = static_cast<uint8_t>(pagina + 1);
  instancia.pagina.store(nueva);
  const uint8_t parte = instancia.parte.load();
  if (parte < 7 && nueva == instancia.PrimeraPaginaDeParte(parte + 1)) {
    // Parts with no pages start where the next one does: they are passed.
    uint8_t siguiente = static_cast<uint8_t>(parte + 1);
    while (siguiente < 7 && instancia.PrimeraPaginaDeParte(siguiente + 1) <= nueva) ++siguiente;
    instancia.parte.store(siguiente);
    SecuenciaPagina(sesion, modo, siguiente, true, Movimiento::kSaltar, 0);
  } else {
    SecuenciaPagina(sesion, modo, parte, false, Movimiento::kAdelante, 0);
  }
}

void InterfaceAXPaginaAnterior(SesionAX& sesion, uint8_t modo) {
  if (modo > kModoMini) return;
  InstanciaAX& instancia = sesion.instancias[modo];
  if (instancia.activa.load() == 0) return;
  OSAL::Trace(kTraceInterfaz, "InterfaceAXPaginaAnterior.");
  const uint8_t pagina = instancia.pagina.load();
  if (pagina <= 1) return;
  const uint8_t nueva = static_cast<uint8_t>(pagina - 1);
  instancia.pagina.store(nueva);
  const uint8_t parte = instancia.parte.load();
  if (parte > 0 && nueva < instancia.PrimeraPaginaDeParte(parte)) {
    // Back past parts with no pages too, to the last page of one that has.
    uint8_t anterior = static_cast<uint8_t>(parte - 1);
    while (anterior > 0 && instancia.PrimeraPaginaDeParte(anterior) > nueva) --anterior;
    instancia.parte.store(anterior);
    SecuenciaPagina(sesion, modo, anterior, true, Movimiento::kSaltar,
                    nueva - instancia.PrimeraPaginaDeParte(anterior));
  } else {
    SecuenciaPagina(sesion, modo, parte, false, Movimiento::kAtras, 0);
  }
}

void InterfaceAXCambiarDeParte(SesionAX& sesion, uint32_t valor) {
  InstanciaAX& unit = sesion.Unit();
  if (unit.activa.load() == 0) return;
  const uint8_t parte = static_cast<uint8_t>(valor & 0xFF);
  TrazarF(kTraceInterfaz, "InterfaceAXCambiarDeParte %u.", parte);
  if (parte > 7) return;
  unit.parte.store(parte);
  unit.pagina.store(unit.PrimeraPaginaDeParte(parte));
  SecuenciaPagina(sesion, kModoUnit, parte, true, Movimiento::kSaltar, 0);
}

void InterfaceAXTeclaPulsada(SesionAX& sesion, uint32_t tecla) {
  if (sesion.Unit().activa.load() == 0) return;
  TrazarF(kTraceInterfaz, "InterfaceAXTeclaPulsada %u.", tecla & 0xFFFF);
  if (sesion.leccion == nullptr) return;
  platform::ui::IControlSite* ventana = sesion.Unit().ventana;
  const uint16_t caracter = ventana != nullptr ? ventana->KeyChar() : 0;
  // The GUI thread never waits for a page being drawn: a key that finds the
  // page busy (or keys before it still waiting) is kept for later.
  if (Atender(sesion)) {
    TGestorTAE::Bloqueo bloqueo(sesion.cerrojo_pagina, false);
    if (bloqueo.Tomado()) {
      sesion.leccion->TeclaPulsada(tecla);
      return;
    }
  }
  Guardar({&sesion, true, tecla, caracter, 0, 0, 0, kModoUnit});
}

void EventAXMouseEvent(SesionAX& sesion, uint16_t x, uint16_t y, uint8_t tipo, uint8_t modo) {
  if (modo > kModoMini) return;
  InstanciaAX& instancia = sesion.instancias[modo];
  if (instancia.activa.load() == 0) return;
  TrazarF(tipo == 1 ? kTraceRaton : kTraceClic, "EventAXMouseEvent %u.", tipo);
  if (tipo == 2) OSAL::Trace(kTraceAudioPrimero, "Recibido CLIC del raton.");
  ILeccion* leccion = sesion.leccion;
  if (leccion == nullptr) return;
  const bool soltar = tipo == 3 || tipo == 5;
  if (Atender(sesion)) {
    if (!soltar && leccion->Ocupado()) return;  // dropped while a page or a click is handled
    TGestorTAE::Bloqueo bloqueo(sesion.cerrojo_pagina, false);
    if (bloqueo.Tomado()) {
      Raton(sesion, x, y, tipo, modo);
      return;
    }
  }
  // A release is never lost (it ends what its press began): one that finds
  // the page busy is kept; a move or a press is dropped.
  if (soltar) Guardar({&sesion, false, 0, 0, x, y, tipo, modo});
}

bool AtenderEntradasPendientes(SesionAX& sesion) {
  return Atender(sesion);
}

void DescartarEntradasPendientes(SesionAX& sesion) {
  auto& entradas = EntradasPendientes();
  entradas.erase(std::remove_if(entradas.begin(), entradas.end(),
                                [&sesion](const EntradaPendiente& e) { return e.sesion == &sesion; }),
                 entradas.end());
}

void MoverContadorPagina(SesionAX& sesion, uint8_t modo, int paso) {
  if (modo > kModoMini) return;
  InstanciaAX& instancia = sesion.instancias[modo];
  const uint8_t parte = std::min<uint8_t>(instancia.parte.load(), kNumPartes - 1);
  const int primera = modo == kModoUnit ? instancia.PrimeraPaginaDeParte(parte) : 1;
  const int ultima = modo == kModoUnit && parte < 7 ? instancia.PrimeraPaginaDeParte(parte + 1) - 1
                                                    : instancia.total.load();
  const int pagina = instancia.pagina.load() + paso;
  instancia.pagina.store(
      static_cast<uint8_t>(std::clamp(pagina, std::max(1, primera), std::max(1, ultima))));
}

bool InterfaceAXEsperaFinEvento(SesionAX& sesion, uint32_t timeout_ms) {
  if (sesion.sesion_activa.load() == 0) return true;
  OSAL::Trace(kTraceInterfaz, "InterfaceAXEsperaFinEvento");
  ThreadEvents* eventos = sesion.eventos;
  if (eventos == nullptr) return true;
  if (auto host = platform::ui::UiHost()) {
    return host->WaitOnGuiThread([eventos] { return eventos->Libre(); }, timeout_ms);
  }
  return eventos->EsperarFin(timeout_ms);
}

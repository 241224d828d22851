// TGestorAudio's role plays: the student performing one character
// (PlayRolePlayGrabar) and the playback with the student's own lines
// (PlayRolePlayAlumno).
#include <cstdio>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "media/TAudio.h"
#include "media/TGestorAudio.h"
#include "media/internal/TrazaAudio.h"

using media_internal::Traza;

namespace {

constexpr uint8_t kTipoLineaRolePlay = 8;
constexpr uint8_t kIconoAlternativo = 2;
constexpr uint8_t kIconoMicrofono = 3;
constexpr uint8_t kIconoGrabando = 4;

std::string FicheroLinea(const std::string& carpeta, uint8_t linea) {
  char nombre[16];
  std::snprintf(nombre, sizeof nombre, "RP%02uG.STR", static_cast<unsigned>(linea));
  return carpeta + nombre;
}

// Line count and position kept inside the context's 60 lines and rows.
void Acotar(EstadoRolePlay* rp) {
  if (rp->num_lineas > IPaginaAudio::kMaxLineasRolePlay)
    rp->num_lineas = IPaginaAudio::kMaxLineasRolePlay;
  if (rp->linea_actual > rp->num_lineas) rp->linea_actual = rp->num_lineas;
  if (rp->posicion > IPaginaAudio::kMaxLineasRolePlay)
    rp->posicion = IPaginaAudio::kMaxLineasRolePlay;
}

}  // namespace

void TGestorAudio::MostrarIconoLinea(uint8_t icono, const EstadoRolePlay& rp) {
  pagina_->SeleccionarIcono(icono);
  pagina_->PosicionarIcono(static_cast<int16_t>(rp.left - 35), static_cast<int16_t>(rp.top - 5));
  pagina_->MostrarIcono(true);
}

void TGestorAudio::FinRolePlay() {
  auto lock = Bloquear();
  if (pagina_ == nullptr) return;
  EstadoRolePlay rp = pagina_->LeerRolePlay();
  rp.modo = 0;
  rp.finalizado = 1;
  rp.right = 0;
  rp.microfono = 0;
  pagina_->EscribirRolePlay(rp);
  pagina_->MostrarIcono(false);
  pagina_->ActualizarBotones();
}

void TGestorAudio::TerminarRolePlay(EstadoRolePlay* rp) {
  estado_.store(kInactivo);
  pagina_->EscribirRolePlay(*rp);
  FinRolePlay();
  Repintar();
}

bool TGestorAudio::BuscarLineaRolePlay(EstadoRolePlay* rp) {
  const uint16_t id_buscado = static_cast<uint16_t>(rp->linea_actual + 1);
  // Each page is looked at once at most: a line on none of them ends it.
  const uint16_t paginas = pagina_->NumPaginas();
  std::vector<bool> vistas(paginas, false);
  for (;;) {
    const uint16_t actual = pagina_->PaginaActual();
    if (actual >= paginas || vistas[actual]) return false;
    vistas[actual] = true;
    const uint16_t slots = pagina_->NumRegiones();
    uint16_t ultimo_id = 0;
    for (uint16_t slot = 1; slot < slots; ++slot) {
      RegionPagina region;
      if (!pagina_->LeerRegion(slot, &region) || region.tipo != kTipoLineaRolePlay ||
          region.en_uso == 0) {
        continue;
      }
      if (region.id == id_buscado) {
        rp->left = static_cast<int16_t>(region.left);
        rp->right = static_cast<int16_t>(region.right);
        rp->top = static_cast<int16_t>(region.top);
        rp->bottom = static_cast<int16_t>(region.bottom);
        return true;
      }
      ultimo_id = region.id;
    }
    // The lines on this page come before the one wanted: forward; else back.
    const int paso = ultimo_id <= rp->linea_actual ? 1 : -1;
    if (paso > 0 ? actual + 1 >= paginas : actual == 0) return false;
    if (vistas[actual + paso]) return false;
    // The page is drawn directly: a page request would stop the audio and
    // reset the role play.
    pagina_->EscribirRolePlay(*rp);
    pagina_->PintarPagina(static_cast<uint16_t>(actual + paso));
    Repintar();
    if (hook_paginas_) hook_paginas_(paso);
  }
}

void TGestorAudio::PlayRolePlayGrabar() {
  auto lock = Bloquear();
  if (pagina_ == nullptr) return;
  EstadoRolePlay rp = pagina_->LeerRolePlay();
  Acotar(&rp);
  if (rp.right != 0) pagina_->MostrarIcono(false);
  if (grabando_.load() != 0) {
    if (audio_ != nullptr) audio_->FinGrabarFraseSTR();
    grabando_.store(0);
    if (rp.linea_actual > 0) pagina_->MarcarLineaGrabada(static_cast<uint8_t>(rp.linea_actual - 1));
  }
  if (rp.linea_actual >= rp.num_lineas || !BuscarLineaRolePlay(&rp)) {
    TerminarRolePlay(&rp);
    return;
  }
  if (pagina_->LineaDePersonaje(rp.personaje, rp.posicion) == rp.linea_actual) {
    // The student's turn: the next button-down outside the regions starts
    // the line, the button-up after it ends it.
    MostrarIconoLinea(kIconoMicrofono, rp);
    rp.microfono = 1;
    grabando_.store(0);
    estado_.store(kRolePlayEspera);
    pagina_->EscribirRolePlay(rp);
    return;
  }
  MostrarIconoLinea(kIconoAlternativo, rp);
  estado_.store(kRolePlayGrabar);
  grabando_.store(0);
  char nombre[16] = {};
  pagina_->NombreLineaRolePlay(rp.linea_actual, nombre, sizeof nombre);
  rp.linea_actual = static_cast<uint8_t>(rp.linea_actual + 1);
  pagina_->EscribirRolePlay(rp);
  PlayFichero((CarpetaSegunda() + nombre + ".OGG").c_str());
}

void TGestorAudio::IniciarLineaAlumno() {
  if (pagina_ == nullptr) return;
  EstadoRolePlay rp = pagina_->LeerRolePlay();
  Acotar(&rp);
  if (rp.linea_actual >= rp.num_lineas) {
    TerminarRolePlay(&rp);
    return;
  }
  const std::string path = FicheroLinea(CarpetaAlumno(), rp.linea_actual);
  Traza(kTracePulsacionLarga, "Activada grabacion de la frase '%s'", path.c_str());
  pagina_->MostrarIcono(false);
  MostrarIconoLinea(kIconoGrabando, rp);
  estado_.store(kRolePlayGrabar);
  rp.linea_actual = static_cast<uint8_t>(rp.linea_actual + 1);
  if (rp.posicion < IPaginaAudio::kMaxLineasRolePlay)
    rp.posicion = static_cast<uint8_t>(rp.posicion + 1);
  rp.microfono = 0;
  pagina_->EscribirRolePlay(rp);
  if (audio_ != nullptr) audio_->GrabarAudioSTR(path.c_str());
  grabando_.store(1);
}

void TGestorAudio::PlayRolePlayAlumno() {
  auto lock = Bloquear();
  if (pagina_ == nullptr) return;
  EstadoRolePlay rp = pagina_->LeerRolePlay();
  Acotar(&rp);
  if (rp.right != 0) pagina_->MostrarIcono(false);
  if (rp.linea_actual >= rp.num_lineas || !BuscarLineaRolePlay(&rp)) {
    TerminarRolePlay(&rp);
    return;
  }
  std::string fichero;
  if (pagina_->LineaDePersonaje(rp.personaje, rp.posicion) == rp.linea_actual) {
    if (rp.posicion < IPaginaAudio::kMaxLineasRolePlay)
      rp.posicion = static_cast<uint8_t>(rp.posicion + 1);
    fichero = pagina_->LineaGrabada(rp.linea_actual)
                  ? FicheroLinea(CarpetaAlumno(), rp.linea_actual)
                  : CarpetaNativa() + "VACIO.OGG";
  } else {
    char nombre[16] = {};
    pagina_->NombreLineaRolePlay(rp.linea_actual, nombre, sizeof nombre);
    fichero = CarpetaSegunda() + nombre + ".OGG";
  }
  MostrarIconoLinea(kIconoAlternativo, rp);
  estado_.store(kRolePlayAlumno);
  grabando_.store(0);
  rp.linea_actual = static_cast<uint8_t>(rp.linea_actual + 1);
  pagina_->EscribirRolePlay(rp);
  PlayFichero(fichero.c_str());
}

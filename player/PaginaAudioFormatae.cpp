#include "player/PaginaAudioFormatae.h"

#include <cstring>

#include "player/RECT_VIRTUAL.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"
#include "player/TRectangulosVirtuales.h"

namespace {

RegionPagina Leer(const RECT_VIRTUAL& rv) {
  RegionPagina r;
  r.tipo = rv.tipo;
  r.en_uso = rv.en_uso;
  r.left = rv.left;
  r.top = rv.top;
  r.right = rv.right;
  r.bottom = rv.bottom;
  r.id = rv.id;
  return r;
}

}  // namespace

TFormatae* PaginaAudioFormatae::Formatae() const {
  return tae_ ? tae_->FormateadorActual() : nullptr;
}

TRectangulosVirtuales* PaginaAudioFormatae::Regiones() const {
  TFormatae* f = Formatae();
  return f ? f->RectangulosVirtuales() : nullptr;
}

CriticalSection& PaginaAudioFormatae::BloqueoPagina() {
  return tae_->CerrojoPagina();
}

uint8_t* PaginaAudioFormatae::SonidoTratado(uint16_t id) {
  TFormatae* f = Formatae();
  return f ? reinterpret_cast<uint8_t*>(f->Sonido(id)) : nullptr;
}

uint8_t* PaginaAudioFormatae::EjercicioTratado(uint16_t id) {
  TFormatae* f = Formatae();
  return f ? reinterpret_cast<uint8_t*>(f->Ejercicio(id)) : nullptr;
}

uint16_t PaginaAudioFormatae::SonidoActual() {
  TFormatae* f = Formatae();
  return f && f->Usable() ? f->itae()->sonando : 0;
}

void PaginaAudioFormatae::SeleccionarIcono(uint8_t icono) {
  if (TFormatae* f = Formatae()) f->SeleccionarIcono(icono);
}

void PaginaAudioFormatae::PosicionarIcono(int16_t x, int16_t y) {
  if (TFormatae* f = Formatae()) f->PosicionarIcono(x, y);
}

void PaginaAudioFormatae::MostrarIcono(bool mostrar) {
  if (TFormatae* f = Formatae()) f->MostrarIcono(mostrar ? 1 : 0);
}

void PaginaAudioFormatae::SolicitudActualizarPagina() {
  if (TFormatae* f = Formatae()) f->SolicitudActualizarPagina();
}

void PaginaAudioFormatae::SolicitudRepintar(uint16_t x, uint16_t y, uint16_t w, uint16_t h) {
  if (TFormatae* f = Formatae()) f->SolicitudRepintar(x, y, w, h);
}

uint16_t PaginaAudioFormatae::PaginaActual() {
  TFormatae* f = Formatae();
  return f ? f->PaginaActual() : 0;
}

uint16_t PaginaAudioFormatae::NumPaginas() {
  TFormatae* f = Formatae();
  return f ? static_cast<uint16_t>(f->NumPaginas()) : 0;
}

void PaginaAudioFormatae::PintarPagina(uint16_t pagina) {
  TFormatae* f = Formatae();
  if (f == nullptr || pagina >= static_cast<uint16_t>(f->NumPaginas())) return;
  f->SetPaginaActual(pagina);
  f->SolicitudActualizarPagina();
}

void PaginaAudioFormatae::RellenarRect(int16_t x, int16_t y, uint16_t w, uint16_t h,
                                       uint32_t color) {
  if (TFormatae* f = Formatae()) f->RellenarRect(x, y, w, h, color);
}

void PaginaAudioFormatae::PintarPNG(const char* imagen, int16_t x, int16_t y) {
  if (TFormatae* f = Formatae()) f->PintarPNG(imagen, x, y);
}

uint16_t PaginaAudioFormatae::NumRegiones() {
  TRectangulosVirtuales* r = Regiones();
  return r ? r->Cuenta() : 0;
}

bool PaginaAudioFormatae::LeerRegion(uint16_t slot, RegionPagina* region) {
  TRectangulosVirtuales* r = Regiones();
  const RECT_VIRTUAL* rv = r ? r->Region(slot) : nullptr;
  if (rv == nullptr || region == nullptr) return false;
  *region = Leer(*rv);
  return true;
}

void PaginaAudioFormatae::ActualizarBotones() {
  if (TRectangulosVirtuales* r = Regiones()) r->ActualizarBotones();
}

void PaginaAudioFormatae::LimpiarPulsacion() {
  if (TRectangulosVirtuales* r = Regiones()) r->LimpiarPulsacion();
}

void PaginaAudioFormatae::TratarCIUFraseAudioNormal() {
  if (TRectangulosVirtuales* r = Regiones()) r->TratarCIUFraseAudioNormal(nullptr);
}

void PaginaAudioFormatae::TratarCIUEjercicioEscrito() {
  if (TRectangulosVirtuales* r = Regiones()) r->TratarCIUEjercicioEscrito(nullptr, 0, 0);
}

void PaginaAudioFormatae::ActivarTiempo() {
  tae_->ActivarTiempo();
}

bool PaginaAudioFormatae::ModoNavegacion() {
  return tae_->ModoNavegacion();
}

EstadoRolePlay PaginaAudioFormatae::LeerRolePlay() {
  EstadoRolePlay e;
  const CON_ROLPLAY* rp = tae_->ConRolPlay();
  if (rp == nullptr) return e;
  e.modo = rp->modo;
  e.personaje = rp->personaje;
  e.finalizado = rp->terminado;
  e.linea_actual = rp->linea_actual;
  e.posicion = rp->posicion;
  e.left = rp->linea_izquierda;
  e.right = rp->linea_derecha;
  e.top = rp->linea_arriba;
  e.bottom = rp->linea_abajo;
  e.microfono = rp->microfono_visible;
  e.num_lineas = rp->num_lineas;
  return e;
}

void PaginaAudioFormatae::EscribirRolePlay(const EstadoRolePlay& e) {
  CON_ROLPLAY* rp = tae_->ConRolPlay();
  if (rp == nullptr) return;
  rp->modo = e.modo;
  rp->personaje = e.personaje;
  rp->terminado = e.finalizado;
  rp->linea_actual = e.linea_actual;
  rp->posicion = e.posicion;
  rp->linea_izquierda = e.left;
  rp->linea_derecha = e.right;
  rp->linea_arriba = e.top;
  rp->linea_abajo = e.bottom;
  rp->microfono_visible = e.microfono;
}

void PaginaAudioFormatae::NombreLineaRolePlay(uint8_t linea, char* nombre, size_t capacidad) {
  if (nombre == nullptr || capacidad == 0) return;
  nombre[0] = '\0';
  const CON_ROLPLAY* rp = tae_->ConRolPlay();
  if (rp == nullptr || linea >= kMaxLineasRolPlay) return;
  const LINEA_ROLPLAY& slot = rp->lineas[linea];
  size_t n = strnlen(slot.nombre, sizeof slot.nombre);
  if (n > capacidad - 1) n = capacidad - 1;
  std::memcpy(nombre, slot.nombre, n);
  nombre[n] = '\0';
}

bool PaginaAudioFormatae::LineaGrabada(uint8_t linea) {
  const CON_ROLPLAY* rp = tae_->ConRolPlay();
  return rp != nullptr && linea < kMaxLineasRolPlay && rp->lineas[linea].grabada != 0;
}

void PaginaAudioFormatae::MarcarLineaGrabada(uint8_t linea) {
  CON_ROLPLAY* rp = tae_->ConRolPlay();
  if (rp != nullptr && linea < kMaxLineasRolPlay) rp->lineas[linea].grabada = 1;
}

uint8_t PaginaAudioFormatae::LineaDePersonaje(uint8_t personaje, uint8_t posicion) {
  const CON_ROLPLAY* rp = tae_->ConRolPlay();
  if (rp == nullptr || personaje >= kMaxPersonajesRolPlay || posicion >= kMaxLineasRolPlay) {
    return kFinFila;
  }
  return rp->filas[personaje][posicion];
}

bool PaginaAudioFormatae::RegionRespuesta(RegionPagina* region) {
  const CON_SPEAK* speak = tae_->ConSpeak();
  if (speak == nullptr || speak->region_respondida == nullptr || region == nullptr) return false;
  *region = Leer(*speak->region_respondida);
  return true;
}

void PaginaAudioFormatae::FinRespuesta() {
  CON_SPEAK* speak = tae_->ConSpeak();
  if (speak == nullptr) return;
  speak->respuesta_visible = 0;
  speak->region_respondida = nullptr;
}

#include "player/LeccionGestorTAE.h"

#include "media/TGestorAnim.h"
#include "player/ContextosTAE.h"
#include "player/DocumentoParteFormatae.h"
#include "player/RegionesSesion.h"
#include "player/TGestorTAE.h"

static_assert(sizeof(CON_ROLPLAY::lineas) == ILeccion::kBytesLineasRolePlay);

void LeccionGestorTAE::CambiarFormateador(IDocumentoParte* documento,
                                          TRectangulosVirtuales* regiones) {
  auto* parte = static_cast<DocumentoParteFormatae*>(documento);
  TFormatae* formatae = parte != nullptr ? parte->formatae() : nullptr;
  if (tae_->FormateadorActual() != formatae) tae_->CambiarFormateador(formatae);
  RegionesFormatae(regiones, formatae);
}

bool LeccionGestorTAE::Ocupado() {
  return tae_->Ocupado() != 0;
}

void LeccionGestorTAE::TeclaPulsada(uint32_t tecla) {
  tae_->TeclaPulsada(static_cast<uint16_t>(tecla));
}

void LeccionGestorTAE::EventoRaton(uint16_t x, uint16_t y, uint8_t tipo,
                                   TRectangulosVirtuales* regiones) {
  RegionesEventoRaton(regiones, x, y, tipo);
}

void LeccionGestorTAE::SoltarFormateador() {
  tae_->SoltarFormateador();
}

void LeccionGestorTAE::LeerRolePlay(const char* path) {
  tae_->LeerRolePlay(path);
}

void LeccionGestorTAE::CargarDiccionarios(const char* carpeta) {
  tae_->CargarDiccionarios(carpeta);
}

int LeccionGestorTAE::CargarAnim(const char* carpeta) {
  TGestorAnim* anim = tae_->GetGestorAnim();
  return anim != nullptr ? anim->CargarAnim(carpeta) : -1;
}

bool LeccionGestorTAE::EsperarAnimacion() {
  TGestorAnim* anim = tae_->GetGestorAnim();
  return anim != nullptr && anim->EsperarCarga(kEsperaAnimacionMs) && anim->Cargada();
}

uint16_t LeccionGestorTAE::FramesAnimacion() {
  TGestorAnim* anim = tae_->GetGestorAnim();
  return anim != nullptr ? anim->NumFrames() : 0;
}

uint8_t* LeccionGestorTAE::LineasRolePlay() {
  CON_ROLPLAY* rolplay = tae_->ConRolPlay();
  return rolplay != nullptr ? reinterpret_cast<uint8_t*>(rolplay->lineas) : nullptr;
}

uint8_t LeccionGestorTAE::NumeroLineasRolePlay() {
  CON_ROLPLAY* rolplay = tae_->ConRolPlay();
  return rolplay != nullptr ? rolplay->num_lineas : 0;
}

uint32_t LeccionGestorTAE::TiempoAlmacenado() {
  return tae_->TiempoAlmacenado();
}

void LeccionGestorTAE::SetTiempoAlmacenado(uint32_t ms) {
  tae_->SetTiempoAlmacenado(ms);
}

uint32_t LeccionGestorTAE::TiempoActivo() {
  return tae_->TiempoActivo();
}

TGestorBMP* LeccionGestorTAE::GestorBMP() {
  return tae_->GetGestorBMP();
}

#include "player/RegionesSesion.h"

#include <new>

#include "base/OSAL.h"
#include "player/TRectangulosVirtuales.h"

TRectangulosVirtuales* CrearRegiones(OSAL* osal, TGestorTAE* tae) {
  auto* regiones = new (std::nothrow) TRectangulosVirtuales();
  if (regiones == nullptr) return nullptr;
  regiones->SetOSAL(osal);
  regiones->SetGestorTAE(tae);
  if (!regiones->Iniciar()) {
    delete regiones;
    return nullptr;
  }
  return regiones;
}

void DestruirRegiones(TRectangulosVirtuales* regiones) {
  delete regiones;
}

void RegionesFormatae(TRectangulosVirtuales* regiones, TFormatae* formatae) {
  if (regiones != nullptr) regiones->SetFormatae(formatae);
}

void RegionesEventoRaton(TRectangulosVirtuales* regiones, uint16_t x, uint16_t y, uint8_t tipo) {
  if (regiones != nullptr) regiones->EventoRaton(x, y, tipo);
}

void RegionesTimerTic(TRectangulosVirtuales* regiones) {
  if (regiones == nullptr) return;
  if (regiones->TiempoPulsado() < TRectangulosVirtuales::kMsPulsacionLarga) return;
  regiones->LimpiarPulsacion();
  OSAL::Trace(kTracePulsacionLarga, "Detectado el boton IZQ del raton mantenido pulsado.");
  regiones->ActivarGrabacion();
}

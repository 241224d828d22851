// What the sentence audio manager reaches of the lesson player, over the
// lesson manager's current formatter: its document's sound and exercise
// records, its page and status icon, the hit regions of its page, the
// role-play and speaking contexts, the study time and the navigation mode.
// Without a current formatter the document members do nothing and read 0.
//
// TGestorAudio calls every member with the page lock held.
#pragma once

#include "media/IPaginaAudio.h"

class TFormatae;
class TGestorTAE;
class TRectangulosVirtuales;

class PaginaAudioFormatae : public IPaginaAudio {
 public:
  explicit PaginaAudioFormatae(TGestorTAE* tae) : tae_(tae) {}

  CriticalSection& BloqueoPagina() override;
  uint8_t* SonidoTratado(uint16_t id) override;
  uint8_t* EjercicioTratado(uint16_t id) override;
  uint16_t SonidoActual() override;
  void SeleccionarIcono(uint8_t icono) override;
  void PosicionarIcono(int16_t x, int16_t y) override;
  void MostrarIcono(bool mostrar) override;
  void SolicitudActualizarPagina() override;
  void SolicitudRepintar(uint16_t x, uint16_t y, uint16_t w, uint16_t h) override;
  uint16_t PaginaActual() override;
  uint16_t NumPaginas() override;
  void PintarPagina(uint16_t pagina) override;
  void RellenarRect(int16_t x, int16_t y, uint16_t w, uint16_t h, uint32_t color) override;
  void PintarPNG(const char* imagen, int16_t x, int16_t y) override;
  uint16_t NumRegiones() override;
  bool LeerRegion(uint16_t slot, RegionPagina* region) override;
  void ActualizarBotones() override;
  void LimpiarPulsacion() override;
  void TratarCIUFraseAudioNormal() override;
  void TratarCIUEjercicioEscrito() override;
  void ActivarTiempo() override;
  bool ModoNavegacion() override;
  EstadoRolePlay LeerRolePlay() override;
  void EscribirRolePlay(const EstadoRolePlay& estado) override;
  void NombreLineaRolePlay(uint8_t linea, char* nombre, size_t capacidad) override;
  bool LineaGrabada(uint8_t linea) override;
  void MarcarLineaGrabada(uint8_t linea) override;
  uint8_t LineaDePersonaje(uint8_t personaje, uint8_t posicion) override;
  bool RegionRespuesta(RegionPagina* region) override;
  void FinRespuesta() override;

 private:
  TFormatae* Formatae() const;
  TRectangulosVirtuales* Regiones() const;

  TGestorTAE* tae_;
};

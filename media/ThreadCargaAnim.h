// The animation's loader thread: runs once, after CargarAnim wakes it. It
// decodes the pictures of the priority-1 backgrounds and their casts, then
// those of priority 0, only while the animation is stopped, reporting the
// two load figures and the loading screen's progress; then it reads the
// dialogue sound once through (so its blocks are cached) and flags the
// animation loaded, on every way out (a lost connection or a stop too).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/ThreadRecord.h"
#include "media/TGestorAnim.h"

struct TFicheroEHDD;

class ThreadCargaAnim : public ThreadRecord {
 public:
  // A cut in the reads of the dialogue sound.
  static constexpr uint32_t kTrozoDialogo = 50000;
  // The waits while the animation plays.
  static constexpr uint32_t kEsperaMs = 200;
  // The loading screen's figure: 10 at the start, 7 more per background
  // but at most 59, 60 when the sound starts, 90 when it is read.
  static constexpr uint8_t kProgresoInicio = 10;
  static constexpr uint8_t kProgresoFondo = 7;
  static constexpr uint8_t kProgresoMaxImagenes = 59;
  static constexpr uint8_t kProgresoAudio = 60;
  static constexpr uint8_t kProgresoParteAudio = 30;

  ThreadCargaAnim(TGestorAnim& anim, std::shared_ptr<TGestorAnim::Compartido> datos);

  // Makes the thread, asleep ("ThreadCargaAnim creation failed." when it
  // cannot be made).
  bool Crear();

 private:
  void Ejecutar();
  // Waits while the animation plays; false when a stop is asked.
  bool EsperarParada();
  bool PararPedido() const { return Estado() == kParar; }
  void Progreso(uint8_t valor);
  void Observar() const;
  void Porcentaje(std::atomic<uint8_t>& porcentaje, uint8_t valor, const char* traza);
  void AvanzarProgresoFondo();
  bool CargarFase(uint8_t prioridad, std::atomic<uint8_t>& porcentaje, const char* traza);
  bool CargarFondo(uint8_t k);
  bool CargarCast(uint8_t c);
  void LeerDialogo();
  // An entry at the image count (empty when bitmap is null).
  uint16_t NuevaImagen(HBITMAP bitmap, int16_t ancho, int16_t alto);
  // The picture's RGB pixels when it decodes at exactly ancho x alto, else
  // null (freed with OSAL::Free).
  uint8_t* LeerImagen(const std::string& path, uint32_t ancho, uint32_t alto);
  // A bitmap of sprite a of the strip (the whole picture when n is 1); null
  // when it cannot be made at w x h.
  HBITMAP Recortar(const uint8_t* rgb, uint8_t a, uint16_t w, uint16_t h, uint8_t n);

  std::shared_ptr<TGestorAnim::Compartido> d_;
  OSAL* osal_;
  TGestorBMP* bmp_;
  TEHDDClient* ehdd_;
  uint16_t area_;
  std::atomic<uint8_t>* progreso_ = nullptr;
  TFicheroEHDD* dialogo_ = nullptr;
};

#include "player/DocumentoParteFormatae.h"

#include "base/TGestorGDI.h"
#include "player/TFormatae.h"

void DocumentoParteFormatae::Cargar(const char* path) {
  formatae_->CargarDocumento(path);
}

void DocumentoParteFormatae::Preparar(platform::gfx::COLORREF color_tratado,
                                      platform::gfx::COLORREF color_nivel,
                                      const char* carpeta_audio_privada,
                                      const char* carpeta_alumno) {
  formatae_->SetColorTratado(color_tratado);
  formatae_->SetColorNivel(color_nivel);
  formatae_->SetCarpetaAudioPrivado(carpeta_audio_privada);
  formatae_->SetCarpetaAlumno(carpeta_alumno);
}

int16_t DocumentoParteFormatae::Paginas() {
  return formatae_->Usable() ? formatae_->NumPaginas() : 0;
}

AuditoriaDocumento DocumentoParteFormatae::Auditoria() {
  AuditoriaDocumento a;
  FTAE* ftae = formatae_->ftae();
  if (!formatae_->Usable() || ftae == nullptr) return a;
  const AUDIT_TAE& audit = ftae->audit;
  a.sonido_menor = audit.sonido_menor;
  a.sonido_mayor = audit.sonido_mayor;
  a.sonidos = audit.sonidos_abiertos;
  a.bufsontrat = reinterpret_cast<uint8_t*>(audit.bufsontrat);
  a.ejercicio_menor = audit.ejercicio_menor;
  a.ejercicio_mayor = audit.ejercicio_mayor;
  a.ejercicios = audit.ejercicios_abiertos;
  a.bufejetrat = reinterpret_cast<uint8_t*>(audit.bufejetrat);
  a.respuestas = &ftae->respuestas;
  a.errores = &ftae->errores;
  return a;
}

int DocumentoParteFormatae::SaltarPagina(uint16_t pagina) {
  return formatae_->SaltarPagina(pagina);
}

int DocumentoParteFormatae::PaginaAdelante() {
  return formatae_->PaginaAdelante();
}

int DocumentoParteFormatae::PaginaAtras() {
  return formatae_->PaginaAtras();
}

void DocumentoParteFormatae::SolicitudRepintar() {
  formatae_->SolicitudRepintar(0, 0, 0, 0);
}

uint16_t DocumentoParteFormatae::SuperficiePagina() {
  const FTAE* ftae = formatae_->ftae();
  if (ftae == nullptr || ftae->slot_pagina < 0) return TGestorGDI::kBufferInvalido;
  return static_cast<uint16_t>(ftae->slot_pagina);
}

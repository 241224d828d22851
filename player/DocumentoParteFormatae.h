// The document of one part (or of the mini-course) as the session's workers
// see it, over a TAE formatter: load, colours and folders, page count, the
// audit records, the page moves and the copy of the page to the window.
#pragma once

#include "player/IDocumentoParte.h"

class TFormatae;

class DocumentoParteFormatae : public IDocumentoParte {
 public:
  // The formatter stays the caller's.
  explicit DocumentoParteFormatae(TFormatae* formatae) : formatae_(formatae) {}

  void Cargar(const char* path) override;
  void Preparar(platform::gfx::COLORREF color_tratado, platform::gfx::COLORREF color_nivel,
                const char* carpeta_audio_privada, const char* carpeta_alumno) override;
  int16_t Paginas() override;
  AuditoriaDocumento Auditoria() override;
  int SaltarPagina(uint16_t pagina) override;
  int PaginaAdelante() override;
  int PaginaAtras() override;
  void SolicitudRepintar() override;
  uint16_t SuperficiePagina() override;

  TFormatae* formatae() const { return formatae_; }

 private:
  TFormatae* formatae_;
};

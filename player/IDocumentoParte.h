// What the session's workers need of the document of one part (or of the
// mini-course): load it, prepare its colours and folders, turn its pages,
// show its page surface, and reach the records the student's audit saves.
//
// The unit loader calls Cargar and Preparar on its own thread; the page
// moves and SolicitudRepintar are called with the session's page lock held.
#pragma once

#include <cstdint>

#include "platform/gfx/Colour.h"

// The per-document audit figures and record buffers, as the document holds
// them after a load. The pointers stay valid until the next Cargar.
struct AuditoriaDocumento {
  uint16_t sonido_menor = 9999;  // lowest and highest sound number
  uint16_t sonido_mayor = 0;
  int16_t sonidos = 0;            // sound-opening tags with a non-zero number
  uint8_t* bufsontrat = nullptr;  // (sonido_mayor + 1) records of 4 bytes
  uint16_t ejercicio_menor = 9999;
  uint16_t ejercicio_mayor = 0;
  int16_t ejercicios = 0;          // exercise-opening tags
  uint8_t* bufejetrat = nullptr;   // (ejercicio_mayor + 1) records of 410 bytes
  uint16_t* respuestas = nullptr;  // the document's answers and errors counters
  uint16_t* errores = nullptr;
};

class IDocumentoParte {
 public:
  virtual ~IDocumentoParte() = default;

  // Reads the document at a virtual path (an unreadable one is an empty
  // document of one page).
  virtual void Cargar(const char* path) = 0;
  // The colours and folders a unit part gets once loaded: the treated and
  // level colours, the private audio folder and the student's folder.
  virtual void Preparar(platform::gfx::COLORREF color_tratado, platform::gfx::COLORREF color_nivel,
                        const char* carpeta_audio_privada, const char* carpeta_alumno) = 0;
  // The number of pages (0 before the first load).
  virtual int16_t Paginas() = 0;
  virtual AuditoriaDocumento Auditoria() = 0;

  // Page moves: each draws the page into the page surface; 1 when there is
  // no such page (nothing drawn), else 0.
  virtual int SaltarPagina(uint16_t pagina) = 0;
  virtual int PaginaAdelante() = 0;
  virtual int PaginaAtras() = 0;
  // Copies the whole page surface to the control window.
  virtual void SolicitudRepintar() = 0;
  // The drawing slot of the page surface.
  virtual uint16_t SuperficiePagina() = 0;
};

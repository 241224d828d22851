#include "player/TFormatae.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "base/OSAL.h"
#include "player/EJE_PANTALLA.h"
#include "player/TGestorTAE.h"

namespace {

void CopiarCarpeta(char* destino, const char* carpeta) {
  std::snprintf(destino, kCarpetaTAE, "%s", carpeta ? carpeta : "");
}

}  // namespace

void* TFormatae::Pedir(uint32_t size, const char* tag) {
  return OSALDeSesion(osal_).PedirMemoria(size, tag);
}

void TFormatae::Liberar(void* bloque, const char* tag) {
  if (bloque != nullptr) OSALDeSesion(osal_).LiberarMemoria(bloque, tag);
}

void TFormatae::Error(const char* texto) {
  if (tae_ != nullptr) {
    tae_->MostrarError(texto);
  } else {
    OSALDeSesion(osal_).MostrarError(texto);
  }
}

IAudioPagina& TFormatae::Audio() const {
  return tae_ ? tae_->AudioPagina() : TGestorTAE::SinAudio();
}

IAnimPagina& TFormatae::Anim() const {
  return tae_ ? tae_->AnimPagina() : TGestorTAE::SinAnim();
}

TFormatae* TFormatae::Crear(TGestorTAE* tae, int16_t area_x, int16_t area_y, int16_t area_ancho,
                            int16_t area_alto, int16_t ancho_superficie, int16_t alto_superficie,
                            int16_t ventana_x, int16_t ventana_y,
                            platform::gfx::COLORREF color_pagina,
                            platform::gfx::COLORREF color_tratado) {
  TFormatae* formateador = new (std::nothrow) TFormatae();
  if (formateador == nullptr) {
    OSALDeSesion(tae ? tae->GetOSAL() : nullptr).MostrarError("Module FTAE loaded ERROR.");
    return nullptr;
  }
  if (tae != nullptr) {
    formateador->osal_ = tae->GetOSAL();
    formateador->gdi_ = tae->GetGestorGDI();
    formateador->ehdd_ = tae->GetEHDDClient();
    formateador->tae_ = tae;
    formateador->audio_ = tae->GetGestorAudio();
    formateador->bmp_ = tae->GetGestorBMP();
    formateador->anim_ = tae->GetGestorAnim();
    formateador->conejescrito_ = tae->ConEjEscrito();
    formateador->conrolplay_ = tae->ConRolPlay();
    formateador->conspeak_ = tae->ConSpeak();
  }
  formateador->IniciarFtae(area_x, area_y, area_ancho, area_alto, ancho_superficie, alto_superficie,
                           ventana_x, ventana_y, color_pagina, color_tratado);
  return formateador;
}

void TFormatae::IniciarFtae(int16_t area_x, int16_t area_y, int16_t area_ancho, int16_t area_alto,
                            int16_t ancho_superficie, int16_t alto_superficie, int16_t ventana_x,
                            int16_t ventana_y, platform::gfx::COLORREF color_pagina,
                            platform::gfx::COLORREF color_tratado) {
  usable_ = false;
  ftae_ = static_cast<FTAE*>(Pedir(sizeof(FTAE), "ftae"));
  if (ftae_ == nullptr) {
    Error("Error en 'malloc' para 'ftae'.");
    return;
  }
  std::memset(static_cast<void*>(ftae_), 0, sizeof(FTAE));
  itae_ = static_cast<ITAE*>(Pedir(sizeof(ITAE), "itae"));
  if (itae_ == nullptr) {
    Error("Error en 'malloc' para 'itae'.");
    return;
  }
  std::memset(static_cast<void*>(itae_), 0, sizeof(ITAE));
  itae_->tabtamchar = static_cast<uint8_t*>(Pedir(256, "tabtamchar"));
  if (itae_->tabtamchar == nullptr) {
    Error("Error en 'malloc' para 'tabtamchar'.");
    return;
  }
  std::memset(itae_->tabtamchar, 0, 256);
  ftae_->paginas = static_cast<PAGINA_TAE*>(Pedir(sizeof(PAGINA_TAE) * kMaxPaginasTAE, "paginas"));
  if (ftae_->paginas == nullptr) {
    Error("Error en 'malloc' para 'paginas'.");
    return;
  }
  std::memset(ftae_->paginas, 0, sizeof(PAGINA_TAE) * kMaxPaginasTAE);

  ftae_->doctae = nullptr;
  ftae_->longitud = 0;
  ftae_->ancho_superficie = ancho_superficie;
  ftae_->alto_superficie = alto_superficie;
  ftae_->area_x = area_x;
  ftae_->area_y = area_y;
  ftae_->area_ancho = area_ancho;
  ftae_->area_alto = area_alto;
  ftae_->ventana_x = ventana_x;
  ftae_->ventana_y = ventana_y;
  ftae_->num_paginas = 0;
  ftae_->color_pagina = color_pagina;
  ftae_->color_tratado = color_tratado;
  ftae_->color_nivel = 0;
  ftae_->audit.bufsontrat = nullptr;
  ftae_->audit.bufejetrat = nullptr;
  ftae_->itae = itae_;
  CopiarCarpeta(ftae_->carpeta_skin, "X:\\HDD\\DATOS\\SKIN");
  CopiarCarpeta(ftae_->carpeta_skin_unidad, "M:\\DATOS\\SKIN\\CLASES");
  CopiarCarpeta(ftae_->carpeta_audio_nativo, "M:\\AUDIO\\");
  CopiarCarpeta(ftae_->carpeta_audio_privado, "M:\\AUDIO\\");
  CopiarCarpeta(ftae_->carpeta_alumno, "S:\\");
  ftae_->slot_pagina = -1;
  ftae_->slot_guardar = -1;
  itae_->fondo_guardado = 0xFFFFFF;
  itae_->inicio_parrafo = 1;
  usable_ = true;
}

TFormatae::~TFormatae() {
  if (ftae_ != nullptr) {
    Liberar(ftae_->audit.bufsontrat, "bufsontrat");
    Liberar(ftae_->audit.bufejetrat, "bufejetrat");
    LiberarTexto();
    Liberar(ftae_->paginas, "paginas");
  }
  if (itae_ != nullptr) Liberar(itae_->tabtamchar, "tabtamchar");
  Liberar(itae_, "itae");
  Liberar(ftae_, "ftae");
  OSAL::Trace(kTraceModulos, "Terminado TFormatae.");
}

EJE_TRATADO* TFormatae::Ejercicio(uint16_t numero) {
  if (!usable_ || ftae_->audit.bufejetrat == nullptr || numero > ftae_->audit.ejercicio_mayor) {
    return nullptr;
  }
  return &ftae_->audit.bufejetrat[numero];
}

SON_TRATADO* TFormatae::Sonido(uint16_t numero) {
  if (!usable_ || ftae_->audit.bufsontrat == nullptr || numero > ftae_->audit.sonido_mayor) {
    return nullptr;
  }
  return &ftae_->audit.bufsontrat[numero];
}

EJE_PANTALLA* TFormatae::Entrada(uint16_t indice) {
  if (conejescrito_ == nullptr || conejescrito_->bufejescpant == nullptr || indice == 0 ||
      indice > conejescrito_->num_entradas || indice >= kEntradasEjePantalla) {
    return nullptr;
  }
  return &conejescrito_->bufejescpant[indice];
}

uint8_t TFormatae::ParteDeRuta(const char* path) {
  static constexpr const char* kPartes[] = {"SI", "ST", "DI", "RO", "GR", "WR", "VO", "PR"};
  const size_t n = path ? std::strlen(path) : 0;
  if (n < 6 || std::strcmp(path + n - 4, ".TAE") != 0) return 0;
  for (uint8_t i = 0; i < 8; ++i) {
    if (path[n - 6] == kPartes[i][0] && path[n - 5] == kPartes[i][1]) return i;
  }
  return 0;
}

const char* TFormatae::Texto() const {
  return usable_ && ftae_->doctae ? ftae_->doctae : "";
}

uint32_t TFormatae::LongitudTexto() const {
  return usable_ && ftae_->doctae ? ftae_->longitud : 0;
}

int16_t TFormatae::NumPaginas() const {
  return usable_ ? ftae_->num_paginas : 0;
}

const PAGINA_TAE* TFormatae::Pagina(uint16_t n) const {
  if (!usable_ || n >= ftae_->num_paginas) return nullptr;
  return &ftae_->paginas[n];
}

uint16_t TFormatae::PaginaActual() const {
  return usable_ ? itae_->pagina_actual : 0;
}

AUDIT_TAE* TFormatae::Auditoria() {
  return ftae_ ? &ftae_->audit : nullptr;
}

const AUDIT_TAE* TFormatae::Auditoria() const {
  return ftae_ ? &ftae_->audit : nullptr;
}

void TFormatae::SetCarpetaSkin(const char* carpeta) {
  if (ftae_) CopiarCarpeta(ftae_->carpeta_skin, carpeta);
}

void TFormatae::SetCarpetaSkinUnidad(const char* carpeta) {
  if (ftae_) CopiarCarpeta(ftae_->carpeta_skin_unidad, carpeta);
}

void TFormatae::SetCarpetaAudioNativo(const char* carpeta) {
  if (ftae_) CopiarCarpeta(ftae_->carpeta_audio_nativo, carpeta);
}

void TFormatae::SetCarpetaAudioPrivado(const char* carpeta) {
  if (ftae_) CopiarCarpeta(ftae_->carpeta_audio_privado, carpeta);
}

void TFormatae::SetCarpetaAlumno(const char* carpeta) {
  if (ftae_) CopiarCarpeta(ftae_->carpeta_alumno, carpeta);
}

void TFormatae::SetColorTratado(platform::gfx::COLORREF color) {
  if (ftae_) ftae_->color_tratado = color;
}

void TFormatae::SetColorNivel(platform::gfx::COLORREF color) {
  if (ftae_) ftae_->color_nivel = color;
}

void TFormatae::SetSlotPagina(int16_t slot) {
  if (ftae_) ftae_->slot_pagina = slot;
}

void TFormatae::SetSlotGuardar(int16_t slot) {
  if (ftae_) ftae_->slot_guardar = slot;
}

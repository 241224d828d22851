// The drawing pass's page features: the handlers of SONIDO, BITMAPF, BOTON,
// ROLPLAY, FSPEAK and ASPEAK (images, buttons and the hit regions that make
// the page clickable), the region pieces of sounds split over lines, the
// page requests, the status icon over the page, and the animation panel
// with its progress bar and subtitle line.
//
// Images are decoded once and kept: skin images (buttons, boxes, icons) for
// the session, BITMAPF pictures for the document's load. One that is
// missing or bad is reported once and drawn as the 30 x 30 placeholder.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "base/TGestorGDI.h"
#include "base/TListaStrings.h"
#include "player/EJE_PANTALLA.h"
#include "player/RECT_VIRTUAL.h"
#include "player/SesionAX.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"
#include "player/TRectangulosVirtuales.h"

namespace {

constexpr int kTracePagina = 17;
constexpr platform::gfx::COLORREF kGrisPanel = 0x666666;
constexpr platform::gfx::COLORREF kLineaPanel = 0x525252;
constexpr platform::gfx::COLORREF kColorSubtitulo = 0x00FFFF;
// A path of an image, its NUL included: a longer one is a missing image.
constexpr size_t kMaxRutaImagen = 200;
// Side of the area saved under the status icon.
constexpr int kLadoIcono = 50;

const char* const kIconos[] = {nullptr, "COMUN\\GGRA04", "COMUN\\ALT04", "COMUN\\MIC01",
                               "COMUN\\MIC04"};

// The image as a surface; null when it cannot be read.
std::unique_ptr<platform::gfx::Surface> Decodificar(TGestorBMP* bmp, const std::string& path) {
  if (bmp == nullptr || path.size() >= kMaxRutaImagen) return nullptr;
  uint32_t ancho = 0;
  uint32_t alto = 0;
  uint8_t* rgb = bmp->LeerPNGToMemoryRGB(path.c_str(), &ancho, &alto);
  if (rgb == nullptr) return nullptr;
  std::unique_ptr<platform::gfx::Surface> imagen;
  if (ancho > 0 && alto > 0 && ancho <= 0xFFFF && alto <= 0xFFFF) {
    imagen =
        std::make_unique<platform::gfx::Surface>(static_cast<int>(ancho), static_cast<int>(alto));
    const uint8_t* p = rgb;
    for (uint32_t y = 0; y < alto; ++y) {
      uint32_t* fila = imagen->Row(static_cast<int>(y));
      for (uint32_t x = 0; x < ancho; ++x, p += 3) {
        fila[x] = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
      }
    }
  }
  OSAL::Free(rgb);
  return imagen;
}

int32_t Acotar16(int32_t v) {
  return std::clamp<int32_t>(v, 0, 0xFFFF);
}

// A button's place as its tag gives it (any int32), kept where adding an
// offset and a picture's size cannot overflow: past 16 bits the button draws
// nothing and its region is cut to 16 bits all the same.
int32_t CoordenadaTag(int32_t v) {
  return std::clamp<int32_t>(v, -0x10000, 0x10000);
}

// Cuts a rectangle at the origin: the part left of or above 0 is dropped
// (and the source moved by as much). False when nothing is left.
bool Recortar(int32_t& x, int32_t& y, int32_t& w, int32_t& h, int32_t& sx, int32_t& sy) {
  if (x < 0) {
    sx -= x;
    w += x;
    x = 0;
  }
  if (y < 0) {
    sy -= y;
    h += y;
    y = 0;
  }
  w = std::min<int32_t>(w, 0xFFFF - x);
  h = std::min<int32_t>(h, 0xFFFF - y);
  return w > 0 && h > 0 && x <= 0xFFFF && y <= 0xFFFF;
}

}  // namespace

// Regions.

RECT_VIRTUAL* TFormatae::Region(uint16_t slot) {
  return regiones_ && slot != 0 ? regiones_->Region(slot) : nullptr;
}

uint16_t TFormatae::NuevaRegion(uint8_t tipo, int32_t left, int32_t top, int32_t right,
                                int32_t bottom, uint16_t id) {
  if (regiones_ == nullptr) return 0;
  const uint16_t slot = regiones_->NuevoRectangulo();
  RECT_VIRTUAL* rv = Region(slot);
  if (rv == nullptr) return 0;
  std::memset(rv->cola, 0, sizeof rv->cola);
  PonerPalabraTipo(*rv, static_cast<uint16_t>(0x100 + tipo));
  rv->left = static_cast<uint16_t>(Acotar16(left));
  rv->top = static_cast<uint16_t>(Acotar16(top));
  rv->right = static_cast<uint16_t>(Acotar16(right));
  rv->bottom = static_cast<uint16_t>(Acotar16(bottom));
  rv->enlace = -1;
  rv->id = id;
  return slot;
}

int32_t TFormatae::ArribaLinea() const {
  return AjusteVertical(itae_->run_y, itae_->estilo.fuente.lfHeight);
}

int32_t TFormatae::AbajoLinea() const {
  return itae_->run_y - itae_->estilo.fuente.lfHeight;
}

void TFormatae::BorrarRegionesPagina() {
  if (regiones_ == nullptr) return;
  // The table holds the page drawn last: this one.
  regiones_->SetFormatae(this);
  regiones_->BorrarRectangulos(1);
}

void TFormatae::ContinuarRegion() {
  ITAE& it = *itae_;
  if (!it.region_abierta_flag) return;
  RECT_VIRTUAL* anterior = Region(it.region_abierta);
  if (anterior == nullptr ||
      (anterior->tipo != kRegionFrase && anterior->tipo != kRegionFrasePrivada)) {
    return;
  }
  const int32_t x = ftae_->area_x + it.pen;
  const uint16_t slot =
      NuevaRegion(anterior->tipo, x, ArribaLinea(), x, AbajoLinea(), anterior->id);
  RECT_VIRTUAL* pieza = Region(slot);
  if (pieza == nullptr) {
    // No room for the next piece: the sound ends on the line before.
    it.region_abierta = 0;
    it.region_abierta_flag = 0;
    return;
  }
  anterior = Region(it.region_abierta);  // the table does not move, but be plain
  std::memcpy(pieza->cola, anterior->cola, sizeof pieza->cola);
  anterior->enlace = static_cast<int16_t>(slot);
  pieza->enlace = 0;
  it.region_abierta = slot;
}

void TFormatae::CerrarRegionLinea() {
  ITAE& it = *itae_;
  const int32_t right = Acotar16(ftae_->area_x + it.pen);
  const int32_t bottom = Acotar16(AbajoLinea());
  if (it.region_abierta_flag) {
    RECT_VIRTUAL* rv = Region(it.region_abierta);
    if (rv != nullptr && (rv->tipo == kRegionFrase || rv->tipo == kRegionFrasePrivada ||
                          rv->tipo == kRegionEjercicio)) {
      rv->right = static_cast<uint16_t>(right);
      rv->bottom = static_cast<uint16_t>(bottom);
    }
  }
  if (RECT_VIRTUAL* ejercicio = Region(it.region_ejercicio)) {
    ejercicio->right = static_cast<uint16_t>(right);
    ejercicio->bottom = static_cast<uint16_t>(bottom);
  }
  // A gap going on past the line ends its piece here.
  if (it.en_hueco && hueco_pedido_) CerrarPiezaHueco(ftae_->area_x + it.pen);
  if (nivel2_pedido_) CerrarPiezaNivel2(ftae_->area_x + it.pen);
}

void TFormatae::ReiniciarContextosPagina() {
  if (CON_EJESCRITO* c = conejescrito_) {
    c->ejercicio_actual = 0;
    c->entrada_actual = 0;
    c->indice_caret = 0;
    c->caret_visible = 0;
    c->solucion_visible = 0;
    c->nivel = 1;
    c->boton_dificultad1 = nullptr;
    c->boton_dificultad2 = nullptr;
    c->hueco = nullptr;
    c->boton_solucion = nullptr;
    c->num_entradas = 0;
  }
  if (CON_SPEAK* s = conspeak_) {
    // The answered region was one of the table's, which is now refilled.
    s->region_respondida = nullptr;
    s->respuesta_visible = 0;
  }
  ftae_->icono_visible = 0;
  ejercicio_tratado_ = false;
  hueco_pedido_ = false;
  hueco_en_linea_ = false;
  nivel2_pedido_ = false;
  nivel2_en_linea_ = false;
  nivel2_piezas_.clear();
  speak_abierto_ = false;
  region_speak_ = 0;
  grabado_speak_ = 0;
  OSALDeSesion(osal_).CrearCaret();
}

void TFormatae::GrabarTexto(const char* bytes, uint32_t longitud) {
  ITAE& it = *itae_;
  if (it.ejercicio_actual != 0) {
    if (longitud > 0 && it.indice_grabado < kMaxGrabadoEjercicio) ContinuarPiezaHueco();
    if (EJE_PANTALLA* e = Entrada(conejescrito_ ? conejescrito_->num_entradas : 0)) {
      for (uint32_t i = 0; i < longitud && it.indice_grabado < kMaxGrabadoEjercicio; ++i) {
        e->texto[it.indice_grabado] = bytes[i];
        e->mascara[it.indice_grabado] = it.en_hueco ? '-' : '*';
        if (it.en_hueco && it.longitud_hueco < 0xFF) ++it.longitud_hueco;
        ++it.indice_grabado;
      }
    }
  }
  if (speak_abierto_) {
    if (RECT_VIRTUAL* rv = Region(region_speak_)) {
      for (uint32_t i = 0; i < longitud && grabado_speak_ < kMaxTextoRegion; ++i) {
        rv->cola[grabado_speak_++] = bytes[i];
      }
      rv->cola[grabado_speak_] = '\0';
    }
  }
}

// Images.

TFormatae::Tamano TFormatae::PintarImagen(const std::string& path, int32_t x, int32_t y,
                                          bool de_sesion) {
  auto decodificar = [&] { return Decodificar(bmp_, path); };
  const platform::gfx::Surface* imagen = nullptr;
  bool nueva = false;
  std::unique_ptr<platform::gfx::Surface> suelta;
  if (de_sesion && tae_ != nullptr) {
    imagen = tae_->ImagenSesion(path, decodificar, &nueva);
  } else if (de_sesion) {
    suelta = decodificar();
    imagen = suelta.get();
    nueva = true;
  } else {
    auto it = imagenes_carga_.find(path);
    if (it == imagenes_carga_.end()) {
      it = imagenes_carga_.emplace(path, decodificar()).first;
      nueva = true;
    }
    imagen = it->second.get();
  }
  std::unique_ptr<platform::gfx::Surface> marcador;
  if (imagen == nullptr) {
    if (nueva) Error(path.c_str());
    marcador.reset(bmp_ ? bmp_->BitmapNoEncontrado() : nullptr);
    if (marcador == nullptr) {
      marcador = std::make_unique<platform::gfx::Surface>(TGestorBMP::kLadoNoEncontrado,
                                                          TGestorBMP::kLadoNoEncontrado);
    }
    imagen = marcador.get();
  }
  Tamano tamano{static_cast<uint16_t>(imagen->Width()), static_cast<uint16_t>(imagen->Height())};
  if (gdi_ == nullptr) return tamano;
  int32_t w = imagen->Width();
  int32_t h = imagen->Height();
  int32_t sx = 0;
  int32_t sy = 0;
  if (!Recortar(x, y, w, h, sx, sy)) return tamano;
  if (sx == 0 && sy == 0) {
    gdi_->DrawBitmap(SlotPagina(), const_cast<platform::gfx::Surface*>(imagen),
                     static_cast<uint16_t>(x), static_cast<uint16_t>(y), static_cast<uint16_t>(w),
                     static_cast<uint16_t>(h));
  } else {
    // Part of it lies left of or above the surface: the visible part alone.
    platform::gfx::Surface parte(w, h);
    platform::gfx::CopyRect(parte, 0, 0, *imagen, sx, sy, w, h);
    gdi_->DrawBitmap(SlotPagina(), &parte, static_cast<uint16_t>(x), static_cast<uint16_t>(y),
                     static_cast<uint16_t>(w), static_cast<uint16_t>(h));
  }
  return tamano;
}

TFormatae::Tamano TFormatae::PintarPNG(const char* imagen, int32_t x, int32_t y) {
  if (!usable_) return {};
  const std::string path =
      std::string(ftae_->carpeta_skin) + "\\" + (imagen ? imagen : "") + ".PNG";
  return PintarImagen(path, x, y, true);
}

void TFormatae::RellenarRect(int32_t x, int32_t y, int32_t w, int32_t h,
                             platform::gfx::COLORREF color) {
  if (!usable_ || gdi_ == nullptr) return;
  int32_t sx = 0;
  int32_t sy = 0;
  if (!Recortar(x, y, w, h, sx, sy)) return;
  gdi_->FillRect(SlotPagina(), static_cast<uint16_t>(x), static_cast<uint16_t>(y),
                 static_cast<uint16_t>(w), static_cast<uint16_t>(h), color);
}

void TFormatae::EscribirTexto(int32_t x, int32_t y, const char* texto, size_t longitud,
                              const platform::gfx::LOGFONTA& fuente, int8_t espaciado,
                              platform::gfx::COLORREF color, platform::gfx::COLORREF fondo) {
  if (!usable_ || gdi_ == nullptr || longitud == 0 || x < 0 || x > 0xFFFF || y > 0xFFFF) return;
  gdi_->TextOutFont(SlotPagina(), static_cast<uint16_t>(x),
                    static_cast<uint16_t>(std::max<int32_t>(0, y)), texto,
                    static_cast<int>(longitud), fuente, espaciado, color, fondo);
}

void TFormatae::CopiarSlots(int16_t origen, int32_t ox, int32_t oy, int16_t destino, int32_t dx,
                            int32_t dy, int32_t w, int32_t h) {
  if (gdi_ == nullptr || origen < 0 || destino < 0) return;
  if (ox < 0) {
    dx -= ox;
    w += ox;
    ox = 0;
  }
  if (oy < 0) {
    dy -= oy;
    h += oy;
    oy = 0;
  }
  if (!Recortar(dx, dy, w, h, ox, oy) || ox > 0xFFFF || oy > 0xFFFF) return;
  gdi_->CopyBuffer(static_cast<uint16_t>(origen), static_cast<uint16_t>(ox),
                   static_cast<uint16_t>(oy), static_cast<uint16_t>(destino),
                   static_cast<uint16_t>(dx), static_cast<uint16_t>(dy), static_cast<uint16_t>(w),
                   static_cast<uint16_t>(h));
}

void TFormatae::Presentar(int32_t x, int32_t y, int32_t w, int32_t h) {
  if (!usable_ || gdi_ == nullptr) return;
  int32_t sx = 0;
  int32_t sy = 0;
  // An empty rectangle presents nothing (a width of 0 would be the whole page).
  if (!Recortar(x, y, w, h, sx, sy)) return;
  gdi_->MostrarBuffer(SlotPagina(), static_cast<uint16_t>(x), static_cast<uint16_t>(y),
                      static_cast<uint16_t>(w), static_cast<uint16_t>(h));
}

// Tag handlers.

void TFormatae::TagSonido(const TagTAE& tag) {
  ITAE& it = *itae_;
  const char* texto = ftae_->doctae;
  const int32_t tipo = NumeroCampo(texto, tag, 0);
  const int32_t numero = NumeroCampo(texto, tag, 1);
  if (numero == 0) {
    if (it.region_abierta_flag) {
      if (RECT_VIRTUAL* rv = Region(it.region_abierta)) {
        rv->right = static_cast<uint16_t>(Acotar16(ftae_->area_x + it.pen));
        rv->bottom = static_cast<uint16_t>(Acotar16(AbajoLinea()));
        if (rv->right <= rv->left) {
          if (rv->tipo == kRegionFraseUnica) {
            // A one-piece sound that wrapped ends left of its start: it
            // reaches the area's right edge.
            rv->right =
                static_cast<uint16_t>(Acotar16(int32_t{ftae_->area_x} + ftae_->area_ancho));
          } else {
            // The last piece of a sound whose closing tag opens a line holds
            // nothing: it stays empty and catches no click.
            rv->right = rv->left;
          }
        }
      }
      it.region_abierta = 0;
      it.region_abierta_flag = 0;
    }
    if (it.estilo.color_fondo == ftae_->color_tratado) it.estilo.color_fondo = it.fondo_guardado;
    return;
  }
  // A number the pre-pass never met has no record: the sound stays text.
  if (numero < 0 || numero > 0xFFFF) return;
  const SON_TRATADO* registro = Sonido(static_cast<uint16_t>(numero));
  if (registro == nullptr) return;
  const uint8_t tipo_region = tipo == 1   ? kRegionFrase
                              : tipo == 2 ? kRegionFraseUnica
                                          : kRegionFrasePrivada;
  const int32_t x = ftae_->area_x + it.pen;
  const uint16_t slot =
      NuevaRegion(tipo_region, x, ArribaLinea(), x, AbajoLinea(), static_cast<uint16_t>(numero));
  if (RECT_VIRTUAL* rv = Region(slot)) {
    const CampoTAE nombre = Campo(texto, tag, 2);
    PonerTextoRegion(*rv, nombre.bytes, nombre.existe ? nombre.longitud : 0);
  }
  if (registro->comparaciones >= 1) {
    it.fondo_guardado = it.estilo.color_fondo;
    it.estilo.color_fondo = ftae_->color_tratado;
  }
  it.region_abierta = slot;
  it.region_abierta_flag = slot != 0 ? 1 : 0;
}

void TFormatae::TagBitmapF(const TagTAE& tag) {
  const char* texto = ftae_->doctae;
  const CampoTAE nombre = Campo(texto, tag, 0);
  const std::string path = std::string(ftae_->carpeta_skin_unidad) + "\\" +
                           std::string(nombre.bytes, nombre.existe ? nombre.longitud : 0) + ".PNG";
  PintarImagen(path, NumeroCampo(texto, tag, 2), NumeroCampo(texto, tag, 3), false);
}

void TFormatae::TagBoton(const TagTAE& tag) {
  const char* texto = ftae_->doctae;
  switch (NumeroCampo(texto, tag, 0)) {
    case 1: {
      const int32_t x = CoordenadaTag(NumeroCampo(texto, tag, 1));
      const int32_t y = CoordenadaTag(NumeroCampo(texto, tag, 2));
      const Tamano t = PintarPNG("COMUN\\BTNSOLN", x, y);
      const uint16_t slot = NuevaRegion(kRegionSolucion, x, y, x + t.ancho, y + t.alto, 0);
      if (conejescrito_ && slot != 0) conejescrito_->boton_solucion = Region(slot);
      break;
    }
    case 2:
      PanelAnimacion();
      break;
    case 3: {
      const uint16_t personaje = static_cast<uint8_t>(NumeroCampo(texto, tag, 1));
      const int32_t x = CoordenadaTag(NumeroCampo(texto, tag, 2));
      const int32_t y = CoordenadaTag(NumeroCampo(texto, tag, 3));
      struct Boton {
        const char* imagen;
        int32_t dx;
        uint8_t tipo;
      };
      static constexpr Boton kBotones[] = {{"COMUN\\BTNRECN", 1, kRegionRolePlayGrabar},
                                           {"COMUN\\BTNSTOPD", 23, kRegionRolePlayStop},
                                           {"COMUN\\BTNPLAYN", 45, kRegionRolePlayPlay}};
      for (const Boton& b : kBotones) {
        const Tamano t = PintarPNG(b.imagen, x + b.dx, y);
        NuevaRegion(b.tipo, x + b.dx, y, x + b.dx + t.ancho, y + t.alto, personaje);
      }
      if (regiones_) regiones_->ActualizarBotones();
      break;
    }
    case 8: {
      const int32_t x = CoordenadaTag(NumeroCampo(texto, tag, 1));
      const int32_t y = CoordenadaTag(NumeroCampo(texto, tag, 2));
      const int32_t nivel = NumeroCampo(texto, tag, 3);
      if (nivel != 1 && nivel != 2) break;  // no such level: nothing
      const Tamano t = PintarPNG(nivel == 1 ? "COMUN\\BTNDIF1N" : "COMUN\\BTNDIF2N", x, y);
      const uint16_t slot = NuevaRegion(kRegionDificultad, x, y, x + t.ancho, y + t.alto,
                                        static_cast<uint16_t>(nivel));
      if (conejescrito_ && slot != 0) {
        (nivel == 1 ? conejescrito_->boton_dificultad1 : conejescrito_->boton_dificultad2) =
            Region(slot);
      }
      break;
    }
    default:
      break;  // the other types failed before reaching here
  }
}

void TFormatae::TagRolPlay(const TagTAE& tag) {
  const int32_t x = ftae_->area_x + itae_->pen;
  const int32_t ancho = conrolplay_ ? conrolplay_->ancho_linea : 0;
  NuevaRegion(kRegionLineaRolePlay, x, ArribaLinea(), x + ancho, AbajoLinea(),
              static_cast<uint16_t>(NumeroCampo(ftae_->doctae, tag, 0)));
}

void TFormatae::TagFSpeak(const TagTAE& tag) {
  const int32_t x = ftae_->area_x + itae_->pen;
  NuevaRegion(kRegionSpeak, x, ArribaLinea(), x + 10, itae_->run_y + 10,
              static_cast<uint16_t>(NumeroCampo(ftae_->doctae, tag, 0)));
}

void TFormatae::TagASpeak(const TagTAE& tag) {
  ITAE& it = *itae_;
  const char* texto = ftae_->doctae;
  const int32_t numero = NumeroCampo(texto, tag, 0);
  if (numero == 0) {
    if (!speak_abierto_) return;
    if (RECT_VIRTUAL* rv = Region(region_speak_)) rv->cola[grabado_speak_] = '\0';
    it.ocultar_texto = 0;
    if (it.region_abierta == region_speak_) {
      it.region_abierta = 0;
      it.region_abierta_flag = 0;
    }
    speak_abierto_ = false;
    region_speak_ = 0;
    it.respuesta_speak = 0;
    return;
  }
  it.ocultar_texto = 1;
  if (conspeak_ != nullptr) {
    conspeak_->fuente = it.estilo.fuente;
    conspeak_->espaciado = it.estilo.espaciado;
    if (conspeak_->tabtamchar) std::memcpy(conspeak_->tabtamchar, it.tabtamchar, 256);
  }
  const int32_t x = ftae_->area_x + it.pen - 77;
  const int32_t y = it.run_y + 1;
  const Tamano t = PintarPNG("COMUN\\BTNSOLN", x, y);
  const uint16_t id = static_cast<uint16_t>(numero);
  const uint16_t slot = NuevaRegion(kRegionRespuestaSpeak, x, y, x + t.ancho, y + t.alto, id);
  if (conspeak_ != nullptr && numero > 0 && numero < kRespuestasSpeak) {
    // The answer's audio name: at most 14 characters and its NUL.
    char* nombre = conspeak_->nombres[numero];
    LeerParametro(Campo(texto, tag, 1), nombre, kNombreSpeak);
  }
  region_speak_ = slot;
  grabado_speak_ = 0;
  speak_abierto_ = true;
  it.respuesta_speak = static_cast<int16_t>(std::min<int32_t>(numero, 0x7FFF));
  it.region_abierta = slot;
  it.region_abierta_flag = slot != 0 ? 1 : 0;
}

void TFormatae::PanelAnimacion() {
  const int32_t ancho = ftae_->ancho_superficie;
  const int32_t alto = ftae_->alto_superficie;
  RellenarRect(0, 0, ancho, alto, kGrisPanel);
  if (gdi_ != nullptr && ancho > 0 && alto > 0) {
    gdi_->DrawLine(SlotPagina(), static_cast<uint16_t>(ancho - 1), 0,
                   static_cast<uint16_t>(ancho - 1), static_cast<uint16_t>(alto), kLineaPanel);
  }
  IAnimPagina& anim = Anim();
  if (anim.Cargada()) anim.PintarFondo(SlotPagina(), 65, 13);
  const Tamano t = PintarPNG("COMUN\\FONCONAN", 63, 501);
  NuevaRegion(kRegionSubtitulosAnim, 69, 506, 69 + t.ancho, 506 + t.alto, 0);
  NuevaRegion(kRegionStopAnim, 135, 506, 135 + t.ancho, 506 + t.alto, 0);
  NuevaRegion(kRegionPlayAnim, 157, 506, 157 + t.ancho, 506 + t.alto, 0);
  NuevaRegion(kRegionBarraAnim, 191, 505, 611, 520, 0);
  NuevaRegion(kRegionRecapAnim, 65, 65, 340, 477, 0);
  NuevaRegion(kRegionPauseAnim, 341, 65, 615, 477, 0);
  if (regiones_) regiones_->ActualizarBotonesAnim();
}

// Page requests.

void TFormatae::MoverAPagina(uint16_t n) {
  itae_->pagina_actual = n;
  Anim().CloseAnim();
  Audio().StopAudio();
  if (conrolplay_ != nullptr) {
    conrolplay_->modo = 0;
    conrolplay_->personaje = 0;
    conrolplay_->terminado = 1;
    conrolplay_->microfono_visible = 0;
  }
  PintarPagina(n);
}

int TFormatae::PaginaAdelante() {
  OSAL::Trace(kTracePagina, "Solicitud de Pagina Adelante.");
  if (!usable_) return 1;
  TGestorTAE::Bloqueo bloqueo(tae_);
  const int siguiente = itae_->pagina_actual + 1;
  if (siguiente >= ftae_->num_paginas) return 1;
  MoverAPagina(static_cast<uint16_t>(siguiente));
  return 0;
}

int TFormatae::PaginaAtras() {
  OSAL::Trace(kTracePagina, "Solicitud de Pagina Atras.");
  if (!usable_) return 1;
  TGestorTAE::Bloqueo bloqueo(tae_);
  if (itae_->pagina_actual == 0) return 1;
  MoverAPagina(static_cast<uint16_t>(itae_->pagina_actual - 1));
  return 0;
}

int TFormatae::SaltarPagina(uint16_t n) {
  const uint8_t pagina = static_cast<uint8_t>(n);
  TrazarF(kTracePagina, "Solicitud de Saltar a la Pagina %u.", pagina);
  if (!usable_ || pagina >= ftae_->num_paginas) return 1;
  TGestorTAE::Bloqueo bloqueo(tae_);
  MoverAPagina(pagina);
  return 0;
}

void TFormatae::SolicitudActualizarPagina() {
  OSAL::Trace(kTracePagina, "Solicitud de Actualizar Pagina.");
  if (!usable_) return;
  TGestorTAE::Bloqueo bloqueo(tae_);
  PintarPagina(itae_->pagina_actual);
}

void TFormatae::SolicitudRepintar(uint16_t x, uint16_t y, uint16_t w, uint16_t h) {
  if (!usable_ || gdi_ == nullptr) return;
  TGestorTAE::Bloqueo bloqueo(tae_);
  if (w == 0) {
    OSAL::Trace(kTracePagina, "Solicitud de Repintar TODA la zona TAE.");
  } else {
    OSAL::Trace(kTracePagina, "Solicitud de Repintar PARTE de la zona TAE.");
  }
  gdi_->MostrarBuffer(SlotPagina(), x, y, w, h);
}

void TFormatae::SetPaginaActual(uint16_t n) {
  if (usable_ && n < ftae_->num_paginas) itae_->pagina_actual = n;
}

// The status icon.

void TFormatae::SeleccionarIcono(uint8_t n) {
  if (!usable_ || n < 1 || n > 4) return;
  std::snprintf(ftae_->icono, sizeof ftae_->icono, "%s", kIconos[n]);
}

void TFormatae::PosicionarIcono(int16_t x, int16_t y) {
  if (!usable_) return;
  ftae_->icono_x = x;
  ftae_->icono_y = y;
}

void TFormatae::MostrarIcono(uint8_t mostrar) {
  if (!usable_) return;
  TGestorTAE::Bloqueo bloqueo(tae_);
  const int32_t x = ftae_->icono_x;
  const int32_t y = ftae_->icono_y;
  if (ftae_->icono_visible) {
    // Shown already (perhaps elsewhere): what it covers comes back first.
    CopiarSlots(ftae_->slot_guardar, 0, 0, ftae_->slot_pagina, x_icono_, y_icono_, kLadoIcono,
                kLadoIcono);
    Presentar(x_icono_, y_icono_, kLadoIcono, kLadoIcono);
    ftae_->icono_visible = 0;
  }
  if (!mostrar) return;
  CopiarSlots(ftae_->slot_pagina, x, y, ftae_->slot_guardar, 0, 0, kLadoIcono, kLadoIcono);
  const Tamano t = PintarPNG(ftae_->icono, x, y);
  Presentar(x, y, t.ancho, t.alto);
  x_icono_ = x;
  y_icono_ = y;
  ftae_->icono_visible = 1;
}

// The animation's progress bar and subtitle.

void TFormatae::PintarPorcentajesAnim() {
  if (gdi_ == nullptr) return;
  IAnimPagina& anim = Anim();
  const uint32_t audio = std::min<uint32_t>(anim.PorcentajeAudio(), 100);
  const uint32_t imagenes = std::min<uint32_t>(anim.PorcentajeImagenes(), 100);
  gdi_->DrawLine(SlotPagina(), 192, 512, static_cast<uint16_t>(192 + audio * 418 / 100), 512,
                 0x000000);
  gdi_->DrawLine(SlotPagina(), 192, 513, static_cast<uint16_t>(192 + imagenes * 418 / 100), 513,
                 0x000000);
}

void TFormatae::PintarBarraAnim(uint16_t frame, uint16_t frames) {
  if (!usable_ || frames == 0) return;  // no frames: no bar to place a thumb on
  TGestorTAE::Bloqueo bloqueo(tae_);
  if (tae_ != nullptr) tae_->ActivarTiempo();
  PintarPNG("COMUN\\FONTHUMB", 189, 505);
  PintarPorcentajesAnim();
  const uint32_t f = std::min<uint32_t>(frame, frames);
  PintarPNG("COMUN\\PUNTAN", static_cast<int32_t>(189 + f * 417 / frames), 507);
  Presentar(189, 505, 425, 16);
  RellenarRect(65, 429, 550, 40, kGrisPanel);
  const TListaStrings* diccionario = tae_ ? tae_->DiccionarioActual() : nullptr;
  const uint16_t seccion = Anim().Seccion(frame);
  if (diccionario != nullptr && seccion != 0 && seccion < diccionario->Count()) {
    platform::gfx::LOGFONTA fuente = TGestorTAE::EstiloInicial().fuente;
    fuente.lfHeight = -24;
    fuente.lfWeight = 700;
    fuente.lfQuality = 2;
    const char* linea = diccionario->Item(seccion);
    EscribirTexto(66, 432, linea, std::strlen(linea), fuente, 0, kColorSubtitulo, kGrisPanel);
  }
  Presentar(65, 429, 550, 40);
  if (hook_frame_) hook_frame_();
}

void TFormatae::SetHookFrameMostrado(std::function<void()> hook) {
  TGestorTAE::Bloqueo bloqueo(tae_);
  hook_frame_ = std::move(hook);
}

void TFormatae::CambiarCursor(uint32_t id) {
  OSALDeSesion(osal_).CambiarCursor(id);
}

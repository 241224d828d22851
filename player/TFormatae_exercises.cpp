// Written exercises: what the drawing pass does for EJESCRITO and HUECO
// (the page entries, the exercise and gap regions, the hidden solutions),
// the drawing of gaps, the caret, the keys typed into a gap and the
// checking of an answer.
//
// Bounds. An entry records at most 198 characters; a page holds at most 29
// entries (a 30th exercise is plain text); every walk over an answer area
// stops at its 200 bytes, since an area read from an audit file may lack
// its NUL; the correction writes nothing past the stretch it corrects.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "player/EJE_PANTALLA.h"
#include "player/RECT_VIRTUAL.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"
#include "player/TRectangulosVirtuales.h"

namespace {

constexpr int kTraceCaret = 17;
constexpr platform::gfx::COLORREF kColorHueco = 0x7F0000;
constexpr platform::gfx::COLORREF kFondoCajas = 0xDFEFEF;
constexpr platform::gfx::COLORREF kColorCajasBien = 0x2E5C5C;
constexpr int32_t kLadoCaja = 24;

// Key codes of the exercise keys.
constexpr uint16_t kCodigoTab = 0;
constexpr uint16_t kCodigoAtras = 8;
constexpr uint16_t kCodigoEnter = 13;
constexpr uint16_t kCodigoEscape = 27;
constexpr uint16_t kCodigoIzquierda = 300;
constexpr uint16_t kCodigoDerecha = 301;
constexpr uint16_t kCodigoSuprimir = 302;
constexpr uint16_t kCodigoArriba = 303;
constexpr uint16_t kCodigoAbajo = 304;

constexpr uint8_t kModoTecleo = 1;
constexpr uint8_t kModoPagina = 2;

// Characters the correction puts in where the answer lacks them.
bool Puntuacion(char c) {
  return c != '\0' && std::strchr(" !\"%(),-.:;?", c) != nullptr;
}

// A typed character that ends an answer.
bool FinRespuesta(char c) {
  return c == '*' || c == '}' || c == '\0';
}

// Position of the '}' that ends an entry's text (its first NUL or 200 when
// it has none).
int FinTexto(const EJE_PANTALLA& e) {
  for (int i = 0; i < kTextoEjePantalla; ++i) {
    if (e.texto[i] == '}' || e.texto[i] == '\0') return i;
  }
  return kTextoEjePantalla;
}

}  // namespace

struct TFormatae::HuecoTAE {
  RECT_VIRTUAL* rv = nullptr;
  ColaHueco cola;
  EJE_PANTALLA* entrada = nullptr;
  EJE_TRATADO* registro = nullptr;
  char* area = nullptr;
  uint8_t* resultado = nullptr;
  uint8_t nivel = 1;
  const ESTILO_TAE* estilo = nullptr;
  const uint8_t* anchos = nullptr;

  int32_t Ancho(char c) const { return anchos[static_cast<uint8_t>(c)] + estilo->espaciado; }
  int32_t Alto() const { return rv->bottom > rv->top ? rv->bottom - rv->top : 0; }
};

bool TFormatae::Hueco(const RECT_VIRTUAL* rv, HuecoTAE& h) {
  if (rv == nullptr || rv->tipo != kRegionHueco || rv->en_uso != 1) return false;
  h.rv = const_cast<RECT_VIRTUAL*>(rv);
  h.cola = LeerColaHueco(*rv);
  h.entrada = Entrada(h.cola.entrada);
  h.registro = Ejercicio(rv->id);
  if (h.entrada == nullptr || h.registro == nullptr) return false;
  h.nivel = h.registro->selector == 2 ? 2 : 1;
  h.area = h.nivel == 2 ? h.registro->area2 : h.registro->area1;
  h.resultado = h.nivel == 2 ? &h.registro->resultado2 : &h.registro->resultado1;
  if (h.cola.inicio >= kAreaRespuesta) return false;
  h.cola.longitud =
      static_cast<uint8_t>(std::min<int>(h.cola.longitud, kAreaRespuesta - h.cola.inicio));
  const EstiloEntrada& estilo = estilos_entradas_[h.cola.entrada];
  h.estilo = &estilo.estilo;
  h.anchos = estilo.anchos;
  return true;
}

// The drawing pass.

void TFormatae::TagEjEscrito(const TagTAE& tag) {
  if (NumeroCampo(ftae_->doctae, tag, 0) == 0) {
    CerrarEjercicio();
  } else {
    AbrirEjercicio(tag);
  }
}

void TFormatae::AbrirEjercicio(const TagTAE& tag) {
  ITAE& it = *itae_;
  const char* texto = ftae_->doctae;
  const int32_t tipo = NumeroCampo(texto, tag, 0);
  const int32_t numero = NumeroCampo(texto, tag, 1);
  if (it.ejercicio_actual != 0) CerrarEjercicio();  // one left open ends here
  // Only the pre-pass's numbers have records; number 0 stands for none.
  if (tipo < 1 || tipo > 3 || numero <= 0 || numero > 0xFFFF) return;
  EJE_TRATADO* registro = Ejercicio(static_cast<uint16_t>(numero));
  if (registro == nullptr || conejescrito_ == nullptr || conejescrito_->bufejescpant == nullptr) {
    return;
  }
  if (conejescrito_->num_entradas + 1 >= kEntradasEjePantalla) return;  // the page is full

  it.ejercicio_actual = static_cast<uint16_t>(numero);
  it.en_hueco = 0;
  it.longitud_hueco = 0;
  it.indice_grabado = 0;
  if (registro->selector == 2) {
    it.ocultar_texto = registro->resultado2 != 2 ? 1 : 0;
    conejescrito_->nivel = 2;
  } else {
    it.ocultar_texto = 0;
    conejescrito_->nivel = 1;
  }
  conejescrito_->estilo = it.estilo;
  if (conejescrito_->tabtamchar) std::memcpy(conejescrito_->tabtamchar, it.tabtamchar, 256);

  const uint16_t indice = ++conejescrito_->num_entradas;
  EstiloEntrada& propio = estilos_entradas_[indice];
  propio.estilo = it.estilo;
  std::memcpy(propio.anchos, it.tabtamchar, 256);
  EJE_PANTALLA& e = conejescrito_->bufejescpant[indice];
  std::memset(&e, 0, sizeof e);
  e.tipo = static_cast<uint16_t>(tipo);
  e.numero = static_cast<uint16_t>(numero);
  e.x = static_cast<uint16_t>(std::clamp<int32_t>(ftae_->area_x + it.pen, 0, 0xFFFF));
  e.y = static_cast<uint16_t>(std::clamp<int32_t>(ArribaLinea(), 0, 0xFFFF));
  LeerParametro(Campo(texto, tag, 2), e.audio, sizeof e.audio);
  registro->tipo = static_cast<int16_t>(tipo);

  const uint16_t slot =
      NuevaRegion(kRegionEjercicio, e.x, e.y, e.x, AbajoLinea(), static_cast<uint16_t>(numero));
  if (RECT_VIRTUAL* rv = Region(slot)) {
    ColaHueco cola;
    cola.entrada = indice;
    PonerColaHueco(*rv, cola);
  }
  it.region_ejercicio = slot;

  nivel2_pedido_ = registro->selector == 2 && (tipo == 3 || registro->resultado2 != 2);
  nivel2_piezas_.clear();
  if (nivel2_pedido_) {
    nivel2_pieza_ = PiezaHueco{e.x, e.y, e.x, AbajoLinea(), 0, 0};
    nivel2_en_linea_ = true;
  }

  const uint8_t resultado = registro->selector == 2 ? registro->resultado2 : registro->resultado1;
  ejercicio_tratado_ = registro->comparaciones != 0 && resultado == 2;
  if (ejercicio_tratado_) {
    it.fondo_guardado = it.estilo.color_fondo;
    it.estilo.color_fondo = ftae_->color_tratado;
  }
}

void TFormatae::CerrarEjercicio() {
  ITAE& it = *itae_;
  if (it.ejercicio_actual == 0) return;
  EJE_PANTALLA* e = Entrada(conejescrito_ ? conejescrito_->num_entradas : 0);
  EJE_TRATADO* registro = Ejercicio(it.ejercicio_actual);
  if (e != nullptr && registro != nullptr) {
    const uint8_t fin = it.indice_grabado;  // at most 198
    e->texto[fin] = '}';
    e->texto[fin + 1] = '\0';
    e->mascara[fin] = '}';
    e->mascara[fin + 1] = '\0';
    registro->area1[fin + 1] = '\0';
    registro->area2[fin + 1] = '\0';
    const int32_t x_fin = ftae_->area_x + it.pen;
    e->x_fin = static_cast<uint16_t>(std::clamp<int32_t>(x_fin, 0, 0xFFFF));
    e->abajo = static_cast<uint16_t>(std::clamp<int32_t>(AbajoLinea(), 0, 0xFFFF));
    // An exercise that wrapped ends left of its start: its region then
    // reaches the area's right edge instead of turning inside out.
    const uint16_t derecha = e->x_fin > e->x
                                 ? e->x_fin
                                 : static_cast<uint16_t>(std::clamp<int32_t>(
                                       int32_t{ftae_->area_x} + ftae_->area_ancho, 0, 0xFFFF));
    if (RECT_VIRTUAL* rv = Region(it.region_ejercicio)) {
      rv->right = derecha;
      rv->bottom = e->abajo;
    }
    // A gap left open ends with its exercise.
    if (it.en_hueco && hueco_pedido_) CerrarPiezaHueco(x_fin);
    hueco_pedido_ = false;
    if (nivel2_pedido_) {
      // The whole exercise is one gap, a piece on each line it reaches.
      CerrarPiezaNivel2(x_fin);
      if (nivel2_piezas_.empty()) nivel2_piezas_.push_back({e->x, e->y, e->x, e->abajo, 0, 0});
      RECT_VIRTUAL* anterior = nullptr;
      for (const PiezaHueco& p : nivel2_piezas_) {
        const uint16_t slot =
            NuevaRegion(kRegionHueco, p.left, p.top, p.right, p.bottom, it.ejercicio_actual);
        RECT_VIRTUAL* rv = Region(slot);
        if (rv == nullptr) break;
        ColaHueco cola;
        cola.entrada = conejescrito_->num_entradas;
        cola.inicio = p.inicio;
        cola.longitud = p.longitud;
        cola.ancho = static_cast<uint16_t>(rv->right - rv->left);
        PonerColaHueco(*rv, cola);
        if (anterior != nullptr) {
          anterior->enlace = static_cast<int16_t>(slot);
          rv->enlace = 0;
        }
        anterior = rv;
      }
    }
    if (it.longitud_hueco == 0) registro->resultado1 = 2;
    if (ejercicio_tratado_) it.estilo.color_fondo = it.fondo_guardado;
    if (e->tipo == 1) {
      const uint8_t resultado =
          registro->selector == 2 ? registro->resultado2 : registro->resultado1;
      if (resultado == 1) PintarPNG("COMUN\\SIGMAL", e->x_fin + 7, e->y + 4);
      if (resultado == 2) PintarPNG("COMUN\\SIGBIEN", e->x_fin + 7, e->y + 4);
    }
  }
  ejercicio_tratado_ = false;
  hueco_pedido_ = false;
  hueco_en_linea_ = false;
  nivel2_pedido_ = false;
  nivel2_en_linea_ = false;
  nivel2_piezas_.clear();
  it.ejercicio_actual = 0;
  it.en_hueco = 0;
  it.ocultar_texto = 0;
  it.indice_grabado = 0;
  it.longitud_hueco = 0;
  it.region_ejercicio = 0;
}

void TFormatae::TagHueco(const TagTAE& tag) {
  ITAE& it = *itae_;
  if (it.ejercicio_actual == 0) return;  // a gap outside an exercise is nothing
  EJE_TRATADO* registro = Ejercicio(it.ejercicio_actual);
  if (registro == nullptr) return;
  const bool nivel1 = registro->selector != 2;
  const bool dictado = registro->tipo == 3;
  const bool pedido = nivel1 && (dictado || registro->resultado1 != 2);
  const int32_t x = ftae_->area_x + it.pen;

  if (!ListaEs(ftae_->doctae, tag, "0")) {
    if (pedido) it.ocultar_texto = 1;
    if (dictado) {
      const Tamano t = PintarPNG("COMUN\\BTNPLDIN", x - 26, ArribaLinea() - 1);
      const uint16_t slot =
          NuevaRegion(kRegionPlayDictado, x - 26, ArribaLinea() - 1, x - 26 + t.ancho,
                      ArribaLinea() - 1 + t.alto, it.ejercicio_actual);
      if (RECT_VIRTUAL* rv = Region(slot)) {
        ColaHueco cola;
        cola.entrada = conejescrito_ ? conejescrito_->num_entradas : 0;
        PonerColaHueco(*rv, cola);
      }
    }
    if (pedido) {
      const uint16_t slot =
          NuevaRegion(kRegionHueco, x, ArribaLinea(), x, AbajoLinea(), it.ejercicio_actual);
      if (RECT_VIRTUAL* rv = Region(slot)) {
        ColaHueco cola;
        cola.entrada = conejescrito_ ? conejescrito_->num_entradas : 0;
        cola.inicio = it.indice_grabado;
        PonerColaHueco(*rv, cola);
      }
      it.region_abierta = slot;
      it.region_abierta_flag = 0;  // not a sound's: its pieces are the gap's own
      hueco_pedido_ = slot != 0;
      hueco_en_linea_ = slot != 0;
    }
    it.en_hueco = 1;
    it.longitud_hueco = 0;
    return;
  }

  if (!it.en_hueco) return;  // a closing with no gap open is nothing
  if (nivel1) it.ocultar_texto = 0;
  if (pedido) {
    // The piece on this line ends here; a closing tag that opens a line
    // finds the gap's last piece already ended at the line before.
    if (hueco_pedido_) CerrarPiezaHueco(x);
    it.region_abierta = 0;
  }
  hueco_pedido_ = false;
  hueco_en_linea_ = false;
  it.en_hueco = 0;
}

void TFormatae::ContinuarPiezaHueco() {
  ITAE& it = *itae_;
  const int32_t x = it.run_x;
  if (it.en_hueco && hueco_pedido_ && !hueco_en_linea_) {
    RECT_VIRTUAL* anterior = Region(it.region_abierta);
    if (anterior == nullptr || anterior->tipo != kRegionHueco) {
      hueco_pedido_ = false;
    } else {
      ColaHueco cola = LeerColaHueco(*anterior);
      const uint16_t left = static_cast<uint16_t>(std::clamp<int32_t>(x, 0, 0xFFFF));
      const uint16_t top = static_cast<uint16_t>(std::clamp<int32_t>(ArribaLinea(), 0, 0xFFFF));
      const uint16_t bottom = static_cast<uint16_t>(std::clamp<int32_t>(AbajoLinea(), 0, 0xFFFF));
      if (cola.longitud == 0) {
        // Nothing of the gap stood on the line it opened on: its piece
        // moves to this one.
        anterior->left = anterior->right = left;
        anterior->top = top;
        anterior->bottom = bottom;
        cola.inicio = it.indice_grabado;
        cola.ancho = 0;
        PonerColaHueco(*anterior, cola);
      } else {
        const uint16_t slot = NuevaRegion(kRegionHueco, left, top, left, bottom, anterior->id);
        RECT_VIRTUAL* pieza = Region(slot);
        if (pieza == nullptr) {
          // No room for the next piece: the gap ends on the line before.
          hueco_pedido_ = false;
          it.region_abierta = 0;
          return;
        }
        anterior = Region(it.region_abierta);
        ColaHueco nueva;
        nueva.entrada = cola.entrada;
        nueva.inicio = it.indice_grabado;
        PonerColaHueco(*pieza, nueva);
        anterior->enlace = static_cast<int16_t>(slot);
        pieza->enlace = 0;
        it.region_abierta = slot;
      }
      hueco_en_linea_ = true;
    }
  }
  if (nivel2_pedido_ && !nivel2_en_linea_) {
    nivel2_pieza_ = PiezaHueco{x, ArribaLinea(), x, AbajoLinea(), it.indice_grabado, 0};
    nivel2_en_linea_ = true;
  }
}

void TFormatae::CerrarPiezaHueco(int32_t x) {
  ITAE& it = *itae_;
  if (!hueco_en_linea_) return;
  hueco_en_linea_ = false;
  RECT_VIRTUAL* rv = Region(it.region_abierta);
  if (rv == nullptr || rv->tipo != kRegionHueco) return;
  rv->right = static_cast<uint16_t>(std::clamp<int32_t>(x, rv->left, 0xFFFF));
  rv->bottom = static_cast<uint16_t>(std::clamp<int32_t>(AbajoLinea(), 0, 0xFFFF));
  ColaHueco cola = LeerColaHueco(*rv);
  cola.longitud = static_cast<uint8_t>(std::max(0, it.indice_grabado - cola.inicio));
  cola.ancho = static_cast<uint16_t>(rv->right - rv->left);
  PonerColaHueco(*rv, cola);
}

void TFormatae::CerrarPiezaNivel2(int32_t x) {
  if (!nivel2_en_linea_) return;
  nivel2_en_linea_ = false;
  PiezaHueco& p = nivel2_pieza_;
  p.left = std::clamp<int32_t>(p.left, 0, 0xFFFF);
  p.top = std::clamp<int32_t>(p.top, 0, 0xFFFF);
  p.right = std::clamp<int32_t>(x, p.left, 0xFFFF);
  p.bottom = std::clamp<int32_t>(AbajoLinea(), 0, 0xFFFF);
  p.longitud = static_cast<uint8_t>(std::max(0, itae_->indice_grabado - p.inicio));
  // A line the exercise reached without a character keeps no piece.
  if (p.longitud > 0) nivel2_piezas_.push_back(p);
}

std::vector<bool> TFormatae::IniciosPiezas(uint16_t entrada) const {
  std::vector<bool> inicios(kTextoEjePantalla, false);
  if (regiones_ == nullptr) return inicios;
  for (uint16_t slot = 1; slot < regiones_->Cuenta(); ++slot) {
    const RECT_VIRTUAL* rv = regiones_->Region(slot);
    if (rv == nullptr || rv->tipo != kRegionHueco || rv->en_uso != 1) continue;
    const ColaHueco cola = LeerColaHueco(*rv);
    if (cola.entrada == entrada && cola.inicio < kTextoEjePantalla) inicios[cola.inicio] = true;
  }
  return inicios;
}

// Drawing the gaps.

void TFormatae::PintarHueco(const RECT_VIRTUAL& rv, uint8_t modo) {
  HuecoTAE h;
  if (!Hueco(&rv, h)) return;
  const int32_t left = rv.left;
  const int32_t top = rv.top;
  const int32_t ancho = h.cola.ancho;
  RellenarRect(left - 1, top - 1, ancho + 2, h.Alto() + 4, ftae_->color_pagina);
  const platform::gfx::COLORREF color =
      modo == kModoPagina && *h.resultado == 2 ? 0x000000 : kColorHueco;
  int32_t x = 0;
  const int fin = h.cola.inicio + h.cola.longitud;  // a piece shows its own positions only
  for (int i = h.cola.inicio; i < fin && !FinRespuesta(h.area[i]); ++i) {
    const int32_t w = h.Ancho(h.area[i]);
    if (x + w > ancho) break;
    EscribirTexto(left + x, top, &h.area[i], 1, h.estilo->fuente, h.estilo->espaciado, color,
                  ftae_->color_pagina);
    x += w;
  }
  if (gdi_ != nullptr && top + 15 <= 0xFFFF) {
    gdi_->DrawLine(SlotPagina(), rv.left, static_cast<uint16_t>(top + 15),
                   static_cast<uint16_t>(std::min(rv.right + 1, 0xFFFF)),
                   static_cast<uint16_t>(top + 15), kColorHueco);
  }
}

void TFormatae::PintarHuecoCajas(const RECT_VIRTUAL& rv, uint8_t modo) {
  HuecoTAE h;
  if (!Hueco(&rv, h)) return;
  const int32_t w = rv.right - rv.left + 7;
  int32_t llenas = 0;
  int32_t desplazamiento = 0;
  if (w >= kLadoCaja) {
    const int32_t n = w / kLadoCaja;
    if (n * kLadoCaja == w) {
      llenas = n - 1;
    } else {
      llenas = n;
      desplazamiento = kLadoCaja - (w - n * kLadoCaja);
    }
  }
  const int32_t x0 = rv.left - 3;
  const int32_t y0 = rv.top - 1;
  for (int32_t i = 0; i < llenas; ++i) PintarPNG("COMUN\\BOXDIMN", x0 + i * kLadoCaja, y0);
  PintarPNG("COMUN\\BOXDIFN", x0 + llenas * kLadoCaja - desplazamiento, y0);
  const platform::gfx::COLORREF color =
      modo == kModoPagina && *h.resultado == 2 ? kColorCajasBien : kColorHueco;
  int32_t x = 0;
  const int fin = h.cola.inicio + h.cola.longitud;
  for (int i = h.cola.inicio; i < fin && !FinRespuesta(h.area[i]); ++i) {
    const int32_t ancho = h.Ancho(h.area[i]);
    if (x + ancho > h.cola.ancho) break;
    EscribirTexto(rv.left + x, rv.top, &h.area[i], 1, h.estilo->fuente, h.estilo->espaciado, color,
                  kFondoCajas);
    x += ancho;
  }
}

void TFormatae::PintarHuecoRegion(const RECT_VIRTUAL& rv, uint8_t modo) {
  const EJE_TRATADO* registro = Ejercicio(rv.id);
  if (registro == nullptr) return;
  if (registro->tipo == 3) {
    PintarHuecoCajas(rv, modo);
  } else {
    PintarHueco(rv, modo);
  }
}

void TFormatae::PintarHuecos() {
  if (regiones_ == nullptr) return;
  for (uint16_t slot = 1; slot < regiones_->Cuenta(); ++slot) {
    const RECT_VIRTUAL* rv = regiones_->Region(slot);
    if (rv != nullptr && rv->tipo == kRegionHueco && rv->en_uso == 1) {
      PintarHuecoRegion(*rv, kModoPagina);
    }
  }
  const EJE_PANTALLA* primera = Entrada(1);
  if (primera == nullptr || primera->tipo != 1 || conejescrito_ == nullptr) return;
  const bool nivel2 = conejescrito_->nivel == 2;
  const RECT_VIRTUAL* boton =
      nivel2 ? conejescrito_->boton_dificultad2 : conejescrito_->boton_dificultad1;
  if (boton != nullptr) {
    PintarPNG(nivel2 ? "COMUN\\BTNDIF2P" : "COMUN\\BTNDIF1P", boton->left, boton->top);
  }
}

// The caret.

void TFormatae::MostrarCaretPantalla() {
  OSAL::Trace(kTraceCaret, "MostrarCaretPantalla");
  OSAL& osal = OSALDeSesion(osal_);
  osal.MostrarCaret();
  // Showing makes the caret anew, at the window's corner: it goes back to
  // where it was placed.
  osal.PosicionarCaret(static_cast<uint16_t>(std::clamp<int32_t>(caret_x_, 0, 0xFFFF)),
                       static_cast<uint16_t>(std::clamp<int32_t>(caret_y_, 0, 0xFFFF)));
  if (conejescrito_) conejescrito_->caret_visible = 1;
}

void TFormatae::OcultarCaretPantalla() {
  OSAL::Trace(kTraceCaret, "OcultarCaretPantalla");
  OSALDeSesion(osal_).OcultarCaret();
  if (conejescrito_) conejescrito_->caret_visible = 0;
}

void TFormatae::PosicionarCaretPantalla(int32_t x, int32_t y) {
  OSAL::Trace(kTraceCaret, "PosicionarCaretPantalla");
  caret_x_ = x;
  caret_y_ = y;
  OSALDeSesion(osal_).PosicionarCaret(static_cast<uint16_t>(std::clamp<int32_t>(x, 0, 0xFFFF)),
                                      static_cast<uint16_t>(std::clamp<int32_t>(y, 0, 0xFFFF)));
}

void TFormatae::ElegirHueco(RECT_VIRTUAL* rv) {
  conejescrito_->hueco = rv;
  conejescrito_->ejercicio_actual = rv->id;
  const ColaHueco cola = LeerColaHueco(*rv);
  conejescrito_->entrada_actual = cola.entrada;
  // The keys read their characters in the code page of this exercise.
  if (cola.entrada < kEntradasEjePantalla) {
    conejescrito_->estilo = estilos_entradas_[cola.entrada].estilo;
    if (conejescrito_->tabtamchar) {
      std::memcpy(conejescrito_->tabtamchar, estilos_entradas_[cola.entrada].anchos, 256);
    }
  }
}

void TFormatae::PonerCaret(uint8_t indice) {
  HuecoTAE h;
  if (!Hueco(conejescrito_->hueco, h)) return;
  int32_t x = 0;
  for (int i = 0; i < indice && h.cola.inicio + i < kAreaRespuesta; ++i) {
    const char c = h.area[h.cola.inicio + i];
    if (FinRespuesta(c)) break;
    x += h.Ancho(c);
  }
  conejescrito_->indice_caret = indice;
  PosicionarCaretPantalla(h.rv->left + x + ftae_->ventana_x, h.rv->top + ftae_->ventana_y);
}

void TFormatae::BorrarSolucionVisible() {
  if (!conejescrito_->solucion_visible) return;
  const RECT_VIRTUAL* boton = conejescrito_->boton_solucion;
  if (boton == nullptr) return;  // no button: nothing was written
  conejescrito_->solucion_visible = 0;
  RellenarRect(boton->right + 2, boton->top, 440, 18, ftae_->color_nivel);
  PintarPNG("COMUN\\BTNSOLN", boton->left, boton->top);
  Presentar(boton->left, boton->top, boton->right - boton->left + 442, 18);
}

void TFormatae::SeleccionarHueco(uint16_t dx) {
  if (!usable_ || conejescrito_ == nullptr) return;
  TGestorTAE::Bloqueo bloqueo(tae_);
  HuecoTAE h;
  if (!Hueco(conejescrito_->hueco, h)) return;
  ElegirHueco(h.rv);
  uint8_t indice = 0;
  int32_t x = 0;
  while (indice < h.cola.longitud) {
    const char c = h.area[h.cola.inicio + indice];
    if (FinRespuesta(c) || x + h.Ancho(c) >= dx) break;
    x += h.Ancho(c);
    ++indice;
  }
  PonerCaret(indice);
  MostrarCaretPantalla();
  BorrarSolucionVisible();
}

void TFormatae::MostrarSolucionHueco(uint16_t ejercicio) {
  if (!usable_ || conejescrito_ == nullptr || regiones_ == nullptr) return;
  TGestorTAE::Bloqueo bloqueo(tae_);
  const EJE_PANTALLA* e = nullptr;
  for (uint16_t i = 1; i <= conejescrito_->num_entradas && e == nullptr; ++i) {
    if (Entrada(i) && Entrada(i)->numero == ejercicio) e = Entrada(i);
  }
  const EJE_TRATADO* registro = Ejercicio(ejercicio);
  if (e == nullptr || registro == nullptr) return;
  const bool nivel2 = registro->selector == 2;
  const char* area = nivel2 ? registro->area2 : registro->area1;
  const int fin = FinTexto(*e);
  int pos = 0;
  int inicio_hueco = -1;
  for (; pos < fin; ++pos) {
    if (e->mascara[pos] == '-' && (pos == 0 || e->mascara[pos - 1] != '-')) inicio_hueco = pos;
    if (!nivel2 && e->mascara[pos] != '-') continue;
    if (area[pos] != e->texto[pos]) break;
  }
  RECT_VIRTUAL* elegido = nullptr;
  for (uint16_t slot = 1; slot < regiones_->Cuenta(); ++slot) {
    RECT_VIRTUAL* rv = regiones_->Region(slot);
    if (rv == nullptr || rv->tipo != kRegionHueco || rv->en_uso != 1 || rv->id != ejercicio) {
      continue;
    }
    // The piece the position reached falls in: of the stretch's pieces (the
    // gap's at level 1, the exercise's at level 2), the last one starting
    // at or before it.
    const int inicio = LeerColaHueco(*rv).inicio;
    const int desde = nivel2 ? 0 : inicio_hueco;
    if (desde < 0 || inicio < desde || inicio > std::max(pos, desde)) continue;
    if (elegido == nullptr || inicio > LeerColaHueco(*elegido).inicio) elegido = rv;
  }
  if (elegido == nullptr) return;
  ElegirHueco(elegido);
  const ColaHueco cola = LeerColaHueco(*elegido);
  const int indice = std::clamp(pos - cola.inicio, 0, static_cast<int>(cola.longitud));
  conejescrito_->solucion_visible = 0;
  PonerCaret(static_cast<uint8_t>(indice));
  MostrarCaretPantalla();
}

// Keys.

uint16_t TFormatae::HuecoSiguiente(uint16_t desde, bool adelante, bool envolver) const {
  const uint16_t cuenta = regiones_->Cuenta();
  for (uint16_t paso = 1; paso < cuenta; ++paso) {
    int32_t slot = adelante ? desde + paso : static_cast<int32_t>(desde) - paso;
    if (slot < 1 || slot >= cuenta) {
      if (!envolver) return 0;
      slot = adelante ? slot - (cuenta - 1) : slot + (cuenta - 1);
    }
    if (slot == desde) return 0;
    const RECT_VIRTUAL* rv = regiones_->Region(static_cast<uint16_t>(slot));
    if (rv != nullptr && rv->tipo == kRegionHueco && rv->en_uso == 1) {
      return static_cast<uint16_t>(slot);
    }
  }
  return 0;
}

void TFormatae::RedibujarHueco() {
  HuecoTAE h;
  if (!Hueco(conejescrito_->hueco, h)) return;
  PintarHuecoRegion(*h.rv, kModoTecleo);
  PonerCaret(conejescrito_->indice_caret);
  Presentar(h.rv->left - 2, h.rv->top - 2, h.cola.ancho + 4, h.Alto() + 20);
}

void TFormatae::Borrar(bool atras) {
  HuecoTAE h;
  if (!Hueco(conejescrito_->hueco, h)) return;
  uint8_t& caret = conejescrito_->indice_caret;
  if (atras) {
    if (caret == 0) return;
    --caret;
  }
  if (caret >= h.cola.longitud) return;
  const int p = h.cola.inicio + caret;
  const int fin = h.cola.inicio + h.cola.longitud - 1;  // the gap's last position
  std::memmove(h.area + p, h.area + p + 1, static_cast<size_t>(fin - p));
  h.area[fin] = '*';
  RedibujarHueco();
}

void TFormatae::TeclaCaracter(uint8_t caracter) {
  HuecoTAE h;
  if (!Hueco(conejescrito_->hueco, h)) return;
  uint8_t& caret = conejescrito_->indice_caret;
  if (caret >= h.cola.longitud) return;
  const int p = h.cola.inicio + caret;
  const int fin = h.cola.inicio + h.cola.longitud - 1;
  // The gap's last character makes room for the new one.
  std::memmove(h.area + p + 1, h.area + p, static_cast<size_t>(fin - p));
  h.area[p] = static_cast<char>(caracter);
  ++caret;
  RedibujarHueco();
}

void TFormatae::TeclaEjercicio(uint16_t codigo) {
  if (!usable_ || conejescrito_ == nullptr || regiones_ == nullptr) return;
  TGestorTAE::Bloqueo bloqueo(tae_);
  if (conejescrito_->ejercicio_actual == 0) return;
  HuecoTAE h;
  if (!Hueco(conejescrito_->hueco, h)) return;
  OcultarCaretPantalla();
  const uint16_t actual = regiones_->Slot(h.rv);
  const uint16_t ejercicio = conejescrito_->ejercicio_actual;
  // Selects another gap with the caret at its start.
  auto elegir = [&](uint16_t slot) {
    RECT_VIRTUAL* rv = regiones_->Region(slot);
    if (rv == nullptr) return;
    ElegirHueco(rv);
    PonerCaret(0);
    BorrarSolucionVisible();
  };
  // The nearest gap of another exercise, wrapping round the table.
  auto otro_ejercicio = [&](bool adelante) {
    uint16_t slot = actual;
    for (;;) {
      slot = HuecoSiguiente(slot, adelante, true);
      if (slot == 0 || slot == actual) return;
      if (regiones_->Region(slot)->id != ejercicio) {
        elegir(slot);
        return;
      }
    }
  };
  switch (codigo) {
    case kCodigoTab:
      if (const uint16_t slot = HuecoSiguiente(actual, true, true))
        elegir(slot);
      else
        elegir(actual);
      break;
    case kCodigoAtras:
      Borrar(true);
      break;
    case kCodigoSuprimir:
      Borrar(false);
      break;
    case kCodigoEnter:
      Comprobar();
      return;
    case kCodigoEscape:
      break;
    case kCodigoIzquierda:
      if (conejescrito_->indice_caret > 0) {
        PonerCaret(static_cast<uint8_t>(conejescrito_->indice_caret - 1));
      } else if (const uint16_t slot = HuecoSiguiente(actual, false, false);
                 slot != 0 && regiones_->Region(slot)->id == ejercicio) {
        elegir(slot);
      }
      break;
    case kCodigoDerecha: {
      const uint8_t caret = conejescrito_->indice_caret;
      if (caret < h.cola.longitud && !FinRespuesta(h.area[h.cola.inicio + caret])) {
        PonerCaret(static_cast<uint8_t>(caret + 1));
      } else if (const uint16_t slot = HuecoSiguiente(actual, true, false);
                 slot != 0 && regiones_->Region(slot)->id == ejercicio) {
        elegir(slot);
      }
      break;
    }
    case kCodigoArriba:
      otro_ejercicio(false);
      break;
    case kCodigoAbajo:
      otro_ejercicio(true);
      break;
    default:
      TeclaCaracter(static_cast<uint8_t>(codigo & 0xFF));
      break;
  }
  MostrarCaretPantalla();
}

// Checking.

void TFormatae::CorregirRespuesta(const EJE_PANTALLA& e, char* area, uint8_t nivel,
                                  platform::gfx::CodePage pagina,
                                  const std::vector<bool>& inicios) {
  const int fin = FinTexto(e);
  // The stretches corrected: each gap at level 1, the whole text at level 2.
  std::vector<std::pair<int, int>> tramos;
  if (nivel == 2) {
    tramos.emplace_back(0, fin);
  } else {
    for (int i = 0; i < fin;) {
      if (e.mascara[i] != '-') {
        ++i;
        continue;
      }
      int j = i;
      while (j < fin && e.mascara[j] == '-') ++j;
      tramos.emplace_back(i, j);
      i = j;
    }
  }
  for (const auto& [s, t] : tramos) {
    // a. What was typed, up to the first '*', without doubled spaces. A
    // stretch over several pieces (a gap that wraps) is typed piece by
    // piece: each piece's text runs up to its own first '*'.
    std::vector<char> tecleado;
    for (int i = s; i < t; ++i) {
      if (FinRespuesta(area[i])) {
        while (i + 1 < t && !(i + 1 < static_cast<int>(inicios.size()) && inicios[i + 1])) ++i;
        continue;
      }
      if (area[i] == ' ' && i + 1 < t && area[i + 1] == ' ') continue;
      tecleado.push_back(area[i]);
    }
    std::fill(area + s, area + t, '*');
    // b. Put back along the solution while they agree.
    int pos = s;
    bool acuerdo = true;
    for (size_t k = 0; k < tecleado.size() && pos < t;) {
      const char c = tecleado[k];
      const char solucion = e.texto[pos];
      if (acuerdo) {
        if (c == solucion) {
          area[pos++] = c;
          ++k;
          continue;
        }
        if (Puntuacion(solucion)) {
          area[pos++] = solucion;  // the typed character tries the next position
          continue;
        }
        if (platform::gfx::SameLetterIgnoringCase(pagina, static_cast<uint8_t>(c),
                                                  static_cast<uint8_t>(solucion))) {
          area[pos++] = solucion;
          ++k;
          continue;
        }
        acuerdo = false;
      }
      area[pos++] = c;
      ++k;
    }
    // c. A short tail of punctuation is written in at its own positions.
    if (!tecleado.empty() && t - pos <= 3) {
      for (int i = pos; i < t; ++i) {
        if (Puntuacion(e.texto[i])) area[i] = e.texto[i];
      }
    }
  }
}

TFormatae::Evaluacion TFormatae::EvaluarRespuesta(const EJE_PANTALLA& e, const char* area,
                                                  uint8_t nivel) const {
  const int fin = FinTexto(e);
  int comparadas = 0;
  int iguales = 0;
  int escritas = 0;  // differing positions that hold something typed
  for (int i = 0; i < fin; ++i) {
    if (nivel != 2 && e.mascara[i] != '-') continue;
    ++comparadas;
    if (area[i] == e.texto[i]) {
      ++iguales;
    } else if (area[i] != '*') {
      ++escritas;
    }
  }
  if (iguales == comparadas) return Evaluacion::kBien;
  if (iguales == 0 && escritas == 0) return Evaluacion::kVacia;
  return Evaluacion::kMal;
}

void TFormatae::RedibujarPagina() {
  PintarPagina(itae_->pagina_actual);
  SolicitudRepintar(0, 0, 0, 0);
}

void TFormatae::PlayEjercicio(const EJE_PANTALLA& e, uint8_t estado, uint8_t carpeta) {
  IAudioPagina& audio = Audio();
  audio.StopAudio();
  audio.SetEstado(estado);
  itae_->sonando = e.numero;
  audio.PlayAudio(e.audio, carpeta);
}

void TFormatae::Comprobar() {
  HuecoTAE h;
  if (!Hueco(conejescrito_->hueco, h)) return;
  const EJE_PANTALLA entrada = *h.entrada;  // the page is drawn again below
  const uint16_t indice = h.cola.entrada;
  CorregirRespuesta(entrada, h.area, h.nivel,
                    platform::gfx::CodePageForCharset(h.estilo->fuente.lfCharSet),
                    IniciosPiezas(indice));
  const Evaluacion evaluacion = EvaluarRespuesta(entrada, h.area, h.nivel);
  const bool dictado = entrada.tipo == 3;
  if (evaluacion != Evaluacion::kBien) {
    if (evaluacion == Evaluacion::kVacia) {
      *h.resultado = 0;
    } else {
      if (ftae_->errores < 0xFFFF) ++ftae_->errores;
      *h.resultado = 1;
      RedibujarPagina();
    }
    if (dictado) PlayEjercicio(entrada, estado_audio::kDictado, 2);
    MostrarSolucionHueco(entrada.numero);
    return;
  }
  *h.resultado = 2;
  RedibujarPagina();
  if (!dictado) {
    PlayEjercicio(entrada, estado_audio::kEjercicio, 1);
    return;
  }
  const EJE_PANTALLA* siguiente = Entrada(static_cast<uint16_t>(indice + 1));
  if (siguiente == nullptr) return;
  const EJE_PANTALLA proxima = *siguiente;
  MostrarSolucionHueco(proxima.numero);
  PlayEjercicio(proxima, estado_audio::kDictado, 2);
}

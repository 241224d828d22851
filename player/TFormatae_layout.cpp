// The pagination pre-pass and the line layout of TAE pages.
//
// One walk lays out a line: RecorrerLinea. Measuring (kMedir) runs it on a
// scratch copy of the style and decides where the line ends; counting
// (kContar, the pre-pass) and drawing (kPintar) run it again on the real
// style and stop where measuring ended the line. The line rules:
//   - the pen starts at 0 on a paragraph's first line and at the hanging
//     indent on the others; the first-line indent comes only as the extra
//     advance of a TABULADOR on a first line;
//   - one space at the start of a line is skipped;
//   - a TAB moves the pen to the first tab stop to its right (none: it
//     stays); one whose stop passes the width goes to the next line, unless
//     nothing but tags is on the line before it;
//   - a character that would pass the area's width ends the line: a word
//     that began after something else on the line goes whole to the next
//     line (with the tags inside it), a word that began the line breaks
//     before that character, a space goes to the next line (whose start
//     skips it), and a character alone on its line stays there however
//     wide it is;
//   - a double-byte character is a word of its own, as wide as drawing
//     makes it (AnchoDoble plus the spacing);
//   - an LF ends the line and the paragraph, a page break ends both and the
//     page (on the last page of the table it only ends the line), the end of
//     the text ends everything.
// Every line that does not end the text consumes at least one byte, so the
// walk over any text ends.
#include <algorithm>
#include <array>
#include <cstring>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"

namespace {

const char* const kTextosMensaje[kNumMensajesTAE] = {
    "",
    "AE desconocido al preformatear el texto TAE",
    "Error Color desconocido",
    "Error Font desconocido",
    "Error excedido el numero maximo de paginas TAE.",
    "Error Tipo de sonido desconocido",
    "Error Tipo de boton desconocido.",
    "AE boton speak comparar no implementado.",
    "AE boton speak answer no implementado.",
};

int32_t SiguienteTabulador(const ESTILO_TAE& estilo, int32_t pen) {
  for (uint16_t parada : estilo.tabuladores) {
    if (parada > pen) return parada;
  }
  return pen;
}

// Bytes that end a stretch of text: NUL, LF, TAB and '<'.
constexpr auto kEspecial = [] {
  std::array<bool, 256> t{};
  t['\0'] = t['\n'] = t['\t'] = t['<'] = true;
  return t;
}();

// Bytes that end a word as well: those and the space.
constexpr auto kFinPalabra = [] {
  std::array<bool, 256> t = kEspecial;
  t[' '] = true;
  return t;
}();

ESTILO_TAE EstiloBase(const TGestorTAE* tae) {
  return tae ? tae->EstiloPorDefecto() : TGestorTAE::EstiloInicial();
}

}  // namespace

int32_t TFormatae::AjusteVertical(int32_t y, int32_t altura) {
  switch (altura) {
    case -33:
      return y - 16;
    case -32:
      return y - 14;
    case -31:
    case -30:
      return y - 13;
    case -29:
      return y - 12;
    case -28:
      return y - 11;
    case -27:
    case -26:
      return y - 10;
    case -25:
      return y - 8;
    case -24:
    case -23:
      return y - 6;
    case -22:
      return y - 5;
    case -21:
    case -20:
      return y - 4;
    case -19:
      return y - 3;
    case -18:
      return y - 2;
    case -15:
      return y + 1;
    case -14:
    case -13:
      return y + 2;
    case -12:
      return y + 3;
    case -11:
      return y + 4;
    case -10:
      return y + 5;
    case -9:
      return y + 6;
    case -8:
      return y + 7;
    case -7:
      return y + 9;
    case -6:
      return y + 10;
    default:
      return y;
  }
}

int32_t TFormatae::AnchoDoble(int32_t altura) {
  switch (altura) {
    case -18:
      return 18;
    case -17:
      return 17;
    case -15:
      return 15;
    case -13:
      return 13;
    default:
      return 15;
  }
}

void TFormatae::Informar(MensajeTAE mensaje) {
  if (mensaje == kMensajeNinguno || mensaje >= kNumMensajesTAE) return;
  const uint32_t bit = uint32_t{1} << mensaje;
  if ((mensajes_.fetch_or(bit) & bit) == 0) Error(kTextosMensaje[mensaje]);
}

void TFormatae::RellenarAnchos(const platform::gfx::LOGFONTA& fuente, uint8_t* anchos) {
  // Documents switch between a few fonts over and over (bold on, bold off):
  // their widths are kept for the formatter's life.
  for (int i = 0; i < fuentes_guardadas_; ++i) {
    const AnchosFuente& guardado = anchos_fuentes_[i];
    if (std::memcmp(&guardado.fuente, &fuente, sizeof fuente) == 0) {
      std::memcpy(anchos, guardado.anchos, 256);
      return;
    }
  }
  if (gdi_ != nullptr) {
    gdi_->CharWidths(static_cast<uint16_t>(ftae_->slot_pagina), fuente, anchos);
  } else {
    std::memset(anchos, 0, 256);
  }
  AnchosFuente& nuevo = anchos_fuentes_[siguiente_fuente_];
  siguiente_fuente_ = (siguiente_fuente_ + 1) % kFuentesGuardadas;
  nuevo.fuente = fuente;
  std::memcpy(nuevo.anchos, anchos, 256);
  if (fuentes_guardadas_ < kFuentesGuardadas) ++fuentes_guardadas_;
}

void TFormatae::EmpezarRun(PosicionTAE pos) {
  ITAE& it = *itae_;
  it.run = ftae_->doctae + pos.offset;
  it.run_longitud = 0;
  it.run_doble = pos.doble ? 1 : 0;
  it.run_x = ftae_->area_x + it.pen;
}

void TFormatae::VolcarTexto() {
  ITAE& it = *itae_;
  const uint32_t n = it.run_longitud;
  if (n == 0) return;
  GrabarTexto(it.run, n);
  // At its own y, signed: a tall font on the first line reaches above the
  // surface and is clipped there, as its cell is. A run that starts past
  // the surface (or absurdly far before it) shows nothing and is not drawn.
  const int32_t y = AjusteVertical(it.run_y, it.estilo.fuente.lfHeight);
  const bool visible = it.run_x >= -0x8000 && it.run_x < ftae_->ancho_superficie &&
                       y >= -0x8000 && y < ftae_->alto_superficie;
  if (!it.ocultar_texto && gdi_ != nullptr && visible) {
    const uint16_t slot = static_cast<uint16_t>(ftae_->slot_pagina);
    if (it.run_doble) {
      // Pairs are 16-bit characters, low byte first.
      const uint32_t pares = n / 2;
      unidades_.resize(pares);
      const auto* bytes = reinterpret_cast<const uint8_t*>(it.run);
      for (uint32_t i = 0; i < pares; ++i) {
        unidades_[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
      }
      gdi_->TextOutFontW(slot, it.run_x, y, unidades_.data(), static_cast<int>(pares),
                         it.estilo.fuente, it.estilo.espaciado, it.estilo.color_texto,
                         it.estilo.color_fondo);
    } else {
      gdi_->TextOutFont(slot, it.run_x, y, it.run, static_cast<int>(n), it.estilo.fuente,
                        it.estilo.espaciado, it.estilo.color_texto, it.estilo.color_fondo);
    }
  }
  it.run_volcado = 1;
  it.run += n;
  it.run_longitud = 0;
}

void TFormatae::RecorrerLinea(ModoLinea modo, VistaEstilo vista, PosicionTAE inicio,
                              LineaTAE& linea, int32_t y) {
  const char* texto = ftae_->doctae;
  const uint32_t n = ftae_->longitud;
  const int32_t ancho = ftae_->area_ancho;
  const bool medir = modo == ModoLinea::kMedir;
  const bool pintar = modo == ModoLinea::kPintar;
  ESTILO_TAE& estilo = *vista.estilo;

  // Measuring reads the real widths until a tag changes the font, then
  // fills its own table: it never writes the real one.
  uint8_t* anchos = vista.anchos;
  PosicionTAE pos = inicio;
  int32_t pen = *vista.inicio_parrafo ? 0 : estilo.sangria;
  bool contenido = false;  // a character or a tab is on the line
  bool en_palabra = false;
  bool palabra_primera = false;  // the current word began the line's content
  PosicionTAE palabra;           // where the current word began
  bool con_elementos = false;
  FinLinea motivo = FinLinea::kAcabado;
  PosicionTAE fin_dibujo;
  PosicionTAE fin;

  // The pending run ends where the walk is, or where the line's text ends.
  auto volcar_hasta = [&](uint32_t hasta) {
    itae_->run_longitud = hasta - static_cast<uint32_t>(itae_->run - texto);
    VolcarTexto();
  };
  auto volcar = [&] { volcar_hasta(pos.offset); };
  uint32_t fin_texto = pos.offset;
  auto empezar_run = [&] {
    itae_->pen = pen;
    EmpezarRun(pos);
  };
  auto terminar = [&](FinLinea como, PosicionTAE hasta_dibujo, PosicionTAE siguiente) {
    motivo = como;
    fin_dibujo = hasta_dibujo;
    fin = siguiente;
  };

  if (pintar) {
    itae_->run_y = y;
    itae_->run_volcado = 0;
    empezar_run();
    ContinuarRegion();
  }
  if (!pos.doble && pos.offset < n && texto[pos.offset] == ' ') {
    ++pos.offset;
    con_elementos = true;
    if (pintar) empezar_run();
  }

  for (;;) {
    if (!medir && pos == linea.fin_dibujo) {
      fin_texto = pos.offset;
      break;
    }
    if (pos.doble) {
      if (pos.offset + 1 >= n) {  // a lone last byte is dropped
        fin_texto = pos.offset;
        terminar(FinLinea::kAcabado, pos, pos);
        break;
      }
      if (texto[pos.offset] != '<' || texto[pos.offset + 1] != 'F') {
        const int32_t w = AnchoDoble(estilo.fuente.lfHeight) + estilo.espaciado;
        en_palabra = false;
        if (medir && pen + w > ancho) {
          if (contenido) {
            terminar(FinLinea::kLleno, pos, pos);
          } else {
            pos.offset += 2;
            con_elementos = true;
            terminar(FinLinea::kLleno, pos, pos);
          }
          break;
        }
        pen += w;
        contenido = true;
        con_elementos = true;
        pos.offset += 2;
        continue;
      }
      // A pair beginning "<F" ends the run and is read as single bytes.
      if (pintar) volcar();
      pos.doble = false;
      if (pintar) empezar_run();
    }

    const uint32_t p = pos.offset;
    if (p >= n || texto[p] == '\0') {
      fin_texto = p;
      terminar(FinLinea::kAcabado, pos, pos);
      break;
    }
    const uint8_t c = static_cast<uint8_t>(texto[p]);
    if (c == '\n') {
      con_elementos = true;
      fin_texto = p;
      ++pos.offset;
      terminar(FinLinea::kLF, pos, pos);
      break;
    }
    if (c == '\t') {
      const int32_t parada = SiguienteTabulador(estilo, pen);
      if (medir && parada > ancho && contenido) {
        // A tab past the width goes to the next line (alone, it stays).
        terminar(FinLinea::kLleno, pos, pos);
        break;
      }
      if (pintar) volcar();
      pen = parada;
      en_palabra = false;
      contenido = true;
      con_elementos = true;
      ++pos.offset;
      if (pintar) empezar_run();
      continue;
    }
    if (c == '<') {
      con_elementos = true;
      if (pintar) {
        volcar();
        itae_->pen = pen;
      }
      TagTAE tag;
      if (!LeerTag(texto, n, p, tag)) {
        // An unknown keyword: a gap, then what follows as text.
        if (modo == ModoLinea::kContar) Informar(kMensajeDesconocido);
        pen += kAvanceDesconocido;
        pos = {p + 1, false};
        if (pintar) empezar_run();
        continue;
      }
      const ClaveInfo& clave = kClaves[tag.clave];
      const platform::gfx::LOGFONTA antes = estilo.fuente;
      const EfectoTag efecto = clave.efecto(texto, tag, estilo, *vista.inicio_parrafo != 0);
      if (std::memcmp(&antes, &estilo.fuente, sizeof antes) != 0) {
        if (medir) anchos = anchos_medida_;
        RellenarAnchos(estilo.fuente, anchos);
      }
      if (!medir) {
        if (modo == ModoLinea::kContar) clave.contar(texto, tag, ftae_->audit);
        // Sound and button types are reported when they are drawn.
        if (pintar || efecto.mensaje < kMensajeSonido) Informar(efecto.mensaje);
      }
      if (efecto.tipo == TipoEfecto::kSaltoPagina) {
        fin_texto = p;
        pos = {tag.fin, false};
        if (vista.ultima_pagina) {
          // The table is full: the break only ends the line.
          if (modo == ModoLinea::kContar) Informar(kMensajePaginas);
          terminar(FinLinea::kLF, pos, pos);
        } else {
          terminar(FinLinea::kSalto, pos, pos);
        }
        break;
      }
      pen += efecto.avance;
      if (efecto.tipo == TipoEfecto::kFallo) {
        pos = {tag.parametros, false};  // the parameters are laid out as text
      } else {
        pos = {tag.fin, tag.abre_doble};
        if (pintar && clave.pintar != nullptr) {
          itae_->pen = pen;
          (this->*clave.pintar)(tag);
          pen = itae_->pen;
        }
      }
      if (pintar) empezar_run();
      continue;
    }

    // A stretch of ordinary bytes, up to the next special one (or, when
    // committing, to where measuring ended the line).
    const uint32_t tope = medir ? n : std::min(n, linea.fin_dibujo.offset);
    uint32_t q = p;
    if (modo == ModoLinea::kContar) {
      // Counting needs only the tags: the text is skipped.
      while (q < tope && !kEspecial[static_cast<uint8_t>(texto[q])]) ++q;
      if (q == p) {  // a commit always reaches the end measured; never stand still
        fin_texto = q;
        break;
      }
      pos.offset = q;
      continue;
    }
    const int32_t espaciado = estilo.espaciado;
    // With no negative spacing the pen only grows, so a piece of a word
    // whose whole width fits has no character that passes the width.
    const bool crece = espaciado >= 0;
    bool llena = false;
    uint32_t lento_hasta = q;  // characters before it are taken one at a time
    for (; q < tope; ++q) {
      const uint8_t b = static_cast<uint8_t>(texto[q]);
      if (kEspecial[b]) break;
      if (crece && b != ' ' && q >= lento_hasta) {
        // The piece's width, scanned no further than the line can hold.
        uint32_t r = q;
        int32_t suma = 0;
        const int32_t cabe = ancho - pen;
        while (r < tope && !kFinPalabra[static_cast<uint8_t>(texto[r])] &&
               (!medir || suma <= cabe)) {
          suma += anchos[static_cast<uint8_t>(texto[r])] + espaciado;
          ++r;
        }
        if (!medir || suma <= cabe) {
          if (!en_palabra) {
            en_palabra = true;
            palabra = PosicionTAE{q, false};
            palabra_primera = !contenido;
          }
          pen += suma;
          contenido = true;
          q = r - 1;
          continue;
        }
        lento_hasta = r;  // the line ends inside this piece: find where
      }
      const int32_t w = anchos[b] + espaciado;
      if (b == ' ') {
        if (medir && pen + w > ancho) {
          // A space that does not fit goes to the next line, whose start
          // skips it: it is not drawn, and a second space after it is.
          terminar(FinLinea::kLleno, PosicionTAE{q, false}, PosicionTAE{q, false});
          llena = true;
          break;
        }
        en_palabra = false;
      } else {
        if (medir && pen + w > ancho) {
          const PosicionTAE aqui{q, false};
          if (en_palabra && !palabra_primera) {
            terminar(FinLinea::kLleno, palabra, palabra);
          } else if (en_palabra || contenido) {
            terminar(FinLinea::kLleno, aqui, aqui);
          } else {
            const PosicionTAE despues{q + 1, false};  // alone on its line
            terminar(FinLinea::kLleno, despues, despues);
          }
          llena = true;
          break;
        }
        if (!en_palabra) {
          en_palabra = true;
          palabra = PosicionTAE{q, false};
          palabra_primera = !contenido;
        }
      }
      pen += w;
      contenido = true;
    }
    con_elementos = true;
    if (llena) break;
    if (q == p) {
      fin_texto = q;
      break;
    }
    pos.offset = q;
  }

  if (medir) {
    linea.fin_dibujo = fin_dibujo;
    linea.fin = fin;
    linea.motivo = motivo;
    linea.con_elementos = con_elementos;
    return;
  }
  if (pintar) {
    volcar_hasta(fin_texto);
    itae_->pen = pen;
    CerrarRegionLinea();
  }
  *vista.inicio_parrafo = linea.motivo == FinLinea::kLleno ? 0 : 1;
}

TFormatae::LineaTAE TFormatae::MedirLinea(PosicionTAE inicio) {
  ESTILO_TAE estilo = itae_->estilo;
  uint8_t inicio_parrafo = itae_->inicio_parrafo;
  LineaTAE linea;
  RecorrerLinea(ModoLinea::kMedir,
                VistaEstilo{&estilo, itae_->tabtamchar, &inicio_parrafo, itae_->ultima_pagina != 0},
                inicio, linea, 0);
  return linea;
}

int TFormatae::Preformatear() {
  ITAE& it = *itae_;
  PAGINA_TAE* paginas = ftae_->paginas;
  const ESTILO_TAE base = EstiloBase(tae_);
  it.estilo = base;
  RellenarAnchos(it.estilo.fuente, it.tabtamchar);
  it.inicio_parrafo = 1;
  it.ultima_pagina = 0;
  uint16_t pagina = 0;
  int32_t lineas = 0;
  paginas[0] = PAGINA_TAE{ftae_->doctae, 0, 0};
  const VistaEstilo real{&it.estilo, it.tabtamchar, &it.inicio_parrafo, false};
  PosicionTAE pos;
  for (;;) {
    it.ultima_pagina = pagina == kMaxPaginasTAE - 1;
    LineaTAE linea = MedirLinea(pos);
    VistaEstilo vista = real;
    vista.ultima_pagina = it.ultima_pagina != 0;
    RecorrerLinea(ModoLinea::kContar, vista, pos, linea, 0);
    if (linea.motivo == FinLinea::kAcabado) {
      if (linea.con_elementos) lineas = std::min<int32_t>(lineas + 1, kMaxLineasPaginaTAE);
      break;
    }
    lineas = std::min<int32_t>(lineas + 1, kMaxLineasPaginaTAE);
    pos = linea.fin;
    if (linea.motivo == FinLinea::kSalto) {
      paginas[pagina].lineas = static_cast<int16_t>(lineas);
      ++pagina;
      lineas = 0;
      // Colours are not carried over pages: each starts with the default ones.
      ESTILO_TAE estilo = it.estilo;
      estilo.color_texto = base.color_texto;
      estilo.color_fondo = base.color_fondo;
      const uint16_t indice = tae_ ? tae_->RegistrarEstilo(estilo) : 0;
      paginas[pagina] = PAGINA_TAE{ftae_->doctae + pos.offset, 0, indice};
    }
  }
  paginas[pagina].lineas = static_cast<int16_t>(lineas);
  ftae_->num_paginas = static_cast<int16_t>(pagina + 1);
  it.ultima_pagina = 0;
  return 0;
}

void TFormatae::PrepararPagina() {
  ReiniciarContextosPagina();
  ITAE& it = *itae_;
  it.fondo_guardado = 0xFFFFFF;
  it.pen = 0;
  it.inicio_parrafo = 1;
  it.run_volcado = 0;
  it.region_abierta = 0;
  it.region_ejercicio = 0;
  it.region_abierta_flag = 0;
  it.ejercicio_actual = 0;
  it.en_hueco = 0;
  it.ocultar_texto = 0;
  it.indice_grabado = 0;
  it.longitud_hueco = 0;
  it.respuesta_speak = 0;
  it.doble = 0;
  if (tae_ != nullptr) tae_->SetOcupado(1);
  BorrarRegionesPagina();
}

void TFormatae::FinPintarPagina() {
  PintarHuecos();
  if (tae_ != nullptr) tae_->SetOcupado(0);
}

int32_t TFormatae::PintarPagina(uint16_t n) {
  if (!usable_ || ftae_->doctae == nullptr || n >= ftae_->num_paginas) return 0;
  TGestorTAE::Bloqueo bloqueo(tae_);
  ITAE& it = *itae_;
  // A draw that throws (a picture whose read lost the connection) still
  // ends: the busy flag is cleared on every way out, or every mouse event
  // would be dropped until another draw ended.
  struct FinDibujo {
    TFormatae* f;
    ~FinDibujo() {
      f->itae_->ultima_pagina = 0;
      if (f->tae_ != nullptr) f->tae_->SetOcupado(0);
    }
  } fin_dibujo{this};
  PrepararPagina();
  if (gdi_ != nullptr) {
    gdi_->FillRect(static_cast<uint16_t>(ftae_->slot_pagina), 0, 0,
                   static_cast<uint16_t>(ftae_->ancho_superficie),
                   static_cast<uint16_t>(ftae_->alto_superficie), ftae_->color_pagina);
  }
  const PAGINA_TAE& pagina = ftae_->paginas[n];
  it.estilo = tae_ ? tae_->Estilo(pagina.estilo) : EstiloBase(nullptr);
  RellenarAnchos(it.estilo.fuente, it.tabtamchar);
  it.ultima_pagina = n == kMaxPaginasTAE - 1;

  lineas_pintadas_.clear();
  const int32_t limite = int32_t{ftae_->area_y} + ftae_->area_alto;
  int32_t y = ftae_->area_y;
  int32_t lineas = 0;
  int32_t final = 0;
  PosicionTAE pos{static_cast<uint32_t>(pagina.texto - ftae_->doctae), false};
  const VistaEstilo real{&it.estilo, it.tabtamchar, &it.inicio_parrafo, it.ultima_pagina != 0};
  while (y + it.estilo.interlinea <= limite) {
    LineaTAE linea = MedirLinea(pos);
    RecorrerLinea(ModoLinea::kPintar, real, pos, linea, y);
    lineas_pintadas_.push_back(LineaPintada{y, pos.offset, linea.fin.offset, linea.con_elementos});
    if (linea.motivo == FinLinea::kAcabado) {
      final = kPaginaTextoAcabado;
      break;
    }
    if (linea.motivo == FinLinea::kSalto) {
      final = kPaginaSalto;
      break;
    }
    pos = linea.fin;
    y += it.estilo.interlinea;
    ++lineas;
  }
  it.ultima_pagina = 0;
  FinPintarPagina();
  return final != 0 ? lineas + final : lineas - 1;
}

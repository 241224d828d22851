// What each kind of hit region does: the pointer-over and pointer-leaves
// images and cursors, the button-down and button-up actions (sentences,
// written exercises, gaps, the solution and dictation buttons, difficulty,
// speaking answers, role play, animation), and the buttons' images by state.
//
// Every handler runs under the page lock, from a mouse event or from the
// sound's end, with the region of the table it acts on (or none).
#include <algorithm>
#include <cstring>
#include <string>

#include "base/OSAL.h"
#include "platform/ui/ControlSite.h"
#include "player/EJE_PANTALLA.h"
#include "player/IAnimPagina.h"
#include "player/IAudioPagina.h"
#include "player/SesionAX.h"
#include "player/TFormatae.h"
#include "player/TGestorTAE.h"
#include "player/TRectangulosVirtuales.h"

namespace {

constexpr int kTraceClic = kTracePulsacionLarga;
constexpr int kTraceAuditoria = 33;
constexpr uint8_t kParteSpeaking = 7;
constexpr uint8_t kAudioCompleto = 100;

using platform::ui::kCursorArrow;
using platform::ui::kCursorHand;
using platform::ui::kCursorIBeam;

std::string Nombre(const RECT_VIRTUAL* rv) {
  return std::string(rv->cola, LongitudTextoRegion(*rv));
}

void Contar(uint8_t& contador) {
  if (contador < 0xFF) ++contador;
}

void Contar(uint16_t& contador) {
  if (contador < 0xFFFF) ++contador;
}

}  // namespace

struct TRectangulosVirtuales::EjercicioRegion {
  EJE_TRATADO* registro = nullptr;
  EJE_PANTALLA* entrada = nullptr;
};

bool TRectangulosVirtuales::Ejercicio(const RECT_VIRTUAL* rv, EjercicioRegion& e) {
  TFormatae* f = Formatae();
  if (f == nullptr || rv == nullptr) return false;
  e.registro = f->Ejercicio(rv->id);
  e.entrada = f->Entrada(LeerColaHueco(*rv).entrada);
  return e.registro != nullptr && e.entrada != nullptr;
}

bool TRectangulosVirtuales::Resuelto(const RECT_VIRTUAL* rv) {
  EjercicioRegion e;
  if (!Ejercicio(rv, e)) return false;
  return (e.registro->selector == 1 && e.registro->resultado1 == 2) ||
         (e.registro->selector == 2 && e.registro->resultado2 == 2);
}

void TRectangulosVirtuales::Imagen(const RECT_VIRTUAL* rv, const char* imagen, bool presentar) {
  TFormatae* f = Formatae();
  if (f == nullptr) return;
  const TFormatae::Tamano t = f->PintarPNG(imagen, rv->left, rv->top);
  if (presentar && t.ancho > 0 && t.alto > 0)
    f->SolicitudRepintar(rv->left, rv->top, t.ancho, t.alto);
}

void TRectangulosVirtuales::Repintar(const RECT_VIRTUAL* rv) {
  TFormatae* f = Formatae();
  if (f == nullptr || rv->right <= rv->left || rv->bottom <= rv->top) return;
  f->SolicitudRepintar(rv->left, rv->top, static_cast<uint16_t>(rv->right - rv->left),
                       static_cast<uint16_t>(rv->bottom - rv->top));
}

void TRectangulosVirtuales::RepintarTodo() {
  if (TFormatae* f = Formatae()) f->SolicitudRepintar(0, 0, 0, 0);
}

void TRectangulosVirtuales::Cursor(uint32_t id) {
  if (TFormatae* f = Formatae()) {
    f->CambiarCursor(id);
  } else {
    OSALDeSesion(osal_).CambiarCursor(id);
  }
}

bool TRectangulosVirtuales::RolePlayActivo() const {
  const CON_ROLPLAY* rp = tae_ ? tae_->ConRolPlay() : nullptr;
  return rp != nullptr && rp->modo != 0;
}

bool TRectangulosVirtuales::RolePlayDe(const RECT_VIRTUAL* rv) const {
  const CON_ROLPLAY* rp = tae_ ? tae_->ConRolPlay() : nullptr;
  return rp != nullptr && (rp->modo == 1 || rp->modo == 2) && rv->id == rp->personaje + 1;
}

// The pointer.

void TRectangulosVirtuales::Entra(RECT_VIRTUAL* rv, uint16_t anterior_slot) {
  const CON_EJESCRITO* ce = tae_->ConEjEscrito();
  const CON_SPEAK* cs = tae_->ConSpeak();
  const bool ya_encima = anterior_slot == Slot(rv);
  const uint8_t anterior = anterior_slot != 0 ? bufrectvirt_[anterior_slot].tipo : 0;
  switch (rv->tipo) {
    case kRegionFrase:
    case kRegionFraseUnica:
    case kRegionFrasePrivada:
    case kRegionPlayDictado:
      Cursor(kCursorHand);
      break;
    case kRegionEjercicio: {
      EjercicioRegion e;
      const bool dictado = Ejercicio(rv, e) && e.registro->tipo == 3;
      Cursor(!dictado && Resuelto(rv) ? kCursorHand : kCursorIBeam);
      break;
    }
    case kRegionSolucion:
      if (ce != nullptr && !ce->solucion_visible && !ya_encima) {
        Cursor(kCursorHand);
        Imagen(rv, "COMUN\\BTNSOLM", true);
      }
      break;
    case kRegionRolePlayPlay:
    case kRegionRolePlayGrabar:
      if (RolePlayActivo()) {
        Cursor(kCursorArrow);
      } else if (anterior != rv->tipo) {
        Cursor(kCursorHand);
        Imagen(rv, rv->tipo == kRegionRolePlayPlay ? "COMUN\\BTNPLAYM" : "COMUN\\BTNRECM", true);
      }
      break;
    case kRegionRolePlayStop:
      if (!RolePlayDe(rv)) {
        Cursor(kCursorArrow);
      } else if (anterior != kRegionRolePlayStop) {
        Cursor(kCursorHand);
        Imagen(rv, "COMUN\\BTNSTOPM", true);
      }
      break;
    case kRegionRespuestaSpeak:
      if (cs != nullptr && !cs->respuesta_visible && !ya_encima) {
        Cursor(kCursorHand);
        Imagen(rv, "COMUN\\BTNSOLM", true);
      }
      break;
    case kRegionHueco:
      Cursor(kCursorIBeam);
      break;
    case kRegionDificultad:
      Cursor(kCursorHand);
      if (!ya_encima && ce != nullptr && rv->id != ce->nivel) {
        Imagen(rv, rv->id == 1 ? "COMUN\\BTNDIF1M" : "COMUN\\BTNDIF2M", true);
      }
      break;
    default:
      break;
  }
}

void TRectangulosVirtuales::Sale(RECT_VIRTUAL* rv) {
  const CON_EJESCRITO* ce = tae_->ConEjEscrito();
  const CON_SPEAK* cs = tae_->ConSpeak();
  switch (rv->tipo) {
    case kRegionSolucion:
      if (ce != nullptr && !ce->solucion_visible) Imagen(rv, "COMUN\\BTNSOLN", true);
      break;
    case kRegionPlayDictado:
      Imagen(rv, "COMUN\\BTNPLDIN", true);
      break;
    case kRegionRolePlayPlay:
      if (!RolePlayActivo()) Imagen(rv, "COMUN\\BTNPLAYN", true);
      break;
    case kRegionRolePlayGrabar:
      if (!RolePlayActivo()) Imagen(rv, "COMUN\\BTNRECN", true);
      break;
    case kRegionRolePlayStop:
      if (RolePlayDe(rv)) Imagen(rv, "COMUN\\BTNSTOPN", true);
      break;
    case kRegionRespuestaSpeak:
      if (cs != nullptr && !cs->respuesta_visible) Imagen(rv, "COMUN\\BTNSOLN", true);
      break;
    case kRegionDificultad:
      if (ce != nullptr && rv->id != ce->nivel) {
        Imagen(rv, rv->id == 1 ? "COMUN\\BTNDIF1N" : "COMUN\\BTNDIF2N", true);
      }
      break;
    case kRegionSubtitulosAnim:
      if (Anim().Cargada()) {
        Imagen(rv, "COMUN\\BTNSUBTN", false);
        Repintar(rv);
      }
      break;
    default:
      break;
  }
}

// Buttons down and up.

void TRectangulosVirtuales::IzquierdoAbajo(RECT_VIRTUAL* rv) {
  const CON_EJESCRITO* ce = tae_->ConEjEscrito();
  const CON_SPEAK* cs = tae_->ConSpeak();
  IAnimPagina& anim = Anim();
  auto pulsar = [&](const char* imagen) {
    Imagen(rv, imagen, false);
    Repintar(rv);
  };
  switch (rv->tipo) {
    case kRegionFrase:
    case kRegionFraseUnica:
      TratarCIDFraseAudio(rv, false);
      break;
    case kRegionFrasePrivada:
      TratarCIDFraseAudio(rv, true);
      break;
    case kRegionEjercicio:
      TratarCIDEjercicioEscrito(rv);
      break;
    case kRegionSolucion:
      if (ce != nullptr && !ce->solucion_visible) pulsar("COMUN\\BTNSOLP");
      break;
    case kRegionPlayDictado:
      pulsar("COMUN\\BTNPLDIP");
      break;
    case kRegionRespuestaSpeak:
      if (cs != nullptr && !cs->respuesta_visible) pulsar("COMUN\\BTNSOLP");
      break;
    case kRegionSubtitulosAnim:
      if (anim.Cargada()) pulsar("COMUN\\BTNSUBTP");
      break;
    case kRegionStopAnim:
      if (anim.Cargada() && !anim.Parada()) pulsar("COMUN\\BTNSTOPP");
      break;
    case kRegionPlayAnim:
      if (anim.Cargada() && anim.Parada()) pulsar("COMUN\\BTNPLAYP");
      break;
    default:
      break;
  }
}

void TRectangulosVirtuales::IzquierdoArriba(RECT_VIRTUAL* rv, uint16_t x, uint16_t y) {
  const CON_SPEAK* cs = tae_->ConSpeak();
  switch (rv->tipo) {
    case kRegionFrase:
    case kRegionFraseUnica:
      TratarCIUFraseAudioNormal(rv);
      break;
    case kRegionFrasePrivada:
      TratarCIUFraseAudioPrivado(rv);
      break;
    case kRegionEjercicio:
      TratarCIUEjercicioEscrito(rv, x, y);
      break;
    case kRegionSolucion:
      TratarCIUBotonSolucion(rv);
      break;
    case kRegionPlayDictado:
      TratarCIUPlayDictado(rv);
      break;
    case kRegionRolePlayPlay:
      if (!RolePlayActivo()) TratarCIURolePlay(rv, false);
      break;
    case kRegionRolePlayGrabar:
      if (!RolePlayActivo() && !tae_->ModoNavegacion()) TratarCIURolePlay(rv, true);
      break;
    case kRegionRolePlayStop:
      if (RolePlayDe(rv)) Audio().StopAudio();
      break;
    case kRegionRespuestaSpeak:
      if (cs != nullptr && !cs->respuesta_visible) TratarCIUAnswerSpeaking(rv);
      break;
    case kRegionHueco:
      TratarCIUHueco(rv, x);
      break;
    case kRegionDificultad:
      TratarCIUDificultad(rv);
      break;
    case kRegionSubtitulosAnim:
    case kRegionStopAnim:
    case kRegionPlayAnim:
    case kRegionBarraAnim:
    case kRegionRecapAnim:
    case kRegionPauseAnim:
      TratarCIUAnim(rv, x);
      break;
    default:
      break;
  }
}

void TRectangulosVirtuales::DerechoArriba(RECT_VIRTUAL* rv) {
  switch (rv->tipo) {
    case kRegionFrase:
    case kRegionFraseUnica:
      TratarCDUFraseAudio(rv, false);
      break;
    case kRegionFrasePrivada:
      TratarCDUFraseAudio(rv, true);
      break;
    case kRegionEjercicio:
      TratarCDUEjercicioEscrito(rv);
      break;
    default:
      break;
  }
}

// Sentences.

void TRectangulosVirtuales::TratarCIDFraseAudio(RECT_VIRTUAL* rv, bool privado) {
  const std::string nombre = Nombre(rv);
  TrazarF(kTraceClic,
          privado ? "Clic IZQ Down frase audio privado '%s'" : "Clic IZQ Down frase audio '%s'",
          nombre.c_str());
  if (tae_->ModoNavegacion()) return;
  IAudioPagina& audio = Audio();
  audio.StopAudio();
  audio.SetNombreFrase(nombre.c_str());
  audio.SetIdFrase(rv->id);
  audio.SetTipoFrase(privado ? estado_audio::kTipoFrasePrivada : estado_audio::kTipoFrase);
  audio.SetEstado(estado_audio::kFraseArmada);
  if (TFormatae* f = Formatae()) {
    f->MostrarIcono(0);
    f->SeleccionarIcono(1);
    f->PosicionarIcono(static_cast<int16_t>(rv->left - 45), static_cast<int16_t>(rv->top - 5));
  }
  MarcarPulsacion();
}

void TRectangulosVirtuales::TratarCIUFraseAudioNormal(RECT_VIRTUAL* rv) {
  IAudioPagina& audio = Audio();
  TFormatae* f = Formatae();
  if (audio.Grabando()) {
    if (audio.Estado() != estado_audio::kFraseArmada) return;
    OSAL::Trace(kTraceClic, "Clic IZQ Up frase audio -> Accion terminar grabacion de una frase.");
    audio.FinGrabarFraseSTR();
    if (f) f->MostrarIcono(0);
    audio.SetGrabando(false);
    if (SON_TRATADO* son = f ? f->Sonido(audio.IdFrase()) : nullptr) Contar(son->grabaciones);
    TrazarF(kTraceAuditoria, "AUDIO grabado '%s' OK.", audio.NombreFrase().c_str());
    audio.IniciarComparar();
    return;
  }
  if (rv == nullptr) {
    OSAL::Trace(kTraceError, "TratarCIUFraseAudioNormal(struct RECT_VIRTUAL *rv) siendo rv NULL");
    return;
  }
  OSAL::Trace(kTraceClic, "Clic IZQ Up frase audio -> Accion Play audio nativo.");
  OSAL::Trace(kTraceAudioPrimero, "Recibido que hay que hacer PLAY de un audio.");
  if (f != nullptr && f->Parte() == kParteSpeaking) {
    LimpiarPulsacion();  // no sound plays in the speaking part
    return;
  }
  audio.StopAudio();
  audio.SetEstado(estado_audio::kFraseNativa);
  if (f && f->Usable()) f->itae()->sonando = rv->id;
  audio.PlayAudio(Nombre(rv).c_str(), 1);
}

void TRectangulosVirtuales::TratarCIUFraseAudioPrivado(RECT_VIRTUAL* rv) {
  IAudioPagina& audio = Audio();
  if (audio.Grabando()) return;
  OSAL::Trace(kTraceClic, "Clic IZQ Up frase audio privado -> Accion Play audio nativo.");
  audio.StopAudio();
  audio.SetEstado(estado_audio::kFraseNativa);
  TFormatae* f = Formatae();
  if (f && f->Usable()) f->itae()->sonando = rv->id;
  audio.PlayAudio(Nombre(rv).c_str(), 2);
}

void TRectangulosVirtuales::TratarCDUFraseAudio(RECT_VIRTUAL* rv, bool privado) {
  const std::string nombre = Nombre(rv);
  TrazarF(kTraceClic,
          privado ? "Clic DER Up frase audio privado '%s'" : "Clic DER Up frase audio '%s'",
          nombre.c_str());
  IAudioPagina& audio = Audio();
  audio.StopAudio();
  TFormatae* f = Formatae();
  const SON_TRATADO* son = f ? f->Sonido(rv->id) : nullptr;
  if (son == nullptr || son->grabaciones == 0) return;  // never recorded: nothing to compare
  audio.SetIdFrase(rv->id);
  audio.SetNombreFrase(nombre.c_str());
  audio.SetTipoFrase(privado ? estado_audio::kTipoFrasePrivada : estado_audio::kTipoFrase);
  audio.IniciarComparar();
}

// Written exercises.

void TRectangulosVirtuales::TratarCIDEjercicioEscrito(RECT_VIRTUAL* rv) {
  OSAL::Trace(kTraceClic, "Clic IZQ Down Ejercicio escrito.");
  EjercicioRegion e;
  if (!Ejercicio(rv, e) || e.registro->tipo == 3 || !Resuelto(rv)) return;
  IAudioPagina& audio = Audio();
  audio.StopAudio();
  audio.SetNombreFrase(e.entrada->audio);
  audio.SetIdFrase(rv->id);
  audio.SetTipoFrase(estado_audio::kTipoEjercicio);
  audio.SetEstado(estado_audio::kEjercicioArmado);
  if (TFormatae* f = Formatae()) {
    f->MostrarIcono(0);
    f->SeleccionarIcono(1);
    f->PosicionarIcono(static_cast<int16_t>(rv->left - 45), static_cast<int16_t>(rv->top - 5));
  }
  MarcarPulsacion();
}

void TRectangulosVirtuales::TratarCIUEjercicioEscrito(RECT_VIRTUAL* rv, uint16_t x, uint16_t) {
  IAudioPagina& audio = Audio();
  TFormatae* f = Formatae();
  if (audio.Grabando()) {
    if (audio.Estado() != estado_audio::kEjercicioArmado) return;
    OSAL::Trace(kTraceClic,
                "Clic IZQ Up frase Ejercicio escrito -> Accion terminar grabacion de una frase.");
    audio.FinGrabarFraseSTR();
    audio.SetGrabando(false);
    if (EJE_TRATADO* registro = f ? f->Ejercicio(audio.IdFrase()) : nullptr) {
      Contar(registro->grabaciones);
    }
    audio.IniciarComparar();
    return;
  }
  if (rv == nullptr) {
    OSAL::Trace(kTraceError,
                "TratarCIUEjercicioEscrito(struct RECT_VIRTUAL *rv,NATURAL cx,NATURAL cy) siendo "
                "rv NULL");
    return;
  }
  EjercicioRegion e;
  if (!Ejercicio(rv, e) || e.registro->tipo == 3) return;
  if (!Resuelto(rv)) {
    OSAL::Trace(kTraceClic,
                "Clic IZQ Up Ejercicio escrito -> Accion Colocar cursor en hueco proximo.");
    HuecoProximo(rv, x);
    return;
  }
  OSAL::Trace(kTraceClic, "Clic IZQ Up Ejercicio escrito -> Accion Play audio nativo.");
  audio.StopAudio();
  audio.SetEstado(estado_audio::kEjercicio);
  if (f && f->Usable()) f->itae()->sonando = rv->id;
  audio.PlayAudio(e.entrada->audio, 1);
}

void TRectangulosVirtuales::TratarCDUEjercicioEscrito(RECT_VIRTUAL* rv) {
  EjercicioRegion e;
  if (!Ejercicio(rv, e) || e.registro->tipo == 3 || !Resuelto(rv)) return;
  IAudioPagina& audio = Audio();
  audio.StopAudio();
  if (e.registro->comparaciones == 0) return;
  audio.SetIdFrase(rv->id);
  audio.SetTipoFrase(estado_audio::kTipoEjercicio);
  audio.SetNombreFrase(e.entrada->audio);
  audio.IniciarComparar();
}

void TRectangulosVirtuales::HuecoProximo(RECT_VIRTUAL* rv, uint16_t x) {
  RECT_VIRTUAL* elegido = nullptr;
  for (uint16_t s = 1; s < cuenta_; ++s) {
    RECT_VIRTUAL* hueco = &bufrectvirt_[s];
    if (hueco->tipo != kRegionHueco || hueco->en_uso != 1 || hueco->id != rv->id) continue;
    elegido = hueco;
    if (hueco->right >= x) break;
  }
  TFormatae* f = Formatae();
  CON_EJESCRITO* ce = tae_->ConEjEscrito();
  if (elegido == nullptr || f == nullptr || ce == nullptr) return;
  ce->ejercicio_actual = rv->id;
  ce->entrada_actual = LeerColaHueco(*rv).entrada;
  ce->hueco = elegido;
  // The caret goes where the click was, as far as the gap's typed text goes.
  f->SeleccionarHueco(static_cast<uint16_t>(x > elegido->left ? x - elegido->left : 0));
}

void TRectangulosVirtuales::TratarCIUHueco(RECT_VIRTUAL* rv, uint16_t x) {
  OSAL::Trace(kTraceClic, "Clic IZQ Up Hueco Ejercicio escrito.");
  TFormatae* f = Formatae();
  CON_EJESCRITO* ce = tae_->ConEjEscrito();
  if (f == nullptr || ce == nullptr) return;
  ce->ejercicio_actual = rv->id;
  ce->entrada_actual = LeerColaHueco(*rv).entrada;
  ce->hueco = rv;
  f->SeleccionarHueco(static_cast<uint16_t>(x > rv->left ? x - rv->left : 0));
}

// Buttons.

void TRectangulosVirtuales::TratarCIUBotonSolucion(RECT_VIRTUAL* rv) {
  TFormatae* f = Formatae();
  CON_EJESCRITO* ce = tae_->ConEjEscrito();
  if (f == nullptr || ce == nullptr || !f->Usable()) return;
  const EJE_PANTALLA* e = f->Entrada(ce->entrada_actual);
  if (ce->ejercicio_actual == 0 || e == nullptr) {
    OSAL::Trace(kTraceClic,
                "Clic IZQ Up Boton solucion -> Accion ninguna frase seleecionada para ver la "
                "solucion.");
    Imagen(rv, "COMUN\\BTNSOLM", false);
    RepintarTodo();
    return;
  }
  size_t n = 0;
  while (n < sizeof e->texto && e->texto[n] != '\0' && e->texto[n] != '}') ++n;
  const std::string solucion(e->texto, n);
  TrazarF(kTraceClic, "Clic IZQ Up Boton solucion -> Accion mostrar la solucion '%s'",
          solucion.c_str());
  FTAE* ftae = f->ftae();
  f->RellenarRect(rv->right + 2, rv->top, 440, 18, ftae->color_nivel);
  platform::gfx::LOGFONTA fuente = tae_->EstiloPorDefecto().fuente;
  fuente.lfHeight = -13;
  fuente.lfWeight = 400;
  f->EscribirTexto(rv->right + 5, rv->top, solucion.data(), solucion.size(), fuente, 0, 0x000000,
                   ftae->color_nivel);
  RepintarTodo();
  ce->solucion_visible = 1;
  Contar(ftae->respuestas);
}

void TRectangulosVirtuales::TratarCIUPlayDictado(RECT_VIRTUAL* rv) {
  OSAL::Trace(kTraceClic, "Clic IZQ Up boton play frase dictado.");
  TFormatae* f = Formatae();
  const EJE_PANTALLA* e = f ? f->Entrada(LeerColaHueco(*rv).entrada) : nullptr;
  IAudioPagina& audio = Audio();
  audio.StopAudio();
  audio.SetEstado(estado_audio::kDictado);
  if (f == nullptr || !f->Usable()) return;
  f->itae()->sonando = rv->id;
  if (e != nullptr) audio.PlayAudio(e->audio, 2);
  f->OcultarCaretPantalla();
  f->MostrarSolucionHueco(rv->id);
  Imagen(rv, "COMUN\\BTNPLDIM", false);
  RepintarTodo();
}

void TRectangulosVirtuales::TratarCIUDificultad(RECT_VIRTUAL* rv) {
  OSAL::Trace(kTraceClic, "Clic IZQ Up Boton Dificulty.");
  TFormatae* f = Formatae();
  const CON_EJESCRITO* ce = tae_->ConEjEscrito();
  if (f == nullptr || ce == nullptr || (rv->id != 1 && rv->id != 2)) return;
  for (uint16_t i = 1; i <= ce->num_entradas; ++i) {
    const EJE_PANTALLA* e = f->Entrada(i);
    if (e == nullptr || e->tipo != 1) continue;
    if (EJE_TRATADO* registro = f->Ejercicio(e->numero)) registro->selector = rv->id;
  }
  f->SolicitudActualizarPagina();
  RepintarTodo();
}

void TRectangulosVirtuales::TratarCIUAnswerSpeaking(RECT_VIRTUAL* rv) {
  const std::string texto = Nombre(rv);
  TrazarF(kTraceClic, "Clic IZQ Up boton answer speaking frase '%s'.", texto.c_str());
  TFormatae* f = Formatae();
  CON_SPEAK* cs = tae_->ConSpeak();
  if (f == nullptr || cs == nullptr || !f->Usable()) return;
  // An answer without a sound (numbered past the name table, or named by no
  // ASPEAK) has nothing to play, and nothing would end it: it changes nothing.
  char nombre[kNombreSpeak + 1] = {};
  if (rv->id < kRespuestasSpeak) std::memcpy(nombre, cs->nombres[rv->id], kNombreSpeak);
  if (nombre[0] == '\0') return;
  f->RellenarRect(rv->right + 4, rv->top + 1, 529, 18, 0xFFFFFF);
  f->EscribirTexto(rv->right + 7, rv->top + 1, texto.data(), texto.size(), cs->fuente,
                   cs->espaciado, 0x000000, 0xFFFFFF);
  RepintarTodo();
  Contar(f->ftae()->respuestas);
  IAudioPagina& audio = Audio();
  audio.StopAudio();
  audio.SetEstado(estado_audio::kRespuesta);
  audio.PlayAudio(nombre, 1);
  cs->respuesta_visible = 1;
  cs->region_respondida = rv;
}

void TRectangulosVirtuales::TratarCIURolePlay(RECT_VIRTUAL* rv, bool grabar) {
  CON_ROLPLAY* rp = tae_->ConRolPlay();
  if (rp == nullptr || rv->id == 0 || rv->id > kMaxPersonajesRolPlay) return;
  const RECT_VIRTUAL* linea = nullptr;
  for (uint16_t s = 1; s < cuenta_ && linea == nullptr; ++s) {
    const RECT_VIRTUAL& r = bufrectvirt_[s];
    if (r.tipo == kRegionLineaRolePlay && r.en_uso == 1) linea = &r;
  }
  // A page without role-play lines, or a line the file does not have.
  if (linea == nullptr || linea->id == 0 || linea->id > rp->num_lineas) return;
  IAudioPagina& audio = Audio();
  audio.StopAudio();
  rp->modo = grabar ? 2 : 1;
  rp->terminado = grabar ? 0 : 1;
  rp->personaje = static_cast<uint8_t>(rv->id - 1);
  rp->linea_derecha = 0;
  rp->microfono_visible = 0;
  rp->linea_actual = static_cast<uint8_t>(linea->id - 1);
  rp->posicion = 0;
  while (rp->posicion < kMaxLineasRolPlay - 1 &&
         rp->filas[rp->personaje][rp->posicion] < rp->linea_actual) {
    ++rp->posicion;
  }
  ActualizarBotones();
  RepintarTodo();
  if (grabar) {
    audio.PlayRolePlayGrabar();
  } else {
    audio.SetGrabando(false);
    audio.SetEstado(estado_audio::kRolePlayAlumno);
    audio.PlayRolePlayAlumno();
  }
}

void TRectangulosVirtuales::TratarCIUAnim(RECT_VIRTUAL* rv, uint16_t x) {
  IAnimPagina& anim = Anim();
  const bool cargada = anim.Cargada();
  switch (rv->tipo) {
    case kRegionSubtitulosAnim:
      OSAL::Trace(kTraceClic, "Clic IZQ Up Boton SUBTITLES Anim.");
      if (!cargada) return;
      Imagen(rv, "COMUN\\BTNSUBTN", false);
      Repintar(rv);
      anim.CambiarSubtitulos();
      break;
    case kRegionStopAnim:
      OSAL::Trace(kTraceClic, "Clic IZQ Up Boton STOP Anim.");
      if (!cargada || anim.Parada()) return;
      anim.CloseAnim();
      ActualizarBotonesAnim();
      if (TFormatae* f = Formatae()) f->SolicitudRepintar(63, 501, 124, 24);
      break;
    case kRegionPlayAnim:
      OSAL::Trace(kTraceClic, "Clic IZQ Up Boton PLAY Anim.");
      if (cargada && anim.Parada()) anim.PlayAnim(0);
      break;
    case kRegionBarraAnim: {
      OSAL::Trace(kTraceClic, "Clic IZQ Up Zona Thumbar Anim.");
      if (!cargada || anim.Parada() || anim.PorcentajeAudio() < kAudioCompleto) return;
      const uint32_t ancho = rv->right > rv->left ? uint32_t{rv->right} - rv->left : 0;
      if (ancho == 0 || x < rv->left) return;
      const uint32_t dentro = std::min<uint32_t>(static_cast<uint32_t>(x - rv->left), ancho - 1);
      anim.PlayAnim(static_cast<uint16_t>(dentro * anim.NumFrames() / ancho));
      break;
    }
    case kRegionRecapAnim:
      OSAL::Trace(kTraceClic, "Clic IZQ Up Zona Animacion -> Recap Anim.");
      if (cargada && !anim.Parada() && anim.PorcentajeAudio() >= kAudioCompleto) anim.RecapAnim();
      break;
    case kRegionPauseAnim:
      OSAL::Trace(kTraceClic, "Clic IZQ Up Zona Animacion -> Pause Anim.");
      if (cargada && anim.PorcentajeAudio() >= kAudioCompleto) anim.PauseAnim();
      break;
    default:
      break;
  }
}

// Button images by state.

void TRectangulosVirtuales::ActualizarBotones() {
  const CON_ROLPLAY* rp = tae_ ? tae_->ConRolPlay() : nullptr;
  if (rp == nullptr || bufrectvirt_ == nullptr) return;
  for (uint16_t s = 0; s < cuenta_; ++s) {
    const RECT_VIRTUAL* rv = &bufrectvirt_[s];
    const bool suyo = rv->id == rp->personaje + 1;
    const char* imagen = nullptr;
    switch (rv->tipo) {
      case kRegionRolePlayGrabar:
        imagen = rp->modo == 0           ? "COMUN\\BTNRECN"
                 : rp->modo == 2 && suyo ? "COMUN\\BTNRECP"
                                         : "COMUN\\BTNRECD";
        break;
      case kRegionRolePlayStop:
        imagen = rp->modo != 0 && suyo ? "COMUN\\BTNSTOPN" : "COMUN\\BTNSTOPD";
        break;
      case kRegionRolePlayPlay:
        imagen = rp->modo == 0           ? "COMUN\\BTNPLAYN"
                 : rp->modo == 1 && suyo ? "COMUN\\BTNPLAYP"
                                         : "COMUN\\BTNPLAYD";
        break;
      default:
        break;
    }
    if (imagen != nullptr && rv->en_uso == 1) Imagen(rv, imagen, false);
  }
}

void TRectangulosVirtuales::ActualizarBotonesAnim() {
  TFormatae* f = Formatae();
  if (f == nullptr) return;
  IAnimPagina& anim = Anim();
  const bool cargada = anim.Cargada();
  const bool parada = anim.Parada();
  f->PintarPNG(cargada ? "COMUN\\BTNSUBTN" : "COMUN\\BTNSUBTD", 69, 506);
  f->PintarPNG(cargada ? "COMUN\\BTNSTOPN" : "COMUN\\BTNSTOPD", 135, 506);
  f->PintarPNG(!cargada ? "COMUN\\BTNPLAYD"
               : parada ? "COMUN\\BTNPLAYN"
                        : "COMUN\\BTNPLAYP",
               157, 506);
}

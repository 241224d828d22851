#include "player/TGestorTAE.h"

#include <chrono>
#include <cstring>
#include <new>
#include <string>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "base/TListaStrings.h"
#include "media/AudioAnimTAudio.h"
#include "media/ISubtitulosAnim.h"
#include "media/TAudio.h"
#include "media/TGestorAnim.h"
#include "media/TGestorAudio.h"
#include "platform/gfx/CodePage.h"
#include "player/AnimPaginaGestorAnim.h"
#include "player/GestorAudioPagina.h"
#include "player/PaginaAudioFormatae.h"
#include "player/TFormatae.h"

OSAL& OSALDeSesion(OSAL* osal) {
  static OSAL suelto;
  return osal != nullptr ? *osal : suelto;
}

namespace {

// Windows virtual-key codes the key table names.
constexpr uint16_t kVkBack = 8;
constexpr uint16_t kVkTab = 9;
constexpr uint16_t kVkReturn = 13;
constexpr uint16_t kVkShift = 16;
constexpr uint16_t kVkControl = 17;
constexpr uint16_t kVkMenu = 18;
constexpr uint16_t kVkCapital = 20;
constexpr uint16_t kVkEscape = 27;
constexpr uint16_t kVkLeft = 37;
constexpr uint16_t kVkUp = 38;
constexpr uint16_t kVkRight = 39;
constexpr uint16_t kVkDown = 40;
constexpr uint16_t kVkDelete = 46;

// Trace category of the study-time actions.
constexpr int kTraceTiempo = 24;

constexpr uint32_t kMsHora = 3600000;
constexpr uint32_t kMsMinuto = 60000;

// The stand-ins of a missing seam: nothing happens, everything reads 0.
class AudioNulo : public IAudioPagina {
 public:
  void StopAudio() override {}
  void PlayAudio(const char*, uint8_t) override {}
  void IniciarComparar() override {}
  void FinAudio() override {}
  void PlayRolePlayGrabar() override {}
  void PlayRolePlayAlumno() override {}
  void GrabarAudioSTR(const char*) override {}
  void FinGrabarFraseSTR() override {}
  uint8_t Estado() override { return 0; }
  void SetEstado(uint8_t) override {}
  bool Grabando() override { return false; }
  void SetGrabando(bool) override {}
  uint16_t IdFrase() override { return 0; }
  void SetIdFrase(uint16_t) override {}
  uint8_t TipoFrase() override { return 0; }
  void SetTipoFrase(uint8_t) override {}
  std::string NombreFrase() override { return {}; }
  void SetNombreFrase(const char*) override {}
  std::string CarpetaAlumno() override { return {}; }
};

class AnimNula : public IAnimPagina {
 public:
  void PlayAnim(uint16_t) override {}
  void PauseAnim() override {}
  void RecapAnim() override {}
  void CloseAnim() override {}
  void CambiarSubtitulos() override {}
  bool Cargada() override { return false; }
  bool Parada() override { return false; }
  uint16_t NumFrames() override { return 0; }
  uint16_t Seccion(uint16_t) override { return 0; }
  uint8_t PorcentajeAudio() override { return 0; }
  uint8_t PorcentajeImagenes() override { return 0; }
  void PintarFondo(uint16_t, uint16_t, uint16_t) override {}
};

}  // namespace

TGestorTAE::Bloqueo::Bloqueo(TGestorTAE* tae, bool esperar)
    : cerrojo_(tae != nullptr ? tae->cerrojo_ : nullptr) {
  Tomar(esperar);
}

TGestorTAE::Bloqueo::Bloqueo(CriticalSection& cerrojo, bool esperar) : cerrojo_(&cerrojo) {
  Tomar(esperar);
}

void TGestorTAE::Bloqueo::Tomar(bool esperar) {
  if (cerrojo_ == nullptr) {
    tomado_ = true;
    return;
  }
  if (esperar) {
    cerrojo_->Enter();
    tomado_ = true;
  } else {
    tomado_ = cerrojo_->try_lock();
  }
}

TGestorTAE::Bloqueo::~Bloqueo() {
  if (cerrojo_ == nullptr || !tomado_) return;
  cerrojo_->Leave();
}

void TGestorTAE::MostrarError(const char* texto) {
  // Under an engine lock the box is put off by the message layer and shown
  // by this thread as it lets go of its last one.
  OSALDeSesion(osal_).MostrarError(texto != nullptr ? texto : "");
}

bool TGestorTAE::EsperarMensajes(uint32_t /*timeout_ms*/) {
  // The boxes put off are shown by the thread that asked for them as it
  // releases its last lock: none is ever left to wait for.
  return true;
}

IAudioPagina& TGestorTAE::SinAudio() {
  static AudioNulo nulo;
  return nulo;
}

IAnimPagina& TGestorTAE::SinAnim() {
  static AnimNula nula;
  return nula;
}

IAudioPagina& TGestorTAE::AudioPagina() const {
  IAudioPagina* audio = audio_pagina_.load();
  return audio != nullptr ? *audio : SinAudio();
}

IAnimPagina& TGestorTAE::AnimPagina() const {
  IAnimPagina* anim = anim_pagina_.load();
  return anim != nullptr ? *anim : SinAnim();
}

const platform::gfx::Surface* TGestorTAE::ImagenSesion(
    const std::string& path,
    const std::function<std::unique_ptr<platform::gfx::Surface>()>& decodificar, bool* nueva) {
  std::lock_guard<std::mutex> lock(imagenes_mutex_);
  auto it = imagenes_.find(path);
  if (it != imagenes_.end()) {
    if (nueva) *nueva = false;
    return it->second.get();
  }
  std::unique_ptr<platform::gfx::Surface> imagen = decodificar();
  const platform::gfx::Surface* puntero = imagen.get();
  imagenes_.emplace(path, std::move(imagen));
  if (nueva) *nueva = true;
  return puntero;
}

void* TGestorTAE::Pedir(uint32_t size, const char* tag) {
  return OSALDeSesion(osal_).PedirMemoria(size, tag);
}

void TGestorTAE::Liberar(void* bloque, const char* tag) {
  if (bloque != nullptr) OSALDeSesion(osal_).LiberarMemoria(bloque, tag);
}

void TGestorTAE::Error(const char* texto) {
  MostrarError(texto);
}

ESTILO_TAE TGestorTAE::EstiloInicial() {
  ESTILO_TAE estilo = EstiloVacio();
  estilo.fuente.lfHeight = -15;
  estilo.fuente.lfWeight = 400;
  estilo.fuente.lfQuality = 2;
  PonerFuente(estilo, "Arial", 0);
  estilo.color_texto = 0x000000;
  estilo.color_fondo = 0xFFFFFF;
  estilo.sangria = 0;
  estilo.sangria_primera = 30;
  for (int i = 0; i < kTabuladoresTAE; ++i)
    estilo.tabuladores[i] = static_cast<uint16_t>(60 + 30 * i);
  estilo.espaciado = 0;
  estilo.interlinea = 20;
  return estilo;
}

void TGestorTAE::Iniciar() {
  bufcformatae_ = static_cast<ESTILO_TAE*>(Pedir(sizeof(ESTILO_TAE) * kMaxEstilos, "bufcformatae"));
  if (bufcformatae_ == nullptr) {
    Error("Error en 'malloc' para 'bufcformatae'.");
  } else {
    std::memset(static_cast<void*>(bufcformatae_), 0, sizeof(ESTILO_TAE) * kMaxEstilos);
  }
  {
    std::lock_guard<CriticalSection> lock(estilos_);
    num_estilos_ = 0;
    estilos_llenos_informado_ = false;
  }
  estilo_defecto_ = EstiloInicial();
  RegistrarEstilo(estilo_defecto_);

  CrearConEjEscrito();
  CrearConRolPlay();
  CrearConSpeak();

  diccionario_actual_.store(nullptr);
  diccionario_uk_.store(nullptr);
  diccionario_es_.store(nullptr);

  bmp_ = new (std::nothrow) TGestorBMP(osal_, gdi_, ehdd_);
  if (bmp_ == nullptr) Error("Module GBMP loaded ERROR.");

  CrearAudio();
  CrearAnim();

  tiempo_almacenado_.store(0);
  tiempo_activo_.store(0);
  tiempo_inactivo_.store(0);
  ultima_accion_.store(0);
  actual_.store(nullptr);
  ocupado_.store(0);
}

void TGestorTAE::CrearAudio() {
  audio_ = new (std::nothrow) TAudio();
  if (audio_ == nullptr) {
    Error("Module AudioStreaming loaded ERROR.");
  } else {
    audio_->SetOSAL(osal_);
    audio_->SetEHDDClient(ehdd_);
    audio_->SetDispositivo(dispositivo_);
    audio_->Iniciar();
  }
  pagina_audio_.reset(new (std::nothrow) PaginaAudioFormatae(this));
  gestor_audio_ = new (std::nothrow) TGestorAudio();
  if (gestor_audio_ == nullptr) {
    Error("Module GAudio loaded ERROR.");
  } else {
    gestor_audio_->SetOSAL(osal_);
    gestor_audio_->SetTAudio(audio_);
    gestor_audio_->SetPaginaAudio(pagina_audio_.get());
    gestor_audio_->Iniciar();
    // Never under the page lock: connecting waits for an end in progress,
    // which takes that lock.
    gestor_audio_->ConectarFinAudio();
  }
  audio_gestor_.reset(new (std::nothrow) GestorAudioPagina(gestor_audio_, audio_));
  audio_pagina_.store(audio_gestor_.get());
}

namespace {

// The subtitle dictionaries as the animation player sees them.
class SubtitulosTAE : public ISubtitulosAnim {
 public:
  explicit SubtitulosTAE(TGestorTAE* tae) : tae_(tae) {}
  const TListaStrings* DiccionarioActual() const override { return tae_->DiccionarioActual(); }
  const TListaStrings* DiccionarioUK() const override { return tae_->DiccionarioUK(); }
  const TListaStrings* DiccionarioES() const override { return tae_->DiccionarioES(); }
  bool CambiarDiccionarioActual(const TListaStrings* actual, const TListaStrings* nuevo) override {
    return tae_->CambiarDiccionarioActual(actual, nuevo);
  }

 private:
  TGestorTAE* tae_;
};

}  // namespace

void TGestorTAE::CrearAnim() {
  gestor_anim_ = new (std::nothrow) TGestorAnim();
  if (gestor_anim_ == nullptr) {
    Error("Module GAnim loaded ERROR.");
    return;
  }
  audio_anim_.reset(new (std::nothrow) AudioAnimTAudio(audio_));
  subtitulos_.reset(new (std::nothrow) SubtitulosTAE(this));
  gestor_anim_->SetOSAL(osal_);
  gestor_anim_->SetGestorGDI(gdi_);
  gestor_anim_->SetEHDDClient(ehdd_);
  gestor_anim_->SetAudio(audio_anim_.get());
  gestor_anim_->SetGestorBMP(bmp_);
  gestor_anim_->SetSubtitulos(subtitulos_.get());
  gestor_anim_->SetCerrojoPagina(cerrojo_);
  // A loader thread that cannot be made is reported by Iniciar; the player
  // then refuses every animation (CargarAnim gives -1).
  gestor_anim_->Iniciar();
  anim_gestor_.reset(new (std::nothrow) AnimPaginaGestorAnim(gestor_anim_));
  anim_pagina_.store(anim_gestor_.get());
}

void TGestorTAE::PararCargaAnim() {
  if (gestor_anim_ != nullptr) gestor_anim_->PedirParadaCarga();
}

void TGestorTAE::DestruirAnim() {
  // Before the audio streams it plays on; without the page lock, which its
  // tick takes.
  if (anim_pagina_.load() == anim_gestor_.get()) anim_pagina_.store(nullptr);
  delete gestor_anim_;
  gestor_anim_ = nullptr;
  anim_gestor_.reset();
  audio_anim_.reset();
  subtitulos_.reset();
}

bool TGestorTAE::CambiarDiccionarioActual(const TListaStrings* actual, const TListaStrings* nuevo) {
  TListaStrings* esperado = const_cast<TListaStrings*>(actual);
  return diccionario_actual_.compare_exchange_strong(esperado, const_cast<TListaStrings*>(nuevo));
}

void TGestorTAE::DestruirAudio() {
  // Without the page lock: the sound's end may be waiting for it.
  if (audio_pagina_.load() == audio_gestor_.get()) audio_pagina_.store(nullptr);
  delete gestor_audio_;
  gestor_audio_ = nullptr;
  if (audio_ != nullptr) audio_->Terminar();
  delete audio_;
  audio_ = nullptr;
  audio_gestor_.reset();
  pagina_audio_.reset();
}

void TGestorTAE::CrearConEjEscrito() {
  conejescrito_ = static_cast<CON_EJESCRITO*>(Pedir(sizeof(CON_EJESCRITO), "conejescrito"));
  if (conejescrito_ == nullptr) {
    Error("Error en 'malloc' para 'conejescrito'.");
    return;
  }
  std::memset(static_cast<void*>(conejescrito_), 0, sizeof(CON_EJESCRITO));
  const uint32_t bytes = kEntradasEjePantalla * static_cast<uint32_t>(kBytesEjePantalla);
  conejescrito_->bufejescpant =
      static_cast<EJE_PANTALLA*>(Pedir(bytes, "conejescrito->bufejescpant"));
  if (conejescrito_->bufejescpant == nullptr) {
    Error("Error en 'malloc' para 'bufejescpant'.");
  } else {
    std::memset(conejescrito_->bufejescpant, 0, bytes);
  }
  conejescrito_->num_entradas = 0;
  conejescrito_->tabtamchar = static_cast<uint8_t*>(Pedir(256, "conejescrito->tabtamchar"));
  if (conejescrito_->tabtamchar == nullptr) {
    Error("Error en 'malloc' para 'tabtamchar'.");
  } else {
    std::memset(conejescrito_->tabtamchar, 0, 256);
  }
  conejescrito_->nivel = 1;
}

void TGestorTAE::CrearConRolPlay() {
  conrolplay_ = static_cast<CON_ROLPLAY*>(Pedir(sizeof(CON_ROLPLAY), "conrolplay"));
  if (conrolplay_ == nullptr) {
    Error("Error en 'malloc' para 'conrolplay'.");
    return;
  }
  std::memset(conrolplay_, 0, sizeof(CON_ROLPLAY));
  conrolplay_->terminado = 1;
  for (auto& fila : conrolplay_->filas) fila[0] = kFinFilaRolPlay;
}

void TGestorTAE::CrearConSpeak() {
  conspeak_ = static_cast<CON_SPEAK*>(Pedir(sizeof(CON_SPEAK), "conspeak"));
  if (conspeak_ == nullptr) {
    Error("Error en 'malloc' para 'conspeak'.");
    return;
  }
  std::memset(static_cast<void*>(conspeak_), 0, sizeof(CON_SPEAK));
  conspeak_->tabtamchar = static_cast<uint8_t*>(Pedir(256, "conspeak->tabtamchar"));
  if (conspeak_->tabtamchar == nullptr) {
    Error("Error en 'malloc' para 'tabtamchar'.");
  } else {
    std::memset(conspeak_->tabtamchar, 0, 256);
  }
}

TGestorTAE::~TGestorTAE() {
  // The animation and audio threads reach the dictionaries and the three
  // contexts (a sound's end moves the role play on): they stop first.
  DestruirAnim();
  DestruirAudio();

  TListaStrings* uk = diccionario_uk_.exchange(nullptr);
  TListaStrings* es = diccionario_es_.exchange(nullptr);
  delete uk;
  delete es;
  diccionario_actual_.store(nullptr);
  for (TListaStrings* lista : diccionarios_retirados_) delete lista;
  diccionarios_retirados_.clear();

  Liberar(bufcformatae_, "bufcformatae");
  bufcformatae_ = nullptr;
  if (conejescrito_ != nullptr) {
    Liberar(conejescrito_->bufejescpant, "conejescrito->bufejescpant");
    Liberar(conejescrito_->tabtamchar, "conejescrito->tabtamchar");
  }
  Liberar(conejescrito_, "conejescrito");
  Liberar(conrolplay_, "conrolplay");
  if (conspeak_ != nullptr) Liberar(conspeak_->tabtamchar, "conspeak->tabtamchar");
  Liberar(conspeak_, "conspeak");
  conejescrito_ = nullptr;
  conrolplay_ = nullptr;
  conspeak_ = nullptr;

  delete bmp_;
  bmp_ = nullptr;
  OSAL::Trace(kTraceModulos, "Terminado TGestorTAE.");
}

uint16_t TGestorTAE::RegistrarEstilo(const ESTILO_TAE& estilo) {
  std::lock_guard<CriticalSection> lock(estilos_);
  if (bufcformatae_ == nullptr) return 0;
  for (uint16_t i = 0; i < num_estilos_; ++i) {
    if (MismoEstilo(bufcformatae_[i], estilo)) return i;
  }
  if (num_estilos_ >= kMaxEstilos) {
    if (!estilos_llenos_informado_) {
      estilos_llenos_informado_ = true;
      Error("Error excedido el numero maximo de estilos TAE.");
    }
    return 0;
  }
  std::memcpy(&bufcformatae_[num_estilos_], &estilo, sizeof estilo);
  return num_estilos_++;
}

void TGestorTAE::VaciarEstilos() {
  std::lock_guard<CriticalSection> lock(estilos_);
  num_estilos_ = 0;
  estilos_llenos_informado_ = false;
}

ESTILO_TAE TGestorTAE::Estilo(uint16_t indice) const {
  std::lock_guard<CriticalSection> lock(estilos_);
  if (bufcformatae_ == nullptr || indice >= num_estilos_) return estilo_defecto_;
  return bufcformatae_[indice];
}

uint16_t TGestorTAE::NumEstilos() const {
  std::lock_guard<CriticalSection> lock(estilos_);
  return num_estilos_;
}

void TGestorTAE::CambiarFormateador(TFormatae* formateador) {
  Bloqueo bloqueo(this);
  if (formateador == actual_.load()) return;
  SoltarFormateador();
  actual_.store(formateador);
  // The sentence audio manager's document is the current formatter (it
  // reaches it through the page); it takes the document's folders.
  const FTAE* ftae = formateador ? formateador->ftae() : nullptr;
  if (gestor_audio_ != nullptr && ftae != nullptr) {
    gestor_audio_->SetCarpetas(ftae->carpeta_audio_nativo, ftae->carpeta_audio_privado,
                               ftae->carpeta_alumno);
  }
  // Each frame the animation shows is followed by the current page's bar.
  if (gestor_anim_ != nullptr && formateador != nullptr) {
    gestor_anim_->SetPintarBarraAnim([formateador](uint16_t frame, uint16_t frames) {
      formateador->PintarBarraAnim(frame, frames);
    });
  }
}

void TGestorTAE::SoltarFormateador() {
  Bloqueo bloqueo(this);
  if (actual_.load() == nullptr) return;
  AnimPagina().CloseAnim();
  AudioPagina().StopAudio();
  if (gestor_anim_ != nullptr) gestor_anim_->SetPintarBarraAnim(nullptr);
  actual_.store(nullptr);
}

uint8_t TGestorTAE::TeclaVirtualAAscii() const {
  platform::ui::IControlSite* ventana = UnitControlWindow();
  if (ventana == nullptr) return 0;
  const uint16_t caracter = ventana->KeyChar();
  const uint8_t juego = conejescrito_ ? conejescrito_->estilo.fuente.lfCharSet : 0;
  return platform::gfx::UnicodeToByte(platform::gfx::CodePageForCharset(juego),
                                      static_cast<char16_t>(caracter), 0);
}

int32_t TGestorTAE::CodigoTecla(uint16_t tecla) const {
  switch (tecla) {
    case 0:
    case kVkShift:
    case kVkControl:
    case kVkMenu:
    case kVkCapital:
      return kSinCodigo;
    case kVkBack:
      return 8;
    case kVkTab:
      return 0;
    case kVkReturn:
      return 13;
    case kVkEscape:
      return 27;
    case kVkLeft:
      return 300;
    case kVkRight:
      return 301;
    case kVkDelete:
      return 302;
    case kVkUp:
      return 303;
    case kVkDown:
      return 304;
    default:
      break;
  }
  const uint8_t byte = TeclaVirtualAAscii();
  if (byte == '*' || byte == '}') return kSinCodigo;
  // The byte is widened with its sign, as the exercise keys expect.
  return static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(byte)));
}

void TGestorTAE::TeclaPulsada(uint16_t tecla) {
  if (navegacion_.load()) return;
  Bloqueo bloqueo(this);
  TFormatae* formateador = actual_.load();
  if (formateador == nullptr) return;
  ActivarTiempo();
  const int32_t codigo = CodigoTecla(tecla);
  if (codigo != kSinCodigo) formateador->TeclaEjercicio(static_cast<uint16_t>(codigo));
}

void TGestorTAE::ActivarTiempo() {
  if (navegacion_.load()) return;
  const uint32_t ahora = OSALDeSesion(osal_).ElapsedTicks();
  const uint32_t hueco = ahora - ultima_accion_.exchange(ahora);
  if (hueco < kMsActivo) {
    tiempo_activo_.fetch_add(hueco);
  } else {
    tiempo_inactivo_.fetch_add(hueco);
  }
  OSAL::Trace(kTraceTiempo, "Activar Tiempo TAE.");
}

uint8_t TGestorTAE::TiempoEstudio(uint8_t& horas, uint8_t& minutos) const {
  // The sum is taken in 64 bits so a stored time near the 32-bit limit
  // cannot wrap round to a small one.
  const uint64_t total = uint64_t{tiempo_almacenado_.load()} + tiempo_activo_.load();
  uint64_t h = total / kMsHora;
  if (h > 99) h = 99;
  uint64_t m = (total - h * kMsHora) / kMsMinuto;
  if (m > 59) m = 0;
  horas = static_cast<uint8_t>(h);
  minutos = static_cast<uint8_t>(m);
  const uint32_t ahora = OSALDeSesion(osal_).ElapsedTicks();
  return ahora - ultima_accion_.load() < kMsActivo ? 1 : 0;
}

void TGestorTAE::CargarDiccionarios(const char* carpeta) {
  const std::string base = carpeta ? carpeta : "";
  auto cargar = [&](const char* nombre) {
    auto* lista = new (std::nothrow) TListaStrings(osal_, ehdd_);
    if (lista == nullptr) return lista;
    lista->Iniciar();
    const std::string path = base + "\\" + nombre;
    try {
      lista->CargarFichero(path.c_str());
    } catch (...) {
      delete lista;
      throw;
    }
    return lista;
  };
  TListaStrings* uk = cargar("TRADUC-UK.TXT");
  TListaStrings* es = nullptr;
  try {
    es = cargar("TRADUC-ES.TXT");
  } catch (...) {
    delete uk;
    throw;
  }
  TListaStrings* uk_anterior = diccionario_uk_.exchange(uk);
  TListaStrings* es_anterior = diccionario_es_.exchange(es);
  diccionario_actual_.store(uk);
  std::lock_guard<std::mutex> lock(diccionarios_);
  for (TListaStrings* anterior : {uk_anterior, es_anterior}) {
    if (anterior != nullptr) diccionarios_retirados_.push_back(anterior);
  }
}

#include "player/TGestorTAE.h"

#include <cstring>
#include <new>
#include <string>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "base/TListaStrings.h"
#include "platform/gfx/CodePage.h"
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

}  // namespace

void* TGestorTAE::Pedir(uint32_t size, const char* tag) {
  return OSALDeSesion(osal_).PedirMemoria(size, tag);
}

void TGestorTAE::Liberar(void* bloque, const char* tag) {
  if (bloque != nullptr) OSALDeSesion(osal_).LiberarMemoria(bloque, tag);
}

void TGestorTAE::Error(const char* texto) {
  OSALDeSesion(osal_).MostrarError(texto);
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
    std::lock_guard<std::mutex> lock(estilos_);
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

  // The sound stream (TAudio, "Module AudioStreaming loaded ERROR."), the
  // sentence audio manager (TGestorAudio, "Module GAudio loaded ERROR.") and
  // the animation player (TGestorAnim, "Module GAnim loaded ERROR."), which
  // the sentence audio manager is then given, are made here, in that order,
  // once the media engine provides them. Until then they stay null.

  tiempo_almacenado_.store(0);
  tiempo_activo_.store(0);
  tiempo_inactivo_.store(0);
  ultima_accion_.store(0);
  actual_.store(nullptr);
  ocupado_.store(0);
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

  // The animation player, the sentence audio manager and the sound stream
  // (stopped first) are destroyed here, in that order, once they exist.
  delete bmp_;
  bmp_ = nullptr;
  OSAL::Trace(kTraceModulos, "Terminado TGestorTAE.");
}

uint16_t TGestorTAE::RegistrarEstilo(const ESTILO_TAE& estilo) {
  std::lock_guard<std::mutex> lock(estilos_);
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
  std::lock_guard<std::mutex> lock(estilos_);
  num_estilos_ = 0;
  estilos_llenos_informado_ = false;
}

ESTILO_TAE TGestorTAE::Estilo(uint16_t indice) const {
  std::lock_guard<std::mutex> lock(estilos_);
  if (bufcformatae_ == nullptr || indice >= num_estilos_) return estilo_defecto_;
  return bufcformatae_[indice];
}

uint16_t TGestorTAE::NumEstilos() const {
  std::lock_guard<std::mutex> lock(estilos_);
  return num_estilos_;
}

void TGestorTAE::CambiarFormateador(TFormatae* formateador) {
  if (formateador == actual_.load()) return;
  SoltarFormateador();
  actual_.store(formateador);
  // The sentence audio manager takes the formatter as its current document
  // and copies its native audio, private audio and student folders here,
  // once it exists.
}

void TGestorTAE::SoltarFormateador() {
  if (actual_.exchange(nullptr) == nullptr) return;
  // The animation is closed and the sentence audio stopped here, once their
  // managers exist.
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

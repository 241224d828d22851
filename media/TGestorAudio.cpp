#include "media/TGestorAudio.h"

#include <cstring>

#include "base/OSAL.h"
#include "media/TAudio.h"
#include "media/internal/TrazaAudio.h"

using media_internal::Traza;

namespace {

constexpr int kCategoriaAudio = 33;
constexpr int kCategoriaComparar = 12;
constexpr int kCategoriaAuditoria = 13;
constexpr uint32_t kBlanco = 0xFFFFFF;
constexpr size_t kByteEscuchas = 1;
constexpr size_t kByteComparaciones = 3;
constexpr size_t kByteEscuchasEjercicio = 406;
constexpr size_t kByteComparacionesEjercicio = 408;

std::string Acotar(const char* texto, size_t maximo) {
  if (texto == nullptr) return std::string();
  return std::string(texto, strnlen(texto, maximo));
}

}  // namespace

TGestorAudio::~TGestorAudio() {
  if (conectado_ && audio_ != nullptr) audio_->SetFinAudio(nullptr);
  OSAL::Trace(kTraceModulos, "Terminado TGestorAudio.");
}

void TGestorAudio::SetCarpetas(const char* nativa, const char* segunda, const char* alumno) {
  std::lock_guard<std::mutex> lock(textos_);
  carpeta_nativa_ = Acotar(nativa, kMaxCarpeta);
  carpeta_segunda_ = Acotar(segunda, kMaxCarpeta);
  carpeta_alumno_ = Acotar(alumno, kMaxCarpeta);
}

void TGestorAudio::SetHookContadorPaginas(std::function<void(int)> hook) {
  auto lock = Bloquear();
  hook_paginas_ = std::move(hook);
}

void TGestorAudio::ConectarFinAudio() {
  if (audio_ == nullptr) return;
  audio_->SetFinAudio([this](uint32_t generacion) { FinAudioDeStream(generacion); });
  conectado_ = true;
}

std::string TGestorAudio::NombreFrase() const {
  std::lock_guard<std::mutex> lock(textos_);
  return nombre_frase_;
}

void TGestorAudio::SetNombreFrase(const char* nombre) {
  std::lock_guard<std::mutex> lock(textos_);
  nombre_frase_ = Acotar(nombre, kMaxNombreFrase);
}

std::string TGestorAudio::CarpetaAlumno() const {
  std::lock_guard<std::mutex> lock(textos_);
  return carpeta_alumno_;
}

std::string TGestorAudio::CarpetaNativa() const {
  std::lock_guard<std::mutex> lock(textos_);
  return carpeta_nativa_;
}

std::string TGestorAudio::CarpetaSegunda() const {
  std::lock_guard<std::mutex> lock(textos_);
  return carpeta_segunda_;
}

std::unique_lock<CriticalSection> TGestorAudio::Bloquear() {
  return std::unique_lock<CriticalSection>(pagina_ != nullptr ? pagina_->BloqueoPagina()
                                                                   : propio_);
}

uint8_t TGestorAudio::Contar(uint8_t* registro, size_t byte) {
  if (registro == nullptr) return 0;
  if (registro[byte] < 255) ++registro[byte];
  return registro[byte];
}

void TGestorAudio::Repintar() {
  if (pagina_ != nullptr) pagina_->SolicitudRepintar(0, 0, 0, 0);
}

void TGestorAudio::Iniciar() {
  auto lock = Bloquear();
  estado_.store(kInactivo);
  grabando_.store(0);
  id_frase_.store(0);
  tipo_frase_.store(0);
  std::lock_guard<std::mutex> textos(textos_);
  nombre_frase_.clear();
  carpeta_nativa_ = "AUDIO\\";
  carpeta_segunda_.clear();
  carpeta_alumno_.clear();
}

void TGestorAudio::PlayAudio(const char* nombre, uint8_t carpeta) {
  auto lock = Bloquear();
  if (carpeta != 1 && carpeta != 2) return;
  const std::string raiz = carpeta == 1 ? CarpetaNativa() : CarpetaSegunda();
  PlayFichero((raiz + Acotar(nombre, 255) + ".OGG").c_str());
  Traza(kCategoriaAudio, "AUDIO play '%s'.", nombre != nullptr ? nombre : "");
}

void TGestorAudio::PlayFichero(const char* path) {
  auto lock = Bloquear();
  if (audio_ == nullptr || path == nullptr || path[0] == '\0') return;
  const char ultimo = path[std::strlen(path) - 1];
  if (ultimo == 'G' || ultimo == 'g') {
    audio_->PlayAudioOGG(path);
  } else if (ultimo == 'R' || ultimo == 'r') {
    audio_->PlayAudioSTR(path);
  }
}

void TGestorAudio::StopAudio() {
  auto lock = Bloquear();
  const uint8_t estado = estado_.load();
  Traza(kCategoriaComparar, "StopAudio en estado %u", estado);
  // Whatever sound is running now, its end (perhaps already waiting for the
  // page lock) no longer drives this manager. In state 0 the sound plays on
  // (the native sentence after a compare), and its end is dropped as well.
  if (audio_ != nullptr) generacion_parada_.store(audio_->Generacion());
  if (estado == kInactivo) return;
  const bool role_play =
      estado == kRolePlayEspera || estado == kRolePlayGrabar || estado == kRolePlayAlumno;
  if (estado == kFraseArmada || estado == kEjercicioArmado) {
    id_frase_.store(0);
  } else if (estado == kCompararAlumno) {
    OSAL::Trace(kCategoriaComparar, "StopAudio cuando estamos comparando frase.");
  } else if (role_play) {
    FinRolePlay();
  }
  if (audio_ != nullptr) audio_->CloseAudio();
  estado_.store(kInactivo);
  grabando_.store(0);
  if (pagina_ != nullptr) pagina_->LimpiarPulsacion();
  if (role_play && pagina_ != nullptr) {
    pagina_->SolicitudActualizarPagina();
    Repintar();
  }
  OSAL::Trace(kCategoriaComparar, "StopAudio realizado correctamente.");
}

void TGestorAudio::FinAudioDeStream(uint32_t generacion) {
  auto lock = Bloquear();
  // A click may have started another sound while this end waited for the
  // page lock (that one's own end follows), or stopped this one and set up
  // something new that the end must not drive.
  if (audio_ != nullptr &&
      (audio_->Generacion() != generacion || generacion_parada_.load() == generacion)) {
    return;
  }
  FinAudio();
}

void TGestorAudio::FinAudio() {
  auto lock = Bloquear();
  if (pagina_ != nullptr) pagina_->ActivarTiempo();
  switch (estado_.load()) {
    case kFraseNativa: {
      if (pagina_ == nullptr) break;
      const uint16_t id = pagina_->SonidoActual();
      const uint8_t escuchas = Contar(pagina_->SonidoTratado(id), kByteEscuchas);
      if (escuchas == 1) {
        pagina_->SolicitudActualizarPagina();
        Repintar();
      }
      estado_.store(kInactivo);
      Traza(kCategoriaAuditoria, "Auditoria - Frase Audio '%s', ID:%u escuchada %u veces.",
            NombreFrase().c_str(), id, escuchas);
      break;
    }
    case kFraseArmada:
      if (pagina_ != nullptr) pagina_->TratarCIUFraseAudioNormal();
      break;
    case kCompararAlumno: {
      // In navigation mode the compare stays here until the next stop.
      if (pagina_ != nullptr && pagina_->ModoNavegacion()) break;
      const std::string nombre = NombreFrase();
      Traza(kCategoriaComparar, "Comparar -> Audio Nativo '%s'", nombre.c_str());
      estado_.store(kCompararNativa);
      PlayAudio(nombre.c_str(), tipo_frase_.load() == kTipoFrasePrivada ? 2 : 1);
      ContarComparacion();
      break;
    }
    case kEjercicio:
      ContarEscuchaEjercicio();
      break;
    case kEjercicioArmado:
      if (pagina_ != nullptr) pagina_->TratarCIUEjercicioEscrito();
      break;
    case kRolePlayEspera:
      IniciarLineaAlumno();
      break;
    case kRolePlayGrabar:
      PlayRolePlayGrabar();
      break;
    case kRolePlayAlumno:
      PlayRolePlayAlumno();
      break;
    case kRespuesta:
      PintarRespuesta();
      break;
    default:
      break;
  }
}

void TGestorAudio::IniciarComparar() {
  auto lock = Bloquear();
  const std::string path = CarpetaAlumno() + NombreFrase() + ".STR";
  Traza(kCategoriaComparar, "Start Comparar -> Audio Alumno '%s'", path.c_str());
  estado_.store(kCompararAlumno);
  if (audio_ != nullptr) audio_->PlayAudioSTR(path.c_str());
}

void TGestorAudio::ContarComparacion() {
  auto lock = Bloquear();
  uint8_t comparaciones = 0;
  if (pagina_ != nullptr) {
    const uint16_t id = id_frase_.load();
    const uint8_t tipo = tipo_frase_.load();
    if (tipo == kTipoFrase || tipo == kTipoFrasePrivada) {
      comparaciones = Contar(pagina_->SonidoTratado(id), kByteComparaciones);
    } else if (tipo == kTipoEjercicio) {
      comparaciones = Contar(pagina_->EjercicioTratado(id), kByteComparacionesEjercicio);
    }
    if (comparaciones == 1) {
      pagina_->SolicitudActualizarPagina();
      Repintar();
    }
  }
  estado_.store(kInactivo);
}

void TGestorAudio::ContarEscuchaEjercicio() {
  auto lock = Bloquear();
  uint16_t id = 0;
  uint8_t escuchas = 0;
  if (pagina_ != nullptr) {
    id = pagina_->SonidoActual();
    escuchas = Contar(pagina_->EjercicioTratado(id), kByteEscuchasEjercicio);
  }
  estado_.store(kInactivo);
  Traza(kCategoriaAuditoria, "Auditoria - Frase Ejercicio escrito '%s', ID:%u escuchada %u veces.",
        NombreFrase().c_str(), id, escuchas);
}

void TGestorAudio::PintarRespuesta() {
  OSAL::Trace(kTracePulsacionLarga, "Notificacion fin answer frase speaking.");
  if (pagina_ != nullptr) {
    RegionPagina region;
    if (pagina_->RegionRespuesta(&region)) {
      // Erases what the answer's click wrote, then the button again.
      pagina_->RellenarRect(static_cast<int16_t>(region.right + 4),
                            static_cast<int16_t>(region.top + 1), 529, 18, kBlanco);
      pagina_->PintarPNG("COMUN\\BTNSOLN", static_cast<int16_t>(region.left),
                         static_cast<int16_t>(region.top));
    }
    Repintar();
    pagina_->FinRespuesta();
  }
  estado_.store(kInactivo);
}

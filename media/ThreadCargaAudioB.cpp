#include "media/ThreadCargaAudioB.h"

#include <algorithm>
#include <functional>
#include <string>

#include "base/OSAL.h"
#include "ehdd/TEHDDClient.h"
#include "media/TAudio.h"
#include "media/internal/TrazaAudio.h"

using media_internal::Traza;

namespace {
constexpr uint32_t kPausaMs = 100;
}

ThreadCargaAudioB::~ThreadCargaAudioB() {
  // Only a loader that never stopped still holds a source; its thread may
  // still run, so nothing is touched here.
}

bool ThreadCargaAudioB::Crear(OSAL* osal) {
  return ThreadRecord::Crear("ThreadCargaAudioB", "ThreadCargaAudioB creation failed.", osal,
                             [this] { Ejecutar(); });
}

bool ThreadCargaAudioB::Terminar() {
  const bool parado = Parar();
  OSAL::Trace(kTraceModulos, "ThreadCargaAudioB Terminado.");
  return parado;
}

void ThreadCargaAudioB::Ejecutar() {
  while (Estado() == kCorriendo) {
    // Nothing thrown ends the loader: the playback in hand becomes a
    // cancellation, reported once, and the next start finds it as usual.
    try {
      Vuelta();
    } catch (...) {
      try {
        Fallar(kErrorPerdida);
      } catch (...) {
      }
      if (audio_.estado_.load() == TAudio::kCancelando) audio_.carga_confirmada_.store(1);
      audio_.AvisarCambio();
      SuspenderThreadFor(kPausaMs);
    }
  }
  CerrarFuente();
}

void ThreadCargaAudioB::Vuelta() {
  bool lleno = false;
  if (audio_.estado_.load(std::memory_order_acquire) == TAudio::kReproduciendo &&
      audio_.buffer_listo_.load(std::memory_order_acquire) == 0) {
    OSAL::Trace(kTraceAudioBuffers, "Cargando ... el nuevo buffer de audio.");
    lleno = CargarBuffer();
    OSAL::Trace(kTraceAudioBuffers, "Cargado el nuevo buffer de audio.");
  }
  if (audio_.estado_.load(std::memory_order_acquire) == TAudio::kCancelando) {
    OSAL::Trace(kTraceAudioBuffers, "Thread de carga cancelado.");
    CerrarFuente();
    audio_.carga_confirmada_.store(1);
    audio_.AvisarCambio();
    SuspenderThread();
    OSAL::Trace(kTraceAudioBuffers, "ThreadCargaAudio RESUME despues de CANCEL.");
    return;
  }
  if (lleno) {
    OSAL::Trace(kTraceAudioBuffers, "Dormido hasta que tengamos que llenar el buffer de audio.");
    SuspenderThread();
    OSAL::Trace(kTraceAudioBuffers, "ThreadCargaAudio RESUME despues de esperer buffer de audio.");
    return;
  }
  if (audio_.estado_.load(std::memory_order_acquire) == TAudio::kReproduciendo) {
    // The callback has not taken the buffer yet: it wakes us when it does.
    OSAL::Trace(kTraceAudioPausa, "Pausa de audio inexplicable.");
    SuspenderThreadFor(kPausaMs);
  } else {
    // Nothing plays: the next start or cancel wakes us.
    SuspenderThread();
  }
}

bool ThreadCargaAudioB::CargarBuffer() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(audio_.hook_mutex_);
    hook = audio_.hook_carga_;
  }
  if (hook) hook();
  const TAudio::Trabajo trabajo = audio_.LeerTrabajo();
  if (trabajo.generacion != audio_.generacion_.load(std::memory_order_acquire)) return false;
  try {
    if (!abierta_ || trabajo.generacion != generacion_) {
      CerrarFuente();
      generacion_ = trabajo.generacion;
      if (!AbrirFuente(trabajo.tipo, trabajo.nombre, trabajo.posicion)) return false;
    }
    int16_t* buffer = audio_.buffer_;
    bool ultimo = false;
    if (tipo_ == TAudio::kFuenteOGG) {
      const LectorOGG::Resultado resultado = ogg_.Llenar(buffer, TAudio::kFramesOGG);
      if (fuente_.perdida) {
        Fallar(kErrorPerdida);
        return false;
      }
      if (resultado == LectorOGG::kError) {
        Fallar(ogg_.fallo() == LectorOGG::kFormato
                   ? "El fichero OGG no tiene las caracteristicas correctas."
                   : "Error de lectura en el fichero OGG.");
        return false;
      }
      ultimo = resultado == LectorOGG::kFin;
      if (ultimo) {
        // The end closed the file: all of it has been read.
        audio_.bytes_leidos_.store(audio_.longitud_.load());
        audio_.porcentaje_.store(100);
        abierta_ = false;
      } else {
        ActualizarContadores(fuente_.file);
      }
    } else {
      LectorSTR::Resultado resultado = LectorSTR::kFin;
      if (str_ != nullptr) {
        resultado = lector_str_.Llenar(buffer, TAudio::kFramesSTR);
        ActualizarContadores(str_);
      } else {
        // A missing recording plays as an empty one: one silent buffer.
        std::fill_n(buffer, TAudio::kFramesSTR, 0);
      }
      if (resultado == LectorSTR::kDanado) {
        audio_.Informar("Error de integridad en el fichero .STR");
      }
      ultimo = resultado != LectorSTR::kLleno;
      if (ultimo) CerrarFuente();
    }
    if (audio_.fuente_abierta_.load() == 0) {
      Traza(kTraceAudioBuffers, "Audio '%s' esta cargado al %u porciento", trabajo.nombre,
            audio_.porcentaje_.load());
      OSAL::Trace(kTraceAudioExclusion, tipo_ == TAudio::kFuenteOGG
                                            ? "Play Audio OGG inicializado."
                                            : "Play Audio STR inicializado.");
      if (tipo_ == TAudio::kFuenteOGG) {
        OSAL::Trace(kTraceAudioPrimero, "Cargado primer buffer de audio OGG.");
      }
    }
    // Handed over only to the playback it was loaded for.
    if (audio_.estado_.load(std::memory_order_acquire) != TAudio::kReproduciendo ||
        audio_.generacion_.load(std::memory_order_acquire) != generacion_) {
      return false;
    }
    audio_.ultimo_buffer_.store(ultimo ? 1 : 0);
    audio_.fuente_abierta_.store(1);
    audio_.buffer_listo_.store(1, std::memory_order_release);
    audio_.AvisarCambio();
    return true;
  } catch (const std::string& texto) {
    Fallar(texto.c_str());
  } catch (...) {
    Fallar(kErrorPerdida);
  }
  return false;
}

bool ThreadCargaAudioB::AbrirFuente(uint8_t tipo, const char* nombre, uint32_t posicion) {
  tipo_ = tipo;
  audio_.porcentaje_.store(0);
  TEHDDClient* client = audio_.ehdd_;
  TFicheroEHDD* file =
      (client != nullptr && nombre[0] != '\0') ? client->Abrir(nombre, 0) : nullptr;
  if (tipo == TAudio::kFuenteOGG) {
    if (file == nullptr) {
      // A file that does not open turns the playback into a cancellation.
      Fallar(nullptr);
      return false;
    }
    fuente_ = FuenteEHDD{client, file, false};
    audio_.longitud_.store(0);
    ActualizarContadores(file);
    if (!ogg_.Abrir(&fuente_, LectorOGG::CallbacksEHDD(), posicion)) {
      if (fuente_.perdida) {
        Fallar(kErrorPerdida);
      } else if (ogg_.fallo() == LectorOGG::kAbrir) {
        Traza(kTraceError, "Error %d abriendo fichero OGG.", ogg_.codigo());
        Fallar("Fichero OGG incorrecto.");
      } else if (ogg_.fallo() == LectorOGG::kFormato) {
        Fallar("El fichero OGG no tiene las caracteristicas correctas.");
      } else {
        Fallar("Intentando playear el fichero OGG cuando no es seekable.");
      }
      return false;
    }
  } else {
    str_ = file;
    if (file != nullptr) {
      ActualizarContadores(file);
      audio_.codec_.ReiniciarDecodificador();
      lector_str_.Iniciar(client, file, &audio_.codec_);
    }
  }
  abierta_ = true;
  return true;
}

void ThreadCargaAudioB::CerrarFuente() {
  abierta_ = false;
  if (ogg_.abierto()) ogg_.Cerrar();  // closes the file through the callbacks
  fuente_.file = nullptr;
  TFicheroEHDD* str = str_;
  str_ = nullptr;
  if (str != nullptr && audio_.ehdd_ != nullptr) {
    try {
      audio_.ehdd_->Cerrar(str);
    } catch (...) {
    }
  }
}

void ThreadCargaAudioB::Fallar(const char* texto) {
  CerrarFuente();
  uint8_t esperado = TAudio::kReproduciendo;
  if (audio_.generacion_.load() == generacion_ &&
      audio_.estado_.compare_exchange_strong(esperado, TAudio::kCancelando)) {
    audio_.cancelacion_pendiente_.store(1);
  }
  audio_.AvisarCambio();
  if (texto != nullptr) audio_.Informar(texto);
}

void ThreadCargaAudioB::ActualizarContadores(TFicheroEHDD* file) {
  uint32_t length = 0;
  uint32_t remaining = 0;
  audio_.ehdd_->Size(file, length, remaining);
  const uint32_t leidos = length - remaining;
  audio_.longitud_.store(length);
  audio_.bytes_leidos_.store(leidos);
  audio_.porcentaje_.store(length == 0 ? 0 : static_cast<uint8_t>(uint64_t{leidos} * 100 / length));
}

// lectoria-audio: plays, records and inspects sentence audio through the
// engine's TAudio, on the device LECTORIA_AUDIO names (or into a WAV file).
//
//   lectoria-audio [--local-root DIR] [--local LETTERS] [--mount L=STORE]... COMMAND ARGS
//   COMMAND: play PATH [--wav OUT.wav] | record OUT.STR --from IN.wav |
//            str-info PATH | str2wav IN.STR OUT.wav
//
// PATH is a virtual path through the mounts, or a plain local file.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "media/FicheroSTR.h"
#include "media/LectorOGG.h"
#include "media/NullAudioDevice.h"
#include "media/TAudio.h"
#include "media/TCodecSpeex.h"
#include "media/WavFile.h"
#include "platform/MessageBox.h"
#include "tools/common/StoreOptions.h"

namespace {

constexpr uint32_t kFrecuenciaSTR = 8000;
constexpr auto kMargen = std::chrono::seconds(10);

int Usage() {
  std::fprintf(stderr,
               "usage: lectoria-audio [--local-root DIR] [--local LETTERS] [--mount L=STORE]... "
               "COMMAND ARGS\n"
               "commands: play PATH [--wav OUT.wav] | record OUT.STR --from IN.wav |\n"
               "          str-info PATH | str2wav IN.STR OUT.wav\n");
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "lectoria-audio: %s\n", message.c_str());
  return 1;
}

// The first text the engine showed in a box during the command.
class Mensajes {
 public:
  Mensajes() {
    platform::SetMessageSink([this](const std::string& text, const std::string&, unsigned type) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (first_.empty()) first_ = text;
      return platform::DefaultButton(type);
    });
  }
  ~Mensajes() { platform::SetMessageSink(nullptr); }
  std::string Primero() {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_;
  }

 private:
  std::mutex mutex_;
  std::string first_;
};

// The notify codes TAudio handled, for waiting on them.
class Avisos {
 public:
  void Anotar(uint8_t codigo) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      codigos_.push_back(codigo);
    }
    changed_.notify_all();
  }
  // The first of the codes that came, 0 after the deadline.
  uint8_t Esperar(std::initializer_list<uint8_t> codigos,
                  std::chrono::steady_clock::time_point hasta) {
    std::unique_lock<std::mutex> lock(mutex_);
    uint8_t hallado = 0;
    changed_.wait_until(lock, hasta, [&] {
      for (uint8_t c : codigos_)
        if (std::find(codigos.begin(), codigos.end(), c) != codigos.end()) {
          hallado = c;
          return true;
        }
      return false;
    });
    return hallado;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t> codigos_;
};

struct Entorno {
  TEHDDClient client;
  tools::StoreOptions options;
};

std::string RutaMotor(Entorno& entorno, const std::string& path) {
  return tools::EnginePathForFile(entorno.client, entorno.options, path);
}

// The local file a path names, when it has one (for removing a failed output).
std::string RutaLocal(Entorno& entorno, const std::string& path) {
  if (!tools::IsVirtualPath(path)) return path;
  bool local = false;
  const std::string resolved = entorno.client.ResolvePath(path, &local);
  return local ? resolved : std::string();
}

void Borrar(Entorno& entorno, const std::string& path) {
  const std::string local = RutaLocal(entorno, path);
  std::error_code error;
  if (!local.empty()) std::filesystem::remove(local, error);
}

// Scans a .STR file: per-frame sizes, or the reason it is damaged.
struct Tramas {
  std::vector<uint8_t> longitudes;
  std::string error;
};

Tramas LeerTramas(Entorno& entorno, const std::string& path, const std::string& engine,
                  std::vector<int16_t>* muestras) {
  Tramas out;
  TFicheroEHDD* file = entorno.client.Abrir(engine.c_str(), 0);
  if (file == nullptr) {
    out.error = path + ": cannot open";
    return out;
  }
  TCodecSpeex codec;
  try {
    uint8_t trama[formato_str::kMaxTrama];
    for (;;) {
      uint8_t n = 0;
      const ResultadoTrama leida = LeerTramaSTR(entorno.client, file, trama, &n);
      if (leida == ResultadoTrama::kFin) break;
      if (leida == ResultadoTrama::kDanada) {
        out.error = path + ": Error de integridad en el fichero .STR";
        break;
      }
      out.longitudes.push_back(n);
      if (muestras != nullptr) {
        const size_t old = muestras->size();
        muestras->resize(old + formato_str::kMuestrasTrama);
        DecodificarTramaSTR(codec, trama, n, muestras->data() + old);
      }
    }
    entorno.client.Cerrar(file);
  } catch (const std::string& text) {
    out.error = path + ": " + text;
  }
  return out;
}

int StrInfo(Entorno& entorno, const std::string& path) {
  const std::string engine = RutaMotor(entorno, path);
  if (engine.empty()) return Fail(path + ": no drive letter left to mount its folder");
  Tramas tramas = LeerTramas(entorno, path, engine, nullptr);
  if (!tramas.error.empty()) return Fail(tramas.error);
  uint64_t total = 0;
  unsigned minimo = 0;
  unsigned maximo = 0;
  for (uint8_t n : tramas.longitudes) total += n;
  if (!tramas.longitudes.empty()) {
    minimo = *std::min_element(tramas.longitudes.begin(), tramas.longitudes.end());
    maximo = *std::max_element(tramas.longitudes.begin(), tramas.longitudes.end());
  }
  std::printf(
      "frames=%zu\nframe_bytes_min=%u\nframe_bytes_max=%u\nframe_bytes_total=%llu\nduration_ms=%"
      "llu\n",
      tramas.longitudes.size(), minimo, maximo, static_cast<unsigned long long>(total),
      static_cast<unsigned long long>(tramas.longitudes.size()) * 20);
  return 0;
}

int StrToWav(Entorno& entorno, const std::string& in, const std::string& out) {
  const std::string engine = RutaMotor(entorno, in);
  if (engine.empty()) return Fail(in + ": no drive letter left to mount its folder");
  std::vector<int16_t> muestras;
  Tramas tramas = LeerTramas(entorno, in, engine, &muestras);
  if (!tramas.error.empty()) return Fail(tramas.error);
  std::string error;
  if (!WriteWav16(out, kFrecuenciaSTR, muestras.data(), muestras.size(), &error)) {
    std::error_code ignored;
    std::filesystem::remove(out, ignored);
    return Fail(error);
  }
  return 0;
}

// How long a source plays, for the bound on waiting for its end.
std::chrono::milliseconds Duracion(Entorno& entorno, const std::string& path,
                                   const std::string& engine, bool ogg) {
  if (!ogg) {
    return std::chrono::milliseconds(LeerTramas(entorno, path, engine, nullptr).longitudes.size() *
                                     20);
  }
  FuenteEHDD fuente{&entorno.client, entorno.client.Abrir(engine.c_str(), 0), false};
  if (fuente.file == nullptr) return std::chrono::milliseconds(0);
  OggVorbis_File vf;
  ov_callbacks callbacks = LectorOGG::CallbacksEHDD();
  if (ov_open_callbacks(&fuente, &vf, nullptr, 0, callbacks) < 0) {
    callbacks.close_func(&fuente);
    return std::chrono::milliseconds(0);
  }
  const double seconds = ov_time_total(&vf, -1);
  ov_clear(&vf);
  return std::chrono::milliseconds(seconds > 0 ? static_cast<int64_t>(seconds * 1000) : 0);
}

int Play(Entorno& entorno, const std::string& path, const std::string& wav) {
  const char ultimo = path.empty() ? '\0' : path.back();
  const bool ogg = ultimo == 'G' || ultimo == 'g';
  if (!ogg && ultimo != 'R' && ultimo != 'r')
    return Fail(path + ": neither an OGG nor a .STR file");
  const std::string engine = RutaMotor(entorno, path);
  if (engine.empty()) return Fail(path + ": no drive letter left to mount its folder");
  TFicheroEHDD* file = entorno.client.Abrir(engine.c_str(), 0);
  if (file == nullptr) return Fail(path + ": cannot open");
  entorno.client.Cerrar(file);
  const auto hasta =
      std::chrono::steady_clock::now() + Duracion(entorno, path, engine, ogg) + kMargen;

  Mensajes mensajes;
  Avisos avisos;
  NullAudioDevice fichero(NullAudioDevice::Pacing::kRealTime);
  if (!wav.empty())
    fichero.SetOutputFiles([wav](uint32_t n) { return n == 1 ? wav : std::string(); });
  uint8_t codigo = 0;
  {
    TAudio audio;
    audio.SetEHDDClient(&entorno.client);
    if (!wav.empty()) audio.SetDispositivo(&fichero);
    audio.SetObservador([&avisos](uint8_t c, uint32_t) { avisos.Anotar(c); });
    audio.Iniciar();
    if (ogg) {
      audio.PlayAudioOGG(engine.c_str());
    } else {
      audio.PlayAudioSTR(engine.c_str());
    }
    if (mensajes.Primero().empty()) {
      codigo = avisos.Esperar(
          {TAudio::kFinOGG, TAudio::kFinSTR, TAudio::kCancelOGG, TAudio::kCancelSTR}, hasta);
    }
    audio.Terminar();
  }
  if (!mensajes.Primero().empty()) return Fail(mensajes.Primero());
  if (codigo == 0) return Fail(path + ": the playback did not end in time");
  if (codigo == TAudio::kCancelOGG || codigo == TAudio::kCancelSTR) {
    return Fail(path + ": the playback was cancelled");
  }
  return 0;
}

int Record(Entorno& entorno, const std::string& out, const std::string& in) {
  Wav16 wav;
  std::string error;
  if (!ReadWav16(in, &wav, &error)) return Fail(in + ": " + error);
  if (wav.channels != 1 || wav.sample_rate != kFrecuenciaSTR) {
    return Fail(in + ": not 16-bit mono 8000 Hz PCM");
  }
  if (wav.samples.empty()) return Fail(in + ": holds no samples");
  const std::string engine = RutaMotor(entorno, out);
  if (engine.empty()) return Fail(out + ": no drive letter left to mount its folder");

  Mensajes mensajes;
  Avisos avisos;
  NullAudioDevice microfono(NullAudioDevice::Pacing::kRealTime);
  microfono.SetCaptureFile(in, false);
  const auto duracion = std::chrono::milliseconds(wav.samples.size() * 1000 / kFrecuenciaSTR);
  bool completa = false;
  {
    TAudio audio;
    audio.SetEHDDClient(&entorno.client);
    audio.SetDispositivo(&microfono);
    audio.SetObservador([&avisos](uint8_t c, uint32_t) { avisos.Anotar(c); });
    audio.Iniciar();
    audio.GrabarAudioSTR(engine.c_str());
    const auto hasta = std::chrono::steady_clock::now() + duracion + kMargen;
    while (mensajes.Primero().empty() && audio.Estado() == TAudio::kGrabando &&
           !microfono.CaptureExhausted() && std::chrono::steady_clock::now() < hasta) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (microfono.CaptureExhausted()) {
      audio.FinGrabarFraseSTR();
      completa =
          avisos.Esperar({TAudio::kFinGrabacion, TAudio::kCancelGrabacion},
                         std::chrono::steady_clock::now() + kMargen) == TAudio::kFinGrabacion;
    }
    audio.Terminar();
  }
  std::string fallo = mensajes.Primero();
  if (fallo.empty() && !completa) fallo = out + ": the recording did not complete";
  if (!fallo.empty()) {
    Borrar(entorno, engine);
    return Fail(fallo);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Entorno entorno;
  int index = 1;
  std::string error;
  if (!tools::ParseStoreOptions(argc, argv, index, entorno.options, &error)) {
    std::fprintf(stderr, "lectoria-audio: %s\n", error.c_str());
    return Usage();
  }
  if (index >= argc) return Usage();
  const std::string command = argv[index++];
  std::vector<std::string> args(argv + index, argv + argc);
  tools::ApplyStoreOptions(entorno.client, entorno.options);

  if (command == "play") {
    if (args.size() == 1) return Play(entorno, args[0], "");
    if (args.size() == 3 && args[1] == "--wav") return Play(entorno, args[0], args[2]);
    return Usage();
  }
  if (command == "record") {
    if (args.size() == 3 && args[1] == "--from") return Record(entorno, args[0], args[2]);
    return Usage();
  }
  if (command == "str-info" && args.size() == 1) return StrInfo(entorno, args[0]);
  if (command == "str2wav" && args.size() == 2) return StrToWav(entorno, args[0], args[1]);
  return Usage();
}

// Real sound devices for the tests and the audio benchmark, made by the test
// itself and torn down after it: ALSA's null PCM, and a private PulseAudio
// daemon with a null sink reached through ALSA's pulse plugin. Each is named
// to ALSA by a configuration file in ALSA_CONFIG_PATH, and PortAudio is
// started afresh on it. When a device cannot be made, Preparar says why.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <portaudio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "media/PortAudioDevice.h"

extern char** environ;

namespace real_device {

namespace fs = std::filesystem;

enum class Tipo { kAlsaNull, kPulse };

inline const char* Nombre(Tipo tipo) {
  return tipo == Tipo::kAlsaNull ? "ALSA null PCM" : "PulseAudio null sink";
}

// The program's full path on PATH; empty when it is not there.
inline std::string Buscar(const std::string& programa) {
  const char* path = std::getenv("PATH");
  std::string resto = path != nullptr ? path : "/usr/bin:/bin";
  size_t inicio = 0;
  while (inicio <= resto.size()) {
    const size_t fin = std::min(resto.find(':', inicio), resto.size());
    const std::string candidato = resto.substr(inicio, fin - inicio) + "/" + programa;
    if (access(candidato.c_str(), X_OK) == 0) return candidato;
    inicio = fin + 1;
  }
  return "";
}

inline bool Conecta(const std::string& socket_path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof addr.sun_path) {
    close(fd);
    return false;
  }
  std::copy(socket_path.begin(), socket_path.end(), addr.sun_path);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// The device for one test: Preparar makes it and points ALSA and PortAudio
// at it; the destructor ends the daemon, restores the environment and
// removes what it made.
class Dispositivo {
 public:
  explicit Dispositivo(Tipo tipo) : tipo_(tipo) {}
  ~Dispositivo() {
    if (preparado_) {
      PortAudioDevice::ReiniciarBibliotecaForTesting();
      if (anterior_.has_value()) {
        setenv("ALSA_CONFIG_PATH", anterior_->c_str(), 1);
      } else {
        unsetenv("ALSA_CONFIG_PATH");
      }
      PortAudioDevice::ReiniciarBibliotecaForTesting();
    }
    Parar();
    std::error_code error;
    if (!dir_.empty()) fs::remove_all(dir_, error);
  }
  Dispositivo(const Dispositivo&) = delete;
  Dispositivo& operator=(const Dispositivo&) = delete;

  // False with the reason when the device cannot be made or no PortAudio
  // stream opens on it.
  bool Preparar(std::string* motivo) {
    char pattern[] = "/tmp/lectoria-snd-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return Falla(motivo, "no temporary folder");
    dir_ = pattern;
    std::string pcm = "pcm.!default { type null }\n";
    if (tipo_ == Tipo::kPulse) {
      if (!ArrancarPulse(motivo)) return false;
      const std::string server = "unix:" + Socket();
      pcm = "pcm.!default { type pulse server \"" + server + "\" }\n" +
            "ctl.!default { type pulse server \"" + server + "\" }\n";
    }
    const std::string conf = dir_ + "/asound.conf";
    std::ofstream(conf) << pcm;
    if (const char* antes = std::getenv("ALSA_CONFIG_PATH")) anterior_ = std::string(antes);
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
    preparado_ = true;
    PortAudioDevice::ReiniciarBibliotecaForTesting();
    return Probar(motivo);
  }

  Tipo tipo() const { return tipo_; }

 private:
  static bool Falla(std::string* motivo, const std::string& texto) {
    if (motivo != nullptr) *motivo = texto;
    return false;
  }
  std::string Socket() const { return dir_ + "/native"; }

  bool ArrancarPulse(std::string* motivo) {
    const std::string programa = Buscar("pulseaudio");
    if (programa.empty()) return Falla(motivo, "pulseaudio is not installed");
    const std::string runtime = "XDG_RUNTIME_DIR=" + dir_;
    const std::string home = "HOME=" + dir_;
    std::vector<std::string> entorno = {runtime, home, "PATH=/usr/bin:/bin"};
    // As root it needs no system mode: a private user daemon in this folder.
    std::vector<std::string> args = {
        programa,
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--disallow-exit",
        "--use-pid-file=no",
        "--disable-shm=yes",
        "-F",
        "/dev/null",
        "--log-target=file:" + dir_ + "/pulse.log",
        "--load=module-native-protocol-unix socket=" + Socket() + " auth-anonymous=1",
        "--load=module-null-sink"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : entorno) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t acciones;
    posix_spawn_file_actions_init(&acciones);
    posix_spawn_file_actions_addopen(&acciones, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&acciones, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&acciones, 2, "/dev/null", O_WRONLY, 0);
    const int error =
        posix_spawn(&pid_, programa.c_str(), &acciones, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&acciones);
    if (error != 0) {
      pid_ = -1;
      return Falla(motivo, "pulseaudio does not start: " + std::string(strerror(error)));
    }
    const auto hasta = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Conecta(Socket())) {
      int estado = 0;
      if (waitpid(pid_, &estado, WNOHANG) == pid_) {
        pid_ = -1;
        return Falla(motivo, "pulseaudio ended at start (see its log)");
      }
      if (std::chrono::steady_clock::now() > hasta) {
        return Falla(motivo, "pulseaudio opened no socket in 10 s");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  void Parar() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto hasta = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int estado = 0;
    while (waitpid(pid_, &estado, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() > hasta) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &estado, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }

  // A stream of the engine's kind opens on PortAudio's default device.
  static void SinJack(const char*) {}
  static bool Probar(std::string* motivo) {
    // JACK's lines while PortAudio looks for its server, dropped for the
    // probe as the engine drops them.
    using JackHandler = void (*)(void (*)(const char*));
    for (const char* nombre : {"jack_set_error_function", "jack_set_info_function"}) {
      if (auto poner = reinterpret_cast<JackHandler>(dlsym(RTLD_DEFAULT, nombre))) poner(&SinJack);
    }
    if (Pa_Initialize() != paNoError) return Falla(motivo, "PortAudio does not start");
    PaStream* stream = nullptr;
    const PaError error =
        Pa_OpenDefaultStream(&stream, 0, 1, paInt16, 22050, 2205, nullptr, nullptr);
    if (stream != nullptr) Pa_CloseStream(stream);
    Pa_Terminate();
    if (error != paNoError) {
      return Falla(motivo, std::string("no PortAudio stream opens: ") + Pa_GetErrorText(error));
    }
    return true;
  }

  Tipo tipo_;
  std::string dir_;
  pid_t pid_ = -1;
  bool preparado_ = false;
  std::optional<std::string> anterior_;
};

}  // namespace real_device

// Makes the device or skips the test with the reason.
#define PREPARAR_DISPOSITIVO_REAL(dispositivo)                                                  \
  do {                                                                                          \
    std::string motivo_;                                                                        \
    if (!(dispositivo).Preparar(&motivo_)) {                                                    \
      GTEST_SKIP() << real_device::Nombre((dispositivo).tipo()) << " unavailable: " << motivo_; \
    }                                                                                           \
  } while (0)

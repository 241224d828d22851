// A student's audit in a plain folder: a local client with drive S on
// userdata/work under a temporary root, the eight documents and the lesson
// manager as fakes, the audit manager over them, a manual clock (so the
// pause after each save costs nothing) and a recording message sink.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "platform/Clock.h"
#include "player/SesionAX.h"
#include "player/TGestorAlumno.h"
#include "tests/player/session_fakes.h"

class AuditoriaBanco {
 public:
  static constexpr uint8_t kUnidad = 7;

  // Documents with these highest sound and exercise numbers.
  AuditoriaBanco(std::vector<uint16_t> n = std::vector<uint16_t>(8, 0),
                 std::vector<uint16_t> m = std::vector<uint16_t>(8, 0))
      : scoped_clock_(&clock_) {
    char pattern[] = "/tmp/lectoria-audit-XXXXXX";
    if (mkdtemp(pattern) != nullptr) raiz_ = std::string(pattern) + "/";
    std::filesystem::create_directories(raiz_ + "userdata/work/C007");
    cliente_.SetLocalRoot(raiz_);
    cliente_.AddLocalLetter('S', "");
    cliente_.Mount("userdata\\work", 'S');
    sesion_.ehdd = &cliente_;
    sesion_.leccion = &leccion_;
    for (int i = 0; i < 8; ++i) {
      documentos_.push_back(std::make_unique<fakes::Documento>(1, n[i], m[i]));
      documentos_.back()->Cargar("U:\\X.TAE");
      sesion_.Unit().partes[i].formatae = documentos_.back().get();
    }
    alumno_ = std::make_unique<TGestorAlumno>(sesion_);
    alumno_->Iniciar();
  }
  ~AuditoriaBanco() {
    alumno_.reset();
    std::error_code ec;
    std::filesystem::remove_all(raiz_, ec);
  }

  // A new audit manager over fresh documents of the same counts, as the
  // next session's would be.
  void NuevaSesion() {
    for (auto& d : documentos_) d->Cargar("U:\\X.TAE");
    for (uint8_t& b : leccion_.lineas) b = 0;
    leccion_.almacenado.store(0);
    leccion_.activo.store(0);
    alumno_ = std::make_unique<TGestorAlumno>(sesion_);
    alumno_->Iniciar();
  }

  std::string Fichero(const char* nombre) const { return raiz_ + "userdata/work/C007/" + nombre; }
  std::string Leer(const char* nombre) const {
    std::ifstream in(Fichero(nombre), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void Escribir(const char* nombre, const std::string& bytes) const {
    std::ofstream(Fichero(nombre), std::ios::binary | std::ios::trunc) << bytes;
  }
  bool Existe(const char* nombre) const { return std::filesystem::exists(Fichero(nombre)); }
  // Names in the unit's folder.
  std::vector<std::string> Entradas() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(raiz_ + "userdata/work/C007")) {
      out.push_back(e.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  TGestorAlumno& alumno() { return *alumno_; }
  fakes::Documento& documento(int i) { return *documentos_[i]; }
  fakes::Leccion& leccion() { return leccion_; }
  SesionAX& sesion() { return sesion_; }
  TEHDDClient& cliente() { return cliente_; }
  fakes::Cajas& cajas() { return cajas_; }
  platform::ManualClock& clock() { return clock_; }
  const std::string& raiz() const { return raiz_; }

 private:
  platform::ManualClock clock_;
  platform::ScopedClock scoped_clock_;
  fakes::Cajas cajas_;
  std::string raiz_;
  TEHDDClient cliente_;
  SesionAX sesion_;
  fakes::Leccion leccion_;
  std::vector<std::unique_ptr<fakes::Documento>> documentos_;
  std::unique_ptr<TGestorAlumno> alumno_;
};

// A course unit made at test time in a temporary folder, laid out as the
// program folder holds it: the unit's documents (3, 5, 2, 4, 1, 6, 2 and 3
// pages, with sounds and exercises) and role-play file in data/unit007, its
// cover in data/mcd01 and the common skin in data/common (volumes built with
// ehdd-volume), and the student's plain folder userdata/work, whose audits
// come from lectoria-audit.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <memory>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "platform/gfx/Surface.h"
#include "player/SesionAX.h"
#include "player/ThreadCargaUnit.h"
#include "tests/player/session_fakes.h"

class UnidadFixture {
 public:
  static constexpr uint8_t kUnidad = 7;
  static constexpr int16_t kPaginas[8] = {3, 5, 2, 4, 1, 6, 2, 3};
  // Highest sound and exercise numbers of each part's document.
  static constexpr uint16_t kSonidos[8] = {2, 3, 1, 2, 3, 1, 2, 3};
  static constexpr uint16_t kEjercicios[8] = {0, 0, 2, 0, 1, 3, 0, 0};

  UnidadFixture() {
    char pattern[] = "/tmp/lectoria-unit-XXXXXX";
    if (mkdtemp(pattern) != nullptr) raiz_ = std::string(pattern) + "/";
  }
  ~UnidadFixture() {
    std::error_code ec;
    std::filesystem::remove_all(raiz_, ec);
  }
  UnidadFixture(const UnidadFixture&) = delete;
  UnidadFixture& operator=(const UnidadFixture&) = delete;

  const std::string& raiz() const { return raiz_; }
  std::string CarpetaAlumno() const { return raiz_ + "userdata/work/C007/"; }
  static std::string Herramienta(const std::string& nombre) {
    return std::string(LECTORIA_BIN_DIR) + "/" + nombre;
  }
  // "N0:M0,...,N7:M7" of the documents.
  static std::string Cuentas() {
    std::string out;
    for (int i = 0; i < 8; ++i) {
      out += (i ? "," : "") + std::to_string(kSonidos[i]) + ":" + std::to_string(kEjercicios[i]);
    }
    return out;
  }

  // Writes the sources and builds the three volumes; false on any failure.
  bool Construir() {
    if (raiz_.empty()) return false;
    namespace fs = std::filesystem;
    const std::string unit = raiz_ + "src/unit/";
    fs::create_directories(unit);
    static const char* const kSufijos[8] = {"SI", "ST", "DI", "RO", "GR", "WR", "VO", "PR"};
    for (int i = 0; i < 8; ++i) {
      std::string texto;
      for (int p = 0; p < kPaginas[i]; ++p) {
        if (p > 0) texto += "<SALTOPAG:>";
        texto += "Page " + std::to_string(p + 1) + " of part " + std::to_string(i) + "\n";
      }
      for (int j = 1; j <= kSonidos[i]; ++j) {
        texto +=
            "<SONIDO:1," + std::to_string(j) + ",S0000" + std::to_string(j) + ">word<SONIDO:1,0>\n";
      }
      for (int j = 1; j <= kEjercicios[i]; ++j) {
        texto += "<EJESCRITO:1," + std::to_string(j) + ",E" + std::to_string(j) +
                 ">a <HUECO:1>gap<HUECO:0><EJESCRITO:0>\n";
      }
      std::ofstream(unit + "CLA007" + kSufijos[i] + ".TAE", std::ios::binary) << texto;
    }
    std::ofstream(unit + "CLA007.RLP", std::ios::binary)
        << "2\r\n3\r\n40\r\nA1\r\nA2\r\nA3\r\n0,2,\r\n1,\r\n";
    const std::string mcd = raiz_ + "src/mcd/DATOS/SKIN/CLASES/";
    const std::string comun = raiz_ + "src/common/HDD/DATOS/SKIN/COMUN/";
    fs::create_directories(mcd);
    fs::create_directories(comun);
    platform::gfx::Surface portada(687, 534);
    portada.Fill({0, 0, 687, 534}, 0x3366CC);
    if (!platform::gfx::WritePng(portada, mcd + "PORT007A.PNG")) return false;
    platform::gfx::Surface boton(24, 24);
    boton.Fill({0, 0, 24, 24}, 0x00AA00);
    for (const char* nombre : ThreadCargaUnit::kSkin) {
      if (!platform::gfx::WritePng(boton, comun + nombre + ".PNG")) return false;
    }
    fs::create_directories(raiz_ + "data");
    fs::create_directories(raiz_ + "userdata/work");
    for (const auto& [src, out] : {std::pair{"src/unit", "data/unit007"},
                                   {"src/mcd", "data/mcd01"},
                                   {"src/common", "data/common"}}) {
      const std::string command =
          Herramienta("ehdd-volume") + " build " + raiz_ + src + " " + raiz_ + out + " > /dev/null";
      if (std::system(command.c_str()) != 0) return false;
    }
    return true;
  }

  // The audits lectoria-audit makes for the unit's documents.
  bool Auditorias() const {
    const std::string command = Herramienta("lectoria-audit") + " new " + raiz_ +
                                "userdata/work --unit 7 --counts " + Cuentas();
    return std::system(command.c_str()) == 0;
  }

  // The client in local mode over the folder, as a study session leaves it
  // (drive X mounted, the session's letters served locally), and the
  // session's store names.
  void Preparar(TEHDDClient& cliente, SesionAX& sesion) const {
    cliente.SetLocalRoot(raiz_);
    for (char letra : std::string("XMUYGS")) cliente.AddLocalLetter(letra, "");
    cliente.Mount("data\\common.dat", 'X');
    sesion.ehdd = &cliente;
    sesion.nombre_alumno = "userdata";
    sesion.Unit().nombre_units = "data\\unit007.dat";
    sesion.Unit().nombre_multimedia = "data\\mcd01.dat";
  }

 private:
  std::string raiz_;
};

// A session over fake documents of the given page counts (the fixture
// unit's by default), numbered, with the unit shown on page 1 of part 0.
class SesionFalsa {
 public:
  explicit SesionFalsa(std::vector<int16_t> paginas = {3, 5, 2, 4, 1, 6, 2, 3},
                       TEHDDClient* cliente = nullptr) {
    sesion.leccion = &leccion;
    sesion.sesion_activa = 1;
    for (int i = 0; i < 8; ++i) {
      documentos.push_back(std::make_unique<fakes::Documento>(paginas[i], 0, 0, cliente));
      sesion.Unit().partes[i].formatae = documentos.back().get();
    }
  }
  // Loads every document (as the unit loader would) and numbers the pages.
  void Cargar() {
    for (auto& d : documentos) d->Cargar("U:\\X.TAE");
    ThreadCargaUnit::NumerarPaginas(sesion.Unit());
    sesion.Unit().activa = 1;
    sesion.Unit().pagina = 1;
    sesion.Unit().parte = 0;
  }
  fakes::Documento& documento(int i) { return *documentos[i]; }
  std::vector<std::string> Movimientos() {
    std::vector<std::string> out;
    for (int i = 0; i < 8; ++i) {
      for (const auto& m : documentos[i]->Log()) out.push_back(std::to_string(i) + " " + m);
    }
    return out;
  }
  void LimpiarMovimientos() {
    for (auto& d : documentos) d->LimpiarLog();
  }

  SesionAX sesion;
  fakes::Leccion leccion;
  std::vector<std::unique_ptr<fakes::Documento>> documentos;
};

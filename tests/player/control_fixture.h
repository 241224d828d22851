// Controls made in the test's process, each with a headless window and UI
// host, over a temporary folder that is the process's temporary folder
// (the cache folder is under it); the process's exit is a throw the test
// sees, and the clock is a manual one, so the unload's screens cost nothing.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/com/Com.h"
#include "platform/ui/Headless.h"
#include "player/CAXeTAE.h"
#include "player/InterfaceAXSesion.h"
#include "tests/player/session_fixture.h"

class ControlTest : public testing::Test {
 protected:
  ControlTest() : scoped_(&clock_) {
    char pattern[] = "/tmp/lectoria-control-XXXXXX";
    if (mkdtemp(pattern) != nullptr) temp_ = std::string(pattern) + "/";
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) old_tmpdir_ = old;
    had_tmpdir_ = old != nullptr;
    setenv("TMPDIR", temp_.c_str(), 1);
    platform::SetExitHook([](int code) { throw platform::ExitRequested(code); });
  }
  ~ControlTest() override {
    for (auto it = controles_.rbegin(); it != controles_.rend(); ++it) {
      try {
        (*it)->Release();
      } catch (const platform::ExitRequested&) {
      }
    }
    LiberarRetenidosParaPruebas();
    Motor().preparar_eventos_para_pruebas = nullptr;
    Motor().puerto_alternativo = MotorAX::kPuertoAlternativo;
    Motor().timeout_peticion_s = 0;
    Motor().canal = CanalServerEHDD();
    platform::SetExitHook(nullptr);
    platform::ui::SetUiHost(nullptr);
    if (had_tmpdir_) {
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    std::error_code ec;
    std::filesystem::remove_all(temp_, ec);
  }

  // A new control with its window (null when it was refused); released by
  // the fixture unless the test releases it (Soltar).
  CAXeTAE* Nuevo(bool con_ventana = true) {
    CAXeTAE* c = CAXeTAE::Crear();
    if (c == nullptr) return nullptr;
    controles_.push_back(c);
    if (con_ventana) {
      sitios_.push_back(std::make_unique<platform::ui::HeadlessControlSite>(687, 534));
      EXPECT_EQ(c->CreateWindow(sitios_.back().get(), host_), platform::com::S_OK);
    }
    return c;
  }
  void Soltar(CAXeTAE* c) {
    for (auto it = controles_.begin(); it != controles_.end(); ++it) {
      if (*it == c) {
        controles_.erase(it);
        break;
      }
    }
    c->Release();
  }

  static platform::com::ScopedBstr B(const std::string& texto) {
    return platform::com::ScopedBstr(std::u16string(texto.begin(), texto.end()));
  }

  // A property by its DISPID through Invoke.
  static int32_t Leer(CAXeTAE* c, int32_t dispid) {
    platform::com::VARIANT v;
    platform::com::DISPPARAMS none;
    EXPECT_EQ(c->Invoke(dispid, platform::com::IID_NULL, 0, platform::com::DISPATCH_PROPERTYGET,
                        &none, &v, nullptr, nullptr),
              platform::com::S_OK);
    const int32_t valor = v.vt == platform::com::VT_I4 ? v.lVal : -1;
    platform::com::VariantClear(&v);
    return valor;
  }

  // The host's calls up to a started session in local mode on the folder.
  void IniciarLocal(CAXeTAE* c, const std::string& raiz,
                    const std::string& common = "data\\common.dat") {
    c->SetEHDDStudent(B("userdata").get());
    c->SetEHDDCommon(B(common).get());
    c->ServerEHDD(B(raiz).get(), 1, 3232);
    c->ServerEHDD(B("").get(), 0, 5252);
    c->ServerEHDD(B("127.0.0.1").get(), 80, 10);
    c->InicializarAXeTAE();
  }
  // The unit load as the host asks for it.
  void CargarUnidad(CAXeTAE* c, int unidad = UnidadFixture::kUnidad) {
    c->SetNavigationMode(0);
    c->SetEHDDUnits(B(FormatoF("data\\unit%03d.dat", unidad)).get());
    c->SetEHDDMultimedia(B(FormatoF("data\\mcd%02d.dat", (unidad - 1) / 12 + 1)).get());
    c->CargarUnit(unidad);
    c->EsperaFinEvento();
  }

  std::vector<std::string> Cajas() const {
    std::vector<std::string> out;
    for (const auto& b : host_->Boxes()) out.push_back(b.caption + ": " + b.text);
    return out;
  }
  static std::string Leido(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  platform::ManualClock clock_{1000};
  platform::ScopedClock scoped_;
  std::string temp_;
  std::shared_ptr<platform::ui::HeadlessUiHost> host_ =
      std::make_shared<platform::ui::HeadlessUiHost>();
  std::vector<std::unique_ptr<platform::ui::HeadlessControlSite>> sitios_;
  std::vector<CAXeTAE*> controles_;

 private:
  std::string old_tmpdir_;
  bool had_tmpdir_ = false;
};

// The engine library as a component server: its exports, its registration
// into a registry folder of the test's own, creation through the registry,
// and the registration tool.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/com/CoCreateInstance.h"
#include "platform/com/IControlWindow.h"
#include "platform/registry/Registry.h"
#include "player/IAXeTAE.h"

namespace fs = std::filesystem;
using namespace platform::com;
namespace reg = platform::registry;

namespace {

const std::string kLibreria = std::string(LECTORIA_BIN_DIR) + "/liblectoria.so";
const std::string kClave = "CLSID\\" + GuidToString(lectoria::CLSID_AXeTAE);

struct Salida {
  int codigo;
  std::string texto;
};

Salida Ejecutar(const std::string& orden) {
  Salida s{-1, {}};
  FILE* p = popen((orden + " 2>&1").c_str(), "r");
  if (p == nullptr) return s;
  std::array<char, 512> trozo;
  while (size_t n = fread(trozo.data(), 1, trozo.size(), p)) s.texto.append(trozo.data(), n);
  const int estado = pclose(p);
  s.codigo = WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
  return s;
}

class Registro : public testing::Test {
 protected:
  Registro() {
    char pattern[] = "/tmp/lectoria-registry-XXXXXX";
    if (mkdtemp(pattern) != nullptr) carpeta_ = pattern;
    setenv("LECTORIA_REGISTRY_DIR", carpeta_.c_str(), 1);
  }
  ~Registro() override {
    unsetenv("LECTORIA_REGISTRY_DIR");
    std::error_code ec;
    fs::remove_all(carpeta_, ec);
  }
  static std::string Texto(const std::string& clave, const std::string& nombre = "") {
    reg::Value v;
    if (!reg::QueryValue(reg::Root::kClassesRoot, clave, nombre, v)) return "<none>";
    return v.text;
  }
  // The library's entry point, loaded through a link to it.
  template <typename F>
  F Entrada(const char* nombre) {
    if (biblioteca_ == nullptr) {
      enlace_ = carpeta_ + "/link-to-lectoria.so";
      fs::create_symlink(kLibreria, enlace_);
      biblioteca_ = dlopen(enlace_.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    return biblioteca_ != nullptr ? reinterpret_cast<F>(dlsym(biblioteca_, nombre)) : nullptr;
  }

  std::string carpeta_;
  std::string enlace_;
  void* biblioteca_ = nullptr;
};

TEST_F(Registro, TheLibraryExportsExactlyItsFourEntryPoints) {
  const Salida s = Ejecutar("nm -D --defined-only " + kLibreria + " | awk '{print $3}' | sort");
  ASSERT_EQ(s.codigo, 0) << s.texto;
  EXPECT_EQ(s.texto,
            "DllCanUnloadNow\nDllGetClassObject\nDllRegisterServer\nDllUnregisterServer\n");
}

TEST_F(Registro, RegistrationWritesEveryKeyAndUnregistrationKeepsTheOthers) {
  ASSERT_TRUE(
      reg::CreateKey(reg::Root::kClassesRoot, "CLSID\\{00000000-0000-0000-0000-000000000001}"));
  auto registrar = Entrada<DllRegisterServerFunction>("DllRegisterServer");
  auto quitar = Entrada<DllUnregisterServerFunction>("DllUnregisterServer");
  ASSERT_NE(registrar, nullptr) << dlerror();
  ASSERT_EQ(registrar(), S_OK);
  const std::string real = fs::canonical(kLibreria).string();
  EXPECT_EQ(Texto(kClave + "\\InprocServer32"), real);
  EXPECT_EQ(Texto(kClave + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(Texto(kClave + "\\ToolboxBitmap32"), real + ", 101");
  EXPECT_EQ(Texto(kClave), "AXeTAE Class");
  EXPECT_EQ(Texto(kClave + "\\ProgID"), "Lectoria.AXeTAE.1");
  EXPECT_EQ(Texto(kClave + "\\VersionIndependentProgID"), "Lectoria.AXeTAE");
  EXPECT_EQ(Texto(kClave + "\\MiscStatus"), "0");
  EXPECT_EQ(Texto(kClave + "\\MiscStatus\\1"), "131473");
  EXPECT_EQ(Texto(kClave + "\\TypeLib"), "{902AC69F-65A3-4208-AC6D-D59EC677988D}");
  EXPECT_EQ(Texto(kClave + "\\Version"), "1.0");
  for (const char* k : {"Programmable", "Control", "Insertable"})
    EXPECT_TRUE(reg::KeyExists(reg::Root::kClassesRoot, kClave + "\\" + k)) << k;
  EXPECT_EQ(Texto("Lectoria.AXeTAE.1"), "AXeTAE Class");
  EXPECT_EQ(Texto("Lectoria.AXeTAE.1\\CLSID"), GuidToString(lectoria::CLSID_AXeTAE));
  EXPECT_EQ(Texto("Lectoria.AXeTAE\\CLSID"), GuidToString(lectoria::CLSID_AXeTAE));
  EXPECT_EQ(Texto("Lectoria.AXeTAE\\CurVer"), "Lectoria.AXeTAE.1");
  EXPECT_EQ(RegisteredServerPath(lectoria::CLSID_AXeTAE), real);
  // Registering again replaces, never duplicates.
  ASSERT_EQ(registrar(), S_OK);
  ASSERT_EQ(quitar(), S_OK);
  EXPECT_FALSE(reg::KeyExists(reg::Root::kClassesRoot, kClave));
  EXPECT_FALSE(reg::KeyExists(reg::Root::kClassesRoot, "Lectoria.AXeTAE"));
  EXPECT_FALSE(reg::KeyExists(reg::Root::kClassesRoot, "Lectoria.AXeTAE.1"));
  EXPECT_TRUE(reg::KeyExists(reg::Root::kClassesRoot, "CLSID"));
  EXPECT_TRUE(
      reg::KeyExists(reg::Root::kClassesRoot, "CLSID\\{00000000-0000-0000-0000-000000000001}"));
}

TEST_F(Registro, TheControlIsCreatedThroughTheRegistryAndTheModuleCountsIt) {
  void* o = nullptr;
  std::string motivo;
  EXPECT_EQ(CoCreateInstance(lectoria::CLSID_AXeTAE, nullptr, CLSCTX_INPROC_SERVER,
                             lectoria::IID_IAXeTAE, &o, &motivo),
            REGDB_E_CLASSNOTREG);
  ASSERT_TRUE(reg::CreateKey(reg::Root::kClassesRoot, kClave + "\\InprocServer32"));
  reg::Value ausente;
  ausente.type = reg::Type::kSz;
  ausente.text = carpeta_ + "/missing.so";
  ASSERT_TRUE(reg::SetValue(reg::Root::kClassesRoot, kClave + "\\InprocServer32", "", ausente));
  EXPECT_EQ(CoCreateInstance(lectoria::CLSID_AXeTAE, nullptr, CLSCTX_INPROC_SERVER,
                             lectoria::IID_IAXeTAE, &o, &motivo),
            CO_E_DLLNOTFOUND);
  EXPECT_NE(motivo.find("missing.so"), std::string::npos) << motivo;

  auto registrar = Entrada<DllRegisterServerFunction>("DllRegisterServer");
  auto descargable = Entrada<DllCanUnloadNowFunction>("DllCanUnloadNow");
  ASSERT_EQ(registrar(), S_OK);
  ASSERT_EQ(CoCreateInstance(lectoria::CLSID_AXeTAE, nullptr, CLSCTX_INPROC_SERVER,
                             lectoria::IID_IAXeTAE, &o, &motivo),
            S_OK)
      << motivo;
  auto* control = static_cast<lectoria::IAXeTAE*>(o);
  EXPECT_EQ(descargable(), S_FALSE);
  void* ventana = nullptr;
  ASSERT_EQ(control->QueryInterface(IID_IControlWindow, &ventana), S_OK);
  static_cast<IControlWindow*>(ventana)->Release();
  int32_t estado = -1;
  EXPECT_EQ(control->get_axstatus(&estado), S_OK);
  EXPECT_EQ(estado, 0);  // no window yet
  control->Release();
  EXPECT_EQ(descargable(), S_OK);
}

TEST_F(Registro, TheToolRegistersAndUnregistersAndSaysWhy) {
  const std::string herramienta = std::string(LECTORIA_BIN_DIR) + "/lectoria-regsvr";
  const std::string real = fs::canonical(kLibreria).string();
  Salida s = Ejecutar(herramienta + " " + kLibreria);
  EXPECT_EQ(s.codigo, 0);
  EXPECT_EQ(s.texto, "registered " + real + "\n");
  EXPECT_EQ(RegisteredServerPath(lectoria::CLSID_AXeTAE), real);
  s = Ejecutar(herramienta + " /u " + kLibreria);
  EXPECT_EQ(s.codigo, 0);
  EXPECT_EQ(s.texto, "unregistered " + real + "\n");
  EXPECT_EQ(RegisteredServerPath(lectoria::CLSID_AXeTAE), "");
  s = Ejecutar(herramienta + " " + carpeta_ + "/missing.so");
  EXPECT_EQ(s.codigo, 1);
  EXPECT_EQ(s.texto.rfind("lectoria-regsvr: ", 0), 0u) << s.texto;
  EXPECT_NE(s.texto.find("missing.so"), std::string::npos) << s.texto;
  s = Ejecutar(herramienta + " " + LECTORIA_BIN_DIR + "/libcom_test_module.so");
  EXPECT_EQ(s.codigo, 1);
  EXPECT_NE(s.texto.find("has no DllRegisterServer"), std::string::npos) << s.texto;
  EXPECT_EQ(Ejecutar(herramienta).codigo, 2);
  EXPECT_EQ(Ejecutar(herramienta + " /u").codigo, 2);
  EXPECT_EQ(Ejecutar(herramienta + " a b").codigo, 2);
}

}  // namespace

// lectoria-drive: plays the host program's part without a window system.
// It creates the lesson control by class identifier, gives it a headless
// 687 x 534 window, starts a study session on a course folder (or a
// server), loads a unit and walks its pages (or runs a script), saving the
// window's image of each page and printing what the host would show.
//
//   lectoria-drive --course DIR --unit N [--server HOST:PORT] [--out DIR]
//                  [--script FILE] [--timeout S] [--library PATH]
//   lectoria-drive --course DIR --unit N [--server HOST:PORT] --unload-after MS
//   lectoria-drive --list-members [--library PATH]
//
// With --unload-after the unit's load starts as usual and, MS milliseconds
// after CargarUnit, whatever the load's state, UnloadAll is called as the
// window's close does; "unload took T ms" is printed and the exit status is
// 1 when the engine showed a box during the unload.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/CoCreateInstance.h"
#include "platform/com/IControlWindow.h"
#include "platform/com/Utf16.h"
#include "platform/gfx/Surface.h"
#include "platform/ui/Headless.h"
#include "player/IAXeTAE.h"
#include "tools/lectoria-drive/DriveScript.h"

using namespace platform::com;

namespace {

constexpr int kWidth = 687;
constexpr int kHeight = 534;

int Usage() {
  std::fprintf(stderr,
               "usage: lectoria-drive --course DIR --unit N [--server HOST:PORT] [--out DIR]\n"
               "                      [--script FILE] [--timeout S] [--library PATH]\n"
               "       lectoria-drive --course DIR --unit N [--server HOST:PORT] "
               "--unload-after MS\n"
               "       lectoria-drive --list-members [--library PATH]\n");
  return 2;
}

struct Failure {
  std::string message;
};

[[noreturn]] void Fail(const std::string& message) {
  throw Failure{message};
}

// The host's boxes go to stderr and are answered with their first button.
class DriveHost : public platform::ui::HeadlessUiHost {
 public:
  int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) override {
    std::fprintf(stderr, "lectoria-drive: box \"%s\": %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    ++boxes_;
    return HeadlessUiHost::ShowMessageBox(text, caption, type);
  }
  int BoxCount() const { return boxes_.load(); }

 private:
  std::atomic<int> boxes_{0};
};

std::string SelfFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  path[n] = 0;
  std::string s(path);
  const size_t slash = s.rfind('/');
  return slash == std::string::npos ? "." : s.substr(0, slash);
}

std::string Absolute(const std::string& path) {
  char real[PATH_MAX];
  if (realpath(path.c_str(), real) != nullptr) return real;
  return path;
}

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Registers the library when the class is not registered yet.
void EnsureRegistered(const std::string& library) {
  if (!RegisteredServerPath(lectoria::CLSID_AXeTAE).empty()) return;
  void* lib = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* error = dlerror();
    Fail(error != nullptr ? error : "cannot load " + library);
  }
  auto reg = reinterpret_cast<DllRegisterServerFunction>(dlsym(lib, "DllRegisterServer"));
  if (reg == nullptr) Fail(library + " has no DllRegisterServer");
  const HRESULT hr = reg();
  if (Failed(hr)) {
    char text[64];
    std::snprintf(text, sizeof(text), "DllRegisterServer returned 0x%08X",
                  static_cast<unsigned>(hr));
    Fail(text);
  }
}

lectoria::IAXeTAE* CreateControl(const std::string& library) {
  EnsureRegistered(library);
  void* object = nullptr;
  std::string why;
  const HRESULT hr = CoCreateInstance(lectoria::CLSID_AXeTAE, nullptr, CLSCTX_INPROC_SERVER,
                                      lectoria::IID_IAXeTAE, &object, &why);
  if (Failed(hr) || object == nullptr) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(hr));
    Fail("cannot create the control: " + (why.empty() ? std::string("refused") : why) + " (" +
         code + ")");
  }
  return static_cast<lectoria::IAXeTAE*>(object);
}

int ListMembers(const std::string& library) {
  lectoria::IAXeTAE* control = CreateControl(library);
  ITypeInfo* info = nullptr;
  if (Failed(control->GetTypeInfo(0, 0, &info)) || info == nullptr) {
    control->Release();
    Fail("the control gives no type information");
  }
  for (uint32_t i = 0; i < info->MemberCount(); ++i) {
    const MemberInfo* m = info->Member(i);
    std::printf("%d %s %s\n", m->dispid, m->kind == MemberKind::kProperty ? "property" : "method",
                m->name);
  }
  info->Release();
  control->Release();
  return 0;
}

class Drive {
 public:
  Drive(lectoria::IAXeTAE* control, std::string out) : control_(control), out_(std::move(out)) {}

  lectoria::IAXeTAE* control() { return control_; }

  void Open() {
    void* window = nullptr;
    if (Failed(control_->QueryInterface(IID_IControlWindow, &window)) || window == nullptr)
      Fail("the control has no window interface");
    window_ = static_cast<IControlWindow*>(window);
    if (Failed(window_->CreateWindow(&site_, host_))) Fail("the control refused its window");
  }

  void Close() {
    if (window_ != nullptr) window_->Release();
    window_ = nullptr;
  }

  int32_t Property(int32_t dispid) {
    VARIANT result;
    DISPPARAMS none;
    int32_t value = 0;
    if (!Failed(control_->Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                 nullptr)) &&
        result.vt == VT_I4) {
      value = result.lVal;
    }
    VariantClear(&result);
    return value;
  }

  std::string Version() {
    VARIANT result;
    DISPPARAMS none;
    std::string text;
    if (!Failed(control_->Invoke(lectoria::kDispVersion, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                 &result, nullptr, nullptr)) &&
        result.vt == VT_BSTR && result.bstrVal != nullptr) {
      for (uint32_t i = 0; i < SysStringLen(result.bstrVal); ++i)
        text.push_back(static_cast<char>(result.bstrVal[i] & 0xFF));
    }
    VariantClear(&result);
    return text;
  }

  // The host's waits and reads after a page or part command.
  void Refresh() {
    control_->EsperaFinEvento();
    page_ = Property(lectoria::kDispNumeroPaginaActual);
    total_ = Property(lectoria::kDispNumTotalPaginas);
    part_ = Property(lectoria::kDispParteUnit);
  }

  void PageLine() {
    std::printf("part %d page %d of %d\n", part_, page_, total_);
    std::fflush(stdout);
  }

  void Shot(const std::string& name) {
    std::string error;
    if (!platform::gfx::WritePng(site_.FrontImage(), out_ + "/" + name, &error))
      Fail("cannot write " + out_ + "/" + name + ": " + error);
  }

  void Walk() {
    for (;;) {
      char name[32];
      std::snprintf(name, sizeof(name), "p%dp%02d.png", part_, page_);
      Shot(name);
      PageLine();
      if (page_ >= total_) return;
      const int before = page_;
      control_->PaginaSiguiente();
      Refresh();
      if (page_ <= before) Fail("page did not advance past " + std::to_string(before));
    }
  }

  void Run(const std::vector<DriveCommand>& script) {
    for (const DriveCommand& c : script) {
      switch (c.kind) {
        case DriveCommand::kNext:
          Move(true);
          break;
        case DriveCommand::kPrev:
          Move(false);
          break;
        case DriveCommand::kPart:
          control_->CambiarDeParte(c.a);
          Refresh();
          PageLine();
          break;
        case DriveCommand::kKey:
          if (c.a == 0x21 || c.a == 0x22) {
            Move(c.a == 0x22);
          } else {
            control_->TeclaPulsada(c.a);
          }
          break;
        case DriveCommand::kChar:
          site_.SetKeyChar(static_cast<uint16_t>(c.a));
          control_->TeclaPulsada(VirtualKeyOfChar(static_cast<char16_t>(c.a)));
          site_.SetKeyChar(0);
          break;
        case DriveCommand::kClick: {
          intptr_t result = 0;
          window_->WindowMessage(WM_LBUTTONDOWN, 1, MouseLParam(c.a, c.b), &result);
          window_->WindowMessage(WM_LBUTTONUP, 0, MouseLParam(c.a, c.b), &result);
          break;
        }
        case DriveCommand::kWait:
          Wait(static_cast<uint32_t>(c.a));
          break;
        case DriveCommand::kShot: {
          std::string name = c.name;
          if (name.size() < 4 || name.compare(name.size() - 4, 4, ".png") != 0) name += ".png";
          Shot(name);
          break;
        }
        case DriveCommand::kAudit:
          Audit();
          break;
        case DriveCommand::kUnload:
          control_->UnloadAll();
          break;
      }
    }
  }

  platform::ui::HeadlessControlSite& site() { return site_; }

  // The close of the window, MS after the load was asked for: the time
  // passes with the GUI thread served, then UnloadAll. 1 when a box was
  // shown during the unload.
  int UnloadAfter(uint32_t ms) {
    Wait(ms);
    const int boxes = host_->BoxCount();
    const auto start = std::chrono::steady_clock::now();
    control_->UnloadAll();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::printf("unload took %lld ms\n", static_cast<long long>(took.count()));
    std::fflush(stdout);
    return host_->BoxCount() != boxes ? 1 : 0;
  }

 private:
  void Move(bool forward) {
    if (forward) {
      control_->PaginaSiguiente();
    } else {
      control_->PaginaAnterior();
    }
    Refresh();
    PageLine();
  }

  // Real time passes; the control's timers run as they fall due.
  void Wait(uint32_t ms) {
    const auto start = std::chrono::steady_clock::now();
    uint32_t done = 0;
    while (done < ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(10, ms - done)));
      const auto now = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - start)
                                                 .count());
      const uint32_t step = std::min(now, ms) - done;
      host_->AdvanceTimers(step);
      done += step;
    }
  }

  void Audit() {
    int sum = 0, answers = 0, errors = 0;
    for (int p = 0; p < 8; ++p) {
      control_->SeleccionarAuditoria(p);
      const int a = Property(lectoria::kDispAnswersAuditoria);
      const int e = Property(lectoria::kDispErrorsAuditoria);
      const int x = Property(lectoria::kDispPorcentajeAuditoria);
      std::printf("audit part %d percent %d answers %d errors %d\n", p, x, a, e);
      sum += x;
      answers += a;
      errors += e;
    }
    std::printf("audit total percent %d answers %d errors %d time %02d:%02d\n", sum / 8, answers,
                errors, Property(lectoria::kDispTiempoActivoHoras),
                Property(lectoria::kDispTiempoActivoMinutos));
    std::fflush(stdout);
  }

  lectoria::IAXeTAE* control_;
  IControlWindow* window_ = nullptr;
  std::string out_;
  platform::ui::HeadlessControlSite site_{kWidth, kHeight};
  std::shared_ptr<DriveHost> host_ = std::make_shared<DriveHost>();
  int page_ = 0, total_ = 0, part_ = 0;
};

bool VersionAccepted(const std::string& version) {
  std::vector<std::string> fields;
  std::stringstream in(version);
  for (std::string f; std::getline(in, f, '.');) fields.push_back(f);
  if (fields.empty() || version.empty()) return false;
  if (std::atol(fields[0].c_str()) > 1) return true;
  return fields.size() > 1 && std::atol(fields[1].c_str()) >= 8;
}

struct Options {
  std::string course, server_host, out = ".", script, library;
  int unit = 0;
  int server_port = 0;
  int timeout_s = 120;
  int unload_after_ms = -1;  // -1: no early unload
  bool list = false;
};

bool ParseNumber(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--list-members") {
      o.list = true;
    } else if (a == "--course" || a == "--out" || a == "--script" || a == "--library" ||
               a == "--server" || a == "--unit" || a == "--timeout" || a == "--unload-after") {
      const char* v = value();
      if (v == nullptr || *v == '\0') return false;
      if (a == "--course") o.course = v;
      if (a == "--out") o.out = v;
      if (a == "--script") o.script = v;
      if (a == "--library") o.library = v;
      if (a == "--unit" && !ParseNumber(v, 1, 255, o.unit)) return false;
      if (a == "--timeout" && !ParseNumber(v, 1, 86400, o.timeout_s)) return false;
      if (a == "--unload-after" && !ParseNumber(v, 0, 86400000, o.unload_after_ms)) return false;
      if (a == "--server") {
        const std::string s = v;
        const size_t colon = s.rfind(':');
        if (colon == std::string::npos || colon == 0 ||
            !ParseNumber(s.c_str() + colon + 1, 1, 65535, o.server_port))
          return false;
        o.server_host = s.substr(0, colon);
      }
    } else {
      return false;
    }
  }
  if (o.list) {
    return o.course.empty() && o.unit == 0 && o.script.empty() && o.server_host.empty() &&
           o.unload_after_ms < 0;
  }
  // The early unload replaces the walk and the script.
  if (o.unload_after_ms >= 0 && !o.script.empty()) return false;
  return !o.course.empty() && o.unit != 0;
}

int RunSession(const Options& o, Drive& drive) {
  lectoria::IAXeTAE* c = drive.control();
  const std::string version = drive.Version();
  if (!VersionAccepted(version)) Fail("incorrect module version '" + version + "'");
  const bool local = o.server_host.empty();
  const std::string course = Absolute(o.course) + "/";
  auto call = [](auto member, const std::string& text, auto... rest) {
    ScopedBstr b(Utf8ToUtf16(text));
    return member(b.get(), rest...);
  };
  call([&](BSTR b) { return c->SetEHDDStudent(b); }, "userdata");
  call([&](BSTR b) { return c->SetEHDDCommon(b); }, "data\\common.dat");
  call([&](BSTR b, int32_t x, int32_t y) { return c->ServerEHDD(b, x, y); }, course, local ? 1 : 0,
       3232);
  call([&](BSTR b, int32_t x, int32_t y) { return c->ServerEHDD(b, x, y); }, "", 0, 5252);
  call([&](BSTR b, int32_t x, int32_t y) { return c->ServerEHDD(b, x, y); },
       local ? std::string("127.0.0.1") : o.server_host, local ? 80 : o.server_port, 10);
  c->InicializarAXeTAE();
  const int result = drive.Property(lectoria::kDispTestResult);
  const int status = drive.Property(lectoria::kDispAxStatus);
  if (result != 0 || status != 3) {
    Fail("session start failed (TestResult " + std::to_string(result) + ", axstatus " +
         std::to_string(status) + ")");
  }
  c->SetNavigationMode(0);
  char units[32], media[32];
  std::snprintf(units, sizeof(units), "data\\unit%03d.dat", o.unit);
  std::snprintf(media, sizeof(media), "data\\mcd%02d.dat", (o.unit - 1) / 12 + 1);
  if (local) {
    char stem[32];
    std::snprintf(stem, sizeof(stem), "data/unit%03d", o.unit);
    if (!IsFile(course + stem + ".FAT") || !IsFile(course + stem + ".DAT"))
      Fail("unit " + std::to_string(o.unit) + " missing");
  }
  call([&](BSTR b) { return c->SetEHDDUnits(b); }, units);
  call([&](BSTR b) { return c->SetEHDDMultimedia(b); }, media);
  std::vector<DriveCommand> script;
  if (!o.script.empty()) {
    std::ifstream in(o.script, std::ios::binary);
    if (!in) Fail("cannot read " + o.script);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    if (!ParseDriveScript(text.str(), script, &error)) Fail(error);
  }
  c->CargarUnit(o.unit);
  if (o.unload_after_ms >= 0) return drive.UnloadAfter(static_cast<uint32_t>(o.unload_after_ms));
  drive.Refresh();
  if (drive.Property(lectoria::kDispNumTotalPaginas) == 0)
    Fail("unit " + std::to_string(o.unit) + " has no pages");
  if (o.script.empty()) {
    drive.Walk();
  } else {
    drive.PageLine();
    drive.Run(script);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) return Usage();
  if (o.library.empty()) o.library = SelfFolder() + "/liblectoria.so";
  if (!o.list) {
    // The watchdog: past the time the program ends at once.
    const int seconds = o.timeout_s;
    std::thread([seconds] {
      std::this_thread::sleep_for(std::chrono::seconds(seconds));
      std::fprintf(stderr, "lectoria-drive: timed out after %d s\n", seconds);
      std::fflush(stderr);
      _exit(1);
    }).detach();
  }
  // The window and the host outlive the control, whatever happens.
  std::unique_ptr<Drive> drive;
  lectoria::IAXeTAE* control = nullptr;
  try {
    if (o.list) return ListMembers(o.library);
    std::error_code made;
    if (!IsFolder(o.out) && !std::filesystem::create_directories(o.out, made))
      Fail("cannot make " + o.out + (made ? ": " + made.message() : std::string()));
    control = CreateControl(o.library);
    drive = std::make_unique<Drive>(control, o.out);
    drive->Open();
    const int code = RunSession(o, *drive);
    control->UnloadAll();
    drive->Close();
    control->Release();
    std::fflush(stdout);
    return code;
  } catch (const Failure& f) {
    std::fflush(stdout);
    std::fprintf(stderr, "lectoria-drive: %s\n", f.message.c_str());
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "lectoria-drive: %s\n", e.what());
  }
  if (control != nullptr) {
    control->UnloadAll();
    if (drive) drive->Close();
    control->Release();
  }
  return 1;
}

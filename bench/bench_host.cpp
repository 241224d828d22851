// The host program's hot paths, each beside its bound in one run:
// - start to first paint of velarno (fork to its trace line, offscreen) on
//   the sample course when it is built, else on a generated folder with four
//   packs and 144 tiles, beside a bare Qt program showing one empty window of
//   the same size; the goal is 300 ms;
// - one Timer1 tick with a unit loaded, beside the same property reads made
//   directly (the goal: 1 ms and 1.5 times the reads); a control that
//   answers at once stands in, as the label says, so the figure is the
//   window's own share (bench_control measures the lesson control's reads);
// - drawing one level of the course map, beside decoding its 24 tile pictures
//   (the goal: 1.5 times the decoding).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "host/TForm1.h"
#include "host/qorFileManager.h"
#include "host/qorTexts.h"
#include "host/qorUnitsManager.h"
#include "tests/support/VelarnoProcess.h"
#include "tests/window/ProgramFolder.h"

namespace fs = std::filesystem;

namespace {

fs::path g_root;
std::string g_folder;  // the generated program folder
std::string g_course;  // the folder velarno starts on

// A control that answers every read at once with fixed figures.
class QuickControl : public TAXeTAE {
 public:
  bool CreateWindow(platform::ui::IControlSite*, std::shared_ptr<platform::ui::IUiHost>,
                    std::string&) override {
    return true;
  }
  bool WindowMessage(uint32_t, uintptr_t, intptr_t) override { return true; }
  void ServerEHDD(const std::string&, int32_t, int32_t) override {}
  void SetEHDDUnits(const std::string&) override {}
  void SetEHDDStudent(const std::string&) override {}
  void InicializarAXeTAE() override {}
  void SetNavigationMode(int32_t) override {}
  void CargarUnit(int32_t) override {}
  void UnloadAll() override {}
  void PaginaSiguiente() override {}
  void PaginaAnterior() override {}
  void TeclaPulsada(int32_t) override {}
  void CambiarDeParte(int32_t) override {}
  void EsperaFinEvento() override {}
  void SeleccionarAuditoria(int32_t part) override { selected_ = part; }
  void SetEHDDMultimedia(const std::string&) override {}
  void SetEHDDCommon(const std::string&) override {}
  int32_t GetIntProperty(int32_t dispid) override {
    benchmark::DoNotOptimize(selected_);
    return dispid == kDispidTestResult ? 0 : (dispid + selected_) % 100;
  }
  std::string Version() override { return "1.08.02.04A"; }

 private:
  int32_t selected_ = 0;
};

// Fork to the first line starting with prefix, in milliseconds.
double StartToLine(const std::string& program, const std::string& prefix,
                   const std::string& folder) {
  VelarnoProcess child({program}, {{"QT_QPA_PLATFORM", "offscreen"},
                                   {"VELARNO_STARTUP_TRACE", "1"},
                                   {"VELARNO_PROGRAM_DIR", folder},
                                   {"LECTORIA_REGISTRY_DIR", (g_root / "registry").string()}});
  if (!child.WaitForLine(prefix, 30000)) return -1;
  const double ms = child.MillisecondsToLine();
  child.Signal(SIGTERM);
  child.WaitExit(10000);
  return ms;
}

void BM_StartToFirstPaint(benchmark::State& state) {
  const std::string bin = LECTORIA_BIN_DIR;
  double velarno_ms = 0;
  double bare_ms = 0;
  for (auto _ : state) {
    const double v = StartToLine(bin + "/velarno", "velarno: first paint", g_course);
    const double b = StartToLine(bin + "/bench_host_bare", "bare: first paint", g_course);
    if (v < 0 || b < 0) {
      state.SkipWithError("no first paint");
      return;
    }
    velarno_ms += v;
    bare_ms += b;
    state.SetIterationTime(v / 1000.0);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["velarno_ms"] = velarno_ms / n;
  state.counters["bare_ms"] = bare_ms / n;
  state.counters["goal_ms"] = 300;
  state.counters["ratio_to_bare"] = velarno_ms / bare_ms;
  state.counters["ratio_to_goal"] = velarno_ms / n / 300.0;
  state.SetLabel(g_course == g_folder ? "generated folder" : "sample course");
}
BENCHMARK(BM_StartToFirstPaint)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// A window on the generated folder with unit 1 loaded into the quick control.
std::unique_ptr<TForm1> OpenWindow() {
  setenv("VELARNO_PROGRAM_DIR", g_folder.c_str(), 1);
  TForm1Services services;
  services.create_control = [](std::string&) { return std::make_unique<QuickControl>(); };
  services.apply_update = nullptr;
  auto form = std::make_unique<TForm1>(services);
  form->SelectedUnit = 1;
  form->ShowTab(2);
  return form;
}

void CloseWindow(std::unique_ptr<TForm1>& form) {
  form.reset();
  qorFileManager::Release();
  qorUnitsManager::Release();
  ForgetHostTexts();
}

void BM_Timer1Tick(benchmark::State& state) {
  auto form = OpenWindow();
  if (!form->UnitLoaded) {
    state.SkipWithError("no unit loaded");
    return;
  }
  for (auto _ : state) form->Timer1Timer();
  state.SetLabel("quick stand-in control: the window's own share");
  state.counters["goal_us"] = 1000;
  CloseWindow(form);
}
BENCHMARK(BM_Timer1Tick)->Unit(benchmark::kMicrosecond);

void BM_Timer1ReadsDirect(benchmark::State& state) {
  QuickControl control;
  for (auto _ : state) {
    int sum = 0;
    for (int part = 0; part < 8; ++part) {
      control.SeleccionarAuditoria(part);
      sum += control.answersauditoria() + control.errorsauditoria() + control.porcentajeauditoria();
    }
    sum += control.tiempoactivohoras() + control.tiempoactivominutos();
    sum += control.tiempoactivohoras() + control.tiempoactivominutos();
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_Timer1ReadsDirect)->Unit(benchmark::kMicrosecond);

void BM_DrawCourseMap(benchmark::State& state) {
  auto form = OpenWindow();
  int level = 0;
  for (auto _ : state) form->DrawCourseMap(level++ % 6);
  CloseWindow(form);
}
BENCHMARK(BM_DrawCourseMap)->Unit(benchmark::kMicrosecond);

void BM_DecodeLevelPictures(benchmark::State& state) {
  auto form = OpenWindow();
  int level = 0;
  for (auto _ : state) {
    const int base = 24 * (level++ % 6);
    for (int slot = 0; slot < 24; ++slot) {
      char member[32];
      std::snprintf(member, sizeof(member), "3:imgc%03d.bmp", base + slot + 1);
      QImage picture;
      LoadPackBitmap(member, picture);
      benchmark::DoNotOptimize(picture.constBits());
    }
  }
  CloseWindow(form);
}
BENCHMARK(BM_DecodeLevelPictures)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char pattern[] = "/tmp/velarno-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  g_root = pattern;
  fs::create_directories(g_root / "registry");
  setenv("LECTORIA_REGISTRY_DIR", (g_root / "registry").c_str(), 1);
  FolderOptions options;
  options.installed.clear();
  for (int n = 1; n <= 144; ++n) options.installed.insert(n);
  options.tile_width = 120;
  options.tile_height = 74;
  int result = 0;
  try {
    g_folder = MakeProgramFolder(options, g_root);
    const fs::path course = fs::path(LECTORIA_SOURCE_DIR) / "build" / "course";
    g_course = fs::is_directory(course / "data") ? course.string() : g_folder;
    QApplication app(argc, argv);
    MainUnitInitialize();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    MainUnitFinalize();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_host: %s\n", e.what());
    result = 1;
  }
  fs::remove_all(g_root);
  return result;
}

// Drawing costs of a page: presenting a page surface, filling, greying it,
// and measuring and drawing a page of text, each beside memcpy of the same
// pixels where that is the bound.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/TGestorGDI.h"
#include "platform/gfx/TextDraw.h"
#include "platform/ui/Headless.h"

namespace {

constexpr int kPageW = 687;
constexpr int kPageH = 534;

void BM_MemcpyPage(benchmark::State& state) {
  std::vector<uint32_t> a(kPageW * kPageH, 1), b(kPageW * kPageH);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * 4);
    benchmark::DoNotOptimize(b.data());
  }
  state.SetBytesProcessed(state.iterations() * a.size() * 4);
}
BENCHMARK(BM_MemcpyPage);

void BM_PresentPageToSite(benchmark::State& state) {
  platform::ui::HeadlessControlSite site(kPageW, kPageH);
  TGestorGDI gdi;
  uint16_t slot = gdi.CrearBuffer(kPageW, kPageH, 0, 0, &site);
  for (auto _ : state) {
    gdi.MostrarBuffer(slot, 0, 0, 0, 0);
    if (site.RepaintRequests() > 1000) {
      state.PauseTiming();
      site.ClearPresentLog();
      state.ResumeTiming();
    }
  }
  state.SetBytesProcessed(state.iterations() * kPageW * kPageH * 4);
}
BENCHMARK(BM_PresentPageToSite);

void BM_FillPage(benchmark::State& state) {
  platform::ui::HeadlessControlSite site(1, 1);
  TGestorGDI gdi;
  uint16_t slot = gdi.CrearBuffer(kPageW, kPageH, 0, 0, &site);
  for (auto _ : state) gdi.FillRect(slot, 0, 0, kPageW, kPageH, 0xFFFFFF);
  state.SetBytesProcessed(state.iterations() * kPageW * kPageH * 4);
}
BENCHMARK(BM_FillPage);

void BM_ShadePage(benchmark::State& state) {
  platform::ui::HeadlessControlSite site(1, 1);
  TGestorGDI gdi;
  uint16_t slot = gdi.CrearBuffer(kPageW, kPageH, 0, 0, &site);
  for (auto _ : state) gdi.ShadeBuffer(slot);
  state.SetBytesProcessed(state.iterations() * kPageW * kPageH * 4);
}
BENCHMARK(BM_ShadePage);

std::vector<std::string> PageLines() {
  std::vector<std::string> lines;
  const std::string words = "The learner listens to the sentence, repeats it and compares ";
  for (int i = 0; i < 26; ++i) lines.push_back(words.substr(i % 7, 60 - 0));
  for (auto& l : lines) l.resize(60, 'x');
  return lines;
}

// Measuring 26 lines of 60 characters of Arial 15 px from the width table,
// as the page layout does.
void BM_MeasurePageOfText(benchmark::State& state) {
  LOGFONTA font = platform::gfx::MakeLogFont("Arial", -15);
  TGestorGDI gdi;
  auto lines = PageLines();
  for (auto _ : state) {
    uint8_t table[256];
    gdi.CharWidths(0, font, table);
    int total = 0;
    for (const auto& l : lines)
      for (char c : l) total += table[static_cast<uint8_t>(c)] + 1;
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_MeasurePageOfText);

void BM_DrawPageOfText(benchmark::State& state) {
  LOGFONTA font = platform::gfx::MakeLogFont("Arial", -15);
  platform::ui::HeadlessControlSite site(1, 1);
  TGestorGDI gdi;
  uint16_t slot = gdi.CrearBuffer(kPageW, kPageH, 0, 0, &site);
  auto lines = PageLines();
  for (auto _ : state) {
    for (size_t i = 0; i < lines.size(); ++i)
      gdi.TextOutFont(slot, 20, static_cast<uint16_t>(10 + 20 * i), lines[i].data(), 60, font, 1,
                      0x000000, 0xFFFFFF);
  }
}
BENCHMARK(BM_DrawPageOfText);

}  // namespace

BENCHMARK_MAIN();

// Reads arbitrary bytes as an animation's three description files, then,
// when they are taken, loads the animation (its pictures and sound are
// missing) and plays, restores, pauses and recaps over its score.
//
// Input: two little-endian 16-bit lengths, DEFANIM.TXT and JUMPS.TXT of
// those lengths, and the rest as SCORE.VM. The files are written to one
// temporary folder per process, served on U: as a local store.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "base/TGestorGDI.h"
#include "ehdd/TEHDDClient.h"
#include "media/FakeAudioAnim.h"
#include "media/TGestorAnim.h"
#include "platform/MessageBox.h"
#include "platform/ui/Headless.h"

namespace {

constexpr size_t kMaxInput = size_t{1} << 20;

// What must hold for every input; a failure names its line.
#define CHECK(condition)                                                              \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "anim_fuzz:%d: %s does not hold\n", __LINE__, #condition); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

struct Harness {
  Harness() {
    char pattern[] = "/tmp/lectoria-fuzz-anim-XXXXXX";
    CHECK(mkdtemp(pattern) != nullptr);
    folder = pattern;
    std::filesystem::create_directories(folder + "/ANIM");
    client.Mount(folder.c_str(), 'U');
    client.AddLocalLetter('U', "");
    platform::SetMessageSink([](const std::string&, const std::string&, unsigned type) {
      return platform::DefaultButton(type);
    });
    platform::SetExitHook([](int) { std::abort(); });  // a refusal never ends the process
    SetUnitControlWindow(&window);
  }
  ~Harness() {
    SetUnitControlWindow(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  void Write(const char* name, const uint8_t* data, size_t size) const {
    FILE* out = std::fopen((folder + "/ANIM/" + name).c_str(), "wb");
    CHECK(out != nullptr);
    CHECK(size == 0 || std::fwrite(data, 1, size, out) == size);
    std::fclose(out);
  }
  std::string folder;
  TEHDDClient client;
  platform::ui::HeadlessControlSite window{687, 534};
  TGestorGDI gdi;
  TGestorBMP bmp{nullptr, &gdi, &client};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  static Harness harness;
  size_t def = 0;
  size_t jumps = 0;
  if (size >= 4) {
    def = data[0] | (data[1] << 8);
    jumps = data[2] | (data[3] << 8);
    data += 4;
    size -= 4;
  }
  def = std::min(def, size);
  jumps = std::min(jumps, size - def);
  harness.Write("DEFANIM.TXT", data, def);
  harness.Write("JUMPS.TXT", data + def, jumps);
  harness.Write("SCORE.VM", data + def + jumps, size - def - jumps);

  FakeAudioAnim audio;
  TGestorAnim anim;
  anim.SetGestorGDI(&harness.gdi);
  anim.SetEHDDClient(&harness.client);
  anim.SetGestorBMP(&harness.bmp);
  anim.SetAudio(&audio);
  CHECK(anim.Iniciar());
  if (anim.CargarAnim("U:\\ANIM") != 0) return 0;
  CHECK(anim.ContarImagenes() <= TGestorAnim::kMaxImagenes);
  (void)anim.PlanDeCarga();
  CHECK(anim.EsperarCarga(60000));  // every load ends loaded
  const uint16_t frames = anim.NumFrames();
  if (frames == 0) return 0;
  // Start at a few frames taken from the score, tick through some frames,
  // pause and resume, and recap.
  for (uint16_t start :
       {uint16_t{0}, static_cast<uint16_t>(frames / 2), static_cast<uint16_t>(frames - 1)}) {
    anim.PlayAnim(start);
    for (int tick = 0; tick < 12; ++tick) {
      anim.TimerTicAnim();
      audio.Tic(100);
    }
    anim.PauseAnim();
    anim.PauseAnim();
    anim.RecapAnim();
    CHECK(anim.FrameActual() <= frames);
    anim.PintarFondo(anim.Area(), 0, 0);
  }
  return 0;
}

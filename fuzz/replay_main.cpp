// Feeds every saved input of a corpus folder (or single files) to the
// harness, so the fuzzers' findings run as ordinary tests.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  static const uint8_t kNothing = 0;  // libFuzzer never passes a null pointer
  LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (entry.is_regular_file()) count += RunFile(entry.path());
      }
    } else if (std::filesystem::exists(path)) {
      count += RunFile(path);
    }
  }
  // An empty input is always worth a run.
  static const uint8_t kNothing = 0;
  LLVMFuzzerTestOneInput(&kNothing, 0);
  std::printf("replayed %d inputs\n", count);
  return 0;
}

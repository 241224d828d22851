// 16-bit PCM WAV files: the file audio backend writes its output streams
// with WavWriter and feeds capture from ReadWav16; the audio tool converts
// with both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct Wav16 {
  uint32_t sample_rate = 0;
  uint16_t channels = 0;
  std::vector<int16_t> samples;  // interleaved when channels > 1
};

// Reads a whole WAV file of 16-bit PCM samples. False, with what is wrong in
// *error, for a file that cannot be read, is not RIFF/WAVE, has no "fmt " or
// "data" chunk, is not 16-bit PCM, or is larger than 256 MiB. A data chunk
// that claims more than the file holds gives what the file holds.
bool ReadWav16(const std::string& path, Wav16* wav, std::string* error);

// Writes mono 16-bit samples as they come; the sizes in the header are set
// when the file is closed.
class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  bool Open(const std::string& path, uint32_t sample_rate, std::string* error);
  bool Write(const int16_t* samples, size_t count);
  // Writes the sizes and closes; false when anything failed since Open.
  bool Close();
  bool is_open() const { return file_ != nullptr; }

 private:
  FILE* file_ = nullptr;
  uint64_t data_bytes_ = 0;
  uint32_t rate_ = 0;
  bool failed_ = false;
};

// A whole mono file at once.
bool WriteWav16(const std::string& path, uint32_t sample_rate, const int16_t* samples, size_t count,
                std::string* error);

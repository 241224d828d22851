#include "media/WavFile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kMaxWavBytes = uint64_t{256} << 20;
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// The 44-byte header of a mono 16-bit PCM file holding data_bytes.
void Header(uint8_t* h, uint32_t rate, uint32_t data_bytes) {
  std::memcpy(h, "RIFF", 4);
  Put32(h + 4, 36 + data_bytes);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  Put32(h + 16, 16);
  Put16(h + 20, kFormatPcm);
  Put16(h + 22, 1);
  Put32(h + 24, rate);
  Put32(h + 28, rate * 2);
  Put16(h + 32, 2);
  Put16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  Put32(h + 40, data_bytes);
}

}  // namespace

bool ReadWav16(const std::string& path, Wav16* wav, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return Fail(error, "cannot open");
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, f);
    if (got == 0) break;
    if (bytes.size() + got > kMaxWavBytes) {
      std::fclose(f);
      return Fail(error, "larger than 256 MiB");
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) return Fail(error, "cannot read");
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return Fail(error, "not a WAV file");
  }
  bool have_format = false;
  uint16_t format = 0;
  uint16_t bits = 0;
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    const uint8_t* head = bytes.data() + pos;
    const uint64_t size = U32(head + 4);
    const size_t body = pos + 8;
    const size_t available = bytes.size() - body;
    if (std::memcmp(head, "fmt ", 4) == 0) {
      if (size < 16 || available < 16) return Fail(error, "damaged format chunk");
      const uint8_t* fmt = bytes.data() + body;
      format = U16(fmt);
      wav->channels = U16(fmt + 2);
      wav->sample_rate = U32(fmt + 4);
      bits = U16(fmt + 14);
      if (format == kFormatExtensible && size >= 40 && available >= 40) {
        format = U16(fmt + 24);  // the sub-format's first two bytes
      }
      have_format = true;
    } else if (std::memcmp(head, "data", 4) == 0) {
      if (!have_format) return Fail(error, "data before the format chunk");
      if (format != kFormatPcm || bits != 16 || wav->channels == 0) {
        return Fail(error, "not 16-bit PCM");
      }
      const size_t length = static_cast<size_t>(std::min<uint64_t>(size, available)) & ~size_t{1};
      wav->samples.resize(length / 2);
      for (size_t i = 0; i < wav->samples.size(); ++i) {
        wav->samples[i] = static_cast<int16_t>(U16(bytes.data() + body + 2 * i));
      }
      return true;
    }
    if (size > available) break;
    pos = body + static_cast<size_t>(size) + (size & 1);
  }
  return Fail(error, have_format ? "no data chunk" : "no format chunk");
}

WavWriter::~WavWriter() {
  Close();
}

bool WavWriter::Open(const std::string& path, uint32_t sample_rate, std::string* error) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return Fail(error, path + ": cannot create");
  data_bytes_ = 0;
  failed_ = false;
  uint8_t header[44];
  Header(header, sample_rate, 0);
  if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) failed_ = true;
  rate_ = sample_rate;
  return true;
}

bool WavWriter::Write(const int16_t* samples, size_t count) {
  if (file_ == nullptr || failed_) return false;
  // RIFF sizes are 32-bit: a stream longer than that is cut there.
  if (data_bytes_ + count * 2 > 0xFFFFFFFFull - 36) return false;
  uint8_t out[4096];
  size_t done = 0;
  while (done < count) {
    const size_t n = std::min(count - done, sizeof out / 2);
    for (size_t i = 0; i < n; ++i) Put16(out + 2 * i, static_cast<uint16_t>(samples[done + i]));
    if (std::fwrite(out, 1, n * 2, file_) != n * 2) {
      failed_ = true;
      return false;
    }
    done += n;
  }
  data_bytes_ += count * 2;
  return true;
}

bool WavWriter::Close() {
  if (file_ == nullptr) return false;
  uint8_t header[44];
  Header(header, rate_, static_cast<uint32_t>(data_bytes_));
  if (std::fseek(file_, 0, SEEK_SET) != 0 ||
      std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
    failed_ = true;
  }
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

bool WriteWav16(const std::string& path, uint32_t sample_rate, const int16_t* samples, size_t count,
                std::string* error) {
  WavWriter writer;
  if (!writer.Open(path, sample_rate, error)) return false;
  const bool written = writer.Write(samples, count);
  if (!writer.Close() || !written) return Fail(error, path + ": cannot write");
  return true;
}

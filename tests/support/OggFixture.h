// OGG Vorbis fixtures made at test time with libvorbisenc, and a bare
// vorbisfile decode from memory to compare the engine's playback against.
#pragma once

#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace ogg_fixture {

// A sweep with a little noise, so every buffer differs from its neighbours.
inline std::vector<int16_t> Senal(size_t frames, long rate, int channels = 1) {
  std::vector<int16_t> out(frames * channels);
  uint32_t seed = 1234567;
  double phase = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double hz = 200.0 + 600.0 * static_cast<double>(i % rate) / rate;
    phase += 2 * M_PI * hz / rate;
    seed = seed * 1103515245u + 12345u;
    const double noise = static_cast<double>((seed >> 16) & 0x3FF) - 512.0;
    const int16_t v = static_cast<int16_t>(8000.0 * std::sin(phase) + noise);
    for (int c = 0; c < channels; ++c) out[i * channels + c] = v;
  }
  return out;
}

// Encodes interleaved 16-bit samples; the bytes of the whole file.
inline std::string Codificar(const std::vector<int16_t>& samples, int channels, long rate,
                             float quality = 0.2f) {
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) std::abort();
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 4242);
  std::string out;
  auto write_page = [&out](const ogg_page& page) {
    out.append(reinterpret_cast<const char*>(page.header), page.header_len);
    out.append(reinterpret_cast<const char*>(page.body), page.body_len);
  };
  ogg_packet header, comments, codebooks;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &codebooks);
  ogg_page page;
  while (ogg_stream_flush(&os, &page) != 0) write_page(page);
  const size_t frames = samples.size() / channels;
  size_t done = 0;
  bool eos = false;
  while (!eos) {
    const size_t n = std::min<size_t>(1024, frames - done);
    if (n == 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
      for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
          buffer[c][i] = samples[(done + i) * channels + c] / 32768.0f;
      vorbis_analysis_wrote(&vd, static_cast<int>(n));
      done += n;
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&vd, &packet) != 0) {
        ogg_stream_packetin(&os, &packet);
        while (ogg_stream_pageout(&os, &page) != 0) {
          write_page(page);
          if (ogg_page_eos(&page)) eos = true;
        }
      }
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

inline std::string Mono22050(double seconds, float quality = 0.2f) {
  return Codificar(Senal(static_cast<size_t>(seconds * 22050), 22050), 1, 22050, quality);
}

// The byte offsets where OGG pages start.
inline std::vector<size_t> Paginas(const std::string& bytes) {
  std::vector<size_t> out;
  for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (std::memcmp(bytes.data() + i, "OggS", 4) == 0) out.push_back(i);
  }
  return out;
}

struct Memoria {
  const std::string* bytes;
  size_t pos = 0;
};

inline size_t LeerMemoria(void* ptr, size_t size, size_t count, void* source) {
  auto* m = static_cast<Memoria*>(source);
  const size_t want = size * count;
  const size_t n = std::min(want, m->bytes->size() - m->pos);
  std::memcpy(ptr, m->bytes->data() + m->pos, n);
  m->pos += n;
  return size ? n / size : 0;
}
inline int SeekMemoria(void* source, ogg_int64_t offset, int whence) {
  auto* m = static_cast<Memoria*>(source);
  int64_t base = whence == SEEK_SET   ? 0
                 : whence == SEEK_CUR ? static_cast<int64_t>(m->pos)
                                      : static_cast<int64_t>(m->bytes->size());
  const int64_t target = base + offset;
  if (target < 0 || target > static_cast<int64_t>(m->bytes->size())) return -1;
  m->pos = static_cast<size_t>(target);
  return 0;
}
inline long TellMemoria(void* source) {
  return static_cast<long>(static_cast<Memoria*>(source)->pos);
}

inline ov_callbacks CallbacksMemoria() {
  return ov_callbacks{&LeerMemoria, &SeekMemoria, nullptr, &TellMemoria};
}

// Every sample a bare vorbisfile decode gives, lost pages skipped.
inline std::vector<int16_t> Decodificar(const std::string& bytes, double from_s = 0) {
  Memoria m{&bytes};
  OggVorbis_File vf;
  std::vector<int16_t> out;
  if (ov_open_callbacks(&m, &vf, nullptr, 0, CallbacksMemoria()) < 0) return out;
  if (from_s > 0) ov_time_seek(&vf, from_s);
  char buffer[4096];
  for (;;) {
    int link = 0;
    long n = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &link);
    if (n == OV_HOLE) continue;
    if (n <= 0) break;
    const size_t old = out.size();
    out.resize(old + n / 2);
    std::memcpy(out.data() + old, buffer, n);
  }
  ov_clear(&vf);
  return out;
}

}  // namespace ogg_fixture

// The audio device without sound hardware. Its streams deliver silence to
// capture and drop what playback gives them; a stream's time is the frames
// it has passed. Paced in real time (a thread per started stream running one
// callback per buffer duration on the platform clock) or pumped (a test
// runs each callback with Pump).
//
// As the file backend it also writes every buffer of each output stream
// (silences included) to a 16-bit mono WAV at the stream's rate, and feeds
// capture from a 16-bit mono WAV in packets of the stream's frames: the last
// zero-padded, then no more callbacks, and CaptureExhausted() turns true.
//
// Hooks for tests make the next open or start fail, or stop the callbacks
// (a stalled device: no callbacks, its time stands still).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "media/AudioDevice.h"

class NullAudioDevice : public AudioDevice {
 public:
  enum class Pacing { kRealTime, kPumped };

  explicit NullAudioDevice(Pacing pacing = Pacing::kRealTime);
  ~NullAudioDevice() override;
  NullAudioDevice(const NullAudioDevice&) = delete;
  NullAudioDevice& operator=(const NullAudioDevice&) = delete;

  // The WAV file the output stream opened n-th (from 1) is written to; an
  // empty name writes nothing. No namer: nothing is written.
  void SetOutputFiles(std::function<std::string(uint32_t n)> namer);
  // Capture streams read this WAV (16-bit mono); empty: silence. A file that
  // is absent gives silence when missing_is_silence, else fails the open.
  void SetCaptureFile(const std::string& path, bool missing_is_silence);

  void FailNextOpen(const std::string& reason);
  void FailNextStart(const std::string& reason);
  void StopCallbacks(bool stopped);

  // Pumped pacing: runs one callback of the started stream on the calling
  // thread. False when no stream runs or its callbacks are stopped.
  bool Pump();
  // The last capture stream has delivered its whole file.
  bool CaptureExhausted() const { return capture_exhausted_.load(); }
  uint32_t OutputStreamsOpened() const;
  // A stream is open and started.
  bool Running() const;

  std::unique_ptr<AudioStream> OpenDefaultStream(const AudioStreamParams& params,
                                                 AudioCallback callback, void* user,
                                                 std::string* reason) override;

 private:
  class Stream;
  friend class Stream;

  const Pacing pacing_;
  mutable std::mutex mutex_;
  std::function<std::string(uint32_t)> namer_;
  std::string capture_path_;
  bool missing_is_silence_ = true;
  std::string fail_open_;
  std::string fail_start_;
  uint32_t outputs_opened_ = 0;
  Stream* running_ = nullptr;  // the last stream started, for Pump
  std::atomic<bool> callbacks_stopped_{false};
  std::atomic<bool> capture_exhausted_{false};
};

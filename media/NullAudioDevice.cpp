#include "media/NullAudioDevice.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "media/WavFile.h"
#include "platform/Clock.h"

namespace {

constexpr uint32_t kPacingStepMs = 20;

bool FileExists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

}  // namespace

class NullAudioDevice::Stream : public AudioStream {
 public:
  Stream(NullAudioDevice& device, const AudioStreamParams& params, AudioCallback callback,
         void* user)
      : device_(device),
        params_(params),
        callback_(callback),
        user_(user),
        silence_(params.frames_per_buffer, 0),
        output_(params.frames_per_buffer, 0) {}

  ~Stream() override {
    Stop();
    if (writer_) writer_->Close();
  }

  bool Start(std::string* reason) override {
    {
      std::lock_guard<std::mutex> lock(device_.mutex_);
      if (!device_.fail_start_.empty()) {
        if (reason) *reason = device_.fail_start_;
        device_.fail_start_.clear();
        return false;
      }
      if (started_) return true;
      started_ = true;
      device_.running_ = this;
      if (params_.input_channels > 0) device_.capture_exhausted_.store(false);
    }
    if (device_.pacing_ == Pacing::kRealTime) {
      stop_.store(false);
      pacer_ = std::thread([this] { Pace(); });
    }
    return true;
  }

  void Stop() override {
    stop_.store(true);
    if (pacer_.joinable()) pacer_.join();
    std::lock_guard<std::mutex> lock(device_.mutex_);
    if (device_.running_ == this) device_.running_ = nullptr;
    started_ = false;
  }

  uint32_t TimeMs() override {
    return static_cast<uint32_t>(frames_passed_.load() * 1000 / params_.sample_rate);
  }

  // One buffer: false when the callbacks are stopped or the capture file is
  // used up.
  bool RunOne() {
    std::lock_guard<std::mutex> lock(run_mutex_);
    if (device_.callbacks_stopped_.load() || exhausted_.load()) return false;
    const uint32_t frames = params_.frames_per_buffer;
    const int16_t* input = nullptr;
    if (params_.input_channels > 0) {
      input = silence_.data();
      if (capture_ != nullptr) {
        std::fill(output_.begin(), output_.end(), 0);
        const size_t n = std::min<size_t>(frames, capture_->size() - capture_pos_);
        std::copy_n(capture_->data() + capture_pos_, n, output_.begin());
        capture_pos_ += n;
        input = output_.data();
      }
    }
    int16_t* output = params_.output_channels > 0 ? output_.data() : nullptr;
    if (output != nullptr) std::fill(output_.begin(), output_.end(), 0);
    const uint32_t time_ms = TimeMs();
    callback_(input, output, frames, time_ms, user_);
    frames_passed_.fetch_add(frames);
    if (output != nullptr && writer_) writer_->Write(output, frames);
    if (capture_ != nullptr && capture_pos_ >= capture_->size()) {
      exhausted_.store(true);
      device_.capture_exhausted_.store(true);
    }
    return true;
  }

  std::unique_ptr<WavWriter> writer_;
  std::unique_ptr<std::vector<int16_t>> capture_;

 private:
  void Pace() {
    const uint64_t frames = params_.frames_per_buffer;
    const uint64_t rate = params_.sample_rate;
    uint32_t start = platform::TickCount();
    uint64_t count = 0;
    while (!stop_.load()) {
      const uint64_t due = count * frames * 1000 / rate;
      const uint32_t elapsed = platform::TickCount() - start;
      if (device_.callbacks_stopped_.load() || exhausted_.load()) {
        // A stalled device keeps its time: no burst of callbacks afterwards.
        start = platform::TickCount() - static_cast<uint32_t>(due);
        platform::SleepMs(kPacingStepMs);
        continue;
      }
      if (elapsed >= due) {
        if (RunOne()) ++count;
      } else {
        platform::SleepMs(std::min<uint32_t>(static_cast<uint32_t>(due - elapsed), kPacingStepMs));
      }
    }
  }

  NullAudioDevice& device_;
  const AudioStreamParams params_;
  const AudioCallback callback_;
  void* const user_;
  std::vector<int16_t> silence_;
  std::vector<int16_t> output_;
  size_t capture_pos_ = 0;
  std::atomic<bool> exhausted_{false};
  bool started_ = false;
  std::mutex run_mutex_;
  std::thread pacer_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> frames_passed_{0};
};

NullAudioDevice::NullAudioDevice(Pacing pacing) : pacing_(pacing) {}

NullAudioDevice::~NullAudioDevice() = default;

void NullAudioDevice::SetOutputFiles(std::function<std::string(uint32_t)> namer) {
  std::lock_guard<std::mutex> lock(mutex_);
  namer_ = std::move(namer);
}

void NullAudioDevice::SetCaptureFile(const std::string& path, bool missing_is_silence) {
  std::lock_guard<std::mutex> lock(mutex_);
  capture_path_ = path;
  missing_is_silence_ = missing_is_silence;
}

void NullAudioDevice::FailNextOpen(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_open_ = reason;
}

void NullAudioDevice::FailNextStart(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_start_ = reason;
}

void NullAudioDevice::StopCallbacks(bool stopped) {
  callbacks_stopped_.store(stopped);
}

bool NullAudioDevice::Pump() {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_ != nullptr && running_->RunOne();
}

uint32_t NullAudioDevice::OutputStreamsOpened() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outputs_opened_;
}

bool NullAudioDevice::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_ != nullptr;
}

std::unique_ptr<AudioStream> NullAudioDevice::OpenDefaultStream(const AudioStreamParams& params,
                                                                AudioCallback callback, void* user,
                                                                std::string* reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto fail = [reason](const std::string& text) {
    if (reason) *reason = text;
    return std::unique_ptr<AudioStream>();
  };
  if (!fail_open_.empty()) {
    const std::string text = fail_open_;
    fail_open_.clear();
    return fail(text);
  }
  if (callback == nullptr || params.sample_rate == 0 || params.frames_per_buffer == 0 ||
      (params.input_channels > 0) == (params.output_channels > 0)) {
    return fail("unsupported stream parameters");
  }
  // What the stream writes or reads is had first: a stream is never
  // destroyed under the device's lock.
  std::unique_ptr<WavWriter> writer;
  std::unique_ptr<std::vector<int16_t>> capture;
  if (params.output_channels > 0) {
    const uint32_t n = ++outputs_opened_;
    const std::string name = namer_ ? namer_(n) : std::string();
    std::string error;
    if (!name.empty()) {
      writer = std::make_unique<WavWriter>();
      if (!writer->Open(name, params.sample_rate, &error)) return fail(error);
    }
  } else if (!capture_path_.empty()) {
    if (FileExists(capture_path_) || !missing_is_silence_) {
      Wav16 wav;
      std::string error;
      if (!ReadWav16(capture_path_, &wav, &error)) return fail(capture_path_ + ": " + error);
      if (wav.channels != 1) return fail(capture_path_ + ": not mono");
      capture = std::make_unique<std::vector<int16_t>>(std::move(wav.samples));
    }
  }
  auto stream = std::make_unique<Stream>(*this, params, callback, user);
  stream->writer_ = std::move(writer);
  stream->capture_ = std::move(capture);
  return stream;
}

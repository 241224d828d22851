// A message sink that behaves as the program's: the thread that installs it
// plays the GUI thread. A box asked for on that thread is shown (answered)
// at once; one asked for on any other thread waits until the GUI thread
// serves it (Serve, RunUntil), as the program's box waits for its event
// loop. The wait is capped only so that a test that would freeze fails
// instead: a box left waiting that long is counted as a freeze.
//
// Every box also records whether its thread held an engine lock when it
// was asked for: a box shown under one is the fault the engine must never
// make.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/MessageBox.h"

namespace test_support {

class GuiThreadSink {
 public:
  explicit GuiThreadSink(std::chrono::milliseconds freeze_after = std::chrono::seconds(4))
      : gui_(std::this_thread::get_id()), freeze_after_(freeze_after) {
    platform::SetMessageSink([this](const std::string& text, const std::string& caption,
                                    unsigned type) { return Ask(text, caption, type); });
  }
  ~GuiThreadSink() {
    platform::SetMessageSink(nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (auto& request : waiting_) request->answered = true;
    waiting_.clear();
    changed_.notify_all();
  }
  GuiThreadSink(const GuiThreadSink&) = delete;
  GuiThreadSink& operator=(const GuiThreadSink&) = delete;

  // GUI thread: answers the boxes that wait; gives how many.
  int Serve() {
    std::deque<std::shared_ptr<Request>> requests;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests.swap(waiting_);
      for (auto& request : requests) {
        shown_.push_back(request->text);
        request->answered = true;
      }
    }
    changed_.notify_all();
    return static_cast<int>(requests.size());
  }

  // GUI thread: runs step (the host's poll and timers) and serves boxes
  // until done() or the limit; true when done.
  bool RunUntil(const std::function<bool()>& done, const std::function<void()>& step,
                std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (step) step();
      Serve();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Serve();
    return done();
  }

  // Texts of the boxes shown, in order.
  std::vector<std::string> Shown() {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
  }
  int Count(const std::string& text) {
    int n = 0;
    for (const auto& shown : Shown()) n += shown == text;
    return n;
  }
  // Texts of the boxes asked for while their thread held an engine lock.
  std::vector<std::string> AskedUnderLock() {
    std::lock_guard<std::mutex> lock(mutex_);
    return under_lock_;
  }
  // Boxes that waited for the GUI thread longer than the freeze time.
  int Frozen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frozen_;
  }

 private:
  struct Request {
    std::string text;
    bool answered = false;
  };

  int Ask(const std::string& text, const std::string&, unsigned type) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (platform::EngineLocksHeld() > 0) under_lock_.push_back(text);
    if (std::this_thread::get_id() == gui_ || closed_) {
      shown_.push_back(text);
      return platform::DefaultButton(type);
    }
    auto request = std::make_shared<Request>();
    request->text = text;
    waiting_.push_back(request);
    if (!changed_.wait_for(lock, freeze_after_, [&] { return request->answered; })) {
      ++frozen_;
      for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        if (*it == request) {
          waiting_.erase(it);
          break;
        }
      }
    }
    return platform::DefaultButton(type);
  }

  const std::thread::id gui_;
  const std::chrono::milliseconds freeze_after_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Request>> waiting_;
  std::vector<std::string> shown_;
  std::vector<std::string> under_lock_;
  int frozen_ = 0;
  bool closed_ = false;
};

}  // namespace test_support

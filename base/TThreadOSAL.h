// A thread that is an object: Run() is its body, polled stop flag, running
// flag while Run executes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class TThreadOSAL {
 public:
  explicit TThreadOSAL(uint32_t parametro);
  // Joins the thread. A subclass whose Run uses the subclass's own members
  // must stop and join in its own destructor (StopAndJoin), since those
  // members are gone by the time this destructor runs.
  virtual ~TThreadOSAL();

  TThreadOSAL(const TThreadOSAL&) = delete;
  TThreadOSAL& operator=(const TThreadOSAL&) = delete;

  virtual void Run() = 0;

  // Starts a new thread running Run(). A thread that has ended is joined
  // first; one that still runs is kept and no second thread is started
  // (returns false).
  bool Start();
  // Clears the stop flag, then Start().
  bool Launch();
  // Waits for the thread to end and releases it; nothing when none is held.
  void Join();
  // Sets the stop flag and joins.
  void StopAndJoin();

  bool HoldsThread() const;
  static void Dormir(uint32_t ms);

  std::atomic<uint8_t> stop{0};
  std::atomic<uint8_t> running{0};
  const uint32_t parametro;

 private:
  static void ThreadProc(TThreadOSAL* self);

  mutable std::mutex thread_mutex_;
  std::thread thread_;
  std::atomic<bool> finished_{true};
};

// Sleeps the calling thread (the platform clock's sleep).
void Dormir(uint32_t ms);

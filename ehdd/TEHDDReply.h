// A caller's pending eHDD request: filled by the completion callback, then
// the semaphore is released once. The reply owns its data unless the data
// is the receive buffer the caller gave.
#pragma once

#include <cstdint>

#include "base/Semaphore.h"

struct TEHDDReply {
  int32_t status = 1;  // 0 success
  unsigned char* data = nullptr;
  uint32_t length = 0;
  uint32_t receive_size = 0;
  unsigned char* receive = nullptr;  // the caller's buffer, when it gave one
  // Nobody waits for this one: the completion deletes it (a close whose
  // answer nobody needs).
  bool suelta = false;
  Semaphore semaphore{0};

  TEHDDReply() = default;
  TEHDDReply(const TEHDDReply&) = delete;
  TEHDDReply& operator=(const TEHDDReply&) = delete;
  ~TEHDDReply() { Release(); }

  // Takes over the data of a completed request.
  void Fill(int32_t new_status, unsigned char* new_data, uint32_t new_length) {
    Release();
    status = new_status;
    data = new_data;
    length = new_length;
  }

 private:
  void Release() {
    if (data != nullptr && data != receive) delete[] data;
    data = nullptr;
  }
};

// The 32000-byte write buffer of a server file open for writing: bytes wait
// here and travel to the server in requests of up to 32000 bytes.
//
// The buffer orders its own appends and flushes with a lock of its own,
// held while a flush waits for the server; the client's buffer lock only
// finds buffers in its table, so other files' opens and closes never wait
// for this file's request.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TEHDDClient;
struct TFicheroEHDD;

class TEHDDWriteBuffer {
 public:
  static constexpr uint32_t kCapacidad = 32000;

  TEHDDWriteBuffer(TEHDDClient* client, std::string session_id, TFicheroEHDD* file);

  // Appends the bytes, flushing first whenever the buffer is full. Throws
  // the lost-connection text when a flush fails (the buffer keeps its bytes).
  void Append(const unsigned char* data, uint32_t size);
  // Sends "CM=WR" with the waiting bytes (also when there are none) at the
  // file's offset; on success the offset moves past them and the buffer
  // empties. Throws the lost-connection text on failure.
  void Flush();
  // Flushes when bytes are waiting.
  void FlushIfFilled();

  uint32_t fill() const;
  TFicheroEHDD* file() const { return file_; }

 private:
  void FlushLocked();

  mutable std::mutex mutex_;
  TEHDDClient* client_;
  std::string session_id_;
  uint32_t fill_ = 0;
  std::vector<unsigned char> data_;
  uint32_t capacity_ = kCapacidad;
  TFicheroEHDD* file_;
};

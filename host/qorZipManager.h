// One pack archive: a zip archive, possibly behind a prefix that an 8-byte
// trailer ("QOR", one byte, the u32 base offset) tells the length of.
#pragma once

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>
#include <string>

#include <minizip/unzip.h>

// The base offset a pack's trailer gives; 0 when there is none, or when the
// file cannot be opened ("No puedo abrir %s\n" on the standard output).
// *valid is false when the trailer names an offset past the archive.
uint32_t ReadPackTrailer(const std::string& path, bool* valid = nullptr);
// Where ReadPackTrailer prints (standard output; nullptr for nothing).
void SetPackTrace(FILE* stream);

class qorZipManager {
 public:
  // Members larger than this are refused.
  static constexpr uint64_t kMaxMember = 64ull << 20;

  ~qorZipManager() { Close(); }
  bool SetPath(const std::string& path) {
    path_ = path;
    return true;
  }
  bool Open();
  bool Close();
  // Finds a member, ASCII case ignored, and opens it without a password.
  bool OpenMember(const std::string& name, uint32_t& size);
  uint32_t ReadMember(void* destination, uint32_t length);
  // False when no member was open, or when the member's CRC did not match
  // what was read of it.
  bool CloseMember();

  uint32_t base() const { return base_; }
  // Every member's name and size, in directory order; false when the
  // directory cannot be walked.
  bool ListMembers(std::vector<std::pair<std::string, uint64_t>>& members);

  // What the zip reader's file functions need of their archive.
  struct Io {
    uint32_t base = 0;
    uint32_t trailer = 0;  // 8 while the base is not 0
  };

 private:
  std::string path_;
  std::string password_;
  bool zip_open_ = false;
  bool member_open_ = false;
  unzFile zip_ = nullptr;
  uint32_t base_ = 0;
  Io io_;
};

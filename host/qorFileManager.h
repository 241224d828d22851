// The host's files: pack archives registered under names, one-character
// aliases bound to them, and paths "alias:member" that read a member whole;
// any other path is an ordinary file. Used from the window thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/qorZipManager.h"

struct AFILE {
  FILE* stream = nullptr;
  qorZipManager* archive = nullptr;
  bool in_archive = false;
  uint32_t size = 0;
  std::unique_ptr<unsigned char[]> data;
  uint32_t position = 0;
};

class qorFileManager {
 public:
  static qorFileManager* Instance();
  static void Release();

  bool OpenArchive(const std::string& name, const std::string& path);
  bool SelectArchive(const std::string& name) const { return archives_.count(name) > 0; }
  void SetAlias(const std::string& alias, const std::string& name) { aliases_[alias] = name; }
  // Null when the member or file cannot be had whole: a member that is
  // missing, too large, short or fails its CRC does not open.
  AFILE* Open(const std::string& path, const char* mode);
  size_t Read(void* destination, size_t item_size, size_t count, AFILE* handle);
  // 0 when the handle was open (it is then freed); 1, touching nothing, otherwise.
  int Close(AFILE* handle);
  bool ReadWholeFile(const std::string& path, std::unique_ptr<unsigned char[]>& buffer,
                     uint32_t& length);
  static std::string MemberName(const std::string& text);

 private:
  std::map<std::string, std::unique_ptr<qorZipManager>> archives_;
  std::map<std::string, std::string> aliases_;
  std::vector<AFILE*> open_;
};

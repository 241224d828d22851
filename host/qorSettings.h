// A small text file of name=value lines, read into a table ordered by name.
// Lines end at CR LF; a line ending in ',' continues on the next one.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <string>

class qorSettings {
 public:
  static qorSettings* Instance();
  static void Release();

  void SetFile(const std::string& path) { path_ = path; }
  // Load reads at most this many bytes; a longer file leaves the table empty
  // and over_max_bytes() set. No limit unless one is set.
  void SetMaxBytes(uint64_t max_bytes) { max_bytes_ = max_bytes; }
  // 0 when the file cannot be opened (the table is then empty), else 1.
  int Load();
  bool Get(const char* name, std::string& value) const;
  // Splits one line at its first '=' and enters it unless the name is known.
  void AddLine(const std::string& line);

  const std::map<std::string, std::string>& entries() const { return entries_; }
  // Non-empty lines the last Load ignored for want of '='.
  int ignored_lines() const { return ignored_lines_; }
  // The last Load stopped because the file is longer than the limit.
  bool over_max_bytes() const { return over_max_bytes_; }

 private:
  std::string path_;
  std::map<std::string, std::string> entries_;
  uint64_t max_bytes_ = std::numeric_limits<uint64_t>::max();
  int ignored_lines_ = 0;
  bool over_max_bytes_ = false;
};

// A small text file of name=value lines, read into a table ordered by name.
// Lines end at CR LF; a line ending in ',' continues on the next one.
#pragma once

#include <map>
#include <string>

class qorSettings {
 public:
  static qorSettings* Instance();
  static void Release();

  void SetFile(const std::string& path) { path_ = path; }
  // 0 when the file cannot be opened (the table is then empty), else 1.
  int Load();
  bool Get(const char* name, std::string& value) const;
  // Splits one line at its first '=' and enters it unless the name is known.
  void AddLine(const std::string& line);

  const std::map<std::string, std::string>& entries() const { return entries_; }

 private:
  std::string path_;
  std::map<std::string, std::string> entries_;
};

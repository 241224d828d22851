#include "host/qorSettings.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace {

std::mutex g_mutex;
std::unique_ptr<qorSettings> g_instance;

}  // namespace

qorSettings* qorSettings::Instance() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_instance) g_instance = std::make_unique<qorSettings>();
  return g_instance.get();
}

void qorSettings::Release() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_instance.reset();
}

void qorSettings::AddLine(const std::string& line) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) {
    if (!line.empty()) ++ignored_lines_;
    return;
  }
  entries_.emplace(line.substr(0, eq), line.substr(eq + 1));  // the first value stays
}

int qorSettings::Load() {
  entries_.clear();
  ignored_lines_ = 0;
  over_max_bytes_ = false;
  FILE* f = std::fopen(path_.c_str(), "rb");
  if (f == nullptr) return 0;
  std::string line;
  bool pending_cr = false;
  int last = -1;  // none
  uint64_t count = 0;
  for (int c; (c = std::fgetc(f)) != EOF;) {
    if (count++ == max_bytes_) {
      over_max_bytes_ = true;
      entries_.clear();
      ignored_lines_ = 0;
      std::fclose(f);
      return 1;
    }
    if (c == '\r') {
      pending_cr = true;
    } else if (c == '\n') {
      if (pending_cr) {
        if (last != ',') {
          AddLine(line);
          line.clear();
        }
        last = -1;
      }
    } else {
      line += static_cast<char>(c);
      last = c;
      pending_cr = false;
    }
  }
  if (!line.empty()) AddLine(line);
  std::fclose(f);
  return 1;
}

bool qorSettings::Get(const char* name, std::string& value) const {
  if (name == nullptr) return false;
  auto it = entries_.find(name);
  if (it == entries_.end()) return false;
  value = it->second;
  return true;
}

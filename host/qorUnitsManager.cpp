#include "host/qorUnitsManager.h"


#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>

#include "host/qorStringTokenizer.h"
#include "platform/FileIo.h"

namespace {

std::mutex g_mutex;
std::unique_ptr<qorUnitsManager> g_instance;

// atol's reading (leading blanks, a sign, digits up to the first other
// character, none giving 0), without overflow: the value is clamped to 32 bits.
int32_t ReadNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

bool qorUnit::Format(const qorUnit& e, std::string& text) {
  if (e.number == 0) return false;
  char line[128];
  std::snprintf(line, sizeof(line), "%d:%d:%d:%d:%d:%d:%d", e.number, e.flag, e.answers, e.errors,
                e.hours, e.minutes, e.percent);
  text = line;
  return true;
}

void qorUnit::Parse(qorUnit& e, const std::string& line) {
  qorStringTokenizer tokens(line, ':');
  for (int32_t* field : {&e.number, &e.flag, &e.answers, &e.errors, &e.hours, &e.minutes, &e.percent}) {
    if (!tokens.HasMoreTokens()) break;
    *field = ReadNumber(tokens.NextToken());
  }
}

qorUnitsManager* qorUnitsManager::Instance() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_instance) g_instance = std::make_unique<qorUnitsManager>();
  return g_instance.get();
}

void qorUnitsManager::Release() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_instance.reset();
}

qorUnitsManager::qorUnitsManager() {
  for (int g = 0; g < kLevels; ++g) {
    levels_[g].id = g;
    for (int s = 0; s < qorUnitContainerLevel::kUnits; ++s) {
      levels_[g].entries[s].number = g * qorUnitContainerLevel::kUnits + s + 1;
    }
  }
}

qorUnitContainerLevel* qorUnitsManager::Level(uint32_t g) {
  return g < kLevels ? &levels_[g] : nullptr;
}

qorUnit* qorUnitsManager::Entry(uint32_t n) {
  if (n < 1 || n > kUnitsTotal) return nullptr;
  return &levels_[(n - 1) / qorUnitContainerLevel::kUnits].entries[(n - 1) % qorUnitContainerLevel::kUnits];
}

void qorUnitsManager::SetUnitName(const char* title, uint32_t n) {
  if (n < 1 || n > kUnitsTotal || title == nullptr) return;
  levels_[(n - 1) / qorUnitContainerLevel::kUnits].titles[(n - 1) % qorUnitContainerLevel::kUnits] = title;
}

void qorUnitsManager::SetEntryFromLine(const std::string& line) {
  qorUnit parsed;
  qorUnit::Parse(parsed, line);
  if (parsed.number < 1) return;
  if (qorUnit* entry = Entry(static_cast<uint32_t>(parsed.number))) *entry = parsed;
}

bool qorUnitsManager::Load(const std::string& path) {
  std::string line;
  bool pending_cr = false;
  const platform::ReadStatus status =
      platform::ReadFileInPieces(path, [&](const char* data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
          const char c = data[i];
          if (c == '\r') {
            pending_cr = true;
          } else if (c == '\n') {
            if (pending_cr) {
              SetEntryFromLine(line);
              line.clear();
            }
          } else {
            line += c;
            pending_cr = false;
            if (line.size() > 4096) line.resize(4096);  // no line of the table is this long
          }
        }
      });
  load_failed_ = status == platform::ReadStatus::kFailed || status == platform::ReadStatus::kTooLarge;
  if (status == platform::ReadStatus::kMissing) return false;
  // What was read before a failure stays in the table.
  if (!line.empty()) SetEntryFromLine(line);
  return status == platform::ReadStatus::kRead;
}

bool qorUnitsManager::Save(const std::string& path) {
  std::string text;
  for (const auto& level : levels_) {
    for (const auto& entry : level.entries) {
      std::string line;
      qorUnit::Format(entry, line);
      text += line + "\r\n";
    }
  }
  mode_t mode = 0644;
  if (!platform::FileMode(path, mode)) mode = 0644;
  return platform::WriteFileAtomically(path, text, mode);
}

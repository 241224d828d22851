#include "host/qorStringTokenizer.h"

qorStringTokenizer::qorStringTokenizer(const std::string& text, char separator)
    : remaining_(text), separator_(separator == '\0' ? std::string() : std::string(1, separator)) {
  if (remaining_.empty() || separator_.empty()) return;
  const char sep = separator_[0];
  std::string normalised;
  normalised.reserve(remaining_.size());
  for (char c : remaining_) {
    if (c == sep && !normalised.empty() && normalised.back() == sep) continue;
    normalised += c;
  }
  if (!normalised.empty() && normalised.front() == sep) normalised.erase(0, 1);
  if (!normalised.empty() && normalised.back() == sep) normalised.pop_back();
  remaining_ = std::move(normalised);
}

std::string qorStringTokenizer::NextToken() {
  if (remaining_.empty()) return "";
  const size_t at = separator_.empty() ? std::string::npos : remaining_.find(separator_[0]);
  std::string token;
  if (at == std::string::npos) {
    token.swap(remaining_);
  } else {
    token = remaining_.substr(0, at);
    remaining_.erase(0, at + 1);
  }
  return token;
}

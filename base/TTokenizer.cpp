#include "base/TTokenizer.h"

TTokenizer::TTokenizer(const std::string& text, const std::string& separator)
    : rest_(text), separator_(separator) {
  Normalise();
}

TTokenizer::TTokenizer(const std::string& text, char separator)
    : TTokenizer(text, std::string(1, separator)) {}

void TTokenizer::Normalise() {
  if (rest_.empty() || separator_.empty()) return;
  const size_t n = separator_.size();
  std::string out;
  out.reserve(rest_.size());
  size_t i = 0;
  bool last_was_separator = false;
  while (i < rest_.size()) {
    if (rest_.compare(i, n, separator_) == 0) {
      if (!last_was_separator) out += separator_;
      last_was_separator = true;
      i += n;
    } else {
      out += rest_[i];
      last_was_separator = false;
      ++i;
    }
  }
  if (out.compare(0, n, separator_) == 0) out.erase(0, n);
  if (out.size() >= n && out.compare(out.size() - n, n, separator_) == 0) out.erase(out.size() - n);
  rest_ = std::move(out);
}

std::string TTokenizer::Next() {
  if (rest_.empty()) return "";
  if (separator_.empty()) {
    std::string all;
    all.swap(rest_);
    return all;
  }
  size_t at = rest_.find(separator_);
  if (at == std::string::npos) {
    std::string all;
    all.swap(rest_);
    return all;
  }
  std::string token = rest_.substr(0, at);
  rest_.erase(0, at + separator_.size());
  return token;
}

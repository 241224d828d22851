// Splits a text on a separator (one character or a whole string) without
// ever giving an empty token: runs of separators count as one, and
// separators at the start and at the end are dropped.
#pragma once

#include <string>

class TTokenizer {
 public:
  TTokenizer(const std::string& text, const std::string& separator);
  TTokenizer(const std::string& text, char separator);

  bool HasMore() const { return !rest_.empty(); }
  // The text up to the next separator (dropped with it); all that is left
  // when no separator remains; "" when nothing is left.
  std::string Next();
  const std::string& Rest() const { return rest_; }

 private:
  void Normalise();

  std::string rest_;
  std::string separator_;
};

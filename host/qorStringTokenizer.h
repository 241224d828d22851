// The host's tokenizer: splits a text on one separator character, runs of
// separators counting as one and separators at either end dropped, so no
// token is ever empty.
#pragma once

#include <string>

class qorStringTokenizer {
 public:
  qorStringTokenizer(const std::string& text, char separator);
  bool HasMoreTokens() const { return !remaining_.empty(); }
  std::string NextToken();

 private:
  std::string remaining_;
  std::string separator_;
};

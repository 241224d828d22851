// Silences the browser's navigation sound while the program runs: the
// constructor saves the sound's registry value and blanks it, the destructor
// puts the saved value back.
#pragma once

#include <string>

class qorDisconnectSoundIE {
 public:
  // The key whose default value names the navigation sound (current user).
  static constexpr const char* kKey = "AppEvents\\Schemes\\Apps\\Explorer\\Navigating\\.Current";

  qorDisconnectSoundIE();
  ~qorDisconnectSoundIE();
  qorDisconnectSoundIE(const qorDisconnectSoundIE&) = delete;
  qorDisconnectSoundIE& operator=(const qorDisconnectSoundIE&) = delete;

 private:
  std::string saved_;
  bool read_ = false;
};

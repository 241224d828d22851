#include "host/qorAnsi.h"

#include "host/qorUtils.h"

QString FromAnsi(const std::string& text) {
  std::u16string wide;
  AnsiToWide(text, wide, kCodePageAnsi);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

#include "host/qorDisconnectSoundIE.h"

#include "host/qorRegistry.h"

using platform::registry::Root;

qorDisconnectSoundIE::qorDisconnectSoundIE() {
  read_ = RegReadString(Root::kCurrentUser, kKey, "", saved_);
  if (read_) RegWriteExpandString(Root::kCurrentUser, kKey, "", "");
}

qorDisconnectSoundIE::~qorDisconnectSoundIE() {
  // Only a value that was read is put back: a key that could not be read was
  // never blanked, and writing it would create it.
  if (read_) RegWriteExpandString(Root::kCurrentUser, kKey, "", saved_);
}

// The release build's probe: nobody watches.
#include "client/mainwindow/browserprobe.h"

namespace browserprobe {

void ObjectMade() {}
void ObjectGone() {}
void KeyOffered() {}
bool TakeHandOff(const std::wstring&) { return false; }

}  // namespace browserprobe

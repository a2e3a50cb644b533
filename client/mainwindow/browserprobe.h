// What the browser host tells whoever watches it. A test build links
// browserhost_testing.cpp, which counts and records (browserhost_testing.h);
// the release build links browserprobe.cpp, where nothing happens.
#pragma once

#include <string>

namespace browserprobe {

// A site or sink object came into being, or went.
void ObjectMade();
void ObjectGone();
// A key message was handed to a control's TranslateAccelerator.
void KeyOffered();
// An address on its way to the default browser, already judged; true when
// a test took it, so that the shell is not asked.
bool TakeHandOff(const std::wstring& address);

}  // namespace browserprobe

// The test builds' probe (browserprobe.h) and what they read of it.
#include "client/mainwindow/browserhost_testing.h"

#include <atomic>
#include <utility>

#include "client/mainwindow/browserprobe.h"

namespace {

std::atomic<long> g_liveObjects{0};
std::atomic<long> g_keysOffered{0};

// One user-interface thread.
std::function<void(const std::wstring&)>& Opener() {
  static std::function<void(const std::wstring&)> opener;
  return opener;
}

}  // namespace

namespace browserprobe {

void ObjectMade() { ++g_liveObjects; }
void ObjectGone() { --g_liveObjects; }
void KeyOffered() { ++g_keysOffered; }
bool TakeHandOff(const std::wstring& address) {
  if (!Opener()) return false;
  Opener()(address);
  return true;
}

}  // namespace browserprobe

namespace browserhost_testing {

long LiveObjects() { return g_liveObjects.load(); }
long KeysOffered() { return g_keysOffered.load(); }
void SetShellOpener(std::function<void(const std::wstring&)> opener) { Opener() = std::move(opener); }

}  // namespace browserhost_testing

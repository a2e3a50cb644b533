#include "common/win/msgloop.h"

#include <utility>
#include <vector>

namespace win {

namespace {

struct FilterEntry {
  int id;
  PreTranslateFilter filter;
};

// One user-interface thread: plain thread-local state, no locks.
thread_local std::vector<FilterEntry> t_filters;
thread_local int t_nextFilterId = 1;
thread_local HWND t_dialog = nullptr;
thread_local PreTranslateFilter t_dialogKeys;

bool RunFilters(MSG& msg) {
  // A filter may add or remove filters; walk a copy of the ids.
  std::vector<int> ids;
  ids.reserve(t_filters.size());
  for (const auto& f : t_filters) ids.push_back(f.id);
  for (int id : ids) {
    for (auto& f : t_filters) {
      if (f.id != id) continue;
      PreTranslateFilter copy = f.filter;
      if (copy && copy(msg)) return true;
      break;
    }
  }
  return false;
}

bool IsEnterOrEscape(const MSG& msg) {
  switch (msg.message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
      return msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE;
    default:
      return false;
  }
}

}  // namespace

ScopedPreTranslate::ScopedPreTranslate(PreTranslateFilter filter) : id_(t_nextFilterId++) {
  t_filters.push_back({id_, std::move(filter)});
}

ScopedPreTranslate::~ScopedPreTranslate() {
  for (auto it = t_filters.begin(); it != t_filters.end(); ++it) {
    if (it->id == id_) {
      t_filters.erase(it);
      break;
    }
  }
}

ScopedDialogNavigation::ScopedDialogNavigation(HWND hwnd, PreTranslateFilter keys)
    : previous_(std::exchange(t_dialog, hwnd)), previousKeys_(std::exchange(t_dialogKeys, std::move(keys))) {}

ScopedDialogNavigation::~ScopedDialogNavigation() {
  t_dialog = previous_;
  t_dialogKeys = std::move(previousKeys_);
}

void HandleMessage(MSG& msg) {
  if (RunFilters(msg)) return;
  if (t_dialog && ::IsWindow(t_dialog) && (msg.hwnd == t_dialog || ::IsChild(t_dialog, msg.hwnd))) {
    if (t_dialogKeys && msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
      // A copy: the handler may end the dialog and its scope.
      PreTranslateFilter keys = t_dialogKeys;
      if (keys(msg)) return;
    }
    // Tab and space work on the dialog's controls; Enter and Esc mean
    // nothing there (no default or cancel button).
    if (IsEnterOrEscape(msg)) return;
    if (::IsDialogMessageW(t_dialog, &msg)) return;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

int RunMessageLoop() {
  MSG msg;
  for (;;) {
    BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0) return static_cast<int>(msg.wParam);
    if (r == -1) return -1;
    HandleMessage(msg);
  }
}

bool DoEvents() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    HandleMessage(msg);
  }
  return true;
}

bool WaitWithMessages(DWORD timeoutMs, const std::function<bool()>& done) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    if (done && done()) return true;
    bool quit = !DoEvents();
    bool ok = done && done();
    if (ok || quit) return ok;
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    if (elapsed >= timeoutMs) return false;
    // Sleep until input arrives or the time is up; MWMO_INPUTAVAILABLE
    // also wakes for messages that were already seen but not removed.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(timeoutMs - elapsed), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
}

Waited WaitForObjectWithMessages(HANDLE object, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &object, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) return Waited::kSignalled;
    if (r != WAIT_OBJECT_0 + 1) return Waited::kTimedOut;  // time is up, or the wait failed
    if (!DoEvents()) return Waited::kQuit;
  }
}

}  // namespace win

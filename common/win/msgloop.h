// The programs' message loops. Every loop (the main one, DoEvents, waits and
// modal forms) hands each message to the same steps: the pre-translate
// filters (the browser's accelerators), dialog navigation for the open
// modal form, then TranslateMessage and DispatchMessage.
#pragma once

#include <windows.h>

#include <functional>

namespace win {

// A filter returns true when it has handled the message; it then goes no
// further.
using PreTranslateFilter = std::function<bool(MSG&)>;

// Registers a filter for its lifetime (thread-wide, in registration order).
class ScopedPreTranslate {
 public:
  explicit ScopedPreTranslate(PreTranslateFilter filter);
  ~ScopedPreTranslate();
  ScopedPreTranslate(const ScopedPreTranslate&) = delete;
  ScopedPreTranslate& operator=(const ScopedPreTranslate&) = delete;

 private:
  int id_;
};

// Makes `hwnd` the window whose children IsDialogMessage navigates for the
// scope (modal forms nest). `keys`, when given, sees the key messages of the
// window and its children first, as the form's own keyboard.
class ScopedDialogNavigation {
 public:
  explicit ScopedDialogNavigation(HWND hwnd, PreTranslateFilter keys = nullptr);
  ~ScopedDialogNavigation();
  ScopedDialogNavigation(const ScopedDialogNavigation&) = delete;
  ScopedDialogNavigation& operator=(const ScopedDialogNavigation&) = delete;

 private:
  HWND previous_;
  PreTranslateFilter previousKeys_;
};

// Filters, dialog navigation, translate and dispatch for one message.
void HandleMessage(MSG& msg);

// Runs until WM_QUIT; returns its exit code.
int RunMessageLoop();

// Handles every pending message. Returns false when WM_QUIT was met; it is
// posted again so that the enclosing loop ends too.
bool DoEvents();

// Handles messages, sleeping in between, until `done` returns true or
// `timeoutMs` have passed (or WM_QUIT arrives). `done` is tested before
// and after each round of messages. Returns the last answer of `done`
// (false when there is none).
bool WaitWithMessages(DWORD timeoutMs, const std::function<bool()>& done = nullptr);

// Waits for a kernel object, handling messages meanwhile.
enum class Waited { kSignalled, kTimedOut, kQuit };
Waited WaitForObjectWithMessages(HANDLE object, DWORD timeoutMs);

}  // namespace win

// Test-only commands of the quick build (build/windows/quick/velBox.exe),
// never compiled into the real velBox.exe: a message-only window of class
// "velBoxTestCommands" answers WM_COPYDATA, the argument a UTF-16 text.
//   dwData 1, "N"    1 when the engine's feature switch N is on in this
//                    process (CoInternetIsFeatureEnabled), else 0
//   dwData 2, "URL"  tells WebBrowser1 to open URL, after the answer (0), as
//                    the client's own navigations do
//   dwData 3         key messages handed to the browsers' TranslateAccelerator
//   dwData 4, "URL"  1 when WebBrowser1 is at URL (its LocationURL), else 0
// Any other command answers -1.
#pragma once

#include <windows.h>

namespace testcommands {

inline constexpr wchar_t kWindowClass[] = L"velBoxTestCommands";

// The window, for the life of the object.
class Window {
 public:
  Window();
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

 private:
  HWND hwnd_ = nullptr;
};

}  // namespace testcommands

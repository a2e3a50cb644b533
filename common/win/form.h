// Forms: one object per window that outlives its window. Asking a form for
// its window or its visibility loads it (creates the window, then runs
// Form_Load once for that load); unloading destroys the window and its
// elements but keeps the object and its state. The client ends when no
// form is left loaded.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace win {

// What a form's window looks like when it is created.
struct FormWindowSpec {
  std::wstring title;
  // Window class; empty for the forms' common class. Other programs find
  // some windows by their class (the tray window, for one).
  std::wstring className;
  DWORD style = WS_OVERLAPPEDWINDOW;
  DWORD exStyle = 0;
  // Outer window rectangle in pixels.
  int left = CW_USEDEFAULT;
  int top = CW_USEDEFAULT;
  int width = CW_USEDEFAULT;
  int height = CW_USEDEFAULT;
  COLORREF background = RGB(255, 255, 255);
  // Not owned; they must outlive the window.
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
};

class FormTimer;

class Form {
 public:
  enum State { kNormal = 0, kMinimized = 1, kMaximized = 2 };
  enum Pointer { kDefaultPointer = 0, kCustomPointer = 99 };

  Form() = default;
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Loads the form when it is not loaded. True when it is loaded afterwards
  // (Form_Load may unload it again).
  bool Load();
  bool IsLoaded() const { return hwnd_ != nullptr; }
  // The window; loads the form first. Null when loading failed or the form
  // unloaded itself while loading.
  HWND hWnd();
  // The window if loaded, without loading.
  HWND hWndIfLoaded() const { return hwnd_; }

  bool Visible();
  void SetVisible(bool visible);
  // Modeless, without an owner.
  void Show();
  // Disables the thread's other visible top-level windows and handles
  // messages until the form is unloaded; then enables them again and, when
  // the form was the active window, activates the one that was active before
  // it (or else the topmost of them that is shown and not minimised).
  void ShowModal();
  bool IsModal() const { return modal_; }

  // 0 normal, 1 minimised, 2 maximised. Set on a hidden window, the state
  // is applied when the window is next shown.
  int WindowState();
  void SetWindowState(int state);

  // Destroys the window and its elements; the object and its state stay.
  void Unload();

  // The pointer over the form's own surface (not over child windows):
  // kDefaultPointer (arrow) or kCustomPointer with the cursor given.
  void SetMousePointer(int mode) { pointer_ = mode; }
  int MousePointer() const { return pointer_; }
  void SetMouseIcon(HCURSOR cursor) { mouseIcon_ = cursor; }  // not owned
  HCURSOR MouseIcon() const { return mouseIcon_; }

  static int LoadedCount();
  // Tests load and unload forms without ending the thread's loop.
  static void SetEndWhenNoneLoaded(bool end);

 protected:
  virtual void DescribeWindow(FormWindowSpec& desc) = 0;
  // After the window exists and before Form_Load: the form's elements and
  // child windows.
  virtual void Form_CreateControls() {}
  virtual void Form_Load() {}
  // Each time the window becomes the active window; runs from the message
  // loop, after the activation itself has finished.
  virtual void Form_Activate() {}
  // Once per load, after the first show and after what that show brought
  // (its activation, if any) has been handled; a window the system showed
  // without activating it, or that lost the activation at once, gets this
  // and no Form_Activate.
  virtual void Form_Shown() {}
  virtual void Form_Resize() {}
  // While the form is shown modally: the key messages of its window and its
  // children, before dialog navigation; true when the form took the key.
  virtual bool Form_PreviewKey(MSG&) { return false; }
  // The window is about to go; its children still exist.
  virtual void Form_Unload() {}
  // Handles the window's messages; overrides pass what they leave to this.
  virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);

 private:
  friend class FormTimer;
  static LRESULT CALLBACK Trampoline(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void ApplyState(int state);
  void EnableOthers();
  void EndModal();
  void OnDestroy();
  void OnNcDestroy();
  void ArmTimers();

  HWND hwnd_ = nullptr;
  HBRUSH background_ = nullptr;
  bool modal_ = false;
  bool shown_ = false;  // the first show of this load was seen
  std::vector<HWND> disabledByModal_;
  HWND activeBeforeModal_ = nullptr;
  int pendingState_ = -1;
  int pointer_ = kDefaultPointer;
  HCURSOR mouseIcon_ = nullptr;
  std::vector<FormTimer*> timers_;
};

// A form's timer: fires `onTick` every Interval milliseconds while it is
// enabled and the form is loaded. Unloading the form disables it.
class FormTimer {
 public:
  FormTimer(Form& owner, std::function<void()> onTick, UINT intervalMs = 1000);
  ~FormTimer();
  FormTimer(const FormTimer&) = delete;
  FormTimer& operator=(const FormTimer&) = delete;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  UINT Interval() const { return interval_; }
  void SetInterval(UINT ms);

 private:
  friend class Form;
  void Arm();
  Form& owner_;
  std::function<void()> onTick_;
  UINT interval_;
  UINT_PTR id_;
  bool enabled_ = false;
};

}  // namespace win

#include "common/win/form.h"

#include <algorithm>

#include "common/win/msgloop.h"

namespace win {

namespace {

constexpr wchar_t kFormClass[] = L"velForm";

// Single user-interface thread.
int g_loaded = 0;
bool g_endWhenNoneLoaded = true;

UINT ActivateMessage() {
  static const UINT msg = ::RegisterWindowMessageW(L"velForm.Activate");
  return msg;
}

// wParam 0: posted while the window is being shown; 1: posted again from
// the message loop, so that it comes after the show's activation message.
UINT ShownMessage() {
  static const UINT msg = ::RegisterWindowMessageW(L"velForm.Shown");
  return msg;
}

bool RegisterFormClass(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  // No class cursor and no class brush: the form answers WM_SETCURSOR
  // and WM_ERASEBKGND itself.
  wc.lpszClassName = name;
  return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

Form::~Form() {
  if (hwnd_) {
    // No virtual calls from here on: the window just goes.
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    HWND h = hwnd_;
    hwnd_ = nullptr;
    --g_loaded;
    ::DestroyWindow(h);
  }
  if (background_) ::DeleteObject(background_);
}

int Form::LoadedCount() { return g_loaded; }
void Form::SetEndWhenNoneLoaded(bool end) { g_endWhenNoneLoaded = end; }

bool Form::Load() {
  if (hwnd_) return true;
  FormWindowSpec desc;
  DescribeWindow(desc);
  const wchar_t* className = desc.className.empty() ? kFormClass : desc.className.c_str();
  if (!RegisterFormClass(className, &Form::Trampoline)) return false;
  if (background_) ::DeleteObject(background_);
  background_ = ::CreateSolidBrush(desc.background);
  HWND h = ::CreateWindowExW(desc.exStyle, className, desc.title.c_str(), desc.style, desc.left, desc.top,
                             desc.width, desc.height, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
  if (!h || !hwnd_) return false;
  if (desc.bigIcon) ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(desc.bigIcon));
  if (desc.smallIcon) ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(desc.smallIcon));
  ArmTimers();
  Form_CreateControls();
  if (!hwnd_) return false;
  Form_Load();
  return hwnd_ != nullptr;
}

HWND Form::hWnd() {
  Load();
  return hwnd_;
}

bool Form::Visible() {
  if (!Load()) return false;
  return ::IsWindowVisible(hwnd_) != FALSE;
}

void Form::SetVisible(bool visible) {
  if (!Load()) return;
  if (!visible) {
    ::ShowWindow(hwnd_, SW_HIDE);
    return;
  }
  ::ShowWindow(hwnd_, SW_SHOW);
  if (pendingState_ >= 0 && hwnd_) {
    int s = pendingState_;
    pendingState_ = -1;
    ApplyState(s);
  }
}

void Form::Show() { SetVisible(true); }

void Form::ShowModal() {
  if (!Load()) return;
  if (modal_) {
    SetVisible(true);
    return;
  }
  disabledByModal_.clear();
  activeBeforeModal_ = ::GetActiveWindow();
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND h, LPARAM self) -> BOOL {
        auto* form = reinterpret_cast<Form*>(self);
        if (h != form->hwnd_ && ::IsWindowVisible(h) && ::IsWindowEnabled(h)) {
          ::EnableWindow(h, FALSE);
          form->disabledByModal_.push_back(h);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(this));
  modal_ = true;
  {
    ScopedDialogNavigation navigation(hwnd_, [this](MSG& m) { return Form_PreviewKey(m); });
    SetVisible(true);
    MSG msg;
    while (hwnd_) {
      BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
      if (r == 0) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (r == -1) break;
      HandleMessage(msg);
    }
  }
  EnableOthers();
  modal_ = false;
}

int Form::WindowState() {
  if (!Load()) return kNormal;
  if (pendingState_ >= 0 && !::IsWindowVisible(hwnd_)) return pendingState_;
  if (::IsIconic(hwnd_)) return kMinimized;
  if (::IsZoomed(hwnd_)) return kMaximized;
  return kNormal;
}

void Form::SetWindowState(int state) {
  if (state < kNormal || state > kMaximized) return;
  if (!Load()) return;
  if (!::IsWindowVisible(hwnd_)) {
    // ShowWindow would show it; keep the wish for the next showing.
    pendingState_ = state;
    return;
  }
  ApplyState(state);
}

void Form::ApplyState(int state) {
  switch (state) {
    case kMinimized:
      if (!::IsIconic(hwnd_)) ::ShowWindow(hwnd_, SW_MINIMIZE);
      break;
    case kMaximized:
      if (!::IsZoomed(hwnd_)) ::ShowWindow(hwnd_, SW_MAXIMIZE);
      break;
    default:
      if (::IsIconic(hwnd_) || ::IsZoomed(hwnd_)) ::ShowWindow(hwnd_, SW_RESTORE);
      break;
  }
}

void Form::Unload() {
  if (!hwnd_) return;
  if (modal_) EndModal();
  ::DestroyWindow(hwnd_);
}

void Form::EndModal() {
  // Before the window goes: the system activates another window as the
  // active one disappears, and while the others are disabled it finds none
  // of this program's.
  HWND back = nullptr;
  for (HWND h : disabledByModal_) {
    if (!::IsWindowVisible(h) || ::IsIconic(h)) continue;
    if (!back || h == activeBeforeModal_) back = h;
  }
  EnableOthers();
  if (!back || ::GetActiveWindow() != hwnd_) return;
  if (::GetForegroundWindow() == hwnd_) {
    ::SetForegroundWindow(back);
  } else {
    ::SetActiveWindow(back);  // without taking the foreground from another program
  }
}

void Form::EnableOthers() {
  for (HWND h : disabledByModal_) {
    if (::IsWindow(h)) ::EnableWindow(h, TRUE);
  }
  disabledByModal_.clear();
}

void Form::ArmTimers() {
  for (FormTimer* t : timers_) t->Arm();
}

void Form::OnDestroy() {
  // Give the activation back to the windows this modal form disabled
  // before it disappears.
  if (modal_) EnableOthers();
  Form_Unload();
  for (FormTimer* t : timers_) t->enabled_ = false;
}

void Form::OnNcDestroy() {
  ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  hwnd_ = nullptr;
  pendingState_ = -1;
  pointer_ = kDefaultPointer;
  shown_ = false;
  if (--g_loaded == 0 && g_endWhenNoneLoaded) ::PostQuitMessage(0);
}

LRESULT Form::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      Unload();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE) ::PostMessageW(hwnd_, ActivateMessage(), 0, 0);
      break;
    case WM_WINDOWPOSCHANGED:
      if (!shown_ && (reinterpret_cast<const WINDOWPOS*>(lp)->flags & SWP_SHOWWINDOW)) {
        shown_ = true;
        ::PostMessageW(hwnd_, ShownMessage(), 0, 0);
      }
      break;
    case WM_SIZE:
      Form_Resize();
      return 0;
    case WM_ERASEBKGND: {
      RECT rc;
      ::GetClientRect(hwnd_, &rc);
      ::FillRect(reinterpret_cast<HDC>(wp), &rc, background_);
      return 1;
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wp) == hwnd_ && LOWORD(lp) == HTCLIENT) {
        HCURSOR c = (pointer_ == kCustomPointer && mouseIcon_) ? mouseIcon_ : ::LoadCursorW(nullptr, IDC_ARROW);
        ::SetCursor(c);
        return TRUE;
      }
      if (reinterpret_cast<HWND>(wp) != hwnd_) return FALSE;  // a child window sets its own
      break;
    case WM_TIMER:
      for (FormTimer* t : timers_) {
        if (t->id_ == wp) {
          if (t->enabled_ && t->onTick_) t->onTick_();
          return 0;
        }
      }
      break;
    default:
      if (msg == ActivateMessage()) {
        // Only while the window still is the active one it came for.
        if (hwnd_ && ::GetActiveWindow() == hwnd_) Form_Activate();
        return 0;
      }
      if (msg == ShownMessage()) {
        if (wp == 0) {
          ::PostMessageW(hwnd_, ShownMessage(), 1, 0);
        } else {
          Form_Shown();
        }
        return 0;
      }
      break;
  }
  return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK Form::Trampoline(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Form* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
    ++g_loaded;
  } else {
    self = reinterpret_cast<Form*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT r = 0;
  try {
    if (msg == WM_DESTROY) self->OnDestroy();
    r = self->WndProc(msg, wp, lp);
  } catch (...) {
    // Nothing crosses a window procedure.
    r = ::DefWindowProcW(hwnd, msg, wp, lp);
  }
  if (msg == WM_NCDESTROY) self->OnNcDestroy();
  return r;
}

// --- timers ---------------------------------------------------------------

FormTimer::FormTimer(Form& owner, std::function<void()> onTick, UINT intervalMs)
    : owner_(owner), onTick_(std::move(onTick)), interval_(intervalMs), id_(reinterpret_cast<UINT_PTR>(this)) {
  owner_.timers_.push_back(this);
}

FormTimer::~FormTimer() {
  if (owner_.hwnd_) ::KillTimer(owner_.hwnd_, id_);
  auto& v = owner_.timers_;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

void FormTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Arm();
}

void FormTimer::SetInterval(UINT ms) {
  interval_ = ms;
  Arm();
}

void FormTimer::Arm() {
  if (!owner_.hwnd_) return;
  if (enabled_ && interval_ > 0) {
    ::SetTimer(owner_.hwnd_, id_, interval_, nullptr);
  } else {
    ::KillTimer(owner_.hwnd_, id_);
  }
}

}  // namespace win

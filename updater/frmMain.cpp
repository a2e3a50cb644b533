#include "updater/frmMain.h"

#include <string>

#include "common/product.h"
#include "common/win/instance.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"
#include "updater/modCheckUpdate.h"
#include "updater/updatelogic.h"

namespace updater {

namespace {

constexpr wchar_t kClass[] = L"velUpdateMain";
constexpr wchar_t kCaption[] = L"检测更新 - Velmora音乐网";
constexpr wchar_t kInstanceName[] = L"Local\\velUpdate.Running";
constexpr UINT_PTR kTimer1 = 1;
// Client area in twips, as the form was laid out.
constexpr int kClientTwipsX = 3000;
constexpr int kClientTwipsY = 1170;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

BOOL CALLBACK FirstIconGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  auto* out = reinterpret_cast<std::wstring*>(param);
  // A numeric id is kept as "#n", which the loaders accept.
  *out = IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : std::wstring(name);
  return FALSE;
}

// The program icon is the first icon group of the executable, whatever its id.
HICON ProgramIcon(HINSTANCE inst, int cx, int cy) {
  std::wstring name;
  ::EnumResourceNamesW(inst, RT_GROUP_ICON, &FirstIconGroup, reinterpret_cast<LONG_PTR>(&name));
  if (name.empty()) return nullptr;
  return static_cast<HICON>(::LoadImageW(inst, name.c_str(), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR | LR_SHARED));
}

bool RegisterFormClass(HINSTANCE inst, WNDPROC proc) {
  WNDCLASSEXW wc{sizeof wc};
  if (::GetClassInfoExW(inst, kClass, &wc)) return true;
  wc = WNDCLASSEXW{sizeof wc};
  wc.lpfnWndProc = proc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  wc.hIcon = ProgramIcon(inst, ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
  wc.hIconSm = ProgramIcon(inst, ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON));
  wc.lpszClassName = kClass;
  return ::RegisterClassExW(&wc) != 0;
}

}  // namespace

frmMain::~frmMain() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

bool frmMain::Load(int show) {
  const HINSTANCE inst = ::GetModuleHandleW(nullptr);
  if (!RegisterFormClass(inst, &frmMain::WndProc)) return false;

  int dpiX = 96, dpiY = 96;
  {
    win::WindowDc screen(nullptr);
    if (screen.get()) {
      dpiX = ::GetDeviceCaps(screen.get(), LOGPIXELSX);
      dpiY = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
    }
  }
  RECT r{0, 0, ::MulDiv(kClientTwipsX, dpiX, 1440), ::MulDiv(kClientTwipsY, dpiY, 1440)};
  ::AdjustWindowRectEx(&r, kStyle, FALSE, 0);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + (work.right - work.left - w) / 2;
  const int y = work.top + (work.bottom - work.top - h) / 2;
  if (!::CreateWindowExW(0, kClass, kCaption, kStyle, x, y, w, h, nullptr, nullptr, inst, this)) return false;

  Form_Load();
  if (!hwnd_) return false;
  ::ShowWindow(hwnd_, show);
  ::UpdateWindow(hwnd_);
  return true;
}

void frmMain::Form_Load() {
  using namespace modCheckUpdate;
  // Another updater is at work (also one the mutex of which may not be
  // opened), or it cannot be told: the server is not asked.
  if (win::ClaimInstance(kInstanceName, instance_) != win::InstanceClaim::kFirst) {
    Close();
    return;
  }
  DownDir = win::AppFile(win::W(product::kDownloadFolder));
  if (!CheckUpdate()) {
    Close();
    return;
  }
  ReadUpdateInfo();
  // With a key built in, an offer without a good signature is no update.
  if (!OfferAccepted()) {
    Close();
    return;
  }
  // Nothing complete to start (a bad name, an error page, a broken
  // download, not the signed installer): the updater ends without showing
  // anything.
  if (!DownFileExists() && DownloadFile(DownUrl) != DownloadResult::Stored) {
    Close();
    return;
  }
  timerInterval_ = updatelogic::LaunchDelayMs(OpenDownFile);
  ::SetTimer(hwnd_, kTimer1, timerInterval_, nullptr);
}

void frmMain::Timer1_Timer() {
  ::KillTimer(hwnd_, kTimer1);  // fires once
  timerInterval_ = 0;
  modCheckUpdate::LaunchDownFile(hwnd_);
  Close();
}

void frmMain::Close() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

LRESULT CALLBACK frmMain::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  frmMain* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<frmMain*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<frmMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
  return self->OnMessage(msg, wp, lp);
}

LRESULT frmMain::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  const HWND hwnd = hwnd_;
  switch (msg) {
    case WM_TIMER:
      if (wp == kTimer1) {
        Timer1_Timer();
        return 0;
      }
      break;
    case WM_NCDESTROY:
      // The timer goes with the window; nothing is started after a close.
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      timerInterval_ = 0;
      ::PostQuitMessage(0);
      return ::DefWindowProcW(hwnd, msg, wp, lp);
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

int Run(int show) {
  // The shell may need COM for the launch.
  win::ComScope com;
  {
    frmMain form;
    if (form.Load(show)) {
      MSG msg;
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
  }
  return 0;
}

}  // namespace updater

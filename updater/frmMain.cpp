#include "updater/frmMain.h"

#include <string>

#include "common/product.h"
#include "common/win/dpi.h"
#include "common/win/instance.h"
#include "common/win/msgloop.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"
#include "updater/modCheckUpdate.h"
#include "updater/updatelogic.h"

namespace updater {

namespace {

constexpr wchar_t kClass[] = L"velUpdateMain";
constexpr wchar_t kCaption[] = L"检测更新 - Velmora音乐网";
constexpr wchar_t kInstanceName[] = L"Local\\velUpdate.Running";
// Client area in twips, as the form was laid out.
constexpr int kClientTwipsX = 3000;
constexpr int kClientTwipsY = 1170;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT kRunExit = WM_APP + 0x102;

BOOL CALLBACK FirstIconGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  auto* out = reinterpret_cast<std::wstring*>(param);
  // A numeric id is kept as "#n", which the loaders accept.
  *out = IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : std::wstring(name);
  return FALSE;
}

// The program icon is the first icon group of the executable, whatever its
// id; shared, so it outlives the window without an owner.
HICON ProgramIcon(int cx, int cy) {
  const HINSTANCE inst = ::GetModuleHandleW(nullptr);
  std::wstring name;
  ::EnumResourceNamesW(inst, RT_GROUP_ICON, &FirstIconGroup, reinterpret_cast<LONG_PTR>(&name));
  if (name.empty()) return nullptr;
  return static_cast<HICON>(::LoadImageW(inst, name.c_str(), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR | LR_SHARED));
}

}  // namespace

frmMain::frmMain() : Timer1(*this, [this] { Timer1_Timer(); }, 1000) {}

void frmMain::DescribeWindow(win::FormWindowSpec& desc) {
  // A new window starts on the primary monitor, at its dpi.
  const int dpi = win::SystemDpi();
  RECT r{0, 0, ::MulDiv(kClientTwipsX, dpi, 1440), ::MulDiv(kClientTwipsY, dpi, 1440)};
  win::AdjustWindowRectForDpi(r, kStyle, 0, dpi);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  desc.title = kCaption;
  desc.className = kClass;
  desc.style = kStyle;
  desc.width = r.right - r.left;
  desc.height = r.bottom - r.top;
  desc.left = work.left + (work.right - work.left - desc.width) / 2;
  desc.top = work.top + (work.bottom - work.top - desc.height) / 2;
  desc.background = RGB(255, 255, 255);
  desc.bigIcon = ProgramIcon(win::MetricForDpi(SM_CXICON, dpi), win::MetricForDpi(SM_CYICON, dpi));
  desc.smallIcon = ProgramIcon(win::MetricForDpi(SM_CXSMICON, dpi), win::MetricForDpi(SM_CYSMICON, dpi));
}

LRESULT frmMain::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kExitRequest) {
    // The sender waits in SendMessage; it gets its answer first.
    ::PostMessageW(hWndIfLoaded(), kRunExit, 0, 0);
    return 1;
  }
  if (msg == kRunExit) {
    EndOnRequest();
    return 0;
  }
  if (msg == WM_DPICHANGED) {
    // Moved to a monitor of another scale: the size the system proposes
    // (the window holds nothing else to lay out).
    const RECT* r = reinterpret_cast<const RECT*>(lp);
    ::SetWindowPos(hWndIfLoaded(), nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
  }
  return Form::WndProc(msg, wp, lp);
}

void frmMain::Form_Load() {
  using namespace modCheckUpdate;
  // Another updater is at work (also one whose mutex may not be opened),
  // or it cannot be told: the server is not asked.
  if (win::ClaimInstance(kInstanceName, instance_) != win::InstanceClaim::kFirst) {
    Unload();
    return;
  }
  loading_ = true;
  DownDir = win::AppFile(win::W(product::kDownloadFolder));
  ClearLeftovers();
  // Each step ends early when the updater was asked to end meanwhile.
  const bool update = [this] {
    if (!CheckUpdate() || bEndRequested) return false;
    ReadUpdateInfo();
    // With a key built in, an offer without a good signature is no update.
    if (bEndRequested || !OfferAccepted()) return false;
    // Only the installation updates itself; a copy or a portable run has
    // checked and ends here (and the launch asks once more).
    if (!ProductInstalled()) return false;
    // Nothing complete to start (a bad name, an error page, a broken, silent
    // or endless download, not the signed installer): the updater ends
    // without showing anything.
    if (!DownFileExists() && DownloadFile(DownUrl) != DownloadResult::kStored) return false;
    return !bEndRequested;
  }();
  loading_ = false;
  if (!update) {
    Unload();
    return;
  }
  Timer1.SetInterval(updatelogic::LaunchDelayMs(OpenDownFile));
  Timer1.SetEnabled(true);
}

void frmMain::Timer1_Timer() {
  Timer1.SetEnabled(false);  // fires once
  if (!bEndRequested) modCheckUpdate::LaunchDownFile(hWndIfLoaded());
  Unload();
}

void frmMain::EndOnRequest() {
  bEndRequested = true;
  Timer1.SetEnabled(false);
  // Inside Form_Load a wait is running (a request, the download): WM_QUIT
  // ends it and the transfer is cancelled; Form_Load then unloads the form.
  if (loading_)
    ::PostQuitMessage(0);
  else
    Unload();
}

int Run(int show) {
  // The shell may need COM for the launch.
  win::ComScope com;
  int code = 0;
  {
    frmMain form;
    // Checked and downloaded while loading; shown only when there is an
    // installer to start, as the program was asked to show it.
    if (form.Load() && !form.EndRequested()) {
      ::ShowWindow(form.hWndIfLoaded(), show);
      ::UpdateWindow(form.hWndIfLoaded());
      code = win::RunMessageLoop();
    }
  }
  return code;
}

}  // namespace updater

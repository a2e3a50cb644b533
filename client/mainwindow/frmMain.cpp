#include "client/mainwindow/frmMain.h"

#include "artwork/resource.h"
#include "client/mainwindow/firststart.h"
#include "client/mainwindow/mainlayout.h"
#include "client/mainwindow/timings.h"
#include "client/tray/frmMenu.h"
#include "client/tray/modSubClass.h"
#include "client/tray/modTray.h"
#include "common/product.h"
#include "common/win/dpi.h"
#include "common/win/instance.h"
#include "common/win/winstr.h"

namespace {

constexpr wchar_t kTitle[] = L"Velmora音乐网 - 给你最好的音乐";
constexpr char16_t kTitleText[] = u"Velmora音乐盒";
constexpr wchar_t kFrameClass[] = L"velFrame";
// The previous-instance test: one client per session.
constexpr wchar_t kInstanceMutex[] = L"Local\\Velmora.velBox.Instance";
constexpr COLORREF kBorder = RGB(9, 123, 183);

// The primary screen and its work area, with the twips per pixel of the
// window's dpi.
mainwindow::Screen PrimaryScreen(int dpi) {
  mainwindow::Screen s;
  s.width = ::GetSystemMetrics(SM_CXSCREEN);
  s.height = ::GetSystemMetrics(SM_CYSCREEN);
  s.tppX = mainwindow::TwipsPerPixel(dpi);
  s.tppY = mainwindow::TwipsPerPixel(dpi);
  s.work = skin::SkinForm::PrimaryWorkArea();
  return s;
}

skin::FontSpec TitleFont() { return skin::FontSpec{L"宋体", 12, GB2312_CHARSET, false}; }

bool RegisterFrameClass() {
  static const bool ok = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kFrameClass;
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return ok;
}

RECT ToRect(const mainwindow::PixelRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// The music site with its further hosts and the controls it plays through.
BrowserHost::Scope MusicScope() {
  return {navpolicy::Site::Hosts(product::MusicHome(), product::SiteHosts()),
          BrowserHost::ClassIds(win::W(product::SiteControls()))};
}

// The statistics page alone; no control runs there.
BrowserHost::Scope StatisticsScope() { return {navpolicy::Site::OneAddress(product::StatisticsAddress()), {}}; }

UINT CreateBrowsersMessage() {
  static const UINT msg = ::RegisterWindowMessageW(L"velBox.frmMain.CreateBrowsers");
  return msg;
}

}  // namespace

frmMain& frmMain::Instance() {
  static frmMain form;
  return form;
}

frmMain::frmMain()
    : Timer1(*this, [this] { Timer1_Timer(); }, timings::kTimer1IntervalMs),
      openTimer_(*this, [this] { OpenSite(); }, USER_TIMER_MINIMUM) {}

void frmMain::DescribeWindow(win::FormWindowSpec& desc) {
  // Shown in its laid-out place and size from the start, so the first
  // activation does not make it jump.
  const int dpi = StartDpi();
  mainwindow::Layout l = mainwindow::LayoutMain(PrimaryScreen(dpi), 0, 0);
  DescribeSkinWindow(desc, mainwindow::kWidth, mainwindow::kHeight, kTitle);
  desc.left = l.window.left;
  desc.top = l.window.top;
  desc.width = l.window.right - l.window.left;
  desc.height = l.window.bottom - l.window.top;
  if (!bigIcon_) {
    // The sizes the shell asks for at this dpi.
    HINSTANCE inst = ::GetModuleHandleW(nullptr);
    const int big = win::MetricForDpi(SM_CXICON, dpi), small = win::MetricForDpi(SM_CXSMICON, dpi);
    bigIcon_.reset(static_cast<HICON>(::LoadImageW(inst, MAKEINTRESOURCEW(IDI_VELBOX), IMAGE_ICON, big, big, 0)));
    smallIcon_.reset(
        static_cast<HICON>(::LoadImageW(inst, MAKEINTRESOURCEW(IDI_VELBOX), IMAGE_ICON, small, small, 0)));
  }
  desc.bigIcon = bigIcon_.get();
  desc.smallIcon = smallIcon_.get();
}

void frmMain::Form_CreateControls() {
  if (!topPicture_) {
    topPicture_ = skin::Picture::FromBitmapResource(IDB_TOP);
    iconPicture_ = skin::Picture::FromBitmapResource(IDB_TITLEICON);
    closePicture_[0] = skin::Picture::FromBitmapResource(IDB_CLOSE_NORMAL);
    closePicture_[1] = skin::Picture::FromBitmapResource(IDB_CLOSE_HOVER);
    minPicture_[0] = skin::Picture::FromBitmapResource(IDB_MIN_NORMAL);
    minPicture_[1] = skin::Picture::FromBitmapResource(IDB_MIN_HOVER);
    // The notification area shows small icons of the system's dpi.
    trayPicture_ = skin::Picture::FromIconResource(IDI_TRAY, win::MetricForDpi(SM_CXSMICON, win::SystemDpi()));
    mousePointPicture_ = skin::Picture::FromIconResource(IDI_HANDPOINTER, 32);
  }

  // Topmost first. imgTray and imgMousePoint lie under the browser frame.
  ids_ = Ids{};
  ids_.imgTray = AddImage(u"imgTray", -1, &trayPicture_);
  ids_.imgMousePoint = AddImage(u"imgMousePoint", -1, &mousePointPicture_);
  ids_.imgIcon = AddImage(u"imgIcon", -1, &iconPicture_);
  ids_.Line3 = AddLine(u"Line3", -1, kBorder);
  ids_.imgClose[1] = AddImage(u"imgClose", 1, &closePicture_[1], false, u"关闭");
  ids_.imgMin[1] = AddImage(u"imgMin", 1, &minPicture_[1], false, u"最小化");
  ids_.imgMin[0] = AddImage(u"imgMin", 0, &minPicture_[0], false, u"最小化");
  ids_.imgClose[0] = AddImage(u"imgClose", 0, &closePicture_[0], false, u"关闭");
  ids_.Line1 = AddLine(u"Line1", -1, kBorder);
  ids_.Line4 = AddLine(u"Line4", -1, kBorder);
  ids_.Line2 = AddLine(u"Line2", -1, kBorder);
  ids_.lblTitle = AddLabel(u"lblTitle", -1, kTitleText, TitleFont(), RGB(255, 255, 255));
  ids_.imgTop = AddImage(u"imgTop", -1, &topPicture_, true);
  SetCursorPicture(&mousePointPicture_, HAND_HOTSPOT_X, HAND_HOTSPOT_Y);
  MoveElement(ids_.imgTray, 100, 100);
  MoveElement(ids_.imgMousePoint, 140, 100);

  HWND h = hWndIfLoaded();
  RegisterFrameClass();
  mainwindow::Layout l = mainwindow::LayoutParts(Scale(), El(ids_.lblTitle).box.width, El(ids_.lblTitle).box.height);
  picFrame_ = ::CreateWindowExW(0, kFrameClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                l.picFrame.left, l.picFrame.top, l.picFrame.right - l.picFrame.left,
                                l.picFrame.bottom - l.picFrame.top, h, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  // A window loaded again after its first activation gets its browser back
  // at once; a new one gets it at its first activation.
  if (bActivated) ::PostMessageW(h, CreateBrowsersMessage(), 0, 0);

  // Until the first activation lays the window out, its elements stand
  // where the layout puts them.
  LayoutWindow();
}

void frmMain::Form_Load() {
  // 1. A second instance ends at once and silently. The object keeps the
  // mutex for its life, so a reload is not mistaken for a second copy.
  // A mutex that exists but may not be opened is a copy running with
  // other rights: a copy all the same.
  if (!instanceMutex_ && win::ClaimInstance(kInstanceMutex, instanceMutex_) == win::InstanceClaim::kAnotherRuns) {
    Unload();
    return;
  }
  // 2. Tray icon with frmMenu as its message window.
  modTray::AddTrayIcon(frmMenu::Instance());
  // 3. Window hook.
  modSubClass::HookMainWindow(hWnd());
  // 4. The updater timer.
  Timer1.SetEnabled(true);
}

void frmMain::Form_Activate() { FirstActivation(); }

// A window shown without being activated (focus-stealing prevention, a start
// beside other programs at log-on) still does its first-activation work,
// right after its first show.
void frmMain::Form_Shown() { FirstActivation(); }

namespace {

bool StartedAtLogOn() {
  return mainwindow::HasRegStart(mainwindow::ArgumentText(win::U(::GetCommandLineW())));
}

}  // namespace

void frmMain::Start() {
  if (!StartedAtLogOn()) {
    Show();
    return;
  }
  // Hidden from the start: the window never flashes up at log-on, and a
  // window never shown costs no surface to draw on.
  if (Load()) FirstActivation();
}

void frmMain::FirstActivation() {
  if (bActivated || !IsLoaded()) return;
  bActivated = true;
  if (StartedAtLogOn()) {
    m_strOpenNet = L"about:blank";
    SetVisible(false);
  } else {
    m_strOpenNet = win::W(product::MusicHome());
  }
  LayoutWindow();
  // A window on the screen is painted before the browser engine loads, which
  // takes longer than everything else of the start: a timer's message comes
  // after the window's paint. A hidden one has nothing to show first.
  HWND h = hWndIfLoaded();
  if (h && ::IsWindowVisible(h)) {
    openTimer_.SetEnabled(true);
  } else {
    OpenSite();
  }
}

void frmMain::OpenSite() {
  openTimer_.SetEnabled(false);
  CreateBrowsers();
  WebBrowser1.Navigate(m_strOpenNet);
  WebBrowser1.SetSilent(true);
  // On a first start this waits up to 10 s, serving messages meanwhile. The
  // hidden browser exists only for it.
  firststart::HostedNoticeBrowser browser2(WebBrowser2, [this] { CreateNoticeBrowser(); });
  firststart::CheckFirstStart(browser2, bCountOk);
  WebBrowser2.Destroy();
}

void frmMain::CreateBrowsers() {
  HWND h = hWndIfLoaded();
  if (!h || !picFrame_ || WebBrowser1.IsCreated()) return;
  const skin::Element& title = El(ids_.lblTitle);
  mainwindow::Layout l = mainwindow::LayoutParts(Scale(), title.box.width, title.box.height);
  // Each browser may show its own site only: the music site, and the update
  // server's statistics page.
  WebBrowser1.Create(picFrame_, ToRect(l.browser1), &events1_, MusicScope());
  // Created after the window became active: the focus is still the frame's.
  if (::GetActiveWindow() == h) FocusBrowser();
}

void frmMain::CreateNoticeBrowser() {
  HWND h = hWndIfLoaded();
  if (!h || WebBrowser2.IsCreated()) return;
  const skin::Element& title = El(ids_.lblTitle);
  mainwindow::Layout l = mainwindow::LayoutParts(Scale(), title.box.width, title.box.height);
  WebBrowser2.Create(h, ToRect(l.browser2), &events2_, StatisticsScope());
}

bool frmMain::FocusBrowser() {
  HWND h = hWndIfLoaded();
  if (!h || !::IsWindowVisible(h) || ::IsIconic(h) || !WebBrowser1.IsCreated()) return false;
  return WebBrowser1.Focus();
}

LRESULT frmMain::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == CreateBrowsersMessage()) {
    CreateBrowsers();
    return 0;
  }
  // The frame takes no keys itself: the focus every activation (or a
  // restore) gives it goes on to the page, so keys reach the site at once.
  if (msg == WM_SETFOCUS && FocusBrowser()) return 0;
  return SkinForm::WndProc(msg, wp, lp);
}

void frmMain::Form_Unload() {
  WebBrowser2.Destroy();
  WebBrowser1.Destroy();
  picFrame_ = nullptr;  // goes with its parent
}

void frmMain::LayoutWindow() {
  HWND h = hWndIfLoaded();
  if (!h) return;
  // At the scale that fits the primary monitor's work area; the title is
  // measured at it.
  const mainwindow::Screen screen = PrimaryScreen(Dpi());
  SetLayoutScale(mainwindow::LayoutMain(screen, 0, 0).scale);
  SetLabelText(ids_.lblTitle, kTitleText);
  const skin::Element& title = El(ids_.lblTitle);
  mainwindow::Layout l = mainwindow::LayoutMain(screen, title.box.width, title.box.height);

  // 1-2. Size and centre, inside the work area.
  ::SetWindowPos(h, nullptr, l.window.left, l.window.top, l.window.right - l.window.left,
                 l.window.bottom - l.window.top, SWP_NOZORDER | SWP_NOACTIVATE);
  PlaceElements(l);
}

void frmMain::Skin_ScaleChanged() {
  // The window already has its new size; it stays where it was put.
  if (!hWndIfLoaded()) return;
  const skin::Element& title = El(ids_.lblTitle);
  PlaceElements(mainwindow::LayoutParts(Scale(), title.box.width, title.box.height));
}

void frmMain::PlaceElements(const mainwindow::Layout& l) {
  // 3. The chrome.
  const skin::ChromeLayout& c = l.chrome;
  MoveElement(ids_.imgTop, c.top.left, c.top.top);
  SizeElement(ids_.imgTop, c.top.width, c.top.height);
  MoveElement(ids_.imgIcon, c.icon.left, c.icon.top);
  MoveElement(ids_.lblTitle, c.title.left, c.title.top);
  for (int i = 0; i < 2; ++i) {
    MoveElement(ids_.imgClose[i], c.close.left, c.close.top);
    MoveElement(ids_.imgMin[i], c.minimize.left, c.minimize.top);
  }
  hover_.ResetPictures();  // the flag and the pointer stay as they are
  ShowHoverPictures();
  SetLine(ids_.Line1, c.line1.x1, c.line1.y1, c.line1.x2, c.line1.y2);
  SetLine(ids_.Line2, c.line2.x1, c.line2.y1, c.line2.x2, c.line2.y2);
  SetLine(ids_.Line3, c.line3.x1, c.line3.y1, c.line3.x2, c.line3.y2);
  SetLine(ids_.Line4, c.line4.x1, c.line4.y1, c.line4.x2, c.line4.y2);
  // 4. The browser frame.
  if (picFrame_) {
    ::MoveWindow(picFrame_, l.picFrame.left, l.picFrame.top, l.picFrame.right - l.picFrame.left,
                 l.picFrame.bottom - l.picFrame.top, TRUE);
  }
  // 5-6. The browsers.
  if (WebBrowser1.IsCreated()) WebBrowser1.SetRect(ToRect(l.browser1));
  if (WebBrowser2.IsCreated()) WebBrowser2.SetRect(ToRect(l.browser2));
}

// --- chrome -----------------------------------------------------------------

int frmMain::IndexOf(const int (&members)[2], int target) const {
  for (int i = 0; i < 2; ++i) {
    if (members[i] == target) return i;
  }
  return -1;
}

void frmMain::Skin_MouseMove(int target, const skin::MouseArgs&) {
  if (int i = IndexOf(ids_.imgClose, target); i >= 0) {
    imgClose_MouseMove(i);
  } else if (int j = IndexOf(ids_.imgMin, target); j >= 0) {
    imgMin_MouseMove(j);
  } else if (target == ids_.imgTop) {
    imgTop_MouseMove();
  }
}

void frmMain::Skin_MouseDown(int target, const skin::MouseArgs& a) {
  if (target == ids_.imgTop) {
    imgTop_MouseDown(a.button);
  } else if (target == ids_.imgIcon) {
    imgIcon_MouseDown(a.button);
  } else if (target == ids_.lblTitle) {
    lblTitle_MouseDown(a.button);
  }
}

void frmMain::Skin_Click(int target) {
  if (int i = IndexOf(ids_.imgClose, target); i >= 0) {
    imgClose_Click(i);
  } else if (int j = IndexOf(ids_.imgMin, target); j >= 0) {
    imgMin_Click(j);
  }
}

// An accessibility client's view of the caption buttons, left to right.
std::vector<skin::AccessibleControl> frmMain::Skin_AccessibleControls() const {
  if (ids_.imgClose[0] < 0) return {};
  return {{u"最小化", {ids_.imgMin[0], ids_.imgMin[1]}}, {u"关闭", {ids_.imgClose[0], ids_.imgClose[1]}}};
}

bool frmMain::Skin_ControlHot(int control) const { return hover_.HoverShown(control == 0 ? 1 : 0); }

void frmMain::Skin_ControlClick(int control) {
  if (control == 0) {
    imgMin_Click(0);
  } else {
    imgClose_Click(0);
  }
}

void frmMain::imgClose_Click(int) {
  // The system close command: the window hook decides what closing means.
  if (HWND h = hWndIfLoaded()) ::SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void frmMain::imgMin_Click(int) { SetWindowState(kMinimized); }

void frmMain::imgClose_MouseMove(int) {
  if (hover_.OnButtonMove(0)) ShowHoverState();
}

void frmMain::imgMin_MouseMove(int) {
  if (hover_.OnButtonMove(1)) ShowHoverState();
}

void frmMain::imgTop_MouseMove() {
  if (hover_.OnStripMove()) ShowHoverState();
}

void frmMain::ShowHoverState() {
  ShowHoverPictures();
  if (hover_.HandCursor()) {
    SetHandCursor();
  } else {
    SetDefCursor();
  }
}

void frmMain::ShowHoverPictures() {
  SetElementVisible(ids_.imgClose[1], hover_.HoverShown(0));
  SetElementVisible(ids_.imgClose[0], !hover_.HoverShown(0));
  SetElementVisible(ids_.imgMin[1], hover_.HoverShown(1));
  SetElementVisible(ids_.imgMin[0], !hover_.HoverShown(1));
}

// --- browsers -----------------------------------------------------------------

void frmMain::WebBrowser1_DownloadBegin() { WebBrowser1.SetSilent(true); }

void frmMain::WebBrowser1_DownloadComplete() {
  WebBrowser1.BindDocument();
  WebBrowser1.SetSilent(true);
}

void frmMain::WebBrowser1_DocumentComplete(IDispatch*, const std::wstring&) { WebBrowser1.SetSilent(true); }

void frmMain::WebBrowser1_Blanked() { m_strOpenNet = L"about:blank"; }

void frmMain::WebBrowser2_DocumentComplete(IDispatch* pDisp, const std::wstring& url) {
  firststart::WebBrowser2_DocumentComplete(firststart::HostedNoticeBrowser(WebBrowser2), pDisp, url, bCountOk);
}

// --- timer ----------------------------------------------------------------------

void frmMain::Timer1_Timer() { firststart::Timer1_Timer(nTick, bUpdaterStarted, Timer1); }

#include "client/mainwindow/skinform.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cmath>

#include "client/mainwindow/placement.h"
#include "common/win/dpi.h"
#include "common/win/winstr.h"

namespace skin {

namespace {

// A click on a windowless control that an accessibility client asked for,
// carried out once its call has returned; wParam is the control.
UINT ControlClickMessage() {
  static const UINT msg = ::RegisterWindowMessageW(L"velSkin.ControlClick");
  return msg;
}

Rgb ToRgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

SystemColours ReadSystemColours() {
  SystemColours s;
  HIGHCONTRASTW hc{};
  hc.cbSize = sizeof hc;
  s.highContrast = ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
  s.windowText = ToRgb(::GetSysColor(COLOR_WINDOWTEXT));
  s.window = ToRgb(::GetSysColor(COLOR_WINDOW));
  s.buttonText = ToRgb(::GetSysColor(COLOR_BTNTEXT));
  return s;
}

PixelRect ToPixelRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

PixelRect WorkOf(HMONITOR monitor) {
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (monitor && ::GetMonitorInfoW(monitor, &mi)) return ToPixelRect(mi.rcWork);
  RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return ToPixelRect(work);
}

win::UniqueFont FontAt(const FontSpec& f, double scale) {
  LOGFONTW lf{};
  lf.lfHeight = -static_cast<LONG>(std::lround(f.points * 96 * scale / 72.0));
  lf.lfWeight = f.bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = f.charset;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  wcsncpy_s(lf.lfFaceName, f.face.c_str(), _TRUNCATE);
  return win::UniqueFont(::CreateFontIndirectW(&lf));
}

SIZE MeasureText(HFONT font, const std::wstring& text) {
  win::WindowDc screen(nullptr);
  win::SelectGuard sel(screen.get(), font);
  SIZE sz{0, 0};
  if (text.empty()) {
    TEXTMETRICW tm{};
    ::GetTextMetricsW(screen.get(), &tm);
    sz.cy = tm.tmHeight;
  } else {
    ::GetTextExtentPoint32W(screen.get(), text.c_str(), static_cast<int>(text.size()), &sz);
  }
  return sz;
}

int ShiftState() {
  int s = 0;
  if (::GetKeyState(VK_SHIFT) < 0) s |= 1;
  if (::GetKeyState(VK_CONTROL) < 0) s |= 2;
  if (::GetKeyState(VK_MENU) < 0) s |= 4;
  return s;
}

int HeldButtons(WPARAM wp) {
  int b = 0;
  if (wp & MK_LBUTTON) b |= kLeftButton;
  if (wp & MK_RBUTTON) b |= kRightButton;
  if (wp & MK_MBUTTON) b |= kMiddleButton;
  return b;
}

}  // namespace

win::UniqueFont SkinForm::MakeFont(const FontSpec& f) const { return FontAt(f, scale_); }

int SkinForm::StartDpi() { return win::SystemDpi(); }

PixelRect SkinForm::WorkAreaOf(HWND hwnd) { return WorkOf(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST)); }

PixelRect SkinForm::PrimaryWorkArea() { return WorkOf(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)); }

void SkinForm::SetDpi(int dpi) { dpi_ = dpi > 0 ? dpi : 96; }

void SkinForm::DescribeSkinWindow(win::FormWindowSpec& desc, int width, int height, const std::wstring& title) {
  baseWidth_ = width;
  baseHeight_ = height;
  desc.title = title;
  // No caption and no frame: the client area is the whole window. Child
  // windows (browser frame, check boxes) are left out of the painting.
  desc.style = WS_POPUP | WS_CLIPCHILDREN;
  desc.exStyle = WS_EX_APPWINDOW;
  const PixelRect work = PrimaryWorkArea();
  const Placement p = PlaceCentred(width, height, ScaleOf(StartDpi()), work, work);
  desc.left = p.window.left;
  desc.top = p.window.top;
  desc.width = p.window.right - p.window.left;
  desc.height = p.window.bottom - p.window.top;
  desc.background = RGB(255, 255, 255);
}

bool SkinForm::SetLayoutScale(double scale) {
  if (scale <= 0 || scale == scale_) return false;
  scale_ = scale;
  scene_.SetScale(scale_);
  RemakeFonts();
  SetCursorPicture(cursorPicture_, hotX_, hotY_);
  toolsDirty_ = true;
  if (HWND h = hWndIfLoaded()) ::InvalidateRect(h, nullptr, FALSE);
  return true;
}

void SkinForm::RemakeFonts() {
  for (int id = 0; id < scene_.size(); ++id) {
    if (scene_.at(id).kind != Kind::kLabel) continue;
    Visual& v = *visuals_.at(static_cast<size_t>(id));
    v.font = MakeFont(v.fontSpec);
    SetLabelText(id, scene_.at(id).text);
  }
}

void SkinForm::KeepOnScreen() {
  HWND h = hWndIfLoaded();
  if (!h || baseWidth_ <= 0 || ::IsIconic(h)) return;
  RECT rc;
  if (!::GetWindowRect(h, &rc)) return;
  const Placement p = PlaceAt(baseWidth_, baseHeight_, ScaleOf(dpi_), WorkAreaOf(h), rc.left, rc.top);
  const bool rescaled = SetLayoutScale(p.scale);
  if (ToPixelRect(rc) != p.window) {
    ::SetWindowPos(h, nullptr, p.window.left, p.window.top, p.window.right - p.window.left,
                   p.window.bottom - p.window.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (rescaled) Skin_ScaleChanged();
}

void SkinForm::OnDpiChanged(int dpi, const RECT& proposed) {
  HWND h = hWndIfLoaded();
  SetDpi(dpi);
  // The system's rectangle where the window fits the new monitor's work
  // area at its scale; a smaller scale, inside it, where it does not.
  const PixelRect work = WorkOf(::MonitorFromRect(&proposed, MONITOR_DEFAULTTONEAREST));
  const double monitorScale = ScaleOf(dpi_);
  PixelRect target = ToPixelRect(proposed);
  const double scale = FitScale(baseWidth_, baseHeight_, monitorScale, work);
  if (baseWidth_ > 0 && scale != monitorScale) {
    target = PlaceAt(baseWidth_, baseHeight_, monitorScale, work, proposed.left, proposed.top).window;
  }
  SetLayoutScale(baseWidth_ > 0 ? scale : monitorScale);
  ::SetWindowPos(h, nullptr, target.left, target.top, target.right - target.left, target.bottom - target.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  Skin_ScaleChanged();
  toolsDirty_ = true;
  ::InvalidateRect(h, nullptr, FALSE);
}

void SkinForm::ReadColours() {
  const SystemColours now = ReadSystemColours();
  if (backBrush_ && now == system_) return;
  system_ = now;
  colours_ = ChooseTextColours(system_);
  backBrush_.reset(::CreateSolidBrush(ToColorRef(colours_.back)));
  if (HWND h = hWndIfLoaded()) {
    Skin_ColoursChanged();
    ::RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
}

// --- accessibility -----------------------------------------------------------

LRESULT SkinForm::OnGetObject(WPARAM wp, LPARAM lp) {
  // The client part only; the window's frame and everything else are the
  // system's.
  if (static_cast<LONG>(lp) == OBJID_CLIENT) {
    if (!accessible_) *accessible_.put() = SkinAccessible::Create(*this);
    if (accessible_) return ::LresultFromObject(__uuidof(IAccessible), wp, static_cast<IAccessible*>(accessible_.get()));
  }
  return ::DefWindowProcW(hWndIfLoaded(), WM_GETOBJECT, wp, lp);
}

int SkinForm::FocusedControl() const {
  HWND h = hWndIfLoaded();
  return h && ::GetFocus() == h ? Skin_FocusedControl() : -1;
}

void SkinForm::ControlFocusChanged() {
  HWND h = hWndIfLoaded();
  if (!h) return;
  ::InvalidateRect(h, nullptr, FALSE);
  if (const int control = FocusedControl(); control >= 0)
    ::NotifyWinEvent(EVENT_OBJECT_FOCUS, h, OBJID_CLIENT, control + 1);
}

void SkinForm::PaintFocusCue(HDC dc) {
  const int control = FocusedControl();
  if (control < 0) return;
  const auto controls = Skin_AccessibleControls();
  if (control >= static_cast<int>(controls.size())) return;
  const PixelRect box = AccessibleBox(scene_, controls[static_cast<size_t>(control)]);
  const int inset = ToPixel(4 * scale_);
  // Dotted in the texts' colour on their background: it stands out on the
  // button picture whatever the colour scheme.
  win::UniquePen pen(::CreatePen(PS_DOT, 1, ToColorRef(colours_.text)));
  win::SelectGuard selPen(dc, pen.get());
  win::SelectGuard selBrush(dc, ::GetStockObject(NULL_BRUSH));
  const int mode = ::SetBkMode(dc, OPAQUE);
  ::SetBkColor(dc, ToColorRef(colours_.back));
  ::Rectangle(dc, box.left + inset, box.top + inset, box.right - inset, box.bottom - inset);
  ::SetBkMode(dc, mode);
}

void SkinForm::AccessibleDefaultAction(int control) {
  if (HWND h = hWndIfLoaded()) ::PostMessageW(h, ControlClickMessage(), static_cast<WPARAM>(control), 0);
}

int SkinForm::AddImage(std::u16string name, int index, const Picture* picture, bool stretch, std::u16string tooltip) {
  Element e;
  e.kind = Kind::kImage;
  e.name = std::move(name);
  e.index = index;
  e.stretch = stretch;
  e.tooltip = std::move(tooltip);
  if (picture) {
    e.box.width = picture->width();
    e.box.height = picture->height();
  }
  auto v = std::make_unique<Visual>();
  v->picture = picture;
  v->tooltip = win::W(e.tooltip);
  visuals_.push_back(std::move(v));
  int id = scene_.Add(std::move(e));
  Changed(id);
  return id;
}

int SkinForm::AddLabel(std::u16string name, int index, std::u16string text, const FontSpec& font, COLORREF color) {
  Element e;
  e.kind = Kind::kLabel;
  e.name = std::move(name);
  e.index = index;
  auto v = std::make_unique<Visual>();
  v->fontSpec = font;
  v->font = MakeFont(font);
  v->color = color;
  visuals_.push_back(std::move(v));
  int id = scene_.Add(std::move(e));
  SetLabelText(id, std::move(text));
  return id;
}

int SkinForm::AddLine(std::u16string name, int index, COLORREF color) {
  Element e;
  e.kind = Kind::kLine;
  e.name = std::move(name);
  e.index = index;
  auto v = std::make_unique<Visual>();
  v->color = color;
  visuals_.push_back(std::move(v));
  int id = scene_.Add(std::move(e));
  Changed(id);
  return id;
}

void SkinForm::SetElementVisible(int id, bool visible) {
  if (scene_.at(id).visible == visible) return;
  scene_.at(id).visible = visible;
  Changed(id);
}

void SkinForm::MoveElement(int id, double left, double top) {
  Element& e = scene_.at(id);
  e.box.left = left;
  e.box.top = top;
  Changed(id);
}

void SkinForm::SizeElement(int id, double width, double height) {
  Element& e = scene_.at(id);
  e.box.width = width;
  e.box.height = height;
  Changed(id);
}

void SkinForm::SetLine(int id, double x1, double y1, double x2, double y2) {
  Element& e = scene_.at(id);
  e.x1 = x1;
  e.y1 = y1;
  e.x2 = x2;
  e.y2 = y2;
  Changed(id);
}

void SkinForm::SetLabelText(int id, std::u16string text) {
  Element& e = scene_.at(id);
  e.text = std::move(text);
  // Measured at the window's dpi, kept in 96-dpi pixels.
  SIZE sz = MeasureText(visuals_.at(static_cast<size_t>(id))->font.get(), win::W(e.text));
  e.box.width = sz.cx / scale_;
  e.box.height = sz.cy / scale_;
  Changed(id);
}

void SkinForm::SetPicture(int id, const Picture* picture) {
  Element& e = scene_.at(id);
  visuals_.at(static_cast<size_t>(id))->picture = picture;
  if (!e.stretch) {
    e.box.width = picture ? picture->width() : 0;
    e.box.height = picture ? picture->height() : 0;
  }
  Changed(id);
}

void SkinForm::SetCursorPicture(const Picture* icon, int hotX, int hotY) {
  cursorPicture_ = icon;
  hotX_ = hotX;
  hotY_ = hotY;
  handCursor_.reset();
  if (!icon || !icon->icon()) return;
  // The cursor at the window's scale: the icon's image of that size.
  const int size = ToPixel(icon->width() * scale_);
  win::UniqueIcon sized;
  HICON source = icon->icon();
  if (size != icon->width()) {
    sized.reset(icon->IconOfSize(size));
    if (sized) source = sized.get();
  }
  ICONINFO ii{};
  if (!::GetIconInfo(source, &ii)) return;
  ii.fIcon = FALSE;
  ii.xHotspot = static_cast<DWORD>(ToPixel(hotX * scale_));
  ii.yHotspot = static_cast<DWORD>(ToPixel(hotY * scale_));
  handCursor_.reset(::CreateIconIndirect(&ii));
  if (ii.hbmColor) ::DeleteObject(ii.hbmColor);
  if (ii.hbmMask) ::DeleteObject(ii.hbmMask);
}

void SkinForm::Changed(int) {
  toolsDirty_ = true;
  if (HWND h = hWndIfLoaded()) ::InvalidateRect(h, nullptr, FALSE);
}

// --- procedures of a skinned window -------------------------------------

void SkinForm::DragWindow(int button) {
  HWND h = hWndIfLoaded();
  if (button != kLeftButton || !h) return;
  ::ReleaseCapture();
  ::SendMessageW(h, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void SkinForm::SetHandCursor() {
  SetMouseIcon(reinterpret_cast<HCURSOR>(handCursor_.get()));
  SetMousePointer(kCustomPointer);
  ApplyCursorNow();
}

void SkinForm::SetDefCursor() {
  SetMousePointer(kDefaultPointer);
  ApplyCursorNow();
}

void SkinForm::ApplyCursorNow() {
  // Takes effect at once when the pointer is over the surface, not at the
  // next move.
  HWND h = hWndIfLoaded();
  POINT p;
  if (!h || !::GetCursorPos(&p) || ::WindowFromPoint(p) != h) return;
  ::SendMessageW(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

// --- tooltips -------------------------------------------------------------

void SkinForm::EnsureTooltip() {
  HWND h = hWndIfLoaded();
  if (tooltip_ || !h) return;
  static const bool init = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
    return ::InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)init;
  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, h, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
}

void SkinForm::SyncTooltips() {
  if (!toolsDirty_) return;
  toolsDirty_ = false;
  EnsureTooltip();
  HWND h = hWndIfLoaded();
  if (!tooltip_ || !h) return;
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.hwnd = h;
  for (UINT_PTR uid : tools_) {
    ti.uId = uid;
    ::SendMessageW(tooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  tools_.clear();
  for (int id = 0; id < scene_.size(); ++id) {
    const Element& e = scene_.at(id);
    if (!e.visible || e.tooltip.empty() || e.kind == Kind::kLine) continue;
    PixelRect r = PixelBox(e, scale_);
    ti.uFlags = 0;
    ti.uId = static_cast<UINT_PTR>(id) + 1;
    ti.rect = {r.left, r.top, r.right, r.bottom};
    ti.lpszText = LPSTR_TEXTCALLBACKW;
    if (::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti))) tools_.push_back(ti.uId);
  }
}

// --- mouse ----------------------------------------------------------------

void SkinForm::Deliver(const std::vector<Dispatch>& events, const MouseArgs& base) {
  for (const Dispatch& d : events) {
    MouseArgs a = base;
    a.button = d.button;
    switch (d.event) {
      case MouseEvent::kMove:
        Skin_MouseMove(d.target, a);
        break;
      case MouseEvent::kDown:
        Skin_MouseDown(d.target, a);
        break;
      case MouseEvent::kUp:
        Skin_MouseUp(d.target, a);
        break;
      case MouseEvent::kClick:
        Skin_Click(d.target);
        break;
    }
    if (!IsLoaded()) return;  // a handler closed the window
  }
}

void SkinForm::OnMouse(UINT msg, WPARAM wp, LPARAM lp) {
  HWND h = hWndIfLoaded();
  SyncTooltips();
  if (tooltip_) {
    MSG m{h, msg, wp, lp, static_cast<DWORD>(::GetMessageTime()), {}};
    ::SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&m));
  }
  MouseArgs a;
  a.x = GET_X_LPARAM(lp);
  a.y = GET_Y_LPARAM(lp);
  a.shift = ShiftState();
  int button = 0;
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      button = kLeftButton;
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      button = kRightButton;
      break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      button = kMiddleButton;
      break;
    default:
      break;
  }
  switch (msg) {
    case WM_MOUSEMOVE: {
      auto events = router_.Move(scene_, a.x, a.y);
      for (auto& e : events) e.button = HeldButtons(wp);
      Deliver(events, a);
      break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      auto events = router_.Down(scene_, a.x, a.y, button);
      // The press keeps the mouse until its release.
      if (::GetCapture() != h) ::SetCapture(h);
      Deliver(events, a);
      break;
    }
    default: {
      auto events = router_.Up(scene_, a.x, a.y, button);
      if (!router_.WantsCapture() && ::GetCapture() == h) ::ReleaseCapture();
      Deliver(events, a);
      break;
    }
  }
}

// --- painting ---------------------------------------------------------------

void SkinForm::Paint(HDC dc, const RECT& rc) {
  if (!backBrush_) ReadColours();
  ::FillRect(dc, &rc, backBrush_.get());
  // Under high contrast every text stands in the system's text colour on
  // the system's window colour, also where it lies on a picture.
  ::SetBkMode(dc, colours_.system ? OPAQUE : TRANSPARENT);
  ::SetBkColor(dc, ToColorRef(colours_.back));
  for (int id : scene_.DrawOrder()) {
    const Element& e = scene_.at(id);
    const Visual& v = *visuals_.at(static_cast<size_t>(id));
    switch (e.kind) {
      case Kind::kImage: {
        if (!v.picture) break;
        PixelRect r = PixelBox(e, scale_);
        v.picture->Draw(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, scale_);
        break;
      }
      case Kind::kLabel: {
        PixelRect r = PixelBox(e, scale_);
        win::SelectGuard sel(dc, v.font.get());
        ::SetTextColor(dc, colours_.system ? ToColorRef(colours_.text) : v.color);
        std::wstring text = win::W(e.text);
        ::TextOutW(dc, r.left, r.top, text.c_str(), static_cast<int>(text.size()));
        break;
      }
      case Kind::kLine: {
        // One 96-dpi pixel thick at every scale.
        const PixelRect band = LineBand(e, scale_);
        const RECT r{band.left, band.top, band.right, band.bottom};
        win::UniqueBrush brush(::CreateSolidBrush(v.color));
        ::FillRect(dc, &r, brush.get());
        break;
      }
    }
  }
  PaintFocusCue(dc);
}

win::UniqueBitmap SkinForm::Snapshot() {
  HWND h = hWndIfLoaded();
  if (!h) return {};
  RECT rc;
  ::GetClientRect(h, &rc);
  void* bits = nullptr;
  win::UniqueBitmap bmp = win::TopDownDib(rc.right, rc.bottom, &bits);
  if (!bmp) return {};
  win::UniqueMemDc mem(::CreateCompatibleDC(nullptr));
  {
    win::SelectGuard sel(mem.get(), bmp.get());
    Paint(mem.get(), rc);
  }
  return bmp;
}

LRESULT SkinForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  HWND h = hWndIfLoaded();
  switch (msg) {
    case WM_CREATE: {
      SetDpi(win::WindowDpi(h));
      // Created at the scale that fits its monitor (DescribeSkinWindow).
      const double monitorScale = ScaleOf(dpi_);
      scale_ = baseWidth_ > 0 ? FitScale(baseWidth_, baseHeight_, monitorScale, WorkAreaOf(h)) : monitorScale;
      scene_.SetScale(scale_);
      ReadColours();
      break;
    }
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wp), *reinterpret_cast<const RECT*>(lp));
      return 0;
    case WM_SHOWWINDOW:
      // Shown by the program (not uncovered by a parent): back on a screen
      // wherever the screens went while it was hidden.
      if (wp && lp == 0) KeepOnScreen();
      break;
    case WM_DISPLAYCHANGE:
      if (::IsWindowVisible(h)) KeepOnScreen();
      break;
    case WM_SETTINGCHANGE:
      if (wp == SPI_SETWORKAREA && ::IsWindowVisible(h)) KeepOnScreen();
      ReadColours();
      break;
    case WM_SYSCOLORCHANGE:
      ReadColours();
      break;
    case WM_SETFOCUS:
      ControlFocusChanged();
      break;
    case WM_KILLFOCUS:
      ::InvalidateRect(h, nullptr, FALSE);  // the focus cue goes
      break;
    case WM_GETOBJECT:
      return OnGetObject(wp, lp);
    case WM_ERASEBKGND:
      return 1;  // the paint covers everything
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(h, &ps);
      RECT rc;
      ::GetClientRect(h, &rc);
      // One off-screen buffer per paint: no flicker.
      win::UniqueMemDc mem(::CreateCompatibleDC(dc));
      win::UniqueBitmap buffer(::CreateCompatibleBitmap(dc, rc.right, rc.bottom));
      if (mem && buffer) {
        win::SelectGuard sel(mem.get(), buffer.get());
        Paint(mem.get(), rc);
        ::BitBlt(dc, 0, 0, rc.right, rc.bottom, mem.get(), 0, 0, SRCCOPY);
      }
      ::EndPaint(h, &ps);
      return 0;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      OnMouse(msg, wp, lp);
      return 0;
    case WM_CAPTURECHANGED:
      router_.CaptureLost();
      return 0;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      if (hdr->hwndFrom == tooltip_ && hdr->code == TTN_GETDISPINFOW) {
        auto* di = reinterpret_cast<NMTTDISPINFOW*>(lp);
        const int id = static_cast<int>(di->hdr.idFrom) - 1;
        di->szText[0] = L'\0';
        di->lpszText = di->szText;
        POINT p;
        // Only the topmost element under the pointer speaks.
        if (id >= 0 && id < scene_.size() && ::GetCursorPos(&p) && ::ScreenToClient(h, &p) &&
            scene_.HitTest(p.x, p.y) == id) {
          di->lpszText = const_cast<wchar_t*>(visuals_.at(static_cast<size_t>(id))->tooltip.c_str());
        }
        return 0;
      }
      break;
    }
    case WM_NCDESTROY:
      if (accessible_) {
        accessible_->Disconnect();
        accessible_.reset();
      }
      // The next load builds its elements anew.
      tooltip_ = nullptr;  // went with its owner
      tools_.clear();
      router_.CaptureLost();
      scene_.Clear();
      visuals_.clear();
      break;
    default:
      if (msg == ControlClickMessage()) {
        const auto controls = Skin_AccessibleControls();
        if (wp < controls.size()) Skin_ControlClick(static_cast<int>(wp));
        return 0;
      }
      break;
  }
  return Form::WndProc(msg, wp, lp);
}

}  // namespace skin

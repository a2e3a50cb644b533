#include "client/mainwindow/skinform.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cmath>

#include "common/win/dpi.h"
#include "common/win/winstr.h"

namespace skin {

namespace {

win::UniqueFont FontAt(const FontSpec& f, int dpi) {
  LOGFONTW lf{};
  lf.lfHeight = -static_cast<LONG>(std::lround(f.points * dpi / 72.0));
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

win::UniqueFont SkinForm::MakeFont(const FontSpec& f) const { return FontAt(f, dpi_); }

int SkinForm::StartDpi() { return win::SystemDpi(); }

void SkinForm::SetDpi(int dpi) {
  dpi_ = dpi > 0 ? dpi : 96;
  scale_ = ScaleOf(dpi_);
  scene_.SetScale(scale_);
}

void SkinForm::DescribeSkinWindow(win::FormWindowSpec& desc, int width, int height, const std::wstring& title) {
  desc.title = title;
  // No caption and no frame: the client area is the whole window. Child
  // windows (browser frame, check boxes) are left out of the painting.
  desc.style = WS_POPUP | WS_CLIPCHILDREN;
  desc.exStyle = WS_EX_APPWINDOW;
  const double scale = ScaleOf(StartDpi());
  desc.width = ToPixel(width * scale);
  desc.height = ToPixel(height * scale);
  desc.background = RGB(255, 255, 255);
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
  ::FillRect(dc, &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  ::SetBkMode(dc, TRANSPARENT);
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
        ::SetTextColor(dc, v.color);
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
}

win::UniqueBitmap SkinForm::Snapshot() {
  HWND h = hWndIfLoaded();
  if (!h) return {};
  RECT rc;
  ::GetClientRect(h, &rc);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = rc.right;
  bi.bmiHeader.biHeight = -rc.bottom;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  win::UniqueBitmap bmp(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
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
    case WM_CREATE:
      SetDpi(win::WindowDpi(h));
      break;
    case WM_DPICHANGED: {
      SetDpi(HIWORD(wp));
      for (int id = 0; id < scene_.size(); ++id) {
        if (scene_.at(id).kind != Kind::kLabel) continue;
        Visual& v = *visuals_.at(static_cast<size_t>(id));
        v.font = MakeFont(v.fontSpec);
        SetLabelText(id, scene_.at(id).text);
      }
      SetCursorPicture(cursorPicture_, hotX_, hotY_);
      const RECT* proposed = reinterpret_cast<const RECT*>(lp);
      ::SetWindowPos(h, nullptr, proposed->left, proposed->top, proposed->right - proposed->left,
                     proposed->bottom - proposed->top, SWP_NOZORDER | SWP_NOACTIVATE);
      Skin_DpiChanged();
      toolsDirty_ = true;
      ::InvalidateRect(h, nullptr, FALSE);
      return 0;
    }
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
      // The next load builds its elements anew.
      tooltip_ = nullptr;  // went with its owner
      tools_.clear();
      router_.CaptureLost();
      scene_.Clear();
      visuals_.clear();
      break;
    default:
      break;
  }
  return Form::WndProc(msg, wp, lp);
}

}  // namespace skin

#include "client/settings/frmProgramSet.h"

#include <cmath>
#include <utility>
#include <vector>

#include "artwork/resource.h"
#include "client/startup/modChkOptState.h"
#include "client/startup/modOpertXml.h"
#include "client/tray/modSubClass.h"
#include "common/win/dpi.h"
#include "common/win/winstr.h"

namespace {

constexpr int kCheckIdBase = 1000;  // clear of IDOK and IDCANCEL
constexpr COLORREF kBorderColor = RGB(9, 123, 183);
constexpr COLORREF kWhite = RGB(255, 255, 255);
// Picture stores and the cursor's source lie outside the client area.
constexpr double kOffArea = -400;

struct BoxSpec {
  const wchar_t* caption;
  int x, y, w, h;
};
// Check1 by index; there is no box 2.
constexpr BoxSpec kBoxes[4] = {
    {L"开机自动运行", 32, 56, 97, 25},
    {L"关闭时,最小化至托盘", 32, 160, 137, 17},
    {nullptr, 0, 0, 0, 0},
    {L"创建桌面快捷方式", 32, 112, 121, 17},
};

// The dialog's default font, for the boxes.
const skin::FontSpec kBoxFont{L"宋体", 9};

}  // namespace

frmProgramSet& frmProgramSet::Instance() {
  static frmProgramSet form;
  return form;
}

HWND frmProgramSet::Check1(int index) const {
  if (index < 0 || index >= static_cast<int>(check_.size()) || !IsLoaded()) return nullptr;
  return check_[static_cast<size_t>(index)];
}

const std::u16string& frmProgramSet::Tag(int index) const { return tag_.at(static_cast<size_t>(index)); }

int frmProgramSet::CheckState(int index) const {
  HWND box = Check1(index);
  return box && ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

// --- building -------------------------------------------------------------------

void frmProgramSet::LoadPictures() {
  if (top_) return;
  top_ = skin::Picture::FromBitmapResource(IDB_TOP);
  titleIcon_ = skin::Picture::FromBitmapResource(IDB_TITLEICON);
  close_[0] = skin::Picture::FromBitmapResource(IDB_SET_CLOSE_NORMAL);
  close_[1] = skin::Picture::FromBitmapResource(IDB_SET_CLOSE_HOVER);
  btnNormal_ = skin::Picture::FromBitmapResource(IDB_BTN_NORMAL);
  btnHover_ = skin::Picture::FromBitmapResource(IDB_BTN_HOVER);
  btnActive_ = skin::Picture::FromBitmapResource(IDB_BTN_ACTIVE);
  hand_ = skin::Picture::FromIconResource(IDI_HANDPOINTER, 32);
  // The sizes the shell asks for at this dpi.
  HINSTANCE inst = ::GetModuleHandleW(nullptr);
  const int dpi = StartDpi();
  const int big = win::MetricForDpi(SM_CXICON, dpi), small = win::MetricForDpi(SM_CXSMICON, dpi);
  bigIcon_.reset(static_cast<HICON>(::LoadImageW(inst, MAKEINTRESOURCEW(IDI_VELBOX), IMAGE_ICON, big, big, 0)));
  smallIcon_.reset(static_cast<HICON>(::LoadImageW(inst, MAKEINTRESOURCEW(IDI_VELBOX), IMAGE_ICON, small, small, 0)));
}

void frmProgramSet::DescribeWindow(win::FormWindowSpec& desc) {
  LoadPictures();
  // Centred on the work area.
  DescribeSkinWindow(desc, static_cast<int>(settings::kDialogWidth), static_cast<int>(settings::kDialogHeight),
                     L"设置中心");
  desc.bigIcon = bigIcon_.get();
  desc.smallIcon = smallIcon_.get();
}

void frmProgramSet::Form_CreateControls() {
  // Everything of the previous load went with its window. The hover flags
  // go too: the pictures start normal, and a flag left from the last
  // opening would only keep the next hover picture from appearing.
  ids_ = Ids{};
  check_.fill(nullptr);
  tag_.fill(std::u16string());
  closeHover_ = skin::HoverSet(1);
  buttons_.Reset();

  const COLORREF text = ::GetSysColor(COLOR_BTNTEXT);
  const skin::FontSpec caption{L"宋体", 10.5};

  // Topmost first.
  const int mousePoint = AddImage(u"imgMousePoint", -1, &hand_);
  MoveElement(mousePoint, kOffArea, kOffArea);
  SetElementVisible(mousePoint, false);
  SetCursorPicture(&hand_, HAND_HOTSPOT_X, HAND_HOTSPOT_Y);
  for (int i = 0; i < 2; ++i) {
    // No text: transparent, it only takes the mouse.
    ids_.respond[static_cast<size_t>(i)] = AddLabel(u"lbl_RespondCmd", i, u"", skin::FontSpec{}, text);
    SizeElement(ids_.respond[static_cast<size_t>(i)], settings::kRespondWidth, settings::kRespondHeight);
  }
  ids_.caption[1] = AddLabel(u"Label2", -1, u"取消", caption, text);
  ids_.caption[0] = AddLabel(u"Label1", -1, u"确定", caption, text);
  for (auto [name, picture] : {std::pair{u"imgBtnActive", &btnActive_}, std::pair{u"imgBtnHover", &btnHover_},
                               std::pair{u"imgBtnNormal", &btnNormal_}}) {
    const int id = AddImage(name, -1, picture);
    MoveElement(id, kOffArea, kOffArea);
    SetElementVisible(id, false);
  }
  ids_.lines[1] = AddLine(u"Line2", -1, kBorderColor);
  ids_.lines[3] = AddLine(u"Line4", -1, kBorderColor);
  ids_.lines[0] = AddLine(u"Line1", -1, kBorderColor);
  ids_.lines[2] = AddLine(u"Line3", -1, kBorderColor);
  ids_.close[0] = AddImage(u"imgClose", 0, &close_[0], false, u"关闭");
  ids_.close[1] = AddImage(u"imgClose", 1, &close_[1], false, u"关闭");
  ids_.title = AddLabel(u"lblTitle", -1, u"", skin::FontSpec{L"宋体", 12}, kWhite);
  ids_.icon = AddImage(u"imgIcon", -1, &titleIcon_);
  ids_.top = AddImage(u"imgTop", -1, &top_, true);
  ids_.line5 = AddLine(u"Line5", -1, ::GetSysColor(COLOR_SCROLLBAR));
  SetLine(ids_.line5, settings::kLine5.x1, settings::kLine5.y1, settings::kLine5.x2, settings::kLine5.y2);
  ids_.frame[1] = AddImage(u"img_ShowFrame", 1, nullptr);
  ids_.frame[0] = AddImage(u"img_ShowFrame", 0, nullptr);
  for (size_t i = 0; i < 2; ++i) {
    const skin::Box& place = settings::kFramePlaces[i];
    MoveElement(ids_.frame[i], place.left, place.top);
    SizeElement(ids_.frame[i], place.width, place.height);
  }

  CreateCheckBoxes();
  Layout();
}

void frmProgramSet::CreateCheckBoxes() {
  HWND dialog = hWndIfLoaded();
  boxFont_ = MakeFont(kBoxFont);
  // Created in the tab order, which Tab follows.
  for (int index : settings::kTabOrder) {
    const BoxSpec& b = kBoxes[index];
    HWND box = ::CreateWindowExW(0, L"BUTTON", b.caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 0,
                                 0, 0, dialog, reinterpret_cast<HMENU>(INT_PTR{kCheckIdBase + index}),
                                 ::GetModuleHandleW(nullptr), nullptr);
    check_[static_cast<size_t>(index)] = box;
  }
  PlaceCheckBoxes();
  focusStop_ = 0;
  keyPressed_ = -1;
}

void frmProgramSet::PlaceCheckBoxes() {
  // Their places and font at the window's scale.
  for (int index : settings::kTabOrder) {
    const BoxSpec& b = kBoxes[index];
    HWND box = check_[static_cast<size_t>(index)];
    if (!box) continue;
    const skin::PixelRect r = skin::ScaleEdges(b.x, b.y, b.x + b.w, b.y + b.h, Scale());
    ::MoveWindow(box, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    ::SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(boxFont_.get()), TRUE);
  }
}

void frmProgramSet::Skin_ScaleChanged() {
  if (!hWndIfLoaded()) return;
  // The boxes let go of the old font before it goes.
  win::UniqueFont old = std::move(boxFont_);
  boxFont_ = MakeFont(kBoxFont);
  PlaceCheckBoxes();
  Layout();
}

void frmProgramSet::Form_Load() {
  modChkOptState::ApplyOptions();
  LoadOptState();
}

void frmProgramSet::LoadOptState() {
  if (!modOpertXml::ConfigFileExists()) return;
  for (const settings::OptionBox& b : settings::kOptionBoxes) {
    const auto loaded = settings::LoadFromText(win::U(modOpertXml::ReadConfigKey(win::W(b.key))));
    if (!loaded) continue;
    if (HWND box = Check1(b.index))
      ::SendMessageW(box, BM_SETCHECK, loaded->state ? BST_CHECKED : BST_UNCHECKED, 0);
    tag_[static_cast<size_t>(b.index)] = loaded->tag;
  }
}

// --- layout -----------------------------------------------------------------------

void frmProgramSet::Form_Resize() {
  if (WindowState() == kMinimized) return;
  Layout();
}

void frmProgramSet::Layout() {
  HWND h = hWndIfLoaded();
  if (!h || ids_.top < 0) return;  // a size message before the elements exist
  RECT rc;
  ::GetClientRect(h, &rc);
  SetLabelText(ids_.title, u"设置中心");

  // Placed in 96-dpi pixels: the client size over the window's scale.
  settings::DialogInput in;
  in.width = rc.right / Scale();
  in.height = rc.bottom / Scale();
  in.iconWidth = El(ids_.icon).box.width;
  in.titleWidth = El(ids_.title).box.width;
  in.titleHeight = El(ids_.title).box.height;
  in.closeWidth = El(ids_.close[0]).box.width;
  in.normalWidth = btnNormal_.width();
  in.normalHeight = btnNormal_.height();
  for (size_t i = 0; i < 2; ++i) {
    in.captionWidth[i] = El(ids_.caption[i]).box.width;
    in.captionHeight[i] = El(ids_.caption[i]).box.height;
  }
  const settings::DialogLayout d = settings::PlaceDialog(in);

  MoveElement(ids_.top, d.chrome.top.left, d.chrome.top.top);
  SizeElement(ids_.top, d.chrome.top.width, d.chrome.top.height);
  MoveElement(ids_.icon, d.chrome.icon.left, d.chrome.icon.top);
  MoveElement(ids_.title, d.chrome.title.left, d.chrome.title.top);
  for (int id : ids_.close) MoveElement(id, d.chrome.close.left, d.chrome.close.top);
  SetElementVisible(ids_.close[0], true);
  SetElementVisible(ids_.close[1], false);
  closeHover_.ResetPictures();

  buttons_.ResetPictures();
  for (size_t i = 0; i < 2; ++i) {
    ShowFramePicture(static_cast<int>(i));
    MoveElement(ids_.frame[i], d.frame[i].left, d.frame[i].top);
    MoveElement(ids_.respond[i], d.respond[i].left, d.respond[i].top);
    SizeElement(ids_.respond[i], d.respond[i].width, d.respond[i].height);
    MoveElement(ids_.caption[i], d.caption[i].left, d.caption[i].top);
  }

  const skin::LineCoords lines[] = {d.chrome.line1, d.chrome.line2, d.chrome.line3, d.chrome.line4};
  for (size_t i = 0; i < 4; ++i) SetLine(ids_.lines[i], lines[i].x1, lines[i].y1, lines[i].x2, lines[i].y2);
}

void frmProgramSet::ShowFramePicture(int index) {
  const skin::Picture* picture = &btnNormal_;
  switch (buttons_.Picture(index)) {
    case settings::ButtonPicture::kHover:
      picture = &btnHover_;
      break;
    case settings::ButtonPicture::kPressed:
      picture = &btnActive_;
      break;
    case settings::ButtonPicture::kNormal:
      break;
  }
  SetPicture(ids_.frame[static_cast<size_t>(index)], picture);
}

// --- mouse --------------------------------------------------------------------------

int frmProgramSet::MemberOf(int target, std::u16string_view name) const {
  if (target < 0 || target >= scene().size()) return -1;
  const skin::Element& e = El(target);
  return e.name == name ? e.index : -1;
}

void frmProgramSet::Skin_MouseMove(int target, const skin::MouseArgs&) {
  if (target == skin::kSurface) {
    Form_MouseMove();
  } else if (int i = MemberOf(target, u"imgClose"); i >= 0) {
    imgClose_MouseMove(i);
  } else if (target == ids_.top) {
    imgTop_MouseMove();
  } else if (int b = MemberOf(target, u"lbl_RespondCmd"); b >= 0) {
    lbl_RespondCmd_MouseMove(b);
  }
}

void frmProgramSet::Skin_MouseDown(int target, const skin::MouseArgs& a) {
  if (target == ids_.top || target == ids_.icon || target == ids_.title) {
    DragWindow(a.button);
  } else if (int b = MemberOf(target, u"lbl_RespondCmd"); b >= 0) {
    lbl_RespondCmd_MouseDown(b, a.button);
  }
}

void frmProgramSet::Skin_MouseUp(int target, const skin::MouseArgs& a) {
  if (int b = MemberOf(target, u"lbl_RespondCmd"); b >= 0) lbl_RespondCmd_MouseUp(b, a.button);
}

void frmProgramSet::Skin_Click(int target) {
  if (int i = MemberOf(target, u"imgClose"); i >= 0) imgClose_Click(i);
}

// --- accessibility ------------------------------------------------------------------

std::vector<skin::AccessibleControl> frmProgramSet::Skin_AccessibleControls() const {
  if (ids_.top < 0) return {};
  std::vector<skin::AccessibleControl> controls{{u"关闭", {ids_.close[0], ids_.close[1]}}};
  for (size_t i = 0; i < 2; ++i) {
    // The label that takes the mouse, the picture and the caption.
    controls.push_back({El(ids_.caption[i]).text, {ids_.respond[i], ids_.frame[i], ids_.caption[i]}, true});
  }
  return controls;
}

bool frmProgramSet::Skin_ControlHot(int control) const {
  if (control == 0) return closeHover_.HoverShown(0);
  return buttons_.Picture(control - 1) != settings::ButtonPicture::kNormal;
}

void frmProgramSet::Skin_ControlClick(int control) {
  if (control == 0) {
    imgClose_Click(0);
    return;
  }
  PressButton(control - 1);
}

int frmProgramSet::Skin_FocusedControl() const {
  const int button = settings::ButtonAtStop(focusStop_);
  return button < 0 ? -1 : button + 1;  // after the close button
}

void frmProgramSet::PressButton(int index) {
  // A press and its release, as the mouse makes them.
  lbl_RespondCmd_MouseDown(index, skin::kLeftButton);
  lbl_RespondCmd_MouseUp(index, skin::kLeftButton);
}

// --- keyboard -------------------------------------------------------------------

HWND frmProgramSet::BoxAtStop(int stop) const {
  if (settings::ButtonAtStop(stop) >= 0) return nullptr;
  return check_[static_cast<size_t>(settings::kTabOrder.at(static_cast<size_t>(stop)))];
}

int frmProgramSet::CurrentStop() const {
  HWND focus = ::GetFocus();
  for (int stop = 0; stop < settings::kOkStop; ++stop)
    if (focus && focus == BoxAtStop(stop)) return stop;
  return focusStop_;
}

void frmProgramSet::FocusStop(int stop) {
  HWND h = hWndIfLoaded();
  focusStop_ = stop;
  if (HWND box = BoxAtStop(stop)) {
    ::SetFocus(box);
  } else if (::GetFocus() == h) {
    ControlFocusChanged();  // from one button to the other
  } else {
    ::SetFocus(h);  // a windowless button: the window itself holds the focus
  }
}

bool frmProgramSet::Form_PreviewKey(MSG& msg) {
  HWND h = hWndIfLoaded();
  if (!h || (msg.message != WM_KEYDOWN && msg.message != WM_KEYUP)) return false;
  const int key = static_cast<int>(msg.wParam);
  if (key == VK_TAB) {
    if (msg.message == WM_KEYDOWN) {
      FocusStop(settings::NextFocusStop(CurrentStop(), ::GetKeyState(VK_SHIFT) < 0));
      // As dialog navigation does: the keyboard is in use, focus cues show.
      ::SendMessageW(h, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    }
    return true;
  }
  const int button = ::GetFocus() == h ? settings::ButtonAtStop(focusStop_) : -1;
  const bool repeat = (msg.lParam & (LPARAM{1} << 30)) != 0;
  switch (settings::StepForKey(msg.message == WM_KEYDOWN ? settings::KeyMessage::kDown : settings::KeyMessage::kUp,
                               key, repeat)) {
    case settings::KeyStep::kPress:
      if (button < 0) return false;
      keyPressed_ = button;
      lbl_RespondCmd_MouseDown(button, skin::kLeftButton);
      return true;
    case settings::KeyStep::kRelease:
      // Completes the button Space pressed, wherever the keyboard is now,
      // as a mouse release does wherever the pointer is.
      if (keyPressed_ < 0) return false;
      lbl_RespondCmd_MouseUp(std::exchange(keyPressed_, -1), skin::kLeftButton);
      return true;
    case settings::KeyStep::kClick:
      if (button < 0) return false;
      PressButton(button);
      return true;
    case settings::KeyStep::kNone:
      break;
  }
  return false;
}

void frmProgramSet::Form_MouseMove() {
  if (!buttons_.OnSurfaceMove()) return;
  SetDefCursor();
  ShowFramePicture(settings::kOkButton);
  ShowFramePicture(settings::kCancelButton);
}

void frmProgramSet::imgClose_Click(int) { Unload(); }

void frmProgramSet::imgClose_MouseMove(int) {
  if (!closeHover_.OnButtonMove(0)) return;
  SetElementVisible(ids_.close[0], false);
  SetElementVisible(ids_.close[1], true);
  SetHandCursor();
}

void frmProgramSet::imgTop_MouseMove() {
  if (!closeHover_.OnStripMove()) return;
  SetElementVisible(ids_.close[1], false);
  SetElementVisible(ids_.close[0], true);
  SetDefCursor();
}

void frmProgramSet::lbl_RespondCmd_MouseMove(int index) {
  if (!buttons_.OnButtonMove(index)) return;
  SetHandCursor();
  ShowFramePicture(index);
}

void frmProgramSet::lbl_RespondCmd_MouseDown(int index, int) {
  buttons_.OnButtonDown(index);
  ShowFramePicture(index);
}

void frmProgramSet::lbl_RespondCmd_MouseUp(int index, int) {
  switch (buttons_.OnButtonUp(index)) {
    case settings::ButtonAction::kApplyAndClose:
      Apply();
      Unload();
      break;
    case settings::ButtonAction::kClose:
      Unload();
      break;
    case settings::ButtonAction::kNone:
      break;
  }
}

void frmProgramSet::Apply() {
  std::vector<settings::BoxValue> boxes;
  for (const settings::OptionBox& b : settings::kOptionBoxes)
    boxes.push_back({b.key, tag_[static_cast<size_t>(b.index)], CheckState(b.index)});
  // Each write saves the file before the next box is looked at; a failed
  // write leaves the file as it was and the enforcement follows the file.
  for (const settings::KeyWrite& w : settings::ChangedOptions(boxes))
    modOpertXml::WriteConfigKey(win::W(w.key), win::W(w.value));
  modChkOptState::ApplyOptions();
}

// --- messages -------------------------------------------------------------------------

LRESULT frmProgramSet::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  // A close from outside ends the client, not only the dialog.
  if (LRESULT result = 0; modSubClass::HandleEndRequest(msg, wp, result)) return result;
  switch (msg) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      // The boxes: system text colour on white, or under high contrast on
      // the system's window colour.
      HDC dc = reinterpret_cast<HDC>(wp);
      const skin::TextColours& c = Colours();
      ::SetTextColor(dc, skin::ToColorRef(c.text));
      ::SetBkColor(dc, skin::ToColorRef(c.back));
      return reinterpret_cast<LRESULT>(BackBrush());
    }
    case WM_ACTIVATE:
      // Where the keyboard was gets it back at the next activation.
      if (LOWORD(wp) == WA_INACTIVE) focusStop_ = CurrentStop();
      break;
    case WM_SETFOCUS:
      if (settings::ButtonAtStop(focusStop_) < 0) {
        if (HWND box = BoxAtStop(focusStop_)) ::SetFocus(box);
        return 0;
      }
      break;  // a button: the skin shows its focus
    case WM_SYSCOMMAND:
      // Alt+F4 closes the dialog as its close button does; only a close
      // from outside ends the client.
      if ((wp & 0xFFF0) == SC_CLOSE) {
        imgClose_Click(0);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      check_.fill(nullptr);
      break;
    default:
      break;
  }
  return SkinForm::WndProc(msg, wp, lp);
}

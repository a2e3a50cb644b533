// A skinned form: a borderless top-level window (its client area is the
// whole window) that draws its own windowless elements - images, labels and
// lines - in the order the form lists them, routes the mouse to the topmost
// element under it, shows the elements' tooltips and offers the procedures
// of a skinned window (DragWindow, SetHandCursor, SetDefCursor). It keeps
// itself inside its monitor's work area at a scale that fits, shows its
// windowless controls to accessibility clients and draws its texts in the
// system's colours under high contrast.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "client/mainwindow/contrast.h"
#include "client/mainwindow/picture.h"
#include "client/mainwindow/skinaccess.h"
#include "client/mainwindow/skinmodel.h"
#include "common/win/form.h"
#include "common/win/owners.h"

namespace skin {

inline COLORREF ToColorRef(Rgb c) { return RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

struct FontSpec {
  std::wstring face = L"宋体";
  double points = 9;
  BYTE charset = GB2312_CHARSET;
  bool bold = false;
};

// Mouse arguments as the handlers get them: button 1 left, 2 right,
// 4 middle (for a move, the buttons held); shift 1 Shift, 2 Ctrl, 4 Alt;
// x and y in pixels of the window.
struct MouseArgs {
  int button = 0;
  int shift = 0;
  int x = 0;
  int y = 0;
};

class SkinForm : public win::Form, private AccessibleHost {
 public:
  // Element access, by the ids the Add functions return (valid for the
  // current load).
  const Element& El(int id) const { return scene_.at(id); }
  const Scene& scene() const { return scene_; }
  int FindElement(std::u16string_view name, int index = -1) const { return scene_.Find(name, index); }

  // Moves the left button's drag of the window to the system, as if the
  // caption were dragged; any other button does nothing.
  void DragWindow(int button);
  // The pointer over the surface and its elements: the hand made from the
  // cursor picture, or the arrow.
  void SetHandCursor();
  void SetDefCursor();

  // Tests and diagnostics: paints the window as it is now into a 32-bit
  // top-down bitmap of the client size.
  win::UniqueBitmap Snapshot();

  // The window's pixels per 96-dpi pixel: its dpi / 96, or less where the
  // window does not fit its monitor's work area at that. Elements are placed
  // in 96-dpi pixels and shown at this scale.
  double Scale() const { return scale_; }
  int Dpi() const { return dpi_; }
  // The font f describes, at the window's scale.
  win::UniqueFont MakeFont(const FontSpec& f) const;

  // The colours the texts are drawn in now, and a brush of their background.
  const TextColours& Colours() const { return colours_; }
  HBRUSH BackBrush() const { return backBrush_.get(); }

  // The work area (screen pixels) of the monitor a window or a point is on.
  static PixelRect WorkAreaOf(HWND hwnd);
  static PixelRect PrimaryWorkArea();

 protected:
  // Window styles of a skinned window of width x height 96-dpi pixels,
  // centred on the primary monitor's work area at the scale that fits it
  // at the dpi new windows start at; forms adjust the title and place.
  void DescribeSkinWindow(win::FormWindowSpec& desc, int width, int height, const std::wstring& title);
  // The dpi and scale a new window starts at.
  static int StartDpi();

  // Building the elements, topmost first (from Form_CreateControls).
  int AddImage(std::u16string name, int index, const Picture* picture, bool stretch = false,
               std::u16string tooltip = {});
  int AddLabel(std::u16string name, int index, std::u16string text, const FontSpec& font, COLORREF color);
  int AddLine(std::u16string name, int index, COLORREF color);

  void SetElementVisible(int id, bool visible);
  void MoveElement(int id, double left, double top);
  void SizeElement(int id, double width, double height);
  void SetLine(int id, double x1, double y1, double x2, double y2);
  // Labels are sized to their text.
  void SetLabelText(int id, std::u16string text);
  // Images that are not stretched take the picture's size.
  void SetPicture(int id, const Picture* picture);
  // The icon the hand cursor is made from, with its hot spot.
  void SetCursorPicture(const Picture* icon, int hotX, int hotY);

  // Mouse handlers; target is an element id or kSurface.
  virtual void Skin_MouseMove(int target, const MouseArgs& a) {}
  virtual void Skin_MouseDown(int target, const MouseArgs& a) {}
  virtual void Skin_MouseUp(int target, const MouseArgs& a) {}
  virtual void Skin_Click(int target) {}
  // The window is laid out at another scale (it moved to a monitor of
  // another dpi, or came to a work area it does not fit at its dpi): the
  // labels are measured anew and the window has its new size; the form
  // places its elements and child windows again.
  virtual void Skin_ScaleChanged() {}
  // The texts' colours changed (high contrast, the colour scheme); the
  // window is painted again.
  virtual void Skin_ColoursChanged() {}

  // Lays the elements out at `scale` (fonts, labels, cursor); true when it
  // changed. The form then sizes the window and places its parts.
  bool SetLayoutScale(double scale);
  // Moves the window into the work area of its monitor (the nearest one
  // when it lies on none), at the largest scale that fits: at every show,
  // and when the screens change while it is shown.
  void KeepOnScreen();

  // The windowless controls an accessibility client sees, as push buttons.
  virtual std::vector<AccessibleControl> Skin_AccessibleControls() const { return {}; }
  // The control shows its hover or pressed picture.
  virtual bool Skin_ControlHot(int control) const { return false; }
  // What a click on the control does.
  virtual void Skin_ControlClick(int control) {}
  // The windowless control the keyboard is on while the window has the
  // focus; -1 when it is on a child window or nowhere.
  virtual int Skin_FocusedControl() const { return -1; }
  // The keyboard moved onto a windowless control or off it: its focus cue
  // is drawn anew and accessibility clients are told.
  void ControlFocusChanged();

  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  struct Visual {
    const Picture* picture = nullptr;
    FontSpec fontSpec;
    win::UniqueFont font;
    COLORREF color = RGB(0, 0, 0);
    std::wstring tooltip;
  };
  void Paint(HDC dc, const RECT& rc);
  void OnMouse(UINT msg, WPARAM wp, LPARAM lp);
  void Deliver(const std::vector<Dispatch>& events, const MouseArgs& base);
  void Changed(int id);
  void SyncTooltips();
  void EnsureTooltip();
  void ApplyCursorNow();
  void SetDpi(int dpi);
  void RemakeFonts();
  void ReadColours();
  void OnDpiChanged(int dpi, const RECT& proposed);
  // Skin_FocusedControl while the window has the focus, else -1.
  int FocusedControl() const;
  void PaintFocusCue(HDC dc);
  LRESULT OnGetObject(WPARAM wp, LPARAM lp);

  // AccessibleHost
  HWND AccessibleWindow() const override { return hWndIfLoaded(); }
  const Scene& AccessibleScene() const override { return scene_; }
  std::vector<AccessibleControl> AccessibleControls() const override { return Skin_AccessibleControls(); }
  bool AccessibleHot(int control) const override { return Skin_ControlHot(control); }
  int AccessibleFocus() const override { return FocusedControl(); }
  void AccessibleDefaultAction(int control) override;

  Scene scene_;
  std::vector<std::unique_ptr<Visual>> visuals_;
  MouseRouter router_;
  HWND tooltip_ = nullptr;
  std::vector<UINT_PTR> tools_;
  bool toolsDirty_ = false;
  win::UniqueIcon handCursor_;  // a cursor made with CreateIconIndirect
  const Picture* cursorPicture_ = nullptr;
  int hotX_ = 0, hotY_ = 0;
  int dpi_ = 96;
  double scale_ = 1.0;
  // The window's size in 96-dpi pixels.
  double baseWidth_ = 0, baseHeight_ = 0;
  SystemColours system_;
  TextColours colours_;
  win::UniqueBrush backBrush_;
  win::ComPtr<SkinAccessible> accessible_;
};

}  // namespace skin

// A skinned form: a borderless top-level window (its client area is the
// whole window) that draws its own windowless elements - images, labels and
// lines - in the order the form lists them, routes the mouse to the topmost
// element under it, shows the elements' tooltips and offers the procedures
// of a skinned window (DragWindow, SetHandCursor, SetDefCursor).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "client/mainwindow/picture.h"
#include "client/mainwindow/skinmodel.h"
#include "common/win/form.h"
#include "common/win/owners.h"

namespace skin {

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

class SkinForm : public win::Form {
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

  // The window's pixels per 96-dpi pixel (its dpi / 96). Elements are
  // placed in 96-dpi pixels and shown at this scale.
  double Scale() const { return scale_; }
  int Dpi() const { return dpi_; }
  // The font f describes, at the window's dpi.
  win::UniqueFont MakeFont(const FontSpec& f) const;

 protected:
  // Window styles of a skinned window of width x height 96-dpi pixels at
  // the dpi new windows start at; forms adjust the title and place.
  static void DescribeSkinWindow(win::FormWindowSpec& desc, int width, int height, const std::wstring& title);
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
  // The window moved to a monitor of another dpi: the labels are measured
  // anew and the window took the size the system proposed; the form places
  // its child windows again.
  virtual void Skin_DpiChanged() {}

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
};

}  // namespace skin

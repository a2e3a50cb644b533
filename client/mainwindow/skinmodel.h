// The windowless elements of a skinned window (images, labels, lines) and
// the decisions made about them: which one lies under the pointer, the
// order they are drawn in, where mouse events go, the caption buttons'
// hover state, and the placement of the chrome. No Windows header.
#pragma once

#include <string>
#include <vector>

namespace skin {

enum class Kind { kImage, kLabel, kLine };

struct Box {
  double left = 0;
  double top = 0;
  double width = 0;
  double height = 0;
};

// Half-open pixel rectangle [left, right) x [top, bottom).
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const PixelRect&) const = default;
};

struct PixelLine {
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
  bool operator==(const PixelLine&) const = default;
};

struct Element {
  Kind kind = Kind::kImage;
  std::u16string name;
  int index = -1;  // member of a control array; -1 for a single element
  bool visible = true;
  bool stretch = false;  // images: fill the box instead of taking the picture's size
  Box box;               // images and labels
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // lines
  std::u16string text;     // labels
  std::u16string tooltip;  // images and labels
};

// Fractional coordinates land on the nearest pixel, halves going down and
// right (so the bottom border at H - 1.5 is the window's last row).
int ToPixel(double v);

// Elements are placed in pixels at 96 dpi; a window shows them at its scale
// (its dpi / 96): 1, 1.25, 1.5, 2. At scale 1 the pixels are the places.
double ScaleOf(int dpi);
// The element's box in window pixels; its size is the size times the scale.
PixelRect PixelBox(const Element& e, double scale = 1.0);
PixelLine PixelLineOf(const Element& e);
// A horizontal or vertical line as the band of window pixels it covers:
// the 96-dpi pixel row or column it lies on, scaled, at least one pixel
// thick. A slanted line gives its bounding band.
PixelRect LineBand(const Element& e, double scale = 1.0);
// Edges of a rectangle given in 96-dpi pixels, each scaled to the nearest
// pixel, so neighbouring rectangles stay neighbours.
PixelRect ScaleEdges(double left, double top, double right, double bottom, double scale);

inline constexpr int kSurface = -1;  // the form itself, under every element

class Scene {
 public:
  // Elements are added topmost first, as a form lists them.
  int Add(Element e);
  void Clear() { elements_.clear(); }
  int size() const { return static_cast<int>(elements_.size()); }
  Element& at(int id) { return elements_.at(static_cast<size_t>(id)); }
  const Element& at(int id) const { return elements_.at(static_cast<size_t>(id)); }
  // Id of the element with that name and index; -1 when there is none.
  int Find(std::u16string_view name, int index = -1) const;

  // The topmost visible image or label under window pixel (x, y);
  // kSurface when none. Lines take no mouse.
  int HitTest(int x, int y) const;
  // The window's scale (dpi / 96) the pixels of HitTest are at.
  void SetScale(double scale) { scale_ = scale > 0 ? scale : 1.0; }
  double Scale() const { return scale_; }
  // Visible elements, bottommost first: the order to paint them in.
  std::vector<int> DrawOrder() const;

 private:
  std::vector<Element> elements_;
  double scale_ = 1.0;
};

// Mouse buttons as the handlers see them.
inline constexpr int kLeftButton = 1;
inline constexpr int kRightButton = 2;
inline constexpr int kMiddleButton = 4;

enum class MouseEvent { kMove, kDown, kUp, kClick };

struct Dispatch {
  MouseEvent event;
  int target;  // element id or kSurface
  int button;  // the button of a down, up or click; the buttons held for a move
  bool operator==(const Dispatch&) const = default;
};

// Routes mouse input to elements. A press keeps the mouse for the element
// it started on until every button is up, so its release (and its moves
// meanwhile) go there wherever the pointer is; a left release over that
// same element is also a click.
class MouseRouter {
 public:
  std::vector<Dispatch> Move(const Scene& s, int x, int y);
  std::vector<Dispatch> Down(const Scene& s, int x, int y, int button);
  std::vector<Dispatch> Up(const Scene& s, int x, int y, int button);
  // The window lost the capture (a drag took it, another window took it).
  void CaptureLost() {
    buttons_ = 0;
    pressed_ = kSurface;
  }
  bool WantsCapture() const { return buttons_ != 0; }
  int Pressed() const { return buttons_ ? pressed_ : kSurface; }

 private:
  int buttons_ = 0;
  int pressed_ = kSurface;
};

// Hover pictures of a row of caption buttons sharing one flag (the main
// window's bSysBtnHover). Moving onto a button while the flag is clear
// shows that button's hover picture and the hand pointer; moving over the
// title strip while it is set restores every normal picture and the arrow.
// Nothing else changes it.
class HoverSet {
 public:
  explicit HoverSet(int buttons) : shown_(static_cast<size_t>(buttons), false) {}
  // True when anything changed.
  bool OnButtonMove(int button);
  bool OnStripMove();
  // The layout puts the normal pictures back but leaves the flag alone.
  void ResetPictures() { shown_.assign(shown_.size(), false); }

  bool Flag() const { return flag_; }
  bool HoverShown(int button) const { return shown_.at(static_cast<size_t>(button)); }
  bool HandCursor() const { return hand_; }

 private:
  std::vector<bool> shown_;
  bool flag_ = false;
  bool hand_ = false;
};

// A windowless control an accessibility client sees as a push button: its
// name and the elements it is made of (its pictures, the label that takes
// its mouse, its caption).
struct AccessibleControl {
  std::u16string name;
  std::vector<int> elements;
  bool focusable = false;  // joins the window's Tab order
};

// The control whose element is the topmost one under window pixel (x, y)
// (an index into `controls`); -1 when that element belongs to none.
int AccessibleAt(const Scene& s, const std::vector<AccessibleControl>& controls, int x, int y);
// Where the control is: its visible elements' boxes together, in window
// pixels at the scene's scale; empty when none of them is visible.
PixelRect AccessibleBox(const Scene& s, const AccessibleControl& c);

// Placement of the chrome of a skinned window of client size W x H.
struct ChromeInput {
  double width = 0;
  double height = 0;
  double iconWidth = 32;
  double titleWidth = 0;   // the label, sized to its text
  double titleHeight = 0;
  double closeWidth = 36;
  double minWidth = 36;    // ignored without a minimise button
  bool hasMinimize = true;
};

struct LineCoords {
  double x1, y1, x2, y2;
  bool operator==(const LineCoords&) const = default;
};

struct ChromeLayout {
  Box top;     // imgTop, stretched
  Box icon;    // imgIcon: left and top only
  Box title;   // lblTitle: left and top only
  Box close;   // imgClose(0) and (1): left and top
  Box minimize;
  LineCoords line1, line2, line3, line4;  // left, top, right and bottom border
};

ChromeLayout PlaceChrome(const ChromeInput& in);

}  // namespace skin

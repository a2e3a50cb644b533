#include "client/mainwindow/skinmodel.h"

#include <algorithm>
#include <cmath>

namespace skin {

int ToPixel(double v) { return static_cast<int>(std::floor(v + 0.5)); }

double ScaleOf(int dpi) { return dpi > 0 ? dpi / 96.0 : 1.0; }

PixelRect PixelBox(const Element& e, double scale) {
  const int l = ToPixel(e.box.left * scale);
  const int t = ToPixel(e.box.top * scale);
  return {l, t, l + ToPixel(e.box.width * scale), t + ToPixel(e.box.height * scale)};
}

PixelLine PixelLineOf(const Element& e) { return {ToPixel(e.x1), ToPixel(e.y1), ToPixel(e.x2), ToPixel(e.y2)}; }

PixelRect LineBand(const Element& e, double scale) {
  // The 96-dpi pixels the line covers (the end point excluded, as a pen
  // draws it), then their edges scaled.
  const PixelLine l = PixelLineOf(e);
  int x0 = std::min(l.x1, l.x2), x1 = std::max(l.x1, l.x2);
  int y0 = std::min(l.y1, l.y2), y1 = std::max(l.y1, l.y2);
  if (x0 == x1) ++x1;
  if (y0 == y1) ++y1;
  PixelRect r{ToPixel(x0 * scale), ToPixel(y0 * scale), ToPixel(x1 * scale), ToPixel(y1 * scale)};
  if (r.right <= r.left) r.right = r.left + 1;
  if (r.bottom <= r.top) r.bottom = r.top + 1;
  return r;
}

PixelRect ScaleEdges(double left, double top, double right, double bottom, double scale) {
  return {ToPixel(left * scale), ToPixel(top * scale), ToPixel(right * scale), ToPixel(bottom * scale)};
}

int Scene::Add(Element e) {
  elements_.push_back(std::move(e));
  return size() - 1;
}

int Scene::Find(std::u16string_view name, int index) const {
  for (int i = 0; i < size(); ++i) {
    if (elements_[static_cast<size_t>(i)].name == name && elements_[static_cast<size_t>(i)].index == index) return i;
  }
  return -1;
}

int Scene::HitTest(int x, int y) const {
  for (int i = 0; i < size(); ++i) {
    const Element& e = elements_[static_cast<size_t>(i)];
    if (!e.visible || e.kind == Kind::kLine) continue;
    if (PixelBox(e, scale_).Contains(x, y)) return i;
  }
  return kSurface;
}

std::vector<int> Scene::DrawOrder() const {
  std::vector<int> order;
  for (int i = size() - 1; i >= 0; --i) {
    if (elements_[static_cast<size_t>(i)].visible) order.push_back(i);
  }
  return order;
}

std::vector<Dispatch> MouseRouter::Move(const Scene& s, int x, int y) {
  const int target = buttons_ ? pressed_ : s.HitTest(x, y);
  return {{MouseEvent::kMove, target, buttons_}};
}

std::vector<Dispatch> MouseRouter::Down(const Scene& s, int x, int y, int button) {
  if (!buttons_) pressed_ = s.HitTest(x, y);
  buttons_ |= button;
  return {{MouseEvent::kDown, pressed_, button}};
}

std::vector<Dispatch> MouseRouter::Up(const Scene& s, int x, int y, int button) {
  const int under = s.HitTest(x, y);
  if (!(buttons_ & button)) {
    // A release without its press (the press went to a drag, or to another
    // window): it belongs to whatever is under the pointer; no click.
    return {{MouseEvent::kUp, buttons_ ? pressed_ : under, button}};
  }
  const int target = pressed_;
  buttons_ &= ~button;
  std::vector<Dispatch> out{{MouseEvent::kUp, target, button}};
  if (button == kLeftButton && under == target) out.push_back({MouseEvent::kClick, target, button});
  if (!buttons_) pressed_ = kSurface;
  return out;
}

bool HoverSet::OnButtonMove(int button) {
  if (flag_) return false;
  shown_.at(static_cast<size_t>(button)) = true;
  flag_ = true;
  hand_ = true;
  return true;
}

bool HoverSet::OnStripMove() {
  if (!flag_) return false;
  shown_.assign(shown_.size(), false);
  flag_ = false;
  hand_ = false;
  return true;
}

int AccessibleAt(const Scene& s, const std::vector<AccessibleControl>& controls, int x, int y) {
  const int under = s.HitTest(x, y);
  if (under == kSurface) return -1;
  for (size_t i = 0; i < controls.size(); ++i) {
    const auto& e = controls[i].elements;
    if (std::find(e.begin(), e.end(), under) != e.end()) return static_cast<int>(i);
  }
  return -1;
}

PixelRect AccessibleBox(const Scene& s, const AccessibleControl& c) {
  PixelRect box;
  bool any = false;
  for (int id : c.elements) {
    if (id < 0 || id >= s.size() || !s.at(id).visible || s.at(id).kind == Kind::kLine) continue;
    const PixelRect r = PixelBox(s.at(id), s.Scale());
    if (!any) {
      box = r;
      any = true;
      continue;
    }
    box = {std::min(box.left, r.left), std::min(box.top, r.top), std::max(box.right, r.right),
           std::max(box.bottom, r.bottom)};
  }
  return box;
}

ChromeLayout PlaceChrome(const ChromeInput& in) {
  const double W = in.width;
  const double H = in.height;
  ChromeLayout c;
  c.top = {0, 0, W, 35};
  c.icon = {5, 2, in.iconWidth, 0};
  c.title = {c.icon.width + c.icon.left + 8, (c.top.height - in.titleHeight) / 2, in.titleWidth, in.titleHeight};
  c.close = {W - in.closeWidth - 2, 2, in.closeWidth, 20};
  if (in.hasMinimize) c.minimize = {c.close.left - in.minWidth - 2, 2, in.minWidth, 20};
  c.line1 = {0, 0, 0, H};
  c.line2 = {0, 0, W, 0};
  c.line3 = {W - 1, 0, W - 1, H};
  c.line4 = {0, H - 1.5, W, H - 1.5};
  return c;
}

}  // namespace skin

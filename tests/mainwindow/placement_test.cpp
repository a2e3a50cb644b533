// Both skinned windows on common screens at every scale, with the taskbar at
// each edge: inside the work area with the title strip, at the largest scale
// that fits.
#include "client/mainwindow/placement.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/mainwindow/mainlayout.h"
#include "client/settings/setmodel.h"

namespace skin {
namespace {

enum class Taskbar { kNone, kBottom, kTop, kLeft, kRight };

struct Monitor {
  int width, height;
  double scale;
  Taskbar taskbar;
  PixelRect Work() const {
    const int t = ToPixel(40 * scale);  // the taskbar's thickness
    switch (taskbar) {
      case Taskbar::kBottom:
        return {0, 0, width, height - t};
      case Taskbar::kTop:
        return {0, t, width, height};
      case Taskbar::kLeft:
        return {t, 0, width, height};
      case Taskbar::kRight:
        return {0, 0, width - t, height};
      case Taskbar::kNone:
        break;
    }
    return {0, 0, width, height};
  }
  std::string Name() const {
    static const char* bars[] = {"no taskbar", "taskbar bottom", "taskbar top", "taskbar left", "taskbar right"};
    return std::to_string(width) + "x" + std::to_string(height) + " at " + std::to_string(scale) + ", " +
           bars[static_cast<int>(taskbar)];
  }
};

std::vector<Monitor> Monitors() {
  std::vector<Monitor> out;
  for (auto [w, h] : {std::pair{1024, 600}, {1366, 768}, {1920, 1080}})
    for (double s : {1.0, 1.25, 1.5, 1.75, 2.0})
      for (Taskbar t : {Taskbar::kNone, Taskbar::kBottom, Taskbar::kTop, Taskbar::kLeft, Taskbar::kRight})
        out.push_back({w, h, s, t});
  for (Taskbar t : {Taskbar::kNone, Taskbar::kBottom, Taskbar::kTop, Taskbar::kLeft, Taskbar::kRight})
    out.push_back({3840, 2160, 3.0, t});
  return out;
}

bool Inside(const PixelRect& r, const PixelRect& work) {
  return r.left >= work.left && r.top >= work.top && r.right <= work.right && r.bottom <= work.bottom;
}

// A window of base x 96-dpi pixels placed on the monitor at `scale`.
void ExpectOnScreen(const Monitor& m, double baseW, double baseH, const Placement& p) {
  const PixelRect work = m.Work();
  const int workW = work.right - work.left, workH = work.bottom - work.top;
  const int w = p.window.right - p.window.left, h = p.window.bottom - p.window.top;
  EXPECT_EQ(w, ToPixel(baseW * p.scale));
  EXPECT_EQ(h, ToPixel(baseH * p.scale));
  EXPECT_LE(p.scale, m.scale);
  EXPECT_GE(p.scale, 1.0);
  const bool fits = w <= workW && h <= workH;
  if (fits) {
    EXPECT_TRUE(Inside(p.window, work));
  } else {
    // Even 100 % is too large: that size, the top-left corner inside.
    EXPECT_DOUBLE_EQ(p.scale, 1.0);
    EXPECT_TRUE(ToPixel(baseW) > workW || ToPixel(baseH) > workH);
    EXPECT_TRUE(p.window.left >= work.left && p.window.left < work.right);
    EXPECT_TRUE(p.window.top >= work.top && p.window.top < work.bottom);
    if (w > workW) {
      EXPECT_EQ(p.window.left, work.left);
    }
    if (h > workH) {
      EXPECT_EQ(p.window.top, work.top);
    }
  }
  // The title strip, as far as the work area is wide enough for the window.
  if (w <= workW) {
    EXPECT_GE(p.window.left, work.left);
    EXPECT_LE(p.window.right, work.right);
    EXPECT_GE(p.window.top, work.top);
    EXPECT_LE(p.window.top + ToPixel(35 * p.scale), work.bottom);
  }
  // The largest that fits: the monitor's own scale, or a window that fills
  // the work area's width or height to the pixel, or 100 % that does not
  // fit at all.
  const bool own = p.scale == m.scale;
  const bool fills = fits && (w == workW || h == workH);
  EXPECT_TRUE(own || fills || !fits) << "scale " << p.scale;
}

TEST(Placement, BothWindowsOnEveryScreenAndScaleWithTheTaskbarAtEachEdge) {
  for (const Monitor& m : Monitors()) {
    SCOPED_TRACE(m.Name());
    const PixelRect work = m.Work();
    {
      SCOPED_TRACE("main window");
      mainwindow::Screen s{m.width, m.height, 15 / m.scale, 15 / m.scale, work};
      const mainwindow::Layout l = mainwindow::LayoutMain(s, 104, 16);
      ExpectOnScreen(m, mainwindow::kWidth, mainwindow::kHeight, {l.scale, l.window});
      // Its parts at the scale it is laid out at.
      EXPECT_EQ(l.picFrame, ScaleEdges(2, 35, 999, 708, l.scale));
    }
    {
      SCOPED_TRACE("settings dialog");
      ExpectOnScreen(m, settings::kDialogWidth, settings::kDialogHeight,
                     PlaceCentred(settings::kDialogWidth, settings::kDialogHeight, m.scale, work, work));
    }
  }
}

TEST(Placement, ScreensFromTheReport) {
  // 1366 x 768 at 125 %: the window was 1250 x 888 at (58, -60), its strip
  // above the screen. Now 768 / 710 of its size, the full height, centred
  // across.
  mainwindow::Layout l = mainwindow::LayoutMain({1366, 768, 12, 12, {0, 0, 1366, 768}}, 104, 16);
  EXPECT_NEAR(l.scale, 768.0 / 710, 1e-9);
  EXPECT_EQ(l.window, (PixelRect{142, 0, 1224, 768}));
  // With a 50-pixel taskbar at the bottom: 718 high, at the top edge.
  l = mainwindow::LayoutMain({1366, 768, 12, 12, {0, 0, 1366, 718}}, 104, 16);
  EXPECT_EQ(l.window, (PixelRect{177, 0, 1188, 718}));
  // 1024 x 600 with a taskbar at the bottom: 100 % does not fit; 1000 x 710
  // from the work area's top, centred across.
  l = mainwindow::LayoutMain({1024, 600, 15, 15, {0, 0, 1024, 560}}, 104, 16);
  EXPECT_DOUBLE_EQ(l.scale, 1);
  EXPECT_EQ(l.window, (PixelRect{12, 0, 1012, 710}));
  // Under a taskbar at the top it starts below it.
  l = mainwindow::LayoutMain({1024, 600, 15, 15, {0, 40, 1024, 600}}, 104, 16);
  EXPECT_EQ(l.window, (PixelRect{12, 40, 1012, 750}));
  // Where it fits at 96 dpi, it is centred on the screen as always; a
  // bottom taskbar that leaves it whole changes nothing.
  l = mainwindow::LayoutMain({1280, 1024, 15, 15, {0, 0, 1280, 984}}, 104, 16);
  EXPECT_EQ(l.window, (PixelRect{140, 157, 1140, 867}));
  // Centred, it would reach under a taller taskbar: moved up just enough.
  l = mainwindow::LayoutMain({1280, 800, 15, 15, {0, 0, 1280, 740}}, 104, 16);
  EXPECT_EQ(l.window, (PixelRect{140, 30, 1140, 740}));
}

TEST(Placement, AWindowLeftOffTheScreensComesBackInside) {
  const PixelRect work{0, 0, 1366, 728};
  // Left where a removed monitor was, right of this one.
  Placement p = PlaceAt(1000, 710, 1.0, work, 1700, 200);
  EXPECT_EQ(p.window, (PixelRect{366, 18, 1366, 728}));
  // Above and left of it.
  p = PlaceAt(276, 267, 1.0, work, -500, -300);
  EXPECT_EQ(p.window, (PixelRect{0, 0, 276, 267}));
  // Where it lies inside, it stays.
  p = PlaceAt(276, 267, 1.0, work, 40, 50);
  EXPECT_EQ(p.window, (PixelRect{40, 50, 316, 317}));
  // The resolution went down under a window at 150 %: the largest scale
  // that fits the smaller work area, the corner kept where it can be.
  p = PlaceAt(1000, 710, 1.5, work, 10, 20);
  EXPECT_NEAR(p.scale, 728.0 / 710, 1e-9);
  EXPECT_EQ(p.window, (PixelRect{10, 0, 1035, 728}));
}

}  // namespace
}  // namespace skin

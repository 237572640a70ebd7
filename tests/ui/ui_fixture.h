// A headless screen for each test, reset afterwards.
#pragma once
#include <MacWindows.h>
#include <VTAutomation.h>
#include <gtest/gtest.h>

#include "core/pstring.h"

class HeadlessScreen : public ::testing::Test {
 protected:
  void SetUp() override { VTAutomationUseHeadless(800, 600); }
  void TearDown() override { VTAutomationReset(); }

  static WindowRef makeWindow(short left, short top, short right, short bottom, bool visible = true,
                              short procID = noGrowDocProc, bool goAway = true,
                              const char* title = "untitled") {
    Rect r{top, left, bottom, right};
    Str255 t;
    vt::toPascal(title, t);
    return NewCWindow(nullptr, &r, t, visible, procID, (WindowRef)-1, goAway, 0);
  }

  // A visible window made the current port.
  static WindowRef drawIn(short left, short top, short right, short bottom) {
    WindowRef w = makeWindow(left, top, right, bottom);
    SetPort(GetWindowPort(w));
    return w;
  }

  // Takes every pending update event; returns the windows they named, in order, and clears
  // each one's update region as an application's redraw would.
  static std::vector<WindowRef> drainUpdates() {
    std::vector<WindowRef> seen;
    EventRecord e;
    for (int i = 0; i < 50 && GetNextEvent(updateMask, &e); ++i) {
      WindowRef w = (WindowRef)e.message;
      seen.push_back(w);
      BeginUpdate(w);
      EndUpdate(w);
    }
    return seen;
  }

  // Takes every pending activate event as (window, active) pairs.
  static std::vector<std::pair<WindowRef, bool>> drainActivates() {
    std::vector<std::pair<WindowRef, bool>> seen;
    EventRecord e;
    for (int i = 0; i < 50 && GetNextEvent(activMask, &e); ++i)
      seen.push_back({(WindowRef)e.message, (e.modifiers & activeFlag) != 0});
    return seen;
  }
};

inline Point pt(short h, short v) { return Point{v, h}; }
inline Point topLeftOf(const Rect& r) { return pt(r.left, r.top); }
inline Point sizeOf(const Rect& r) { return pt(r.right - r.left, r.bottom - r.top); }
inline bool operator==(const Point& a, const Point& b) { return a.h == b.h && a.v == b.v; }
inline void PrintTo(const Point& p, std::ostream* os) { *os << "h " << p.h << " v " << p.v; }

// Rectangles compared whole, printed as top,left,bottom,right when they differ.
inline bool operator==(const Rect& a, const Rect& b) { return EqualRect(&a, &b); }
inline void PrintTo(const Rect& r, std::ostream* os) {
  *os << r.top << "," << r.left << "," << r.bottom << "," << r.right;
}

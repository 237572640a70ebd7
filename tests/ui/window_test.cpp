#include <Fonts.h>
#include <MacErrors.h>
#include <gtest/gtest.h>

#include "ui/text.h"
#include "ui/window_server.h"
#include "ui_fixture.h"

using Windows = HeadlessScreen;

namespace {

Rect boundsOf(WindowRef w, WindowRegionCode code = kWindowContentRgn) {
  Rect r{};
  EXPECT_EQ(GetWindowBounds(w, code, &r), noErr);
  return r;
}

Rect portOf(WindowRef w) {
  Rect r{};
  GetWindowPortBounds(w, &r);
  return r;
}

std::string titleOf(WindowRef w) {
  Str255 t{};
  GetWTitle(w, t);
  return vt::fromPascal(t);
}

// The windows from front to back, hidden ones included.
std::vector<WindowRef> order() {
  std::vector<WindowRef> all;
  for (WindowRef w = GetWindowList(); w; w = GetNextWindow(w)) all.push_back(w);
  return all;
}

Point centreOf(const Rect& r) { return pt((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

// Where the next posted mouse press lands.
Point pressed() {
  EventRecord e{};
  EXPECT_TRUE(GetNextEvent(mDownMask, &e)) << "no mouse press";
  return e.where;
}

}  // namespace

TEST_F(Windows, NewWindowsOrderCoordinatesPortsDevicesTitlesAndBadArguments) {
  Rect bounds{10, 10, 480, 640};
  static const unsigned char kTitle[] = "\x08untitled";
  WindowRef w = NewCWindow(nullptr, &bounds, kTitle, false, noGrowDocProc, (WindowRef)-1, true, 0);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_EQ(FrontWindow(), nullptr);  // hidden windows are not in front
  EXPECT_EQ(GetWindowKind(w), kApplicationWindowKind);
  EXPECT_EQ(GetWRefCon(w), 0);
  SetWRefCon(w, 0x1234567890L);
  EXPECT_EQ(GetWRefCon(w), 0x1234567890L);  // pointer-sized reference constant
  EXPECT_EQ(titleOf(w), "untitled");
  EXPECT_EQ(portOf(w), (Rect{0, 0, 470, 630}));
  EXPECT_EQ(boundsOf(w), bounds);
  EXPECT_EQ(GetWindowFromPort(GetWindowPort(w)), w);
  DisposeWindow(w);
  EXPECT_EQ(GetWindowKind(w), 0);  // a disposed window is no longer known
  EXPECT_EQ(GetWindowPort(w), nullptr);

  // Order, front to back.
  WindowRef a = makeWindow(50, 50, 200, 200);
  WindowRef b = makeWindow(60, 60, 210, 210);
  Rect r{70, 70, 220, 220};
  WindowRef back = NewCWindow(nullptr, &r, nullptr, true, documentProc, nullptr, false, 0);
  WindowRef hidden = makeWindow(80, 80, 230, 230, false);
  // hidden was made last, in front; b before it; `back` went behind every window.
  EXPECT_EQ(FrontWindow(), b);
  EXPECT_EQ(order(), (std::vector<WindowRef>{hidden, b, a, back}));
  EXPECT_EQ(GetNextWindow(nullptr), nullptr);

  SelectWindow(a);
  EXPECT_EQ(order(), (std::vector<WindowRef>{a, hidden, b, back}));
  SendBehind(a, nullptr);
  EXPECT_EQ(order(), (std::vector<WindowRef>{hidden, b, back, a}));

  auto list = VTAutomationListWindows();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].window, hidden);
  EXPECT_FALSE(list[0].visible);
  EXPECT_TRUE(list[1].hilited);
  EXPECT_FALSE(list[2].hilited);
  EXPECT_EQ(list[1].title, "untitled");

  DisposeWindow(b);
  EXPECT_EQ(FrontWindow(), back);
  EXPECT_EQ(VTAutomationListWindows().size(), 3u);

  // Coordinates and ports.
  w = makeWindow(100, 60, 300, 260);
  GrafPtr saved;
  GetPort(&saved);
  SetPort(GetWindowPort(w));
  Point p{5, 7};
  LocalToGlobal(&p);
  EXPECT_EQ(p, pt(107, 65));
  GlobalToLocal(&p);
  EXPECT_EQ(p, pt(7, 5));
  // Disposing the current port's window leaves a valid current port behind.
  DisposeWindow(w);
  GrafPtr now;
  GetPort(&now);
  EXPECT_NE(now, nullptr);
  r = Rect{0, 0, 10, 10};
  PaintRect(&r);  // must not touch the freed window
  SetPort(saved);

  Rect gray;
  GetRegionBounds(GetGrayRgn(), &gray);
  EXPECT_EQ(gray, (Rect{20, 0, 600, 800}));
  DisposeRgn(GetGrayRgn());  // the system's region survives a careless caller
  GetRegionBounds(GetGrayRgn(), &gray);
  EXPECT_EQ(gray, (Rect{20, 0, 600, 800}));

  GDHandle gd = GetMainDevice();
  ASSERT_NE(gd, nullptr);
  EXPECT_EQ((*(*gd)->gdPMap)->pixelType, RGBDirect);
  EXPECT_EQ((*(*gd)->gdPMap)->pixelSize, 32);
  Rect on{100, 100, 200, 200}, off{-300, -300, -100, -100};
  EXPECT_EQ(GetMaxDevice(&on), gd);
  EXPECT_EQ(GetMaxDevice(&off), nullptr);
  EXPECT_EQ(GetMaxDevice(nullptr), nullptr);

  w = makeWindow(100, 100, 300, 200);
  SetWTitle(w, (ConstStr255Param) "\x0Amovie.mov!");
  EXPECT_EQ(titleOf(w), "movie.mov!");
  SetWTitle(w, nullptr);
  EXPECT_EQ(titleOf(w), "");
  EXPECT_EQ(titleOf(nullptr), "");
  EXPECT_EQ(NewCWindow(nullptr, nullptr, nullptr, true, 0, nullptr, false, 0), nullptr);
  // An absurd size is clamped instead of allocating gigabytes.
  Rect huge{0, 0, 32000, 32000};
  WindowRef big = NewCWindow(nullptr, &huge, nullptr, false, 0, nullptr, false, 0);
  ASSERT_NE(big, nullptr);
  EXPECT_LE(portOf(big).right, 4096);
  DisposeWindow(big);
  DisposeWindow(nullptr);
  ShowWindow(nullptr);
  SelectWindow((WindowRef)0x10);  // never a window: ignored
  EXPECT_EQ(FrontWindow(), w);

  // Inverted bounds make an empty content that takes drawing without overrunning.
  Rect inverted{200, 300, 100, 100};
  w = NewCWindow(nullptr, &inverted, nullptr, true, documentProc, (WindowRef)-1, true, 0);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(sizeOf(portOf(w)), pt(0, 0));
  SetPort(GetWindowPort(w));
  r = Rect{0, 0, 50, 50};
  PaintRect(&r);  // nothing to draw into, nothing overrun
  MoveTo(0, 0);
  LineTo(40, 40);
  SizeWindow(w, -5, -5, true);
  EXPECT_EQ(sizeOf(portOf(w)), pt(0, 0));
  SizeWindow(w, 30, 20, true);
  EXPECT_EQ(portOf(w), (Rect{0, 0, 20, 30}));
}

TEST_F(Windows, FindWindowPartsAndTrackTheCloseBox) {
  WindowRef doc = makeWindow(100, 100, 400, 300, true, documentProc, true);
  WindowRef plain = makeWindow(500, 100, 700, 300, true, noGrowDocProc, false);
  // The part under a point, checking the window found there too.
  auto partAt = [](Point p, WindowRef want) {
    WindowRef found = (WindowRef)1;
    short part = FindWindow(p, &found);
    EXPECT_EQ(found, want) << p.h << "," << p.v;
    return part;
  };
  EXPECT_EQ(partAt(pt(5, 5), nullptr), inMenuBar);
  EXPECT_EQ(partAt(pt(50, 500), nullptr), inDesk);

  Rect box = boundsOf(doc, kWindowCloseBoxRgn);
  ASSERT_FALSE(EmptyRect(&box));
  // An inactive window's close box is not shown: a click there just drags.
  EXPECT_EQ(partAt(centreOf(box), doc), inDrag);
  SelectWindow(doc);
  EXPECT_EQ(partAt(centreOf(box), doc), inGoAway);
  SelectWindow(plain);
  EXPECT_EQ(partAt(pt(250, 90), doc), inDrag);
  EXPECT_EQ(partAt(pt(250, 200), doc), inContent);
  EXPECT_EQ(partAt(pt(395, 295), doc), inGrow);

  // Without a close box the whole title bar drags; without a size box the corner is content.
  box = boundsOf(plain, kWindowCloseBoxRgn);
  EXPECT_TRUE(EmptyRect(&box));
  EXPECT_EQ(partAt(pt(512, 90), plain), inDrag);
  EXPECT_EQ(partAt(pt(695, 295), plain), inContent);

  // Overlap: the front window wins; a hidden one is never found.
  WindowRef over = makeWindow(150, 150, 350, 250, true);
  EXPECT_EQ(partAt(pt(200, 200), over), inContent);
  HideWindow(over);
  partAt(pt(200, 200), doc);

  // The close box closes when the mouse is released in it, even after leaving it.
  SelectWindow(doc);
  Point in = centreOf(boundsOf(doc, kWindowCloseBoxRgn));
  VTAutomationPostClick(in);
  EXPECT_TRUE(TrackGoAway(doc, pressed()));
  VTAutomationPostDrag(in, pt(250, 150), 2);
  EXPECT_FALSE(TrackGoAway(doc, pressed()));
  VTAutomationPostMouseDown(in);
  VTAutomationPostMouseMove(pt(250, 150));
  VTAutomationPostMouseMove(in);
  VTAutomationPostMouseUp(in);
  EXPECT_TRUE(TrackGoAway(doc, pressed()));
  // A window without a close box never closes this way.
  VTAutomationPostClick(pt(512, 90));
  Point where = pressed();
  EXPECT_FALSE(TrackGoAway(plain, where));
  EXPECT_FALSE(TrackGoAway(nullptr, where));
}

TEST_F(Windows, UpdateEventsAndTheUpdateRegionsClip) {
  WindowRef back = makeWindow(100, 100, 400, 400, false);
  EXPECT_TRUE(drainUpdates().empty());  // hidden windows get none
  ShowWindow(back);
  EXPECT_EQ(drainUpdates(), std::vector<WindowRef>{back});
  EXPECT_TRUE(drainUpdates().empty());  // BeginUpdate cleared it

  // Covering the window does not invalidate it; uncovering invalidates what was hidden only.
  WindowRef front = makeWindow(200, 200, 300, 300);
  EXPECT_EQ(drainUpdates(), std::vector<WindowRef>{front});
  HideWindow(front);
  EventRecord e;
  ASSERT_TRUE(EventAvail(updateMask, &e));
  EXPECT_EQ((WindowRef)e.message, back);
  // The front window's frame (title bar included) covered that part of back's content.
  EXPECT_EQ(boundsOf(back, kWindowUpdateRgn), (Rect{180, 199, 301, 301}));
  drainUpdates();

  // Resizing with update invalidates the whole content; explicit invalidation adds to it.
  SizeWindow(back, 200, 100, true);
  EXPECT_EQ(boundsOf(back, kWindowUpdateRgn), (Rect{100, 100, 200, 300}));
  drainUpdates();
  Rect local{10, 10, 20, 30};
  EXPECT_EQ(InvalWindowRect(back, &local), noErr);
  ValidWindowRect(back, &local);
  EXPECT_TRUE(drainUpdates().empty());
  EXPECT_EQ(InvalWindowRect(nullptr, &local), paramErr);

  // Between BeginUpdate and EndUpdate the visible region is clipped to the update region.
  InvalWindowRect(back, &local);
  RgnHandle vis = NewRgn();
  BeginUpdate(back);
  GetPortVisibleRegion(GetWindowPort(back), vis);
  Rect b;
  GetRegionBounds(vis, &b);
  EXPECT_EQ(b, local);
  EndUpdate(back);
  GetPortVisibleRegion(GetWindowPort(back), vis);
  GetRegionBounds(vis, &b);
  EXPECT_EQ(b, (Rect{0, 0, 100, 200}));
  // A window in front takes its share out of the visible region.
  makeWindow(150, 150, 400, 400);
  GetPortVisibleRegion(GetWindowPort(back), vis);
  EXPECT_TRUE(PtInRgn(Point{10, 10}, vis));
  EXPECT_FALSE(PtInRgn(Point{90, 190}, vis));
  DisposeRgn(vis);
}

TEST_F(Windows, ActivateEventsFollowTheFrontWindow) {
  WindowRef a = makeWindow(50, 50, 200, 200);
  using Acts = std::vector<std::pair<WindowRef, bool>>;
  EXPECT_EQ(drainActivates(), (Acts{{a, true}}));

  WindowRef b = makeWindow(300, 50, 450, 200);
  EXPECT_EQ(drainActivates(), (Acts{{a, false}, {b, true}}));  // deactivate comes first
  EXPECT_FALSE(IsWindowHilited(a));
  EXPECT_TRUE(IsWindowHilited(b));

  SelectWindow(b);  // already in front: nothing
  EXPECT_TRUE(drainActivates().empty());

  // Disposing the front window activates the next without a stale event for the old one.
  SelectWindow(a);
  DisposeWindow(a);
  Acts acts = drainActivates();
  for (auto& ev : acts) EXPECT_NE(ev.first, a);
  ASSERT_FALSE(acts.empty());
  EXPECT_EQ(acts.back(), std::make_pair(b, true));
}

TEST_F(Windows, PlainCommandAndAlignedDragsMoveTheWindow) {
  WindowRef w = makeWindow(100, 100, 300, 200);
  WindowRef other = makeWindow(400, 100, 600, 200);
  Rect limit;
  GetRegionBounds(GetGrayRgn(), &limit);
  // A drag of 40 right and 30 down, posted ahead; the first event starts the drag.
  VTAutomationPostDrag(pt(150, 90), pt(190, 120), 5);
  Point start = pressed();
  long turns = VTAutomationModalTurns();
  DragWindow(w, start, &limit);
  EXPECT_GT(VTAutomationModalTurns(), turns);  // the loop offered every turn to the hook
  EXPECT_EQ(boundsOf(w), (Rect{130, 140, 230, 340}));
  EXPECT_EQ(FrontWindow(), w);  // a plain drag brings the window forward
  EXPECT_FALSE(Button());

  // Released outside the limit: the window goes back where it was.
  Rect small{20, 0, 300, 400};
  VTAutomationPostDrag(pt(150 + 40, 120), pt(700, 500), 3);
  DragWindow(w, pressed(), &small);
  EXPECT_EQ(boundsOf(w), (Rect{130, 140, 230, 340}));

  // Command-drag moves without reordering.
  SelectWindow(other);
  VTAutomationPostDrag(pt(160, 120), pt(170, 125), 1, cmdKey);
  DragWindow(w, pressed(), &limit);
  EXPECT_EQ(boundsOf(w).left, 150);
  EXPECT_EQ(FrontWindow(), other);

  // An aligned drag puts the alignment rectangle on a column near where the mouse left it.
  Rect movieBox{0, 3, 90, 163};  // local
  VTAutomationPostDrag(pt(200, 125), pt(211, 130), 2);
  DragAlignedWindow(w, pressed(), nullptr, &movieBox, nullptr);
  Rect c = boundsOf(w);
  EXPECT_EQ((c.left + movieBox.left) % 8, 0);
  EXPECT_LE(std::abs(c.left - 161), 4);
  EXPECT_EQ(c.top, 140);
}

TEST_F(Windows, DraggingAWindowAwayUncoversTheOneBehind) {
  WindowRef back = makeWindow(100, 100, 300, 300);
  WindowRef front = makeWindow(150, 150, 250, 250);
  drainUpdates();
  VTAutomationPostDrag(pt(200, 140), pt(600, 440), 3);
  DragWindow(front, pressed(), nullptr);
  EXPECT_EQ(drainUpdates(), std::vector<WindowRef>{back});
  // The windows list reports the new place.
  auto list = VTAutomationListWindows();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].window, front);
  EXPECT_EQ(topLeftOf(list[0].content), pt(550, 450));
  EXPECT_EQ(list[0].structure.top, 450 - 20);
}

// Document windows shown for the first time stay on the desktop and never sit exactly on (or
// completely cover) another document window; other kinds, and windows shown again, stay put.
TEST_F(Windows, NewDocumentWindowsAreStaggeredAndKeptOnTheDesktop) {
  struct Case {
    Rect bounds;
    short procID;
    Point expected;  // content top-left after ShowWindow
  } cases[] = {
      {{50, 50, 200, 250}, noGrowDocProc, {50, 50}},
      {{50, 50, 200, 250}, noGrowDocProc, {70, 70}},
      {{50, 50, 200, 250}, documentProc, {90, 90}},
      {{50, 50, 100, 100}, noGrowDocProc, {110, 110}},    // smaller, same corner: moved too
      {{50, 50, 200, 250}, movableDBoxProc, {50, 50}},    // not a document window
      {{10, 10, 1000, 900}, noGrowDocProc, {40, 1}},      // larger than the desktop
      {{560, 760, 660, 860}, noGrowDocProc, {499, 699}},  // off the bottom-right corner
      {{300, -30, 350, 50}, noGrowDocProc, {300, 1}},     // off the left edge
  };
  for (const Case& c : cases) {
    WindowRef w = NewCWindow(nullptr, &c.bounds, nullptr, false, c.procID, (WindowRef)-1, true, 0);
    ShowWindow(w);
    EXPECT_EQ(topLeftOf(boundsOf(w)), c.expected) << c.bounds.top << "," << c.bounds.left;
    EXPECT_EQ(sizeOf(boundsOf(w)), sizeOf(c.bounds)) << "size kept";
  }
}

// When the screen window shrinks, a window cut by the new edges moves back in whole (title bar
// and the controller bar at its bottom in reach), just far enough; one larger than the desktop
// keeps its top left corner there; others stay put. Dialogs opened later open inside.
TEST_F(Windows, WindowsCutByAShrinkingScreenMoveBackInside) {
  const struct {
    Rect content;
    bool moves;
  } cases[] = {
      {{300, 400, 580, 780}, true},   // cut at the right and the bottom
      {{520, 700, 590, 790}, true},   // wholly beyond the new edges
      {{100, 100, 200, 300}, false},  // inside
      {{60, 50, 590, 750}, true},     // larger than the new desktop
  };
  std::vector<WindowRef> windows;
  for (const auto& c : cases)
    windows.push_back(
        NewCWindow(nullptr, &c.content, nullptr, true, noGrowDocProc, (WindowRef)-1, true, 0));
  EXPECT_FALSE(VTAutomationResizeScreen(20, 20));
  ASSERT_TRUE(VTAutomationResizeScreen(640, 480));
  EXPECT_EQ(VTAutomationScreenBounds(), (Rect{0, 0, 480, 640}));
  Rect desk{};
  GetRegionBounds(GetGrayRgn(), &desk);
  for (size_t i = 0; i < windows.size(); ++i) {
    SCOPED_TRACE(i);
    const Rect was = cases[i].content, now = boundsOf(windows[i]);
    const Rect frame = boundsOf(windows[i], kWindowStructureRgn);
    EXPECT_EQ(sizeOf(now), sizeOf(was)) << "size kept";
    if (!cases[i].moves) {
      EXPECT_EQ(topLeftOf(now), topLeftOf(was));
    } else if (frame.right - frame.left > desk.right - desk.left) {
      EXPECT_EQ(topLeftOf(frame), topLeftOf(desk));
    } else {
      EXPECT_EQ(pt(frame.right, frame.bottom), pt(desk.right, desk.bottom)) << "moved just enough";
    }
    EXPECT_GE(frame.top, desk.top);
    EXPECT_GE(frame.left, desk.left);
  }
  // A dialog whose place the smaller screen cuts opens inside it.
  Rect placed{300, 500, 400, 700};
  WindowRef dialog =
      NewCWindow(nullptr, &placed, nullptr, true, movableDBoxProc, (WindowRef)-1, false, 0);
  EXPECT_EQ(boundsOf(dialog, kWindowStructureRgn).right, desk.right);
  EXPECT_EQ(boundsOf(dialog).top, placed.top);
}

// However long, a title stays between the close and zoom boxes and ends in an ellipsis.
TEST_F(Windows, LongTitlesAreCutBetweenTheBoxesAndFontsAreFoundByName) {
  std::string title(200, 'W');
  WindowRef w = makeWindow(100, 100, 400, 300, true, noGrowDocProc, true, title.c_str());
  vt::ui::setZoomBox(w, true, false);
  Rect room = boundsOf(w, kWindowTitleTextRgn), close = boundsOf(w, kWindowCloseBoxRgn),
       zoom = boundsOf(w, kWindowZoomBoxRgn);
  EXPECT_GT(room.left, close.right);
  EXPECT_LT(room.right, zoom.left);
  ASSERT_GT(vt::ui::measureText(title, 12, true), room.right - room.left);
  // Dark title pixels lie inside the room only; the boxes keep their white faces.
  short y = (short)((room.top + room.bottom) / 2);
  int firstDark = -1, lastDark = -1;
  for (short x = (short)(close.right + 1); x < zoom.left; ++x)
    if ((VTAutomationScreenPixel(x, y) & 0xFF) < 0x60) {
      if (firstDark < 0) firstDark = x;
      lastDark = x;
    }
  EXPECT_GE(firstDark, room.left);
  EXPECT_LE(lastDark, room.right);
  EXPECT_GT(lastDark, room.right - 20) << "the cut text ends with the ellipsis";

  // Fonts by name and number.
  short id = -1;
  GetFNum((ConstStr255Param) "\x06Monaco", &id);
  EXPECT_EQ(id, kFontIDMonaco);
  GetFNum((ConstStr255Param) "\x07no such", &id);
  EXPECT_EQ(id, applFont);
  GetFNum(nullptr, &id);
  EXPECT_EQ(id, applFont);
  Str255 name;
  GetFontName(kFontIDCourier, name);
  EXPECT_EQ(std::string((char*)name + 1, name[0]), "Courier");
  GetFontName(999, name);
  EXPECT_EQ(name[0], 0);
}

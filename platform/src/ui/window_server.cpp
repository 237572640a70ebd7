#include "ui/window_server.h"

#include <MacErrors.h>
#include <MacMemory.h>

#include <algorithm>

#include "events/backend.h"
#include "events/event_queue.h"
#include "core/port_drawing.h"
#include "ui/server_state.h"
#include "ui/widgets/painter.h"

namespace vt::ui {
namespace {

const Pixel kDesktop = makePixel(0x5A, 0x6E, 0x82);
const Pixel kFrame = makePixel(0x20, 0x20, 0x20);
const Pixel kTitleActive = makePixel(0xD8, 0xD8, 0xD8);
const Pixel kTitleStripe = makePixel(0xA8, 0xA8, 0xA8);
const Pixel kTitleInactive = makePixel(0xEE, 0xEE, 0xEE);
const Pixel kTitleTextInactive = makePixel(0x80, 0x80, 0x80);
const Pixel kShadow = makePixel(0x30, 0x30, 0x30);

bool activateSource(EventRecord& e, bool remove) {
  Server& s = server();
  // Drop events of windows disposed meanwhile (disposal also purges; this is belt and braces).
  while (!s.activates.empty() && !s.liveWindows.count(s.activates.front().window))
    s.activates.pop_front();
  if (s.activates.empty()) return false;
  PendingActivate a = s.activates.front();
  if (remove) s.activates.pop_front();
  e.what = activateEvt;
  e.message = (unsigned long)a.window;
  e.when = vt::events::ticks();
  e.where = vt::events::mouseGlobal();
  e.modifiers = (EventModifiers)((vt::events::currentModifiers() & ~activeFlag) |
                                 (a.active ? activeFlag : 0));
  return true;
}

bool updateSource(EventRecord& e, bool) {
  for (VTWindow* w : server().order) {
    if (!w->visible || w->update.empty()) continue;
    e.what = updateEvt;
    e.message = (unsigned long)w;
    e.when = vt::events::ticks();
    e.where = vt::events::mouseGlobal();
    e.modifiers = vt::events::currentModifiers();
    return true;
  }
  return false;
}

bool pointInRegion(RgnHandle rgn, Point p) {
  Region* r = regionOf(rgn);
  return r && r->contains(p.h, p.v);
}

void backendChanged() {
  Server& s = server();
  vt::events::Backend& b = vt::events::backend();
  s.screen = Image(b.screenWidth(), b.screenHeight(), kDesktop);
  if (s.screenPort) initPort(*s.screenPort, &s.screenPort->ownImage, 1, 1);
  invalidateScreen(screenBounds());
}

}  // namespace

void moveInside(VTWindow* w, bool redraw) {
  // A window cut by the desktop's right or bottom edge moves back in whole where it fits: its
  // title bar (to drag it by) and the controller bar along its bottom stay in reach. One larger
  // than the desktop keeps its top left corner inside.
  Rect desk = desktopBounds();
  Rect st = structureRect(w);
  int dh = 0, dv = 0;
  if (st.right > desk.right) dh = std::max(desk.right - st.right, std::min(0, desk.left - st.left));
  if (st.bottom > desk.bottom)
    dv = std::max(desk.bottom - st.bottom, std::min(0, desk.top - st.top));
  if (dh || dv) MoveWindow(w, (short)(w->content.left + dh), (short)(w->content.top + dv), redraw);
}

void screenResized() {
  Server& s = server();
  vt::events::Backend& b = vt::events::backend();
  if (b.screenWidth() == s.screen.width && b.screenHeight() == s.screen.height) return;
  s.screen = Image(b.screenWidth(), b.screenHeight(), kDesktop);
  s.damage = Rect{0, 0, 0, 0};
  for (VTWindow* w : s.order) moveInside(w, false);
  invalidateScreen(screenBounds());
}

namespace {

void drawChrome(Image& scr, const VTWindow* w) {
  Rect st = structureRect(w);
  Rect tb = titleBarRect(w);
  auto fill = [&](Rect r, Pixel p) {
    r = rectIntersect(r, Rect{0, 0, (short)scr.height, (short)scr.width});
    for (int y = r.top; y < r.bottom; ++y) std::fill(scr.row(y) + r.left, scr.row(y) + r.right, p);
  };
  auto frame = [&](Rect r, Pixel p) {
    fill(Rect{r.top, r.left, (short)(r.top + 1), r.right}, p);
    fill(Rect{(short)(r.bottom - 1), r.left, r.bottom, r.right}, p);
    fill(Rect{r.top, r.left, r.bottom, (short)(r.left + 1)}, p);
    fill(Rect{r.top, (short)(r.right - 1), r.bottom, r.right}, p);
  };
  bool active = w->hilited;
  if (w->procID == altDBoxProc) {
    fill(Rect{(short)(st.top + 3), (short)(st.right - 2), st.bottom, st.right}, kShadow);
    fill(Rect{(short)(st.bottom - 2), (short)(st.left + 3), st.bottom, st.right}, kShadow);
    st.bottom -= 2;
    st.right -= 2;
  }
  fill(st, makePixel(255, 255, 255));
  frame(st, kFrame);
  if (w->procID == dBoxProc) {
    Rect in = st;
    in.top += 2;
    in.left += 2;
    in.bottom -= 2;
    in.right -= 2;
    frame(in, kFrame);
  }
  if (!rectEmpty(tb)) {
    Rect inner{(short)(tb.top + 1), (short)(tb.left + 1), (short)(tb.bottom - 1),
               (short)(tb.right - 1)};
    fill(inner, active ? kTitleActive : kTitleInactive);
    if (active) {
      for (int y = inner.top + 3; y < inner.bottom - 2; y += 2)
        fill(Rect{(short)y, (short)(inner.left + 2), (short)(y + 1), (short)(inner.right - 2)},
             kTitleStripe);
    }
    fill(Rect{(short)(tb.bottom - 1), tb.left, tb.bottom, tb.right}, kFrame);
    // The title is centred on the bar but kept between the boxes, cut with "…" when too long.
    Rect room = titleTextRect(w);
    TextStyle ts{12, true, active ? makePixel(0, 0, 0) : kTitleTextInactive};
    ImagePainter measure(scr);
    std::string title =
        fitText(measure, toolboxToUtf8(w->title), room.right - room.left, ts.size, ts.bold);
    int tw = measureText(title, ts.size, ts.bold);
    int cx =
        std::max<int>(room.left, std::min<int>((tb.left + tb.right) / 2 - tw / 2, room.right - tw));
    int base = tb.top + 15;
    if (!title.empty() && room.right > room.left) {
      Rect plate{(short)(tb.top + 2), (short)(cx - 6), (short)(tb.bottom - 2),
                 (short)(cx + tw + 6)};
      plate = rectIntersect(plate, inner);
      fill(plate, active ? kTitleActive : kTitleInactive);
      drawText(scr, cx, base, title, ts, &room);
    }
    auto box = [&](const Rect& b, bool pressed) {
      Rect plate = b;
      plate.left -= 2;
      plate.right += 2;
      fill(plate, kTitleActive);
      fill(b, makePixel(255, 255, 255));
      frame(b, kFrame);
      if (pressed) {
        Rect in = b;
        in.top += 2;
        in.left += 2;
        in.bottom -= 2;
        in.right -= 2;
        fill(in, kFrame);
      }
    };
    // Only the active window shows its boxes.
    Rect cb = closeBoxRect(w);
    if (!rectEmpty(cb) && active) box(cb, server().pressedCloseBox == w);
    Rect zb = zoomBoxRect(w);
    if (!rectEmpty(zb) && active) {
      box(zb, server().pressedZoomBox == w);
      // The zoom box's mark: a smaller box in its top-left corner.
      frame(Rect{zb.top, zb.left, (short)(zb.top + 7), (short)(zb.left + 7)}, kFrame);
    }
  }
}

void blitContent(Image& scr, const VTWindow* w) {
  Rect c = rectIntersect(w->content, Rect{0, 0, (short)scr.height, (short)scr.width});
  if (rectEmpty(c)) return;
  for (int y = c.top; y < c.bottom; ++y) {
    int sy = y - w->content.top;
    if (sy >= w->store.height) break;
    int sx = c.left - w->content.left;
    int n = std::min<int>(c.right - c.left, w->store.width - sx);
    if (n <= 0) continue;
    const Pixel* src = w->store.row(sy) + sx;
    Pixel* dst = scr.row(y) + c.left;
    for (int i = 0; i < n; ++i) dst[i] = src[i] | 0xFF000000u;
  }
  if (hasGrowBox(w)) {
    // The size box in the content's bottom-right corner.
    Rect g{(short)(w->content.bottom - kGrowBoxSize), (short)(w->content.right - kGrowBoxSize),
           w->content.bottom, w->content.right};
    g = rectIntersect(g, Rect{0, 0, (short)scr.height, (short)scr.width});
    for (int y = g.top; y < g.bottom; ++y)
      for (int x = g.left; x < g.right; ++x)
        scr.at(x, y) = (y == g.top || x == g.left) ? kFrame : makePixel(0xE0, 0xE0, 0xE0);
  }
}

void drawPlainMenuBar(Image& scr) {
  int w = scr.width;
  for (int y = 0; y < std::min(kMenuBarHeight, scr.height); ++y)
    std::fill(scr.row(y), scr.row(y) + w,
              y == kMenuBarHeight - 1 ? kFrame : makePixel(255, 255, 255));
}

}  // namespace

Server& server() {
  static Server s;
  return s;
}

void initPort(VTPort& port, Image* pixels, int width, int height) {
  port.pixels = pixels;
  if (pixels == &port.ownImage) port.ownImage = Image(width, height, makePixel(255, 255, 255));
  port.portRect = Rect{0, 0, (short)height, (short)width};
  port.clip.clear();
  port.clipSet = false;
  port.pnLoc = Point{0, 0};
  port.pnSize = Point{1, 1};
  port.pnMode = patCopy;
  port.fg = RGBColor{0, 0, 0};
  port.bg = RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
  port.txFont = 0;
  port.txSize = 0;
  port.txFace = 0;
  port.txMode = srcOr;
  port.updateClip = nullptr;
  port.magic = kPortMagic;
}

namespace {
// How the areas below this one (graphics importers) draw into ports.
OSErr drawIntoPort(CGrafPtr p, const Image& img, const Rect& dst) {
  VTPort* port = p ? p : currentPort();
  if (!port || !isLivePort(port)) return paramErr;
  if (dst.right <= dst.left || dst.bottom <= dst.top) return noErr;
  drawImage(port, img, dst);
  portChanged(port, dst);
  return noErr;
}
}  // namespace

void ensureServer() {
  Server& s = server();
  if (s.initialised) return;
  s.initialised = true;
  vt::events::WindowEventSource src;
  src.activate = activateSource;
  src.update = updateSource;
  src.pointInRegion = pointInRegion;
  vt::events::setWindowEventSource(src);
  vt::events::addPumpHook(flushScreen);
  vt::events::setBackendChangedHook(backendChanged);
  vt::setPortImageDrawer(drawIntoPort);
  s.screenPort = new VTPort();
  initPort(*s.screenPort, &s.screenPort->ownImage, 1, 1);
  s.livePorts.insert(s.screenPort);
  s.current = s.screenPort;
  backendChanged();
}

VTPort* validPort(GrafPtr p) {
  ensureServer();
  if (!p || !server().livePorts.count(p)) return nullptr;
  return p;
}

VTWindow* validWindow(WindowRef w) {
  ensureServer();
  if (!w || !server().liveWindows.count(w)) return nullptr;
  return w;
}

bool isLiveWindow(WindowRef w) { return validWindow(w) != nullptr; }
bool isLivePort(CGrafPtr p) { return validPort(p) != nullptr; }

const std::vector<VTWindow*>& windowsFrontToBack() {
  ensureServer();
  return server().order;
}

Rect screenBounds() {
  ensureServer();
  const Image& scr = server().screen;
  return Rect{0, 0, (short)scr.height, (short)scr.width};
}

Rect desktopBounds() {
  Rect r = screenBounds();
  r.top = (short)std::min<int>(kMenuBarHeight, r.bottom);
  return r;
}

bool hasTitleBar(const VTWindow* w) {
  return w->procID != dBoxProc && w->procID != plainDBox && w->procID != altDBoxProc;
}

bool hasCloseBox(const VTWindow* w) {
  return w->goAway && hasTitleBar(w) && w->procID != movableDBoxProc;
}

bool hasGrowBox(const VTWindow* w) {
  return w->procID == documentProc || w->procID == zoomDocProc || w->procID == rDocProc;
}

Rect structureRect(const VTWindow* w) {
  Rect c = w->content;
  if (hasTitleBar(w))
    return Rect{(short)(c.top - kTitleBarHeight), (short)(c.left - 1), (short)(c.bottom + 1),
                (short)(c.right + 1)};
  int out = w->procID == dBoxProc ? 4 : 1;
  Rect r{(short)(c.top - out), (short)(c.left - out), (short)(c.bottom + out),
         (short)(c.right + out)};
  if (w->procID == altDBoxProc) {
    r.bottom += 2;
    r.right += 2;
  }
  return r;
}

Rect titleBarRect(const VTWindow* w) {
  if (!hasTitleBar(w)) return Rect{0, 0, 0, 0};
  Rect c = w->content;
  return Rect{(short)(c.top - kTitleBarHeight), (short)(c.left - 1), c.top, (short)(c.right + 1)};
}

Rect closeBoxRect(const VTWindow* w) {
  if (!hasCloseBox(w)) return Rect{0, 0, 0, 0};
  Rect tb = titleBarRect(w);
  short top = (short)(tb.top + (kTitleBarHeight - kCloseBoxSize) / 2);
  return Rect{top, (short)(tb.left + 8), (short)(top + kCloseBoxSize),
              (short)(tb.left + 8 + kCloseBoxSize)};
}

static bool hasZoomBox(const VTWindow* w) {
  bool zoomProc = w->procID == zoomDocProc || w->procID == zoomNoGrow;
  return (zoomProc || w->zoomBox) && hasTitleBar(w);
}

Rect zoomBoxRect(const VTWindow* w) {
  if (!hasZoomBox(w)) return Rect{0, 0, 0, 0};
  Rect tb = titleBarRect(w);
  short top = (short)(tb.top + (kTitleBarHeight - kCloseBoxSize) / 2);
  return Rect{top, (short)(tb.right - 8 - kCloseBoxSize), (short)(top + kCloseBoxSize),
              (short)(tb.right - 8)};
}

Rect titleTextRect(const VTWindow* w) {
  if (!hasTitleBar(w)) return Rect{0, 0, 0, 0};
  Rect tb = titleBarRect(w);
  // Room for a box is kept whether or not it shows, so the title stays put on activation.
  int left = hasCloseBox(w) ? closeBoxRect(w).right + 8 : tb.left + 8;
  int right = hasZoomBox(w) ? zoomBoxRect(w).left - 8 : tb.right - 8;
  return Rect{(short)(tb.top + 1), (short)left, (short)(tb.bottom - 1),
              (short)std::max(left, right)};
}

void setZoomBox(VTWindow* w, bool shown, bool zoomed) {
  if (w->zoomBox == shown && w->zoomed == zoomed) return;
  w->zoomBox = shown;
  w->zoomed = zoomed;
  invalidateScreen(structureRect(w));
}

Rect frameInsets(const VTWindow* w) {
  Rect st = structureRect(w);
  return Rect{(short)(w->content.top - st.top), (short)(w->content.left - st.left),
              (short)(st.bottom - w->content.bottom), (short)(st.right - w->content.right)};
}

bool isDocumentWindow(const VTWindow* w) {
  switch (w->procID) {
    case documentProc:
    case noGrowDocProc:
    case zoomDocProc:
    case zoomNoGrow:
    case rDocProc: return w->kind >= kApplicationWindowKind;
    default: return false;
  }
}

void placeNewWindow(VTWindow* w) {
  Rect desk = desktopBounds();
  Rect in = frameInsets(w);
  int width = w->content.right - w->content.left, height = w->content.bottom - w->content.top;
  // The content's top-left that keeps the whole window on the desktop, as near as possible to
  // (h, v); a window larger than the desktop keeps its title bar on it.
  auto fit = [&](int h, int v) {
    h = std::max<int>(std::min<int>(h, desk.right - in.right - width), desk.left + in.left);
    v = std::max<int>(std::min<int>(v, desk.bottom - in.bottom - height), desk.top + in.top);
    return Point{(short)v, (short)h};
  };
  auto clashes = [&](Point at) {
    Rect mine{(short)(at.v - in.top), (short)(at.h - in.left), (short)(at.v + height + in.bottom),
              (short)(at.h + width + in.right)};
    for (const VTWindow* o : server().order) {
      if (o == w || !o->visible || !isDocumentWindow(o)) continue;
      Rect theirs = structureRect(o);
      bool sameCorner = theirs.top == mine.top && theirs.left == mine.left;
      Rect both = rectIntersect(theirs, mine);
      if (sameCorner || EqualRect(&both, &theirs)) return true;
    }
    return false;
  };
  Point first = fit(w->content.left, w->content.top);
  Point at = first;
  // Down and right a step at a time; off the desktop, the next column starts at its top.
  for (int tries = 0, column = 0; tries < 64 && clashes(at); ++tries) {
    Point next = fit(at.h + kStaggerStep, at.v + kStaggerStep);
    if (next.h != at.h + kStaggerStep || next.v != at.v + kStaggerStep)
      next = fit(desk.left + in.left + ++column * kStaggerStep, desk.top + in.top);
    at = next;
  }
  if (clashes(at)) at = first;  // nowhere free: the desktop is full of windows this size
  w->content = Rect{at.v, at.h, (short)(at.v + height), (short)(at.h + width)};
}

WindowPartCode hitTest(Point p, WindowRef* window) {
  if (window) *window = nullptr;
  for (VTWindow* w : windowsFrontToBack()) {
    if (!w->visible) continue;
    Rect st = structureRect(w);
    if (!PtInRect(p, &st)) continue;
    if (window) *window = w;
    // Only the active window shows (and answers in) its close box.
    Rect cb = closeBoxRect(w);
    if (w->hilited && PtInRect(p, &cb)) return inGoAway;
    Rect zb = zoomBoxRect(w);
    if (w->hilited && PtInRect(p, &zb)) return w->zoomed ? inZoomIn : inZoomOut;
    Rect tb = titleBarRect(w);
    if (PtInRect(p, &tb)) return inDrag;
    if (PtInRect(p, &w->content)) {
      if (hasGrowBox(w) && p.h >= w->content.right - kGrowBoxSize &&
          p.v >= w->content.bottom - kGrowBoxSize)
        return inGrow;
      return inContent;
    }
    return hasTitleBar(w) ? inDrag : inContent;
  }
  return inDesk;
}

Region visibleContent(const VTWindow* w) {
  Region r(w->content);
  if (!w->visible) return Region();
  for (const VTWindow* o : windowsFrontToBack()) {
    if (o == w) break;
    if (o->visible) r -= Region(structureRect(o));
  }
  r.offset(-w->content.left + w->port.portRect.left, -w->content.top + w->port.portRect.top);
  return r;
}

void invalidate(VTWindow* w, const Region& local) {
  Region clipped = Region::intersect(local, Region(w->port.portRect));
  w->update += clipped;
}

ExposeScope::ExposeScope() {
  for (VTWindow* w : windowsFrontToBack()) before.push_back({w, visibleContent(w)});
}

ExposeScope::~ExposeScope() {
  Server& s = server();
  for (VTWindow* w : s.order) {
    Region now = visibleContent(w);
    for (auto& b : before)
      if (b.first == w) {
        now -= b.second;
        break;
      }
    // Windows new to the list were invalidated when shown.
    if (!now.empty()) invalidate(w, now);
  }
  updateActivation();
  invalidateScreen(screenBounds());
}

void updateActivation() {
  Server& s = server();
  VTWindow* front = nullptr;
  for (VTWindow* w : s.order)
    if (w->visible) {
      front = w;
      break;
    }
  if (front == s.activeWindow) return;
  if (s.activeWindow && s.liveWindows.count(s.activeWindow)) {
    s.activeWindow->hilited = false;
    s.activates.push_back({s.activeWindow, false});
  }
  s.activeWindow = front;
  if (front) {
    front->hilited = true;
    s.activates.push_back({front, true});
  }
}

VTPort* currentPort() {
  ensureServer();
  Server& s = server();
  if (!s.current || !s.livePorts.count(s.current)) s.current = s.screenPort;
  return s.current;
}

void invalidateScreen(const Rect& global) {
  Server& s = server();
  Rect r = rectIntersect(global, Rect{0, 0, (short)s.screen.height, (short)s.screen.width});
  s.damage = rectUnion(s.damage, r);
  if (!rectEmpty(r)) s.composedStale = true;
}

const Image& composeScreen() {
  ensureServer();
  Server& s = server();
  if (!s.composedStale) return s.screen;
  s.composedStale = false;
  std::fill(s.screen.pixels.begin(), s.screen.pixels.end(), kDesktop);
  for (auto it = s.order.rbegin(); it != s.order.rend(); ++it) {
    VTWindow* w = *it;
    if (!w->visible) continue;
    drawChrome(s.screen, w);
    blitContent(s.screen, w);
  }
  if (s.overlay)
    s.overlay(s.screen);
  else
    drawPlainMenuBar(s.screen);
  return s.screen;
}

void flushScreen() {
  Server& s = server();
  if (!s.initialised || rectEmpty(s.damage)) return;
  vt::events::Backend& b = vt::events::backend();
  if (b.isHeadless()) return;  // headless composes on demand (snapshots)
  composeScreen();
  Rect d = s.damage;
  s.damage = Rect{0, 0, 0, 0};
  b.present(s.screen, d);
}

void setOverlayHook(OverlayHook hook) {
  ensureServer();
  server().overlay = hook;
  invalidateScreen(screenBounds());
}

void setForeground(bool foreground) {
  Server& s = server();
  ensureServer();
  if (s.foreground == foreground) return;
  s.foreground = foreground;
  vt::events::post(osEvt,
                   ((unsigned long)suspendResumeMessage << 24) | (foreground ? resumeFlag : 0),
                   vt::events::mouseGlobal(), vt::events::currentModifiers());
  if (s.activeWindow) {
    s.activeWindow->hilited = foreground;
    invalidateScreen(structureRect(s.activeWindow));
  }
}

bool isForeground() { return server().foreground; }

const Cursor* currentCursor() {
  Server& s = server();
  return s.cursorIsArrow ? nullptr : &s.cursor;
}

bool cursorVisible() { return server().cursorHidden <= 0; }

void resetWindowServer() {
  ensureServer();
  Server& s = server();
  while (!s.order.empty()) DisposeWindow(s.order.front());
  s.activates.clear();
  s.activeWindow = nullptr;
  s.current = s.screenPort;
  s.foreground = true;
  s.cursorIsArrow = true;
  s.cursorHidden = 0;
  s.pressedCloseBox = nullptr;
  s.pressedZoomBox = nullptr;
  invalidateScreen(screenBounds());
}

}  // namespace vt::ui

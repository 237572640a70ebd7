// Where the controller sits: the picture and the bar, attached or apart, shown or hidden, and
// the window sized to them through the grow box and the zoom box.
#include <MacWindows.h>
#include <Quickdraw.h>

#include <algorithm>
#include <climits>

#include "controller/controller.h"
#include "events/event_queue.h"
#include "ui/window_server.h"

namespace vt::controller {

namespace {

void sizeChanged(VTController& c) { filtered(c, mcActionControllerSizeChanged, nullptr); }

// The largest picture, at the movie's natural shape, whose controller (picture and bar) fits in
// a content area of maxW x maxH.
void fitSize(const VTController& c, int maxW, int maxH, int& w, int& h) {
  const Rect& box = c.geometry.movieRect;
  Rect nat{0, 0, 0, 0};
  GetMovieNaturalBoundsRect(c.movie, &nat);
  int64_t aw = nat.right - nat.left, ah = nat.bottom - nat.top;
  if (aw <= 0 || ah <= 0) {
    aw = std::max(1, box.right - box.left);
    ah = std::max(1, box.bottom - box.top);
  }
  if (c.geometry.visible) maxH -= kBarHeight;
  int64_t width = std::min<int64_t>(maxW, (int64_t)std::max(maxH, 1) * aw / ah);
  width = std::max<int64_t>(width, std::max<int64_t>(1, kMinMovieSide * aw / ah));
  w = (int)std::min<int64_t>(width, SHRT_MAX / 2);
  h = (int)std::max<int64_t>(1, std::min<int64_t>((int64_t)w * ah / aw, SHRT_MAX / 2));
}

// The content area a window can have within the grow-box bounds: from its content's top-left
// (or the bounds' own, for the whole area) to the bounds' far edges, less the window's frame.
void contentRoom(const VTController& c, WindowRef w, bool fromWindow, int& maxW, int& maxH) {
  const Rect& gb = c.geometry.growBounds;
  Rect in = ui::frameInsets(w);
  int left = fromWindow ? w->content.left : gb.left + in.left;
  int top = fromWindow ? w->content.top : gb.top + in.top;
  maxW = gb.right - in.right - left;
  maxH = gb.bottom - in.bottom - top;
}

// The bounds changed from `before` to what they are now: the window redraws both.
void boundsChanged(VTController& c, const Rect& before) {
  Rect after = boundsOf(c);
  Rect both;
  UnionRect(&before, &after, &both);
  invalidateWindow(c, both);
  if (!EqualRect(&before, &after)) sizeChanged(c);
}

}  // namespace

Rect attachedBarRect(const Rect& movieRect) {
  int width = std::max<int>(movieRect.right - movieRect.left, kMinBarWidth);
  return Rect{movieRect.bottom, movieRect.left, (short)(movieRect.bottom + kBarHeight),
              (short)(movieRect.left + width)};
}

Rect boundsOf(const VTController& c) {
  const Geometry& g = c.geometry;
  if (!g.attached) return g.visible ? g.barRect : Rect{0, 0, 0, 0};
  if (!g.visible) return g.movieRect;
  Rect u;
  UnionRect(&g.movieRect, &g.barRect, &u);
  return u;
}

void invalidateWindow(VTController& c, const Rect& r) {
  if (WindowRef w = controllerWindow(c)) InvalWindowRect(w, &r);
}

Point toLocal(WindowRef w, Point global) {
  Point p = global;
  p.h = (short)(p.h - w->content.left + w->port.portRect.left);
  p.v = (short)(p.v - w->content.top + w->port.portRect.top);
  return p;
}

// Gives the picture a new size (its top-left stays), moves the bar with it, and sizes the window
// to the controller when the bar is attached.
void resizeMovie(VTController& c, int width, int height) {
  Geometry& g = c.geometry;
  Rect before = boundsOf(c);
  Rect r = g.movieRect;
  r.right = (short)(r.left + width);
  r.bottom = (short)(r.top + height);
  if (EqualRect(&r, &g.movieRect)) return;
  g.movieRect = r;
  SetMovieBox(c.movie, &g.movieRect);
  if (g.attached) g.barRect = attachedBarRect(g.movieRect);
  c.picture.forget();
  Rect after = boundsOf(c);
  WindowRef w = controllerWindow(c);
  if (w && g.attached)
    SizeWindow(w, (short)(after.right - after.left), (short)(after.bottom - after.top), true);
  Rect both;
  UnionRect(&before, &after, &both);
  invalidateWindow(c, both);
  sizeChanged(c);
}

// Grow-box bounds set: the window gets its zoom box, and a movie too large for them shrinks to
// the largest size that fits.
void growBoundsSet(VTController& c) {
  const Geometry& g = c.geometry;
  WindowRef w = controllerWindow(c);
  if (!w || EmptyRect(&g.growBounds) || EmptyRect(&g.movieRect)) return;
  ui::setZoomBox(w, true, g.zoomed);
  int maxW = 0, maxH = 0, fitW = 0, fitH = 0;
  contentRoom(c, w, false, maxW, maxH);
  Rect b = boundsOf(c);
  if (b.right - b.left <= maxW && b.bottom - b.top <= maxH) return;
  fitSize(c, maxW, maxH, fitW, fitH);
  resizeMovie(c, fitW, fitH);
  // A window already on the screen moves as far as it must to be inside the bounds.
  Rect s = ui::structureRect(w);
  int dx = std::max(g.growBounds.left - s.left, std::min(0, g.growBounds.right - s.right));
  int dy = std::max(g.growBounds.top - s.top, std::min(0, g.growBounds.bottom - s.bottom));
  if (dx || dy) MoveWindow(w, (short)(w->content.left + dx), (short)(w->content.top + dy), false);
}

// The zoom box: to the largest size that fits the grow-box bounds, at the top-left of them, and
// back to the size and place the user had.
void toggleZoom(VTController& c, WindowRef w) {
  Geometry& g = c.geometry;
  if (!g.zoomed) {
    g.userMovieRect = g.movieRect;
    g.userWindowPlace = Point{w->content.top, w->content.left};
    int maxW = 0, maxH = 0, fitW = 0, fitH = 0;
    contentRoom(c, w, false, maxW, maxH);
    fitSize(c, maxW, maxH, fitW, fitH);
    Rect in = ui::frameInsets(w);
    MoveWindow(w, (short)(g.growBounds.left + in.left), (short)(g.growBounds.top + in.top), false);
    g.zoomed = true;
    resizeMovie(c, fitW, fitH);
  } else {
    MoveWindow(w, g.userWindowPlace.h, g.userWindowPlace.v, false);
    g.zoomed = false;
    resizeMovie(c, g.userMovieRect.right - g.userMovieRect.left,
                g.userMovieRect.bottom - g.userMovieRect.top);
  }
  ui::setZoomBox(w, true, g.zoomed);
}

// The grow box: the picture follows the mouse at the movie's shape (the larger of the two
// changes wins), from kMinMovieSide up to what fits the grow-box bounds.
void dragGrow(VTController& c, WindowRef w, Point start) {
  const Rect& box = c.geometry.movieRect;
  const int w0 = box.right - box.left, h0 = box.bottom - box.top;
  int maxW = 0, maxH = 0, capW = 0, capH = 0, minW = 0, minH = 0;
  contentRoom(c, w, true, maxW, maxH);
  fitSize(c, maxW, maxH, capW, capH);
  fitSize(c, kMinMovieSide, kMinMovieSide + (c.geometry.visible ? kBarHeight : 0), minW, minH);
  auto follow = [&](Point global) {
    Point p = toLocal(w, global);
    int64_t byH = (int64_t)w0 + (p.h - start.h);
    int64_t byV = h0 > 0 ? ((int64_t)h0 + (p.v - start.v)) * w0 / h0 : byH;
    int width = (int)std::clamp<int64_t>(std::max(byH, byV), minW, std::max(minW, capW));
    int fw = 0, fh = 0;
    fitSize(c, width, INT32_MAX / 4, fw, fh);
    resizeMovie(c, fw, fh);
    redraw(c);
  };
  Point g{};
  while (events::trackMouse(g)) {
    if (!stillLive(c)) return;
    follow(g);
  }
  if (!stillLive(c)) return;
  follow(g);
  c.geometry.zoomed = false;
  ui::setZoomBox(w, true, false);
}

void setVisible(VTController& c, bool visible) {
  if (visible == c.geometry.visible) return;
  c.geometry.visible = visible;
  // What the bar covered (or will cover) is redrawn by the window's next update.
  invalidateWindow(c, c.geometry.barRect);
  if (visible) drawBar(c);
  sizeChanged(c);
}

void setAttached(VTController& c, bool attach) {
  Geometry& g = c.geometry;
  g.attached = attach;
  if (!attach) return;
  Rect old = g.barRect;
  g.barRect = attachedBarRect(g.movieRect);
  if (!EqualRect(&old, &g.barRect)) {
    invalidateWindow(c, old);
    drawBar(c);
  }
}

void position(VTController& c, const Rect* movieRect, const Rect* controllerRect) {
  Geometry& g = c.geometry;
  Rect before = boundsOf(c);
  if (movieRect) {
    g.movieRect = *movieRect;
    SetMovieBox(c.movie, &g.movieRect);
  }
  g.barRect = g.attached || !controllerRect ? attachedBarRect(g.movieRect) : *controllerRect;
  c.picture.forget();
  boundsChanged(c, before);
}

}  // namespace vt::controller

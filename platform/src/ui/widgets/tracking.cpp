#include "ui/widgets/tracking.h"

#include <algorithm>
#include <vector>

#include "events/event_queue.h"
#include "ui/window_server.h"

namespace vt::ui {

Point localPoint(WindowRef w, Point global) {
  return Point{(short)(global.v - w->content.top + w->port.portRect.top),
               (short)(global.h - w->content.left + w->port.portRect.left)};
}

bool trackPress(WindowRef w, const Rect& r, const std::function<void(bool)>& shown) {
  auto over = [&](Point global) {
    Point p = localPoint(w, global);
    return p.h >= r.left && p.h < r.right && p.v >= r.top && p.v < r.bottom;
  };
  bool pressed = true;  // as shown
  if (shown) shown(true);
  Point where{};
  for (;;) {
    bool down = events::trackMouse(where);
    if (!isLiveWindow(w)) return false;
    bool now = down && over(where);
    if (now != pressed && shown) shown(now);
    pressed = now;
    if (!down) return over(where);
  }
}

bool trackDrag(WindowRef w, const std::function<void(Point)>& moved) {
  Point where{};
  for (;;) {
    bool down = events::trackMouse(where);
    if (!isLiveWindow(w)) return false;
    moved(localPoint(w, where));
    if (!down) return true;
  }
}

void beginModalTurn() { events::callModalHook(); }

void nextModalEvent(EventRecord& e) { events::waitNextEvent(kModalEventMask, e, 0, nullptr); }

DialogClick dialogClick(WindowRef w, const EventRecord& e, Point* local) {
  WindowRef hit = nullptr;
  WindowPartCode part = FindWindow(e.where, &hit);
  if (hit != w) return DialogClick::outside;
  if (part == inDrag) {
    Rect limit = desktopBounds();
    DragWindow(w, e.where, &limit);
    return DialogClick::dragged;
  }
  if (part != inContent) return DialogClick::frame;
  if (local) *local = localPoint(w, e.where);
  return DialogClick::content;
}

namespace {
std::vector<FieldFinder>& finders() {
  static std::vector<FieldFinder> list;
  return list;
}
}  // namespace

void addFieldFinder(FieldFinder finder) {
  auto& list = finders();
  if (std::find(list.begin(), list.end(), finder) == list.end()) list.push_back(finder);
}

bool findFocusedField(WindowRef w, FocusedField& out) {
  if (!isLiveWindow(w)) return false;
  for (FieldFinder f : finders())
    if (f(w, out) && out.field) return true;
  return false;
}

}  // namespace vt::ui

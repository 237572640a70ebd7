// Pop-up menus in a window of their own, with press-drag-release and click tracking.
#include <VTAutomationUI.h>

#include <algorithm>

#include "core/boundary.h"
#include "events/backend.h"
#include "events/event_queue.h"
#include "ui/widgets/controls.h"
#include "ui/widgets/painter.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace vt::ui {
namespace {

constexpr int kRow = 18;
constexpr EventMask kMenuEvents = mDownMask | mUpMask | keyDownMask | autoKeyMask;

// The menu open now, for automation.
struct OpenMenu {
  WindowRef window = nullptr;
  PopupMenu* menu = nullptr;
};
OpenMenu gOpen;

void drawMenu(WindowRef w, const PopupMenu& m) {
  PortPainter p(&w->port);
  Rect all = w->port.portRect;
  p.fill(all, colour::white);
  m.draw(p);
  portChanged(&w->port, all);
}

}  // namespace

int runPopupMenu(WindowRef owner, const Rect& anchor, const std::vector<std::string>& items,
                 int current, bool mouseHeld) {
  if (!isLiveWindow(owner) || items.empty()) return -1;
  PopupMenu m;
  m.items = items;
  m.current = std::clamp(current, 0, (int)items.size() - 1);
  m.rowHeight = kRow;
  Rect desk = desktopBounds();
  int fit = std::max(1, (desk.bottom - desk.top - 8) / kRow);
  if ((int)items.size() > fit) m.rowsPerColumn = fit;
  {
    ImagePainter measure(owner->store);
    int widest = anchor.right - anchor.left;
    for (const auto& it : items)
      widest = std::max(widest, measure.textWidth(it, kControlTextSize) + 24);
    m.columnWidth = std::min(widest, 400);
  }
  m.anchor = makeRect(0, 0, m.columnWidth, 0);
  int w = m.columns() * m.columnWidth, h = m.rows() * kRow;
  int left = owner->content.left + anchor.left, top = owner->content.top + anchor.bottom;
  left = std::max((int)desk.left, std::min(left, desk.right - w));
  top = std::max((int)desk.top, std::min(top, desk.bottom - h));
  Rect bounds = makeRect(left, top, left + w, top + h);
  WindowRef win = NewCWindow(nullptr, &bounds, (const unsigned char*)"", true, plainDBox,
                             (WindowRef)-1L, false, 0);
  if (!win) return -1;
  SetWindowKind(win, kDialogWindowKind);
  gOpen = {win, &m};
  drawMenu(win, m);

  auto itemUnder = [&](Point global) {
    Point p = localPoint(win, global);
    return m.itemAt(p.h, p.v);
  };
  auto highlight = [&](int item) {
    if (item < 0 || item == m.current) return;
    m.current = item;
    drawMenu(win, m);
  };
  // Follows a held button; the item under the release, -1 elsewhere, -2 for a release that
  // never left the press (on the anchor, or on the item the menu put under it near the
  // screen's edge): a click, which leaves the menu open.
  const Point pressedAt = events::mouseGlobal();
  auto follow = [&](bool fromAnchor) {
    Point where{};
    bool moved = false;
    for (;;) {
      bool down = events::trackMouse(where);
      if (!isLiveWindow(win)) return -1;
      moved |= where.h != pressedAt.h || where.v != pressedAt.v;
      int item = itemUnder(where);
      if (moved || !fromAnchor) highlight(item);
      if (down) continue;
      if (fromAnchor && !moved) return -2;
      Point o = localPoint(owner, where);
      if (fromAnchor && item < 0 && inRect(anchor, o.h, o.v)) return -2;
      return item;
    }
  };

  int chosen = mouseHeld ? follow(true) : -2;
  int idle = 0;
  while (chosen == -2) {
    beginModalTurn();
    EventRecord e{};
    bool got = events::waitNextEvent(kMenuEvents, e, 0, nullptr);
    if (!isLiveWindow(win)) {
      chosen = -1;
      break;
    }
    if (!got || e.what == nullEvent || e.what == mouseUp) {
      // Headless, nobody is left to answer a menu nothing acts on.
      if (++idle > 2000 && events::backend().isHeadless()) chosen = -1;
      continue;
    }
    idle = 0;
    if (e.what == mouseDown) {
      chosen = itemUnder(e.where) >= 0 ? follow(false) : -1;
      continue;
    }
    char c = (char)(e.message & charCodeMask);
    int r = std::max(1, m.rows()), n = (int)items.size();
    if (c == kEscapeCharCode)
      chosen = -1;
    else if (c == kReturnCharCode || c == kEnterCharCode || c == ' ')
      chosen = m.current;
    else if (c == kUpArrowCharCode)
      highlight(std::max(0, m.current - 1));
    else if (c == kDownArrowCharCode)
      highlight(std::min(n - 1, m.current + 1));
    else if (c == kLeftArrowCharCode)
      highlight(std::max(0, m.current - r));
    else if (c == kRightArrowCharCode)
      highlight(std::min(n - 1, m.current + r));
  }
  gOpen = {};
  if (isLiveWindow(win)) DisposeWindow(win);
  return chosen;
}

}  // namespace vt::ui

bool VTAutomationPopupMenu(std::vector<std::string>* items, int* highlighted) {
  return vt::apiCall<bool>(vt::noErrorState, {}, [&]() -> bool {
    using vt::ui::gOpen;
    if (!gOpen.menu || !vt::ui::isLiveWindow(gOpen.window)) return false;
    if (items) *items = gOpen.menu->items;
    if (highlighted) *highlighted = gOpen.menu->current;
    return true;
  });
}

bool VTAutomationPopupMenuItemRect(int index, Rect* global) {
  return vt::apiCall<bool>(vt::noErrorState, {}, [&]() -> bool {
    using vt::ui::gOpen;
    if (!gOpen.menu || !vt::ui::isLiveWindow(gOpen.window) || !global || index < 0 ||
        index >= (int)gOpen.menu->items.size())
      return false;
    Rect r = gOpen.menu->itemRect(index);
    OffsetRect(&r, gOpen.window->content.left, gOpen.window->content.top);
    *global = r;
    return true;
  });
}

// The menu bar on the screen: layout, drawing over the composed screen, tracking a press
// (MenuSelect), command keys (MenuKey), highlighting, and the alert sound.
#include <Menus.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <span>
#include <thread>

#include "core/boundary.h"
#include "events/backend.h"
#include "events/event_queue.h"
#include "menus/menu_manager.h"
#include "resources/resource_manager.h"
#include "ui/text.h"
#include "ui/window_server.h"

#include "appleevents/ae_queue.h"

namespace vt::menus {
namespace {

const Pixel kBarFill = makePixel(0xF4, 0xF4, 0xF4);
const Pixel kLine = makePixel(0x20, 0x20, 0x20);
const Pixel kText = makePixel(0, 0, 0);
const Pixel kGrey = makePixel(0x9A, 0x9A, 0x9A);
const Pixel kHilite = makePixel(0x2F, 0x6F, 0xD0);
const Pixel kWhite = makePixel(0xFF, 0xFF, 0xFF);
const Pixel kShadow = makePixel(0x50, 0x50, 0x50);
constexpr int kTextSize = 12;
constexpr int kTitlePad = 10;
constexpr int kFirstTitle = 8;
constexpr int kMarkColumn = 22;
constexpr int kMenuPad = 4;

struct Track {
  int open = -1;    // bar index of the open menu
  int hilite = -1;  // shown item highlighted in it
  MenuID hilitedTitle = 0;
  Rect drawn{0, 0, 0, 0};  // what the overlay covered last time, to repaint when it shrinks
  bool overlayInstalled = false;
  bool flashed = false;  // shown in inverse video (a beep without sound)
};

Track& track() {
  static Track t;
  return t;
}

std::string utf8(const std::string& macRoman) { return vt::ui::toolboxToUtf8(macRoman); }

int textWidth(const std::string& macRoman, bool bold = false) {
  return vt::ui::measureText(utf8(macRoman), kTextSize, bold);
}

bool isAppleMenu(const VTMenu* m) { return m->id == kAppleMenuID; }

int itemHeight(const ShownItem& s) { return s.separator ? kSeparatorHeight : kItemHeight; }

Rect unite(const Rect& a, const Rect& b) { return vt::ui::rectUnion(a, b); }

void fill(Image& img, Rect r, Pixel p) {
  r = vt::ui::rectIntersect(r, Rect{0, 0, (short)img.height, (short)img.width});
  for (int y = r.top; y < r.bottom; ++y) std::fill(img.row(y) + r.left, img.row(y) + r.right, p);
}

void drawLabel(Image& img, int x, int baseline, const std::string& macRoman, Pixel color, bool bold,
               const Rect& clip) {
  vt::ui::TextStyle st;
  st.size = kTextSize;
  st.bold = bold;
  st.color = color;
  vt::ui::drawText(img, x, baseline, utf8(macRoman), st, &clip);
}

void drawOverlay(Image& scr) {
  Track& t = track();
  Rect bar{0, 0, (short)vt::ui::kMenuBarHeight, (short)scr.width};
  fill(scr, bar, kBarFill);
  fill(scr, Rect{(short)(bar.bottom - 1), 0, bar.bottom, bar.right}, kLine);
  const auto& menus = barMenus();
  for (int i = 0; i < (int)menus.size(); ++i) {
    const VTMenu* m = menus[(size_t)i];
    Rect r = titleRect(i);
    bool hot = m->id == t.hilitedTitle || i == t.open;
    if (hot) fill(scr, Rect{r.top, r.left, (short)(r.bottom - 1), r.right}, kHilite);
    Pixel color = hot ? kWhite : (m->enabled ? kText : kGrey);
    drawLabel(scr, r.left + kTitlePad, 15, shownTitle(m), color, isAppleMenu(m), r);
  }
  if (t.flashed)
    for (int y = bar.top; y < bar.bottom && y < scr.height; ++y)
      for (Pixel& px : std::span(scr.row(y), (size_t)scr.width)) px ^= 0x00FFFFFFu;
  Rect drawn = bar;
  if (t.open >= 0 && t.open < (int)menus.size()) {
    const VTMenu* m = menus[(size_t)t.open];
    Rect mr = menuRect(t.open);
    fill(scr, Rect{(short)(mr.top + 3), mr.right, (short)(mr.bottom + 3), (short)(mr.right + 3)},
         kShadow);
    fill(scr, Rect{mr.bottom, (short)(mr.left + 3), (short)(mr.bottom + 3), (short)(mr.right + 3)},
         kShadow);
    fill(scr, mr, kWhite);
    fill(scr, Rect{mr.top, mr.left, mr.bottom, (short)(mr.left + 1)}, kLine);
    fill(scr, Rect{mr.top, (short)(mr.right - 1), mr.bottom, mr.right}, kLine);
    fill(scr, Rect{(short)(mr.bottom - 1), mr.left, mr.bottom, mr.right}, kLine);
    auto items = shownItems(m);
    for (int k = 0; k < (int)items.size(); ++k) {
      const ShownItem& s = items[(size_t)k];
      Rect ir = itemRect(t.open, k);
      if (s.separator) {
        int y = (ir.top + ir.bottom) / 2;
        fill(scr, Rect{(short)y, (short)(ir.left + 6), (short)(y + 1), (short)(ir.right - 6)},
             kGrey);
        continue;
      }
      bool hot = k == t.hilite && s.enabled;
      if (hot) fill(scr, ir, kHilite);
      Pixel color = hot ? kWhite : (s.enabled ? kText : kGrey);
      int base = ir.top + 15;
      if (s.checked) {
        vt::ui::TextStyle st;
        st.size = kTextSize;
        st.color = color;
        vt::ui::drawText(scr, ir.left + 6, base, "\u2713", st, &ir);
      } else if (s.mark) {
        drawLabel(scr, ir.left + 6, base, std::string(1, (char)s.mark), color, false, ir);
      }
      drawLabel(scr, ir.left + kMarkColumn, base, s.text, color, false, ir);
      std::string key = keyLabel(s.key, s.modifiers);
      if (!key.empty()) {
        int kw = textWidth(key);
        drawLabel(scr, ir.right - 10 - kw, base, key, color, false, ir);
      }
    }
    drawn = unite(drawn, Rect{mr.top, mr.left, (short)(mr.bottom + 3), (short)(mr.right + 3)});
  }
  t.drawn = drawn;
}

}  // namespace

std::string shownTitle(const VTMenu* m) {
  return isAppleMenu(m) ? vt::resources::applicationName() : m->title;
}

std::vector<ShownItem> shownItems(const VTMenu* m) {
  std::vector<ShownItem> out;
  for (const auto& it : m->items) {
    ShownItem s;
    s.separator = it.separator();
    s.text = s.separator ? "-" : it.text;
    s.enabled = !s.separator && it.enabled && m->enabled;
    s.checked = it.mark == checkMark;
    s.mark = it.mark;
    s.key = s.separator ? 0 : it.key;
    s.modifiers = it.modifiers;
    out.push_back(s);
  }
  if (isAppleMenu(m)) {
    ShownItem sep;
    sep.separator = true;
    sep.text = "-";
    out.push_back(sep);
    ShownItem quit;
    quit.text = "Quit " + vt::resources::applicationName();
    quit.enabled = true;
    quit.key = 'Q';
    quit.platformQuit = true;
    out.push_back(quit);
  }
  return out;
}

std::string keyLabel(char key, UInt8 modifiers) {
  if (!key) return {};
  std::string s;
  if (!(modifiers & kMenuNoCommandModifier)) s += "Ctrl+";
  if (modifiers & kMenuControlModifier) s += "Control+";
  if (modifiers & kMenuOptionModifier) s += "Alt+";
  if (modifiers & kMenuShiftModifier) s += "Shift+";
  s += key;
  return s;
}

Rect titleRect(int barIndex) {
  const auto& menus = barMenus();
  int x = kFirstTitle;
  for (int i = 0; i < (int)menus.size(); ++i) {
    const VTMenu* m = menus[(size_t)i];
    int w = textWidth(shownTitle(m), isAppleMenu(m)) + 2 * kTitlePad;
    if (i == barIndex) return Rect{0, (short)x, (short)vt::ui::kMenuBarHeight, (short)(x + w)};
    x += w;
  }
  return Rect{0, 0, 0, 0};
}

Rect menuRect(int barIndex) {
  const auto& menus = barMenus();
  if (barIndex < 0 || barIndex >= (int)menus.size()) return Rect{0, 0, 0, 0};
  auto items = shownItems(menus[(size_t)barIndex]);
  int width = 120, height = 2 * kMenuPad;
  for (const auto& s : items) {
    height += itemHeight(s);
    if (s.separator) continue;
    std::string key = keyLabel(s.key, s.modifiers);
    int w = kMarkColumn + textWidth(s.text) + (key.empty() ? 0 : 30 + textWidth(key)) + 14;
    width = std::max(width, w);
  }
  Rect t = titleRect(barIndex);
  Rect scr = vt::ui::screenBounds();
  int left = t.left;
  if (left + width > scr.right - 4) left = std::max<int>(0, scr.right - 4 - width);
  return Rect{(short)vt::ui::kMenuBarHeight, (short)left, (short)(vt::ui::kMenuBarHeight + height),
              (short)(left + width)};
}

Rect itemRect(int barIndex, int shownIndex) {
  const auto& menus = barMenus();
  if (barIndex < 0 || barIndex >= (int)menus.size() || shownIndex < 0) return Rect{0, 0, 0, 0};
  auto items = shownItems(menus[(size_t)barIndex]);
  if (shownIndex >= (int)items.size()) return Rect{0, 0, 0, 0};
  Rect mr = menuRect(barIndex);
  int y = mr.top + kMenuPad;
  for (int k = 0; k < shownIndex; ++k) y += itemHeight(items[(size_t)k]);
  return Rect{(short)y, (short)(mr.left + 1), (short)(y + itemHeight(items[(size_t)shownIndex])),
              (short)(mr.right - 1)};
}

int barIndexAt(Point p) {
  if (p.v < 0 || p.v >= vt::ui::kMenuBarHeight) return -1;
  for (int i = 0; i < (int)barMenus().size(); ++i) {
    Rect r = titleRect(i);
    if (p.h >= r.left && p.h < r.right) return i;
  }
  return -1;
}

int itemIndexAt(int barIndex, Point p) {
  Rect mr = menuRect(barIndex);
  if (p.v < mr.top || p.v >= mr.bottom || p.h < mr.left || p.h >= mr.right) return -1;
  auto n = (int)shownItems(barMenus()[(size_t)barIndex]).size();
  for (int k = 0; k < n; ++k) {
    Rect r = itemRect(barIndex, k);
    if (p.v >= r.top && p.v < r.bottom) return k;
  }
  return -1;
}

void setOpenMenu(int barIndex, int hilitedItem) {
  Track& t = track();
  if (t.open == barIndex && t.hilite == hilitedItem) return;
  t.open = barIndex;
  t.hilite = hilitedItem;
  invalidateBar();
}

MenuID hilitedMenu() { return track().hilitedTitle; }

void setHilitedMenu(MenuID id) {
  if (track().hilitedTitle == id) return;
  track().hilitedTitle = id;
  invalidateBar();
}

void invalidateBar() {
  Track& t = track();
  if (!t.overlayInstalled) {
    vt::ui::setOverlayHook(drawOverlay);  // recomposes the whole screen, so only once
    t.overlayInstalled = true;
  }
  Rect r = unite(t.drawn, Rect{0, 0, (short)vt::ui::kMenuBarHeight, vt::ui::screenBounds().right});
  if (t.open >= 0) {
    Rect mr = menuRect(t.open);
    r = unite(r, Rect{mr.top, mr.left, (short)(mr.bottom + 3), (short)(mr.right + 3)});
  }
  vt::ui::invalidateScreen(r);
}

void quitFromMenu() { vt::ae::postQuitApplication(); }

namespace {

// The beep seen: the bar in inverse video for a moment, when there is no sound to hear. The
// headless screen's sound sink always hears it.
void flashBar() {
  if (vt::events::backend().isHeadless()) return;
  Track& t = track();
  t.flashed = true;
  invalidateBar();
  vt::ui::flushScreen();
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  t.flashed = false;
  invalidateBar();
  vt::ui::flushScreen();
}

const bool kFlashRegistered = (vt::events::registerBeepFlash(flashBar), true);

}  // namespace

namespace {

// The selection a released point stands for: (menu ID << 16) | item, 0 for nothing; a
// platform Quit is carried out here and reported as nothing.
long choose(int barIndex, int shown) {
  const auto& menus = barMenus();
  if (barIndex < 0 || barIndex >= (int)menus.size() || shown < 0) return 0;
  VTMenu* m = menus[(size_t)barIndex];
  auto items = shownItems(m);
  if (shown >= (int)items.size() || !items[(size_t)shown].enabled) return 0;
  if (items[(size_t)shown].platformQuit) {
    quitFromMenu();
    return 0;
  }
  return ((long)(UInt16)m->id << 16) | (shown + 1);
}

// Arrow keys in an open menu: up and down step through the enabled items, left and right
// move to the neighbouring menus.
void moveByKey(unsigned char c, int& open) {
  int count = (int)barMenus().size();
  if (open < 0 || count == 0) return;
  if (c == kLeftArrowCharCode || c == kRightArrowCharCode) {
    open = (open + (c == kRightArrowCharCode ? 1 : count - 1)) % count;
    setOpenMenu(open, -1);
    return;
  }
  if (c != kUpArrowCharCode && c != kDownArrowCharCode) return;
  auto items = shownItems(barMenus()[(size_t)open]);
  int n = (int)items.size(), cur = track().hilite, step = c == kDownArrowCharCode ? 1 : -1;
  if (cur < 0) cur = step > 0 ? -1 : n;
  for (int k = 1; k <= n; ++k) {
    int i = ((cur + step * k) % n + n) % n;
    if (items[(size_t)i].enabled) {
      setOpenMenu(open, i);
      return;
    }
  }
}

void follow(Point p, int& open) {
  int title = barIndexAt(p);
  if (title >= 0) open = title;
  int item = open >= 0 ? itemIndexAt(open, p) : -1;
  setOpenMenu(open, item);
}

}  // namespace

}  // namespace vt::menus

using namespace vt::menus;

long MenuSelect(Point startPt) {
  return vt::apiCall<long>(vt::noErrorState, {}, [&]() -> long {
    invalidateBar();
    setHilitedMenu(0);
    int open = barIndexAt(startPt);
    int first = open;
    follow(startPt, open);
    Point where = startPt;
    bool pressed = true, sticky = false;
    long result = 0;
    for (;;) {
      if (pressed) {
        bool down = vt::events::trackMouse(where);
        follow(where, open);
        if (down) continue;
        int title = barIndexAt(where);
        if (!sticky && title >= 0 && title == first) {
          // A click on a title leaves its menu open until the next click.
          sticky = true;
          pressed = false;
          continue;
        }
        result = open >= 0 ? choose(open, itemIndexAt(open, where)) : 0;
        break;
      }
      vt::events::callModalHook();
      EventRecord e;
      if (vt::events::nextEvent(mDownMask | mUpMask | keyDownMask | autoKeyMask, e, true)) {
        if (e.what == mouseDown) {
          where = e.where;
          bool inBar = barIndexAt(where) >= 0;
          bool inMenu = open >= 0 && itemIndexAt(open, where) >= 0;
          if (!inBar && !inMenu) break;  // a click elsewhere closes the menu
          pressed = true;
          first = -1;
          follow(where, open);
        } else if (e.what == keyDown || e.what == autoKey) {
          unsigned char c = (unsigned char)(e.message & charCodeMask);
          if (c == kEscapeCharCode) break;
          if (c == kReturnCharCode || c == kEnterCharCode) {
            result = choose(open, track().hilite);
            break;
          }
          moveByKey(c, open);
        }
        continue;
      }
      if (vt::events::backend().isHeadless()) break;  // no input will come any more
      vt::events::backend().waitForInput(10);
      Point now = vt::events::mouseGlobal();
      if (now.h != where.h || now.v != where.v) {
        where = now;
        follow(where, open);
      }
    }
    setOpenMenu(-1, -1);
    setHilitedMenu(result ? (MenuID)(result >> 16) : 0);
    vt::ui::flushScreen();
    return result;
  });
}

long MenuKey(CharParameter ch) {
  return vt::apiCall<long>(vt::noErrorState, {}, [&]() -> long {
    char key = (char)std::toupper(ch & 0xFF);
    if (!key) return 0;
    EventModifiers now = vt::events::currentModifiers();
    UInt8 held = (UInt8)(((now & shiftKey) ? kMenuShiftModifier : 0) |
                         ((now & optionKey) ? kMenuOptionModifier : 0) |
                         ((now & controlKey) ? kMenuControlModifier : 0));
    // Exact modifier match first, then items whose extra modifiers are all held. Shift held with
    // a letter makes another shortcut, as desktop users expect: Ctrl+Shift+E never runs Ctrl+E,
    // even when no Ctrl+Shift+E item is enabled. A symbol may need Shift just to be typed.
    const bool shiftMatters = std::isalpha((unsigned char)key) && (held & kMenuShiftModifier);
    for (int pass = 0; pass < 2; ++pass) {
      for (VTMenu* m : barMenus()) {
        if (!m->enabled) continue;
        for (size_t i = 0; i < m->items.size(); ++i) {
          const VTMenu::Item& it = m->items[i];
          if (it.key != key || !it.enabled || it.separator()) continue;
          if (it.modifiers & kMenuNoCommandModifier) continue;
          UInt8 need = it.modifiers & 7;
          bool match = pass == 0 ? need == held : (need & held) == need;
          if (shiftMatters && !(need & kMenuShiftModifier)) match = false;
          if (!match) continue;
          setHilitedMenu(m->id);
          return ((long)(UInt16)m->id << 16) | (long)(i + 1);
        }
      }
    }
    if (key == 'Q') quitFromMenu();  // the application menu's Quit
    return 0;
  });
}

void HiliteMenu(MenuID menuID) {
  vt::apiCall(vt::noErrorState, [&] { setHilitedMenu(menuID); });
}

void FlashMenuBar(MenuID menuID) {
  vt::apiCall(vt::noErrorState, [&] {
    // The bar has no inverse video here; flashing highlights the title until the next change.
    setHilitedMenu(menuID);
  });
}

void DrawMenuBar() {
  vt::apiCall(vt::noErrorState, [&] {
    invalidateBar();
    vt::ui::flushScreen();
  });
}

void InvalMenuBar() {
  vt::apiCall(vt::noErrorState, [&] { invalidateBar(); });
}

short GetMBarHeight() { return (short)vt::ui::kMenuBarHeight; }

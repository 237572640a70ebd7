// The window manager's public calls.
#include <MacErrors.h>
#include <MacWindows.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "core/guard.h"
#include "core/pstring.h"
#include "events/event_queue.h"
#include "ui/server_state.h"

using namespace vt::ui;

namespace {

void placeInOrder(VTWindow* w, WindowRef behind) {
  auto& order = server().order;
  order.erase(std::remove(order.begin(), order.end(), w), order.end());
  if (behind == (WindowRef)-1) {
    order.insert(order.begin(), w);
    return;
  }
  auto it = std::find(order.begin(), order.end(), behind);
  if (behind && it != order.end())
    order.insert(it + 1, w);
  else
    order.push_back(w);
}

void setContentSize(VTWindow* w, int width, int height) {
  width = std::clamp(width, 0, kMaxPortDimension);
  height = std::clamp(height, 0, kMaxPortDimension);
  vt::Image fresh(width, height, vt::makePixel(255, 255, 255));
  // Keep what was drawn where it still fits.
  int cw = std::min(width, w->store.width), ch = std::min(height, w->store.height);
  for (int y = 0; y < ch; ++y) std::copy_n(w->store.row(y), cw, fresh.row(y));
  w->store = std::move(fresh);
  w->content.right = (short)(w->content.left + width);
  w->content.bottom = (short)(w->content.top + height);
  w->port.portRect.right = (short)(w->port.portRect.left + width);
  w->port.portRect.bottom = (short)(w->port.portRect.top + height);
  w->update &= Region(w->port.portRect);
}

}  // namespace

WindowRef NewCWindow(void*, const Rect* boundsRect, ConstStr255Param title, Boolean visible,
                     short procID, WindowRef behind, Boolean goAwayFlag, long refCon) try {
  // The storage argument is not used: window records are the server's own objects.
  ensureServer();
  if (!boundsRect) return nullptr;
  VTWindow* w = new (std::nothrow) VTWindow();
  if (!w) return nullptr;
  w->procID = procID;
  w->kind = kApplicationWindowKind;
  w->goAway = goAwayFlag != 0;
  w->refCon = refCon;
  w->title = vt::fromPascal(title);
  w->content = Rect{boundsRect->top, boundsRect->left, boundsRect->top, boundsRect->left};
  initPort(w->port, &w->store, 0, 0);
  w->port.window = w;
  setContentSize(w, boundsRect->right - boundsRect->left, boundsRect->bottom - boundsRect->top);
  w->magic = kWindowMagic;
  Server& s = server();
  s.liveWindows.insert(w);
  s.livePorts.insert(&w->port);
  if (behind != (WindowRef)-1 && behind && !s.liveWindows.count(behind)) behind = nullptr;
  placeInOrder(w, behind);
  if (visible) ShowWindow(w);
  return w;
} catch (...) {
  vtErrorFromException();
  return {};
}

WindowRef NewWindow(void* wStorage, const Rect* boundsRect, ConstStr255Param title, Boolean visible,
                    short theProc, WindowRef behind, Boolean goAwayFlag, long refCon) try {
  return NewCWindow(wStorage, boundsRect, title, visible, theProc, behind, goAwayFlag, refCon);
} catch (...) {
  vtErrorFromException();
  return {};
}

void DisposeWindow(WindowRef window) try {
  VTWindow* w = validWindow(window);
  if (!w) return;
  Server& s = server();
  {
    ExposeScope scope;
    s.order.erase(std::remove(s.order.begin(), s.order.end(), w), s.order.end());
    s.liveWindows.erase(w);
    s.livePorts.erase(&w->port);
    std::erase_if(s.activates, [w](const PendingActivate& a) { return a.window == w; });
    if (s.activeWindow == w) s.activeWindow = nullptr;
    if (s.current == &w->port) s.current = s.screenPort;
    if (s.pressedCloseBox == w) s.pressedCloseBox = nullptr;
    if (s.pressedZoomBox == w) s.pressedZoomBox = nullptr;
  }
  w->magic = 0;
  w->port.magic = 0;
  delete w;
} catch (...) {
  vtErrorFromException();
}

void SetWRefCon(WindowRef window, long data) try {
  if (VTWindow* w = validWindow(window)) w->refCon = data;
} catch (...) {
  vtErrorFromException();
}
long GetWRefCon(WindowRef window) try {
  VTWindow* w = validWindow(window);
  return w ? w->refCon : 0;
} catch (...) {
  vtErrorFromException();
  return {};
}
short GetWindowKind(WindowRef window) try {
  VTWindow* w = validWindow(window);
  return w ? w->kind : 0;
} catch (...) {
  vtErrorFromException();
  return {};
}
void SetWindowKind(WindowRef window, short kind) try {
  if (VTWindow* w = validWindow(window)) w->kind = kind;
} catch (...) {
  vtErrorFromException();
}

CGrafPtr GetWindowPort(WindowRef window) try {
  VTWindow* w = validWindow(window);
  return w ? &w->port : nullptr;
} catch (...) {
  vtErrorFromException();
  return {};
}

WindowRef GetWindowFromPort(CGrafPtr port) try {
  VTPort* p = validPort(port);
  return p ? p->window : nullptr;
} catch (...) {
  vtErrorFromException();
  return {};
}

Rect* GetWindowPortBounds(WindowRef window, Rect* bounds) try {
  VTWindow* w = validWindow(window);
  if (bounds) *bounds = w ? w->port.portRect : Rect{0, 0, 0, 0};
  return bounds;
} catch (...) {
  vtErrorFromException();
  return {};
}

OSStatus GetWindowBounds(WindowRef window, WindowRegionCode code, Rect* out) try {
  VTWindow* w = validWindow(window);
  if (!w || !out) return paramErr;
  switch (code) {
    case kWindowStructureRgn: *out = structureRect(w); break;
    case kWindowContentRgn:
    case kWindowGlobalPortRgn: *out = w->content; break;
    case kWindowTitleBarRgn:
    case kWindowDragRgn: *out = titleBarRect(w); break;
    case kWindowTitleTextRgn: *out = titleTextRect(w); break;
    case kWindowCloseBoxRgn: *out = closeBoxRect(w); break;
    case kWindowZoomBoxRgn: *out = zoomBoxRect(w); break;
    case kWindowGrowRgn:
      *out = hasGrowBox(w) ? Rect{(short)(w->content.bottom - kGrowBoxSize),
                                  (short)(w->content.right - kGrowBoxSize), w->content.bottom,
                                  w->content.right}
                           : Rect{0, 0, 0, 0};
      break;
    case kWindowUpdateRgn: {
      Rect b = w->update.bounds();
      OffsetRect(&b, (short)(w->content.left - w->port.portRect.left),
                 (short)(w->content.top - w->port.portRect.top));
      *out = b;
      break;
    }
    default: return paramErr;
  }
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSStatus SetWindowBounds(WindowRef window, WindowRegionCode code, const Rect* r) try {
  VTWindow* w = validWindow(window);
  if (!w || !r || rectEmpty(*r)) return paramErr;
  Rect content = *r;
  if (code == kWindowStructureRgn) {
    Rect st = structureRect(w);
    content.top = (short)(content.top + (w->content.top - st.top));
    content.left = (short)(content.left + (w->content.left - st.left));
    content.bottom = (short)(content.bottom - (st.bottom - w->content.bottom));
    content.right = (short)(content.right - (st.right - w->content.right));
  } else if (code != kWindowContentRgn && code != kWindowGlobalPortRgn) {
    return paramErr;
  }
  MoveWindow(w, content.left, content.top, false);
  SizeWindow(w, (short)(content.right - content.left), (short)(content.bottom - content.top), true);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

void SetPortWindowPort(WindowRef window) try {
  if (VTWindow* w = validWindow(window)) SetPort(&w->port);
} catch (...) {
  vtErrorFromException();
}

WindowRef FrontWindow() try {
  for (VTWindow* w : windowsFrontToBack())
    if (w->visible) return w;
  return nullptr;
} catch (...) {
  vtErrorFromException();
  return {};
}

WindowRef FrontNonFloatingWindow() try { return FrontWindow(); } catch (...) {
  vtErrorFromException();
  return {};
}

WindowRef GetNextWindow(WindowRef window) try {
  VTWindow* w = validWindow(window);
  if (!w) return nullptr;
  const auto& order = server().order;
  auto it = std::find(order.begin(), order.end(), w);
  if (it == order.end() || ++it == order.end()) return nullptr;
  return *it;
} catch (...) {
  vtErrorFromException();
  return {};
}

WindowRef GetWindowList() try {
  const auto& order = windowsFrontToBack();
  return order.empty() ? nullptr : order.front();
} catch (...) {
  vtErrorFromException();
  return {};
}

void SelectWindow(WindowRef window) try {
  VTWindow* w = validWindow(window);
  if (!w) return;
  ExposeScope scope;
  placeInOrder(w, (WindowRef)-1);
} catch (...) {
  vtErrorFromException();
}

void BringToFront(WindowRef window) try { SelectWindow(window); } catch (...) {
  vtErrorFromException();
}

void SendBehind(WindowRef window, WindowRef behindWindow) try {
  VTWindow* w = validWindow(window);
  if (!w || w == behindWindow) return;
  ExposeScope scope;
  placeInOrder(w, validWindow(behindWindow));
} catch (...) {
  vtErrorFromException();
}

void ShowWindow(WindowRef window) try {
  VTWindow* w = validWindow(window);
  if (!w || w->visible) return;
  // Dialogs keep the place their resource gives, unless the screen is too small for it.
  if (!w->placed && isDocumentWindow(w))
    placeNewWindow(w);
  else if (!w->placed)
    moveInside(w, false);
  w->placed = true;
  ExposeScope scope;
  w->visible = true;
  invalidate(w, Region(w->port.portRect));
} catch (...) {
  vtErrorFromException();
}

void HideWindow(WindowRef window) try {
  VTWindow* w = validWindow(window);
  if (!w || !w->visible) return;
  ExposeScope scope;
  w->visible = false;
  if (server().pressedCloseBox == w) server().pressedCloseBox = nullptr;
  if (server().pressedZoomBox == w) server().pressedZoomBox = nullptr;
} catch (...) {
  vtErrorFromException();
}

void ShowHide(WindowRef window, Boolean showFlag) try {
  if (showFlag)
    ShowWindow(window);
  else
    HideWindow(window);
} catch (...) {
  vtErrorFromException();
}

Boolean IsWindowVisible(WindowRef window) try {
  VTWindow* w = validWindow(window);
  return w && w->visible;
} catch (...) {
  vtErrorFromException();
  return {};
}

Boolean IsWindowHilited(WindowRef window) try {
  VTWindow* w = validWindow(window);
  return w && w->hilited;
} catch (...) {
  vtErrorFromException();
  return {};
}

void HiliteWindow(WindowRef window, Boolean fHilite) try {
  VTWindow* w = validWindow(window);
  if (!w || w->hilited == (fHilite != 0)) return;
  w->hilited = fHilite != 0;
  invalidateScreen(structureRect(w));
} catch (...) {
  vtErrorFromException();
}

void MoveWindow(WindowRef window, short hGlobal, short vGlobal, Boolean front) try {
  VTWindow* w = validWindow(window);
  if (!w) return;
  if (w->content.left != hGlobal || w->content.top != vGlobal) {
    ExposeScope scope;
    int width = w->content.right - w->content.left, height = w->content.bottom - w->content.top;
    w->content = Rect{vGlobal, hGlobal, (short)(vGlobal + height), (short)(hGlobal + width)};
  }
  if (front) SelectWindow(w);
} catch (...) {
  vtErrorFromException();
}

void SizeWindow(WindowRef window, short width, short height, Boolean fUpdate) try {
  VTWindow* w = validWindow(window);
  if (!w) return;
  if (width == w->store.width && height == w->store.height) return;
  ExposeScope scope;
  setContentSize(w, width, height);
  if (fUpdate) invalidate(w, Region(w->port.portRect));
} catch (...) {
  vtErrorFromException();
}

void SetWTitle(WindowRef window, ConstStr255Param title) try {
  VTWindow* w = validWindow(window);
  if (!w) return;
  w->title = vt::fromPascal(title);
  invalidateScreen(structureRect(w));
} catch (...) {
  vtErrorFromException();
}

void GetWTitle(WindowRef window, Str255 title) try {
  if (!title) return;
  VTWindow* w = validWindow(window);
  vt::toPascal(w ? w->title : std::string(), title);
} catch (...) {
  vtErrorFromException();
}

OSStatus InvalWindowRect(WindowRef window, const Rect* bounds) try {
  VTWindow* w = validWindow(window);
  if (!w || !bounds) return paramErr;
  invalidate(w, Region(*bounds));
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSStatus InvalWindowRgn(WindowRef window, RgnHandle region) try {
  VTWindow* w = validWindow(window);
  Region* r = regionOf(region);
  if (!w || !r) return paramErr;
  invalidate(w, *r);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSStatus ValidWindowRect(WindowRef window, const Rect* bounds) try {
  VTWindow* w = validWindow(window);
  if (!w || !bounds) return paramErr;
  w->update -= Region(*bounds);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSStatus ValidWindowRgn(WindowRef window, RgnHandle region) try {
  VTWindow* w = validWindow(window);
  Region* r = regionOf(region);
  if (!w || !r) return paramErr;
  w->update -= *r;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

void BeginUpdate(WindowRef window) try {
  VTWindow* w = validWindow(window);
  if (!w) return;
  // Nested calls keep clipping to everything that was invalid when the outer one began.
  if (w->inUpdate)
    w->updateInProgress += w->update;
  else
    w->updateInProgress = w->update;
  w->update.clear();
  w->inUpdate = true;
  w->port.updateClip = &w->updateInProgress;
} catch (...) {
  vtErrorFromException();
}

void EndUpdate(WindowRef window) try {
  VTWindow* w = validWindow(window);
  if (!w || !w->inUpdate) return;
  w->inUpdate = false;
  w->port.updateClip = nullptr;
  w->updateInProgress.clear();
} catch (...) {
  vtErrorFromException();
}

WindowPartCode FindWindow(Point thePoint, WindowRef* window) try {
  if (window) *window = nullptr;
  Rect scr = screenBounds();
  if (thePoint.v >= 0 && thePoint.v < kMenuBarHeight && thePoint.h >= scr.left &&
      thePoint.h < scr.right)
    return inMenuBar;
  return hitTest(thePoint, window);
} catch (...) {
  vtErrorFromException();
  return {};
}

void DragWindow(WindowRef window, Point startPt, const Rect* boundsRect) try {
  VTWindow* w = validWindow(window);
  if (!w) return;
  Rect limit = boundsRect ? *boundsRect : desktopBounds();
  Point origin{w->content.top, w->content.left};
  Point p = startPt;
  auto place = [&](Point at) {
    // The pointer stays within the limit; the window follows it.
    at.h = std::clamp<short>(at.h, limit.left, (short)std::max<int>(limit.left, limit.right - 1));
    at.v = std::clamp<short>(at.v, limit.top, (short)std::max<int>(limit.top, limit.bottom - 1));
    MoveWindow(w, (short)(origin.h + at.h - startPt.h), (short)(origin.v + at.v - startPt.v),
               false);
  };
  while (vt::events::trackMouse(p)) {
    if (!validWindow(window)) return;  // closed by a hook meanwhile
    place(p);
  }
  if (!validWindow(window)) return;
  if (PtInRect(p, &limit))
    place(p);
  else
    MoveWindow(w, origin.h, origin.v, false);  // released outside the limit: no move
  // Command-dragging moves a window without bringing it forward.
  if (!(vt::events::currentModifiers() & cmdKey)) SelectWindow(w);
} catch (...) {
  vtErrorFromException();
}

void AlignWindow(WindowRef window, Boolean front, const Rect* alignmentRect, DragGrayRgnUPP) try {
  VTWindow* w = validWindow(window);
  if (!w) return;
  Rect a = alignmentRect ? *alignmentRect : w->port.portRect;
  // The alignment rectangle's left edge goes onto the nearest 8-pixel column (32 bytes of the
  // screen's rows), so a movie's rows start aligned in the composed screen.
  int globalLeft = w->content.left + (a.left - w->port.portRect.left);
  int aligned = (int)std::floor((globalLeft + 4) / 8.0) * 8;
  int newLeft = w->content.left + (aligned - globalLeft);
  MoveWindow(w, (short)newLeft, w->content.top, front);
} catch (...) {
  vtErrorFromException();
}

void DragAlignedWindow(WindowRef window, Point startPt, const Rect* boundsRect,
                       const Rect* alignmentRect, DragGrayRgnUPP actionProc) try {
  if (!validWindow(window)) return;
  DragWindow(window, startPt, boundsRect);
  if (validWindow(window) && alignmentRect) AlignWindow(window, false, alignmentRect, actionProc);
} catch (...) {
  vtErrorFromException();
}

namespace {

// Tracks a press in one of a window's title bar boxes: shown pressed while the mouse is over
// it; true when released there.
bool trackTitleBox(WindowRef window, Point thePt, Rect (*boxOf)(const VTWindow*),
                   VTWindow* Server::*pressed) try {
  VTWindow* w = validWindow(window);
  if (!w) return false;
  Rect box = boxOf(w);
  if (rectEmpty(box)) return false;
  Server& s = server();
  Point p = thePt;
  bool inside = PtInRect(p, &box);
  auto show = [&](bool down) {
    VTWindow* want = down ? w : nullptr;
    if (s.*pressed != want) {
      s.*pressed = want;
      invalidateScreen(box);
    }
  };
  show(inside);
  while (vt::events::trackMouse(p)) {
    if (!validWindow(window)) return false;
    inside = PtInRect(p, &box);
    show(inside);
  }
  if (!validWindow(window)) return false;
  inside = PtInRect(p, &box);
  show(false);
  return inside;
} catch (...) {
  vtErrorFromException();
  return {};
}

}  // namespace

Boolean TrackGoAway(WindowRef window, Point thePt) try {
  return trackTitleBox(window, thePt, closeBoxRect, &Server::pressedCloseBox);
} catch (...) {
  vtErrorFromException();
  return {};
}

Boolean TrackBox(WindowRef window, Point thePt, WindowPartCode part) try {
  if (part != inZoomIn && part != inZoomOut) return false;
  return trackTitleBox(window, thePt, zoomBoxRect, &Server::pressedZoomBox);
} catch (...) {
  vtErrorFromException();
  return {};
}

void DrawGrowIcon(WindowRef) {}

// The window manager's public calls.
#include <MacErrors.h>
#include <MacWindows.h>

#include <algorithm>
#include <utility>
#include <cmath>
#include <new>

#include "core/boundary.h"
#include "core/pstring.h"
#include "events/event_queue.h"
#include "ui/server_state.h"

using namespace vt::ui;

namespace {

// A call on a live window; a dead one gives the fallback.
constexpr auto withWindow = [](auto&&... args) noexcept {
  return vt::apiOnLive(validWindow, std::forward<decltype(args)>(args)...);
};

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
                     short procID, WindowRef behind, Boolean goAwayFlag, long refCon) {
  return vt::apiCall<WindowRef>(vt::noErrorState, {}, [&]() -> WindowRef {
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
  });
}

WindowRef NewWindow(void* wStorage, const Rect* boundsRect, ConstStr255Param title, Boolean visible,
                    short theProc, WindowRef behind, Boolean goAwayFlag, long refCon) {
  return vt::apiCall<WindowRef>(vt::noErrorState, {}, [&]() -> WindowRef {
    return NewCWindow(wStorage, boundsRect, title, visible, theProc, behind, goAwayFlag, refCon);
  });
}

void DisposeWindow(WindowRef window) {
  withWindow(window, [&](VTWindow& w) {
    Server& s = server();
    {
      ExposeScope scope;
      s.order.erase(std::remove(s.order.begin(), s.order.end(), &w), s.order.end());
      s.liveWindows.erase(&w);
      s.livePorts.erase(&w.port);
      std::erase_if(s.activates, [&w](const PendingActivate& a) { return a.window == &w; });
      if (s.activeWindow == &w) s.activeWindow = nullptr;
      if (s.current == &w.port) s.current = s.screenPort;
      if (s.pressedCloseBox == &w) s.pressedCloseBox = nullptr;
      if (s.pressedZoomBox == &w) s.pressedZoomBox = nullptr;
    }
    w.magic = 0;
    w.port.magic = 0;
    delete &w;
  });
}

void SetWRefCon(WindowRef window, long data) {
  withWindow(window, [&](VTWindow& w) { w.refCon = data; });
}
long GetWRefCon(WindowRef window) {
  return withWindow(window, long{0}, [&](VTWindow& w) -> long { return w.refCon; });
}
short GetWindowKind(WindowRef window) {
  return withWindow(window, short{0}, [&](VTWindow& w) -> short { return w.kind; });
}
void SetWindowKind(WindowRef window, short kind) {
  withWindow(window, [&](VTWindow& w) { w.kind = kind; });
}

CGrafPtr GetWindowPort(WindowRef window) {
  return withWindow(window, CGrafPtr{nullptr}, [&](VTWindow& w) -> CGrafPtr { return &w.port; });
}

WindowRef GetWindowFromPort(CGrafPtr port) {
  return vt::apiCall<WindowRef>(vt::noErrorState, {}, [&]() -> WindowRef {
    VTPort* p = validPort(port);
    return p ? p->window : nullptr;
  });
}

Rect* GetWindowPortBounds(WindowRef window, Rect* bounds) {
  return vt::apiCall<Rect*>(vt::noErrorState, {}, [&]() -> Rect* {
    VTWindow* w = validWindow(window);
    if (bounds) *bounds = w ? w->port.portRect : Rect{0, 0, 0, 0};
    return bounds;
  });
}

OSStatus GetWindowBounds(WindowRef window, WindowRegionCode code, Rect* out) {
  return vt::apiStatus([&]() -> OSErr {
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
  });
}

OSStatus SetWindowBounds(WindowRef window, WindowRegionCode code, const Rect* r) {
  return vt::apiStatus([&]() -> OSErr {
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
    SizeWindow(w, (short)(content.right - content.left), (short)(content.bottom - content.top),
               true);
    return noErr;
  });
}

void SetPortWindowPort(WindowRef window) {
  withWindow(window, [&](VTWindow& w) { SetPort(&w.port); });
}

WindowRef FrontWindow() {
  return vt::apiCall<WindowRef>(vt::noErrorState, {}, [&]() -> WindowRef {
    for (VTWindow* w : windowsFrontToBack())
      if (w->visible) return w;
    return nullptr;
  });
}

WindowRef FrontNonFloatingWindow() {
  return vt::apiCall<WindowRef>(vt::noErrorState, {}, [&]() -> WindowRef { return FrontWindow(); });
}

WindowRef GetNextWindow(WindowRef window) {
  return withWindow(window, WindowRef{nullptr}, [&](VTWindow& w) -> WindowRef {
    const auto& order = server().order;
    auto it = std::find(order.begin(), order.end(), &w);
    if (it == order.end() || ++it == order.end()) return nullptr;
    return *it;
  });
}

WindowRef GetWindowList() {
  return vt::apiCall<WindowRef>(vt::noErrorState, {}, [&]() -> WindowRef {
    const auto& order = windowsFrontToBack();
    return order.empty() ? nullptr : order.front();
  });
}

void SelectWindow(WindowRef window) {
  withWindow(window, [&](VTWindow& w) {
    ExposeScope scope;
    placeInOrder(&w, (WindowRef)-1);
  });
}

void BringToFront(WindowRef window) {
  vt::apiCall(vt::noErrorState, [&] { SelectWindow(window); });
}

void SendBehind(WindowRef window, WindowRef behindWindow) {
  vt::apiCall(vt::noErrorState, [&] {
    VTWindow* w = validWindow(window);
    if (!w || w == behindWindow) return;
    ExposeScope scope;
    placeInOrder(w, validWindow(behindWindow));
  });
}

void ShowWindow(WindowRef window) {
  vt::apiCall(vt::noErrorState, [&] {
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
  });
}

void HideWindow(WindowRef window) {
  vt::apiCall(vt::noErrorState, [&] {
    VTWindow* w = validWindow(window);
    if (!w || !w->visible) return;
    ExposeScope scope;
    w->visible = false;
    if (server().pressedCloseBox == w) server().pressedCloseBox = nullptr;
    if (server().pressedZoomBox == w) server().pressedZoomBox = nullptr;
  });
}

void ShowHide(WindowRef window, Boolean showFlag) {
  vt::apiCall(vt::noErrorState, [&] {
    if (showFlag)
      ShowWindow(window);
    else
      HideWindow(window);
  });
}

Boolean IsWindowVisible(WindowRef window) {
  return withWindow(window, Boolean{false}, [&](VTWindow& w) -> Boolean { return w.visible; });
}

Boolean IsWindowHilited(WindowRef window) {
  return withWindow(window, Boolean{false}, [&](VTWindow& w) -> Boolean { return w.hilited; });
}

void HiliteWindow(WindowRef window, Boolean fHilite) {
  vt::apiCall(vt::noErrorState, [&] {
    VTWindow* w = validWindow(window);
    if (!w || w->hilited == (fHilite != 0)) return;
    w->hilited = fHilite != 0;
    invalidateScreen(structureRect(w));
  });
}

void MoveWindow(WindowRef window, short hGlobal, short vGlobal, Boolean front) {
  withWindow(window, [&](VTWindow& w) {
    if (w.content.left != hGlobal || w.content.top != vGlobal) {
      ExposeScope scope;
      int width = w.content.right - w.content.left, height = w.content.bottom - w.content.top;
      w.content = Rect{vGlobal, hGlobal, (short)(vGlobal + height), (short)(hGlobal + width)};
    }
    if (front) SelectWindow(&w);
  });
}

void SizeWindow(WindowRef window, short width, short height, Boolean fUpdate) {
  withWindow(window, [&](VTWindow& w) {
    if (width == w.store.width && height == w.store.height) return;
    ExposeScope scope;
    setContentSize(&w, width, height);
    if (fUpdate) invalidate(&w, Region(w.port.portRect));
  });
}

void SetWTitle(WindowRef window, ConstStr255Param title) {
  withWindow(window, [&](VTWindow& w) {
    w.title = vt::fromPascal(title);
    invalidateScreen(structureRect(&w));
  });
}

void GetWTitle(WindowRef window, Str255 title) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!title) return;
    VTWindow* w = validWindow(window);
    vt::toPascal(w ? w->title : std::string(), title);
  });
}

OSStatus InvalWindowRect(WindowRef window, const Rect* bounds) {
  return vt::apiStatus([&]() -> OSErr {
    VTWindow* w = validWindow(window);
    if (!w || !bounds) return paramErr;
    invalidate(w, Region(*bounds));
    return noErr;
  });
}

OSStatus InvalWindowRgn(WindowRef window, RgnHandle region) {
  return vt::apiStatus([&]() -> OSErr {
    VTWindow* w = validWindow(window);
    Region* r = regionOf(region);
    if (!w || !r) return paramErr;
    invalidate(w, *r);
    return noErr;
  });
}

OSStatus ValidWindowRect(WindowRef window, const Rect* bounds) {
  return vt::apiStatus([&]() -> OSErr {
    VTWindow* w = validWindow(window);
    if (!w || !bounds) return paramErr;
    w->update -= Region(*bounds);
    return noErr;
  });
}

OSStatus ValidWindowRgn(WindowRef window, RgnHandle region) {
  return vt::apiStatus([&]() -> OSErr {
    VTWindow* w = validWindow(window);
    Region* r = regionOf(region);
    if (!w || !r) return paramErr;
    w->update -= *r;
    return noErr;
  });
}

void BeginUpdate(WindowRef window) {
  withWindow(window, [&](VTWindow& w) {
    // Nested calls keep clipping to everything that was invalid when the outer one began.
    if (w.inUpdate)
      w.updateInProgress += w.update;
    else
      w.updateInProgress = w.update;
    w.update.clear();
    w.inUpdate = true;
    w.port.updateClip = &w.updateInProgress;
  });
}

void EndUpdate(WindowRef window) {
  vt::apiCall(vt::noErrorState, [&] {
    VTWindow* w = validWindow(window);
    if (!w || !w->inUpdate) return;
    w->inUpdate = false;
    w->port.updateClip = nullptr;
    w->updateInProgress.clear();
  });
}

WindowPartCode FindWindow(Point thePoint, WindowRef* window) {
  return vt::apiCall<WindowPartCode>(vt::noErrorState, {}, [&]() -> WindowPartCode {
    if (window) *window = nullptr;
    Rect scr = screenBounds();
    if (thePoint.v >= 0 && thePoint.v < kMenuBarHeight && thePoint.h >= scr.left &&
        thePoint.h < scr.right)
      return inMenuBar;
    return hitTest(thePoint, window);
  });
}

void DragWindow(WindowRef window, Point startPt, const Rect* boundsRect) {
  withWindow(window, [&](VTWindow& w) {
    Rect limit = boundsRect ? *boundsRect : desktopBounds();
    Point origin{w.content.top, w.content.left};
    Point p = startPt;
    auto place = [&](Point at) {
      // The pointer stays within the limit; the window follows it.
      at.h = std::clamp<short>(at.h, limit.left, (short)std::max<int>(limit.left, limit.right - 1));
      at.v = std::clamp<short>(at.v, limit.top, (short)std::max<int>(limit.top, limit.bottom - 1));
      MoveWindow(&w, (short)(origin.h + at.h - startPt.h), (short)(origin.v + at.v - startPt.v),
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
      MoveWindow(&w, origin.h, origin.v, false);  // released outside the limit: no move
    // Command-dragging moves a window without bringing it forward.
    if (!(vt::events::currentModifiers() & cmdKey)) SelectWindow(&w);
  });
}

void AlignWindow(WindowRef window, Boolean front, const Rect* alignmentRect, DragGrayRgnUPP) {
  withWindow(window, [&](VTWindow& w) {
    Rect a = alignmentRect ? *alignmentRect : w.port.portRect;
    // The alignment rectangle's left edge goes onto the nearest 8-pixel column (32 bytes of the
    // screen's rows), so a movie's rows start aligned in the composed screen.
    int globalLeft = w.content.left + (a.left - w.port.portRect.left);
    int aligned = (int)std::floor((globalLeft + 4) / 8.0) * 8;
    int newLeft = w.content.left + (aligned - globalLeft);
    MoveWindow(&w, (short)newLeft, w.content.top, front);
  });
}

void DragAlignedWindow(WindowRef window, Point startPt, const Rect* boundsRect,
                       const Rect* alignmentRect, DragGrayRgnUPP actionProc) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!validWindow(window)) return;
    DragWindow(window, startPt, boundsRect);
    if (validWindow(window) && alignmentRect) AlignWindow(window, false, alignmentRect, actionProc);
  });
}

namespace {

// Tracks a press in one of a window's title bar boxes: shown pressed while the mouse is over
// it; true when released there.
bool trackTitleBox(WindowRef window, Point thePt, Rect (*boxOf)(const VTWindow*),
                   VTWindow* Server::*pressed) {
  return withWindow(window, bool{false}, [&](VTWindow& w) -> bool {
    Rect box = boxOf(&w);
    if (rectEmpty(box)) return false;
    Server& s = server();
    Point p = thePt;
    bool inside = PtInRect(p, &box);
    auto show = [&](bool down) {
      VTWindow* want = down ? &w : nullptr;
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
  });
}

}  // namespace

Boolean TrackGoAway(WindowRef window, Point thePt) {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    return trackTitleBox(window, thePt, closeBoxRect, &Server::pressedCloseBox);
  });
}

Boolean TrackBox(WindowRef window, Point thePt, WindowPartCode part) {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    if (part != inZoomIn && part != inZoomOut) return false;
    return trackTitleBox(window, thePt, zoomBoxRect, &Server::pressedZoomBox);
  });
}

void DrawGrowIcon(WindowRef) {}

// The port calls: the current port, its geometry and clip, and the rectangle and point arithmetic.
#include <MacErrors.h>
#include <MacMemory.h>
#include <Quickdraw.h>

#include "core/boundary.h"
#include "ui/quickdraw.h"
#include "ui/server_state.h"

using namespace vt::ui;

namespace {
short gQDErr = noErr;
}  // namespace

void vt::ui::recordQD(OSErr err) noexcept { gQDErr = err; }
short QDError() { return gQDErr; }

// Ports

void GetPort(GrafPtr* port) {
  vt::apiCall(recordQD, [&] {
    if (port) *port = currentPort();
  });
}

void SetPort(GrafPtr port) {
  vt::apiCall(recordQD, [&] {
    if (validPort(port)) server().current = port;
  });
}

Rect* GetPortBounds(CGrafPtr port, Rect* rect) {
  return vt::apiCall<Rect*>(recordQD, {}, [&]() -> Rect* {
    VTPort* p = validPort(port);
    if (rect) *rect = p ? p->portRect : Rect{0, 0, 0, 0};
    return rect;
  });
}

RgnHandle GetPortVisibleRegion(CGrafPtr port, RgnHandle visRgn) {
  return vt::apiCall<RgnHandle>(recordQD, {}, [&]() -> RgnHandle {
    Region* out = regionOf(visRgn);
    VTPort* p = validPort(port);
    if (!out) return visRgn;
    if (!p) {
      out->clear();
    } else if (p->window) {
      *out = visibleContent(p->window);
      if (p->updateClip) *out &= *p->updateClip;
    } else {
      out->set(p->portRect);
    }
    return visRgn;
  });
}

RgnHandle GetPortClipRegion(CGrafPtr port, RgnHandle clipRgn) {
  return vt::apiCall<RgnHandle>(recordQD, {}, [&]() -> RgnHandle {
    Region* out = regionOf(clipRgn);
    VTPort* p = validPort(port);
    if (out && p) {
      if (p->clipSet)
        *out = p->clip;
      else
        out->set(Rect{-32767, -32767, 32767, 32767});
    }
    return clipRgn;
  });
}

PixMapHandle GetPortPixMap(CGrafPtr port) {
  return vt::apiCall<PixMapHandle>(recordQD, {}, [&]() -> PixMapHandle {
    VTPort* p = validPort(port);
    if (!p || !p->pixels) return nullptr;
    PixMap& pm = p->pixMap;
    pm.baseAddr = (Ptr)p->pixels->pixels.data();
    pm.rowBytes = (short)(p->pixels->width * 4);
    pm.bounds = p->portRect;
    pm.pixelType = RGBDirect;
    pm.pixelSize = 32;
    pm.cmpCount = 3;
    pm.cmpSize = 8;
    pm.hRes = pm.vRes = 72 << 16;
    p->pixMapPtr = &pm;
    return &p->pixMapPtr;
  });
}

void LocalToGlobal(Point* pt) {
  vt::apiCall(recordQD, [&] {
    VTPort* p = currentPort();
    if (!pt || !p->window) return;
    pt->h = (short)(pt->h - p->portRect.left + p->window->content.left);
    pt->v = (short)(pt->v - p->portRect.top + p->window->content.top);
  });
}

void GlobalToLocal(Point* pt) {
  vt::apiCall(recordQD, [&] {
    VTPort* p = currentPort();
    if (!pt || !p->window) return;
    pt->h = (short)(pt->h + p->portRect.left - p->window->content.left);
    pt->v = (short)(pt->v + p->portRect.top - p->window->content.top);
  });
}

void SetOrigin(short h, short v) {
  vt::apiCall(recordQD, [&] {
    VTPort* p = currentPort();
    int dh = h - p->portRect.left, dv = v - p->portRect.top;
    p->portRect.left = h;
    p->portRect.top = v;
    p->portRect.right = (short)(p->portRect.right + dh);
    p->portRect.bottom = (short)(p->portRect.bottom + dv);
    if (p->window) p->window->update.offset(dh, dv);
  });
}

void QDFlushPortBuffer(CGrafPtr, RgnHandle) {
  vt::apiCall(recordQD, [&] { flushScreen(); });
}

// Rectangles and points

void SetRect(Rect* r, short left, short top, short right, short bottom) {
  vt::apiCall(recordQD, [&] {
    if (r) *r = Rect{top, left, bottom, right};
  });
}

void OffsetRect(Rect* r, short dh, short dv) {
  vt::apiCall(recordQD, [&] {
    if (!r) return;
    r->left = (short)(r->left + dh);
    r->right = (short)(r->right + dh);
    r->top = (short)(r->top + dv);
    r->bottom = (short)(r->bottom + dv);
  });
}

void InsetRect(Rect* r, short dh, short dv) {
  vt::apiCall(recordQD, [&] {
    if (!r) return;
    r->left = (short)(r->left + dh);
    r->right = (short)(r->right - dh);
    r->top = (short)(r->top + dv);
    r->bottom = (short)(r->bottom - dv);
    if (rectEmpty(*r)) *r = Rect{0, 0, 0, 0};
  });
}

Boolean SectRect(const Rect* a, const Rect* b, Rect* dst) {
  return vt::apiCall<Boolean>(recordQD, {}, [&]() -> Boolean {
    if (!a || !b) {
      if (dst) *dst = Rect{0, 0, 0, 0};
      return false;
    }
    Rect r = rectIntersect(*a, *b);
    if (dst) *dst = r;
    return !rectEmpty(r);
  });
}

void UnionRect(const Rect* a, const Rect* b, Rect* dst) {
  vt::apiCall(recordQD, [&] {
    if (!a || !b || !dst) return;
    *dst = rectUnion(*a, *b);
  });
}

Boolean EqualRect(const Rect* a, const Rect* b) {
  return vt::apiCall<Boolean>(recordQD, {}, [&]() -> Boolean {
    if (!a || !b) return false;
    return a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
  });
}

Boolean EmptyRect(const Rect* r) {
  return vt::apiCall<Boolean>(recordQD, {}, [&]() -> Boolean { return !r || rectEmpty(*r); });
}

Boolean PtInRect(Point pt, const Rect* r) {
  return vt::apiCall<Boolean>(recordQD, {}, [&]() -> Boolean {
    return r && pt.v >= r->top && pt.v < r->bottom && pt.h >= r->left && pt.h < r->right;
  });
}

void SetPt(Point* pt, short h, short v) {
  vt::apiCall(recordQD, [&] {
    if (pt) *pt = Point{v, h};
  });
}
Boolean EqualPt(Point a, Point b) { return a.h == b.h && a.v == b.v; }
void AddPt(Point src, Point* dst) {
  vt::apiCall(recordQD, [&] {
    if (dst) *dst = Point{(short)(dst->v + src.v), (short)(dst->h + src.h)};
  });
}
void SubPt(Point src, Point* dst) {
  vt::apiCall(recordQD, [&] {
    if (dst) *dst = Point{(short)(dst->v - src.v), (short)(dst->h - src.h)};
  });
}

// Clipping

void ClipRect(const Rect* r) {
  vt::apiCall(recordQD, [&] {
    if (!r) return;
    VTPort* p = currentPort();
    p->clip.set(*r);
    p->clipSet = true;
  });
}

void GetClip(RgnHandle rgn) {
  vt::apiCall(recordQD, [&] { GetPortClipRegion(currentPort(), rgn); });
}

void SetClip(RgnHandle rgn) {
  vt::apiCall(recordQD, [&] {
    Region* r = regionOf(rgn);
    if (!r) return;
    VTPort* p = currentPort();
    p->clip = *r;
    p->clipSet = true;
  });
}

// The region calls: regions as handles, their set algebra, and drawing them with the pen.
#include <MacErrors.h>
#include <MacMemory.h>
#include <Quickdraw.h>

#include "core/boundary.h"
#include "ui/quickdraw.h"
#include "ui/server_state.h"

#include <new>

using namespace vt::ui;

namespace {
RgnHandle gGrayRgn = nullptr;
}  // namespace

// Regions

RgnHandle NewRgn() {
  return vt::apiCall<RgnHandle>(recordQD, {}, [&]() -> RgnHandle {
    Handle h = NewHandle(sizeof(VTRegion));
    if (!h) {
      recordQD(memFullErr);
      return nullptr;
    }
    new (*h) VTRegion();
    recordQD(noErr);
    return (RgnHandle)h;
  });
}

void DisposeRgn(RgnHandle rgn) {
  vt::apiCall(recordQD, [&] {
    Region* r = regionOf(rgn);
    if (!r) return;
    if (rgn == gGrayRgn) return;  // the system's own region outlives its callers
    (*rgn)->~VTRegion();
    DisposeHandle((Handle)rgn);
  });
}

void RectRgn(RgnHandle rgn, const Rect* r) {
  vt::apiCall(recordQD, [&] {
    if (Region* x = regionOf(rgn)) {
      if (r)
        x->set(*r);
      else
        x->clear();
    }
  });
}

void SetRectRgn(RgnHandle rgn, short left, short top, short right, short bottom) {
  vt::apiCall(recordQD, [&] {
    Rect r{top, left, bottom, right};
    RectRgn(rgn, &r);
  });
}

void SetEmptyRgn(RgnHandle rgn) {
  vt::apiCall(recordQD, [&] {
    if (Region* x = regionOf(rgn)) x->clear();
  });
}

void CopyRgn(RgnHandle src, RgnHandle dst) {
  vt::apiCall(recordQD, [&] {
    Region *s = regionOf(src), *d = regionOf(dst);
    if (s && d) *d = *s;
  });
}

namespace {
template <class Op>
void binaryRgn(RgnHandle a, RgnHandle b, RgnHandle dst, Op op) {
  Region *x = regionOf(a), *y = regionOf(b), *d = regionOf(dst);
  if (x && y && d) *d = op(*x, *y);
}
}  // namespace

void SectRgn(RgnHandle a, RgnHandle b, RgnHandle dst) {
  vt::apiCall(recordQD, [&] { binaryRgn(a, b, dst, Region::intersect); });
}
void UnionRgn(RgnHandle a, RgnHandle b, RgnHandle dst) {
  vt::apiCall(recordQD, [&] { binaryRgn(a, b, dst, Region::unite); });
}
void DiffRgn(RgnHandle a, RgnHandle b, RgnHandle dst) {
  vt::apiCall(recordQD, [&] { binaryRgn(a, b, dst, Region::subtract); });
}
void XorRgn(RgnHandle a, RgnHandle b, RgnHandle dst) {
  vt::apiCall(recordQD, [&] { binaryRgn(a, b, dst, Region::exclusiveOr); });
}

void OffsetRgn(RgnHandle rgn, short dh, short dv) {
  vt::apiCall(recordQD, [&] {
    if (Region* r = regionOf(rgn)) r->offset(dh, dv);
  });
}
void InsetRgn(RgnHandle rgn, short dh, short dv) {
  vt::apiCall(recordQD, [&] {
    if (Region* r = regionOf(rgn)) r->inset(dh, dv);
  });
}
Boolean EmptyRgn(RgnHandle rgn) {
  return vt::apiCall<Boolean>(recordQD, {}, [&]() -> Boolean {
    Region* r = regionOf(rgn);
    return !r || r->empty();
  });
}
Boolean EqualRgn(RgnHandle a, RgnHandle b) {
  return vt::apiCall<Boolean>(recordQD, {}, [&]() -> Boolean {
    Region *x = regionOf(a), *y = regionOf(b);
    return x && y && *x == *y;
  });
}
Boolean PtInRgn(Point pt, RgnHandle rgn) {
  return vt::apiCall<Boolean>(recordQD, {}, [&]() -> Boolean {
    Region* r = regionOf(rgn);
    return r && r->contains(pt.h, pt.v);
  });
}
Boolean RectInRgn(const Rect* rect, RgnHandle rgn) {
  return vt::apiCall<Boolean>(recordQD, {}, [&]() -> Boolean {
    Region* r = regionOf(rgn);
    return r && rect && r->intersects(*rect);
  });
}
Rect* GetRegionBounds(RgnHandle region, Rect* bounds) {
  return vt::apiCall<Rect*>(recordQD, {}, [&]() -> Rect* {
    Region* r = regionOf(region);
    if (bounds) *bounds = r ? r->bounds() : Rect{0, 0, 0, 0};
    return bounds;
  });
}
Boolean IsRegionRectangular(RgnHandle region) {
  return vt::apiCall<Boolean>(recordQD, {}, [&]() -> Boolean {
    Region* r = regionOf(region);
    return r && r->isRect();
  });
}

RgnHandle GetGrayRgn() {
  return vt::apiCall<RgnHandle>(recordQD, {}, [&]() -> RgnHandle {
    if (!regionOf(gGrayRgn)) gGrayRgn = NewRgn();
    if (Region* r = regionOf(gGrayRgn)) r->set(desktopBounds());
    return gGrayRgn;
  });
}

void PaintRgn(RgnHandle rgn) {
  vt::apiCall(recordQD, [&] {
    if (Region* r = regionOf(rgn)) paintWithPen(*r);
  });
}
void EraseRgn(RgnHandle rgn) {
  vt::apiCall(recordQD, [&] {
    if (Region* r = regionOf(rgn)) fillRegion(currentPort(), *r, toPixel(currentPort()->bg));
  });
}
void FrameRgn(RgnHandle rgn) {
  vt::apiCall(recordQD, [&] {
    Region* r = regionOf(rgn);
    if (!r) return;
    VTPort* p = currentPort();
    Region inner = *r;
    inner.inset(p->pnSize.h, p->pnSize.v);
    fillRegion(p, Region::subtract(*r, inner), toPixel(p->fg));
  });
}
void InvertRgn(RgnHandle rgn) {
  vt::apiCall(recordQD, [&] {
    if (Region* r = regionOf(rgn)) penFill(currentPort(), *r, 0, patXor);
  });
}
void FillRgn(RgnHandle rgn, const Pattern* pat) {
  vt::apiCall(recordQD, [&] {
    if (Region* r = regionOf(rgn)) patternFill(currentPort(), *r, pat);
  });
}

// Drawing into ports: the helpers other areas use and the QuickDraw calls built on them.
#include <MacErrors.h>
#include <MacMemory.h>
#include <Quickdraw.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "core/picture.h"
#include "events/event_queue.h"
#include "ui/server_state.h"
#include "ui/text.h"

namespace vt::ui {

Pixel toPixel(const RGBColor& c) { return makePixel(c.red >> 8, c.green >> 8, c.blue >> 8); }
RGBColor toRGB(Pixel p) {
  return RGBColor{(unsigned short)(pixelR(p) * 257), (unsigned short)(pixelG(p) * 257),
                  (unsigned short)(pixelB(p) * 257)};
}

Region drawClip(const VTPort* port) {
  Region r(port->portRect);
  if (port->clipSet) r &= port->clip;
  if (port->updateClip) r &= *port->updateClip;
  return r;
}

void portChanged(VTPort* port, const Rect& local) {
  if (!port || !port->window || !port->window->visible) return;
  Rect g = local;
  int dh = port->window->content.left - port->portRect.left;
  int dv = port->window->content.top - port->portRect.top;
  g.left = (short)(g.left + dh);
  g.right = (short)(g.right + dh);
  g.top = (short)(g.top + dv);
  g.bottom = (short)(g.bottom + dv);
  invalidateScreen(rectIntersect(g, port->window->content));
}

namespace {

// Runs fn(row pointer, x0, x1) for each pixel run of `area` (local) that drawing may touch.
template <class Fn>
void forEachRun(VTPort* port, const Region& area, Fn fn) {
  if (!port || !port->pixels || port->pixels->empty()) return;
  Image& img = *port->pixels;
  Region r = Region::intersect(area, drawClip(port));
  int ox = port->portRect.left, oy = port->portRect.top;
  for (const Rect& q : r.rects()) {
    int x0 = std::max(0, q.left - ox), x1 = std::min(img.width, q.right - ox);
    int y0 = std::max(0, q.top - oy), y1 = std::min(img.height, q.bottom - oy);
    for (int y = y0; y < y1; ++y)
      if (x0 < x1) fn(img.row(y), x0, x1, y);
  }
  portChanged(port, r.bounds());
}

void penFill(VTPort* port, const Region& area, Pixel color, short mode) {
  bool invert = mode == patXor || mode == srcXor;
  forEachRun(port, area, [&](Pixel* row, int x0, int x1, int) {
    if (invert)
      for (int x = x0; x < x1; ++x) row[x] ^= 0x00FFFFFFu;
    else
      std::fill(row + x0, row + x1, color);
  });
}

}  // namespace

void fillRect(VTPort* port, const Rect& r, Pixel color) { penFill(port, Region(r), color, patCopy); }
void fillRegion(VTPort* port, const Region& r, Pixel color) { penFill(port, r, color, patCopy); }
void invertRect(VTPort* port, const Rect& r) { penFill(port, Region(r), 0, patXor); }

void frameRect(VTPort* port, const Rect& r, Pixel color, int pw, int ph) {
  if (rectEmpty(r)) return;
  Region outer(r);
  Rect in{(short)(r.top + ph), (short)(r.left + pw), (short)(r.bottom - ph), (short)(r.right - pw)};
  if (!rectEmpty(in)) outer -= Region(in);
  fillRegion(port, outer, color);
}

int drawString(VTPort* port, int h, int v, std::string_view bytes, const TextStyle& style) {
  return drawUtf8(port, h, v, toolboxToUtf8(bytes), style);
}

int drawUtf8(VTPort* port, int h, int v, std::string_view utf8, const TextStyle& style,
             const Rect* within) {
  if (!port || !port->pixels) return 0;
  Region clip = drawClip(port);
  if (within) clip &= Region(*within);
  int ox = port->portRect.left, oy = port->portRect.top;
  int adv = 0;
  bool drew = false;
  for (const Rect& q : clip.rects()) {
    Rect c{(short)(q.top - oy), (short)(q.left - ox), (short)(q.bottom - oy), (short)(q.right - ox)};
    adv = drawText(*port->pixels, h - ox, v - oy, utf8, style, &c);
    drew = true;
  }
  if (!drew) adv = measureText(utf8, style.size, style.bold);
  FontMetrics m = fontMetrics(style.size, style.bold);
  portChanged(port, Rect{(short)(v - m.ascent), (short)h, (short)(v + m.descent), (short)(h + adv + 1)});
  return adv;
}

void drawImage(VTPort* port, const Image& img, const Rect& dst) {
  if (!port || img.empty() || rectEmpty(dst)) return;
  int dw = dst.right - dst.left, dh = dst.bottom - dst.top;
  if (dw > kMaxPortDimension * 2 || dh > kMaxPortDimension * 2) return;
  const Image* src = &img;
  Image scaled;
  if (img.width != dw || img.height != dh) {
    scaled = Image(dw, dh);
    scaleImage(img, scaled);
    src = &scaled;
  }
  forEachRun(port, Region(dst), [&](Pixel* row, int x0, int x1, int y) {
    int sy = y + port->portRect.top - dst.top;
    const Pixel* s = src->row(sy);
    for (int x = x0; x < x1; ++x) row[x] = s[x + port->portRect.left - dst.left] | 0xFF000000u;
  });
}

VTPort* newOffscreenPort(int width, int height) {
  ensureServer();
  width = std::clamp(width, 0, kMaxPortDimension);
  height = std::clamp(height, 0, kMaxPortDimension);
  VTPort* p = new VTPort();
  initPort(*p, &p->ownImage, width, height);
  server().livePorts.insert(p);
  return p;
}

void disposeOffscreenPort(VTPort* port) {
  Server& s = server();
  if (!port || port->window || port == s.screenPort || !s.livePorts.count(port)) return;
  s.livePorts.erase(port);
  if (s.current == port) s.current = s.screenPort;
  port->magic = 0;
  delete port;
}

}  // namespace vt::ui

using namespace vt::ui;
using vt::Pixel;
using vt::makePixel;

namespace {

short gQDErr = noErr;
RgnHandle gGrayRgn = nullptr;

TextStyle styleOf(const VTPort* p) {
  TextStyle s;
  s.size = p->txSize > 0 ? p->txSize : 12;
  s.bold = (p->txFace & bold) != 0;
  s.color = toPixel(p->fg);
  return s;
}

void paintWithPen(const Region& r) {
  VTPort* p = currentPort();
  penFill(p, r, toPixel(p->fg), p->pnMode);
}

// A pattern fill: 1 bits in the foreground colour, 0 bits in the background colour.
void patternFill(VTPort* p, const Region& r, const Pattern* pat) {
  if (!pat) return;
  Pixel fg = toPixel(p->fg), bg = toPixel(p->bg);
  int ox = p->portRect.left, oy = p->portRect.top;
  forEachRun(p, r, [&](Pixel* row, int x0, int x1, int y) {
    uint8_t bits = pat->pat[(y + oy) & 7];
    for (int x = x0; x < x1; ++x) row[x] = (bits & (0x80 >> ((x + ox) & 7))) ? fg : bg;
  });
}

Region ovalRegion(const Rect& r) {
  Region out;
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return out;
  double a = w / 2.0, b = h / 2.0;
  for (int y = 0; y < h; ++y) {
    double dy = (y + 0.5 - b) / b;
    double span = a * std::sqrt(std::max(0.0, 1.0 - dy * dy));
    int x0 = (int)std::lround(a - span), x1 = (int)std::lround(a + span);
    if (x1 > x0)
      out += Region(Rect{(short)(r.top + y), (short)(r.left + x0), (short)(r.top + y + 1), (short)(r.left + x1)});
  }
  return out;
}

Pixel classicColor(long c) {
  switch (c) {
    case whiteColor: return makePixel(255, 255, 255);
    case redColor: return makePixel(0xDD, 0x08, 0x06);
    case greenColor: return makePixel(0x00, 0x80, 0x11);
    case blueColor: return makePixel(0x00, 0x00, 0xD4);
    case cyanColor: return makePixel(0x02, 0xAB, 0xEA);
    case magentaColor: return makePixel(0xF2, 0x08, 0x84);
    case yellowColor: return makePixel(0xFC, 0xF3, 0x05);
    default: return makePixel(0, 0, 0);
  }
}

}  // namespace

// Ports

void GetPort(GrafPtr* port) {
  if (port) *port = currentPort();
}

void SetPort(GrafPtr port) {
  if (validPort(port)) server().current = port;
}

Rect* GetPortBounds(CGrafPtr port, Rect* rect) {
  VTPort* p = validPort(port);
  if (rect) *rect = p ? p->portRect : Rect{0, 0, 0, 0};
  return rect;
}

RgnHandle GetPortVisibleRegion(CGrafPtr port, RgnHandle visRgn) {
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
}

RgnHandle GetPortClipRegion(CGrafPtr port, RgnHandle clipRgn) {
  Region* out = regionOf(clipRgn);
  VTPort* p = validPort(port);
  if (out && p) {
    if (p->clipSet)
      *out = p->clip;
    else
      out->set(Rect{-32767, -32767, 32767, 32767});
  }
  return clipRgn;
}

PixMapHandle GetPortPixMap(CGrafPtr port) {
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
}

void LocalToGlobal(Point* pt) {
  VTPort* p = currentPort();
  if (!pt || !p->window) return;
  pt->h = (short)(pt->h - p->portRect.left + p->window->content.left);
  pt->v = (short)(pt->v - p->portRect.top + p->window->content.top);
}

void GlobalToLocal(Point* pt) {
  VTPort* p = currentPort();
  if (!pt || !p->window) return;
  pt->h = (short)(pt->h + p->portRect.left - p->window->content.left);
  pt->v = (short)(pt->v + p->portRect.top - p->window->content.top);
}

void SetOrigin(short h, short v) {
  VTPort* p = currentPort();
  int dh = h - p->portRect.left, dv = v - p->portRect.top;
  p->portRect.left = h;
  p->portRect.top = v;
  p->portRect.right = (short)(p->portRect.right + dh);
  p->portRect.bottom = (short)(p->portRect.bottom + dv);
  if (p->window) p->window->update.offset(dh, dv);
}

void QDFlushPortBuffer(CGrafPtr, RgnHandle) { flushScreen(); }

// Rectangles and points

void SetRect(Rect* r, short left, short top, short right, short bottom) {
  if (r) *r = Rect{top, left, bottom, right};
}

void OffsetRect(Rect* r, short dh, short dv) {
  if (!r) return;
  r->left = (short)(r->left + dh);
  r->right = (short)(r->right + dh);
  r->top = (short)(r->top + dv);
  r->bottom = (short)(r->bottom + dv);
}

void InsetRect(Rect* r, short dh, short dv) {
  if (!r) return;
  r->left = (short)(r->left + dh);
  r->right = (short)(r->right - dh);
  r->top = (short)(r->top + dv);
  r->bottom = (short)(r->bottom - dv);
  if (rectEmpty(*r)) *r = Rect{0, 0, 0, 0};
}

Boolean SectRect(const Rect* a, const Rect* b, Rect* dst) {
  if (!a || !b) {
    if (dst) *dst = Rect{0, 0, 0, 0};
    return false;
  }
  Rect r = rectIntersect(*a, *b);
  if (dst) *dst = r;
  return !rectEmpty(r);
}

void UnionRect(const Rect* a, const Rect* b, Rect* dst) {
  if (!a || !b || !dst) return;
  *dst = rectUnion(*a, *b);
}

Boolean EqualRect(const Rect* a, const Rect* b) {
  if (!a || !b) return false;
  return a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
}

Boolean EmptyRect(const Rect* r) { return !r || rectEmpty(*r); }

Boolean PtInRect(Point pt, const Rect* r) {
  return r && pt.v >= r->top && pt.v < r->bottom && pt.h >= r->left && pt.h < r->right;
}

void SetPt(Point* pt, short h, short v) {
  if (pt) *pt = Point{v, h};
}
Boolean EqualPt(Point a, Point b) { return a.h == b.h && a.v == b.v; }
void AddPt(Point src, Point* dst) {
  if (dst) *dst = Point{(short)(dst->v + src.v), (short)(dst->h + src.h)};
}
void SubPt(Point src, Point* dst) {
  if (dst) *dst = Point{(short)(dst->v - src.v), (short)(dst->h - src.h)};
}

// Drawing

void EraseRect(const Rect* r) {
  if (!r) return;
  VTPort* p = currentPort();
  fillRect(p, *r, toPixel(p->bg));
}

void PaintRect(const Rect* r) {
  if (r) paintWithPen(Region(*r));
}

void FrameRect(const Rect* r) {
  if (!r) return;
  VTPort* p = currentPort();
  if (p->pnMode == patXor || p->pnMode == srcXor) {
    Region outer(*r);
    outer -= Region(Rect{(short)(r->top + p->pnSize.v), (short)(r->left + p->pnSize.h),
                         (short)(r->bottom - p->pnSize.v), (short)(r->right - p->pnSize.h)});
    penFill(p, outer, 0, patXor);
    return;
  }
  frameRect(p, *r, toPixel(p->fg), p->pnSize.h, p->pnSize.v);
}

void InvertRect(const Rect* r) {
  if (r) invertRect(currentPort(), *r);
}

void FillRect(const Rect* r, const Pattern* pat) {
  if (r) patternFill(currentPort(), Region(*r), pat);
}

void EraseOval(const Rect* r) {
  if (!r) return;
  VTPort* p = currentPort();
  fillRegion(p, ovalRegion(*r), toPixel(p->bg));
}
void PaintOval(const Rect* r) {
  if (r) paintWithPen(ovalRegion(*r));
}
void FrameOval(const Rect* r) {
  if (!r) return;
  VTPort* p = currentPort();
  Rect in{(short)(r->top + p->pnSize.v), (short)(r->left + p->pnSize.h), (short)(r->bottom - p->pnSize.v),
          (short)(r->right - p->pnSize.h)};
  fillRegion(p, Region::subtract(ovalRegion(*r), ovalRegion(in)), toPixel(p->fg));
}

void RGBForeColor(const RGBColor* c) {
  if (c) currentPort()->fg = *c;
}
void RGBBackColor(const RGBColor* c) {
  if (c) currentPort()->bg = *c;
}
void GetForeColor(RGBColor* c) {
  if (c) *c = currentPort()->fg;
}
void GetBackColor(RGBColor* c) {
  if (c) *c = currentPort()->bg;
}
void ForeColor(long color) { currentPort()->fg = toRGB(classicColor(color)); }
void BackColor(long color) { currentPort()->bg = toRGB(classicColor(color)); }

void MoveTo(short h, short v) { currentPort()->pnLoc = Point{v, h}; }
void Move(short dh, short dv) {
  Point& l = currentPort()->pnLoc;
  l = Point{(short)(l.v + dv), (short)(l.h + dh)};
}

void LineTo(short h, short v) {
  VTPort* p = currentPort();
  int x0 = p->pnLoc.h, y0 = p->pnLoc.v, x1 = h, y1 = v;
  int pw = std::max<int>(p->pnSize.h, 0), ph = std::max<int>(p->pnSize.v, 0);
  p->pnLoc = Point{v, h};
  if (pw == 0 || ph == 0) return;
  // The pen's rectangle hangs below and right of each point of the line.
  Region line;
  int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, err = dx + dy;
  int steps = 0;
  std::vector<Rect> dots;
  while (true) {
    dots.push_back(Rect{(short)y0, (short)x0, (short)(y0 + ph), (short)(x0 + pw)});
    if ((x0 == x1 && y0 == y1) || ++steps > 70000) break;
    int e2 = 2 * err;
    if (e2 >= dy) { err += dy; x0 += sx; }
    if (e2 <= dx) { err += dx; y0 += sy; }
  }
  // Straight lines collapse into one rectangle; others are united dot by dot.
  if (dots.front().top == dots.back().top || dots.front().left == dots.back().left) {
    line = Region(rectUnion(dots.front(), dots.back()));
  } else {
    for (const Rect& d : dots) line += Region(d);
  }
  paintWithPen(line);
}

void Line(short dh, short dv) {
  Point l = currentPort()->pnLoc;
  LineTo((short)(l.h + dh), (short)(l.v + dv));
}

void GetPen(Point* pt) {
  if (pt) *pt = currentPort()->pnLoc;
}
void PenSize(short width, short height) { currentPort()->pnSize = Point{height, width}; }
void PenMode(short mode) { currentPort()->pnMode = mode; }
void PenNormal() {
  VTPort* p = currentPort();
  p->pnSize = Point{1, 1};
  p->pnMode = patCopy;
}

void ClipRect(const Rect* r) {
  if (!r) return;
  VTPort* p = currentPort();
  p->clip.set(*r);
  p->clipSet = true;
}

void GetClip(RgnHandle rgn) { GetPortClipRegion(currentPort(), rgn); }

void SetClip(RgnHandle rgn) {
  Region* r = regionOf(rgn);
  if (!r) return;
  VTPort* p = currentPort();
  p->clip = *r;
  p->clipSet = true;
}

// Text

void DrawText(const void* textBuf, short firstByte, short byteCount) {
  if (!textBuf || byteCount <= 0 || firstByte < 0) return;
  VTPort* p = currentPort();
  std::string_view s((const char*)textBuf + firstByte, (size_t)byteCount);
  int adv = drawString(p, p->pnLoc.h, p->pnLoc.v, s, styleOf(p));
  p->pnLoc.h = (short)(p->pnLoc.h + adv);
}

void DrawString(ConstStr255Param s) {
  if (s) DrawText(s + 1, 0, s[0]);
}

void DrawChar(short ch) {
  char c = (char)ch;
  DrawText(&c, 0, 1);
}

short TextWidth(const void* textBuf, short firstByte, short byteCount) {
  if (!textBuf || byteCount <= 0 || firstByte < 0) return 0;
  VTPort* p = currentPort();
  TextStyle st = styleOf(p);
  std::string utf8 = toolboxToUtf8(std::string_view((const char*)textBuf + firstByte, (size_t)byteCount));
  return (short)std::min(32767, measureText(utf8, st.size, st.bold));
}

short StringWidth(ConstStr255Param s) { return s ? TextWidth(s + 1, 0, s[0]) : 0; }

short CharWidth(short ch) {
  char c = (char)ch;
  return TextWidth(&c, 0, 1);
}

void TextSize(short size) { currentPort()->txSize = size < 0 ? 0 : size; }
void TextFont(short font) { currentPort()->txFont = font; }
void TextFace(StyleParameter face) { currentPort()->txFace = (Style)face; }
void TextMode(short mode) { currentPort()->txMode = mode; }

void GetFontInfo(FontInfo* info) {
  if (!info) return;
  TextStyle st = styleOf(currentPort());
  FontMetrics m = fontMetrics(st.size, st.bold);
  info->ascent = (short)m.ascent;
  info->descent = (short)m.descent;
  info->widMax = (short)m.widMax;
  info->leading = (short)m.leading;
}

// Regions

RgnHandle NewRgn() {
  Handle h = NewHandle(sizeof(VTRegion));
  if (!h) {
    gQDErr = memFullErr;
    return nullptr;
  }
  new (*h) VTRegion();
  gQDErr = noErr;
  return (RgnHandle)h;
}

void DisposeRgn(RgnHandle rgn) {
  Region* r = regionOf(rgn);
  if (!r) return;
  if (rgn == gGrayRgn) return;  // the system's own region outlives its callers
  (*rgn)->~VTRegion();
  DisposeHandle((Handle)rgn);
}

void RectRgn(RgnHandle rgn, const Rect* r) {
  if (Region* x = regionOf(rgn)) {
    if (r)
      x->set(*r);
    else
      x->clear();
  }
}

void SetRectRgn(RgnHandle rgn, short left, short top, short right, short bottom) {
  Rect r{top, left, bottom, right};
  RectRgn(rgn, &r);
}

void SetEmptyRgn(RgnHandle rgn) {
  if (Region* x = regionOf(rgn)) x->clear();
}

void CopyRgn(RgnHandle src, RgnHandle dst) {
  Region *s = regionOf(src), *d = regionOf(dst);
  if (s && d) *d = *s;
}

namespace {
template <class Op>
void binaryRgn(RgnHandle a, RgnHandle b, RgnHandle dst, Op op) {
  Region *x = regionOf(a), *y = regionOf(b), *d = regionOf(dst);
  if (x && y && d) *d = op(*x, *y);
}
}  // namespace

void SectRgn(RgnHandle a, RgnHandle b, RgnHandle dst) { binaryRgn(a, b, dst, Region::intersect); }
void UnionRgn(RgnHandle a, RgnHandle b, RgnHandle dst) { binaryRgn(a, b, dst, Region::unite); }
void DiffRgn(RgnHandle a, RgnHandle b, RgnHandle dst) { binaryRgn(a, b, dst, Region::subtract); }
void XorRgn(RgnHandle a, RgnHandle b, RgnHandle dst) { binaryRgn(a, b, dst, Region::exclusiveOr); }

void OffsetRgn(RgnHandle rgn, short dh, short dv) {
  if (Region* r = regionOf(rgn)) r->offset(dh, dv);
}
void InsetRgn(RgnHandle rgn, short dh, short dv) {
  if (Region* r = regionOf(rgn)) r->inset(dh, dv);
}
Boolean EmptyRgn(RgnHandle rgn) {
  Region* r = regionOf(rgn);
  return !r || r->empty();
}
Boolean EqualRgn(RgnHandle a, RgnHandle b) {
  Region *x = regionOf(a), *y = regionOf(b);
  return x && y && *x == *y;
}
Boolean PtInRgn(Point pt, RgnHandle rgn) {
  Region* r = regionOf(rgn);
  return r && r->contains(pt.h, pt.v);
}
Boolean RectInRgn(const Rect* rect, RgnHandle rgn) {
  Region* r = regionOf(rgn);
  return r && rect && r->intersects(*rect);
}
Rect* GetRegionBounds(RgnHandle region, Rect* bounds) {
  Region* r = regionOf(region);
  if (bounds) *bounds = r ? r->bounds() : Rect{0, 0, 0, 0};
  return bounds;
}
Boolean IsRegionRectangular(RgnHandle region) {
  Region* r = regionOf(region);
  return r && r->isRect();
}

RgnHandle GetGrayRgn() {
  if (!regionOf(gGrayRgn)) gGrayRgn = NewRgn();
  if (Region* r = regionOf(gGrayRgn)) r->set(desktopBounds());
  return gGrayRgn;
}

void PaintRgn(RgnHandle rgn) {
  if (Region* r = regionOf(rgn)) paintWithPen(*r);
}
void EraseRgn(RgnHandle rgn) {
  if (Region* r = regionOf(rgn)) fillRegion(currentPort(), *r, toPixel(currentPort()->bg));
}
void FrameRgn(RgnHandle rgn) {
  Region* r = regionOf(rgn);
  if (!r) return;
  VTPort* p = currentPort();
  Region inner = *r;
  inner.inset(p->pnSize.h, p->pnSize.v);
  fillRegion(p, Region::subtract(*r, inner), toPixel(p->fg));
}
void InvertRgn(RgnHandle rgn) {
  if (Region* r = regionOf(rgn)) penFill(currentPort(), *r, 0, patXor);
}
void FillRgn(RgnHandle rgn, const Pattern* pat) {
  if (Region* r = regionOf(rgn)) patternFill(currentPort(), *r, pat);
}

short QDError() { return gQDErr; }

// Pictures

void DrawPicture(PicHandle pic, const Rect* dstRect) {
  if (!pic || !dstRect) return;
  vt::Image img;
  if (!vt::pictureToImage(pic, img)) return;
  drawImage(currentPort(), img, *dstRect);
}

void KillPicture(PicHandle pic) {
  if (pic && VTIsValidHandle((Handle)pic)) DisposeHandle((Handle)pic);
}

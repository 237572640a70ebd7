// Drawing into ports: the helpers other areas use and the QuickDraw calls built on them.
#include <MacErrors.h>
#include <MacMemory.h>
#include <Quickdraw.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/guard.h"
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

void fillRect(VTPort* port, const Rect& r, Pixel color) {
  penFill(port, Region(r), color, patCopy);
}
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
    Rect c{(short)(q.top - oy), (short)(q.left - ox), (short)(q.bottom - oy),
           (short)(q.right - ox)};
    adv = drawText(*port->pixels, h - ox, v - oy, utf8, style, &c);
    drew = true;
  }
  if (!drew) adv = measureText(utf8, style.size, style.bold);
  FontMetrics m = fontMetrics(style.size, style.bold);
  portChanged(port,
              Rect{(short)(v - m.ascent), (short)h, (short)(v + m.descent), (short)(h + adv + 1)});
  return adv;
}

// A row of an image into a port, made opaque. Playback copies every frame through here, so it
// goes four pixels at a time (the compiler does not vectorise the plain loop at -O2).
static void copyOpaque(Pixel* __restrict d, const Pixel* __restrict s, int n) {
  int i = 0;
#if defined(__SSE2__)
  const __m128i alpha = _mm_set1_epi32((int)0xFF000000u);
  for (; i + 4 <= n; i += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_or_si128(v, alpha));
  }
#endif
  for (; i < n; ++i) d[i] = s[i] | 0xFF000000u;
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
    copyOpaque(row + x0, src->row(sy) + x0 + port->portRect.left - dst.left, x1 - x0);
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
using vt::makePixel;
using vt::Pixel;

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
      out += Region(Rect{(short)(r.top + y), (short)(r.left + x0), (short)(r.top + y + 1),
                         (short)(r.left + x1)});
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

void GetPort(GrafPtr* port) try {
  if (port) *port = currentPort();
} catch (...) {
  gQDErr = vtErrorFromException();
}

void SetPort(GrafPtr port) try {
  if (validPort(port)) server().current = port;
} catch (...) {
  gQDErr = vtErrorFromException();
}

Rect* GetPortBounds(CGrafPtr port, Rect* rect) try {
  VTPort* p = validPort(port);
  if (rect) *rect = p ? p->portRect : Rect{0, 0, 0, 0};
  return rect;
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

RgnHandle GetPortVisibleRegion(CGrafPtr port, RgnHandle visRgn) try {
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
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

RgnHandle GetPortClipRegion(CGrafPtr port, RgnHandle clipRgn) try {
  Region* out = regionOf(clipRgn);
  VTPort* p = validPort(port);
  if (out && p) {
    if (p->clipSet)
      *out = p->clip;
    else
      out->set(Rect{-32767, -32767, 32767, 32767});
  }
  return clipRgn;
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

PixMapHandle GetPortPixMap(CGrafPtr port) try {
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
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

void LocalToGlobal(Point* pt) try {
  VTPort* p = currentPort();
  if (!pt || !p->window) return;
  pt->h = (short)(pt->h - p->portRect.left + p->window->content.left);
  pt->v = (short)(pt->v - p->portRect.top + p->window->content.top);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void GlobalToLocal(Point* pt) try {
  VTPort* p = currentPort();
  if (!pt || !p->window) return;
  pt->h = (short)(pt->h + p->portRect.left - p->window->content.left);
  pt->v = (short)(pt->v + p->portRect.top - p->window->content.top);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void SetOrigin(short h, short v) try {
  VTPort* p = currentPort();
  int dh = h - p->portRect.left, dv = v - p->portRect.top;
  p->portRect.left = h;
  p->portRect.top = v;
  p->portRect.right = (short)(p->portRect.right + dh);
  p->portRect.bottom = (short)(p->portRect.bottom + dv);
  if (p->window) p->window->update.offset(dh, dv);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void QDFlushPortBuffer(CGrafPtr, RgnHandle) try { flushScreen(); } catch (...) {
  gQDErr = vtErrorFromException();
}

// Rectangles and points

void SetRect(Rect* r, short left, short top, short right, short bottom) try {
  if (r) *r = Rect{top, left, bottom, right};
} catch (...) {
  gQDErr = vtErrorFromException();
}

void OffsetRect(Rect* r, short dh, short dv) try {
  if (!r) return;
  r->left = (short)(r->left + dh);
  r->right = (short)(r->right + dh);
  r->top = (short)(r->top + dv);
  r->bottom = (short)(r->bottom + dv);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void InsetRect(Rect* r, short dh, short dv) try {
  if (!r) return;
  r->left = (short)(r->left + dh);
  r->right = (short)(r->right - dh);
  r->top = (short)(r->top + dv);
  r->bottom = (short)(r->bottom - dv);
  if (rectEmpty(*r)) *r = Rect{0, 0, 0, 0};
} catch (...) {
  gQDErr = vtErrorFromException();
}

Boolean SectRect(const Rect* a, const Rect* b, Rect* dst) try {
  if (!a || !b) {
    if (dst) *dst = Rect{0, 0, 0, 0};
    return false;
  }
  Rect r = rectIntersect(*a, *b);
  if (dst) *dst = r;
  return !rectEmpty(r);
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

void UnionRect(const Rect* a, const Rect* b, Rect* dst) try {
  if (!a || !b || !dst) return;
  *dst = rectUnion(*a, *b);
} catch (...) {
  gQDErr = vtErrorFromException();
}

Boolean EqualRect(const Rect* a, const Rect* b) try {
  if (!a || !b) return false;
  return a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

Boolean EmptyRect(const Rect* r) try { return !r || rectEmpty(*r); } catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

Boolean PtInRect(Point pt, const Rect* r) try {
  return r && pt.v >= r->top && pt.v < r->bottom && pt.h >= r->left && pt.h < r->right;
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

void SetPt(Point* pt, short h, short v) try {
  if (pt) *pt = Point{v, h};
} catch (...) {
  gQDErr = vtErrorFromException();
}
Boolean EqualPt(Point a, Point b) { return a.h == b.h && a.v == b.v; }
void AddPt(Point src, Point* dst) try {
  if (dst) *dst = Point{(short)(dst->v + src.v), (short)(dst->h + src.h)};
} catch (...) {
  gQDErr = vtErrorFromException();
}
void SubPt(Point src, Point* dst) try {
  if (dst) *dst = Point{(short)(dst->v - src.v), (short)(dst->h - src.h)};
} catch (...) {
  gQDErr = vtErrorFromException();
}

// Drawing

void EraseRect(const Rect* r) try {
  if (!r) return;
  VTPort* p = currentPort();
  fillRect(p, *r, toPixel(p->bg));
} catch (...) {
  gQDErr = vtErrorFromException();
}

void PaintRect(const Rect* r) try {
  if (r) paintWithPen(Region(*r));
} catch (...) {
  gQDErr = vtErrorFromException();
}

void FrameRect(const Rect* r) try {
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
} catch (...) {
  gQDErr = vtErrorFromException();
}

void InvertRect(const Rect* r) try {
  if (r) invertRect(currentPort(), *r);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void FillRect(const Rect* r, const Pattern* pat) try {
  if (r) patternFill(currentPort(), Region(*r), pat);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void EraseOval(const Rect* r) try {
  if (!r) return;
  VTPort* p = currentPort();
  fillRegion(p, ovalRegion(*r), toPixel(p->bg));
} catch (...) {
  gQDErr = vtErrorFromException();
}
void PaintOval(const Rect* r) try {
  if (r) paintWithPen(ovalRegion(*r));
} catch (...) {
  gQDErr = vtErrorFromException();
}
void FrameOval(const Rect* r) try {
  if (!r) return;
  VTPort* p = currentPort();
  Rect in{(short)(r->top + p->pnSize.v), (short)(r->left + p->pnSize.h),
          (short)(r->bottom - p->pnSize.v), (short)(r->right - p->pnSize.h)};
  fillRegion(p, Region::subtract(ovalRegion(*r), ovalRegion(in)), toPixel(p->fg));
} catch (...) {
  gQDErr = vtErrorFromException();
}

void RGBForeColor(const RGBColor* c) try {
  if (c) currentPort()->fg = *c;
} catch (...) {
  gQDErr = vtErrorFromException();
}
void RGBBackColor(const RGBColor* c) try {
  if (c) currentPort()->bg = *c;
} catch (...) {
  gQDErr = vtErrorFromException();
}
void GetForeColor(RGBColor* c) try {
  if (c) *c = currentPort()->fg;
} catch (...) {
  gQDErr = vtErrorFromException();
}
void GetBackColor(RGBColor* c) try {
  if (c) *c = currentPort()->bg;
} catch (...) {
  gQDErr = vtErrorFromException();
}
void ForeColor(long color) try { currentPort()->fg = toRGB(classicColor(color)); } catch (...) {
  gQDErr = vtErrorFromException();
}
void BackColor(long color) try { currentPort()->bg = toRGB(classicColor(color)); } catch (...) {
  gQDErr = vtErrorFromException();
}

void MoveTo(short h, short v) try { currentPort()->pnLoc = Point{v, h}; } catch (...) {
  gQDErr = vtErrorFromException();
}
void Move(short dh, short dv) try {
  Point& l = currentPort()->pnLoc;
  l = Point{(short)(l.v + dv), (short)(l.h + dh)};
} catch (...) {
  gQDErr = vtErrorFromException();
}

void LineTo(short h, short v) try {
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
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
  // Straight lines collapse into one rectangle; others are united dot by dot.
  if (dots.front().top == dots.back().top || dots.front().left == dots.back().left) {
    line = Region(rectUnion(dots.front(), dots.back()));
  } else {
    for (const Rect& d : dots) line += Region(d);
  }
  paintWithPen(line);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void Line(short dh, short dv) try {
  Point l = currentPort()->pnLoc;
  LineTo((short)(l.h + dh), (short)(l.v + dv));
} catch (...) {
  gQDErr = vtErrorFromException();
}

void GetPen(Point* pt) try {
  if (pt) *pt = currentPort()->pnLoc;
} catch (...) {
  gQDErr = vtErrorFromException();
}
void PenSize(short width, short height) try {
  currentPort()->pnSize = Point{height, width};
} catch (...) {
  gQDErr = vtErrorFromException();
}
void PenMode(short mode) try { currentPort()->pnMode = mode; } catch (...) {
  gQDErr = vtErrorFromException();
}
void PenNormal() try {
  VTPort* p = currentPort();
  p->pnSize = Point{1, 1};
  p->pnMode = patCopy;
} catch (...) {
  gQDErr = vtErrorFromException();
}

void ClipRect(const Rect* r) try {
  if (!r) return;
  VTPort* p = currentPort();
  p->clip.set(*r);
  p->clipSet = true;
} catch (...) {
  gQDErr = vtErrorFromException();
}

void GetClip(RgnHandle rgn) try { GetPortClipRegion(currentPort(), rgn); } catch (...) {
  gQDErr = vtErrorFromException();
}

void SetClip(RgnHandle rgn) try {
  Region* r = regionOf(rgn);
  if (!r) return;
  VTPort* p = currentPort();
  p->clip = *r;
  p->clipSet = true;
} catch (...) {
  gQDErr = vtErrorFromException();
}

// Text

void DrawText(const void* textBuf, short firstByte, short byteCount) try {
  if (!textBuf || byteCount <= 0 || firstByte < 0) return;
  VTPort* p = currentPort();
  std::string_view s((const char*)textBuf + firstByte, (size_t)byteCount);
  int adv = drawString(p, p->pnLoc.h, p->pnLoc.v, s, styleOf(p));
  p->pnLoc.h = (short)(p->pnLoc.h + adv);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void DrawString(ConstStr255Param s) try {
  if (s) DrawText(s + 1, 0, s[0]);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void DrawChar(short ch) try {
  char c = (char)ch;
  DrawText(&c, 0, 1);
} catch (...) {
  gQDErr = vtErrorFromException();
}

short TextWidth(const void* textBuf, short firstByte, short byteCount) try {
  if (!textBuf || byteCount <= 0 || firstByte < 0) return 0;
  VTPort* p = currentPort();
  TextStyle st = styleOf(p);
  std::string utf8 =
      toolboxToUtf8(std::string_view((const char*)textBuf + firstByte, (size_t)byteCount));
  return (short)std::min(32767, measureText(utf8, st.size, st.bold));
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

short StringWidth(ConstStr255Param s) try {
  return s ? TextWidth(s + 1, 0, s[0]) : 0;
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

short CharWidth(short ch) try {
  char c = (char)ch;
  return TextWidth(&c, 0, 1);
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

void TextSize(short size) try { currentPort()->txSize = size < 0 ? 0 : size; } catch (...) {
  gQDErr = vtErrorFromException();
}
void TextFont(short font) try { currentPort()->txFont = font; } catch (...) {
  gQDErr = vtErrorFromException();
}
void TextFace(StyleParameter face) try { currentPort()->txFace = (Style)face; } catch (...) {
  gQDErr = vtErrorFromException();
}
void TextMode(short mode) try { currentPort()->txMode = mode; } catch (...) {
  gQDErr = vtErrorFromException();
}

void GetFontInfo(FontInfo* info) try {
  if (!info) return;
  TextStyle st = styleOf(currentPort());
  FontMetrics m = fontMetrics(st.size, st.bold);
  info->ascent = (short)m.ascent;
  info->descent = (short)m.descent;
  info->widMax = (short)m.widMax;
  info->leading = (short)m.leading;
} catch (...) {
  gQDErr = vtErrorFromException();
}

// Regions

RgnHandle NewRgn() try {
  Handle h = NewHandle(sizeof(VTRegion));
  if (!h) {
    gQDErr = memFullErr;
    return nullptr;
  }
  new (*h) VTRegion();
  gQDErr = noErr;
  return (RgnHandle)h;
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

void DisposeRgn(RgnHandle rgn) try {
  Region* r = regionOf(rgn);
  if (!r) return;
  if (rgn == gGrayRgn) return;  // the system's own region outlives its callers
  (*rgn)->~VTRegion();
  DisposeHandle((Handle)rgn);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void RectRgn(RgnHandle rgn, const Rect* r) try {
  if (Region* x = regionOf(rgn)) {
    if (r)
      x->set(*r);
    else
      x->clear();
  }
} catch (...) {
  gQDErr = vtErrorFromException();
}

void SetRectRgn(RgnHandle rgn, short left, short top, short right, short bottom) try {
  Rect r{top, left, bottom, right};
  RectRgn(rgn, &r);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void SetEmptyRgn(RgnHandle rgn) try {
  if (Region* x = regionOf(rgn)) x->clear();
} catch (...) {
  gQDErr = vtErrorFromException();
}

void CopyRgn(RgnHandle src, RgnHandle dst) try {
  Region *s = regionOf(src), *d = regionOf(dst);
  if (s && d) *d = *s;
} catch (...) {
  gQDErr = vtErrorFromException();
}

namespace {
template <class Op>
void binaryRgn(RgnHandle a, RgnHandle b, RgnHandle dst, Op op) {
  Region *x = regionOf(a), *y = regionOf(b), *d = regionOf(dst);
  if (x && y && d) *d = op(*x, *y);
}
}  // namespace

void SectRgn(RgnHandle a, RgnHandle b, RgnHandle dst) try {
  binaryRgn(a, b, dst, Region::intersect);
} catch (...) {
  gQDErr = vtErrorFromException();
}
void UnionRgn(RgnHandle a, RgnHandle b, RgnHandle dst) try {
  binaryRgn(a, b, dst, Region::unite);
} catch (...) {
  gQDErr = vtErrorFromException();
}
void DiffRgn(RgnHandle a, RgnHandle b, RgnHandle dst) try {
  binaryRgn(a, b, dst, Region::subtract);
} catch (...) {
  gQDErr = vtErrorFromException();
}
void XorRgn(RgnHandle a, RgnHandle b, RgnHandle dst) try {
  binaryRgn(a, b, dst, Region::exclusiveOr);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void OffsetRgn(RgnHandle rgn, short dh, short dv) try {
  if (Region* r = regionOf(rgn)) r->offset(dh, dv);
} catch (...) {
  gQDErr = vtErrorFromException();
}
void InsetRgn(RgnHandle rgn, short dh, short dv) try {
  if (Region* r = regionOf(rgn)) r->inset(dh, dv);
} catch (...) {
  gQDErr = vtErrorFromException();
}
Boolean EmptyRgn(RgnHandle rgn) try {
  Region* r = regionOf(rgn);
  return !r || r->empty();
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}
Boolean EqualRgn(RgnHandle a, RgnHandle b) try {
  Region *x = regionOf(a), *y = regionOf(b);
  return x && y && *x == *y;
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}
Boolean PtInRgn(Point pt, RgnHandle rgn) try {
  Region* r = regionOf(rgn);
  return r && r->contains(pt.h, pt.v);
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}
Boolean RectInRgn(const Rect* rect, RgnHandle rgn) try {
  Region* r = regionOf(rgn);
  return r && rect && r->intersects(*rect);
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}
Rect* GetRegionBounds(RgnHandle region, Rect* bounds) try {
  Region* r = regionOf(region);
  if (bounds) *bounds = r ? r->bounds() : Rect{0, 0, 0, 0};
  return bounds;
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}
Boolean IsRegionRectangular(RgnHandle region) try {
  Region* r = regionOf(region);
  return r && r->isRect();
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

RgnHandle GetGrayRgn() try {
  if (!regionOf(gGrayRgn)) gGrayRgn = NewRgn();
  if (Region* r = regionOf(gGrayRgn)) r->set(desktopBounds());
  return gGrayRgn;
} catch (...) {
  gQDErr = vtErrorFromException();
  return {};
}

void PaintRgn(RgnHandle rgn) try {
  if (Region* r = regionOf(rgn)) paintWithPen(*r);
} catch (...) {
  gQDErr = vtErrorFromException();
}
void EraseRgn(RgnHandle rgn) try {
  if (Region* r = regionOf(rgn)) fillRegion(currentPort(), *r, toPixel(currentPort()->bg));
} catch (...) {
  gQDErr = vtErrorFromException();
}
void FrameRgn(RgnHandle rgn) try {
  Region* r = regionOf(rgn);
  if (!r) return;
  VTPort* p = currentPort();
  Region inner = *r;
  inner.inset(p->pnSize.h, p->pnSize.v);
  fillRegion(p, Region::subtract(*r, inner), toPixel(p->fg));
} catch (...) {
  gQDErr = vtErrorFromException();
}
void InvertRgn(RgnHandle rgn) try {
  if (Region* r = regionOf(rgn)) penFill(currentPort(), *r, 0, patXor);
} catch (...) {
  gQDErr = vtErrorFromException();
}
void FillRgn(RgnHandle rgn, const Pattern* pat) try {
  if (Region* r = regionOf(rgn)) patternFill(currentPort(), *r, pat);
} catch (...) {
  gQDErr = vtErrorFromException();
}

short QDError() { return gQDErr; }

// Pictures

void DrawPicture(PicHandle pic, const Rect* dstRect) try {
  if (!pic || !dstRect) return;
  vt::Image img;
  if (!vt::pictureToImage(pic, img)) return;
  drawImage(currentPort(), img, *dstRect);
} catch (...) {
  gQDErr = vtErrorFromException();
}

void KillPicture(PicHandle pic) try {
  if (pic && VTIsValidHandle((Handle)pic)) DisposeHandle((Handle)pic);
} catch (...) {
  gQDErr = vtErrorFromException();
}

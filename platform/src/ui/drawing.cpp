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

#include "core/boundary.h"
#include "core/picture.h"
#include "events/event_queue.h"
#include "ui/quickdraw.h"
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

}  // namespace

void penFill(VTPort* port, const Region& area, Pixel color, short mode) {
  bool invert = mode == patXor || mode == srcXor;
  forEachRun(port, area, [&](Pixel* row, int x0, int x1, int) {
    if (invert)
      for (int x = x0; x < x1; ++x) row[x] ^= 0x00FFFFFFu;
    else
      std::fill(row + x0, row + x1, color);
  });
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

// Drawing

void EraseRect(const Rect* r) {
  vt::apiCall(recordQD, [&] {
    if (!r) return;
    VTPort* p = currentPort();
    fillRect(p, *r, toPixel(p->bg));
  });
}

void PaintRect(const Rect* r) {
  vt::apiCall(recordQD, [&] {
    if (r) paintWithPen(Region(*r));
  });
}

void FrameRect(const Rect* r) {
  vt::apiCall(recordQD, [&] {
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
  });
}

void InvertRect(const Rect* r) {
  vt::apiCall(recordQD, [&] {
    if (r) invertRect(currentPort(), *r);
  });
}

void FillRect(const Rect* r, const Pattern* pat) {
  vt::apiCall(recordQD, [&] {
    if (r) patternFill(currentPort(), Region(*r), pat);
  });
}

void EraseOval(const Rect* r) {
  vt::apiCall(recordQD, [&] {
    if (!r) return;
    VTPort* p = currentPort();
    fillRegion(p, ovalRegion(*r), toPixel(p->bg));
  });
}
void PaintOval(const Rect* r) {
  vt::apiCall(recordQD, [&] {
    if (r) paintWithPen(ovalRegion(*r));
  });
}
void FrameOval(const Rect* r) {
  vt::apiCall(recordQD, [&] {
    if (!r) return;
    VTPort* p = currentPort();
    Rect in{(short)(r->top + p->pnSize.v), (short)(r->left + p->pnSize.h),
            (short)(r->bottom - p->pnSize.v), (short)(r->right - p->pnSize.h)};
    fillRegion(p, Region::subtract(ovalRegion(*r), ovalRegion(in)), toPixel(p->fg));
  });
}

void RGBForeColor(const RGBColor* c) {
  vt::apiCall(recordQD, [&] {
    if (c) currentPort()->fg = *c;
  });
}
void RGBBackColor(const RGBColor* c) {
  vt::apiCall(recordQD, [&] {
    if (c) currentPort()->bg = *c;
  });
}
void GetForeColor(RGBColor* c) {
  vt::apiCall(recordQD, [&] {
    if (c) *c = currentPort()->fg;
  });
}
void GetBackColor(RGBColor* c) {
  vt::apiCall(recordQD, [&] {
    if (c) *c = currentPort()->bg;
  });
}
void ForeColor(long color) {
  vt::apiCall(recordQD, [&] { currentPort()->fg = toRGB(classicColor(color)); });
}
void BackColor(long color) {
  vt::apiCall(recordQD, [&] { currentPort()->bg = toRGB(classicColor(color)); });
}

void MoveTo(short h, short v) {
  vt::apiCall(recordQD, [&] { currentPort()->pnLoc = Point{v, h}; });
}
void Move(short dh, short dv) {
  vt::apiCall(recordQD, [&] {
    Point& l = currentPort()->pnLoc;
    l = Point{(short)(l.v + dv), (short)(l.h + dh)};
  });
}

void LineTo(short h, short v) {
  vt::apiCall(recordQD, [&] {
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
  });
}

void Line(short dh, short dv) {
  vt::apiCall(recordQD, [&] {
    Point l = currentPort()->pnLoc;
    LineTo((short)(l.h + dh), (short)(l.v + dv));
  });
}

void GetPen(Point* pt) {
  vt::apiCall(recordQD, [&] {
    if (pt) *pt = currentPort()->pnLoc;
  });
}
void PenSize(short width, short height) {
  vt::apiCall(recordQD, [&] { currentPort()->pnSize = Point{height, width}; });
}
void PenMode(short mode) {
  vt::apiCall(recordQD, [&] { currentPort()->pnMode = mode; });
}
void PenNormal() {
  vt::apiCall(recordQD, [&] {
    VTPort* p = currentPort();
    p->pnSize = Point{1, 1};
    p->pnMode = patCopy;
  });
}

// Pictures

void DrawPicture(PicHandle pic, const Rect* dstRect) {
  vt::apiCall(recordQD, [&] {
    if (!pic || !dstRect) return;
    vt::Image img;
    if (!vt::pictureToImage(pic, img)) return;
    drawImage(currentPort(), img, *dstRect);
  });
}

void KillPicture(PicHandle pic) {
  vt::apiCall(recordQD, [&] {
    if (pic && VTIsValidHandle((Handle)pic)) DisposeHandle((Handle)pic);
  });
}

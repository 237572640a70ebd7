// Shader-style transitions that move, bend or blur the pictures.
#include <algorithm>
#include <cmath>

#include "effects/gallery_kit.h"

namespace vt::effects::gallery {
namespace {

// ---- distortions that mix A into B ----------------------------------------------------------

V4 swirl(const Ctx& c, float u, float v) {
  const float r = c.radius(u, v) / c.maxRadius();
  const float angle = (1 - r) * (1 - r) * bump(c.p) * 2.f * kPi;
  const float s = std::sin(angle), k = std::cos(angle);
  const float x = c.cx(u), y = c.cy(v);
  const float su = c.toU(x * k - y * s), sv = c.toV(x * s + y * k);
  return c.fade(su, sv, c.p);
}

V4 rippleDissolve(const Ctx& c, float u, float v) {
  const float x = c.cx(u), y = c.cy(v), r = std::max(c.radius(u, v), 1e-4f);
  const float off = std::sin(r * 60.f - c.p * 25.f) * 0.02f * bump(c.p);
  return c.fade(c.toU(x + x / r * off), c.toV(y + y / r * off), c.p);
}

V4 waterDrop(const Ctx& c, float u, float v) {
  const float r = c.radius(u, v), front = c.p * c.maxRadius() * 1.1f;
  if (r < front) return c.b(u, v);
  const float x = c.cx(u), y = c.cy(v), rr = std::max(r, 1e-4f);
  const float off = std::sin((r - front) * 80.f) * 0.015f * (1 - c.p) * std::exp(-(r - front) * 8);
  return c.a(c.toU(x + x / rr * off), c.toV(y + y / rr * off));
}

V4 dreamy(const Ctx& c, float u, float v) {
  const float off = std::sin(u * 12.f + c.p * 9.f) * 0.03f * bump(c.p);
  return c.fade(u, v + off, c.p);
}

V4 dreamyZoom(const Ctx& c, float u, float v) {
  const float k = bump(c.p), zoom = 1 + k * 0.5f, angle = k * 0.35f;
  const float x = c.cx(u) / zoom, y = c.cy(v) / zoom;
  const float s = std::sin(angle), q = std::cos(angle);
  return c.fade(c.toU(x * q - y * s), c.toV(x * s + y * q), c.p);
}

V4 kaleidoscope(const Ctx& c, float u, float v) {
  const float k = bump(c.p);
  const float x = c.cx(u), y = c.cy(v), r = std::hypot(x, y);
  const float wedge = 2.f * kPi / 6.f;
  float a = std::atan2(y, x) + c.p * kPi;
  a = std::fabs(std::fmod(a + 8.f * kPi, wedge) - wedge / 2);
  const float kx = r * std::cos(a), ky = r * std::sin(a);
  return c.fade(c.toU(x + (kx - x) * k), c.toV(y + (ky - y) * k), c.p);
}

V4 flyEye(const Ctx& c, float u, float v) {
  const float cells = 24.f, k = bump(c.p);
  const float gx = u * cells, gy = v * cells / c.aspect;
  const float dx = fract(gx) - 0.5f, dy = fract(gy) - 0.5f;
  const float pull = k * 0.8f * (1 - std::min(1.f, std::hypot(dx, dy) * 2));
  return c.fade(u - dx * pull / cells, v - dy * pull * c.aspect / cells, c.p);
}

V4 morph(const Ctx& c, float u, float v) {
  const V4 a = c.a(u, v), b = c.b(u, v);
  const float dx = (a.c[2] - b.c[2]) / 255.f, dy = (a.c[1] - b.c[1]) / 255.f;
  const float s = 0.1f;
  return mix(c.a(u + dx * c.p * s, v + dy * c.p * s),
             c.b(u - dx * (1 - c.p) * s, v - dy * (1 - c.p) * s), c.p);
}

V4 flagWave(const Ctx& c, float u, float v) {
  const float k = bump(c.p), phase = u * 4.f * kPi - c.p * 10.f;
  const float off = std::sin(phase) * 0.04f * k;
  const float shade = 1 + std::cos(phase) * 0.25f * k;
  return scale(c.fade(u, v + off, c.p), shade);
}

V4 directionalWarp(const Ctx& c, float u, float v) {
  const float s = (u + v) / 2 - (c.p * 1.4f - 0.2f);
  if (s < 0) return c.b(u, v);
  const float push = smooth(0.2f, 0.f, s) * 0.12f;
  return c.a(u - push, v - push);
}

V4 rippleWipe(const Ctx& c, float u, float v) {
  const float edge = c.p * 1.3f - 0.15f, d = u - edge;
  if (d < 0) return c.b(u, v);
  const float off = std::sin(d * 90.f) * 0.02f * std::exp(-d * 12.f);
  return c.a(u, v + off);
}

// ---- blurs and optics ------------------------------------------------------------------------

V4 crossZoom(const Ctx& c, float u, float v) {
  const float strength = bump(c.p) * 0.25f, t = smooth(0.3f, 0.7f, c.p);
  V4 acc = {{0, 0, 0, 0}};
  constexpr int kTaps = 8;
  const float jitter = c.dither(u, v);
  for (int i = 0; i < kTaps; ++i) {
    const float s = 1 - strength * ((float)i + jitter) / kTaps;
    const float su = 0.5f + (u - 0.5f) * s, sv = 0.5f + (v - 0.5f) * s;
    const V4 x = c.fade(su, sv, t);
    for (int k = 0; k < 4; ++k) acc.c[k] += x.c[k] / kTaps;
  }
  return acc;
}

V4 directionalBlur(const Ctx& c, float u, float v) {
  const float spread = bump(c.p) * 0.12f;
  V4 acc = {{0, 0, 0, 0}};
  constexpr int kTaps = 8;
  const float jitter = c.dither(u, v);
  for (int i = 0; i < kTaps; ++i) {
    const V4 x = c.fade(u + spread * (((float)i + jitter) / kTaps - 0.5f), v, c.p);
    for (int k = 0; k < 4; ++k) acc.c[k] += x.c[k] / kTaps;
  }
  return acc;
}

V4 spinBlur(const Ctx& c, float u, float v) {
  const float spread = bump(c.p) * 0.35f;
  const float x = c.cx(u), y = c.cy(v);
  V4 acc = {{0, 0, 0, 0}};
  constexpr int kTaps = 8;
  const float jitter = c.dither(u, v);
  for (int i = 0; i < kTaps; ++i) {
    const float a = spread * (((float)i + jitter) / kTaps - 0.5f);
    const float s = std::sin(a), k = std::cos(a);
    const V4 q = c.fade(c.toU(x * k - y * s), c.toV(x * s + y * k), c.p);
    for (int j = 0; j < 4; ++j) acc.c[j] += q.c[j] / kTaps;
  }
  return acc;
}

V4 chromaticSplit(const Ctx& c, float u, float v) {
  const float s = bump(c.p) * 0.03f;
  const V4 left = c.fade(u - s, v, c.p), mid = c.fade(u, v, c.p), right = c.fade(u + s, v, c.p);
  return {{left.c[0], mid.c[1], right.c[2], mid.c[3]}};
}

V4 magnifier(const Ctx& c, float u, float v) {
  const float lens = c.p * c.maxRadius() * 1.05f, r = c.radius(u, v);
  if (r >= lens) return c.a(u, v);
  const float zoom = 1.f + 0.6f * (1 - c.p);
  return c.b(c.toU(c.cx(u) / zoom), c.toV(c.cy(v) / zoom));
}

// ---- moving frames --------------------------------------------------------------------------

V4 doorway(const Ctx& c, float u, float v) {
  const float open = c.p * 0.5f;
  if (u < 0.5f - open) return c.a(u + open, v);
  if (u > 0.5f + open) return c.a(u - open, v);
  const float zoom = 0.8f + 0.2f * c.p;
  return scale(c.b(0.5f + (u - 0.5f) * zoom, 0.5f + (v - 0.5f) * zoom), 0.6f + 0.4f * c.p);
}

V4 cube(const Ctx& c, float u, float v) {
  const float seam = 1 - c.p, k = 0.3f;
  if (u < seam) {  // A turns away to the left: its far (left) edge shrinks
    const float t = u / std::max(seam, 1e-4f), hs = 1 - k * (1 - t) * c.p;
    const float tv = (v - 0.5f) / hs + 0.5f;
    return tv < 0 || tv > 1 ? kBlack : scale(c.a(t, tv), 1 - 0.5f * c.p);
  }
  const float t = (u - seam) / std::max(1 - seam, 1e-4f), hs = 1 - k * t * (1 - c.p);
  const float tv = (v - 0.5f) / hs + 0.5f;
  return tv < 0 || tv > 1 ? kBlack : scale(c.b(t, tv), 0.5f + 0.5f * c.p);
}

V4 flip(const Ctx& c, float u, float v) {
  const float sx = std::fabs(std::cos(kPi * c.p));
  if (std::fabs(u - 0.5f) > sx / 2) return kBlack;
  const float tu = (u - 0.5f) / std::max(sx, 1e-4f) + 0.5f;
  return c.p < 0.5f ? c.a(tu, v) : c.b(tu, v);
}

V4 fold(const Ctx& c, float u, float v) {
  const float sx = 1 - c.p;
  if (std::fabs(u - 0.5f) > sx / 2) return c.b(u, v);
  const float tu = (u - 0.5f) / std::max(sx, 1e-4f) + 0.5f;
  return scale(c.a(tu, v), 1 - 0.7f * c.p * std::fabs(tu - 0.5f) * 2);
}

V4 rotateScaleFade(const Ctx& c, float u, float v) {
  const float s = 1 - 0.6f * bump(c.p), angle = 2.f * kPi * c.p;
  const float x = c.cx(u) / s, y = c.cy(v) / s;
  const float sn = std::sin(angle), k = std::cos(angle);
  const float su = c.toU(x * k - y * sn), sv = c.toV(x * sn + y * k);
  return inside(su, sv) ? c.fade(su, sv, c.p) : kBlack;
}

V4 spinAway(const Ctx& c, float u, float v) {
  const float s = 1 - c.p, angle = c.p * 2.f * kPi;
  if (s <= 0) return c.b(u, v);
  const float x = c.cx(u) / s, y = c.cy(v) / s;
  const float sn = std::sin(angle), k = std::cos(angle);
  const float su = c.toU(x * k - y * sn), sv = c.toV(x * sn + y * k);
  return inside(su, sv) ? c.a(su, sv) : c.b(u, v);
}

V4 swap(const Ctx& c, float u, float v) {
  const float sa = 1 - 0.5f * c.p, sb = 0.5f + 0.5f * c.p;
  const float ax = 0.5f - c.p * 0.75f, bx = 0.5f + (1 - c.p) * 0.75f;
  const float au = (u - ax) / sa + 0.5f, av = (v - 0.5f) / sa + 0.5f;
  const float bu = (u - bx) / sb + 0.5f, bv = (v - 0.5f) / sb + 0.5f;
  const bool inA = inside(au, av), inB = inside(bu, bv);
  if (inA && (!inB || c.p < 0.5f)) return scale(c.a(au, av), 1 - 0.4f * c.p);
  if (inB) return scale(c.b(bu, bv), 0.6f + 0.4f * c.p);
  return kBlack;
}

float bounceOut(float t) {
  const float n = 7.5625f, d = 2.75f;
  if (t < 1 / d) return n * t * t;
  if (t < 2 / d) return n * (t - 1.5f / d) * (t - 1.5f / d) + 0.75f;
  if (t < 2.5f / d) return n * (t - 2.25f / d) * (t - 2.25f / d) + 0.9375f;
  return n * (t - 2.625f / d) * (t - 2.625f / d) + 0.984375f;
}

V4 bounce(const Ctx& c, float u, float v) {
  const float bottom = bounceOut(c.p);  // B's lower edge
  if (v < bottom) return c.b(u, v + 1 - bottom);
  const float shadow = smooth(bottom + 0.06f, bottom, v) * 0.5f;
  return scale(c.a(u, v), 1 - shadow);
}

V4 quadSplit(const Ctx& c, float u, float v) {
  const float off = c.p * 0.5f;
  const float su = u < 0.5f ? u + off : u - off, sv = v < 0.5f ? v + off : v - off;
  const bool stillA = (u < 0.5f ? su < 0.5f : su >= 0.5f) && (v < 0.5f ? sv < 0.5f : sv >= 0.5f);
  return stillA ? c.a(su, sv) : c.b(u, v);
}

V4 zoomOut(const Ctx& c, float u, float v) {
  const float s = 1 - c.p;
  if (s <= 0) return c.b(u, v);
  const float su = (u - 0.5f) / s + 0.5f, sv = (v - 0.5f) / s + 0.5f;
  return inside(su, sv) ? c.a(su, sv) : c.b(u, v);
}

V4 zoomThrough(const Ctx& c, float u, float v) {
  const float za = 1 + 2 * c.p, zb = 0.5f + 0.5f * c.p;
  const V4 a = c.a((u - 0.5f) / za + 0.5f, (v - 0.5f) / za + 0.5f);
  const float bu = (u - 0.5f) / zb + 0.5f, bv = (v - 0.5f) / zb + 0.5f;
  const V4 b = inside(bu, bv) ? c.b(bu, bv) : kBlack;
  return mix(a, b, smooth(0.2f, 0.8f, c.p));
}

V4 pinch(const Ctx& c, float u, float v) {
  const float s = 1 - c.p;
  if (s <= 0) return c.b(u, v);
  const float r = c.radius(u, v) / c.maxRadius();
  const float rr = std::pow(r / s, 1 - 0.5f * c.p);  // A's radius seen here
  if (rr > 1) return c.b(u, v);
  const float k = r > 0 ? rr / r : 0;
  return c.a(c.toU(c.cx(u) * k), c.toV(c.cy(v) * k));
}

V4 bulge(const Ctx& c, float u, float v) {
  const float r = c.radius(u, v) / c.maxRadius();
  if (r >= c.p) return c.a(u, v);
  const float rr = std::pow(r / c.p, 1.5f - 0.5f * c.p);
  const float k = r > 0 ? rr / r : 0;
  return c.b(c.toU(c.cx(u) * k), c.toV(c.cy(v) * k));
}

}  // namespace

void addMotion(std::vector<Entry>& out) {
  out.insert(out.end(), {
                            {'gswl', "Swirl", swirl},
                            {'grpd', "Ripple Dissolve", rippleDissolve},
                            {'gwdr', "Water Drop", waterDrop},
                            {'gdrm', "Dreamy", dreamy},
                            {'gdrz', "Dreamy Zoom", dreamyZoom},
                            {'gkal', "Kaleidoscope", kaleidoscope},
                            {'gfly', "Fly Eye", flyEye},
                            {'gmor', "Morph", morph},
                            {'gflg', "Flag Wave", flagWave},
                            {'gdtw', "Directional Warp", directionalWarp},
                            {'grwp', "Ripple Wipe", rippleWipe},
                            {'gczb', "Cross Zoom", crossZoom},
                            {'gdbl', "Directional Blur", directionalBlur},
                            {'grbl', "Spin Blur", spinBlur},
                            {'grgb', "Chromatic Split", chromaticSplit},
                            {'gmag', "Magnifier", magnifier},
                            {'gdor', "Doorway", doorway},
                            {'gcub', "Cube", cube},
                            {'gflp', "Flip", flip},
                            {'gfld', "Fold", fold},
                            {'grsf', "Rotate Scale Fade", rotateScaleFade},
                            {'gspa', "Spin Away", spinAway},
                            {'gswp', "Swap", swap},
                            {'gbnc', "Bounce", bounce},
                            {'gqud', "Quad Split", quadSplit},
                            {'gzmo', "Zoom Out", zoomOut},
                            {'gzth', "Zoom Through", zoomThrough},
                            {'gpch', "Pinch", pinch},
                            {'gblg', "Bulge", bulge},
                        });
}

}  // namespace vt::effects::gallery

// Gallery transitions. Each is a function of the output position (u, v in 0..1, v downwards,
// at pixel centres) and the progress p (0: all A, 1: all B) that samples A and B where it
// likes; positions outside a picture take its nearest edge. Randomness is a hash of the
// position and the description's seed, so a frame renders the same way every time.
#include "effects/gallery.h"

#include <algorithm>
#include <cmath>

#include "effects/parallel.h"
#include "effects/render.h"

namespace vt::effects {
namespace {

constexpr float kPi = 3.14159265f;

struct V4 {
  float c[4];  // blue, green, red, alpha: a Pixel's bytes from the lowest
};
inline V4 unpack(Pixel p) {
  return {{(float)(p & 255), (float)((p >> 8) & 255), (float)((p >> 16) & 255), (float)(p >> 24)}};
}
inline Pixel pack(const V4& v) {
  Pixel out = 0;
  for (int i = 0; i < 4; ++i)
    out |= (Pixel)(uint8_t)(int)(std::clamp(v.c[i], 0.f, 255.f) + 0.5f) << (8 * i);
  return out;
}
inline V4 mix(const V4& a, const V4& b, float t) {
  V4 o;
  for (int i = 0; i < 4; ++i) o.c[i] = a.c[i] + (b.c[i] - a.c[i]) * t;
  return o;
}
inline V4 scale(const V4& a, float k) {  // colour only; alpha kept
  return {{a.c[0] * k, a.c[1] * k, a.c[2] * k, a.c[3]}};
}
inline V4 add(const V4& a, float k) { return {{a.c[0] + k, a.c[1] + k, a.c[2] + k, a.c[3]}}; }
inline V4 addv(const V4& a, const V4& b) {
  return {{a.c[0] + b.c[0], a.c[1] + b.c[1], a.c[2] + b.c[2], a.c[3]}};
}
inline float luma(const V4& a) { return (a.c[2] * 0.299f + a.c[1] * 0.587f + a.c[0] * 0.114f); }
inline V4 gray(const V4& a) {
  const float l = luma(a);
  return {{l, l, l, a.c[3]}};
}
const V4 kBlack = {{0, 0, 0, 255}};

inline float clamp01(float x) { return std::clamp(x, 0.f, 1.f); }
inline float smooth(float e0, float e1, float x) {
  const float t = clamp01((x - e0) / (e1 - e0));
  return t * t * (3.f - 2.f * t);
}
inline float fract(float x) { return x - std::floor(x); }
inline float bump(float p) { return std::sin(kPi * p); }  // 0 at both ends, 1 halfway

// A hash of integer coordinates and the seed, uniform in [0, 1).
inline float hash(int x, int y, uint64_t seed) {
  const uint64_t h = mix64(seed ^ ((uint64_t)(uint32_t)x << 32) ^ (uint32_t)y);
  return (float)(h >> 40) / (float)(1u << 24);
}
// Smooth value noise in [0, 1).
float noise(float x, float y, uint64_t seed) {
  const int ix = (int)std::floor(x), iy = (int)std::floor(y);
  const float fx = smooth(0, 1, x - (float)ix), fy = smooth(0, 1, y - (float)iy);
  const float a = hash(ix, iy, seed), b = hash(ix + 1, iy, seed);
  const float c = hash(ix, iy + 1, seed), d = hash(ix + 1, iy + 1, seed);
  return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}
float fbm(float x, float y, uint64_t seed) {
  return (noise(x, y, seed) * 0.57f + noise(x * 2, y * 2, seed + 1) * 0.29f +
          noise(x * 4, y * 4, seed + 2) * 0.14f);
}

// Bilinear, edges clamped: a picture sampled at its own pixel centres gives its own pixels.
V4 sample(const Image& im, float u, float v) {
  const float x = std::clamp(u * (float)im.width - 0.5f, 0.f, (float)(im.width - 1));
  const float y = std::clamp(v * (float)im.height - 0.5f, 0.f, (float)(im.height - 1));
  const int x0 = (int)x, y0 = (int)y;
  const int x1 = std::min(x0 + 1, im.width - 1), y1 = std::min(y0 + 1, im.height - 1);
  const float fx = x - (float)x0, fy = y - (float)y0;
  const V4 top = mix(unpack(im.at(x0, y0)), unpack(im.at(x1, y0)), fx);
  const V4 bottom = mix(unpack(im.at(x0, y1)), unpack(im.at(x1, y1)), fx);
  return mix(top, bottom, fy);
}

struct Ctx {
  const Image* A;
  const Image* B;
  float w, h;    // output size in pixels
  float aspect;  // w / h
  float p;
  uint64_t seed;
  const ParamSet* params;
  V4 a(float u, float v) const { return sample(*A, u, v); }
  V4 b(float u, float v) const { return sample(*B, u, v); }
  V4 fade(float u, float v, float t) const { return mix(a(u, v), b(u, v), t); }
  // Per-pixel offset in [0, 1) for blur taps: noise instead of visible copies.
  float dither(float u, float v) const { return hash((int)(u * w), (int)(v * h), seed); }
  // Position relative to the centre in units of the height, x to the right, y downwards.
  float cx(float u) const { return (u - 0.5f) * aspect; }
  float cy(float v) const { return v - 0.5f; }
  float radius(float u, float v) const { return std::hypot(cx(u), cy(v)); }
  float maxRadius() const { return std::hypot(aspect * 0.5f, 0.5f); }
  // Back from centred units to a picture position.
  float toU(float x) const { return x / aspect + 0.5f; }
  float toV(float y) const { return y + 0.5f; }
};

inline bool inside(float u, float v) { return u >= 0 && u <= 1 && v >= 0 && v <= 1; }

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

// ---- shapes that open onto B -----------------------------------------------------------------

V4 flower(const Ctx& c, float u, float v) {
  const float x = c.cx(u), y = c.cy(v);
  const float petal = 0.72f + 0.28f * std::cos(6.f * (std::atan2(y, x) + c.p * 2.f));
  return std::hypot(x, y) < c.p * 2.3f * c.maxRadius() * petal ? c.b(u, v) : c.a(u, v);
}

V4 polkaDots(const Ctx& c, float u, float v) {
  const float cells = 12.f, gx = u * cells, gy = v * cells / c.aspect;
  const float d = std::hypot(fract(gx) - 0.5f, fract(gy) - 0.5f);
  return d < c.p * 0.7072f ? c.b(u, v) : c.a(u, v);
}

V4 randomSquares(const Ctx& c, float u, float v) {
  const int gx = (int)(u * 16), gy = (int)(v * 16 / c.aspect);
  const float r = hash(gx, gy, c.seed);
  return c.fade(u, v, smooth(r - 0.1f, r + 0.1f, c.p * 1.2f - 0.1f));
}

V4 squaresWire(const Ctx& c, float u, float v) {
  const float n = 14.f, gx = u * n, gy = v * n / c.aspect;
  const float start = (std::floor(gx) / n + std::floor(gy) / (n / c.aspect)) * 0.3f;
  const float f = clamp01((c.p - start) / 0.4f);
  const float half = f * 0.5f;
  const bool in = std::fabs(fract(gx) - 0.5f) <= half && std::fabs(fract(gy) - 0.5f) <= half;
  return in && f > 0 ? c.b(u, v) : c.a(u, v);
}

V4 pinwheel(const Ctx& c, float u, float v) {
  const float a = std::atan2(c.cy(v), c.cx(u)) + c.p * kPi;
  return fract(a / (2.f * kPi) * 8.f + 8.f) < c.p ? c.b(u, v) : c.a(u, v);
}

V4 checkerFade(const Ctx& c, float u, float v) {
  const int gx = (int)(u * 12), gy = (int)(v * 12 / c.aspect);
  const bool first = ((gx + gy) & 1) == 0;
  return c.fade(u, v, first ? smooth(0.f, 0.6f, c.p) : smooth(0.4f, 1.f, c.p));
}

V4 diamondGrid(const Ctx& c, float u, float v) {
  const float n = 10.f, gx = u * n, gy = v * n / c.aspect;
  const float d = std::fabs(fract(gx) - 0.5f) + std::fabs(fract(gy) - 0.5f);
  return d < c.p * 1.0001f - 0.0001f ? c.b(u, v) : c.a(u, v);
}

V4 crosshatch(const Ctx& c, float u, float v) {
  const float x = u * c.aspect, spacing = 0.08f;
  const float d1 = std::fabs(fract((x + v) / spacing) - 0.5f);
  const float d2 = std::fabs(fract((x - v) / spacing) - 0.5f);
  const float grow1 = c.p * 1.2f, grow2 = c.p * 1.2f - 0.2f;
  return d1 < grow1 * 0.5f || d2 < grow2 * 0.5f ? c.b(u, v) : c.a(u, v);
}

V4 spiral(const Ctx& c, float u, float v) {
  const float x = c.cx(u), y = c.cy(v);
  const float turn = std::atan2(y, x) / (2.f * kPi) + std::hypot(x, y) * 3.f;
  return fract(turn * 3.f) < c.p ? c.b(u, v) : c.a(u, v);
}

V4 waveWipe(const Ctx& c, float u, float v) {
  const float edge = c.p * 1.3f - 0.15f + std::sin(v * 4.f * kPi + c.p * 10.f) * 0.08f;
  return c.fade(u, v, smooth(u - 0.01f, u + 0.01f, edge));
}

V4 noiseDissolve(const Ctx& c, float u, float v) {
  const float n = fbm(u * 4.f * c.aspect, v * 4.f, c.seed);
  const float t = c.p * 1.2f - 0.1f;
  return c.fade(u, v, smooth(n - 0.03f, n + 0.03f, t));
}

V4 inkBleed(const Ctx& c, float u, float v) {
  const float val =
      c.radius(u, v) / c.maxRadius() * 0.7f + fbm(u * 6.f * c.aspect, v * 6.f, c.seed) * 0.3f;
  const float t = c.p * 1.1f;
  return c.fade(u, v, smooth(val - 0.03f, val + 0.03f, t));
}

V4 sunburst(const Ctx& c, float u, float v) {
  const float a = std::atan2(c.cy(v), c.cx(u)) / (2.f * kPi) + 0.5f;
  const float ray = a * 16.f;
  const bool even = ((int)ray & 1) == 0;
  const float f = even ? clamp01(c.p * 2.f) : clamp01(c.p * 2.f - 1.f);
  return std::fabs(fract(ray) - 0.5f) < f * 0.5001f ? c.b(u, v) : c.a(u, v);
}

V4 shutter(const Ctx& c, float u, float v) {
  const float x = c.cx(u), y = c.cy(v), r = std::hypot(x, y);
  const float side = kPi / 3.f, rot = c.p * kPi / 2.f;
  const float a = std::fmod(std::atan2(y, x) + rot + 8.f * kPi, side) - side / 2;
  const float polygon = r * std::cos(a) / std::cos(side / 2);  // distance in hexagon units
  const float opening = c.p * c.maxRadius() * 1.2f;
  if (polygon < opening) return c.b(u, v);
  const float rim = smooth(opening + 0.03f, opening, polygon);
  return scale(c.a(u, v), 1 - rim * 0.7f);
}

V4 ringPulse(const Ctx& c, float u, float v) {
  const float d = c.radius(u, v) / c.maxRadius() * 10.f;
  const bool odd = ((int)d & 1) != 0;
  const float f = odd ? clamp01(c.p * 2.f - 1.f) : clamp01(c.p * 2.f);
  return fract(d) < f * 1.0001f ? c.b(u, v) : c.a(u, v);
}

V4 bubbles(const Ctx& c, float u, float v) {
  const float n = 8.f, gx = u * n * c.aspect, gy = v * n;
  const int ix = (int)std::floor(gx), iy = (int)std::floor(gy);
  for (int j = -1; j <= 1; ++j)
    for (int i = -1; i <= 1; ++i) {
      const int x = ix + i, y = iy + j;
      const float px = (float)x + hash(x, y, c.seed), py = (float)y + hash(x, y, c.seed + 7);
      const float start = hash(x, y, c.seed + 13) * 0.7f;
      const float radius = clamp01((c.p - start) / (1 - start)) * 1.5f;
      if (std::hypot(gx - px, gy - py) < radius) return c.b(u, v);
    }
  return c.a(u, v);
}

V4 paintStrokes(const Ctx& c, float u, float v) {
  const float across = (u * c.aspect - v) * 0.7071f, along = (u * c.aspect + v) * 0.7071f;
  const float width = 0.09f;
  const int stroke = (int)std::floor(across / width);
  const float start = hash(stroke, 0, c.seed) * 0.5f;
  const float jag = noise(along * 20.f, (float)stroke, c.seed) * 0.08f;
  const float reach = clamp01((c.p - start) / (1 - start)) * (c.aspect + 1.2f) - 0.1f;
  return along + jag < reach ? c.b(u, v) : c.a(u, v);
}

V4 brickWall(const Ctx& c, float u, float v) {
  const int rows = 8, cols = 6;
  const int row = std::min(rows - 1, (int)(v * rows));
  const float shifted = u * cols + ((row & 1) ? 0.5f : 0.f);
  const int col = (int)std::floor(shifted);
  const int order = (rows - 1 - row) * (cols + 1) + col;  // bottom row first, left to right
  const float start = (float)order / (float)(rows * (cols + 1)) * 0.85f;
  return c.fade(u, v, clamp01((c.p - start) / 0.15f));
}

V4 spotlight(const Ctx& c, float u, float v) {
  const float sx = -0.2f + c.p * 1.4f, sy = 0.5f + std::sin(c.p * kPi * 2.f) * 0.2f;
  const float d = std::hypot((u - sx) * c.aspect, v - sy);
  const float light = smooth(0.35f, 0.2f, d);
  const float dim = 1 - bump(c.p) * 0.6f * (1 - light);
  return scale(u < sx ? c.b(u, v) : c.a(u, v), dim);
}

// ---- tiles, strips and cards ------------------------------------------------------------------

V4 gridFlip(const Ctx& c, float u, float v) {
  const int nx = 6, ny = 4;
  const int gx = std::min(nx - 1, (int)(u * nx)), gy = std::min(ny - 1, (int)(v * ny));
  const float start = hash(gx, gy, c.seed) * 0.5f, f = clamp01((c.p - start) / 0.5f);
  const float lx = u * nx - (float)gx, sx = std::fabs(std::cos(kPi * f));
  if (std::fabs(lx - 0.5f) > sx / 2) return kBlack;
  const float tu = ((float)gx + (lx - 0.5f) / std::max(sx, 1e-4f) + 0.5f) / (float)nx;
  return f < 0.5f ? c.a(tu, v) : c.b(tu, v);
}

V4 tileDrop(const Ctx& c, float u, float v) {
  const int nx = 8, ny = 6;
  const int gx = std::min(nx - 1, (int)(u * nx)), gy = std::min(ny - 1, (int)(v * ny));
  const float start = hash(gx, gy, c.seed) * 0.6f, f = clamp01((c.p - start) / 0.4f);
  const float ly = v * ny - (float)gy - (1 - f) * (1 - f);  // B falls into its cell
  return ly >= 0 && f > 0 ? c.b(u, ((float)gy + ly) / (float)ny) : c.a(u, v);
}

V4 tileSpin(const Ctx& c, float u, float v) {
  const int nx = 10, ny = 6;
  const int gx = std::min(nx - 1, (int)(u * nx)), gy = std::min(ny - 1, (int)(v * ny));
  const float start = hash(gx, gy, c.seed) * 0.5f, f = clamp01((c.p - start) / 0.5f);
  const float size = 1 - f, angle = f * kPi;
  if (size <= 0) return c.b(u, v);
  const float lx = u * nx - (float)gx - 0.5f, ly = v * ny - (float)gy - 0.5f;
  const float s = std::sin(-angle), k = std::cos(-angle);
  const float rx = (lx * k - ly * s) / size, ry = (lx * s + ly * k) / size;
  if (std::fabs(rx) > 0.5f || std::fabs(ry) > 0.5f) return c.b(u, v);
  return c.a(((float)gx + rx + 0.5f) / (float)nx, ((float)gy + ry + 0.5f) / (float)ny);
}

V4 venetianRotate(const Ctx& c, float u, float v) {
  const int n = 12;
  const int strip = std::min(n - 1, (int)(v * n));
  const float f = clamp01(c.p * 1.4f - (float)strip / n * 0.4f);
  const float ly = v * n - (float)strip, sy = std::fabs(std::cos(kPi * f));
  if (std::fabs(ly - 0.5f) > sy / 2) return kBlack;
  const float tv = ((float)strip + (ly - 0.5f) / std::max(sy, 1e-4f) + 0.5f) / (float)n;
  return f < 0.5f ? c.a(u, tv) : c.b(u, tv);
}

V4 twist(const Ctx& c, float u, float v) {
  const float f = clamp01(c.p * 1.5f - v * 0.5f);
  const float sx = std::fabs(std::cos(kPi * f));
  if (std::fabs(u - 0.5f) > sx / 2) return kBlack;
  const float tu = (u - 0.5f) / std::max(sx, 1e-4f) + 0.5f;
  return scale(f < 0.5f ? c.a(tu, v) : c.b(tu, v), 0.6f + 0.4f * sx);
}

V4 columnDrop(const Ctx& c, float u, float v) {
  const int n = 12;
  const int col = std::min(n - 1, (int)(u * n));
  const float start = hash(col, 1, c.seed) * 0.4f, t = std::max(0.f, c.p - start) / 0.6f;
  const float sv = v - t * t * 1.0001f;
  return sv >= 0 ? c.a(u, sv) : c.b(u, v);
}

V4 rowSlide(const Ctx& c, float u, float v) {
  const int n = 10;
  const int row = std::min(n - 1, (int)(v * n));
  const float start = (float)row / n * 0.4f, f = smooth(0, 1, clamp01((c.p - start) / 0.6f));
  const bool fromLeft = (row & 1) == 0;
  const float edge = fromLeft ? f : 1 - f;
  const bool covered = fromLeft ? u < edge : u >= edge;
  if (!covered) return c.a(u, v);
  return c.b(fromLeft ? u + 1 - f : u - (1 - f), v);
}

V4 windowSlice(const Ctx& c, float u, float v) {
  const int n = 10;
  const int col = std::min(n - 1, (int)(u * n));
  const float start = (float)col / n * 0.5f, f = smooth(0, 1, clamp01((c.p - start) / 0.5f));
  return c.fade(u, v, smooth(v - 0.03f, v + 0.03f, f * 1.06f - 0.03f));
}

V4 wavyBlinds(const Ctx& c, float u, float v) {
  const float s = fract(v * 10.f + std::sin(u * kPi * 2.f) * 0.3f);
  return s < c.p ? c.b(u, v) : c.a(u, v);
}

V4 interlace(const Ctx& c, float u, float v) {
  const bool odd = ((int)(v * c.h) & 1) != 0;
  return c.fade(u, v, odd ? smooth(0.f, 0.6f, c.p) : smooth(0.4f, 1.f, c.p));
}

V4 rain(const Ctx& c, float u, float v) {
  const int col = (int)(u * c.w / 8.f);
  const float speed = 0.7f + hash(col, 3, c.seed) * 0.6f, delay = hash(col, 5, c.seed) * 0.3f;
  const float front = (c.p - delay) * speed * 2.2f;
  if (v < front - 0.04f) return c.b(u, v);
  if (v < front) return add(c.b(u, v), 60.f * (1 - (front - v) / 0.04f));
  return c.a(u, v);
}

V4 luminanceMelt(const Ctx& c, float u, float v) {
  const int col = (int)(u * c.w / 3.f);
  const float drop = c.p * (1.f + noise((float)col * 0.5f, 0, c.seed) * 0.8f);
  const float sv = v - drop;
  return sv >= 0 ? c.a(u, sv) : c.b(u, v);
}

V4 disintegrate(const Ctx& c, float u, float v) {
  const int x = (int)(u * c.w), y = (int)(v * c.h);
  if (hash(x, y, c.seed) < c.p * 1.1f - 0.05f) return c.b(u, v);
  return c.a(u, v + c.p * 0.25f * hash(x, 11, c.seed));
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

// ---- pixel styles ---------------------------------------------------------------------------

V4 glitchDisplace(const Ctx& c, float u, float v) {
  const int band = (int)(v * c.h / (4.f + 16.f * hash((int)(v * 12), 1, c.seed)));
  const float k = bump(c.p);
  const float off = (hash(band, 2, c.seed) - 0.5f) * 0.2f * k * k;
  return c.fade(u + off, v, smooth(0.45f, 0.55f, c.p));
}

V4 glitchMemories(const Ctx& c, float u, float v) {
  const int bx = (int)(u * 16), by = (int)(v * 16);
  const float k = bump(c.p) * 0.04f;
  const float dr = (hash(bx, by, c.seed) - 0.5f) * k, db = (hash(bx, by, c.seed + 3) - 0.5f) * k;
  const V4 r = c.fade(u + dr, v, c.p), g = c.fade(u, v, c.p), b = c.fade(u + db, v + db, c.p);
  return {{b.c[0], g.c[1], r.c[2], g.c[3]}};
}

V4 tvStatic(const Ctx& c, float u, float v) {
  const float k = smooth(0.f, 0.35f, c.p) * smooth(1.f, 0.65f, c.p);
  const int frame = (int)(c.p * 1000.f);
  const float n = hash((int)(u * c.w), (int)(v * c.h) + frame * 4099, c.seed) * 255.f;
  const V4 base = c.p < 0.5f ? c.a(u, v) : c.b(u, v);
  return mix(base, {{n, n, n, base.c[3]}}, k);
}

V4 hexagonalize(const Ctx& c, float u, float v) {
  const float size = std::max(1.5f / c.h, bump(c.p) * 0.05f);
  // Axial hex coordinates of the point, rounded to the nearest centre.
  const float x = u * c.aspect / size, y = v / size;
  const float q = (2.f / 3.f) * x, r = (-1.f / 3.f) * x + (std::sqrt(3.f) / 3.f) * y;
  float rq = std::round(q), rr = std::round(r), rs = std::round(-q - r);
  const float dq = std::fabs(rq - q), dr = std::fabs(rr - r), ds = std::fabs(rs + q + r);
  if (dq > dr && dq > ds)
    rq = -rr - rs;
  else if (dr > ds)
    rr = -rq - rs;
  const float hx = 1.5f * rq * size, hy = std::sqrt(3.f) * (rr + rq / 2) * size;
  return c.fade(hx / c.aspect, hy, c.p);
}

V4 crystallize(const Ctx& c, float u, float v) {
  const float cells = std::min(c.w, 4.f + (1 - bump(c.p)) * (c.w - 4.f));
  if (cells >= c.w) return c.fade(u, v, c.p);
  const float gx = u * cells, gy = v * cells / c.aspect;
  const int ix = (int)std::floor(gx), iy = (int)std::floor(gy);
  float best = 1e9f, bx = gx, by = gy;
  for (int j = -1; j <= 1; ++j)
    for (int i = -1; i <= 1; ++i) {
      const float px = (float)(ix + i) + hash(ix + i, iy + j, c.seed);
      const float py = (float)(iy + j) + hash(ix + i, iy + j, c.seed + 5);
      const float d = (gx - px) * (gx - px) + (gy - py) * (gy - py);
      if (d < best) best = d, bx = px, by = py;
    }
  return c.fade(bx / cells, by * c.aspect / cells, c.p);
}

V4 halftone(const Ctx& c, float u, float v) {
  const float k = bump(c.p), cells = 60.f;
  const V4 plain = c.fade(u, v, c.p);
  const float gx = u * cells, gy = v * cells / c.aspect;
  const float cu = (std::floor(gx) + 0.5f) / cells, cv = (std::floor(gy) + 0.5f) * c.aspect / cells;
  const V4 cell = c.fade(cu, cv, c.p);
  const float radius = std::sqrt(luma(cell) / 255.f) * 0.7072f;
  const V4 dots = std::hypot(fract(gx) - 0.5f, fract(gy) - 0.5f) < radius ? cell : kBlack;
  return mix(plain, dots, k);
}

V4 posterizeDissolve(const Ctx& c, float u, float v) {
  const float levels = 2.f + (1 - bump(c.p)) * 254.f;
  V4 x = c.fade(u, v, c.p);
  for (int i = 0; i < 3; ++i)
    x.c[i] = std::round(x.c[i] / 255.f * (levels - 1)) / (levels - 1) * 255.f;
  return x;
}

V4 sepiaOf(const V4& x) {
  const float r = x.c[2], g = x.c[1], b = x.c[0];
  return {{r * 0.272f + g * 0.534f + b * 0.131f, r * 0.349f + g * 0.686f + b * 0.168f,
           r * 0.393f + g * 0.769f + b * 0.189f, x.c[3]}};
}
V4 sepiaFade(const Ctx& c, float u, float v) {
  const V4 tone = sepiaOf(c.fade(u, v, c.p));
  return mix(c.fade(u, v, c.p), tone, std::min(1.f, bump(c.p) * 1.5f));
}

// ---- colour and light -----------------------------------------------------------------------

V4 colorPhase(const Ctx& c, float u, float v) {
  const V4 a = c.a(u, v), b = c.b(u, v);
  const float t[4] = {smooth(0.4f, 1.f, c.p), smooth(0.2f, 0.8f, c.p), smooth(0.f, 0.6f, c.p), c.p};
  V4 o;
  for (int i = 0; i < 4; ++i) o.c[i] = a.c[i] + (b.c[i] - a.c[i]) * t[i];
  return o;
}

V4 dipToColor(const Ctx& c, float u, float v) {
  const Pixel px = rgbParam(c.params->get(kDipColorParam));
  const V4 col = unpack(px);
  return c.p < 0.5f ? mix(c.a(u, v), col, smooth(0, 1, c.p * 2))
                    : mix(col, c.b(u, v), smooth(0, 1, c.p * 2 - 1));
}

V4 multiplyDissolve(const Ctx& c, float u, float v) {
  const V4 a = c.a(u, v), b = c.b(u, v);
  V4 m;
  for (int i = 0; i < 4; ++i) m.c[i] = a.c[i] * b.c[i] / 255.f;
  return c.p < 0.5f ? mix(a, m, c.p * 2) : mix(m, b, c.p * 2 - 1);
}

V4 screenDissolve(const Ctx& c, float u, float v) {
  const V4 a = c.a(u, v), b = c.b(u, v);
  V4 m;
  for (int i = 0; i < 4; ++i) m.c[i] = 255.f - (255.f - a.c[i]) * (255.f - b.c[i]) / 255.f;
  return c.p < 0.5f ? mix(a, m, c.p * 2) : mix(m, b, c.p * 2 - 1);
}

V4 differenceDissolve(const Ctx& c, float u, float v) {
  const V4 a = c.a(u, v), b = c.b(u, v);
  V4 m;
  for (int i = 0; i < 3; ++i) m.c[i] = std::fabs(a.c[i] - b.c[i]);
  m.c[3] = std::max(a.c[3], b.c[3]);
  return c.p < 0.5f ? mix(a, m, c.p * 2) : mix(m, b, c.p * 2 - 1);
}

V4 overexpose(const Ctx& c, float u, float v) {
  const float k = std::pow(bump(c.p), 3.f);
  return add(c.fade(u, v, smooth(0.35f, 0.65f, c.p)), 255.f * k);
}

V4 negativeFlash(const Ctx& c, float u, float v) {
  const V4 x = c.fade(u, v, smooth(0.4f, 0.6f, c.p));
  const V4 inv = {{255 - x.c[0], 255 - x.c[1], 255 - x.c[2], x.c[3]}};
  return mix(x, inv, smooth(0.2f, 0.5f, c.p) * smooth(0.8f, 0.5f, c.p));
}

V4 filmBurn(const Ctx& c, float u, float v) {
  const float k = bump(c.p);
  const float blob = fbm(u * 3.f * c.aspect + c.p * 2.f, v * 3.f, c.seed);
  const float glow = smooth(1.f - k, 1.f - k + 0.3f, blob) * k;
  const V4 warm = {{40, 140, 255, 0}};
  return addv(c.fade(u, v, smooth(0.3f, 0.7f, c.p)), scale(warm, glow * 1.5f));
}

V4 lightLeak(const Ctx& c, float u, float v) {
  const float pos = -0.3f + c.p * 1.6f, d = (u * 0.8f + v * 0.2f) - pos;
  const float glow = std::exp(-d * d * 18.f) * bump(c.p);
  const V4 warm = {{60, 150, 255, 0}};
  return addv(c.fade(u, v, smooth(0.25f, 0.75f, c.p)), scale(warm, glow));
}

// Blur Dissolve: the cross fade blurred by up to 24 pixels halfway (three box passes each way,
// close to a Gaussian), so it is a real blur, not copies.

void boxPass(const Image& src, Image& dst, int radius, bool horizontal) {
  const int w = src.width, h = src.height, n = horizontal ? w : h, lines = horizontal ? h : w;
  parallelRows(lines, n, [&](int l0, int l1) {
    for (int l = l0; l < l1; ++l) {
      auto at = [&](int i) {
        return horizontal ? src.at(std::clamp(i, 0, w - 1), l) : src.at(l, std::clamp(i, 0, h - 1));
      };
      uint32_t sum[4] = {0, 0, 0, 0};
      for (int i = -radius - 1; i < radius; ++i)
        for (int k = 0; k < 4; ++k) sum[k] += (at(i) >> (8 * k)) & 255;
      const uint32_t count = 2 * (uint32_t)radius + 1;
      for (int i = 0; i < n; ++i) {
        const Pixel in = at(i + radius), out = at(i - radius - 1);
        Pixel px = 0;
        for (int k = 0; k < 4; ++k) {
          sum[k] += ((in >> (8 * k)) & 255) - ((out >> (8 * k)) & 255);
          px |= (Pixel)((sum[k] + count / 2) / count) << (8 * k);
        }
        (horizontal ? dst.at(i, l) : dst.at(l, i)) = px;
      }
    }
  });
}

void blurDissolve(const Frame& f, float p) {
  Image& out = *f.out;
  const Ctx c{f.a, f.b, (float)out.width, (float)out.height, 1.f, p, f.seed, f.params};
  parallelRows(out.height, out.width, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < out.width; ++x)
        out.at(x, y) = pack(c.fade(((float)x + 0.5f) / c.w, ((float)y + 0.5f) / c.h, p));
  });
  const int radius = (int)std::lround(bump(p) * 24.f / 3.f);
  if (radius <= 0) return;
  Image tmp(out.width, out.height);
  for (int pass = 0; pass < 3; ++pass) {
    boxPass(out, tmp, radius, true);
    boxPass(tmp, out, radius, false);
  }
}

using PixelFn = V4 (*)(const Ctx&, float, float);
struct Entry {
  OSType code;
  const char* name;
  PixelFn fn;
};

const Entry kTable[] = {
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
    {'gbld', "Blur Dissolve", nullptr},  // a whole-frame blur, below
    {'grgb', "Chromatic Split", chromaticSplit},
    {'gmag', "Magnifier", magnifier},
    {'gflw', "Flower", flower},
    {'gpdc', "Polka Dots", polkaDots},
    {'grsq', "Random Squares", randomSquares},
    {'gsqw', "Squares Wire", squaresWire},
    {'gpin', "Pinwheel", pinwheel},
    {'gchk', "Checker Fade", checkerFade},
    {'gdmd', "Diamond Grid", diamondGrid},
    {'gxht', "Crosshatch", crosshatch},
    {'gspr', "Spiral", spiral},
    {'gwav', "Wave Wipe", waveWipe},
    {'gnoi', "Cloud Dissolve", noiseDissolve},
    {'gink', "Ink Bleed", inkBleed},
    {'gsun', "Sunburst", sunburst},
    {'gsht', "Shutter", shutter},
    {'grng', "Ring Pulse", ringPulse},
    {'gbub', "Bubbles", bubbles},
    {'gpnt', "Paint Strokes", paintStrokes},
    {'gbrk', "Brick Wall", brickWall},
    {'gspt', "Spotlight", spotlight},
    {'ggfl', "Grid Flip", gridFlip},
    {'gtdr', "Tile Drop", tileDrop},
    {'gtsp', "Tile Spin", tileSpin},
    {'gvbl', "Venetian Turn", venetianRotate},
    {'gtwi', "Twist", twist},
    {'gcol', "Column Drop", columnDrop},
    {'grow', "Row Slide", rowSlide},
    {'gwsl', "Window Slice", windowSlice},
    {'gwbl', "Wavy Blinds", wavyBlinds},
    {'gilc', "Interlace", interlace},
    {'grai', "Rain", rain},
    {'glmm', "Luminance Melt", luminanceMelt},
    {'gdis', "Disintegrate", disintegrate},
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
    {'gglt', "Glitch Displace", glitchDisplace},
    {'gglm', "Glitch Memories", glitchMemories},
    {'gtvs', "TV Static", tvStatic},
    {'ghex', "Hexagonalize", hexagonalize},
    {'gcry', "Crystallize", crystallize},
    {'ghtn', "Halftone", halftone},
    {'gpos', "Posterize Dissolve", posterizeDissolve},
    {'gsep', "Sepia Fade", sepiaFade},
    {'gcph', "Color Phase", colorPhase},
    {'gdip', "Dip to Color", dipToColor},
    {'gmul', "Multiply Dissolve", multiplyDissolve},
    {'gscr', "Screen Dissolve", screenDissolve},
    {'gdif', "Difference Dissolve", differenceDissolve},
    {'govx', "Overexpose", overexpose},
    {'ginv', "Negative Flash", negativeFlash},
    {'gfbn', "Film Burn", filmBurn},
    {'glkl', "Light Leak", lightLeak},
};

}  // namespace

const std::vector<GalleryTransition>& galleryTransitions() {
  static const std::vector<GalleryTransition> list = [] {
    std::vector<GalleryTransition> out;
    for (const auto& e : kTable) out.push_back({e.code, e.name});
    return out;
  }();
  return list;
}

bool renderGallery(OSType code, const Frame& f, double p) {
  const Entry* entry = nullptr;
  for (const auto& e : kTable)
    if (e.code == code) entry = &e;
  if (!entry) return false;
  if (!entry->fn) {
    blurDissolve(f, (float)p);
    return true;
  }
  Image& out = *f.out;
  const Ctx ctx{f.a,
                f.b,
                (float)out.width,
                (float)out.height,
                (float)out.width / (float)std::max(1, out.height),
                (float)p,
                f.seed,
                f.params};
  const PixelFn fn = entry->fn;
  parallelRows(out.height, out.width, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      Pixel* row = out.row(y);
      const float v = ((float)y + 0.5f) / ctx.h;
      for (int x = 0; x < out.width; ++x) row[x] = pack(fn(ctx, ((float)x + 0.5f) / ctx.w, v));
    }
  });
  return true;
}

}  // namespace vt::effects

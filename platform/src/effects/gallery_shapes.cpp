// Shader-style transitions that open shapes, tiles and strips onto B.
#include <algorithm>
#include <cmath>

#include "effects/gallery_kit.h"

namespace vt::effects::gallery {
namespace {

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

}  // namespace

void addShapes(std::vector<Entry>& out) {
  out.insert(out.end(), {
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
                        });
}

}  // namespace vt::effects::gallery

// What the shader-style transitions share: a float pixel, sampling, hashing and noise, and the
// context each per-pixel function reads. Internal to the effects area.
#pragma once
#include <MacTypes.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/image.h"
#include "effects/render.h"

namespace vt::effects::gallery {

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
inline float noise(float x, float y, uint64_t seed) {
  const int ix = (int)std::floor(x), iy = (int)std::floor(y);
  const float fx = smooth(0, 1, x - (float)ix), fy = smooth(0, 1, y - (float)iy);
  const float a = hash(ix, iy, seed), b = hash(ix + 1, iy, seed);
  const float c = hash(ix, iy + 1, seed), d = hash(ix + 1, iy + 1, seed);
  return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}
inline float fbm(float x, float y, uint64_t seed) {
  return (noise(x, y, seed) * 0.57f + noise(x * 2, y * 2, seed + 1) * 0.29f +
          noise(x * 4, y * 4, seed + 2) * 0.14f);
}

// Bilinear, edges clamped: a picture sampled at its own pixel centres gives its own pixels.
inline V4 sample(const Image& im, float u, float v) {
  // Written so a NaN position lands on the edge rather than in a float-to-int conversion.
  const float fx0 = u * (float)im.width - 0.5f, fy0 = v * (float)im.height - 0.5f;
  const float x = fx0 > 0 ? std::min(fx0, (float)(im.width - 1)) : 0.f;
  const float y = fy0 > 0 ? std::min(fy0, (float)(im.height - 1)) : 0.f;
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

// A transition: its code, its name, and its per-pixel function (null for one drawn whole).
using PixelFn = V4 (*)(const Ctx&, float, float);
struct Entry {
  OSType code;
  const char* name;
  PixelFn fn;
};

// Each group of transitions appends its entries, in the order the effects list shows them.
void addMotion(std::vector<Entry>& out);
void addShapes(std::vector<Entry>& out);

}  // namespace vt::effects::gallery

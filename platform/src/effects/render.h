// The renderers behind every catalogue effect. Inputs arrive already scaled to the output's
// size (a black frame stands in for a missing source).
#pragma once
#include <algorithm>
#include <cstdint>

#include "core/image.h"
#include "core/yuv_image.h"
#include "effects/description.h"

namespace vt::effects {

struct Frame {
  const ParamSet* params = nullptr;
  const Image* a = nullptr;  // source A (filters' input), never null for transitions/filters
  const Image* b = nullptr;  // source B, never null for transitions
  Image* out = nullptr;
  uint64_t seed = 0;    // from the description, for deterministic randomness
  double fraction = 0;  // position within the sample, 0..1
};

void renderTransition(OSType code, const Frame& f);
// The transitions that mix or pick pixels (cross fades, hard-edged wipes), drawn on 4:2:0
// planes of out's size as the 32-bit renderer would draw them then converted: false for the
// others (and for inputs of another size, wipes with soft edges or borders), which go through
// 32-bit pictures.
bool transitionTakesYuv(OSType code);
bool renderTransitionYuv(OSType code, const ParamSet& params, uint64_t seed, const YuvView& a,
                         const YuvView& b, YuvImage& out);
void renderFilter(OSType code, const Frame& f);
void renderGenerator(OSType code, const Frame& f);

// Renders an effect with explicit parameter values; inputs of any size (null = absent).
// False when the code is not a catalogue effect.
bool renderEffect(const EffectInfo& info, const ParamSet& params, const Image* a, const Image* b,
                  Image& out, uint64_t seed, double fraction);

// Pixel helpers shared by the renderers.
// Blends two pixels, all four channels: w in 0..256 is the weight of q.
inline Pixel blend256(Pixel p, Pixel q, uint32_t w) {
  uint32_t iw = 256 - w;
  uint32_t rb = ((p & 0x00FF00FFu) * iw + (q & 0x00FF00FFu) * w + 0x00800080u) >> 8;
  uint32_t ag = (((p >> 8) & 0x00FF00FFu) * iw + ((q >> 8) & 0x00FF00FFu) * w + 0x00800080u);
  return (rb & 0x00FF00FFu) | (ag & 0xFF00FF00u);
}
inline uint8_t clamp255(int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }
// Branch-free, so loops that use it vectorise.
inline uint8_t clamp255f(float v) {
  return (uint8_t)(int)(std::min(255.0f, std::max(0.0f, v)) + 0.5f);
}
inline Pixel rgbParam(const ParamValue& v, uint8_t alpha = 255) {
  return makePixel((uint8_t)((int)v.v[0] >> 8), (uint8_t)((int)v.v[1] >> 8),
                   (uint8_t)((int)v.v[2] >> 8), alpha);
}
// Deterministic hashing for per-frame randomness.
inline uint64_t mix64(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x;
}
inline double unit(uint64_t h) { return (double)(h >> 11) * (1.0 / 9007199254740992.0); }

}  // namespace vt::effects

#include "core/icon.h"

#include <algorithm>
#include <cmath>

namespace vt {
namespace {

struct Colour {
  double r, g, b, a;
};

bool inRoundRect(double x, double y, double l, double t, double w, double h, double rad) {
  if (x < l || y < t || x >= l + w || y >= t + h) return false;
  double cx = std::clamp(x, l + rad, l + w - rad), cy = std::clamp(y, t + rad, t + h - rad);
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= rad * rad;
}

// Left of the line from (x0, 64) to (x1, 192)?
bool leftOf(double x, double y, double x0, double x1) {
  double at = x0 + (x1 - x0) * (y - 64) / 128.0;
  return x < at;
}

Colour hex(unsigned v) {
  return {((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0, 1};
}

// The icon's colour at a point of its 256-unit design.
Colour sample(double x, double y) {
  Colour c{0, 0, 0, 0};
  if (inRoundRect(x, y, 8, 8, 240, 240, 40)) c = hex(0x2b3440);
  for (double top : {36.0, 196.0}) {
    if (inRoundRect(x, y, 16, top, 224, 24, 0.01)) c = hex(0x1c222a);
    for (int k = 0; k < 7; ++k)
      if (inRoundRect(x, y, 30 + 28 * k, top + 7, 14, 10, 2)) c = hex(0xe8e8e8);
  }
  if (x >= 24 && x < 232 && y >= 64 && y < 192) {
    c = hex(0x3b7fd9);
    if (leftOf(x, y, 150, 106)) c = hex(0xf2a93b);
    if (!leftOf(x, y, 146, 102) && leftOf(x, y, 154, 110)) c = hex(0xffffff);
  }
  return c;
}

}  // namespace

Image appIcon(int size) {
  size = std::max(size, 1);
  constexpr int kSub = 4;
  const double unit = 256.0 / size;
  Image img(size, size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSub; ++sy)
        for (int sx = 0; sx < kSub; ++sx) {
          Colour c = sample((x + (sx + 0.5) / kSub) * unit, (y + (sy + 0.5) / kSub) * unit);
          r += c.r * c.a, g += c.g * c.a, b += c.b * c.a, a += c.a;
        }
      auto byte = [](double v) { return (uint8_t)std::lround(std::clamp(v, 0.0, 1.0) * 255); };
      img.at(x, y) = a > 0
                         ? makePixel(byte(r / a), byte(g / a), byte(b / a), byte(a / (kSub * kSub)))
                         : makePixel(0, 0, 0, 0);
    }
  return img;
}

}  // namespace vt

#include "effects/easing.h"

#include <algorithm>
#include <cmath>

#include "core/fourcc.h"

namespace vt::effects {

std::array<double, 4> easingPoints(const Easing& e) {
  switch (e.kind) {
    case kEaseIn: return {0.42, 0, 1, 1};
    case kEaseOut: return {0, 0, 0.58, 1};
    case kEaseInOut: return {0.42, 0, 0.58, 1};
    case kEaseBezier: return e.bezier;
    default: return {0, 0, 1, 1};
  }
}

double ease(const Easing& e, double t) {
  if (!std::isfinite(t)) return 0;
  t = std::clamp(t, 0.0, 1.0);
  if (e.kind == kEaseLinear || t == 0 || t == 1) return t;
  auto pts = easingPoints(e);
  const double x1 = std::clamp(pts[0], 0.0, 1.0), y1 = std::isfinite(pts[1]) ? pts[1] : 0;
  const double x2 = std::clamp(pts[2], 0.0, 1.0), y2 = std::isfinite(pts[3]) ? pts[3] : 1;
  // B(s) = 3(1-s)^2 s P1 + 3(1-s) s^2 P2 + s^3, with P0 = (0,0) and P3 = (1,1).
  auto bez = [](double a, double b, double s) {
    double r = 1 - s;
    return 3 * r * r * s * a + 3 * r * s * s * b + s * s * s;
  };
  // x(s) rises monotonically when x1, x2 lie in 0..1: bisection always converges.
  double lo = 0, hi = 1, s = t;
  for (int i = 0; i < 60; ++i) {
    s = (lo + hi) / 2;
    if (bez(x1, x2, s) < t)
      lo = s;
    else
      hi = s;
  }
  return bez(y1, y2, (lo + hi) / 2);
}

bool isEasingParam(OSType code) {
  return code == kEaseKindParam ||
         std::find(kBezierParams.begin(), kBezierParams.end(), code) != kBezierParams.end();
}

std::vector<uint8_t> encodeEasing(const Easing& e) {
  std::vector<uint8_t> out;
  if (e.kind == kEaseLinear) return out;
  auto put = [&](uint32_t v) {
    for (int sh = 24; sh >= 0; sh -= 8) out.push_back((uint8_t)(v >> sh));
  };
  put((uint32_t)e.kind);
  if (e.kind == kEaseBezier)
    for (double v : e.bezier)
      put((uint32_t)(int32_t)std::lround(std::clamp(v, -32767.0, 32767.0) * 65536));
  return out;
}

bool decodeEasing(const uint8_t* p, size_t n, Easing& out) {
  if (n < 4) return false;
  uint32_t kind = readBE32(p);
  if (kind > kEaseBezier) return false;
  if ((kind == kEaseBezier) != (n == 20) || (kind != kEaseBezier && n != 4)) return false;
  out.kind = (int)kind;
  if (kind == kEaseBezier)
    for (size_t i = 0; i < 4; ++i) out.bezier[i] = (int32_t)readBE32(p + 4 + 4 * i) / 65536.0;
  return true;
}

}  // namespace vt::effects

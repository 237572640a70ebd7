// The transitions ffmpeg's xfade filter names that the older effects do not already give. They
// follow xfade's arithmetic (8-bit channels, results truncated as xfade stores them), so a
// movie and ffmpeg agree; `q` below is xfade's progress, which runs from 1 (all A) to 0 (all
// B), i.e. 1 - percentage. Wind, Cover and Reveal are newer than the ffmpeg our checks run and
// are our own reading of their names.
#include "effects/xfade.h"

#include <algorithm>
#include <cmath>

#include "effects/parallel.h"
#include "effects/render.h"

namespace vt::effects {
namespace {

inline float mixf(float a, float b, float m) { return a * m + b * (1.f - m); }
inline float smoothstep(float e0, float e1, float x) {
  float t = std::clamp((x - e0) / (e1 - e0), 0.f, 1.f);
  return t * t * (3.f - 2.f * t);
}
inline float fract(float x) { return x - std::floor(x); }
inline float frand(int x, int y) {
  const float r = std::sin((float)x * 12.9898f + (float)y * 78.233f) * 43758.545f;
  return r - std::floor(r);
}
inline uint8_t ch(Pixel p, int c) { return (uint8_t)(p >> (8 * c)); }
inline uint8_t store(float v) { return (uint8_t)(int)std::clamp(v, 0.f, 255.f); }

// Per channel: m weights a, 1 - m weights b (xfade's mix).
inline Pixel mixPixel(Pixel a, Pixel b, float m) {
  Pixel out = 0;
  for (int c = 0; c < 4; ++c) out |= (Pixel)store(mixf(ch(a, c), ch(b, c), m)) << (8 * c);
  return out;
}

template <class F>
void eachPixel(const Frame& f, const F& fn) {
  Image& O = *f.out;
  parallelRows(O.height, O.width, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      Pixel* out = O.row(y);
      for (int x = 0; x < O.width; ++x) out[x] = fn(x, y);
    }
  });
}

int dir(const Frame& f) { return (int)f.params->num('xdir'); }

void wipe(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const int w = A.width, h = A.height;
  const int d = dir(f);
  const int zx = d == 1 || d == 5 || d == 7 ? (int)(w * q) : (int)(w * (1 - q));
  const int zy = d == 3 || d == 5 || d == 6 ? (int)(h * q) : (int)(h * (1 - q));
  eachPixel(f, [&](int x, int y) {
    bool a;
    switch (d) {
      case 1: a = x <= zx; break;
      case 2: a = x > zx; break;
      case 3: a = y <= zy; break;
      case 4: a = y > zy; break;
      case 5: a = y <= zy && x <= zx; break;
      case 6: a = y <= zy && x > zx; break;
      case 7: a = y > zy && x <= zx; break;
      default: a = y > zy && x > zx; break;
    }
    return a ? A.at(x, y) : B.at(x, y);
  });
}

// Soft-edged wipes: a smooth value per pixel, A's weight the smoothstep of it (or B's).
void smoothWipe(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const int iw = A.width, ih = A.height;
  const float w = (float)iw, h = (float)ih;
  // xfade halves the size in floats for the barn wipes, in integers for the circles and radial.
  const float w2 = (float)iw / 2.f, h2 = (float)ih / 2.f;
  const float cx = (float)(iw / 2), cy = (float)(ih / 2);
  const float z = std::hypot(cx, cy);
  const int style = (int)f.params->num('xsty');
  eachPixel(f, [&](int ix, int iy) {
    const float x = (float)ix, y = (float)iy;
    float s;
    bool aWeight = false;  // true: mix(A, B, ss); false: mix(B, A, ss)
    switch (style) {
      case 1: s = 1.f + x / w - q * 2.f; break;
      case 2: s = 1.f + (w - 1 - x) / w - q * 2.f; break;
      case 3: s = 1.f + y / h - q * 2.f; break;
      case 4: s = 1.f + (h - 1 - y) / h - q * 2.f; break;
      case 5: s = 1.f + x / w * y / h - q * 2.f; break;
      case 6: s = 1.f + (w - 1 - x) / w * y / h - q * 2.f; break;
      case 7: s = 1.f + x / w * (h - 1 - y) / h - q * 2.f; break;
      case 8: s = 1.f + (w - 1 - x) / w * (h - 1 - y) / h - q * 2.f; break;
      case 9: s = 2.f - std::fabs((x - w2) / w2) - q * 2.f; break;
      case 10: s = 1.f + std::fabs((x - w2) / w2) - q * 2.f; break;
      case 11: s = 2.f - std::fabs((y - h2) / h2) - q * 2.f; break;
      case 12: s = 1.f + std::fabs((y - h2) / h2) - q * 2.f; break;
      case 13:
        s = std::hypot(x - cx, y - cy) / z + (q - 0.5f) * 3.f;
        aWeight = true;
        break;
      case 14: s = std::hypot(x - cx, y - cy) / z + (1.f - q - 0.5f) * 3.f; break;
      default: s = std::atan2(x - cx, y - cy) - (q - 0.5f) * ((float)M_PI * 2.5f); break;
    }
    const float ss = smoothstep(0.f, 1.f, s);
    return aWeight ? mixPixel(A.at(ix, iy), B.at(ix, iy), ss)
                   : mixPixel(B.at(ix, iy), A.at(ix, iy), ss);
  });
}

void slices(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const float w = (float)A.width, h = (float)A.height;
  const int d = dir(f);
  eachPixel(f, [&](int x, int y) {
    const float t = d == 1 ? x / w : d == 2 ? (w - 1 - x) / w : d == 3 ? y / h : (h - 1 - y) / h;
    const float smooth = smoothstep(-0.5f, 0.f, t - q * 1.5f);
    return smooth <= fract(10.f * t) ? A.at(x, y) : B.at(x, y);
  });
}

// Rows (or columns) blown away at their own pace.
void wind(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const float w = (float)A.width, h = (float)A.height;
  const int d = dir(f);
  const float t = 1.f - q;
  eachPixel(f, [&](int x, int y) {
    const bool rows = d <= 2;
    const float r = rows ? frand(0, y) : frand(x, 0);
    const float along = rows ? x / w : y / h;
    const float v = (d == 1 || d == 3 ? 1.f - along : along) * 0.8f + 0.2f * r;
    const float ss = 1.f - smoothstep(v - 0.1f, v + 0.1f, t * 1.2f - 0.1f);
    return mixPixel(A.at(x, y), B.at(x, y), ss);
  });
}

// Cover: B slides in over a still A. Reveal: A slides out over a still B.
void coverReveal(const Frame& f, float q, bool cover) {
  const Image &A = *f.a, &B = *f.b;
  const int w = A.width, h = A.height;
  const int d = dir(f);
  const bool horizontal = d <= 2;
  const int side = horizontal ? w : h;
  const int shift = (int)((1 - q) * side);
  eachPixel(f, [&](int x, int y) {
    const int at = horizontal ? x : y;
    // Leftwards/upwards: the moving picture travels towards 0.
    const bool towardsZero = d == 1 || d == 3;
    if (cover) {
      const int from = towardsZero ? at - (side - shift) : at + (side - shift);
      if (from < 0 || from >= side) return A.at(x, y);
      return horizontal ? B.at(from, y) : B.at(x, from);
    }
    const int from = towardsZero ? at + shift : at - shift;
    if (from < 0 || from >= side) return B.at(x, y);
    return horizontal ? A.at(from, y) : A.at(x, from);
  });
}

void fadeThrough(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const int via = (int)f.params->num('xvia');
  const float phase = 0.2f;
  const float ka = smoothstep(1.f - phase, 1.f, q), kb = smoothstep(phase, 1.f, q);
  const Pixel flat = via == 2 ? 0xFFFFFFFFu : 0xFF000000u;
  auto gray = [](Pixel p) {
    const uint8_t g = (uint8_t)((ch(p, 0) + ch(p, 1) + ch(p, 2)) / 3);
    return (p & 0xFF000000u) | (Pixel)g << 16 | (Pixel)g << 8 | g;
  };
  eachPixel(f, [&](int x, int y) {
    const Pixel a = A.at(x, y), b = B.at(x, y);
    const Pixel ga = via == 3 ? gray(a) : flat, gb = via == 3 ? gray(b) : flat;
    Pixel out = 0;
    for (int c = 0; c < 4; ++c) {
      const float first = mixf(ch(a, c), ch(ga, c), ka), second = mixf(ch(gb, c), ch(b, c), kb);
      out |= (Pixel)store(mixf(first, second, q)) << (8 * c);
    }
    return out;
  });
}

// Fades whose pace depends on how much a pixel changes: fast (1) or slow (2).
void tonalFade(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const bool fast = (int)f.params->num('xsty') != 2;
  eachPixel(f, [&](int x, int y) {
    const Pixel a = A.at(x, y), b = B.at(x, y);
    Pixel out = 0;
    for (int c = 0; c < 4; ++c) {
      const float d = std::fabs((float)ch(a, c) - (float)ch(b, c)) / 255.f;
      const float e = 1.f + std::log(fast ? 1.f + d : 2.f - d);
      out |= (Pixel)store(mixf(ch(a, c), ch(b, c), std::pow(q, e))) << (8 * c);
    }
    return out;
  });
}

void squeeze(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const float w = (float)A.width, h = (float)A.height;
  const bool vertical = (int)f.params->num('xdir') == 2;
  eachPixel(f, [&](int x, int y) {
    const float z = vertical ? .5f + (x / w - .5f) / q : .5f + (y / h - .5f) / q;
    if (z < 0.f || z > 1.f) return B.at(x, y);
    return vertical ? A.at((int)std::lrint(z * (w - 1.f)), y)
                    : A.at(x, (int)std::lrint(z * (h - 1.f)));
  });
}

void zoomIn(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const float w = (float)A.width, h = (float)A.height;
  const float zf = smoothstep(0.5f, 1.f, q), fade = smoothstep(0.f, 0.5f, q);
  eachPixel(f, [&](int x, int y) {
    const float u = zf * (x / w - 0.5f) + 0.5f, v = zf * (y / h - 0.5f) + 0.5f;
    const int iu = std::clamp((int)std::ceil(u * (w - 1)), 0, A.width - 1);
    const int iv = std::clamp((int)std::ceil(v * (h - 1)), 0, A.height - 1);
    return mixPixel(A.at(iu, iv), B.at(x, y), fade);
  });
}

void pixelize(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const int w = A.width, h = A.height;
  const float d = std::min(q, 1.f - q);
  const float dist = std::ceil(d * 50.f) / 50.f;
  const float sq = 2.f * dist * (float)std::min(w, h) / 20.f;
  eachPixel(f, [&](int x, int y) {
    int sx = x, sy = y;
    if (dist > 0.f && sq > 0.f) {
      sx = (int)std::min((std::floor(x / sq) + .5f) * sq, (float)(w - 1));
      sy = (int)std::min((std::floor(y / sq) + .5f) * sq, (float)(h - 1));
    }
    return mixPixel(A.at(sx, sy), B.at(sx, sy), q);
  });
}

void horizontalBlur(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  Image& O = *f.out;
  const int w = A.width;
  const float prog = q <= 0.5f ? q * 2.f : (1.f - q) * 2.f;
  const int size = std::min(w, 1 + (int)((float)(w / 2) * prog));
  parallelRows(O.height, w, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const Pixel *a = A.row(y), *b = B.row(y);
      Pixel* out = O.row(y);
      float sa[4] = {0, 0, 0, 0}, sb[4] = {0, 0, 0, 0};
      int count = size;
      for (int x = 0; x < size; ++x)
        for (int c = 0; c < 4; ++c) {
          sa[c] += ch(a[x], c);
          sb[c] += ch(b[x], c);
        }
      for (int x = 0; x < w; ++x) {
        Pixel o = 0;
        for (int c = 0; c < 4; ++c)
          o |= (Pixel)store(mixf(sa[c] / (float)count, sb[c] / (float)count, q)) << (8 * c);
        out[x] = o;
        for (int c = 0; c < 4; ++c) {
          if (x + size < w) {
            sa[c] += (float)ch(a[x + size], c) - ch(a[x], c);
            sb[c] += (float)ch(b[x + size], c) - ch(b[x], c);
          } else {
            sa[c] -= ch(a[x], c);
            sb[c] -= ch(b[x], c);
          }
        }
        if (x + size >= w) --count;
      }
    }
  });
}

void distance(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  eachPixel(f, [&](int x, int y) {
    const Pixel a = A.at(x, y), b = B.at(x, y);
    float d = 0;
    for (int c = 0; c < 3; ++c) {
      const float k = ch(a, c) / 255.f - ch(b, c) / 255.f;
      d += k * k;
    }
    const float near = std::sqrt(d) <= q ? 1.f : 0.f;
    Pixel out = 0;
    for (int c = 0; c < 4; ++c)
      out |= (Pixel)store(mixf(mixf(ch(a, c), ch(b, c), near), ch(b, c), q)) << (8 * c);
    return out;
  });
}

void crop(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  const int w = A.width, h = A.height;
  const bool circle = (int)f.params->num('xsty') != 2;
  const float z =
      std::pow(2.f * std::fabs(q - 0.5f), 3.f) * std::hypot((float)(w / 2), (float)(h / 2));
  const int zw = (int)(std::fabs(q - 0.5f) * (float)w), zh = (int)(std::fabs(q - 0.5f) * (float)h);
  const Pixel black = 0xFF000000u;
  eachPixel(f, [&](int x, int y) {
    const bool inside = circle ? !(z < std::hypot((float)(x - w / 2), (float)(y - h / 2)))
                               : std::abs(x - w / 2) < zw && std::abs(y - h / 2) < zh;
    if (!inside) return black;
    return q < 0.5f ? B.at(x, y) : A.at(x, y);
  });
}

void randomDissolve(const Frame& f, float q) {
  const Image &A = *f.a, &B = *f.b;
  eachPixel(f, [&](int x, int y) {
    const float s = frand(x, y) * 2.f + q * 2.f - 1.5f;
    return s >= 0.5f ? A.at(x, y) : B.at(x, y);
  });
}

}  // namespace

bool renderXfade(OSType code, const Frame& f, double p) {
  const float q = (float)(1.0 - p);
  switch (code) {
    case 'xwip': wipe(f, q); return true;
    case 'xsmo': smoothWipe(f, q); return true;
    case 'xslc': slices(f, q); return true;
    case 'xwnd': wind(f, q); return true;
    case 'xcov': coverReveal(f, q, true); return true;
    case 'xrvl': coverReveal(f, q, false); return true;
    case 'xfth': fadeThrough(f, q); return true;
    case 'xton': tonalFade(f, q); return true;
    case 'xsqz': squeeze(f, q); return true;
    case 'xzin': zoomIn(f, q); return true;
    case 'xpix': pixelize(f, q); return true;
    case 'xhbl': horizontalBlur(f, q); return true;
    case 'xdst': distance(f, q); return true;
    case 'xcrp': crop(f, q); return true;
    case 'xdis': randomDissolve(f, q); return true;
    default: return false;
  }
}

}  // namespace vt::effects

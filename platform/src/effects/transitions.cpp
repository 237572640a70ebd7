// Two-source effects. Every transition shows exactly A at 0% and exactly B at 100%.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "effects/parallel.h"
#include "effects/render.h"
#include "effects/smpte.h"
#include "effects/gallery.h"
#include "effects/xfade.h"

namespace vt::effects {
namespace {

void copyImage(const Image& src, Image& dst) {
  std::memcpy(dst.pixels.data(), src.pixels.data(), dst.pixels.size() * sizeof(Pixel));
}

// blend256 over runs of bytes, in 16-bit lanes (the widest multiply SIMD units have for them).
inline __attribute__((always_inline)) void fadeLoop(const uint8_t* a, const uint8_t* b, uint8_t* o,
                                                    size_t n, uint16_t w) {
  const uint16_t iw = (uint16_t)(256 - w);
  for (size_t i = 0; i < n; ++i)
    o[i] = (uint8_t)((uint16_t)((uint16_t)(a[i] * iw) + (uint16_t)(b[i] * w) + 128) >> 8);
}
__attribute__((target("avx2"))) void fadeBytesAvx2(const uint8_t* a, const uint8_t* b, uint8_t* o,
                                                   size_t n, uint16_t w) {
  fadeLoop(a, b, o, n, w);
}
void fadeBytesPlain(const uint8_t* a, const uint8_t* b, uint8_t* o, size_t n, uint16_t w) {
  fadeLoop(a, b, o, n, w);
}
// AVX2 where the processor has it, chosen on first use (not by an ifunc resolver, which runs
// before the sanitizers' runtimes are up).
void fadeBytes(const uint8_t* a, const uint8_t* b, uint8_t* o, size_t n, uint16_t w) {
  static const auto fn = __builtin_cpu_supports("avx2") ? fadeBytesAvx2 : fadeBytesPlain;
  fn(a, b, o, n, w);
}

void crossFade(const Frame& f, double p) {
  const uint16_t w = (uint16_t)std::lround(p * 256);
  const auto* a = reinterpret_cast<const uint8_t*>(f.a->pixels.data());
  const auto* b = reinterpret_cast<const uint8_t*>(f.b->pixels.data());
  auto* o = reinterpret_cast<uint8_t*>(f.out->pixels.data());
  const size_t row = (size_t)f.out->width * sizeof(Pixel);
  parallelRows(f.out->height, f.out->width, [&](int y0, int y1) {
    fadeBytes(a + y0 * row, b + y0 * row, o + y0 * row, (size_t)(y1 - y0) * row, w);
  });
}

// B pushes A out: both move by the same offset.
void push(const Frame& f, double p) {
  const int W = f.out->width, H = f.out->height;
  int from = (int)f.params->num('from');
  const Image &A = *f.a, &B = *f.b;
  Image& O = *f.out;
  // The incoming offset rounds up, as ffmpeg's xfade slides do, so the two agree to the pixel.
  if (from == 1 || from == 3) {  // vertical
    int o = H - (int)((1 - p) * H);
    for (int y = 0; y < H; ++y) {
      const Pixel* src = from == 1 ? (y < o ? B.row(y + H - o) : A.row(y - o))
                                   : (y < H - o ? A.row(y + o) : B.row(y - (H - o)));
      std::memcpy(O.row(y), src, (size_t)W * sizeof(Pixel));
    }
    return;
  }
  int o = W - (int)((1 - p) * W);
  parallelRows(H, W, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      Pixel* out = O.row(y);
      if (from == 4) {  // from the left
        std::memcpy(out, B.row(y) + (W - o), (size_t)o * sizeof(Pixel));
        std::memcpy(out + o, A.row(y), (size_t)(W - o) * sizeof(Pixel));
      } else {  // from the right
        std::memcpy(out, A.row(y) + o, (size_t)(W - o) * sizeof(Pixel));
        std::memcpy(out + (W - o), B.row(y), (size_t)o * sizeof(Pixel));
      }
    }
  });
}

// B slides in over a still A, from the direction `angl` (degrees clockwise, 0 = from the top).
void slide(const Frame& f, double p) {
  const int W = f.out->width, H = f.out->height;
  double a = f.params->num('angl') * M_PI / 180;
  double dx = std::sin(a), dy = -std::cos(a);
  if (std::fabs(dx) < 1e-9) dx = 0;
  if (std::fabs(dy) < 1e-9) dy = 0;
  double L = 1e300;
  if (dx != 0) L = std::min(L, W / std::fabs(dx));
  if (dy != 0) L = std::min(L, H / std::fabs(dy));
  int ox = (int)std::lround((1 - p) * L * dx), oy = (int)std::lround((1 - p) * L * dy);
  const Image &A = *f.a, &B = *f.b;
  Image& O = *f.out;
  parallelRows(H, W, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      int by = y - oy;
      std::memcpy(O.row(y), A.row(y), (size_t)W * sizeof(Pixel));
      if (by < 0 || by >= H) continue;
      int x0 = std::max(0, ox), x1 = std::min(W, W + ox);
      if (x1 > x0)
        std::memcpy(O.row(y) + x0, B.row(by) + (x0 - ox), (size_t)(x1 - x0) * sizeof(Pixel));
    }
  });
}

// Draws src scaled into the rectangle (left, top, width, height) of dst, nearest sampling.
void drawScaled(const Image& src, Image& dst, double left, double top, double w, double h) {
  const int W = dst.width, H = dst.height;
  if (w <= 0 || h <= 0) return;
  int x0 = std::max(0, (int)std::ceil(left - 0.5)),
      x1 = std::min(W, (int)std::ceil(left + w - 0.5));
  int y0 = std::max(0, (int)std::ceil(top - 0.5)), y1 = std::min(H, (int)std::ceil(top + h - 0.5));
  if (x1 <= x0 || y1 <= y0) return;
  thread_local std::vector<int> columns;
  columns.resize((size_t)W);
  std::vector<int>& cols = columns;  // the workers must see this thread's table
  for (int x = x0; x < x1; ++x)
    cols[(size_t)x] = std::clamp((int)((x + 0.5 - left) * src.width / w), 0, src.width - 1);
  parallelRows(y1 - y0, x1 - x0, [&](int r0, int r1) {
    for (int y = y0 + r0; y < y0 + r1; ++y) {
      int sy = std::clamp((int)((y + 0.5 - top) * src.height / h), 0, src.height - 1);
      const Pixel* s = src.row(sy);
      Pixel* o = dst.row(y);
      for (int x = x0; x < x1; ++x) o[x] = s[cols[(size_t)x]];
    }
  });
}

// A zooms towards the viewer while B grows out of the centre over it.
void zoom(const Frame& f, double p) {
  const double W = f.out->width, H = f.out->height;
  double s = 1 + p;
  drawScaled(*f.a, *f.out, W / 2 - W * s / 2, H / 2 - H * s / 2, W * s, H * s);
  drawScaled(*f.b, *f.out, W / 2 - W * p / 2, H / 2 - H * p / 2, W * p, H * p);
}

void explode(const Frame& f, double p, bool implode) {
  const double W = f.out->width, H = f.out->height;
  double cx = std::clamp(f.params->num('xcnt'), 0.0, 1.0) * W;
  double cy = std::clamp(f.params->num('ycnt'), 0.0, 1.0) * H;
  if (!implode) {  // B grows from the point to the whole frame
    copyImage(*f.a, *f.out);
    drawScaled(*f.b, *f.out, cx * (1 - p), cy * (1 - p), W * p, H * p);
  } else {  // A shrinks into the point
    copyImage(*f.b, *f.out);
    drawScaled(*f.a, *f.out, cx * p, cy * p, W * (1 - p), H * (1 - p));
  }
}

void smpte(OSType code, const Frame& f, double p) {
  const ParamSet& ps = *f.params;
  int id = resolvePattern((int)ps.num('wpID'), f.seed);
  if (!id) id = code == 'smpt' ? 1 : code == 'smp2' ? 101 : code == 'smp3' ? 201 : 301;
  const int W = f.out->width, H = f.out->height;
  auto field = patternField(id, W, H, (int)ps.num('hori'), (int)ps.num('vert'));
  const float bw = (float)std::max(0.0, ps.num('widt'));
  const bool soft = ps.num('soft') != 0;
  const float sw = soft ? std::max(2.0f, std::min(W, H) / 50.0f) : 0.0f;
  const Pixel border = rgbParam(ps.get('bclr'));
  // The front travels past 1 by enough to clear the border and the soft edge.
  const float q = (float)(p * (1.0 + (bw + sw) * field->gradMax));
  const float* fv = field->f.data();
  const float* ig = field->invGrad.data();
  const Pixel* a = f.a->pixels.data();
  const Pixel* b = f.b->pixels.data();
  Pixel* o = f.out->pixels.data();
  if (!soft && bw <= 0) {
    // The common case reads only the 16-bit field: B where the front has passed.
    const uint32_t t = (uint32_t)std::ceil(q * 65536.0f);
    const uint16_t* f16 = field->f16.data();
    parallelRows(H, W, [&](int y0, int y1) {
      // Both pixels are loaded unconditionally so the select vectorises.
      const size_t begin = (size_t)y0 * W, end = (size_t)y1 * W;
      for (size_t i = begin; i < end; ++i) {
        Pixel pa = a[i], pb = b[i];
        o[i] = f16[i] < t ? pb : pa;
      }
    });
    return;
  }
  parallelRows(H, W, [&](int y0, int y1) {
    size_t begin = (size_t)y0 * W, end = (size_t)y1 * W;
    if (!soft) {
      for (size_t i = begin; i < end; ++i) {
        float d = (fv[i] - q) * ig[i];  // pixels ahead of the front (negative: passed)
        Pixel pa = a[i], pb = b[i];
        o[i] = d >= 0 ? pa : (d < -bw ? pb : border);
      }
      return;
    }
    for (size_t i = begin; i < end; ++i) {
      float d = (fv[i] - q) * ig[i];
      if (d >= 0) {
        o[i] = a[i];
        continue;
      }
      if (d <= -(bw + sw) && d <= -sw) {
        o[i] = b[i];
        continue;
      }
      float t1 = std::min(1.0f, -d / sw);
      Pixel behind = b[i];
      if (bw > 0) {
        float t2 = std::clamp((-d - bw) / sw, 0.0f, 1.0f);
        behind = blend256(border, b[i], (uint32_t)(t2 * 256));
      }
      o[i] = blend256(a[i], behind, (uint32_t)(t1 * 256));
    }
  });
}

// Luminance of the matte (0..255/256 of full scale), at the output's size.
void matteLuma(const Frame& f, std::vector<uint8_t>& luma) {
  const int W = f.out->width, H = f.out->height;
  luma.resize((size_t)W * H);
  const ImageRef& m = f.params->get('mtte').image;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint8_t l;
      if (m.pixels) {
        Pixel px = m.at((int)((long)x * m.width / W), (int)((long)y * m.height / H));
        l = (uint8_t)((pixelR(px) * 77 + pixelG(px) * 150 + pixelB(px) * 29) >> 8);
      } else {  // default matte: a soft radial gradient, the centre first
        double dx = (x + 0.5) / W - 0.5, dy = (y + 0.5) / H - 0.5;
        l = (uint8_t)std::min(255.0, std::sqrt(dx * dx + dy * dy) / 0.7072 * 255);
      }
      luma[(size_t)y * W + x] = l;
    }
}

void gradientWipe(const Frame& f, double p) {
  // The default matte depends only on the size: it is made once per size and kept.
  thread_local std::vector<uint8_t> luma;
  thread_local int madeW = 0, madeH = 0;
  const bool given = f.params->get('mtte').image.pixels != nullptr;
  if (given || madeW != f.out->width || madeH != f.out->height) {
    matteLuma(f, luma);
    madeW = given ? 0 : f.out->width;
    madeH = given ? 0 : f.out->height;
  }
  const double s = std::clamp(f.params->num('soft'), 0.0, 1.0);
  const float pos = (float)(p * (1 + s) * 256);  // in matte units: luma 0..255 < 256
  const float inv = s > 0 ? (float)(1.0 / (s * 256)) : 0;
  const Pixel* a = f.a->pixels.data();
  const Pixel* b = f.b->pixels.data();
  Pixel* o = f.out->pixels.data();
  const uint8_t* l = luma.data();
  parallelRows(f.out->height, f.out->width, [&](int y0, int y1) {
    size_t begin = (size_t)y0 * f.out->width, end = (size_t)y1 * f.out->width;
    for (size_t i = begin; i < end; ++i) {
      float d = pos - l[i];
      if (inv == 0)
        o[i] = d > 0 ? b[i] : a[i];
      else
        o[i] = blend256(a[i], b[i], (uint32_t)(std::clamp(d * inv, 0.0f, 1.0f) * 256));
    }
  });
}

// The composite is shown at 50%; the first half fades it in over A, the second fades to B.
template <class Composite>
void twoStage(const Frame& f, double p, const Composite& composite) {
  const bool first = p < 0.5;
  const uint32_t w = (uint32_t)std::lround((first ? 2 * p : 2 * p - 1) * 256);
  const Pixel* a = f.a->pixels.data();
  const Pixel* b = f.b->pixels.data();
  Pixel* o = f.out->pixels.data();
  parallelRows(f.out->height, f.out->width, [&](int y0, int y1) {
    size_t begin = (size_t)y0 * f.out->width, end = (size_t)y1 * f.out->width;
    for (size_t i = begin; i < end; ++i) {
      Pixel c = composite(a[i], b[i]);
      o[i] = first ? blend256(a[i], c, w) : blend256(c, b[i], w);
    }
  });
}

void alphaCompositor(const Frame& f, double p) {
  int mode = (int)f.params->num('bMod');
  Pixel m = rgbParam(f.params->get('mclr'));
  if (mode == 2) {
    twoStage(f, p, [m](Pixel a, Pixel b) {
      // A was premultiplied against m: out = A + (1 - alpha)(B - m).
      int ia = 255 - pixelA(a);
      auto ch = [&](int s) {
        int v = (int)((a >> s) & 255) +
                (ia * ((int)((b >> s) & 255) - (int)((m >> s) & 255)) + 127) / 255;
        return (Pixel)clamp255(v) << s;
      };
      return (Pixel)0xFF000000u | ch(16) | ch(8) | ch(0);
    });
  } else {
    bool reverse = mode == 3;
    twoStage(f, p, [reverse](Pixel a, Pixel b) {
      Pixel top = reverse ? b : a, bottom = reverse ? a : b;
      uint32_t w = pixelA(top);
      return blend256(bottom, top, w + (w >> 7)) | 0xFF000000u;
    });
  }
}

void chromaKey(const Frame& f, double p) {
  const ParamValue& k = f.params->get('keyc');
  const int kr = (int)k.v[0] >> 8, kg = (int)k.v[1] >> 8, kb = (int)k.v[2] >> 8;
  const float tol = (float)std::max(1.0, f.params->num('tolr'));
  const float tol2 = tol * tol, outer2 = (tol * 1.25f) * (tol * 1.25f);
  twoStage(f, p, [=](Pixel a, Pixel b) {
    float dr = (float)(pixelR(a) - kr), dg = (float)(pixelG(a) - kg), db = (float)(pixelB(a) - kb);
    float d2 = dr * dr + dg * dg + db * db;
    if (d2 >= outer2) return a;
    if (d2 <= tol2) return b;
    float t = (std::sqrt(outer2) - std::sqrt(d2)) / (std::sqrt(outer2) - tol);
    return blend256(a, b, (uint32_t)(t * 256));
  });
}

}  // namespace

void renderTransition(OSType code, const Frame& f) {
  double p = std::clamp(f.params->num('pcnt') / 100.0, 0.0, 1.0);
  if (p <= 0) return copyImage(*f.a, *f.out);
  if (p >= 1) return copyImage(*f.b, *f.out);
  switch (code) {
    case 'dslv': return crossFade(f, p);
    case 'push': return push(f, p);
    case 'slid': return slide(f, p);
    case 'zoom': return zoom(f, p);
    case 'xplo': return explode(f, p, false);
    case 'mplo': return explode(f, p, true);
    case 'smpt':
    case 'smp2':
    case 'smp3':
    case 'smp4': return smpte(code, f, p);
    case 'matt': return gradientWipe(f, p);
    case 'blnd': return alphaCompositor(f, p);
    case 'ckey': return chromaKey(f, p);
    default:
      if (!renderXfade(code, f, p) && !renderGallery(code, f, p)) crossFade(f, p);
      return;
  }
}

bool transitionTakesYuv(OSType code) {
  return code == 'dslv' || code == 'smpt' || code == 'smp2' || code == 'smp3' || code == 'smp4';
}

namespace {

// A cross fade on the planes: mixing is linear, so it is the mix of the pictures, to the
// rounding.
void crossFadeYuv(double p, const YuvView& a, const YuvView& b, YuvImage& out) {
  const uint16_t w = p <= 0 ? 0 : p >= 1 ? 256 : (uint16_t)std::lround(p * 256);
  const int cw = (out.width + 1) / 2, ch = (out.height + 1) / 2;
  for (int pl = 0; pl < 3; ++pl) {
    const int width = pl ? cw : out.width, height = pl ? ch : out.height;
    const uint8_t *pa = a.plane[pl], *pb = b.plane[pl];
    const int sa = a.stride[pl], sb = b.stride[pl], so = out.stride[pl];
    uint8_t* po = out.plane(pl);
    parallelRows(height, width, [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y) {
        if (w == 0 || w == 256)
          std::memcpy(po + (size_t)y * so, (w ? pb + (size_t)y * sb : pa + (size_t)y * sa),
                      (size_t)width);
        else
          fadeBytes(pa + (size_t)y * sa, pb + (size_t)y * sb, po + (size_t)y * so, (size_t)width,
                    w);
      }
    });
  }
}

// A hard-edged SMPTE wipe on the planes: each pixel's luma is A's or B's as the picture's pixel
// is; each chroma sample mixes A's and B's by how many of its pixels show B. Soft edges and
// borders go through pictures.
bool smpteYuv(OSType code, const ParamSet& ps, uint64_t seed, double p, const YuvView& a,
              const YuvView& b, YuvImage& out) {
  if (ps.num('soft') != 0 || ps.num('widt') > 0) return false;
  int id = resolvePattern((int)ps.num('wpID'), seed);
  if (!id) id = code == 'smpt' ? 1 : code == 'smp2' ? 101 : code == 'smp3' ? 201 : 301;
  const int W = out.width, H = out.height;
  auto field = patternField(id, W, H, (int)ps.num('hori'), (int)ps.num('vert'));
  const uint32_t t = (uint32_t)std::ceil((float)p * 65536.0f);  // as the picture's wipe
  const uint16_t* f16 = field->f16.data();
  parallelRows((H + 1) / 2, W, [&](int c0, int c1) {
    for (int cy = c0; cy < c1; ++cy) {
      for (int y = 2 * cy; y < std::min(2 * cy + 2, H); ++y) {
        const uint8_t *ya = a.plane[0] + (size_t)y * a.stride[0],
                      *yb = b.plane[0] + (size_t)y * b.stride[0];
        uint8_t* yo = out.plane(0) + (size_t)y * out.stride[0];
        const uint16_t* row = f16 + (size_t)y * W;
        for (int x = 0; x < W; ++x) yo[x] = row[x] < t ? yb[x] : ya[x];
      }
      for (int pl = 1; pl < 3; ++pl) {
        const uint8_t* ca = a.plane[pl] + (size_t)cy * a.stride[pl];
        const uint8_t* cb = b.plane[pl] + (size_t)cy * b.stride[pl];
        uint8_t* co = out.plane(pl) + (size_t)cy * out.stride[pl];
        for (int cx = 0; cx < (W + 1) / 2; ++cx) {
          int all = 0, fromB = 0;
          for (int y = 2 * cy; y < std::min(2 * cy + 2, H); ++y)
            for (int x = 2 * cx; x < std::min(2 * cx + 2, W); ++x, ++all)
              fromB += f16[(size_t)y * W + x] < t;
          co[cx] = (uint8_t)((ca[cx] * (all - fromB) + cb[cx] * fromB + all / 2) / all);
        }
      }
    }
  });
  return true;
}

}  // namespace

bool renderTransitionYuv(OSType code, const ParamSet& params, uint64_t seed, const YuvView& a,
                         const YuvView& b, YuvImage& out) {
  if (!transitionTakesYuv(code) || a.empty() || b.empty() || out.width <= 0 || out.height <= 0)
    return false;
  if (a.width != out.width || a.height != out.height || b.width != out.width ||
      b.height != out.height)
    return false;
  const double p = std::clamp(params.num('pcnt') / 100.0, 0.0, 1.0);
  if (code != 'dslv') return smpteYuv(code, params, seed, p, a, b, out);
  crossFadeYuv(p, a, b, out);
  return true;
}

}  // namespace vt::effects

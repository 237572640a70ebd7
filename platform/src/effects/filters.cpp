// One-source effects.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "effects/parallel.h"
#include "effects/render.h"

namespace vt::effects {
namespace {

using Lut = std::array<uint8_t, 256>;

// Applies per-channel tables (alpha kept) to every pixel.
void applyLuts(const Frame& f, const Lut& r, const Lut& g, const Lut& b) {
  const Pixel* in = f.a->pixels.data();
  Pixel* o = f.out->pixels.data();
  parallelRows(f.out->height, f.out->width, [&](int y0, int y1) {
    size_t begin = (size_t)y0 * f.out->width, end = (size_t)y1 * f.out->width;
    for (size_t i = begin; i < end; ++i) {
      Pixel p = in[i];
      o[i] = (p & 0xFF000000u) | ((Pixel)r[pixelR(p)] << 16) | ((Pixel)g[pixelG(p)] << 8) |
             b[pixelB(p)];
    }
  });
}

// Brightness and contrast on one channel value, both -255..255.
int brightContrast(int v, double brightness, double contrast) {
  double c = std::clamp(contrast, -255.0, 254.0);
  double factor = 259.0 * (c + 255.0) / (255.0 * (259.0 - c));
  return (int)std::lround(factor * (v - 128) + 128 + brightness);
}

void brightnessContrast(const Frame& f) {
  Lut t;
  for (int v = 0; v < 256; ++v)
    t[(size_t)v] = clamp255(brightContrast(v, f.params->num('brig'), f.params->num('cont')));
  applyLuts(f, t, t, t);
}

void rgbBalance(const Frame& f) {
  Lut r, g, b;
  double m[3] = {f.params->num('rmul'), f.params->num('gmul'), f.params->num('bmul')};
  for (int v = 0; v < 256; ++v) {
    r[(size_t)v] = clamp255((int)std::lround(v * m[0]));
    g[(size_t)v] = clamp255((int)std::lround(v * m[1]));
    b[(size_t)v] = clamp255((int)std::lround(v * m[2]));
  }
  applyLuts(f, r, g, b);
}

// Solarize: values above the point are mirrored by `amount`/255; then posterize to `post`
// levels (fewer than 2 levels: off).
void colorStyle(const Frame& f) {
  double amount = f.params->num('solr') / 255.0;
  int point = (int)f.params->num('solp');
  int levels = (int)f.params->num('post');
  Lut t;
  for (int v = 0; v < 256; ++v) {
    double x = v;
    if (v > point) x = v + (255 - 2 * v) * amount;
    int y = clamp255((int)std::lround(x));
    if (levels >= 2 && levels < 256)
      y = (int)std::lround(std::floor(y * levels / 256.0) * 255.0 / (levels - 1));
    t[(size_t)v] = clamp255(y);
  }
  applyLuts(f, t, t, t);
}

// Greyscale, brightness and contrast, then the grey maps from the dark to the light colour.
void colorTint(const Frame& f) {
  int type = (int)f.params->num('tint');
  double back[3], fore[3];
  const ParamValue &bk = f.params->get('back'), &fg = f.params->get('fore');
  static const double presets[5][6] = {
      {0, 0, 0, 255, 255, 255},    // black and white
      {255, 255, 255, 0, 10, 40},  // X-ray: inverted, with a blue cast in the darks
      {40, 20, 0, 255, 236, 200},  // sepia
      {0, 10, 50, 180, 210, 255},  // cobalt
  };
  for (int c = 0; c < 3; ++c) {
    if (type >= 1 && type <= 4) {
      back[c] = presets[type - 1][c];
      fore[c] = presets[type - 1][c + 3];
    } else {
      back[c] = bk.v[(size_t)c] / 257.0;
      fore[c] = fg.v[(size_t)c] / 257.0;
    }
  }
  Lut r, g, b;
  for (int v = 0; v < 256; ++v) {
    double l = clamp255(brightContrast(v, f.params->num('brig'), f.params->num('cont'))) / 255.0;
    r[(size_t)v] = clamp255((int)std::lround(back[0] + (fore[0] - back[0]) * l));
    g[(size_t)v] = clamp255((int)std::lround(back[1] + (fore[1] - back[1]) * l));
    b[(size_t)v] = clamp255((int)std::lround(back[2] + (fore[2] - back[2]) * l));
  }
  const Pixel* in = f.a->pixels.data();
  Pixel* o = f.out->pixels.data();
  parallelRows(f.out->height, f.out->width, [&](int y0, int y1) {
    size_t begin = (size_t)y0 * f.out->width, end = (size_t)y1 * f.out->width;
    for (size_t i = begin; i < end; ++i) {
      Pixel p = in[i];
      uint32_t l = (pixelR(p) * 77u + pixelG(p) * 150u + pixelB(p) * 29u + 128) >> 8;
      o[i] = (p & 0xFF000000u) | ((Pixel)r[l] << 16) | ((Pixel)g[l] << 8) | b[l];
    }
  });
}

void alphaGain(const Frame& f) {
  double gain = f.params->num('gain'), offs = f.params->num('offs');
  double top = f.params->num('pinT'), bottom = f.params->num('pinB');
  Lut t;
  for (int v = 0; v < 256; ++v) {
    double a = std::clamp(gain * (v / 255.0) + offs, std::min(bottom, top), top);
    t[(size_t)v] = clamp255((int)std::lround(a * 255));
  }
  const Pixel* in = f.a->pixels.data();
  Pixel* o = f.out->pixels.data();
  parallelRows(f.out->height, f.out->width, [&](int y0, int y1) {
    size_t begin = (size_t)y0 * f.out->width, end = (size_t)y1 * f.out->width;
    for (size_t i = begin; i < end; ++i)
      o[i] = (in[i] & 0x00FFFFFFu) | ((Pixel)t[pixelA(in[i])] << 24);
  });
}

// A row through HSL and back, with selects instead of branches so it vectorises. Hue in
// sextants (0..6); back to RGB with f(n) = L - a * max(-1, min(k - 3, 9 - k, 1)),
// k = (n + 2h) mod 12, a = S * min(L, 1 - L).
void hslRow(Pixel* __restrict o, const Pixel* __restrict in, size_t n, float hm, float sm,
            float lm) {
  for (size_t i = 0; i < n; ++i) {
    Pixel p = in[i];
    float r = (float)(int)pixelR(p) * (1 / 255.0f), g = (float)(int)pixelG(p) * (1 / 255.0f);
    float b = (float)(int)pixelB(p) * (1 / 255.0f);
    float mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
    float l = (mx + mn) * 0.5f, d = mx - mn, dd = std::max(d, 1e-6f);
    float hr = (g - b) / dd + (g < b ? 6.0f : 0.0f), hg = (b - r) / dd + 2, hb = (r - g) / dd + 4;
    float h = mx == r ? hr : (mx == g ? hg : hb);
    bool grey = d <= 1e-6f;
    h = grey ? 0.0f : h;
    float s = grey ? 0.0f : std::min(1.0f, d / std::max(1 - std::fabs(2 * l - 1), 1e-6f));
    // Hue and k are never negative here, so truncation is floor (and vectorises on SSE2).
    h *= hm;
    h -= 6 * (float)(int)(h * (1 / 6.0f));
    s = std::min(1.0f, s * sm);
    l = std::min(1.0f, l * lm);
    float a = s * std::min(l, 1 - l);
    auto channel = [&](float offset) {
      float k = offset + 2 * h;
      k -= 12 * (float)(int)(k * (1 / 12.0f));
      return l - a * std::max(-1.0f, std::min(std::min(k - 3, 9 - k), 1.0f));
    };
    o[i] = (p & 0xFF000000u) | ((Pixel)clamp255f(channel(0) * 255) << 16) |
           ((Pixel)clamp255f(channel(8) * 255) << 8) | clamp255f(channel(4) * 255);
  }
}

// Hue, saturation and lightness multipliers (hue turns wrap around the colour wheel).
void hslBalance(const Frame& f) {
  const float hm = (float)f.params->num('hmul'), sm = (float)f.params->num('smul');
  const float lm = (float)f.params->num('vmul');
  const Pixel* in = f.a->pixels.data();
  Pixel* o = f.out->pixels.data();
  if (hm == 1) {
    // Hue kept: within one hue every channel sits at L + (c - L) scaled by the chroma, so
    // new saturation and lightness need no trip through hue (and the loop vectorises).
    parallelRows(f.out->height, f.out->width, [&](int y0, int y1) {
      size_t begin = (size_t)y0 * f.out->width, end = (size_t)y1 * f.out->width;
      for (size_t i = begin; i < end; ++i) {
        Pixel p = in[i];
        float r = (float)pixelR(p), g = (float)pixelG(p), b = (float)pixelB(p);
        float mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
        float l = (mx + mn) * (0.5f / 255), c = (mx - mn) / 255;
        float room = 1 - std::fabs(2 * l - 1);
        // Denominators kept non-zero instead of branching, so the divisions vectorise.
        float s = std::min(1.0f, c / std::max(room, 1e-6f));
        float l2 = std::min(1.0f, l * lm), s2 = std::min(1.0f, s * sm);
        float c2 = (1 - std::fabs(2 * l2 - 1)) * s2;
        float k = c2 / std::max(c, 1e-6f), base = l2 * 255, mid = l * 255;
        o[i] = (p & 0xFF000000u) | ((Pixel)clamp255f(base + (r - mid) * k) << 16) |
               ((Pixel)clamp255f(base + (g - mid) * k) << 8) | clamp255f(base + (b - mid) * k);
      }
    });
    return;
  }
  parallelRows(f.out->height, f.out->width, [&](int y0, int y1) {
    size_t begin = (size_t)y0 * f.out->width, end = (size_t)y1 * f.out->width;
    hslRow(o + begin, in + begin, end - begin, hm, sm, lm);
  });
}

// Row kernels as plain functions: their bounds are locals and the pointers do not alias, so
// the compiler vectorises them (bounds captured by a lambda could alias the stores).
void keepAlpha(Pixel* __restrict o, const Pixel* __restrict a, int n) {
  for (int x = 0; x < n; ++x) o[x] = (o[x] & 0x00FFFFFFu) | (a[x] & 0xFF000000u);
}
void addRow(uint16_t* __restrict sum, const uint16_t* __restrict add, size_t n) {
  for (size_t j = 0; j < n; ++j) sum[j] = (uint16_t)(sum[j] + add[j]);
}
void addBytes(uint16_t* __restrict sum, const uint8_t* __restrict add, size_t n) {
  for (size_t j = 0; j < n; ++j) sum[j] = (uint16_t)(sum[j] + add[j]);
}
void slideRow(uint16_t* __restrict sum, const uint16_t* __restrict add,
              const uint16_t* __restrict sub, size_t n) {
  for (size_t j = 0; j < n; ++j) sum[j] = (uint16_t)(sum[j] + add[j] - sub[j]);
}
void scaleRow(uint8_t* __restrict d, const uint16_t* __restrict sum, uint32_t inv, size_t n) {
  for (size_t j = 0; j < n; ++j) d[j] = (uint8_t)(((uint32_t)sum[j] * inv) >> 16);
}

// Box blur of radius r, colour channels only; alpha is kept. Works on the frame as bytes
// (each of the four channels is its own lane) with 16-bit sums, so the loops vectorise:
// horizontal sums of n bytes four apart, then vertical running sums down the columns.
// Division by the kernel's area is a multiply by a reciprocal rounded up, so a flat area
// keeps its exact value (n * n * 255 < 65536 for every kernel size up to 15).
void boxBlur(const Image& src, Image& dst, int r) {
  const int W = src.width, H = src.height, n = 2 * r + 1;
  const size_t rowBytes = (size_t)W * 4;
  thread_local std::vector<uint16_t> scratch;
  scratch.resize(rowBytes * H);
  uint16_t* tmp = scratch.data();  // the workers must see this thread's buffer
  const uint8_t* in = reinterpret_cast<const uint8_t*>(src.pixels.data());
  uint8_t* out = reinterpret_cast<uint8_t*>(dst.pixels.data());
  // Per-band scratch lives in this thread's buffers, indexed by band.
  const size_t padBytes = rowBytes + 8 * (size_t)r;
  thread_local std::vector<uint8_t> paddedRows;
  thread_local std::vector<uint16_t> sumRows;
  paddedRows.resize(padBytes * kMaxBands);
  sumRows.resize(rowBytes * kMaxBands);
  uint8_t* paddedAll = paddedRows.data();
  uint16_t* sumsAll = sumRows.data();
  parallelBands(H, W, [&](int y0, int y1, int band) {
    uint8_t* padded = paddedAll + padBytes * band;
    for (int y = y0; y < y1; ++y) {
      // The row with its end pixels repeated r times on each side.
      const uint8_t* s = in + rowBytes * y;
      uint8_t* p = padded;
      for (int k = 0; k < r; ++k) {
        std::memcpy(p + 4 * k, s, 4);
        std::memcpy(p + 4 * (r + W + k), s + rowBytes - 4, 4);
      }
      std::memcpy(p + 4 * r, s, rowBytes);
      uint16_t* t = tmp + rowBytes * y;
      std::fill(t, t + rowBytes, (uint16_t)0);
      for (int k = 0; k < n; ++k) addBytes(t, p + 4 * k, rowBytes);
    }
  });
  const uint32_t inv = (65536u + (uint32_t)(n * n) - 1) / (uint32_t)(n * n);
  parallelBands(H, W, [&](int y0, int y1, int band) {
    uint16_t* cs = sumsAll + rowBytes * band;
    std::fill(cs, cs + rowBytes, (uint16_t)0);
    for (int k = y0 - r; k <= y0 + r; ++k) {
      addRow(cs, tmp + rowBytes * std::clamp(k, 0, H - 1), rowBytes);
    }
    for (int y = y0; y < y1; ++y) {
      scaleRow(out + rowBytes * y, cs, inv, rowBytes);
      slideRow(cs, tmp + rowBytes * std::min(y + r + 1, H - 1), tmp + rowBytes * std::max(y - r, 0),
               rowBytes);
      keepAlpha(dst.row(y), src.row(y), W);  // alpha is the source's
    }
  });
}

void scaleColours(Image& img, double k) {
  if (std::fabs(k - 1) < 1e-9) return;
  Lut t;
  for (int v = 0; v < 256; ++v) t[(size_t)v] = clamp255((int)std::lround(v * k));
  for (Pixel& p : img.pixels)
    p = (p & 0xFF000000u) | ((Pixel)t[pixelR(p)] << 16) | ((Pixel)t[pixelG(p)] << 8) | t[pixelB(p)];
}

void blur(const Frame& f) {
  int k = (int)f.params->num('ksiz');
  boxBlur(*f.a, *f.out, std::clamp(k, 3, 15) / 2);
  scaleColours(*f.out, f.params->num('ksum'));
}

// Unsharp mask: the input plus its difference from a blur of the kernel's size.
void sharpen(const Frame& f) {
  int k = (int)f.params->num('ksiz');
  boxBlur(*f.a, *f.out, std::clamp(k, 3, 15) / 2);
  const Pixel* in = f.a->pixels.data();
  Pixel* o = f.out->pixels.data();
  parallelRows(f.out->height, f.out->width, [&](int y0, int y1) {
    size_t begin = (size_t)y0 * f.out->width, end = (size_t)y1 * f.out->width;
    for (size_t i = begin; i < end; ++i) {
      Pixel p = in[i], b = o[i];
      o[i] = (p & 0xFF000000u) | ((Pixel)clamp255(2 * pixelR(p) - pixelR(b)) << 16) |
             ((Pixel)clamp255(2 * pixelG(p) - pixelG(b)) << 8) |
             clamp255(2 * pixelB(p) - pixelB(b));
    }
  });
  scaleColours(*f.out, f.params->num('ksum'));
}

// 3x3 convolutions over the frame as bytes (each channel its own lane). `rows` hold the
// three source rows with one repeated pixel at each end, so every output byte j reads bytes
// j, j + 4 and j + 8 of each; the alpha lane is restored from the source afterwards.
struct Rows3 {
  const uint8_t* r[3];
};

template <class Kernel>
void convolveRows(const Image& src, Image& dst, const Kernel& kernel) {
  const int W = src.width, H = src.height;
  const size_t rowBytes = (size_t)W * 4;
  const size_t bandBytes = (rowBytes + 8) * 3;
  thread_local std::vector<uint8_t> pads;
  pads.resize(bandBytes * kMaxBands);
  uint8_t* padAll = pads.data();  // per band, in this thread's buffer
  parallelBands(H, W, [&](int y0, int y1, int band) {
    uint8_t* pad = padAll + bandBytes * band;
    for (int y = y0; y < y1; ++y) {
      Rows3 rows;
      for (int j = 0; j < 3; ++j) {
        const uint8_t* s =
            reinterpret_cast<const uint8_t*>(src.row(std::clamp(y - 1 + j, 0, H - 1)));
        uint8_t* p = pad + (rowBytes + 8) * j;
        std::memcpy(p, s, 4);
        std::memcpy(p + 4, s, rowBytes);
        std::memcpy(p + 4 + rowBytes, s + rowBytes - 4, 4);
        rows.r[j] = p;
      }
      uint8_t* d = reinterpret_cast<uint8_t*>(dst.row(y));
      kernel(rows, d, rowBytes, band);
      keepAlpha(dst.row(y), src.row(y), W);
    }
  });
}

inline uint8_t sat(int v) { return (uint8_t)std::min(255, std::max(0, v)); }

void edgeDetect(const Frame& f) {
  // Sobel: |horizontal gradient| + |vertical gradient| per channel.
  convolveRows(*f.a, *f.out, [](const Rows3& R, uint8_t* d, size_t n, int) {
    const uint8_t *a = R.r[0], *b = R.r[1], *c = R.r[2];
    for (size_t j = 0; j < n; ++j) {
      int gx = (a[j + 8] - a[j]) + 2 * (b[j + 8] - b[j]) + (c[j + 8] - c[j]);
      int gy = (c[j] - a[j]) + 2 * (c[j + 4] - a[j + 4]) + (c[j + 8] - a[j + 8]);
      d[j] = sat((gx < 0 ? -gx : gx) + (gy < 0 ? -gy : gy));
    }
  });
}

// Emboss: relief around mid grey, then the grey of the relief.
void emboss(const Frame& f) {
  convolveRows(*f.a, *f.out, [](const Rows3& R, uint8_t* d, size_t n, int) {
    const uint8_t *a = R.r[0], *c = R.r[2], *b = R.r[1];
    for (size_t j = 0; j < n; ++j) {
      int v = -2 * a[j] - a[j + 4] - b[j] + b[j + 8] + c[j + 4] + 2 * c[j + 8];
      d[j] = sat(v + 128);
    }
  });
  Pixel* o = f.out->pixels.data();
  const size_t width = (size_t)f.out->width;
  parallelRows(f.out->height, f.out->width, [o, width](int y0, int y1) {
    for (size_t i = (size_t)y0 * width; i < (size_t)y1 * width; ++i) {
      Pixel p = o[i];
      uint32_t l = (pixelR(p) * 77u + pixelG(p) * 150u + pixelB(p) * 29u + 128) >> 8;
      o[i] = (p & 0xFF000000u) | (l << 16) | (l << 8) | l;
    }
  });
}

void generalConvolution(const Frame& f) {
  static const OSType codes[9] = {'cel1', 'cel2', 'cel3', 'cel4', 'cel5',
                                  'cel6', 'cel7', 'cel8', 'cel9'};
  float k[9];
  for (int i = 0; i < 9; ++i) k[i] = (float)f.params->num(codes[i]);
  // The rows as floats once, then nine multiply-adds per byte on plain float arrays; the float
  // rows of each band live in this thread's buffer.
  const size_t bandFloats = ((size_t)f.a->width * 4 + 8) * 3;
  thread_local std::vector<float> floats;
  floats.resize(bandFloats * kMaxBands);
  float* floatAll = floats.data();
  convolveRows(*f.a, *f.out,
               [&k, floatAll, bandFloats](const Rows3& R, uint8_t* d, size_t n, int band) {
                 float* fl = floatAll + bandFloats * band;
                 float* rows[3];
                 for (int j = 0; j < 3; ++j) {
                   rows[j] = fl + (n + 8) * (size_t)j;
                   for (size_t i = 0; i < n + 8; ++i) rows[j][i] = R.r[j][i];
                 }
                 const float *a = rows[0], *b = rows[1], *c = rows[2];
                 const float k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3], k4 = k[4], k5 = k[5],
                             k6 = k[6], k7 = k[7], k8 = k[8];
                 for (size_t j = 0; j < n; ++j) {
                   float v = k0 * a[j] + k1 * a[j + 4] + k2 * a[j + 8] + k3 * b[j] + k4 * b[j + 4] +
                             k5 * b[j + 8] + k6 * c[j] + k7 * c[j + 4] + k8 * c[j + 8] + 0.5f;
                   v = std::min(255.0f, std::max(0.0f, v));
                   d[j] = (uint8_t)(int)v;
                 }
               });
}

// ---- film noise ----------------------------------------------------------------------------

void fillDisc(Image& img, double cx, double cy, double r, Pixel c, uint32_t weight) {
  int x0 = std::max(0, (int)(cx - r)), x1 = std::min(img.width - 1, (int)(cx + r));
  int y0 = std::max(0, (int)(cy - r)), y1 = std::min(img.height - 1, (int)(cy + r));
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      if (dx * dx + dy * dy <= r * r) img.at(x, y) = blend256(img.at(x, y), c, weight);
    }
}

void filmNoise(const Frame& f) {
  const ParamSet& ps = *f.params;
  Image& O = *f.out;
  const int W = O.width, H = O.height;
  // Our film runs at 300 frames over the sample: noise changes every frame, scratches every
  // 'sdur' frames, so a frame is the same each time it is drawn.
  const uint64_t frame = (uint64_t)std::llround(f.fraction * 300);
  const uint64_t fs = mix64(f.seed ^ (frame * 0x9E3779B97F4A7C15ULL));
  const int fade = (int)std::lround(ps.num('fade') * 256 / 100 * 0.75);
  const int flicker = (int)((unit(fs) - 0.5) * 16 * ps.num('fade') / 100);
  const Pixel* in = f.a->pixels.data();
  Pixel* o = O.pixels.data();
  parallelRows(H, W, [&](int y0, int y1) {
    size_t begin = (size_t)y0 * W, end = (size_t)y1 * W;
    for (size_t i = begin; i < end; ++i) {
      Pixel p = in[i];
      int l = (int)((pixelR(p) * 77u + pixelG(p) * 150u + pixelB(p) * 29u) >> 8) + flicker;
      int tr = l * 255 >> 8, tg = l * 230 >> 8, tb = l * 190 >> 8;  // aged, yellowed tone
      int r = pixelR(p) + (((tr - pixelR(p)) * fade) >> 8);
      int g = pixelG(p) + (((tg - pixelG(p)) * fade) >> 8);
      int b = pixelB(p) + (((tb - pixelB(p)) * fade) >> 8);
      o[i] =
          (p & 0xFF000000u) | ((Pixel)clamp255(r) << 16) | ((Pixel)clamp255(g) << 8) | clamp255(b);
    }
  });
  const double scale = std::min(W, H) / 480.0;
  // Scratches: long vertical lines that stay for 'sdur' frames.
  const int sdur = std::max(1, (int)ps.num('sdur'));
  const uint64_t epoch = frame / (uint64_t)sdur;
  const int scratches = (int)std::lround(ps.num('sden') / 10.0);
  const int swid = std::max(1, (int)std::lround(ps.num('swid') * std::max(1.0, scale)));
  for (int s = 0; s < scratches; ++s) {
    uint64_t h = mix64(f.seed ^ mix64(epoch * 131 + (uint64_t)s + 1));
    int x = (int)(unit(h) * W);
    bool light = (h >> 7) & 1;
    Pixel c = light ? makePixel(235, 235, 225) : makePixel(30, 25, 20);
    int y0 = (int)(unit(mix64(h)) * H * 0.3), y1 = H - (int)(unit(mix64(h + 1)) * H * 0.3);
    for (int y = y0; y < y1; ++y)
      for (int k = 0; k < swid && x + k < W; ++k) O.at(x + k, y) = blend256(O.at(x + k, y), c, 160);
  }
  // Dust: specks, new every frame.
  const int dust = (int)std::lround(ps.num('dden') * W * H / 400000.0);
  for (int d = 0; d < dust; ++d) {
    uint64_t h = mix64(fs + (uint64_t)d * 0x632BE59BD9B4E019ULL);
    double r = std::max(0.6, unit(mix64(h + 2)) * ps.num('dsiz') * scale);
    Pixel c = (h & 1) ? makePixel(20, 15, 10) : makePixel(240, 240, 230);
    fillDisc(O, unit(h) * W, unit(mix64(h + 1)) * H, r, c, 220);
  }
  // Hairs: thin curved dark strands.
  const int hairs = (int)std::lround(ps.num('hden') / 10.0);
  const double len = ps.num('hlen') / 100.0 * std::min(W, H) * 0.4;
  for (int k = 0; k < hairs; ++k) {
    uint64_t h = mix64(fs ^ (0xABCDEF12345ULL + (uint64_t)k * 7919));
    double x = unit(h) * W, y = unit(mix64(h + 1)) * H;
    double a = unit(mix64(h + 2)) * 2 * M_PI, bend = (unit(mix64(h + 3)) - 0.5) * 0.08;
    int steps = (int)len;
    for (int s = 0; s < steps; ++s) {
      x += std::cos(a);
      y += std::sin(a);
      a += bend;
      int ix = (int)x, iy = (int)y;
      if (ix >= 0 && iy >= 0 && ix < W && iy < H)
        O.at(ix, iy) = blend256(O.at(ix, iy), makePixel(10, 8, 5), 200);
    }
  }
}

// ---- lens flare ----------------------------------------------------------------------------

void lensFlare(const Frame& f) {
  const ParamSet& ps = *f.params;
  Image& O = *f.out;
  std::memcpy(O.pixels.data(), f.a->pixels.data(), O.pixels.size() * sizeof(Pixel));
  const int W = O.width, H = O.height;
  const double fx = W / 2.0 * (1 + ps.num('xcnt')), fy = H / 2.0 * (1 + ps.num('ycnt'));
  const double base = std::min(W, H) * 0.06 * ps.num('size') * (0.5 + ps.num('fsiz'));
  const double glowGain = ps.num('gbri') * ps.num('fbri');
  const ParamValue& col = ps.get('flrc');
  const float cr = (float)(col.v[0] / 65535), cg = (float)(col.v[1] / 65535),
              cb = (float)(col.v[2] / 65535);
  struct Blob {
    double x, y, r, gain;
    float tint[3];
    bool ring;
  };
  std::array<Blob, 10> blobs;
  int n = 0;
  blobs[(size_t)n++] = {fx, fy, base * 5, 0.9 * glowGain, {1, 1, 1}, false};          // glow
  blobs[(size_t)n++] = {fx, fy, base * 3.2, 0.35 * glowGain, {0.8f, 0.9f, 1}, true};  // halo
  int type = (int)ps.num('ftyp');
  static const double standard[][2] = {{0.4, 0.5}, {0.7, 0.3}, {1.2, 0.8}, {1.5, 0.4}, {1.9, 1.2}};
  static const double wide[][2] = {{0.25, 0.3}, {0.5, 0.2}, {0.8, 0.4}, {1.1, 0.25},
                                   {1.4, 0.5},  {1.7, 0.3}, {2.0, 0.7}};
  static const double tele[][2] = {{0.6, 1.0}, {1.3, 1.6}, {1.8, 0.9}};
  const double(*g)[2] = type == 2 ? wide : type == 3 ? tele : standard;
  int gc = type == 2 ? 7 : type == 3 ? 3 : 5;
  static const float tints[3][3] = {{1, 0.6f, 0.3f}, {0.4f, 1, 0.6f}, {0.5f, 0.6f, 1}};
  for (int i = 0; i < gc; ++i) {  // ghosts on the line through the centre
    double t = g[i][0];
    Blob b{fx + (W / 2.0 - fx) * t * 2,
           fy + (H / 2.0 - fy) * t * 2,
           base * g[i][1],
           0.25 * ps.num('fbri'),
           {tints[i % 3][0], tints[i % 3][1], tints[i % 3][2]},
           false};
    blobs[(size_t)n++] = b;
  }
  for (int k = 0; k < n; ++k) {
    const Blob& b = blobs[(size_t)k];
    if (b.r <= 0.5 || b.gain <= 0) continue;
    double reach = b.ring ? b.r * 1.4 : (k == 0 ? b.r * 3 : b.r);
    int x0 = std::max(0, (int)(b.x - reach)), x1 = std::min(W, (int)(b.x + reach) + 1);
    int y0 = std::max(0, (int)(b.y - reach)), y1 = std::min(H, (int)(b.y + reach) + 1);
    if (x1 <= x0 || y1 <= y0) continue;
    const float inv = (float)(1.0 / b.r), gain = (float)b.gain * 255;
    const float tr = b.tint[0] * cr * gain, tg = b.tint[1] * cg * gain, tb = b.tint[2] * cb * gain;
    const bool ring = b.ring, glow = k == 0;
    const float bx = (float)b.x, by = (float)b.y;
    parallelRows(y1 - y0, x1 - x0, [&](int r0, int r1) {
      const int xs = x0, xe = x1;  // locals: stores to the row cannot alias them
      for (int y = y0 + r0; y < y0 + r1; ++y) {
        Pixel* row = O.row(y);
        float dy = (y + 0.5f - by) * inv;
        // Branch-free per pixel so the loop vectorises; each shape is its own loop.
        auto add = [&](int x, float w) {
          Pixel p = row[x];
          row[x] = (p & 0xFF000000u) | ((Pixel)clamp255f(pixelR(p) + tr * w) << 16) |
                   ((Pixel)clamp255f(pixelG(p) + tg * w) << 8) | clamp255f(pixelB(p) + tb * w);
        };
        if (glow) {
          for (int x = xs; x < xe; ++x) {
            float dx = (x + 0.5f - bx) * inv;
            add(x, 1.0f / (1.0f + 12 * (dx * dx + dy * dy)));
          }
        } else if (ring) {
          for (int x = xs; x < xe; ++x) {
            float dx = (x + 0.5f - bx) * inv, e = std::sqrt(dx * dx + dy * dy) - 1;
            add(x, std::max(0.0f, 1 - e * e * 60));
          }
        } else {
          for (int x = xs; x < xe; ++x) {
            float dx = (x + 0.5f - bx) * inv, d2 = dx * dx + dy * dy;
            add(x, std::max(0.0f, 1 - d2 * d2));
          }
        }
      }
    });
  }
}

}  // namespace

void renderFilter(OSType code, const Frame& f) {
  switch (code) {
    case 'blur': return blur(f);
    case 'shrp': return sharpen(f);
    case 'edge': return edgeDetect(f);
    case 'embs': return emboss(f);
    case 'genk': return generalConvolution(f);
    case 'solr': return colorStyle(f);
    case 'tint': return colorTint(f);
    case 'rgbb': return rgbBalance(f);
    case 'hsvb': return hslBalance(f);
    case 'brco': return brightnessContrast(f);
    case 'gain': return alphaGain(f);
    case 'fmns': return filmNoise(f);
    case 'lens': return lensFlare(f);
    default:
      std::memcpy(f.out->pixels.data(), f.a->pixels.data(), f.out->pixels.size() * sizeof(Pixel));
  }
}

}  // namespace vt::effects

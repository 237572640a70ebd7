// Shader-style transitions: the pixel styles, colour and light, and the table of all of them.
// Each is a function of the output position (u, v in 0..1, v downwards,
// at pixel centres) and the progress p (0: all A, 1: all B) that samples A and B where it
// likes; positions outside a picture take its nearest edge. Randomness is a hash of the
// position and the description's seed, so a frame renders the same way every time.
#include "effects/gallery.h"

#include <algorithm>
#include <cmath>

#include "effects/gallery_kit.h"
#include "effects/parallel.h"

namespace vt::effects {
namespace gallery {
namespace {

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

void addStyles(std::vector<Entry>& out) {
  out.insert(out.end(), {
                            {'gbld', "Blur Dissolve", nullptr},  // a whole-frame blur, below
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
                        });
}

}  // namespace

// Every transition in list order, each renderer linked explicitly.
const std::vector<Entry>& table() {
  static const std::vector<Entry> all = [] {
    std::vector<Entry> out;
    addMotion(out);
    addShapes(out);
    addStyles(out);
    return out;
  }();
  return all;
}

}  // namespace gallery

const std::vector<GalleryTransition>& galleryTransitions() {
  static const std::vector<GalleryTransition> list = [] {
    std::vector<GalleryTransition> out;
    for (const auto& e : gallery::table()) out.push_back({e.code, e.name});
    return out;
  }();
  return list;
}

bool renderGallery(OSType code, const Frame& f, double p) {
  using namespace gallery;
  const Entry* entry = nullptr;
  for (const auto& e : gallery::table())
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

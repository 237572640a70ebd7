// Zero-source effects. Animation follows the position within the sample, so each frame is
// the same every time it is drawn. The smooth fields are computed on a coarse grid and
// interpolated, which keeps full-HD frames well inside a 60 fps budget.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "effects/parallel.h"
#include "effects/render.h"

namespace vt::effects {
namespace {

// Value noise on an integer lattice with smooth interpolation, seeded.
float lattice(int x, int y, uint32_t seed) {
  uint32_t h = (uint32_t)x * 0x27d4eb2du ^ (uint32_t)y * 0x165667b1u ^ seed;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  h ^= h >> 15;
  return (float)(h >> 8) * (1.0f / 16777216.0f);
}
float noise(float x, float y, uint32_t seed) {
  float fx = std::floor(x), fy = std::floor(y);
  int ix = (int)fx, iy = (int)fy;
  float tx = x - fx, ty = y - fy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  float a = lattice(ix, iy, seed), b = lattice(ix + 1, iy, seed);
  float c = lattice(ix, iy + 1, seed), d = lattice(ix + 1, iy + 1, seed);
  return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}
float fbm(float x, float y, uint64_t seed64, int octaves) {
  const uint32_t seed = (uint32_t)(seed64 ^ (seed64 >> 32));
  float sum = 0, amp = 0.5f, norm = 0;
  for (int o = 0; o < octaves; ++o) {
    sum += amp * noise(x, y, seed + (uint32_t)o * 7777u);
    norm += amp;
    x = x * 2.03f + 17.1f;
    y = y * 2.03f + 5.3f;
    amp *= 0.5f;
  }
  return sum / norm;
}

constexpr int kCell = 6;  // coarse grid step in pixels

// Evaluates fn on a grid of one sample per kCell pixels (plus a margin) into `grid`.
template <class F>
void coarseGrid(int W, int H, std::vector<float>& grid, int& gw, int& gh, const F& fn) {
  gw = W / kCell + 2;
  gh = H / kCell + 2;
  grid.resize((size_t)gw * gh);
  parallelRows(gh, gw * 16, [&](int y0, int y1) {
    for (int gy = y0; gy < y1; ++gy)
      for (int gx = 0; gx < gw; ++gx) grid[(size_t)gy * gw + gx] = fn(gx * kCell, gy * kCell);
  });
}

template <class S>
void shadeRow(Pixel* __restrict o, const float* __restrict top, const float* __restrict bot,
              float ty, int W, int y, const S& shade) {
  for (int x = 0; x < W; ++x) o[x] = shade(top[x] + (bot[x] - top[x]) * ty, x, y);
}

// Bilinear read of the coarse grid at every pixel, mapped to a colour by `shade`. The grid's
// rows are first stretched to the frame's width once, so the per-pixel work is a blend of two
// plain rows.
template <class S>
void expand(Image& O, const std::vector<float>& grid, int gw, int gh, const S& shade) {
  const int W = O.width;
  thread_local std::vector<float> wide;
  wide.resize((size_t)W * gh);
  float* rows = wide.data();  // the workers must see this thread's buffer
  parallelRows(gh, W, [&](int r0, int r1) {
    for (int gy = r0; gy < r1; ++gy) {
      const float* g = grid.data() + (size_t)gy * gw;
      float* out = rows + (size_t)gy * W;
      for (int x = 0; x < W; ++x) {
        int gx = x / kCell;
        float tx = (float)(x % kCell) / kCell;
        out[x] = g[gx] + (g[gx + 1] - g[gx]) * tx;
      }
    }
  });
  parallelRows(O.height, W, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const float* top = rows + (size_t)(y / kCell) * W;
      const float* bot = top + W;
      const float ty = (float)(y % kCell) / kCell;
      shadeRow(O.row(y), top, bot, ty, W, y, shade);
    }
  });
}

void cloud(const Frame& f) {
  Image& O = *f.out;
  const int W = O.width, H = O.height;
  const ParamSet& ps = *f.params;
  const Pixel fg = rgbParam(ps.get('fgdc')), bg = rgbParam(ps.get('bckc'));
  const double rot = ps.num('rotc') * M_PI / 180;
  const float cr = (float)std::cos(rot), sr = (float)std::sin(rot);
  const float scale = 6.0f / std::max(W, H);
  const float drift = (float)(f.fraction * 3);
  const uint64_t seed = f.seed;
  thread_local std::vector<float> grid;
  int gw, gh;
  coarseGrid(W, H, grid, gw, gh, [&](int x, int y) {
    float u = (x - W / 2.0f) * scale, v = (y - H / 2.0f) * scale;
    float ru = u * cr - v * sr + drift, rv = u * sr + v * cr + drift * 0.3f;
    float n = fbm(ru, rv, seed, 4);
    float c = std::clamp((n - 0.35f) / 0.4f, 0.0f, 1.0f);
    return c * c * (3 - 2 * c);
  });
  expand(O, grid, gw, gh, [&](float c, int, int) { return blend256(bg, fg, (uint32_t)(c * 256)); });
}

void fire(const Frame& f) {
  Image& O = *f.out;
  const int W = O.width, H = O.height;
  const ParamSet& ps = *f.params;
  const float height = (float)(0.25 + 0.7 * ps.num('sprd') / 100);  // share of the frame
  const float sputter = (float)(ps.num('decy') / 100);
  const float water = (float)(1 - 0.8 * ps.num('watr') / 100);
  const float speed = (float)(0.5 + 4 * ps.num('rset') / 100);
  const float t = (float)(f.fraction * 12 * speed);
  const float scale = 8.0f / std::max(W, H);
  const uint64_t seed = f.seed;
  // Flicker of the whole fire, from the sputter rate.
  const float flick = 1 - sputter * 0.4f * noise(t * 3, 0.5f, (uint32_t)seed + 99u);
  thread_local std::vector<float> grid;
  int gw, gh;
  coarseGrid(W, H, grid, gw, gh, [&](int x, int y) {
    float up = (float)(H - y) / H;  // 0 at the bottom
    float u = x * scale, v = y * scale;
    float n = fbm(u * 1.5f, v + t, seed, 4);  // rising turbulence
    float flame = 1 - up / (height * (0.6f + 0.8f * n));
    return std::clamp(flame * 1.6f * water * flick, 0.0f, 1.0f);
  });
  // Black, dark red, orange, yellow, white.
  static const std::array<Pixel, 256> palette = [] {
    std::array<Pixel, 256> p{};
    for (int i = 0; i < 256; ++i) {
      float v = i / 255.0f;
      p[(size_t)i] = makePixel(clamp255f(v * 3 * 255), clamp255f((v * 3 - 1) * 255),
                               clamp255f((v * 3 - 2) * 255));
    }
    return p;
  }();
  expand(O, grid, gw, gh, [&](float c, int, int) { return palette[(size_t)(c * 255)]; });
}

void ripple(const Frame& f) {
  Image& O = *f.out;
  const int W = O.width, H = O.height;
  const ImageRef& mask = f.params->get('mask').image;
  const uint64_t seed = f.seed;
  // Three drops at places picked from the description; waves travel out from each.
  float cx[3], cy[3];
  for (int i = 0; i < 3; ++i) {
    cx[i] = (float)(unit(mix64(seed + (uint64_t)i * 3 + 1)) * W);
    cy[i] = (float)(unit(mix64(seed + (uint64_t)i * 3 + 2)) * H);
  }
  const float k = 2 * (float)M_PI / (std::min(W, H) / 14.0f);
  const float phase = (float)(f.fraction * 40);
  thread_local std::vector<float> grid;
  int gw, gh;
  coarseGrid(W, H, grid, gw, gh, [&](int x, int y) {
    float h = 0;
    for (int i = 0; i < 3; ++i) {
      float dx = x - cx[i], dy = y - cy[i], d = std::sqrt(dx * dx + dy * dy);
      h += std::sin(d * k - phase) / (1 + d * k * 0.05f);
    }
    return h;
  });
  const Pixel deep = makePixel(10, 60, 110), light = makePixel(170, 220, 250);
  expand(O, grid, gw, gh, [&](float h, int x, int y) {
    if (mask.pixels) {
      Pixel m = mask.at((int)((long)x * mask.width / W), (int)((long)y * mask.height / H));
      if (((pixelR(m) * 77u + pixelG(m) * 150u + pixelB(m) * 29u) >> 8) < 128) return deep;
    }
    float s = std::clamp(0.5f + h * 0.3f, 0.0f, 1.0f);
    return blend256(deep, light, (uint32_t)(s * 256));
  });
}

}  // namespace

void renderGenerator(OSType code, const Frame& f) {
  switch (code) {
    case 'fire': return fire(f);
    case 'clou': return cloud(f);
    case 'ripl': return ripple(f);
    default: std::fill(f.out->pixels.begin(), f.out->pixels.end(), makePixel(0, 0, 0));
  }
}

}  // namespace vt::effects

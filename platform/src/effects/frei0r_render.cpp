// Rendering through a plugin: kept instances, small frames enlarged, large ones tiled.
#include <algorithm>
#include <cstring>

#include "effects/frei0r_host.h"

namespace vt::effects::frei0r {
namespace {

Instance* instanceFor(Plugin& p, int w, int h) {
  ++p.uses;
  for (auto& i : p.instances)
    if (i.width == w && i.height == h) {
      i.lastUse = p.uses;
      return &i;
    }
  if ((int)p.instances.size() >= kInstancesKept) {
    auto oldest = std::min_element(
        p.instances.begin(), p.instances.end(),
        [](const Instance& x, const Instance& y) { return x.lastUse < y.lastUse; });
    p.api.destruct(oldest->handle);
    p.instances.erase(oldest);
  }
  f0r_instance_t h0 = p.api.construct((unsigned)w, (unsigned)h);
  if (!h0) return nullptr;
  p.instances.push_back({h0, w, h, p.uses});
  return &p.instances.back();
}

// Copies the tile at (x0, y0) of `src` into a tile buffer, repeating the edge pixels where the
// tile reaches past the frame and swapping red and blue for RGBA plugins.
void copyIn(const Image& src, int x0, int y0, int tw, int th, bool swap, uint32_t* dst) {
  for (int ty = 0; ty < th; ++ty) {
    const Pixel* row = src.row(std::min(y0 + ty, src.height - 1));
    uint32_t* d = dst + (size_t)ty * tw;
    int inside = std::clamp(src.width - x0, 0, tw);
    std::memcpy(d, row + x0, (size_t)inside * 4);
    for (int tx = inside; tx < tw; ++tx) d[tx] = row[src.width - 1];
    if (swap)
      for (int tx = 0; tx < tw; ++tx)
        d[tx] = (d[tx] & 0xFF00FF00u) | ((d[tx] >> 16) & 0xFFu) | ((d[tx] & 0xFFu) << 16);
  }
}

// Pixel-replicated copy, k times larger each way.
void enlarge(const Image& src, int k, Image& dst) {
  dst.resize(src.width * k, src.height * k);
  for (int y = 0; y < dst.height; ++y) {
    const Pixel* s = src.row(y / k);
    Pixel* d = dst.row(y);
    for (int x = 0; x < dst.width; ++x) d[x] = s[x / k];
  }
}

void renderTiles(Plugin& p, Instance& inst, const Image* a, const Image* b, Image& out,
                 double seconds) {
  const TileGrid g = tileGrid(out.width, out.height);
  const size_t n = (size_t)g.width * g.height;
  for (PixelBuffer* buf : {&p.inA, &p.inB, &p.outT})
    if (buf->size() != n) buf->assign(n, makePixel(0, 0, 0));
  const bool swap = p.colorModel == F0R_COLOR_MODEL_RGBA8888;
  const int stepX = (out.width + g.across - 1) / g.across;
  const int stepY = (out.height + g.down - 1) / g.down;
  for (int ty = 0; ty < g.down; ++ty)
    for (int tx = 0; tx < g.across; ++tx) {
      const int x0 = tx * stepX, y0 = ty * stepY;
      if (x0 >= out.width || y0 >= out.height) continue;
      if (a) copyIn(*a, x0, y0, g.width, g.height, swap, p.inA.data());
      if (b) copyIn(*b, x0, y0, g.width, g.height, swap, p.inB.data());
      runUpdate(p, inst.handle, seconds, p.inA.data(), p.inB.data(), p.outT.data());
      const int w = std::min(stepX, out.width - x0), h = std::min(stepY, out.height - y0);
      for (int y = 0; y < h; ++y) {
        const uint32_t* s = p.outT.data() + (size_t)y * g.width;
        Pixel* d = out.row(y0 + y) + x0;
        if (swap)
          for (int x = 0; x < w; ++x)
            d[x] = (s[x] & 0xFF00FF00u) | ((s[x] >> 16) & 0xFFu) | ((s[x] & 0xFFu) << 16);
        else
          std::memcpy(d, s, (size_t)w * 4);
      }
    }
}

}  // namespace

TileGrid tileGrid(int width, int height) {
  TileGrid g;
  auto split = [](int side, int& count, int& size) {
    count = std::max(1, (side + kMaxSide - 1) / kMaxSide);
    int step = (side + count - 1) / count;
    size = std::max(kMinSide, (step + 7) / 8 * 8);  // short sides are padded
  };
  split(std::max(1, width), g.across, g.width);
  split(std::max(1, height), g.down, g.height);
  return g;
}

int upscale(int width, int height) {
  const int shorter = std::max(1, std::min(width, height)), longer = std::max(width, height);
  int k = (kMinSide + shorter - 1) / shorter;
  // A sliver stays thin rather than growing without bound.
  while (k > 1 && (long)longer * k > 4L * kMaxSide) --k;
  return std::max(1, k);
}

bool render(const EffectInfo& info, const ParamSet& params, const Image* a, const Image* b,
            Image& out, double seconds) {
  if (out.empty()) return true;
  auto fallback = [&] {
    if (a && a->pixels.size() == out.pixels.size())
      std::memcpy(out.pixels.data(), a->pixels.data(), out.pixels.size() * sizeof(Pixel));
    else
      std::fill(out.pixels.begin(), out.pixels.end(), makePixel(0, 0, 0));
    return false;
  };
  if (info.pluginId < 0 || info.pluginId >= (int)plugins().size()) return fallback();
  Plugin& p = *plugins()[(size_t)info.pluginId];
  std::lock_guard<std::mutex> hold(p.lock);
  [[maybe_unused]] PluginCode outside;
  // Small frames are enlarged by whole pixels and sampled back: some plugins (Partik0l) write
  // past frames smaller than they expect, and the picture keeps its shape.
  const int k = upscale(out.width, out.height);
  Image& target = k > 1 ? p.bigOut : out;
  if (k > 1) target.resize(out.width * k, out.height * k);
  const TileGrid g = tileGrid(target.width, target.height);
  Instance* inst = instanceFor(p, g.width, g.height);
  if (!inst) return fallback();
  setParams(p, inst->handle, info, params);
  if (k == 1) {
    renderTiles(p, *inst, a, b, out, seconds);
    return true;
  }
  if (a) enlarge(*a, k, p.bigA);
  if (b) enlarge(*b, k, p.bigB);
  renderTiles(p, *inst, a ? &p.bigA : nullptr, b ? &p.bigB : nullptr, target, seconds);
  for (int y = 0; y < out.height; ++y) {
    const Pixel* s = target.row(y * k + k / 2);
    Pixel* d = out.row(y);
    for (int x = 0; x < out.width; ++x) d[x] = s[x * k + k / 2];
  }
  return true;
}

}  // namespace vt::effects::frei0r

// Helpers shared by the effects tests: pictures, descriptions and rendering through the same
// entry point the movie layer uses.
#pragma once
#include <string>
#include <vector>

#include "atoms/atom_tree.h"

#include "core/image.h"
#include "effects/description.h"
#include "effects/render_api.h"

namespace et {

using vt::Image;
using vt::Pixel;
using vt::effects::DescriptionParam;

// The SMPTE effect of each pattern family, in family order.
constexpr OSType kFamilyCodes[4] = {'smpt', 'smp2', 'smp3', 'smp4'};

inline DescriptionParam num(OSType code, double v) { return {code, {v, 0, 0}}; }
inline DescriptionParam color(OSType code, int r, int g, int b) {
  return {code, {(double)r * 257, (double)g * 257, (double)b * 257}};
}
inline DescriptionParam tween(OSType code, double from, double to) {
  return {code, {from, 0, 0}, true, {to, 0, 0}};
}

// The built-in effects (the catalogue without the plugins found on this machine).
inline std::vector<const vt::effects::EffectInfo*> builtIns() {
  std::vector<const vt::effects::EffectInfo*> out;
  for (const auto& e : vt::effects::catalogue())
    if (!e.isPlugin()) out.push_back(&e);
  return out;
}

// Parses a description, failing the test unless it is accepted (or refused, as `expectOk` says).
inline vt::effects::Description parse(const std::vector<uint8_t>& bytes, bool expectOk = true) {
  vt::atoms::View tree;
  vt::effects::Description d;
  vt::Status parsed = vt::effects::parseDescription(bytes.data(), bytes.size(), tree, d);
  EXPECT_EQ(parsed.ok(), expectOk) << parsed.why;
  return d;
}

// Renders `code` with `params` into a w×h picture at `time` of `duration`.
inline Image render(OSType code, std::vector<DescriptionParam> params, const Image* a,
                    const Image* b, int w, int h, int64_t time = 0, int64_t duration = 100) {
  const auto* info = vt::effects::findEffect(code);
  auto bytes = vt::effects::buildDescription(code, info ? info->sources : 0, params);
  Image out(w, h, vt::makePixel(1, 2, 3));
  vt::effects::renderEffectSample(bytes.data(), bytes.size(), time, duration, {a, b}, out);
  return out;
}
inline Image transition(OSType code, double percent, const Image& a, const Image& b,
                        std::vector<DescriptionParam> extra = {}) {
  extra.insert(extra.begin(), num('pcnt', percent));
  return render(code, extra, &a, &b, a.width, a.height);
}

// A picture with a different colour at every pixel, so shifts and mix-ups show.
inline Image gradientPicture(int w, int h, int salt) {
  Image img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.at(x, y) = vt::makePixel((uint8_t)(x * 5 + salt), (uint8_t)(y * 7 + salt * 3),
                                   (uint8_t)((x * y + salt * 11) & 255));
  return img;
}

inline int channelDiff(Pixel p, Pixel q) {
  int d = 0;
  for (int s = 0; s < 32; s += 8)
    d = std::max(d, std::abs((int)((p >> s) & 255) - (int)((q >> s) & 255)));
  return d;
}

}  // namespace et

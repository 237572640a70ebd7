#include <gtest/gtest.h>

#include "core/fourcc.h"
#include "effects_test_util.h"

using namespace vt::effects;
using namespace et;

namespace {
Image filter(OSType code, const Image& a, std::vector<DescriptionParam> ps = {}) {
  return render(code, ps, &a, nullptr, a.width, a.height);
}
// Black left half, white right half.
Image edgePicture(int w, int h) {
  Image img(w, h, vt::makePixel(0, 0, 0));
  for (int y = 0; y < h; ++y)
    for (int x = w / 2; x < w; ++x) img.at(x, y) = vt::makePixel(255, 255, 255);
  return img;
}
}  // namespace

TEST(Filters, ConvolutionsKeepFlatPicturesAndApplyTheirKernelsAtEdges) {
  const Image flat(37, 23, vt::makePixel(123, 45, 210));
  for (int k : {3, 7, 15})
    EXPECT_EQ(filter('blur', flat, {num('ksiz', k)}).pixels, flat.pixels) << k;
  EXPECT_EQ(filter('shrp', flat).pixels, flat.pixels);
  for (Pixel p : filter('edge', flat).pixels) ASSERT_EQ(p & 0xFFFFFF, 0u);
  for (Pixel p : filter('embs', flat).pixels) ASSERT_EQ(p & 0xFFFFFF, 0x808080u);
  Image e = filter('blur', edgePicture(40, 10), {num('ksiz', 7)});
  // Monotonic ramp across the edge, with in-between values next to it; far pixels untouched.
  for (int y = 0; y < 10; ++y) {
    for (int x = 1; x < 40; ++x) ASSERT_GE(vt::pixelR(e.at(x, y)), vt::pixelR(e.at(x - 1, y)));
    EXPECT_TRUE(vt::pixelR(e.at(5, y)) == 0 && vt::pixelR(e.at(35, y)) == 255) << y;
    EXPECT_TRUE(vt::pixelR(e.at(19, y)) > 40 && vt::pixelR(e.at(19, y)) < 215) << y;
  }
  // A larger kernel spreads the edge further: column 15 is beyond a 7-wide kernel's reach only.
  Image wide = filter('blur', edgePicture(40, 10), {num('ksiz', 13)});
  EXPECT_TRUE(vt::pixelR(e.at(15, 0)) == 0 && vt::pixelR(wide.at(15, 0)) > 0);
  Image soft(20, 1);
  for (int x = 0; x < 20; ++x) soft.at(x, 0) = vt::makePixel(x < 10 ? 80 : 160, 0, 0);
  Image s = filter('shrp', soft);
  EXPECT_LT(vt::pixelR(s.at(9, 0)), 80);    // darker before the step
  EXPECT_GT(vt::pixelR(s.at(10, 0)), 160);  // brighter after it
  Image edges = filter('edge', edgePicture(20, 5));
  EXPECT_TRUE(vt::pixelR(edges.at(2, 2)) == 0 && vt::pixelR(edges.at(10, 2)) == 255);
  // The general convolution applies its kernel.
  const Image a = gradientPicture(12, 8, 3);
  EXPECT_EQ(filter('genk', a).pixels, a.pixels);  // the default kernel is the identity
  // Weight 1 on the right neighbour: the picture moves one pixel left (edge repeated).
  Image left = filter('genk', a, {num('cel5', 0), num('cel6', 1)});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 12; ++x)
      ASSERT_EQ(left.at(x, y) & 0xFFFFFF, a.at(std::min(x + 1, 11), y) & 0xFFFFFF);
  Image half = filter('genk', Image(4, 4, vt::makePixel(200, 100, 50)), {num('cel5', 0.5)});
  EXPECT_EQ(half.at(2, 2) & 0xFFFFFF, 0x643219u);
}

TEST(Filters, ColourFiltersGiveTheComputedValuesAtAnySize) {
  using vt::makePixel;
  const Image c(3, 2, makePixel(200, 100, 50, 128));
  const Image red(2, 2, makePixel(255, 0, 0)), orange(2, 2, makePixel(255, 128, 0));
  const struct {
    OSType code;
    Pixel want;
    std::vector<DescriptionParam> ps;
    int tolerance = 0;
    const Image* in = nullptr;  // c
  } cases[] = {
      // Brightness adds and keeps alpha; -255 is black.
      {'brco', makePixel(240, 140, 90, 128), {num('brig', 40)}},
      {'brco', makePixel(0, 0, 0, 128), {num('brig', -255)}},
      // Contrast stretches around 128: factor 259*(255+100)/(255*(259-100)) = 2.268.
      {'brco', makePixel(255, 64, 0, 128), {num('cont', 100)}, 1},
      {'rgbb', makePixel(100, 200, 50, 128), {num('rmul', 0.5), num('gmul', 2)}},
      // Solarize everything above 128 fully (the defaults); then posterize to 2 levels.
      {'solr', makePixel(55, 100, 50, 128), {}},
      {'solr', makePixel(255, 0, 0, 128), {num('solr', 0), num('post', 2)}},
      // Black and white tint: the luminance (77 R + 150 G + 29 B) / 256 = 124; a custom tint
      // maps that grey between its two colours.
      {'tint', makePixel(124, 124, 124, 128), {num('tint', 1)}},
      {'tint',
       makePixel(124, 124, 103, 128),
       {num('tint', 100), color('back', 0, 0, 200), color('fore', 255, 255, 0)},
       1},
      // HSL: no saturation gives grey at the lightness (200 + 50) / 2 = 125; lightness x2 of a
      // pure red (L = 0.5) is white; hue x2 turns orange-red (30 degrees) into yellow (60).
      {'hsvb', makePixel(125, 125, 125, 128), {num('smul', 0)}, 1},
      {'hsvb', makePixel(255, 255, 255), {num('vmul', 2)}, 0, &red},
      {'hsvb', c.pixels[0], {}},  // all multipliers 1: unchanged
      {'hsvb', makePixel(255, 255, 0), {num('hmul', 2)}, 2, &orange},
      // Alpha gain: 2 x 128/255 + 0.1, pinned to 0.8; the colour is left alone.
      {'gain', makePixel(200, 100, 50, 204), {num('gain', 2), num('offs', 0.1), num('pinT', 0.8)}},
      {'gain', makePixel(200, 100, 50, 64), {num('gain', 0.5)}},
  };
  for (const auto& k : cases) {
    Pixel p = filter(k.code, k.in ? *k.in : c, k.ps).at(1, 1);
    EXPECT_LE(channelDiff(p, k.want), k.tolerance)
        << vt::fourccString(k.code) << " gives " << std::hex << p << ", not " << k.want;
  }
  // Inputs of other sizes are scaled to the output; a filter without its source works on black.
  Image small(5, 3, vt::makePixel(10, 20, 30));
  EXPECT_EQ(render('brco', {num('brig', 10)}, &small, nullptr, 64, 40).pixels,
            Image(64, 40, vt::makePixel(20, 30, 40)).pixels);
  EXPECT_EQ(render('brco', {num('brig', 10)}, nullptr, nullptr, 8, 8).pixels,
            Image(8, 8, vt::makePixel(10, 10, 10)).pixels);
}

TEST(Filters, FilmNoiseLensFlareAndGeneratorsDrawWhereExpected) {
  const Image g(160, 120, vt::makePixel(128, 128, 128));
  Image plain = filter('fmns', g, {num('hden', 0), num('sden', 0), num('dden', 0), num('fade', 0)});
  EXPECT_EQ(plain.pixels, g.pixels);
  Image noisy = filter('fmns', g, {num('hden', 100), num('sden', 100), num('dden', 100)});
  int changed = 0;
  for (size_t i = 0; i < g.pixels.size(); ++i)
    changed += channelDiff(noisy.pixels[i], g.pixels[i]) > 40;
  EXPECT_GT(changed, 100);
  // The flare is brightest at its position and brightens, never darkens.
  Image f = filter('lens', g, {tween('xcnt', -0.5, -0.5), tween('ycnt', -0.5, -0.5)});
  int bright = vt::pixelR(f.at(40, 30));
  for (size_t i = 0; i < f.pixels.size(); ++i) ASSERT_GE(vt::pixelR(f.pixels[i]), 128);
  EXPECT_TRUE(bright > 240 && bright > vt::pixelR(f.at(150, 5))) << bright;
  // Generators draw their subject without sources.
  Image fire = render('fire', {}, nullptr, nullptr, 160, 120, 50, 100);
  long top = 0, bottom = 0;
  for (int x = 0; x < 160; ++x) {
    top += vt::pixelR(fire.at(x, 2));
    bottom += vt::pixelR(fire.at(x, 117));
  }
  EXPECT_GT(bottom, top * 4 + 1000);  // flames rise from the bottom
  Image cloud = render('clou', {color('fgdc', 255, 255, 255), color('bckc', 0, 0, 128)}, nullptr,
                       nullptr, 160, 120, 0, 100);
  int sky = 0, white = 0;
  for (Pixel p : cloud.pixels) {
    EXPECT_EQ(vt::pixelR(p), vt::pixelG(p));  // between navy and white only
    sky += p == vt::makePixel(0, 0, 128);
    white += vt::pixelR(p) > 200;
  }
  EXPECT_TRUE(sky > 100 && white > 100) << sky << " navy, " << white << " white";
  Image water = render('ripl', {}, nullptr, nullptr, 160, 120, 10, 100);
  int distinct = 0;
  for (int x = 1; x < 160; ++x) distinct += water.at(x, 60) != water.at(x - 1, 60);
  EXPECT_GT(distinct, 20);
}

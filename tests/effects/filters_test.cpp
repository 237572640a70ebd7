#include <gtest/gtest.h>

#include <cmath>

#include "effects_test_util.h"

using namespace vt::effects;
using namespace et;

namespace {
Image filter(OSType code, const Image& a, std::vector<DescriptionParam> ps = {}) {
  return render(code, ps, &a, nullptr, a.width, a.height);
}
Image flat(int w, int h, Pixel p) { return Image(w, h, p); }
// Black left half, white right half.
Image edgePicture(int w, int h) {
  Image img(w, h, vt::makePixel(0, 0, 0));
  for (int y = 0; y < h; ++y)
    for (int x = w / 2; x < w; ++x) img.at(x, y) = vt::makePixel(255, 255, 255);
  return img;
}
}  // namespace

TEST(Filters, BlurKeepsAFlatImageAndSmoothsAnEdge) {
  const Pixel c = vt::makePixel(123, 45, 210);
  for (int k : {3, 7, 15}) {
    Image out = filter('blur', flat(37, 23, c), {num('ksiz', k)});
    for (Pixel p : out.pixels) ASSERT_EQ(p, c) << k;
  }
  Image e = filter('blur', edgePicture(40, 10), {num('ksiz', 7)});
  // Monotonic ramp across the edge, with in-between values next to it; far pixels untouched.
  for (int y = 0; y < 10; ++y) {
    for (int x = 1; x < 40; ++x) ASSERT_GE(vt::pixelR(e.at(x, y)), vt::pixelR(e.at(x - 1, y)));
    EXPECT_EQ(vt::pixelR(e.at(5, y)), 0);
    EXPECT_EQ(vt::pixelR(e.at(35, y)), 255);
    EXPECT_GT(vt::pixelR(e.at(19, y)), 40);
    EXPECT_LT(vt::pixelR(e.at(19, y)), 215);
  }
  // A larger kernel spreads the edge over more columns.
  auto rampWidth = [](const Image& img) {
    int n = 0;
    for (int x = 0; x < img.width; ++x)
      n += vt::pixelR(img.at(x, 0)) > 0 && vt::pixelR(img.at(x, 0)) < 255;
    return n;
  };
  EXPECT_GT(rampWidth(filter('blur', edgePicture(40, 10), {num('ksiz', 13)})), rampWidth(e));
}

TEST(Filters, SharpenAndEdgeDetectionRespondToEdgesOnly) {
  const Image grey = flat(20, 10, vt::makePixel(100, 100, 100));
  EXPECT_EQ(filter('shrp', grey).pixels, grey.pixels);
  for (Pixel p : filter('edge', grey).pixels) ASSERT_EQ(p & 0xFFFFFF, 0u);
  for (Pixel p : filter('embs', grey).pixels) ASSERT_EQ(p & 0xFFFFFF, 0x808080u);
  Image soft(20, 1);
  for (int x = 0; x < 20; ++x) soft.at(x, 0) = vt::makePixel(x < 10 ? 80 : 160, 0, 0);
  Image s = filter('shrp', soft);
  EXPECT_LT(vt::pixelR(s.at(9, 0)), 80);    // darker before the step
  EXPECT_GT(vt::pixelR(s.at(10, 0)), 160);  // brighter after it
  Image e = filter('edge', edgePicture(20, 5));
  EXPECT_EQ(vt::pixelR(e.at(2, 2)), 0);
  EXPECT_EQ(vt::pixelR(e.at(10, 2)), 255);
}

TEST(Filters, GeneralConvolutionAppliesItsKernel) {
  const Image a = gradientPicture(12, 8, 3);
  EXPECT_EQ(filter('genk', a).pixels, a.pixels);  // the default kernel is the identity
  // Weight 1 on the right neighbour: the picture moves one pixel left (edge repeated).
  Image s = filter('genk', a, {num('cel5', 0), num('cel6', 1)});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 12; ++x)
      ASSERT_EQ(s.at(x, y) & 0xFFFFFF, a.at(std::min(x + 1, 11), y) & 0xFFFFFF);
  Image half = filter('genk', flat(4, 4, vt::makePixel(200, 100, 50)), {num('cel5', 0.5)});
  EXPECT_EQ(half.at(2, 2) & 0xFFFFFF, 0x643219u);
}

TEST(Filters, ColourFiltersGiveTheComputedValues) {
  const Image c = flat(3, 2, vt::makePixel(200, 100, 50, 128));
  auto px = [](const Image& i) { return i.at(1, 1); };
  // Brightness adds; alpha is kept.
  EXPECT_EQ(px(filter('brco', c, {num('brig', 40)})), vt::makePixel(240, 140, 90, 128));
  // Contrast 0 with brightness -255 is black.
  EXPECT_EQ(px(filter('brco', c, {num('brig', -255)})) & 0xFFFFFF, 0u);
  // Contrast stretches around 128: factor 259*(255+100)/(255*(259-100)) = 2.268.
  Pixel k = px(filter('brco', c, {num('cont', 100)}));
  EXPECT_EQ(vt::pixelR(k), 255);
  EXPECT_NEAR(vt::pixelG(k), 128 - 28 * 2.268, 1);
  EXPECT_EQ(vt::pixelB(k), 0);
  EXPECT_EQ(px(filter('rgbb', c, {num('rmul', 0.5), num('gmul', 2), num('bmul', 1)})),
            vt::makePixel(100, 200, 50, 128));
  // Solarize everything above 128 fully; then posterize to 2 levels.
  EXPECT_EQ(px(filter('solr', c, {num('solr', 255), num('solp', 128), num('post', 0)})),
            vt::makePixel(55, 100, 50, 128));
  EXPECT_EQ(px(filter('solr', c, {num('solr', 0), num('post', 2)})), vt::makePixel(255, 0, 0, 128));
  // Black and white tint: the luminance (77 R + 150 G + 29 B) / 256 = 124.
  EXPECT_EQ(px(filter('tint', c, {num('tint', 1)})), vt::makePixel(124, 124, 124, 128));
  // Custom tint maps the grey between the two colours.
  Pixel t = px(
      filter('tint', c, {num('tint', 100), color('back', 0, 0, 200), color('fore', 255, 255, 0)}));
  EXPECT_NEAR(vt::pixelR(t), 124, 1);
  EXPECT_NEAR(vt::pixelB(t), 200 - 200 * 124 / 255.0, 1);
  // HSL: no saturation gives grey at the lightness (200 + 50) / 2 = 125; lightness x2 of a
  // pure red (L = 0.5) is white.
  Pixel g = px(filter('hsvb', c, {num('smul', 0)}));
  EXPECT_NEAR(vt::pixelR(g), 125, 1);
  EXPECT_EQ(vt::pixelR(g), vt::pixelG(g));
  EXPECT_EQ(vt::pixelG(g), vt::pixelB(g));
  EXPECT_EQ(px(filter('hsvb', flat(2, 2, vt::makePixel(255, 0, 0)), {num('vmul', 2)})),
            vt::makePixel(255, 255, 255));
  EXPECT_EQ(px(filter('hsvb', c)), px(c));  // all multipliers 1: unchanged
  // Hue x2 turns orange-red (hue 30 degrees) into yellow (60 degrees).
  Pixel y = px(filter('hsvb', flat(2, 2, vt::makePixel(255, 128, 0)), {num('hmul', 2)}));
  EXPECT_NEAR(vt::pixelR(y), 255, 2);
  EXPECT_NEAR(vt::pixelG(y), 255, 2);
  EXPECT_NEAR(vt::pixelB(y), 0, 2);
  // Alpha gain: 2 x 128/255 + 0.1, pinned to 0.8.
  EXPECT_EQ(vt::pixelA(px(filter('gain', c, {num('gain', 2), num('offs', 0.1), num('pinT', 0.8)}))),
            204);
  EXPECT_EQ(vt::pixelA(px(filter('gain', c, {num('gain', 0.5)}))), 64);
  EXPECT_EQ(px(filter('gain', c, {num('gain', 0.5)})) & 0xFFFFFF, px(c) & 0xFFFFFF);
}

TEST(Filters, InputsOfOtherSizesAreScaledToTheOutput) {
  Image small(5, 3, vt::makePixel(10, 20, 30));
  Image out = render('brco', {num('brig', 10)}, &small, nullptr, 64, 40);
  ASSERT_EQ(out.width, 64);
  for (Pixel p : out.pixels) ASSERT_EQ(p, vt::makePixel(20, 30, 40));
  // A filter without its source works on black.
  Image none = render('brco', {num('brig', 10)}, nullptr, nullptr, 8, 8);
  for (Pixel p : none.pixels) ASSERT_EQ(p, vt::makePixel(10, 10, 10));
}

TEST(Filters, FilmNoiseAndLensFlareAlterThePictureWhereExpected) {
  const Image g = flat(160, 120, vt::makePixel(128, 128, 128));
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
  EXPECT_GT(bright, 240);
  EXPECT_GT(bright, vt::pixelR(f.at(150, 5)));
}

TEST(Generators, DrawTheirSubjectWithoutSources) {
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
  EXPECT_GT(sky, 100);
  EXPECT_GT(white, 100);
  Image water = render('ripl', {}, nullptr, nullptr, 160, 120, 10, 100);
  int distinct = 0;
  for (int x = 1; x < 160; ++x) distinct += water.at(x, 60) != water.at(x - 1, 60);
  EXPECT_GT(distinct, 20);
}

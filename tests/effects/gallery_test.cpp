// The gallery transitions: each leaves A gradually and arrives at B.
#include <gtest/gtest.h>

#include <cmath>

#include "effects/gallery.h"
#include "effects_test_util.h"

using namespace vt::effects;
using namespace et;

namespace {

// Smooth pictures far apart in colour, so motion costs less than a change of picture.
Image smoothPicture(bool second) {
  Image img(64, 36);
  for (int y = 0; y < 36; ++y)
    for (int x = 0; x < 64; ++x)
      img.at(x, y) = second ? vt::makePixel(250 - x, 40 + y, 230 - y * 2)
                            : vt::makePixel(x * 2, 200 - y * 3, 30 + x);
  return img;
}
const Image A = smoothPicture(false);
const Image B = smoothPicture(true);

double meanDiff(const Image& x, const Image& y) {
  double sum = 0;
  for (size_t i = 0; i < x.pixels.size(); ++i) sum += channelDiff(x.pixels[i], y.pixels[i]);
  return sum / (double)x.pixels.size();
}

}  // namespace

// A third of the way is generous for motions (a turning frame shows black corners) and still
// far from a transition run backwards or stuck.
TEST(Gallery, EveryTransitionStartsNearAAndEndsNearB) {
  const double apart = meanDiff(A, B);
  ASSERT_GT(apart, 60);
  for (const auto& g : galleryTransitions()) {
    const Image early = transition(g.code, 3, A, B), late = transition(g.code, 97, A, B);
    EXPECT_LT(meanDiff(early, A), apart * 0.3) << g.name;
    EXPECT_LT(meanDiff(late, B), apart * 0.3) << g.name;
    EXPECT_LT(meanDiff(early, A), meanDiff(late, A)) << g.name;
  }
}

TEST(Gallery, DipToColorPassesThroughItsColorHalfway) {
  const Image mid = transition('gdip', 50, A, B, {color(kDipColorParam, 200, 30, 90)});
  for (Pixel p : mid.pixels) ASSERT_EQ(p, vt::makePixel(200, 30, 90)) << std::hex << p;
}

TEST(Gallery, BlurDissolveSpreadsAnEdgeAndKeepsFlatAreasFlat) {
  Image a(80, 20, vt::makePixel(0, 0, 0)), b = a;
  for (int y = 0; y < 20; ++y)
    for (int x = 40; x < 80; ++x) a.at(x, y) = b.at(x, y) = vt::makePixel(255, 255, 255);
  const Image mid = transition('gbld', 50, a, b);
  EXPECT_EQ(mid.at(0, 10), a.at(0, 0));  // far from the edge: unchanged
  EXPECT_EQ(mid.at(79, 10), a.at(79, 0));
  int grays = 0;  // the edge became a ramp several pixels wide
  for (int x = 0; x < 80; ++x) grays += vt::pixelR(mid.at(x, 10)) % 255 != 0;
  EXPECT_GE(grays, 12);
}

#include <gtest/gtest.h>

#include <map>

#include "effects/smpte.h"
#include "effects_test_util.h"

using namespace vt::effects;
using namespace et;

namespace {
const Image A = gradientPicture(40, 30, 0);
const Image B = gradientPicture(40, 30, 100);
}  // namespace

TEST(Transitions, EveryTransitionRunsFromAToBAndTheCrossFadeBlendsAlongTheTweenAtAnySize) {
  for (const auto* entry : builtIns()) {
    const auto& e = *entry;
    if (e.sources != 2) continue;
    EXPECT_EQ(transition(e.code, 0, A, B).pixels, A.pixels) << e.name;
    EXPECT_EQ(transition(e.code, 100, A, B).pixels, B.pixels) << e.name;
    // ... and something of both in between (Distance lets pixels go as far apart as A and B are
    // here by 50%).
    Image mid = transition(e.code, e.code == 'xdst' ? 25 : 75, A, B);
    EXPECT_TRUE(mid.pixels != A.pixels && mid.pixels != B.pixels) << e.name;
  }
  // The cross fade is the per-pixel blend.
  for (double p : {1.0, 25.0, 50.0, 73.0, 99.0}) {
    Image out = transition('dslv', p, A, B);
    for (size_t i = 0; i < out.pixels.size(); ++i)
      for (int s = 0; s < 32; s += 8) {
        double a = (A.pixels[i] >> s) & 255, b = (B.pixels[i] >> s) & 255;
        ASSERT_NEAR((double)((out.pixels[i] >> s) & 255), a + (b - a) * p / 100, 1.0) << p;
      }
  }
}

TEST(Transitions, PushSlideExplodeAndGradientWipePlaceEveryPixel) {
  // Push: 25% of 40 columns = 10 pixels; 25% of 30 rows = 7.5 -> 8.
  Image r = transition('push', 25, A, B, {num('from', 2)});
  Image l = transition('push', 25, A, B, {num('from', 4)});
  Image t = transition('push', 25, A, B, {num('from', 1)});
  Image d = transition('push', 25, A, B, {num('from', 3)});
  // Slide from the right (90 degrees), halfway: B's left edge is at column 20, A stays still.
  Image sr = transition('slid', 50, A, B, {num('angl', 90)});
  Image st = transition('slid', 50, A, B, {num('angl', 0)});
  Image sl = transition('slid', 75, A, B, {num('angl', 270)});
  // Explode from the top-left corner: B fills the top-left quarter (scaled), A the rest.
  Image e = transition('xplo', 50, A, B, {num('xcnt', 0), num('ycnt', 0)});
  // A 2x1 matte, dark left and light right: at 30% only the dark half has switched to B.
  DescriptionParam matte{'mtte', {}, false, {}, {0, 0, 0, 2, 0, 0, 0, 1}};
  matte.raw.insert(matte.raw.end(), {0xFF, 0x20, 0x20, 0x20, 0xFF, 0xE0, 0xE0, 0xE0});
  Image g = transition('matt', 30, A, B, {matte, num('soft', 0)});
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      ASSERT_EQ(r.at(x, y), x < 30 ? A.at(x + 10, y) : B.at(x - 30, y));
      ASSERT_EQ(l.at(x, y), x < 10 ? B.at(x + 30, y) : A.at(x - 10, y));
      ASSERT_EQ(t.at(x, y), y < 8 ? B.at(x, y + 22) : A.at(x, y - 8));
      ASSERT_EQ(d.at(x, y), y < 22 ? A.at(x, y + 8) : B.at(x, y - 22));
      ASSERT_EQ(sr.at(x, y), x >= 20 ? B.at(x - 20, y) : A.at(x, y));
      ASSERT_EQ(st.at(x, y), y < 15 ? B.at(x, y + 15) : A.at(x, y));
      ASSERT_EQ(sl.at(x, y), x < 30 ? B.at(x + 10, y) : A.at(x, y));
      ASSERT_EQ(e.at(x, y), x < 20 && y < 15 ? B.at(x * 2 + 1, y * 2 + 1) : A.at(x, y));
      ASSERT_EQ(g.at(x, y), x < 20 ? B.at(x, y) : A.at(x, y));
    }
  Image i = transition('mplo', 50, A, B);  // implode towards the centre: A in the middle half
  EXPECT_EQ(i.at(0, 0), B.at(0, 0));
  EXPECT_EQ(i.at(20, 15), A.at(21, 16));  // A at half size, centred
  EXPECT_EQ(i.at(10, 8), A.at(1, 2));
  EXPECT_EQ(i.at(9, 8), B.at(9, 8));
}

TEST(Smpte, EveryPatternRevealsBMonotonicallyAndDiffersFromTheOthers) {
  const Image a = gradientPicture(48, 36, 0), b = gradientPicture(48, 36, 100);
  std::map<std::vector<bool>, int> drawnBy;  // where B shows at 20, 35, 50, 65 and 80%
  for (const auto& pat : smptePatterns()) {
    std::vector<bool> shape;
    for (int p = 0, last = -1; p <= 100; p += 5) {
      Image out = transition(kFamilyCodes[(int)pat.family], p, a, b, {num('wpID', pat.id)});
      int n = 0;
      for (size_t i = 0; i < out.pixels.size(); ++i) {
        // Every pixel is A or B with hard edges and no border.
        ASSERT_TRUE(out.pixels[i] == a.pixels[i] || out.pixels[i] == b.pixels[i]) << pat.id;
        n += out.pixels[i] == b.pixels[i];
        if (p % 15 == 5 && p > 5) shape.push_back(out.pixels[i] == b.pixels[i]);
      }
      ASSERT_GE(n, last) << pat.name << " at " << p;
      // In between, something of both shows.
      EXPECT_TRUE(p == 0 || p == 100 || (n > 0 && n < 48 * 36)) << pat.name << " at " << p;
      last = n;
    }
    // Each pattern is its own shape: no two draw the same frames.
    auto [other, fresh] = drawnBy.emplace(shape, pat.id);
    EXPECT_TRUE(fresh) << pat.id << " draws as " << other->second;
  }
}

TEST(Smpte, ShapesSitWhereTheirNamesSayWithTheirBordersSoftEdgesAndRepeats) {
  const Image a(60, 40, vt::makePixel(0, 0, 0)), b(60, 40, vt::makePixel(255, 255, 255));
  auto isB = [&](const Image& o, int x, int y) { return o.at(x, y) == b.at(x, y); };
  // Points that show B and points that still show A.
  const struct {
    OSType code;
    int percent, id;
    std::vector<std::pair<int, int>> inB, inA;
  } shapes[] = {{'smpt', 30, 1, {{2, 20}}, {{57, 20}}},             // left to right
                {'smpt', 30, 2, {{30, 2}}, {{30, 37}}},             // top to bottom
                {'smpt', 30, 5, {{58, 38}}, {{1, 1}}},              // from the bottom right
                {'smp2', 20, 119, {{30, 20}}, {{1, 1}, {58, 20}}},  // circle
                {'smpt', 30, 21, {{30, 5}}, {{1, 5}, {58, 5}}},     // barn door from the middle
                {'smp3', 20, 201, {{36, 3}}, {{24, 3}}},            // clockwise from 12
                {'smp4', 10, 301, {{2, 2}}, {{2, 38}}}};            // row by row
  for (const auto& sh : shapes) {
    Image o = transition(sh.code, sh.percent, a, b, {num('wpID', sh.id)});
    for (auto [x, y] : sh.inB) EXPECT_TRUE(isB(o, x, y)) << sh.id << " at " << x << "," << y;
    for (auto [x, y] : sh.inA) EXPECT_FALSE(isB(o, x, y)) << sh.id << " at " << x << "," << y;
  }
  const Pixel red = vt::makePixel(255, 0, 0);
  // The border has its width and colour, between B and A.
  Image out =
      transition('smpt', 50, a, b, {num('wpID', 1), num('widt', 6), color('bclr', 255, 0, 0)});
  for (int y = 0; y < 40; ++y) {
    int firstRed = -1, reds = 0;
    for (int x = 0; x < 60; ++x) {
      const Pixel p = out.at(x, y);
      if (p == red && reds++ == 0) firstRed = x;
      if (p != red) {
        ASSERT_EQ(p, firstRed < 0 ? b.at(x, y) : a.at(x, y)) << "B before the border, A after";
      }
    }
    EXPECT_TRUE(reds >= 5 && reds <= 7 && firstRed > 18 && firstRed < 42)
        << reds << " red pixels from " << firstRed;
  }
  // Soft edges blend: values between black and white appear; hard edges have none.
  Image soft = transition('smpt', 50, a, b, {num('wpID', 1), num('soft', 1)});
  int between = 0;
  for (Pixel p : soft.pixels) between += vt::pixelR(p) > 5 && vt::pixelR(p) < 250;
  EXPECT_GE(between, 10);
  // Repeats tile the pattern, across and down.
  Image row = transition('smpt', 50, a, b, {num('wpID', 1), num('hori', 2)});
  for (int x = 0; x < 60; ++x) EXPECT_EQ(row.at(x, 10) == b.at(x, 10), x % 30 < 15) << x;
  Image grid = transition('smpt', 50, a, b, {num('wpID', 2), num('vert', 2)});
  for (int y : {5, 15, 25, 35}) EXPECT_EQ(grid.at(5, y) == b.at(5, y), y % 20 < 10) << y;
}

TEST(Transitions, CompositorAndChromaKeyShowTheirCompositeHalfway) {
  Image a(4, 1, vt::makePixel(0, 0, 255)), b(4, 1, vt::makePixel(0, 200, 0));
  a.at(0, 0) = vt::makePixel(255, 0, 0, 0);      // transparent red
  a.at(1, 0) = vt::makePixel(255, 0, 0, 255);    // opaque red
  a.at(2, 0) = vt::makePixel(200, 100, 0, 128);  // half
  Image c = transition('blnd', 50, a, b);
  EXPECT_EQ(c.at(0, 0) & 0xFFFFFF, b.at(0, 0) & 0xFFFFFF);
  EXPECT_EQ(c.at(1, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_NEAR(vt::pixelR(c.at(2, 0)), 100, 2);
  EXPECT_NEAR(vt::pixelG(c.at(2, 0)), 150, 2);
  // Pure blue is the default key: those pixels of A show B; red stays.
  Image k = transition('ckey', 50, a, b);
  EXPECT_TRUE(k.at(3, 0) == b.at(3, 0) && k.at(1, 0) == a.at(1, 0));
  Image k2 = transition('ckey', 50, a, b, {color('keyc', 255, 0, 0), num('tolr', 10)});
  EXPECT_TRUE(k2.at(1, 0) == b.at(1, 0) && k2.at(3, 0) == a.at(3, 0));  // another key colour
}

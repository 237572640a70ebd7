// Progress curves: their shapes, how descriptions carry them, and that rendering follows them.
#include <gtest/gtest.h>

#include <cmath>

#include "atoms/atom_tree.h"
#include "effects/easing.h"
#include "effects_test_util.h"

using namespace vt::effects;
using namespace et;

namespace {

Easing curve(int kind, std::array<double, 4> points = {0.25, 0.1, 0.25, 1.0}) {
  Easing e;
  e.kind = kind;
  e.bezier = points;
  return e;
}

}  // namespace

// Each curve against the cubic Bézier formula: the point (x(s), y(s)) lies on it for every s.
TEST(Easing, CurvesFollowTheirBezierFormulaAndKnownValues) {
  const struct {
    Easing e;
    std::array<double, 4> points;
    double atHalf;  // the curve's value at 0.5 (the CSS reference values)
  } cases[] = {
      {curve(kEaseLinear), {0, 0, 1, 1}, 0.5},
      {curve(kEaseIn), {0.42, 0, 1, 1}, 0.3153},
      {curve(kEaseOut), {0, 0, 0.58, 1}, 0.6847},
      {curve(kEaseInOut), {0.42, 0, 0.58, 1}, 0.5},
      {curve(kEaseBezier, {0.25, 0.1, 0.25, 1}), {0.25, 0.1, 0.25, 1}, 0.8024},
      {curve(kEaseBezier, {0.3, -0.5, 0.7, 1.5}), {0.3, -0.5, 0.7, 1.5}, 0.5},  // overshoots
  };
  for (const auto& c : cases) {
    const auto [x1, y1, x2, y2] = c.points;
    for (double s = 0.05; s < 1; s += 0.1) {
      const double r = 1 - s;
      const double x = 3 * r * r * s * x1 + 3 * r * s * s * x2 + s * s * s;
      const double y = 3 * r * r * s * y1 + 3 * r * s * s * y2 + s * s * s;
      EXPECT_NEAR(ease(c.e, x), y, 1e-6) << c.e.kind << " at s=" << s;
    }
    EXPECT_NEAR(ease(c.e, 0.5), c.atHalf, 1e-4) << c.e.kind;
    EXPECT_EQ(ease(c.e, 0), 0);
    EXPECT_EQ(ease(c.e, 1), 1);
  }
  // Outside 0..1, and nonsense, stays in bounds.
  EXPECT_EQ(ease(curve(kEaseIn), -3), 0);
  EXPECT_EQ(ease(curve(kEaseIn), 7), 1);
  EXPECT_EQ(ease(curve(kEaseIn), NAN), 0);
  EXPECT_TRUE(std::isfinite(ease(curve(kEaseBezier, {NAN, INFINITY, -4, 9}), 0.3)));
}

// Linear writes nothing (files made without easing stay as they were); any other curve is one
// atom, which a reader that does not know it skips and a damaged one leaves linear.
TEST(Easing, DescriptionsCarryTheCurveInOneAtomOnlyWhenItIsNotLinear) {
  const auto plain = buildDescription('dslv', 2, {tween('pcnt', 0, 100)});
  EXPECT_EQ(buildDescription('dslv', 2, {tween('pcnt', 0, 100), num(kEaseKindParam, kEaseLinear)}),
            plain);
  const struct {
    std::vector<DescriptionParam> params;
    Easing expected;
    size_t atomSize;
  } cases[] = {
      {{num(kEaseKindParam, kEaseIn)}, curve(kEaseIn), 4},
      {{num(kEaseKindParam, kEaseInOut)}, curve(kEaseInOut), 4},
      {{num(kEaseKindParam, kEaseBezier), num('bzx1', 0.5), num('bzy1', -0.25), num('bzx2', 0.75),
        num('bzy2', 1.5)},
       curve(kEaseBezier, {0.5, -0.25, 0.75, 1.5}),
       20},
  };
  for (const auto& c : cases) {
    auto params = c.params;
    params.insert(params.begin(), tween('pcnt', 0, 100));
    auto bytes = buildDescription('xwip', 2, params);
    vt::atoms::View tree;
    ASSERT_EQ(tree.parse(bytes.data(), bytes.size()), noErr);
    const int atom = tree.findByIndex(0, kEasingAtom, 1);
    ASSERT_GE(atom, 0);
    EXPECT_EQ(tree.data(atom).size(), c.atomSize);
    EXPECT_EQ(tree.countOfType(0, 'bzx1'), 0) << "the curve's numbers live in the one atom";
    EXPECT_EQ(parse(bytes).easing, c.expected);
  }
  for (std::vector<uint8_t> bad :
       {std::vector<uint8_t>{0, 0, 0, 9}, std::vector<uint8_t>{0, 0, 0, 1, 0},
        std::vector<uint8_t>{0, 0, 0, 4}}) {
    const DescriptionParam damaged{kEasingAtom, {}, false, {}, bad};
    EXPECT_EQ(parse(buildDescription('dslv', 2, {tween('pcnt', 0, 100), damaged})).easing,
              Easing{});
  }
}

// The eased percentage is what every renderer sees (preview, playback, movie-render and export
// all draw through the description): a cross fade halfway through an ease-in sample.
TEST(Easing, RenderingFollowsTheCurve) {
  const Image a(8, 4, vt::makePixel(0, 0, 0)), b(8, 4, vt::makePixel(200, 200, 200));
  for (auto [kind, expected] : {std::pair{kEaseLinear, 100}, {kEaseIn, 63}, {kEaseOut, 137}}) {
    Image out =
        render('dslv', {tween('pcnt', 0, 100), num(kEaseKindParam, kind)}, &a, &b, 8, 4, 50, 100);
    EXPECT_NEAR(vt::pixelR(out.pixels[0]), expected, 1) << kind;
  }
  // Effects without a tween of their own are eased too: the default percentage follows it.
  Image out = render('dslv', {num(kEaseKindParam, kEaseIn)}, &a, &b, 8, 4, 50, 100);
  EXPECT_NEAR(vt::pixelR(out.pixels[0]), 63, 1);
}

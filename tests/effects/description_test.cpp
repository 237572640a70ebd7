#include <MacErrors.h>
#include <gtest/gtest.h>

#include "core/fourcc.h"
#include "atoms/atom_tree.h"
#include "effects_test_util.h"

using namespace vt::effects;
using namespace et;

namespace {

// A hand-written tween of `param`, as other writers produce it (with optional offset/duration).
std::vector<uint8_t> tweenDescription(OSType effect, OSType param, uint32_t tweenType,
                                      OSType dataType, int32_t start, int32_t end,
                                      int32_t offset = -1, int32_t duration = -1) {
  vt::atoms::Atom root = vt::atoms::newRoot();
  root.addOSType('what', 1, effect);
  vt::atoms::Atom& twen = root.add(param, 1).add('twen', 1);
  twen.addBE32('twnt', 1, tweenType);
  uint8_t data[8];
  vt::writeBE32(data, (uint32_t)start);
  vt::writeBE32(data + 4, (uint32_t)end);
  twen.add(dataType, 1, data);
  if (offset >= 0) twen.addBE32('twst', 1, (uint32_t)offset);
  if (duration >= 0) twen.addBE32('twdu', 1, (uint32_t)duration);
  return vt::atoms::serialise(root);
}

double valueAt(const Description& d, int64_t t, int64_t dur, OSType code) {
  ParamSet ps;
  evaluateParams(d, t, dur, ps);
  return ps.num(code);
}

}  // namespace

TEST(Description, TweensDefaultsAndClampedValues) {
  Description d = parse(buildDescription('dslv', 2, {tween('pcnt', 0, 100)}));
  // Past the end holds the end.
  for (auto [t, want] : {std::pair{0, 0.0}, {300, 50.0}, {600, 100.0}, {900, 100.0}})
    EXPECT_DOUBLE_EQ(valueAt(d, t, 600, 'pcnt'), want) << t;
  // Colour tweens move every component.
  ParamSet ps;
  DescriptionParam c{'bclr', {0, 65535, 1000}, true, {65535, 0, 3000}};
  evaluateParams(parse(buildDescription('smpt', 2, {c})), 50, 100, ps);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(ps.get('bclr').v[k], k < 2 ? 32767.5 : 2000, 0.01) << k;
  // A long tween (type 2) with 'twdt' as its data atom and a start offset and duration.
  Description l = parse(tweenDescription('brco', 'brig', 2, 'twdt', -100, 100, 200, 400));
  for (auto [t, want] :
       {std::pair{0, -100.0}, {200, -100.0}, {400, 0.0}, {600, 100.0}, {1000, 100.0}})
    EXPECT_DOUBLE_EQ(valueAt(l, t, 1000, 'brig'), want) << t;
  // Without 'twdu' the tween lasts the sample.
  EXPECT_DOUBLE_EQ(
      valueAt(parse(tweenDescription('brco', 'brig', 2, 'data', 0, 200)), 250, 1000, 'brig'), 50);
  // Missing parameters take their defaults; values are clamped to their range.
  evaluateParams(parse(buildDescription('smpt', 2, {num('hori', 1000), num('widt', -5)})), 25, 100,
                 ps);
  // pcnt: the default tween 0 -> 100 over the sample; hori: the range's top.
  for (auto [code, want] :
       {std::pair{'pcnt', 25.0}, {'wpID', 1.0}, {'vert', 1.0}, {'hori', 32.0}, {'widt', 0.0}})
    EXPECT_DOUBLE_EQ(ps.num(code), want) << vt::fourccString(code);
  // An enum value that is not listed falls back to the default.
  EXPECT_DOUBLE_EQ(valueAt(parse(buildDescription('push', 2, {num('from', 77)})), 0, 100, 'from'),
                   2);
  // Unknown atoms are ignored; a zero-length sample uses the start of tweens.
  auto z = buildDescription('dslv', 2, {tween('pcnt', 10, 90), {'zzzz', {}, false, {}, {1, 2, 3}}});
  EXPECT_DOUBLE_EQ(valueAt(parse(z), 0, 0, 'pcnt'), 10);
}

TEST(Description, MalformedDescriptionsAreRejectedAndDrawSourceAOrBlack) {
  auto good = buildDescription('dslv', 2, {tween('pcnt', 0, 100)});
  parse(good);
  // Every truncation of a good description is rejected, not read past its end.
  for (size_t n = 0; n < good.size(); ++n) parse({good.begin(), good.begin() + (long)n}, false);
  // 'what' of the wrong size, missing, or naming no catalogue effect; a parameter whose data
  // does not fit its type: Fixed in 2 bytes, an RGB tween as Fixed.
  vt::atoms::Atom shortWhat = vt::atoms::newRoot(), noWhat = vt::atoms::newRoot();
  shortWhat.add('what', 1, std::vector<uint8_t>{'a', 'b', 'c'});
  noWhat.addOSType('src ', 1, 'srcA');
  // Broken atoms and effects that are not here fail with different codes.
  using Case = std::pair<std::vector<uint8_t>, OSErr>;
  for (const auto& [bad, code] :
       {Case{vt::atoms::serialise(shortWhat), invalidAtomErr},
        Case{vt::atoms::serialise(noWhat), invalidAtomErr},
        Case{buildDescription('nope', 2, {}), noCodecErr},
        Case{buildDescription('dslv', 2, {{'pcnt', {}, false, {}, {0, 50}}}), invalidAtomErr},
        Case{tweenDescription('smpt', 'bclr', 3, 'data', 0, 0), invalidAtomErr},
        Case{{1, 2, 3}, invalidAtomContainerErr}}) {
    vt::atoms::View tree;
    Description d;
    EXPECT_EQ(parseDescription(bad.data(), bad.size(), tree, d).error(), code);
  }
  // A malformed sample draws source A (scaled to the frame), or black without one.
  Image a(8, 6, vt::makePixel(10, 200, 30)), b(8, 6, vt::makePixel(250, 0, 0));
  auto drawn = [&](const std::vector<uint8_t>& bytes, const Image* sourceA) {
    Image out(8, 6, vt::makePixel(1, 1, 1));
    EXPECT_FALSE(renderEffectSample(bytes.data(), bytes.size(), 0, 10, {sourceA, &b}, out));
    return out.pixels;
  };
  std::vector<uint8_t> junk = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 99, 's', 'e', 'a', 'n'};
  EXPECT_EQ(drawn(junk, &a), a.pixels);
  const Image small(2, 2, a.pixels[0]);
  EXPECT_EQ(drawn({}, &small), a.pixels);
  EXPECT_EQ(drawn(junk, nullptr), Image(8, 6, vt::makePixel(0, 0, 0)).pixels);
}

TEST(Description, RandomEffectsRepeatForTheSameSampleAndTimeOnly) {
  Image a = gradientPicture(64, 48, 0);
  auto frame = [&](OSType code, int64_t t) { return render(code, {}, &a, &a, 64, 48, t).pixels; };
  for (OSType code : {'fmns', 'fire', 'ripl', 'clou'}) {
    EXPECT_EQ(frame(code, 37), frame(code, 37)) << vt::fourccString(code);
    EXPECT_NE(frame(code, 37), frame(code, 80)) << vt::fourccString(code);
  }
  // A random wipe picks the same pattern every time for one description.
  Image b = gradientPicture(64, 48, 100);
  EXPECT_EQ(transition('smpt', 50, a, b, {num('wpID', 409)}).pixels,
            transition('smpt', 50, a, b, {num('wpID', 409)}).pixels);
}

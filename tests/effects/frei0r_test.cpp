// The frei0r host: the test plugins (tests/effects/plugins) pin down what it promises plugins
// and descriptions; every plugin installed on the machine is rendered at awkward sizes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "atoms/atom_tree.h"
#include "effects/frei0r.h"
#include "effects/render.h"
#include "effects_test_util.h"
#include "fixtures.h"

using namespace vt::effects;
using namespace et;

namespace {

// The test plugins first, then the machine's own; probe results are kept in the build tree.
const bool kPluginEnvironment = [] {
  std::string path = VT_FREI0R_FIXTURES;
  for (const auto& d : frei0r::searchPath()) path += ":" + d;
  setenv("FREI0R_PATH", path.c_str(), 1);
  setenv("XDG_CACHE_HOME", VT_FREI0R_CACHE, 1);
  return true;
}();

const EffectInfo& plugin(const char* name) {
  const EffectInfo* e = findPlugin(name);
  if (!e) throw std::runtime_error(std::string("plugin not loaded: ") + name);
  return *e;
}

DescriptionParam byName(const EffectInfo& e, const std::string& name, double v) {
  for (const auto& p : e.params)
    if (p.name == name) return {p.code, {v, 0, 0}};
  throw std::runtime_error("no parameter " + name);
}

Image renderPlugin(const EffectInfo& e, const std::vector<DescriptionParam>& ps, const Image* a,
                   const Image* b, int w, int h, int64_t time = 0) {
  auto bytes = buildDescription(e, true, ps);
  Image out(w, h, 0x5A3C1E07u);
  EXPECT_TRUE(renderEffectSample(bytes.data(), bytes.size(), time, 100, {a, b}, out)) << e.name;
  return out;
}

// A plugin's description as another writer makes it: its sources and the plugin's name, if any.
vt::atoms::Atom pluginRoot(int sources, const std::string& name) {
  vt::atoms::Atom root = vt::atoms::newRoot();
  root.addOSType('what', 1, kPluginEffectType);
  for (int k = 1; k <= sources; ++k) root.addOSType('src ', k, k == 1 ? 'srcA' : 'srcB');
  if (!name.empty()) root.add(kPluginNameAtom, 1, std::vector<uint8_t>(name.begin(), name.end()));
  return root;
}

Pixel inverted(Pixel p, uint8_t alpha) {
  return ((p ^ 0x00FFFFFFu) & 0x00FFFFFFu) | (Pixel)alpha << 24;
}

}  // namespace

TEST(Frei0rHost, PluginsBecomeEffectsWithTheirParametersAndDefaults) {
  const EffectInfo& check = plugin("vt check");
  EXPECT_EQ(check.code, kPluginEffectType);
  EXPECT_EQ(check.sources, 1);
  EXPECT_EQ(plugin("vt mix").sources, 2);
  // Bool, double, colour, position as two numbers, text.
  struct Expect {
    const char* name;
    ParamType type;
    std::array<double, 3> def;
  } expected[] = {
      {"Invert", ParamType::Bool, {1, 0, 0}},      {"Amount", ParamType::Fixed, {0.25, 0, 0}},
      {"Tint", ParamType::RGB, {65535, 32768, 0}}, {"Spot X", ParamType::Fixed, {0.1, 0, 0}},
      {"Spot Y", ParamType::Fixed, {0.9, 0, 0}},   {"Label", ParamType::Text, {0, 0, 0}}};
  ASSERT_EQ(check.params.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const ParamDesc& p = check.params[i];
    EXPECT_EQ(p.name, expected[i].name);
    EXPECT_EQ(p.type, expected[i].type) << p.name;
    for (size_t c = 0; c < 3; ++c)
      EXPECT_NEAR(p.defaultValue[c], expected[i].def[c], 1e-6) << p.name;
    EXPECT_EQ(check.param(p.code), &p) << "codes are unique";
  }
  EXPECT_EQ(check.params[1].tween, TweenFlag::Optional) << "numbers can be animated";
  EXPECT_EQ(check.params[5].defaultText, "abc");
  // Names that are not UTF-8 are made so (JSON and the dialog's text need it).
  ASSERT_EQ(plugin("vt mix").params.size(), 1u);
  EXPECT_EQ(plugin("vt mix").params[0].name, "Mixer's ? amount");
  // The crashing plugin was found out by its probe; the nameless one refused.
  EXPECT_EQ(findPlugin("vt crash"), nullptr);
  for (const auto& e : catalogue()) EXPECT_FALSE(e.isPlugin() && e.plugin.empty());
  EXPECT_TRUE(isEffectType(kPluginEffectType));
  EXPECT_EQ(findEffect(kPluginEffectType), nullptr) << "the shared code alone names no plugin";
  EXPECT_EQ(findEffect(kPluginEffectType, "vt mix"), findPlugin("vt mix"));
}

// frei0r takes sides that are multiples of 8 up to 2048, and the host promises at least 256 (some
// plugins write past smaller frames); the test plugin aborts on anything else or on a frame not
// 16-byte aligned. Every size must still come back exact.
TEST(Frei0rHost, FramesOfEverySizeArePaddedOrTiledAndComeBackWhole) {
  const EffectInfo& check = plugin("vt check");
  const int sizes[][2] = {{1, 1},     {7, 9},     {8, 8},     {321, 241},
                          {2048, 16}, {2049, 17}, {13, 4100}, {4100, 2050}};
  for (const auto& s : sizes) {
    const Image a = gradientPicture(s[0], s[1], 9);
    Image out = renderPlugin(check, {}, &a, nullptr, s[0], s[1]);
    size_t wrong = 0;
    for (size_t i = 0; i < out.pixels.size(); ++i)
      wrong += out.pixels[i] != inverted(a.pixels[i], 64);
    EXPECT_EQ(wrong, 0u) << s[0] << "x" << s[1];
  }
  EXPECT_EQ(frei0r::upscale(180, 135), 2);
  EXPECT_EQ(frei0r::upscale(1, 1), 256);
  EXPECT_EQ(frei0r::upscale(4100, 1), 1) << "a sliver is padded, not enlarged past four tiles";
  const frei0r::TileGrid g = frei0r::tileGrid(4100, 2050);
  EXPECT_TRUE(g.across == 3 && g.down == 2 && g.width == 1368 && g.height == 1032)
      << g.across << " " << g.down << " " << g.width << " " << g.height;
}

TEST(Frei0rHost, ParameterValuesAndTweensReachThePlugin) {
  const EffectInfo& check = plugin("vt check");
  const Image a = gradientPicture(24, 16, 3);
  Image plain = renderPlugin(check, {byName(check, "Invert", 0), byName(check, "Amount", 1)}, &a,
                             nullptr, 24, 16);
  for (size_t i = 0; i < a.pixels.size(); ++i) ASSERT_EQ(plain.pixels[i], a.pixels[i]) << i;
  DescriptionParam label = byName(check, "Label", 0);
  label.raw = {'k', 'e', 'e', 'p'};
  Image kept = renderPlugin(check, {label}, &a, nullptr, 24, 16);
  for (size_t i = 0; i < a.pixels.size(); ++i)
    ASSERT_EQ(kept.pixels[i], (a.pixels[i] & 0x00FFFFFFu) | 64u << 24) << i;
  DescriptionParam amount = byName(check, "Amount", 0);
  amount.tweened = true;
  amount.end = {1, 0, 0};
  Image half = renderPlugin(check, {amount}, &a, nullptr, 24, 16, 50);
  EXPECT_NEAR(vt::pixelA(half.pixels[0]), 128, 1);
}

TEST(Frei0rHost, MixersGetBothSourcesInTheirOwnColourModel) {
  // "vt mix" works on RGBA bytes: red from its first input, green from its second.
  const Image a(20, 12, vt::makePixel(200, 10, 30)), b(5, 3, vt::makePixel(40, 150, 250));
  Image out = renderPlugin(plugin("vt mix"), {}, &a, &b, 20, 12);
  for (Pixel p : out.pixels) ASSERT_EQ(p, vt::makePixel(200, 150, 0));
}

TEST(Frei0rDescription, StoresThePluginAndItsParametersByName) {
  const EffectInfo& check = plugin("vt check");
  auto bytes =
      buildDescription(check, true, {byName(check, "Spot Y", 0.5), byName(check, "Invert", 0)});
  vt::atoms::View tree;
  ASSERT_EQ(tree.parse(bytes.data(), bytes.size()), noErr);
  int plug = tree.findByIndex(0, kPluginNameAtom, 1);
  ASSERT_GE(plug, 0);
  EXPECT_EQ(std::string((const char*)tree.data(plug).data(), tree.data(plug).size()), "vt check");
  Description d = parse(bytes);
  ParamSet ps;
  evaluateParams(d, 0, 100, ps);
  EXPECT_EQ(ps.values[0].v[0], 0);             // Invert, as stored
  EXPECT_NEAR(ps.values[1].v[0], 0.25, 1e-4);  // Amount: not stored, the default
  EXPECT_NEAR(ps.values[4].v[0], 0.5, 1e-4);   // Spot Y, found by name

  // Another plugin version's parameter order and a parameter it no longer has.
  vt::atoms::Atom root = pluginRoot(1, "vt check");
  auto named = [&](int id, const std::string& name, std::vector<uint8_t> value) {
    auto& h = root.add(kPluginParamAtom, id);
    h.add(kPluginParamName, 1, std::vector<uint8_t>(name.begin(), name.end()));
    h.add(kPluginParamValue, 1, value);
  };
  named(1, "Gone", {1, 2, 3, 4});
  named(2, "Amount", {0, 0, 0x80, 0});  // 0.5 as 16.16
  auto other = vt::atoms::serialise(root);
  d = parse(other);
  evaluateParams(d, 0, 100, ps);
  EXPECT_NEAR(ps.values[1].v[0], 0.5, 1e-6);
  // A value of the wrong size is a malformed description.
  named(3, "Invert", {1, 2, 3, 4, 5});
  other = vt::atoms::serialise(root);
  parse(other, false);
}

// A movie made with a plugin, opened where the plugin is missing: it draws source A (a filter
// or mixer) or black (a generator), and says it could not render.
TEST(Frei0rDescription, AMissingPluginDrawsSourceAOrBlack) {
  const Image a = gradientPicture(16, 8, 1), b = gradientPicture(16, 8, 99);
  for (auto [sources, name] : {std::pair{2, "none"}, {1, "none"}, {1, ""}, {0, "none"}}) {
    auto bytes = vt::atoms::serialise(pluginRoot(sources, name));
    Image out(16, 8, 0x5A3C1E07u);
    EXPECT_FALSE(renderEffectSample(bytes.data(), bytes.size(), 50, 100,
                                    {sources ? &a : nullptr, sources == 2 ? &b : nullptr}, out));
    EXPECT_EQ(out.pixels, sources ? a.pixels : Image(16, 8).pixels) << sources;
  }
}

// Plugins crash, hang or describe nothing: each is tried in a child process once, left out
// with one line on standard error, and remembered until its file changes.
TEST(Frei0rHost, BadPluginsAreProbedOnceAndRememberedInTheCache) {
  const std::string cache = vt_test::tempDir("frei0r_cache");
  const std::string list = std::string(VT_BINARY_DIR) + "/tools/effect-list/effect-list --json";
  const std::string env =
      "FREI0R_PATH=" + std::string(VT_FREI0R_FIXTURES) + " XDG_CACHE_HOME=" + cache + " ";
  auto runList = [&](std::string& json, std::string& errors) {
    const std::string err = cache + "/stderr";
    int rc = vt_test::run(env + list + " 2>" + err, &json);
    errors = vt_test::readFile(err);
    return rc;
  };
  std::string json, errors;
  ASSERT_EQ(runList(json, errors), 0);
  EXPECT_NE(json.find("\"plugin\": \"vt check\""), std::string::npos);
  EXPECT_NE(json.find("\"plugin\": \"vt mix\""), std::string::npos);
  EXPECT_EQ(json.find("vt crash"), std::string::npos);
  EXPECT_NE(errors.find("fixture3.so crashes while it is tried"), std::string::npos) << errors;
  EXPECT_NE(errors.find("fixture4.so"), std::string::npos) << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2) << errors;
  std::string cached = vt_test::readFile(cache + "/vantrel/frei0r-probe");
  EXPECT_NE(cached.find("bad\t"), std::string::npos) << cached;
  // Known now: not tried again, still left out.
  ASSERT_EQ(runList(json, errors), 0);
  EXPECT_EQ(errors.find("fixture3.so"), std::string::npos) << errors;
  EXPECT_EQ(json.find("vt crash"), std::string::npos);
  // A new file is tried again.
  ASSERT_EQ(vt_test::run("touch -d '2001-01-01' " VT_FREI0R_FIXTURES "/fixture3.so"), 0);
  ASSERT_EQ(runList(json, errors), 0);
  EXPECT_NE(errors.find("fixture3.so crashes"), std::string::npos) << errors;
  ASSERT_EQ(vt_test::run("touch " VT_FREI0R_FIXTURES "/fixture3.so"), 0);
}

// Every plugin installed on this machine, at the preview's size, an odd size and full HD, with its
// parameters at
// their defaults, minimums and maximums: it renders and fills the whole frame.
class EveryPlugin : public testing::TestWithParam<std::string> {};

TEST_P(EveryPlugin, RendersAtOddAndFullHdSizesWithDefaultsAndExtremes) {
  const EffectInfo& e = plugin(GetParam().c_str());
#if defined(__SANITIZE_ADDRESS__)
  const int fullHdSets = 1;  // under AddressSanitizer full HD with defaults only, for time
#else
  const int fullHdSets = 3;
#endif
  for (auto [w, h] : {std::pair{180, 135}, {321, 241}, {1920, 1080}}) {  // the dialog's preview too
    const Image a = gradientPicture(w, h, 5), b = gradientPicture(w / 2, h / 2, 77);
    for (int set = 0; set < (w == 1920 ? fullHdSets : 3); ++set) {
      std::vector<DescriptionParam> ps;
      for (const auto& p : e.params) {
        if (set == 0) continue;  // defaults
        double v = set == 1 ? p.minValue : p.maxValue;
        ps.push_back({p.code, {v, v, v}});
      }
      Image out = renderPlugin(e, ps, &a, &b, w, h, 40);
      size_t untouched = std::count(out.pixels.begin(), out.pixels.end(), 0x5A3C1E07u);
      ASSERT_EQ(untouched, 0u) << e.name << " at " << w << "x" << h << ", set " << set;
    }
  }
}

static std::vector<std::string> installedPlugins() {
  std::vector<std::string> names;
  for (const auto& e : catalogue())
    if (e.isPlugin() && e.plugin.rfind("vt ", 0) != 0) names.push_back(e.plugin);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Installed, EveryPlugin, testing::ValuesIn(installedPlugins()),
                         [](const testing::TestParamInfo<std::string>& param) {
                           std::string n;
                           for (char c : param.param) n += std::isalnum((unsigned char)c) ? c : '_';
                           return n + "_" + std::to_string(param.index);
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EveryPlugin);

// The effect-render and effect-list tools, run as a user runs them.
#include <gtest/gtest.h>

#include <string>

#include "core/image.h"
#include "fixtures.h"

namespace {
const std::string kRender = std::string(VT_BINARY_DIR) + "/tools/effect-render/effect-render";
const std::string kList = std::string(VT_BINARY_DIR) + "/tools/effect-list/effect-list";
}  // namespace

TEST(Tools, EffectRenderRendersStillsAndRefusesBadRequests) {
  std::string dir = vt_test::tempDir("effect_render");
  const std::string a = " " + dir + "/a.png", b = " " + dir + "/b.png", out = dir + "/out.png";
  ASSERT_TRUE(vt::writePNG(vt::Image(40, 20, vt::makePixel(200, 0, 0)), (dir + "/a.png").c_str()));
  ASSERT_TRUE(vt::writePNG(vt::Image(10, 10, vt::makePixel(0, 0, 200)), (dir + "/b.png").c_str()));
  auto render = [&](const std::string& args) {
    return vt_test::run(kRender + args + " -o " + out + " 2>/dev/null");
  };
  vt::Image img;
  ASSERT_EQ(render(" --effect dslv --percent 25" + a + b), 0);
  ASSERT_TRUE(vt::readPNG(out.c_str(), img));
  EXPECT_EQ(img.width, 40);  // the size of A; B is scaled
  EXPECT_NEAR(vt::pixelR(img.at(5, 5)), 150, 1);
  EXPECT_NEAR(vt::pixelB(img.at(5, 5)), 50, 1);
  // Parameters: a colour and a number.
  ASSERT_EQ(render(" --effect smpt --param widt=4 --param bclr=0,255,0 --percent 50" + a + b), 0);
  ASSERT_TRUE(vt::readPNG(out.c_str(), img));
  int green = 0;
  for (vt::Pixel p : img.pixels) green += p == vt::makePixel(0, 255, 0);
  EXPECT_GE(green, 3 * 20);
  // Generators need no picture; --size sets the frame.
  ASSERT_EQ(render(" --effect fire --percent 10 --size 64x32"), 0);
  ASSERT_TRUE(vt::readPNG(out.c_str(), img));
  EXPECT_TRUE(img.width == 64 && img.height == 32) << img.width << "x" << img.height;
  // Refusals: unknown effect (1), wrong number of pictures, unknown parameter, bad values (2),
  // a missing picture (1).
  for (auto [args, code] : {std::pair<std::string, int>{" --effect nope --percent 5", 1},
                            {" --effect dslv --percent 5" + a, 2},
                            {" --effect blur --param zzzz=1 --percent 5" + a, 2},
                            {" --effect blur --param ksiz=x --percent 5" + a, 2},
                            {" --effect blur --percent 500" + a, 2},
                            {" --effect blur --percent 5 " + dir + "/missing.png", 1}})
    EXPECT_EQ(render(args), code) << args;
}

TEST(Tools, EffectListPrintsTheCatalogueAsTextAndJson) {
  std::string text, json;
  ASSERT_EQ(vt_test::run(kList, &text), 0);
  EXPECT_NE(text.find("dslv  Cross Fade  (transition, 2 sources)"), std::string::npos);
  EXPECT_NE(text.find("Four Box"), std::string::npos);
  ASSERT_EQ(vt_test::run("FREI0R_PATH= " + kList + " --json", &json), 0);  // no plugins
  size_t effects = 0;
  for (size_t at = 0; (at = json.find("\"kind\"", at)) != std::string::npos; ++at) ++effects;
  EXPECT_EQ(effects, 123u);
  EXPECT_NE(json.find("\"code\": \"smp4\""), std::string::npos);
  EXPECT_NE(vt_test::run(kList + " --bogus 2>/dev/null"), 0);
}

// Every effect at odd sizes, with guard bytes around every pixel buffer: a vectorised loop that
// runs past a row's or an image's end is caught here, in whatever build runs the test.
#include <gtest/gtest.h>

#include "effects/catalogue.h"
#include "effects_test_util.h"

using namespace vt::effects;
using namespace et;

TEST(Guards, EveryEffectStaysInsideOddSizedPictures) {
  vt::setPixelGuards(true);
  const long before = vt::pixelGuardFaults();
  // Tiny, odd, just past vector widths, and one big enough to be split across threads.
  const int sizes[][2] = {{1, 1}, {3, 2}, {7, 5}, {17, 3}, {33, 9}, {63, 4}, {65, 7}, {513, 129}};
  for (const auto& e : catalogue()) {
    for (const auto& s : sizes) {
      const int w = s[0], h = s[1];
      Image a = gradientPicture(w, h, 3), b = gradientPicture(w, h, 200);
      Image other = gradientPicture(w / 2 + 3, h + 1, 50);  // inputs of another size are scaled
      for (const Image* first : {&a, &other}) {
        Image out = render(e.code, {}, first, &b, w, h, 37, 100);  // transitions at 37%
        ASSERT_TRUE(vt::pixelGuardsIntact(out) && vt::pixelGuardsIntact(*first))
            << e.name << " at " << w << "x" << h;
      }
    }
  }
  vt::setPixelGuards(false);
  EXPECT_EQ(vt::pixelGuardFaults(), before) << "a scratch buffer was written outside its block";
}

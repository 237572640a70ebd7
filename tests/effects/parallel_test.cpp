#include <gtest/gtest.h>

#include "effects/parallel.h"
#include "effects_test_util.h"

using namespace vt::effects;
using namespace et;

// Large frames are split into bands across threads; the result must not depend on it.
TEST(Parallel, BandedFramesEqualSingleThreadedFrames) {
  const int w = 480, h = 270;  // big enough to be banded
  const Image b = gradientPicture(w, h, 100);
  const Image smallA = gradientPicture(w / 3, h / 3, 7);  // exercises the scaling path
  for (const auto* entry : builtIns()) {
    const auto& e = *entry;
    std::vector<DescriptionParam> ps;  // transitions at 40% of the sample
    if (e.code == 'smpt') ps.push_back(num('soft', 1));
    if (e.code == 'smp2') ps.push_back(num('widt', 5));
    setMaxThreads(1);
    Image serial = render(e.code, ps, &smallA, &b, w, h, 40, 100);
    setMaxThreads(0);
    Image banded = render(e.code, ps, &smallA, &b, w, h, 40, 100);
    EXPECT_EQ(serial.pixels, banded.pixels) << e.name;
  }
  // A flat frame stays flat through the banded blur.
  Image flat(w, h, vt::makePixel(9, 99, 199));
  EXPECT_EQ(render('blur', {num('ksiz', 15)}, &flat, nullptr, w, h).pixels, flat.pixels);
}

TEST(Parallel, RunRowsCoversEveryRowOnce) {
  for (int rows : {1, 3, 4, 7, 100, 1081}) {
    std::vector<int> hits((size_t)rows, 0);
    parallelRows(rows, 100000, [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y) hits[(size_t)y]++;
    });
    for (int v : hits) ASSERT_EQ(v, 1) << rows;
  }
}

// Every effect at odd sizes, with guard bytes around every pixel buffer: a vectorised loop that
// runs past a row's or an image's end is caught here, in whatever build runs the test.
TEST(Guards, EveryEffectStaysInsideOddSizedPictures) {
  vt::setPixelGuards(true);
  const long before = vt::pixelGuardFaults();
  // Tiny, odd, just past vector widths, and one big enough to be split across threads.
  const int sizes[][2] = {{1, 1}, {3, 2}, {7, 5}, {17, 3}, {33, 9}, {63, 4}, {65, 7}, {513, 129}};
  for (const auto* entry : builtIns()) {
    const auto& e = *entry;
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

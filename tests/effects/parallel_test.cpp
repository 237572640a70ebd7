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
  for (const auto& e : catalogue()) {
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

// Each transition ffmpeg's xfade filter names is given by a Vantrel effect; those it has here
// are checked against ffmpeg's own frames at a quarter, half and three quarters of the way.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/image.h"
#include "effects_test_util.h"
#include "fixtures.h"

using namespace vt::effects;
using namespace et;

namespace {

struct Row {
  const char* xfade;
  OSType code;
  OSType param;  // 0: none
  double value;
  bool close = false;  // ours differs in detail: only the mean difference is bounded
};

// The table the README shows, minus the entries that are SMPTE patterns or plugins.
const Row kRows[] = {
    {"fade", 'dslv', 0, 0},
    {"wipeleft", 'xwip', 'xdir', 1},
    {"wiperight", 'xwip', 'xdir', 2},
    {"wipeup", 'xwip', 'xdir', 3},
    {"wipedown", 'xwip', 'xdir', 4},
    {"wipetl", 'xwip', 'xdir', 5},
    {"wipetr", 'xwip', 'xdir', 6},
    {"wipebl", 'xwip', 'xdir', 7},
    {"wipebr", 'xwip', 'xdir', 8},
    {"slideleft", 'push', 'from', 2},
    {"slideright", 'push', 'from', 4},
    {"slideup", 'push', 'from', 3},
    {"slidedown", 'push', 'from', 1},
    {"smoothleft", 'xsmo', 'xsty', 1},
    {"smoothright", 'xsmo', 'xsty', 2},
    {"smoothup", 'xsmo', 'xsty', 3},
    {"smoothdown", 'xsmo', 'xsty', 4},
    {"diagtl", 'xsmo', 'xsty', 5},
    {"diagtr", 'xsmo', 'xsty', 6},
    {"diagbl", 'xsmo', 'xsty', 7},
    {"diagbr", 'xsmo', 'xsty', 8},
    {"vertopen", 'xsmo', 'xsty', 9},
    {"vertclose", 'xsmo', 'xsty', 10},
    {"horzopen", 'xsmo', 'xsty', 11},
    {"horzclose", 'xsmo', 'xsty', 12},
    {"circleopen", 'xsmo', 'xsty', 13},
    {"circleclose", 'xsmo', 'xsty', 14},
    {"radial", 'xsmo', 'xsty', 15},
    {"hlslice", 'xslc', 'xdir', 1},
    {"hrslice", 'xslc', 'xdir', 2},
    {"vuslice", 'xslc', 'xdir', 3},
    {"vdslice", 'xslc', 'xdir', 4},
    {"fadeblack", 'xfth', 'xvia', 1},
    {"fadewhite", 'xfth', 'xvia', 2},
    {"fadegrays", 'xfth', 'xvia', 3, true},
    {"fadefast", 'xton', 'xsty', 1},
    {"fadeslow", 'xton', 'xsty', 2},
    {"squeezeh", 'xsqz', 'xdir', 1},
    {"squeezev", 'xsqz', 'xdir', 2},
    {"zoomin", 'xzin', 0, 0},
    {"pixelize", 'xpix', 0, 0},
    {"hblur", 'xhbl', 0, 0},
    {"distance", 'xdst', 0, 0},
    {"circlecrop", 'xcrp', 'xsty', 1},
    {"rectcrop", 'xcrp', 'xsty', 2},
    {"dissolve", 'xdis', 0, 0},
};

}  // namespace

TEST(Xfade, TransitionsMatchFfmpegsFramesAtQuarterHalfAndThreeQuarters) {
  const std::string dir = vt_test::tempDir("xfade");
  // Pictures with detail everywhere, so misplaced pixels show; odd sizes for rounding.
  const int w = 99, h = 61;
  const Image a = gradientPicture(w, h, 17), b = gradientPicture(w, h, 141);
  ASSERT_TRUE(vt::writePNG(a, (dir + "/a.png").c_str()));
  ASSERT_TRUE(vt::writePNG(b, (dir + "/b.png").c_str()));
  for (const Row& r : kRows) {
    // Four frames a second over one second: frame k is at progress k/4.
    const std::string cmd =
        "ffmpeg -y -loglevel error -framerate 4 -loop 1 -i " + dir +
        "/a.png -framerate 4 -loop 1 -i " + dir +
        "/b.png -filter_complex \"[0]format=gbrp[a];[1]format=gbrp[b];[a][b]xfade=transition=" +
        r.xfade + ":duration=1:offset=0,format=rgb24\" -frames:v 4 -start_number 0 " + dir + "/" +
        r.xfade + "_%d.png";
    ASSERT_EQ(vt_test::run(cmd), 0) << cmd;
    for (int k = 1; k <= 3; ++k) {
      Image ref;
      const std::string file = dir + "/" + r.xfade + "_" + std::to_string(k) + ".png";
      ASSERT_TRUE(vt::readPNG(file.c_str(), ref)) << file;
      ASSERT_TRUE(ref.width == w && ref.height == h) << r.xfade;
      std::vector<DescriptionParam> ps = {num('pcnt', 25.0 * k)};
      if (r.param) ps.push_back(num(r.param, r.value));
      Image ours = render(r.code, ps, &a, &b, w, h);
      size_t off = 0, total = 0;
      for (size_t i = 0; i < ours.pixels.size(); ++i) {
        off += channelDiff(ours.pixels[i], ref.pixels[i]) > 3;
        total += (size_t)channelDiff(ours.pixels[i], ref.pixels[i]);
      }
      // Hard edges may fall one pixel apart where float rounding differs. Our greys are the
      // mean of the three channels; ffmpeg's come out a little lighter.
      if (r.close)
        EXPECT_LE(total / ours.pixels.size(), 12u) << r.xfade << " at " << 25 * k << "%";
      else
        EXPECT_LE(off, ours.pixels.size() / 50) << r.xfade << " at " << 25 * k << "%";
    }
  }
}

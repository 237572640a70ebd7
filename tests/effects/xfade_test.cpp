// Each transition ffmpeg's xfade filter names is given by a Vantrel effect; those it has here
// are checked against ffmpeg's own frames at a quarter, half and three quarters of the way.
#include <gtest/gtest.h>

#include <string>

#include "core/image.h"
#include "effects_test_util.h"
#include "fixtures.h"

using namespace vt::effects;
using namespace et;

namespace {

// Transitions given by one effect and a parameter: the names in the order of the parameter's
// values from 1 (value 0: the effect takes no parameter).
struct Family {
  OSType code, param;
  std::vector<const char*> names;
};

// The table the README shows, minus the entries that are SMPTE patterns or plugins.
const Family kFamilies[] = {
    {'dslv', 0, {"fade"}},
    {'xwip',
     'xdir',
     {"wipeleft", "wiperight", "wipeup", "wipedown", "wipetl", "wipetr", "wipebl", "wipebr"}},
    {'push', 'from', {"slidedown", "slideleft", "slideup", "slideright"}},
    {'xsmo',
     'xsty',
     {"smoothleft", "smoothright", "smoothup", "smoothdown", "diagtl", "diagtr", "diagbl", "diagbr",
      "vertopen", "vertclose", "horzopen", "horzclose", "circleopen", "circleclose", "radial"}},
    {'xslc', 'xdir', {"hlslice", "hrslice", "vuslice", "vdslice"}},
    {'xfth', 'xvia', {"fadeblack", "fadewhite", "fadegrays"}},
    {'xton', 'xsty', {"fadefast", "fadeslow"}},
    {'xsqz', 'xdir', {"squeezeh", "squeezev"}},
    {'xcrp', 'xsty', {"circlecrop", "rectcrop"}},
    {'xzin', 0, {"zoomin"}},
    {'xpix', 0, {"pixelize"}},
    {'xhbl', 0, {"hblur"}},
    {'xdst', 0, {"distance"}},
    {'xdis', 0, {"dissolve"}},
};

}  // namespace

TEST(Xfade, TransitionsMatchFfmpegsFramesAtQuarterHalfAndThreeQuarters) {
  const std::string dir = vt_test::tempDir("xfade");
  // Pictures with detail everywhere, so misplaced pixels show; odd sizes for rounding.
  const int w = 99, h = 61;
  const Image a = gradientPicture(w, h, 17), b = gradientPicture(w, h, 141);
  ASSERT_TRUE(vt::writePNG(a, (dir + "/a.png").c_str()));
  ASSERT_TRUE(vt::writePNG(b, (dir + "/b.png").c_str()));
  for (const Family& f : kFamilies)
    for (size_t v = 0; v < f.names.size(); ++v) {
      // Four frames a second over one second: frame k is at progress k/4.
      const std::string name = f.names[v],
                        cmd = "ffmpeg -y -loglevel error -framerate 4 -loop 1 -i " + dir +
                              "/a.png -framerate 4 -loop 1 -i " + dir +
                              "/b.png -filter_complex "
                              "\"[0]format=gbrp[a];[1]format=gbrp[b];[a][b]xfade=transition=" +
                              name +
                              ":duration=1:offset=0,format=rgb24\" -frames:v 4 -start_number 0 " +
                              dir + "/" + name + "_%d.png";
      ASSERT_EQ(vt_test::run(cmd), 0) << cmd;
      for (int k = 1; k <= 3; ++k) {
        Image ref;
        const std::string file = dir + "/" + name + "_" + std::to_string(k) + ".png";
        ASSERT_TRUE(vt::readPNG(file.c_str(), ref)) << file;
        ASSERT_TRUE(ref.width == w && ref.height == h) << name;
        std::vector<DescriptionParam> ps = {num('pcnt', 25.0 * k)};
        if (f.param) ps.push_back(num(f.param, (double)v + 1));
        Image ours = render(f.code, ps, &a, &b, w, h);
        size_t off = 0, total = 0;
        for (size_t i = 0; i < ours.pixels.size(); ++i) {
          off += channelDiff(ours.pixels[i], ref.pixels[i]) > 3;
          total += (size_t)channelDiff(ours.pixels[i], ref.pixels[i]);
        }
        // Hard edges may fall one pixel apart where float rounding differs. Our greys are the
        // mean of the three channels; ffmpeg's come out a little lighter: only their mean
        // difference is bounded.
        if (name == "fadegrays")
          EXPECT_LE(total / ours.pixels.size(), 12u) << name << " at " << 25 * k << "%";
        else
          EXPECT_LE(off, ours.pixels.size() / 50) << name << " at " << 25 * k << "%";
      }
    }
}

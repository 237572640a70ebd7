// The movie-frame tool: the picture of a movie at a time, or one line saying why not.
#include "helpers.h"

namespace {

const std::string kTool = std::string(VT_BINARY_DIR) + "/tools/movie-frame/movie-frame";

int runTool(const std::string& args, std::string* output) {
  return vt_test::run("'" + kTool + "' " + args + " 2>&1", output);
}

}  // namespace

TEST(MovieFrameTool, WritesWhatFfmpegDecodes) {
  std::string dir = vt_test::tempDir("movieframe");
  struct {
    const char* name;
    std::string args;
    int fps;
    int frame;
  } cases[] = {
      {"avc_bframes.mov", "", 25, 17},
      {"imp.mkv",
       "-f lavfi -i testsrc2=size=160x120:rate=25 -t 2 -c:v libx264 -bf 2 -pix_fmt yuv420p", 25,
       37},
      {"imp.ts", "-f lavfi -i testsrc2=size=160x120:rate=25 -t 2 -c:v mpeg2video", 25, 7},
  };
  for (auto& c : cases) {
    std::string src = c.args.empty() ? codec_test::avcBFrames() : vt_test::fixture(c.name, c.args);
    std::string png = dir + "/" + c.name + ".png";
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", (c.frame + 0.5) / c.fps);  // mid-frame
    std::string out;
    ASSERT_EQ(runTool("'" + src + "' --time " + t + " -o '" + png + "'", &out), 0) << out;
    vt::Image img;
    ASSERT_TRUE(vt::readPNG(png.c_str(), img));
    EXPECT_GE(
        codec_test::psnr(img, codec_test::referenceFrame(src, c.frame, img.width, img.height)),
        40.0)
        << c.name;
  }
}

TEST(MovieFrameTool, BadInputGivesStatusAndOneLine) {
  std::string dir = vt_test::tempDir("movieframe-bad");
  std::string text = vt_test::writeFile(dir + "/text.mov", "no movie here\n");
  std::string mov = codec_test::avcBFrames();
  for (const std::string& args : {"'" + text + "' --time 0 -o '" + dir + "/a.png'",
                                  "'" + dir + "/missing.mov' --time 0 -o '" + dir + "/b.png'",
                                  "'" + mov + "' --time 50 -o '" + dir + "/c.png'",
                                  "'" + mov + "' --time 0 -o '/nonexistent-dir/x.png'"}) {
    std::string out;
    EXPECT_NE(runTool(args, &out), 0) << args;
    ASSERT_FALSE(out.empty()) << args;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line: " << out;
  }
  std::string out;
  EXPECT_NE(runTool("--time 1", &out), 0);  // usage
}

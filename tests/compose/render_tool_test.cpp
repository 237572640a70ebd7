// The movie-render tool: every frame of a movie as a YUV4MPEG2 stream that ffmpeg reads, from a
// file or through a pipe; one line and a non-zero status for bad input.
#include <gtest/gtest.h>

#include "../codec/helpers.h"
#include "effect_movie.h"

namespace {

const std::string kTool = std::string(VT_BINARY_DIR) + "/tools/movie-render/movie-render";

int runTool(const std::string& args, std::string* output) {
  return vt_test::run("'" + kTool + "' " + args + " 2>&1", output);
}

struct Stream {
  std::string header;
  int frames = -1;  // -1: not a whole stream
};

// The header line and the number of whole frames of a 4:2:0 stream of w x h.
Stream readStream(const std::string& path, int w, int h) {
  const std::string bytes = vt_test::readFile(path);
  Stream s;
  size_t eol = bytes.find('\n');
  if (eol == std::string::npos) return s;
  s.header = bytes.substr(0, eol);
  size_t frame = 6 + (size_t)w * h + 2 * (size_t)((w + 1) / 2) * ((h + 1) / 2);
  size_t body = bytes.size() - eol - 1;
  if (body % frame == 0) s.frames = (int)(body / frame);
  return s;
}

std::string source() {
  return vt_test::fixture("render_src.mov",
                          "-f lavfi -i testsrc2=size=176x144:rate=25 -t 2 "
                          "-c:v libx264 -bf 2 -g 10 -pix_fmt yuv420p");
}

}  // namespace

TEST(MovieRenderTool, EveryFrameOfEveryKindOfMovieAsFfmpegReadsIt) {
  std::string dir = vt_test::tempDir("movierender");
  std::string src = source();
  std::string other = vt_test::fixture("render_other.mkv",
                                       "-f lavfi -i testsrc2=size=176x144:rate=25 -t 2 "
                                       "-vf negate -c:v mpeg4 -g 8");
  std::string fx = dir + "/fade.mov";
  ASSERT_EQ(vt_test::makeEffectMovie(fx, src, other, 'dslv', 176, 144, false), noErr);
  struct {
    std::string file, options;
    int w, h, frames;
    const char* rate;
  } cases[] = {
      {src, "", 176, 144, 50, "F25:1"},
      {src, "--from 1 --to 1.4 --size 88x72", 88, 72, 10, "F25:1"},
      {other, "--size 175x99", 175, 99, 50, "F25:1"},
      {fx, "", 176, 144, 50, "F25:1"},
      {vt_test::fixture("render_still.png", "-f lavfi -i testsrc2=size=64x48 -frames:v 1"), "", 64,
       48, 1, "F1:1"},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string out = dir + "/out" + std::to_string(n++) + ".y4m", log;
    ASSERT_EQ(runTool("'" + c.file + "' " + c.options + " -o '" + out + "'", &log), 0) << log;
    EXPECT_EQ(log, "") << "no progress line when standard error is not a terminal";
    Stream s = readStream(out, c.w, c.h);
    EXPECT_EQ(s.frames, c.frames) << c.file << " " << c.options;
    EXPECT_NE(s.header.find(" W" + std::to_string(c.w) + " H" + std::to_string(c.h) + " "),
              std::string::npos)
        << s.header;
    EXPECT_NE(s.header.find(c.rate), std::string::npos) << s.header;
  }
  // Frames come out as the movie shows them: ffmpeg's reading of the stream against its own
  // decode of the source.
  for (int k : {0, 17, 49}) {
    vt::Image ours = codec_test::referenceFrame(dir + "/out0.y4m", k, 176, 144);
    EXPECT_GE(codec_test::psnr(ours, codec_test::referenceFrame(src, k, 176, 144)), 30.0)
        << "frame " << k;
  }
  // Through a pipe into ffmpeg.
  std::string log;
  EXPECT_EQ(vt_test::run("'" + kTool + "' '" + fx +
                             "' -o - | ffmpeg -nostdin -loglevel error -i - -f null - 2>&1",
                         &log),
            0)
      << log;
}

TEST(MovieRenderTool, BadInputGivesStatusAndOneLine) {
  std::string dir = vt_test::tempDir("movierender-bad");
  std::string text = vt_test::writeFile(dir + "/text.mov", "no movie here\n");
  std::string mov = source();
  // Bad files and ranges (1), and usage errors (2), each told in one line.
  for (const auto& [args, status] : std::vector<std::pair<std::string, int>>{
           {"'" + text + "' -o '" + dir + "/a.y4m'", 1},
           {"'" + dir + "/missing.mov' -o '" + dir + "/b.y4m'", 1},
           {"'" + mov + "' --from 5 -o '" + dir + "/c.y4m'", 1},
           {"'" + mov + "' --from 1 --to 0.5 -o '" + dir + "/d.y4m'", 1},
           {"'" + mov + "' -o '/nonexistent-dir/x.y4m'", 1},
           {"'" + mov + "' --size 0x10 -o -", 2},
           {"'" + mov + "' --size big -o -", 2},
           {"'" + mov + "' --from -1 -o -", 2},
           {"'" + mov + "'", 2}}) {
    std::string out;
    EXPECT_EQ(runTool(args, &out), status) << args;
    EXPECT_TRUE(!out.empty() && out.find('\n') == out.size() - 1) << "one line: " << out;
  }
  // A reader that goes away early is a write error, not a crash.
  EXPECT_EQ(vt_test::run("bash -c \"set -o pipefail; '" + kTool + "' '" + mov +
                         "' -o - 2>/dev/null | head -c 100 >/dev/null\""),
            1);
}

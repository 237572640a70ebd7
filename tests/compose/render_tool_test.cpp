// The movie-render tool, and decoding ahead on worker threads (also run under ThreadSanitizer),
// on one cross-fade movie.
#include <gtest/gtest.h>

#include "builders.h"
#include "compose/compose.h"
#include "effect_movie.h"

namespace {

const std::string kTool = std::string(VT_BINARY_DIR) + "/tools/movie-render/movie-render";

int runTool(const std::string& args, std::string* output) {
  return vt_test::run("'" + kTool + "' " + args + " 2>&1", output);
}

// A cross fade from an H.264 test picture with reordered frames to an MPEG-4 negative, built as
// the effect movie maker builds one; `src` and `other` are its sources.
std::string fadeMovie(std::string& src, std::string& other) {
  src = compose_test::testsrc("render_src.mov", "176x144", 25, 2,
                              "-c:v libx264 -bf 2 -g 10 -pix_fmt yuv420p");
  other = compose_test::testsrc("render_other.mkv", "176x144", 25, 2, "-vf negate -c:v mpeg4 -g 8");
  std::string path = vt_test::tempDir("fade") + "/fade.mov";
  EXPECT_EQ(vt_test::makeEffectMovie(path, src, other, 'dslv', 176, 144, false), noErr);
  return path;
}

// A movie disposed when it goes out of scope.
using Opened = std::unique_ptr<VTMovie, decltype(&DisposeMovie)>;
Opened open(const std::string& path) { return Opened(vt_test::openMovie(path), DisposeMovie); }

}  // namespace

TEST(MovieRenderTool, EveryFrameOfEveryKindOfMovieAsFfmpegReadsItAndOneLineForBadInput) {
  std::string dir = vt_test::tempDir("movierender");
  std::string src, other, fx = fadeMovie(src, other);
  const struct {
    std::string file, options, expect;
  } cases[] = {
      {src, "", "176,144,25/1,50"},
      {src, "--from 1 --to 1.4 --size 88x72", "88,72,25/1,10"},
      {other, "--size 175x99", "175,99,25/1,50"},
      {fx, "", "176,144,25/1,50"},
      {vt_test::fixture("render_still.png", "-f lavfi -i testsrc2=size=64x48 -frames:v 1"), "",
       "64,48,1/1,1"},
  };
  for (const auto& c : cases) {
    std::string out = dir + "/out" + std::to_string(&c - cases) + ".y4m", log;
    ASSERT_EQ(runTool("'" + c.file + "' " + c.options + " -o '" + out + "'", &log), 0) << log;
    EXPECT_EQ(log, "") << "no progress line when standard error is not a terminal";
    // What ffprobe reads, errors included: width,height,rate,frames.
    EXPECT_EQ(vt_test::probe(out, "stream=width,height,r_frame_rate,nb_read_frames"), c.expect)
        << c.file << " " << c.options;
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
  EXPECT_EQ(runTool("'" + fx + "' -o - | ffmpeg -nostdin -loglevel error -i - -f null -", &log), 0)
      << log;
  std::string text = vt_test::writeFile(dir + "/text.mov", "no movie here\n");
  // Bad files and ranges (1), and usage errors (2), each told in one line.
  for (const auto& [args, status] : std::vector<std::pair<std::string, int>>{
           {"'" + text + "' -o '" + dir + "/a.y4m'", 1},
           {"'" + dir + "/missing.mov' -o '" + dir + "/b.y4m'", 1},
           {"'" + src + "' --from 5 -o '" + dir + "/c.y4m'", 1},
           {"'" + src + "' --from 1 --to 0.5 -o '" + dir + "/d.y4m'", 1},
           {"'" + src + "' -o '/nonexistent-dir/x.y4m'", 1},
           {"'" + src + "' --size 0x10 -o -", 2},
           {"'" + src + "' --size big -o -", 2},
           {"'" + src + "' --from -1 -o -", 2},
           {"'" + src + "'", 2}}) {
    std::string out;
    EXPECT_EQ(runTool(args, &out), status) << args;
    EXPECT_TRUE(!out.empty() && out.find('\n') == out.size() - 1) << "one line: " << out;
  }
  // A reader that goes away early is a write error, not a crash.
  EXPECT_EQ(vt_test::run("bash -c \"set -o pipefail; '" + kTool + "' '" + src +
                         "' -o - 2>/dev/null | head -c 100 >/dev/null\""),
            1);
}

TEST(DecodeAhead, FramesMatchSinglePicturesThroughStepsSeeksJumpsBackAndDisposal) {
  std::string a, b;
  const std::string path = fadeMovie(a, b);
  Opened played = open(path), reference = open(path);
  ASSERT_TRUE(played && reference);
  vt::compose::Composer composer(played.get());
  composer.setDecodeAhead(3);
  std::vector<int> frames;
  for (int n = 0; n < 20; ++n) frames.push_back(n);
  for (int n : {21, 37, 38, 39, 10, 11, 49, 48, 0, 33}) frames.push_back(n);
  vt::Image img;
  for (int n : frames) {
    const TimeValue t = n * 24;  // 25 frames a second at 600
    vt::compose::Span span;
    ASSERT_EQ(composer.frame(t, img, &span), noErr) << "frame " << n;
    vt::Image want = compose_test::moviePicture(reference.get(), t);
    EXPECT_TRUE(img.width == want.width && img.pixels == want.pixels) << "frame " << n;
    // The picture holds for its source frame's time, and only that long.
    EXPECT_TRUE(span.start <= t && t < span.end && span.end - span.start <= 24) << "frame " << n;
  }
  // Movies disposed while their tracks decode ahead go cleanly.
  for (int round = 0; round < 4; ++round) {
    Opened m = open(path);
    ASSERT_TRUE(m);
    vt::compose::Composer busy(m.get());
    busy.setDecodeAhead(8);
    ASSERT_EQ(busy.frame(round * 100, img), noErr);
  }  // disposed here, with the workers busy
}

// Decoding ahead: frames decoded on worker threads while the caller shows others are the same
// pictures single requests give, through steps, seeks and jumps back; movies disposed while
// their tracks decode ahead go away cleanly. (Also run under ThreadSanitizer.)
#include <gtest/gtest.h>

#include "builders.h"
#include "effect_movie.h"
#include "compose/compose.h"

namespace {

const std::string kH264 = "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p";

// A cross fade over two H.264 sources with reordered frames and a key frame every 12, as the
// effect movie maker builds one, opened as many times as asked.
std::string fadeMovie() {
  std::string src[2];
  for (int k = 0; k < 2; ++k)
    src[k] = compose_test::testsrc(std::string("ahead_") + (char)('a' + k) + ".mov", "320x240", 30,
                                   2, (k ? "-vf negate " : "") + kH264);
  std::string path = vt_test::tempDir("ahead") + "/fade.mov";
  EXPECT_EQ(vt_test::makeEffectMovie(path, src[0], src[1], 'dslv', 320, 240, false), noErr);
  return path;
}

// A movie disposed when it goes out of scope.
using Opened = std::unique_ptr<VTMovie, decltype(&DisposeMovie)>;
Opened open(const std::string& path) { return Opened(vt_test::openMovie(path), DisposeMovie); }

}  // namespace

TEST(DecodeAhead, FramesMatchSinglePicturesThroughStepsSeeksJumpsBackAndDisposal) {
  const std::string path = fadeMovie();
  Opened played = open(path), reference = open(path);
  ASSERT_TRUE(played && reference);
  vt::compose::Composer composer(played.get());
  composer.setDecodeAhead(3);
  std::vector<int> frames;
  for (int n = 0; n < 20; ++n) frames.push_back(n);
  for (int n : {21, 45, 46, 47, 10, 11, 59, 58, 0, 33}) frames.push_back(n);
  vt::Image img;
  for (int n : frames) {
    const TimeValue t = n * 20;  // 30 frames a second at 600
    vt::compose::Span span;
    ASSERT_EQ(composer.frame(t, img, &span), noErr) << "frame " << n;
    vt::Image want = compose_test::moviePicture(reference.get(), t);
    EXPECT_TRUE(img.width == want.width && img.pixels == want.pixels) << "frame " << n;
    // The picture holds for its source frame's time, and only that long.
    EXPECT_TRUE(span.start <= t && t < span.end && span.end - span.start <= 20) << "frame " << n;
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

// Decoding ahead: frames decoded on worker threads while the caller shows others are the same
// pictures single requests give, through steps, seeks and jumps back; movies disposed while
// their tracks decode ahead go away cleanly. (Also run under ThreadSanitizer.)
#include <gtest/gtest.h>

#include "builders.h"
#include "compose/compose.h"

using codec_test::openMovie;

namespace {

// Two H.264 sources with reordered frames and a key frame every 12, copied into a movie built
// in memory with a cross fade over them, as the effect movie maker builds one.
struct FadeMovie {
  Movie sources[2] = {nullptr, nullptr};
  Movie movie = nullptr;
  FadeMovie() {
    const char* looks[2] = {"", "-vf negate "};
    VTTrack* copies[2];
    movie = NewMovie(0);
    for (int k = 0; k < 2; ++k) {
      std::string path = vt_test::fixture(
          std::string("ahead_") + (char)('a' + k) + ".mov",
          "-f lavfi -i testsrc2=size=320x240:rate=30 -t 2 " + std::string(looks[k]) +
              "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p");
      sources[k] = openMovie(path);
      EXPECT_NE(sources[k], nullptr) << path;
      if (!sources[k]) return;
      SetMovieTimeScale(sources[k], 600);
      Track from = GetMovieIndTrack(sources[k], 1);
      copies[k] = NewMovieTrack(movie, 320 << 16, 240 << 16, 0);
      NewTrackMedia(copies[k], VideoMediaType, 600, nullptr, 0);
      EXPECT_EQ(InsertTrackSegment(from, copies[k], 0, GetTrackDuration(from), 0), noErr);
    }
    compose_test::crossFade(movie, 320, 240, {copies[0], copies[1]}, {'srcA', 'srcB'},
                            (uint32_t)GetTrackDuration(copies[0]));
  }
  ~FadeMovie() {
    if (movie) DisposeMovie(movie);
    for (Movie s : sources)
      if (s) DisposeMovie(s);
  }
};

}  // namespace

TEST(DecodeAhead, FramesMatchSinglePicturesThroughStepsSeeksAndJumpsBack) {
  FadeMovie played, reference;
  ASSERT_TRUE(played.sources[1] && reference.sources[1]);
  vt::compose::Composer composer(played.movie);
  composer.setDecodeAhead(3);
  std::vector<int> frames;
  for (int n = 0; n < 20; ++n) frames.push_back(n);
  for (int n : {21, 45, 46, 47, 10, 11, 59, 58, 0, 33}) frames.push_back(n);
  vt::Image img;
  for (int n : frames) {
    const TimeValue t = n * 20;  // 30 frames a second at 600
    vt::compose::Span span;
    ASSERT_EQ(composer.frame(t, img, &span), noErr) << "frame " << n;
    vt::Image want = compose_test::moviePicture(reference.movie, t);
    ASSERT_EQ(img.width, want.width);
    EXPECT_TRUE(img.pixels == want.pixels) << "frame " << n;
    // The picture holds for its source frame's time, and only that long.
    EXPECT_LE(span.start, t);
    EXPECT_GT(span.end, t);
    EXPECT_LE(span.end - span.start, 20) << "frame " << n;
  }
}

TEST(DecodeAhead, MoviesDisposedWhileDecodingAheadGoCleanly) {
  for (int round = 0; round < 4; ++round) {
    FadeMovie m;
    ASSERT_TRUE(m.sources[1]);
    vt::compose::Composer composer(m.movie);
    composer.setDecodeAhead(8);
    vt::Image img;
    ASSERT_EQ(composer.frame(round * 100, img), noErr);
  }  // disposed here, with the workers busy
}

// Effect tracks drawn by the movie layer: a two-source cross fade movie built like the effect
// movie maker builds it, written to a file, opened again and drawn with GetMoviePict.
#include <MacMemory.h>
#include <Movies.h>
#include <gtest/gtest.h>

#include <string>

#include "core/picture.h"
#include "effect_movie.h"
#include "fixtures.h"

namespace {

using vt_test::openMovieFile;

vt::Image pictAt(Movie m, TimeValue t) {
  vt::Image img;
  PicHandle p = GetMoviePict(m, t);
  EXPECT_NE(p, nullptr);
  if (p) {
    EXPECT_TRUE(vt::pictureToImage(p, img));
    DisposeHandle((Handle)p);
  }
  return img;
}

// The mean colour of an image.
std::array<double, 3> mean(const vt::Image& img) {
  std::array<double, 3> m{};
  for (vt::Pixel p : img.pixels) {
    m[0] += vt::pixelR(p);
    m[1] += vt::pixelG(p);
    m[2] += vt::pixelB(p);
  }
  for (double& v : m) v /= std::max<size_t>(1, img.pixels.size());
  return m;
}

}  // namespace

TEST(EffectMovie, CrossFadeTrackDrawsTheMeanOfItsSourcesHalfway) {
  ASSERT_EQ(EnterMovies(), noErr);
  std::string a = vt_test::fixture("fx_red_64x48.mov",
                                   "-f lavfi -i color=c=0xC83C14:size=64x48:rate=10:duration=2 "
                                   "-c:v libx264 -pix_fmt yuv420p");
  std::string b = vt_test::fixture("fx_blue_32x24.mov",
                                   "-f lavfi -i color=c=0x1450C8:size=32x24:rate=10:duration=2 "
                                   "-c:v libx264 -pix_fmt yuv420p");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  Movie ma = openMovieFile(a), mb = openMovieFile(b);
  ASSERT_TRUE(ma && mb);
  auto ca = mean(pictAt(ma, GetMovieDuration(ma) / 2));
  auto cb = mean(pictAt(mb, GetMovieDuration(mb) / 2));
  DisposeMovie(ma);
  DisposeMovie(mb);
  std::string dir = vt_test::tempDir("effects_movie");
  for (bool copyMedia : {true, false}) {
    std::string path = dir + (copyMedia ? "/copied.mov" : "/referenced.mov");
    ASSERT_EQ(vt_test::makeEffectMovie(path, a, b, 'dslv', 64, 48, copyMedia), noErr);
    Movie m = openMovieFile(path);
    ASSERT_NE(m, nullptr) << path;
    TimeValue d = GetMovieDuration(m);
    ASSERT_GT(d, 0);
    vt::Image mid = pictAt(m, d / 2);
    // The effect track's size, and the mean of A and B (B scaled up) everywhere: neither
    // source track is drawn on its own over the effect.
    ASSERT_EQ(mid.width, 64) << path;
    ASSERT_EQ(mid.height, 48);
    auto cm = mean(mid);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(cm[c], (ca[c] + cb[c]) / 2, 3) << path << " channel " << c;
    for (vt::Pixel p : mid.pixels) ASSERT_NEAR(vt::pixelR(p), (ca[0] + cb[0]) / 2, 6);
    // Near the ends it shows mostly A, then mostly B.
    auto early = mean(pictAt(m, d / 20)), late = mean(pictAt(m, d - d / 20));
    EXPECT_NEAR(early[0], ca[0], 20);
    EXPECT_NEAR(late[0], cb[0], 20);
    DisposeMovie(m);
  }
}

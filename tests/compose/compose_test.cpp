// Movie pictures: tracks composed by layer and matrix, effect tracks drawn from their sources,
// and decoders that follow the movie they belong to.
#include <MacMemory.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "builders.h"
#include "compose/compose.h"
#include "compose/tracks.h"
#include "effect_movie.h"

using namespace codec_test;
using namespace compose_test;
using vt::makePixel;

namespace {

// Whether the movie's picture at `t` shows r, g, b at (x, y).
bool shows(Movie m, TimeValue t, int x, int y, int r, int g, int b, int tol = 6) {
  vt::Pixel p = moviePicture(m, t).at(x, y);
  return std::abs(vt::pixelR(p) - r) <= tol && std::abs(vt::pixelG(p) - g) <= tol &&
         std::abs(vt::pixelB(p) - b) <= tol;
}

}  // namespace

TEST(MoviePictures, LayersMatricesAndTranslucencyComposeThePicture) {
  VTMovie* m = vt::movie::newMovieObject();
  solidTrack(m, 40, 40, makePixel(255, 0, 0), 0);
  VTTrack* blue = solidTrack(m, 20, 20, makePixel(0, 0, 255), -1);
  translate(blue, 10, 10);
  EXPECT_EQ(moviePicture(m, 0).width, 40);
  EXPECT_TRUE(shows(m, 0, 5, 5, 255, 0, 0));
  EXPECT_TRUE(shows(m, 0, 15, 15, 0, 0, 255));  // lower layer wins
  EXPECT_TRUE(shows(m, 0, 35, 35, 255, 0, 0));
  blue->layer = 1;
  EXPECT_TRUE(shows(m, 0, 15, 15, 255, 0, 0));
  // A scaling matrix doubles the blue square; a disabled track draws nothing.
  blue->layer = -1;
  blue->matrix[0] = blue->matrix[4] = IntToFixed(2);
  translate(blue, 0, 0);
  EXPECT_TRUE(shows(m, 0, 35, 35, 0, 0, 255));
  SetTrackEnabled(blue, false);
  EXPECT_TRUE(shows(m, 0, 15, 15, 255, 0, 0));
  // Past the end there is nothing to show: the picture is black.
  EXPECT_TRUE(shows(m, 5000, 5, 5, 0, 0, 0));
  DisposeMovie(m);
  EXPECT_EQ(GetMoviePict(m, 0), nullptr);  // a disposed movie is refused, not read

  // Rotated and translucent tracks.
  m = vt::movie::newMovieObject();
  solidTrack(m, 40, 40, makePixel(0, 255, 0), 1);
  // A 20x10 red strip turned a quarter (x' = -y + 30, y' = x + 5): upright at x 20..30, y 5..25.
  VTTrack* strip = solidTrack(m, 20, 10, makePixel(255, 0, 0), 0);
  strip->matrix[0] = strip->matrix[4] = 0;
  strip->matrix[1] = fixed1;
  strip->matrix[3] = -fixed1;
  translate(strip, 30, 5);
  solidTrack(m, 10, 10, makePixel(0, 0, 255, 128), -1);  // half-transparent, top-left
  EXPECT_TRUE(shows(m, 0, 25, 15, 255, 0, 0));
  EXPECT_TRUE(shows(m, 0, 15, 15, 0, 255, 0));
  EXPECT_TRUE(shows(m, 0, 25, 30, 0, 255, 0));
  EXPECT_TRUE(shows(m, 0, 3, 3, 0, 127, 128, 4));
  DisposeMovie(m);
}

TEST(MoviePictures, EffectTracksDrawTheirSourcesMatchedByName) {
  VTMovie* m = vt::movie::newMovieObject();
  VTTrack* red = solidTrack(m, 40, 40, makePixel(255, 0, 0));
  VTTrack* blue = solidTrack(m, 40, 40, makePixel(0, 0, 255));
  VTTrack* fx = crossFade(m, 20, 20, {red, blue}, {'srcA', 'srcB'});
  // Half way the fade mixes both; the sources are not drawn on their own (black outside).
  EXPECT_TRUE(shows(m, 300, 10, 10, 128, 0, 128, 12));
  EXPECT_TRUE(shows(m, 300, 30, 30, 0, 0, 0));
  // At the start the track picture is source A, at track size; a source keeps its own picture.
  vt::Image t0 = trackPicture(fx, 0);
  ASSERT_EQ(t0.width, 20);
  EXPECT_EQ(t0.at(10, 10) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(trackPicture(blue, 0).at(1, 1) & 0xFFFFFF, 0x0000FFu);
  // Names decide, not reference order: the first reference named 'srcB' is source B.
  VTTrack* swapped = crossFade(m, 20, 20, {red, blue}, {'srcB', 'srcA'});
  EXPECT_EQ(trackPicture(swapped, 0).at(10, 10) & 0xFFFFFF, 0x0000FFu);
  // An effect of an effect: at the start the outer one shows the inner one, itself at source A.
  VTTrack* outer =
      crossFade(m, 20, 20, {fx, solidTrack(m, 20, 20, makePixel(0, 255, 0))}, {'srcA', 'srcB'});
  EXPECT_EQ(trackPicture(outer, 0).at(5, 5) & 0xFFFFFF, 0xFF0000u);
  DisposeMovie(m);
}

// Effect tracks feeding each other: the chain is cut at a bounded depth, where the cyclic source
// draws nothing (black), while the effect's other source still draws.
TEST(MoviePictures, ACycleOfEffectTracksDrawsBlackForTheCycleAndTheOtherSource) {
  VTMovie* m = vt::movie::newMovieObject();
  VTTrack* red = solidTrack(m, 20, 20, makePixel(255, 0, 0));
  VTTrack* a = crossFade(m, 20, 20, {red, red}, {'srcB', 'srcA'});
  VTTrack* b = crossFade(m, 20, 20, {a}, {'srcA'});
  a->references[0].ids[1] = b->id;  // a's source A is b, whose source A is a
  const vt::Image start = trackPicture(a, 0), end = trackPicture(a, 599),
                  other = trackPicture(b, 0);
  ASSERT_TRUE(start.width == 20 && end.width == 20 && other.width == 20) << "a cycle still draws";
  EXPECT_EQ(start.at(10, 10) & 0xFFFFFF, 0u);
  EXPECT_EQ(other.at(10, 10) & 0xFFFFFF, 0u);
  EXPECT_GE((int)vt::pixelR(end.at(10, 10)), 250) << "source B, red, at the end";
  DisposeMovie(m);
}

// An effect sample is read once for all its frames: what it was read from changing since
// (the input map, the references, the sample itself) must still show.
TEST(MoviePictures, AnEffectDrawnBeforeItsInputsChangeShowsTheChange) {
  VTMovie* m = vt::movie::newMovieObject();
  VTTrack* red = solidTrack(m, 20, 20, makePixel(255, 0, 0));
  VTTrack* blue = solidTrack(m, 20, 20, makePixel(0, 0, 255));
  VTTrack* fx = crossFade(m, 20, 20, {red, blue}, {'srcA', 'srcB'});
  auto firstColour = [&] { return trackPicture(fx, 0).at(5, 5) & 0xFFFFFF; };
  ASSERT_EQ(firstColour(), 0xFF0000u);
  fx->media->inputMap = crossFade(m, 20, 20, {red, blue}, {'srcB', 'srcA'})->media->inputMap;
  EXPECT_EQ(firstColour(), 0x0000FFu);  // the names now make blue source A
  std::swap(fx->references[0].ids[0], fx->references[0].ids[1]);
  EXPECT_EQ(firstColour(), 0xFF0000u);  // and the references swapped back
  // The sample's bytes rewritten (the fade running backwards): the edit is a new generation.
  auto* mem = static_cast<vt::movie::MemorySource*>(fx->media->dataRefs[0].source.get());
  auto back = vt::effects::buildDescription('dslv', 2, {{'pcnt', {100, 0, 0}, true, {0, 0, 0}}});
  ASSERT_EQ(back.size(), mem->bytes.size());
  mem->bytes = back;
  fx->media->changed();
  EXPECT_EQ(firstColour(), 0x0000FFu);
  DisposeMovie(m);
}

// An effect track sized far beyond what the movie shows renders within bounds and still shows.
TEST(MoviePictures, HugeEffectTracksRenderNoLargerThanTheBoxShows) {
  VTMovie* m = vt::movie::newMovieObject();
  VTTrack* fx = crossFade(
      m, 8192, 8192,
      {solidTrack(m, 40, 40, makePixel(255, 0, 0)), solidTrack(m, 40, 40, makePixel(0, 0, 255))},
      {'srcA', 'srcB'});
  fx->matrix[0] = fx->matrix[4] = fixed1 / 256;  // 32 x 32 on the screen
  vt::Image shown = moviePicture(m, 300);
  EXPECT_EQ(shown.width, 40);
  EXPECT_TRUE(shows(m, 300, 10, 10, 128, 0, 128, 12));
  vt::Image alone = trackPicture(fx, 0);  // a poster: within its own fixed bound
  EXPECT_EQ(alone.width, 2048);
  EXPECT_EQ(alone.at(1000, 1000) & 0xFFFFFF, 0xFF0000u);
  DisposeMovie(m);
}

// A source file cut short: the frames it cannot give are errors naming it, never black; playback
// shows what it can and hatches the missing picture.
TEST(MoviePictures, AnEffectOfATruncatedSourceIsAnErrorAndPlaybackMarksTheGap) {
  const std::string dir = vt_test::tempDir("cut-source"), a = dir + "/a.mov", fx = dir + "/fx.mov";
  std::filesystem::copy_file(testsrc("cut_src.mov", "64x48", 10, 2, "-c:v mjpeg"), a);
  ASSERT_EQ(vt_test::makeEffectMovie(fx, a, a, 'dslv', 64, 48, false), noErr);
  ASSERT_EQ(truncate(a.c_str(), (off_t)std::filesystem::file_size(a) / 3), 0);
  Movie m = vt_test::openMovie(fx);
  ASSERT_TRUE(m);
  const TimeValue late = GetMovieDuration(m) - 1;
  EXPECT_EQ(GetMoviePict(m, late), nullptr);
  EXPECT_TRUE(vt::compose::isMissingData(GetMoviesError())) << GetMoviesError();
  EXPECT_EQ(vt::compose::missingDataFile(), a);

  vt::compose::Composer playback(m);
  playback.setMarkMissing(true);
  auto hatched = [](const vt::Image& img) {
    return std::count(img.pixels.begin(), img.pixels.end(), makePixel(200, 30, 30));
  };
  vt::Image out;
  ASSERT_EQ(playback.frame(late, out), noErr);
  EXPECT_GT(hatched(out), 64 * 48 / 4);
  ASSERT_EQ(playback.frame(0, out), noErr);  // the start's data is still there
  EXPECT_EQ(hatched(out), 0);
  DisposeMovie(m);
}

TEST(MoviePictures, ATrackDrawnBeforeItsMediaChangesShowsTheChange) {
  VTMovie* m = vt::movie::newMovieObject();
  VTTrack* t = solidTrack(m, 8, 8, makePixel(255, 0, 0));
  EXPECT_TRUE(shows(m, 0, 4, 4, 255, 0, 0));
  // A second, blue sample after the first: the track's stream must learn of it.
  VTMedia* md = t->media.get();
  auto* mem = static_cast<vt::movie::MemorySource*>(md->dataRefs[0].source.get());
  uint64_t at = mem->bytes.size();
  for (int i = 0; i < 64; ++i) mem->bytes.insert(mem->bytes.end(), {255, 0, 0, 255});
  md->appendSample(at, 256, 600, 1, true);
  vt::movie::finishTrack(t);
  EXPECT_TRUE(shows(m, 900, 4, 4, 0, 0, 255));
  // A new media in place of the old one (which may land at the same address) is drawn too.
  t->media.reset();
  VTTrack* green = solidTrack(m, 8, 8, makePixel(0, 255, 0));
  t->media = std::move(green->media);
  t->media->track = t;
  SetTrackEnabled(green, false);
  vt::movie::finishTrack(t);
  EXPECT_TRUE(shows(m, 0, 4, 4, 0, 255, 0));
  DisposeMovie(m);
}

TEST(MoviePictures, DecodersFollowTheirMovieAfterDisposal) {
  // Two movies of identical shape opened one after the other land at the same addresses; the
  // second must never be drawn with the first one's decoder.
  std::string a = testsrc("shape_a.mov", "64x48", 5, 1, "-c:v png");
  std::string b = testsrc("shape_b.mov", "64x48", 5, 1, "-vf negate -c:v mjpeg -q:v 2");
  for (const std::string& path : {a, b, a}) {
    Movie m = openMovie(path);
    ASSERT_NE(m, nullptr);
    vt::Image img =
        trackPicture(GetMovieIndTrack(m, 1), (TimeValue)(2.5 * GetMovieTimeScale(m) / 5));
    EXPECT_GE(psnr(img, referenceFrame(path, 2, img.width, img.height)), 40.0) << path;
    DisposeMovie(m);
  }
}

TEST(MoviePictures, StepsThroughAMovieBuiltInMemoryReuseTheDecoder) {
  // A copy made in memory (as an effect movie's sources are) refers to an H.264 file with one
  // key frame; stepping forward must feed each sample once, not decode from the key frame again
  // for every frame.
  std::string src = testsrc("long_gop.mov", "128x96", 30, 2, "-c:v libx264 -g 300 -bf 2");
  Movie source = openMovie(src);
  ASSERT_NE(source, nullptr);
  SetMovieTimeScale(source, 600);
  Track from = GetMovieIndTrack(source, 1);
  Movie built = NewMovie(0);
  Track copy = NewMovieTrack(built, 128 << 16, 96 << 16, 0);
  ASSERT_NE(NewTrackMedia(copy, VideoMediaType, 600, nullptr, 0), nullptr);
  ASSERT_EQ(InsertTrackSegment(from, copy, 0, GetTrackDuration(from), 0), noErr);
  for (int i = 0; i < 30; ++i) ASSERT_FALSE(trackPicture(copy, i * 20).empty()) << "frame " << i;
  EXPECT_EQ(vt::compose::streamsMadeFor(copy), 1) << "decoding started again for each frame";
  DisposeMovie(built);
  DisposeMovie(source);
}

// Editing movies with sound: cut, paste and undo move the sound with the picture, to the
// sample; saving writes it, untouched where it was not edited.
#include <algorithm>
#include <filesystem>
#include <tuple>

#include "audio/movie_sound.h"
#include "helpers.h"

namespace {

using SoundEditing = vt_test::MovieWindowTest;

TEST_F(SoundEditing, PastedSoundIsTheCutSoundToTheSampleAndTheRestIsUntouched) {
  // 3 s: pictures at 25 a second, a rising tone (no two stretches alike).
  std::string source =
      vt_test::fixture("edit_pcm.mov",
                       "-f lavfi -i testsrc=size=160x120:rate=25:duration=3 -f lavfi -i "
                       "\"aevalsrc='0.5*sin(2*PI*(200+300*t)*t)':s=48000:d=3\" -ac 2 -c:v mjpeg "
                       "-c:a pcm_s16le");
  std::string path = vt_test::tempDir("snd-edit") + "/edited.mov";
  std::filesystem::copy_file(source, path);
  ASSERT_NO_FATAL_FAILURE(openInWindow(path, fsRdWrPerm));
  MCEnableEditing(mc, true);
  // [0.48 s, 1 s) moves to 1.48 s (after the cut).
  select(480, 520, 1000);
  Movie cut = MCCut(mc);
  ASSERT_NE(cut, nullptr);
  EXPECT_NEAR((double)GetMovieDuration(movie) / scale, 2.48, 0.001);
  select(1480, 0, 1000);
  goTo(1480, 1000);  // with nothing selected, paste goes in at the time
  EXPECT_EQ(MCPaste(mc, cut), noErr);
  DisposeMovie(cut);
  EXPECT_NEAR((double)GetMovieDuration(movie) / scale, 3.0, 0.001);
  ASSERT_EQ(UpdateMovieResource(movie, fileRef, movieInDataForkResID, nullptr), noErr);
  // Where the pieces went: [0, 0.48) stays, [1, 2) moved to 0.48, the cut went to 1.48.
  std::vector<float> edited = st::ffmpegSound(path), original = st::ffmpegSound(source);
  ASSERT_EQ(edited.size(), original.size());
  auto frame = [](const std::vector<float>& s, long i) { return s.begin() + i * st::kChannels; };
  const long k = st::kRate, ms10 = k / 100;  // frames in a second, in 10 ms
  for (auto [at, from, length] : {std::tuple{0L, 0L, 48 * ms10},
                                  {48 * ms10, k, k},
                                  {148 * ms10, 48 * ms10, 52 * ms10},
                                  {2 * k, 2 * k, k}})
    EXPECT_TRUE(std::equal(frame(edited, at), frame(edited, at + length), frame(original, from)))
        << "at frame " << at;

  // Undo takes the paste back: at 1.48 s the source's sound from 2 s on plays.
  ASSERT_EQ(MCUndo(mc), noErr);
  vt::audio::MovieSound sound(movie, st::kRate, st::kChannels);
  std::vector<float> heard((size_t)k / 2 * st::kChannels);
  sound.render(k * 148 / 100, (int)(k / 2), heard.data());
  for (size_t i = 0; i < heard.size(); ++i)
    ASSERT_EQ(heard[i], original[(size_t)(2 * k) * st::kChannels + i]) << "frame " << i / 2;
}

}  // namespace

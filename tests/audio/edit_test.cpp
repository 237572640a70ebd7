// Editing movies with sound: cut, paste and undo move the sound with the picture, to the
// sample; saving writes it, untouched where it was not edited.
#include <MacErrors.h>
#include <MovieControllers.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "audio/movie_sound.h"
#include "helpers.h"

namespace {

class MoviesEnv : public ::testing::Environment {
  void SetUp() override { ASSERT_EQ(EnterMovies(), noErr); }
};
::testing::Environment* const gMovies = ::testing::AddGlobalTestEnvironment(new MoviesEnv);

// 3 s: pictures at 25 a second, a rising tone (no two stretches alike).
std::string chirp(const char* name, const char* audioCodec) {
  return vt_test::fixture(
      name, std::string("-f lavfi -i testsrc=size=160x120:rate=25:duration=3 -f lavfi -i "
                        "\"aevalsrc='0.5*sin(2*PI*(200+300*t)*t)':s=48000:d=3\" -ac 2 -c:v mjpeg ") +
                audioCodec);
}

// ffmpeg's md5 of the file's sound from frame `from` to frame `to`, 48 kHz.
std::string soundMd5(const std::string& path, long from, long to) {
  std::string out;
  vt_test::run("ffmpeg -nostdin -loglevel error -i '" + path + "' -vn -af atrim=start_sample=" +
                   std::to_string(from) + ":end_sample=" + std::to_string(to) +
                   " -f md5 - 2>/dev/null",
               &out);
  return out;
}

std::vector<std::string> frameHashes(const std::string& path) {
  std::string out;
  vt_test::run("ffmpeg -nostdin -loglevel error -i '" + path +
                   "' -map 0:v -f framemd5 - 2>/dev/null | grep -v '^#' | awk -F, '{print $6}'",
               &out);
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

double probeSoundSeconds(const std::string& path) {
  std::string out;
  vt_test::run("ffprobe -v error -select_streams a -show_entries stream=duration -of csv=p=0 '" +
                   path + "'",
               &out);
  return out.empty() ? -1 : std::atof(out.c_str());
}

class SoundEditing : public ::testing::Test {
 protected:
  Movie movie = nullptr;
  MovieController mc = nullptr;
  short ref = 0;
  std::string path;

  void openCopy(const std::string& source) {
    path = vt_test::tempDir("snd-edit") + "/edited.mov";
    std::filesystem::copy_file(source, path);
    FSSpec spec{};
    vt::files::pathToSpec(path, spec);
    ASSERT_EQ(OpenMovieFile(&spec, &ref, fsRdWrPerm), noErr);
    short resId = 0;
    ASSERT_EQ(NewMovieFromFile(&movie, ref, &resId, nullptr, newMovieActive, nullptr), noErr);
    Rect box{0, 0, 120, 160};
    mc = NewMovieController(movie, &box, mcTopLeftMovie | mcNotVisible);
    MCEnableEditing(mc, true);
  }
  void select(double from, double length) {
    TimeRecord r{};
    r.scale = 1000;
    r.value.lo = (UInt32)std::lround(from * 1000);
    MCDoAction(mc, mcActionSetSelectionBegin, &r);
    r.value.lo = (UInt32)std::lround(length * 1000);
    MCDoAction(mc, mcActionSetSelectionDuration, &r);
  }
  // Moves [0.48 s, 1 s) to 1.48 s (after the cut): pictures 12 to 24 follow picture 49.
  void cutAndPaste() {
    select(0.48, 0.52);
    Movie cut = MCCut(mc);
    ASSERT_NE(cut, nullptr);
    EXPECT_NEAR((double)GetMovieDuration(movie) / GetMovieTimeScale(movie), 2.48, 0.001);
    select(1.48, 0);
    EXPECT_EQ(MCPaste(mc, cut), noErr);
    DisposeMovie(cut);
    EXPECT_NEAR((double)GetMovieDuration(movie) / GetMovieTimeScale(movie), 3.0, 0.001);
  }
  void save() {
    ASSERT_EQ(UpdateMovieResource(movie, ref, movieInDataForkResID, nullptr), noErr);
  }
  void TearDown() override {
    if (mc) DisposeMovieController(mc);
    if (movie) DisposeMovie(movie);
    if (ref) CloseMovieFile(ref);
    VTMovieScrapClear();
  }
};

TEST_F(SoundEditing, PastedSoundIsTheCutSoundToTheSampleAndTheRestIsUntouched) {
  std::string source = chirp("edit_pcm.mov", "-c:a pcm_s16le");
  openCopy(source);
  cutAndPaste();
  save();
  EXPECT_NEAR(probeSoundSeconds(path), 3.0, 0.001);
  // Where the pieces went: [0, 0.48) stays, [1, 2) moved to 0.48, the cut went to 1.48.
  const long k = st::kRate;
  struct Piece {
    long at, from, length;
  } pieces[] = {{0, 0, k * 48 / 100}, {k * 48 / 100, k, k}, {k * 148 / 100, k * 48 / 100, k * 52 / 100}, {2 * k, 2 * k, k}};
  for (const Piece& p : pieces) {
    SCOPED_TRACE(p.at);
    std::string want = soundMd5(source, p.from, p.from + p.length);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(soundMd5(path, p.at, p.at + p.length), want);
  }
  // The pictures went with it.
  std::vector<std::string> src = frameHashes(source), got = frameHashes(path);
  ASSERT_EQ(src.size(), 75u);
  std::vector<std::string> want(src.begin(), src.begin() + 12);
  want.insert(want.end(), src.begin() + 25, src.begin() + 50);
  want.insert(want.end(), src.begin() + 12, src.begin() + 25);
  want.insert(want.end(), src.begin() + 50, src.end());
  EXPECT_EQ(got, want);

  // Undo takes the paste back: what plays after the cut is the sound from 1 s on.
  ASSERT_EQ(MCUndo(mc), noErr);
  vt::audio::MovieSound sound(movie, st::kRate, st::kChannels);
  std::vector<float> heard((size_t)k / 2 * st::kChannels);
  sound.render(k * 148 / 100, (int)(k / 2), heard.data());
  std::vector<float> original = st::ffmpegSound(source);
  for (size_t i = 0; i < heard.size(); ++i)
    ASSERT_EQ(heard[i], original[(size_t)(2 * k) * st::kChannels + i]) << "frame " << i / 2;
}

TEST_F(SoundEditing, CompressedSoundSavesWithItsLengthAndItsUneditedStart) {
  std::string source = chirp("edit_aac.mov", "-c:a aac");
  openCopy(source);
  cutAndPaste();
  save();
  EXPECT_NEAR(probeSoundSeconds(path), 3.0, 0.03);
  long k = st::kRate;
  EXPECT_EQ(soundMd5(path, 0, k * 48 / 100 - 1024), soundMd5(source, 0, k * 48 / 100 - 1024));
  // Saved under another name (flattened), it is the same movie.
  std::string other = path + ".flat.mov";
  ASSERT_TRUE(st::flatten(movie, other));
  EXPECT_NEAR(probeSoundSeconds(other), 3.0, 0.03);
  EXPECT_EQ(soundMd5(other, 0, 3 * k), soundMd5(path, 0, 3 * k));
}

}  // namespace

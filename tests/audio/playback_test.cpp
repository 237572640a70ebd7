// Movies with sound playing in a controller, heard through the headless sound device: the
// tone, speeds and directions, volume, and the picture kept with the sound.
#include <MacErrors.h>
#include <MovieControllers.h>
#include <Quickdraw.h>
#include <VTAutomation.h>
#include <VTAutomationSound.h>
#include <gtest/gtest.h>

#include <thread>

#include "helpers.h"

namespace {

class MoviesEnv : public ::testing::Environment {
  void SetUp() override { ASSERT_EQ(EnterMovies(), noErr); }
};
::testing::Environment* const gMovies = ::testing::AddGlobalTestEnvironment(new MoviesEnv);

// The recording as one stream of frames, and the play time of its first frame.
std::vector<float> recorded(int64_t* firstTime = nullptr) {
  std::vector<float> all;
  auto rec = VTAutomationSoundRecording();
  if (firstTime) *firstTime = rec.empty() ? 0 : rec.front().playTime;
  for (const auto& b : rec) all.insert(all.end(), b.samples.begin(), b.samples.end());
  return all;
}

// The frames between the first and the last that are not silent.
std::pair<size_t, size_t> soundingSpan(const std::vector<float>& s) {
  size_t n = s.size() / st::kChannels, first = n, last = 0;
  for (size_t i = 0; i < n; ++i)
    if (std::fabs(s[i * st::kChannels]) > 1e-4) {
      first = std::min(first, i);
      last = i;
    }
  return {first, first < n ? last + 1 : first};
}

class SoundPlayback : public ::testing::Test {
 protected:
  WindowRef window = nullptr;
  Movie movie = nullptr;
  MovieController mc = nullptr;

  void open(const std::string& path) {
    VTAutomationUseHeadless(800, 600);
    movie = st::open(path);
    ASSERT_NE(movie, nullptr);
    Rect bounds{80, 100, 280, 340};
    window = NewCWindow(nullptr, &bounds, (ConstStr255Param) "\x04Test", true, noGrowDocProc,
                        (WindowRef)-1, true, 0);
    SetPort(GetWindowPort(window));
    SetMovieGWorld(movie, GetWindowPort(window), nullptr);
    Rect box;
    GetMovieBox(movie, &box);
    OffsetRect(&box, (short)-box.left, (short)-box.top);
    mc = NewMovieController(movie, &box, mcTopLeftMovie);
    ASSERT_NE(mc, nullptr);
    MCDoAction(mc, mcActionSetKeysEnabled, (void*)1);
  }
  void TearDown() override {
    if (mc) DisposeMovieController(mc);
    if (movie) DisposeMovie(movie);
    VTAutomationSoundStopRecording();
    VTAutomationReset();
  }
  double seconds() { return (double)GetMovieTime(movie, nullptr) / GetMovieTimeScale(movie); }
  void play(double rate = 1.0) {
    MCDoAction(mc, mcActionPlay, (void*)(intptr_t)(Fixed)(rate * 65536));
  }
  void idleFor(UInt32 ticks) {
    for (UInt32 i = 0; i < ticks; i += 3) {
      VTAutomationAdvanceTicks(std::min<UInt32>(3, ticks - i));
      MCIdle(mc);
    }
  }
  void key(char c, EventModifiers mods = 0) {
    VTAutomationPostKey(c, mods);
    EventRecord e;
    for (int i = 0; i < 20 && GetNextEvent(everyEvent, &e); ++i) MCIsPlayerEvent(mc, &e);
  }
};

TEST_F(SoundPlayback, ToneIsHeardForAsLongAsTheMoviePlays) {
  open(st::tone("play_aac.mov", "-c:a aac", true));
  VTAutomationSoundStartRecording();
  int64_t pressed = VTAutomationSoundNow();
  play();
  idleFor(60);
  double played = seconds();
  int64_t stopped = VTAutomationSoundNow();
  MCDoAction(mc, mcActionPlay, (void*)0);
  idleFor(30);  // what the device already has plays out
  int64_t firstTime = 0;
  std::vector<float> heard = recorded(&firstTime);
  auto [from, to] = soundingSpan(heard);
  ASSERT_LT(from, to);
  // Heard for as long as the movie played, give or take the device's buffer.
  EXPECT_NEAR((double)(to - from), (stopped - pressed) * 1e-9 * st::kRate, 1024);
  std::vector<float> tone(heard.begin() + (long)from * 2, heard.begin() + (long)to * 2);
  EXPECT_NEAR(st::dominantFrequency(tone), 440.0, 1.0);
  // The picture waits for the sound to start, then keeps with it.
  double firstSound = firstTime + (double)from * 1e9 / st::kRate;
  EXPECT_LT((firstSound - pressed) / 1e6, 100.0) << "milliseconds from play to the first sound";
  EXPECT_NEAR(played, (stopped - firstSound) * 1e-9, 1.0 / 60);
}

TEST_F(SoundPlayback, SpeedsAndDirectionsKeepSoundAndPictureTogether) {
  open(st::tone("play_pcm.mov", "-c:a pcm_s16le", true));
  // Twice as fast: the picture moves twice as far and the tone is an octave up.
  // (Times allow for the device's start latency, which the picture waits for.)
  VTAutomationSoundStartRecording();
  play(2.0);
  idleFor(30);
  EXPECT_NEAR(seconds(), 0.95, 0.05);
  MCDoAction(mc, mcActionPlay, (void*)0);
  std::vector<float> fast = recorded();
  auto [a, b] = soundingSpan(fast);
  ASSERT_GT(b - a, 4096u);
  EXPECT_NEAR(st::dominantFrequency(std::vector<float>(fast.begin() + (long)a * 2, fast.begin() + (long)b * 2)),
              880.0, 2.0);
  // Palindrome looping: forwards to the end, then backwards, sound and picture alike.
  MCDoAction(mc, mcActionSetLooping, (void*)1);
  MCDoAction(mc, mcActionSetLoopIsPalindrome, (void*)1);
  TimeRecord t{};
  t.scale = 10;
  t.value.lo = 15;
  MCDoAction(mc, mcActionGoToTime, &t);
  play();
  idleFor(60);  // 1 s: to the end and about 0.5 s back
  EXPECT_NEAR(seconds(), 1.55, 0.05);
  EXPECT_LT(GetMovieRate(movie), 0);
  double turned = seconds();
  VTAutomationSoundStartRecording();
  idleFor(30);
  EXPECT_NEAR(seconds(), turned - 0.5, 1.0 / 60);
  std::vector<float> back = recorded();
  EXPECT_NEAR(st::dominantFrequency(back), 440.0, 1.0);
  EXPECT_GT(st::rms(back.data(), back.size()), 0.05);
}

TEST_F(SoundPlayback, VolumeFromKeysAndSpeakerAndMute) {
  std::string path = st::tone("play_pcm.mov", "-c:a pcm_s16le", true);
  open(path);
  ASSERT_EQ(GetMovieVolume(movie), kFullVolume);
  key(kDownArrowCharCode);
  key(kDownArrowCharCode);
  EXPECT_EQ(GetMovieVolume(movie), kFullVolume - 2 * 32);
  key(kUpArrowCharCode);
  EXPECT_EQ(GetMovieVolume(movie), kFullVolume - 32);
  // The speaker sits at the bar's right end: dragging left quietens, a shift-click mutes.
  Rect bar;
  MCGetControllerBoundsRect(mc, &bar);
  Point speaker{(short)(80 + bar.bottom - 8), (short)(100 + bar.right - 9)};
  VTAutomationPostDrag(speaker, Point{speaker.v, (short)(speaker.h - 300)});
  EventRecord e;
  ASSERT_TRUE(GetNextEvent(mDownMask, &e));
  EXPECT_EQ(MCIsPlayerEvent(mc, &e), 1);
  EXPECT_EQ(GetMovieVolume(movie), 0);
  key(kUpArrowCharCode);
  key(kUpArrowCharCode);
  ASSERT_EQ(GetMovieVolume(movie), 64);
  VTAutomationPostClick(speaker, shiftKey);
  ASSERT_TRUE(GetNextEvent(mDownMask, &e));
  MCIsPlayerEvent(mc, &e);
  EXPECT_EQ(GetMovieVolume(movie), -64) << "muted, keeping the level";

  // What is heard follows: a quarter of full volume, then nothing while muted.
  VTAutomationSoundStartRecording();
  play();
  idleFor(30);
  std::vector<float> muted = recorded();
  EXPECT_EQ(st::rms(muted.data(), muted.size()), 0.0);
  VTAutomationPostClick(speaker, optionKey);
  ASSERT_TRUE(GetNextEvent(mDownMask, &e));
  MCIsPlayerEvent(mc, &e);
  EXPECT_EQ(GetMovieVolume(movie), 64);
  idleFor(6);
  VTAutomationSoundStartRecording();
  idleFor(30);
  std::vector<float> quarter = recorded();
  double level = st::rms(quarter.data(), quarter.size());
  std::vector<float> full = st::ffmpegSound(path);
  EXPECT_NEAR(level / st::rms(full.data(), full.size()), 0.25, 0.01);

  // A silent movie has no volume keys.
  Movie silent = st::open(vt_test::fixture(
      "play_silent.mov", "-f lavfi -i testsrc=size=160x120:rate=25 -t 1 -c:v mjpeg"));
  ASSERT_NE(silent, nullptr);
  Rect box{0, 0, 120, 160};
  MovieController other = NewMovieController(silent, &box, mcTopLeftMovie);
  MCDoAction(other, mcActionSetKeysEnabled, (void*)1);
  VTAutomationPostKey(kUpArrowCharCode);
  ASSERT_TRUE(GetNextEvent(keyDownMask, &e));
  EXPECT_EQ(MCIsPlayerEvent(other, &e), 0);
  DisposeMovieController(other);
  DisposeMovie(silent);
}

}  // namespace

// Movies with sound playing in a controller, heard through the headless sound device: the
// tone, speeds and directions, volume, and the picture kept with the sound.
#include <Events.h>
#include <VTAutomationUI.h>

#include <chrono>
#include <thread>

#include "audio/device.h"
#include "audio/player.h"
#include "controller/controller.h"
#include "helpers.h"

namespace {

// What the device played, from its first sounding frame to its last; *startNs gets the time the
// first of them was heard.
std::vector<float> heard(double* startNs = nullptr) {
  std::vector<float> all;
  auto rec = VTAutomationSoundRecording();
  for (const auto& b : rec) all.insert(all.end(), b.samples.begin(), b.samples.end());
  size_t n = all.size() / st::kChannels, first = n, last = 0;
  for (size_t i = 0; i < n; ++i)
    if (std::fabs(all[i * st::kChannels]) > 1e-4) first = std::min(first, i), last = i + 1;
  if (first == n) return {};
  if (startNs) *startNs = rec.front().playTime + (double)first * 1e9 / st::kRate;
  return std::vector<float>(all.begin() + (long)(first * st::kChannels),
                            all.begin() + (long)(last * st::kChannels));
}

using SoundPlayback = vt_test::MovieWindowTest;

TEST_F(SoundPlayback, ToneSpeedsDirectionsAndVolume) {
  std::string path = st::tone("play_aac.mov", "-c:a aac", true);
  openInWindow(path);
  MCDoAction(mc, mcActionSetKeysEnabled, (void*)1);
  VTAutomationSoundStartRecording();
  int64_t pressed = VTAutomationSoundNow();
  play();
  idleFor(60);
  double played = seconds();
  int64_t stopped = VTAutomationSoundNow();
  play(0);
  idleFor(30);  // what the device already has plays out
  double firstSound = 0;
  std::vector<float> tone = heard(&firstSound);
  // Heard for as long as the movie played, give or take the device's buffer.
  EXPECT_NEAR((double)tone.size() / st::kChannels, (stopped - pressed) * 1e-9 * st::kRate, 1024);
  EXPECT_NEAR(st::dominantFrequency(tone), 440.0, 1.0);
  // The picture waits for the sound to start, then keeps with it.
  EXPECT_LT((firstSound - pressed) / 1e6, 100.0) << "milliseconds from play to the first sound";
  EXPECT_NEAR(played, (stopped - firstSound) * 1e-9, 1.0 / 60);

  goTo(0, 1);
  // Twice as fast: the picture moves twice as far and the tone is an octave up.
  // (Times allow for the device's start latency, which the picture waits for.)
  VTAutomationSoundStartRecording();
  play(2.0);
  idleFor(30);
  EXPECT_NEAR(seconds(), 0.95, 0.05);
  play(0);
  std::vector<float> fast = heard();
  ASSERT_GT(fast.size(), 4096u * st::kChannels);
  EXPECT_NEAR(st::dominantFrequency(fast), 880.0, 2.0);
  // Palindrome looping: forwards to the end, then backwards, sound and picture alike.
  MCDoAction(mc, mcActionSetLooping, (void*)1);
  MCDoAction(mc, mcActionSetLoopIsPalindrome, (void*)1);
  goTo(15, 10);
  play();
  idleFor(60);  // 1 s: to the end and about 0.5 s back
  EXPECT_NEAR(seconds(), 1.55, 0.05);
  double turned = seconds();
  VTAutomationSoundStartRecording();
  idleFor(30);
  EXPECT_NEAR(seconds(), turned - 0.5, 1.0 / 60);
  std::vector<float> back = heard();
  EXPECT_NEAR(st::dominantFrequency(back), 440.0, 1.0);
  EXPECT_GT(st::rms(back.data(), back.size()), 0.05);
  play(0);
  idleFor(30);  // what the device already has plays out

  // The speaker sits at the bar's right end: dragging left quietens, the up arrow key is louder
  // by an eighth, a shift-click mutes.
  Point speaker = global(160 - 9, 136 - 8);
  VTAutomationPostDrag(speaker, Point{speaker.v, (short)(speaker.h - 300)});
  deliver(mouseDown);
  EXPECT_EQ(GetMovieVolume(movie), 0);
  key(kUpArrowCharCode);
  key(kUpArrowCharCode);
  ASSERT_EQ(GetMovieVolume(movie), 64);
  click(speaker, shiftKey);
  EXPECT_EQ(GetMovieVolume(movie), -64) << "muted, keeping the level";

  // What is heard follows: nothing while muted, then a quarter of full volume.
  VTAutomationSoundStartRecording();
  play();
  idleFor(30);
  EXPECT_TRUE(heard().empty());
  click(speaker, optionKey);
  EXPECT_EQ(GetMovieVolume(movie), 64);
  idleFor(6);
  VTAutomationSoundStartRecording();
  idleFor(30);
  std::vector<float> quarter = heard(), full = st::ffmpegSound(path);
  EXPECT_NEAR(st::rms(quarter.data(), quarter.size()) / st::rms(full.data(), full.size()), 0.25,
              0.01);
}

// Sound that was not rendered before the device reached it is counted as heard silence: the
// part of a wait between idles longer than the sound rendered ahead (half a second).
TEST_F(SoundPlayback, SoundNotRenderedInTimeIsCountedAsSilence) {
  openInWindow(st::tone("late_aac.mov", "-c:a aac", true));
  vt::audio::Device::get().useRealClock(true);  // a device that does not wait for the caller
  play();
  MCIdle(mc);
  const auto& sound = vt::controller::live(mc)->playback.sound;
  ASSERT_TRUE(sound && sound->playing());
  const auto from = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(900));
  MCIdle(mc);
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
  const double silent = (double)sound->lateFrames() / st::kRate;
  play(0);
  vt::audio::Device::get().useRealClock(false);
  EXPECT_NEAR(silent, waited - 0.5, 0.06);
}

}  // namespace

// SysBeep is heard: a short 880 Hz tone through the sound output, beeps in a row one after the
// other, each counted.
TEST(SoundBeep, BeepsAreShortTonesHeardOneAfterAnother) {
  VTAutomationUseHeadless();
  VTAutomationResetAll();
  VTAutomationSoundStartRecording();
  SysBeep(30);
  SysBeep(30);
  for (int i = 0; i < 6; ++i) {
    VTAutomationAdvanceTicks(10);
    VTAutomationSoundService();
  }
  EXPECT_EQ(VTAutomationBeepCount(), 2);
  std::vector<float> tone = heard();
  ASSERT_FALSE(tone.empty()) << "nothing was heard";
  // Two 150 ms tones, the second right after the first (its fade-in meets the first's fade-out).
  EXPECT_NEAR((double)tone.size() / st::kChannels, 2 * 0.15 * st::kRate, 100);
  EXPECT_NEAR(st::dominantFrequency(tone), 880.0, 1.0);
  EXPECT_LT(st::rms(tone.data(), tone.size()), 0.3) << "not loud";
  EXPECT_GT(st::rms(tone.data(), tone.size()), 0.1);
  VTAutomationResetAll();
}

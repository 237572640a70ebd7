// A minute of a movie whose picture flashes and whose sound clicks at every second, played with
// the real clock: each flash is shown within one frame of the time its click is heard, measured
// from the sinks' timestamps (when the sound device plays each buffer, and the clock reading
// each picture was chosen for), so a loaded machine can skip pictures but not fail the test.
#include <chrono>
#include <map>
#include <thread>

#include "audio/device.h"
#include "helpers.h"

namespace {

using SoundSync = vt_test::MovieWindowTest;

// A buffer that starts late (its feeder woke late) leaves silence before it: the frame heard
// stands still through it and never goes back, and each buffer is heard from its own start.
TEST(HeardClock, ALateBufferHoldsTheFrameHeardInsteadOfTakingItBack) {
  constexpr int kRate = 1000, kLen = 100;  // 100 ms buffers at 1 kHz
  constexpr int64_t ms = 1000000;
  vt::audio::HeardClock clock;
  clock.started(0, kLen, 0);
  clock.started(100, kLen, 100 * ms);
  clock.started(200, kLen, 250 * ms);  // due at 200 ms, heard from 250 ms
  int64_t last = -1;
  for (int64_t t = 0; t < 350 * ms; t += ms) {
    int64_t f = clock.frameAt(t, kRate, 300);
    ASSERT_GE(f, last) << "at " << t / ms << " ms";
    last = f;
  }
  EXPECT_EQ(clock.frameAt(150 * ms, kRate, 300), 150);
  EXPECT_EQ(clock.frameAt(230 * ms, kRate, 300), 200) << "silence before the late buffer";
  EXPECT_EQ(clock.frameAt(270 * ms, kRate, 300), 220);
  EXPECT_EQ(clock.frameAt(400 * ms, kRate, 300), 300) << "never past what was handed out";
}

TEST_F(SoundSync, FlashesAndClicksStayWithinAFrameForAMinute) {
  openInWindow(vt_test::fixture(
      "sync_flash_click.mov",
      "-f lavfi -i \"color=black:s=160x120:r=30:d=60,drawbox=c=white:t=fill:"
      "enable='lt(mod(t\\,1)\\,0.1)'\" -f lavfi -i \"aevalsrc='0.9*lt(mod(t\\,1)\\,0.005)':"
      "s=48000:d=60\" -c:v mjpeg -q:v 5 -c:a pcm_s16le"));
  VTAutomationSoundUseRealClock(true);
  VTAutomationSoundStartRecording();
  VTAutomationPictureLogStart();
  play();
  // Every picture shown, with whether it was a flash.
  std::vector<std::pair<VTPictureShown, bool>> shown;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
  while (GetMovieRate(movie) != 0 && std::chrono::steady_clock::now() < deadline) {
    MCIdle(mc);
    for (const VTPictureShown& p : VTAutomationPictureLog(shown.size()))
      shown.push_back({p, (pixelAt(80, 60) & 0xFF) > 200});
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(GetMovieRate(movie), 0) << "played to the end";

  // Clicks: where the sound rises above half, on the device's clock.
  std::vector<double> clicks;
  float before = 0;
  for (const VTSoundBuffer& b : VTAutomationSoundRecording())
    for (size_t i = 0; i < b.samples.size(); before = b.samples[i], i += st::kChannels)
      if (b.samples[i] > 0.5f && before <= 0.5f)
        clicks.push_back(b.playTime * 1e-9 + (double)i / st::kChannels / st::kRate);
  EXPECT_GE(clicks.size(), 55u);

  // Each flash picture against the click of its second: the click should be heard as long
  // before the picture as the picture is into its flash.
  std::map<int, double> worstBySecond;
  for (const auto& [p, flash] : shown) {
    if (!flash) continue;
    double m = (double)p.movieTime / scale;
    double clickDue = p.time * 1e-9 - (m - std::floor(m));
    double nearest = 1e9;
    for (double c : clicks)
      if (std::fabs(c - clickDue) < std::fabs(nearest)) nearest = c - clickDue;
    double& w = worstBySecond[(int)std::floor(m)];
    w = std::max(w, std::fabs(nearest));
  }
  for (const auto& [second, w] : worstBySecond)
    EXPECT_LE(w, 1.0 / 30) << "flash of second " << second;
  EXPECT_GE(worstBySecond.size(), 30u) << "flashes seen";
}

}  // namespace

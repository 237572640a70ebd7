// Shared by the sound tests: fixtures, opening movies, ffmpeg's own decode, the tone's pitch, a
// movie playing in a controller.
#pragma once
#include <MacErrors.h>
#include <MovieControllers.h>
#include <Movies.h>
#include <Quickdraw.h>
#include <VTAutomation.h>
#include <VTAutomationSound.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures.h"
#include "movies.h"

namespace st {

// Movies entered once per test program, however many files include this.
struct MoviesEnv : ::testing::Environment {
  void SetUp() override { ASSERT_EQ(EnterMovies(), noErr); }
};
inline ::testing::Environment* const gMovies = ::testing::AddGlobalTestEnvironment(new MoviesEnv);

constexpr int kRate = 48000;
constexpr int kChannels = 2;

// A 440 Hz stereo tone, 2 s at 48 kHz, encoded with `codecArgs` into `name`; `video` adds a
// 160x120 picture of the same length first.
inline std::string tone(const std::string& name, const std::string& codecArgs, bool video = false) {
  std::string in = "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 -ac 2 ";
  if (video) in = "-f lavfi -i testsrc=size=160x120:rate=25 -t 2 " + in;
  return vt_test::fixture(name, in + codecArgs);
}

// The file's sound as ffmpeg decodes it: 48 kHz stereo float.
inline std::vector<float> ffmpegSound(const std::string& path) {
  std::string out;
  vt_test::run("ffmpeg -nostdin -loglevel error -i '" + path +
                   "' -vn -f f32le -ac 2 -ar 48000 - 2>/dev/null",
               &out);
  std::vector<float> s(out.size() / sizeof(float));
  if (!s.empty()) std::memcpy(s.data(), out.data(), s.size() * sizeof(float));
  return s;
}

// The strongest frequency between 50 Hz and 2 kHz in the first channel, to half a hertz.
inline double dominantFrequency(const std::vector<float>& s) {
  auto power = [&](double f) {
    double re = 0, im = 0, w = 2 * M_PI * f / kRate;
    for (size_t i = 0; i < s.size() / kChannels; ++i)
      re += s[i * kChannels] * std::cos(w * i), im += s[i * kChannels] * std::sin(w * i);
    return re * re + im * im;
  };
  double best = 0, bestF = 0;
  for (double f = 50; f <= 2000; f += 10)
    if (double p = power(f); p > best) best = p, bestF = f;
  for (double f = bestF - 10; f <= bestF + 10; f += 0.5)
    if (double p = power(f); p > best) best = p, bestF = f;
  return bestF;
}

inline double rms(const float* s, size_t n) {
  double e = 0;
  for (size_t i = 0; i < n; ++i) e += (double)s[i] * s[i];
  return n ? std::sqrt(e / n) : 0;
}

// A movie in a window with its controller, on the headless screen and sound device.
class ControllerTest : public ::testing::Test {
 protected:
  WindowRef window = nullptr;
  Movie movie = nullptr;
  MovieController mc = nullptr;

  void openInWindow(const std::string& path) {
    VTAutomationUseHeadless(800, 600);
    movie = vt_test::openMovie(path);
    ASSERT_NE(movie, nullptr);
    Rect bounds{80, 100, 280, 340};
    window = NewCWindow(nullptr, &bounds, (ConstStr255Param) "\x04Test", true, noGrowDocProc,
                        (WindowRef)-1, true, 0);
    SetPort(GetWindowPort(window));
    SetMovieGWorld(movie, GetWindowPort(window), nullptr);
    Rect box{0, 0, 120, 160};  // the test movies' size
    mc = NewMovieController(movie, &box, mcTopLeftMovie);
    ASSERT_NE(mc, nullptr);
    MCDoAction(mc, mcActionSetKeysEnabled, (void*)1);
  }
  void TearDown() override {
    if (mc) DisposeMovieController(mc);
    if (movie) DisposeMovie(movie);
    VTAutomationResetAll();
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
  // Posted events handed to the controller.
  void dispatch() {
    EventRecord e;
    for (int i = 0; i < 20 && GetNextEvent(everyEvent, &e); ++i) MCIsPlayerEvent(mc, &e);
  }
};

}  // namespace st

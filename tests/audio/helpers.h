// Shared by the sound tests: fixtures, ffmpeg's own decode, the tone's pitch and loudness.
#pragma once
#include <VTAutomationSound.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures.h"
#include "movie_window.h"

namespace st {

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

}  // namespace st

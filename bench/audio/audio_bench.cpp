// Sound playback cost: five minutes of AAC (stereo, 48 kHz) played through the whole path (reading,
// decoding, converting, the timeline, mixing, the device) on the headless sink, as processor
// time per second of sound, against `ffmpeg -i f.m4a -f null -` decoding the same file in this
// run (best of three each). Then the start latency: from play to the first frame heard, on the
// headless sink paced by the real clock.
#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "audio/device.h"
#include "audio/player.h"
#include "events/backend.h"

namespace {

int shell(const std::string& cmd) {
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

double childCpu() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double ownCpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

Movie openMovie(const std::string& path) {
  FSSpec spec;
  short ref = 0;
  Movie m = nullptr;
  if (VTMakeFSSpecFromPath(path.c_str(), &spec) != noErr ||
      OpenMovieFile(&spec, &ref, fsRdPerm) != noErr)
    return nullptr;
  NewMovieFromFile(&m, ref, nullptr, nullptr, newMovieActive, nullptr);
  CloseMovieFile(ref);
  return m;
}

}  // namespace

int main() {
  const int seconds = 300;
  std::string dir = std::string(VT_BINARY_DIR) + "/bench-fixtures";
  std::filesystem::create_directories(dir);
  std::string path = dir + "/aac_stereo_48k_" + std::to_string(seconds) + "s.m4a";
  if (!std::filesystem::exists(path) &&
      shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i \"sine=frequency=440:sample_rate=48000,"
            "aformat=channel_layouts=stereo\" -t " +
            std::to_string(seconds) + " -c:a aac -b:a 160k '" + path + "'") != 0) {
    std::fprintf(stderr, "audio_bench: cannot make the fixture with ffmpeg\n");
    return 1;
  }

  double ffBest = 1e9;
  for (int run = 0; run < 3; ++run) {
    double before = childCpu();
    if (shell("ffmpeg -nostdin -loglevel error -i '" + path + "' -f null -") != 0) return 1;
    ffBest = std::min(ffBest, childCpu() - before);
  }

  if (EnterMovies() != noErr) return 1;
  vt::events::useHeadless(640, 480);
  Movie movie = openMovie(path);
  if (!movie) return 1;
  TimeValue duration = GetMovieDuration(movie);
  double ourBest = 1e9;
  for (int run = 0; run < 3; ++run) {
    vt::audio::Player player(movie);
    double before = ownCpu();
    player.play(0, fixed1, 0, duration, vt::audio::Looping::None);
    vt::audio::Player::Position p;
    // A tenth of a second of the headless clock per turn, as idle time would come.
    while (player.position(p) && !p.ended) {
      vt::events::backend().advanceTicks(6);
      player.pump();
    }
    ourBest = std::min(ourBest, ownCpu() - before);
  }
  std::printf(
      "AAC stereo 48 kHz, %d s: ours %.2f ms CPU per second of sound, ffmpeg -f null %.2f ms"
      " (ratio %.2f)\n",
      seconds, ourBest * 1e3 / seconds, ffBest * 1e3 / seconds, ourBest / ffBest);

  // Start latency with the real clock: the first frame heard after play.
  vt::audio::Device& device = vt::audio::Device::get();
  device.useRealClock(true);
  double worst = 0, total = 0;
  const int starts = 10;
  for (int i = 0; i < starts; ++i) {
    vt::audio::Player player(movie);
    device.startRecording();
    int64_t pressed = device.nowNs();
    player.play(GetMovieTimeScale(movie), fixed1, 0, duration, vt::audio::Looping::None);
    for (int k = 0; k < 20; ++k) {
      player.pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    player.stop();
    device.stopRecording();
    double first = -1;
    for (const auto& b : device.recording()) {
      for (size_t s = 0; s < b.samples.size() && first < 0; s += 2)
        if (b.samples[s] != 0)
          first = (b.playTimeNs + (double)(s / 2) * 1e9 / device.rate() - pressed) * 1e-6;
      if (first >= 0) break;
    }
    worst = std::max(worst, first);
    total += first;
  }
  std::printf("start latency (real clock, %d starts): mean %.1f ms, worst %.1f ms\n", starts,
              total / starts, worst);
  device.useRealClock(false);
  DisposeMovie(movie);
  return 0;
}

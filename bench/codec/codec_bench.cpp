// Decode throughput: every frame of a 1080p H.264 movie decoded and converted to pixels in
// display order through the toolbox's track pictures path, against `ffmpeg -f null` decoding
// the same file in this run. Prints frames per second for both and their ratio (target: 0.8).
#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "compose/tracks.h"
#include "core/image.h"

namespace {

using Clock = std::chrono::steady_clock;

int shell(const std::string& cmd) {
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 120;
  std::string dir = std::string(VT_BINARY_DIR) + "/bench-fixtures";
  std::filesystem::create_directories(dir);
  std::string path = dir + "/h264_1080p_" + std::to_string(frames) + ".mov";
  if (!std::filesystem::exists(path)) {
    std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 "
        "-frames:v " +
        std::to_string(frames) + " -c:v libx264 -preset veryfast -bf 2 -g 50 -pix_fmt yuv420p '" +
        path + "'";
    if (shell(cmd) != 0) {
      std::fprintf(stderr, "codec_bench: cannot make the fixture with ffmpeg\n");
      return 1;
    }
  }

  // Baseline: ffmpeg decoding the whole file to nothing, best of three.
  double ffBest = 1e9;
  for (int run = 0; run < 3; run++) {
    auto a = Clock::now();
    if (shell("ffmpeg -nostdin -loglevel error -i '" + path + "' -f null - ") != 0) return 1;
    ffBest = std::min(ffBest, seconds(a, Clock::now()));
  }

  if (EnterMovies() != noErr) return 1;
  double ourBest = 1e9;
  int decoded = 0;
  for (int run = 0; run < 3; run++) {
    // Every run opens the movie again, so it starts cold, as ffmpeg does.
    FSSpec spec;
    short ref = 0;
    Movie movie = nullptr;
    if (VTMakeFSSpecFromPath(path.c_str(), &spec) != noErr ||
        OpenMovieFile(&spec, &ref, fsRdPerm) != noErr ||
        NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr) != noErr) {
      std::fprintf(stderr, "codec_bench: cannot open %s\n", path.c_str());
      return 1;
    }
    CloseMovieFile(ref);
    Track track = GetMovieIndTrack(movie, 1);
    TimeScale scale = GetMovieTimeScale(movie);
    decoded = 0;
    auto a = Clock::now();
    for (int n = 0; n < frames; n++) {
      vt::compose::PictureRequest rq;
      rq.time = (int64_t)((n + 0.5) * scale / 25);
      rq.ahead = 3;  // sequential, as playback asks
      vt::compose::TrackPicture pic;
      if (vt::compose::pictureOf(track, rq, pic) != noErr) break;
      decoded++;
    }
    ourBest = std::min(ourBest, seconds(a, Clock::now()));
    DisposeMovie(movie);
  }
  ExitMovies();
  if (decoded != frames) {
    std::fprintf(stderr, "codec_bench: decoded %d of %d frames\n", decoded, frames);
    return 1;
  }
  double ffFps = frames / ffBest, ourFps = frames / ourBest;
  std::printf("1080p H.264, %d frames\n", frames);
  std::printf("  ffmpeg -f null:            %8.1f frames/s (process start included)\n", ffFps);
  std::printf("  track pictures (+ ARGB):   %8.1f frames/s\n", ourFps);
  std::printf("  ratio: %.2f (target >= 0.80)\n", ourFps / ffFps);
  return 0;
}

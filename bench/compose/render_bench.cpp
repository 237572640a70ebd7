// A two-source 1080p H.264 cross fade, every frame composed, rendered by movie-render against
// ffmpeg's xfade filter on the same sources, in the same run, the two taking turns:
//   frames handed to a null sink in BGRA  (movie-render --null; ffmpeg ...,format=bgra -f null)
//   frames written as a 4:2:0 YUV4MPEG2 stream to /dev/null (movie-render -o; ffmpeg -f
//   yuv4mpegpipe)
// The fastest of RUNS runs of each counts. Target: 1.0 or more for the first.
//
//   render_bench [WORK_DIR [RUNS]]
#include <Movies.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "sources.h"

namespace {

double timed(const std::string& cmd) {
  auto a = std::chrono::steady_clock::now();
  if (bench::shell(cmd) != 0) {
    std::fprintf(stderr, "render_bench: failed: %s\n", cmd.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : std::string(VT_BINARY_DIR) + "/bench-fixtures";
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  if (EnterMovies() != noErr) return 1;
  std::string a, b;
  std::string fx = bench::crossFadeMovie(dir, a, b);
  if (fx.empty()) return 1;
  const std::string tool = std::string(VT_BINARY_DIR) + "/tools/movie-render/movie-render";
  const std::string ff =
      "ffmpeg -nostdin -loglevel error -i '" + a + "' -i '" + b +
      "' -filter_complex \"[0:v][1:v]xfade=transition=fade:duration=2.9:offset=0,format=";
  const int frames = 90;  // 3 s at 30 frames a second, on both sides
  struct Row {
    const char* what;
    std::string ours, theirs;
    double bestOurs = 1e9, bestTheirs = 1e9;
  } rows[] = {
      {"BGRA to a null sink", "'" + tool + "' '" + fx + "' --null", ff + "bgra\" -f null -"},
      {"4:2:0 YUV4MPEG2 to /dev/null", "'" + tool + "' '" + fx + "' -o /dev/null",
       ff + "yuv420p\" -f yuv4mpegpipe -y /dev/null"},
  };
  for (int run = 0; run < runs; ++run)
    for (Row& r : rows) {
      r.bestTheirs = std::min(r.bestTheirs, timed(r.theirs));
      r.bestOurs = std::min(r.bestOurs, timed(r.ours));
    }
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  std::printf("two-source 1080p H.264 cross fade, %d frames, fastest of %d runs (load %.1f)\n",
              frames, runs, load[0]);
  std::printf("  %-30s %12s %12s %8s\n", "", "movie-render", "ffmpeg", "ratio");
  for (const Row& r : rows)
    std::printf("  %-30s %8.1f fps %8.1f fps %7.2fx%s\n", r.what, frames / r.bestOurs,
                frames / r.bestTheirs, r.bestTheirs / r.bestOurs,
                &r == rows ? "  (target >= 1.0)" : "");
  ExitMovies();
  return 0;
}

// A two-source H.264 cross fade, every frame composed, rendered by movie-render against
// ffmpeg on the same sources, in the same run, the commands taking turns:
//   frames handed to a null sink in BGRA  (movie-render --null; ffmpeg xfade,format=bgra)
//   frames written as a 4:2:0 YUV4MPEG2 stream to /dev/null (movie-render -o; ffmpeg xfade,
//   format=yuv420p -f yuv4mpegpipe)
// each also against the decode floor: ffmpeg decoding both sources and nothing else. At 1080p
// and at 3840 x 2160 (with each command's peak resident memory). The fastest of RUNS runs of
// each counts. Ratios above 1 mean movie-render is faster.
//   targets: 1080p BGRA >= 0.90 x the floor, Y4M >= 0.85 x the floor; 4K >= 2 x ffmpeg xfade,
//   peak memory <= 600 MB
//
//   render_bench [WORK_DIR [RUNS]]
#include <Movies.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sources.h"

namespace {

struct Best {
  double seconds = 1e9;
  long peakMB = 0;
  void add(const std::string& cmd) {
    bench::Run r = bench::measured(cmd);
    if (r.seconds < 0) {
      std::fprintf(stderr, "render_bench: failed: %s\n", cmd.c_str());
      std::exit(1);
    }
    seconds = std::min(seconds, r.seconds);
    peakMB = std::max(peakMB, r.peakMB);
  }
};

bool measure(const std::string& dir, bool uhd, int runs) {
  std::string a, b;
  std::string fx = bench::crossFadeMovie(dir, a, b, uhd);
  if (fx.empty()) return false;
  const std::string tool = std::string(VT_BINARY_DIR) + "/tools/movie-render/movie-render";
  const std::string inputs = "ffmpeg -nostdin -loglevel error -i '" + a + "' -i '" + b + "' ";
  const std::string ff = inputs +
                         "-filter_complex \"[0:v][1:v]xfade=transition=fade:duration=2.9:"
                         "offset=0,format=";
  Best bgra, y4m, ffBgra, ffY4m, floor;
  for (int run = 0; run < runs; ++run) {
    floor.add(inputs + "-map 0:v -map 1:v -f null -");
    ffBgra.add(ff + "bgra\" -f null -");
    bgra.add("'" + tool + "' '" + fx + "' --null");
    ffY4m.add(ff + "yuv420p\" -f yuv4mpegpipe -y /dev/null");
    y4m.add("'" + tool + "' '" + fx + "' -o /dev/null");
  }
  const int frames = 90;  // 3 s at 30 frames a second, on both sides
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  std::printf("two-source %s H.264 cross fade, %d frames, fastest of %d runs (load %.1f)\n",
              uhd ? "3840x2160" : "1080p", frames, runs, load[0]);
  std::printf("  %-30s %10s %8s %10s %8s %8s %10s %8s\n", "", "ours", "peak", "ffmpeg", "peak",
              "ratio", "floor", "ratio");
  auto row = [&](const char* what, const Best& ours, const Best& theirs) {
    std::printf("  %-30s %6.1f fps %5ld MB %6.1f fps %5ld MB %7.2fx %6.1f fps %7.2fx\n", what,
                frames / ours.seconds, ours.peakMB, frames / theirs.seconds, theirs.peakMB,
                theirs.seconds / ours.seconds, frames / floor.seconds,
                floor.seconds / ours.seconds);
  };
  row("BGRA to a null sink", bgra, ffBgra);
  row("4:2:0 YUV4MPEG2 to /dev/null", y4m, ffY4m);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : std::string(VT_BINARY_DIR) + "/bench-fixtures";
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  if (EnterMovies() != noErr) return 1;
  bool ok = measure(dir, false, runs) && measure(dir, true, runs);
  ExitMovies();
  return ok ? 0 : 1;
}

// A 10 s two-source 1080p H.264 cross fade exported to H.264 (libx264 veryfast, CRF 18) by
// movie-export, against the ffmpeg command making the same kind of file from the same sources
// with its xfade filter, in the same run, the two taking turns; the fastest of RUNS runs of
// each counts, with each command's peak resident memory. Targets: wall time at most 0.80 x
// ffmpeg's, peak memory at most ffmpeg's. Then the exported file
// against movie-render's frames: PSNR (target >= 40 dB), frame count and duration, and what
// ffprobe says of it.
//
//   export_bench [WORK_DIR [RUNS]]
#include <Movies.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sources.h"

namespace {

std::string output(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : std::string(VT_BINARY_DIR) + "/bench-fixtures";
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  if (EnterMovies() != noErr) return 1;
  std::string a = bench::source(dir, "export_a_1080p.mov", 1920, 1080, 10);
  std::string b = bench::source(dir, "export_b_1080p.mov", 1920, 1080, 10, "negate");
  std::string fx = dir + "/export_fade_1080p.mov";
  if (a.empty() || b.empty() ||
      vt_test::makeEffectMovie(fx, a, b, 'dslv', 1920, 1080, false) != noErr)
    return 1;
  const std::string bin = std::string(VT_BINARY_DIR) + "/tools/";
  const std::string ours = dir + "/export_ours.mp4", theirs = dir + "/export_ffmpeg.mp4";
  const std::string ourCmd =
      "'" + bin + "movie-export/movie-export' '" + fx + "' '" + ours + "' 2>/dev/null";
  const std::string ffCmd = "ffmpeg -nostdin -loglevel error -y -i '" + a + "' -i '" + b +
                            "' -filter_complex xfade=transition=fade:duration=9.9:offset=0 "
                            "-c:v libx264 -preset veryfast -crf 18 '" +
                            theirs + "'";
  double bestOurs = 1e9, bestTheirs = 1e9;
  long peakOurs = 0, peakTheirs = 0;
  for (int run = 0; run < runs; ++run) {
    for (bool mine : {false, true}) {
      bench::Run r = bench::measured(mine ? ourCmd : ffCmd);
      if (r.seconds < 0) {
        std::fprintf(stderr, "export_bench: failed: %s\n", (mine ? ourCmd : ffCmd).c_str());
        return 1;
      }
      (mine ? bestOurs : bestTheirs) = std::min(mine ? bestOurs : bestTheirs, r.seconds);
      (mine ? peakOurs : peakTheirs) = std::max(mine ? peakOurs : peakTheirs, r.peakMB);
    }
  }
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  const int frames = 300;
  std::printf(
      "10 s two-source 1080p H.264 cross fade to H.264 (veryfast, CRF 18), fastest of %d runs "
      "(load %.1f)\n",
      runs, load[0]);
  std::printf("  movie-export %6.2f s (%5.1f fps) %5ld MB   ffmpeg %6.2f s (%5.1f fps) %5ld MB\n",
              bestOurs, frames / bestOurs, peakOurs, bestTheirs, frames / bestTheirs, peakTheirs);
  std::printf("  time %.2fx ffmpeg's (target <= 0.80), memory %.2fx (target <= 1.0)\n",
              bestOurs / bestTheirs, (double)peakOurs / std::max(peakTheirs, 1L));

  const std::string probe = "ffprobe -v error -count_frames -select_streams v:0 -show_entries ";
  std::string log = output("'" + bin + "movie-render/movie-render' '" + fx +
                           "' -o - 2>/dev/null | "
                           "ffmpeg -nostdin -i '" +
                           ours + "' -i - -lavfi '[0:v][1:v]psnr' -f null - 2>&1");
  size_t at = log.find("average:");
  std::printf(
      "  PSNR against movie-render's frames: %s dB (target >= 40)\n",
      at == std::string::npos ? "?" : log.substr(at + 8, log.find(' ', at + 8) - at - 8).c_str());
  std::printf(
      "  frames %s (movie: %d), duration %s s, ffprobe errors: \"%s\"\n",
      output(probe + "stream=nb_read_frames -of csv=p=0 '" + ours + "'").c_str(), frames,
      output("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + ours + "'").c_str(),
      output("ffprobe -v error -i '" + ours + "' 2>&1").c_str());
  ExitMovies();
  return 0;
}

// Real-time playback: a movie playing (looped) in a movie controller in a window on the
// headless screen, on the real clock, for 10 seconds. Reports the frames due at the movie's
// frame rate, the frames shown (composed and drawn into the window), the frames dropped, the
// CPU time per frame shown and the peak resident memory while playing:
//   the 1080p two-source cross fade movie (targets: 99% of the frames due shown; 300 MB)
//   one 4K H.264 source
//
//   playback_bench [WORK_DIR [SECONDS]]
#include <MacWindows.h>
#include <MovieControllers.h>
#include <VTAutomation.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "compose/compose.h"
#include "controller/controller.h"
#include "sources.h"

namespace {

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Peak resident memory since the last reset, in MB.
long peakMB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
  return -1;
}
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

bool play(const char* name, const std::string& path, double seconds, double minShown, long maxMB) {
  Movie movie = vt_test::openMovie(path);
  if (!movie) {
    std::fprintf(stderr, "playback_bench: cannot open %s\n", path.c_str());
    return false;
  }
  Rect box;
  GetMovieBox(movie, &box);
  OffsetRect(&box, (short)-box.left, (short)-box.top);
  const short w = box.right, h = box.bottom;
  VTAutomationUseHeadless(w, (short)(h + 60), true);
  Rect bounds{30, 0, (short)(30 + h + vt::controller::kBarHeight), w};
  WindowRef window = NewCWindow(nullptr, &bounds, (ConstStr255Param) "\x04Play", true,
                                noGrowDocProc, (WindowRef)-1, true, 0);
  SetPort(GetWindowPort(window));
  SetMovieGWorld(movie, GetWindowPort(window), nullptr);
  SetMovieBox(movie, &box);
  MovieController mc = NewMovieController(movie, &box, mcTopLeftMovie);
  MCDoAction(mc, mcActionSetLooping, (void*)1);
  int num = 30, den = 1;
  vt::compose::movieFrameRate(movie, num, den);
  resetPeak();
  const long before = vt::controller::live(mc)->picture.framesComposed;
  const double cpu0 = cpuSeconds();
  auto start = std::chrono::steady_clock::now();
  MCDoAction(mc, mcActionPlay, (void*)(intptr_t)IntToFixed(1));
  // The event loop's idle: the controller is offered time every millisecond or so.
  while (std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds)) {
    MCIdle(mc);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double cpu = cpuSeconds() - cpu0;
  const long shown = vt::controller::live(mc)->picture.framesComposed - before;
  const long due = (long)(seconds * num / den);
  const long peak = peakMB();
  const double share = (double)shown / due;
  std::printf("  %-28s %6ld %6ld %7ld %7.1f%% %9.1f ms %7ld MB  %s\n", name, due, shown,
              std::max(0L, due - shown), 100 * share, cpu / std::max(shown, 1L) * 1e3, peak,
              minShown > 0
                  ? (share >= minShown && peak <= maxMB ? "(targets met)" : "(targets MISSED)")
                  : "");
  DisposeMovieController(mc);
  DisposeWindow(window);
  DisposeMovie(movie);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : std::string(VT_BINARY_DIR) + "/bench-fixtures";
  double seconds = argc > 2 ? std::max(1.0, std::atof(argv[2])) : 10;
  if (EnterMovies() != noErr) return 1;
  std::string a, b;
  std::string fx = bench::crossFadeMovie(dir, a, b);
  std::string uhd = bench::source(dir, "one_2160p.mov", 3840, 2160, 3);
  if (fx.empty() || uhd.empty()) return 1;
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  std::printf("playback in a movie controller on the real clock, %.0f s, looping (load %.1f)\n",
              seconds, load[0]);
  std::printf("  %-28s %6s %6s %7s %8s %12s %10s\n", "", "due", "shown", "dropped", "shown",
              "CPU/frame", "peak RSS");
  bool ok = play("1080p two-source cross fade", fx, seconds, 0.99, 300);
  ok = play("one 4K H.264 source", uhd, seconds, 0, 0) && ok;
  ExitMovies();
  return ok ? 0 : 1;
}

// Real-time playback: a movie playing (looped) in a movie controller in a window on the
// headless screen, on the real clock, for 10 seconds. Each movie plays twice in the same run:
// first composing each picture when it is due (the reference), then with pictures prepared
// ahead, after a second's play that warms the files and caches for both. Reports the start (play
// pressed to the clock running, the first picture up and the pre-roll done), the frames due after
// the first picture at the movie's frame rate, the frames shown after it, those dropped, the CPU
// time per frame shown, the peak resident memory, and the share shown against the reference's:
//   the 1080p two-source cross fade movie (targets: every frame after the first, a start
//   within 100 ms, 300 MB)
//   one 4K H.264 source
//   the cross fade again with two other processes spinning on the cores
//
//   playback_bench [WORK_DIR [SECONDS]]
#include <MacWindows.h>
#include <MovieControllers.h>
#include <VTAutomation.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

struct Result {
  bool ok = false;
  double share = 0;
};

Result play(const char* name, const std::string& path, double seconds, bool prepared,
            double reference, bool targets) {
  Movie movie = vt_test::openMovie(path);
  if (!movie) {
    std::fprintf(stderr, "playback_bench: cannot open %s\n", path.c_str());
    return {};
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
  vt::controller::Picture& pic = vt::controller::live(mc)->picture;
  pic.preparedFrames = prepared ? vt::controller::kPreparedFrames : 0;
  int num = 30, den = 1;
  vt::compose::movieFrameRate(movie, num, den);
  resetPeak();
  const long droppedBefore = pic.framesDropped;
  const double cpu0 = cpuSeconds();
  using Clock = std::chrono::steady_clock;
  const auto pressed = Clock::now();
  MCDoAction(mc, mcActionPlay, (void*)(intptr_t)IntToFixed(1));
  const auto running = Clock::now();
  const long before = pic.framesShown;  // the first picture is up
  // The event loop's idle: the controller is offered time every millisecond or so.
  while (Clock::now() - pressed < std::chrono::duration<double>(seconds)) {
    MCIdle(mc);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double cpu = cpuSeconds() - cpu0;
  const double played = std::chrono::duration<double>(Clock::now() - running).count();
  const double startMs = std::chrono::duration<double>(running - pressed).count() * 1e3;
  const long shown = pic.framesShown - before;
  const long due = std::max(1L, (long)(played * num / den));
  const long peak = peakMB();
  Result r{true, (double)shown / due};
  if (name)
    std::printf("  %-34s %7.0f ms %5ld %5ld %5ld %4ld %7.1f%% %7.1f ms %6ld MB %6.3f  %s\n", name,
                startMs, due, shown, std::max(0L, due - shown), pic.framesDropped - droppedBefore,
                100 * r.share, cpu / std::max(shown + 1, 1L) * 1e3, peak,
                reference > 0 ? r.share / reference : 1.0,
                targets ? (shown >= due - 1 && startMs <= 100 && peak <= 300 ? "(targets met)"
                                                                             : "(targets MISSED)")
                        : "");
  DisposeMovieController(mc);
  DisposeWindow(window);
  DisposeMovie(movie);
  return r;
}

// Two processes spinning on the cores while they live.
struct Contention {
  pid_t pids[2] = {-1, -1};
  Contention() {
    for (pid_t& p : pids)
      if ((p = fork()) == 0)
        for (unsigned long n = 0;; n++) asm volatile("" : "+r"(n));  // spins, not optimised away
  }
  ~Contention() {
    for (pid_t p : pids)
      if (p > 0) {
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
      }
  }
};

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
  std::printf("  %-34s %10s %5s %5s %5s %4s %8s %10s %9s %6s\n", "", "start", "due", "shown",
              "drop", "late", "shown", "CPU/frame", "peak RSS", "ratio");
  bool ok = true;
  auto both = [&](const char* what, const std::string& path, bool targets) {
    std::string ref = std::string(what) + ", when due";
    std::string ahead = std::string(what) + ", prepared";
    play(nullptr, path, 1, false, 0, false);  // warms the files and caches for both rows
    Result r = play(ref.c_str(), path, seconds, false, 0, false);
    Result p = play(ahead.c_str(), path, seconds, true, r.share, targets);
    ok = ok && r.ok && p.ok;
    return p.share;
  };
  const double alone = both("1080p cross fade", fx, true);
  both("4K H.264", uhd, false);
  {
    Contention busy;
    Result p = play("1080p cross fade, 2 busy, prepared", fx, seconds, true, alone, false);
    ok = ok && p.ok;
  }
  ExitMovies();
  return ok ? 0 : 1;
}

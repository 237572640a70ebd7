// Real-time playback: a movie playing (looped) in a movie controller in a window on the
// headless screen, on the real clock, for 10 seconds. Each movie plays twice in the same run:
// first composing each picture when it is due (the reference), then with pictures prepared
// ahead, after a second's play that warms the files and caches for both. The cross fades carry
// a sound track, so their clock is the sound's. Reports the start (play pressed to the clock
// running, the first picture up and the pre-roll done), the frames due after the first picture
// at the movie's frame rate, the frames shown after it, those dropped, the longest time between
// two pictures, how far the picture shown was from the clock (most frames), the sound heard as
// silence because it was not rendered in time, the CPU time per frame shown, the peak resident
// memory, and the share shown against the reference's:
//   the 1080p two-source cross fade movie (targets: every frame after the first, a start
//   within 100 ms, 300 MB)
//   one 4K H.264 source
//   the cross fade again with two other processes spinning on the cores
//   the 4K cross fade with them: more than the cores can do, so frames drop (targets: drops
//   spread evenly, no stall, the sound continuous and the picture within one frame of it)
//
//   playback_bench [WORK_DIR [SECONDS]]
#include <MacWindows.h>
#include <MovieControllers.h>
#include <VTAutomation.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "audio/player.h"
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

// The sound of a tone movie added to `movie` (in memory), so that its clock is the sound's.
bool addSound(Movie movie, Movie tone) {
  Track from = GetMovieIndTrackType(tone, 1, SoundMediaType, movieTrackMediaType);
  if (!from) return false;
  Track to = NewMovieTrack(movie, 0, 0, kFullVolume);
  if (!to || !NewTrackMedia(to, SoundMediaType, GetMediaTimeScale(GetTrackMedia(from)), nullptr, 0))
    return false;
  return InsertTrackSegment(from, to, 0, GetTrackDuration(from), 0) == noErr;
}

// Where the movie is heard (or, without sound, its clock).
TimeValue clockTime(MovieController mc, Movie movie) {
  auto& sound = vt::controller::live(mc)->playback.sound;
  vt::audio::Player::Position p;
  if (sound && sound->position(p)) return p.time;
  return GetMovieTime(movie, nullptr);
}

Result play(const char* name, Movie movie, double seconds, bool prepared, double reference,
            bool targets, bool degrading = false) {
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
  const TimeScale scale = GetMovieTimeScale(movie);
  const int64_t loopFrames =
      std::max<int64_t>(1, (int64_t)GetMovieDuration(movie) * num / den / scale);
  auto frameOf = [&](TimeValue t) { return (int64_t)t * num / ((int64_t)den * scale); };
  resetPeak();
  const long droppedBefore = pic.framesDropped;
  const double cpu0 = cpuSeconds();
  using Clock = std::chrono::steady_clock;
  const auto pressed = Clock::now();
  MCDoAction(mc, mcActionPlay, (void*)(intptr_t)IntToFixed(1));
  const auto running = Clock::now();
  const long before = pic.framesShown;  // the first picture is up
  long seen = before;
  auto lastPicture = running;
  double longestGap = 0;
  int64_t worstLag = 0;
  // The event loop's idle: the controller is offered time every millisecond or so.
  while (Clock::now() - pressed < std::chrono::duration<double>(seconds)) {
    MCIdle(mc);
    if (pic.framesShown != seen) {
      seen = pic.framesShown;
      const auto now = Clock::now();
      longestGap = std::max(longestGap, std::chrono::duration<double>(now - lastPicture).count());
      lastPicture = now;
      int64_t lag = std::llabs(frameOf(clockTime(mc, movie)) - frameOf(pic.lastShown)) % loopFrames;
      worstLag = std::max(worstLag, std::min(lag, loopFrames - lag));  // across the loop point
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double cpu = cpuSeconds() - cpu0;
  const double played = std::chrono::duration<double>(Clock::now() - running).count();
  const double startMs = std::chrono::duration<double>(running - pressed).count() * 1e3;
  const long shown = pic.framesShown - before;
  const long due = std::max(1L, (long)(played * num / den));
  const long peak = peakMB();
  auto& sound = vt::controller::live(mc)->playback.sound;
  const double silentMs =
      sound ? 1e3 * (double)sound->lateFrames() / std::max(1, sound->deviceRate()) : -1;
  Result r{true, (double)shown / due};
  const char* verdict = "";
  if (targets)
    verdict =
        shown >= due - 1 && startMs <= 100 && peak <= 300 ? "(targets met)" : "(targets MISSED)";
  // Even drops: no wait between pictures of more than a few frames, the sound whole, the
  // picture within a frame of it.
  if (degrading)
    verdict = longestGap * num / den <= 4 && silentMs == 0 && worstLag <= 1 ? "(targets met)"
                                                                            : "(targets MISSED)";
  if (name)
    std::printf(
        "  %-34s %6.0f ms %5ld %5ld %5ld %4ld %6.1f%% %6.0f ms %4lld %6.0f ms %6.1f ms "
        "%5ld MB %6.3f  %s\n",
        name, startMs, due, shown, std::max(0L, due - shown), pic.framesDropped - droppedBefore,
        100 * r.share, longestGap * 1e3, (long long)worstLag, silentMs,
        cpu / std::max(shown + 1, 1L) * 1e3, peak, reference > 0 ? r.share / reference : 1.0,
        verdict);
  DisposeMovieController(mc);
  DisposeWindow(window);
  return r;
}

// Processes spinning on the cores while they live. Spawned, not forked: a forked copy would
// share this process's pages, and every first write to one of them afterwards would stop
// playback for a copy.
struct Contention {
  std::vector<pid_t> pids;
  explicit Contention(int n) {
    char sh[] = "sh", c[] = "-c", loop[] = "while :; do :; done";
    char* argv[] = {sh, c, loop, nullptr};
    for (int i = 0; i < n; ++i) {
      pid_t p = -1;
      if (posix_spawn(&p, "/bin/sh", nullptr, nullptr, argv, environ) == 0) pids.push_back(p);
    }
  }
  ~Contention() {
    for (pid_t p : pids) {
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
  std::string a, b, a4, b4;
  std::string fx = bench::crossFadeMovie(dir, a, b);
  std::string fx4 = bench::crossFadeMovie(dir, a4, b4, true);
  std::string fx4b = bench::crossFadeMovie(dir, a4, b4, true, true);
  std::string uhd = bench::source(dir, "one_2160p.mov", 3840, 2160, 3);
  std::string tonePath = dir + "/tone.mov";
  if (!std::filesystem::exists(tonePath) &&
      bench::shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:duration=3 "
                   "-c:a aac '" +
                   tonePath + "'") != 0)
    return 1;
  if (fx.empty() || fx4.empty() || fx4b.empty() || uhd.empty()) return 1;
  Movie tone = vt_test::openMovie(tonePath);
  auto open = [&](const std::string& path, bool withSound) {
    Movie m = vt_test::openMovie(path);
    if (!m || (withSound && !addSound(m, tone))) {
      std::fprintf(stderr, "playback_bench: cannot open %s\n", path.c_str());
      std::exit(1);
    }
    return m;
  };
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  std::printf("playback in a movie controller on the real clock, %.0f s, looping (load %.1f)\n",
              seconds, load[0]);
  std::printf("  %-34s %9s %5s %5s %5s %4s %7s %9s %4s %9s %9s %8s %6s\n", "", "start", "due",
              "shown", "drop", "late", "shown", "gap", "lag", "silence", "CPU/frame", "peak RSS",
              "ratio");
  bool ok = true;
  // Each row plays a movie opened for it (so no other movie's decoders count in its memory),
  // after a second's play that warms the files and caches.
  auto row = [&](const char* name, const std::string& path, bool sound, int busy, bool prepared,
                 double reference, bool targets, bool degrading = false) {
    Movie m = open(path, sound);
    // The busy processes start before the warm-up, so the row measures playing under them
    // rather than the moment they start.
    std::unique_ptr<Contention> spinning = busy ? std::make_unique<Contention>(busy) : nullptr;
    play(nullptr, m, 1, prepared, 0, false);
    Result r = play(name, m, seconds, prepared, reference, targets, degrading);
    spinning.reset();
    DisposeMovie(m);
    ok = ok && r.ok;
    return r.share;
  };
  const double due = row("1080p cross fade, when due", fx, true, 0, false, 0, false);
  const double alone = row("1080p cross fade, prepared", fx, true, 0, true, due, true);
  const double uhdDue = row("4K H.264, when due", uhd, false, 0, false, 0, false);
  row("4K H.264, prepared", uhd, false, 0, true, uhdDue, false);
  row("1080p cross fade, 2 busy, prepared", fx, true, 2, true, alone, false);
  row("4K cross fade, 2 busy, prepared", fx4, true, 2, true, 0, false, true);
  row("4K B-frames fade, 2 busy, prepared", fx4b, true, 2, true, 0, false, true);
  row("4K cross fade, 6 busy, prepared", fx4, true, 6, true, 0, false, true);
  DisposeMovie(tone);
  ExitMovies();
  return ok ? 0 : 1;
}

// The benchmarks' media, made with the ffmpeg command the first time: H.264 sources and the
// two-source cross fade movie over them.
#pragma once
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "effect_movie.h"

namespace bench {

inline int shell(const std::string& cmd) {
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// One command's wall time and peak resident memory (its own, from wait4), or seconds < 0
// when it failed.
struct Run {
  double seconds = -1;
  long peakMB = 0;
};
inline Run measured(const std::string& cmd) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", cmd.c_str(), (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  rusage use{};
  if (pid < 0 || wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0)
    return {};
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peakMB = use.ru_maxrss / 1024;
  return r;
}

// An H.264 source of w x h at 30 frames a second for `seconds`, made once in `dir`; "" when
// ffmpeg fails.
inline std::string source(const std::string& dir, const std::string& name, int w, int h,
                          int seconds, const std::string& filter = "",
                          const std::string& encoder = "-preset ultrafast") {
  std::filesystem::create_directories(dir);
  std::string path = dir + "/" + name;
  if (std::filesystem::exists(path)) return path;
  std::string cmd =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
      std::to_string(h) + ":rate=30 -t " + std::to_string(seconds) + " " +
      (filter.empty() ? "" : "-vf " + filter + " ") + "-c:v libx264 " + encoder +
      " -pix_fmt yuv420p '" + path + ".tmp.mov' && mv '" + path + ".tmp.mov' '" + path + "'";
  if (shell(cmd) != 0) {
    std::fprintf(stderr, "cannot make %s with ffmpeg\n", path.c_str());
    return "";
  }
  return path;
}

// The two-source cross fade movie at 1080p (or 3840 x 2160 when `uhd`), referring to its
// sources, with the sources' paths. The sources are all key and reference frames, or with
// `bFrames` have B-frames (nothing refers to some of them) as most cameras' files do.
inline std::string crossFadeMovie(const std::string& dir, std::string& a, std::string& b,
                                  bool uhd = false, bool bFrames = false) {
  const int w = uhd ? 3840 : 1920, h = uhd ? 2160 : 1080;
  const std::string tag = std::string(uhd ? "2160p" : "1080p") + (bFrames ? "_bf" : "");
  const std::string encoder = bFrames ? "-preset veryfast -bf 3" : "-preset ultrafast";
  a = source(dir, "fade_a_" + tag + ".mov", w, h, 3, "", encoder);
  b = source(dir, "fade_b_" + tag + ".mov", w, h, 3, "negate", encoder);
  if (a.empty() || b.empty()) return "";
  std::string fx = dir + "/fade_" + tag + ".mov";
  if (vt_test::makeEffectMovie(fx, a, b, 'dslv', (short)w, (short)h, false) != noErr) {
    std::fprintf(stderr, "cannot build %s\n", fx.c_str());
    return "";
  }
  return fx;
}

}  // namespace bench

// The benchmarks' media, made with the ffmpeg command the first time: H.264 sources and the
// two-source cross fade movie over them.
#pragma once
#include <sys/wait.h>

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

// An H.264 source of w x h at 30 frames a second for `seconds`, made once in `dir`; "" when
// ffmpeg fails.
inline std::string source(const std::string& dir, const std::string& name, int w, int h,
                          int seconds, const std::string& filter = "") {
  std::filesystem::create_directories(dir);
  std::string path = dir + "/" + name;
  if (std::filesystem::exists(path)) return path;
  std::string cmd =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
      std::to_string(h) + ":rate=30 -t " + std::to_string(seconds) + " " +
      (filter.empty() ? "" : "-vf " + filter + " ") +
      "-c:v libx264 -preset ultrafast -pix_fmt yuv420p '" + path + ".tmp.mov' && mv '" + path +
      ".tmp.mov' '" + path + "'";
  if (shell(cmd) != 0) {
    std::fprintf(stderr, "cannot make %s with ffmpeg\n", path.c_str());
    return "";
  }
  return path;
}

// The 1080p two-source cross fade movie (referring to its sources), with the sources' paths.
inline std::string crossFadeMovie(const std::string& dir, std::string& a, std::string& b) {
  a = source(dir, "fade_a_1080p.mov", 1920, 1080, 3);
  b = source(dir, "fade_b_1080p.mov", 1920, 1080, 3, "negate");
  if (a.empty() || b.empty()) return "";
  std::string fx = dir + "/fade_1080p.mov";
  if (vt_test::makeEffectMovie(fx, a, b, 'dslv', 1920, 1080, false) != noErr) {
    std::fprintf(stderr, "cannot build %s\n", fx.c_str());
    return "";
  }
  return fx;
}

}  // namespace bench

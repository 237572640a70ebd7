// movie-export IN OUT [--codec h264|prores|png] [--crf N] [--preset NAME] [--size WxH]
//              [--from S] [--to S] [--chunk K/N]
// movie-export IN --join OUT CHUNK... [--from S] [--to S]
// A movie's frames, effects composed, as an H.264 .mp4, a ProRes .mov or a folder of PNGs; or
// the K-th of N pieces of that export (pictures only), which --join puts together with the
// movie's sound without encoding the pictures again.
#include <MacErrors.h>
#include <Movies.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/open_movie.h"
#include "export/export.h"
#include "common/tool_main.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: movie-export IN OUT [--codec h264|prores|png] [--crf N] [--preset NAME] "
               "[--size WxH] [--from SECONDS] [--to SECONDS] [--chunk K/N], or movie-export IN "
               "--join OUT CHUNK... [--from SECONDS] [--to SECONDS]\n");
  return 2;
}

bool parseNumber(const char* text, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text, &end);
  return !errno && end != text && !*end && std::isfinite(out) && out >= 0;
}

}  // namespace

static int run(int argc, char** argv) {
  std::string in, out;
  std::vector<std::string> chunks;
  bool join = false;
  vt::exporter::Options o;
  bool settings = false;  // a quality, preset, size or range was given
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    const bool value = i + 1 < argc;
    settings |= a == "--crf" || a == "--preset" || a == "--size" || a == "--from" || a == "--to";
    double n = 0;
    if (a == "--codec" && value) {
      std::string c = argv[++i];
      if (c == "h264")
        o.format = vt::exporter::Format::h264;
      else if (c == "prores")
        o.format = vt::exporter::Format::prores;
      else if (c == "png")
        o.format = vt::exporter::Format::png;
      else
        return usage();
    } else if (a == "--crf" && value) {
      if (!parseNumber(argv[++i], n) || n > 51 || n != std::floor(n)) return usage();
      o.crf = (int)n;
    } else if (a == "--preset" && value) {
      o.preset = argv[++i];
    } else if (a == "--size" && value) {
      char x = 0, extra = 0;
      if (std::sscanf(argv[++i], "%d%c%d%c", &o.width, &x, &o.height, &extra) != 3 ||
          (x != 'x' && x != 'X') || o.width <= 0 || o.height <= 0 || o.width > 8192 ||
          o.height > 8192)
        return usage();
    } else if (a == "--from" && value) {
      if (!parseNumber(argv[++i], o.from)) return usage();
    } else if (a == "--to" && value) {
      if (!parseNumber(argv[++i], o.to)) return usage();
    } else if (a == "--chunk" && value) {
      char slash = 0, extra = 0;
      if (std::sscanf(argv[++i], "%d%c%d%c", &o.chunk, &slash, &o.chunks, &extra) != 3 ||
          slash != '/' || o.chunks < 1 || o.chunk < 1 || o.chunk > o.chunks || o.chunks > 100000)
        return usage();
      settings = true;
    } else if (a == "--join" && value && !join && out.empty()) {
      join = true;
      out = argv[++i];
    } else if (!a.empty() && a[0] != '-' && in.empty()) {
      in = a;
    } else if (!a.empty() && a[0] != '-' && join) {
      chunks.push_back(a);
    } else if (!a.empty() && a[0] != '-' && out.empty()) {
      out = a;
    } else {
      return usage();
    }
  }
  if (in.empty() || out.empty() || (join && (chunks.empty() || o.chunks > 0))) return usage();
  if (EnterMovies() != noErr) {
    std::fprintf(stderr, "movie-export: cannot start the movie toolbox\n");
    return 1;
  }
  std::string message;
  Movie movie = openToolMovie(in, message);
  if (!movie) {
    std::fprintf(stderr, "movie-export: %s\n", message.c_str());
    return 1;
  }
  const bool tty = isatty(2);
  auto last = std::chrono::steady_clock::now();
  auto progress = [&](int64_t done, int64_t total) {
    auto now = std::chrono::steady_clock::now();
    if (done == total || now - last > std::chrono::milliseconds(tty ? 250 : 2000)) {
      std::fprintf(stderr, tty ? "\rframe %lld of %lld (%d%%)" : "frame %lld of %lld (%d%%)\n",
                   (long long)done, (long long)total, (int)(done * 100 / total));
      last = now;
    }
    return true;
  };
  OSErr err = join ? vt::exporter::joinChunks(movie, chunks, out, o, message)
                   : vt::exporter::exportMovie(movie, out, o, progress, message);
  if (tty) std::fputc('\n', stderr);
  DisposeMovie(movie);
  ExitMovies();
  if (err != noErr) {
    std::fprintf(stderr, "movie-export: %s\n", message.c_str());
    // Status 2 is for arguments: a range or setting the user gave that this movie or the
    // encoder cannot honour. The movie's own faults (a damaged size, missing media) are 1, and
    // so are chunks that do not join.
    return err == paramErr && settings && !join ? 2 : 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  return guardedToolMain("movie-export", [&] { return run(argc, argv); });
}

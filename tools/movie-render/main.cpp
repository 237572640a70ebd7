// movie-render FILE [--from SECONDS] [--to SECONDS] [--size WxH] -o OUT.y4m|-
// Every frame of a movie at its frame rate, effects composed, as a YUV4MPEG2 stream (to a file,
// or to standard output with -o -). `--null` composes every frame and writes nothing (for
// measuring the frame path alone).
#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "codec/y4m.h"
#include "common/open_movie.h"
#include "compose/compose.h"
#include "compose/frame_pipe.h"
#include "files/host_file.h"
#include "model/time.h"
#include "common/tool_main.h"

namespace {

constexpr int kDecodeAhead = 4;

int usage() {
  std::fprintf(stderr,
               "usage: movie-render FILE [--from SECONDS] [--to SECONDS] [--size WxH] "
               "(-o OUT.y4m|- | --null)\n");
  return 2;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "movie-render: %s\n", message.c_str());
  return 1;
}

bool parseSeconds(const char* text, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text, &end);
  return !errno && end && end != text && !*end && std::isfinite(out) && out >= 0;
}

bool parseSize(const char* text, int& w, int& h) {
  char x = 0, extra = 0;
  return std::sscanf(text, "%d%c%d%c", &w, &x, &h, &extra) == 3 && (x == 'x' || x == 'X') &&
         w > 0 && h > 0 && w <= 8192 && h <= 8192;
}

}  // namespace

static int run(int argc, char** argv) {
  std::string file, out;
  double from = 0, to = -1;
  int width = 0, height = 0;
  bool null = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--from" && i + 1 < argc) {
      if (!parseSeconds(argv[++i], from)) return usage();
    } else if (a == "--to" && i + 1 < argc) {
      if (!parseSeconds(argv[++i], to)) return usage();
    } else if (a == "--size" && i + 1 < argc) {
      if (!parseSize(argv[++i], width, height)) return usage();
    } else if (a == "-o" && i + 1 < argc) {
      out = argv[++i];
    } else if (a == "--null") {
      null = true;
    } else if (!a.empty() && a[0] != '-' && file.empty()) {
      file = a;
    } else {
      return usage();
    }
  }
  if (file.empty() || (out.empty() && !null) || (!out.empty() && null)) return usage();
  // A reader that goes away (ffmpeg stopping early) is a write error, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);

  if (EnterMovies() != noErr) return fail("cannot start the movie toolbox");
  std::string error;
  Movie movie = openToolMovie(file, error);
  if (!movie) return fail(error);
  // The stream is written in place: never into a file the movie reads, by any of its names.
  if (!null && out != "-" && vt::files::isBusy(out)) {
    DisposeMovie(movie);
    return fail(out + " is a file the movie reads; choose another output");
  }
  TimeScale scale = GetMovieTimeScale(movie);
  TimeValue duration = GetMovieDuration(movie);
  Rect box;
  GetMovieBox(movie, &box);
  if (scale <= 0 || duration <= 0 || box.right <= box.left || box.bottom <= box.top) {
    DisposeMovie(movie);
    return fail(file + " has no pictures to render");
  }
  double length = (double)duration / scale;
  if (to < 0 || to > length) to = length;
  if (from >= to) {
    DisposeMovie(movie);
    char text[160];
    if (from >= length)
      std::snprintf(text, sizeof text, "--from %g s is past the movie's end (%g s)", from, length);
    else
      std::snprintf(text, sizeof text, "--from %g s is not before --to %g s", from, to);
    return fail(text);
  }
  if (width == 0) {
    width = box.right - box.left;
    height = box.bottom - box.top;
  }
  // The movie's own frames: each composed at its start, at their exact rate (the average one
  // when they keep their own times, which this stream cannot carry).
  const vt::movie::FrameList frames = vt::compose::movieFrames(movie);
  int fpsNum = 30, fpsDen = 1;
  vt::compose::frameRate(frames, fpsNum, fpsDen);
  const int64_t first = std::min<int64_t>((int64_t)std::floor(from * scale), duration - 1);
  const int64_t end =
      std::max<int64_t>(std::min<int64_t>((int64_t)std::ceil(to * scale), duration), first + 1);
  int64_t firstFrame = 0, count = 0;
  frames.range(first, end, firstFrame, count);
  auto frameTime = [&](int64_t i) { return std::max(first, frames.start(firstFrame + i)); };
  if (count <= 0) {
    DisposeMovie(movie);
    return fail(file + " has no pictures to render");
  }

  std::FILE* sink = nullptr;
  if (!null) {
    sink = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
    if (!sink) {
      DisposeMovie(movie);
      return fail("cannot write " + out + " (" + std::strerror(errno) + ")");
    }
  }
  vt::compose::Composer composer(movie);
  composer.setSize(width, height);
  composer.setDecodeAhead(kDecodeAhead);
  const bool progress = isatty(2);
  auto lastReport = std::chrono::steady_clock::now();
  vt::Image frame;
  int status = 0;
  {
    // Converting and writing a frame overlaps composing the next.
    std::unique_ptr<vt::codec::Y4mWriter> y4m;
    std::unique_ptr<vt::compose::FramePipe> writer;
    if (sink) {
      y4m = std::make_unique<vt::codec::Y4mWriter>(sink, width, height, fpsNum, fpsDen);
      writer = std::make_unique<vt::compose::FramePipe>(
          [&](const vt::Image& f, int64_t) { return y4m->write(f); });
    }
    for (int64_t i = 0; i < count; i++) {
      // The writer takes the frame's buffer, so a picture that is not in it is copied in.
      const vt::Image* picture = nullptr;
      OSErr err = writer ? composer.frame(frameTime(i), frame)
                         : composer.frame(frameTime(i), frame, picture);
      if (err != noErr) {
        std::string why = "error " + std::to_string(err);
        if (vt::compose::isMissingData(err) && !vt::compose::missingDataFile().empty())
          why =
              "its media in " + vt::compose::missingDataFile() + " is missing or cut short, " + why;
        else if (err == memFullErr)
          why = "there is not enough memory, " + why;
        status = fail("cannot compose the frame at " +
                      std::to_string((double)frameTime(i) / scale) + " s (" + why + ")");
        break;
      }
      if (writer && writer->put(frame) != noErr) break;
      auto now = std::chrono::steady_clock::now();
      if (progress && (now - lastReport > std::chrono::milliseconds(250) || i + 1 == count)) {
        std::fprintf(stderr, "\rframe %lld of %lld (%d%%)", (long long)i + 1, (long long)count,
                     (int)((i + 1) * 100 / count));
        lastReport = now;
      }
    }
    if (progress) std::fputc('\n', stderr);
    if (writer && writer->finish() != noErr && status == 0)
      status = fail("cannot write " + (out == "-" ? std::string("to standard output") : out));
  }
  if (sink && sink != stdout && std::fclose(sink) != 0 && status == 0)
    status = fail("cannot write " + out);
  if (sink == stdout && std::fflush(stdout) != 0 && status == 0)
    status = fail("cannot write to standard output");
  DisposeMovie(movie);
  ExitMovies();
  return status;
}

int main(int argc, char** argv) {
  return guardedToolMain("movie-render", [&] { return run(argc, argv); });
}

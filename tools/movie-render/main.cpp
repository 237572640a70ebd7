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

constexpr int kDecodeAhead = 2;

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

struct Args {
  std::string file, out;
  double from = 0, to = -1;
  int width = 0, height = 0;
  bool null = false;
};

// False on a usage error.
bool parseArgs(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; i++) {
    std::string s = argv[i];
    bool more = i + 1 < argc;
    if (s == "--from" && more) {
      if (!parseSeconds(argv[++i], a.from)) return false;
    } else if (s == "--to" && more) {
      if (!parseSeconds(argv[++i], a.to)) return false;
    } else if (s == "--size" && more) {
      if (!parseSize(argv[++i], a.width, a.height)) return false;
    } else if (s == "-o" && more) {
      a.out = argv[++i];
    } else if (s == "--null") {
      a.null = true;
    } else if (!s.empty() && s[0] != '-' && a.file.empty()) {
      a.file = s;
    } else {
      return false;
    }
  }
  return !a.file.empty() && a.out.empty() == a.null;
}

std::string composeFailure(OSErr err, double seconds) {
  std::string why = "error " + std::to_string(err);
  if (vt::compose::isMissingData(err) && !vt::compose::missingDataFile().empty())
    why = "its media in " + vt::compose::missingDataFile() + " is missing or cut short, " + why;
  else if (err == memFullErr)
    why = "there is not enough memory, " + why;
  return "cannot compose the frame at " + std::to_string(seconds) + " s (" + why + ")";
}

// Composes `count` frames at frameTime(i), handing them to `sink` (none: composed only);
// the exit status.
template <class TimeOf>
int renderFrames(Movie movie, const Args& a, TimeScale scale, int64_t count, TimeOf frameTime,
                 std::FILE* sink, int fpsNum, int fpsDen) {
  vt::compose::Composer composer(movie);
  composer.setSize(a.width, a.height);
  composer.setDecodeAhead(kDecodeAhead);
  const bool progress = isatty(2);
  auto lastReport = std::chrono::steady_clock::now();
  vt::Image frame;
  vt::YuvImage planes;
  int status = 0;
  // Writing a frame overlaps composing the next; the stream takes planes, so a movie that can
  // be drawn on its decoded planes is never converted.
  std::unique_ptr<vt::codec::Y4mWriter> y4m;
  std::unique_ptr<vt::compose::PlanePipe> writer;
  if (sink) {
    y4m = std::make_unique<vt::codec::Y4mWriter>(sink, a.width, a.height, fpsNum, fpsDen);
    writer = std::make_unique<vt::compose::PlanePipe>(
        [&](const vt::YuvImage& f, int64_t) { return y4m->write(f.view()); });
  }
  for (int64_t i = 0; i < count; i++) {
    const vt::Image* picture = nullptr;
    OSErr err = writer ? composer.frame(frameTime(i), planes)
                       : composer.frame(frameTime(i), frame, picture);
    if (err != noErr) {
      status = fail(composeFailure(err, (double)frameTime(i) / scale));
      break;
    }
    if (writer && writer->put(planes) != noErr) break;
    auto now = std::chrono::steady_clock::now();
    if (progress && (now - lastReport > std::chrono::milliseconds(250) || i + 1 == count)) {
      std::fprintf(stderr, "\rframe %lld of %lld (%d%%)", (long long)i + 1, (long long)count,
                   (int)((i + 1) * 100 / count));
      lastReport = now;
    }
  }
  if (progress) std::fputc('\n', stderr);
  if (writer && writer->finish() != noErr && status == 0)
    status = fail("cannot write " + (a.out == "-" ? std::string("to standard output") : a.out));
  return status;
}

}  // namespace

static int run(int argc, char** argv) {
  Args a;
  if (!parseArgs(argc, argv, a)) return usage();
  // A reader that goes away (ffmpeg stopping early) is a write error, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);

  if (EnterMovies() != noErr) return fail("cannot start the movie toolbox");
  std::string error;
  Movie movie = openToolMovie(a.file, error);
  if (!movie) return fail(error);
  auto refuse = [&](const std::string& message) {
    DisposeMovie(movie);
    return fail(message);
  };
  // The stream is written in place: never into a file the movie reads, by any of its names.
  if (!a.null && a.out != "-" && vt::files::isBusy(a.out))
    return refuse(a.out + " is a file the movie reads; choose another output");
  TimeScale scale = GetMovieTimeScale(movie);
  TimeValue duration = GetMovieDuration(movie);
  Rect box;
  GetMovieBox(movie, &box);
  if (scale <= 0 || duration <= 0 || box.right <= box.left || box.bottom <= box.top)
    return refuse(a.file + " has no pictures to render");
  double length = (double)duration / scale;
  if (a.to < 0 || a.to > length) a.to = length;
  if (a.from >= a.to) {
    char text[160];
    if (a.from >= length)
      std::snprintf(text, sizeof text, "--from %g s is past the movie's end (%g s)", a.from,
                    length);
    else
      std::snprintf(text, sizeof text, "--from %g s is not before --to %g s", a.from, a.to);
    return refuse(text);
  }
  if (a.width == 0) {
    a.width = box.right - box.left;
    a.height = box.bottom - box.top;
  }
  // The movie's own frames: each composed at its start, at their exact rate (the average one
  // when they keep their own times, which this stream cannot carry).
  const vt::movie::FrameList frames = vt::compose::movieFrames(movie);
  int fpsNum = 30, fpsDen = 1;
  vt::compose::frameRate(frames, fpsNum, fpsDen);
  const int64_t first = std::min<int64_t>((int64_t)std::floor(a.from * scale), duration - 1);
  const int64_t end =
      std::max<int64_t>(std::min<int64_t>((int64_t)std::ceil(a.to * scale), duration), first + 1);
  int64_t firstFrame = 0, count = 0;
  frames.range(first, end, firstFrame, count);
  auto frameTime = [&](int64_t i) { return std::max(first, frames.start(firstFrame + i)); };
  if (count <= 0) return refuse(a.file + " has no pictures to render");

  std::FILE* sink = nullptr;
  if (!a.null) {
    sink = a.out == "-" ? stdout : std::fopen(a.out.c_str(), "wb");
    if (!sink) return refuse("cannot write " + a.out + " (" + std::strerror(errno) + ")");
  }
  int status = renderFrames(movie, a, scale, count, frameTime, sink, fpsNum, fpsDen);
  if (sink && sink != stdout && std::fclose(sink) != 0 && status == 0)
    status = fail("cannot write " + a.out);
  if (sink == stdout && std::fflush(stdout) != 0 && status == 0)
    status = fail("cannot write to standard output");
  DisposeMovie(movie);
  ExitMovies();
  return status;
}

int main(int argc, char** argv) {
  return guardedToolMain("movie-render", [&] { return run(argc, argv); });
}

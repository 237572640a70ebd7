// movie-frame FILE --time SECONDS -o OUT.png
// Writes the picture a movie window would show at that time (all visible tracks composed).
#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "compose/tracks.h"
#include "core/image.h"
#include "core/picture.h"
#include "common/tool_main.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: movie-frame FILE --time SECONDS -o OUT.png\n");
  return 2;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "movie-frame: %s\n", message.c_str());
  return 1;
}

}  // namespace

static int run(int argc, char** argv) {
  std::string file, out;
  double seconds = 0;
  bool haveTime = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if ((a == "--time" || a == "-t") && i + 1 < argc) {
      char* end = nullptr;
      errno = 0;
      seconds = std::strtod(argv[++i], &end);
      if (errno || !end || *end || !std::isfinite(seconds) || seconds < 0) return usage();
      haveTime = true;
    } else if (a == "-o" && i + 1 < argc) {
      out = argv[++i];
    } else if (!a.empty() && a[0] != '-' && file.empty()) {
      file = a;
    } else {
      return usage();
    }
  }
  if (file.empty() || out.empty() || !haveTime) return usage();

  if (EnterMovies() != noErr) return fail("cannot start the movie toolbox");
  FSSpec spec;
  OSErr err = VTMakeFSSpecFromPath(file.c_str(), &spec);
  short ref = 0;
  if (err == noErr) err = OpenMovieFile(&spec, &ref, fsRdPerm);
  if (err != noErr) return fail("cannot open " + file + " (error " + std::to_string(err) + ")");
  Movie movie = nullptr;
  err = NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr);
  CloseMovieFile(ref);
  if (err != noErr || !movie)
    return fail(file + " is not a movie or image we can read (error " + std::to_string(err) + ")");

  TimeScale scale = GetMovieTimeScale(movie);
  double t = seconds * scale;
  TimeValue duration = GetMovieDuration(movie);
  if (scale <= 0 || t >= (double)duration) {
    DisposeMovie(movie);
    char text[160];
    std::snprintf(text, sizeof text, "time %g s is past the movie's end (%g s)", seconds,
                  scale > 0 ? (double)duration / scale : 0.0);
    return fail(text);
  }
  PicHandle pic = GetMoviePict(movie, (TimeValue)std::floor(t));
  vt::Image img;
  bool ok = pic && vt::pictureToImage(pic, img);
  OSErr pictErr = GetMoviesError();
  if (pic) KillPicture(pic);
  DisposeMovie(movie);
  ExitMovies();
  if (!ok && vt::compose::isMissingData(pictErr) && !vt::compose::missingDataFile().empty()) {
    char at[64];
    std::snprintf(at, sizeof at, "%.3f s", seconds);
    return fail(std::string("the picture at ") + at + " cannot be made: its media in " +
                vt::compose::missingDataFile() + " is missing or cut short (error " +
                std::to_string(pictErr) + ")");
  }
  if (!ok && pictErr == memFullErr)
    return fail("cannot make the picture: there is not enough memory (error " +
                std::to_string(pictErr) + ")");
  if (!ok) return fail("cannot decode the picture (error " + std::to_string(pictErr) + ")");
  if (!vt::writePNG(img, out.c_str())) return fail("cannot write " + out);
  return 0;
}

int main(int argc, char** argv) {
  return guardedToolMain("movie-frame", [&] { return run(argc, argv); });
}

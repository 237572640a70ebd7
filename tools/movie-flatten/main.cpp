// movie-flatten IN OUT: writes a self-contained copy of a movie, movie atom first.
#include <Movies.h>

#include <cstdio>
#include <string>

#include "files/fsspec.h"
#include "model/model.h"
#include "common/tool_main.h"

static int run(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: movie-flatten IN OUT\n");
    return 2;
  }
  FSSpec in, out;
  if (vt::files::pathToSpec(argv[1], in) != noErr) {
    std::fprintf(stderr, "movie-flatten: %s: no such file\n", argv[1]);
    return 1;
  }
  OSErr err = vt::files::pathToSpec(argv[2], out);
  if (err != noErr && err != fnfErr) {
    std::fprintf(stderr, "movie-flatten: %s: folder not found\n", argv[2]);
    return 1;
  }
  short ref = 0;
  err = OpenMovieFile(&in, &ref, fsRdPerm);
  if (err) {
    std::fprintf(stderr, "movie-flatten: %s: cannot open (error %d)\n", argv[1], err);
    return 1;
  }
  Movie movie = nullptr;
  short resId = 0;
  err = NewMovieFromFile(&movie, ref, &resId, nullptr, 0, nullptr);
  if (err) {
    CloseMovieFile(ref);
    std::fprintf(stderr, "movie-flatten: %s: not a readable movie (error %d)\n", argv[1], err);
    return 1;
  }
  Movie flat = FlattenMovieData(
      movie, flattenAddMovieToDataFork | flattenForceMovieResourceBeforeMovieData, &out, 'TVOD',
      smSystemScript, (long)(createMovieFileDeleteCurFile | createMovieFileDontCreateResFile));
  err = GetMoviesError();
  DisposeMovie(movie);
  CloseMovieFile(ref);
  if ((!flat || err) && !vt::movie::missingDataFile().empty() &&
      (err == couldNotResolveDataRef || err == endOfDataReached || err == ioErr)) {
    std::fprintf(stderr,
                 "movie-flatten: %s: not written: media in %s is missing or cut short "
                 "(error %d)\n",
                 argv[2], vt::movie::missingDataFile().c_str(), err);
    return 1;
  }
  if (!flat || err) {
    std::fprintf(stderr, "movie-flatten: %s: cannot write (error %d)\n", argv[2], err);
    return 1;
  }
  DisposeMovie(flat);
  return 0;
}

int main(int argc, char** argv) {
  return guardedToolMain("movie-flatten", [&] { return run(argc, argv); });
}

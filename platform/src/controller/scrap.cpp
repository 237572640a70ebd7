// The movie scrap: one movie held in memory, copied in and copied out, so that neither the
// movie that was cut nor the one pasted into shares anything with it.
#include <MacErrors.h>
#include <MovieControllers.h>

#include "controller/controller.h"
#include "core/boundary.h"
#include "core/reset.h"
#include "model/model.h"

namespace {

Movie& scrapMovie() {
  static Movie m = nullptr;
  return m;
}

const vt::ResetRegistration kReset(vt::ResetStage::Controllers, [] {
  if (vt::movie::isLiveMovie(scrapMovie())) DisposeMovie(scrapMovie());
  scrapMovie() = nullptr;
});

// The movie held, or nullptr (forgetting it) once it is no longer live.
Movie heldMovie() {
  if (scrapMovie() && !vt::movie::isLiveMovie(scrapMovie())) scrapMovie() = nullptr;
  return scrapMovie();
}

// A new movie holding the whole of src: same time scale and settings, every track's segment.
Movie wholeCopy(Movie src, OSErr& err) {
  Movie copy = NewMovie(0);
  if (!copy) {
    err = GetMoviesError() ? GetMoviesError() : (OSErr)memFullErr;
    return nullptr;
  }
  SetMovieTimeScale(copy, GetMovieTimeScale(src));
  err = CopyMovieSettings(src, copy);
  TimeValue dur = GetMovieDuration(src);
  if (err == noErr && dur > 0) err = InsertMovieSegment(src, copy, 0, dur, 0);
  if (err != noErr) {
    DisposeMovie(copy);
    return nullptr;
  }
  SetMovieSelection(copy, 0, GetMovieDuration(copy));
  return copy;
}

}  // namespace

OSErr PutMovieOnScrap(Movie theMovie, long) {
  return vt::apiStatus([&]() -> OSErr {
    if (!vt::movie::isLiveMovie(theMovie)) return invalidMovie;
    OSErr err = noErr;
    Movie copy = wholeCopy(theMovie, err);
    if (!copy) return err;  // the scrap keeps what it held
    VTMovieScrapClear();
    scrapMovie() = copy;
    return noErr;
  });
}

Movie NewMovieFromScrap(long) {
  return vt::apiCall(vt::noErrorState, Movie{nullptr}, [&]() -> Movie {
    if (!heldMovie()) {
      vt::movie::setError(noMovieFound);
      return nullptr;
    }
    OSErr err = noErr;
    Movie copy = wholeCopy(scrapMovie(), err);
    vt::movie::setError(err);
    return copy;
  });
}

Boolean VTMovieScrapHasMovie() {
  return vt::apiCall(vt::noErrorState, Boolean{false},
                     [] { return Boolean{heldMovie() != nullptr}; });
}

void VTMovieScrapClear() {
  vt::apiCall(vt::noErrorState, [] {
    if (heldMovie()) DisposeMovie(scrapMovie());
    scrapMovie() = nullptr;
  });
}

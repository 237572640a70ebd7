// Movie-layer internals not needed by other areas.
#pragma once
#include "movie/model.h"

namespace vt::movie {

void forgetMovieObject(const VTMovie* m);
ForeignFileOpener foreignFileOpener();
OSErr lastError();
OSErr stickyError();
void clearStickyError();

// A deep copy of a movie (tracks, media tables, user data); sources are shared.
VTMovie* cloneMovie(const VTMovie& m);
// Frees a movie made by newMovieObject/cloneMovie and forgets it.
void destroyMovie(VTMovie* m);

}  // namespace vt::movie

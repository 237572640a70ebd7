// Movie model internals for the areas that build and change movies (the file format, the
// movie toolbox); decoders need only model.h.
#pragma once
#include "model/model.h"

namespace vt::movie {

// The path made absolute against the working directory.
std::string absolutePath(const std::string& path);
void forgetMovieObject(const VTMovie* m);
ForeignFileOpener foreignFileOpener();
OSErr lastError();
OSErr stickyError();
void clearStickyError();

// A deep copy of a movie (tracks, media tables, user data); sources are shared.
VTMovie* cloneMovie(const VTMovie& m);
// Makes `to` a copy of `from` (its own copy of the media included), keeping its movie.
void copyTrackState(VTTrack& to, const VTTrack& from);
// Frees a movie made by newMovieObject/cloneMovie and forgets it.
void destroyMovie(VTMovie* m);

// Edit lists. Inserts edits at movie time `at` (past the end, an empty edit fills the gap);
// an edit split in two goes on, in its second part, with the media time shown where it was
// split. Removes [from, from + length) of the timeline. Empty edits at the end stay: they keep
// the duration a cut or a paste gave the track.
void insertEdits(VTTrack& t, int64_t at, const std::vector<Edit>& add);
void deleteEdits(VTTrack& t, int64_t from, int64_t length);

}  // namespace vt::movie

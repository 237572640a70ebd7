// Movie model internals for the areas that build and change movies (the file format, the
// movie toolbox); decoders need only model.h.
#pragma once
#include <MacErrors.h>

#include <new>
#include <stdexcept>

#include "model/model.h"

namespace vt::movie {

// A source reading through `fd` (taken over) for a file this process writes under `name`
// before the file system knows it by that name.
std::shared_ptr<DataSource> adoptFileSource(const std::string& name, int fd);
// The file known as `from` is now `to`: its source, movies' file paths and data references
// follow. An empty `to` is a file without a name: its data is copied like data in memory
// when a movie using it is written.
void fileRenamed(const std::string& from, const std::string& to);
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

// Runs the work of a public call: running out of memory there fails that call with
// memFullErr instead of ending the process.
template <class F>
OSErr guardMemory(F&& work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::length_error&) {
    return memFullErr;
  }
}

}  // namespace vt::movie

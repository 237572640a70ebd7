// Reading movie files: the atom tree into the movie model.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/model.h"

namespace vt::qtff {

// True when the file's content starts like a movie file: one of 'ftyp', 'moov', 'mdat', 'wide',
// 'free', 'skip', 'pnot' (or 'uuid') as the first atom, with a plausible size.
bool isMovieFile(const std::string& path);
bool isMovieFile(const vt::files::HostFile& file);

// Where the top-level movie atom of a file is.
struct MovieAtomLocation {
  uint64_t offset = 0;
  uint64_t size = 0;
};

// Reads the first movie atom of the file into a new movie. Errors: fnfErr/ioErr when the file
// cannot be read, invalidMovie when there is no movie atom, badFileFormat when the atoms are
// broken. Data references are resolved relative to the file's folder first.
OSErr readMovieFile(const std::string& path, VTMovie** movie, MovieAtomLocation* where);
// The same from a file already open as `path`: the movie and its own data are read through it.
OSErr readMovieFile(const std::shared_ptr<vt::files::HostFile>& file, const std::string& path,
                    VTMovie** movie, MovieAtomLocation* where);

// Parses a complete 'moov' atom (header included) into `movie`; `moviePath` is the file the
// movie lives in (for self references and relative paths), may be "".
OSErr parseMovieAtom(const uint8_t* data, size_t size, VTMovie& movie,
                     const std::string& moviePath);

}  // namespace vt::qtff

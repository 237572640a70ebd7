// Opening movie files in tests, as the application does.
#pragma once
#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>

#include <string>

namespace vt_test {

// The movie in `path`; null (and the error in *err) when it cannot be opened. With `keepRef` the
// movie file stays open and its reference number goes there.
inline Movie openMovie(const std::string& path, OSErr* err = nullptr, short* keepRef = nullptr) {
  FSSpec spec;
  OSErr e = VTMakeFSSpecFromPath(path.c_str(), &spec);
  short ref = 0;
  Movie m = nullptr;
  if (e == noErr) e = OpenMovieFile(&spec, &ref, fsRdPerm);
  if (e == noErr) {
    e = NewMovieFromFile(&m, ref, nullptr, nullptr, newMovieActive, nullptr);
    if (keepRef)
      *keepRef = ref;
    else
      CloseMovieFile(ref);
  }
  if (err) *err = e;
  return m;
}

}  // namespace vt_test

// Opening a movie file for the command-line tools, with a message fit for the user on failure.
#pragma once
#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>

#include <string>

inline Movie openToolMovie(const std::string& file, std::string& error) {
  FSSpec spec;
  OSErr err = VTMakeFSSpecFromPath(file.c_str(), &spec);
  short ref = 0;
  if (err == noErr) err = OpenMovieFile(&spec, &ref, fsRdPerm);
  if (err != noErr) {
    error = "cannot open " + file + " (error " + std::to_string(err) + ")";
    return nullptr;
  }
  Movie movie = nullptr;
  err = NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr);
  CloseMovieFile(ref);
  if (err != noErr || !movie) {
    error = file + " is not a movie or image we can read (error " + std::to_string(err) + ")";
    return nullptr;
  }
  return movie;
}

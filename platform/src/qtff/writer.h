// Writing movie files: the movie model into a 'moov' atom.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"

namespace vt::qtff {

// The complete movie atom. Data references to `moviePath` are written as self references;
// others as alias records of their files. Media data must already live in files.
std::vector<uint8_t> buildMovieAtom(const VTMovie& movie, const std::string& moviePath);
// 'ftyp' with the QuickTime brand.
std::vector<uint8_t> fileTypeAtom();

}  // namespace vt::qtff

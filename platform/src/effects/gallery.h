// The gallery: transitions drawn by a per-pixel function of the position and the progress, in
// the manner of GPU shader transitions (catalogue codes 'g...').
#pragma once
#include <MacTypes.h>

#include <vector>

namespace vt::effects {

struct Frame;

struct GalleryTransition {
  OSType code;
  const char* name;
};

// Every gallery transition, in the order the effects list shows them.
const std::vector<GalleryTransition>& galleryTransitions();

// The colour parameter of "Dip to Color".
constexpr OSType kDipColorParam = 'dclr';

// Renders gallery transition `code` at percentage p (0..1, exclusive); false for a code that
// is not one of them.
bool renderGallery(OSType code, const Frame& f, double p);

}  // namespace vt::effects

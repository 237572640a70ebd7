// Transitions after ffmpeg's xfade filter (catalogue codes 'x...').
#pragma once
#include <MacTypes.h>

namespace vt::effects {

struct Frame;

// Renders the xfade-style transition `code` at percentage p (0..1, exclusive); false for a
// code that is not one of them.
bool renderXfade(OSType code, const Frame& f, double p);

}  // namespace vt::effects

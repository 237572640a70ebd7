// Drawing a picture into a graphics port for areas below the window server (the graphics
// importers decode pictures; the ui owns the ports). The window server installs its drawer when
// it starts, so those areas need no link to it.
#pragma once
#include <MacTypes.h>
#include <Quickdraw.h>

#include "core/image.h"

namespace vt {

// Draws `image` scaled into `dst` of `port` (the current port when null) and marks that area
// changed; paramErr when the port is not a live one.
using PortImageDrawer = OSErr (*)(CGrafPtr port, const Image& image, const Rect& dst);

void setPortImageDrawer(PortImageDrawer drawer);

// Draws through the installed drawer; paramErr when none is (no port exists before the window
// server starts).
OSErr drawImageIntoPort(CGrafPtr port, const Image& image, const Rect& dst);

}  // namespace vt

// The application's icon (the shapes of data/vantrel.svg), drawn by code: the build writes it as
// the installed PNG, the screen window shows it to the window manager, the about box draws it.
#pragma once
#include "core/image.h"

namespace vt {

// The icon at `size` x `size` pixels (at least 1), straight (not premultiplied) alpha.
Image appIcon(int size);

}  // namespace vt

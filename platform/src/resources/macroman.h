// The resource manager's names for the shared text conversions.
#pragma once
#include "core/macroman.h"

namespace vt::resources {
using vt::isValidUtf8;
using vt::macRomanToUtf8;
using vt::toolboxToUtf8;
using vt::utf8ToMacRoman;
using vt::utf8ToToolbox;
}  // namespace vt::resources

// The resource manager's names for the shared Mac Roman conversions.
#pragma once
#include "core/macroman.h"

namespace vt::resources {
using vt::isValidUtf8;
using vt::macRomanToUtf8;
using vt::utf8ToMacRoman;
}  // namespace vt::resources

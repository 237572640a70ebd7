// The codec area uses the platform's one result type.
#pragma once
#include "core/result.h"

namespace vt::codec {
using vt::Result;
}  // namespace vt::codec

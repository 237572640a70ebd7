// Writing a planned self-contained movie file: its atoms and the sample data copied from the
// sources, through one large buffer.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <functional>

#include "qtff/flat_layout.h"

namespace vt::qtff {

// Called after each run of data with the bytes copied so far; a non-zero code stops the writing
// and is answered.
using CopyProgress = std::function<OSErr(uint64_t copied)>;

// Writes `layout` into `fd` from offset 0. A read that fails notes the missing file and answers
// couldNotResolveDataRef; a write that fails answers its error (dskFulErr for a full disk).
OSErr writeFlatFile(int fd, const FlatLayout& layout, const CopyProgress& progress);

}  // namespace vt::qtff

// Reading a descriptor to the end of a buffer, through interrupted and short reads.
#pragma once
#include <cstddef>

namespace vt {

// Reads into `buf` until `size` bytes, end of file or an error; returns the bytes read.
size_t readAll(int fd, void* buf, size_t size) noexcept;

}  // namespace vt

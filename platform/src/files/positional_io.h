// Whole reads and writes at a file offset: the one loop every area uses for pread/pwrite, so a
// short transfer or an interrupted call is handled the same way everywhere.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vt::files {

// Reads up to `size` bytes at `offset`, retrying interrupted calls; the count read, or -1 on
// an error (errno set).
int64_t readSomeAt(int fd, uint64_t offset, size_t size, void* dst);
// Reads exactly `size` bytes at `offset`; false on an error or at the end of the file.
bool readAt(int fd, uint64_t offset, size_t size, void* dst);
// Writes all `size` bytes at `offset`; false on an error, with errno saying which (ENOSPC for a
// full disk). A partial write may be left behind: the caller truncates when it matters.
bool writeAt(int fd, uint64_t offset, const void* data, size_t size);

}  // namespace vt::files

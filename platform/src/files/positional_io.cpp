#include "files/positional_io.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace vt::files {

int64_t readSomeAt(int fd, uint64_t offset, size_t size, void* dst) {
  for (;;) {
    ssize_t n = ::pread(fd, dst, size, (off_t)offset);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool readAt(int fd, uint64_t offset, size_t size, void* dst) {
  size_t done = 0;
  while (done < size) {
    int64_t n = readSomeAt(fd, offset + done, size - done, (uint8_t*)dst + done);
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

bool writeAt(int fd, uint64_t offset, const void* data, size_t size) {
  const uint8_t* p = (const uint8_t*)data;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, p + done, size - done, (off_t)(offset + done));
    if (n < 0 && errno == EINTR) continue;
    // A write that makes no progress would repeat forever: treat it as a full disk.
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

}  // namespace vt::files

#include "core/read_all.h"

#include <unistd.h>

#include <cerrno>

namespace vt {

size_t readAll(int fd, void* buf, size_t size) noexcept {
  auto* out = static_cast<char*>(buf);
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::read(fd, out + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += (size_t)n;
  }
  return got;
}

}  // namespace vt

#include "core/fourcc.h"

#include <cstdio>

namespace vt {

std::string fourccString(OSType code) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    unsigned char c = (unsigned char)(code >> shift);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      s += (char)c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      s += buf;
    }
  }
  return s;
}

}  // namespace vt

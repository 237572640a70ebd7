// Length-prefixed strings to and from std::string.
#pragma once
#include <MacTypes.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace vt {

// The bytes of a length-prefixed string; empty for null.
inline std::string fromPascal(ConstStr255Param s) {
  return s ? std::string((const char*)s + 1, s[0]) : std::string();
}

// Writes `text` into `out` as a length-prefixed string, cut to `maxLength` bytes (at most 255,
// what a Str255 holds).
inline void toPascal(std::string_view text, unsigned char* out, size_t maxLength = 255) {
  size_t n = std::min({text.size(), maxLength, (size_t)255});
  out[0] = (unsigned char)n;
  if (n) std::memcpy(out + 1, text.data(), n);
}

}  // namespace vt

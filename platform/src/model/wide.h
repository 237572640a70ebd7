// 128-bit arithmetic for time conversions: products of times and time scales overflow 64 bits.
#pragma once
#include <climits>
#include <cstdint>

namespace vt::movie {

using Wide = __int128;

inline int64_t clamp64(Wide v) {
  if (v > (Wide)INT64_MAX) return INT64_MAX;
  if (v < (Wide)INT64_MIN) return INT64_MIN;
  return (int64_t)v;
}

inline Wide floorDiv(Wide a, Wide b) {
  Wide q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

inline Wide ceilDiv(Wide a, Wide b) { return -floorDiv(-a, b); }

}  // namespace vt::movie

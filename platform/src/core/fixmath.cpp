#include <FixMath.h>

#include <cmath>
#include <cstdint>

#include "core/boundary.h"

Fixed FixRatio(short numer, short denom) {
  return vt::apiCall<Fixed>(vt::noErrorState, {}, [&]() -> Fixed {
    if (denom == 0) return numer >= 0 ? 0x7FFFFFFF : (Fixed)0x80000000;
    return (Fixed)(((int64_t)numer << 16) / denom);
  });
}

static Fixed clampFixed(int64_t v) {
  if (v > 0x7FFFFFFF) return 0x7FFFFFFF;
  if (v < -(int64_t)0x80000000) return (Fixed)0x80000000;
  return (Fixed)v;
}

Fixed FixMul(Fixed a, Fixed b) {
  return vt::apiCall<Fixed>(vt::noErrorState, {},
                            [&]() -> Fixed { return clampFixed(((int64_t)a * b) >> 16); });
}

Fixed FixDiv(Fixed a, Fixed b) {
  return vt::apiCall<Fixed>(vt::noErrorState, {}, [&]() -> Fixed {
    if (b == 0) return a >= 0 ? 0x7FFFFFFF : (Fixed)0x80000000;
    return clampFixed(((int64_t)a * 65536) / b);
  });
}

short FixRound(Fixed x) { return (short)((x + 0x8000) >> 16); }
Fixed Long2Fix(long x) {
  return vt::apiCall<Fixed>(vt::noErrorState, {},
                            [&]() -> Fixed { return clampFixed((int64_t)x * 65536); });
}
long Fix2Long(Fixed x) {
  return vt::apiCall<long>(vt::noErrorState, {}, [&]() -> long { return FixRound(x); });
}
double Fix2X(Fixed x) { return x / 65536.0; }
Fixed X2Fix(double x) {
  return vt::apiCall<Fixed>(vt::noErrorState, {}, [&]() -> Fixed {
    return clampFixed((int64_t)std::llround(x * 65536.0));
  });
}

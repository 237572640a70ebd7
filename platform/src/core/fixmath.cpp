#include <FixMath.h>

#include <cmath>
#include <cstdint>

#include "core/guard.h"

Fixed FixRatio(short numer, short denom) try {
  if (denom == 0) return numer >= 0 ? 0x7FFFFFFF : (Fixed)0x80000000;
  return (Fixed)(((int64_t)numer << 16) / denom);
} catch (...) {
  vtErrorFromException();
  return {};
}

static Fixed clampFixed(int64_t v) {
  if (v > 0x7FFFFFFF) return 0x7FFFFFFF;
  if (v < -(int64_t)0x80000000) return (Fixed)0x80000000;
  return (Fixed)v;
}

Fixed FixMul(Fixed a, Fixed b) try { return clampFixed(((int64_t)a * b) >> 16); } catch (...) {
  vtErrorFromException();
  return {};
}

Fixed FixDiv(Fixed a, Fixed b) try {
  if (b == 0) return a >= 0 ? 0x7FFFFFFF : (Fixed)0x80000000;
  return clampFixed(((int64_t)a * 65536) / b);
} catch (...) {
  vtErrorFromException();
  return {};
}

short FixRound(Fixed x) { return (short)((x + 0x8000) >> 16); }
Fixed Long2Fix(long x) try { return clampFixed((int64_t)x * 65536); } catch (...) {
  vtErrorFromException();
  return {};
}
long Fix2Long(Fixed x) try { return FixRound(x); } catch (...) {
  vtErrorFromException();
  return {};
}
double Fix2X(Fixed x) { return x / 65536.0; }
Fixed X2Fix(double x) try { return clampFixed((int64_t)std::llround(x * 65536.0)); } catch (...) {
  vtErrorFromException();
  return {};
}

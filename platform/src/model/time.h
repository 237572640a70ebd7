// Conversions of time values between time scales.
#pragma once
#include <cstdint>

namespace vt::movie {

// Time values count units of a time scale. One rule converts them, everywhere:
//  - an instant goes to the unit of the other scale that holds it (rounded down);
//  - a boundary (where a frame, an edit or a selection starts) goes to the first unit at or
//    after it (rounded up), so that unit converted back as an instant lies at or after the
//    boundary, and the unit before it lies before;
//  - a quantity meant as the closest value in the other scale (a position in sound frames)
//    goes to the nearest unit, halves away from zero.
// Products are formed in 128 bits; results are clamped to 64 bits. A scale that is not
// positive leaves the value as it is.
int64_t scaleDown(int64_t value, int64_t toScale, int64_t fromScale);
int64_t scaleUp(int64_t value, int64_t toScale, int64_t fromScale);
int64_t scaleNearest(int64_t value, int64_t toScale, int64_t fromScale);

}  // namespace vt::movie

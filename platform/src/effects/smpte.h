// SMPTE wipe patterns (wipes, irises, radial and matrix wipes): their IDs and names, and the
// per-pixel field that orders when each pixel switches from source A to source B.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vt::effects {

enum class PatternFamily { Wipe, Iris, Radial, Matrix };

struct PatternInfo {
  int id;
  std::string name;
  PatternFamily family;
};

// The 133 patterns, wipes first, each family in ID order.
const std::vector<PatternInfo>& smptePatterns();
const PatternInfo* findPattern(int id);

// Random entries: 409 any pattern; 501..504 a pattern of the wipe, iris, radial or matrix family.
constexpr int kRandomAnyPattern = 409;
bool isRandomPattern(int id);
// A concrete pattern ID for `id`: itself when it is a pattern, a pick driven by `seed` for a
// random entry, 0 when unknown.
int resolvePattern(int id, uint64_t seed);

// Normalised field of a pattern: f in [0, 1) per pixel, a pixel shows B once the wipe's
// position passes f. invGrad is the size of one unit of f in pixels, per pixel (from the
// field's smooth side, so seams between tiles or cells do not smear), gradMax a robust upper
// bound of |grad f| that tells how far the front must travel to clear borders.
struct PatternField {
  int width = 0, height = 0;
  std::vector<float> f;
  std::vector<uint16_t> f16;  // f in 1/65536 steps, for the hard-edged, borderless case
  std::vector<float> invGrad;
  float gradMax = 0;
};

// The field for a pattern at a size with repeats; cached, so steady-state playback reuses it.
std::shared_ptr<const PatternField> patternField(int id, int width, int height, int hori, int vert);

}  // namespace vt::effects

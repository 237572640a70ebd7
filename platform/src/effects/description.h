// Effect descriptions (an effect track's sample): reading them and evaluating each parameter,
// plain or tweened, at a time within the sample.
#pragma once
#include <MacTypes.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "atoms/atom_tree.h"
#include "core/result.h"
#include "effects/catalogue.h"
#include "effects/easing.h"

namespace vt::effects {

// Plugins may have more; the ones past this keep their defaults.
constexpr int kMaxParams = 32;

// An Image parameter's pixels: big-endian width and height (32-bit each) followed by width x
// height big-endian 0xAARRGGBB words. This is the encoding our descriptions use for mattes
// and masks.
struct ImageRef {
  const uint8_t* pixels = nullptr;  // null when absent
  int width = 0, height = 0;
  uint32_t at(int x, int y) const;
};

struct ParamValue {
  std::array<double, 3> v{};  // number, or R, G, B (0..65535)
  ImageRef image;
  std::string_view text;  // Text parameters: into the description's bytes or the catalogue
};

// One frame's parameter values, in the effect's catalogue order.
struct ParamSet {
  const EffectInfo* info = nullptr;
  std::array<ParamValue, kMaxParams> values{};
  const ParamValue& get(OSType code) const;
  double num(OSType code) const { return get(code).v[0]; }
};

struct ParsedParam {
  bool present = false;
  bool tweened = false;
  std::array<double, 3> start{}, end{};
  int64_t offset = 0;
  int64_t duration = -1;  // -1: the sample's duration
  ImageRef image;
  std::string_view text;
};

struct Description {
  OSType effect = 0;
  const EffectInfo* info = nullptr;
  int sourceCount = 0;
  std::array<OSType, 4> sources{};
  std::array<ParsedParam, kMaxParams> params{};
  Easing easing;      // applies to every tween of the description
  uint64_t seed = 0;  // from the description's bytes, for effects with randomness
};

// Atoms of a plugin effect's description: 'what' is kPluginEffectType, kPluginNameAtom holds
// the plugin's name (UTF-8) and each parameter is a kPluginParamAtom (IDs 1, 2, ...) holding
// its name (kPluginParamName, UTF-8) and either a plain value (kPluginParamValue) or a tween
// ('twen'), so a description survives plugins that reorder or add parameters.
constexpr OSType kPluginNameAtom = 'plug';
constexpr OSType kPluginParamAtom = 'fpar';
constexpr OSType kPluginParamName = 'name';
constexpr OSType kPluginParamValue = 'valu';

// Reads a description. Fails, with a reason, with invalidAtomContainerErr for a bad atom
// layout, invalidAtomErr for a missing or wrong-sized 'what' atom or a parameter whose data
// does not match its type, and noCodecErr for an effect outside the catalogue or a plugin not
// installed. `view` is scratch storage that callers may keep between frames; image parameters
// point into `bytes`, which must outlive their use.
vt::Status parseDescription(const uint8_t* bytes, size_t size, vt::atoms::View& view,
                            Description& out);

// Parameter values at media time `time` of a sample lasting `duration`: tweens are linear
// from their start offset over their duration; missing parameters take their defaults;
// numbers are clamped to their ranges and unknown enum values fall back to the default.
void evaluateParams(const Description& d, int64_t time, int64_t duration, ParamSet& out);

// Default parameter values of an effect (tweened defaults at their start).
void defaultParams(const EffectInfo& info, double fraction, ParamSet& out);

// Builds the bytes of a description (for tools and tests): plain values, or tweens from a
// start to an end value.
struct DescriptionParam {
  OSType code = 0;
  std::array<double, 3> start{};
  bool tweened = false;
  std::array<double, 3> end{};
  std::vector<uint8_t> raw{};  // used instead of start/end when not empty (e.g. Image data)
};
std::vector<uint8_t> buildDescription(OSType effect, int sources,
                                      const std::vector<DescriptionParam>& params);
// The same for any catalogue effect, plugins included; the easing controls among `params`
// become the one easing atom (none for linear).
std::vector<uint8_t> buildDescription(const EffectInfo& info, bool withSources,
                                      const std::vector<DescriptionParam>& params);

uint64_t hashBytes(const uint8_t* p, size_t n, uint64_t seed = 1469598103934665603ULL);

}  // namespace vt::effects

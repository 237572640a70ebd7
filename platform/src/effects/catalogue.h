// The effects catalogue: every built-in effect with its parameter descriptions, in the order
// the effects list and the parameter dialog present them.
#pragma once
#include <MacTypes.h>

#include <array>
#include <string>
#include <vector>

namespace vt::effects {

enum class ParamType { Fixed, Long, Enum, Bool, RGB, Double, Image };
enum class TweenFlag { Never, Always, Optional };

struct EnumItem {
  long value;
  std::string name;
};

// One parameter as the dialog builds its control. Values are held as doubles in the
// parameter's own unit (Fixed as its real value, RGB as three 0..65535 components).
struct ParamDesc {
  OSType code;
  std::string name;
  ParamType type;
  TweenFlag tween;
  double minValue;
  double maxValue;
  std::array<double, 3> defaultValue;
  bool defaultTweened = false;  // the default is a tween from defaultValue to defaultEnd
  std::array<double, 3> defaultEnd{};
  std::string usage;                 // "percent", "pixels", "degrees", "" ...
  std::vector<EnumItem> enumValues;  // Enum parameters only
};

struct EffectInfo {
  OSType code;
  std::string name;
  int sources;  // 0 generator, 1 filter, 2 transition
  std::vector<ParamDesc> params;

  const ParamDesc* param(OSType c) const {
    for (const auto& p : params)
      if (p.code == c) return &p;
    return nullptr;
  }
};

// All effects in catalogue order.
const std::vector<EffectInfo>& catalogue();
// The effect with this code, or null.
const EffectInfo* findEffect(OSType code);

// Big-endian bytes of a plain (untweened) value of the parameter's type. Image values have no
// plain encoding here and give an empty vector.
std::vector<uint8_t> encodeValue(const ParamDesc& p, const std::array<double, 3>& v);
// The tween type code that tweens of this parameter use (Fixed 3, Long 2, RGB 8), or 0 when
// the parameter cannot be tweened.
long tweenTypeFor(const ParamDesc& p);

}  // namespace vt::effects

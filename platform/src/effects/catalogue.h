// The effects catalogue: every built-in effect with its parameter descriptions, in the order
// the effects list and the parameter dialog present them.
#pragma once
#include <MacTypes.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vt::effects {

enum class ParamType { Fixed, Long, Enum, Bool, RGB, Double, Image, Text };
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
  std::string defaultText{};         // Text parameters only (UTF-8)
  // Plugin effects: the plugin's parameter this control sets, and for a position which
  // coordinate (0 x, 1 y).
  int pluginParam = -1;
  int component = 0;
};

struct EffectInfo {
  OSType code;
  std::string name;
  int sources;  // 0 generator, 1 filter, 2 transition
  std::vector<ParamDesc> params;
  // A frei0r plugin effect: its name (how descriptions refer to it) and its place in the
  // host's table. Built-in effects leave both empty.
  std::string plugin{};
  int pluginId = -1;

  bool isPlugin() const { return pluginId >= 0; }

  const ParamDesc* param(OSType c) const {
    for (const auto& p : params)
      if (p.code == c) return &p;
    return nullptr;
  }
};

// Every plugin effect shares this type code; the description names the plugin.
constexpr OSType kPluginEffectType = 'fr0r';

// All effects in catalogue order: the built-in ones, then the frei0r plugins found on the
// system (loaded on first use).
const std::vector<EffectInfo>& catalogue();
// The built-in effect with this code, or null (plugin effects share one code: see below).
const EffectInfo* findEffect(OSType code);
// The effect with this code and, for plugin effects, this plugin name; null when absent.
const EffectInfo* findEffect(OSType code, std::string_view name);
// The plugin effect with this plugin name, or null when it is not installed.
const EffectInfo* findPlugin(std::string_view name);

// Big-endian bytes of a plain (untweened) value of the parameter's type. Image values have no
// plain encoding here and give an empty vector.
std::vector<uint8_t> encodeValue(const ParamDesc& p, const std::array<double, 3>& v);
// The tween type code that tweens of this parameter use (Fixed 3, Long 2, RGB 8), or 0 when
// the parameter cannot be tweened.
long tweenTypeFor(const ParamDesc& p);

}  // namespace vt::effects

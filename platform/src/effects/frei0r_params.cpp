// A plugin's parameters: as catalogue entries with their defaults, and given to an instance.
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "effects/description.h"
#include "effects/frei0r_host.h"

namespace vt::effects::frei0r {
namespace {

OSType paramCode(size_t index) {
  // 'p001', 'p002', ...: codes the dialog and automation use for a plugin's controls.
  char d[4];
  std::snprintf(d, sizeof d, "%03zu", (index + 1) % 1000);
  return ((OSType)'p' << 24) | ((OSType)(uint8_t)d[0] << 16) | ((OSType)(uint8_t)d[1] << 8) |
         (OSType)(uint8_t)d[2];
}

ParamDesc number(const std::string& name, double def) {
  ParamDesc d;
  d.name = name;
  d.type = ParamType::Fixed;
  d.tween = TweenFlag::Optional;
  // frei0r numbers run from 0 to 1; a plugin whose default lies outside keeps it reachable.
  d.minValue = std::min(0.0, def);
  d.maxValue = std::max(1.0, def);
  d.defaultValue = {def, 0, 0};
  return d;
}

double finiteOr(double v, double fallback) { return std::isfinite(v) ? v : fallback; }

}  // namespace

EffectInfo describe(Plugin& p, const f0r_plugin_info_t& info, int id) {
  EffectInfo e{kPluginEffectType,
               cleanText(info.name),
               p.type == F0R_PLUGIN_TYPE_SOURCE   ? 0
               : p.type == F0R_PLUGIN_TYPE_MIXER2 ? 2
                                                  : 1,
               {}};
  e.plugin = e.name;
  e.pluginId = id;
  f0r_instance_t inst = p.api.construct(kProbeWidth, kProbeHeight);
  std::set<std::string> names;
  auto unique = [&](std::string n) {
    std::string base = n;
    for (int k = 2; !names.insert(n).second; ++k) n = base + " (" + std::to_string(k) + ")";
    return n;
  };
  for (int i = 0; i < (int)p.params.size(); ++i) {
    const auto& pi = p.params[(size_t)i];
    const std::string& name = pi.name;
    std::vector<ParamDesc> made;
    switch (pi.type) {
      case F0R_PARAM_BOOL: {
        double v = 0;
        if (inst) p.api.getParam(inst, &v, i);
        ParamDesc d = number(unique(name), finiteOr(v, 0) >= 0.5 ? 1 : 0);
        d.type = ParamType::Bool;
        d.tween = TweenFlag::Never;
        d.minValue = 0;
        d.maxValue = 1;
        made.push_back(d);
        break;
      }
      case F0R_PARAM_DOUBLE: {
        double v = 0;
        if (inst) p.api.getParam(inst, &v, i);
        made.push_back(number(unique(name), std::clamp(finiteOr(v, 0), -1e6, 1e6)));
        // A mixer's fader (xfade0r's) runs from A to B over the effect, as a percentage does.
        if (p.type == F0R_PLUGIN_TYPE_MIXER2 && strcasecmp(name.c_str(), "fader") == 0) {
          made.back().defaultValue = {0, 0, 0};
          made.back().defaultTweened = true;
          made.back().defaultEnd = {1, 0, 0};
        }
        break;
      }
      case F0R_PARAM_COLOR: {
        f0r_param_color_t c{0, 0, 0};
        if (inst) p.api.getParam(inst, &c, i);
        ParamDesc d = number(unique(name), 0);
        d.type = ParamType::RGB;
        d.minValue = 0;
        d.maxValue = 65535;
        d.usage = "color";
        auto comp = [](float f) {
          return std::round(std::clamp(finiteOr(f, 0), 0.0, 1.0) * 65535);
        };
        d.defaultValue = {comp(c.r), comp(c.g), comp(c.b)};
        made.push_back(d);
        break;
      }
      case F0R_PARAM_POSITION: {
        f0r_param_position_t pos{0, 0};
        if (inst) p.api.getParam(inst, &pos, i);
        ParamDesc x = number(unique(name + " X"), std::clamp(finiteOr(pos.x, 0), -1e6, 1e6));
        ParamDesc y = number(unique(name + " Y"), std::clamp(finiteOr(pos.y, 0), -1e6, 1e6));
        y.component = 1;
        made.push_back(x);
        made.push_back(y);
        break;
      }
      default: {
        char* text = nullptr;
        if (inst) p.api.getParam(inst, &text, i);
        ParamDesc d = number(unique(name), 0);
        d.type = ParamType::Text;
        d.tween = TweenFlag::Never;
        d.minValue = d.maxValue = 0;
        d.defaultText = cleanText(text);
        made.push_back(d);
        break;
      }
    }
    for (auto& d : made) {
      d.pluginParam = i;
      d.code = paramCode(e.params.size());
      e.params.push_back(d);
    }
  }
  if (inst) p.api.destruct(inst);
  return e;
}

void setParams(Plugin& p, f0r_instance_t inst, const EffectInfo& info, const ParamSet& params) {
  std::map<int, f0r_param_position_t> positions;
  for (size_t k = 0; k < info.params.size() && k < (size_t)kMaxParams; ++k) {
    const ParamDesc& d = info.params[k];
    const auto& v = params.values[k].v;
    switch (d.type) {
      case ParamType::Bool: {
        double b = v[0] >= 0.5 ? 1.0 : 0.0;
        p.api.setParam(inst, &b, d.pluginParam);
        break;
      }
      case ParamType::RGB: {
        f0r_param_color_t c{(float)(v[0] / 65535.0), (float)(v[1] / 65535.0),
                            (float)(v[2] / 65535.0)};
        p.api.setParam(inst, &c, d.pluginParam);
        break;
      }
      case ParamType::Text: {
        // Held by the plugin's record, so the pointer stays good whatever the plugin keeps.
        std::string& held = p.texts[d.pluginParam];
        held.assign(params.values[k].text);
        char* text = held.data();
        p.api.setParam(inst, &text, d.pluginParam);
        break;
      }
      default:
        if (p.params[(size_t)d.pluginParam].type == F0R_PARAM_POSITION) {
          (d.component ? positions[d.pluginParam].y : positions[d.pluginParam].x) = v[0];
        } else {
          double x = v[0];
          p.api.setParam(inst, &x, d.pluginParam);
        }
        break;
    }
  }
  for (auto& [index, pos] : positions) p.api.setParam(inst, &pos, index);
}

}  // namespace vt::effects::frei0r

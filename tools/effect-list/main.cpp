// effect-list: prints the effects catalogue (names, codes, sources, parameters with their
// defaults, ranges and enum values) as text, or as JSON with --json.
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "core/fourcc.h"
#include "effects/catalogue.h"
#include "common/tool_main.h"
#include "effects/smpte.h"

using namespace vt::effects;

namespace {

// The four characters of a code, as effect-render takes them.
std::string codeText(OSType c) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    unsigned char ch = (unsigned char)(c >> shift);
    s += (ch >= 32 && ch < 127) ? (char)ch : '?';
  }
  return s;
}

const char* typeName(ParamType t) {
  switch (t) {
    case ParamType::Fixed: return "fixed";
    case ParamType::Long: return "long";
    case ParamType::Enum: return "enum";
    case ParamType::Bool: return "bool";
    case ParamType::RGB: return "rgb";
    case ParamType::Double: return "double";
    case ParamType::Image: return "image";
    case ParamType::Text: return "text";
  }
  return "?";
}
const char* tweenName(TweenFlag t) {
  return t == TweenFlag::Always ? "always" : t == TweenFlag::Optional ? "optional" : "never";
}
const char* kindName(int sources) {
  return sources == 0 ? "generator" : sources == 1 ? "filter" : "transition";
}

std::string valueText(const ParamDesc& p, const std::array<double, 3>& v) {
  char buf[96];
  if (p.type == ParamType::RGB)
    std::snprintf(buf, sizeof buf, "%d,%d,%d", (int)v[0] >> 8, (int)v[1] >> 8, (int)v[2] >> 8);
  else if (p.type == ParamType::Image)
    std::snprintf(buf, sizeof buf, "(none)");
  else if (p.type == ParamType::Text)
    return "\"" + p.defaultText + "\"";
  else
    std::snprintf(buf, sizeof buf, "%g", v[0]);
  return buf;
}

nlohmann::json valueJson(const ParamDesc& p, const std::array<double, 3>& v) {
  if (p.type == ParamType::RGB) return {v[0], v[1], v[2]};
  if (p.type == ParamType::Image) return nullptr;
  if (p.type == ParamType::Text) return p.defaultText;
  return v[0];
}

}  // namespace

static int run(int argc, char** argv) {
  bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;
  if (argc > 2 || (argc == 2 && !json)) {
    std::fprintf(stderr, "usage: effect-list [--json]\n");
    return 2;
  }
  if (json) {
    nlohmann::json all = nlohmann::json::array();
    for (const auto& e : catalogue()) {
      nlohmann::json params = nlohmann::json::array();
      for (const auto& p : e.params) {
        nlohmann::json j = {{"code", codeText(p.code)}, {"name", p.name},
                            {"type", typeName(p.type)}, {"tween", tweenName(p.tween)},
                            {"min", p.minValue},        {"max", p.maxValue},
                            {"usage", p.usage},         {"default", valueJson(p, p.defaultValue)}};
        if (p.defaultTweened) j["defaultEnd"] = valueJson(p, p.defaultEnd);
        if (!p.enumValues.empty()) {
          nlohmann::json items = nlohmann::json::array();
          for (const auto& i : p.enumValues)
            items.push_back({{"value", i.value}, {"name", i.name}});
          j["values"] = items;
        }
        params.push_back(j);
      }
      nlohmann::json entry = {{"code", codeText(e.code)},
                              {"name", e.name},
                              {"kind", kindName(e.sources)},
                              {"sources", e.sources},
                              {"parameters", params}};
      if (e.isPlugin()) entry["plugin"] = e.plugin;
      all.push_back(entry);
    }
    std::printf("%s\n", all.dump(2).c_str());
    return 0;
  }
  int plugins = 0;
  for (const auto& e : catalogue()) {
    plugins += e.isPlugin();
    std::printf("%s  %s  (%s, %d source%s%s)\n", codeText(e.code).c_str(), e.name.c_str(),
                kindName(e.sources), e.sources, e.sources == 1 ? "" : "s",
                e.isPlugin() ? ", frei0r plugin" : "");
    for (const auto& p : e.params) {
      std::string def = valueText(p, p.defaultValue);
      if (p.defaultTweened) def += " -> " + valueText(p, p.defaultEnd);
      std::printf("    %s  %-22s %-6s tween %-8s default %s", codeText(p.code).c_str(),
                  p.name.c_str(), typeName(p.type), tweenName(p.tween), def.c_str());
      if (p.type != ParamType::Enum && p.type != ParamType::RGB && p.type != ParamType::Image &&
          p.type != ParamType::Text && p.type != ParamType::Bool)
        std::printf("  range %g..%g", p.minValue, p.maxValue);
      if (!p.usage.empty()) std::printf("  (%s)", p.usage.c_str());
      std::printf("\n");
      for (const auto& i : p.enumValues)
        std::printf("          %5ld  %s\n", i.value, i.name.c_str());
    }
  }
  // The SMPTE families' patterns are effects of their own in other tools' counts.
  const size_t patterns = smptePatterns().size();
  std::printf("%zu effects: %zu built in, %d frei0r plugins; with the %zu SMPTE patterns, %zu\n",
              catalogue().size(), catalogue().size() - (size_t)plugins, plugins, patterns,
              catalogue().size() + patterns);
  return 0;
}

int main(int argc, char** argv) {
  return guardedToolMain("effect-list", [&] { return run(argc, argv); });
}

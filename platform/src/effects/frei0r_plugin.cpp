// Loading a frei0r plugin: its entry points, what it says of itself, and its strings.
#include <dlfcn.h>

#include <cstdio>

#include "effects/frei0r_host.h"

namespace vt::effects::frei0r {
namespace {

bool bindApi(void* so, Api& api) {
  auto sym = [&](const char* name) { return dlsym(so, name); };
  api.init = reinterpret_cast<InitFn>(sym("f0r_init"));
  api.info = reinterpret_cast<InfoFn>(sym("f0r_get_plugin_info"));
  api.paramInfo = reinterpret_cast<ParamInfoFn>(sym("f0r_get_param_info"));
  api.construct = reinterpret_cast<ConstructFn>(sym("f0r_construct"));
  api.destruct = reinterpret_cast<DestructFn>(sym("f0r_destruct"));
  api.setParam = reinterpret_cast<ParamFn>(sym("f0r_set_param_value"));
  api.getParam = reinterpret_cast<ParamFn>(sym("f0r_get_param_value"));
  api.update = reinterpret_cast<UpdateFn>(sym("f0r_update"));
  api.update2 = reinterpret_cast<Update2Fn>(sym("f0r_update2"));
  return api.init && api.info && api.paramInfo && api.construct && api.destruct && api.setParam &&
         api.getParam && (api.update || api.update2);
}

}  // namespace

std::vector<std::unique_ptr<Plugin>>& plugins() {
  static std::vector<std::unique_ptr<Plugin>> table;
  return table;
}

std::string cleanText(const char* text) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text ? text : "");
  while (*p) {
    int len = *p < 0x80 ? 1 : (*p >> 5) == 6 ? 2 : (*p >> 4) == 14 ? 3 : (*p >> 3) == 30 ? 4 : 0;
    bool valid = len > 0;
    for (int k = 1; valid && k < len; ++k) valid = (p[k] & 0xC0) == 0x80;
    if (valid && len > 1) {
      uint32_t cp = *p & (0x7F >> len);
      for (int k = 1; k < len; ++k) cp = cp << 6 | (p[k] & 0x3F);
      valid = cp >= (len == 2   ? 0x80u
                     : len == 3 ? 0x800u
                                : 0x10000u) &&
              cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (valid) {
      out.append(reinterpret_cast<const char*>(p), (size_t)len);
      p += len;
      continue;
    }
    out += *p == 0x91 || *p == 0x92 ? '\'' : *p == 0x93 || *p == 0x94 ? '"' : '?';
    ++p;
  }
  return out;
}

void warn(const std::string& text) { std::fprintf(stderr, "vantrel: frei0r: %s\n", text.c_str()); }

bool openPlugin(const std::string& path, Plugin& p, f0r_plugin_info_t& info, std::string& why) {
  void* so = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!so) {
    const char* e = dlerror();
    why = e ? e : "cannot be loaded";
    return false;
  }
  // Never closed: a plugin's static destructors may run late, and unloading gains nothing.
  if (!bindApi(so, p.api)) {
    why = "does not export the frei0r functions";
    return false;
  }
  if (p.api.init() == 0) {
    why = "f0r_init failed";
    return false;
  }
  info = f0r_plugin_info_t{};
  p.api.info(&info);
  if (!info.name || !*info.name) {
    why = "has no name";
    return false;
  }
  if (info.plugin_type < F0R_PLUGIN_TYPE_FILTER || info.plugin_type > F0R_PLUGIN_TYPE_MIXER3) {
    why = "has an unknown plugin type";
    return false;
  }
  if (info.plugin_type == F0R_PLUGIN_TYPE_MIXER2 && !p.api.update2) {
    why = "is a mixer without f0r_update2";
    return false;
  }
  if (info.num_params < 0 || info.num_params > 256) {
    why = "reports an impossible number of parameters";
    return false;
  }
  p.path = path;
  p.type = info.plugin_type;
  p.colorModel = info.color_model;
  p.params.clear();
  for (int i = 0; i < info.num_params; ++i) {
    f0r_param_info_t pi{};
    p.api.paramInfo(&pi, i);
    if (pi.type < F0R_PARAM_BOOL || pi.type > F0R_PARAM_STRING) {
      why = "has a parameter of unknown type";
      return false;
    }
    std::string name = cleanText(pi.name);
    if (name.empty()) name = "Parameter " + std::to_string(i + 1);
    p.params.push_back({name, pi.type});
  }
  return true;
}

void runUpdate(Plugin& p, f0r_instance_t inst, double t, const uint32_t* a, const uint32_t* b,
               uint32_t* out) {
  if (p.type == F0R_PLUGIN_TYPE_MIXER2 || !p.api.update)
    p.api.update2(inst, t, a, b, a, out);
  else
    p.api.update(inst, t, a, out);
}

}  // namespace vt::effects::frei0r

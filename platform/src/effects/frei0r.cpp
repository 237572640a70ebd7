#include "effects/frei0r.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <frei0r.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "effects/description.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace vt::effects::frei0r {
namespace {

// What plugins allocate and never free (several leak in f0r_construct) is theirs: leak checking
// looks away while they run, and keeps watching our own code.
struct PluginCode {
#if defined(__SANITIZE_ADDRESS__)
  PluginCode() { __lsan_disable(); }
  ~PluginCode() { __lsan_enable(); }
#else
  PluginCode() = default;
#endif
  PluginCode(const PluginCode&) = delete;
  PluginCode& operator=(const PluginCode&) = delete;
};

namespace fs = std::filesystem;

using InitFn = int (*)();
using InfoFn = void (*)(f0r_plugin_info_t*);
using ParamInfoFn = void (*)(f0r_param_info_t*, int);
using ConstructFn = f0r_instance_t (*)(unsigned, unsigned);
using DestructFn = void (*)(f0r_instance_t);
using ParamFn = void (*)(f0r_instance_t, f0r_param_t, int);
using UpdateFn = void (*)(f0r_instance_t, double, const uint32_t*, uint32_t*);
using Update2Fn = void (*)(f0r_instance_t, double, const uint32_t*, const uint32_t*,
                           const uint32_t*, uint32_t*);

// The size a probe and the default values use: small, and legal for every plugin.
constexpr int kProbeWidth = kMinSide, kProbeHeight = kMinSide;
constexpr int kProbeSeconds = 10;
constexpr int kInstancesKept = 2;

struct Api {
  InitFn init = nullptr;
  InfoFn info = nullptr;
  ParamInfoFn paramInfo = nullptr;
  ConstructFn construct = nullptr;
  DestructFn destruct = nullptr;
  ParamFn setParam = nullptr;
  ParamFn getParam = nullptr;
  UpdateFn update = nullptr;
  Update2Fn update2 = nullptr;
};

struct Instance {
  f0r_instance_t handle = nullptr;
  int width = 0, height = 0;
  uint64_t lastUse = 0;
};

struct Plugin {
  std::string path;
  Api api;
  int type = 0;
  int colorModel = 0;
  struct Param {
    std::string name;  // copied at once: some plugins' name pointers die with the next instance
    int type;
  };
  std::vector<Param> params;
  // frei0r promises nothing about threads: every call into one plugin is made under its lock.
  std::mutex lock;
  std::vector<Instance> instances;
  uint64_t uses = 0;
  PixelBuffer inA, inB, outT;
  Image bigA, bigB, bigOut;          // small frames, enlarged
  std::map<int, std::string> texts;  // text parameters' values as last given
};

std::vector<std::unique_ptr<Plugin>>& plugins() {
  static std::vector<std::unique_ptr<Plugin>> table;
  return table;
}

// Plugins' strings are outside input and not always UTF-8 (some use Windows-1252 quotes): valid
// UTF-8 stays, a stray byte becomes the quote it most likely is, or '?'.
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

// Opens a plugin and checks what it says of itself. On failure `why` says what went wrong.
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

// What the child process of a probe does: everything the catalogue and a first frame will do.
[[noreturn]] void probeChild(const std::string& path) {
  int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, 1);
    dup2(null, 2);
  }
  Plugin p;
  f0r_plugin_info_t info{};
  std::string why;
  if (!openPlugin(path, p, info, why)) _exit(3);
  if (p.type == F0R_PLUGIN_TYPE_MIXER3) _exit(0);
  f0r_instance_t inst = p.api.construct(kProbeWidth, kProbeHeight);
  if (!inst) _exit(4);
  std::vector<uint32_t> a(kProbeWidth * kProbeHeight, 0xFF808080u), b(a.size(), 0xFF204060u),
      out(a.size());
  runUpdate(p, inst, 0.5, a.data(), b.data(), out.data());
  // As rendering will: every parameter set, at its default and at both ends of its range.
  for (int pass = 0; pass < 3; ++pass) {
    for (int i = 0; i < (int)p.params.size(); ++i) {
      alignas(16) unsigned char value[64] = {};
      p.api.getParam(inst, value, i);
      const double end = pass == 1 ? 0.0 : 1.0;
      const int type = p.params[(size_t)i].type;
      // A text goes back as a copy: the plugin may free its own before it reads the new one.
      std::string text;
      char* textPointer = nullptr;
      if (type == F0R_PARAM_STRING) {
        char* own = nullptr;
        std::memcpy(&own, value, sizeof own);
        text = own ? own : "";
        textPointer = text.data();
        std::memcpy(value, &textPointer, sizeof textPointer);
      } else if (pass > 0 && (type == F0R_PARAM_BOOL || type == F0R_PARAM_DOUBLE)) {
        std::memcpy(value, &end, sizeof end);
      } else if (pass > 0 && type == F0R_PARAM_COLOR) {
        const f0r_param_color_t c{(float)end, (float)end, (float)end};
        std::memcpy(value, &c, sizeof c);
      } else if (pass > 0 && type == F0R_PARAM_POSITION) {
        const f0r_param_position_t xy{end, end};
        std::memcpy(value, &xy, sizeof xy);
      }
      p.api.setParam(inst, value, i);
    }
    runUpdate(p, inst, 0.5, a.data(), b.data(), out.data());
  }
  p.api.destruct(inst);
  _exit(0);
}

struct ProbeResult {
  bool ok = false;
  std::string why;
  bool known = true;  // false: no verdict (the child was reaped elsewhere); not remembered
};

// Tries each plugin in a child process, a few at a time; a child that dies by a signal, exits
// with an error or takes too long marks its plugin as unusable.
std::map<std::string, ProbeResult> probe(const std::vector<std::string>& paths) {
  std::map<std::string, ProbeResult> results;
  struct Running {
    pid_t pid;
    std::string path;
    std::chrono::steady_clock::time_point started;
  };
  std::vector<Running> running;
  size_t next = 0;
  const size_t parallel = std::max(2u, std::min(8u, std::thread::hardware_concurrency()));
  std::fflush(nullptr);
  while (next < paths.size() || !running.empty()) {
    while (next < paths.size() && running.size() < parallel) {
      pid_t pid = fork();
      if (pid == 0) probeChild(paths[next]);
      if (pid < 0) {
        results[paths[next]] = {false, "could not be tried (no process)", false};
      } else {
        running.push_back({pid, paths[next], std::chrono::steady_clock::now()});
      }
      ++next;
    }
    bool reaped = false;
    for (size_t i = 0; i < running.size();) {
      int status = 0;
      pid_t r = waitpid(running[i].pid, &status, WNOHANG);
      bool late = std::chrono::steady_clock::now() - running[i].started >
                  std::chrono::seconds(kProbeSeconds);
      if (r == 0 && late) {
        kill(running[i].pid, SIGKILL);
        waitpid(running[i].pid, &status, 0);
        results[running[i].path] = {false, "hangs while it is tried"};
      } else if (r == 0) {
        ++i;
        continue;
      } else if (r < 0) {
        results[running[i].path] = {false, "could not be tried", false};
      } else if (WIFSIGNALED(status)) {
        results[running[i].path] = {
            false, std::string("crashes while it is tried (") + strsignal(WTERMSIG(status)) + ")"};
      } else if (WEXITSTATUS(status) != 0) {
        // 3 and 4 are the probe's own verdicts; anything else is a crash a sanitizer or the
        // plugin itself turned into an exit.
        const int code = WEXITSTATUS(status);
        results[running[i].path] = {false, code == 3   ? "fails to load"
                                           : code == 4 ? "makes no instance"
                                                       : "crashes while it is tried"};
      } else {
        results[running[i].path] = {true, ""};
      }
      running.erase(running.begin() + (long)i);
      reaped = true;
    }
    if (!reaped && !running.empty()) poll(nullptr, 0, 2);
  }
  return results;
}

std::string fileKey(const struct stat& st) {
  return std::to_string((long long)st.st_size) + "\t" +
         std::to_string((long long)st.st_mtim.tv_sec) + "." +
         std::to_string((long long)st.st_mtim.tv_nsec);
}

struct CacheEntry {
  bool ok;
  std::string key;
};

std::map<std::string, CacheEntry> readCache(const std::string& file) {
  std::map<std::string, CacheEntry> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    // ok|bad TAB size TAB mtime TAB path
    std::istringstream s(line);
    std::string verdict, size, mtime, path;
    if (!std::getline(s, verdict, '\t') || !std::getline(s, size, '\t') ||
        !std::getline(s, mtime, '\t') || !std::getline(s, path) || path.empty())
      continue;
    if (verdict != "ok" && verdict != "bad") continue;
    out[path] = {verdict == "ok", size + "\t" + mtime};
  }
  return out;
}

void writeCache(const std::string& file, const std::map<std::string, CacheEntry>& entries) {
  std::error_code ec;
  fs::create_directories(fs::path(file).parent_path(), ec);
  std::string temp = file + "." + std::to_string(getpid()) + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    if (!out) return;  // no cache: plugins are probed again next time, nothing worse
    for (const auto& [path, e] : entries)
      out << (e.ok ? "ok" : "bad") << '\t' << e.key << '\t' << path << '\n';
    if (!out.flush()) {
      fs::remove(temp, ec);
      return;
    }
  }
  if (std::rename(temp.c_str(), file.c_str()) != 0) fs::remove(temp, ec);
}

// Candidate plugin files in search order, each file once (by device and inode).
std::vector<std::string> findFiles() {
  std::vector<std::string> out;
  std::set<std::pair<dev_t, ino_t>> seen;
  for (const auto& dir : searchPath()) {
    std::error_code ec;
    std::vector<std::string> here;
    for (fs::recursive_directory_iterator
             it(dir, fs::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec)) {
      if (it.depth() > 2) it.disable_recursion_pending();
      const auto& path = it->path();
      if (path.extension() != ".so") continue;
      struct stat st;
      if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      if (!seen.insert({st.st_dev, st.st_ino}).second) continue;
      here.push_back(path.string());
    }
    std::sort(here.begin(), here.end());
    out.insert(out.end(), here.begin(), here.end());
  }
  return out;
}

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

// The catalogue entry of a loaded plugin, with defaults read from a fresh instance.
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

std::vector<EffectInfo> load() {
  [[maybe_unused]] PluginCode outside;
  std::vector<EffectInfo> effects;
  std::vector<std::string> files = findFiles();
  if (files.empty()) return effects;
  const std::string cacheFile = probeCachePath();
  auto cache = readCache(cacheFile);
  std::vector<std::string> unknown;
  std::map<std::string, std::string> keys;
  for (const auto& f : files) {
    struct stat st;
    if (stat(f.c_str(), &st) != 0) continue;
    keys[f] = fileKey(st);
    auto it = cache.find(f);
    if (it == cache.end() || it->second.key != keys[f]) unknown.push_back(f);
  }
  if (!unknown.empty()) {
    for (const auto& [path, r] : probe(unknown)) {
      if (r.known) cache[path] = {r.ok, keys[path]};
      if (!r.ok) warn(path + " " + r.why + "; left out");
    }
    writeCache(cacheFile, cache);
  }
  std::set<std::string> names;
  int mixer3 = 0;
  for (const auto& f : files) {
    auto it = cache.find(f);
    if (it == cache.end() || !it->second.ok || it->second.key != keys[f]) continue;
    auto p = std::make_unique<Plugin>();
    f0r_plugin_info_t info{};
    std::string why;
    if (!openPlugin(f, *p, info, why)) {
      warn(f + " " + why + "; left out");
      continue;
    }
    if (p->type == F0R_PLUGIN_TYPE_MIXER3) {
      ++mixer3;  // three-input mixers are not offered
      continue;
    }
    // The first plugin of a name wins, so a user's own copy overrides the system's.
    if (!names.insert(cleanText(info.name)).second) continue;
    effects.push_back(describe(*p, info, (int)plugins().size()));
    plugins().push_back(std::move(p));
  }
  std::sort(effects.begin(), effects.end(), [](const EffectInfo& x, const EffectInfo& y) {
    return strcasecmp(x.name.c_str(), y.name.c_str()) < 0;
  });
  return effects;
}

Instance* instanceFor(Plugin& p, int w, int h) {
  ++p.uses;
  for (auto& i : p.instances)
    if (i.width == w && i.height == h) {
      i.lastUse = p.uses;
      return &i;
    }
  if ((int)p.instances.size() >= kInstancesKept) {
    auto oldest = std::min_element(
        p.instances.begin(), p.instances.end(),
        [](const Instance& x, const Instance& y) { return x.lastUse < y.lastUse; });
    p.api.destruct(oldest->handle);
    p.instances.erase(oldest);
  }
  f0r_instance_t h0 = p.api.construct((unsigned)w, (unsigned)h);
  if (!h0) return nullptr;
  p.instances.push_back({h0, w, h, p.uses});
  return &p.instances.back();
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

// Copies the tile at (x0, y0) of `src` into a tile buffer, repeating the edge pixels where the
// tile reaches past the frame and swapping red and blue for RGBA plugins.
void copyIn(const Image& src, int x0, int y0, int tw, int th, bool swap, uint32_t* dst) {
  for (int ty = 0; ty < th; ++ty) {
    const Pixel* row = src.row(std::min(y0 + ty, src.height - 1));
    uint32_t* d = dst + (size_t)ty * tw;
    int inside = std::clamp(src.width - x0, 0, tw);
    std::memcpy(d, row + x0, (size_t)inside * 4);
    for (int tx = inside; tx < tw; ++tx) d[tx] = row[src.width - 1];
    if (swap)
      for (int tx = 0; tx < tw; ++tx)
        d[tx] = (d[tx] & 0xFF00FF00u) | ((d[tx] >> 16) & 0xFFu) | ((d[tx] & 0xFFu) << 16);
  }
}

}  // namespace

std::vector<std::string> searchPath() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("FREI0R_PATH")) {
    std::string s = env;
    size_t at = 0;
    while (at <= s.size()) {
      size_t colon = s.find(':', at);
      std::string d = s.substr(at, colon == std::string::npos ? std::string::npos : colon - at);
      if (!d.empty()) dirs.push_back(d);
      if (colon == std::string::npos) break;
      at = colon + 1;
    }
    return dirs;
  }
  if (const char* home = std::getenv("HOME")) dirs.push_back(std::string(home) + "/.frei0r-1/lib");
  dirs.push_back("/usr/local/lib/frei0r-1");
  dirs.push_back("/usr/lib/frei0r-1");
#ifdef VT_MULTIARCH
  dirs.push_back("/usr/lib/" VT_MULTIARCH "/frei0r-1");
#endif
  return dirs;
}

std::string probeCachePath() {
  std::string base;
  if (const char* x = std::getenv("XDG_CACHE_HOME"); x && *x == '/')
    base = x;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::string(home) + "/.cache";
  else
    base = "/tmp";
  return base + "/vantrel/frei0r-probe";
}

const std::vector<EffectInfo>& pluginEffects() {
  static const std::vector<EffectInfo> effects = load();
  return effects;
}

TileGrid tileGrid(int width, int height) {
  TileGrid g;
  auto split = [](int side, int& count, int& size) {
    count = std::max(1, (side + kMaxSide - 1) / kMaxSide);
    int step = (side + count - 1) / count;
    size = std::max(kMinSide, (step + 7) / 8 * 8);  // short sides are padded
  };
  split(std::max(1, width), g.across, g.width);
  split(std::max(1, height), g.down, g.height);
  return g;
}

int upscale(int width, int height) {
  const int shorter = std::max(1, std::min(width, height)), longer = std::max(width, height);
  int k = (kMinSide + shorter - 1) / shorter;
  // A sliver stays thin rather than growing without bound.
  while (k > 1 && (long)longer * k > 4L * kMaxSide) --k;
  return std::max(1, k);
}

namespace {

// Pixel-replicated copy, k times larger each way.
void enlarge(const Image& src, int k, Image& dst) {
  dst.resize(src.width * k, src.height * k);
  for (int y = 0; y < dst.height; ++y) {
    const Pixel* s = src.row(y / k);
    Pixel* d = dst.row(y);
    for (int x = 0; x < dst.width; ++x) d[x] = s[x / k];
  }
}

void renderTiles(Plugin& p, Instance& inst, const Image* a, const Image* b, Image& out,
                 double seconds) {
  const TileGrid g = tileGrid(out.width, out.height);
  const size_t n = (size_t)g.width * g.height;
  for (PixelBuffer* buf : {&p.inA, &p.inB, &p.outT})
    if (buf->size() != n) buf->assign(n, makePixel(0, 0, 0));
  const bool swap = p.colorModel == F0R_COLOR_MODEL_RGBA8888;
  const int stepX = (out.width + g.across - 1) / g.across;
  const int stepY = (out.height + g.down - 1) / g.down;
  for (int ty = 0; ty < g.down; ++ty)
    for (int tx = 0; tx < g.across; ++tx) {
      const int x0 = tx * stepX, y0 = ty * stepY;
      if (x0 >= out.width || y0 >= out.height) continue;
      if (a) copyIn(*a, x0, y0, g.width, g.height, swap, p.inA.data());
      if (b) copyIn(*b, x0, y0, g.width, g.height, swap, p.inB.data());
      runUpdate(p, inst.handle, seconds, p.inA.data(), p.inB.data(), p.outT.data());
      const int w = std::min(stepX, out.width - x0), h = std::min(stepY, out.height - y0);
      for (int y = 0; y < h; ++y) {
        const uint32_t* s = p.outT.data() + (size_t)y * g.width;
        Pixel* d = out.row(y0 + y) + x0;
        if (swap)
          for (int x = 0; x < w; ++x)
            d[x] = (s[x] & 0xFF00FF00u) | ((s[x] >> 16) & 0xFFu) | ((s[x] & 0xFFu) << 16);
        else
          std::memcpy(d, s, (size_t)w * 4);
      }
    }
}

}  // namespace

bool render(const EffectInfo& info, const ParamSet& params, const Image* a, const Image* b,
            Image& out, double seconds) {
  if (out.empty()) return true;
  auto fallback = [&] {
    if (a && a->pixels.size() == out.pixels.size())
      std::memcpy(out.pixels.data(), a->pixels.data(), out.pixels.size() * sizeof(Pixel));
    else
      std::fill(out.pixels.begin(), out.pixels.end(), makePixel(0, 0, 0));
    return false;
  };
  if (info.pluginId < 0 || info.pluginId >= (int)plugins().size()) return fallback();
  Plugin& p = *plugins()[(size_t)info.pluginId];
  std::lock_guard<std::mutex> hold(p.lock);
  [[maybe_unused]] PluginCode outside;
  // Small frames are enlarged by whole pixels and sampled back: some plugins (Partik0l) write
  // past frames smaller than they expect, and the picture keeps its shape.
  const int k = upscale(out.width, out.height);
  Image& target = k > 1 ? p.bigOut : out;
  if (k > 1) target.resize(out.width * k, out.height * k);
  const TileGrid g = tileGrid(target.width, target.height);
  Instance* inst = instanceFor(p, g.width, g.height);
  if (!inst) return fallback();
  setParams(p, inst->handle, info, params);
  if (k == 1) {
    renderTiles(p, *inst, a, b, out, seconds);
    return true;
  }
  if (a) enlarge(*a, k, p.bigA);
  if (b) enlarge(*b, k, p.bigB);
  renderTiles(p, *inst, a ? &p.bigA : nullptr, b ? &p.bigB : nullptr, target, seconds);
  for (int y = 0; y < out.height; ++y) {
    const Pixel* s = target.row(y * k + k / 2);
    Pixel* d = out.row(y);
    for (int x = 0; x < out.width; ++x) d[x] = s[x * k + k / 2];
  }
  return true;
}

}  // namespace vt::effects::frei0r

// The frei0r host's own parts, shared by its files: a loaded plugin and its entry points, the
// probe of new plugins in child processes, the parameters, and the render path.
#pragma once
#include <frei0r.h>
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/image.h"
#include "effects/frei0r.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace vt::effects::frei0r {

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

// Every plugin loaded, in the order of their ids.
std::vector<std::unique_ptr<Plugin>>& plugins();

// Plugins' strings are outside input and not always UTF-8 (some use Windows-1252 quotes): valid
// UTF-8 stays, a stray byte becomes the quote it most likely is, or '?'.
std::string cleanText(const char* text);

// A plugin left out, said on standard error.
void warn(const std::string& text);

// Opens a plugin and checks what it says of itself. On failure `why` says what went wrong.
bool openPlugin(const std::string& path, Plugin& p, f0r_plugin_info_t& info, std::string& why);

// One frame through the plugin's update call (a mixer's or a filter's).
void runUpdate(Plugin& p, f0r_instance_t inst, double t, const uint32_t* a, const uint32_t* b,
               uint32_t* out);

struct ProbeResult {
  bool ok = false;
  std::string why;
  bool known = true;  // false: no verdict (the child was reaped elsewhere); not remembered
};

// Tries each plugin in a child process, a few at a time; a child that dies by a signal, exits
// with an error or takes too long marks its plugin as unusable.
std::map<std::string, ProbeResult> probe(const std::vector<std::string>& paths);

// A plugin file's identity in the probe cache: a changed file is probed again.
std::string fileKey(const struct stat& st);

struct CacheEntry {
  bool ok;
  std::string key;
};

std::map<std::string, CacheEntry> readCache(const std::string& file);
void writeCache(const std::string& file, const std::map<std::string, CacheEntry>& entries);

// The catalogue entry of a loaded plugin, with defaults read from a fresh instance.
EffectInfo describe(Plugin& p, const f0r_plugin_info_t& info, int id);

// Gives an instance the effect's parameter values.
void setParams(Plugin& p, f0r_instance_t inst, const EffectInfo& info, const ParamSet& params);

}  // namespace vt::effects::frei0r

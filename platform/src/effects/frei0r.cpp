// Finding the plugins on this machine and offering the usable ones as catalogue effects.
#include "effects/frei0r.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "effects/frei0r_host.h"

namespace vt::effects::frei0r {
namespace {

namespace fs = std::filesystem;

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

}  // namespace vt::effects::frei0r

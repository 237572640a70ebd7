// Trying new plugins in child processes before they are used, and remembering the verdicts.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "effects/frei0r_host.h"

namespace vt::effects::frei0r {
namespace {

namespace fs = std::filesystem;

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

}  // namespace

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

}  // namespace vt::effects::frei0r

#include "fixtures.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vt_test {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

int run(const std::string& command, std::string* out) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    if (out) out->append(buf, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string probe(const std::string& file, const std::string& entries, const std::string& stream) {
  std::string out;
  run("ffprobe -v error -count_frames -select_streams " + stream + ":0 -show_entries " + entries +
          " -of csv=p=0 '" + file + "' 2>&1",
      &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
  return out;
}

std::string fixture(const std::string& name, const std::string& ffmpegArgs) {
  // Kept under a folder named by the arguments' hash: two tests that give one name different
  // recipes get different files, and a changed recipe never reuses a stale file.
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : ffmpegArgs) h = (h ^ c) * 1099511628211ull;
  char key[17];
  snprintf(key, sizeof key, "%016llx", (unsigned long long)h);
  std::string dir = std::string(VT_FIXTURE_DIR) + "/" + key;
  std::filesystem::create_directories(dir);
  std::string path = dir + "/" + name;
  if (std::filesystem::exists(path)) return path;
  // Write to a private name first so parallel tests never see a half-written fixture.
  std::string tmp = dir + "/.tmp-" + std::to_string(getpid()) + "-" + name;
  std::string cmd = "ffmpeg -nostdin -y -loglevel error " + ffmpegArgs + " '" + tmp + "' 2>&1";
  std::string log;
  int rc = run(cmd, &log);
  if (rc != 0) {
    ADD_FAILURE() << "ffmpeg failed making fixture " << name << ": " << log;
    std::filesystem::remove(tmp);
    return "";
  }
  std::filesystem::rename(tmp, path);
  return path;
}

std::string tempDir(const std::string& hint) {
  static std::atomic<int> counter{0};
  std::string dir = std::string(VT_BINARY_DIR) + "/test-tmp/" + hint + "-" +
                    std::to_string(getpid()) + "-" + std::to_string(counter++);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

SmallDisk::SmallDisk(const std::string& dir) : dir_(dir) {
  mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=8m") == 0;
  if (mounted_) return;
  rlimit r{};
  ::getrlimit(RLIMIT_FSIZE, &r);
  savedLimit_ = r.rlim_cur;
  r.rlim_cur = 3u << 20;
  ::setrlimit(RLIMIT_FSIZE, &r);
  std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
}

SmallDisk::~SmallDisk() {
  if (mounted_) {
    ::umount2(dir_.c_str(), MNT_DETACH);
    return;
  }
  rlimit r{};
  ::getrlimit(RLIMIT_FSIZE, &r);
  r.rlim_cur = savedLimit_;
  ::setrlimit(RLIMIT_FSIZE, &r);
  std::signal(SIGXFSZ, SIG_DFL);
}

}  // namespace vt_test

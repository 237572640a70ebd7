// Test fixtures: media made at test time with the ffmpeg command, never committed.
#pragma once
#include <string>

namespace vt_test {

// Returns the path of fixture `name` in the build's fixture folder, making it first (once) by
// running `ffmpeg -y -loglevel error <ffmpegArgs> <path>`. Fails the calling test (and returns
// an empty string) when ffmpeg fails.
std::string fixture(const std::string& name, const std::string& ffmpegArgs);

// A fresh empty folder under the build's temporary area, unique per call.
std::string tempDir(const std::string& hint);

// The whole content of `path` ("" when it cannot be read).
std::string readFile(const std::string& path);
// Writes `bytes` to `path`, replacing what was there; returns the path.
std::string writeFile(const std::string& path, const std::string& bytes = "x");

// Runs a shell command and returns its exit status; its standard output goes to *out if given.
int run(const std::string& command, std::string* out = nullptr);

// What ffprobe reads of `entries` (as "stream=width,height") in the first `stream` ("v", "a")
// of `file`, frames counted, as CSV; the last line break is trimmed, errors are included.
std::string probe(const std::string& file, const std::string& entries,
                  const std::string& stream = "v");

// Makes `dir` a small disk for as long as it lives: an 8 MB tmpfs when the process may mount
// one, else a file size limit under which writes past 3 MB fail as on a full disk (no
// fixtures can be made meanwhile).
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& dir);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

 private:
  std::string dir_;
  bool mounted_ = false;
  unsigned long savedLimit_ = 0;
};

}  // namespace vt_test

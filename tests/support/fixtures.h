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

// Runs a shell command and returns its exit status; its standard output goes to *out if given.
int run(const std::string& command, std::string* out = nullptr);

}  // namespace vt_test

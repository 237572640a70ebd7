// Seeds for the importer fuzz driver: tiny media of each importer's kind, made with the ffmpeg
// command once and kept; missing ones (ffmpeg absent or failing) are skipped.
#include "replay_driver.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

namespace {

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace

std::vector<std::vector<uint8_t>> vtFuzzSeeds() {
  const char* dir = std::getenv("TMPDIR");
  std::string base = std::string(dir && *dir ? dir : "/tmp") + "/vantrel-importer-seeds";
  const std::pair<const char*, const char*> kinds[] = {
      {"s.mkv", "-c:v libx264 -bf 2 -g 3 -pix_fmt yuv420p"},
      {"s.webm", "-c:v libvpx"},
      {"s.avi", "-c:v mpeg4 -g 3"},
      {"s.ts", "-c:v mpeg2video -g 3"},
      {"s.gif", ""},
      {"s.mov", "-c:v libx264 -bf 1 -g 3 -pix_fmt yuv420p"},
      {"s.png", "-frames:v 1"},
      {"s.jpg", "-frames:v 1"},
      {"s.bmp", "-frames:v 1"},
      {"s.tiff", "-frames:v 1"},
  };
  // Made once and kept: one ffmpeg run writes every seed that is missing.
  std::string outputs;
  for (const auto& [name, args] : kinds)
    if (readAll(base + "/" + name).empty())
      outputs += std::string(" ") + args + " '" + base + "/" + name + "'";
  if (!outputs.empty()) {
    std::string cmd = "mkdir -p '" + base + "' && ffmpeg -nostdin -y -loglevel quiet -f lavfi "
                      "-i testsrc2=size=32x24:rate=10:duration=0.5" + outputs;
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "fuzz: some seeds were not made\n");
  }
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& [name, args] : kinds) {
    std::vector<uint8_t> b = readAll(base + "/" + name);
    if (!b.empty()) seeds.push_back(std::move(b));
  }
  return seeds;
}

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
  // Made once and kept: one ffmpeg run writes every seed that is missing; should that fail (an
  // encoder missing), each is tried on its own.
  const std::string make = "mkdir -p '" + base + "' && ffmpeg -nostdin -y -loglevel quiet -f lavfi "
                           "-i testsrc2=size=32x24:rate=10:duration=0.5";
  std::vector<std::string> missing;
  for (const auto& [name, args] : kinds)
    if (readAll(base + "/" + name).empty())
      missing.push_back(std::string(" ") + args + " '" + base + "/" + name + "'");
  std::string all;
  for (const auto& m : missing) all += m;
  if (!missing.empty() && std::system((make + all).c_str()) != 0)
    for (const auto& m : missing)
      if (std::system((make + m).c_str()) != 0)
        std::fprintf(stderr, "fuzz: seed not made:%s\n", m.c_str());
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& [name, args] : kinds) {
    std::vector<uint8_t> b = readAll(base + "/" + name);
    if (!b.empty()) seeds.push_back(std::move(b));
  }
  return seeds;
}

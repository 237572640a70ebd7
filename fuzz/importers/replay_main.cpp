// Seeds for the importer fuzz driver: tiny media of each importer's kind, made with the ffmpeg
// command; missing ones (ffmpeg absent or failing) are skipped.
#include "replay_driver.h"

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
  std::string base = std::string(dir && *dir ? dir : "/tmp") + "/vantrel-fuzz-seeds";
  std::string src = "-f lavfi -i testsrc2=size=32x24:rate=10 -t 0.5 ";
  std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.3 ";
  const std::pair<const char*, std::string> kinds[] = {
      {"s.mkv", src + "-c:v libx264 -bf 2 -g 3 -pix_fmt yuv420p"},
      {"s.webm", src + "-c:v libvpx"},
      {"s.avi", src + "-c:v mpeg4 -g 3"},
      {"s.ts", src + "-c:v mpeg2video -g 3"},
      {"s.gif", src},
      {"s.mov", src + "-c:v libx264 -bf 1 -g 3 -pix_fmt yuv420p"},
      {"s.png", src + "-frames:v 1"},
      {"s.jpg", src + "-frames:v 1"},
      {"s.bmp", src + "-frames:v 1"},
      {"s.tiff", src + "-frames:v 1"},
      {"a.wav", tone},
      {"a.mp3", tone + "-c:a libmp3lame"},
      {"a.ogg", tone + "-c:a libvorbis"},
      {"a.m4a", tone + "-c:a aac"},
      {"av.mkv", tone + src + "-c:v mpeg4 -c:a aac"},
  };
  std::string mk = "mkdir -p '" + base + "'";
  if (std::system(mk.c_str()) != 0) return {};
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& [name, args] : kinds) {
    std::string path = base + "/" + name;
    std::string cmd = "ffmpeg -nostdin -y -loglevel quiet " + args + " '" + path + "'";
    if (std::system(cmd.c_str()) != 0) continue;
    std::vector<uint8_t> b = readAll(path);
    if (!b.empty()) seeds.push_back(std::move(b));
  }
  return seeds;
}


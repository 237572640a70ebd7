// Seeds for the importer fuzz driver: tiny media of each importer's kind, made with the ffmpeg
// command once and kept; missing ones (ffmpeg absent or failing) are skipped.
#include "replay_driver.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

std::vector<std::vector<uint8_t>> vtFuzzSeeds() {
  const std::string base = std::filesystem::temp_directory_path() / "vantrel-importer-seeds";
  const std::pair<const char*, const char*> kinds[] = {
      {"s.mkv", "-map 0:v -c:v libx264 -bf 2 -g 3 -pix_fmt yuv420p"},
      {"s.webm", "-map 0:v -c:v libvpx"},
      {"s.avi", "-map 0:v -c:v mpeg4 -g 3"},
      {"s.ts", "-map 0:v -c:v mpeg2video -g 3"},
      {"s.gif", "-map 0:v"},
      {"s.mov", "-map 0:v -c:v libx264 -bf 1 -g 3 -pix_fmt yuv420p"},
      {"s.png", "-map 0:v -frames:v 1"},
      {"s.jpg", "-map 0:v -frames:v 1"},
      {"s.bmp", "-map 0:v -frames:v 1"},
      {"s.tiff", "-map 0:v -frames:v 1"},
      {"a.wav", "-map 1:a"},
      {"a.mp3", "-map 1:a -c:a libmp3lame"},
      {"a.ogg", "-map 1:a -c:a libvorbis"},
      {"a.m4a", "-map 1:a -c:a aac"},
      {"av.mkv", "-map 0:v -map 1:a -c:v mpeg4 -c:a aac"},
  };
  // Made once and kept: one ffmpeg run writes every seed that is missing; should that fail (an
  // encoder missing), each is tried on its own.
  const std::string make = "mkdir -p '" + base +
                           "' && ffmpeg -nostdin -y -loglevel quiet -f lavfi "
                           "-i testsrc2=size=32x24:rate=10:duration=0.5 -f lavfi "
                           "-i sine=frequency=440:sample_rate=8000:duration=0.3";
  std::vector<std::string> missing;
  std::string all;
  for (const auto& [name, args] : kinds)
    if (vtReadFile(base + "/" + name).empty())
      all += missing.emplace_back(std::string(" ") + args + " '" + base + "/" + name + "'");
  if (!missing.empty() && std::system((make + all).c_str()) != 0)
    for (const auto& m : missing)
      if (std::system((make + m).c_str()) != 0)
        std::fprintf(stderr, "fuzz: seed not made:%s\n", m.c_str());
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& [name, args] : kinds)
    if (std::vector<uint8_t> b = vtReadFile(base + "/" + name); !b.empty())
      seeds.push_back(std::move(b));
  return seeds;
}

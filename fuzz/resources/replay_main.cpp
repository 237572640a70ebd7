// Seeds for the resource file fuzz driver: the corpus and the application's own resource file.
#include "replay_driver.h"

#include <algorithm>
#include <filesystem>

std::vector<std::vector<uint8_t>> vtFuzzSeeds() {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(VT_FUZZ_CORPUS))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());  // the same seed gives the same run
  files.push_back(VT_RESOURCE_FILE);
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& f : files)
    if (std::vector<uint8_t> b = vtReadFile(f.string()); !b.empty()) seeds.push_back(std::move(b));
  return seeds;
}

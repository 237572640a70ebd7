// Driver for compilers without libFuzzer: replays files (or every file of folders) given on
// the command line, and with "--mutate N [seed]" runs N random mutations of built-in effect
// descriptions, so the target is exercised in every build.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "effects/catalogue.h"
#include "effects/description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> seeds() {
  using namespace vt::effects;
  std::vector<std::vector<uint8_t>> out;
  for (const auto& e : catalogue()) {
    std::vector<DescriptionParam> ps;
    for (const auto& p : e.params) {
      if (p.type == ParamType::Image) {
        std::vector<uint8_t> img = {0, 0, 0, 2, 0, 0, 0, 1, 255, 0, 0, 0, 255, 255, 255, 255};
        ps.push_back({p.code, {}, false, {}, img});
        continue;
      }
      DescriptionParam d{p.code, p.defaultValue};
      d.tweened = tweenTypeFor(p) != 0;
      d.end = p.tween == TweenFlag::Never ? p.defaultValue : std::array<double, 3>{p.maxValue, 0, 0};
      ps.push_back(d);
    }
    out.push_back(buildDescription(e.code, e.sources, ps));
  }
  return out;
}

int mutate(long rounds, unsigned seed) {
  std::mt19937 rng(seed);
  auto base = seeds();
  for (long r = 0; r < rounds; ++r) {
    std::vector<uint8_t> b = base[rng() % base.size()];
    int edits = 1 + (int)(rng() % 6);
    for (int e = 0; e < edits && !b.empty(); ++e) {
      size_t at = rng() % b.size();
      switch (rng() % 5) {
        case 0: b[at] = (uint8_t)rng(); break;
        case 1: b[at] ^= (uint8_t)(1u << (rng() % 8)); break;
        case 2: b.resize(at); break;
        case 3: b.insert(b.begin() + (long)at, (uint8_t)rng()); break;
        default: {  // a plausible value in a 32-bit field (sizes, counts, parameter values)
          uint32_t v = (rng() & 1) ? (uint32_t)(rng() % 80) : (uint32_t)rng();
          for (int i = 0; i < 4 && at + (size_t)i < b.size(); ++i) b[at + (size_t)i] = (uint8_t)(v >> (24 - 8 * i));
        }
      }
    }
    LLVMFuzzerTestOneInput(b.data(), b.size());
  }
  std::printf("%ld mutated effect descriptions survived\n", rounds);
  return 0;
}

void replayFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--mutate") == 0)
    return mutate(std::atol(argv[2]), argc >= 4 ? (unsigned)std::atol(argv[3]) : 1u);
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (const auto& e : std::filesystem::directory_iterator(p)) replayFile(e.path());
    } else {
      replayFile(p);
    }
  }
  return 0;
}

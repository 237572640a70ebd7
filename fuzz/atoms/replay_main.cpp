// Driver for compilers without libFuzzer: replays files (or every file of folders) given on
// the command line, and with "--mutate N [seed]" runs N random mutations of built-in
// containers, so the target is exercised in every build.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "atoms/atom_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> seeds() {
  using vt::atoms::Atom;
  std::vector<std::vector<uint8_t>> out;
  Atom fade = vt::atoms::newRoot();
  fade.addOSType('what', 1, 'dslv');
  fade.addOSType('src ', 1, 'srcA');
  fade.addOSType('src ', 2, 'srcB');
  Atom& tween = fade.add('pcnt', 1).add('twen', 1);
  tween.addBE32('twnt', 1, 3);
  tween.addBE32('data', 1, 0).data.resize(8);
  out.push_back(vt::atoms::serialise(fade));
  Atom map = vt::atoms::newRoot();
  for (int k = 1; k <= 2; ++k) {
    Atom& in = map.add(0x0000696E, k);
    in.addOSType(0x00007479, 1, 'vide');
    in.addOSType('dtst', 1, k == 1 ? 'srcA' : 'srcB');
  }
  out.push_back(vt::atoms::serialise(map));
  out.push_back(vt::atoms::serialise(vt::atoms::newRoot()));
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
        default: {  // a plausible size in a header field
          uint32_t v = (uint32_t)(rng() % 80);
          for (int i = 0; i < 4 && at + (size_t)i < b.size(); ++i) b[at + (size_t)i] = (uint8_t)(v >> (24 - 8 * i));
        }
      }
    }
    LLVMFuzzerTestOneInput(b.data(), b.size());
  }
  std::printf("%ld mutated containers survived\n", rounds);
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
      for (auto& e : std::filesystem::directory_iterator(p))
        if (e.is_regular_file()) replayFile(e.path());
    } else {
      replayFile(p);
    }
  }
  return 0;
}

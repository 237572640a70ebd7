// Without libFuzzer: replays files given on the command line, then runs a bounded number of
// random mutations ("--mutate N") of small seed files made with the ffmpeg command.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Tiny media of each importer's kind; missing ones (ffmpeg absent or failing) are skipped.
std::vector<std::vector<uint8_t>> makeSeeds() {
  const char* dir = std::getenv("TMPDIR");
  std::string base = std::string(dir && *dir ? dir : "/tmp") + "/vantrel-fuzz-seeds";
  std::string src = "-f lavfi -i testsrc2=size=32x24:rate=10 -t 0.5 ";
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

}  // namespace

int main(int argc, char** argv) {
  long mutations = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mutate") == 0 && i + 1 < argc) {
      mutations = std::atol(argv[++i]);
      continue;
    }
    std::vector<uint8_t> b = readAll(argv[i]);
    LLVMFuzzerTestOneInput(b.data(), b.size());
  }
  if (mutations <= 0) return 0;
  std::vector<std::vector<uint8_t>> seeds = makeSeeds();
  if (seeds.empty()) {
    std::fprintf(stderr, "importer fuzz: no seeds could be made\n");
    return 1;
  }
  for (const auto& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());
  std::mt19937 rng(20261207);
  for (long n = 0; n < mutations; ++n) {
    std::vector<uint8_t> c = seeds[(size_t)n % seeds.size()];
    int edits = 1 + (int)(rng() % 8);
    for (int k = 0; k < edits; ++k) {
      size_t at = rng() % c.size();
      switch (rng() % 6) {
        case 0: c[at] ^= (uint8_t)(1u << (rng() % 8)); break;
        case 1: c[at] = (uint8_t)rng(); break;
        case 2: c[at] = 0xFF; break;
        case 3: c[at] = 0; break;
        case 4: {  // overwrite a run, as damaged blocks do
          size_t len = std::min<size_t>(c.size() - at, 1 + rng() % 64);
          for (size_t j = 0; j < len; j++) c[at + j] = (uint8_t)rng();
          break;
        }
        default: c.resize(std::max<size_t>(4, at)); break;  // truncation
      }
    }
    LLVMFuzzerTestOneInput(c.data(), c.size());
  }
  std::printf("importer fuzz: %zu seeds, %ld mutations, no crash\n", seeds.size(), mutations);
  return 0;
}

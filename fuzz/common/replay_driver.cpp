#include "replay_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <random>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define VT_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VT_FUZZ_ASAN 1
#endif
#endif

std::vector<uint8_t> vtReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

namespace {

// What runs now, for the report when memory runs out.
std::string gCurrent = "(starting)";

[[noreturn]] void outOfMemory(const char* how) {
  std::fprintf(stderr, "fuzz: out of memory (%s) on %s\n", how, gCurrent.c_str());
  std::fflush(stderr);
  _exit(1);
}

// One input; an allocation the memory limit refuses fails the run rather than passing unseen.
void runOne(const std::vector<uint8_t>& bytes) {
  try {
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  } catch (const std::bad_alloc&) {
    outOfMemory("an allocation failed");
  }
}

// The resident memory limit: an address-space limit where the build allows one (a sanitizer's
// shadow memory does not), and a watch on the resident size in every build.
void limitMemory(long megabytes) {
  std::thread([megabytes] {
    const long page = sysconf(_SC_PAGESIZE);
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      long size = 0, resident = 0;
      if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
        std::fclose(f);
      }
      if (resident * page > (megabytes << 20)) outOfMemory("resident size over the limit");
    }
  }).detach();
#ifndef VT_FUZZ_ASAN
  rlimit r{(rlim_t)megabytes << 20, (rlim_t)megabytes << 20};
  setrlimit(RLIMIT_AS, &r);
#endif
}

void replayFile(const std::filesystem::path& p, long& count) {
  std::vector<uint8_t> bytes = vtReadFile(p);
  gCurrent = p.string();
  runOne(bytes);
  ++count;
}

// Damage of the kinds broken files show: flipped bits, random or saturated bytes, overwritten
// runs, truncation, inserted bytes, and plausible values in 32-bit size and count fields.
void mutateOnce(std::vector<uint8_t>& b, std::mt19937& rng) {
  int edits = 1 + (int)(rng() % 6);
  for (int e = 0; e < edits && !b.empty(); ++e) {
    size_t at = rng() % b.size();
    switch (rng() % 8) {
      case 0: b[at] ^= (uint8_t)(1u << (rng() % 8)); break;
      case 1: b[at] = (uint8_t)rng(); break;
      case 2: b[at] = (rng() & 1) ? 0xFF : 0x00; break;
      case 3: {
        size_t len = std::min<size_t>(b.size() - at, 1 + rng() % 64);
        for (size_t j = 0; j < len; j++) b[at + j] = (uint8_t)rng();
        break;
      }
      case 4: b.resize(at); break;
      case 5: b.insert(b.begin() + (long)at, (uint8_t)rng()); break;
      default: {
        uint32_t v = (rng() & 1) ? (uint32_t)(rng() % 80) : (uint32_t)rng();
        for (int i = 0; i < 4 && at + (size_t)i < b.size(); ++i)
          b[at + (size_t)i] = (uint8_t)(v >> (24 - 8 * i));
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  long mutations = 0, replayed = 0;
  // A fresh seed each run, so every run explores new inputs; it is printed first, so a run
  // that crashes can be repeated with --seed.
  unsigned seed = std::random_device{}();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mutate") == 0 && i + 1 < argc) {
      mutations = std::atol(argv[++i]);
    } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = (unsigned)std::strtoul(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--memory-limit-mb") == 0 && i + 1 < argc) {
      limitMemory(std::atol(argv[++i]));
    } else if (std::filesystem::is_directory(argv[i])) {
      for (const auto& e : std::filesystem::directory_iterator(argv[i]))
        if (e.is_regular_file()) replayFile(e.path(), replayed);
    } else {
      replayFile(argv[i], replayed);
    }
  }
  if (mutations > 0) {
    std::fprintf(stderr, "fuzz: seed %u (repeat with --seed %u)\n", seed, seed);
    std::fflush(stderr);
    std::vector<std::vector<uint8_t>> seeds = vtFuzzSeeds();
    if (seeds.empty()) {
      std::fprintf(stderr, "fuzz: no seeds to mutate\n");
      return 1;
    }
    gCurrent = "a seed";
    for (const auto& s : seeds) runOne(s);
    std::mt19937 rng(seed);
    for (long n = 0; n < mutations; ++n) {
      std::vector<uint8_t> c = seeds[rng() % seeds.size()];
      mutateOnce(c, rng);
      gCurrent = "mutation " + std::to_string(n) + " of seed " + std::to_string(seed);
      runOne(c);
    }
  }
  std::printf("fuzz: %ld inputs replayed, %ld mutations (seed %u), no crash\n", replayed, mutations,
              seed);
  return 0;
}

// Without libFuzzer: replays files given on the command line, then runs a bounded number of
// random mutations of seed movie atoms ("--mutate N", seeds made here by the movie writer).
#include <Movies.h>
#include <MacMemory.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "movie/internal.h"
#include "qtff/writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static std::vector<uint8_t> seedMovie(bool sound) {
  Movie m = NewMovie(0);
  Track t = NewMovieTrack(m, 8 << 16, 8 << 16, 0);
  Media md = NewTrackMedia(t, sound ? SoundMediaType : VideoMediaType, 600, nullptr, 0);
  Handle desc = NewHandleClear(sound ? 36 : 86);
  *(OSType*)(*desc + 4) = sound ? 'twos' : 'avc1';
  Handle data = NewHandleClear(64);
  for (int i = 0; i < 20; ++i)
    AddMediaSample(md, data, 0, 16 + i, 10 + i % 3, desc, 1, i % 4 ? mediaSampleNotSync : 0, nullptr);
  InsertEmptyTrackSegment(t, 0, 30);
  InsertMediaIntoTrack(t, -1, 5, 100, 0x18000);
  Track t2 = NewMovieTrack(m, 0, 0, 0);
  NewTrackMedia(t2, VideoMediaType, 90000, nullptr, 0);
  long idx;
  AddTrackReference(t, t2, 'ssrc', &idx);
  std::vector<uint8_t> out = vt::qtff::buildMovieAtom(*m, "");
  DisposeHandle(desc);
  DisposeHandle(data);
  DisposeMovie(m);
  return out;
}

int main(int argc, char** argv) {
  long mutations = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mutate") == 0 && i + 1 < argc) {
      mutations = std::atol(argv[++i]);
      continue;
    }
    std::ifstream f(argv[i], std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(b.data(), b.size());
  }
  std::vector<std::vector<uint8_t>> seeds = {seedMovie(false), seedMovie(true)};
  std::mt19937 rng(20261206);
  for (long n = 0; n < mutations; ++n) {
    std::vector<uint8_t> c = seeds[(size_t)n % seeds.size()];
    int edits = 1 + (int)(rng() % 6);
    for (int k = 0; k < edits; ++k) {
      size_t at = rng() % c.size();
      switch (rng() % 5) {
        case 0: c[at] ^= (uint8_t)(1u << (rng() % 8)); break;
        case 1: c[at] = (uint8_t)rng(); break;
        case 2: c[at] = 0xFF; break;
        case 3: c[at] = 0; break;
        default: c.resize(std::max<size_t>(8, at)); break;
      }
    }
    LLVMFuzzerTestOneInput(c.data(), c.size());
  }
  std::printf("movie fuzz: %ld mutations, no crash\n", mutations);
  return 0;
}

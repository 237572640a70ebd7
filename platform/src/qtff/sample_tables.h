// The sample tables of one media as a movie file stores them, and how they become the
// model's sample table.
#pragma once
#include <MacTypes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/model.h"

namespace vt::qtff {

// A byte range inside the movie atom being read.
struct Span {
  const uint8_t* p;
  size_t n;
};

// The sample table atoms of one media: the descriptions copied, the other tables as ranges.
struct Stbl {
  std::vector<std::vector<uint8_t>> stsd;
  Span stts{nullptr, 0}, ctts{nullptr, 0}, stss{nullptr, 0}, stsc{nullptr, 0}, stsz{nullptr, 0},
      stco{nullptr, 0};
  bool co64 = false, stz2 = false, haveStss = false;
};

// Reads a full atom's entry count and checks that `entrySize` bytes per entry fit.
bool entryCount(Span s, size_t headerBytes, size_t entrySize, uint32_t& count);

// Fills the media's descriptions and sample table from `t`; badFileFormat when the tables
// contradict themselves or declare more samples than a media may hold.
OSErr buildSampleTable(VTMedia& media, const Stbl& t);

}  // namespace vt::qtff

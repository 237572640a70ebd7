// The layout of a self-contained movie file: where the movie atom and each sample go.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/result.h"
#include "model/model.h"

namespace vt::qtff {

// A stretch of sample data to copy from its source into the new file.
struct DataRun {
  vt::movie::DataSource* source = nullptr;
  uint64_t from = 0;
  uint64_t size = 0;
};

// 'ftyp', then the movie atom (or a 'wide' placeholder when it comes last), then one 'mdat'
// holding every sample, track after track; the movie atom follows the data when not first.
struct FlatLayout {
  std::vector<uint8_t> head;  // everything before the sample data, the 'mdat' header included
  std::vector<DataRun> runs;  // the sample data in file order
  uint64_t dataSize = 0;
  std::vector<uint8_t> tail;  // the movie atom when it follows the data
};

// Plans `movie` (a copy made for this) as a self-contained file at `path`: its samples move to
// their places in the new 'mdat' and each media's one data reference becomes the file itself.
// Fails with couldNotResolveDataRef, the missing file noted, when a sample's data has no source.
vt::Result<FlatLayout> planFlatFile(VTMovie& movie, const std::string& path, bool movieFirst);

}  // namespace vt::qtff

// What a decoder needs of a video media: its samples' timing and sync flags, their bytes, and
// the sample descriptions.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <vector>

#include "codec/video_format.h"

namespace vt::codec {

struct SampleInfo {
  int64_t decodeTime = 0;  // media time units
  int64_t duration = 0;
  int64_t compositionOffset = 0;
  bool sync = true;
  int descriptionIndex = 1;  // 1-based
  int64_t displayTime() const { return decodeTime + compositionOffset; }
};

// A track's media as the decoder sees it. Indices are 0-based, in decode order.
class SampleSource {
 public:
  virtual ~SampleSource() = default;
  virtual int64_t sampleCount() = 0;
  virtual bool sampleInfo(int64_t index, SampleInfo& out) = 0;
  virtual OSErr readSample(int64_t index, std::vector<uint8_t>& out) = 0;
  virtual OSErr format(int descriptionIndex, VideoFormat& out) = 0;
};

}  // namespace vt::codec

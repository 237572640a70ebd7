// Decodes the image of a video track at any media time: finds the sample shown then, seeks
// to the sync sample before it, and keeps its decoder between calls so that stepping forward
// decodes only the new frames.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/decoder.h"
#include "codec/video_format.h"
#include "core/image.h"

namespace vt::codec {

struct SampleInfo {
  int64_t decodeTime = 0;   // media time units
  int64_t duration = 0;
  int64_t compositionOffset = 0;
  bool sync = true;
  int descriptionIndex = 1;  // 1-based
  int64_t displayTime() const { return decodeTime + compositionOffset; }
};

// What a track's media offers the decoder. Indices are 0-based, in decode order.
class SampleSource {
 public:
  virtual ~SampleSource() = default;
  virtual int64_t sampleCount() = 0;
  virtual bool sampleInfo(int64_t index, SampleInfo& out) = 0;
  virtual OSErr readSample(int64_t index, std::vector<uint8_t>& out) = 0;
  virtual OSErr format(int descriptionIndex, VideoFormat& out) = 0;
};

class TrackDecoder {
 public:
  // The source must outlive the decoder. threads as for VideoDecoder::open.
  explicit TrackDecoder(SampleSource& source, int threads = 0);
  ~TrackDecoder();

  // The image shown at media time t (the sample with the latest display time not after t).
  // invalidTime when no sample is shown at t; codec errors when the data cannot be decoded.
  OSErr imageAtMediaTime(int64_t t, Image& out);
  // The image of sample `index` (decode order).
  OSErr imageForSample(int64_t index, Image& out);
  // The sample displayed at media time t, or -1.
  int64_t sampleAtMediaTime(int64_t t);

  // Samples sent to the decoder so far (tests use it to check that stepping reuses work).
  int64_t samplesDecoded() const { return samplesSent_; }
  // Forgets the sample table (after the media changed).
  void invalidate();

 private:
  bool buildIndex();
  OSErr ensureDecoder(int descriptionIndex);
  int64_t syncBefore(int64_t index);

  SampleSource& src_;
  int threads_;
  bool indexed_ = false;
  std::vector<SampleInfo> info_;
  std::vector<std::pair<int64_t, int64_t>> byDisplay_;  // (display time, index), sorted
  std::unique_ptr<VideoDecoder> dec_;
  int decDesc_ = 0;
  FrameConverter conv_;
  int64_t nextFeed_ = -1;  // next sample to send; -1 when the decoder holds no stream
  int64_t fedFrom_ = 0;    // the sync sample the current stream started at
  int64_t lastDropped_ = INT64_MIN;  // latest display time handed out or dropped
  std::vector<Frame> pending_;  // decoded, not yet asked for (display time >= the last target)
  std::vector<uint8_t> buf_;
  int64_t samplesSent_ = 0;
};

}  // namespace vt::codec

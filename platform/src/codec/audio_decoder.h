// One sound decoder: compressed packets in, interleaved float frames out, converted to the rate
// and channel count the caller plays at (libavcodec and libswresample behind this header).
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/audio_format.h"
#include "codec/result.h"

namespace vt::codec {

class AudioDecoder {
 public:
  // noCodecErr when no decoder knows the format (the caller plays silence instead).
  // Packet times are counted in `timeScale` units per second (the media's).
  static Result<std::unique_ptr<AudioDecoder>> open(const AudioFormat& format, int outRate,
                                                    int outChannels, int timeScale);
  ~AudioDecoder();

  // Decodes one packet stamped `time` and appends what it yields to `out` (interleaved,
  // outChannels per frame, at outRate); `firstTime` gets the time of the first frame appended
  // (decoders may hold frames back), or kNoTime. codecBadDataErr when the decoder refuses the
  // packet; the decoder stays usable and nothing is appended for it.
  static constexpr int64_t kNoTime = INT64_MIN;
  OSErr decode(const uint8_t* data, size_t size, int64_t time, std::vector<float>& out,
               int64_t* firstTime = nullptr);
  // Hands out what the decoder and the converter still hold (at the end of a stream).
  void drain(std::vector<float>& out);
  // Forgets the stream (before a seek).
  void reset();
  int outRate() const { return outRate_; }
  int outChannels() const { return outChannels_; }

 private:
  struct Impl;
  AudioDecoder(std::unique_ptr<Impl> impl, int outRate, int outChannels);
  bool receiveAll(std::vector<float>& out, int64_t* firstTime);
  std::unique_ptr<Impl> impl_;
  int outRate_, outChannels_;
};

}  // namespace vt::codec

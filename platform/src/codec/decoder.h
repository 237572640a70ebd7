// One video decoder: compressed samples in, frames out, frames converted to vt::Image.
// FFmpeg stays behind this header.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <memory>

#include "codec/result.h"
#include "codec/video_format.h"
#include "core/image.h"

struct AVFrame;

namespace vt::codec {

// Silences the media libraries' logging (once per process).
void quietLibraries();

// True when libavcodec has a decoder for this sample description codec.
bool codecKnown(OSType codec);

// A decoded frame not yet converted (conversion is the expensive part; most frames that pass
// through a decoder while seeking are never shown).
class Frame {
 public:
  Frame();
  ~Frame();
  Frame(Frame&&) noexcept;
  Frame& operator=(Frame&&) noexcept;
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  int64_t pts = 0;
  AVFrame* av() const { return frame_; }
  bool empty() const;
  // True when the frame's pixel format carries alpha.
  bool translucent() const;
  // Another reference to the same pixels (nothing copied); empty when that fails.
  Frame share() const;

 private:
  AVFrame* frame_;
};

class VideoDecoder {
 public:
  // threads: 0 picks a count for the machine; 1 decodes on the caller's thread only.
  static Result<std::unique_ptr<VideoDecoder>> open(const VideoFormat& format, int threads = 0);
  ~VideoDecoder();

  // Sends one sample (`sync`: decodable on its own; some codecs treat other samples as
  // differences to the previous frame). noErr, or codecBadDataErr when the decoder rejects it
  // (the decoder stays usable). Frames that become ready are queued for receive().
  OSErr send(const uint8_t* data, size_t size, int64_t pts, bool sync = true);
  // While set, samples sent are not decoded when no other frame refers to theirs (for
  // frames that will not be shown: a player behind its clock). Codecs that mark such frames
  // (H.264, HEVC, MPEG-1, -2 and -4) skip them; others decode everything.
  void skipUnreferenced(bool skip);
  // Tells the decoder no more samples come, so it hands out what it holds back.
  void drain();
  // The next decoded frame in display order; false when none is ready.
  bool receive(Frame& out);
  // Forgets all state (before a seek); the palette is sent again with the next sample.
  void reset();
  bool drained() const { return drained_; }
  int64_t framesOut() const { return framesOut_; }

 private:
  struct Impl;
  explicit VideoDecoder(std::unique_ptr<Impl> impl);
  bool pump();
  std::unique_ptr<Impl> impl_;
  bool drained_ = false;
  int64_t framesOut_ = 0;
};

// Converts frames to images, scaling them on the way when asked for another size; keeps its
// scaler between frames of the same shape. threads: how many the scaler may use on large
// frames (0: as many as the machine has).
class FrameConverter {
 public:
  explicit FrameConverter(int threads = 1);
  ~FrameConverter();
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;
  // `out` becomes width x height (0 x 0: the frame's own size).
  OSErr convert(const Frame& frame, Image& out, int width = 0, int height = 0);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vt::codec

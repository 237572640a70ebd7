// Images written as a YUV4MPEG2 stream: 4:2:0, BT.601 limited range, the plain format that
// ffmpeg and other tools read from a pipe.
#pragma once
#include <MacTypes.h>

#include <cstdio>
#include <memory>

#include "core/image.h"
#include "codec/yuv.h"

namespace vt::codec {

class Y4mWriter {
 public:
  // Frames are width x height at fpsNum/fpsDen frames per second; the stream header is written
  // with the first frame.
  Y4mWriter(std::FILE* out, int width, int height, int fpsNum, int fpsDen);
  ~Y4mWriter();
  Y4mWriter(const Y4mWriter&) = delete;
  Y4mWriter& operator=(const Y4mWriter&) = delete;

  // Converts and writes one frame (of the writer's size). ioErr when the output refuses it,
  // paramErr for a frame of another size.
  OSErr write(const Image& frame);
  // Writes one frame's planes as they are.
  OSErr write(const YuvView& frame);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vt::codec

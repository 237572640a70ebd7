// Pictures as 4:2:0 planes: the planes a decoded frame already has, and conversions between
// them and 32-bit images, made the way the stream writers make them.
#pragma once
#include <MacTypes.h>

#include <memory>

#include "codec/decoder.h"
#include "core/image.h"
#include "core/yuv_image.h"

namespace vt::codec {

// The frame's own planes when they are what YUV consumers take (8-bit 4:2:0, limited range,
// a BT.601 or unmarked matrix) at width x height (0 x 0: any size); false otherwise, when the
// frame must go through a 32-bit image to come out the same.
bool yuvViewOf(const Frame& frame, int width, int height, YuvView& out);

// Keeps its scalers between frames of one size.
class YuvConverter {
 public:
  YuvConverter();
  ~YuvConverter();
  YuvConverter(const YuvConverter&) = delete;
  YuvConverter& operator=(const YuvConverter&) = delete;
  // BT.601 limited range, as the stream writers convert images. memFullErr, codecErr.
  OSErr toYuv(const Image& in, YuvImage& out);
  // As a decoder's frame of the same planes converts. memFullErr, codecErr.
  OSErr toImage(const YuvView& in, Image& out);
  // Rows [y0, y1) of `in` into the same rows of `out`, which is already in's size. So that
  // bands converted side by side, each by its own converter, come out as the whole does: y0
  // and y1 even (or y1 the last row), and out's rows must take whole-block stores.
  OSErr toImageRows(const YuvView& in, Image& out, int y0, int y1);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vt::codec

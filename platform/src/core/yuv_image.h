// Pictures as 4:2:0 planes, for the consumers that take YUV (stream writers, encoders).
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/image.h"

namespace vt {

// A picture in 4:2:0 planes, 8-bit, BT.601 limited range (what YUV consumers take): a view
// into planes owned elsewhere (a decoder's frame, a YuvImage). Chroma planes are
// ceil(width/2) x ceil(height/2).
struct YuvView {
  int width = 0, height = 0;
  const uint8_t* plane[3] = {nullptr, nullptr, nullptr};
  int stride[3] = {0, 0, 0};
  bool empty() const { return width <= 0 || height <= 0 || !plane[0]; }
};

// 4:2:0 planes of its own, each row padded for writers' whole-block stores.
struct YuvImage {
  int width = 0, height = 0;
  int stride[3] = {0, 0, 0};
  PixelBuffer storage;  // the three planes, one after the other

  void resize(int w, int h) {
    width = w > 0 ? w : 0;
    height = h > 0 ? h : 0;
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    auto padded = [](int n) {
      return (n + kWriterRowBytes - 1) / kWriterRowBytes * kWriterRowBytes;
    };
    stride[0] = padded(width);
    stride[1] = stride[2] = padded(cw);
    size_t bytes = (size_t)stride[0] * height + 2 * (size_t)stride[1] * ch;
    storage.resize((bytes + sizeof(Pixel) - 1) / sizeof(Pixel));
  }
  uint8_t* plane(int p) {
    auto* base = reinterpret_cast<uint8_t*>(storage.data());
    const size_t luma = (size_t)stride[0] * height, chroma = (size_t)stride[1] * ((height + 1) / 2);
    return p == 0 ? base : base + luma + (size_t)(p - 1) * chroma;
  }
  YuvView view() const {
    YuvView v;
    v.width = width;
    v.height = height;
    for (int p = 0; p < 3; ++p) {
      v.plane[p] = const_cast<YuvImage*>(this)->plane(p);
      v.stride[p] = stride[p];
    }
    return v;
  }
};

}  // namespace vt

#include "codec/y4m.h"

#include <MacErrors.h>

namespace vt::codec {

struct Y4mWriter::Impl {
  std::FILE* out = nullptr;
  int width = 0, height = 0, fpsNum = 0, fpsDen = 1;
  bool headerWritten = false;
  YuvConverter converter;
  YuvImage yuv;
};

Y4mWriter::Y4mWriter(std::FILE* out, int width, int height, int fpsNum, int fpsDen)
    : impl_(std::make_unique<Impl>()) {
  impl_->out = out;
  impl_->width = width;
  impl_->height = height;
  impl_->fpsNum = fpsNum;
  impl_->fpsDen = fpsDen > 0 ? fpsDen : 1;
}

Y4mWriter::~Y4mWriter() = default;

OSErr Y4mWriter::write(const Image& frame) {
  Impl& s = *impl_;
  if (frame.width != s.width || frame.height != s.height || frame.empty()) return paramErr;
  if (OSErr err = s.converter.toYuv(frame, s.yuv)) return err;
  return write(s.yuv.view());
}

OSErr Y4mWriter::write(const YuvView& frame) {
  Impl& s = *impl_;
  if (frame.width != s.width || frame.height != s.height || frame.empty()) return paramErr;
  if (!s.headerWritten) {
    if (std::fprintf(s.out, "YUV4MPEG2 W%d H%d F%d:%d Ip A1:1 C420jpeg XYSCSS=420JPEG\n", s.width,
                     s.height, s.fpsNum, s.fpsDen) < 0)
      return ioErr;
    s.headerWritten = true;
  }
  if (std::fputs("FRAME\n", s.out) < 0) return ioErr;
  const int cw = (s.width + 1) / 2, ch = (s.height + 1) / 2;
  const int widths[3] = {s.width, cw, cw}, heights[3] = {s.height, ch, ch};
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < heights[p]; ++y)
      if (std::fwrite(frame.plane[p] + (size_t)y * frame.stride[p], 1, (size_t)widths[p], s.out) !=
          (size_t)widths[p])
        return ioErr;
  return noErr;
}

}  // namespace vt::codec

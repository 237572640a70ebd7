#include "codec/yuv.h"

#include <MacErrors.h>

#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace vt::codec {

bool yuvViewOf(const Frame& frame, int width, int height, YuvView& out) {
  const AVFrame* f = frame.av();
  if (!f || frame.empty() || f->format != AV_PIX_FMT_YUV420P) return false;
  if (f->color_range == AVCOL_RANGE_JPEG) return false;
  // The matrices a decoded frame is converted with as BT.601.
  if (f->colorspace != AVCOL_SPC_UNSPECIFIED && f->colorspace != AVCOL_SPC_BT470BG &&
      f->colorspace != AVCOL_SPC_SMPTE170M)
    return false;
  if (width > 0 && height > 0 && (f->width != width || f->height != height)) return false;
  out.width = f->width;
  out.height = f->height;
  for (int p = 0; p < 3; ++p) {
    out.plane[p] = f->data[p];
    out.stride[p] = f->linesize[p];
  }
  return true;
}

struct YuvConverter::Impl {
  SwsContext* toYuv = nullptr;
  SwsContext* toRgb = nullptr;
  int yuvW = 0, yuvH = 0, rgbW = 0, rgbH = 0;
  AVFrame* scratch = av_frame_alloc();  // padded rows when the image's cannot take the stores
  // The planes-to-image scaler for w x h, made again when the size changes; null when it
  // cannot be made.
  SwsContext* rgbScaler(int w, int h) {
    if (!toRgb || rgbW != w || rgbH != h) {
      sws_freeContext(toRgb);
      toRgb = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_RGB32, SWS_BICUBIC, nullptr,
                             nullptr, nullptr);
      rgbW = toRgb ? w : 0;
      rgbH = toRgb ? h : 0;
    }
    return toRgb;
  }
  ~Impl() {
    sws_freeContext(toYuv);
    sws_freeContext(toRgb);
    av_frame_free(&scratch);
  }
};

YuvConverter::YuvConverter() : impl_(std::make_unique<Impl>()) {}
YuvConverter::~YuvConverter() = default;

OSErr YuvConverter::toYuv(const Image& in, YuvImage& out) {
  Impl& s = *impl_;
  if (in.empty()) return paramErr;
  if (!s.toYuv || s.yuvW != in.width || s.yuvH != in.height) {
    sws_freeContext(s.toYuv);
    s.toYuv = sws_getContext(in.width, in.height, AV_PIX_FMT_RGB32, in.width, in.height,
                             AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!s.toYuv) return memFullErr;
    s.yuvW = in.width;
    s.yuvH = in.height;
  }
  out.resize(in.width, in.height);
  const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(in.pixels.data())};
  const int srcStride[1] = {in.width * 4};
  uint8_t* dst[3] = {out.plane(0), out.plane(1), out.plane(2)};
  return sws_scale(s.toYuv, src, srcStride, 0, in.height, dst, out.stride) > 0 ? (OSErr)noErr
                                                                               : (OSErr)codecErr;
}

OSErr YuvConverter::toImage(const YuvView& in, Image& out) {
  Impl& s = *impl_;
  if (in.empty() || !s.scratch) return in.empty() ? (OSErr)paramErr : (OSErr)memFullErr;
  if (!s.rgbScaler(in.width, in.height)) return memFullErr;
  out.resize(in.width, in.height);
  // The scaler may store whole blocks past a row's end: straight into the image only when its
  // rows are whole blocks, otherwise into padded rows copied out.
  const bool inPlace = out.rowsTakeBlockStores();
  uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(out.pixels.data())};
  int dstStride[1] = {in.width * 4};
  if (!inPlace) {
    if (s.scratch->width != in.width || s.scratch->height != in.height || !s.scratch->buf[0]) {
      av_frame_unref(s.scratch);
      s.scratch->format = AV_PIX_FMT_RGB32;
      s.scratch->width = in.width;
      s.scratch->height = in.height;
      if (av_frame_get_buffer(s.scratch, 64) < 0) return memFullErr;
    }
    dst[0] = s.scratch->data[0];
    dstStride[0] = s.scratch->linesize[0];
  }
  if (sws_scale(s.toRgb, in.plane, in.stride, 0, in.height, dst, dstStride) <= 0) return codecErr;
  if (!inPlace)
    for (int y = 0; y < in.height; ++y)
      std::memcpy(out.row(y), s.scratch->data[0] + (size_t)y * s.scratch->linesize[0],
                  (size_t)in.width * sizeof(Pixel));
  return noErr;
}

OSErr YuvConverter::toImageRows(const YuvView& in, Image& out, int y0, int y1) {
  Impl& s = *impl_;
  if (in.empty() || out.width != in.width || out.height != in.height ||
      !out.rowsTakeBlockStores() || y0 < 0 || y0 % 2 || y1 > in.height || y1 <= y0 ||
      (y1 % 2 && y1 != in.height))
    return paramErr;
  const int rows = y1 - y0;
  if (!s.rgbScaler(in.width, rows)) return memFullErr;
  const uint8_t* src[3] = {in.plane[0] + (size_t)y0 * in.stride[0],
                           in.plane[1] + (size_t)(y0 / 2) * in.stride[1],
                           in.plane[2] + (size_t)(y0 / 2) * in.stride[2]};
  uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(out.row(y0))};
  int dstStride[1] = {in.width * 4};
  return sws_scale(s.toRgb, src, in.stride, 0, rows, dst, dstStride) > 0 ? (OSErr)noErr
                                                                         : (OSErr)codecErr;
}

}  // namespace vt::codec

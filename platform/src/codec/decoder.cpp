#include "codec/decoder.h"

#include <MacErrors.h>

#include <cstring>
#include <deque>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vt::codec {

namespace {

// Sample description codes are big-endian; FFmpeg's tag tables hold them byte-reversed.
unsigned int avTag(OSType codec) {
  return ((codec >> 24) & 0xFF) | ((codec >> 8) & 0xFF00) | ((codec << 8) & 0xFF0000) |
         ((codec << 24) & 0xFF000000u);
}

// Movie codes first; codes of the AVI family name the codecs movie files have no code for.
AVCodecID codecIdFor(OSType codec) {
  const AVCodecTag* tables[] = {avformat_get_mov_video_tags(), avformat_get_riff_video_tags(),
                                nullptr};
  return av_codec_get_id(tables, avTag(codec));
}

bool hasAlpha(int format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get((AVPixelFormat)format);
  return d && (d->flags & AV_PIX_FMT_FLAG_ALPHA);
}

// Frames beyond this count would be pathological: the decoder never hands back this many
// before we drain or seek.
constexpr size_t kMaxQueuedFrames = 64;

}  // namespace

void quietLibraries() {
  // Damaged input is reported through our error codes; the libraries' own complaints would
  // only clutter the application's standard error.
  static const bool done = [] {
    av_log_set_level(AV_LOG_FATAL);
    return true;
  }();
  (void)done;
}

bool codecKnown(OSType codec) {
  AVCodecID id = codecIdFor(codec);
  return id != AV_CODEC_ID_NONE && avcodec_find_decoder(id) != nullptr;
}

Frame::Frame() : frame_(av_frame_alloc()) {}
Frame::~Frame() { av_frame_free(&frame_); }
Frame::Frame(Frame&& o) noexcept : pts(o.pts), frame_(o.frame_) { o.frame_ = av_frame_alloc(); }
Frame& Frame::operator=(Frame&& o) noexcept {
  if (this != &o) {
    av_frame_unref(frame_);
    if (frame_ && o.frame_) av_frame_move_ref(frame_, o.frame_);
    pts = o.pts;
  }
  return *this;
}
bool Frame::empty() const { return !frame_ || !frame_->buf[0]; }
Frame Frame::share() const {
  Frame f;
  if (!empty() && f.frame_ && av_frame_ref(f.frame_, frame_) == 0) f.pts = pts;
  return f;
}
bool Frame::translucent() const { return !empty() && hasAlpha(frame_->format); }

struct VideoDecoder::Impl {
  AVCodecContext* ctx = nullptr;
  AVPacket* pkt = nullptr;
  std::vector<Pixel> palette;
  bool paletteSent = false;
  std::deque<Frame> ready;
  ~Impl() {
    avcodec_free_context(&ctx);
    av_packet_free(&pkt);
  }
};

VideoDecoder::VideoDecoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VideoDecoder::~VideoDecoder() = default;

Result<std::unique_ptr<VideoDecoder>> VideoDecoder::open(const VideoFormat& format, int threads) {
  using R = Result<std::unique_ptr<VideoDecoder>>;
  quietLibraries();
  if (format.width <= 0 || format.height <= 0 ||
      av_image_check_size((unsigned)format.width, (unsigned)format.height, 0, nullptr) < 0)
    return R::failure(badImageDescription);
  AVCodecID id = format.codecID ? (AVCodecID)format.codecID : codecIdFor(format.codec);
  const AVCodec* dec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
  if (!dec) return R::failure(noCodecErr);

  auto impl = std::make_unique<Impl>();
  impl->ctx = avcodec_alloc_context3(dec);
  impl->pkt = av_packet_alloc();
  if (!impl->ctx || !impl->pkt) return R::failure(memFullErr);
  AVCodecContext* c = impl->ctx;
  c->codec_type = AVMEDIA_TYPE_VIDEO;
  c->codec_tag = avTag(format.codec);
  c->width = format.width;
  c->height = format.height;
  // Grey depths (33..40) are 1..8-bit indices into a grey palette; decoders take the bit count.
  c->bits_per_coded_sample = format.depth > 32 ? (format.depth & 0x1F) : format.depth;
  std::vector<uint8_t> config = format.decoderConfig();
  if (!config.empty()) {
    c->extradata = (uint8_t*)av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!c->extradata) return R::failure(memFullErr);
    memcpy(c->extradata, config.data(), config.size());
    c->extradata_size = (int)config.size();
  }
  // 0 lets libavcodec choose (one more frame thread than cores, as its own tools do).
  c->thread_count = threads;
  c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  impl->palette = format.palette();
  if (avcodec_open2(c, dec, nullptr) < 0) return R::failure(noCodecErr);
  return R(std::unique_ptr<VideoDecoder>(new VideoDecoder(std::move(impl))));
}

void VideoDecoder::skipUnreferenced(bool skip) {
  AVCodecContext* c = impl_->ctx;
  switch (c->codec_id) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG4:
      // Frame threads take the setting with each sample they are given.
      c->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
      break;
    default: break;
  }
}

// Moves every frame the decoder has ready into the queue. False on a decoding error.
bool VideoDecoder::pump() {
  while (impl_->ready.size() < kMaxQueuedFrames) {
    Frame f;
    if (!f.av()) return false;
    int r = avcodec_receive_frame(impl_->ctx, f.av());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return false;
    int64_t pts = f.av()->pts;
    if (pts == AV_NOPTS_VALUE) pts = f.av()->best_effort_timestamp;
    f.pts = pts;
    framesOut_++;
    impl_->ready.push_back(std::move(f));
  }
  return true;
}

OSErr VideoDecoder::send(const uint8_t* data, size_t size, int64_t pts, bool sync) {
  if (drained_) return codecErr;
  AVPacket* pkt = impl_->pkt;
  av_packet_unref(pkt);
  if (size == 0 || size > (size_t)INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return codecBadDataErr;
  if (av_new_packet(pkt, (int)size) < 0) return memFullErr;
  memcpy(pkt->data, data, size);
  pkt->pts = pts;
  pkt->dts = AV_NOPTS_VALUE;
  pkt->flags = sync ? AV_PKT_FLAG_KEY : 0;
  if (!impl_->palette.empty() && !impl_->paletteSent) {
    uint8_t* side = av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
    if (side) {
      uint32_t pal[AVPALETTE_COUNT] = {};
      for (size_t i = 0; i < impl_->palette.size() && i < AVPALETTE_COUNT; i++)
        pal[i] = impl_->palette[i] | 0xFF000000u;
      memcpy(side, pal, AVPALETTE_SIZE);
      impl_->paletteSent = true;
    }
  }
  OSErr result = noErr;
  for (int attempt = 0; attempt < 2; attempt++) {
    int r = avcodec_send_packet(impl_->ctx, pkt);
    if (r == AVERROR(EAGAIN)) {
      // The decoder wants its output read first.
      if (!pump()) result = codecBadDataErr;
      continue;
    }
    if (r < 0) result = codecBadDataErr;
    break;
  }
  if (!pump()) result = codecBadDataErr;
  av_packet_unref(pkt);
  return result;
}

void VideoDecoder::drain() {
  if (drained_) return;
  avcodec_send_packet(impl_->ctx, nullptr);
  drained_ = true;
  pump();
}

bool VideoDecoder::receive(Frame& out) {
  if (impl_->ready.empty()) pump();
  if (impl_->ready.empty()) return false;
  out = std::move(impl_->ready.front());
  impl_->ready.pop_front();
  // Make room for frames still inside a draining decoder.
  if (drained_) pump();
  return true;
}

void VideoDecoder::reset() {
  avcodec_flush_buffers(impl_->ctx);
  impl_->ready.clear();
  impl_->paletteSent = false;
  drained_ = false;
}

struct FrameConverter::Impl {
  SwsContext* sws = nullptr;
  int w = 0, h = 0, fmt = -1, space = -1, range = -1, outW = 0, outH = 0;
  int threads = 1;
  AVFrame* dst = av_frame_alloc();      // wraps the image when the scaler writes into it
  AVFrame* scratch = av_frame_alloc();  // the scaler's own buffer, for rows it cannot fill in place
  ~Impl() {
    sws_freeContext(sws);
    av_frame_free(&dst);
    av_frame_free(&scratch);
  }
  bool prepare(const AVFrame* f, int ow, int oh, int colorRange);
};

FrameConverter::FrameConverter(int threads) : impl_(std::make_unique<Impl>()) {
  impl_->threads = threads;
}
FrameConverter::~FrameConverter() = default;

namespace {
void noFree(void*, uint8_t*) {}  // the destination buffer belongs to the image
}  // namespace

bool FrameConverter::Impl::prepare(const AVFrame* f, int ow, int oh, int colorRange) {
  if (sws && w == f->width && h == f->height && fmt == f->format && space == (int)f->colorspace &&
      range == colorRange && outW == ow && outH == oh)
    return true;
  sws_freeContext(sws);
  sws = sws_alloc_context();
  if (!sws) return false;
  av_opt_set_int(sws, "srcw", f->width, 0);
  av_opt_set_int(sws, "srch", f->height, 0);
  av_opt_set_int(sws, "src_format", f->format, 0);
  av_opt_set_int(sws, "dstw", ow, 0);
  av_opt_set_int(sws, "dsth", oh, 0);
  av_opt_set_int(sws, "dst_format", AV_PIX_FMT_RGB32, 0);
  av_opt_set_int(sws, "sws_flags", SWS_BICUBIC, 0);
  // Small frames are not worth handing to other threads.
  av_opt_set_int(sws, "threads", (int64_t)ow * oh >= 640 * 480 ? threads : 1, 0);
  if (sws_init_context(sws, nullptr, nullptr) < 0) {
    sws_freeContext(sws);
    sws = nullptr;
    return false;
  }
  const int* coeffs = sws_getCoefficients(f->colorspace);
  sws_setColorspaceDetails(sws, coeffs, colorRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                           1 << 16, 1 << 16);
  w = f->width;
  h = f->height;
  fmt = f->format;
  space = (int)f->colorspace;
  range = colorRange;
  outW = ow;
  outH = oh;
  return true;
}

OSErr FrameConverter::convert(const Frame& frame, Image& out, int width, int height) {
  const AVFrame* f = frame.av();
  if (!f || frame.empty() || f->width <= 0 || f->height <= 0) return codecErr;
  if (width <= 0 || height <= 0) {
    width = f->width;
    height = f->height;
  }
  Impl& s = *impl_;
  if (!s.dst || !s.scratch) return memFullErr;
  if (!s.prepare(f, width, height, f->color_range == AVCOL_RANGE_JPEG ? 1 : 0)) return codecErr;
  out.resize(width, height);
  // The scaler stores whole SIMD blocks and may run past the end of a row: it writes into the
  // image itself only when the image's rows are a whole number of such blocks, otherwise into
  // its own padded frame, whose rows are then copied out.
  const bool inPlace = out.rowsTakeBlockStores();
  AVFrame* target = s.scratch;
  if (inPlace) {
    target = s.dst;
    av_frame_unref(target);
    target->format = AV_PIX_FMT_RGB32;
    target->width = width;
    target->height = height;
    target->data[0] = reinterpret_cast<uint8_t*>(out.pixels.data());
    target->linesize[0] = width * 4;
    target->buf[0] =
        av_buffer_create(target->data[0], out.pixels.size() * sizeof(Pixel), noFree, nullptr, 0);
    if (!target->buf[0]) return memFullErr;
  } else if (target->width != width || target->height != height || !target->buf[0]) {
    av_frame_unref(target);
    target->format = AV_PIX_FMT_RGB32;
    target->width = width;
    target->height = height;
    if (av_frame_get_buffer(target, 64) < 0) return memFullErr;
  }
  // Pictures of formats without alpha come out opaque (the size sweep checks every format).
  int r = sws_scale_frame(s.sws, target, f);
  if (r >= 0 && !inPlace)
    for (int y = 0; y < height; ++y)
      std::memcpy(out.row(y), target->data[0] + (size_t)y * target->linesize[0],
                  (size_t)width * sizeof(Pixel));
  if (inPlace) av_frame_unref(target);
  return r < 0 ? (OSErr)codecErr : (OSErr)noErr;
}

}  // namespace vt::codec

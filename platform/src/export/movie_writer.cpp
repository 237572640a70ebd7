// The encoder and muxer of a movie file: pictures converted or copied into the encoder's pixel
// format, encoded, and interleaved with the sound in MPEG-4 or QuickTime.
#include <MacErrors.h>

#include "export/writers.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace vt::exporter {

std::string chunkTag(const Options& o, int64_t firstFrame, int64_t frames) {
  return "vantrel chunk " + std::to_string(o.chunk) + "/" + std::to_string(o.chunks) + " frames " +
         std::to_string(firstFrame) + "+" + std::to_string(frames);
}

OSErr writePackets(AVFormatContext* fmt, AVCodecContext* enc, AVStream* stream, AVPacket* pkt,
                   const std::function<void(AVPacket*)>& adjust) {
  for (;;) {
    int r = avcodec_receive_packet(enc, pkt);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return noErr;
    if (r < 0) return codecErr;
    if (adjust) adjust(pkt);
    pkt->duration = pkt->duration > 0 ? pkt->duration : 1;
    av_packet_rescale_ts(pkt, enc->time_base, stream->time_base);
    pkt->stream_index = stream->index;
    r = av_interleaved_write_frame(fmt, pkt);
    if (r < 0) return fromAv(r);
    if (fmt->pb->error < 0) return fromAv(fmt->pb->error);
  }
}

OSErr openEncoder(const char* name, AVPixelFormat fmt, const Plan& p, bool globalHeader,
                  const Options& o, AVCodecContext*& ctx) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (!codec) return noCodecErr;
  ctx = avcodec_alloc_context3(codec);
  if (!ctx) return memFullErr;
  ctx->width = p.width;
  ctx->height = p.height;
  ctx->pix_fmt = fmt;
  ctx->time_base = p.exactRate ? AVRational{p.fpsDen, p.fpsNum} : AVRational{1, p.scale};
  ctx->framerate = AVRational{p.fpsNum, p.fpsDen};
  ctx->sample_aspect_ratio = AVRational{1, 1};
  if (fmt != AV_PIX_FMT_RGB24) {
    // The converter's matrix and range.
    ctx->colorspace = AVCOL_SPC_SMPTE170M;
    ctx->color_range = AVCOL_RANGE_MPEG;
  }
  if (globalHeader) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* opts = nullptr;
  if (o.format == Format::h264) {
    av_dict_set(&opts, "preset", o.preset.c_str(), 0);
    av_dict_set_int(&opts, "crf", o.crf, 0);
  } else if (o.format == Format::prores) {
    av_dict_set(&opts, "profile", "standard", 0);
  }
  int r = avcodec_open2(ctx, codec, &opts);
  av_dict_free(&opts);
  return r < 0 ? (OSErr)paramErr : (OSErr)noErr;
}

Converter::~Converter() {
  sws_freeContext(sws_);
  av_frame_free(&frame_);
}

OSErr Converter::open(int w, int h, AVPixelFormat fmt) {
  sws_ = sws_getContext(w, h, AV_PIX_FMT_RGB32, w, h, fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
  frame_ = av_frame_alloc();
  if (!sws_ || !frame_) return memFullErr;
  frame_->format = fmt;
  frame_->width = w;
  frame_->height = h;
  return noErr;
}

AVFrame* Converter::convert(const Image& image) {
  // The encoder may still hold the last frame's planes: give this one fresh ones if so.
  if (!frame_->buf[0] ? av_frame_get_buffer(frame_, 64) < 0 : av_frame_make_writable(frame_) < 0)
    return nullptr;
  const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(image.pixels.data())};
  const int stride[1] = {image.width * 4};
  sws_scale(sws_, src, stride, 0, image.height, frame_->data, frame_->linesize);
  return frame_;
}

AVFrame* Converter::fromPlanes(const YuvView& planes) {
  const int w = frame_->width, h = frame_->height;
  if (frame_->format != AV_PIX_FMT_YUV420P || planes.width != w || planes.height != h)
    return nullptr;
  if (!frame_->buf[0] ? av_frame_get_buffer(frame_, 64) < 0 : av_frame_make_writable(frame_) < 0)
    return nullptr;
  const uint8_t* src[4] = {planes.plane[0], planes.plane[1], planes.plane[2], nullptr};
  const int stride[4] = {planes.stride[0], planes.stride[1], planes.stride[2], 0};
  av_image_copy(frame_->data, frame_->linesize, src, stride, AV_PIX_FMT_YUV420P, w, h);
  return frame_;
}

MovieWriter::~MovieWriter() {
  avcodec_free_context(&enc_);
  if (fmt_) {
    if (fmt_->pb && !closed_) avio_closep(&fmt_->pb);
    avformat_free_context(fmt_);
  }
  av_packet_free(&pkt_);
}

OSErr MovieWriter::open(const std::string& file, const Plan& p, const Options& o,
                        const SoundPlan& sound) {
  const bool h264 = o.format == Format::h264;
  if (avformat_alloc_output_context2(&fmt_, nullptr, h264 ? "mp4" : "mov", file.c_str()) < 0)
    return memFullErr;
  const AVPixelFormat pix = h264 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV422P10LE;
  bool global = fmt_->oformat->flags & AVFMT_GLOBALHEADER;
  if (OSErr err = openEncoder(h264 ? "libx264" : "prores_ks", pix, p, global, o, enc_)) return err;
  if (OSErr err = conv_.open(p.width, p.height, pix)) return err;
  pkt_ = av_packet_alloc();
  if (!pkt_) return memFullErr;
  if (OSErr err = addStream(enc_, stream_)) return err;
  // A chunk says which it is, so a join can tell a missing, repeated or foreign one.
  if (o.chunks > 0 &&
      av_dict_set(&fmt_->metadata, "comment", chunkTag(o, p.firstFrame, p.frames).c_str(), 0) < 0)
    return memFullErr;
  stream_->avg_frame_rate = enc_->framerate;
  if (sound.present) {
    if (OSErr err = sound_.open(sound, h264, global)) return err;
    if (OSErr err = addStream(sound_.context(), soundStream_)) return err;
  }
  int r = avio_open(&fmt_->pb, file.c_str(), AVIO_FLAG_WRITE);
  if (r < 0) return fromAv(r);
  r = avformat_write_header(fmt_, nullptr);
  return r < 0 ? fromAv(r) : (OSErr)noErr;
}

OSErr MovieWriter::send(AVFrame* f, int64_t index, const Plan& p) {
  if (!f) return memFullErr;
  f->pts = p.ptsOf(index);
  // The encoder may reorder; each packet finds its frame's length by its time.
  durations_[f->pts] = p.durationOf(index);
  int r = avcodec_send_frame(enc_, f);
  return r < 0 ? (OSErr)codecErr : drain(enc_, stream_);
}

OSErr MovieWriter::writeSound(const std::vector<float>& samples, int channels, bool last) {
  if (!soundStream_) return noErr;
  return sound_.add(samples.data(), samples.size() / channels, last,
                    [&](AVCodecContext* enc) { return drain(enc, soundStream_); });
}

OSErr MovieWriter::finish() {
  int r = avcodec_send_frame(enc_, nullptr);
  if (r < 0) return codecErr;
  if (OSErr err = drain(enc_, stream_)) return err;
  r = av_write_trailer(fmt_);
  if (r < 0) return fromAv(r);
  closed_ = true;
  r = avio_closep(&fmt_->pb);
  return r < 0 ? fromAv(r) : (OSErr)noErr;
}

OSErr MovieWriter::addStream(AVCodecContext* enc, AVStream*& stream) {
  stream = avformat_new_stream(fmt_, nullptr);
  if (!stream) return memFullErr;
  stream->time_base = enc->time_base;
  return avcodec_parameters_from_context(stream->codecpar, enc) < 0 ? (OSErr)memFullErr
                                                                    : (OSErr)noErr;
}

OSErr MovieWriter::drain(AVCodecContext* enc, AVStream* stream) {
  if (enc != enc_) return writePackets(fmt_, enc, stream, pkt_);
  return writePackets(fmt_, enc, stream, pkt_, [&](AVPacket* k) {
    auto it = durations_.find(k->pts);
    if (it != durations_.end()) {
      k->duration = it->second;
      durations_.erase(it);
    }
  });
}

}  // namespace vt::exporter

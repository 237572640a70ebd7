#include "codec/audio_decoder.h"

#include <MacErrors.h>

#include <cstring>

#include "codec/decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace vt::codec {

struct AudioDecoder::Impl {
  AVCodecContext* ctx = nullptr;
  AVPacket* pkt = nullptr;
  AVFrame* frame = nullptr;
  SwrContext* swr = nullptr;
  // What the converter was set up for.
  AVChannelLayout inLayout{};
  int inRate = 0, inFormat = -1;
  ~Impl() {
    swr_free(&swr);
    av_channel_layout_uninit(&inLayout);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
  }
};

AudioDecoder::AudioDecoder(std::unique_ptr<Impl> impl, int outRate, int outChannels)
    : impl_(std::move(impl)), outRate_(outRate), outChannels_(outChannels) {}
AudioDecoder::~AudioDecoder() = default;

Result<std::unique_ptr<AudioDecoder>> AudioDecoder::open(const AudioFormat& f, int outRate,
                                                         int outChannels, int timeScale) {
  using R = Result<std::unique_ptr<AudioDecoder>>;
  quietLibraries();
  if (outRate <= 0 || outChannels <= 0 || outChannels > 8) return R::failure(paramErr);
  const AVCodec* dec = f.codecID ? avcodec_find_decoder((AVCodecID)f.codecID) : nullptr;
  if (!dec || dec->type != AVMEDIA_TYPE_AUDIO) return R::failure(noCodecErr);
  auto impl = std::make_unique<Impl>();
  impl->ctx = avcodec_alloc_context3(dec);
  impl->pkt = av_packet_alloc();
  impl->frame = av_frame_alloc();
  if (!impl->ctx || !impl->pkt || !impl->frame) return R::failure(memFullErr);
  AVCodecContext* c = impl->ctx;
  c->sample_rate = f.sampleRate;
  if (f.channels > 0) av_channel_layout_default(&c->ch_layout, f.channels);
  c->bits_per_coded_sample = f.bitsPerSample;
  if (f.framesPerPacket > 0) c->block_align = (int)f.bytesPerPacket;
  c->thread_count = 1;
  c->pkt_timebase =
      AVRational{1, timeScale > 0 ? timeScale : (f.sampleRate > 0 ? f.sampleRate : 1)};
  if (!f.config.empty()) {
    c->extradata = (uint8_t*)av_mallocz(f.config.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!c->extradata) return R::failure(memFullErr);
    std::memcpy(c->extradata, f.config.data(), f.config.size());
    c->extradata_size = (int)f.config.size();
  }
  // Damaged data is reported through results, never by aborting or guessing wildly.
  c->err_recognition = AV_EF_CRCCHECK;
  if (avcodec_open2(c, dec, nullptr) < 0) return R::failure(noCodecErr);
  return R(std::unique_ptr<AudioDecoder>(new AudioDecoder(std::move(impl), outRate, outChannels)));
}

bool AudioDecoder::receiveAll(std::vector<float>& out, int64_t* firstTime) {
  Impl& s = *impl_;
  for (;;) {
    int r = avcodec_receive_frame(s.ctx, s.frame);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return false;
    AVFrame* fr = s.frame;
    if (firstTime && *firstTime == kNoTime) {
      int64_t t = fr->best_effort_timestamp != AV_NOPTS_VALUE ? fr->best_effort_timestamp : fr->pts;
      if (t != AV_NOPTS_VALUE) *firstTime = t;
    }
    if (fr->nb_samples <= 0 || fr->sample_rate <= 0 || fr->ch_layout.nb_channels <= 0) {
      av_frame_unref(fr);
      continue;
    }
    AVChannelLayout in{};
    if (fr->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      av_channel_layout_default(&in, fr->ch_layout.nb_channels);
    else
      av_channel_layout_copy(&in, &fr->ch_layout);
    if (!s.swr || s.inRate != fr->sample_rate || s.inFormat != fr->format ||
        av_channel_layout_compare(&s.inLayout, &in) != 0) {
      swr_free(&s.swr);
      AVChannelLayout outLayout{};
      av_channel_layout_default(&outLayout, outChannels_);
      int ok = swr_alloc_set_opts2(&s.swr, &outLayout, AV_SAMPLE_FMT_FLT, outRate_, &in,
                                   (AVSampleFormat)fr->format, fr->sample_rate, 0, nullptr);
      // A single channel plays at full level on every output channel.
      if (ok >= 0 && in.nb_channels == 1) {
        double matrix[8] = {1, 1, 1, 1, 1, 1, 1, 1};
        ok = swr_set_matrix(s.swr, matrix, 1);
      }
      if (ok >= 0) ok = swr_init(s.swr);
      av_channel_layout_uninit(&outLayout);
      if (ok < 0) {
        swr_free(&s.swr);
        av_channel_layout_uninit(&in);
        av_frame_unref(fr);
        return false;
      }
      av_channel_layout_uninit(&s.inLayout);
      av_channel_layout_copy(&s.inLayout, &in);
      s.inRate = fr->sample_rate;
      s.inFormat = fr->format;
    }
    av_channel_layout_uninit(&in);
    int room = swr_get_out_samples(s.swr, fr->nb_samples);
    if (room < 0) {
      av_frame_unref(fr);
      return false;
    }
    size_t at = out.size();
    out.resize(at + (size_t)room * outChannels_);
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + at);
    int got = swr_convert(s.swr, &dst, room, (const uint8_t**)fr->extended_data, fr->nb_samples);
    out.resize(at + (size_t)std::max(got, 0) * outChannels_);
    av_frame_unref(fr);
    if (got < 0) return false;
  }
}

OSErr AudioDecoder::decode(const uint8_t* data, size_t size, int64_t time, std::vector<float>& out,
                           int64_t* firstTime) {
  Impl& s = *impl_;
  if (firstTime) *firstTime = kNoTime;
  if (!data || size == 0 || size > (size_t)INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)
    return codecBadDataErr;
  av_packet_unref(s.pkt);
  if (av_new_packet(s.pkt, (int)size) < 0) return memFullErr;
  std::memcpy(s.pkt->data, data, size);
  s.pkt->pts = s.pkt->dts = time;
  bool ok = true;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int r = avcodec_send_packet(s.ctx, s.pkt);
    if (r == AVERROR(EAGAIN)) {
      ok = receiveAll(out, firstTime) && ok;
      continue;
    }
    if (r < 0) ok = false;
    break;
  }
  av_packet_unref(s.pkt);
  ok = receiveAll(out, firstTime) && ok;
  return ok ? (OSErr)noErr : (OSErr)codecBadDataErr;
}

void AudioDecoder::drain(std::vector<float>& out) {
  Impl& s = *impl_;
  avcodec_send_packet(s.ctx, nullptr);
  receiveAll(out, nullptr);
  if (s.swr) {
    int room = swr_get_out_samples(s.swr, 0);
    if (room > 0) {
      size_t at = out.size();
      out.resize(at + (size_t)room * outChannels_);
      uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + at);
      int got = swr_convert(s.swr, &dst, room, nullptr, 0);
      out.resize(at + (size_t)std::max(got, 0) * outChannels_);
    }
  }
  avcodec_flush_buffers(s.ctx);
}

void AudioDecoder::reset() {
  avcodec_flush_buffers(impl_->ctx);
  // The converter's history belongs to the old position.
  swr_free(&impl_->swr);
  impl_->inRate = 0;
}

}  // namespace vt::codec

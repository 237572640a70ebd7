// The sound of an export: which rate and channels it keeps, and its AAC or PCM encoder.
#include <MacErrors.h>
#include <Movies.h>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "codec/audio_format.h"
#include "export/writers.h"
#include "model/model.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace vt::exporter {

int64_t SoundPlan::endOf(const Plan& p, int64_t i) const {
  if (p.exactRate) return vt::movie::scaleDown(i * p.fpsDen, rate, p.fpsNum);
  return vt::movie::scaleDown(p.timeOf(i) - p.timeOf(0), rate, p.scale);
}

SoundPlan soundPlan(VTMovie* movie, const Plan& p, Format format) {
  SoundPlan s;
  int rate = 0, channels = 0;
  for (const auto& t : movie->tracks) {
    const VTMedia* m = t->media.get();
    if (!t->enabled() || t->volume <= 0 || !m || m->mediaType != SoundMediaType ||
        m->sampleCount() == 0)
      continue;
    s.present = true;
    for (const auto& d : m->descriptions) {
      vt::codec::AudioFormat f;
      if (!vt::codec::parseSoundEntry(d.bytes.data(), d.bytes.size(), f)) continue;
      rate = std::max(rate, f.sampleRate > 0 ? f.sampleRate : (int)m->timeScale);
      channels = std::max(channels, f.channels);
    }
  }
  // AAC knows a few rates only; others are heard at 48 kHz.
  static const int aacRates[] = {8000,  11025, 12000, 16000, 22050, 24000,
                                 32000, 44100, 48000, 64000, 88200, 96000};
  if (format != Format::h264 ? rate >= 8000 && rate <= 192000
                             : std::count(std::begin(aacRates), std::end(aacRates), rate) > 0)
    s.rate = rate;
  s.channels = channels == 1 ? 1 : 2;
  s.start = vt::movie::scaleNearest(p.first, s.rate, p.scale);
  return s;
}

SoundEncoder::~SoundEncoder() {
  avcodec_free_context(&enc_);
  av_frame_free(&frame_);
}

OSErr SoundEncoder::open(const SoundPlan& s, bool aac, bool globalHeader) {
  const AVCodec* codec = avcodec_find_encoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_PCM_S24LE);
  if (!codec) return noCodecErr;
  enc_ = avcodec_alloc_context3(codec);
  frame_ = av_frame_alloc();
  if (!enc_ || !frame_) return memFullErr;
  enc_->sample_rate = s.rate;
  enc_->sample_fmt = aac ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S32;
  av_channel_layout_default(&enc_->ch_layout, s.channels);
  enc_->time_base = AVRational{1, s.rate};
  if (aac) enc_->bit_rate = 96000 * s.channels;
  if (globalHeader) enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(enc_, codec, nullptr) < 0) return paramErr;
  // PCM takes frames of any length.
  chunk_ = enc_->frame_size > 0 ? enc_->frame_size : 4096;
  channels_ = s.channels;
  return noErr;
}

OSErr SoundEncoder::add(const float* samples, size_t frames, bool last, const Deliver& deliver) {
  held_.insert(held_.end(), samples, samples + frames * channels_);
  size_t at = 0, have = held_.size() / channels_;
  while (have - at >= (size_t)chunk_ || (last && at < have)) {
    int n = (int)std::min<size_t>(chunk_, have - at);
    if (OSErr err = send(held_.data() + at * channels_, n, deliver)) return err;
    at += n;
  }
  held_.erase(held_.begin(), held_.begin() + (ptrdiff_t)(at * channels_));
  if (!last) return noErr;
  if (avcodec_send_frame(enc_, nullptr) < 0) return codecErr;
  return deliver(enc_);
}

OSErr SoundEncoder::send(const float* in, int n, const Deliver& deliver) {
  av_frame_unref(frame_);
  frame_->format = enc_->sample_fmt;
  frame_->sample_rate = enc_->sample_rate;
  frame_->nb_samples = n;
  if (av_channel_layout_copy(&frame_->ch_layout, &enc_->ch_layout) < 0 ||
      av_frame_get_buffer(frame_, 0) < 0)
    return memFullErr;
  for (int c = 0; c < channels_; c++)
    for (int i = 0; i < n; i++) {
      float v = std::clamp(in[(size_t)i * channels_ + c], -1.0f, 1.0f);
      if (enc_->sample_fmt == AV_SAMPLE_FMT_FLTP)
        reinterpret_cast<float*>(frame_->data[c])[i] = v;
      else  // 24 bits in the high bytes of 32
        reinterpret_cast<int32_t*>(frame_->data[0])[(size_t)i * channels_ + c] =
            (int32_t)std::lrint(v * 8388607.0f) * 256;
    }
  frame_->pts = pts_;
  pts_ += n;
  if (avcodec_send_frame(enc_, frame_) < 0) return codecErr;
  return deliver(enc_);
}

}  // namespace vt::exporter

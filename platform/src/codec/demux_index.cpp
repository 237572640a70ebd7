#include "codec/demux_index.h"

#include <MacErrors.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "codec/audio_format.h"
#include "core/fourcc.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace vt::codec {

namespace {

// A container reporting more frames than this is refused rather than indexed.
constexpr size_t kMaxIndexedSamples = 5'000'000;

OSType osTypeFromAvTag(unsigned int tag) {
  return ((tag & 0xFF) << 24) | ((tag & 0xFF00) << 8) | ((tag >> 8) & 0xFF00) | (tag >> 24);
}

void putAtom(std::vector<uint8_t>& out, OSType type, const uint8_t* data, size_t size) {
  size_t at = out.size();
  out.resize(at + 8 + size);
  writeBE32(&out[at], (uint32_t)(8 + size));
  writeBE32(&out[at + 4], type);
  if (size) std::memcpy(&out[at + 8], data, size);
}

// Media time = raw time * num over a scale of den: exact for every rational time base.
bool timeBaseToScale(AVRational tb, int64_t& num, TimeScale& scale) {
  int64_t n = tb.num, den = tb.den;
  if (n <= 0 || den <= 0) return false;
  int64_t g = std::gcd(n, den);
  n /= g;
  den /= g;
  while (den > INT32_MAX) {  // absurd time bases lose precision rather than overflow
    den /= 2;
    n = std::max<int64_t>(1, n / 2);
  }
  num = n;
  scale = (TimeScale)den;
  return true;
}

// The AudioSpecificConfig an ADTS header describes.
std::vector<uint8_t> adtsConfig(const uint8_t* h) {
  int objectType = (h[2] >> 6) + 1, rateIndex = (h[2] >> 2) & 0xF;
  int channels = ((h[2] & 1) << 2) | (h[3] >> 6);
  return {(uint8_t)((objectType << 3) | (rateIndex >> 1)),
          (uint8_t)(((rateIndex & 1) << 7) | (channels << 3))};
}

// Bytes of the ADTS header that frames a single raw AAC block, 0 for anything else.
uint8_t adtsHeader(const uint8_t* p, int size) {
  if (size < 9 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || (p[6] & 3) != 0) return 0;
  return (p[1] & 1) ? 7 : 9;
}

struct RawPacket {
  int64_t pos, pts, dts, dur;
  int size;
  uint8_t skip;
  bool key;
};

// Video: display times sorted give the decode times, so offsets carry the reordering whatever
// decode stamps the container had (Matroska has none). Answers the first display time (raw).
int64_t indexVideo(DemuxStream& s, const std::vector<RawPacket>& raw) {
  size_t n = raw.size();
  std::vector<int64_t> pts(n);
  int64_t defaultDur = 0;
  for (const RawPacket& p : raw)
    if (p.dur > 0) {
      defaultDur = p.dur;
      break;
    }
  if (defaultDur <= 0) defaultDur = 1;
  // Packets without a display time continue from the previous.
  for (size_t i = 0; i < n; i++) {
    int64_t t = raw[i].pts != AV_NOPTS_VALUE ? raw[i].pts : raw[i].dts;
    if (t == AV_NOPTS_VALUE) t = i ? pts[i - 1] + defaultDur : 0;
    pts[i] = t;
  }
  std::vector<int64_t> sorted = pts;
  std::sort(sorted.begin(), sorted.end());
  int64_t first = sorted.front();
  s.samples.resize(n);
  for (size_t i = 0; i < n; i++) {
    DemuxSample& x = s.samples[i];
    x.pos = raw[i].pos;
    x.rawTime = raw[i].dts != AV_NOPTS_VALUE ? std::min(raw[i].dts, pts[i]) : pts[i];
    x.decodeTime = (sorted[i] - first) * s.tbNum;
    x.compositionOffset = (pts[i] - sorted[i]) * s.tbNum;
    int64_t dur =
        i + 1 < n ? sorted[i + 1] - sorted[i] : (raw[i].dur > 0 ? raw[i].dur : defaultDur);
    x.duration = std::max<int64_t>(dur, 0) * s.tbNum;
    x.size = (uint32_t)raw[i].size;
    x.key = raw[i].key;
  }
  // The last sample of a stream without durations still lasts one frame.
  if (s.samples.back().duration <= 0) s.samples.back().duration = defaultDur * s.tbNum;
  if (!s.samples.front().key) s.samples.front().key = true;  // decoding has to start somewhere
  return first;
}

// Audio: packets follow one another by their own lengths in frames; the container's times
// only mark gaps (and where the stream starts). Answers the first display time (raw);
// `lastExact` tells whether the last packet's length is the codec's own (not already shortened
// by the container to what is to be played).
int64_t indexAudio(DemuxStream& s, const std::vector<RawPacket>& raw, AVStream* st,
                   bool& lastExact) {
  AVCodecParameters* par = st->codecpar;
  double framesPerTick = av_q2d(st->time_base) * s.timeScale;
  size_t n = raw.size();
  int64_t first = AV_NOPTS_VALUE;
  for (const RawPacket& p : raw)
    if (p.pts != AV_NOPTS_VALUE) {
      first = p.pts;
      break;
    }
  if (first == AV_NOPTS_VALUE) first = 0;
  // Lengths the codec states exactly; the others come from the container's times, which are
  // then followed from packet to packet (they may be coarser than a frame, but do not drift).
  std::vector<int64_t> length(n), stamp(n, -1);
  for (size_t i = 0; i < n; ++i) {
    length[i] = std::max(av_get_audio_frame_duration2(par, raw[i].size - raw[i].skip), 0);
    if (raw[i].pts != AV_NOPTS_VALUE)
      stamp[i] = std::llround((double)(raw[i].pts - first) * framesPerTick);
  }
  // A gap longer than this between exactly known packets follows the container's times.
  const int64_t tolerance = std::max<int64_t>(s.timeScale / 50, 1);
  int64_t known = 1024;
  s.samples.resize(n);
  int64_t t = 0;
  for (size_t i = 0; i < n; ++i) {
    if (stamp[i] > t + tolerance || (stamp[i] > t && length[i] == 0)) t = stamp[i];
    DemuxSample& x = s.samples[i];
    x.pos = raw[i].pos;
    x.rawTime = raw[i].pts != AV_NOPTS_VALUE ? raw[i].pts : raw[i].dts;
    x.decodeTime = t;
    x.size = (uint32_t)(raw[i].size - raw[i].skip);
    x.skip = raw[i].skip;
    x.key = true;
    int64_t len = length[i];
    if (len <= 0 && i + 1 < n && stamp[i + 1] > t) len = stamp[i + 1] - t;
    if (len <= 0 && raw[i].dur > 0) len = std::llround((double)raw[i].dur * framesPerTick);
    if (len <= 0) len = known;
    known = len;
    x.duration = len;
    t += len;
  }
  lastExact = n > 0 && length[n - 1] > 0;
  return first;
}

}  // namespace

OSErr describeVideo(AVStream* st, DemuxStream& s) {
  AVCodecParameters* par = st->codecpar;
  if (par->width <= 0 || par->height <= 0 || par->width > 32767 || par->height > 32767)
    return badFileFormat;
  const AVCodecTag* tables[] = {avformat_get_mov_video_tags(), avformat_get_riff_video_tags(),
                                nullptr};
  unsigned int tag = 0;
  if (!av_codec_get_tag2(tables, par->codec_id, &tag)) tag = 0;
  if (!avcodec_find_decoder(par->codec_id)) return noCodecErr;
  if (!timeBaseToScale(st->time_base, s.tbNum, s.timeScale)) return badFileFormat;
  s.avIndex = st->index;

  VideoFormat& f = s.video;
  f.codec = tag ? osTypeFromAvTag(tag) : 0;  // 0: no movie code names it (BMP, WebP, ...)
  f.codecID = par->codec_id;
  f.width = par->width;
  f.height = par->height;
  const AVPixFmtDescriptor* pd = av_pix_fmt_desc_get((AVPixelFormat)par->format);
  f.depth = pd && (pd->flags & AV_PIX_FMT_FLAG_ALPHA) ? 32 : 24;
  std::vector<uint8_t> ext;
  if (par->extradata && par->extradata_size > 0) {
    const uint8_t* x = par->extradata;
    size_t n = (size_t)par->extradata_size;
    if (f.codec == 'avc1' && x[0] == 1)
      putAtom(ext, 'avcC', x, n);
    else if ((f.codec == 'hvc1' || f.codec == 'hev1') && n > 22 && x[0] == 1)
      putAtom(ext, 'hvcC', x, n);
    else if (f.codec == 'mp4v') {
      std::vector<uint8_t> esds = makeEsds(0x20, false, x, n);
      putAtom(ext, 'esds', esds.data(), esds.size());
    } else
      putAtom(ext, 'glbl', x, n);
  }
  f.extensions = ext;

  // The sample description as a movie file stores it.
  std::vector<uint8_t>& e = s.entry;
  e.assign(86, 0);
  writeBE32(&e[0], (uint32_t)(86 + ext.size()));
  writeBE32(&e[4], f.codec ? f.codec : (OSType)kUnknownType);
  writeBE16(&e[14], 1);
  writeBE32(&e[28], 0x200);
  writeBE16(&e[32], (uint16_t)f.width);
  writeBE16(&e[34], (uint16_t)f.height);
  writeBE32(&e[36], 0x00480000);
  writeBE32(&e[40], 0x00480000);
  writeBE16(&e[48], 1);
  const char* cname = avcodec_get_name(par->codec_id);
  size_t clen = std::min<size_t>(std::strlen(cname), 31);
  e[50] = (uint8_t)clen;
  std::memcpy(&e[51], cname, clen);
  writeBE16(&e[82], (uint16_t)f.depth);
  writeBE16(&e[84], 0xFFFF);
  e.insert(e.end(), ext.begin(), ext.end());
  return noErr;
}

bool describeAudio(AVStream* st, DemuxStream& s) {
  AVCodecParameters* par = st->codecpar;
  if (par->sample_rate <= 0 || par->sample_rate > 1000000 || par->ch_layout.nb_channels <= 0 ||
      par->ch_layout.nb_channels > 64 || !avcodec_find_decoder(par->codec_id))
    return false;
  s.avIndex = st->index;
  s.audio = true;
  s.timeScale = par->sample_rate;
  s.enabled = (st->disposition & AV_DISPOSITION_DEFAULT) != 0;
  std::vector<uint8_t> config;
  if (par->extradata && par->extradata_size > 0)
    config.assign(par->extradata, par->extradata + par->extradata_size);
  s.entry = makeSoundEntry(par->codec_id, par->sample_rate, par->ch_layout.nb_channels,
                           par->bits_per_raw_sample, config);
  return true;
}

int64_t DemuxStream::duration() const {
  int64_t end = 0;
  for (const DemuxSample& x : samples)
    end = std::max(end, x.decodeTime + x.compositionOffset + x.duration);
  return end;
}

bool Demuxer::buildIndex(std::vector<DemuxStream>& streams) {
  std::vector<int> slot(fmt_->nb_streams, -1);
  for (size_t k = 0; k < streams.size(); ++k) slot[(size_t)streams[k].avIndex] = (int)k;
  std::vector<std::vector<RawPacket>> raw(streams.size());
  std::vector<int64_t> skipFrames(streams.size(), -1), trailing(streams.size(), 0);
  std::vector<std::vector<uint8_t>> adtsConfigs(streams.size());  // from the first header
  size_t total = 0;
  AVPacket* pkt = pkt_;
  for (;;) {
    int r = av_read_frame(fmt_, pkt);
    if (r < 0) break;  // end of file, or damage from here on: keep what was read
    int k = pkt->stream_index >= 0 && (unsigned)pkt->stream_index < slot.size()
                ? slot[(size_t)pkt->stream_index]
                : -1;
    if (k >= 0 && pkt->size > 0) {
      if (++total > kMaxIndexedSamples) {
        av_packet_unref(pkt);
        return false;
      }
      DemuxStream& s = streams[(size_t)k];
      uint8_t skip = 0;
      if (s.audio && fmt_->streams[s.avIndex]->codecpar->codec_id == AV_CODEC_ID_AAC) {
        skip = adtsHeader(pkt->data, pkt->size);
        if (skip && adtsConfigs[(size_t)k].empty()) adtsConfigs[(size_t)k] = adtsConfig(pkt->data);
      }
      if (s.audio) {
        // Frames the encoder put first or last that are not part of the sound.
        size_t sideSize = 0;
        const uint8_t* side = av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
        auto le32 = [](const uint8_t* b) {
          return (int64_t)(b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24);
        };
        if (side && sideSize >= 4 && raw[(size_t)k].empty()) skipFrames[(size_t)k] = le32(side);
        trailing[(size_t)k] = side && sideSize >= 8 ? le32(side + 4) : 0;
      }
      raw[(size_t)k].push_back({pkt->pos, pkt->pts, pkt->dts, pkt->duration, pkt->size, skip,
                                (pkt->flags & AV_PKT_FLAG_KEY) != 0});
    }
    av_packet_unref(pkt);
  }
  cursor_ = -1;

  std::vector<DemuxStream> kept;
  std::vector<double> firstSeconds;
  for (size_t k = 0; k < streams.size(); ++k) {
    DemuxStream& s = streams[k];
    if (raw[k].empty()) continue;
    AVStream* st = fmt_->streams[s.avIndex];
    double firstTime;
    if (s.audio) {
      bool lastExact = false;
      int64_t first = indexAudio(s, raw[k], st, lastExact);
      AVCodecParameters* par = st->codecpar;
      int64_t skip = skipFrames[k] >= 0 ? skipFrames[k] : par->initial_padding;
      s.delay = std::clamp<int64_t>(skip, 0, s.duration());
      int64_t pad = trailing[k] > 0 ? trailing[k] : par->trailing_padding;
      if (lastExact) s.padding = std::clamp<int64_t>(pad, 0, s.duration() - s.delay);
      firstTime = (double)first * av_q2d(st->time_base) + (double)s.delay / s.timeScale;
      if (!adtsConfigs[k].empty() && (!par->extradata || par->extradata_size == 0))
        s.entry = makeSoundEntry(par->codec_id, par->sample_rate, par->ch_layout.nb_channels,
                                 par->bits_per_raw_sample, adtsConfigs[k]);
    } else {
      firstTime = (double)indexVideo(s, raw[k]) * av_q2d(st->time_base);
    }
    bool positions = true;
    for (size_t i = 0; i < s.samples.size() && positions; ++i)
      if (s.samples[i].pos < 0 || (i && s.samples[i].pos <= s.samples[i - 1].pos))
        positions = false;
    s.byPosition = positions;
    kept.push_back(std::move(s));
    firstSeconds.push_back(firstTime);
  }
  if (kept.empty()) return false;
  // The movie starts with its first picture (copies of it start there, and a window shows it);
  // sound that starts earlier loses its lead, sound that starts later waits behind an empty edit.
  double origin =
      kept[0].audio ? *std::min_element(firstSeconds.begin(), firstSeconds.end()) : firstSeconds[0];
  for (size_t k = 0; k < kept.size(); ++k) {
    DemuxStream& s = kept[k];
    double lead = firstSeconds[k] - origin;
    s.start = std::max(lead, 0.0);
    if (lead < 0) {
      s.delay = std::min<int64_t>(s.delay + std::llround(-lead * s.timeScale), s.duration());
      s.padding = std::min(s.padding, s.duration() - s.delay);
    }
  }
  streams = std::move(kept);
  return true;
}

}  // namespace vt::codec

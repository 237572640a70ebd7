#include "codec/demux.h"

#include <MacErrors.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "codec/decoder.h"
#include "core/fourcc.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace vt::codec {

namespace {

constexpr size_t kSniffBytes = 65536;
// A container reporting more frames than this is refused rather than indexed.
constexpr size_t kMaxIndexedSamples = 5'000'000;

bool readHead(const std::string& path, std::vector<uint8_t>& head, bool& exists) {
  FILE* f = std::fopen(path.c_str(), "rb");
  exists = f != nullptr;
  if (!f) return false;
  head.resize(kSniffBytes);
  size_t n = std::fread(head.data(), 1, head.size(), f);
  bool err = std::ferror(f);
  std::fclose(f);
  head.resize(n);
  return !err;
}

bool isTransportStream(const std::vector<uint8_t>& h, size_t packet, size_t lead) {
  size_t packets = 0;
  for (size_t p = lead; p < h.size(); p += packet) {
    if (h[p] != 0x47) return false;
    packets++;
  }
  return packets >= 2 || (packets == 1 && h.size() == packet);
}

// Matroska's EBML header names its document type; WebM is Matroska restricted to web codecs.
bool matroskaIsWebM(const std::vector<uint8_t>& h) {
  size_t limit = std::min<size_t>(h.size(), 64);
  static const uint8_t kDocType[] = {0x42, 0x82};
  for (size_t i = 4; i + 3 < limit; i++)
    if (h[i] == kDocType[0] && h[i + 1] == kDocType[1]) {
      size_t len = h[i + 2] & 0x7F;
      if (i + 3 + len <= h.size() && len == 4 && std::memcmp(&h[i + 3], "webm", 4) == 0)
        return true;
      return false;
    }
  return false;
}

OSType sniffHead(const std::vector<uint8_t>& h) {
  auto starts = [&](const char* s, size_t n, size_t at = 0) {
    return h.size() >= at + n && std::memcmp(h.data() + at, s, n) == 0;
  };
  if (starts("\x89PNG\r\n\x1a\n", 8)) return 'PNGf';
  if (starts("\xFF\xD8\xFF", 3)) return 'JPEG';
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return 'GIFf';
  if (starts("II*\0", 4) || starts("MM\0*", 4)) return 'TIFF';
  if (starts("RIFF", 4) && starts("WEBP", 4, 8)) return 'WEBP';
  if (starts("RIFF", 4) && starts("AVI ", 4, 8)) return 'VfW ';
  if (starts("BM", 2) && h.size() >= 18) {
    uint32_t dib = h[14] | (h[15] << 8) | (h[16] << 16) | ((uint32_t)h[17] << 24);
    if (dib == 12 || dib == 40 || dib == 52 || dib == 56 || dib == 64 || dib == 108 || dib == 124)
      return 'BMPf';
  }
  if (starts("\x1A\x45\xDF\xA3", 4)) return matroskaIsWebM(h) ? 'WebM' : 'MkvF';
  if (starts("\0\0\x01\xBA", 4) || starts("\0\0\x01\xB3", 4)) return 'MPEG';
  if (isTransportStream(h, 188, 0) || (h.size() > 4 && isTransportStream(h, 192, 4)))
    return 'MPEG';
  return 0;
}

// The libavformat demuxer for a content type; null for types we do not demux.
const char* demuxerFor(OSType type, const std::vector<uint8_t>& h) {
  switch (type) {
    case 'MkvF':
    case 'WebM':
      return "matroska";
    case 'VfW ':
      return "avi";
    case 'MPEG':
      if (h.size() >= 4 && h[0] == 0 && h[1] == 0 && h[2] == 1)
        return h[3] == 0xBA ? "mpeg" : "mpegvideo";
      return "mpegts";
    case 'GIFf':
      return "gif";
    case 'PNGf':
      return "png_pipe";
    case 'JPEG':
      return "jpeg_pipe";
    case 'BMPf':
      return "bmp_pipe";
    case 'TIFF':
      return "tiff_pipe";
    case 'WEBP':
      return "webp_pipe";
    default:
      return nullptr;
  }
}

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

void putDescriptor(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& body) {
  out.push_back(tag);
  size_t n = body.size();
  out.push_back((uint8_t)(0x80 | ((n >> 21) & 0x7F)));
  out.push_back((uint8_t)(0x80 | ((n >> 14) & 0x7F)));
  out.push_back((uint8_t)(0x80 | ((n >> 7) & 0x7F)));
  out.push_back((uint8_t)(n & 0x7F));
  out.insert(out.end(), body.begin(), body.end());
}

// An 'esds' payload carrying the decoder configuration of MPEG-4 visual.
std::vector<uint8_t> makeEsds(const uint8_t* cfg, size_t n) {
  std::vector<uint8_t> dsi(cfg, cfg + n);
  std::vector<uint8_t> dcd = {0x20, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  putDescriptor(dcd, 0x05, dsi);
  std::vector<uint8_t> es = {0, 0, 0};
  putDescriptor(es, 0x04, dcd);
  putDescriptor(es, 0x06, {0x02});
  std::vector<uint8_t> out = {0, 0, 0, 0};
  putDescriptor(out, 0x03, es);
  return out;
}

}  // namespace

bool isImageType(OSType t) {
  return t == 'PNGf' || t == 'JPEG' || t == 'GIFf' ||
         t == 'BMPf' || t == 'TIFF' || t == 'WEBP';
}

bool isMovieImportType(OSType t) {
  return t == 'MkvF' || t == 'WebM' || t == 'VfW ' ||
         t == 'MPEG' || t == 'GIFf';
}

OSType sniffFileType(const std::string& path) {
  std::vector<uint8_t> head;
  bool exists;
  if (!readHead(path, head, exists)) return 0;
  return sniffHead(head);
}

Demuxer::~Demuxer() {
  closeContext();
  av_packet_free(&pkt_);
}

void Demuxer::closeContext() {
  if (fmt_) avformat_close_input(&fmt_);
  cursor_ = -1;
}

bool Demuxer::openContext(bool findInfo) {
  closeContext();
  AVDictionary* opts = nullptr;
  // Only the file itself: no playlists, no network, no other files named inside it.
  av_dict_set(&opts, "protocol_whitelist", "file", 0);
  av_dict_set(&opts, "format_whitelist", input_->name, 0);
  int r = avformat_open_input(&fmt_, path_.c_str(), input_, &opts);
  av_dict_free(&opts);
  if (r < 0) {
    fmt_ = nullptr;
    return false;
  }
  if (findInfo && avformat_find_stream_info(fmt_, nullptr) < 0) {
    closeContext();
    return false;
  }
  cursor_ = 0;
  return true;
}

Result<std::unique_ptr<Demuxer>> Demuxer::open(const std::string& path) {
  using R = Result<std::unique_ptr<Demuxer>>;
  quietLibraries();
  std::vector<uint8_t> head;
  bool exists;
  if (!readHead(path, head, exists)) return R::failure(exists ? ioErr : fnfErr);
  OSType type = sniffHead(head);
  const char* name = demuxerFor(type, head);
  const AVInputFormat* input = name ? av_find_input_format(name) : nullptr;
  if (!input) return R::failure(badFileFormat);

  std::unique_ptr<Demuxer> d(new Demuxer());
  d->path_ = path;
  d->input_ = input;
  d->formatName_ = name;
  d->pkt_ = av_packet_alloc();
  if (!d->pkt_) return R::failure(memFullErr);
  if (!d->openContext(true)) return R::failure(badFileFormat);
  int s = av_find_best_stream(d->fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (s < 0) return R::failure(noVideoTrackInMovieErr);
  d->stream_ = s;
  AVStream* st = d->fmt_->streams[s];
  AVCodecParameters* par = st->codecpar;
  if (par->width <= 0 || par->height <= 0 || par->width > 32767 || par->height > 32767)
    return R::failure(badFileFormat);

  const AVCodecTag* tables[] = {avformat_get_mov_video_tags(), avformat_get_riff_video_tags(),
                                nullptr};
  unsigned int tag = 0;
  if (!av_codec_get_tag2(tables, par->codec_id, &tag)) tag = 0;
  if (!avcodec_find_decoder(par->codec_id)) return R::failure(noCodecErr);

  // Media time = raw time * num over a scale of den: exact for every rational time base.
  int64_t num = st->time_base.num, den = st->time_base.den;
  if (num <= 0 || den <= 0) return R::failure(badFileFormat);
  int64_t g = std::gcd(num, den);
  num /= g;
  den /= g;
  while (den > INT32_MAX) {  // absurd time bases lose precision rather than overflow
    den /= 2;
    num = std::max<int64_t>(1, num / 2);
  }
  d->tbNum_ = num;
  d->timeScale_ = (TimeScale)den;

  VideoFormat& f = d->format_;
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
      std::vector<uint8_t> esds = makeEsds(x, n);
      putAtom(ext, 'esds', esds.data(), esds.size());
    } else
      putAtom(ext, 'glbl', x, n);
  }
  f.extensions = ext;

  // The sample description as a movie file stores it.
  std::vector<uint8_t>& e = d->entry_;
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

  if (!d->buildIndex()) return R::failure(invalidMovie);
  return R(std::move(d));
}

bool Demuxer::buildIndex() {
  struct Raw {
    int64_t pos, pts, dts, dur;
    int size;
    bool key;
  };
  std::vector<Raw> raw;
  AVPacket* pkt = pkt_;
  for (;;) {
    int r = av_read_frame(fmt_, pkt);
    if (r < 0) break;  // end of file, or damage from here on: keep what was read
    if (pkt->stream_index == stream_ && pkt->size > 0) {
      if (raw.size() >= kMaxIndexedSamples) {
        av_packet_unref(pkt);
        return false;
      }
      raw.push_back({pkt->pos, pkt->pts, pkt->dts, pkt->duration, pkt->size,
                     (pkt->flags & AV_PKT_FLAG_KEY) != 0});
    }
    av_packet_unref(pkt);
  }
  cursor_ = -1;
  if (raw.empty()) return false;

  // Display times; packets without one continue from the previous.
  size_t n = raw.size();
  std::vector<int64_t> pts(n);
  int64_t defaultDur = 0;
  for (const Raw& p : raw)
    if (p.dur > 0) {
      defaultDur = p.dur;
      break;
    }
  if (defaultDur <= 0) defaultDur = 1;
  for (size_t i = 0; i < n; i++) {
    int64_t t = raw[i].pts != AV_NOPTS_VALUE ? raw[i].pts : raw[i].dts;
    if (t == AV_NOPTS_VALUE) t = i ? pts[i - 1] + defaultDur : 0;
    pts[i] = t;
  }
  // Decode times are the display times in sorted order: the offsets then carry the reordering
  // whatever decode stamps the container had (Matroska has none).
  std::vector<int64_t> sorted = pts;
  std::sort(sorted.begin(), sorted.end());
  firstTime_ = sorted.front();
  samples_.resize(n);
  bool positions = true;
  for (size_t i = 0; i < n; i++) {
    DemuxSample& s = samples_[i];
    s.pos = raw[i].pos;
    s.rawTime = raw[i].dts != AV_NOPTS_VALUE ? std::min(raw[i].dts, pts[i]) : pts[i];
    s.decodeTime = (sorted[i] - firstTime_) * tbNum_;
    s.compositionOffset = (pts[i] - sorted[i]) * tbNum_;
    int64_t dur = i + 1 < n ? sorted[i + 1] - sorted[i] : (raw[i].dur > 0 ? raw[i].dur : defaultDur);
    if (dur <= 0) dur = 0;
    s.duration = dur * tbNum_;
    s.size = (uint32_t)raw[i].size;
    s.key = raw[i].key;
    if (s.pos < 0 || (i && s.pos <= samples_[i - 1].pos)) positions = false;
  }
  // The last sample of a stream without durations still lasts one frame.
  if (samples_.back().duration <= 0) samples_.back().duration = defaultDur * tbNum_;
  if (!samples_.front().key) samples_.front().key = true;  // decoding has to start somewhere
  byPosition_ = positions;
  return true;
}

int64_t Demuxer::duration() const {
  int64_t end = 0;
  for (const DemuxSample& s : samples_)
    end = std::max(end, s.decodeTime + s.compositionOffset + s.duration);
  return end;
}

int64_t Demuxer::identify(int64_t pos, int64_t, int size) const {
  if (!byPosition_ || pos < 0) return -1;
  auto it = std::lower_bound(samples_.begin(), samples_.end(), pos,
                             [](const DemuxSample& s, int64_t p) { return s.pos < p; });
  if (it == samples_.end() || it->pos != pos || (int)it->size != size) return -1;
  return it - samples_.begin();
}

bool Demuxer::seekTo(int64_t index) {
  if (byPosition_ && fmt_) {
    int64_t s = index;
    while (s > 0 && !samples_[(size_t)s].key) s--;
    if (av_seek_frame(fmt_, stream_, samples_[(size_t)s].rawTime, AVSEEK_FLAG_BACKWARD) >= 0) {
      cursor_ = -1;  // found again by position while reading
      return true;
    }
  }
  // From the start, counting packets.
  return openContext(false);
}

bool Demuxer::read(int64_t index, uint32_t size, uint8_t* dst) {
  if (index < 0 || index >= (int64_t)samples_.size() || size != samples_[(size_t)index].size)
    return false;
  bool retried = false;
  if (!fmt_ || cursor_ != index) {
    if (!seekTo(index)) return false;
  }
  for (;;) {
    int r = av_read_frame(fmt_, pkt_);
    if (r < 0) {
      cursor_ = -1;
      if (retried || !openContext(false)) return false;
      retried = true;
      continue;
    }
    if (pkt_->stream_index != stream_ || pkt_->size <= 0) {
      av_packet_unref(pkt_);
      continue;
    }
    int64_t at = cursor_ >= 0 ? cursor_ : identify(pkt_->pos, pkt_->pts, pkt_->size);
    if (at >= 0) cursor_ = at + 1;
    if (at == index && pkt_->size == (int)size) {
      std::memcpy(dst, pkt_->data, size);
      av_packet_unref(pkt_);
      return true;
    }
    av_packet_unref(pkt_);
    if (at > index || (at == index)) {
      // Landed past it (or it changed): start over from the beginning once.
      if (retried || !openContext(false)) return false;
      retried = true;
    }
  }
}

OSErr Demuxer::read(int64_t index, std::vector<uint8_t>& out) {
  if (index < 0 || index >= (int64_t)samples_.size()) return invalidSampleNum;
  out.resize(samples_[(size_t)index].size);
  return read(index, (uint32_t)out.size(), out.data()) ? (OSErr)noErr : (OSErr)ioErr;
}

bool DemuxSampleSource::sampleInfo(int64_t index, SampleInfo& out) {
  const auto& s = d_.samples();
  if (index < 0 || index >= (int64_t)s.size()) return false;
  const DemuxSample& x = s[(size_t)index];
  out.decodeTime = x.decodeTime;
  out.duration = x.duration;
  out.compositionOffset = x.compositionOffset;
  out.sync = x.key;
  out.descriptionIndex = 1;
  return true;
}

OSErr DemuxSampleSource::format(int descriptionIndex, VideoFormat& out) {
  if (descriptionIndex != 1) return invalidSampleDescIndex;
  out = d_.format();
  return noErr;
}

}  // namespace vt::codec

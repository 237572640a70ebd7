#include "codec/demux.h"

#include <MacErrors.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "codec/audio_format.h"
#include "codec/decoder.h"
#include "core/fourcc.h"
#include "files/host_file.h"

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

bool readHead(const vt::files::HostFile& file, std::vector<uint8_t>& head) {
  head.resize(kSniffBytes);
  size_t n = 0;
  while (n < head.size()) {
    int64_t r = file.readSome(n, head.size() - n, head.data() + n);
    if (r < 0) return false;
    if (r == 0) break;
    n += (size_t)r;
  }
  head.resize(n);
  return true;
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

// The length of the MPEG audio frame whose header starts at p, 0 when p holds no header.
size_t mpegAudioFrame(const uint8_t* p, size_t n) {
  if (n < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
  int version = (p[1] >> 3) & 3;      // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5, 1: reserved
  int layer = 4 - ((p[1] >> 1) & 3);  // 4 means reserved
  int bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
  if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return 0;
  static const uint16_t kKbps[5][14] = {
      {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // 1, layer I
      {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // 1, layer II
      {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // 1, layer III
      {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // 2, layer I
      {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};         // 2, layers II, III
  static const int kRates[3] = {44100, 48000, 32000};
  bool one = version == 3;
  int row = one ? layer - 1 : (layer == 1 ? 3 : 4);
  int kbps = kKbps[row][bitrateIndex - 1];
  int rate = kRates[rateIndex] >> (one ? 0 : version == 2 ? 1 : 2);
  if (layer == 1) return (size_t)((12 * kbps * 1000 / rate + padding) * 4);
  int perFrame = layer == 3 && !one ? 72 : 144;
  return (size_t)(perFrame * kbps * 1000 / rate + padding);
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
  if ((starts("RIFF", 4) || starts("RF64", 4)) && starts("WAVE", 4, 8)) return 'WAVE';
  if (starts("FORM", 4) && starts("AIFF", 4, 8)) return 'AIFF';
  if (starts("FORM", 4) && starts("AIFC", 4, 8)) return 'AIFC';
  if (starts("fLaC", 4)) return 'flac';
  if (starts("OggS", 4)) return 'OggS';
  if (starts("ID3", 3) && h.size() >= 10) {
    // A tag first: what follows it decides (tags too large for the head count as MP3).
    size_t tag = 10 + ((size_t)(h[6] & 0x7F) << 21 | (size_t)(h[7] & 0x7F) << 14 |
                       (size_t)(h[8] & 0x7F) << 7 | (h[9] & 0x7F));
    if (h[5] & 0x10) tag += 10;  // footer
    if (tag + 4 > h.size()) return 'MPG3';
    if (std::memcmp(&h[tag], "fLaC", 4) == 0) return 'flac';
    if (mpegAudioFrame(&h[tag], h.size() - tag)) return 'MPG3';
    return 0;
  }
  if (size_t n = mpegAudioFrame(h.data(), h.size())) {
    // Two frames in a row, so that stray sync bits in other data do not pass.
    if (n < h.size() && mpegAudioFrame(&h[n], h.size() - n)) return 'MPG3';
  }
  if (starts("\0\0\x01\xBA", 4) || starts("\0\0\x01\xB3", 4)) return 'MPEG';
  if (isTransportStream(h, 188, 0) || (h.size() > 4 && isTransportStream(h, 192, 4))) return 'MPEG';
  return 0;
}

// The libavformat demuxer for a content type; null for types we do not demux.
const char* demuxerFor(OSType type, const std::vector<uint8_t>& h) {
  switch (type) {
    case 'MkvF':
    case 'WebM': return "matroska";
    case 'VfW ': return "avi";
    case 'MPEG':
      if (h.size() >= 4 && h[0] == 0 && h[1] == 0 && h[2] == 1)
        return h[3] == 0xBA ? "mpeg" : "mpegvideo";
      return "mpegts";
    case 'WAVE': return "wav";
    case 'AIFF':
    case 'AIFC': return "aiff";
    case 'MPG3': return "mp3";
    case 'flac': return "flac";
    case 'OggS': return "ogg";
    case 'GIFf': return "gif";
    case 'PNGf': return "png_pipe";
    case 'JPEG': return "jpeg_pipe";
    case 'BMPf': return "bmp_pipe";
    case 'TIFF': return "tiff_pipe";
    case 'WEBP': return "webp_pipe";
    default: return nullptr;
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

// The video stream's format and sample description; noErr or why it cannot be a track.
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

// An audio stream we can decode, with its rate as the time scale; false for the rest.
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

}  // namespace

bool isImageType(OSType t) {
  return t == 'PNGf' || t == 'JPEG' || t == 'GIFf' || t == 'BMPf' || t == 'TIFF' || t == 'WEBP';
}

bool isMovieImportType(OSType t) {
  return t == 'MkvF' || t == 'WebM' || t == 'VfW ' || t == 'MPEG' || t == 'GIFf' ||
         isSoundFileType(t);
}

bool isSoundFileType(OSType t) {
  return t == 'WAVE' || t == 'AIFF' || t == 'AIFC' || t == 'MPG3' || t == 'flac' || t == 'OggS';
}

OSType sniffFileType(const std::string& path) {
  auto file = vt::files::HostFile::open(path);
  return file ? sniffFileType(*file) : 0;
}

OSType sniffFileType(const vt::files::HostFile& file) {
  std::vector<uint8_t> head;
  if (!readHead(file, head)) return 0;
  return sniffHead(head);
}

Demuxer::~Demuxer() {
  closeContext();
  av_packet_free(&pkt_);
}

int64_t DemuxStream::duration() const {
  int64_t end = 0;
  for (const DemuxSample& x : samples)
    end = std::max(end, x.decodeTime + x.compositionOffset + x.duration);
  return end;
}

void Demuxer::closeContext() {
  if (fmt_) avformat_close_input(&fmt_);
  if (io_) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  cursor_ = -1;
}

int Demuxer::ioRead(void* opaque, uint8_t* buf, int size) {
  auto* d = static_cast<Demuxer*>(opaque);
  int64_t n = d->file_->readSome((uint64_t)d->ioPos_, (size_t)size, buf);
  if (n < 0) return AVERROR(EIO);
  if (n == 0) return AVERROR_EOF;
  d->ioPos_ += n;
  return (int)n;
}

int64_t Demuxer::ioSeek(void* opaque, int64_t offset, int whence) {
  auto* d = static_cast<Demuxer*>(opaque);
  int64_t size = (int64_t)d->file_->size();
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return size;
    case SEEK_SET: break;
    case SEEK_CUR: offset += d->ioPos_; break;
    case SEEK_END: offset += size; break;
    default: return AVERROR(EINVAL);
  }
  if (offset < 0) return AVERROR(EINVAL);
  d->ioPos_ = offset;
  return offset;
}

bool Demuxer::openContext(bool findInfo) {
  closeContext();
  constexpr int kBuffer = 65536;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
  if (!buffer) return false;
  ioPos_ = 0;
  io_ = avio_alloc_context(buffer, kBuffer, 0, this, &Demuxer::ioRead, nullptr, &Demuxer::ioSeek);
  fmt_ = io_ ? avformat_alloc_context() : nullptr;
  if (!fmt_) {
    if (!io_) av_free(buffer);
    closeContext();
    return false;
  }
  fmt_->pb = io_;
  fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
  AVDictionary* opts = nullptr;
  // Only the file itself: no playlists, no network, no other files named inside it.
  av_dict_set(&opts, "protocol_whitelist", "file", 0);
  av_dict_set(&opts, "format_whitelist", input_->name, 0);
  int r = avformat_open_input(&fmt_, path_.c_str(), input_, &opts);
  av_dict_free(&opts);
  if (r < 0) {
    fmt_ = nullptr;  // freed by the failed open
    closeContext();
    return false;
  }
  if (findInfo && avformat_find_stream_info(fmt_, nullptr) < 0) {
    closeContext();
    return false;
  }
  cursor_ = 0;
  return true;
}

Result<std::unique_ptr<Demuxer>> Demuxer::open(const std::string& path, bool withAudio) {
  using R = Result<std::unique_ptr<Demuxer>>;
  OSErr err = noErr;
  auto file = vt::files::HostFile::open(path, &err);
  if (!file) return R::failure(err == fnfErr || err == dirNFErr ? (OSErr)fnfErr : (OSErr)ioErr);
  return open(file, withAudio);
}

Result<std::unique_ptr<Demuxer>> Demuxer::open(const std::shared_ptr<vt::files::HostFile>& file,
                                               bool withAudio) {
  using R = Result<std::unique_ptr<Demuxer>>;
  quietLibraries();
  std::vector<uint8_t> head;
  if (!readHead(*file, head)) return R::failure(ioErr);
  const std::string path = file->path();
  OSType type = sniffHead(head);
  const char* name = demuxerFor(type, head);
  const AVInputFormat* input = name ? av_find_input_format(name) : nullptr;
  if (!input) return R::failure(badFileFormat);

  std::unique_ptr<Demuxer> d(new Demuxer());
  d->path_ = path;
  d->file_ = file;
  d->input_ = input;
  d->formatName_ = name;
  d->pkt_ = av_packet_alloc();
  if (!d->pkt_) return R::failure(memFullErr);
  if (!d->openContext(true)) return R::failure(badFileFormat);
  std::vector<DemuxStream> streams;
  OSErr videoErr = noVideoTrackInMovieErr;
  int v = av_find_best_stream(d->fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (v >= 0) {
    DemuxStream s;
    videoErr = describeVideo(d->fmt_->streams[v], s);
    if (videoErr == noErr) streams.push_back(std::move(s));
  }
  if (videoErr != noErr && !withAudio) return R::failure(videoErr);
  bool sawAudio = false;
  for (unsigned i = 0; withAudio && i < d->fmt_->nb_streams; ++i) {
    if (d->fmt_->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    sawAudio = true;
    DemuxStream s;
    if (describeAudio(d->fmt_->streams[i], s)) streams.push_back(std::move(s));
  }
  // Nothing to play: why the picture could not be, or sound only libavcodec cannot decode.
  if (streams.empty()) return R::failure(v < 0 && sawAudio ? (OSErr)noCodecErr : videoErr);
  if (!d->buildIndex(streams)) return R::failure(invalidMovie);
  d->streams_ = std::make_shared<const std::vector<DemuxStream>>(std::move(streams));
  d->primary_ = 0;
  return R(std::move(d));
}

std::unique_ptr<Demuxer> Demuxer::readerFor(size_t index) const {
  if (!streams_ || index >= streams_->size()) return nullptr;
  std::unique_ptr<Demuxer> r(new Demuxer());
  r->path_ = path_;
  r->file_ = file_;
  r->formatName_ = formatName_;
  r->input_ = input_;
  r->pkt_ = av_packet_alloc();
  if (!r->pkt_) return nullptr;
  r->streams_ = streams_;
  r->primary_ = index;
  return r;  // its context opens on the first read
}

namespace {

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

int64_t Demuxer::identify(int64_t pos, int size) const {
  const DemuxStream& s = stream();
  if (!s.byPosition || pos < 0) return -1;
  auto it = std::lower_bound(s.samples.begin(), s.samples.end(), pos,
                             [](const DemuxSample& x, int64_t p) { return x.pos < p; });
  if (it == s.samples.end() || it->pos != pos || (int)(it->size + it->skip) != size) return -1;
  return it - s.samples.begin();
}

bool Demuxer::seekTo(int64_t index) {
  const DemuxStream& st = stream();
  if (st.byPosition && fmt_) {
    int64_t s = index;
    while (s > 0 && !st.samples[(size_t)s].key) s--;
    if (av_seek_frame(fmt_, st.avIndex, st.samples[(size_t)s].rawTime, AVSEEK_FLAG_BACKWARD) >= 0) {
      cursor_ = -1;  // found again by position while reading
      return true;
    }
  }
  // From the start, counting packets.
  return openContext(false);
}

bool Demuxer::read(int64_t index, uint32_t size, uint8_t* dst) {
  const DemuxStream& st = stream();
  if (index < 0 || index >= (int64_t)st.samples.size() || size != st.samples[(size_t)index].size)
    return false;
  const int skip = st.samples[(size_t)index].skip;
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
    if (pkt_->stream_index != st.avIndex || pkt_->size <= 0) {
      av_packet_unref(pkt_);
      continue;
    }
    int64_t at = cursor_ >= 0 ? cursor_ : identify(pkt_->pos, pkt_->size);
    if (at >= 0) cursor_ = at + 1;
    if (at == index && pkt_->size == (int)size + skip) {
      std::memcpy(dst, pkt_->data + skip, size);
      av_packet_unref(pkt_);
      return true;
    }
    av_packet_unref(pkt_);
    if (at >= index) {
      // Landed past it (or it changed): start over from the beginning once.
      if (retried || !openContext(false)) return false;
      retried = true;
    }
  }
}

OSErr Demuxer::read(int64_t index, std::vector<uint8_t>& out) {
  if (index < 0 || index >= (int64_t)samples().size()) return invalidSampleNum;
  out.resize(samples()[(size_t)index].size);
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

#include "codec/demux.h"

#include <MacErrors.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec/decoder.h"
#include "codec/demux_index.h"
#include "codec/sniff.h"
#include "files/host_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vt::codec {

Demuxer::~Demuxer() {
  closeContext();
  av_packet_free(&pkt_);
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

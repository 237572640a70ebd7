#include "export/export.h"

#include <MacErrors.h>
#include <Movies.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "audio/movie_sound.h"
#include "codec/audio_format.h"
#include "codec/decoder.h"
#include "compose/compose.h"
#include "compose/frame_pipe.h"
#include "files/host_file.h"
#include "model/model.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vt::exporter {
namespace {

constexpr int kDecodeAhead = 4;

// What a failure means to the user, by its errno.
OSErr fromErrno(int e) {
  switch (e) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return dskFulErr;
    case EACCES:
    case EPERM:
    case EROFS: return wrPermErr;
    case ENOENT:
    case ENOTDIR: return dirNFErr;
    default: return ioErr;
  }
}

// libavformat reports I/O failures as negated errno values; anything else is the encoder's.
OSErr fromAv(int r) { return r < 0 && r > -4096 ? fromErrno(-r) : (OSErr)codecErr; }

std::string describe(OSErr err) {
  switch (err) {
    case dskFulErr: return "the disk is full";
    case wrPermErr: return "writing there is not permitted";
    case dirNFErr: return "the folder does not exist";
    case userCanceledErr: return "the export was cancelled";
    case codecErr: return "the encoder failed";
    case memFullErr: return "there is not enough memory";
    case fBsyErr: return "an open movie reads that file";
    case dupFNErr: return "another file took that name meanwhile";
    default: return "it could not be written (error " + std::to_string(err) + ")";
  }
}

bool folderHoldsFiles(const std::string& folder) {
  DIR* d = opendir(folder.c_str());
  if (!d) return false;
  bool any = false;
  while (dirent* e = readdir(d))
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) any = true;
  closedir(d);
  return any;
}

// The output written beside its name and put in its place once whole: unnamed until then (a
// folder hidden), so a failure or a killed export leaves nothing and an older file untouched.
class TempOutput {
 public:
  OSErr create(const std::string& path, bool folder) {
    OSErr err = folder ? file_.beginFolder(path, true) : file_.begin(path, true);
    return err == permErr || err == wPrErr ? (OSErr)wrPermErr : err;
  }
  // Where the writers open the output until the commit.
  std::string temp() const { return file_.openablePath(); }
  OSErr commit() { return file_.commit(); }

 private:
  vt::files::PendingFile file_;
};

// Converts frames to the encoder's pixel format into a frame it may keep.
class Converter {
 public:
  ~Converter() {
    sws_freeContext(sws_);
    av_frame_free(&frame_);
  }
  OSErr open(int w, int h, AVPixelFormat fmt) {
    sws_ =
        sws_getContext(w, h, AV_PIX_FMT_RGB32, w, h, fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    frame_ = av_frame_alloc();
    if (!sws_ || !frame_) return memFullErr;
    frame_->format = fmt;
    frame_->width = w;
    frame_->height = h;
    return noErr;
  }
  // The frame, or null when there is no memory for it.
  AVFrame* convert(const Image& image) {
    // The encoder may still hold the last frame's planes: give this one fresh ones if so.
    if (!frame_->buf[0] ? av_frame_get_buffer(frame_, 64) < 0 : av_frame_make_writable(frame_) < 0)
      return nullptr;
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(image.pixels.data())};
    const int stride[1] = {image.width * 4};
    sws_scale(sws_, src, stride, 0, image.height, frame_->data, frame_->linesize);
    return frame_;
  }
  // Planes composed in the encoder's own 4:2:0 format: copied into the frame, not converted.
  AVFrame* fromPlanes(const YuvView& planes) {
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

 private:
  SwsContext* sws_ = nullptr;
  AVFrame* frame_ = nullptr;
};

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

// The movie's sound over the exported range: device-rate frames from `start`, ending with the
// last picture.
struct SoundPlan {
  bool present = false;
  int rate = 48000, channels = 2;
  int64_t start = 0;
  // Sound frames from the range's start to the end of picture `i` (exclusive).
  int64_t endOf(const Plan& p, int64_t i) const {
    if (p.exactRate) return vt::movie::scaleDown(i * p.fpsDen, rate, p.fpsNum);
    return vt::movie::scaleDown(p.timeOf(i) - p.timeOf(0), rate, p.scale);
  }
};

// Whether the movie has sound to hear and at what rate and channels to keep it: the highest
// rate among its audible tracks, stereo unless all are mono.
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

// The sound stream's encoder: AAC (beside H.264) or 24-bit PCM (beside ProRes), fed with
// interleaved float frames in any amounts.
class SoundEncoder {
 public:
  ~SoundEncoder() {
    avcodec_free_context(&enc_);
    av_frame_free(&frame_);
  }
  OSErr open(const SoundPlan& s, bool aac, bool globalHeader) {
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
  AVCodecContext* context() const { return enc_; }

  // Encodes what fills whole encoder frames; `last` sends the remainder and the end of stream.
  template <class Deliver>
  OSErr add(const float* samples, size_t frames, bool last, Deliver deliver) {
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

 private:
  template <class Deliver>
  OSErr send(const float* in, int n, Deliver deliver) {
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

  AVCodecContext* enc_ = nullptr;
  AVFrame* frame_ = nullptr;
  int chunk_ = 0, channels_ = 0;
  int64_t pts_ = 0;
  std::vector<float> held_;
};

std::string chunkTag(const Options& o, int64_t firstFrame, int64_t frames) {
  return "vantrel chunk " + std::to_string(o.chunk) + "/" + std::to_string(o.chunks) + " frames " +
         std::to_string(firstFrame) + "+" + std::to_string(frames);
}

// H.264 in MPEG-4 or ProRes in a QuickTime movie, each with the movie's sound if it has any.
class MovieWriter {
 public:
  ~MovieWriter() {
    avcodec_free_context(&enc_);
    if (fmt_) {
      if (fmt_->pb && !closed_) avio_closep(&fmt_->pb);
      avformat_free_context(fmt_);
    }
    av_packet_free(&pkt_);
  }

  OSErr open(const std::string& file, const Plan& p, const Options& o, const SoundPlan& sound) {
    const bool h264 = o.format == Format::h264;
    if (avformat_alloc_output_context2(&fmt_, nullptr, h264 ? "mp4" : "mov", file.c_str()) < 0)
      return memFullErr;
    const AVPixelFormat pix = h264 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV422P10LE;
    bool global = fmt_->oformat->flags & AVFMT_GLOBALHEADER;
    if (OSErr err = openEncoder(h264 ? "libx264" : "prores_ks", pix, p, global, o, enc_))
      return err;
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

  // True when the encoder's pixels are 4:2:0 planes, which frames can come composed in.
  bool takesPlanes() const { return enc_ && enc_->pix_fmt == AV_PIX_FMT_YUV420P; }
  OSErr write(const Image& image, int64_t index, const Plan& p) {
    return send(conv_.convert(image), index, p);
  }
  OSErr write(const YuvView& planes, int64_t index, const Plan& p) {
    return send(conv_.fromPlanes(planes), index, p);
  }
  OSErr send(AVFrame* f, int64_t index, const Plan& p) {
    if (!f) return memFullErr;
    f->pts = p.ptsOf(index);
    // The encoder may reorder; each packet finds its frame's length by its time.
    durations_[f->pts] = p.durationOf(index);
    int r = avcodec_send_frame(enc_, f);
    return r < 0 ? (OSErr)codecErr : drain(enc_, stream_);
  }

  // The sound that goes with the frames written so far; `last` ends the stream.
  OSErr writeSound(const std::vector<float>& samples, int channels, bool last) {
    if (!soundStream_) return noErr;
    return sound_.add(samples.data(), samples.size() / channels, last,
                      [&](AVCodecContext* enc) { return drain(enc, soundStream_); });
  }

  OSErr finish() {
    int r = avcodec_send_frame(enc_, nullptr);
    if (r < 0) return codecErr;
    if (OSErr err = drain(enc_, stream_)) return err;
    r = av_write_trailer(fmt_);
    if (r < 0) return fromAv(r);
    closed_ = true;
    r = avio_closep(&fmt_->pb);
    return r < 0 ? fromAv(r) : (OSErr)noErr;
  }

 private:
  OSErr addStream(AVCodecContext* enc, AVStream*& stream) {
    stream = avformat_new_stream(fmt_, nullptr);
    if (!stream) return memFullErr;
    stream->time_base = enc->time_base;
    return avcodec_parameters_from_context(stream->codecpar, enc) < 0 ? (OSErr)memFullErr
                                                                      : (OSErr)noErr;
  }

  OSErr drain(AVCodecContext* enc, AVStream* stream) {
    for (;;) {
      int r = avcodec_receive_packet(enc, pkt_);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return noErr;
      if (r < 0) return codecErr;
      if (enc == enc_) {
        auto it = durations_.find(pkt_->pts);
        if (it != durations_.end()) {
          pkt_->duration = it->second;
          durations_.erase(it);
        }
      }
      pkt_->duration = pkt_->duration > 0 ? pkt_->duration : 1;
      av_packet_rescale_ts(pkt_, enc->time_base, stream->time_base);
      pkt_->stream_index = stream->index;
      r = av_interleaved_write_frame(fmt_, pkt_);
      if (r < 0) return fromAv(r);
      if (fmt_->pb->error < 0) return fromAv(fmt_->pb->error);
    }
  }

  AVFormatContext* fmt_ = nullptr;
  AVCodecContext* enc_ = nullptr;
  AVStream* stream_ = nullptr;
  AVStream* soundStream_ = nullptr;
  AVPacket* pkt_ = nullptr;
  Converter conv_;
  SoundEncoder sound_;
  std::map<int64_t, int64_t> durations_;
  bool closed_ = false;
};

// A folder of numbered PNG images.
class PngWriter {
 public:
  ~PngWriter() {
    avcodec_free_context(&enc_);
    av_packet_free(&pkt_);
  }
  OSErr open(const std::string& folder, const Plan& p, const Options& o) {
    folder_ = folder;
    if (OSErr err = openEncoder("png", AV_PIX_FMT_RGB24, p, false, o, enc_)) return err;
    pkt_ = av_packet_alloc();
    if (!pkt_) return memFullErr;
    return conv_.open(p.width, p.height, AV_PIX_FMT_RGB24);
  }
  OSErr write(const Image& image, int64_t index) {
    AVFrame* f = conv_.convert(image);
    if (!f) return memFullErr;
    f->pts = index;
    if (avcodec_send_frame(enc_, f) < 0 || avcodec_receive_packet(enc_, pkt_) < 0) return codecErr;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06lld.png", (long long)index + 1);
    OSErr err = writeFile(folder_ + name, pkt_->data, (size_t)pkt_->size);
    av_packet_unref(pkt_);
    return err;
  }

 private:
  static OSErr writeFile(const std::string& path, const uint8_t* data, size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fromErrno(errno);
    while (size) {
      ssize_t n = ::write(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        int e = n < 0 ? errno : ENOSPC;
        close(fd);
        return fromErrno(e);
      }
      data += n;
      size -= (size_t)n;
    }
    return close(fd) == 0 ? (OSErr)noErr : fromErrno(errno);
  }

  std::string folder_;
  AVCodecContext* enc_ = nullptr;
  AVPacket* pkt_ = nullptr;
  Converter conv_;
};

}  // namespace

int64_t Plan::timeOf(int64_t i) const {
  if (i >= frames) return std::max(first + 1, list.finish(firstFrame + frames - 1));
  return std::max(first, list.start(firstFrame + i));
}

int64_t Plan::ptsOf(int64_t i) const { return exactRate ? i : timeOf(i) - timeOf(0); }

OSErr plan(VTMovie* movie, double from, double to, int width, int height, Plan& out,
           std::string& message) {
  if (!movie) return invalidMovie;
  TimeScale scale = GetMovieTimeScale(movie);
  TimeValue duration = GetMovieDuration(movie);
  Rect box, own;
  GetMovieBox(movie, &box);
  GetMovieNaturalBoundsRect(movie, &own);
  // The movie's own size, not what a window scaled it to.
  if (own.right > own.left && own.bottom > own.top) box = own;
  if (scale <= 0 || duration <= 0 || box.right <= box.left || box.bottom <= box.top) {
    message = "the movie has no pictures";
    return invalidMovie;
  }
  const double length = (double)duration / scale;
  if (to < 0 || to > length) to = length;
  if (!std::isfinite(from) || from < 0 || from >= to) {
    char text[160];
    if (from >= length)
      std::snprintf(text, sizeof text, "the start %g s is past the movie's end (%g s)", from,
                    length);
    else
      std::snprintf(text, sizeof text, "the start %g s is not before the end %g s", from, to);
    message = text;
    return paramErr;
  }
  Plan p;
  p.scale = scale;
  p.width = width > 0 ? width : box.right - box.left;
  p.height = height > 0 ? height : box.bottom - box.top;
  p.list = vt::compose::movieFrames(movie);
  if (p.list.empty()) {
    message = "the movie has no pictures";
    return invalidMovie;
  }
  int64_t n = 0, d = 1;
  p.exactRate = p.list.rate(n, d) && n <= INT32_MAX && d <= INT32_MAX;
  vt::compose::frameRate(p.list, p.fpsNum, p.fpsDen);
  p.first = std::min<int64_t>((int64_t)std::floor(from * scale), duration - 1);
  p.end = std::min<int64_t>((int64_t)std::ceil(to * scale), duration);
  if (p.end <= p.first) p.end = p.first + 1;
  p.list.range(p.first, p.end, p.firstFrame, p.frames);
  out = std::move(p);
  return noErr;
}

OSErr exportMovie(VTMovie* movie, const std::string& path, const Options& options,
                  const Progress& progress, std::string& message) {
  codec::quietLibraries();
  Plan p;
  if (OSErr err = plan(movie, options.from, options.to, options.width, options.height, p, message))
    return err;
  if (options.crf < 0 || options.crf > 51 || p.width > 16384 || p.height > 16384) {
    message = "the quality or size is out of range";
    return paramErr;
  }
  int64_t numberBase = 0;
  if (options.chunks > 0)
    if (OSErr e = narrowToChunk(options.chunk, options.chunks, p, numberBase, message)) return e;
  // A range that starts late starts as a chunk does: effects with memory warmed up.
  const int64_t warmUp = warmUpFrames(movie, p.firstFrame);
  // 4:2:0 and 4:2:2 pictures need even sides.
  if (options.format != Format::png) {
    p.width = std::max(2, p.width & ~1);
    if (options.format == Format::h264) p.height = std::max(2, p.height & ~1);
  }
  const std::string name = path.substr(path.rfind('/') + 1);
  auto failed = [&](OSErr err) {
    // Busy, yet no open movie reads the name: another writer replaced the file meanwhile.
    const bool raced = err == fBsyErr && !vt::files::nameIsBusy(path);
    message = "“" + name + "” was not written: " + describe(raced ? (OSErr)dupFNErr : err) + ".";
    return err;
  };
  const bool folder = options.format == Format::png;
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (!folder || folderHoldsFiles(path))) {
    message = "“" + name + "” was not written: a folder of that name " +
              (folder ? "already holds files." : "is in the way.");
    return dupFNErr;
  }
  TempOutput out;
  if (OSErr err = out.create(path, folder)) return failed(err);

  const bool silent = folder || options.chunks > 0;  // a chunk's sound comes at the join
  const SoundPlan sound = silent ? SoundPlan{} : soundPlan(movie, p, options.format);
  MovieWriter movieWriter;
  PngWriter pngWriter;
  OSErr err = folder ? pngWriter.open(out.temp(), p, options)
                     : movieWriter.open(out.temp(), p, options, sound);
  if (err == noCodecErr || err == paramErr) {
    message = "“" + name + "” was not written: the encoder refused the settings.";
    return err;
  }
  if (err) return failed(err);

  // The sound of each picture is mixed here, beside the composer (both read the movie), and
  // queued for the writer, which muxes it after the picture.
  std::unique_ptr<vt::audio::MovieSound> mixer;
  if (sound.present)
    mixer = std::make_unique<vt::audio::MovieSound>(movie, sound.rate, sound.channels);
  const float volume = std::abs(movie->volume) / 256.0f;  // a muted movie still has its sound
  std::mutex soundLock;
  std::deque<std::vector<float>> soundQueue;
  vt::compose::Composer composer(movie);
  composer.setSize(p.width, p.height);
  composer.setDecodeAhead(kDecodeAhead);
  // The sound that goes with picture `index`, written after it.
  auto writeSound = [&](int64_t index) -> OSErr {
    if (!mixer) return noErr;
    std::vector<float> samples;
    {
      std::lock_guard<std::mutex> l(soundLock);
      samples = std::move(soundQueue.front());
      soundQueue.pop_front();
    }
    return movieWriter.writeSound(samples, sound.channels, index + 1 == p.frames);
  };
  bool composeFailed = false;
  // Composes every frame into `frame` and hands it to `pipe` (a bounded queue of two).
  auto feed = [&](auto& pipe, auto& frame) {
    // Effects that remember earlier frames see them first, as they would from the start.
    for (int64_t w = warmUp; w > 0 && !err; w--)
      err = composer.frame(p.list.start(p.firstFrame - w), frame);
    for (int64_t i = 0; i < p.frames && !err; i++) {
      err = composer.frame(p.timeOf(i), frame);
      if (err) {
        pipe.finish();
        composeFailed = true;
        char text[200];
        std::snprintf(text, sizeof text,
                      "“%s” was not written: the frame at %.3f s could not be made (error %d)",
                      name.c_str(), (double)p.timeOf(i) / p.scale, err);
        message = text;
        if (vt::compose::isMissingData(err) && !vt::compose::missingDataFile().empty())
          message +=
              ": its media in " + vt::compose::missingDataFile() + " is missing or cut short";
        else if (err == memFullErr)
          message += ": " + describe(err);
        message += ".";
        return;
      }
      if (mixer) {
        const int64_t a = sound.endOf(p, i), b = sound.endOf(p, i + 1);
        std::vector<float> samples((size_t)(b - a) * sound.channels);
        mixer->render(sound.start + a, (int)(b - a), samples.data());
        for (float& v : samples) v *= volume;
        std::lock_guard<std::mutex> l(soundLock);
        soundQueue.push_back(std::move(samples));
      }
      err = pipe.put(frame);
      if (!err && progress && !progress(i + 1, p.frames)) err = userCanceledErr;
    }
    OSErr piped = pipe.finish();
    if (!err) err = piped;
  };
  if (!folder && movieWriter.takesPlanes()) {
    // Frames come composed in the encoder's own pixels, with no conversion pass.
    vt::YuvImage planes;
    vt::compose::PlanePipe pipe([&](const vt::YuvImage& f, int64_t index) -> OSErr {
      if (OSErr e = movieWriter.write(f.view(), index, p)) return e;
      return writeSound(index);
    });
    feed(pipe, planes);
  } else {
    Image frame;
    // 4:2:2 and RGB encoders: from pictures, which keep the chroma 4:2:0 would lose.
    vt::compose::FramePipe pipe([&](const Image& image, int64_t index) -> OSErr {
      if (folder) return pngWriter.write(image, numberBase + index);
      if (OSErr e = movieWriter.write(image, index, p)) return e;
      return writeSound(index);
    });
    feed(pipe, frame);
  }
  if (composeFailed) return err;
  if (!err && !folder) err = movieWriter.finish();
  if (!err) err = out.commit();
  return err ? failed(err) : (OSErr)noErr;
}

// ---- joining chunks ---------------------------------------------------------------------------

namespace {

// One chunk file's picture stream, read packet by packet.
class ChunkReader {
 public:
  ~ChunkReader() { avformat_close_input(&in_); }
  OSErr open(const std::string& file, std::string& why) {
    if (avformat_open_input(&in_, file.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(in_, nullptr) < 0) {
      why = file + " is not a chunk that can be read";
      return paramErr;
    }
    for (unsigned i = 0; i < in_->nb_streams; i++)
      if (in_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !stream_)
        stream_ = in_->streams[i];
    if (!stream_) {
      why = file + " holds no pictures";
      return paramErr;
    }
    return noErr;
  }
  AVStream* stream() const { return stream_; }
  // What the chunk says it is ("" for a file that is no chunk).
  std::string tag() const {
    const AVDictionaryEntry* e = av_dict_get(in_->metadata, "comment", nullptr, 0);
    return e ? e->value : "";
  }
  // The next picture packet; false at the end.
  bool next(AVPacket* pkt) {
    while (av_read_frame(in_, pkt) >= 0) {
      if (pkt->stream_index == stream_->index) return true;
      av_packet_unref(pkt);
    }
    return false;
  }

 private:
  AVFormatContext* in_ = nullptr;
  AVStream* stream_ = nullptr;
};

bool sameStream(const AVCodecParameters* a, const AVCodecParameters* b) {
  return a->codec_id == b->codec_id && a->width == b->width && a->height == b->height &&
         a->format == b->format && a->extradata_size == b->extradata_size &&
         (a->extradata_size == 0 || !std::memcmp(a->extradata, b->extradata, a->extradata_size));
}

// PNG chunks are numbered in the whole range already: their files move into one folder.
OSErr joinFolders(const std::vector<std::string>& chunks, const std::string& folder, int64_t frames,
                  std::string& message) {
  int64_t found = 0;
  for (const auto& c : chunks) {
    DIR* d = opendir(c.c_str());
    if (!d) {
      message = c + " is not a folder of frames";
      return paramErr;
    }
    while (dirent* e = readdir(d)) found += std::strncmp(e->d_name, "frame-", 6) == 0;
    closedir(d);
  }
  if (found != frames) {
    message = "the chunks hold " + std::to_string(found) + " frames; the range has " +
              std::to_string(frames);
    return paramErr;
  }
  // Every frame is found before any moves, so a refused join leaves the chunks as they were.
  std::vector<size_t> holder((size_t)frames);
  auto nameOf = [](int64_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06lld.png", (long long)i + 1);
    return std::string(name);
  };
  for (int64_t i = 0; i < frames; i++) {
    struct stat st;
    size_t c = 0;
    while (c < chunks.size() && stat((chunks[c] + nameOf(i)).c_str(), &st) != 0) c++;
    if (c == chunks.size()) {
      message = "no chunk holds " + nameOf(i).substr(1);
      return paramErr;
    }
    holder[(size_t)i] = c;
  }
  auto from = [&](int64_t i) { return chunks[holder[(size_t)i]] + nameOf(i); };
  for (int64_t i = 0; i < frames; i++)
    if (::rename(from(i).c_str(), (folder + nameOf(i)).c_str())) {
      const int e = errno;  // another file system, say: what moved goes back
      while (i-- > 0) ::rename((folder + nameOf(i)).c_str(), from(i).c_str());
      return fromErrno(e);
    }
  return noErr;
}

}  // namespace

OSErr joinChunks(VTMovie* movie, const std::vector<std::string>& chunks, const std::string& path,
                 const Options& options, std::string& message) {
  codec::quietLibraries();
  Plan p;
  OSErr err = plan(movie, options.from, options.to, 0, 0, p, message);
  if (err) return err;
  const std::string name = path.substr(path.rfind('/') + 1);
  auto failed = [&](OSErr e) {
    if (message.empty()) message = describe(e);
    message = "“" + name + "” was not written: " + message + ".";
    return e;
  };
  if (chunks.empty()) return failed(paramErr);
  struct stat st;
  const bool folder = stat(chunks[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  TempOutput out;
  if ((err = out.create(path, folder))) return failed(err);
  if (folder) {
    if ((err = joinFolders(chunks, out.temp(), p.frames, message)) || (err = out.commit()))
      return failed(err);
    for (const auto& c : chunks) rmdir(c.c_str());  // emptied; one holding more stays
    return noErr;
  }

  std::vector<std::unique_ptr<ChunkReader>> readers;
  for (const auto& c : chunks) {
    readers.push_back(std::make_unique<ChunkReader>());
    if ((err = readers.back()->open(c, message))) return failed(err);
    if (!sameStream(readers[0]->stream()->codecpar, readers.back()->stream()->codecpar)) {
      message = c + " was encoded unlike " + chunks[0];
      return failed(paramErr);
    }
  }
  const AVCodecParameters* video = readers[0]->stream()->codecpar;
  const bool h264 = video->codec_id == AV_CODEC_ID_H264;
  if (!h264 && video->codec_id != AV_CODEC_ID_PRORES) {
    message = chunks[0] + " is neither H.264 nor ProRes";
    return failed(paramErr);
  }
  AVFormatContext* fmt = nullptr;
  if (avformat_alloc_output_context2(&fmt, nullptr, h264 ? "mp4" : "mov", out.temp().c_str()) < 0)
    return failed(memFullErr);
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> owner(fmt, [](AVFormatContext* f) {
    if (f->pb) avio_closep(&f->pb);
    avformat_free_context(f);
  });
  auto packet = [] {
    return std::unique_ptr<AVPacket, void (*)(AVPacket*)>(av_packet_alloc(),
                                                          [](AVPacket* k) { av_packet_free(&k); });
  };
  auto pkt = packet(), soundPkt = packet();
  AVStream* vs = avformat_new_stream(fmt, nullptr);
  if (!pkt || !soundPkt || !vs || avcodec_parameters_copy(vs->codecpar, video) < 0)
    return failed(memFullErr);
  vs->codecpar->codec_tag = 0;
  vs->time_base = readers[0]->stream()->time_base;
  vs->avg_frame_rate = AVRational{p.fpsNum, p.fpsDen};

  // The sound of the whole range, as one export mixes it, fed as the pictures go by.
  const bool global = fmt->oformat->flags & AVFMT_GLOBALHEADER;
  Options soundOptions = options;
  soundOptions.format = h264 ? Format::h264 : Format::prores;
  const SoundPlan sound = soundPlan(movie, p, soundOptions.format);
  SoundEncoder encoder;
  AVStream* as = nullptr;
  std::unique_ptr<vt::audio::MovieSound> mixer;
  if (sound.present) {
    if ((err = encoder.open(sound, h264, global))) return failed(err);
    as = avformat_new_stream(fmt, nullptr);
    if (!as || avcodec_parameters_from_context(as->codecpar, encoder.context()) < 0)
      return failed(memFullErr);
    as->time_base = encoder.context()->time_base;
    mixer = std::make_unique<vt::audio::MovieSound>(movie, sound.rate, sound.channels);
  }
  int r = avio_open(&fmt->pb, out.temp().c_str(), AVIO_FLAG_WRITE);
  if (r < 0 || (r = avformat_write_header(fmt, nullptr)) < 0) return failed(fromAv(r));

  const float volume = std::abs(movie->volume) / 256.0f;
  const int64_t soundEnd = sound.present ? sound.endOf(p, p.frames) : 0;
  int64_t soundDone = 0;
  auto deliverSound = [&](AVCodecContext* enc) -> OSErr {
    AVPacket* k = soundPkt.get();
    for (;;) {
      int e = avcodec_receive_packet(enc, k);
      if (e == AVERROR(EAGAIN) || e == AVERROR_EOF) return noErr;
      if (e < 0) return codecErr;
      av_packet_rescale_ts(k, enc->time_base, as->time_base);
      k->stream_index = as->index;
      if ((e = av_interleaved_write_frame(fmt, k)) < 0) return fromAv(e);
    }
  };
  // Mixes and encodes the sound up to `upTo` frames from the range's start.
  auto soundUpTo = [&](int64_t upTo, bool last) -> OSErr {
    std::vector<float> samples;
    while (mixer && (soundDone < upTo || last)) {
      const int n = (int)std::min<int64_t>(upTo - soundDone, 4800);
      samples.assign((size_t)n * sound.channels, 0.0f);
      if (n > 0) mixer->render(sound.start + soundDone, n, samples.data());
      for (float& v : samples) v *= volume;
      soundDone += n;
      const bool end = last && soundDone >= upTo;
      if (OSErr e = encoder.add(samples.data(), (size_t)n, end, deliverSound)) return e;
      if (end) break;
    }
    return noErr;
  };

  // Each chunk's pictures go on where the previous chunk's end, in the first chunk's time base.
  int64_t offset = 0, lastDts = INT64_MIN, frames = 0;
  Options tagOf = options;
  tagOf.chunks = (int)chunks.size();
  for (auto& reader : readers) {
    tagOf.chunk = (int)(&reader - readers.data()) + 1;
    int64_t first = 0, count = 0;
    chunkFrames(p.frames, tagOf.chunk, tagOf.chunks, first, count);
    if (reader->tag() != chunkTag(tagOf, p.firstFrame + first, count)) {
      message = chunks[(size_t)tagOf.chunk - 1] + " is not chunk " + std::to_string(tagOf.chunk) +
                " of " + std::to_string(tagOf.chunks) + " of this range";
      return failed(paramErr);
    }
    const AVRational tb = reader->stream()->time_base;
    int64_t start = AV_NOPTS_VALUE, end = offset;
    while (reader->next(pkt.get())) {
      av_packet_rescale_ts(pkt.get(), tb, vs->time_base);
      if (pkt->pts == AV_NOPTS_VALUE) pkt->pts = pkt->dts;
      if (start == AV_NOPTS_VALUE)
        start = reader->stream()->start_time != AV_NOPTS_VALUE
                    ? av_rescale_q(reader->stream()->start_time, tb, vs->time_base)
                    : pkt->pts;
      pkt->pts += offset - start;
      pkt->dts = (pkt->dts == AV_NOPTS_VALUE ? pkt->pts : pkt->dts + offset - start);
      // Reordered streams start their decode times early; they must still rise across a join.
      if (pkt->dts <= lastDts) pkt->dts = lastDts + 1;
      if (pkt->dts > pkt->pts) {
        message = "the chunks' frames cannot be put in order";
        return failed(paramErr);
      }
      lastDts = pkt->dts;
      end = std::max(end, pkt->pts + std::max<int64_t>(pkt->duration, 1));
      frames++;
      pkt->stream_index = vs->index;
      pkt->pos = -1;
      const int64_t heard = av_rescale_q(pkt->dts, vs->time_base, AVRational{1, sound.rate});
      if ((err = soundUpTo(std::clamp<int64_t>(heard, 0, soundEnd), false))) return failed(err);
      if ((r = av_interleaved_write_frame(fmt, pkt.get())) < 0) return failed(fromAv(r));
    }
    offset = end;
  }
  if (frames != p.frames) {
    message = "the chunks hold " + std::to_string(frames) + " frames; the range has " +
              std::to_string(p.frames);
    return failed(paramErr);
  }
  if ((err = soundUpTo(soundEnd, true))) return failed(err);
  if ((r = av_write_trailer(fmt)) < 0 || (r = avio_closep(&fmt->pb)) < 0) return failed(fromAv(r));
  return (err = out.commit()) ? failed(err) : (OSErr)noErr;
}

}  // namespace vt::exporter

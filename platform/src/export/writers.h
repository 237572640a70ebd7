// The pieces an export and a join of chunks are made of: what a failure means to the user, the
// output under a temporary name, the sound plan and its encoder, and the movie and PNG writers.
#pragma once
#include <MacErrors.h>
#include <MacTypes.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/image.h"
#include "core/yuv_image.h"
#include "export/export.h"
#include "files/host_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace vt::exporter {

// What a failure means to the user, by its errno.
OSErr fromErrno(int e);
// libavformat reports I/O failures as negated errno values; anything else is the encoder's.
OSErr fromAv(int r);
std::string describe(OSErr err);

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

// What a chunk says it is, so a join can tell a missing, repeated or foreign one.
std::string chunkTag(const Options& o, int64_t firstFrame, int64_t frames);

// Writes the packets the encoder has ready into `stream`, each first given to `adjust` (in the
// encoder's time base) and kept at least one tick long. A failed write is the file's error.
OSErr writePackets(AVFormatContext* fmt, AVCodecContext* enc, AVStream* stream, AVPacket* pkt,
                   const std::function<void(AVPacket*)>& adjust = nullptr);

// Opens the named picture encoder for the plan's size and rate.
OSErr openEncoder(const char* name, AVPixelFormat fmt, const Plan& p, bool globalHeader,
                  const Options& o, AVCodecContext*& ctx);

// Converts frames to the encoder's pixel format into a frame it may keep.
class Converter {
 public:
  ~Converter();
  OSErr open(int w, int h, AVPixelFormat fmt);
  // The frame, or null when there is no memory for it.
  AVFrame* convert(const Image& image);
  // Planes composed in the encoder's own 4:2:0 format: copied into the frame, not converted.
  AVFrame* fromPlanes(const YuvView& planes);

 private:
  SwsContext* sws_ = nullptr;
  AVFrame* frame_ = nullptr;
};

// The movie's sound over the exported range: device-rate frames from `start`, ending with the
// last picture.
struct SoundPlan {
  bool present = false;
  int rate = 48000, channels = 2;
  int64_t start = 0;
  // Sound frames from the range's start to the end of picture `i` (exclusive).
  int64_t endOf(const Plan& p, int64_t i) const;
};

// Whether the movie has sound to hear and at what rate and channels to keep it: the highest
// rate among its audible tracks, stereo unless all are mono.
SoundPlan soundPlan(VTMovie* movie, const Plan& p, Format format);

// The sound stream's encoder: AAC (beside H.264) or 24-bit PCM (beside ProRes), fed with
// interleaved float frames in any amounts.
class SoundEncoder {
 public:
  // Takes the packets the encoder has ready.
  using Deliver = std::function<OSErr(AVCodecContext*)>;
  ~SoundEncoder();
  OSErr open(const SoundPlan& s, bool aac, bool globalHeader);
  AVCodecContext* context() const { return enc_; }
  // Encodes what fills whole encoder frames; `last` sends the remainder and the end of stream.
  OSErr add(const float* samples, size_t frames, bool last, const Deliver& deliver);

 private:
  OSErr send(const float* in, int n, const Deliver& deliver);

  AVCodecContext* enc_ = nullptr;
  AVFrame* frame_ = nullptr;
  int chunk_ = 0, channels_ = 0;
  int64_t pts_ = 0;
  std::vector<float> held_;
};

// H.264 in MPEG-4 or ProRes in a QuickTime movie, each with the movie's sound if it has any.
class MovieWriter {
 public:
  ~MovieWriter();
  OSErr open(const std::string& file, const Plan& p, const Options& o, const SoundPlan& sound);
  // True when the encoder's pixels are 4:2:0 planes, which frames can come composed in.
  bool takesPlanes() const { return enc_ && enc_->pix_fmt == AV_PIX_FMT_YUV420P; }
  OSErr write(const Image& image, int64_t index, const Plan& p) {
    return send(conv_.convert(image), index, p);
  }
  OSErr write(const YuvView& planes, int64_t index, const Plan& p) {
    return send(conv_.fromPlanes(planes), index, p);
  }
  // The sound that goes with the frames written so far; `last` ends the stream.
  OSErr writeSound(const std::vector<float>& samples, int channels, bool last);
  OSErr finish();

 private:
  OSErr send(AVFrame* f, int64_t index, const Plan& p);
  OSErr addStream(AVCodecContext* enc, AVStream*& stream);
  OSErr drain(AVCodecContext* enc, AVStream* stream);

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
  ~PngWriter();
  OSErr open(const std::string& folder, const Plan& p, const Options& o);
  OSErr write(const Image& image, int64_t index);

 private:
  std::string folder_;
  AVCodecContext* enc_ = nullptr;
  AVPacket* pkt_ = nullptr;
  Converter conv_;
};

}  // namespace vt::exporter

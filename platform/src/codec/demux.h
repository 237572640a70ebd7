// Foreign containers read through libavformat: the video stream and (on request) every audio
// stream indexed in one pass that keeps no sample data; samples read back from the original
// file on demand, each stream through its own reader.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/result.h"
#include "codec/samples.h"
#include "codec/sniff.h"
#include "codec/video_format.h"

struct AVFormatContext;
struct AVIOContext;
struct AVInputFormat;
struct AVPacket;

namespace vt::files {
class HostFile;
}

namespace vt::codec {

struct DemuxSample {
  int64_t pos = -1;        // byte position the container reports, -1 if unknown
  int64_t rawTime = 0;     // the container's own time stamp (for seeking)
  int64_t decodeTime = 0;  // media time scale, from 0
  int64_t compositionOffset = 0;
  int64_t duration = 0;
  uint32_t size = 0;
  uint8_t skip = 0;  // bytes of a per-packet header dropped on reading (ADTS)
  bool key = false;
};

// One indexed stream. Times are in its own time scale: the video stream's time base, the
// sample rate for audio.
struct DemuxStream {
  int avIndex = -1;
  bool audio = false;
  TimeScale timeScale = 600;
  int64_t tbNum = 1;    // media time = raw time * tbNum (video)
  double start = 0;     // seconds from the movie's start (its first picture, else its
                        // first sound) to this stream's first sample
  int64_t delay = 0;    // leading frames that are the encoder's (audio), media time
  int64_t padding = 0;  // and trailing ones
  std::vector<DemuxSample> samples;
  bool byPosition = false;  // file positions grow with the sample index
  VideoFormat video;
  std::vector<uint8_t> entry;  // the sample description in file layout (big-endian)
  bool enabled = true;         // the container's default stream of its kind
  int64_t duration() const;    // media time scale
};

class Demuxer {
 public:
  // Opens a file of one of the formats we import, recognised by its content (never its name).
  // Without `withAudio` only the video stream is indexed and a file without one fails with
  // noVideoTrackInMovieErr; with it every audio stream libavcodec decodes is indexed too, and
  // only a file with neither fails (noMovieFound). Other errors: fnfErr, ioErr, badFileFormat
  // (not recognised), invalidMovie (no sample can be read).
  static Result<std::unique_ptr<Demuxer>> open(const std::string& path, bool withAudio = false);
  // The same for a file already open: libavformat reads it through that descriptor.
  static Result<std::unique_ptr<Demuxer>> open(const std::shared_ptr<vt::files::HostFile>& file,
                                               bool withAudio = false);
  ~Demuxer();

  // A reader of stream `index` of the same file, sharing this one's index; null if out of range.
  std::unique_ptr<Demuxer> readerFor(size_t index) const;

  const std::string& formatName() const { return formatName_; }
  const std::string& path() const { return path_; }
  const std::vector<DemuxStream>& streams() const { return *streams_; }
  // The stream this reader reads: the video stream when there is one.
  size_t streamIndex() const { return primary_; }
  const DemuxStream& stream() const { return (*streams_)[primary_]; }
  TimeScale timeScale() const { return stream().timeScale; }
  const std::vector<DemuxSample>& samples() const { return stream().samples; }
  int64_t duration() const { return stream().duration(); }
  const VideoFormat& format() const { return stream().video; }
  // The sample description in file layout (big-endian), as a movie file would store it.
  const std::vector<uint8_t>& sampleEntry() const { return stream().entry; }
  int width() const { return stream().video.width; }
  int height() const { return stream().video.height; }

  // Reads sample `index` into dst, which holds `size` bytes. False when it cannot be read
  // back as indexed (the file changed, or the container cannot find it again).
  bool read(int64_t index, uint32_t size, uint8_t* dst);
  OSErr read(int64_t index, std::vector<uint8_t>& out);

 private:
  Demuxer() = default;
  bool openContext(bool findInfo);
  void closeContext();
  bool buildIndex(std::vector<DemuxStream>& streams);
  bool seekTo(int64_t index);
  int64_t identify(int64_t pos, int size) const;
  // libavformat's reads, each reader at a position of its own in the shared file.
  static int ioRead(void* opaque, uint8_t* buf, int size);
  static int64_t ioSeek(void* opaque, int64_t offset, int whence);

  std::string path_;
  std::shared_ptr<vt::files::HostFile> file_;
  AVIOContext* io_ = nullptr;
  int64_t ioPos_ = 0;
  std::string formatName_;
  AVFormatContext* fmt_ = nullptr;
  const AVInputFormat* input_ = nullptr;
  AVPacket* pkt_ = nullptr;
  std::shared_ptr<const std::vector<DemuxStream>> streams_;
  size_t primary_ = 0;
  int64_t cursor_ = -1;  // index of the next packet the context will return, -1 unknown
};

// A demuxed stream as a decoder's sample source.
class DemuxSampleSource : public SampleSource {
 public:
  explicit DemuxSampleSource(Demuxer& d) : d_(d) {}
  int64_t sampleCount() override { return (int64_t)d_.samples().size(); }
  bool sampleInfo(int64_t index, SampleInfo& out) override;
  OSErr readSample(int64_t index, std::vector<uint8_t>& out) override {
    return d_.read(index, out);
  }
  OSErr format(int descriptionIndex, VideoFormat& out) override;

 private:
  Demuxer& d_;
};

}  // namespace vt::codec

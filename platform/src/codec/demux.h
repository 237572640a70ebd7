// Foreign containers read through libavformat: one video stream indexed once (a scan that
// keeps no sample data), samples read back from the original file on demand.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/result.h"
#include "codec/samples.h"
#include "codec/video_format.h"

struct AVFormatContext;
struct AVInputFormat;
struct AVPacket;

namespace vt::codec {

struct DemuxSample {
  int64_t pos = -1;          // byte position the container reports, -1 if unknown
  int64_t rawTime = 0;       // the container's own time stamp (for seeking)
  int64_t decodeTime = 0;    // media time scale, from 0
  int64_t compositionOffset = 0;
  int64_t duration = 0;
  uint32_t size = 0;
  bool key = false;
};

class Demuxer {
 public:
  // Opens a file of one of the formats we import, recognised by its content (never its name).
  // Errors: fnfErr, ioErr, badFileFormat (not recognised), noVideoTrackInMovieErr,
  // invalidMovie (no frame can be read).
  static Result<std::unique_ptr<Demuxer>> open(const std::string& path);
  ~Demuxer();

  const std::string& formatName() const { return formatName_; }
  const std::string& path() const { return path_; }
  TimeScale timeScale() const { return timeScale_; }
  const std::vector<DemuxSample>& samples() const { return samples_; }
  int64_t duration() const;  // media time scale
  const VideoFormat& format() const { return format_; }
  // The sample description in file layout (big-endian), as a movie file would store it.
  const std::vector<uint8_t>& sampleEntry() const { return entry_; }
  int width() const { return format_.width; }
  int height() const { return format_.height; }

  // Reads sample `index` into dst, which holds `size` bytes. False when it cannot be read
  // back as indexed (the file changed, or the container cannot find it again).
  bool read(int64_t index, uint32_t size, uint8_t* dst);
  OSErr read(int64_t index, std::vector<uint8_t>& out);

 private:
  Demuxer() = default;
  bool openContext(bool findInfo);
  void closeContext();
  bool buildIndex();
  bool seekTo(int64_t index);
  int64_t identify(int64_t pos, int64_t rawTime, int size) const;

  std::string path_;
  std::string formatName_;
  AVFormatContext* fmt_ = nullptr;
  const AVInputFormat* input_ = nullptr;
  AVPacket* pkt_ = nullptr;
  int stream_ = -1;
  int64_t tbNum_ = 1;  // media time = raw * tbNum_ (scale is the time base denominator)
  TimeScale timeScale_ = 600;
  int64_t firstTime_ = 0;
  std::vector<DemuxSample> samples_;
  bool byPosition_ = false;
  int64_t cursor_ = -1;  // index of the next packet the context will return, -1 unknown
  VideoFormat format_;
  std::vector<uint8_t> entry_;
};

// A demuxed stream as a decoder's sample source.
class DemuxSampleSource : public SampleSource {
 public:
  explicit DemuxSampleSource(Demuxer& d) : d_(d) {}
  int64_t sampleCount() override { return (int64_t)d_.samples().size(); }
  bool sampleInfo(int64_t index, SampleInfo& out) override;
  OSErr readSample(int64_t index, std::vector<uint8_t>& out) override { return d_.read(index, out); }
  OSErr format(int descriptionIndex, VideoFormat& out) override;

 private:
  Demuxer& d_;
};

// Which of our importers' file types the content of `path` is ('MkvF', 'WebM', 'VfW ', 'MPEG',
// 'GIFf', 'PNGf', 'JPEG', 'BMPf', 'TIFF', 'WEBP', 'mpg4'), or 0. Reads only the file's head.
OSType sniffFileType(const std::string& path);
// True for the types of still images (the graphics importers' types, GIF included).
bool isImageType(OSType type);
// True for the types the movie importers open.
bool isMovieImportType(OSType type);

}  // namespace vt::codec

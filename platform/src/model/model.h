// The in-memory movie model behind Movie/Track/Media, shared with the decoding layer.
//
// For decoders:
//  - A movie is a VTMovie; its tracks are VTTrack (matrix, layer, dimensions, enabled flag, edit
//    list in movie time), each with one VTMedia (time scale, sample descriptions, sample table).
//  - Map a movie time to a sample: vt::movie::trackTimeToMediaTime() walks the edit list (empty
//    edits, media rates), then VTMedia::sampleAtDecodeTime() / sampleAtTime() finds the sample
//    and VTMedia::sampleInfo() gives its sync flag, decode time, composition offset, duration
//    and description. VTMedia::loadSample() reads its bytes from wherever they live (the movie's
//    own file, a referenced file, memory, or a foreign file through an importer's DataSource),
//    or says why it cannot (endOfDataReached: the data ends before the sample does).
//  - The sample table itself is VTMedia::samples (model/sample_table.h), kept as runs.
//  - Sample descriptions keep their file bytes (big-endian); SampleDesc::extension()
//    finds extension atoms such as 'avcC', 'esds', 'glbl' (also inside a sound 'wave' atom).
//  - Non-movie files: NewMovieFromFile hands them to the opener set with
//    vt::movie::setForeignFileOpener(). The opener builds a movie with newMovieObject(),
//    addTrack(), then per track: media->addDataSource(yourSource), media->addDescription(bytes),
//    media->appendSample(...) for every packet (offset = whatever your DataSource::read
//    understands), then finishTrack(track) to give the track a single edit over its media.
//  - vt::qtff::isMovieFile(path) (in "qtff/reader.h") sniffs the content for FSpGetFInfo.
//  - resolveAlias(alias, path) turns a QTNewAlias handle back into a path.
//  - State derived from a media (decoders) lives in its track's drawState and is made again when
//    VTMedia::generation changes; code that edits a media's tables directly calls changed().
// All calls are single-threaded, like the toolbox.
#pragma once
#include <MacTypes.h>
#include <Movies.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "atoms/userdata_impl.h"
#include "model/sample_table.h"
#include "model/time.h"

namespace vt::files {
class HostFile;
}

namespace vt::movie {

// Where sample bytes live. Reads are whole or fail.
class DataSource {
 public:
  virtual ~DataSource() = default;
  virtual bool read(uint64_t offset, uint32_t size, uint8_t* dst) = 0;
  // Bytes there are now; UINT64_MAX when the source cannot tell.
  virtual uint64_t size() const { return UINT64_MAX; }
  // The host file path when the bytes come straight from a file; "" otherwise. Only such
  // sources can be referred to by a data reference in a movie file.
  virtual std::string filePath() const { return {}; }
  // The open host file the bytes come from; null for other sources.
  virtual std::shared_ptr<vt::files::HostFile> hostFile() const { return nullptr; }
};

// A shared, read-only view of a file, kept open while any movie uses it. The file counts as busy
// (cannot be deleted or replaced through the movie layer) for as long as the source lives.
std::shared_ptr<DataSource> openFileSource(const std::string& path);
// The source for `path` reading through `file`, a file already open (the one a movie file was
// opened as), so that what is read is that file even if the name has come to hold another.
std::shared_ptr<DataSource> fileSource(const std::string& path,
                                       std::shared_ptr<vt::files::HostFile> file);
// Growable bytes in memory (media data of movies that have no file).
class MemorySource : public DataSource {
 public:
  bool read(uint64_t offset, uint32_t size, uint8_t* dst) override;
  uint64_t size() const override { return bytes.size(); }
  std::vector<uint8_t> bytes;
};
// True when writing a new file under `path` would take the name from a file a movie reads
// (by device and inode, however the path is spelled).
bool isFileBusy(const std::string& path);

// A data reference entry ('dref' child).
struct DataRef {
  OSType type = 'alis';
  uint32_t flags = 1;                  // bit 0: the data is in the movie's own file
  std::vector<uint8_t> data;           // the entry's bytes after version/flags, as stored
  std::string path;                    // resolved file, "" when unresolved
  std::shared_ptr<DataSource> source;  // null when the data cannot be reached
  bool self() const { return (flags & 1) != 0; }
};

// One 'stsd' entry, its bytes exactly as in the file (big-endian).
struct SampleDesc {
  std::vector<uint8_t> bytes;
  OSType format() const;
  uint16_t dataRefIndex() const;  // 1-based
  void setDataRefIndex(uint16_t index);
  // Video descriptions.
  uint16_t width() const;
  uint16_t height() const;
  int16_t depth() const;
  // Sound descriptions (versions 0, 1 and 2).
  uint16_t soundVersion() const;
  uint32_t channels() const;
  uint32_t bitsPerSample() const;
  double sampleRate() const;
  // Sound whose sample table counts frames of duration 1 rather than packets (uncompressed audio,
  // and compressed formats with packets of constant size): the frames and bytes of one packet
  // (1 and the frame's size for uncompressed audio). False for formats with variable packets.
  bool soundFramePacking(uint32_t& framesPerPacket, uint32_t& bytesPerPacket) const;
  // Offset of the first extension atom for the given media type (86 for video, 36/52/72 for
  // sound, 16 otherwise), clamped to the description size.
  size_t extensionOffset(OSType mediaType) const;
  // Payload of the first extension atom of that type; sound descriptions are also searched one
  // level inside a 'wave' atom. False when absent.
  bool extension(OSType mediaType, OSType type, std::vector<uint8_t>& payload) const;
};

// Sound described by frames is kept as packets of at most this many frames, not one table
// entry per frame.
constexpr uint32_t kSoundPacketFrames = 4096;

struct Edit {
  int64_t duration = 0;    // movie time scale
  int64_t mediaTime = -1;  // media time scale; -1 = empty edit
  Fixed rate = fixed1;
};

// A media's version: a value no other media state ever had. Copies get fresh values, so state
// derived from a media (decoders) notices a replaced or restored media as well as an edited one.
class Generation {
 public:
  Generation() : value_(next()) {}
  Generation(const Generation&) : value_(next()) {}
  Generation& operator=(const Generation&) {
    value_ = next();
    return *this;
  }
  uint64_t value() const { return value_; }
  void bump() { value_ = next(); }

 private:
  static uint64_t next();
  uint64_t value_;
};

// What the drawing layers keep per track (its decoder and last pictures). The track owns it and
// frees it with itself; copies of a track start without one.
class TrackDrawState {
 public:
  virtual ~TrackDrawState() = default;
};

struct SampleInfo {
  uint32_t index = 0;      // 0-based
  int64_t decodeTime = 0;  // media time scale
  int32_t compositionOffset = 0;
  uint32_t duration = 0;
  uint32_t size = 0;
  uint64_t offset = 0;     // in the data reference's source
  uint32_t descIndex = 1;  // 1-based into descriptions
  bool sync = true;
};

}  // namespace vt::movie

struct VTMovie;
struct VTTrack;

struct VTMedia {
  VTTrack* track = nullptr;
  OSType mediaType = 'vide';
  TimeScale timeScale = 600;
  uint16_t language = 0;
  uint16_t quality = 0;
  OSType handlerManufacturer = 0;
  std::string handlerName;  // the media handler's component name as stored
  std::vector<vt::movie::DataRef> dataRefs;
  std::vector<vt::movie::SampleDesc> descriptions;
  vt::movie::SampleTable samples;  // description indexes in it are 1-based
  bool editing = false;            // between BeginMediaEdits and EndMediaEdits
  bool samplesChanged = false;     // sample-numbered extras become stale when set
  // Changed by every edit of the samples, descriptions or data references (see changed()).
  vt::movie::Generation generation;
  std::vector<uint8_t> inputMap;  // atom container bytes, empty if none
  VTUserData userData;            // the media's 'udta' items
  // Atoms of the file we do not model, kept to be written back: children of 'mdia', 'minf',
  // 'stbl' (dropped once samples change) and the media information header ('vmhd', 'smhd',
  // 'gmhd', ...), in file order.
  std::vector<std::vector<uint8_t>> mdiaExtras, minfExtras, stblExtras;
  std::vector<uint8_t> mediaInfoHeader;

  size_t sampleCount() const { return samples.count(); }
  int64_t duration() const { return samples.totalDuration(); }  // media time scale
  vt::movie::SampleInfo sampleInfo(uint32_t index) const { return samples.info(index); }
  // The sample whose decode interval contains t (t < 0 or past the end: -1).
  long sampleAtDecodeTime(int64_t t) const;
  // The sample displayed at media time t (composition order when offsets exist), or -1.
  long sampleAtTime(int64_t t) const;
  // The sample a picture shows at media time t: the displayed one, else (before the first
  // displayed sample) the one being decoded; -1 outside the media.
  long sampleShownAt(int64_t t) const;
  // Two samples show the same picture when they are the same bytes (the same data reference,
  // place, size and description): copies of one frame made by one edit count as one frame.
  bool samePicture(long a, long b) const;
  // Where another picture starts to be shown. Forward: the first such media time after t
  // (INT64_MAX if none); backward: the last one at or before t (INT64_MIN if none).
  int64_t shownChange(int64_t t, bool forward) const;
  // The sample's bytes. invalidSampleNum, invalidSampleDescIndex, badDataRefIndex,
  // couldNotResolveDataRef (no source), endOfDataReached (the source ends before the sample's
  // data does, as in a cut-off file) or ioErr when they cannot be had.
  OSErr loadSample(uint32_t index, std::vector<uint8_t>& out) const;
  // For importers and editors.
  int addDataSource(std::shared_ptr<vt::movie::DataSource> source, const std::string& path = {});
  int addDescription(std::vector<uint8_t> bytes);  // returns its 1-based index
  void appendSample(uint64_t offset, uint32_t size, uint32_t duration, uint32_t descIndex,
                    bool sync, int32_t compositionOffset = 0);
  // Code that edits the tables, descriptions or data references directly calls this after.
  void changed() { generation.bump(); }
};

struct VTTrack {
  VTMovie* movie = nullptr;
  uint32_t id = 0;
  uint32_t headerFlags = 0x000F;  // enabled, in movie, in preview, in poster
  int16_t layer = 0;
  int16_t alternateGroup = 0;
  int16_t volume = 0;  // 8.8
  Fixed matrix[9] = {fixed1, 0, 0, 0, fixed1, 0, 0, 0, 0x40000000};
  Fixed width = 0, height = 0;
  uint32_t creationTime = 0, modificationTime = 0;
  std::vector<vt::movie::Edit> edits;
  struct Reference {
    OSType type;
    std::vector<uint32_t> ids;  // referenced track IDs, 0 = deleted slot
  };
  std::vector<Reference> references;
  std::unique_ptr<VTMedia> media;
  VTUserData userData;
  std::vector<std::vector<uint8_t>> extras;              // unknown 'trak' children, as stored
  std::unique_ptr<vt::movie::TrackDrawState> drawState;  // decoders; never copied
  bool enabled() const { return (headerFlags & 1) != 0; }
  int64_t duration() const;  // movie time scale (sum of edits)
};

struct VTTimeBase {
  long flags = 0;
  Fixed rate = 0;
};

struct VTMovie {
  TimeScale timeScale = 600;
  Fixed preferredRate = fixed1;
  int16_t preferredVolume = 0x100;
  int16_t volume = 0x100;
  Fixed matrix[9] = {fixed1, 0, 0, 0, fixed1, 0, 0, 0, 0x40000000};
  uint32_t creationTime = 0, modificationTime = 0;
  int64_t previewTime = 0, previewDuration = 0, posterTime = 0;
  int64_t selectionTime = 0, selectionDuration = 0, currentTime = 0;
  uint32_t nextTrackID = 1;
  std::vector<std::unique_ptr<VTTrack>> tracks;
  VTUserData userData;
  std::vector<std::vector<uint8_t>> extras;  // unknown 'moov' children, as stored
  VTTimeBase timeBase;
  bool active = false;
  long playHints = 0;
  CGrafPtr port = nullptr;
  GDHandle device = nullptr;
  MovieProgressUPP progressProc = nullptr;
  long progressRefcon = 0;
  // The file the movie came from or was created in, and where its movie atom sits there.
  std::string filePath;
  short fileRefNum = -1;
  uint64_t moovOffset = 0, moovSize = 0;
  // Media data added to a movie without a file lands here.
  std::shared_ptr<vt::movie::MemorySource> memoryData;

  int64_t duration() const;  // movie time scale
};

namespace vt::movie {

// Within an edit, `offset` movie units from its start: the media time shown there (-1 in an
// empty edit). And the first offset that shows mediaTime or later (INT64_MAX when the edit
// never does: an empty edit, or a dwell edit past its one media time).
int64_t editMediaTime(const Edit& e, int64_t offset, TimeScale movieScale, TimeScale mediaScale);
int64_t editOffsetOf(const Edit& e, int64_t mediaTime, TimeScale movieScale, TimeScale mediaScale);

// Maps a movie (track) time to the media: the edit that contains it gives the media time and
// rate. False in empty edits and past the end. editEnd gets the movie time where that edit ends.
bool trackTimeToMediaTime(const VTTrack& track, int64_t movieTime, int64_t& mediaTime, Fixed& rate,
                          int64_t* editStart = nullptr, int64_t* editEnd = nullptr);
// The sample the track shows at a movie time, -1 for none.
long trackSampleAt(const VTTrack& track, int64_t movieTime);
// Where the track starts to show another picture (a frame starts; gaps are passed over):
// forward, the first such movie time after `from` (at or after it when inclusive); backward,
// the last one before `from` (at or before it). -1 when there is none. Movie time 0 counts when
// the track shows a sample there.
int64_t trackShownChange(const VTTrack& track, int64_t from, bool forward, bool inclusive);

// Building movies (importers, the file reader, tests).
VTMovie* newMovieObject();
VTTrack* addTrack(VTMovie* movie, OSType mediaType, TimeScale mediaTimeScale);
void finishTrack(VTTrack* track);  // one edit over the whole media at rate 1

// Importers for other containers: given a path, make a movie or return an error.
// `file` is the file already open as `path` (may be null: then the path is opened).
using ForeignFileOpener = OSErr (*)(const std::string& path,
                                    const std::shared_ptr<vt::files::HostFile>& file,
                                    VTMovie** movie);
void setForeignFileOpener(ForeignFileOpener opener);

// Live-object checks: public calls accept only objects that exist.
bool isLiveMovie(const VTMovie* m);
bool isLiveTrack(const VTTrack* t);
bool isLiveMedia(const VTMedia* m);

// Our alias record: resolves a QTNewAlias handle (or 'alis' data reference bytes we wrote) to
// a path. False for anything else.
bool resolveAlias(Handle alias, std::string& path);
bool aliasBytesToPath(const uint8_t* p, size_t n, std::string& path);
// `fromMoviePath`, when given, lets other readers find the file relative to the movie.
std::vector<uint8_t> makeAliasBytes(const std::string& absolutePath,
                                    const std::string& fromMoviePath = std::string());

// Records the movie toolbox's last error (GetMoviesError).
void setError(OSErr err);
// The data file a read last found missing or cut short on this thread ("" when none), so that
// a caller reporting the failure can name it.
const std::string& missingDataFile();
void noteMissingData(const std::string& path);
// The file a data reference names: where it resolved to, or where its alias pointed.
std::string dataRefFile(const DataRef& ref);

}  // namespace vt::movie

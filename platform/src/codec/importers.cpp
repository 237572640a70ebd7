// Movie importers: foreign containers and still images open as movies whose samples stay in
// the original file; file typing from content; the toolbox's start and end.
#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>
#include <QuickTimeComponents.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "codec/demux.h"
#include "codec/registry.h"
#include "core/fourcc.h"
#include "core/boundary.h"
#include "files/fsspec.h"
#include "files/host_file.h"
#include "model/model.h"
#include "qtff/reader.h"

namespace vt::codec {

namespace {

// Samples of an imported stream, addressed by sample number, read back through the demuxer.
// It also holds the file open through the movie layer, so the file counts as busy.
class DemuxDataSource : public vt::movie::DataSource {
 public:
  DemuxDataSource(std::unique_ptr<Demuxer> d, std::shared_ptr<vt::movie::DataSource> file)
      : demux_(std::move(d)), file_(std::move(file)) {}
  bool read(uint64_t offset, uint32_t size, uint8_t* dst) override {
    return demux_->read((int64_t)offset, size, dst);
  }

 private:
  std::unique_ptr<Demuxer> demux_;
  std::shared_ptr<vt::movie::DataSource> file_;
};

// Still images last this long as one-frame movies.
constexpr TimeScale kStillScale = 600;
constexpr uint32_t kStillDuration = 600;

// One imported stream as a track: its samples stay in the file, read through a reader of its
// own; an empty edit first when the stream starts after the file's first sample.
void addStreamTrack(VTMovie* m, std::unique_ptr<Demuxer> reader,
                    const std::shared_ptr<vt::movie::DataSource>& file) {
  const DemuxStream& st = reader->stream();
  VTTrack* t = vt::movie::addTrack(m, st.audio ? SoundMediaType : VideoMediaType, st.timeScale);
  if (!st.audio) {
    t->width = IntToFixed(st.video.width);
    t->height = IntToFixed(st.video.height);
  }
  VTMedia* md = t->media.get();
  std::vector<DemuxSample> samples = st.samples;
  vt::movie::SampleDesc probe;
  probe.bytes = st.entry;
  int64_t delay = st.delay, padding = st.padding;
  double start = st.start;
  int ref = md->addDataSource(std::make_shared<DemuxDataSource>(std::move(reader), file));
  probe.setDataRefIndex((uint16_t)ref);
  int desc = md->addDescription(probe.bytes);
  for (size_t i = 0; i < samples.size(); i++) {
    const DemuxSample& s = samples[i];
    int64_t dur = std::clamp<int64_t>(s.duration, 0, UINT32_MAX);
    int64_t off = std::clamp<int64_t>(s.compositionOffset, INT32_MIN, INT32_MAX);
    md->appendSample(i, s.size, (uint32_t)dur, (uint32_t)desc, s.key, (int32_t)off);
  }
  vt::movie::finishTrack(t);
  if (t->edits.empty()) return;
  vt::movie::Edit& e = t->edits.front();
  if (delay > 0 || padding > 0) {
    // The encoder's leading and trailing frames are not played.
    e.mediaTime = delay;
    e.duration = vt::movie::scaleUp(md->duration() - delay - padding, m->timeScale, md->timeScale);
  }
  int64_t lead = std::llround(start * m->timeScale);
  if (lead > 0) t->edits.insert(t->edits.begin(), vt::movie::Edit{lead, -1, fixed1});
}

OSErr importStream(const std::string& path, const std::shared_ptr<vt::files::HostFile>& host,
                   VTMovie** out) {
  auto opened = Demuxer::open(host, true);
  if (!opened) return opened.error();
  std::unique_ptr<Demuxer> d = std::move(opened.value());
  const std::vector<DemuxStream>& streams = d->streams();
  // A picture whose codec has no movie code could not be described in a movie.
  if (!streams[0].audio && streams[0].video.codec == 0) return noCodecErr;
  auto file = vt::movie::fileSource(path, host);
  VTMovie* m = vt::movie::newMovieObject();
  // Several sound streams are alternatives (languages, commentary): one plays.
  size_t sounds = 0, defaultSound = SIZE_MAX;
  for (size_t k = 0; k < streams.size(); ++k)
    if (streams[k].audio) {
      ++sounds;
      if (streams[k].enabled && defaultSound == SIZE_MAX) defaultSound = k;
    }
  std::vector<std::unique_ptr<Demuxer>> readers;
  for (size_t k = 1; k < streams.size(); ++k) readers.push_back(d->readerFor(k));
  readers.insert(readers.begin(), std::move(d));
  bool soundEnabled = false;
  for (size_t k = 0; k < readers.size(); ++k) {
    bool audio = streams[k].audio;
    if (!readers[k]) continue;
    addStreamTrack(m, std::move(readers[k]), file);
    if (!audio || sounds < 2) continue;
    VTTrack* t = m->tracks.back().get();
    t->alternateGroup = 1;
    bool on = !soundEnabled && (defaultSound == SIZE_MAX || k == defaultSound);
    if (!on) t->headerFlags &= ~1u;
    soundEnabled = soundEnabled || on;
  }
  *out = m;
  return noErr;
}

// A still image becomes one uncompressed 32-bit frame held in memory.
OSErr importStill(const std::shared_ptr<vt::files::HostFile>& host, VTMovie** out) {
  Result<Image> decoded = decodeStillImage(host);
  if (!decoded) return decoded.error();
  const Image& img = *decoded;
  if (img.width > 32767 || img.height > 32767) return badFileFormat;
  VTMovie* m = vt::movie::newMovieObject();
  VTTrack* t = vt::movie::addTrack(m, VideoMediaType, kStillScale);
  t->width = IntToFixed(img.width);
  t->height = IntToFixed(img.height);
  VTMedia* md = t->media.get();
  auto mem = std::make_shared<vt::movie::MemorySource>();
  mem->bytes.resize(img.pixels.size() * 4);
  uint8_t* p = mem->bytes.data();
  for (Pixel px : img.pixels) {  // 'raw ' at depth 32 is A, R, G, B bytes
    writeBE32(p, px);
    p += 4;
  }
  int ref = md->addDataSource(mem);
  std::vector<uint8_t> e(86, 0);
  writeBE32(&e[0], 86);
  writeBE32(&e[4], 'raw ');
  writeBE16(&e[14], (uint16_t)ref);
  writeBE32(&e[28], 0x400);
  writeBE16(&e[32], (uint16_t)img.width);
  writeBE16(&e[34], (uint16_t)img.height);
  writeBE32(&e[36], 0x00480000);
  writeBE32(&e[40], 0x00480000);
  writeBE16(&e[48], 1);
  e[50] = 4;
  std::memcpy(&e[51], "None", 4);
  writeBE16(&e[82], 32);
  writeBE16(&e[84], 0xFFFF);
  int desc = md->addDescription(e);
  md->appendSample(0, (uint32_t)mem->bytes.size(), kStillDuration, (uint32_t)desc, true);
  vt::movie::finishTrack(t);
  *out = m;
  return noErr;
}

}  // namespace

OSErr openForeignFile(const std::string& path, const std::shared_ptr<vt::files::HostFile>& open,
                      VTMovie** movie) {
  if (!movie) return paramErr;
  *movie = nullptr;
  OSErr err = noErr;
  std::shared_ptr<vt::files::HostFile> file = open ? open : vt::files::HostFile::open(path, &err);
  if (!file) return err == fnfErr || err == dirNFErr ? (OSErr)fnfErr : (OSErr)noMovieFound;
  OSType type = sniffFileType(*file);
  if (type == 'GIFf') {
    // Animated GIFs are movies; a GIF the stream reader refuses may still be a picture.
    err = importStream(path, file, movie);
    return err == noErr ? err : importStill(file, movie);
  }
  if (isMovieImportType(type)) return importStream(path, file, movie);
  if (isImageType(type)) return importStill(file, movie);
  return noMovieFound;
}

}  // namespace vt::codec

namespace {

OSType contentType(const std::string& path) {
  if (vt::qtff::isMovieFile(path)) return kQTFileTypeMovie;
  return vt::codec::sniffFileType(path);
}

}  // namespace

OSErr GetMovieImporterForDataRef(OSType dataRefType, Handle dataRef, long flags,
                                 Component* importer) {
  return vt::apiStatus([&]() -> OSErr {
    if (!importer) return paramErr;
    *importer = nullptr;
    if (dataRefType != rAliasType) return cantFindHandler;  // only file data references import
    std::string path;
    if (!dataRef || !vt::movie::resolveAlias(dataRef, path)) return couldNotResolveDataRef;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return couldNotResolveDataRef;
    OSType type = vt::codec::sniffFileType(path);
    Component c = vt::codec::isMovieImportType(type)
                      ? vt::codec::findByFileType(MovieImportType, type)
                      : nullptr;
    if (!c && !(flags & kGetMovieImporterDontConsiderGraphicsImporters) &&
        vt::codec::isImageType(type))
      c = vt::codec::findByFileType(GraphicsImporterComponentType, type);
    if (!c) return cantFindHandler;
    *importer = c;
    return noErr;
  });
}

OSErr FSpGetFInfo(const FSSpec* spec, FInfo* info) {
  return vt::apiStatus([&]() -> OSErr {
    if (!spec || !info) return paramErr;
    std::string path;
    OSErr err = vt::files::specToPath(*spec, path);
    if (err != noErr) return err;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return fnfErr;
    if (S_ISDIR(st.st_mode)) return fnfErr;  // folders have no Finder information of files
    std::memset(info, 0, sizeof *info);
    OSType type = 0, creator = 0;
    if (vt::files::readTypeCreator(path, type, creator) && type != 0) {
      info->fdType = type;
      info->fdCreator = creator;
      return noErr;
    }
    info->fdType = contentType(path);
    info->fdCreator = creator;
    return noErr;
  });
}

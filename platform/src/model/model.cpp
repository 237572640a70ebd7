#include "model/model.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_set>

#include <MacMemory.h>

#include "core/fourcc.h"
#include "core/reset.h"
#include "model/internal.h"
#include "files/fsspec.h"
#include "files/host_file.h"

namespace vt::movie {

namespace {

// Live file sources by the absolute path the movies use, so one path is opened once.
std::map<std::string, std::weak_ptr<DataSource>>& fileSources() {
  static std::map<std::string, std::weak_ptr<DataSource>> m;
  return m;
}

// A file's bytes through the files layer's one open file for it.
class FileSource : public DataSource {
 public:
  FileSource(std::string path, std::shared_ptr<vt::files::HostFile> file)
      : path_(std::move(path)), file_(std::move(file)) {}
  void rename(const std::string& to) { path_ = to; }
  ~FileSource() override {
    if (path_.empty()) return;
    auto& m = fileSources();
    auto it = m.find(path_);
    if (it != m.end() && it->second.expired()) m.erase(it);
  }
  bool read(uint64_t offset, uint32_t size, uint8_t* dst) override {
    return file_->read(offset, size, dst);
  }
  std::string filePath() const override { return path_; }
  uint64_t size() const override { return file_->size(); }
  std::shared_ptr<vt::files::HostFile> hostFile() const override { return file_; }

 private:
  std::string path_;
  std::shared_ptr<vt::files::HostFile> file_;
};

}  // namespace

std::string absolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return path;
  return std::string(buf) + "/" + path;
}

namespace {

std::unordered_set<const VTMovie*>& liveMovies() {
  static std::unordered_set<const VTMovie*> s;
  return s;
}

ForeignFileOpener gForeignOpener = nullptr;
thread_local OSErr gLastError = noErr;
thread_local OSErr gStickyError = noErr;
thread_local std::string tMissingData;

const ResetRegistration kReset(ResetStage::Movies, [] {
  std::vector<const VTMovie*> all(liveMovies().begin(), liveMovies().end());
  for (const VTMovie* m : all) destroyMovie(const_cast<VTMovie*>(m));
  gLastError = gStickyError = noErr;
});

}  // namespace

std::shared_ptr<DataSource> openFileSource(const std::string& rawPath) {
  std::string path = absolutePath(rawPath);
  auto& m = fileSources();
  auto it = m.find(path);
  if (it != m.end()) {
    if (auto s = it->second.lock()) return s;
  }
  auto file = vt::files::HostFile::open(path);
  if (!file) return nullptr;
  auto s = std::make_shared<FileSource>(path, std::move(file));
  m[path] = s;
  return s;
}

std::shared_ptr<DataSource> fileSource(const std::string& rawPath,
                                       std::shared_ptr<vt::files::HostFile> file) {
  std::string path = absolutePath(rawPath);
  auto& m = fileSources();
  auto it = m.find(path);
  if (it != m.end()) {
    auto s = it->second.lock();
    if (s && s->hostFile() == file) return s;
  }
  auto s = std::make_shared<FileSource>(path, std::move(file));
  m[path] = s;
  return s;
}

std::shared_ptr<DataSource> adoptFileSource(const std::string& name, int fd) {
  auto s = std::make_shared<FileSource>(name, vt::files::HostFile::adopt(name, fd));
  fileSources()[name] = s;
  return s;
}

void fileRenamed(const std::string& from, const std::string& to) {
  vt::files::renameOpenFiles(from, to);
  auto& m = fileSources();
  auto it = m.find(from);
  if (it != m.end()) {
    auto s = it->second.lock();
    m.erase(it);
    if (s) {
      static_cast<FileSource*>(s.get())->rename(to);
      if (!to.empty()) m[to] = s;
    }
  }
  for (const VTMovie* cm : liveMovies()) {
    VTMovie* movie = const_cast<VTMovie*>(cm);
    if (movie->filePath == from) movie->filePath = to;
    for (auto& t : movie->tracks)
      if (t->media)
        for (DataRef& r : t->media->dataRefs)
          if (r.path == from) r.path = to;
  }
}

bool isFileBusy(const std::string& rawPath) { return vt::files::nameIsBusy(rawPath); }

bool MemorySource::read(uint64_t offset, uint32_t size, uint8_t* dst) {
  if (offset > bytes.size() || size > bytes.size() - offset) return false;
  if (size) std::memcpy(dst, bytes.data() + offset, size);
  return true;
}

uint64_t Generation::next() {
  static std::atomic<uint64_t> counter{0};
  return ++counter;
}

// ---- sample descriptions ----------------------------------------------------------------------

OSType SampleDesc::format() const { return bytes.size() >= 8 ? readBE32(&bytes[4]) : 0; }
uint16_t SampleDesc::dataRefIndex() const { return bytes.size() >= 16 ? readBE16(&bytes[14]) : 0; }
void SampleDesc::setDataRefIndex(uint16_t index) {
  if (bytes.size() >= 16) writeBE16(&bytes[14], index);
}
uint16_t SampleDesc::width() const { return bytes.size() >= 36 ? readBE16(&bytes[32]) : 0; }
uint16_t SampleDesc::height() const { return bytes.size() >= 36 ? readBE16(&bytes[34]) : 0; }
int16_t SampleDesc::depth() const { return bytes.size() >= 84 ? (int16_t)readBE16(&bytes[82]) : 0; }
uint16_t SampleDesc::soundVersion() const { return bytes.size() >= 18 ? readBE16(&bytes[16]) : 0; }
uint32_t SampleDesc::channels() const {
  if (soundVersion() == 2 && bytes.size() >= 52) return readBE32(&bytes[48]);
  return bytes.size() >= 26 ? readBE16(&bytes[24]) : 0;
}
uint32_t SampleDesc::bitsPerSample() const {
  if (soundVersion() == 2 && bytes.size() >= 60) return readBE32(&bytes[56]);
  return bytes.size() >= 28 ? readBE16(&bytes[26]) : 0;
}
double SampleDesc::sampleRate() const {
  if (soundVersion() == 2 && bytes.size() >= 48) {
    uint64_t bits = readBE64(&bytes[40]);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  return bytes.size() >= 36 ? readBE32(&bytes[32]) / 65536.0 : 0.0;
}

bool SampleDesc::soundFramePacking(uint32_t& framesPerPacket, uint32_t& bytesPerPacket) const {
  framesPerPacket = bytesPerPacket = 0;
  if (bytes.size() < 36) return false;
  uint16_t v = soundVersion();
  if (v == 2) {
    if (bytes.size() < 72) return false;
    bytesPerPacket = readBE32(&bytes[64]);
    framesPerPacket = readBE32(&bytes[68]);
  } else if (v == 1 && bytes.size() >= 52 && (int16_t)readBE16(&bytes[28]) == -2) {
    return false;  // compression ID -2: the table holds real packets
  } else if (v == 1 && bytes.size() >= 52 && readBE32(&bytes[44]) > 0) {
    // Bytes per frame (packet bytes times channels) tells the packing.
    framesPerPacket = std::max<uint32_t>(1, readBE32(&bytes[36]));
    bytesPerPacket = readBE32(&bytes[44]);
  } else {
    uint32_t ch = channels(), bits = bitsPerSample();
    switch (format()) {
      case 0:
      case 'NONE':
      case 'raw ':
      case 'twos':
      case 'sowt':
        if (bits == 8 || bits == 16 || bits == 24 || bits == 32) bytesPerPacket = ch * bits / 8;
        break;
      case 'in24': bytesPerPacket = 3 * ch; break;
      case 'in32':
      case 'fl32': bytesPerPacket = 4 * ch; break;
      case 'fl64': bytesPerPacket = 8 * ch; break;
      case 'ulaw':
      case 'alaw': bytesPerPacket = ch; break;
      case 'ima4':
        framesPerPacket = 64;
        bytesPerPacket = 34 * ch;
        break;
      case 'MAC3':
        framesPerPacket = 6;
        bytesPerPacket = 2 * ch;
        break;
      case 'MAC6':
        framesPerPacket = 6;
        bytesPerPacket = ch;
        break;
      default: return false;
    }
    if (!framesPerPacket) framesPerPacket = 1;
  }
  // Beyond these a description is damaged rather than describing real audio.
  if (framesPerPacket == 0 || framesPerPacket > 65536 || bytesPerPacket == 0 ||
      bytesPerPacket > (1u << 20)) {
    framesPerPacket = bytesPerPacket = 0;
    return false;
  }
  return true;
}

size_t SampleDesc::extensionOffset(OSType mediaType) const {
  size_t off = 16;
  if (mediaType == 'vide') {
    off = 86;
  } else if (mediaType == 'soun') {
    uint16_t v = soundVersion();
    off = v == 1 ? 52 : v == 2 ? 72 : 36;
  }
  return std::min(off, bytes.size());
}

static bool findAtom(const uint8_t* p, size_t n, OSType type, std::vector<uint8_t>& payload,
                     bool intoWave) {
  size_t pos = 0;
  while (pos + 8 <= n) {
    uint32_t size = readBE32(p + pos);
    OSType t = readBE32(p + pos + 4);
    if (size < 8 || size > n - pos) return false;
    if (t == type) {
      payload.assign(p + pos + 8, p + pos + size);
      return true;
    }
    if (intoWave && t == 'wave' && findAtom(p + pos + 8, size - 8, type, payload, false))
      return true;
    pos += size;
  }
  return false;
}

bool SampleDesc::extension(OSType mediaType, OSType type, std::vector<uint8_t>& payload) const {
  size_t off = extensionOffset(mediaType);
  return findAtom(bytes.data() + off, bytes.size() - off, type, payload, mediaType == 'soun');
}

// ---- building -----------------------------------------------------------------------------------

VTMovie* newMovieObject() {
  VTMovie* m = new VTMovie();
  liveMovies().insert(m);
  return m;
}

void forgetMovieObject(const VTMovie* m) { liveMovies().erase(m); }

VTTrack* addTrack(VTMovie* movie, OSType mediaType, TimeScale mediaTimeScale) {
  auto t = std::make_unique<VTTrack>();
  t->movie = movie;
  t->id = movie->nextTrackID++;
  if (mediaType == 'soun') t->volume = 0x100;
  t->media = std::make_unique<VTMedia>();
  t->media->track = t.get();
  t->media->mediaType = mediaType;
  t->media->timeScale = mediaTimeScale > 0 ? mediaTimeScale : 600;
  VTTrack* raw = t.get();
  movie->tracks.push_back(std::move(t));
  return raw;
}

void finishTrack(VTTrack* track) {
  track->edits.clear();
  if (!track->media || !track->movie) return;
  int64_t d = track->media->duration();
  if (d <= 0) return;
  Edit e;
  e.mediaTime = 0;
  e.duration = scaleUp(d, track->movie->timeScale, track->media->timeScale);
  e.rate = fixed1;
  track->edits.push_back(e);
}

void setForeignFileOpener(ForeignFileOpener opener) { gForeignOpener = opener; }
ForeignFileOpener foreignFileOpener() { return gForeignOpener; }

bool isLiveMovie(const VTMovie* m) { return m && liveMovies().count(m) != 0; }
bool isLiveTrack(const VTTrack* t) {
  if (!t) return false;
  for (const VTMovie* m : liveMovies())
    for (const auto& tr : m->tracks)
      if (tr.get() == t) return true;
  return false;
}
bool isLiveMedia(const VTMedia* md) {
  if (!md) return false;
  for (const VTMovie* m : liveMovies())
    for (const auto& tr : m->tracks)
      if (tr->media.get() == md) return true;
  return false;
}

void setError(OSErr err) {
  gLastError = err;
  if (err && !gStickyError) gStickyError = err;
}
OSErr lastError() { return gLastError; }
OSErr stickyError() { return gStickyError; }
void clearStickyError() { gStickyError = noErr; }

// ---- aliases --------------------------------------------------------------------------------
// Alias records in the classic layout (version 2), so other readers can follow our data
// references: a 150-byte fixed part (volume name, file name, levels from the movie's folder up
// to the common folder and down to the file) and tagged extra records, here the absolute path
// (tag 2, what other readers use) and the POSIX path (tag 18). Older files of ours hold a short
// 'VTal' record (version, path length, path), still read.

namespace {

constexpr size_t kAliasFixedSize = 150;
constexpr int16_t kAliasTagAbsolutePath = 2;
constexpr int16_t kAliasTagPosixPath = 18;
constexpr int16_t kAliasTagEnd = -1;

std::vector<std::string> pathParts(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

void appendAliasRecord(std::vector<uint8_t>& b, int16_t tag, const std::string& data) {
  size_t at = b.size();
  b.resize(at + 4 + data.size() + (data.size() & 1), 0);
  writeBE16(&b[at], (uint16_t)tag);
  writeBE16(&b[at + 2], (uint16_t)data.size());
  std::memcpy(b.data() + at + 4, data.data(), data.size());
}

}  // namespace

std::vector<uint8_t> makeAliasBytes(const std::string& absolutePathText,
                                    const std::string& fromMoviePath) {
  std::string p = absolutePathText.substr(0, 0x7FF0);
  std::vector<uint8_t> b(kAliasFixedSize, 0);
  writeBE16(&b[6], 2);  // version; kind 0 (a file); volume name empty
  std::vector<std::string> to = pathParts(p);
  std::string name = to.empty() ? std::string() : to.back();
  if (name.size() > 63) name.resize(63);
  b[50] = (uint8_t)name.size();
  std::memcpy(&b[51], name.data(), name.size());
  // Levels: from the movie's folder up to the folder both share (1 = the movie's own folder),
  // and from there down to the file (1 = directly in it); -1 when unknown.
  int16_t levelsFrom = -1, levelsTo = -1;
  if (!fromMoviePath.empty() && !to.empty()) {
    std::vector<std::string> from = pathParts(fromMoviePath);
    size_t common = 0;
    while (common + 1 < from.size() && common + 1 < to.size() && from[common] == to[common])
      ++common;
    levelsFrom = (int16_t)(from.size() - 1 - common + 1);
    levelsTo = (int16_t)(to.size() - 1 - common + 1);
  }
  writeBE16(&b[130], (uint16_t)levelsFrom);
  writeBE16(&b[132], (uint16_t)levelsTo);
  appendAliasRecord(b, kAliasTagAbsolutePath, p);
  appendAliasRecord(b, kAliasTagPosixPath, p);
  appendAliasRecord(b, kAliasTagEnd, std::string());
  writeBE16(&b[4], (uint16_t)b.size());
  return b;
}

bool aliasBytesToPath(const uint8_t* p, size_t n, std::string& path) {
  if (n >= 8 && readBE32(p) == 'VTal') {
    if (readBE16(p + 4) != 1) return false;
    size_t len = readBE16(p + 6);
    if (len == 0 || len > n - 8) return false;
    path.assign((const char*)p + 8, len);
    return path.find('\0') == std::string::npos;
  }
  if (n < kAliasFixedSize || readBE16(p + 6) != 2) return false;
  std::string absolute, posix;
  for (size_t at = kAliasFixedSize; at + 4 <= n;) {
    int16_t tag = (int16_t)readBE16(p + at);
    size_t len = readBE16(p + at + 2);
    if (tag == kAliasTagEnd) break;
    if (len > n - at - 4) return false;
    std::string data((const char*)p + at + 4, len);
    if (tag == kAliasTagPosixPath) posix = data;
    if (tag == kAliasTagAbsolutePath) absolute = data;
    at += 4 + len + (len & 1);
  }
  path = !posix.empty() ? posix : absolute;
  if (path.empty() || path[0] != '/') return false;
  return path.find('\0') == std::string::npos;
}

bool resolveAlias(Handle alias, std::string& path) {
  if (!alias || !*alias) return false;
  return aliasBytesToPath((const uint8_t*)*alias, (size_t)::GetHandleSize(alias), path);
}

}  // namespace vt::movie

// ---- media -------------------------------------------------------------------------------------

using namespace vt::movie;

long VTMedia::sampleAtDecodeTime(int64_t t) const { return samples.atDecodeTime(t); }

long VTMedia::sampleAtTime(int64_t t) const {
  if (!samples.hasCompositionOffsets()) return sampleAtDecodeTime(t);
  if (t < 0 || samples.empty()) return -1;
  // Composition offsets are small reorderings: look around the decode-order guess.
  long guess = sampleAtDecodeTime(std::min(t, duration() - 1));
  if (guess < 0) return -1;
  long best = -1;
  int64_t bestStart = INT64_MIN;
  long lo = std::max(0L, guess - 64), hi = std::min((long)sampleCount() - 1, guess + 64);
  for (long i = lo; i <= hi; ++i) {
    int64_t cts = samples.decodeTime((uint32_t)i) + samples.compositionOffset((uint32_t)i);
    if (cts <= t && cts > bestStart) {
      bestStart = cts;
      best = i;
    }
  }
  return best;
}

OSErr VTMedia::loadSample(uint32_t index, std::vector<uint8_t>& out) const {
  if (index >= samples.count()) return invalidSampleNum;
  uint32_t d = samples.descIndex(index);
  if (d == 0 || d > descriptions.size()) return invalidSampleDescIndex;
  uint16_t r = descriptions[d - 1].dataRefIndex();
  if (r == 0 || r > dataRefs.size()) return badDataRefIndex;
  const DataRef& ref = dataRefs[r - 1];
  auto missing = [&](OSErr err) {
    noteMissingData(dataRefFile(ref));
    return err;
  };
  if (!ref.source) return missing(couldNotResolveDataRef);
  uint64_t offset = samples.offset(index);
  uint32_t size = samples.size(index);
  uint64_t have = ref.source->size();
  if (offset > have || size > have - offset) return missing(endOfDataReached);
  out.resize(size);
  return ref.source->read(offset, size, out.data()) ? (OSErr)noErr : missing(ioErr);
}

const std::string& vt::movie::missingDataFile() { return tMissingData; }
void vt::movie::noteMissingData(const std::string& path) { tMissingData = path; }

std::string vt::movie::dataRefFile(const DataRef& ref) {
  if (!ref.path.empty()) return ref.path;
  if (ref.source && !ref.source->filePath().empty()) return ref.source->filePath();
  std::string aliased;
  if (!ref.data.empty() && aliasBytesToPath(ref.data.data(), ref.data.size(), aliased))
    return aliased;
  return ref.self() ? "the movie's own file" : "a file the movie refers to";
}

int VTMedia::addDataSource(std::shared_ptr<DataSource> source, const std::string& path) {
  DataRef ref;
  ref.flags = 0;
  ref.path = path.empty() && source ? source->filePath() : path;
  if (!ref.path.empty()) ref.data = makeAliasBytes(ref.path);
  ref.source = std::move(source);
  dataRefs.push_back(std::move(ref));
  changed();
  return (int)dataRefs.size();
}

int VTMedia::addDescription(std::vector<uint8_t> bytes) {
  SampleDesc d;
  d.bytes = std::move(bytes);
  if (d.bytes.size() >= 4) vt::writeBE32(&d.bytes[0], (uint32_t)d.bytes.size());
  descriptions.push_back(std::move(d));
  changed();
  return (int)descriptions.size();
}

void VTMedia::appendSample(uint64_t offset, uint32_t size, uint32_t duration, uint32_t descIndex,
                           bool sync, int32_t compositionOffset) {
  samples.append(offset, size, duration, descIndex, sync, compositionOffset);
  samplesChanged = true;
  changed();
}

int64_t VTTrack::duration() const {
  int64_t d = 0;
  for (const auto& e : edits) d += e.duration;
  return d;
}

int64_t VTMovie::duration() const {
  int64_t d = 0;
  for (const auto& t : tracks) d = std::max(d, t->duration());
  return d;
}

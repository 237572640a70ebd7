// Movie files: opening, creating, writing the movie atom, flattening, deleting.
#include <MacMemory.h>
#include <Movies.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/fourcc.h"
#include "files/fsspec.h"
#include "model/internal.h"
#include "movie/storage.h"
#include "qtff/reader.h"
#include "qtff/writer.h"

using namespace vt::movie;

namespace {

OSErr fail(OSErr e) {
  setError(e);
  return e;
}

OSErr pathOf(const FSSpec* spec, std::string& path) {
  if (!spec) return paramErr;
  return vt::files::specToPath(*spec, path);
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

OSErr errnoToOSErr(int e) {
  switch (e) {
    case ENOENT: return fnfErr;
    case EACCES: case EPERM: return permErr;
    case EROFS: return wPrErr;
    case ENOSPC: return dskFulErr;
    case EEXIST: return dupFNErr;
    case EISDIR: return bdNamErr;
    default: return ioErr;
  }
}

// Removes a file unless a live movie reads from it.
OSErr removeFile(const std::string& path) {
  if (isFileBusy(path)) return fBsyErr;
  if (::unlink(path.c_str()) != 0) return errnoToOSErr(errno);
  return noErr;
}

bool writeAt(int fd, const uint8_t* p, size_t n, uint64_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::pwrite(fd, p + done, n - done, (off_t)(at + done));
    if (w <= 0) return false;
    done += (size_t)w;
  }
  return true;
}

// Media data that does not live in a plain file (memory, foreign containers) is copied into
// the movie file, so the movie atom can refer to it.
OSErr moveDataIntoFile(VTMovie& movie, MovieFile& f) {
  for (auto& t : movie.tracks) {
    if (!t->media) continue;
    VTMedia& md = *t->media;
    for (size_t r = 0; r < md.dataRefs.size(); ++r) {
      DataRef& ref = md.dataRefs[r];
      if (!ref.source || !ref.source->filePath().empty()) continue;
      int fileRef = 0;
      std::vector<uint8_t> bytes;
      for (size_t i = 0; i < md.sampleCount(); ++i) {
        uint32_t di = md.descIndexes[i];
        if (di < 1 || di > md.descriptions.size()) continue;
        if (md.descriptions[di - 1].dataRefIndex() != r + 1) continue;
        bytes.resize(md.sizes[i]);
        if (!ref.source->read(md.offsets[i], md.sizes[i], bytes.data())) return couldNotResolveDataRef;
        uint64_t off;
        OSErr err = appendToFile(f, bytes.data(), bytes.size(), off);
        if (err) return err;
        md.offsets[i] = off;
        fileRef = 1;
      }
      (void)fileRef;
      ref.flags = 1;
      ref.path = f.path;
      ref.data.clear();
      ref.source = openFileSource(f.path);
      md.samplesChanged = true;
      md.changed();
    }
  }
  return noErr;
}

void setNameItem(VTMovie& movie, ConstStr255Param name) {
  if (!name) return;
  auto& items = movie.userData.items;
  std::vector<uint8_t> data(name + 1, name + 1 + name[0]);
  for (auto& it : items)
    if (it.type == 'name') {
      it.data = data;
      return;
    }
  items.push_back(VTUserData::Item{'name', data});
}

OSErr writeMovieAtomAtEnd(VTMovie& movie, MovieFile& f) {
  OSErr err = closeMediaData(f);
  if (err) return err;
  std::vector<uint8_t> moov = vt::qtff::buildMovieAtom(movie, f.path);
  off_t end = ::lseek(f.fd, 0, SEEK_END);
  if (end < 0) return ioErr;
  if (!writeAt(f.fd, moov.data(), moov.size(), (uint64_t)end)) {
    OSErr e = errno == ENOSPC ? dskFulErr : ioErr;
    if (::ftruncate(f.fd, end) != 0) return ioErr;
    return e;
  }
  movie.moovOffset = (uint64_t)end;
  movie.moovSize = moov.size();
  return noErr;
}

}  // namespace

OSErr OpenMovieFile(const FSSpec* fileSpec, short* resRefNum, SInt8 permission) {
  if (resRefNum) *resRefNum = 0;
  std::string path;
  OSErr err = pathOf(fileSpec, path);
  if (err) return fail(err);
  if (!resRefNum) return fail(paramErr);
  int fd = -1;
  bool writable = false;
  if (permission == fsRdPerm) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } else if (permission == fsCurPerm) {
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    writable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } else {
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    writable = true;
  }
  if (fd < 0) return fail(errnoToOSErr(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(S_ISDIR(st.st_mode) ? bdNamErr : ioErr);
  }
  short ref = openMovieFileRef(path, fd, writable);
  if (!ref) {
    ::close(fd);
    return fail(tmfoErr);
  }
  *resRefNum = ref;
  return fail(noErr);
}

OSErr CloseMovieFile(short resRefNum) {
  MovieFile* f = movieFile(resRefNum);
  if (!f) return fail(rfNumErr);
  OSErr err = closeMediaData(*f);
  ::close(f->fd);
  closeMovieFileRef(resRefNum);
  return fail(err);
}

OSErr NewMovieFromFile(Movie* theMovie, short resRefNum, short* resId, StringPtr resName,
                       short newMovieFlags, Boolean* dataRefWasChanged) {
  if (theMovie) *theMovie = nullptr;
  if (dataRefWasChanged) *dataRefWasChanged = false;
  if (!theMovie) return fail(paramErr);
  MovieFile* f = movieFile(resRefNum);
  if (!f) return fail(rfNumErr);
  short want = resId ? *resId : 0;
  if (want > 0) return fail(resNotFound);  // one movie per file, in the data fork
  VTMovie* m = nullptr;
  OSErr err;
  if (vt::qtff::isMovieFile(f->path)) {
    // Data written through this reference number must be complete before reading.
    closeMediaData(*f);
    vt::qtff::MovieAtomLocation where;
    err = vt::qtff::readMovieFile(f->path, &m, &where);
    if (!err) {
      m->moovOffset = where.offset;
      m->moovSize = where.size;
    }
  } else if (ForeignFileOpener open = foreignFileOpener()) {
    err = open(f->path, &m);
    if (!err && !isLiveMovie(m)) err = internalQuickTimeError;
  } else {
    err = cantFindHandler;
  }
  if (err) return fail(err);
  m->filePath = f->path;
  m->fileRefNum = resRefNum;
  m->active = (newMovieFlags & newMovieActive) != 0;
  if (resId) *resId = movieInDataForkResID;
  if (resName) {
    resName[0] = 0;
    for (const auto& it : m->userData.items)
      if (it.type == 'name') {
        size_t n = std::min<size_t>(255, it.data.size());
        resName[0] = (unsigned char)n;
        std::memcpy(resName + 1, it.data.data(), n);
        break;
      }
  }
  *theMovie = m;
  return fail(noErr);
}

OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, ScriptCode, long flags,
                      short* resRefNum, Movie* newmovie) {
  if (resRefNum) *resRefNum = 0;
  if (newmovie) *newmovie = nullptr;
  std::string path;
  OSErr err = pathOf(fileSpec, path);
  if (err) return fail(err);
  if (exists(path)) {
    if (!(flags & (long)createMovieFileDeleteCurFile)) return fail(dupFNErr);
    err = removeFile(path);
    if (err) return fail(err);
  }
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return fail(errnoToOSErr(errno));
  std::vector<uint8_t> ftyp = vt::qtff::fileTypeAtom();
  if (!writeAt(fd, ftyp.data(), ftyp.size(), 0)) {
    ::close(fd);
    ::unlink(path.c_str());
    return fail(errno == ENOSPC ? dskFulErr : ioErr);
  }
  vt::files::writeTypeCreator(path, 'MooV', creator);
  short ref = 0;
  if (flags & (long)createMovieFileDontOpenFile) {
    ::close(fd);
  } else {
    ref = openMovieFileRef(path, fd, true);
    if (!ref) {
      ::close(fd);
      return fail(tmfoErr);
    }
  }
  if (resRefNum) *resRefNum = ref;
  if (!(flags & (long)createMovieFileDontCreateMovie) && newmovie) {
    VTMovie* m = newMovieObject();
    m->active = true;
    m->filePath = path;
    m->fileRefNum = ref ? ref : -1;
    *newmovie = m;
  }
  return fail(noErr);
}

OSErr AddMovieResource(Movie theMovie, short resRefNum, short* resId, ConstStr255Param resName) {
  if (!isLiveMovie(theMovie)) return fail(invalidMovie);
  MovieFile* f = movieFile(resRefNum);
  if (!f) return fail(rfNumErr);
  if (!f->writable) return fail(wrPermErr);
  if (!holdsMovieData(*f)) return fail(badFileFormat);
  VTMovie& m = *theMovie;
  OSErr err = moveDataIntoFile(m, *f);
  if (err) return fail(err);
  setNameItem(m, resName);
  err = writeMovieAtomAtEnd(m, *f);
  if (err) return fail(err);
  if (m.filePath.empty()) {
    m.filePath = f->path;
    m.fileRefNum = resRefNum;
  }
  if (resId) *resId = movieInDataForkResID;
  return fail(noErr);
}

OSErr UpdateMovieResource(Movie theMovie, short resRefNum, short resId, ConstStr255Param resName) {
  if (!isLiveMovie(theMovie)) return fail(invalidMovie);
  MovieFile* f = movieFile(resRefNum);
  if (!f) return fail(rfNumErr);
  if (!f->writable) return fail(wrPermErr);
  if (resId > 0) return fail(resNotFound);
  // A movie imported from a file of another format cannot be written back into it.
  if (!holdsMovieData(*f)) return fail(badFileFormat);
  VTMovie& m = *theMovie;
  OSErr err = moveDataIntoFile(m, *f);
  if (err) return fail(err);
  err = closeMediaData(*f);
  if (err) return fail(err);
  setNameItem(m, resName);
  std::vector<uint8_t> moov = vt::qtff::buildMovieAtom(m, f->path);
  bool known = m.filePath == f->path && m.moovSize >= 8;
  if (known) {
    uint8_t h[8];
    known = ::pread(f->fd, h, 8, (off_t)m.moovOffset) == 8 && vt::readBE32(h + 4) == 'moov' &&
            vt::readBE32(h) == m.moovSize;
  }
  if (known && (moov.size() == m.moovSize || moov.size() + 8 <= m.moovSize)) {
    // Fits: write in place, the rest of the old space becomes a 'free' atom.
    if (!writeAt(f->fd, moov.data(), moov.size(), m.moovOffset)) return fail(ioErr);
    uint64_t rest = m.moovSize - moov.size();
    if (rest) {
      uint8_t h[8];
      vt::writeBE32(h, (uint32_t)rest);
      vt::writeBE32(h + 4, 'free');
      if (!writeAt(f->fd, h, 8, m.moovOffset + moov.size())) return fail(ioErr);
    }
    m.moovSize = moov.size();
    return fail(noErr);
  }
  // Does not fit: the new atom goes at the end; the old one is turned into free space only
  // once the new one is safely written.
  off_t end = ::lseek(f->fd, 0, SEEK_END);
  if (end < 0 || !writeAt(f->fd, moov.data(), moov.size(), (uint64_t)end)) {
    if (end >= 0 && ::ftruncate(f->fd, end) != 0) return fail(ioErr);
    return fail(errno == ENOSPC ? dskFulErr : ioErr);
  }
  if (known) {
    uint8_t type[4];
    vt::writeBE32(type, 'free');
    if (!writeAt(f->fd, type, 4, m.moovOffset + 4)) return fail(ioErr);
  }
  m.moovOffset = (uint64_t)end;
  m.moovSize = moov.size();
  if (m.filePath.empty()) {
    m.filePath = f->path;
    m.fileRefNum = resRefNum;
  }
  return fail(noErr);
}

OSErr DeleteMovieFile(const FSSpec* fileSpec) {
  std::string path;
  OSErr err = pathOf(fileSpec, path);
  if (err) return fail(err);
  return fail(removeFile(path));
}

Movie FlattenMovieData(Movie theMovie, long flags, const FSSpec* theFile, OSType creator,
                       ScriptCode, long createFlags) {
  if (!isLiveMovie(theMovie)) return (fail(invalidMovie), nullptr);
  std::string path;
  OSErr err = pathOf(theFile, path);
  if (err) return (fail(err), nullptr);
  if (exists(path)) {
    if (!(createFlags & (long)createMovieFileDeleteCurFile)) return (fail(dupFNErr), nullptr);
    err = removeFile(path);
    if (err) return (fail(err), nullptr);
  }
  VTMovie& src = *theMovie;
  MovieProgressUPP progress = src.progressProc;
  bool callProgress = progress && progress != (MovieProgressUPP)-1;

  // The copy: every sample of every kept track goes into one 'mdat', track after track.
  VTMovie* flat = cloneMovie(src);
  if (flags & flattenActiveTracksOnly) {
    auto& v = flat->tracks;
    v.erase(std::remove_if(v.begin(), v.end(), [](const auto& t) { return !t->enabled(); }),
            v.end());
  }
  struct Run {
    DataSource* source;
    uint64_t from;
    uint64_t size;
  };
  std::vector<Run> runs;
  uint64_t dataSize = 0;
  for (auto& t : flat->tracks) {
    if (!t->media) continue;
    VTMedia& md = *t->media;
    std::vector<uint64_t> newOffsets(md.sampleCount());
    for (size_t i = 0; i < md.sampleCount(); ++i) {
      uint32_t di = md.descIndexes[i];
      DataSource* s = nullptr;
      if (di >= 1 && di <= md.descriptions.size()) {
        uint16_t r = md.descriptions[di - 1].dataRefIndex();
        if (r >= 1 && r <= md.dataRefs.size()) s = md.dataRefs[r - 1].source.get();
      }
      if (!s) {
        destroyMovie(flat);
        return (fail(couldNotResolveDataRef), nullptr);
      }
      if (!runs.empty() && runs.back().source == s &&
          runs.back().from + runs.back().size == md.offsets[i] && runs.back().size < (4u << 20)) {
        runs.back().size += md.sizes[i];
      } else {
        runs.push_back(Run{s, md.offsets[i], md.sizes[i]});
      }
      newOffsets[i] = dataSize;
      dataSize += md.sizes[i];
    }
    md.offsets = std::move(newOffsets);
    DataRef self;
    self.flags = 1;
    self.path = path;
    md.dataRefs.assign(1, self);
    for (auto& d : md.descriptions) d.setDataRefIndex(1);
    // Identical descriptions may now coincide; keep them, indexes stay valid.
  }
  std::vector<uint8_t> ftyp = vt::qtff::fileTypeAtom();
  bool moovFirst = (flags & flattenForceMovieResourceBeforeMovieData) != 0;
  bool big = dataSize > 0xFFFFFFF0ull;
  uint64_t mdatHeader = big ? 16 : 8;
  // Offsets depend on where the data starts, which (movie first) depends on the movie atom's
  // size, which depends on the offsets' width; two passes settle it.
  uint64_t dataStart = 0;
  std::vector<uint8_t> moov;
  auto shiftAll = [&](int64_t delta) {
    for (auto& t : flat->tracks)
      if (t->media)
        for (auto& o : t->media->offsets) o = (uint64_t)((int64_t)o + delta);
  };
  if (moovFirst) {
    uint64_t shifted = 0;
    for (int pass = 0; pass < 3; ++pass) {
      moov = vt::qtff::buildMovieAtom(*flat, path);
      uint64_t want = ftyp.size() + moov.size() + mdatHeader;
      if (want == shifted) break;
      shiftAll((int64_t)want - (int64_t)shifted);
      shifted = want;
    }
    moov = vt::qtff::buildMovieAtom(*flat, path);
    dataStart = shifted;
  } else {
    dataStart = ftyp.size() + 8 + mdatHeader;  // 'wide' before the data
    shiftAll((int64_t)dataStart);
    moov = vt::qtff::buildMovieAtom(*flat, path);
  }

  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    destroyMovie(flat);
    return (fail(errnoToOSErr(errno)), nullptr);
  }
  auto abort = [&](OSErr e) -> Movie {
    ::close(fd);
    ::unlink(path.c_str());
    destroyMovie(flat);
    if (callProgress) progress(theMovie, movieProgressClose, progressOpFlatten, fixed1, src.progressRefcon);
    fail(e);
    return nullptr;
  };
  // Buffered output: header atoms then the data runs.
  std::vector<uint8_t> buf;
  buf.reserve(8u << 20);
  uint64_t written = 0;
  auto flush = [&]() -> bool {
    if (buf.empty()) return true;
    if (!writeAt(fd, buf.data(), buf.size(), written)) return false;
    written += buf.size();
    buf.clear();
    return true;
  };
  buf.insert(buf.end(), ftyp.begin(), ftyp.end());
  if (moovFirst) buf.insert(buf.end(), moov.begin(), moov.end());
  else {
    uint8_t wide[8];
    vt::writeBE32(wide, 8);
    vt::writeBE32(wide + 4, 'wide');
    buf.insert(buf.end(), wide, wide + 8);
  }
  uint8_t mh[16];
  if (big) {
    vt::writeBE32(mh, 1);
    vt::writeBE32(mh + 4, 'mdat');
    vt::writeBE64(mh + 8, dataSize + 16);
  } else {
    vt::writeBE32(mh, (uint32_t)(dataSize + 8));
    vt::writeBE32(mh + 4, 'mdat');
  }
  buf.insert(buf.end(), mh, mh + mdatHeader);
  if (callProgress && progress(theMovie, movieProgressOpen, progressOpFlatten, 0, src.progressRefcon))
    return abort(progressProcAborted);
  uint64_t copied = 0;
  int lastPercent = -1;
  for (const Run& r : runs) {
    uint64_t done = 0;
    while (done < r.size) {
      size_t chunk = (size_t)std::min<uint64_t>(r.size - done, 4u << 20);
      if (buf.size() + chunk > buf.capacity() && !flush()) return abort(errno == ENOSPC ? dskFulErr : ioErr);
      size_t at = buf.size();
      buf.resize(at + chunk);
      if (!r.source->read(r.from + done, (uint32_t)chunk, buf.data() + at))
        return abort(couldNotResolveDataRef);
      done += chunk;
      copied += chunk;
    }
    if (callProgress && dataSize) {
      int percent = (int)(copied * 100 / dataSize);
      if (percent != lastPercent) {
        lastPercent = percent;
        Fixed f = (Fixed)((copied << 16) / dataSize);
        if (progress(theMovie, movieProgressUpdatePercent, progressOpFlatten, f, src.progressRefcon))
          return abort(progressProcAborted);
      }
    }
  }
  if (!moovFirst) buf.insert(buf.end(), moov.begin(), moov.end());
  if (!flush()) return abort(errno == ENOSPC ? dskFulErr : ioErr);
  ::close(fd);
  destroyMovie(flat);
  if (callProgress) progress(theMovie, movieProgressClose, progressOpFlatten, fixed1, src.progressRefcon);
  vt::files::writeTypeCreator(path, 'MooV', creator);

  VTMovie* result = nullptr;
  vt::qtff::MovieAtomLocation where;
  err = vt::qtff::readMovieFile(path, &result, &where);
  if (err) return (fail(err), nullptr);
  result->moovOffset = where.offset;
  result->moovSize = where.size;
  result->active = true;
  fail(noErr);
  return result;
}

OSErr QTNewAlias(const FSSpec* fss, AliasHandle* alias, Boolean) {
  if (alias) *alias = nullptr;
  if (!alias) return fail(paramErr);
  std::string path;
  OSErr err = pathOf(fss, path);
  if (err) return fail(err);
  if (!exists(path)) return fail(fnfErr);
  std::vector<uint8_t> b = makeAliasBytes(path);
  Handle h = NewHandle((Size)b.size());
  if (!h) return fail(memFullErr);
  std::memcpy(*h, b.data(), b.size());
  *alias = h;
  return fail(noErr);
}

OSErr GetMoviesStickyError() { return stickyError(); }
void ClearMoviesStickyError() { clearStickyError(); }

// Movie files: opening, creating, writing the movie atom, flattening, deleting.
#include <MacMemory.h>
#include <Movies.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "core/fourcc.h"
#include "core/guard.h"
#include "core/pstring.h"
#include "files/fsspec.h"
#include "files/host_file.h"
#include "model/internal.h"
#include "movie/progress_display.h"
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

using vt::files::errnoToOSErr;

// Removes a file unless a live movie reads from it; a symlink is removed, not followed.
OSErr removeFile(const std::string& path) {
  struct stat st;
  bool link = ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  if (!link && isFileBusy(path)) return fBsyErr;
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
// the movie file, so the movie atom can refer to it. The table changes only once all is copied.
OSErr moveDataIntoFile(VTMovie& movie, MovieFile& f) {
  for (auto& t : movie.tracks) {
    if (!t->media) continue;
    VTMedia& md = *t->media;
    for (size_t r = 0; r < md.dataRefs.size(); ++r) {
      DataRef& ref = md.dataRefs[r];
      if (!ref.source || !ref.source->filePath().empty()) continue;
      auto usesRef = [&](uint32_t di) {
        return di >= 1 && di <= md.descriptions.size() &&
               md.descriptions[di - 1].dataRefIndex() == r + 1;
      };
      std::vector<uint64_t> moved;
      std::vector<uint8_t> bytes;
      OSErr err = noErr;
      md.samples.forEachSpan([&](const SampleSpan& s) {
        if (err || !usesRef(s.descIndex)) return;
        // Sample by sample: a foreign source reads whole samples only.
        for (uint32_t k = 0; k < s.count && !err; ++k) {
          bytes.resize(s.size);
          uint64_t off;
          if (!ref.source->read(s.offset + (uint64_t)k * s.size, s.size, bytes.data()))
            err = couldNotResolveDataRef;
          else
            err = appendToFile(f, bytes.data(), bytes.size(), off);
          if (!err && k == 0) moved.push_back(off);
        }
      });
      if (err) return err;
      size_t next = 0;
      md.samples.relocate(
          [&](const SampleSpan& s) { return usesRef(s.descIndex) ? moved[next++] : s.offset; });
      ref.flags = 1;
      ref.path = f.path;
      ref.data.clear();
      ref.source = fileSourceOf(f);
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

// A created file takes its name once a whole movie is in it.
OSErr publish(MovieFile& f) {
  if (!f.pending || f.pending->committed()) return noErr;
  const std::string& path = f.pending->path();
  if (isFileBusy(path)) return fBsyErr;
  OSErr err = f.pending->commit();
  if (err) return err;
  fileRenamed(f.path, path);
  f.path = path;
  vt::files::writeTypeCreator(path, 'MooV', f.creator);
  return noErr;
}

}  // namespace

OSErr OpenMovieFile(const FSSpec* fileSpec, short* resRefNum, SInt8 permission) try {
  if (resRefNum) *resRefNum = 0;
  std::string path;
  OSErr err = pathOf(fileSpec, path);
  if (err) return fail(err);
  if (!resRefNum) return fail(paramErr);
  // Only regular files: a FIFO or device would block or never end. The file is opened here
  // once; the movie and its data are read through this open file, never by its name again.
  path = absolutePath(path);
  std::shared_ptr<vt::files::HostFile> file;
  bool writable = permission != fsRdPerm;
  if (permission == fsRdPerm) {
    file = vt::files::HostFile::open(path, &err);
  } else {
    file = vt::files::HostFile::openWith(path, O_RDWR, &err);
    if (!file && permission == fsCurPerm && (err == permErr || err == wPrErr)) {
      writable = false;
      file = vt::files::HostFile::open(path, &err);
    }
  }
  if (!file) return fail(err);
  short ref = openMovieFileRef(path, file->fd(), writable);
  if (!ref) return fail(tmfoErr);
  movieFile(ref)->file = std::move(file);
  *resRefNum = ref;
  return fail(noErr);
} catch (...) {
  return vtErrorFromException();
}

OSErr CloseMovieFile(short resRefNum) try {
  MovieFile* f = movieFile(resRefNum);
  if (!f) return fail(rfNumErr);
  OSErr err = closeMediaData(*f);
  // A created file that never got a whole movie is dropped; the name keeps what it had.
  if (f->pending) {
    if (!f->pending->committed()) fileRenamed(f->path, std::string());
    f->pending->discard();
  }
  closeMovieFileRef(resRefNum);
  return fail(err);
} catch (...) {
  return vtErrorFromException();
}

OSErr NewMovieFromFile(Movie* theMovie, short resRefNum, short* resId, StringPtr resName,
                       short newMovieFlags, Boolean* dataRefWasChanged) try {
  if (theMovie) *theMovie = nullptr;
  if (dataRefWasChanged) *dataRefWasChanged = false;
  if (!theMovie) return fail(paramErr);
  MovieFile* f = movieFile(resRefNum);
  if (!f) return fail(rfNumErr);
  short want = resId ? *resId : 0;
  if (want > 0) return fail(resNotFound);  // one movie per file, in the data fork
  VTMovie* m = nullptr;
  OSErr err;
  if (f->file && vt::qtff::isMovieFile(*f->file)) {
    // Data written through this reference number must be complete before reading.
    closeMediaData(*f);
    vt::qtff::MovieAtomLocation where;
    err = vt::qtff::readMovieFile(f->file, f->path, &m, &where);
    if (!err) {
      m->moovOffset = where.offset;
      m->moovSize = where.size;
    }
  } else if (ForeignFileOpener open = foreignFileOpener()) {
    err = open(f->path, f->file, &m);
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
        vt::toPascal(std::string_view((const char*)it.data.data(), it.data.size()), resName);
        break;
      }
  }
  *theMovie = m;
  return fail(noErr);
} catch (...) {
  return vtErrorFromException();
}

OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, ScriptCode, long flags,
                      short* resRefNum, Movie* newmovie) try {
  if (resRefNum) *resRefNum = 0;
  if (newmovie) *newmovie = nullptr;
  std::string path;
  OSErr err = pathOf(fileSpec, path);
  if (err) return fail(err);
  path = absolutePath(path);
  bool replace = (flags & (long)createMovieFileDeleteCurFile) != 0;
  if (replace && isFileBusy(path)) return fail(fBsyErr);
  // The file is written unnamed and takes the name only once it holds a whole movie, so an
  // old file of that name survives until then and a failed construction leaves nothing.
  auto pending = std::make_shared<vt::files::PendingFile>();
  err = pending->begin(path, replace);
  if (err) return fail(err);
  std::vector<uint8_t> ftyp = vt::qtff::fileTypeAtom();
  if (!writeAt(pending->fd(), ftyp.data(), ftyp.size(), 0)) return fail(errnoToOSErr(errno));
  short ref = 0;
  if (flags & (long)createMovieFileDontOpenFile) {
    if ((err = pending->commit())) return fail(err);
    vt::files::writeTypeCreator(path, 'MooV', creator);
  } else {
    const std::string& name = pending->workingName();
    int readFd = ::dup(pending->fd());
    if (readFd < 0) return fail(tmfoErr);
    ref = openMovieFileRef(name, pending->fd(), true);
    if (!ref) {
      ::close(readFd);
      return fail(tmfoErr);
    }
    MovieFile* f = movieFile(ref);
    f->pending = pending;
    f->pendingSource = adoptFileSource(name, readFd);
    f->file = f->pendingSource->hostFile();
    f->holdsMovie = 1;
    f->creator = creator;
  }
  if (resRefNum) *resRefNum = ref;
  if (!(flags & (long)createMovieFileDontCreateMovie) && newmovie) {
    VTMovie* m = newMovieObject();
    m->active = true;
    m->filePath = ref ? movieFile(ref)->path : path;
    m->fileRefNum = ref ? ref : -1;
    *newmovie = m;
  }
  return fail(noErr);
} catch (...) {
  return vtErrorFromException();
}

OSErr AddMovieResource(Movie theMovie, short resRefNum, short* resId,
                       ConstStr255Param resName) try {
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
  if (!err) err = publish(*f);
  if (err) return fail(err);
  if (m.filePath.empty()) {
    m.filePath = f->path;
    m.fileRefNum = resRefNum;
  }
  if (resId) *resId = movieInDataForkResID;
  return fail(noErr);
} catch (...) {
  return vtErrorFromException();
}

OSErr UpdateMovieResource(Movie theMovie, short resRefNum, short resId,
                          ConstStr255Param resName) try {
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
    return fail(publish(*f));
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
  return fail(publish(*f));
} catch (...) {
  return vtErrorFromException();
}

OSErr DeleteMovieFile(const FSSpec* fileSpec) try {
  std::string path;
  OSErr err = pathOf(fileSpec, path);
  if (err) return fail(err);
  return fail(removeFile(path));
} catch (...) {
  return vtErrorFromException();
}

namespace {

using MoviePtr = std::unique_ptr<VTMovie, void (*)(VTMovie*)>;

// Writes a self-contained copy of `src` as `path` and reads it back into `out`.
OSErr flattenTo(Movie theMovie, long flags, const std::string& path, bool replace, OSType creator,
                Movie& out) {
  // Written unnamed beside the old file, which stays whole until the new one replaces it.
  vt::files::PendingFile file;
  OSErr err = file.begin(path, replace);
  if (err) return err;
  VTMovie& src = *theMovie;
  MovieProgressUPP progress = src.progressProc;
  bool callProgress = progress && progress != (MovieProgressUPP)-1;
  std::unique_ptr<vt::movie::ProgressDisplay> display;
  if (progress == (MovieProgressUPP)-1)
    display = vt::movie::makeProgressDisplay("Saving \xE2\x80\x9C" +
                                             path.substr(path.rfind('/') + 1) + "\xE2\x80\x9D");

  // The copy: every sample of every kept track goes into one 'mdat', track after track.
  MoviePtr flat(cloneMovie(src), destroyMovie);
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
    bool unresolved = false;
    md.samples.forEachSpan([&](const SampleSpan& sp) {
      DataSource* s = nullptr;
      if (sp.descIndex >= 1 && sp.descIndex <= md.descriptions.size()) {
        uint16_t r = md.descriptions[sp.descIndex - 1].dataRefIndex();
        if (r >= 1 && r <= md.dataRefs.size()) {
          s = md.dataRefs[r - 1].source.get();
          if (!s && !unresolved)
            vt::movie::noteMissingData(vt::movie::dataRefFile(md.dataRefs[r - 1]));
        }
      }
      if (!s) unresolved = true;
      if (unresolved) return;
      if (!runs.empty() && runs.back().source == s &&
          runs.back().from + runs.back().size == sp.offset && runs.back().size < (4u << 20)) {
        runs.back().size += sp.bytes();
      } else {
        runs.push_back(Run{s, sp.offset, sp.bytes()});
      }
    });
    if (unresolved) return couldNotResolveDataRef;
    md.samples.relocate([&](const SampleSpan& sp) {
      uint64_t at = dataSize;
      dataSize += sp.bytes();
      return at;
    });
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
        t->media->samples.relocate(
            [&](const SampleSpan& sp) { return (uint64_t)((int64_t)sp.offset + delta); });
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

  int fd = file.fd();
  auto abort = [&](OSErr e) -> OSErr {
    file.discard();
    if (callProgress)
      progress(theMovie, movieProgressClose, progressOpFlatten, fixed1, src.progressRefcon);
    return e;
  };
  // Buffered output: header atoms then the data runs.
  std::vector<uint8_t> buf;
  buf.reserve(8u << 20);
  uint64_t written = 0;
  auto flush = [&]() -> bool {
    if (buf.empty()) return true;
    if (!writeAt(fd, buf.data(), buf.size(), written)) return false;
    // The disk starts on it now, while the rest is copied: the sync at the end finds less to do.
    ::sync_file_range(fd, (off_t)written, (off_t)buf.size(), SYNC_FILE_RANGE_WRITE);
    written += buf.size();
    buf.clear();
    return true;
  };
  buf.insert(buf.end(), ftyp.begin(), ftyp.end());
  if (moovFirst)
    buf.insert(buf.end(), moov.begin(), moov.end());
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
  if (callProgress &&
      progress(theMovie, movieProgressOpen, progressOpFlatten, 0, src.progressRefcon))
    return abort(progressProcAborted);
  uint64_t copied = 0;
  int lastPercent = -1;
  for (const Run& r : runs) {
    uint64_t done = 0;
    while (done < r.size) {
      size_t chunk = (size_t)std::min<uint64_t>(r.size - done, 4u << 20);
      if (buf.size() + chunk > buf.capacity() && !flush()) return abort(errnoToOSErr(errno));
      size_t at = buf.size();
      buf.resize(at + chunk);
      if (!r.source->read(r.from + done, (uint32_t)chunk, buf.data() + at)) {
        vt::movie::noteMissingData(r.source->filePath());
        return abort(couldNotResolveDataRef);
      }
      done += chunk;
      copied += chunk;
    }
    if (display && dataSize && !display->update((double)copied / (double)dataSize))
      return abort(userCanceledErr);
    if (callProgress && dataSize) {
      int percent = (int)(copied * 100 / dataSize);
      if (percent != lastPercent) {
        lastPercent = percent;
        Fixed f = (Fixed)((copied << 16) / dataSize);
        if (progress(theMovie, movieProgressUpdatePercent, progressOpFlatten, f,
                     src.progressRefcon))
          return abort(progressProcAborted);
      }
    }
  }
  if (!moovFirst) buf.insert(buf.end(), moov.begin(), moov.end());
  if (!flush()) return abort(errnoToOSErr(errno));
  if (isFileBusy(path)) return abort(fBsyErr);
  if ((err = file.commit())) return abort(err);
  file.discard();
  flat.reset();
  if (callProgress)
    progress(theMovie, movieProgressClose, progressOpFlatten, fixed1, src.progressRefcon);
  vt::files::writeTypeCreator(path, 'MooV', creator);

  VTMovie* result = nullptr;
  vt::qtff::MovieAtomLocation where;
  err = vt::qtff::readMovieFile(path, &result, &where);
  if (err) return err;
  result->moovOffset = where.offset;
  result->moovSize = where.size;
  result->active = true;
  out = result;
  return noErr;
}

vt::movie::ProgressDisplayMaker gProgressDisplayMaker = nullptr;

}  // namespace

void vt::movie::setProgressDisplayMaker(ProgressDisplayMaker maker) {
  gProgressDisplayMaker = maker;
}

std::unique_ptr<vt::movie::ProgressDisplay> vt::movie::makeProgressDisplay(
    const std::string& what) {
  return gProgressDisplayMaker ? gProgressDisplayMaker(what) : nullptr;
}

Movie FlattenMovieData(Movie theMovie, long flags, const FSSpec* theFile, OSType creator,
                       ScriptCode, long createFlags) try {
  if (!isLiveMovie(theMovie)) return (fail(invalidMovie), nullptr);
  std::string path;
  OSErr err = pathOf(theFile, path);
  if (err) return (fail(err), nullptr);
  path = absolutePath(path);
  bool replace = (createFlags & (long)createMovieFileDeleteCurFile) != 0;
  if (replace && isFileBusy(path)) return (fail(fBsyErr), nullptr);
  Movie result = nullptr;
  err = guardMemory([&] { return flattenTo(theMovie, flags, path, replace, creator, result); });
  fail(err);
  return err ? nullptr : result;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

OSErr QTNewAlias(const FSSpec* fss, AliasHandle* alias, Boolean) try {
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
} catch (...) {
  return vtErrorFromException();
}

OSErr GetMoviesStickyError() try { return stickyError(); } catch (...) {
  return vtErrorFromException();
}
void ClearMoviesStickyError() try { clearStickyError(); } catch (...) {
  vt::movie::setError(vtErrorFromException());
}

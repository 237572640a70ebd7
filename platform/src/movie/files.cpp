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
#include "core/pstring.h"
#include "files/fsspec.h"
#include "files/host_file.h"
#include "files/positional_io.h"
#include "movie/calls.h"
#include "movie/progress_display.h"
#include "movie/storage.h"
#include "qtff/data_writer.h"
#include "qtff/flat_layout.h"
#include "qtff/reader.h"
#include "qtff/writer.h"

using namespace vt::movie;

namespace {

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
  if (!vt::files::writeAt(f.fd, (uint64_t)end, moov.data(), moov.size())) {
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

OSErr OpenMovieFile(const FSSpec* fileSpec, short* resRefNum, SInt8 permission) {
  return statusCall([&]() -> OSErr {
    if (resRefNum) *resRefNum = 0;
    std::string path;
    OSErr err = pathOf(fileSpec, path);
    if (err) return err;
    if (!resRefNum) return paramErr;
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
    if (!file) return err;
    short ref = openMovieFileRef(path, file->fd(), writable);
    if (!ref) return tmfoErr;
    movieFile(ref)->file = std::move(file);
    *resRefNum = ref;
    return noErr;
  });
}

OSErr CloseMovieFile(short resRefNum) {
  return statusCall([&]() -> OSErr {
    MovieFile* f = movieFile(resRefNum);
    if (!f) return rfNumErr;
    OSErr err = closeMediaData(*f);
    // A created file that never got a whole movie is dropped; the name keeps what it had.
    if (f->pending) {
      if (!f->pending->committed()) fileRenamed(f->path, std::string());
      f->pending->discard();
    }
    closeMovieFileRef(resRefNum);
    return err;
  });
}

OSErr NewMovieFromFile(Movie* theMovie, short resRefNum, short* resId, StringPtr resName,
                       short newMovieFlags, Boolean* dataRefWasChanged) {
  return statusCall([&]() -> OSErr {
    if (theMovie) *theMovie = nullptr;
    if (dataRefWasChanged) *dataRefWasChanged = false;
    if (!theMovie) return paramErr;
    MovieFile* f = movieFile(resRefNum);
    if (!f) return rfNumErr;
    short want = resId ? *resId : 0;
    if (want > 0) return resNotFound;  // one movie per file, in the data fork
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
    if (err) return err;
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
    return noErr;
  });
}

OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, ScriptCode, long flags,
                      short* resRefNum, Movie* newmovie) {
  return statusCall([&]() -> OSErr {
    if (resRefNum) *resRefNum = 0;
    if (newmovie) *newmovie = nullptr;
    std::string path;
    OSErr err = pathOf(fileSpec, path);
    if (err) return err;
    path = absolutePath(path);
    bool replace = (flags & (long)createMovieFileDeleteCurFile) != 0;
    if (replace && isFileBusy(path)) return fBsyErr;
    // The file is written unnamed and takes the name only once it holds a whole movie, so an
    // old file of that name survives until then and a failed construction leaves nothing.
    auto pending = std::make_shared<vt::files::PendingFile>();
    err = pending->begin(path, replace);
    if (err) return err;
    std::vector<uint8_t> ftyp = vt::qtff::fileTypeAtom();
    if (!vt::files::writeAt(pending->fd(), 0, ftyp.data(), ftyp.size())) return errnoToOSErr(errno);
    short ref = 0;
    if (flags & (long)createMovieFileDontOpenFile) {
      if ((err = pending->commit())) return err;
      vt::files::writeTypeCreator(path, 'MooV', creator);
    } else {
      const std::string& name = pending->workingName();
      int readFd = ::dup(pending->fd());
      if (readFd < 0) return tmfoErr;
      ref = openMovieFileRef(name, pending->fd(), true);
      if (!ref) {
        ::close(readFd);
        return tmfoErr;
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
    return noErr;
  });
}

OSErr AddMovieResource(Movie theMovie, short resRefNum, short* resId, ConstStr255Param resName) {
  return statusCall([&]() -> OSErr {
    if (!isLiveMovie(theMovie)) return invalidMovie;
    MovieFile* f = movieFile(resRefNum);
    if (!f) return rfNumErr;
    if (!f->writable) return wrPermErr;
    if (!holdsMovieData(*f)) return badFileFormat;
    VTMovie& m = *theMovie;
    OSErr err = moveDataIntoFile(m, *f);
    if (err) return err;
    setNameItem(m, resName);
    err = writeMovieAtomAtEnd(m, *f);
    if (!err) err = publish(*f);
    if (err) return err;
    if (m.filePath.empty()) {
      m.filePath = f->path;
      m.fileRefNum = resRefNum;
    }
    if (resId) *resId = movieInDataForkResID;
    return noErr;
  });
}

OSErr UpdateMovieResource(Movie theMovie, short resRefNum, short resId, ConstStr255Param resName) {
  return statusCall([&]() -> OSErr {
    if (!isLiveMovie(theMovie)) return invalidMovie;
    MovieFile* f = movieFile(resRefNum);
    if (!f) return rfNumErr;
    if (!f->writable) return wrPermErr;
    if (resId > 0) return resNotFound;
    // A movie imported from a file of another format cannot be written back into it.
    if (!holdsMovieData(*f)) return badFileFormat;
    VTMovie& m = *theMovie;
    OSErr err = moveDataIntoFile(m, *f);
    if (err) return err;
    err = closeMediaData(*f);
    if (err) return err;
    setNameItem(m, resName);
    std::vector<uint8_t> moov = vt::qtff::buildMovieAtom(m, f->path);
    bool known = m.filePath == f->path && m.moovSize >= 8;
    if (known) {
      uint8_t h[8];
      known = vt::files::readAt(f->fd, m.moovOffset, 8, h) && vt::readBE32(h + 4) == 'moov' &&
              vt::readBE32(h) == m.moovSize;
    }
    if (known && (moov.size() == m.moovSize || moov.size() + 8 <= m.moovSize)) {
      // Fits: write in place, the rest of the old space becomes a 'free' atom.
      if (!vt::files::writeAt(f->fd, m.moovOffset, moov.data(), moov.size())) return ioErr;
      uint64_t rest = m.moovSize - moov.size();
      if (rest) {
        uint8_t h[8];
        vt::writeBE32(h, (uint32_t)rest);
        vt::writeBE32(h + 4, 'free');
        if (!vt::files::writeAt(f->fd, m.moovOffset + moov.size(), h, 8)) return ioErr;
      }
      m.moovSize = moov.size();
      return publish(*f);
    }
    // Does not fit: the new atom goes at the end; the old one is turned into free space only
    // once the new one is safely written.
    off_t end = ::lseek(f->fd, 0, SEEK_END);
    if (end < 0 || !vt::files::writeAt(f->fd, (uint64_t)end, moov.data(), moov.size())) {
      if (end >= 0 && ::ftruncate(f->fd, end) != 0) return ioErr;
      return errno == ENOSPC ? dskFulErr : ioErr;
    }
    if (known) {
      uint8_t type[4];
      vt::writeBE32(type, 'free');
      if (!vt::files::writeAt(f->fd, m.moovOffset + 4, type, 4)) return ioErr;
    }
    m.moovOffset = (uint64_t)end;
    m.moovSize = moov.size();
    if (m.filePath.empty()) {
      m.filePath = f->path;
      m.fileRefNum = resRefNum;
    }
    return publish(*f);
  });
}

OSErr DeleteMovieFile(const FSSpec* fileSpec) {
  return statusCall([&]() -> OSErr {
    std::string path;
    OSErr err = pathOf(fileSpec, path);
    if (err) return err;
    return removeFile(path);
  });
}

namespace {

using MoviePtr = std::unique_ptr<VTMovie, void (*)(VTMovie*)>;

// The two ways a flattening reports its progress: the movie's progress procedure and, when
// that is the default one (-1), a progress display. Either may cancel.
class FlattenProgress {
 public:
  FlattenProgress(VTMovie& movie, const std::string& path)
      : movie_(movie), proc_(movie.progressProc) {
    if (proc_ == (MovieProgressUPP)-1) {
      display_ = makeProgressDisplay("Saving \xE2\x80\x9C" + path.substr(path.rfind('/') + 1) +
                                     "\xE2\x80\x9D");
      proc_ = nullptr;
    }
  }
  bool open() { return !call(movieProgressOpen, 0); }
  void close() { call(movieProgressClose, fixed1); }
  // After each run of data: noErr to go on, or the code of a cancel.
  OSErr copied(uint64_t done, uint64_t total) {
    if (!total) return noErr;
    if (display_ && !display_->update((double)done / (double)total)) return userCanceledErr;
    int percent = (int)(done * 100 / total);
    if (!proc_ || percent == lastPercent_) return noErr;
    lastPercent_ = percent;
    Fixed f = (Fixed)((done << 16) / total);
    return call(movieProgressUpdatePercent, f) ? (OSErr)progressProcAborted : (OSErr)noErr;
  }

 private:
  OSErr call(short message, Fixed percent) {
    if (!proc_) return noErr;
    return proc_(&movie_, message, progressOpFlatten, percent, movie_.progressRefcon);
  }
  VTMovie& movie_;
  MovieProgressUPP proc_;
  std::unique_ptr<ProgressDisplay> display_;
  int lastPercent_ = -1;
};

// A copy of `src` with only what a flattening with `flags` keeps.
MoviePtr flatCopy(const VTMovie& src, long flags) {
  MoviePtr flat(cloneMovie(src), destroyMovie);
  if (flags & flattenActiveTracksOnly) {
    auto& v = flat->tracks;
    v.erase(std::remove_if(v.begin(), v.end(), [](const auto& t) { return !t->enabled(); }),
            v.end());
  }
  return flat;
}

// Writes a self-contained copy of `src` as `path` and reads it back into `out`.
OSErr flattenTo(VTMovie& src, long flags, const std::string& path, bool replace, OSType creator,
                Movie& out) {
  // Written unnamed beside the old file, which stays whole until the new one replaces it.
  vt::files::PendingFile file;
  OSErr err = file.begin(path, replace);
  if (err) return err;
  FlattenProgress progress(src, path);
  MoviePtr flat = flatCopy(src, flags);
  bool movieFirst = (flags & flattenForceMovieResourceBeforeMovieData) != 0;
  auto layout = vt::qtff::planFlatFile(*flat, path, movieFirst);
  if (!layout) return layout.error();
  if (!progress.open()) err = progressProcAborted;
  if (!err) {
    uint64_t total = layout->dataSize;
    err = vt::qtff::writeFlatFile(file.fd(), *layout,
                                  [&](uint64_t done) { return progress.copied(done, total); });
  }
  if (!err && isFileBusy(path)) err = fBsyErr;
  if (!err) err = file.commit();
  file.discard();
  flat.reset();
  progress.close();
  if (err) return err;
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
                       ScriptCode, long createFlags) {
  return withMovie(theMovie, Movie{}, [&](VTMovie& src) -> Movie {
    std::string path;
    Movie result = nullptr;
    OSErr err = pathOf(theFile, path);
    path = absolutePath(path);
    bool replace = (createFlags & (long)createMovieFileDeleteCurFile) != 0;
    if (!err && replace && isFileBusy(path)) err = fBsyErr;
    if (!err) err = flattenTo(src, flags, path, replace, creator, result);
    setError(err);
    return err ? nullptr : result;
  });
}

OSErr QTNewAlias(const FSSpec* fss, AliasHandle* alias, Boolean) {
  return statusCall([&]() -> OSErr {
    if (alias) *alias = nullptr;
    if (!alias) return paramErr;
    std::string path;
    OSErr err = pathOf(fss, path);
    if (err) return err;
    if (!exists(path)) return fnfErr;
    std::vector<uint8_t> b = makeAliasBytes(path);
    Handle h = NewHandle((Size)b.size());
    if (!h) return memFullErr;
    std::memcpy(*h, b.data(), b.size());
    *alias = h;
    return noErr;
  });
}

OSErr GetMoviesStickyError() { return stickyError(); }
void ClearMoviesStickyError() { clearStickyError(); }

#include "movie/storage.h"

#include <MacMemory.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "core/fourcc.h"
#include "files/positional_io.h"
#include "model/internal.h"
#include "qtff/reader.h"

namespace vt::movie {

namespace {

// Field widths of the fixed part of a description; a negative width is bytes kept as they are.
const std::vector<int>& layoutFor(OSType mediaType, uint16_t soundVersion, size_t size) {
  static const std::vector<int> header = {4, 4, 4, 2, 2};
  static const std::vector<int> video = {4, 4, 4, 2, 2, 2, 2, 4, 4, 4, 2, 2, 4, 4, 4, 2, -32, 2, 2};
  static const std::vector<int> sound0 = {4, 4, 4, 2, 2, 2, 2, 4, 2, 2, 2, 2, 4};
  static const std::vector<int> sound1 = {4, 4, 4, 2, 2, 2, 2, 4, 2, 2, 2, 2, 4, 4, 4, 4, 4};
  if (mediaType == 'vide' && size >= 86) return video;
  if (mediaType == 'soun') {
    if (soundVersion == 1 && size >= 52) return sound1;
    if (size >= 36) return sound0;
  }
  return header;
}

// Swaps between host order and big-endian in place (the operation is its own inverse on a
// little-endian host; on a big-endian host it changes nothing).
void swapFields(uint8_t* p, const std::vector<int>& layout) {
  size_t off = 0;
  for (int w : layout) {
    if (w < 0) {
      off += (size_t)-w;
      continue;
    }
    if (w == 2) {
      uint16_t v;
      std::memcpy(&v, p + off, 2);
      writeBE16(p + off, v);
    } else {
      uint32_t v;
      std::memcpy(&v, p + off, 4);
      writeBE32(p + off, v);
    }
    off += (size_t)w;
  }
}
void unswapFields(uint8_t* p, const std::vector<int>& layout) {
  size_t off = 0;
  for (int w : layout) {
    if (w < 0) {
      off += (size_t)-w;
      continue;
    }
    if (w == 2) {
      uint16_t v = readBE16(p + off);
      std::memcpy(p + off, &v, 2);
    } else {
      uint32_t v = readBE32(p + off);
      std::memcpy(p + off, &v, 4);
    }
    off += (size_t)w;
  }
}

std::map<short, MovieFile>& files() {
  static std::map<short, MovieFile> m;
  return m;
}

}  // namespace

OSErr handleToDescription(const VTMedia& media, Handle h, std::vector<uint8_t>& bytes) {
  if (!h || !*h) return nilHandleErr;
  Size n = GetHandleSize(h);
  if (n < 16) return badImageDescription;
  bytes.assign((const uint8_t*)*h, (const uint8_t*)*h + n);
  uint16_t version = 0;
  if (n >= 18) std::memcpy(&version, bytes.data() + 16, 2);
  const auto& layout = layoutFor(media.mediaType, version, (size_t)n);
  swapFields(bytes.data(), layout);
  // The stored size is the description's real size.
  writeBE32(bytes.data(), (uint32_t)n);
  return noErr;
}

OSErr descriptionToHandle(const VTMedia& media, const std::vector<uint8_t>& bytes, Handle h) {
  if (!h) return nilHandleErr;
  SetHandleSize(h, (Size)bytes.size());
  if (MemError()) return memFullErr;
  std::memcpy(*h, bytes.data(), bytes.size());
  uint16_t version = bytes.size() >= 18 ? readBE16(&bytes[16]) : 0;
  unswapFields((uint8_t*)*h, layoutFor(media.mediaType, version, bytes.size()));
  return noErr;
}

uint32_t findOrAddDescription(VTMedia& media, const std::vector<uint8_t>& bytes,
                              uint16_t refIndex) {
  std::vector<uint8_t> want = bytes;
  if (want.size() >= 16) writeBE16(&want[14], refIndex);
  for (size_t i = 0; i < media.descriptions.size(); ++i)
    if (media.descriptions[i].bytes == want) return (uint32_t)(i + 1);
  SampleDesc d;
  d.bytes = std::move(want);
  media.descriptions.push_back(std::move(d));
  media.changed();
  return (uint32_t)media.descriptions.size();
}

MovieFile* movieFile(short refNum) {
  auto it = files().find(refNum);
  return it == files().end() ? nullptr : &it->second;
}

short openMovieFileRef(const std::string& path, int fd, bool writable) {
  static short next = 1000;
  for (int tries = 0; tries < 30000; ++tries) {
    short r = next++;
    if (next > 30000) next = 1000;
    if (!files().count(r)) {
      MovieFile f;
      f.path = path;
      f.fd = fd;
      f.writable = writable;
      files()[r] = f;
      return r;
    }
  }
  return 0;
}

void closeMovieFileRef(short refNum) { files().erase(refNum); }

OSErr closeMediaData(MovieFile& f) {
  if (!f.mdatOpen) return noErr;
  off_t end = ::lseek(f.fd, 0, SEEK_END);
  if (end < 0) return ioErr;
  uint64_t dataSize = (uint64_t)end - (f.mdatStart + 8);
  uint8_t h[16];
  bool ok;
  if (dataSize <= 0xFFFFFFFFull) {
    writeBE32(h, (uint32_t)dataSize);
    writeBE32(h + 4, 'mdat');
    ok = vt::files::writeAt(f.fd, f.mdatStart + 8, h, 8);
  } else {
    // The 'wide' placeholder becomes the start of a 64-bit header; offsets do not move.
    writeBE32(h, 1);
    writeBE32(h + 4, 'mdat');
    writeBE64(h + 8, (uint64_t)end - f.mdatStart);
    ok = vt::files::writeAt(f.fd, f.mdatStart, h, 16);
  }
  f.mdatOpen = false;
  return ok ? (OSErr)noErr : (OSErr)ioErr;
}

OSErr appendToFile(MovieFile& f, const uint8_t* data, size_t size, uint64_t& offset) {
  if (!f.writable) return wrPermErr;
  off_t end = ::lseek(f.fd, 0, SEEK_END);
  if (end < 0) return ioErr;
  if (!f.mdatOpen) {
    uint8_t h[16];
    writeBE32(h, 8);
    writeBE32(h + 4, 'wide');
    writeBE32(h + 8, 0);
    writeBE32(h + 12, 'mdat');
    if (!vt::files::writeAt(f.fd, (uint64_t)end, h, 16)) return errno == ENOSPC ? dskFulErr : ioErr;
    f.mdatStart = (uint64_t)end;
    f.mdatOpen = true;
    end += 16;
  }
  offset = (uint64_t)end;
  if (size && !vt::files::writeAt(f.fd, offset, data, size)) {
    OSErr e = errno == ENOSPC ? dskFulErr : ioErr;
    // Drop the partial write so later offsets stay right.
    if (::ftruncate(f.fd, end) != 0) return ioErr;
    return e;
  }
  return noErr;
}

std::shared_ptr<DataSource> fileSourceOf(const MovieFile& f) {
  return f.file ? fileSource(f.path, f.file) : openFileSource(f.path);
}

bool holdsMovieData(const MovieFile& f) {
  // Asked for every added sample; the answer cannot change while we only append.
  if (f.holdsMovie >= 0) return f.holdsMovie == 1;
  struct stat st;
  if (::fstat(f.fd, &st) != 0) return false;
  bool yes = st.st_size == 0 || (f.file ? vt::qtff::isMovieFile(*f.file) : false);
  const_cast<MovieFile&>(f).holdsMovie = yes ? 1 : 0;
  return yes;
}

OSErr appendMediaData(VTMedia& media, const uint8_t* data, size_t size, int& refIndex,
                      uint64_t& offset) {
  VTMovie* movie = media.track ? media.track->movie : nullptr;
  if (!movie) return invalidMedia;
  MovieFile* f = movie->fileRefNum > 0 ? movieFile(movie->fileRefNum) : nullptr;
  // Never into a file of another format (an imported movie's source): that would damage it.
  if (f && f->writable && f->path == movie->filePath && holdsMovieData(*f)) {
    OSErr err = appendToFile(*f, data, size, offset);
    if (err) return err;
    for (size_t i = 0; i < media.dataRefs.size(); ++i) {
      if (media.dataRefs[i].path == f->path) {
        refIndex = (int)i + 1;
        if (!media.dataRefs[i].source) {
          media.dataRefs[i].source = fileSourceOf(*f);
          media.changed();
        }
        return noErr;
      }
    }
    DataRef ref;
    ref.flags = 1;
    ref.path = f->path;
    ref.source = fileSourceOf(*f);
    media.dataRefs.push_back(std::move(ref));
    media.changed();
    refIndex = (int)media.dataRefs.size();
    return noErr;
  }
  if (!movie->memoryData) movie->memoryData = std::make_shared<MemorySource>();
  auto& mem = movie->memoryData->bytes;
  offset = mem.size();
  try {
    mem.insert(mem.end(), data, data + size);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  for (size_t i = 0; i < media.dataRefs.size(); ++i) {
    if (media.dataRefs[i].source == movie->memoryData) {
      refIndex = (int)i + 1;
      return noErr;
    }
  }
  DataRef ref;
  ref.flags = 0;
  ref.source = movie->memoryData;
  media.dataRefs.push_back(std::move(ref));
  media.changed();
  refIndex = (int)media.dataRefs.size();
  return noErr;
}

}  // namespace vt::movie

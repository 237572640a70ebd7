#include "qtff/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <span>

#include "atoms/atom_tree.h"
#include "core/fourcc.h"
#include "core/pstring.h"
#include "files/host_file.h"
#include "model/internal.h"
#include "qtff/bytes.h"
#include "qtff/data_refs.h"
#include "qtff/sample_tables.h"

namespace vt::qtff {

using vt::movie::DataRef;
using vt::movie::Edit;

namespace {

// Walks the children of a container payload. Each child's size is checked against what the
// parent has left; the walk always moves to the child's end. Returns badFileFormat on a bad size.
OSErr forEachChild(Span parent, const std::function<OSErr(OSType, Span, Span)>& fn) {
  size_t pos = 0;
  while (pos < parent.n) {
    if (parent.n - pos < 8) {
      // Trailing zero padding (e.g. a 32-bit terminator) is tolerated.
      for (size_t i = pos; i < parent.n; ++i)
        if (parent.p[i] != 0) return badFileFormat;
      return noErr;
    }
    uint64_t size = readBE32(parent.p + pos);
    OSType type = readBE32(parent.p + pos + 4);
    size_t header = 8;
    if (size == 1) {
      if (parent.n - pos < 16) return badFileFormat;
      size = readBE64(parent.p + pos + 8);
      header = 16;
    } else if (size == 0) {
      size = parent.n - pos;  // to the end of the parent
    }
    if (size < header || size > parent.n - pos) return badFileFormat;
    Span whole{parent.p + pos, (size_t)size};
    Span payload{parent.p + pos + header, (size_t)size - header};
    OSErr err = fn(type, payload, whole);
    if (err) return err;
    pos += (size_t)size;
  }
  return noErr;
}

std::vector<uint8_t> copyOf(Span s) { return std::vector<uint8_t>(s.p, s.p + s.n); }

// User data: a list of items; an item smaller than its header ends the list.
void parseUserData(Span s, VTUserData& ud) {
  size_t pos = 0;
  while (s.n - pos >= 8) {
    uint32_t size = readBE32(s.p + pos);
    if (size < 8 || size > s.n - pos) break;
    VTUserData::Item item;
    item.type = readBE32(s.p + pos + 4);
    item.data.assign(s.p + pos + 8, s.p + pos + size);
    ud.items.push_back(std::move(item));
    pos += size;
  }
}

// The open file whose movie atom is being parsed: its own data is read through it.
thread_local const std::shared_ptr<vt::files::HostFile>* tMovieFile = nullptr;

// The input map is stored as track-input atoms; in memory it is an atom container. Accepts a
// payload that already is a container, and classic 12-byte children.
bool inputMapToContainer(Span s, std::vector<uint8_t>& out) {
  if (s.n >= 32 && std::all_of(s.p, s.p + 10, [](uint8_t b) { return b == 0; }) &&
      readBE32(s.p + 16) == 'sean') {
    uint32_t rootSize = readBE32(s.p + 12);
    if (rootSize < 20 || rootSize > s.n - 12) return false;
    out.assign(s.p, s.p + 12 + rootSize);
    out[10] = out[11] = 0;  // stored lock count is always 0
    return true;
  }
  vt::atoms::Atom root = vt::atoms::newRoot();
  size_t pos = 0;
  while (pos < s.n) {
    if (s.n - pos < 20) return false;
    uint32_t size = readBE32(s.p + pos);
    if (size < 20 || size > s.n - pos) return false;
    vt::atoms::Atom& input = root.add(readBE32(s.p + pos + 4), (int32_t)readBE32(s.p + pos + 8));
    size_t cpos = pos + 20, cend = pos + size;
    while (cpos < cend) {
      if (cend - cpos < 8) return false;
      uint32_t csize = readBE32(s.p + cpos);
      if (csize < 8 || csize > cend - cpos) return false;
      if (csize >= 20 && csize != 12) {
        // A QT atom: copied as is (leaf data or nested atoms alike).
        input.children.push_back(vt::atoms::verbatimAtom({s.p + cpos, csize}));
      } else {
        // A classic child: size, type, data. It becomes a leaf with ID 1.
        input.add(readBE32(s.p + cpos + 4), 1, {s.p + cpos + 8, csize - 8});
      }
      cpos += csize;
    }
    pos += size;
  }
  out = vt::atoms::serialise(root);
  return true;
}

// What the parsers of one level of the movie atom share: the movie, the track and the sample
// tables being read, and what has been found so far.
struct Reading {
  VTMovie& movie;
  const std::string& moviePath;
  VTTrack* track = nullptr;
  Stbl* tables = nullptr;
  bool header = false, media = false, edits = false;
};

using AtomParser = OSErr (*)(Reading&, Span payload, Span whole);

// How a child atom is read. Atoms the format allows once per parent are refused when repeated
// (which copy is meant would be a guess); `slot` groups alternatives of which only one may
// appear (the 32- and 64-bit chunk offset tables).
struct AtomRule {
  OSType type;
  AtomParser parse;
  bool repeats = false;
  OSType slot = 0;  // 0: the atom's own type
};

// Reads the children of `parent` by `rules`; a child no rule names goes to `other` (if any).
OSErr parseChildren(Span parent, Reading& r, std::span<const AtomRule> rules,
                    AtomParser other = nullptr) {
  std::vector<OSType> seen;
  return forEachChild(parent, [&](OSType type, Span p, Span whole) -> OSErr {
    auto rule =
        std::find_if(rules.begin(), rules.end(), [&](const AtomRule& x) { return x.type == type; });
    if (rule == rules.end()) return other ? other(r, p, whole) : OSErr(noErr);
    if (!rule->repeats) {
      OSType slot = rule->slot ? rule->slot : type;
      if (std::find(seen.begin(), seen.end(), slot) != seen.end()) return badFileFormat;
      seen.push_back(slot);
    }
    return rule->parse(r, p, whole);
  });
}

OSErr skipAtom(Reading&, Span, Span) { return noErr; }

// Atoms this reader does not interpret are kept as they are, so rewriting the movie loses
// nothing.
template <std::vector<std::vector<uint8_t>> VTMedia::*extras>
OSErr keepMediaExtra(Reading& r, Span, Span whole) {
  ((*r.track->media).*extras).push_back(copyOf(whole));
  return noErr;
}
OSErr keepMovieExtra(Reading& r, Span, Span whole) {
  r.movie.extras.push_back(copyOf(whole));
  return noErr;
}

// --- sample tables ('stbl')

OSErr parseSampleDescriptions(Reading& r, Span p, Span) {
  uint32_t count = 0;
  if (!entryCount(p, 8, 16, count)) return badFileFormat;
  uint32_t seen = 0;
  return forEachChild({p.p + 8, p.n - 8}, [&](OSType, Span, Span whole) -> OSErr {
    if (seen++ >= count) return noErr;
    if (whole.n < 16) return badFileFormat;
    r.tables->stsd.push_back(copyOf(whole));
    return noErr;
  });
}

template <Span Stbl::*table>
OSErr keepTable(Reading& r, Span p, Span) {
  r.tables->*table = p;
  return noErr;
}
OSErr keepSyncTable(Reading& r, Span p, Span) {
  r.tables->stss = p;
  r.tables->haveStss = true;
  return noErr;
}
template <bool compact>
OSErr keepSizeTable(Reading& r, Span p, Span) {
  r.tables->stsz = p;
  r.tables->stz2 = compact;
  return noErr;
}
template <bool wide>
OSErr keepChunkTable(Reading& r, Span p, Span) {
  r.tables->stco = p;
  r.tables->co64 = wide;
  return noErr;
}

constexpr AtomRule kSampleTableRules[] = {
    {'stsd', parseSampleDescriptions},
    {'stts', keepTable<&Stbl::stts>},
    {'ctts', keepTable<&Stbl::ctts>},
    {'stss', keepSyncTable},
    {'stsc', keepTable<&Stbl::stsc>},
    {'stsz', keepSizeTable<false>, false, 'stsz'},
    {'stz2', keepSizeTable<true>, false, 'stsz'},
    {'stco', keepChunkTable<false>, false, 'stco'},
    {'co64', keepChunkTable<true>, false, 'stco'},
};

// --- media information ('minf')

OSErr parseDataRefs(Reading& r, Span p, Span) {
  uint32_t count = 0;
  if (!entryCount(p, 8, 12, count)) return badFileFormat;
  uint32_t seen = 0;
  VTMedia& media = *r.track->media;
  return forEachChild({p.p + 8, p.n - 8}, [&](OSType type, Span ep, Span) -> OSErr {
    if (seen++ >= count) return noErr;
    if (ep.n < 4) return badFileFormat;
    DataRef ref;
    ref.type = type;
    ref.flags = readBE32(ep.p) & 0xFFFFFF;
    ref.data.assign(ep.p + 4, ep.p + ep.n);
    resolveDataRef(ref, r.moviePath, tMovieFile);
    media.dataRefs.push_back(std::move(ref));
    return noErr;
  });
}

constexpr AtomRule kDataInfoRules[] = {{'dref', parseDataRefs}};

OSErr parseDataInfo(Reading& r, Span p, Span) { return parseChildren(p, r, kDataInfoRules); }
OSErr parseSampleTable(Reading& r, Span p, Span) {
  return parseChildren(p, r, kSampleTableRules, keepMediaExtra<&VTMedia::stblExtras>);
}
// The first media information header is kept; the kinds are alternatives.
OSErr keepInfoHeader(Reading& r, Span, Span whole) {
  VTMedia& media = *r.track->media;
  if (media.mediaInfoHeader.empty()) media.mediaInfoHeader = copyOf(whole);
  return noErr;
}

constexpr AtomRule kMediaInfoRules[] = {
    {'vmhd', keepInfoHeader, true}, {'smhd', keepInfoHeader, true}, {'gmhd', keepInfoHeader, true},
    {'nmhd', keepInfoHeader, true}, {'hmhd', keepInfoHeader, true}, {'sthd', keepInfoHeader, true},
    {'hdlr', skipAtom, true},  // the data handler is written anew
    {'dinf', parseDataInfo},        {'stbl', parseSampleTable},
};

// --- media ('mdia')

OSErr parseMediaHeader(Reading& r, Span p, Span) {
  VTMedia& media = *r.track->media;
  if (p.n < 4) return badFileFormat;
  if (p.p[0] == 1) {
    // Version, flags, 64-bit creation and modification times, time scale, 64-bit duration:
    // language and quality follow at 32 and 34.
    if (p.n < 36) return badFileFormat;
    media.timeScale = (TimeScale)readBE32(p.p + 20);
    media.language = readBE16(p.p + 32);
    media.quality = readBE16(p.p + 34);
  } else {
    if (p.n < 24) return badFileFormat;
    media.timeScale = (TimeScale)readBE32(p.p + 12);
    media.language = readBE16(p.p + 20);
    media.quality = readBE16(p.p + 22);
  }
  if (media.timeScale <= 0) return badFileFormat;
  r.header = true;
  return noErr;
}

OSErr parseHandler(Reading& r, Span p, Span) {
  VTMedia& media = *r.track->media;
  if (p.n < 24) return badFileFormat;
  media.mediaType = readBE32(p.p + 8);
  media.handlerManufacturer = readBE32(p.p + 12);
  const uint8_t* name = p.p + 24;
  size_t left = p.n - 24;
  if (left > 0 && (name[0] == left - 1 || (name[0] == left - 2 && name[left - 1] == 0))) {
    media.handlerName = vt::fromPascal(name);
  } else {
    size_t len = 0;
    while (len < left && name[len]) ++len;
    media.handlerName.assign((const char*)name, len);
  }
  return noErr;
}

OSErr parseMediaInfo(Reading& r, Span p, Span) {
  return parseChildren(p, r, kMediaInfoRules, keepMediaExtra<&VTMedia::minfExtras>);
}

template <VTUserData VTMedia::*ud>
OSErr parseMediaUserData(Reading& r, Span p, Span) {
  parseUserData(p, (*r.track->media).*ud);
  return noErr;
}

constexpr AtomRule kMediaRules[] = {
    {'mdhd', parseMediaHeader},
    {'hdlr', parseHandler},
    {'udta', parseMediaUserData<&VTMedia::userData>, true},
    {'minf', parseMediaInfo},
};

OSErr parseMedia(Reading& tr, Span p, Span) {
  tr.media = true;
  Stbl tables;
  Reading r{tr.movie, tr.moviePath, tr.track, &tables};
  OSErr err = parseChildren(p, r, kMediaRules, keepMediaExtra<&VTMedia::mdiaExtras>);
  if (err) return err;
  if (!r.header) return badFileFormat;
  VTMedia& media = *r.track->media;
  err = buildSampleTable(media, tables);
  if (err) return err;
  media.samplesChanged = false;
  return noErr;
}

// --- tracks ('trak')

OSErr parseTrackHeader(Reading& r, Span p, Span) {
  VTTrack& track = *r.track;
  if (p.n < 4) return badFileFormat;
  track.headerFlags = readBE32(p.p) & 0xFFFFFF;
  size_t base;
  if (p.p[0] == 1) {
    if (p.n < 96) return badFileFormat;
    track.creationTime = (uint32_t)readBE64(p.p + 4);
    track.modificationTime = (uint32_t)readBE64(p.p + 12);
    track.id = readBE32(p.p + 20);
    base = 44;
  } else {
    if (p.n < 84) return badFileFormat;
    track.creationTime = readBE32(p.p + 4);
    track.modificationTime = readBE32(p.p + 8);
    track.id = readBE32(p.p + 12);
    base = 32;
  }
  track.layer = (int16_t)readBE16(p.p + base);
  track.alternateGroup = (int16_t)readBE16(p.p + base + 2);
  track.volume = (int16_t)readBE16(p.p + base + 4);
  for (int i = 0; i < 9; ++i) track.matrix[i] = (Fixed)readBE32(p.p + base + 8 + 4 * i);
  track.width = (Fixed)readBE32(p.p + base + 44);
  track.height = (Fixed)readBE32(p.p + base + 48);
  r.header = true;
  return noErr;
}

OSErr parseEditList(Reading& r, Span p, Span) {
  if (p.n < 8) return badFileFormat;
  bool wide = p.p[0] == 1;
  size_t entry = wide ? 20 : 12;
  uint32_t count = 0;
  if (!entryCount(p, 8, entry, count)) return badFileFormat;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* q = p.p + 8 + entry * i;
    Edit e;
    if (wide) {
      e.duration = (int64_t)readBE64(q);
      e.mediaTime = (int64_t)readBE64(q + 8);
      e.rate = (Fixed)readBE32(q + 16);
    } else {
      e.duration = readBE32(q);
      e.mediaTime = (int32_t)readBE32(q + 4);
      e.rate = (Fixed)readBE32(q + 8);
    }
    // Times beyond 2^48 units are not real movies; refusing them keeps sums exact.
    if (e.duration < 0 || e.duration > (1LL << 48) || e.mediaTime < -1 || e.mediaTime > (1LL << 48))
      return badFileFormat;
    r.track->edits.push_back(e);
  }
  r.edits = true;
  return noErr;
}

constexpr AtomRule kEditRules[] = {{'elst', parseEditList}};

OSErr parseEdits(Reading& r, Span p, Span) { return parseChildren(p, r, kEditRules); }

OSErr parseTrackRefs(Reading& r, Span p, Span) {
  return forEachChild(p, [&](OSType type, Span rp, Span) -> OSErr {
    VTTrack::Reference ref;
    ref.type = type;
    for (size_t i = 0; i + 4 <= rp.n; i += 4) ref.ids.push_back(readBE32(rp.p + i));
    r.track->references.push_back(std::move(ref));
    return noErr;
  });
}

OSErr parseInputMap(Reading& r, Span p, Span whole) {
  VTTrack& track = *r.track;
  if (!inputMapToContainer(p, track.media->inputMap)) {
    track.media->inputMap.clear();
    track.extras.push_back(copyOf(whole));
  }
  return noErr;
}

OSErr parseTrackUserData(Reading& r, Span p, Span) {
  parseUserData(p, r.track->userData);
  return noErr;
}

OSErr keepTrackExtra(Reading& r, Span, Span whole) {
  r.track->extras.push_back(copyOf(whole));
  return noErr;
}

constexpr AtomRule kTrackRules[] = {
    {'tkhd', parseTrackHeader},    {'edts', parseEdits}, {'tref', parseTrackRefs, true},
    {'imap', parseInputMap, true}, {'mdia', parseMedia}, {'udta', parseTrackUserData, true},
};

OSErr parseTrack(Reading& mr, Span p, Span trakWhole) {
  VTMovie& movie = mr.movie;
  auto track = std::make_unique<VTTrack>();
  track->movie = &movie;
  track->media = std::make_unique<VTMedia>();
  track->media->track = track.get();
  Reading r{movie, mr.moviePath, track.get()};
  OSErr err = parseChildren(p, r, kTrackRules, keepTrackExtra);
  if (err) return err;
  if (!r.header || !r.media) {
    // Not a track we can use; keep its bytes so rewriting the movie loses nothing.
    movie.extras.push_back(copyOf(trakWhole));
    return noErr;
  }
  if (!r.edits) {
    track->edits.clear();
    int64_t d = track->media->duration();
    if (d > 0) {
      Edit e;
      e.mediaTime = 0;
      e.duration = vt::movie::scaleUp(d, movie.timeScale, track->media->timeScale);
      track->edits.push_back(e);
    }
  }
  movie.nextTrackID = std::max(movie.nextTrackID, track->id + 1);
  movie.tracks.push_back(std::move(track));
  return noErr;
}

// --- the movie ('moov')

OSErr parseMovieHeader(Reading& r, Span p, Span) {
  VTMovie& movie = r.movie;
  if (p.n < 4) return badFileFormat;
  size_t base;
  if (p.p[0] == 1) {
    if (p.n < 112) return badFileFormat;
    movie.creationTime = (uint32_t)readBE64(p.p + 4);
    movie.modificationTime = (uint32_t)readBE64(p.p + 12);
    movie.timeScale = (TimeScale)readBE32(p.p + 20);
    base = 32;
  } else {
    if (p.n < 100) return badFileFormat;
    movie.creationTime = readBE32(p.p + 4);
    movie.modificationTime = readBE32(p.p + 8);
    movie.timeScale = (TimeScale)readBE32(p.p + 12);
    base = 20;
  }
  if (movie.timeScale <= 0) return badFileFormat;
  movie.preferredRate = (Fixed)readBE32(p.p + base);
  movie.preferredVolume = (int16_t)readBE16(p.p + base + 4);
  for (int i = 0; i < 9; ++i) movie.matrix[i] = (Fixed)readBE32(p.p + base + 16 + 4 * i);
  const uint8_t* q = p.p + base + 52;
  movie.previewTime = readBE32(q);
  movie.previewDuration = readBE32(q + 4);
  movie.posterTime = readBE32(q + 8);
  movie.selectionTime = readBE32(q + 12);
  movie.selectionDuration = readBE32(q + 16);
  movie.currentTime = readBE32(q + 20);
  movie.nextTrackID = std::max<uint32_t>(1, readBE32(q + 24));
  if (movie.nextTrackID == 0xFFFFFFFFu) movie.nextTrackID = 1;
  r.header = true;
  return noErr;
}

OSErr parseMovieUserData(Reading& r, Span p, Span) {
  parseUserData(p, r.movie.userData);
  return noErr;
}

// Track durations need the movie's time scale, so the header is read in a pass of its own.
constexpr AtomRule kMovieHeaderRules[] = {{'mvhd', parseMovieHeader}};
constexpr AtomRule kMovieRules[] = {
    {'mvhd', skipAtom},
    {'trak', parseTrack, true},
    {'udta', parseMovieUserData, true},
};

}  // namespace

OSErr parseMovieAtom(const uint8_t* data, size_t size, VTMovie& movie,
                     const std::string& moviePath) {
  if (size < 8 || readBE32(data + 4) != 'moov') return invalidMovie;
  uint64_t declared = readBE32(data);
  size_t header = 8;
  if (declared == 1) {
    if (size < 16) return badFileFormat;
    declared = readBE64(data + 8);
    header = 16;
  }
  if (declared == 0) declared = size;
  if (declared < header || declared > size) return badFileFormat;
  Span moov{data + header, (size_t)declared - header};
  Reading r{movie, moviePath};
  OSErr err = parseChildren(moov, r, kMovieHeaderRules);
  if (err) return err;
  if (!r.header) return invalidMovie;
  movie.volume = movie.preferredVolume;
  err = parseChildren(moov, r, kMovieRules, keepMovieExtra);
  if (err) return err;
  // Track IDs must be unique; a forged duplicate would make references ambiguous.
  for (size_t i = 0; i < movie.tracks.size(); ++i)
    for (size_t j = i + 1; j < movie.tracks.size(); ++j)
      if (movie.tracks[i]->id == movie.tracks[j]->id || movie.tracks[i]->id == 0)
        return badFileFormat;
  return noErr;
}

bool isMovieFile(const std::string& path) {
  auto file = vt::files::HostFile::open(path);
  return file && isMovieFile(*file);
}

bool isMovieFile(const vt::files::HostFile& file) {
  uint8_t h[16];
  int64_t n = file.readSome(0, sizeof h, h);
  struct stat st;
  bool statOk = ::fstat(file.fd(), &st) == 0;
  if (n < 8 || !statOk) return false;
  uint64_t size = readBE32(h);
  OSType type = readBE32(h + 4);
  static const OSType kinds[] = {'ftyp', 'moov', 'mdat', 'wide', 'free', 'skip', 'pnot', 'uuid'};
  if (std::find(std::begin(kinds), std::end(kinds), type) == std::end(kinds)) return false;
  if (size == 1) {
    if (n < 16) return false;
    size = readBE64(h + 8);
    return size >= 16 && size <= (uint64_t)st.st_size;
  }
  if (type == 'ftyp') {
    // An 'ftyp' names the family; still-image brands of the same family are not movies.
    if (n < 12) return false;
    OSType brand = readBE32(h + 8);
    if (brand == 'avif' || brand == 'heic' || brand == 'mif1' || brand == 'heix') return false;
  }
  return size == 0 || (size >= 8 && size <= (uint64_t)st.st_size);
}

OSErr readMovieFile(const std::string& rawPath, VTMovie** movieOut, MovieAtomLocation* where) {
  *movieOut = nullptr;
  std::string path = vt::movie::absolutePath(rawPath);
  OSErr openErr = noErr;
  auto file = vt::files::HostFile::open(path, &openErr);
  if (!file) return openErr;
  return readMovieFile(file, path, movieOut, where);
}

OSErr readMovieFile(const std::shared_ptr<vt::files::HostFile>& file, const std::string& rawPath,
                    VTMovie** movieOut, MovieAtomLocation* where) {
  *movieOut = nullptr;
  std::string path = vt::movie::absolutePath(rawPath);
  int fd = file->fd();
  struct stat st;
  if (::fstat(fd, &st) != 0) return ioErr;
  uint64_t fileSize = (uint64_t)st.st_size;
  uint64_t pos = 0;
  OSErr result = invalidMovie;
  int atoms = 0;
  while (pos + 8 <= fileSize) {
    uint8_t h[16];
    if (::pread(fd, h, 16, (off_t)pos) < 8) {
      result = ioErr;
      break;
    }
    uint64_t size = readBE32(h);
    OSType type = readBE32(h + 4);
    size_t header = 8;
    if (size == 1) {
      if (pos + 16 > fileSize) {
        result = badFileFormat;
        break;
      }
      size = readBE64(h + 8);
      header = 16;
    } else if (size == 0) {
      size = fileSize - pos;
    }
    if (size < header || size > fileSize - pos) {
      result = badFileFormat;
      break;
    }
    ++atoms;
    if (type == 'moov') {
      // Real movie atoms are a few megabytes; a gigabyte is a damaged or forged size.
      if (size > (1ull << 30)) {
        result = badFileFormat;
        break;
      }
      VTMovie* m = nullptr;
      result = vt::movie::guardMemory([&]() -> OSErr {
        std::vector<uint8_t> buf((size_t)size);
        size_t done = 0;
        while (done < buf.size()) {
          ssize_t r = ::pread(fd, buf.data() + done, buf.size() - done, (off_t)(pos + done));
          if (r <= 0) break;
          done += (size_t)r;
        }
        if (done != buf.size()) return ioErr;
        m = vt::movie::newMovieObject();
        m->filePath = path;
        struct Scope {
          explicit Scope(const std::shared_ptr<vt::files::HostFile>& f) { tMovieFile = &f; }
          ~Scope() { tMovieFile = nullptr; }
        } scope(file);
        return parseMovieAtom(buf.data(), buf.size(), *m, path);
      });
      if (result != noErr) {
        vt::movie::destroyMovie(m);
        break;
      }
      if (where) {
        where->offset = pos;
        where->size = size;
      }
      *movieOut = m;
      break;
    }
    if (atoms == 1) {
      static const OSType kinds[] = {'ftyp', 'mdat', 'wide', 'free', 'skip',
                                     'pnot', 'uuid', 'junk', 'PICT'};
      if (std::find(std::begin(kinds), std::end(kinds), type) == std::end(kinds)) {
        result = badFileFormat;
        break;
      }
    }
    pos += size;
  }
  return result;
}

}  // namespace vt::qtff

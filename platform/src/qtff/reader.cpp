#include "qtff/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "atoms/atom_tree.h"
#include "core/fourcc.h"
#include "core/pstring.h"
#include "files/host_file.h"
#include "model/internal.h"
#include "qtff/bytes.h"

namespace vt::qtff {

using vt::movie::DataRef;
using vt::movie::Edit;

namespace {

// Hard ceiling on the samples of one media. The tables cost memory by their entries, not by
// this count, but decoders index samples one by one; beyond it a file is refused.
constexpr uint64_t kMaxSamples = 1u << 25;

struct Span {
  const uint8_t* p;
  size_t n;
};

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

std::string dirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}
std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A referenced file is looked for next to the movie first, so a movie and its sources can
// move together; then where the reference says.
// The open file whose movie atom is being parsed: its own data is read through it.
thread_local const std::shared_ptr<vt::files::HostFile>* tMovieFile = nullptr;

void resolveDataRef(DataRef& ref, const std::string& moviePath) {
  if (ref.self()) {
    ref.path = moviePath;
    if (moviePath.empty()) return;
    ref.source = tMovieFile && *tMovieFile ? vt::movie::fileSource(moviePath, *tMovieFile)
                                           : vt::movie::openFileSource(moviePath);
    return;
  }
  std::string target;
  if (ref.type == 'alis') {
    if (!vt::movie::aliasBytesToPath(ref.data.data(), ref.data.size(), target)) return;
  } else if (ref.type == 'url ') {
    size_t len = 0;
    while (len < ref.data.size() && ref.data[len]) ++len;
    target.assign((const char*)ref.data.data(), len);
    if (target.rfind("file://", 0) == 0) target = target.substr(7);
    if (target.empty() || target.find("://") != std::string::npos) return;
  } else {
    return;
  }
  std::vector<std::string> candidates;
  if (!moviePath.empty()) candidates.push_back(dirName(moviePath) + "/" + baseName(target));
  if (!target.empty() && target[0] == '/') {
    candidates.push_back(target);
  } else if (!moviePath.empty()) {
    candidates.push_back(dirName(moviePath) + "/" + target);
  }
  for (const auto& c : candidates) {
    if (auto src = vt::movie::openFileSource(c)) {
      ref.path = c;
      ref.source = src;
      return;
    }
  }
  ref.path = target;
}

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

struct Stbl {
  std::vector<std::vector<uint8_t>> stsd;
  Span stts{nullptr, 0}, ctts{nullptr, 0}, stss{nullptr, 0}, stsc{nullptr, 0}, stsz{nullptr, 0},
      stco{nullptr, 0};
  bool co64 = false, stz2 = false, haveStss = false;
};

// Reads a full atom's entry count and checks that `entrySize` bytes per entry fit.
bool entryCount(Span s, size_t headerBytes, size_t entrySize, uint32_t& count) {
  if (s.n < headerBytes) return false;
  count = readBE32(s.p + headerBytes - 4);
  return (uint64_t)count * entrySize <= s.n - headerBytes;
}

// Packets a frame-counted sound table may become (about 49 hours at 48 kHz).
constexpr uint64_t kMaxSoundPackets = 1u << 21;

// Walks the chunks in file order while `more()` holds: fn(offset, samples in the chunk,
// description index) for each; stops at fn's first error. badFileFormat when the sample-to-chunk
// table contradicts itself.
OSErr forEachChunk(const Stbl& t, uint32_t chunks, uint32_t stscCount,
                   const std::function<bool()>& more,
                   const std::function<OSErr(uint64_t, uint32_t, uint32_t)>& fn) {
  const uint8_t* sc = t.stsc.p + 8;
  for (uint32_t e = 0; e < stscCount && more(); ++e) {
    uint32_t first = readBE32(sc + 12 * e);
    uint32_t per = readBE32(sc + 12 * e + 4);
    uint32_t desc = readBE32(sc + 12 * e + 8);
    uint32_t next = e + 1 < stscCount ? readBE32(sc + 12 * (e + 1)) : chunks + 1;
    if (first == 0 || next < first) return badFileFormat;
    if (next > chunks + 1) next = chunks + 1;
    for (uint32_t c = first; c < next && more(); ++c) {
      uint64_t off = t.co64 ? readBE64(t.stco.p + 8 + 8 * (size_t)(c - 1))
                            : readBE32(t.stco.p + 8 + 4 * (size_t)(c - 1));
      if (OSErr err = fn(off, per, desc)) return err;
    }
  }
  return noErr;
}

// Sound media whose descriptions count frames: chunks are cut into packets of whole frames, the
// bytes computed from the description (the table's own sample sizes follow conventions that
// differ between writers: 1, or the frame's size).
OSErr buildSoundFrameTable(VTMedia& media, const Stbl& t) {
  if (t.stsz.n < 12) return badFileFormat;
  uint64_t frames = readBE32(t.stsz.p + 8);
  uint32_t chunks = 0, stscCount = 0, sttsCount = 0;
  if (!t.stco.p || !entryCount(t.stco, 8, t.co64 ? 8 : 4, chunks)) return badFileFormat;
  if (!t.stsc.p || !entryCount(t.stsc, 8, 12, stscCount)) return badFileFormat;
  if (!t.stts.p || !entryCount(t.stts, 8, 8, sttsCount)) return badFileFormat;
  // Frame durations, consumed a run at a time.
  const uint8_t* st = t.stts.p + 8;
  uint32_t run = 0, runLeft = sttsCount ? readBE32(st) : 0;
  auto durationOf = [&](uint64_t n, uint64_t& got) -> int64_t {
    int64_t d = 0;
    got = 0;
    while (got < n && run < sttsCount) {
      if (runLeft == 0) {
        if (++run >= sttsCount) break;
        runLeft = readBE32(st + 8 * run);
        continue;
      }
      uint32_t delta = readBE32(st + 8 * run + 4);
      if (delta & 0x80000000u) delta = 0;
      uint64_t take = std::min<uint64_t>(runLeft, n - got);
      d += (int64_t)(take * delta);
      got += take;
      runLeft -= (uint32_t)take;
    }
    return d;
  };
  std::vector<uint32_t> fpp(media.descriptions.size()), bpp(media.descriptions.size());
  for (size_t i = 0; i < media.descriptions.size(); ++i)
    media.descriptions[i].soundFramePacking(fpp[i], bpp[i]);
  uint64_t done = 0;
  bool ended = false;  // frames past the durations table do not exist
  return forEachChunk(
      t, chunks, stscCount, [&] { return done < frames && !ended; },
      [&](uint64_t off, uint32_t per, uint32_t desc) -> OSErr {
        if (desc == 0 || desc > media.descriptions.size() || fpp[desc - 1] == 0)
          return badFileFormat;
        uint32_t framesPer = fpp[desc - 1], bytesPer = bpp[desc - 1];
        uint32_t maxFrames = std::max(
            framesPer, vt::movie::kSoundPacketFrames - vt::movie::kSoundPacketFrames % framesPer);
        uint64_t left = std::min<uint64_t>(per, frames - done);
        while (left > 0) {
          if (media.sampleCount() >= kMaxSoundPackets) return badFileFormat;
          uint64_t got = 0;
          int64_t dur = durationOf(std::min<uint64_t>(left, maxFrames), got);
          if (got == 0) {
            ended = true;
            return noErr;
          }
          uint32_t size = (uint32_t)((got + framesPer - 1) / framesPer * bytesPer);
          if (off > UINT64_MAX - size) return badFileFormat;
          media.samples.append(off, size, (uint32_t)std::min<int64_t>(dur, UINT32_MAX), desc, true,
                               0);
          off += size;
          left -= got;
          done += got;
        }
        return noErr;
      });
}

// The file's tables become runs column by column: the work and memory follow the entries the
// tables hold, never the sample counts they declare.
OSErr buildSampleTable(VTMedia& media, const Stbl& t) {
  for (const auto& d : t.stsd) {
    vt::movie::SampleDesc sd;
    sd.bytes = d;
    media.descriptions.push_back(std::move(sd));
  }
  if (!t.stsz.p) return noErr;  // no samples
  uint32_t framesPer = 0, bytesPer = 0;
  if (media.mediaType == SoundMediaType && !media.descriptions.empty() &&
      std::all_of(
          media.descriptions.begin(), media.descriptions.end(),
          [&](const vt::movie::SampleDesc& d) { return d.soundFramePacking(framesPer, bytesPer); }))
    return buildSoundFrameTable(media, t);
  if (t.stsz.n < 12) return badFileFormat;
  uint32_t n = readBE32(t.stsz.p + 8), constSize = 0;
  uint8_t field = 32;
  if (!t.stz2) {
    constSize = readBE32(t.stsz.p + 4);
    if (constSize == 0 && (uint64_t)n * 4 > t.stsz.n - 12) return badFileFormat;
  } else {
    field = t.stsz.p[7];
    if (field != 4 && field != 8 && field != 16) return badFileFormat;
    if (((uint64_t)n * field + 7) / 8 > t.stsz.n - 12) return badFileFormat;
  }
  if (n > kMaxSamples) return badFileFormat;
  if (n == 0) return noErr;

  uint32_t chunks = 0;
  if (!t.stco.p || !entryCount(t.stco, 8, t.co64 ? 8 : 4, chunks)) return badFileFormat;
  uint32_t stscCount = 0;
  if (!t.stsc.p || !entryCount(t.stsc, 8, 12, stscCount)) return badFileFormat;
  uint32_t sttsCount = 0;
  if (!t.stts.p || !entryCount(t.stts, 8, 8, sttsCount)) return badFileFormat;

  vt::movie::SampleTable& table = media.samples;
  // A size table gives a run per sample at most; chunks one per chunk.
  table.reserveData(constSize ? chunks : n);
  auto sizeOf = [&](uint32_t i) -> uint32_t {
    const uint8_t* base = t.stsz.p + 12;
    if (field == 8) return base[i];
    if (field == 16) return readBE16(base + 2 * (size_t)i);
    if (field == 4) return (i & 1) ? (base[i / 2] & 0xF) : (base[i / 2] >> 4);
    return readBE32(base + 4 * (size_t)i);
  };
  // Data: chunk by chunk; samples no chunk covers do not exist.
  uint32_t sample = 0;
  OSErr err = forEachChunk(
      t, chunks, stscCount, [&] { return sample < n; },
      [&](uint64_t off, uint32_t per, uint32_t desc) -> OSErr {
        uint32_t take = std::min(per, n - sample);
        if (constSize) {
          if (off > UINT64_MAX - (uint64_t)take * constSize) return badFileFormat;
          table.appendData(off, constSize, take, desc);
          sample += take;
          return noErr;
        }
        for (uint32_t k = 0; k < take; ++k, ++sample) {
          uint32_t sz = sizeOf(sample);
          if (off > UINT64_MAX - sz) return badFileFormat;
          table.appendData(off, sz, 1, desc);
          off += sz;
        }
        return noErr;
      });
  if (err) return err;
  n = sample;

  const uint8_t* st = t.stts.p + 8;
  for (uint32_t e = 0, timed = 0; e < sttsCount && timed < n; ++e) {
    uint32_t count = std::min(readBE32(st + 8 * e), n - timed);
    uint32_t delta = readBE32(st + 8 * e + 4);
    // Negative deltas written by broken muxers are taken as zero.
    if (delta & 0x80000000u) delta = 0;
    table.appendTiming(delta, count);
    timed += count;
  }
  if (t.ctts.p) {
    uint32_t cc = 0;
    if (!entryCount(t.ctts, 8, 8, cc)) return badFileFormat;
    const uint8_t* ct = t.ctts.p + 8;
    for (uint32_t e = 0, done = 0; e < cc && done < n; ++e) {
      uint32_t count = std::min(readBE32(ct + 8 * e), n - done);
      table.appendCompositionOffsets((int32_t)readBE32(ct + 8 * e + 4), count);
      done += count;
    }
  }
  if (t.haveStss) {
    uint32_t count = 0;
    if (!entryCount(t.stss, 8, 4, count)) return badFileFormat;
    std::vector<uint32_t> syncs;
    syncs.reserve(count);
    for (uint32_t e = 0; e < count; ++e) {
      uint32_t s = readBE32(t.stss.p + 8 + 4 * (size_t)e);
      if (s >= 1 && s <= n) syncs.push_back(s - 1);
    }
    std::sort(syncs.begin(), syncs.end());
    syncs.erase(std::unique(syncs.begin(), syncs.end()), syncs.end());
    uint32_t done = 0;
    for (uint32_t s : syncs) {
      table.appendSync(false, s - done);
      table.appendSync(true, 1);
      done = s + 1;
    }
    table.appendSync(false, n - done);
  }
  table.finishColumns();
  return noErr;
}

OSErr parseMedia(Span mdia, VTTrack& track, const std::string& moviePath) {
  VTMedia& media = *track.media;
  Stbl t;
  bool haveHeader = false;
  OSErr err = forEachChild(mdia, [&](OSType type, Span p, Span whole) -> OSErr {
    switch (type) {
      case 'mdhd': {
        if (p.n < 4) return badFileFormat;
        uint8_t v = p.p[0];
        if (v == 1) {
          // Version, flags, 64-bit creation and modification times, time scale, 64-bit
          // duration: language and quality follow at 32 and 34.
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
        haveHeader = true;
        return noErr;
      }
      case 'hdlr': {
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
      case 'udta': parseUserData(p, media.userData); return noErr;
      case 'minf':
        return forEachChild(p, [&](OSType mt, Span mp, Span mwhole) -> OSErr {
          switch (mt) {
            case 'vmhd':
            case 'smhd':
            case 'gmhd':
            case 'nmhd':
            case 'hmhd':
            case 'sthd':
              if (media.mediaInfoHeader.empty()) media.mediaInfoHeader = copyOf(mwhole);
              return noErr;
            case 'hdlr': return noErr;  // the data handler is written anew
            case 'dinf':
              return forEachChild(mp, [&](OSType dt, Span dp, Span dwhole) -> OSErr {
                if (dt != 'dref') {
                  (void)dwhole;
                  return noErr;
                }
                uint32_t count = 0;
                if (!entryCount(dp, 8, 12, count)) return badFileFormat;
                Span entries{dp.p + 8, dp.n - 8};
                uint32_t seen = 0;
                OSErr e2 = forEachChild(entries, [&](OSType et, Span ep, Span) -> OSErr {
                  if (seen++ >= count) return noErr;
                  if (ep.n < 4) return badFileFormat;
                  DataRef ref;
                  ref.type = et;
                  ref.flags = readBE32(ep.p) & 0xFFFFFF;
                  ref.data.assign(ep.p + 4, ep.p + ep.n);
                  resolveDataRef(ref, moviePath);
                  media.dataRefs.push_back(std::move(ref));
                  return noErr;
                });
                return e2;
              });
            case 'stbl':
              return forEachChild(mp, [&](OSType st, Span sp, Span swhole) -> OSErr {
                switch (st) {
                  case 'stsd': {
                    uint32_t count = 0;
                    if (!entryCount(sp, 8, 16, count)) return badFileFormat;
                    Span entries{sp.p + 8, sp.n - 8};
                    uint32_t seen = 0;
                    return forEachChild(entries, [&](OSType, Span, Span ewhole) -> OSErr {
                      if (seen++ >= count) return noErr;
                      if (ewhole.n < 16) return badFileFormat;
                      t.stsd.push_back(copyOf(ewhole));
                      return noErr;
                    });
                  }
                  case 'stts': t.stts = sp; return noErr;
                  case 'ctts': t.ctts = sp; return noErr;
                  case 'stss':
                    t.stss = sp;
                    t.haveStss = true;
                    return noErr;
                  case 'stsc': t.stsc = sp; return noErr;
                  case 'stsz':
                    t.stsz = sp;
                    t.stz2 = false;
                    return noErr;
                  case 'stz2':
                    t.stsz = sp;
                    t.stz2 = true;
                    return noErr;
                  case 'stco':
                    t.stco = sp;
                    t.co64 = false;
                    return noErr;
                  case 'co64':
                    t.stco = sp;
                    t.co64 = true;
                    return noErr;
                  default: media.stblExtras.push_back(copyOf(swhole)); return noErr;
                }
              });
            default: media.minfExtras.push_back(copyOf(mwhole)); return noErr;
          }
        });
      default: media.mdiaExtras.push_back(copyOf(whole)); return noErr;
    }
  });
  if (err) return err;
  if (!haveHeader) return badFileFormat;
  err = buildSampleTable(media, t);
  if (err) return err;
  media.samplesChanged = false;
  return noErr;
}

OSErr parseTrack(Span trak, Span trakWhole, VTMovie& movie, const std::string& moviePath) {
  auto track = std::make_unique<VTTrack>();
  track->movie = &movie;
  track->media = std::make_unique<VTMedia>();
  track->media->track = track.get();
  bool haveHeader = false, haveMedia = false, haveEdits = false;
  OSErr err = forEachChild(trak, [&](OSType type, Span p, Span whole) -> OSErr {
    switch (type) {
      case 'tkhd': {
        if (p.n < 4) return badFileFormat;
        uint8_t v = p.p[0];
        track->headerFlags = readBE32(p.p) & 0xFFFFFF;
        size_t base;
        if (v == 1) {
          if (p.n < 96) return badFileFormat;
          track->creationTime = (uint32_t)readBE64(p.p + 4);
          track->modificationTime = (uint32_t)readBE64(p.p + 12);
          track->id = readBE32(p.p + 20);
          base = 44;
        } else {
          if (p.n < 84) return badFileFormat;
          track->creationTime = readBE32(p.p + 4);
          track->modificationTime = readBE32(p.p + 8);
          track->id = readBE32(p.p + 12);
          base = 32;
        }
        track->layer = (int16_t)readBE16(p.p + base);
        track->alternateGroup = (int16_t)readBE16(p.p + base + 2);
        track->volume = (int16_t)readBE16(p.p + base + 4);
        for (int i = 0; i < 9; ++i) track->matrix[i] = (Fixed)readBE32(p.p + base + 8 + 4 * i);
        track->width = (Fixed)readBE32(p.p + base + 44);
        track->height = (Fixed)readBE32(p.p + base + 48);
        haveHeader = true;
        return noErr;
      }
      case 'edts':
        return forEachChild(p, [&](OSType et, Span ep, Span) -> OSErr {
          if (et != 'elst' || haveEdits) return noErr;
          if (ep.n < 8) return badFileFormat;
          uint8_t v = ep.p[0];
          size_t entry = v == 1 ? 20 : 12;
          uint32_t count = 0;
          if (!entryCount(ep, 8, entry, count)) return badFileFormat;
          for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* q = ep.p + 8 + entry * i;
            Edit e;
            if (v == 1) {
              e.duration = (int64_t)readBE64(q);
              e.mediaTime = (int64_t)readBE64(q + 8);
              e.rate = (Fixed)readBE32(q + 16);
            } else {
              e.duration = readBE32(q);
              e.mediaTime = (int32_t)readBE32(q + 4);
              e.rate = (Fixed)readBE32(q + 8);
            }
            // Times beyond 2^48 units are not real movies; refusing them keeps sums exact.
            if (e.duration < 0 || e.duration > (1LL << 48) || e.mediaTime < -1 ||
                e.mediaTime > (1LL << 48))
              return badFileFormat;
            track->edits.push_back(e);
          }
          haveEdits = true;
          return noErr;
        });
      case 'tref':
        return forEachChild(p, [&](OSType rt, Span rp, Span) -> OSErr {
          VTTrack::Reference r;
          r.type = rt;
          for (size_t i = 0; i + 4 <= rp.n; i += 4) r.ids.push_back(readBE32(rp.p + i));
          track->references.push_back(std::move(r));
          return noErr;
        });
      case 'imap':
        if (!inputMapToContainer(p, track->media->inputMap)) {
          track->media->inputMap.clear();
          track->extras.push_back(copyOf(whole));
        }
        return noErr;
      case 'mdia': haveMedia = true; return parseMedia(p, *track, moviePath);
      case 'udta': parseUserData(p, track->userData); return noErr;
      default: track->extras.push_back(copyOf(whole)); return noErr;
    }
  });
  if (err) return err;
  if (!haveHeader || !haveMedia) {
    // Not a track we can use; keep its bytes so rewriting the movie loses nothing.
    movie.extras.push_back(copyOf(trakWhole));
    return noErr;
  }
  if (!haveEdits) {
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
  bool haveHeader = false;
  // The movie header comes first in practice, but track durations need its time scale, so
  // find it before the tracks.
  OSErr err = forEachChild(moov, [&](OSType type, Span p, Span) -> OSErr {
    if (type != 'mvhd' || haveHeader) return noErr;
    if (p.n < 4) return badFileFormat;
    uint8_t v = p.p[0];
    size_t base;
    if (v == 1) {
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
    haveHeader = true;
    return noErr;
  });
  if (err) return err;
  if (!haveHeader) return invalidMovie;
  movie.volume = movie.preferredVolume;
  err = forEachChild(moov, [&](OSType type, Span p, Span whole) -> OSErr {
    switch (type) {
      case 'mvhd': return noErr;
      case 'trak': return parseTrack(p, whole, movie, moviePath);
      case 'udta': parseUserData(p, movie.userData); return noErr;
      default: movie.extras.push_back(copyOf(whole)); return noErr;
    }
  });
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

#include "qtff/writer.h"

#include <algorithm>

#include "core/fourcc.h"
#include "qtff/bytes.h"

namespace vt::qtff {

namespace {

bool fits32(int64_t v) { return v >= 0 && v <= 0xFFFFFFFFLL; }

void writeMatrix(ByteWriter& w, const Fixed* m) {
  for (int i = 0; i < 9; ++i) w.u32((uint32_t)m[i]);
}

void writeUserData(ByteWriter& w, const VTUserData& ud) {
  if (ud.items.empty()) return;
  size_t at = w.begin('udta');
  for (const auto& item : ud.items) {
    w.u32((uint32_t)(8 + item.data.size()));
    w.u32(item.type);
    w.bytes(item.data);
  }
  w.end(at);
}

// The input map container's root children become the 'imap' payload. A damaged container is
// not written.
void writeInputMap(ByteWriter& w, const std::vector<uint8_t>& c) {
  if (c.size() < 32) return;
  uint32_t rootSize = readBE32(&c[12]);
  if (rootSize < 20 || rootSize > c.size() - 12) return;
  if (readBE16(&c[12 + 14]) == 0) return;  // no inputs
  size_t at = w.begin('imap');
  w.bytes(c.data() + 32, rootSize - 20);
  w.end(at);
}

void writeMediaInfoHeader(ByteWriter& w, const VTMedia& m) {
  if (!m.mediaInfoHeader.empty()) {
    w.bytes(m.mediaInfoHeader);
    return;
  }
  if (m.mediaType == 'vide') {
    size_t at = w.beginFull('vmhd', 0, 1);
    w.u16(0x0040);  // ditherCopy
    w.u16(0x8000);
    w.u16(0x8000);
    w.u16(0x8000);
    w.end(at);
  } else if (m.mediaType == 'soun') {
    size_t at = w.beginFull('smhd', 0, 0);
    w.u16(0);
    w.u16(0);
    w.end(at);
  } else {
    size_t at = w.begin('gmhd');
    size_t g = w.beginFull('gmin', 0, 0);
    w.u16(0x0040);
    w.u16(0x8000);
    w.u16(0x8000);
    w.u16(0x8000);
    w.u16(0);
    w.u16(0);
    w.end(g);
    w.end(at);
  }
}

void writeHandler(ByteWriter& w, OSType componentType, OSType subtype, OSType manufacturer,
                  const std::string& name) {
  size_t at = w.beginFull('hdlr', 0, 0);
  w.u32(componentType);
  w.u32(subtype);
  w.u32(manufacturer);
  w.u32(0);
  w.u32(0);
  std::string n = name.substr(0, 255);
  w.u8((uint8_t)n.size());
  w.bytes(n.data(), n.size());
  w.end(at);
}

void writeDataRefs(ByteWriter& w, const VTMedia& m, const std::string& moviePath) {
  size_t dinf = w.begin('dinf');
  size_t dref = w.beginFull('dref', 0, 0);
  std::vector<const vt::movie::DataRef*> refs;
  for (const auto& r : m.dataRefs) refs.push_back(&r);
  w.u32(refs.empty() ? 1 : (uint32_t)refs.size());
  if (refs.empty()) {
    size_t e = w.beginFull('alis', 0, 1);
    w.end(e);
  }
  for (const auto* r : refs) {
    bool self = !moviePath.empty() ? r->path == moviePath : r->self();
    if (self) {
      size_t e = w.beginFull('alis', 0, 1);
      w.end(e);
    } else if (!r->path.empty() && (r->type == 'alis' || r->source)) {
      size_t e = w.beginFull('alis', 0, 0);
      w.bytes(vt::movie::makeAliasBytes(r->path, moviePath));
      w.end(e);
    } else {
      size_t e = w.beginFull(r->type, 0, r->flags & ~1u);
      w.bytes(r->data);
      w.end(e);
    }
  }
  w.end(dref);
  w.end(dinf);
}

// How one sample of the model is stored: as itself, or (sound described by frames) as
// `units` frames of duration 1 in the media's scale, each `unitSize` bytes in the size table.
struct Stored {
  uint32_t units = 1;
  uint32_t unitSize = 0;  // 0: the sample's own size
  uint32_t framesPerPacket = 1, bytesPerPacket = 0;
  // Frames (ascending) at which a new chunk starts, 0 for the sample's own start.
  std::vector<uint32_t> cuts;
};

// Media times where the track's edits start and end.
std::vector<int64_t> editPoints(const VTMedia& m) {
  std::vector<int64_t> points;
  const VTTrack* t = m.track;
  if (!t || !t->movie || t->movie->timeScale <= 0) return points;
  for (const auto& e : t->edits) {
    if (e.mediaTime < 0) continue;
    points.push_back(e.mediaTime);
    points.push_back(vt::movie::editMediaTime(e, e.duration, t->movie->timeScale, m.timeScale));
  }
  std::sort(points.begin(), points.end());
  return points;
}

Stored storedShape(const vt::movie::SampleInfo& s, const std::vector<uint32_t>& fpp,
                   const std::vector<uint32_t>& bpp, const std::vector<int64_t>& points) {
  Stored st;
  uint32_t d = s.descIndex;
  if (d < 1 || d > fpp.size() || fpp[d - 1] == 0) return st;
  uint64_t frames = (uint64_t)s.size / bpp[d - 1] * fpp[d - 1];
  if (frames == 0 || frames > 0xFFFFFFFFu || s.size % bpp[d - 1] != 0) return st;
  st.units = (uint32_t)frames;
  // Writers disagree on the size entry of a frame: its bytes, or 1 for compressed packets.
  st.unitSize = fpp[d - 1] == 1 ? bpp[d - 1] : 1;
  st.framesPerPacket = fpp[d - 1];
  st.bytesPerPacket = bpp[d - 1];
  int64_t start = s.decodeTime, length = s.duration;
  if (length % st.units != 0) return st;
  int64_t each = length / st.units;
  for (auto p = std::lower_bound(points.begin(), points.end(), start);
       p != points.end() && *p < start + length; ++p) {
    int64_t k = each ? (*p - start) / each : 0;
    if (each && (*p - start) % each == 0 && k % st.framesPerPacket == 0 &&
        (st.cuts.empty() || st.cuts.back() != (uint32_t)k))
      st.cuts.push_back((uint32_t)k);
  }
  return st;
}

struct Chunk {
  uint64_t offset;
  uint32_t samples, desc;
};

// Sound whose descriptions count frames is stored a frame per table entry: `stored` gets the
// file's table and `chunks` its chunks, which break where edits start and end so that readers
// that play whole chunks' packets (ffmpeg does, after the first edit) still start and stop each
// edit at the right frame. False when no description counts frames.
bool soundFrameTables(const VTMedia& m, vt::movie::SampleTable& stored,
                      std::vector<Chunk>& chunks) {
  if (m.mediaType != SoundMediaType) return false;
  std::vector<uint32_t> fpp(m.descriptions.size()), bpp(m.descriptions.size());
  bool any = false;
  for (size_t d = 0; d < m.descriptions.size(); ++d)
    any |= m.descriptions[d].soundFramePacking(fpp[d], bpp[d]);
  if (!any) return false;
  std::vector<int64_t> points = editPoints(m);
  uint64_t chunkBytes = 0, chunkEnd = 0;
  uint32_t chunkEntries = 0;
  for (uint32_t i = 0; i < m.samples.count(); ++i) {
    vt::movie::SampleInfo s = m.samples.info(i);
    Stored st = storedShape(s, fpp, bpp, points);
    // A sample stored as frames spreads its duration over them exactly.
    uint32_t u = st.units, d = s.duration / u, rest = s.duration - d * u;
    stored.appendData(s.offset, st.unitSize ? st.unitSize : s.size, u, s.descIndex);
    stored.appendTiming(d, rest ? u - 1 : u);
    if (rest) stored.appendTiming(d + rest, 1);
    stored.appendCompositionOffsets(s.compositionOffset, u);
    stored.appendSync(s.sync, u);
    // The sample's stretches between cuts; a cut at its start only breaks the chunk.
    std::vector<uint32_t> bounds = {0};
    for (uint32_t c : st.cuts)
      if (c > 0) bounds.push_back(c);
    bounds.push_back(st.units);
    bool breakFirst = !st.cuts.empty() && st.cuts.front() == 0;
    for (size_t k = 0; k + 1 < bounds.size(); ++k) {
      uint32_t from = bounds[k], to = bounds[k + 1];
      bool atCut = k > 0 || breakFirst;
      uint64_t offset = s.offset, bytes = s.size;
      if (st.bytesPerPacket) {
        offset += (uint64_t)from / st.framesPerPacket * st.bytesPerPacket;
        bytes =
            (uint64_t)(to - from + st.framesPerPacket - 1) / st.framesPerPacket * st.bytesPerPacket;
      }
      if (!chunks.empty() && !atCut && s.descIndex == chunks.back().desc && offset == chunkEnd &&
          chunkEntries < 4096 && chunkBytes < (1u << 20) &&
          chunks.back().samples <= 0xFFFFFFFFu - (to - from)) {
        chunks.back().samples += to - from;
        ++chunkEntries;
        chunkBytes += bytes;
      } else {
        chunks.push_back(Chunk{offset, to - from, s.descIndex});
        chunkEntries = 1;
        chunkBytes = bytes;
      }
      chunkEnd = offset + bytes;
    }
  }
  stored.finishColumns();
  return true;
}

void writeSampleTable(ByteWriter& w, const VTMedia& m) {
  vt::movie::SampleTable frames;
  std::vector<Chunk> chunks;
  bool framed = soundFrameTables(m, frames, chunks);
  const vt::movie::SampleTable& table = framed ? frames : m.samples;
  size_t stbl = w.begin('stbl');

  size_t stsd = w.beginFull('stsd', 0, 0);
  w.u32((uint32_t)m.descriptions.size());
  for (const auto& d : m.descriptions) w.bytes(d.bytes);
  w.end(stsd);

  // Runs of one value become one entry each.
  size_t stts = w.beginFull('stts', 0, 0);
  size_t countAt = w.out.size();
  w.u32(0);
  uint32_t runs = 0;
  table.forEachDurationRun([&](uint32_t count, uint32_t duration) {
    w.u32(count);
    w.u32(duration);
    ++runs;
  });
  w.patch32(countAt, runs);
  w.end(stts);

  if (table.hasCompositionOffsets()) {
    size_t ctts = w.beginFull('ctts', 0, 0);
    countAt = w.out.size();
    w.u32(0);
    runs = 0;
    table.forEachCompositionOffsetRun([&](uint32_t count, int32_t offset) {
      w.u32(count);
      w.u32((uint32_t)offset);
      ++runs;
    });
    w.patch32(countAt, runs);
    w.end(ctts);
  }

  if (!table.allSync()) {
    size_t stss = w.beginFull('stss', 0, 0);
    countAt = w.out.size();
    w.u32(0);
    uint32_t count = 0;
    table.forEachSyncSample([&](uint32_t s) {
      w.u32(s + 1);
      ++count;
    });
    w.patch32(countAt, count);
    w.end(stss);
  }

  // Chunks: samples that follow each other in the data with one description, at most 4096.
  uint64_t chunkEnd = 0;
  if (!framed)
    table.forEachSpan([&](const vt::movie::SampleSpan& s) {
      uint32_t left = s.count;
      uint64_t at = s.offset;
      while (left > 0) {
        if (chunks.empty() || chunks.back().desc != s.descIndex || chunkEnd != at ||
            chunks.back().samples >= 4096)
          chunks.push_back(Chunk{at, 0, s.descIndex});
        uint32_t take = std::min(left, 4096 - chunks.back().samples);
        chunks.back().samples += take;
        at += (uint64_t)take * s.size;
        chunkEnd = at;
        left -= take;
      }
    });
  size_t stsc = w.beginFull('stsc', 0, 0);
  countAt = w.out.size();
  w.u32(0);
  runs = 0;
  for (size_t c = 0; c < chunks.size(); ++c) {
    if (c > 0 && chunks[c].samples == chunks[c - 1].samples && chunks[c].desc == chunks[c - 1].desc)
      continue;
    w.u32((uint32_t)(c + 1));
    w.u32(chunks[c].samples);
    w.u32(chunks[c].desc);
    ++runs;
  }
  w.patch32(countAt, runs);
  w.end(stsc);

  size_t stsz = w.beginFull('stsz', 0, 0);
  uint32_t constant = table.constantSize();
  w.u32(constant);
  w.u32(table.count());
  if (!constant)
    table.forEachSpan([&](const vt::movie::SampleSpan& s) {
      for (uint32_t k = 0; k < s.count; ++k) w.u32(s.size);
    });
  w.end(stsz);

  bool wide = std::any_of(chunks.begin(), chunks.end(),
                          [](const Chunk& c) { return c.offset > 0xFFFFFFFFull; });
  size_t stco = w.beginFull(wide ? 'co64' : 'stco', 0, 0);
  w.u32((uint32_t)chunks.size());
  for (const Chunk& c : chunks) {
    if (wide)
      w.u64(c.offset);
    else
      w.u32((uint32_t)c.offset);
  }
  w.end(stco);

  if (!m.samplesChanged)
    for (const auto& e : m.stblExtras) w.bytes(e);
  w.end(stbl);
}

std::string handlerNameFor(const VTMedia& m) {
  if (!m.handlerName.empty()) return m.handlerName;
  switch (m.mediaType) {
    case 'vide': return "Video Media Handler";
    case 'soun': return "Sound Media Handler";
    case 'text': return "Text Media Handler";
    case 'tmcd': return "Time Code Media Handler";
    default: return "Media Handler";
  }
}

void writeTrack(ByteWriter& w, const VTTrack& t, const std::string& moviePath) {
  const VTMedia& m = *t.media;
  size_t trak = w.begin('trak');
  int64_t duration = t.duration();
  bool v1 = !fits32(duration);
  size_t tkhd = w.beginFull('tkhd', v1 ? 1 : 0, t.headerFlags);
  if (v1) {
    w.u64(t.creationTime);
    w.u64(t.modificationTime);
    w.u32(t.id);
    w.u32(0);
    w.u64((uint64_t)duration);
  } else {
    w.u32(t.creationTime);
    w.u32(t.modificationTime);
    w.u32(t.id);
    w.u32(0);
    w.u32((uint32_t)duration);
  }
  w.zeros(8);
  w.u16((uint16_t)t.layer);
  w.u16((uint16_t)t.alternateGroup);
  w.u16((uint16_t)t.volume);
  w.u16(0);
  writeMatrix(w, t.matrix);
  w.u32((uint32_t)t.width);
  w.u32((uint32_t)t.height);
  w.end(tkhd);

  if (!t.edits.empty()) {
    bool ev1 = std::any_of(t.edits.begin(), t.edits.end(), [](const vt::movie::Edit& e) {
      return !fits32(e.duration) || e.mediaTime > 0x7FFFFFFFLL;
    });
    size_t edts = w.begin('edts');
    size_t elst = w.beginFull('elst', ev1 ? 1 : 0, 0);
    w.u32((uint32_t)t.edits.size());
    for (const auto& e : t.edits) {
      if (ev1) {
        w.u64((uint64_t)e.duration);
        w.u64((uint64_t)e.mediaTime);
      } else {
        w.u32((uint32_t)e.duration);
        w.u32((uint32_t)(int32_t)e.mediaTime);
      }
      w.u32((uint32_t)e.rate);
    }
    w.end(elst);
    w.end(edts);
  }

  if (std::any_of(t.references.begin(), t.references.end(),
                  [](const VTTrack::Reference& r) { return !r.ids.empty(); })) {
    size_t tref = w.begin('tref');
    for (const auto& r : t.references) {
      if (r.ids.empty()) continue;
      size_t at = w.begin(r.type);
      for (uint32_t id : r.ids) w.u32(id);
      w.end(at);
    }
    w.end(tref);
  }
  writeInputMap(w, m.inputMap);

  size_t mdia = w.begin('mdia');
  int64_t mdur = m.duration();
  bool mv1 = !fits32(mdur);
  size_t mdhd = w.beginFull('mdhd', mv1 ? 1 : 0, 0);
  if (mv1) {
    w.u64(0);
    w.u64(0);
    w.u32((uint32_t)m.timeScale);
    w.u64((uint64_t)mdur);
  } else {
    w.u32(0);
    w.u32(0);
    w.u32((uint32_t)m.timeScale);
    w.u32((uint32_t)mdur);
  }
  w.u16(m.language);
  w.u16(m.quality);
  w.end(mdhd);
  writeHandler(w, 'mhlr', m.mediaType, m.handlerManufacturer, handlerNameFor(m));
  size_t minf = w.begin('minf');
  writeMediaInfoHeader(w, m);
  writeHandler(w, 'dhlr', 'alis', 0, "Alias Data Handler");
  writeDataRefs(w, m, moviePath);
  writeSampleTable(w, m);
  for (const auto& e : m.minfExtras) w.bytes(e);
  w.end(minf);
  writeUserData(w, m.userData);
  for (const auto& e : m.mdiaExtras) w.bytes(e);
  w.end(mdia);

  writeUserData(w, t.userData);
  for (const auto& e : t.extras) w.bytes(e);
  w.end(trak);
}

}  // namespace

std::vector<uint8_t> buildMovieAtom(const VTMovie& movie, const std::string& moviePath) {
  ByteWriter w;
  size_t moov = w.begin('moov');
  int64_t duration = movie.duration();
  bool v1 = !fits32(duration);
  size_t mvhd = w.beginFull('mvhd', v1 ? 1 : 0, 0);
  if (v1) {
    w.u64(movie.creationTime);
    w.u64(movie.modificationTime);
    w.u32((uint32_t)movie.timeScale);
    w.u64((uint64_t)duration);
  } else {
    w.u32(movie.creationTime);
    w.u32(movie.modificationTime);
    w.u32((uint32_t)movie.timeScale);
    w.u32((uint32_t)duration);
  }
  w.u32((uint32_t)movie.preferredRate);
  w.u16((uint16_t)movie.preferredVolume);
  w.zeros(10);
  writeMatrix(w, movie.matrix);
  w.u32((uint32_t)movie.previewTime);
  w.u32((uint32_t)movie.previewDuration);
  w.u32((uint32_t)movie.posterTime);
  w.u32((uint32_t)movie.selectionTime);
  w.u32((uint32_t)movie.selectionDuration);
  w.u32((uint32_t)movie.currentTime);
  uint32_t next = movie.nextTrackID;
  for (const auto& t : movie.tracks) next = std::max(next, t->id + 1);
  w.u32(next);
  w.end(mvhd);
  for (const auto& t : movie.tracks) writeTrack(w, *t, moviePath);
  writeUserData(w, movie.userData);
  for (const auto& e : movie.extras) w.bytes(e);
  w.end(moov);
  return std::move(w.out);
}

std::vector<uint8_t> fileTypeAtom() {
  ByteWriter w;
  size_t at = w.begin('ftyp');
  w.u32('qt  ');
  w.u32(0x20050300);
  w.u32('qt  ');
  w.end(at);
  return std::move(w.out);
}

}  // namespace vt::qtff

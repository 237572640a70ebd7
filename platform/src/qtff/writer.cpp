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
    points.push_back(e.mediaTime + (int64_t)((__int128)e.duration * m.timeScale / t->movie->timeScale *
                                             e.rate / fixed1));
  }
  std::sort(points.begin(), points.end());
  return points;
}

std::vector<Stored> storedShape(const VTMedia& m) {
  std::vector<Stored> out(m.sampleCount());
  if (m.mediaType != SoundMediaType) return out;
  std::vector<uint32_t> fpp(m.descriptions.size()), bpp(m.descriptions.size());
  for (size_t d = 0; d < m.descriptions.size(); ++d)
    m.descriptions[d].soundFramePacking(fpp[d], bpp[d]);
  // Chunks of frames are cut where edits start and end, so that readers that play whole packets
  // (ffmpeg does, after the first edit) still start and stop each edit at the right frame.
  std::vector<int64_t> points = editPoints(m);
  for (size_t i = 0; i < out.size(); ++i) {
    uint32_t d = m.descIndexes[i];
    if (d < 1 || d > fpp.size() || fpp[d - 1] == 0) continue;
    uint64_t frames = (uint64_t)m.sizes[i] / bpp[d - 1] * fpp[d - 1];
    if (frames == 0 || frames > 0xFFFFFFFFu || m.sizes[i] % bpp[d - 1] != 0) continue;
    Stored& st = out[i];
    st.units = (uint32_t)frames;
    // Writers disagree on the size entry of a frame: its bytes, or 1 for compressed packets.
    st.unitSize = fpp[d - 1] == 1 ? bpp[d - 1] : 1;
    st.framesPerPacket = fpp[d - 1];
    st.bytesPerPacket = bpp[d - 1];
    int64_t start = m.decodeTimes[i], length = m.durations[i];
    if (length % st.units != 0) continue;
    int64_t each = length / st.units;
    for (auto p = std::lower_bound(points.begin(), points.end(), start);
         p != points.end() && *p < start + length; ++p) {
      int64_t k = each ? (*p - start) / each : 0;
      if (each && (*p - start) % each == 0 && k % st.framesPerPacket == 0 &&
          (st.cuts.empty() || st.cuts.back() != (uint32_t)k))
        st.cuts.push_back((uint32_t)k);
    }
  }
  return out;
}

// Run-length table writer: (count, value) pairs, merging equal neighbours.
class Runs {
 public:
  Runs(ByteWriter& w) : w_(w), countAt_(w.out.size()) { w.u32(0); }
  void add(uint64_t count, uint32_t value) {
    if (count == 0) return;
    if (have_ && value == value_) {
      count_ += count;
      return;
    }
    flush();
    have_ = true;
    value_ = value;
    count_ = count;
  }
  void finish() {
    flush();
    w_.patch32(countAt_, entries_);
  }

 private:
  void flush() {
    while (have_ && count_ > 0) {
      uint32_t n = (uint32_t)std::min<uint64_t>(count_, 0xFFFFFFFFu);
      w_.u32(n);
      w_.u32(value_);
      ++entries_;
      count_ -= n;
    }
    have_ = false;
  }
  ByteWriter& w_;
  size_t countAt_;
  uint32_t entries_ = 0;
  bool have_ = false;
  uint32_t value_ = 0;
  uint64_t count_ = 0;
};

void writeSampleTable(ByteWriter& w, const VTMedia& m) {
  size_t stbl = w.begin('stbl');
  size_t n = m.sampleCount();
  std::vector<Stored> shape = storedShape(m);
  uint64_t units = 0;
  for (const Stored& s : shape) units += s.units;

  size_t stsd = w.beginFull('stsd', 0, 0);
  w.u32((uint32_t)m.descriptions.size());
  for (const auto& d : m.descriptions) w.bytes(d.bytes);
  w.end(stsd);

  // Decode durations; a sample stored as frames spreads its duration over them exactly.
  size_t stts = w.beginFull('stts', 0, 0);
  Runs durations(w);
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = shape[i].units, d = m.durations[i] / u, rest = m.durations[i] - d * u;
    durations.add(rest ? u - 1 : u, d);
    if (rest) durations.add(1, d + rest);
  }
  durations.finish();
  w.end(stts);

  if (!m.compositionOffsets.empty()) {
    size_t ctts = w.beginFull('ctts', 0, 0);
    Runs offsets(w);
    for (size_t i = 0; i < n; ++i) offsets.add(shape[i].units, (uint32_t)m.compositionOffsets[i]);
    offsets.finish();
    w.end(ctts);
  }

  if (!m.syncFlags.empty() &&
      std::any_of(m.syncFlags.begin(), m.syncFlags.end(), [](uint8_t f) { return f == 0; })) {
    size_t stss = w.beginFull('stss', 0, 0);
    size_t countAt = w.out.size();
    w.u32(0);
    uint32_t count = 0;
    uint64_t number = 1;
    for (size_t i = 0; i < n; number += shape[i].units, ++i)
      if (m.syncFlags[i]) {
        w.u32((uint32_t)number);
        ++count;
      }
    w.patch32(countAt, count);
    w.end(stss);
  }

  // Chunks: runs of samples that follow each other in the same file with one description.
  std::vector<uint64_t> chunkOffsets;
  std::vector<uint32_t> chunkSamples, chunkDesc, chunkEntries;
  uint64_t chunkBytes = 0, chunkEnd = 0;
  for (size_t i = 0; i < n; ++i) {
    const Stored& st = shape[i];
    // The sample's stretches between cuts; a cut at its start only breaks the chunk.
    std::vector<uint32_t> bounds = {0};
    for (uint32_t c : st.cuts)
      if (c > 0) bounds.push_back(c);
    bounds.push_back(st.units);
    bool breakFirst = !st.cuts.empty() && st.cuts.front() == 0;
    for (size_t k = 0; k + 1 < bounds.size(); ++k) {
      uint32_t from = bounds[k], to = bounds[k + 1];
      bool atCut = k > 0 || breakFirst;
      uint64_t offset = m.offsets[i], bytes = m.sizes[i];
      if (st.bytesPerPacket) {
        offset += (uint64_t)from / st.framesPerPacket * st.bytesPerPacket;
        bytes = (uint64_t)(to - from + st.framesPerPacket - 1) / st.framesPerPacket * st.bytesPerPacket;
      }
      bool cont = !chunkOffsets.empty() && !atCut && m.descIndexes[i] == chunkDesc.back() &&
                  offset == chunkEnd && chunkEntries.back() < 4096 && chunkBytes < (1u << 20) &&
                  chunkSamples.back() <= 0xFFFFFFFFu - (to - from);
      if (cont) {
        chunkSamples.back() += to - from;
        ++chunkEntries.back();
        chunkBytes += bytes;
      } else {
        chunkOffsets.push_back(offset);
        chunkSamples.push_back(to - from);
        chunkDesc.push_back(m.descIndexes[i]);
        chunkEntries.push_back(1);
        chunkBytes = bytes;
      }
      chunkEnd = offset + bytes;
    }
  }
  size_t stsc = w.beginFull('stsc', 0, 0);
  size_t countAt = w.out.size();
  w.u32(0);
  uint32_t runs = 0;
  for (size_t c = 0; c < chunkOffsets.size(); ++c) {
    if (c > 0 && chunkSamples[c] == chunkSamples[c - 1] && chunkDesc[c] == chunkDesc[c - 1])
      continue;
    w.u32((uint32_t)(c + 1));
    w.u32(chunkSamples[c]);
    w.u32(chunkDesc[c]);
    ++runs;
  }
  w.patch32(countAt, runs);
  w.end(stsc);

  auto storedSize = [&](size_t i) { return shape[i].unitSize ? shape[i].unitSize : m.sizes[i]; };
  size_t stsz = w.beginFull('stsz', 0, 0);
  bool constant = n > 0 && storedSize(0) != 0;
  for (size_t i = 1; i < n && constant; ++i) constant = storedSize(i) == storedSize(0);
  w.u32(constant ? storedSize(0) : 0);
  w.u32((uint32_t)units);
  if (!constant)
    for (size_t i = 0; i < n; ++i)
      for (uint32_t u = 0; u < shape[i].units; ++u) w.u32(storedSize(i));
  w.end(stsz);

  bool wide = std::any_of(chunkOffsets.begin(), chunkOffsets.end(),
                          [](uint64_t o) { return o > 0xFFFFFFFFull; });
  size_t stco = w.beginFull(wide ? 'co64' : 'stco', 0, 0);
  w.u32((uint32_t)chunkOffsets.size());
  for (uint64_t o : chunkOffsets) {
    if (wide)
      w.u64(o);
    else
      w.u32((uint32_t)o);
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

#include "qtff/sample_tables.h"

#include <MacErrors.h>

#include <algorithm>
#include <functional>

#include "model/internal.h"
#include "qtff/bytes.h"

namespace vt::qtff {

bool entryCount(Span s, size_t headerBytes, size_t entrySize, uint32_t& count) {
  if (s.n < headerBytes) return false;
  count = readBE32(s.p + headerBytes - 4);
  return (uint64_t)count * entrySize <= s.n - headerBytes;
}

namespace {

// Hard ceiling on the samples of one media. The tables cost memory by their entries, not by
// this count, but decoders index samples one by one; beyond it a file is refused.
constexpr uint64_t kMaxSamples = 1u << 25;

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

}  // namespace

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

}  // namespace vt::qtff

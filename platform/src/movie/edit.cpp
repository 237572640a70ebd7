// Copying a stretch of one track into another.
#include <Movies.h>

#include <algorithm>
#include <map>

#include "core/guard.h"
#include "model/internal.h"
#include "movie/storage.h"

using namespace vt::movie;

namespace {

int64_t rescaleRound(int64_t v, int64_t to, int64_t from) {
  __int128 x = (__int128)v * to;
  return (int64_t)((x >= 0 ? x + from / 2 : x - from / 2) / from);
}

struct Piece {
  int64_t duration;   // destination movie time
  int64_t mediaStart; // source media time, -1 = empty
  int64_t mediaEnd;
  Fixed rate;
};

// The destination data reference that points at a source file (added once).
int refToFile(VTMedia& dst, const std::string& path, const std::shared_ptr<DataSource>& src) {
  for (size_t i = 0; i < dst.dataRefs.size(); ++i)
    if (dst.dataRefs[i].path == path && !dst.dataRefs[i].self()) return (int)i + 1;
  VTMovie* movie = dst.track->movie;
  DataRef ref;
  ref.flags = (!movie->filePath.empty() && movie->filePath == path) ? 1 : 0;
  ref.path = path;
  ref.data = makeAliasBytes(path);
  ref.source = src;
  dst.dataRefs.push_back(std::move(ref));
  dst.changed();
  return (int)dst.dataRefs.size();
}

// Copies (or refers to) the source samples that cover [mStart, mEnd) and answers the
// destination media time that corresponds to mStart.
OSErr importSamples(const VTMedia& src, VTMedia& dst, int64_t mStart, int64_t mEnd, bool copy,
                    int64_t& dstMediaStart) {
  long n = (long)src.sampleCount();
  long a = src.sampleAtDecodeTime(mStart);
  if (a < 0) return invalidTime;
  long shown = src.sampleAtTime(mStart);
  if (shown >= 0) a = std::min(a, shown);
  // Decoding must start at a sync sample.
  while (a > 0 && !src.sampleInfo((uint32_t)a).sync) --a;
  long b = src.sampleAtDecodeTime(std::max(mStart, mEnd - 1));
  if (b < 0) b = n - 1;
  if (src.samples.hasCompositionOffsets()) {
    // Frames shown before mEnd may be decoded after it.
    for (long k = b + 1; k < n && k <= b + 64; ++k)
      if (src.samples.decodeTime((uint32_t)k) + src.samples.compositionOffset((uint32_t)k) < mEnd)
        b = k;
  }
  TimeScale ss = src.timeScale, ds = dst.timeScale;
  int64_t base = dst.duration();
  int64_t srcBase = src.samples.decodeTime((uint32_t)a);
  std::map<uint32_t, uint32_t> descMap;
  std::vector<uint8_t> bytes;
  for (long i = a; i <= b; ++i) {
    SampleInfo s = src.sampleInfo((uint32_t)i);
    if (s.descIndex < 1 || s.descIndex > src.descriptions.size()) return invalidSampleDescIndex;
    const SampleDesc& sd = src.descriptions[s.descIndex - 1];
    uint16_t r = sd.dataRefIndex();
    if (r < 1 || r > src.dataRefs.size()) return badDataRefIndex;
    const DataRef& sref = src.dataRefs[r - 1];
    if (!sref.source) return couldNotResolveDataRef;
    std::string srcFile = sref.source->filePath();
    int refIndex;
    uint64_t offset;
    if (copy || srcFile.empty()) {
      OSErr err = src.loadSample((uint32_t)i, bytes);
      if (err) return err;
      err = appendMediaData(dst, bytes.data(), bytes.size(), refIndex, offset);
      if (err) return err;
    } else {
      refIndex = refToFile(dst, srcFile, sref.source);
      offset = s.offset;
    }
    uint32_t key = (s.descIndex << 8) ^ (uint32_t)refIndex;
    auto it = descMap.find(key);
    uint32_t di;
    if (it == descMap.end()) {
      di = findOrAddDescription(dst, sd.bytes, (uint16_t)refIndex);
      descMap[key] = di;
    } else {
      di = it->second;
    }
    // Times rescale from the run's start so rounding never accumulates.
    int64_t t0 = rescaleRound(s.decodeTime - srcBase, ds, ss);
    int64_t t1 = rescaleRound(s.decodeTime + s.duration - srcBase, ds, ss);
    int64_t cto = rescaleRound(s.compositionOffset, ds, ss);
    int64_t expected = base + t0;
    if (dst.duration() != expected) {
      // Keep the destination's timeline continuous.
      t1 += dst.duration() - expected;
    }
    dst.appendSample(offset, s.size, (uint32_t)std::max<int64_t>(0, base + t1 - dst.duration()),
                     di, s.sync, (int32_t)cto);
  }
  dstMediaStart = base + rescaleRound(mStart - srcBase, ds, ss);
  return noErr;
}

}  // namespace

OSErr InsertTrackSegment(Track srcTrack, Track dstTrack, TimeValue srcIn, TimeValue srcDuration,
                         TimeValue dstIn) try {
  if (!isLiveTrack(srcTrack) || !isLiveTrack(dstTrack)) {
    setError(invalidTrack);
    return invalidTrack;
  }
  VTTrack& s = *srcTrack;
  VTTrack& d = *dstTrack;
  auto fail = [](OSErr e) {
    setError(e);
    return e;
  };
  if (!s.media || !d.media) return fail(invalidMedia);
  if (srcIn < 0 || srcDuration < 0 || dstIn < 0) return fail(paramErr);
  if (s.media->mediaType != d.media->mediaType) return fail(mediaTypesDontMatch);
  if (&s == &d) return fail(paramErr);
  TimeScale sms = s.movie->timeScale, dms = d.movie->timeScale, sds = s.media->timeScale;

  // The source's edits over [srcIn, srcIn + srcDuration), in pieces.
  std::vector<Piece> pieces;
  int64_t a = srcIn, b = (int64_t)srcIn + srcDuration;
  int64_t start = 0, dstDone = 0;
  for (const Edit& e : s.edits) {
    int64_t end = start + e.duration;
    int64_t lo = std::max(a, start), hi = std::min(b, end);
    if (lo < hi) {
      Piece p;
      // Destination durations rescale from the segment's start, so they add up exactly.
      int64_t dEnd = rescaleRound(hi - a, dms, sms);
      p.duration = dEnd - dstDone;
      dstDone = dEnd;
      p.rate = e.rate;
      if (e.mediaTime < 0) {
        p.mediaStart = p.mediaEnd = -1;
      } else {
        p.mediaStart = e.mediaTime + rescaleRound((lo - start) * (int64_t)e.rate / 65536, sds, sms);
        p.mediaEnd = e.mediaTime + rescaleRound((hi - start) * (int64_t)e.rate / 65536, sds, sms);
        p.mediaEnd = std::min(p.mediaEnd, s.media->duration());
        if (p.mediaEnd <= p.mediaStart) p.mediaStart = p.mediaEnd = -1;
      }
      if (p.duration > 0) pieces.push_back(p);
    }
    start = end;
  }
  if (b > s.duration()) return fail(invalidDuration);

  bool copy = d.media->editing;
  std::vector<Edit> add;
  for (const Piece& p : pieces) {
    Edit e;
    e.duration = p.duration;
    e.rate = p.rate;
    if (p.mediaStart < 0) {
      e.mediaTime = -1;
    } else {
      int64_t dstMediaStart = 0;
      OSErr err = importSamples(*s.media, *d.media, p.mediaStart, p.mediaEnd, copy, dstMediaStart);
      if (err) return fail(err);
      e.mediaTime = dstMediaStart;
    }
    add.push_back(e);
  }
  // Insert the new edits at dstIn.
  std::vector<Edit> out;
  int64_t dur = d.duration();
  if (dstIn >= dur) {
    out = d.edits;
    if (dstIn > dur) out.push_back(Edit{dstIn - dur, -1, fixed1});
    out.insert(out.end(), add.begin(), add.end());
  } else {
    int64_t st = 0;
    bool done = false;
    for (const Edit& e : d.edits) {
      int64_t en = st + e.duration;
      if (!done && dstIn >= st && dstIn < en) {
        if (dstIn > st) {
          Edit h = e;
          h.duration = dstIn - st;
          out.push_back(h);
        }
        out.insert(out.end(), add.begin(), add.end());
        Edit t = e;
        t.duration = en - dstIn;
        if (e.mediaTime >= 0)
          t.mediaTime = e.mediaTime + rescaleRound((dstIn - st) * (int64_t)e.rate / 65536,
                                                   d.media->timeScale, dms);
        out.push_back(t);
        done = true;
      } else {
        out.push_back(e);
      }
      st = en;
    }
  }
  while (!out.empty() && out.back().mediaTime < 0) out.pop_back();
  d.edits = std::move(out);
  setError(noErr);
  return noErr;
} catch (...) { return vtErrorFromException(); }

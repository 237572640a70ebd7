// Copying a stretch of one track into another.
#include <Movies.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "movie/calls.h"
#include "movie/storage.h"

using namespace vt::movie;

namespace {

struct Piece {
  int64_t duration;    // destination movie time
  int64_t mediaStart;  // source media time, -1 = empty
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

// Where an insertion put the source bytes it copied (by source data reference, offset and
// size), so that a picture two source edits share is copied once and stays one picture.
struct CopiedSample {
  int refIndex;
  uint64_t offset;
};
using CopiedSamples = std::map<std::tuple<uint16_t, uint64_t, uint32_t>, CopiedSample>;

// Copies (or refers to) the source samples that cover [mStart, mEnd) and answers the
// destination media time that corresponds to mStart.
OSErr importSamples(const VTMedia& src, VTMedia& dst, int64_t mStart, int64_t mEnd, bool copy,
                    CopiedSamples& copied, int64_t& dstMediaStart) {
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
    auto again = copied.find({r, s.offset, s.size});
    if (again != copied.end()) {
      refIndex = again->second.refIndex;
      offset = again->second.offset;
    } else if (copy || srcFile.empty()) {
      OSErr err = src.loadSample((uint32_t)i, bytes);
      if (err) return err;
      err = appendMediaData(dst, bytes.data(), bytes.size(), refIndex, offset);
      if (err) return err;
      copied[{r, s.offset, s.size}] = CopiedSample{refIndex, offset};
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
    // Sample boundaries convert from the run's start, so nothing accumulates.
    int64_t t0 = scaleUp(s.decodeTime - srcBase, ds, ss);
    int64_t t1 = scaleUp(s.decodeTime + s.duration - srcBase, ds, ss);
    int64_t cto = scaleUp(s.decodeTime + s.compositionOffset - srcBase, ds, ss) - t0;
    int64_t expected = base + t0;
    if (dst.duration() != expected) {
      // Keep the destination's timeline continuous.
      t1 += dst.duration() - expected;
    }
    dst.appendSample(offset, s.size, (uint32_t)std::max<int64_t>(0, base + t1 - dst.duration()), di,
                     s.sync, (int32_t)cto);
  }
  // The copy starts on the frame the source shows at mStart: where that frame's converted
  // start lies, unless mStart is further into it.
  dstMediaStart = base + scaleDown(mStart - srcBase, ds, ss);
  if (shown >= 0) {
    SampleInfo f = src.sampleInfo((uint32_t)shown);
    dstMediaStart = std::max(dstMediaStart,
                             base + scaleUp(f.decodeTime + f.compositionOffset - srcBase, ds, ss));
  }
  return noErr;
}

// A segment that ends where a frame starts ends, in the destination's time scale, where that
// frame starts in the media, not where the source's time scale rounded it to: twenty frames
// pasted last twenty frames, not a unit more. INT64_MAX when `b` is not a frame's start.
int64_t exactEnd(const VTTrack& s, const Edit& e, int64_t start, int64_t a, int64_t b,
                 TimeScale dms) {
  const TimeScale sms = s.movie->timeScale, sds = s.media->timeScale;
  if (e.mediaTime < 0 || e.rate <= 0 || sms <= 0 || sds <= 0 || dms <= 0) return INT64_MAX;
  long shown = s.media->sampleShownAt(editMediaTime(e, b - start, sms, sds));
  if (shown < 0) return INT64_MAX;
  SampleInfo f = s.media->sampleInfo((uint32_t)shown);
  const int64_t mb = f.decodeTime + f.compositionOffset;
  if (mb <= e.mediaTime || editOffsetOf(e, mb, sms, sds) != b - start) return INT64_MAX;
  using Wide = __int128;
  Wide num = ((Wide)(start - a) * sds * e.rate + (Wide)(mb - e.mediaTime) * 65536 * sms) * dms;
  Wide den = (Wide)sms * sds * e.rate;
  Wide q = num / den + (num % den > 0 ? 1 : 0);
  return q > 0 && q < INT64_MAX ? (int64_t)q : INT64_MAX;
}

// The source's edits over [a, b), in pieces, timed in the destination movie's scale `dms`.
std::vector<Piece> piecesOf(const VTTrack& s, int64_t a, int64_t b, TimeScale dms) {
  TimeScale sms = s.movie->timeScale, sds = s.media->timeScale;
  std::vector<Piece> pieces;
  int64_t start = 0, dstDone = 0;
  for (const Edit& e : s.edits) {
    int64_t end = start + e.duration;
    int64_t lo = std::max(a, start), hi = std::min(b, end);
    if (lo < hi) {
      Piece p;
      // Destination boundaries convert from the segment's start, so durations add up exactly.
      int64_t dEnd = scaleUp(hi - a, dms, sms);
      if (hi == b) dEnd = std::min(dEnd, exactEnd(s, e, start, a, b, dms));
      p.duration = dEnd - dstDone;
      dstDone = dEnd;
      p.rate = e.rate;
      if (e.mediaTime < 0 || p.duration <= 0) {
        p.mediaStart = p.mediaEnd = -1;
      } else {
        // The media shown from lo on, up to what the source shows last and what the copy (in
        // its own time scale) will show last.
        p.mediaStart = editMediaTime(e, lo - start, sms, sds);
        Edit copy{p.duration, p.mediaStart, e.rate};
        int64_t last = std::max(editMediaTime(e, hi - 1 - start, sms, sds),
                                editMediaTime(copy, p.duration - 1, dms, sds));
        p.mediaEnd = std::min(last + 1, s.media->duration());
        if (p.mediaEnd <= p.mediaStart) p.mediaStart = p.mediaEnd = -1;
      }
      if (p.duration > 0) pieces.push_back(p);
    }
    start = end;
  }
  return pieces;
}

}  // namespace

OSErr InsertTrackSegment(Track srcTrack, Track dstTrack, TimeValue srcIn, TimeValue srcDuration,
                         TimeValue dstIn) {
  return statusCall([&]() -> OSErr {
    if (!liveTrack(srcTrack) || !liveTrack(dstTrack)) return invalidTrack;
    VTTrack& s = *srcTrack;
    VTTrack& d = *dstTrack;
    if (!s.media || !d.media) return invalidMedia;
    if (srcIn < 0 || srcDuration < 0 || dstIn < 0) return paramErr;
    if (s.media->mediaType != d.media->mediaType) return mediaTypesDontMatch;
    if (&s == &d) return paramErr;
    int64_t a = srcIn, b = (int64_t)srcIn + srcDuration;
    std::vector<Piece> pieces = piecesOf(s, a, b, d.movie->timeScale);
    if (b > s.duration()) return invalidDuration;

    bool copy = d.media->editing;
    CopiedSamples copied;
    std::vector<Edit> add;
    for (const Piece& p : pieces) {
      Edit e;
      e.duration = p.duration;
      e.rate = p.rate;
      if (p.mediaStart < 0) {
        e.mediaTime = -1;
      } else {
        int64_t dstMediaStart = 0;
        OSErr err = importSamples(*s.media, *d.media, p.mediaStart, p.mediaEnd, copy, copied,
                                  dstMediaStart);
        if (err) return err;
        e.mediaTime = dstMediaStart;
      }
      add.push_back(e);
    }
    insertEdits(d, dstIn, add);
    return noErr;
  });
}

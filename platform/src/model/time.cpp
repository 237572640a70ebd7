// The one rule that converts times between time scales, between a movie and its tracks' media,
// and that finds where a track's picture changes. Showing, stepping, selecting and editing all
// go through it, so a frame that stepping lands on is the frame that is shown there.
#include <algorithm>
#include <climits>
#include <vector>

#include "model/model.h"
#include "model/wide.h"

namespace vt::movie {

namespace {

// Media units per movie unit of an edit, as a fraction num/den (both positive for a playing
// edit): media = mediaTime + offset * num / den.
struct EditRatio {
  Wide num, den;
};
EditRatio ratio(const Edit& e, TimeScale movieScale, TimeScale mediaScale) {
  return EditRatio{(Wide)mediaScale * e.rate, (Wide)movieScale * 65536};
}

bool plays(const Edit& e, TimeScale movieScale, TimeScale mediaScale) {
  return e.mediaTime >= 0 && e.rate > 0 && movieScale > 0 && mediaScale > 0;
}

// Whether the picture shown changes from sample `before` to sample `now` (-1: none).
bool newPicture(const VTMedia& m, long now, long before) {
  return now >= 0 && (before < 0 || !m.samePicture(now, before));
}

}  // namespace

int64_t scaleDown(int64_t value, int64_t toScale, int64_t fromScale) {
  if (fromScale <= 0 || toScale <= 0) return value;
  return clamp64(floorDiv((Wide)value * toScale, fromScale));
}

int64_t scaleUp(int64_t value, int64_t toScale, int64_t fromScale) {
  if (fromScale <= 0 || toScale <= 0) return value;
  return clamp64(ceilDiv((Wide)value * toScale, fromScale));
}

int64_t scaleNearest(int64_t value, int64_t toScale, int64_t fromScale) {
  if (fromScale <= 0 || toScale <= 0) return value;
  Wide x = (Wide)value * toScale, half = fromScale / 2;
  return clamp64((x >= 0 ? x + half : x - half) / fromScale);
}

int64_t editMediaTime(const Edit& e, int64_t offset, TimeScale movieScale, TimeScale mediaScale) {
  if (e.mediaTime < 0) return -1;
  // A dwell edit (rate 0) and an edit of unusable scales show their first media time throughout.
  if (!plays(e, movieScale, mediaScale)) return e.mediaTime;
  EditRatio r = ratio(e, movieScale, mediaScale);
  return clamp64((Wide)e.mediaTime + floorDiv((Wide)offset * r.num, r.den));
}

int64_t editOffsetOf(const Edit& e, int64_t mediaTime, TimeScale movieScale, TimeScale mediaScale) {
  if (e.mediaTime < 0) return INT64_MAX;
  if (!plays(e, movieScale, mediaScale)) return mediaTime <= e.mediaTime ? 0 : INT64_MAX;
  EditRatio r = ratio(e, movieScale, mediaScale);
  return clamp64(ceilDiv(((Wide)mediaTime - e.mediaTime) * r.den, r.num));
}

bool trackTimeToMediaTime(const VTTrack& track, int64_t movieTime, int64_t& mediaTime, Fixed& rate,
                          int64_t* editStart, int64_t* editEnd) {
  if (movieTime < 0 || !track.media) return false;
  TimeScale ms = track.movie ? track.movie->timeScale : 600;
  int64_t start = 0;
  for (const Edit& e : track.edits) {
    int64_t end = start + e.duration;
    if (movieTime < end) {
      if (editStart) *editStart = start;
      if (editEnd) *editEnd = end;
      if (e.mediaTime < 0) return false;
      rate = e.rate;
      mediaTime = editMediaTime(e, movieTime - start, ms, track.media->timeScale);
      return true;
    }
    start = end;
  }
  return false;
}

long trackSampleAt(const VTTrack& track, int64_t movieTime) {
  int64_t mediaTime = 0;
  Fixed rate = 0;
  if (!trackTimeToMediaTime(track, movieTime, mediaTime, rate)) return -1;
  return track.media->sampleShownAt(mediaTime);
}

}  // namespace vt::movie

using namespace vt::movie;

bool VTMedia::samePicture(long a, long b) const {
  if (a == b) return true;
  if (a < 0 || b < 0 || (size_t)a >= sampleCount() || (size_t)b >= sampleCount()) return false;
  uint32_t i = (uint32_t)a, j = (uint32_t)b;
  if (samples.offset(i) != samples.offset(j) || samples.size(i) != samples.size(j) ||
      samples.descIndex(i) != samples.descIndex(j))
    return false;
  // Equal description indexes share the data reference too.
  return true;
}

long VTMedia::sampleShownAt(int64_t t) const {
  long s = sampleAtTime(t);
  return s >= 0 ? s : sampleAtDecodeTime(t);
}

// The shown sample changes only where a sample starts to be decoded or displayed; the
// candidates are taken from a window of samples around t (composition offsets reorder samples
// only locally), the window moving on until a change is found.
int64_t VTMedia::shownChange(int64_t t, bool forward) const {
  const long n = (long)sampleCount();
  if (n == 0) return forward ? INT64_MAX : INT64_MIN;
  const int64_t end = duration();
  constexpr long kReach = 160;
  auto isChange = [&](int64_t b) {
    return newPicture(*this, sampleShownAt(b), sampleShownAt(b - 1));
  };
  long centre = sampleAtDecodeTime(std::clamp<int64_t>(t, 0, end - 1));
  if (centre < 0) centre = t < 0 ? 0 : n - 1;
  std::vector<int64_t> candidates;
  for (long from = centre;; from += forward ? kReach : -kReach) {
    long lo = std::max(0L, from - kReach), hi = std::min(n - 1, from + kReach);
    candidates.clear();
    for (long i = lo; i <= hi; ++i) {
      int64_t decode = samples.decodeTime((uint32_t)i);
      candidates.push_back(decode);
      if (samples.hasCompositionOffsets())
        candidates.push_back(decode + samples.compositionOffset((uint32_t)i));
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    if (forward) {
      for (int64_t b : candidates)
        if (b > t && isChange(b)) return b;
      if (hi == n - 1) return INT64_MAX;
    } else {
      for (auto it = candidates.rbegin(); it != candidates.rend(); ++it)
        if (*it <= t && isChange(*it)) return *it;
      if (lo == 0) return INT64_MIN;
    }
  }
}

namespace vt::movie {

int64_t trackShownChange(const VTTrack& track, int64_t from, bool forward, bool inclusive) {
  if (!track.media || !track.movie) return -1;
  const VTMedia& md = *track.media;
  const TimeScale ms = track.movie->timeScale, ds = md.timeScale;
  auto changesAt = [&](int64_t t) {
    return newPicture(md, trackSampleAt(track, t), trackSampleAt(track, t - 1));
  };
  const size_t count = track.edits.size();
  std::vector<int64_t> starts(count + 1, 0);
  for (size_t i = 0; i < count; ++i) starts[i + 1] = starts[i] + track.edits[i].duration;

  if (forward) {
    int64_t lo = inclusive ? from : from + 1;  // the answer is >= lo
    for (size_t i = 0; i < count; ++i) {
      const Edit& e = track.edits[i];
      int64_t s = starts[i], end = starts[i + 1];
      if (end <= lo) continue;
      if (s >= lo && changesAt(s)) return s;
      if (!plays(e, ms, ds)) continue;
      // Inside the edit: the first media change after what is shown just before lo.
      int64_t before = std::max(s, lo - 1);
      int64_t b = md.shownChange(editMediaTime(e, before - s, ms, ds), true);
      if (b == INT64_MAX) continue;
      int64_t at = s + editOffsetOf(e, b, ms, ds);
      if (at < end) return at;
    }
    return -1;
  }
  int64_t hi = inclusive ? from : from - 1;  // the answer is <= hi
  for (size_t k = count; k-- > 0;) {
    const Edit& e = track.edits[k];
    int64_t s = starts[k], end = starts[k + 1];
    if (s > hi) continue;
    int64_t last = std::min(end - 1, hi);
    if (plays(e, ms, ds) && last > s) {
      // Inside the edit: where the run shown at `last` began, if after the edit's start.
      int64_t b = md.shownChange(editMediaTime(e, last - s, ms, ds), false);
      if (b != INT64_MIN && b > editMediaTime(e, 0, ms, ds)) return s + editOffsetOf(e, b, ms, ds);
    }
    if (changesAt(s)) return s;
  }
  return -1;
}

}  // namespace vt::movie

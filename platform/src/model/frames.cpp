#include "model/frames.h"

#include <algorithm>
#include <climits>
#include <numeric>

#include "model/model.h"
#include "model/wide.h"

namespace vt::movie {

namespace {

Wide absWide(Wide v) { return v < 0 ? -v : v; }

// Rates files are made at, whole ones first: a short run of equal durations fits 30/1 and
// (rounded down) 30000/1001 alike, and is 30. The media's average rate is tried last.
constexpr int64_t kCommonRates[][2] = {
    {24, 1},  {25, 1},       {30, 1},       {48, 1},       {50, 1},       {60, 1},
    {120, 1}, {15, 1},       {12, 1},       {10, 1},       {8, 1},        {5, 1},
    {1, 1},   {24000, 1001}, {30000, 1001}, {60000, 1001}, {120000, 1001}};

// How a file's writer rounded the rate's instants to its time scale. `twice`: decode times and
// composition offsets each rounded (a file re-timed to a coarser scale), so a display time may
// lie a unit either side of the instant.
enum Rounding { nearest, down, up, twice };

using MediaRun = MediaFrames::Run;

// Whether every frame k of `runs` starts at first + rounding(k * scale * rd / rn). Runs step
// linearly, so their ends are enough: the distance from the ideal line is linear in between.
bool keepsRate(const std::vector<MediaRun>& runs, int64_t scale, int64_t rn, int64_t rd,
               Rounding mode) {
  const Wide u = (Wide)scale * rd, v = rn;
  const int64_t first = runs.front().at(0);
  int64_t k = 0;
  Wide lo = 0, hi = 0;  // twice: the first time is off its instant too, so only the spread counts
  for (const MediaRun& r : runs) {
    for (int64_t j : {int64_t(0), r.count - 1}) {
      Wide diff = ((Wide)r.at(j) - first) * v - (Wide)(k + j) * u;
      lo = std::min(lo, diff);
      hi = std::max(hi, diff);
      bool ok = mode == nearest ? (-v < 2 * diff && 2 * diff <= v)
                : mode == down  ? (-v < diff && diff <= 0)
                : mode == up    ? (0 <= diff && diff < v)
                                : hi - lo <= 2 * v;
      if (!ok) return false;
    }
    k += r.count;
  }
  return true;
}

// The rate the runs keep, as the single run of its instants; false when there is none. With
// `reordered` (display times of decode times plus offsets), times rounded twice keep a rate
// too, and the frames keep their own times.
bool findRate(const std::vector<MediaRun>& runs, int64_t scale, int64_t frames, int64_t span,
              MediaFrames& out, bool reordered = false) {
  if (runs.empty() || scale <= 0 || frames < 2) return false;
  std::vector<std::pair<int64_t, int64_t>> candidates;
  for (const auto& r : kCommonRates) candidates.push_back({r[0], r[1]});
  if (span > 0) {
    int64_t g = std::gcd((int64_t)frames * scale, span);
    Wide n = (Wide)frames * scale / g, d = span / g;
    if (n <= INT32_MAX && d <= INT32_MAX) candidates.push_back({(int64_t)n, (int64_t)d});
  }
  for (auto [rn, rd] : candidates)
    for (Rounding mode : {nearest, down, up}) {
      if (!keepsRate(runs, scale, rn, rd, mode)) continue;
      const int64_t u = scale * rd;
      MediaRun all;
      all.start = runs.front().at(0);
      all.count = frames;
      if (mode == nearest) {
        all.step = 2 * u;
        all.phase = 1 - rn;
        all.div = 2 * rn;
      } else {
        all.step = u;
        all.phase = mode == down ? 1 - rn : 0;
        all.div = rn;
      }
      out.runs = {all};
      int64_t g = std::gcd(rn, rd);
      out.rateNum = rn / g;
      out.rateDen = rd / g;
      return true;
    }
  if (reordered)
    for (auto [rn, rd] : candidates)
      if (keepsRate(runs, scale, rn, rd, twice)) {
        out.runs = runs;
        int64_t g = std::gcd(rn, rd);
        out.rateNum = rn / g;
        out.rateDen = rd / g;
        return true;
      }
  return false;
}

// A contribution to the movie's picture: frames as runs in movie time, where it draws.
struct Part {
  std::vector<FrameRun> runs;
  std::vector<std::pair<int64_t, int64_t>> covered;
  int64_t frames = 0;
  int64_t rateNum = 0, rateDen = 1;
  int64_t finestScale = 0;  // the finest time scale its instants were rounded to
};

FrameRun point(int64_t at) {
  FrameRun r;
  r.count = 1;
  r.origin = at;
  r.mediaOrigin = r.mediaStart = 0;
  r.step = 0;
  return r;
}

void addRun(Part& p, const FrameRun& r) {
  if (r.count <= 0) return;
  p.runs.push_back(r);
  p.frames += r.count;
}

using Intervals = std::vector<std::pair<int64_t, int64_t>>;

// Where the track's edits show media within `within` (movie time).
Intervals playing(const VTTrack& t, const Intervals& within) {
  Intervals out;
  int64_t s = 0;
  for (const Edit& e : t.edits) {
    int64_t end = s + e.duration;
    if (e.mediaTime >= 0 && e.duration > 0)
      for (auto [lo, hi] : within) {
        int64_t a = std::max(s, lo), b = std::min(end, hi);
        if (a < b) out.push_back({a, b});
      }
    s = end;
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A decoded track's frames within `within`, through its edit list.
void decodedPart(const VTTrack& t, const Intervals& within, Part& p) {
  if (!t.media || !t.movie) return;
  const MediaFrames mf = mediaFrames(t);
  if (mf.runs.empty()) return;
  const TimeScale ms = t.movie->timeScale, ds = t.media->timeScale;
  int64_t s = 0;
  for (const Edit& e : t.edits) {
    const int64_t editEnd = s + e.duration;
    for (auto [lo, hi] : within) {
      int64_t a = std::max(s, lo), b = std::min(editEnd, hi);
      if (a >= b || e.mediaTime < 0) continue;
      const int64_t ma = editMediaTime(e, a - s, ms, ds);
      if (ma >= mf.end || ma < 0) continue;  // the media has nothing to show here
      const bool moves = e.rate > 0 && ms > 0 && ds > 0;
      if (moves) b = std::min(b, clamp64((Wide)s + editOffsetOf(e, mf.end, ms, ds)));
      p.covered.push_back({a, b});
      // The picture shown before may go on into this edit (a paste next to its own frames).
      if (a == 0 || !t.media->samePicture(trackSampleAt(t, a), trackSampleAt(t, a - 1)))
        addRun(p, point(a));
      if (!moves) continue;  // a dwell shows one picture
      const Wide num = (Wide)ms * 65536, den = (Wide)ds * e.rate;
      // Runs lie in media order: start at the first one that reaches past ma, stop at the first
      // that begins where the edit no longer shows it (many edits over many runs stay cheap).
      auto run = std::partition_point(mf.runs.begin(), mf.runs.end(),
                                      [&](const MediaRun& r) { return r.at(r.count - 1) <= ma; });
      for (; run != mf.runs.end(); ++run) {
        const MediaRun& r = *run;
        if ((Wide)s + ceilDiv(((Wide)r.at(0) - e.mediaTime) * num, den) >= b) break;
        // The run's frames that start after ma and, seen through the edit, before b.
        auto firstWhere = [&](int64_t from, auto pred) {
          int64_t lo2 = from, hi2 = r.count;
          while (lo2 < hi2) {
            int64_t mid = lo2 + (hi2 - lo2) / 2;
            if (pred(r.at(mid)))
              hi2 = mid;
            else
              lo2 = mid + 1;
          }
          return lo2;
        };
        int64_t jLo = firstWhere(0, [&](int64_t m) { return m > ma; });
        int64_t jHi = firstWhere(jLo, [&](int64_t m) {
          return (Wide)s + ceilDiv(((Wide)m - e.mediaTime) * num, den) >= b;
        });
        if (jHi <= jLo) continue;
        FrameRun f;
        f.count = jHi - jLo;
        f.origin = s;
        f.mediaOrigin = e.mediaTime;
        f.mediaStart = r.start;
        f.skip = jLo;
        f.step = r.step;
        f.phase = r.phase;
        f.div = r.div;
        f.num = clamp64(num);
        f.den = clamp64(den);
        // Frames shorter than a movie unit (a fast edit) are not all shown: list the ones that
        // start a unit of their own.
        if ((Wide)f.step * f.num < (Wide)f.div * f.den && f.count <= kMaxListedFrames) {
          int64_t last = INT64_MIN;
          for (int64_t j = 0; j < f.count; j++) {
            int64_t at = f.at(j);
            if (at != last) addRun(p, point(at));
            last = at;
          }
          continue;
        }
        addRun(p, f);
      }
    }
    s = editEnd;
  }
  p.rateNum = mf.rateNum;
  p.rateDen = mf.rateDen;
  p.finestScale = ds;
}

// An effect without sources animates at the generator rate over where it plays.
void generatorPart(const Intervals& where, TimeScale ms, Part& p) {
  for (auto [a, b] : where) {
    p.covered.push_back({a, b});
    FrameRun f;
    f.count = clamp64(ceilDiv((Wide)(b - a) * kGeneratorRate, ms));
    f.origin = a;
    f.step = ms;
    f.div = kGeneratorRate;
    addRun(p, f);
  }
  p.rateNum = kGeneratorRate;
  p.rateDen = 1;
  p.finestScale = ms;
}

constexpr int kMaxDepth = 8;

void collect(const VTTrack& t, const Intervals& within, const TrackClassifier& classify, int depth,
             std::vector<Part>& parts) {
  if (within.empty() || depth > kMaxDepth) return;
  TrackKind kind = classify(t);
  if (kind.role == TrackKind::decoded) {
    Part p;
    decodedPart(t, within, p);
    if (p.frames > 0) parts.push_back(std::move(p));
  } else if (kind.role == TrackKind::effect) {
    Intervals where = playing(t, within);
    if (where.empty()) return;
    // The effect draws over all of where it plays: a frame starts where it begins.
    Part own;
    for (auto ab : where) {
      own.covered.push_back(ab);
      addRun(own, point(ab.first));
    }
    bool any = false;
    for (VTTrack* src : kind.sources)
      if (src && src != &t) {
        collect(*src, where, classify, depth + 1, parts);
        any = true;
      }
    if (!any) {
      generatorPart(where, t.movie ? t.movie->timeScale : 600, own);
    } else {
      own.rateNum = -1;  // a start of its own does not change the sources' rate
    }
    parts.push_back(std::move(own));
  }
}

// Sorts runs by their first frame and drops a frame that starts where the one before does.
std::vector<FrameRun> ordered(std::vector<FrameRun> runs) {
  std::stable_sort(runs.begin(), runs.end(),
                   [](const FrameRun& a, const FrameRun& b) { return a.at(0) < b.at(0); });
  std::vector<FrameRun> out;
  for (FrameRun r : runs) {
    while (!out.empty() && r.count > 0 && r.at(0) <= out.back().at(out.back().count - 1)) {
      if (out.back().count == 1 && r.count > 1 && out.back().at(0) == r.at(0)) {
        out.pop_back();
        break;
      }
      r.skip++;
      r.count--;
    }
    if (r.count > 0) out.push_back(r);
  }
  return out;
}

}  // namespace

int64_t MediaFrames::Run::at(int64_t j) const {
  return clamp64((Wide)start + ceilDiv((Wide)j * step + phase, div));
}

int64_t FrameRun::media(int64_t j) const {
  return clamp64((Wide)mediaStart + ceilDiv((Wide)(j + skip) * step + phase, div));
}

int64_t FrameRun::at(int64_t j) const {
  return clamp64((Wide)origin + ceilDiv(((Wide)media(j) - mediaOrigin) * num, den));
}

MediaFrames mediaFrames(const VTTrack& track) {
  MediaFrames out;
  if (!track.media) return out;
  const VTMedia& m = *track.media;
  const SampleTable& st = m.samples;
  const int64_t scale = m.timeScale;
  if (st.empty() || scale <= 0) return out;

  // Decode order, runs of equal durations; samples of no duration show nothing.
  std::vector<MediaRun> runs;
  int64_t time = 0, frames = 0, firstStart = -1;
  bool zero = false;
  st.forEachDurationRun([&](uint32_t count, uint32_t d) {
    if (d == 0) {
      zero = true;
    } else {
      runs.push_back(MediaRun{time, count, d, 0, 1});
      frames += count;
      if (firstStart < 0) firstStart = time;
    }
    time += (int64_t)count * d;
  });
  if (runs.empty()) return out;
  out.end = time;

  if (st.hasCompositionOffsets()) {
    size_t offsetRuns = 0;
    int32_t least = INT32_MAX, most = INT32_MIN;
    st.forEachCompositionOffsetRun([&](uint32_t, int32_t v) {
      offsetRuns++;
      least = std::min(least, v);
      most = std::max(most, v);
    });
    // Reordered frames are listed one by one when the table has about as many entries as
    // samples (as streams with B-frames do); otherwise the display order is the decode order
    // shifted by the least offset.
    if (least != most && st.count() <= 4 * offsetRuns + 4096) {
      std::vector<int64_t> shown;
      for (uint32_t i = 0; i < st.count(); i++)
        if (st.duration(i) > 0) shown.push_back(st.decodeTime(i) + st.compositionOffset(i));
      std::sort(shown.begin(), shown.end());
      shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
      runs.clear();
      for (int64_t t : shown) runs.push_back(MediaRun{t, 1, 0, 0, 1});
      out.end = time + most;
      frames = (int64_t)shown.size();
      if (!zero && findRate(runs, scale, frames, out.end - shown.front(), out, true)) return out;
      out.runs = std::move(runs);
      return out;
    }
    for (MediaRun& r : runs) r.start += least;
    out.end = time + least;
    firstStart += least;
  }
  if (!zero && findRate(runs, scale, frames, out.end - firstStart, out)) return out;
  out.runs = std::move(runs);
  return out;
}

int64_t FrameList::start(int64_t k) const {
  if (k < 0 || k >= count_) return end_;
  if (!times_.empty()) return times_[(size_t)k];
  size_t r = (size_t)(std::upper_bound(firsts_.begin(), firsts_.end(), k) - firsts_.begin()) - 1;
  return runs_[r].at(k - firsts_[r]);
}

int64_t FrameList::frameAt(int64_t t) const {
  if (t < 0 || t >= end_ || count_ == 0) return -1;
  if (!times_.empty())
    return (int64_t)(std::upper_bound(times_.begin(), times_.end(), t) - times_.begin()) - 1;
  // The last run starting at or before t, then the last of its frames at or before t.
  size_t lo = 0, hi = runs_.size();
  while (hi - lo > 1) {
    size_t mid = lo + (hi - lo) / 2;
    if (runs_[mid].at(0) <= t)
      lo = mid;
    else
      hi = mid;
  }
  const FrameRun& r = runs_[lo];
  int64_t a = 0, b = r.count - 1;
  while (a < b) {
    int64_t mid = a + (b - a + 1) / 2;
    if (r.at(mid) <= t)
      a = mid;
    else
      b = mid - 1;
  }
  return firsts_[lo] + a;
}

void FrameList::range(int64_t from, int64_t to, int64_t& first, int64_t& count) const {
  first = frameAt(std::max<int64_t>(from, 0));
  count = 0;
  if (first < 0 || to <= from) return;
  int64_t last = frameAt(std::min(to, end_) - 1);
  auto middle2 = [&](int64_t k) { return (Wide)start(k) + finish(k); };  // twice the middle
  if (middle2(first) < 2 * (Wide)from && first < last) first++;
  if (middle2(last) >= 2 * (Wide)to && last > first) last--;
  count = last - first + 1;
}

bool FrameList::rate(int64_t& num, int64_t& den) const {
  if (rateNum_ <= 0) return false;
  num = rateNum_;
  den = rateDen_;
  return true;
}

size_t FrameList::memoryBytes() const {
  return runs_.capacity() * sizeof(FrameRun) + firsts_.capacity() * sizeof(int64_t) +
         times_.capacity() * sizeof(int64_t);
}

FrameList movieFrames(const VTMovie& movie, const TrackClassifier& classify) {
  FrameList list;
  list.scale_ = movie.timeScale;
  const int64_t duration = movie.duration();
  if (duration <= 0 || movie.timeScale <= 0) return list;
  list.end_ = duration;

  std::vector<Part> parts;
  for (const auto& t : movie.tracks)
    if (classify(*t).drawn) collect(*t, {{0, duration}}, classify, 0, parts);

  // Stretches nothing draws show black: one frame each.
  Intervals covered;
  for (const Part& p : parts) covered.insert(covered.end(), p.covered.begin(), p.covered.end());
  std::sort(covered.begin(), covered.end());
  std::vector<int64_t> gaps;
  int64_t reached = 0;
  for (auto [a, b] : covered) {
    if (a > reached) gaps.push_back(reached);
    reached = std::max(reached, b);
  }
  if (reached < duration) gaps.push_back(reached);

  // Several parts are listed frame by frame (within bounds); one keeps its runs.
  int64_t total = 0;
  size_t largest = 0;
  for (size_t i = 0; i < parts.size(); i++) {
    total += parts[i].frames;
    if (parts[i].frames > parts[largest].frames) largest = i;
  }

  if (parts.size() > 1 && total + (int64_t)gaps.size() <= kMaxListedFrames) {
    for (const Part& p : parts)
      for (const FrameRun& r : p.runs)
        for (int64_t j = 0; j < r.count; j++) list.times_.push_back(r.at(j));
    list.times_.insert(list.times_.end(), gaps.begin(), gaps.end());
    std::sort(list.times_.begin(), list.times_.end());
    list.times_.erase(std::unique(list.times_.begin(), list.times_.end()), list.times_.end());
    list.count_ = (int64_t)list.times_.size();
  } else {
    std::vector<FrameRun> runs;
    if (!parts.empty()) runs = parts[largest].runs;
    for (int64_t g : gaps) runs.push_back(point(g));
    list.runs_ = ordered(std::move(runs));
    for (const FrameRun& r : list.runs_) {
      list.firsts_.push_back(list.count_);
      list.count_ += r.count;
    }
  }

  // An exact rate: every part keeps the same one, nothing is black, and every frame lies
  // within the rounding of the time scales from that rate's instants.
  int64_t rn = 0, rd = 1, finest = movie.timeScale;
  bool exact = gaps.empty() && !parts.empty();
  for (const Part& p : parts) {
    if (p.rateNum < 0) continue;  // an effect's own starts
    if (p.rateNum == 0 || (rn && (Wide)p.rateNum * rd != (Wide)rn * p.rateDen)) exact = false;
    rn = p.rateNum;
    rd = p.rateDen;
    finest = std::min(finest, p.finestScale > 0 ? p.finestScale : finest);
  }
  if (exact && rn > 0) {
    const Wide ms = movie.timeScale;
    const Wide tolerance = 2 * ((ms + finest - 1) / finest + 1);
    auto near = [&](int64_t k, int64_t t) {
      return absWide((Wide)t * rn - (Wide)k * ms * rd) <= tolerance * rn;
    };
    if (!list.times_.empty()) {
      for (int64_t k = 0; k < list.count_ && exact; k++) exact = near(k, list.times_[(size_t)k]);
    } else {
      for (size_t i = 0; i < list.runs_.size() && exact; i++) {
        const FrameRun& r = list.runs_[i];
        const int64_t k = list.firsts_[i];
        exact = near(k, r.at(0)) && near(k + r.count - 1, r.at(r.count - 1));
        // Long runs must advance at the rate itself, not only start and end near it.
        if (exact && r.count > 2)
          exact = (Wide)r.step * r.num * rn == (Wide)r.div * r.den * ms * rd;
      }
    }
  } else {
    exact = false;
  }
  if (exact) {
    list.rateNum_ = rn;
    list.rateDen_ = rd;
  }
  return list;
}

}  // namespace vt::movie

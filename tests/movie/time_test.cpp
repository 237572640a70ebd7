// The time rule as a property over random movies (time scales 1 to 90000, constant and variable
// frame durations, edit lists with rates, repeats and gaps): stepping lands exactly where the
// shown frame changes, both ways; cutting and pasting at frame starts keeps every frame.
#include <numeric>
#include <random>

#include "helpers.h"
#include "model/frames.h"
#include "model/model.h"

namespace {

constexpr TimeScale kScales[] = {1, 24, 25, 30, 600, 1000, 2997, 15360, 30000, 90000};

struct RandomMovie {
  Movie movie = NewMovie(newMovieActive);
  Track track = nullptr;
  std::vector<TimeValue> starts;  // media time of each frame, then the media's end

  // One plain edit; or edits anywhere; or whole-frame edits that start and end where frames do
  // and go where edits meet, as cut and paste of whole frames make them. Frames last at least
  // minUnits movie units.
  enum Edits { kPlain, kAnywhere, kWholeFrames };
  RandomMovie(std::mt19937& rng, Edits edits, int minUnits) {
    const bool wholeFrames = edits == kWholeFrames;
    auto pick = [&](int64_t n) { return (int64_t)(rng() % (uint64_t)std::max<int64_t>(1, n)); };
    TimeScale ms = kScales[pick(10)], ds = kScales[pick(10)];
    SetMovieTimeScale(movie, ms);
    track = mt::videoTrack(movie, ds);
    Media media = GetTrackMedia(track);
    int64_t minFrame = std::max<int64_t>(1, ((int64_t)minUnits * ds + ms - 1) / ms);
    int frames = 1 + (int)pick(40);
    int64_t base = minFrame + pick((int64_t)ds * 3000 / ((int64_t)ms * frames) - minFrame);
    bool variable = pick(2) == 0;
    starts.push_back(0);
    for (int i = 0; i < frames; ++i) {  // each frame's bytes say which frame it is
      TimeValue dur = (TimeValue)(variable ? minFrame + pick(2 * base) : base);
      mt::addSamples(media, 1, 4, dur);
      starts.push_back(starts.back() + dur);
    }
    if (edits == kPlain) {
      EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, starts.back(), fixed1), noErr);
      return;
    }
    const Fixed rates[] = {fixed1, fixed1, fixed1 / 2, 2 * fixed1, 3 * fixed1 / 2};
    for (int k = 1 + (int)pick(4); k > 0; --k) {
      TimeValue dur = GetTrackDuration(track), at = -1;
      if (dur > 0 && pick(3) != 0) {
        at = (TimeValue)pick(dur);
        if (wholeFrames) {
          at = 0;
          for (size_t i = (size_t)pick((int64_t)track->edits.size()); i > 0; --i)
            at += (TimeValue)track->edits[i - 1].duration;
        }
      }
      int first = (int)pick(frames), last = first + 1 + (int)pick(frames - first);
      TimeValue from = wholeFrames ? starts[first] : (TimeValue)pick(starts.back());
      TimeValue to = wholeFrames ? starts[last] : from + 1 + (TimeValue)pick(starts.back() - from);
      EXPECT_EQ(InsertMediaIntoTrack(track, at, from, to - from, rates[pick(5)]), noErr);
      if (pick(4) == 0)
        InsertEmptyTrackSegment(track, std::max<TimeValue>(at, 0),
                                1 + (TimeValue)pick(5 * minUnits));
    }
  }
  ~RandomMovie() { DisposeMovie(movie); }
};

// Every movie time where another frame starts to be shown, found by looking at each one, and
// which frames those are (by their bytes: copies of a frame are the same frame).
std::vector<TimeValue> changesByScan(Track t, std::vector<int>* frames = nullptr) {
  std::vector<TimeValue> out;
  long before = -1;
  std::vector<uint8_t> bytes;
  for (TimeValue time = 0; time < GetTrackDuration(t); ++time) {
    long now = vt::movie::trackSampleAt(*t, time);
    if (now >= 0 && (before < 0 || !t->media->samePicture(now, before))) {
      out.push_back(time);
      const bool read = t->media->loadSample((uint32_t)now, bytes) == noErr && bytes.size() == 4;
      if (frames) frames->push_back(read ? bytes[0] : -1);
    }
    before = now;
  }
  return out;
}

// Where stepping goes: from the start forward, or from the end backward.
std::vector<TimeValue> steps(Movie m, bool forward) {
  std::vector<TimeValue> out;
  const OSType video = VideoMediaType;
  TimeValue t = forward ? 0 : GetMovieDuration(m);
  short flags = forward ? nextTimeStep | nextTimeEdgeOK : nextTimeStep;
  for (TimeValue next = 0; out.size() < 100000; t = next, flags = nextTimeStep) {
    GetMovieNextInterestingTime(m, flags, 1, &video, t, forward ? fixed1 : -fixed1, &next, nullptr);
    if (next < 0) break;
    out.push_back(next);
  }
  if (!forward) std::reverse(out.begin(), out.end());
  return out;
}

// A fresh seed each run, printed; VT_TIME_SEED repeats a run.
unsigned randomSeed() {
  const char* fixed = std::getenv("VT_TIME_SEED");
  return fixed ? (unsigned)std::strtoul(fixed, nullptr, 10) : std::random_device{}();
}

TEST(TimeRule, SteppingAndEditingOverRandomMovies) {
  const unsigned seed = randomSeed();
  std::mt19937 rng(seed);
  for (int round = 0; round < 500; ++round) {
    bool stepping = round % 2 == 0;
    auto kind = rng() % 2  ? RandomMovie::kPlain
                : stepping ? RandomMovie::kAnywhere
                           : RandomMovie::kWholeFrames;
    RandomMovie r(rng, kind, stepping ? 1 : 4);
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    std::vector<int> frames;
    std::vector<TimeValue> at = changesByScan(r.track, &frames);
    if (stepping) {
      ASSERT_EQ(steps(r.movie, true), at);
      ASSERT_EQ(steps(r.movie, false), at);
      if (kind == RandomMovie::kPlain) {  // every frame once, in order
        std::vector<int> all(r.starts.size() - 1);
        std::iota(all.begin(), all.end(), 0);
        ASSERT_EQ(frames, all);
      }
      continue;
    }
    // Cut a run of frames and paste it back: what is left shows the other frames, and after
    // the paste the same frames in the same order, for the same duration.
    if (at.size() < 2) continue;
    TimeValue duration = GetMovieDuration(r.movie);
    size_t i = rng() % (at.size() - 1), j = i + 1 + rng() % (at.size() - i - 1);
    TimeValue a = at[i], b = at[j];
    long shownBefore = vt::movie::trackSampleAt(*r.track, a - 1);
    bool joined = shownBefore >= 0 && shownBefore == vt::movie::trackSampleAt(*r.track, b);
    SetMovieSelection(r.movie, a, b - a);
    Movie cut = CutMovieSelection(r.movie);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(GetMovieDuration(cut), b - a);
    EXPECT_EQ(changesByScan(r.track).size(), at.size() - (j - i) - (joined ? 1 : 0));
    SetMovieSelection(r.movie, a, 0);
    PasteMovieSelection(r.movie, cut);
    ASSERT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(GetMovieDuration(r.movie), duration);
    std::vector<int> after;
    changesByScan(r.track, &after);
    EXPECT_EQ(after, frames);
    DisposeMovie(cut);
  }
}

// The frame model with every video track drawn as decoded pictures.
vt::movie::FrameList frames(Movie m) {
  return vt::movie::movieFrames(*m, [](const VTTrack& t) {
    vt::movie::TrackKind k;
    if (t.media && t.media->mediaType == VideoMediaType) {
      k.role = vt::movie::TrackKind::decoded;
      k.drawn = t.enabled();
    }
    return k;
  });
}

std::vector<TimeValue> starts(const vt::movie::FrameList& f) {
  std::vector<TimeValue> out;
  for (int64_t k = 0; k < f.count(); k++) out.push_back((TimeValue)f.start(k));
  return out;
}

}  // namespace

// The frame list is what showing a movie time by time sees: a frame wherever another picture
// starts, one black frame where nothing is shown, and the frame at each time is the one listed.
TEST(FrameModel, ListsTheFramesShownOverRandomMovies) {
  const unsigned seed = randomSeed();
  std::mt19937 rng(seed);
  for (int round = 0; round < 300; ++round) {
    RandomMovie r(rng, round % 2 ? RandomMovie::kPlain : RandomMovie::kAnywhere, 1);
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    std::vector<TimeValue> expected = changesByScan(r.track);
    for (TimeValue t = 0; t < GetMovieDuration(r.movie); ++t)
      if (vt::movie::trackSampleAt(*r.track, t) < 0 &&
          (t == 0 || vt::movie::trackSampleAt(*r.track, t - 1) >= 0))
        expected.push_back(t);
    std::sort(expected.begin(), expected.end());
    const vt::movie::FrameList f = frames(r.movie);
    ASSERT_EQ(starts(f), expected);
    ASSERT_EQ(f.end(), GetMovieDuration(r.movie));
    for (int64_t k = 0; k < f.count(); k++) {
      ASSERT_EQ(f.frameAt(f.start(k)), k);
      ASSERT_EQ(f.frameAt(f.finish(k) - 1), k);
    }
  }
}

// Durations that are a rate's instants rounded to the time scale keep that exact rate, whatever
// the scale and rounding; jittered durations, a gap or a cut inside a frame leave the frames
// their own times; a cut of whole frames keeps the rate.
TEST(FrameModel, ExactRatesFromRoundedDurations) {
  enum Edit { none, cutWhole, cutInside, gap, jitter };
  const struct {
    int64_t num, den;
    TimeScale media, movie;
    int rounding;  // -1 down, 0 nearest, 1 up
    Edit edit;
    bool exact;
  } cases[] = {
      {30, 1, 1000, 600, 0, none, true},         {30000, 1001, 600, 600, 1, none, true},
      {30000, 1001, 90000, 1000, 0, none, true}, {25, 1, 15360, 600, -1, none, true},
      {24000, 1001, 1000, 600, 0, none, true},   {24000, 1001, 15360, 90000, 1, none, true},
      {60, 1, 1000, 1000, -1, none, true},       {60000, 1001, 90000, 600, 0, none, true},
      {30, 1, 1000, 600, 0, cutWhole, true},     {30, 1, 1000, 600, 0, cutInside, false},
      {25, 1, 600, 600, 0, gap, false},          {30, 1, 1000, 600, 0, jitter, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.num) + "/" + std::to_string(c.den) + " in " +
                 std::to_string(c.media) + " edit " + std::to_string(c.edit));
    Movie m = NewMovie(newMovieActive);
    SetMovieTimeScale(m, c.movie);
    Track t = mt::videoTrack(m, c.media);
    Media md = GetTrackMedia(t);
    const int n = 90;
    auto instant = [&](int64_t k) {
      __int128 x = (__int128)k * c.media * c.den;
      int64_t q = (int64_t)(x / c.num), rem = (int64_t)(x % c.num);
      if (c.rounding > 0 && rem) return q + 1;
      if (c.rounding == 0 && 2 * rem >= c.num) return q + 1;
      return q;
    };
    for (int k = 0; k < n; k++) {
      int64_t d = instant(k + 1) - instant(k) + (c.edit == jitter && k == 40 ? 1 : 0);
      mt::addSamples(md, 1, 4, (TimeValue)d);
    }
    ASSERT_EQ(InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(md), fixed1), noErr);
    auto movieTime = [&](int64_t k) { return vt::movie::scaleUp(instant(k), c.movie, c.media); };
    if (c.edit == cutWhole || c.edit == cutInside) {
      TimeValue from = (TimeValue)movieTime(30), to = (TimeValue)movieTime(40);
      if (c.edit == cutInside) from += 3;
      SetMovieSelection(m, from, to - from);
      ClearMovieSelection(m);
      ASSERT_EQ(GetMoviesError(), noErr);
    }
    if (c.edit == gap) {
      ASSERT_EQ(InsertEmptyTrackSegment(t, (TimeValue)movieTime(50), c.movie / 2), noErr);
    }
    const vt::movie::FrameList f = frames(m);
    int64_t num = 0, den = 0;
    EXPECT_EQ(f.rate(num, den), c.exact);
    // Cut inside a frame, the first three units of frame 30 stay.
    const int64_t count = c.edit == cutWhole    ? n - 10
                          : c.edit == cutInside ? n - 9
                          : c.edit == gap       ? n + 1
                                                : n;
    EXPECT_EQ(f.count(), count);
    if (c.exact) {
      EXPECT_EQ(num * c.den, den * c.num);
      // Each frame starts within the two roundings (media, movie) of the rate's instant.
      for (int64_t k = 0; k < count; k++)
        EXPECT_LE(std::abs(f.start(k) - vt::movie::scaleUp(k * c.den, c.movie, c.num)),
                  c.movie / c.media + 2)
            << k;
    }
    DisposeMovie(m);
  }
}

// B-frames at 30000/1001 re-timed to a scale of 1000 (decode times and offsets each rounded):
// the rate is still exact, and each frame keeps its own display time. Durations whose sum
// strays by a unit stay inexact (above).
TEST(FrameModel, BFramesRetimedToACoarserScaleKeepTheirRate) {
  constexpr int n = 120;
  constexpr int order[] = {0, 3, 1, 2};  // display index within each group, in decode order
  auto rounded = [](int64_t units30000) { return (units30000 * 1000 + 15000) / 30000; };
  for (TimeScale movieScale : {600, 1000}) {
    Movie m = NewMovie(newMovieActive);
    SetMovieTimeScale(m, movieScale);
    Track t = mt::videoTrack(m, 1000);
    VTMedia& md = *GetTrackMedia(t);
    std::vector<int64_t> shown;
    for (int k = 0; k < n; k++) {
      const int64_t shownAt = (k / 4 * 4 + order[k % 4]) * 1001, decodedAt = k * 1001;
      const int64_t dts = rounded(decodedAt), next = rounded(decodedAt + 1001);
      const int64_t offset = rounded(shownAt - decodedAt + 2002);
      md.appendSample(0, 4, (uint32_t)(next - dts), 1, k % 4 == 0, (int32_t)offset);
      shown.push_back(dts + offset);
    }
    std::sort(shown.begin(), shown.end());
    ASSERT_EQ(InsertMediaIntoTrack(t, 0, (TimeValue)shown[0],
                                   GetMediaDuration(&md) - (TimeValue)shown[0], fixed1),
              noErr);
    const vt::movie::FrameList f = frames(m);
    int64_t num = 0, den = 0;
    ASSERT_TRUE(f.rate(num, den)) << movieScale;
    EXPECT_EQ(num * 1001, den * 30000);
    // The edit ends with the media's durations, before the last frames shown.
    const int64_t inside = std::count_if(shown.begin(), shown.end(),
                                         [&](int64_t x) { return x < GetMediaDuration(&md); });
    ASSERT_EQ(f.count(), inside);
    for (int k = 0; k < inside; k++)
      EXPECT_EQ(f.start(k), vt::movie::scaleUp(shown[(size_t)k] - shown[0], movieScale, 1000)) << k;
    DisposeMovie(m);
  }
}

// An effect shows its source's frames where it plays; one without sources animates at the
// generator rate; outside it, the movie's other frames (or black) go on.
TEST(FrameModel, EffectsTakeTheirSourcesFramesAndGeneratorsTheirOwnRate) {
  for (bool generator : {false, true}) {
    SCOPED_TRACE(generator);
    Movie m = mt::videoMovie(50, 4, 24);  // 25 frames a second for 2 s, 600 units a second
    Track source = GetMovieIndTrack(m, 1), effect = mt::videoTrack(m);
    mt::addSamples(GetTrackMedia(effect), 1, 4, 600);
    ASSERT_EQ(InsertMediaIntoTrack(effect, 300, 0, 600, fixed1), noErr);  // 0.5 s to 1.5 s
    const vt::movie::FrameList f = vt::movie::movieFrames(*m, [&](const VTTrack& t) {
      vt::movie::TrackKind k;
      k.role = &t == effect ? vt::movie::TrackKind::effect : vt::movie::TrackKind::decoded;
      k.drawn = &t == effect || generator;
      if (&t == effect && !generator) k.sources = {source};
      return k;
    });
    const std::vector<TimeValue> got = starts(f);
    // The source's frames (every 24 units) and the generator's (every 20 while it plays).
    std::vector<TimeValue> want = {300};
    for (TimeValue t = 0; t < 1200; t += 24)
      if (generator || (t > 300 && t < 900)) want.push_back(t);
    if (generator) {
      for (TimeValue t = 300; t < 900; t += 20) want.push_back(t);
    } else {
      want.insert(want.end(), {0, 900});  // black before and after the effect
    }
    std::sort(want.begin(), want.end());
    want.erase(std::unique(want.begin(), want.end()), want.end());
    int64_t n = 0, d = 0;
    EXPECT_FALSE(f.rate(n, d)) << "black or a second rate: the frames keep their own times";
    EXPECT_EQ(got, want);
    DisposeMovie(m);
  }
}

// A table declaring four billion frames in a few bytes costs a few runs, not gigabytes.
TEST(FrameModel, MemoryFollowsTheTablesNotTheDeclaredCounts) {
  Movie m = NewMovie(newMovieActive);
  Track t = mt::videoTrack(m, 90000);
  VTMedia& md = *t->media;
  md.addDescription(std::vector<uint8_t>(86, 0));
  md.samples.appendData(0, 1, 4000000000u, 1);
  md.samples.appendTiming(1, 4000000000u);
  md.samples.finishColumns();
  md.changed();
  t->edits = {vt::movie::Edit{(int64_t)4000000000 / 150, 0, fixed1}};
  const vt::movie::FrameList f = frames(m);
  EXPECT_GT(f.count(), 26000000);
  EXPECT_LT(f.memoryBytes(), 4096u);
  EXPECT_EQ(f.frameAt(f.start(f.count() - 1)), f.count() - 1);
  DisposeMovie(m);
}

// The three conversions: an instant rounds down, a boundary up, a meant value to the nearest
// (halves away from zero), negative values included; products past 64 bits clamp instead of
// wrapping; a scale that is not positive leaves the value alone.
TEST(TimeRule, ConversionsRoundTheirOwnWayAndNeverOverflow) {
  using namespace vt::movie;
  const struct {
    int64_t v, to, from, down, up, nearest;
  } cases[] = {
      {1001, 1000, 30000, 33, 34, 33},
      {-1001, 1000, 30000, -34, -33, -33},
      {-15, 1, 30, -1, 0, -1},
      {INT64_MIN / 2, 90000, 1, INT64_MIN, INT64_MIN, INT64_MIN},
      {INT64_MAX, 1, 90000, INT64_MAX / 90000, INT64_MAX / 90000 + 1, INT64_MAX / 90000 + 1},
      {7, 0, 600, 7, 7, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.v) + " " + std::to_string(c.to) + "/" + std::to_string(c.from));
    EXPECT_EQ(scaleDown(c.v, c.to, c.from), c.down);
    EXPECT_EQ(scaleUp(c.v, c.to, c.from), c.up);
    EXPECT_EQ(scaleNearest(c.v, c.to, c.from), c.nearest);
  }
}

// The time rule, as a property over random movies: time scales from 1 to 90000, constant and
// variable frame durations, edit lists with rates, repeats, gaps and dwells. Stepping lands
// exactly where the shown frame changes, forward and backward; a plain track shows every frame
// once; cutting and pasting at frame starts keep every frame and the duration.
#include <random>

#include "helpers.h"
#include "model/model.h"

namespace {

constexpr TimeScale kScales[] = {1, 24, 25, 30, 600, 1000, 2997, 15360, 30000, 90000};

struct RandomMovie {
  Movie movie = nullptr;
  Track track = nullptr;
  Media media = nullptr;
  std::vector<TimeValue> frameStarts;  // media time of each sample

  enum EditKind { kOneEdit, kAnyEdits, kWholeFrameEdits };
  // `minFrameUnits`: every frame lasts at least this many movie time units. Whole-frame edits
  // start and end where frames do, and go where edits meet, as edits made by cutting and
  // pasting whole frames do; other edits start, end and go anywhere.
  RandomMovie(std::mt19937& rng, int minFrameUnits, EditKind edits) {
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    TimeScale ms = kScales[pick(10)], ds = kScales[pick(10)];
    movie = NewMovie(newMovieActive);
    SetMovieTimeScale(movie, ms);
    track = NewMovieTrack(movie, 4 << 16, 4 << 16, kNoVolume);
    media = NewTrackMedia(track, VideoMediaType, ds, nullptr, 0);
    // The shortest frame in media units, and the whole movie kept short enough to scan.
    int64_t minFrame = std::max<int64_t>(1, ((int64_t)minFrameUnits * ds + ms - 1) / ms);
    int frames = 1 + pick(40);
    int64_t longest = std::max<int64_t>(minFrame, (int64_t)ds * 3000 / ((int64_t)ms * frames));
    bool variable = pick(2) == 0;
    int64_t base = minFrame + (int64_t)(rng() % (uint64_t)std::max<int64_t>(1, longest - minFrame));
    ImageDescriptionHandle d = mt::imageDescription('raw ', 4, 4);
    Handle data = NewHandle(4);
    TimeValue at = 0;
    for (int i = 0; i < frames; ++i) {
      int64_t dur = variable ? minFrame + (int64_t)(rng() % (uint64_t)(2 * base)) : base;
      std::memcpy(*data, &i, 4);  // each frame's bytes say which frame it is
      frameStarts.push_back(at);
      AddMediaSample(media, data, 0, 4, (TimeValue)dur, (SampleDescriptionHandle)d, 1, 0, nullptr);
      at += (TimeValue)dur;
    }
    DisposeHandle(data);
    DisposeHandle((Handle)d);
    TimeValue mediaDur = GetMediaDuration(media);
    if (edits == kOneEdit) {
      EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, mediaDur, fixed1), noErr);
      return;
    }
    frameStarts.push_back(mediaDur);
    // A place on the track: anywhere, or where two edits meet.
    auto place = [&]() -> TimeValue {
      TimeValue dur = GetTrackDuration(track);
      if (dur == 0 || pick(3) == 0) return -1;
      if (edits == kAnyEdits) return (TimeValue)(rng() % (uint64_t)dur);
      int64_t boundary = 0;
      for (int i = pick((int)track->edits.size()); i > 0; --i)
        boundary += track->edits[(size_t)i - 1].duration;
      return (TimeValue)boundary;
    };
    // A few edits of random spans, rates and places; now and then a gap.
    const Fixed rates[] = {fixed1, fixed1, fixed1 / 2, 2 * fixed1, 3 * fixed1 / 2};
    for (int k = 1 + pick(4); k > 0; --k) {
      TimeValue from, len;
      if (edits == kAnyEdits) {
        from = (TimeValue)(rng() % (uint64_t)mediaDur);
        len = 1 + (TimeValue)(rng() % (uint64_t)(mediaDur - from));
      } else {
        int first = pick(frames), last = first + 1 + pick(frames - first);
        from = frameStarts[(size_t)first];
        len = frameStarts[(size_t)last] - from;
      }
      EXPECT_EQ(InsertMediaIntoTrack(track, place(), from, len, rates[pick(5)]), noErr);
      if (pick(4) == 0 && GetTrackDuration(track) > 1) {
        TimeValue gapAt = place();
        InsertEmptyTrackSegment(track, gapAt < 0 ? 0 : gapAt,
                                1 + pick(5 * std::max<int>(1, minFrameUnits)));
      }
    }
    frameStarts.pop_back();
  }
  ~RandomMovie() { DisposeMovie(movie); }

  std::string describe() const {
    std::string s = "movie scale " + std::to_string(GetMovieTimeScale(movie)) + ", media scale " +
                    std::to_string(GetMediaTimeScale(media)) + ", frames at";
    for (TimeValue t : frameStarts) s += " " + std::to_string(t);
    s += "; edits";
    for (const auto& e : track->edits)
      s += " [" + std::to_string(e.duration) + " from " + std::to_string(e.mediaTime) + " x" +
           std::to_string(e.rate / 65536.0) + "]";
    return s;
  }
};

// Every movie time where the track starts to show another frame, by looking at each one; and
// the frames shown from there (by their bytes: copies of a frame are the same frame).
std::vector<TimeValue> changesByScan(Track t, std::vector<int>* frames = nullptr) {
  std::vector<TimeValue> out;
  long before = -1;
  std::vector<uint8_t> bytes;
  for (TimeValue time = 0; time < GetTrackDuration(t); ++time) {
    long now = vt::movie::trackSampleAt(*t, time);
    if (now >= 0 && (before < 0 || !t->media->samePicture(now, before))) {
      out.push_back(time);
      int id = -1;
      if (frames && t->media->loadSample((uint32_t)now, bytes) == noErr &&
          bytes.size() == 4)
        std::memcpy(&id, bytes.data(), 4);
      if (frames) frames->push_back(id);
    }
    before = now;
  }
  return out;
}

// Where stepping goes: from the start (the first frame) forward, or from the end backward.
std::vector<TimeValue> steps(Movie m, bool forward) {
  std::vector<TimeValue> out;
  const OSType video = VideoMediaType;
  TimeValue t = forward ? 0 : GetMovieDuration(m);
  short flags = forward ? nextTimeStep | nextTimeEdgeOK : nextTimeStep;
  for (;;) {
    TimeValue next = -1;
    GetMovieNextInterestingTime(m, flags, 1, &video, t, forward ? fixed1 : -fixed1, &next, nullptr);
    if (next < 0 || out.size() > 100000) break;
    out.push_back(next);
    t = next;
    flags = nextTimeStep;
  }
  if (!forward) std::reverse(out.begin(), out.end());
  return out;
}

// A fresh seed each run, printed; VT_TIME_SEED repeats a run.
unsigned freshSeed() {
  const char* fixed = std::getenv("VT_TIME_SEED");
  unsigned seed = fixed ? (unsigned)std::strtoul(fixed, nullptr, 10) : std::random_device{}();
  std::printf("time rule seed %u\n", seed);
  return seed;
}

TEST(TimeRule, SteppingLandsWhereTheShownFrameChanges) {
  unsigned seed = freshSeed();
  std::mt19937 rng(seed);
  for (int round = 0; round < 300; ++round) {
    RandomMovie r(rng, 1, RandomMovie::kAnyEdits);
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round) + ": " +
                 r.describe());
    std::vector<TimeValue> expected = changesByScan(r.track);
    ASSERT_EQ(steps(r.movie, true), expected);
    ASSERT_EQ(steps(r.movie, false), expected);
  }
}

TEST(TimeRule, APlainTrackShowsEveryFrameOnceInOrder) {
  unsigned seed = freshSeed();
  std::mt19937 rng(seed);
  for (int round = 0; round < 300; ++round) {
    RandomMovie r(rng, 1, RandomMovie::kOneEdit);
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round) + ": " +
                 r.describe());
    std::vector<TimeValue> at = steps(r.movie, true);
    ASSERT_EQ(at.size(), r.frameStarts.size());
    for (size_t i = 0; i < at.size(); ++i) {
      ASSERT_EQ(vt::movie::trackSampleAt(*r.track, at[i]), (long)i);
      if (at[i] > 0) {
        ASSERT_EQ(vt::movie::trackSampleAt(*r.track, at[i] - 1), (long)i - 1);
      }
    }
  }
}

// Cut a run of frames (between frame starts) and paste it back: the frames left are the others,
// and afterwards the movie shows the same frames in the same order, for the same duration.
// (An edit split where a frame starts goes on from a whole media time, so frames after the
// split may start one movie unit later; frames of a few units all stay. A frame that an edit
// cuts short to a unit may be lost that way, which is why the edits here keep whole frames.)
TEST(TimeRule, CutAndPasteAtFrameStartsKeepEveryFrame) {
  unsigned seed = freshSeed();
  std::mt19937 rng(seed);
  for (int round = 0; round < 200; ++round) {
    RandomMovie r(rng, 4, rng() % 2 ? RandomMovie::kOneEdit : RandomMovie::kWholeFrameEdits);
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round) + ": " +
                 r.describe());
    std::vector<int> frames;
    std::vector<TimeValue> before = changesByScan(r.track, &frames);
    if (before.size() < 2) continue;
    TimeValue duration = GetMovieDuration(r.movie);
    size_t i = rng() % (before.size() - 1), j = i + 1 + rng() % (before.size() - i - 1);
    TimeValue a = before[i], b = j < before.size() ? before[j] : duration;
    long shownBefore = vt::movie::trackSampleAt(*r.track, a - 1);
    long shownAfter = vt::movie::trackSampleAt(*r.track, b);

    SetMovieSelection(r.movie, a, b - a);
    Movie cut = CutMovieSelection(r.movie);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(GetMovieDuration(cut), b - a);
    EXPECT_EQ(GetMovieDuration(r.movie), duration - (b - a));
    size_t joined = shownBefore >= 0 && shownBefore == shownAfter ? 1 : 0;
    EXPECT_EQ(changesByScan(r.track).size(), before.size() - (j - i) - joined);
    EXPECT_EQ(changesByScan(GetMovieIndTrack(cut, 1)).size(), j - i);

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

}  // namespace

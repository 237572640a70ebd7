// A movie's frames: the distinct pictures it shows, in display order, with the movie times they
// start at, and the exact rational rate they keep when there is one.
//
// A track's frames come from its sample table (display order) through its edit list. Where the
// sample durations are the rounding of one rational rate (30/1 in a 1000 time scale gives 33,
// 34, 33, ...), the media's frames are that rate's instants, not the durations' jitter. The
// movie's frames are the union of the frames of the tracks it draws (an effect track at its
// sources' frames, a generator at kGeneratorRate), plus one black frame at the start of every
// stretch where nothing is drawn.
//
// Memory follows the sample and edit tables' bound: a track's frames are kept as runs (per edit,
// one per run of its tables that the edit shows), never one entry per declared sample. Frames
// are listed one by one only where runs cannot say them (a union of several tracks, frames
// shorter than a movie unit), up to kMaxListedFrames; past that the track with the most frames
// alone counts.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <functional>
#include <vector>

struct VTMovie;
struct VTTrack;

namespace vt::movie {

// Frames per second of an effect that has no sources.
constexpr int kGeneratorRate = 30;
constexpr int64_t kMaxListedFrames = int64_t(1) << 22;

// Frames j in [0, count) starting at movie time
//   origin + ceil((media(j) - mediaOrigin) * num / den),
//   media(j) = mediaStart + ceil(((j + skip) * step + phase) / div),
// the media instants of a rate (or of equal durations) seen through one edit.
struct FrameRun {
  int64_t count = 0;
  int64_t origin = 0, mediaOrigin = 0, mediaStart = 0;
  int64_t skip = 0, step = 0, phase = 0, div = 1;
  int64_t num = 1, den = 1;
  int64_t media(int64_t j) const;
  int64_t at(int64_t j) const;
};

// What a track is to the picture, as the drawing layer sees it.
struct TrackKind {
  enum Role { none, decoded, effect } role = none;  // none: no pictures
  bool drawn = false;                               // drawn on its own (not only as a source)
  std::vector<VTTrack*> sources;                    // an effect's (none: a generator)
};
using TrackClassifier = std::function<TrackKind(const VTTrack&)>;

class FrameList {
 public:
  TimeScale scale() const { return scale_; }
  int64_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Movie time where frame k starts (k in [0, count)); the first frame starts at 0.
  int64_t start(int64_t k) const;
  // Where the frames end: the movie's duration.
  int64_t end() const { return end_; }
  // Where frame k ends: the next frame's start, or the end.
  int64_t finish(int64_t k) const { return k + 1 < count_ ? start(k + 1) : end_; }
  // The frame shown at movie time t: -1 before 0 or at and past the end.
  int64_t frameAt(int64_t t) const;
  // The frames a range [from, to) of movie time holds: those whose middle lies in it, and at
  // least the one shown at `from`. Sets first and count (count 0 outside the movie).
  void range(int64_t from, int64_t to, int64_t& first, int64_t& count) const;
  // The exact rate, frames per second num / den; false when the frames keep their own times.
  bool rate(int64_t& num, int64_t& den) const;
  size_t memoryBytes() const;

 private:
  friend FrameList movieFrames(const VTMovie&, const TrackClassifier&);
  TimeScale scale_ = 600;
  int64_t count_ = 0, end_ = 0;
  int64_t rateNum_ = 0, rateDen_ = 1;
  // Either runs (firsts_ holds each run's first frame index) or listed times.
  std::vector<FrameRun> runs_;
  std::vector<int64_t> firsts_;
  std::vector<int64_t> times_;
};

// The movie's frames over [0, duration). The classifier says which tracks are drawn and how.
FrameList movieFrames(const VTMovie& movie, const TrackClassifier& classify);

// The media's frames (display order) as runs in media time, and its exact rate if any.
struct MediaFrames {
  struct Run {
    int64_t start = 0, count = 0, step = 0, phase = 0, div = 1;
    int64_t at(int64_t j) const;
  };
  std::vector<Run> runs;
  int64_t end = 0;  // where the last frame ends
  int64_t rateNum = 0, rateDen = 1;
};
MediaFrames mediaFrames(const VTTrack& track);

}  // namespace vt::movie

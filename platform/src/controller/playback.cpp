// The controller's clock: play and stop, stepping, moving the playhead, and the tick that moves
// the movie on, driven by the movie's sound when it has one and by the platform clock
// otherwise. Each tick asks the frame path for a picture only when the one shown goes stale.
#include <MacErrors.h>
#include <Movies.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "compose/compose.h"
#include "controller/controller.h"
#include "model/model.h"

namespace vt::controller {

namespace {

// The span playback runs over: the selection when playing the selection only.
void playRange(const VTController& c, int64_t& start, int64_t& end) {
  start = 0;
  end = GetMovieDuration(c.movie);
  if (c.playback.playSelection) {
    TimeValue st = 0, sd = 0;
    GetMovieSelection(c.movie, &st, &sd);
    if (sd > 0) {
      start = std::clamp<int64_t>(st, 0, end);
      end = std::clamp<int64_t>((int64_t)st + sd, start, end);
    }
  }
}

audio::Looping loopingOf(const Playback& p) {
  if (!p.looping) return audio::Looping::None;
  return p.palindrome ? audio::Looping::Palindrome : audio::Looping::Loop;
}

Fixed playingRateFor(const VTController& c) {
  Fixed r = GetMoviePreferredRate(c.movie);
  return r != 0 ? r : IntToFixed(1);
}

// While the sound plays, the movie is where the sound is: the picture follows what is heard,
// turning and stopping with it.
void followSound(VTController& c) {
  Playback& pb = c.playback;
  audio::Player::Position p;
  Fixed rate = GetMovieRate(c.movie);
  if (rate == 0 || !pb.sound->position(p)) {
    pb.sound->stop();  // stopped behind the controller's back
    return;
  }
  pb.lastTick = TickCount();
  pb.carry = 0;
  if (p.ended) {
    SetMovieRate(c.movie, 0);
    pb.sound->stop();
  } else if ((p.direction > 0) != (rate > 0)) {
    SetMovieRate(c.movie, -rate);
  }
  SetMovieTimeValue(c.movie, p.time);
  if (!drawnIsCurrent(c)) {
    drawMovie(c);
    audio::logPicture(c.movie, p.time, p.hostNs);
    drawBar(c);
  } else {
    drawBar(c);
    prepareNext(c);
  }
}

// Where time t lands past an end of [start, end) of length len when playing at `rate`: wrapped
// or reflected when looping (reflecting turns the rate), pinned to the end otherwise.
int64_t pastEnd(VTController& c, Fixed rate, int64_t t, int64_t start, int64_t end, bool& stopped) {
  const int64_t len = end - start;
  const Playback& pb = c.playback;
  if (!pb.looping) {
    stopped = true;
    return rate > 0 ? end : start;
  }
  int64_t over = (rate > 0 ? t - end : start - t) % (2 * len);
  if (!pb.palindrome) return rate > 0 ? start + (t - start) % len : end - (start - t) % len;
  if (over < len) {
    SetMovieRate(c.movie, -rate);
    return rate > 0 ? end - over : start + over;
  }
  return rate > 0 ? start + (over - len) : end - (over - len);
}

}  // namespace

TimeValue fromTimeRecord(const VTController& c, const TimeRecord* tr) {
  int64_t v = ((int64_t)tr->value.hi << 32) | tr->value.lo;
  TimeScale ms = GetMovieTimeScale(c.movie);
  if (tr->scale > 0 && ms > 0 && tr->scale != ms) v = movie::scaleUp(v, ms, tr->scale);
  return (TimeValue)std::clamp<int64_t>(v, INT32_MIN, INT32_MAX);
}

void syncTimeBaseFlags(VTController& c) {
  TimeBase tb = GetMovieTimeBase(c.movie);
  if (!tb) return;
  const Playback& pb = c.playback;
  long f = GetTimeBaseFlags(tb) & ~(long)(loopTimeBase | palindromeLoopTimeBase);
  if (pb.looping) f |= loopTimeBase;
  if (pb.looping && pb.palindrome) f |= palindromeLoopTimeBase;
  SetTimeBaseFlags(tb, f);
  SetMoviePlayHints(c.movie, pb.looping ? hintsLoop : 0, hintsLoop);
}

// Starts the movie's sound at its time and rate (again, after anything that moved the time or
// changed what is played), or stops it when the movie stands still.
void syncSound(VTController& c) {
  Playback& pb = c.playback;
  Fixed rate = GetMovieRate(c.movie);
  if (rate == 0 || !movieHasSound(c.movie)) {
    if (pb.sound) pb.sound->stop();
    return;
  }
  if (!pb.sound) pb.sound = std::make_unique<audio::Player>(c.movie);
  int64_t start, end;
  playRange(c, start, end);
  pb.sound->play(GetMovieTime(c.movie, nullptr), rate, (TimeValue)start, (TimeValue)end,
                 loopingOf(pb));
}

void setVolume(VTController& c, short volume) {
  SetMovieVolume(c.movie, volume);
  if (c.playback.sound) c.playback.sound->pump();
  drawBar(c);
}

void setTime(VTController& c, TimeValue t) {
  t = std::clamp<TimeValue>(t, 0, GetMovieDuration(c.movie));
  SetMovieTimeValue(c.movie, t);
  c.playback.carry = 0;
  c.picture.discardPrepared();
  if (GetMovieRate(c.movie) != 0) syncSound(c);
  if (!drawnIsCurrent(c)) drawMovie(c);
  drawBar(c);
}

void play(VTController& c, Fixed rate) {
  if (rate != 0) {
    int64_t start, end;
    playRange(c, start, end);
    TimeValue now = GetMovieTime(c.movie, nullptr);
    if (end <= start) rate = 0;  // an empty movie or selection has nothing to play
    // Playing from the far end (or outside the played span) starts over.
    if (rate > 0 && (now >= end || now < start)) SetMovieTimeValue(c.movie, (TimeValue)start);
    if (rate < 0 && (now <= start || now > end)) SetMovieTimeValue(c.movie, (TimeValue)end);
  }
  SetMovieRate(c.movie, rate);
  c.picture.discardPrepared();
  redraw(c);
  // Pre-roll: the clock and the sound start once the first picture is up and the second one
  // composed, so the time their decoding took is not played past; the rest are prepared in
  // the idles that follow, while the first is shown.
  prepareNext(c);
  c.playback.lastTick = TickCount();
  c.playback.carry = 0;
  syncSound(c);
}

bool prepareNext(VTController& c) {
  Picture& p = c.picture;
  if (GetMovieRate(c.movie) <= 0 || !p.drawnValid || p.direct || !p.composer ||
      p.prepared.size() >= p.preparedFrames)
    return false;
  int64_t start, end;
  playRange(c, start, end);
  // The picture after the last one drawn or prepared, going round at the loop point (a
  // palindrome turns there instead: nothing to prepare past it).
  const bool lapDone = !p.prepared.empty() && p.prepared.back().nextLap;
  int64_t next = p.prepared.empty() ? p.drawn.end : p.prepared.back().span.end;
  bool nextLap = lapDone;
  if (next >= end) {
    if (!c.playback.looping || c.playback.palindrome || lapDone) return false;
    next = start;
    nextLap = true;
  }
  if (next < start) return false;
  Image img;
  if (!p.spare.empty()) {
    img = std::move(p.spare.back());
    p.spare.pop_back();
  }
  compose::Span span;
  if (p.composer->frame(next, img, &span) != noErr || p.composer->markedMissing()) {
    p.spare.push_back(std::move(img));
    return false;
  }
  p.prepared.push_back({std::move(img), span, nextLap});
  if (p.spare.size() > kPreparedFrames) p.spare.resize(kPreparedFrames);
  return true;
}

void togglePlay(VTController& c) {
  Fixed rate = GetMovieRate(c.movie) != 0 ? 0 : playingRateFor(c);
  doAction(c, mcActionPlay, (void*)(intptr_t)rate);
}

void step(VTController& c, long steps) {
  if (GetMovieRate(c.movie) != 0) {
    SetMovieRate(c.movie, 0);
    syncSound(c);
  }
  // Each step shows another of the movie's frames, counted from the one shown now (at the end,
  // the last one), and lands where that frame starts.
  TimeValue t = GetMovieTime(c.movie, nullptr);
  const movie::FrameList frames = compose::movieFrames(c.movie);
  if (!frames.empty() && steps != 0) {
    int64_t k = frames.frameAt(std::clamp<int64_t>(t, 0, frames.end() - 1));
    int64_t to = std::clamp<int64_t>(k + steps, 0, frames.count() - 1);
    if (to != k || steps < 0) t = (TimeValue)frames.start(to);
  }
  setTime(c, t);
}

// Moves the movie's time on by the ticks since the last idle, at the movie's rate, wrapping,
// reflecting or stopping at the ends of the played span.
void advance(VTController& c) {
  Playback& pb = c.playback;
  if (pb.sound) {
    pb.sound->pump();
    if (pb.sound->playing()) return followSound(c);
  }
  uint32_t now = TickCount();
  uint32_t dt = now - pb.lastTick;
  pb.lastTick = now;
  Fixed rate = GetMovieRate(c.movie);
  if (rate == 0) return;
  if (dt == 0) {
    prepareNext(c);
    return;
  }
  TimeScale scale = GetMovieTimeScale(c.movie);
  double delta = (double)rate / 65536.0 * (double)dt * scale / 60.0 + pb.carry;
  double whole = std::trunc(delta);
  pb.carry = delta - whole;
  int64_t start, end;
  playRange(c, start, end);
  if (end - start <= 0) {
    SetMovieRate(c.movie, 0);
    SetMovieTimeValue(c.movie, (TimeValue)start);
    drawBar(c);
    return;
  }
  int64_t t = GetMovieTime(c.movie, nullptr) + (int64_t)std::clamp(whole, -4e15, 4e15);
  bool stopped = false;
  if ((rate > 0 && t >= end) || (rate < 0 && t <= start))
    t = pastEnd(c, rate, t, start, end, stopped);
  if (stopped) {
    SetMovieRate(c.movie, 0);
    pb.carry = 0;
  }
  SetMovieTimeValue(c.movie, (TimeValue)t);
  if (!drawnIsCurrent(c)) {
    drawMovie(c);
    drawBar(c);
  } else {
    drawBar(c);
    prepareNext(c);  // in the time left before the next picture is due
  }
}

}  // namespace vt::controller

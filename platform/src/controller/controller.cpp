// The standard movie controller: a movie drawn in its window's port with a bar under it (play,
// time slider with the selection, step buttons, speaker and volume), playback driven by the
// movie's sound when it has one and by the platform clock otherwise, keyboard control, and the
// edit commands with their undo history.
#include <MacErrors.h>
#include <MacMemory.h>
#include <MovieControllers.h>
#include <Quickdraw.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <unordered_set>

#include "compose/compose.h"
#include "controller/controller.h"
#include "core/guard.h"
#include "core/reset.h"
#include "events/event_queue.h"
#include "model/model.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace vt::controller {

namespace {

constexpr uint32_t kMagic = 0x4D43746C;  // 'MCtl'
constexpr long kExplicitBit = 0x80000000L;
constexpr long kFlagMask = 0x7FFFFFFFL;

std::unordered_set<VTController*>& controllers() {
  static std::unordered_set<VTController*> set;
  return set;
}

const vt::ResetRegistration kReset(vt::ResetStage::Controllers, [] {
  std::vector<VTController*> all(controllers().begin(), controllers().end());
  for (VTController* c : all) DisposeMovieController(reinterpret_cast<MovieController>(c));
});

MovieController handle(VTController* c) { return reinterpret_cast<MovieController>(c); }

// Offers an action to the application's filter; true when the filter handled it.
bool filtered(VTController* c, short action, void* params) {
  if (!c->filter) return false;
  ++c->inFilter;
  bool handled = c->filter(handle(c), action, params, c->refCon) != 0;
  --c->inFilter;
  return handled;
}

WindowRef controllerWindow(const VTController& c) {
  VTPort* port = moviePort(c);
  return port ? port->window : nullptr;
}

// Converts a global point into the port's local coordinates.
Point toLocal(WindowRef w, Point global) {
  Point p = global;
  p.h = (short)(p.h - w->content.left + w->port.portRect.left);
  p.v = (short)(p.v - w->content.top + w->port.portRect.top);
  return p;
}

TimeValue fromTimeRecord(const VTController& c, const TimeRecord* tr) {
  int64_t v = ((int64_t)tr->value.hi << 32) | tr->value.lo;
  TimeScale ms = GetMovieTimeScale(c.movie);
  if (tr->scale > 0 && ms > 0 && tr->scale != ms) v = vt::movie::scaleUp(v, ms, tr->scale);
  return (TimeValue)std::clamp<int64_t>(v, INT32_MIN, INT32_MAX);
}

// The span playback runs over: the selection when playing the selection only.
void playRange(const VTController& c, int64_t& start, int64_t& end) {
  start = 0;
  end = GetMovieDuration(c.movie);
  if (c.playSelection) {
    TimeValue st = 0, sd = 0;
    GetMovieSelection(c.movie, &st, &sd);
    if (sd > 0) {
      start = std::clamp<int64_t>(st, 0, end);
      end = std::clamp<int64_t>((int64_t)st + sd, start, end);
    }
  }
}

void syncTimeBaseFlags(VTController& c) {
  TimeBase tb = GetMovieTimeBase(c.movie);
  if (!tb) return;
  long f = GetTimeBaseFlags(tb) & ~(long)(loopTimeBase | palindromeLoopTimeBase);
  if (c.looping) f |= loopTimeBase;
  if (c.looping && c.palindrome) f |= palindromeLoopTimeBase;
  SetTimeBaseFlags(tb, f);
  SetMoviePlayHints(c.movie, c.looping ? hintsLoop : 0, hintsLoop);
}

vt::audio::Looping loopingOf(const VTController& c) {
  if (!c.looping) return vt::audio::Looping::None;
  return c.palindrome ? vt::audio::Looping::Palindrome : vt::audio::Looping::Loop;
}

// Starts the movie's sound at its time and rate (again, after anything that moved the time or
// changed what is played), or stops it when the movie stands still.
void syncSound(VTController& c) {
  Fixed rate = GetMovieRate(c.movie);
  if (rate == 0 || !movieHasSound(c.movie)) {
    if (c.sound) c.sound->stop();
    return;
  }
  if (!c.sound) c.sound = std::make_unique<vt::audio::Player>(c.movie);
  int64_t start, end;
  playRange(c, start, end);
  c.sound->play(GetMovieTime(c.movie, nullptr), rate, (TimeValue)start, (TimeValue)end,
                loopingOf(c));
}

void redraw(VTController& c) {
  drawMovie(c);
  drawBar(c);
}

void setTime(VTController& c, TimeValue t) {
  t = std::clamp<TimeValue>(t, 0, GetMovieDuration(c.movie));
  SetMovieTimeValue(c.movie, t);
  c.carry = 0;
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
  redraw(c);
  // The clock starts once the first picture is up, so the time its decoding took is not
  // played past (dropping the first frames).
  c.lastTick = TickCount();
  c.carry = 0;
  syncSound(c);
}

Fixed playingRateFor(const VTController& c) {
  Fixed r = GetMoviePreferredRate(c.movie);
  return r != 0 ? r : IntToFixed(1);
}

void step(VTController& c, long steps) {
  if (GetMovieRate(c.movie) != 0) {
    SetMovieRate(c.movie, 0);
    syncSound(c);
  }
  // Each step shows another of the movie's frames, counted from the one shown now (at the end,
  // the last one), and lands where that frame starts.
  TimeValue t = GetMovieTime(c.movie, nullptr);
  const vt::movie::FrameList frames = vt::compose::movieFrames(c.movie);
  if (!frames.empty() && steps != 0) {
    int64_t k = frames.frameAt(std::clamp<int64_t>(t, 0, frames.end() - 1));
    int64_t to = std::clamp<int64_t>(k + steps, 0, frames.count() - 1);
    if (to != k || steps < 0) t = (TimeValue)frames.start(to);
  }
  setTime(c, t);
}

// While the sound plays, the movie is where the sound is: the picture follows what is heard,
// turning and stopping with it.
void followSound(VTController& c) {
  vt::audio::Player::Position p;
  Fixed rate = GetMovieRate(c.movie);
  if (rate == 0 || !c.sound->position(p)) {
    c.sound->stop();  // stopped behind the controller's back
    return;
  }
  c.lastTick = TickCount();
  c.carry = 0;
  if (p.ended) {
    SetMovieRate(c.movie, 0);
    c.sound->stop();
  } else if ((p.direction > 0) != (rate > 0)) {
    SetMovieRate(c.movie, -rate);
  }
  SetMovieTimeValue(c.movie, p.time);
  if (!drawnIsCurrent(c)) {
    drawMovie(c);
    vt::audio::logPicture(c.movie, p.time, p.hostNs);
  }
  drawBar(c);
}

// Where the frame shown at t starts, and where the next one starts (the movie's end after the
// last frame): the places stepping lands on. Without pictures every time is its own frame.
TimeValue frameStart(const VTController& c, TimeValue t) {
  const OSType video = VideoMediaType;
  TimeValue at = -1;
  GetMovieNextInterestingTime(c.movie, nextTimeStep | nextTimeEdgeOK, 1, &video, t, -IntToFixed(1),
                              &at, nullptr);
  return at >= 0 ? at : t;
}

TimeValue frameEnd(const VTController& c, TimeValue t) {
  const OSType video = VideoMediaType;
  TimeValue at = -1;
  GetMovieNextInterestingTime(c.movie, nextTimeStep, 1, &video, t, IntToFixed(1), &at, nullptr);
  TimeValue dur = GetMovieDuration(c.movie);
  if (at < 0)
    return GetMovieIndTrackType(c.movie, 1, VideoMediaType, movieTrackMediaType) ? dur : t;
  return std::min(at, dur);
}

// Selects between a fixed end and a moving one.
void selectBetween(VTController& c, TimeValue anchor, TimeValue moving) {
  TimeValue lo = std::min(anchor, moving), hi = std::max(anchor, moving);
  SetMovieSelection(c.movie, lo, hi - lo);
}

// A Shift-extension works from the playhead. Within the selection (its ends included) the end
// nearer the playhead moves and the other stays; elsewhere, or with nothing selected, a new
// selection starts where the frame at the playhead starts. Answers the end that stays and
// the one that moves, as they are now.
void selectionEnds(const VTController& c, TimeValue& anchor, TimeValue& moving) {
  TimeValue st = 0, sd = 0;
  GetMovieSelection(c.movie, &st, &sd);
  TimeValue now = GetMovieTime(c.movie, nullptr);
  if (sd > 0 && now >= st && now <= st + sd) {
    bool startMoves = now - st < st + sd - now;
    anchor = startMoves ? st + sd : st;
    moving = startMoves ? st : st + sd;
    return;
  }
  anchor = moving = now >= GetMovieDuration(c.movie) ? now : frameStart(c, now);
}

// Shift+arrow: moves the selection's moving end by one frame and shows the time there.
void extendByFrame(VTController& c, bool forward) {
  if (GetMovieRate(c.movie) != 0) SetMovieRate(c.movie, 0);
  TimeValue anchor = 0, moving = 0;
  selectionEnds(c, anchor, moving);
  moving = forward ? frameEnd(c, moving) : moving > 0 ? frameStart(c, moving - 1) : 0;
  selectBetween(c, anchor, moving);
  setTime(c, moving);
}

// Moves the movie's time on by the ticks since the last idle, at the movie's rate, wrapping,
// reflecting or stopping at the ends of the played span.
void advance(VTController& c) {
  if (c.sound) {
    c.sound->pump();
    if (c.sound->playing()) return followSound(c);
  }
  uint32_t now = TickCount();
  uint32_t dt = now - c.lastTick;
  c.lastTick = now;
  Fixed rate = GetMovieRate(c.movie);
  if (rate == 0 || dt == 0) return;
  TimeScale scale = GetMovieTimeScale(c.movie);
  double delta = (double)rate / 65536.0 * (double)dt * scale / 60.0 + c.carry;
  double whole = std::trunc(delta);
  c.carry = delta - whole;
  int64_t start, end;
  playRange(c, start, end);
  int64_t len = end - start;
  int64_t cur = GetMovieTime(c.movie, nullptr);
  if (len <= 0) {
    SetMovieRate(c.movie, 0);
    SetMovieTimeValue(c.movie, (TimeValue)start);
    drawBar(c);
    return;
  }
  int64_t t = cur + (int64_t)std::clamp(whole, -4e15, 4e15);
  bool stopped = false;
  if (rate > 0 && t >= end) {
    if (!c.looping) {
      t = end;
      stopped = true;
    } else if (c.palindrome) {
      int64_t over = (t - end) % (2 * len);
      if (over < len) {
        t = end - over;
        SetMovieRate(c.movie, -rate);
      } else {
        t = start + (over - len);
      }
    } else {
      t = start + (t - start) % len;
    }
  } else if (rate < 0 && t <= start) {
    if (!c.looping) {
      t = start;
      stopped = true;
    } else if (c.palindrome) {
      int64_t over = (start - t) % (2 * len);
      if (over < len) {
        t = start + over;
        SetMovieRate(c.movie, -rate);
      } else {
        t = end - (over - len);
      }
    } else {
      t = end - (start - t) % len;
    }
  }
  if (stopped) {
    SetMovieRate(c.movie, 0);
    c.carry = 0;
  }
  SetMovieTimeValue(c.movie, (TimeValue)t);
  if (!drawnIsCurrent(c)) drawMovie(c);
  drawBar(c);
}

Rect boundsOf(const VTController& c) {
  if (!c.attached) return c.visible ? c.barRect : Rect{0, 0, 0, 0};
  if (!c.visible) return c.movieRect;
  Rect u;
  UnionRect(&c.movieRect, &c.barRect, &u);
  return u;
}

void invalidateWindow(VTController& c, const Rect& r) {
  if (WindowRef w = controllerWindow(c)) InvalWindowRect(w, &r);
}

void sizeChanged(VTController* c) { filtered(c, mcActionControllerSizeChanged, nullptr); }

// The largest picture, at the movie's natural shape, whose controller (picture and bar) fits in
// a content area of maxW x maxH.
void fitSize(const VTController& c, int maxW, int maxH, int& w, int& h) {
  Rect nat{0, 0, 0, 0};
  GetMovieNaturalBoundsRect(c.movie, &nat);
  int64_t aw = nat.right - nat.left, ah = nat.bottom - nat.top;
  if (aw <= 0 || ah <= 0) {
    aw = std::max(1, c.movieRect.right - c.movieRect.left);
    ah = std::max(1, c.movieRect.bottom - c.movieRect.top);
  }
  if (c.visible) maxH -= kBarHeight;
  int64_t width = std::min<int64_t>(maxW, (int64_t)std::max(maxH, 1) * aw / ah);
  width = std::max<int64_t>(width, std::max<int64_t>(1, kMinMovieSide * aw / ah));
  w = (int)std::min<int64_t>(width, SHRT_MAX / 2);
  h = (int)std::max<int64_t>(1, std::min<int64_t>((int64_t)w * ah / aw, SHRT_MAX / 2));
}

// The content area a window can have within the grow-box bounds: from its content's top-left
// (or the bounds' own, for the whole area) to the bounds' far edges, less the window's frame.
void contentRoom(const VTController& c, WindowRef w, bool fromWindow, int& maxW, int& maxH) {
  const Rect& gb = c.growBounds;
  Rect in = ui::frameInsets(w);
  int left = fromWindow ? w->content.left : gb.left + in.left;
  int top = fromWindow ? w->content.top : gb.top + in.top;
  maxW = gb.right - in.right - left;
  maxH = gb.bottom - in.bottom - top;
}

// Gives the picture a new size (its top-left stays), moves the bar with it, and sizes the window
// to the controller when the bar is attached.
void resizeMovie(VTController& c, int width, int height) {
  Rect before = boundsOf(c);
  Rect r = c.movieRect;
  r.right = (short)(r.left + width);
  r.bottom = (short)(r.top + height);
  if (EqualRect(&r, &c.movieRect)) return;
  c.movieRect = r;
  SetMovieBox(c.movie, &c.movieRect);
  if (c.attached) c.barRect = attachedBarRect(c.movieRect);
  c.drawnValid = false;
  Rect after = boundsOf(c);
  WindowRef w = controllerWindow(c);
  if (w && c.attached)
    SizeWindow(w, (short)(after.right - after.left), (short)(after.bottom - after.top), true);
  Rect both;
  UnionRect(&before, &after, &both);
  invalidateWindow(c, both);
  sizeChanged(&c);
}

// Grow-box bounds set: the window gets its zoom box, and a movie too large for them shrinks to
// the largest size that fits.
void growBoundsSet(VTController& c) {
  WindowRef w = controllerWindow(c);
  if (!w || EmptyRect(&c.growBounds) || EmptyRect(&c.movieRect)) return;
  ui::setZoomBox(w, true, c.zoomed);
  int maxW = 0, maxH = 0, fitW = 0, fitH = 0;
  contentRoom(c, w, false, maxW, maxH);
  Rect b = boundsOf(c);
  if (b.right - b.left <= maxW && b.bottom - b.top <= maxH) return;
  fitSize(c, maxW, maxH, fitW, fitH);
  resizeMovie(c, fitW, fitH);
  // A window already on the screen moves as far as it must to be inside the bounds.
  Rect s = ui::structureRect(w);
  int dx = std::max(c.growBounds.left - s.left, std::min(0, c.growBounds.right - s.right));
  int dy = std::max(c.growBounds.top - s.top, std::min(0, c.growBounds.bottom - s.bottom));
  if (dx || dy) MoveWindow(w, (short)(w->content.left + dx), (short)(w->content.top + dy), false);
}

// The zoom box: to the largest size that fits the grow-box bounds, at the top-left of them, and
// back to the size and place the user had.
void toggleZoom(VTController& c, WindowRef w) {
  if (!c.zoomed) {
    c.userMovieRect = c.movieRect;
    c.userWindowPlace = Point{w->content.top, w->content.left};
    int maxW = 0, maxH = 0, fitW = 0, fitH = 0;
    contentRoom(c, w, false, maxW, maxH);
    fitSize(c, maxW, maxH, fitW, fitH);
    Rect in = ui::frameInsets(w);
    MoveWindow(w, (short)(c.growBounds.left + in.left), (short)(c.growBounds.top + in.top), false);
    c.zoomed = true;
    resizeMovie(c, fitW, fitH);
  } else {
    MoveWindow(w, c.userWindowPlace.h, c.userWindowPlace.v, false);
    c.zoomed = false;
    resizeMovie(c, c.userMovieRect.right - c.userMovieRect.left,
                c.userMovieRect.bottom - c.userMovieRect.top);
  }
  ui::setZoomBox(w, true, c.zoomed);
}

// The grow box: the picture follows the mouse at the movie's shape (the larger of the two
// changes wins), from kMinMovieSide up to what fits the grow-box bounds.
void dragGrow(VTController& c, WindowRef w, Point start) {
  const int w0 = c.movieRect.right - c.movieRect.left, h0 = c.movieRect.bottom - c.movieRect.top;
  int maxW = 0, maxH = 0, capW = 0, capH = 0, minW = 0, minH = 0;
  contentRoom(c, w, true, maxW, maxH);
  fitSize(c, maxW, maxH, capW, capH);
  fitSize(c, kMinMovieSide, kMinMovieSide + (c.visible ? kBarHeight : 0), minW, minH);
  auto follow = [&](Point global) {
    Point p = toLocal(w, global);
    int64_t byH = (int64_t)w0 + (p.h - start.h);
    int64_t byV = h0 > 0 ? ((int64_t)h0 + (p.v - start.v)) * w0 / h0 : byH;
    int width = (int)std::clamp<int64_t>(std::max(byH, byV), minW, std::max(minW, capW));
    int fw = 0, fh = 0;
    fitSize(c, width, INT32_MAX / 4, fw, fh);
    resizeMovie(c, fw, fh);
    drawMovie(c);
    drawBar(c);
  };
  Point g{};
  while (vt::events::trackMouse(g)) {
    if (!live(handle(&c))) return;
    follow(g);
  }
  if (!live(handle(&c))) return;
  follow(g);
  c.zoomed = false;
  ui::setZoomBox(w, true, false);
}

ComponentResult doAction(VTController* c, short action, void* params) {
  if (filtered(c, action, params)) return noErr;
  if (!live(handle(c))) return badComponentInstance;  // the filter disposed of it
  const intptr_t value = (intptr_t)params;
  switch (action) {
    case mcActionIdle: advance(*c); return noErr;
    case mcActionDraw: redraw(*c); return noErr;
    case mcActionActivate:
    case mcActionDeactivate:
      c->active = action == mcActionActivate;
      drawBar(*c);
      return noErr;
    case mcActionPlay:
    case mcActionPrerollAndPlay: play(*c, (Fixed)value); return noErr;
    case mcActionGoToTime:
      if (!params) return paramErr;
      setTime(*c, fromTimeRecord(*c, (const TimeRecord*)params));
      return noErr;
    case mcActionSetVolume:
      SetMovieVolume(c->movie, (short)value);
      if (c->sound) c->sound->pump();
      drawBar(*c);
      return noErr;
    case mcActionGetVolume:
      if (!params) return paramErr;
      *(short*)params = GetMovieVolume(c->movie);
      return noErr;
    case mcActionStep: step(*c, (long)value); return noErr;
    case mcActionSetLooping:
      c->looping = value != 0;
      syncTimeBaseFlags(*c);
      if (GetMovieRate(c->movie) != 0) syncSound(*c);
      return noErr;
    case mcActionGetLooping:
      if (!params) return paramErr;
      *(Boolean*)params = c->looping;
      return noErr;
    case mcActionSetLoopIsPalindrome:
      c->palindrome = value != 0;
      syncTimeBaseFlags(*c);
      if (GetMovieRate(c->movie) != 0) syncSound(*c);
      return noErr;
    case mcActionGetLoopIsPalindrome:
      if (!params) return paramErr;
      *(Boolean*)params = c->palindrome;
      return noErr;
    case mcActionSetGrowBoxBounds:
      if (!params) return paramErr;
      c->growBounds = *(const Rect*)params;
      growBoundsSet(*c);
      return noErr;
    case mcActionSetSelectionBegin:
    case mcActionSetSelectionDuration: {
      if (!params) return paramErr;
      TimeValue st = 0, sd = 0;
      GetMovieSelection(c->movie, &st, &sd);
      TimeValue v = fromTimeRecord(*c, (const TimeRecord*)params);
      if (v < 0) return paramErr;
      if (action == mcActionSetSelectionBegin)
        st = v;
      else
        sd = v;
      SetMovieSelection(c->movie, st, sd);
      if (c->playSelection && GetMovieRate(c->movie) != 0) syncSound(*c);
      drawBar(*c);
      return noErr;
    }
    case mcActionSetKeysEnabled:
    case mcActionSetControllerKeysEnabled: c->keysEnabled = value != 0; return noErr;
    case mcActionGetKeysEnabled:
      if (!params) return paramErr;
      *(Boolean*)params = c->keysEnabled;
      return noErr;
    case mcActionSetPlaySelection:
      c->playSelection = value != 0;
      if (GetMovieRate(c->movie) != 0) syncSound(*c);
      return noErr;
    case mcActionGetPlaySelection:
      if (!params) return paramErr;
      *(Boolean*)params = c->playSelection;
      return noErr;
    case mcActionSetUseBadge: c->useBadge = value != 0; return noErr;
    case mcActionGetUseBadge:
      if (!params) return paramErr;
      *(Boolean*)params = c->useBadge;
      return noErr;
    case mcActionSetFlags:
      // The top bit addresses the set of explicitly set elements instead of the flags.
      if ((long)value & kExplicitBit)
        c->explicitFlags = (long)value & kFlagMask;
      else
        c->flags = (long)value & kFlagMask;
      drawBar(*c);
      return noErr;
    case mcActionGetFlags: {
      if (!params) return paramErr;
      long* p = (long*)params;
      *p = (*p & kExplicitBit) ? c->explicitFlags : c->flags;
      return noErr;
    }
    case mcActionSetPlayEveryFrame: c->playEveryFrame = value != 0; return noErr;
    case mcActionGetPlayEveryFrame:
      if (!params) return paramErr;
      *(Boolean*)params = c->playEveryFrame;
      return noErr;
    case mcActionGetPlayRate:
      if (!params) return paramErr;
      *(Fixed*)params = GetMovieRate(c->movie);
      return noErr;
    case mcActionGetTimeSliderRect:
      if (!params) return paramErr;
      *(Rect*)params = layout(*c).slider;
      return noErr;
    case mcActionSetDragEnabled: c->dragEnabled = value != 0; return noErr;
    case mcActionGetDragEnabled:
      if (!params) return paramErr;
      *(Boolean*)params = c->dragEnabled;
      return noErr;
    case mcActionMovieEdited:
      c->drawnValid = false;
      c->framesDuration = -1;
      setTime(*c, GetMovieTime(c->movie, nullptr));
      return noErr;
    case mcActionSuspend:
    case mcActionResume:
    case mcActionControllerSizeChanged:
    case mcActionMouseDown:
    case mcActionKey:
    case mcActionMovieClick:
    case mcActionBadgeClick:
    case mcActionShowBalloon: return noErr;  // notifications: nothing of the controller's own to do
    default: return badComponentSelector;
  }
}

void togglePlay(VTController* c) {
  Fixed rate = GetMovieRate(c->movie) != 0 ? 0 : playingRateFor(*c);
  doAction(c, mcActionPlay, (void*)(intptr_t)rate);
}

// Volume as the mouse moves along the bar from where it went down: the slider's width is full
// volume. Releasing without moving changes nothing.
void dragVolume(VTController* c, WindowRef w, Point local) {
  BarLayout l = layout(*c);
  int width = std::max(l.slider.right - l.slider.left - 8, 1);
  int from = std::clamp<int>(GetMovieVolume(c->movie), 0, kFullVolume);
  c->adjustingVolume = true;
  drawBar(*c);
  bool moved = false;
  vt::ui::trackDrag(w, [&](Point at) {
    if (!live(handle(c))) return;
    moved = moved || at.h != local.h;
    int v = std::clamp(from + (at.h - local.h) * kFullVolume / width, 0, (int)kFullVolume);
    if (moved && v != GetMovieVolume(c->movie)) doAction(c, mcActionSetVolume, (void*)(intptr_t)v);
  });
  if (!live(handle(c))) return;
  c->adjustingVolume = false;
  drawBar(*c);
}

// Mute keeps the level: the volume turns negative and back.
void toggleMute(VTController* c) {
  short v = GetMovieVolume(c->movie);
  doAction(c, mcActionSetVolume, (void*)(intptr_t)(v == 0 ? kFullVolume : -v));
}

// The arrow keys up and down: a step louder or quieter (and out of mute).
void stepVolume(VTController* c, int direction) {
  int v = std::abs((int)GetMovieVolume(c->movie)) + direction * kVolumeStep;
  doAction(c, mcActionSetVolume, (void*)(intptr_t)std::clamp(v, 0, (int)kFullVolume));
}

// Scrubbing; with Shift the selection goes from its fixed end to the frame under the mouse
// (whole frames), and that frame is shown.
void dragSlider(VTController* c, WindowRef w, Point local, bool extend) {
  BarLayout l = layout(*c);
  Fixed rate = GetMovieRate(c->movie);
  if (rate != 0) {
    SetMovieRate(c->movie, 0);
    syncSound(*c);
  }
  TimeValue dur = GetMovieDuration(c->movie);
  TimeValue anchor = 0, moving = 0;
  if (extend) selectionEnds(*c, anchor, moving);
  auto follow = [&](short h) {
    TimeValue t = sliderTime(l, h, dur);
    if (extend) {
      selectBetween(*c, anchor, t >= anchor ? frameEnd(*c, t) : frameStart(*c, t));
      t = std::min(frameStart(*c, t), dur);
    }
    setTime(*c, t);
  };
  follow(local.h);
  Point g{};
  while (vt::events::trackMouse(g)) {
    if (!live(handle(c))) return;
    follow(toLocal(w, g).h);
  }
  if (!live(handle(c))) return;
  follow(toLocal(w, g).h);
  if (rate != 0) play(*c, rate);
}

ComponentResult mouseDown(VTController* c, const EventRecord* e) {
  WindowRef w = controllerWindow(*c);
  if (!w) return 0;
  WindowRef hit = nullptr;
  WindowPartCode part = FindWindow(e->where, &hit);
  if (hit != w || w != FrontWindow()) return 0;  // a window behind comes forward first
  if ((part == inZoomIn || part == inZoomOut) && layout(*c).growShown) {
    if (TrackBox(w, e->where, part) && live(handle(c))) toggleZoom(*c, w);
    return 1;
  }
  if (part != inContent) return 0;
  Point p = toLocal(w, e->where);
  bool inMovie = PtInRect(p, &c->movieRect);
  bool inBar = c->visible && PtInRect(p, &c->barRect);
  if (!inMovie && !inBar) return 0;
  if (filtered(c, mcActionMouseDown, (void*)e)) return 1;
  if (!live(handle(c))) return 1;
  if (inBar) {
    BarLayout l = layout(*c);
    // A button acts when the mouse is released over it, as a push button does.
    using vt::ui::trackPress;
    if (PtInRect(p, &l.play)) {
      if (trackPress(w, l.play) && live(handle(c))) togglePlay(c);
    } else if (PtInRect(p, &l.slider)) {
      dragSlider(c, w, p, (e->modifiers & shiftKey) != 0);
    } else if (l.steps && PtInRect(p, &l.stepBack)) {
      if (trackPress(w, l.stepBack) && live(handle(c))) doAction(c, mcActionStep, (void*)-1);
    } else if (l.steps && PtInRect(p, &l.stepForward)) {
      if (trackPress(w, l.stepForward) && live(handle(c))) doAction(c, mcActionStep, (void*)1);
    } else if (l.timeShown && PtInRect(p, &l.time)) {
      // A click on the time display switches between times and frame numbers.
      if (trackPress(w, l.time) && live(handle(c))) {
        c->showFrames = !c->showFrames;
        drawBar(*c);
      }
    } else if (l.growShown && PtInRect(p, &l.grow)) {
      dragGrow(*c, w, p);
    } else if (l.speakerShown && PtInRect(p, &l.speaker)) {
      // The speaker: drag to set the volume; with shift or option a click mutes or unmutes.
      if (e->modifiers & (shiftKey | optionKey)) {
        if (trackPress(w, l.speaker) && live(handle(c))) toggleMute(c);
      } else {
        dragVolume(c, w, p);
      }
    }
    return 1;
  }
  // A click in the movie pauses a playing movie.
  if (!filtered(c, mcActionMovieClick, (void*)e) && live(handle(c)) && GetMovieRate(c->movie) != 0)
    doAction(c, mcActionPlay, (void*)0);
  return 1;
}

ComponentResult keyDown(VTController* c, const EventRecord* e) {
  if (!c->keysEnabled || !c->active) return 0;
  WindowRef w = controllerWindow(*c);
  if (!w || w != FrontWindow()) return 0;
  char ch = (char)(e->message & charCodeMask);
  const bool shift = (e->modifiers & shiftKey) != 0;
  // Redo has no menu item: Ctrl+Shift+Z and Ctrl+Y are the movie window's. Other command keys
  // are the menus'.
  bool redoKey = (e->modifiers & cmdKey) && c->editing &&
                 ((shift && (ch == 'z' || ch == 'Z')) || (!shift && (ch == 'y' || ch == 'Y')));
  if ((e->modifiers & cmdKey) && !redoKey) return 0;
  bool volumeKey = ch == kUpArrowCharCode || ch == kDownArrowCharCode;
  bool clearKey = (ch == kDeleteCharCode || ch == kBackspaceCharCode) && c->editing;
  if (ch != kSpaceCharCode && ch != kLeftArrowCharCode && ch != kRightArrowCharCode &&
      ch != kHomeCharCode && ch != kEndCharCode && !volumeKey && !redoKey && !clearKey)
    return 0;
  // A silent movie has no volume to change.
  if (volumeKey && !layout(*c).speakerShown) return 0;
  if (filtered(c, mcActionKey, (void*)e)) return 1;
  if (!live(handle(c))) return 1;
  bool arrow = ch == kLeftArrowCharCode || ch == kRightArrowCharCode;
  if (redoKey) {
    VTMCRedo(handle(c));
  } else if (clearKey) {
    // As the Edit menu's Clear, and the filter hears of the edit as the menu would mark it.
    TimeValue st = 0, sd = 0;
    GetMovieSelection(c->movie, &st, &sd);
    if (sd > 0 && MCClear(handle(c)) == noErr && live(handle(c)))
      doAction(c, mcActionMovieEdited, nullptr);
  } else if (ch == kSpaceCharCode) {
    togglePlay(c);
  } else if (volumeKey) {
    stepVolume(c, ch == kUpArrowCharCode ? 1 : -1);
  } else if (ch == kHomeCharCode || ch == kEndCharCode) {
    if (GetMovieRate(c->movie) != 0) SetMovieRate(c->movie, 0);
    setTime(*c, ch == kHomeCharCode ? 0 : GetMovieDuration(c->movie));
  } else if (arrow && shift) {
    extendByFrame(*c, ch == kRightArrowCharCode);
  } else {
    doAction(c, mcActionStep, (void*)(intptr_t)(ch == kLeftArrowCharCode ? -1 : 1));
  }
  return 1;
}

void afterEdit(VTController& c) {
  c.drawnValid = false;
  c.framesDuration = -1;
  // A movie that had no picture (a new one) takes the size of the picture an edit gave it.
  Rect nat{0, 0, 0, 0};
  GetMovieNaturalBoundsRect(c.movie, &nat);
  if (EmptyRect(&c.movieRect) && !EmptyRect(&nat)) {
    resizeMovie(c, nat.right - nat.left, nat.bottom - nat.top);
    growBoundsSet(c);
  }
  setTime(c, GetMovieTime(c.movie, nullptr));
}

}  // namespace

VTController* live(MovieController mc) {
  auto* c = reinterpret_cast<VTController*>(mc);
  if (!c || !controllers().count(c) || c->magic != kMagic) return nullptr;
  return c;
}

}  // namespace vt::controller

using vt::controller::live;

MCActionFilterWithRefConUPP NewMCActionFilterWithRefConUPP(
    MCActionFilterWithRefConProcPtr proc) try {
  return proc;
} catch (...) {
  vtErrorFromException();
  return {};
}
// A UPP is the procedure pointer itself; there is nothing to release.
void DisposeMCActionFilterWithRefConUPP(MCActionFilterWithRefConUPP) {}

MovieController NewMovieController(Movie theMovie, const Rect* movieRect, long someFlags) try {
  if (!vt::movie::isLiveMovie(theMovie) || !movieRect) return nullptr;
  auto* c = new (std::nothrow) VTController();
  if (!c) return nullptr;
  c->magic = vt::controller::kMagic;
  c->movie = theMovie;
  c->movieRect = *movieRect;
  SetMovieBox(theMovie, &c->movieRect);
  c->barRect = vt::controller::attachedBarRect(c->movieRect);
  c->visible = !(someFlags & mcNotVisible);
  c->useBadge = (someFlags & mcWithBadge) != 0;
  c->lastTick = TickCount();
  vt::controller::controllers().insert(c);
  return vt::controller::handle(c);
} catch (...) {
  vtErrorFromException();
  return {};
}

void DisposeMovieController(MovieController mc) try {
  VTController* c = live(mc);
  if (!c) return;
  vt::controller::controllers().erase(c);
  vt::controller::clearHistory(*c);
  c->magic = 0;
  delete c;
} catch (...) {
  vtErrorFromException();
}

ComponentResult MCIsPlayerEvent(MovieController mc, const EventRecord* e) try {
  VTController* c = live(mc);
  if (!c || !e) return 0;
  WindowRef w = vt::controller::controllerWindow(*c);
  switch (e->what) {
    case nullEvent: MCIdle(mc); return 0;  // idle time is everyone's: the event stays unclaimed
    case mouseDown: return vt::controller::mouseDown(c, e);
    case keyDown:
    case autoKey: return vt::controller::keyDown(c, e);
    case updateEvt:
      if (!w || (WindowRef)e->message != w) return 0;
      BeginUpdate(w);
      // What neither the movie nor the bar covers (e.g. where a hidden bar was) is erased.
      if (VTPort* port = vt::controller::moviePort(*c))
        vt::ui::fillRect(port, port->portRect, 0xFFFFFFFF);
      vt::controller::doAction(c, mcActionDraw, w);
      EndUpdate(w);
      return 1;
    case activateEvt:
      // Activation is also the framework's business: answer 0 so it sees the event too.
      if (w && (WindowRef)e->message == w) MCActivate(mc, w, (e->modifiers & activeFlag) != 0);
      return 0;
    default: return 0;
  }
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCIdle(MovieController mc) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  return vt::controller::doAction(c, mcActionIdle, nullptr);
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCActivate(MovieController mc, WindowRef, Boolean activate) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  return vt::controller::doAction(c, activate ? mcActionActivate : mcActionDeactivate, nullptr);
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCDoAction(MovieController mc, short action, void* params) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  return vt::controller::doAction(c, action, params);
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCSetActionFilterWithRefCon(MovieController mc, MCActionFilterWithRefConUPP blob,
                                            long refCon) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  c->filter = blob;
  c->refCon = blob ? refCon : 0;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCEnableEditing(MovieController mc, Boolean enabled) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  c->editing = enabled;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCGetControllerInfo(MovieController mc, long* someFlags) try {
  VTController* c = live(mc);
  if (!someFlags) return paramErr;
  *someFlags = 0;
  if (!c) return badComponentInstance;
  long f = 0;
  if (c->editing) {
    f |= mcInfoEditingEnabled;
    TimeValue st = 0, sd = 0;
    GetMovieSelection(c->movie, &st, &sd);
    if (sd > 0) f |= mcInfoCutAvailable | mcInfoCopyAvailable | mcInfoClearAvailable;
    if (VTMovieScrapHasMovie()) f |= mcInfoPasteAvailable;
    if (!c->undoSteps.empty()) f |= mcInfoUndoAvailable;
  }
  if (vt::controller::movieHasSound(c->movie)) f |= mcInfoHasSound;
  if (GetMovieRate(c->movie) != 0) f |= mcInfoIsPlaying;
  if (c->looping) f |= mcInfoIsLooping;
  if (c->looping && c->palindrome) f |= mcInfoIsInPalindrome;
  *someFlags = f;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCUndo(MovieController mc) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  if (!c->editing) return paramErr;
  OSErr err = vt::controller::undoEdit(*c);
  if (err == noErr) vt::controller::afterEdit(*c);
  return err;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult VTMCRedo(MovieController mc) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  if (!c->editing) return paramErr;
  OSErr err = vt::controller::redoEdit(*c);
  if (err != noErr) return err;
  vt::controller::afterEdit(*c);
  // No menu command tells the application of this edit: the filter hears it as one.
  vt::controller::doAction(c, mcActionMovieEdited, nullptr);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

static Movie copyOrCut(MovieController mc, bool cut) {
  VTController* c = live(mc);
  if (!c || !c->editing) return nullptr;
  TimeValue st = 0, sd = 0;
  GetMovieSelection(c->movie, &st, &sd);
  if (sd <= 0) return nullptr;
  if (!cut) return CopyMovieSelection(c->movie);
  MovieEditState before = NewMovieEditState(c->movie);
  if (!before) return nullptr;
  Movie out = CutMovieSelection(c->movie);
  if (!out) {
    DisposeMovieEditState(before);
    return nullptr;
  }
  vt::controller::recordEdit(*c, before);
  vt::controller::afterEdit(*c);
  return out;
}

Movie MCCut(MovieController mc) try { return copyOrCut(mc, true); } catch (...) {
  vtErrorFromException();
  return {};
}
Movie MCCopy(MovieController mc) try { return copyOrCut(mc, false); } catch (...) {
  vtErrorFromException();
  return {};
}

ComponentResult MCPaste(MovieController mc, Movie srcMovie) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  if (!c->editing) return paramErr;
  Movie fromScrap = nullptr;
  if (!srcMovie) {
    fromScrap = NewMovieFromScrap(0);
    if (!fromScrap) return noMovieFound;
    srcMovie = fromScrap;
  }
  OSErr err = noErr;
  MovieEditState before = NewMovieEditState(c->movie);
  if (!before) err = GetMoviesError() ? GetMoviesError() : (OSErr)memFullErr;
  if (err == noErr) {
    // Without a selection the paste goes in at the current time.
    TimeValue st = 0, sd = 0;
    GetMovieSelection(c->movie, &st, &sd);
    if (sd <= 0) SetMovieSelection(c->movie, GetMovieTime(c->movie, nullptr), 0);
    PasteMovieSelection(c->movie, srcMovie);
    err = GetMoviesError();
    if (err == noErr) {
      vt::controller::recordEdit(*c, before);
      vt::controller::afterEdit(*c);
    } else {
      DisposeMovieEditState(before);
    }
  }
  if (fromScrap) DisposeMovie(fromScrap);
  return err;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCClear(MovieController mc) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  if (!c->editing) return paramErr;
  TimeValue st = 0, sd = 0;
  GetMovieSelection(c->movie, &st, &sd);
  if (sd <= 0) return noErr;  // nothing selected: nothing to clear or undo
  MovieEditState before = NewMovieEditState(c->movie);
  if (!before) return GetMoviesError() ? GetMoviesError() : (OSErr)memFullErr;
  ClearMovieSelection(c->movie);
  OSErr err = GetMoviesError();
  if (err != noErr) {
    DisposeMovieEditState(before);
    return err;
  }
  vt::controller::recordEdit(*c, before);
  vt::controller::afterEdit(*c);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCGetVisible(MovieController mc) try {
  VTController* c = live(mc);
  return c && c->visible ? 1 : 0;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCSetVisible(MovieController mc, Boolean visible) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  bool v = visible != 0;
  if (v == c->visible) return noErr;
  c->visible = v;
  // What the bar covered (or will cover) is redrawn by the window's next update.
  vt::controller::invalidateWindow(*c, c->barRect);
  if (v) vt::controller::drawBar(*c);
  vt::controller::sizeChanged(c);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCGetControllerBoundsRect(MovieController mc, Rect* bounds) try {
  VTController* c = live(mc);
  if (!bounds) return paramErr;
  if (!c) {
    *bounds = Rect{0, 0, 0, 0};
    return badComponentInstance;
  }
  *bounds = vt::controller::boundsOf(*c);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCIsControllerAttached(MovieController mc) try {
  VTController* c = live(mc);
  return c && c->attached ? 1 : 0;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCSetControllerAttached(MovieController mc, Boolean attach) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  c->attached = attach != 0;
  if (c->attached) {
    Rect old = c->barRect;
    c->barRect = vt::controller::attachedBarRect(c->movieRect);
    if (!EqualRect(&old, &c->barRect)) {
      vt::controller::invalidateWindow(*c, old);
      vt::controller::drawBar(*c);
    }
  }
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

ComponentResult MCPositionController(MovieController mc, const Rect* movieRect,
                                     const Rect* controllerRect, long) try {
  VTController* c = live(mc);
  if (!c) return badComponentInstance;
  Rect before = vt::controller::boundsOf(*c);
  if (movieRect) {
    c->movieRect = *movieRect;
    SetMovieBox(c->movie, &c->movieRect);
  }
  if (c->attached || !controllerRect)
    c->barRect = vt::controller::attachedBarRect(c->movieRect);
  else
    c->barRect = *controllerRect;
  c->drawnValid = false;
  Rect after = vt::controller::boundsOf(*c);
  Rect both;
  UnionRect(&before, &after, &both);
  vt::controller::invalidateWindow(*c, both);
  if (!EqualRect(&before, &after)) vt::controller::sizeChanged(c);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

Movie MCGetIndMovie(MovieController mc, short index) try {
  VTController* c = live(mc);
  return c && index == 0 ? c->movie : nullptr;
} catch (...) {
  vtErrorFromException();
  return {};
}

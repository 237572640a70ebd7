// Mouse and keys: the bar's buttons, slider, speaker and grow box, a click in the picture, and
// the keys the controller answers to. Every press is offered to the application's filter first,
// and the controller checks it is still there after anything that could call the application.
#include <MacWindows.h>
#include <Quickdraw.h>

#include <algorithm>
#include <cstdlib>

#include "controller/controller.h"
#include "events/event_queue.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace vt::controller {

namespace {

void changeVolume(VTController& c, int v) { doAction(c, mcActionSetVolume, (void*)(intptr_t)v); }

// Volume as the mouse moves along the bar from where it went down: the slider's width is full
// volume. Releasing without moving changes nothing.
void dragVolume(VTController& c, WindowRef w, Point local) {
  BarLayout l = layout(c);
  int width = std::max(l.slider.right - l.slider.left - 8, 1);
  int from = std::clamp<int>(GetMovieVolume(c.movie), 0, kFullVolume);
  c.bar.adjustingVolume = true;
  drawBar(c);
  bool moved = false;
  ui::trackDrag(w, [&](Point at) {
    if (!stillLive(c)) return;
    moved = moved || at.h != local.h;
    int v = std::clamp(from + (at.h - local.h) * kFullVolume / width, 0, (int)kFullVolume);
    if (moved && v != GetMovieVolume(c.movie)) changeVolume(c, v);
  });
  if (!stillLive(c)) return;
  c.bar.adjustingVolume = false;
  drawBar(c);
}

// Mute keeps the level: the volume turns negative and back.
void toggleMute(VTController& c) {
  short v = GetMovieVolume(c.movie);
  changeVolume(c, v == 0 ? kFullVolume : -v);
}

// The arrow keys up and down: a step louder or quieter (and out of mute).
void stepVolume(VTController& c, int direction) {
  int v = std::abs((int)GetMovieVolume(c.movie)) + direction * kVolumeStep;
  changeVolume(c, std::clamp(v, 0, (int)kFullVolume));
}

// Scrubbing; with Shift the selection goes from its fixed end to the frame under the mouse
// (whole frames), and that frame is shown.
void dragSlider(VTController& c, WindowRef w, Point local, bool extend) {
  BarLayout l = layout(c);
  Fixed rate = GetMovieRate(c.movie);
  if (rate != 0) {
    SetMovieRate(c.movie, 0);
    syncSound(c);
  }
  TimeValue dur = GetMovieDuration(c.movie);
  TimeValue anchor = 0, moving = 0;
  if (extend) selectionEnds(c, anchor, moving);
  auto follow = [&](short h) {
    TimeValue t = sliderTime(l, h, dur);
    if (extend) {
      selectBetween(c, anchor, t >= anchor ? frameEnd(c, t) : frameStart(c, t));
      t = std::min(frameStart(c, t), dur);
    }
    setTime(c, t);
  };
  follow(local.h);
  Point g{};
  while (events::trackMouse(g)) {
    if (!stillLive(c)) return;
    follow(toLocal(w, g).h);
  }
  if (!stillLive(c)) return;
  follow(toLocal(w, g).h);
  if (rate != 0) play(c, rate);
}

// A button acts when the mouse is released over it, as a push button does.
bool pressed(VTController& c, WindowRef w, const Rect& button) {
  return ui::trackPress(w, button) && stillLive(c);
}

void clickBar(VTController& c, WindowRef w, Point p, EventModifiers modifiers) {
  BarLayout l = layout(c);
  if (PtInRect(p, &l.play)) {
    if (pressed(c, w, l.play)) togglePlay(c);
  } else if (PtInRect(p, &l.slider)) {
    dragSlider(c, w, p, (modifiers & shiftKey) != 0);
  } else if (l.steps && PtInRect(p, &l.stepBack)) {
    if (pressed(c, w, l.stepBack)) doAction(c, mcActionStep, (void*)-1);
  } else if (l.steps && PtInRect(p, &l.stepForward)) {
    if (pressed(c, w, l.stepForward)) doAction(c, mcActionStep, (void*)1);
  } else if (l.timeShown && PtInRect(p, &l.time)) {
    // A click on the time display switches between times and frame numbers.
    if (pressed(c, w, l.time)) {
      c.bar.showFrames = !c.bar.showFrames;
      drawBar(c);
    }
  } else if (l.growShown && PtInRect(p, &l.grow)) {
    dragGrow(c, w, p);
  } else if (l.speakerShown && PtInRect(p, &l.speaker)) {
    // The speaker: drag to set the volume; with shift or option a click mutes or unmutes.
    if (modifiers & (shiftKey | optionKey)) {
      if (pressed(c, w, l.speaker)) toggleMute(c);
    } else {
      dragVolume(c, w, p);
    }
  }
}

// The keys the controller answers to, before the filter hears of them.
bool isControllerKey(const VTController& c, char ch, bool redoKey) {
  bool volumeKey = ch == kUpArrowCharCode || ch == kDownArrowCharCode;
  bool clearKey = (ch == kDeleteCharCode || ch == kBackspaceCharCode) && c.editing.enabled;
  if (ch != kSpaceCharCode && ch != kLeftArrowCharCode && ch != kRightArrowCharCode &&
      ch != kHomeCharCode && ch != kEndCharCode && !volumeKey && !redoKey && !clearKey)
    return false;
  // A silent movie has no volume to change.
  return !volumeKey || layout(c).speakerShown;
}

void pressKey(VTController& c, char ch, bool shift, bool redoKey) {
  const bool arrow = ch == kLeftArrowCharCode || ch == kRightArrowCharCode;
  if (redoKey) {
    redo(c);
  } else if (ch == kDeleteCharCode || ch == kBackspaceCharCode) {
    // As the Edit menu's Clear, and the filter hears of the edit as the menu would mark it.
    if (hasSelection(c.movie) && clearSelection(c) == noErr && stillLive(c))
      doAction(c, mcActionMovieEdited, nullptr);
  } else if (ch == kSpaceCharCode) {
    togglePlay(c);
  } else if (ch == kUpArrowCharCode || ch == kDownArrowCharCode) {
    stepVolume(c, ch == kUpArrowCharCode ? 1 : -1);
  } else if (ch == kHomeCharCode || ch == kEndCharCode) {
    if (GetMovieRate(c.movie) != 0) SetMovieRate(c.movie, 0);
    setTime(c, ch == kHomeCharCode ? 0 : GetMovieDuration(c.movie));
  } else if (arrow && shift) {
    extendByFrame(c, ch == kRightArrowCharCode);
  } else {
    doAction(c, mcActionStep, (void*)(intptr_t)(ch == kLeftArrowCharCode ? -1 : 1));
  }
}

}  // namespace

ComponentResult mouseDown(VTController& c, const EventRecord* e) {
  WindowRef w = controllerWindow(c);
  if (!w) return 0;
  WindowRef hit = nullptr;
  WindowPartCode part = FindWindow(e->where, &hit);
  if (hit != w || w != FrontWindow()) return 0;  // a window behind comes forward first
  if ((part == inZoomIn || part == inZoomOut) && layout(c).growShown) {
    if (TrackBox(w, e->where, part) && stillLive(c)) toggleZoom(c, w);
    return 1;
  }
  if (part != inContent) return 0;
  Point p = toLocal(w, e->where);
  bool inMovie = PtInRect(p, &c.geometry.movieRect);
  bool inBar = c.geometry.visible && PtInRect(p, &c.geometry.barRect);
  if (!inMovie && !inBar) return 0;
  if (filtered(c, mcActionMouseDown, (void*)e)) return 1;
  if (!stillLive(c)) return 1;
  if (inBar) {
    clickBar(c, w, p, e->modifiers);
    return 1;
  }
  // A click in the movie pauses a playing movie.
  if (!filtered(c, mcActionMovieClick, (void*)e) && stillLive(c) && GetMovieRate(c.movie) != 0)
    doAction(c, mcActionPlay, (void*)0);
  return 1;
}

ComponentResult keyDown(VTController& c, const EventRecord* e) {
  if (!c.input.keysEnabled || !c.bar.active) return 0;
  WindowRef w = controllerWindow(c);
  if (!w || w != FrontWindow()) return 0;
  char ch = (char)(e->message & charCodeMask);
  const bool shift = (e->modifiers & shiftKey) != 0;
  // Redo has no menu item: Ctrl+Shift+Z and Ctrl+Y are the movie window's. Other command keys
  // are the menus'.
  bool redoKey = (e->modifiers & cmdKey) && c.editing.enabled &&
                 ((shift && (ch == 'z' || ch == 'Z')) || (!shift && (ch == 'y' || ch == 'Y')));
  if ((e->modifiers & cmdKey) && !redoKey) return 0;
  if (!isControllerKey(c, ch, redoKey)) return 0;
  if (filtered(c, mcActionKey, (void*)e)) return 1;
  if (!stillLive(c)) return 1;
  pressKey(c, ch, shift, redoKey);
  return 1;
}

}  // namespace vt::controller

// The controller's actions: each is offered to the application's filter first, then looked up
// in the tables below (the switches the application sets and reads, and the rest) and done by
// the part of the controller that owns it.
#include <MacErrors.h>

#include "controller/controller.h"

namespace vt::controller {

namespace {

constexpr long kExplicitBit = 0x80000000L;
constexpr long kFlagMask = 0x7FFFFFFFL;

// Looping, reflecting and what is played change what the sound plays.
void playedChanged(VTController& c) {
  if (GetMovieRate(c.movie) != 0) syncSound(c);
}

void loopingChanged(VTController& c) {
  syncTimeBaseFlags(c);
  playedChanged(c);
}

// A switch the application sets (to value != 0) or reads into a Boolean, and what setting it
// does beyond keeping it.
struct Switch {
  short action;
  bool set;
  bool& (*field)(VTController&);
  void (*changed)(VTController&);
};

bool& looping(VTController& c) { return c.playback.looping; }
bool& palindrome(VTController& c) { return c.playback.palindrome; }
bool& playSelection(VTController& c) { return c.playback.playSelection; }
bool& playEveryFrame(VTController& c) { return c.playback.playEveryFrame; }
bool& keysEnabled(VTController& c) { return c.input.keysEnabled; }
bool& dragEnabled(VTController& c) { return c.input.dragEnabled; }
bool& useBadge(VTController& c) { return c.bar.useBadge; }

const Switch kSwitches[] = {
    {mcActionSetLooping, true, looping, loopingChanged},
    {mcActionGetLooping, false, looping, nullptr},
    {mcActionSetLoopIsPalindrome, true, palindrome, loopingChanged},
    {mcActionGetLoopIsPalindrome, false, palindrome, nullptr},
    {mcActionSetPlaySelection, true, playSelection, playedChanged},
    {mcActionGetPlaySelection, false, playSelection, nullptr},
    {mcActionSetPlayEveryFrame, true, playEveryFrame, nullptr},
    {mcActionGetPlayEveryFrame, false, playEveryFrame, nullptr},
    {mcActionSetKeysEnabled, true, keysEnabled, nullptr},
    {mcActionSetControllerKeysEnabled, true, keysEnabled, nullptr},
    {mcActionGetKeysEnabled, false, keysEnabled, nullptr},
    {mcActionSetDragEnabled, true, dragEnabled, nullptr},
    {mcActionGetDragEnabled, false, dragEnabled, nullptr},
    {mcActionSetUseBadge, true, useBadge, nullptr},
    {mcActionGetUseBadge, false, useBadge, nullptr},
};

ComponentResult doSwitch(VTController& c, const Switch& s, void* params) {
  if (s.set) {
    s.field(c) = (intptr_t)params != 0;
    if (s.changed) s.changed(c);
    return noErr;
  }
  if (!params) return paramErr;
  *(Boolean*)params = s.field(c);
  return noErr;
}

// Writes a value into the application's params; paramErr when there is nowhere to write it.
template <class T>
ComponentResult answer(void* params, T value) {
  if (!params) return paramErr;
  *(T*)params = value;
  return noErr;
}

ComponentResult goToTime(VTController& c, short, void* params) {
  if (!params) return paramErr;
  setTime(c, fromTimeRecord(c, (const TimeRecord*)params));
  return noErr;
}

ComponentResult setSelectionEnd(VTController& c, short action, void* params) {
  if (!params) return paramErr;
  TimeValue st = 0, sd = 0;
  GetMovieSelection(c.movie, &st, &sd);
  TimeValue v = fromTimeRecord(c, (const TimeRecord*)params);
  if (v < 0) return paramErr;
  (action == mcActionSetSelectionBegin ? st : sd) = v;
  SetMovieSelection(c.movie, st, sd);
  if (c.playback.playSelection) playedChanged(c);
  drawBar(c);
  return noErr;
}

ComponentResult setGrowBoxBounds(VTController& c, short, void* params) {
  if (!params) return paramErr;
  c.geometry.growBounds = *(const Rect*)params;
  growBoundsSet(c);
  return noErr;
}

// The top bit addresses the set of explicitly set elements instead of the flags.
ComponentResult setFlags(VTController& c, short, void* params) {
  long value = (long)(intptr_t)params;
  (value & kExplicitBit ? c.bar.explicitFlags : c.bar.flags) = value & kFlagMask;
  drawBar(c);
  return noErr;
}

ComponentResult getFlags(VTController& c, short, void* params) {
  if (!params) return paramErr;
  long* p = (long*)params;
  *p = (*p & kExplicitBit) ? c.bar.explicitFlags : c.bar.flags;
  return noErr;
}

ComponentResult setActive(VTController& c, short action, void*) {
  c.bar.active = action == mcActionActivate;
  drawBar(c);
  return noErr;
}

ComponentResult idle(VTController& c, short, void*) {
  advance(c);
  return noErr;
}

ComponentResult draw(VTController& c, short, void*) {
  redraw(c);
  return noErr;
}

ComponentResult startPlaying(VTController& c, short, void* params) {
  play(c, (Fixed)(intptr_t)params);
  return noErr;
}

ComponentResult stepBy(VTController& c, short, void* params) {
  step(c, (long)(intptr_t)params);
  return noErr;
}

ComponentResult changeVolume(VTController& c, short, void* params) {
  setVolume(c, (short)(intptr_t)params);
  return noErr;
}

ComponentResult edited(VTController& c, short, void*) {
  movieEdited(c);
  return noErr;
}

ComponentResult getVolume(VTController& c, short, void* params) {
  return answer(params, GetMovieVolume(c.movie));
}

ComponentResult getPlayRate(VTController& c, short, void* params) {
  return answer(params, GetMovieRate(c.movie));
}

ComponentResult getSliderRect(VTController& c, short, void* params) {
  return answer(params, layout(c).slider);
}

using Handler = ComponentResult (*)(VTController&, short action, void* params);

struct Entry {
  short action;
  Handler run;
};

const Entry kActions[] = {
    {mcActionIdle, idle},
    {mcActionDraw, draw},
    {mcActionActivate, setActive},
    {mcActionDeactivate, setActive},
    {mcActionPlay, startPlaying},
    {mcActionPrerollAndPlay, startPlaying},
    {mcActionStep, stepBy},
    {mcActionGoToTime, goToTime},
    {mcActionSetVolume, changeVolume},
    {mcActionGetVolume, getVolume},
    {mcActionGetPlayRate, getPlayRate},
    {mcActionGetTimeSliderRect, getSliderRect},
    {mcActionSetGrowBoxBounds, setGrowBoxBounds},
    {mcActionSetSelectionBegin, setSelectionEnd},
    {mcActionSetSelectionDuration, setSelectionEnd},
    {mcActionSetFlags, setFlags},
    {mcActionGetFlags, getFlags},
    {mcActionMovieEdited, edited},
};

// Notifications: nothing of the controller's own to do.
constexpr short kNotices[] = {mcActionSuspend,    mcActionResume,     mcActionControllerSizeChanged,
                              mcActionMouseDown,  mcActionKey,        mcActionMovieClick,
                              mcActionBadgeClick, mcActionShowBalloon};

}  // namespace

bool filtered(VTController& c, short action, void* params) {
  return c.filter && c.filter(handle(c), action, params, c.refCon) != 0;
}

ComponentResult doAction(VTController& c, short action, void* params) {
  if (filtered(c, action, params)) return noErr;
  if (!stillLive(c)) return badComponentInstance;  // the filter disposed of it
  for (const Switch& s : kSwitches)
    if (s.action == action) return doSwitch(c, s, params);
  for (const Entry& e : kActions)
    if (e.action == action) return e.run(c, action, params);
  for (short n : kNotices)
    if (n == action) return noErr;
  return badComponentSelector;
}

}  // namespace vt::controller

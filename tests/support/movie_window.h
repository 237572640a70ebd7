// A test movie (160x120) in a headless window with its controller, and the input and clock
// steps the event loop would give it.
#pragma once
#include <MovieControllers.h>
#include <Quickdraw.h>
#include <VTAutomation.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "movies.h"
#include "movies_env.h"

namespace vt_test {

class MovieWindowTest : public ::testing::Test {
 protected:
  static constexpr short kLeft = 100, kTop = 80;
  WindowRef window = nullptr;
  Movie movie = nullptr;
  MovieController mc = nullptr;
  TimeScale scale = 0;
  short fileRef = 0;  // the movie's file, open while the movie lives

  void openInWindow(const std::string& path, SInt8 permission = fsRdPerm) {
    VTAutomationUseHeadless(800, 600);
    FSSpec spec{};
    ASSERT_EQ(VTMakeFSSpecFromPath(path.c_str(), &spec), noErr);
    ASSERT_EQ(OpenMovieFile(&spec, &fileRef, permission), noErr);
    ASSERT_EQ(NewMovieFromFile(&movie, fileRef, nullptr, nullptr, newMovieActive, nullptr), noErr);
    scale = GetMovieTimeScale(movie);
    Rect bounds{kTop, kLeft, kTop + 200, kLeft + 240};
    window = NewCWindow(nullptr, &bounds, (ConstStr255Param) "\x04Test", true, noGrowDocProc,
                        (WindowRef)-1, true, 0);
    ASSERT_NE(window, nullptr);
    SetPort(GetWindowPort(window));
    SetMovieGWorld(movie, GetWindowPort(window), nullptr);
    Rect box{0, 0, 120, 160};
    mc = NewMovieController(movie, &box, mcTopLeftMovie);
    ASSERT_NE(mc, nullptr);
  }
  void TearDown() override {
    if (mc) DisposeMovieController(mc);
    if (movie) DisposeMovie(movie);
    if (fileRef) CloseMovieFile(fileRef);
    VTMovieScrapClear();
    VTAutomationResetAll();
  }

  // Window-relative to global coordinates, and the screen pixel there.
  Point global(short h, short v) { return Point{(short)(kTop + v), (short)(kLeft + h)}; }
  UInt32 pixelAt(short h, short v) { return VTAutomationScreenPixel(kLeft + h, kTop + v); }
  TimeValue now() { return GetMovieTime(movie, nullptr); }
  double seconds() { return (double)now() / scale; }
  void play(double rate = 1.0) {
    MCDoAction(mc, mcActionPlay, (void*)(intptr_t)(Fixed)(rate * 65536));
  }
  void goTo(TimeValue value, TimeScale in) {
    TimeRecord t{};
    t.scale = in;
    t.value.lo = (UInt32)value;
    MCDoAction(mc, mcActionGoToTime, &t);
  }
  // Several idles, as the event loop gives them, each seeing part of the elapsed time.
  void idleFor(UInt32 ticks, UInt32 step = 5) {
    for (UInt32 i = 0; i < ticks; i += step) {
      VTAutomationAdvanceTicks(std::min(step, ticks - i));
      MCIdle(mc);
    }
  }
  // Hands queued input to the controller the way the event loop does; returns its answer to
  // the first event of the given kind (-1 when there is none).
  long deliver(EventKind kind) {
    EventRecord e;
    for (int i = 0; i < 20 && GetNextEvent(everyEvent, &e); ++i)
      if (e.what == kind) return MCIsPlayerEvent(mc, &e);
    return -1;
  }
  // Through the controller's actions, in `in` (the movie's scale when 0).
  void select(TimeValue begin, TimeValue duration, TimeScale in = 0) {
    TimeRecord r{};
    r.scale = in ? in : scale;
    r.value.lo = (UInt32)begin;
    MCDoAction(mc, mcActionSetSelectionBegin, &r);
    r.value.lo = (UInt32)duration;
    MCDoAction(mc, mcActionSetSelectionDuration, &r);
  }
  std::pair<TimeValue, TimeValue> selection() {
    TimeValue st = -1, sd = -1;
    GetMovieSelection(movie, &st, &sd);
    return {st, sd};
  }
  long click(Point where, EventModifiers mods = 0) {
    VTAutomationPostClick(where, mods);
    return deliver(mouseDown);
  }
  long key(char ch, EventModifiers mods = 0) {
    VTAutomationPostKey(ch, mods);
    return deliver(keyDown);
  }
};

}  // namespace vt_test

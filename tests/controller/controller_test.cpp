// The movie controller in a headless window, played by the platform clock.
#include <tuple>
#include <utility>
#include <vector>

#include "controller/controller.h"
#include "fixtures.h"
#include "movie_window.h"

namespace {

bool isRed(UInt32 p) {
  return ((p >> 16) & 0xFF) > 200 && ((p >> 8) & 0xFF) < 50 && (p & 0xFF) < 50;
}
bool isBlue(UInt32 p) {
  return ((p >> 16) & 0xFF) < 50 && ((p >> 8) & 0xFF) < 50 && (p & 0xFF) > 200;
}

struct FilterLog {
  std::vector<short> actions;
  short veto = -1;
  TimeValue timeSeenAtGoTo = -1;
};

Boolean logFilter(MovieController mc, short action, void*, long refCon) {
  auto* log = (FilterLog*)refCon;
  log->actions.push_back(action);
  if (action == mcActionGoToTime) log->timeSeenAtGoTo = GetMovieTime(MCGetIndMovie(mc, 0), nullptr);
  return action == log->veto;
}

class Controller : public vt_test::MovieWindowTest {
 protected:
  void SetUp() override {
    // Red for the first second, blue for the second, 10 frames a second, lossless.
    openInWindow(vt_test::fixture(
        "ctl_red_blue.mov",
        "-f lavfi -i 'color=c=red:s=160x120:r=10:d=1[a];color=c=blue:s=160x120:r=10:d=1[b];"
        "[a][b]concat=n=2:v=1:a=0[out0]' -c:v png"));
    MCEnableEditing(mc, true);
    f = scale / 10;
  }
  TimeValue f = 0;  // one frame
  Rect slider() {
    Rect r{};
    EXPECT_EQ(MCDoAction(mc, mcActionGetTimeSliderRect, &r), noErr);
    return r;
  }
  // The point on the slider's track for movie time `t`.
  Point sliderAt(TimeValue t) {
    const Rect s = slider();
    return global((short)(s.left + 4 + (s.right - s.left - 8) * t / (2 * scale)), 128);
  }
  Rect bounds() {
    Rect r{-1, -1, -1, -1};
    EXPECT_EQ(MCGetControllerBoundsRect(mc, &r), noErr);
    return r;
  }
  long info() {
    long i = -1;
    EXPECT_EQ(MCGetControllerInfo(mc, &i), noErr);
    return i;
  }
};

// Playing follows the clock, composing each frame once from idles every tick, keeps to the
// selection when asked, and stops or loops at the end.
TEST_F(Controller, PlaybackFollowsTheClockAndStopsOrLoopsAtTheEnd) {
  select(scale / 2, scale / 2);
  MCDoAction(mc, mcActionSetPlaySelection, (void*)1);
  play();
  EXPECT_EQ(now(), scale / 2);
  idleFor(60);
  EXPECT_EQ(now(), scale);
  EXPECT_EQ(GetMovieRate(movie), 0);
  MCDoAction(mc, mcActionSetPlaySelection, (void*)0);

  goTo(0, 1);
  play();
  EXPECT_TRUE(info() & mcInfoIsPlaying);
  const long composed = vt::controller::live(mc)->picture.framesShown;
  idleFor(30, 1);  // half a second
  EXPECT_NEAR(now(), scale / 2, scale / 60 + 1);
  EXPECT_NEAR(vt::controller::live(mc)->picture.framesShown - composed, 5, 1);
  idleFor(45);
  EXPECT_TRUE(isBlue(pixelAt(80, 60))) << "the frame follows the time while playing";
  Fixed rate = 0;
  MCDoAction(mc, mcActionGetPlayRate, &rate);
  EXPECT_EQ(rate, IntToFixed(1));

  // Without looping it stops at the end, showing the last frame.
  idleFor(200);
  EXPECT_EQ(now(), 2 * scale);
  EXPECT_EQ(GetMovieRate(movie), 0);
  EXPECT_TRUE(isBlue(pixelAt(80, 60)));
  // Playing again from the end starts over.
  play();
  idleFor(6);
  EXPECT_LT(now(), scale / 2);

  // Looping wraps round.
  MCDoAction(mc, mcActionSetLooping, (void*)1);
  MCDoAction(mc, mcActionGoToTime, nullptr);  // bad parameter: no change, no crash
  idleFor(150);  // 2.5 s more from ~0.1 s: 2.6 s, i.e. 0.6 s into the second pass
  EXPECT_NEAR(now(), scale * 6 / 10, scale / 30 + 1);
  EXPECT_TRUE(GetTimeBaseFlags(GetMovieTimeBase(movie)) & loopTimeBase);

  // Palindrome looping turns round at the end and plays backwards.
  MCDoAction(mc, mcActionSetLoopIsPalindrome, (void*)1);
  idleFor(120);  // 0.6 + 2.0 = 2.6 s: 0.6 s back from the end
  EXPECT_NEAR(now(), scale * 14 / 10, scale / 30 + 1);
  EXPECT_LT(GetMovieRate(movie), 0);
  EXPECT_EQ(info() & (mcInfoIsLooping | mcInfoIsInPalindrome),
            mcInfoIsLooping | mcInfoIsInPalindrome);
  Boolean b = false;
  MCDoAction(mc, mcActionGetLoopIsPalindrome, &b);
  EXPECT_TRUE(b);
}

// The same movie with an alpha channel: its pictures are composed (over black), so playing
// prepares them ahead.
class ComposedPlayback : public Controller {
 protected:
  void SetUp() override {
    openInWindow(vt_test::fixture(
        "ctl_red_blue_rgba.mov",
        "-f lavfi -i 'color=c=red:s=160x120:r=10:d=1[a];color=c=blue:s=160x120:r=10:d=1[b];"
        "[a][b]concat=n=2:v=1:a=0,format=rgba[out0]' -c:v png"));
    f = scale / 10;
  }
};

// Pictures prepared ahead are each shown once, in play order, round the loop point too: a
// tick at a time, the shown frames are exactly the movie's frames, twice over, none dropped.
TEST_F(ComposedPlayback, PlayingShowsEveryFrameOnceInOrderRoundTheLoop) {
  MCDoAction(mc, mcActionSetLooping, (void*)1);
  const vt::controller::Picture& pic = vt::controller::live(mc)->picture;
  play();
  std::vector<TimeValue> shown{(TimeValue)pic.drawn.start};
  for (long count = pic.framesShown, tick = 0; tick < 300 && shown.size() < 40; tick++) {
    idleFor(1, 1);
    if (pic.framesShown != count) shown.push_back((TimeValue)pic.drawn.start);
    ASSERT_LE(pic.framesShown, count + 1) << "one picture a tick at most";
    count = pic.framesShown;
  }
  std::vector<TimeValue> expected;
  for (int i = 0; i < 40; i++) expected.push_back(i % 20 * f);
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(pic.framesDropped, 0);
}

// A picture prepared before an edit made behind the controller's back is not shown after it:
// with [0.9 s, 1.9 s) deleted, the frame at 0.9 s is blue, no longer the red one prepared.
TEST_F(ComposedPlayback, AnEditWhilePlayingIsShownNotThePicturesPreparedBeforeIt) {
  goTo(7 * f, scale);
  play();
  idleFor(3, 1);
  ASSERT_GE(vt::controller::live(mc)->picture.prepared.size(), 2u);
  ASSERT_EQ(DeleteMovieSegment(movie, 9 * f, 10 * f), noErr);
  idleFor(9, 1);  // 0.2 s in: 0.9 s
  ASSERT_EQ(now(), 9 * f);
  EXPECT_TRUE(isBlue(pixelAt(80, 60)));
}

// Stopped, moved and played again, the first picture is the new time's, not one prepared for
// the old one, whether the move went forward or back.
TEST_F(ComposedPlayback, PlayAfterStopAndSeekShowsTheNewTimeFirst) {
  for (auto [from, to] : {std::pair{0, 15}, std::pair{10, 2}}) {
    goTo(from * f, scale);
    play();
    idleFor(4, 1);
    ASSERT_FALSE(vt::controller::live(mc)->picture.prepared.empty());
    play(0);
    goTo(to * f, scale);
    play();
    EXPECT_EQ(vt::controller::live(mc)->picture.drawn.start, to * f) << from << " to " << to;
    EXPECT_EQ(to >= 10, isBlue(pixelAt(80, 60))) << from << " to " << to;
    play(0);
  }
}

TEST_F(Controller, ClicksOnPlayAndOnTheSliderAndSteps) {
  const Rect bar = slider();
  ASSERT_GT(bar.right - bar.left, 40);
  // The play button sits at the bar's left end.
  EXPECT_EQ(click(global(8, 128)), 1);
  EXPECT_NE(GetMovieRate(movie), 0);
  EXPECT_EQ(click(global(8, 128)), 1);
  EXPECT_EQ(GetMovieRate(movie), 0);

  // Dragging the thumb to the slider's middle goes to the middle of the movie.
  VTAutomationPostDrag(sliderAt(0), sliderAt(scale), 6);
  EXPECT_EQ(deliver(mouseDown), 1);
  EXPECT_NEAR(now(), scale, scale / 20);

  // Step back from frame 10 lands on frame 9 (red); step forward returns.
  goTo(scale, scale);  // start of frame 10
  EXPECT_EQ(click(global((short)(bar.right + 7), 128)), 1);
  EXPECT_EQ(now(), scale * 9 / 10);
  EXPECT_TRUE(isRed(pixelAt(80, 60)));
  EXPECT_EQ(click(global((short)(bar.right + 21), 128)), 1);
  EXPECT_EQ(now(), scale);

  // A click in the movie while playing pauses; a click outside movie and bar is not taken.
  play();
  EXPECT_EQ(click(global(80, 60)), 1);
  EXPECT_EQ(GetMovieRate(movie), 0);
  EXPECT_EQ(click(global(200, 180)), 0);

  // Hiding the step buttons widens the slider.
  MCDoAction(mc, mcActionSetFlags, (void*)(intptr_t)mcFlagSuppressStepButtons);
  EXPECT_GT(slider().right, bar.right);
}

// The filter hears of each action, and of each change of bounds, before the controller acts.
TEST_F(Controller, FilterSeesActionsFirstAndTheBarCanHideOrDetach) {
  FilterLog log;
  MCSetActionFilterWithRefCon(mc, NewMCActionFilterWithRefConUPP(logFilter), (long)&log);
  goTo(scale, scale);
  EXPECT_EQ(log.timeSeenAtGoTo, 0) << "the filter runs before the controller acts";
  EXPECT_EQ(now(), scale);
  log.veto = mcActionPlay;
  play();
  EXPECT_EQ(GetMovieRate(movie), 0) << "a vetoed action is not carried out";
  MCDoAction(mc, mcActionSetKeysEnabled, (void*)1);
  EXPECT_EQ(key(' '), 1);
  EXPECT_EQ(GetMovieRate(movie), 0) << "space plays through the play action, vetoed too";
  log.veto = -1;
  log.actions.clear();
  MCIdle(mc);
  EventRecord null{};  // a null event
  EXPECT_EQ(MCIsPlayerEvent(mc, &null), 0) << "null events are not claimed";
  EXPECT_EQ(log.actions, (std::vector<short>{mcActionIdle, mcActionIdle}));
  MCActivate(mc, window, false);
  EXPECT_EQ(log.actions.back(), mcActionDeactivate);

  EXPECT_EQ(MCGetVisible(mc), 1);
  MCDoAction(mc, mcActionDraw, window);
  EXPECT_NE(pixelAt(80, 120 + 4), 0xFFFFFFFFu);
  log.actions.clear();
  ASSERT_EQ(MCSetVisible(mc, false), noErr);
  EXPECT_EQ(MCGetVisible(mc), 0);
  EXPECT_EQ(bounds().bottom, 120);
  EXPECT_EQ(log.actions, std::vector<short>{mcActionControllerSizeChanged});
  MCSetVisible(mc, false);
  EXPECT_EQ(log.actions.size(), 1u) << "no change, no notice";
  // Where the bar was is redrawn blank by the update that hiding it caused.
  EXPECT_EQ(deliver(updateEvt), 1);
  EXPECT_EQ(pixelAt(80, 120 + 4), 0xFFFFFFFFu);
  log.actions.clear();
  MCSetVisible(mc, true);
  EXPECT_EQ(bounds().bottom, 136);
  EXPECT_EQ(log.actions, std::vector<short>{mcActionControllerSizeChanged});

  // Detached, the bounds are the bar alone; it can be put above the movie.
  EXPECT_EQ(MCIsControllerAttached(mc), 1);
  MCSetControllerAttached(mc, false);
  EXPECT_EQ(MCIsControllerAttached(mc), 0);
  EXPECT_EQ(bounds().bottom - bounds().top, 16);
  Rect barTop{0, 0, 16, 160}, movieBelow{17, 0, 137, 160};
  MCPositionController(mc, &movieBelow, &barTop, 0);
  Rect r = bounds();
  EXPECT_TRUE(EqualRect(&r, &barTop));
  Rect box;
  GetMovieBox(movie, &box);
  EXPECT_TRUE(EqualRect(&box, &movieBelow));
  MCSetControllerAttached(mc, true);
  EXPECT_EQ(bounds().top, 17);
  EXPECT_EQ(bounds().bottom, 137 + 16);

  MCSetActionFilterWithRefCon(mc, nullptr, 0);
  log.actions.clear();
  MCIdle(mc);
  EXPECT_TRUE(log.actions.empty()) << "a removed filter is not called";
}

// Drawing the frame at the current time with the bar below, also within an update event.
TEST_F(Controller, DrawsTheFrameAtTheCurrentTimeWithTheBarBelow) {
  Rect r = bounds(), whole{0, 0, 120 + 16, 160};
  EXPECT_TRUE(EqualRect(&r, &whole));
  MCDoAction(mc, mcActionDraw, window);
  EXPECT_TRUE(isRed(pixelAt(80, 60)) && isRed(pixelAt(1, 1)));
  EXPECT_FALSE(isRed(pixelAt(80, 122)));
  EXPECT_NE(pixelAt(80, 122), pixelAt(80, 150)) << "the bar is drawn under the movie";
  goTo(1500, 1000);
  EXPECT_NEAR(now(), scale * 3 / 2, 1);
  EXPECT_TRUE(isBlue(pixelAt(80, 60)));
  Rect all{0, 0, 200, 240};
  InvalWindowRect(window, &all);
  EXPECT_EQ(deliver(updateEvt), 1);
  EventRecord e;
  EXPECT_FALSE(EventAvail(updateMask, &e)) << "the update region was cleared";
}

TEST_F(Controller, OrdinaryAndExplicitFlagsAreKeptApart) {
  auto flags = [&](long which) {  // 0x80000000 asks for the explicit ones
    MCDoAction(mc, mcActionGetFlags, &which);
    return which;
  };
  EXPECT_EQ(flags(0), 0);
  MCDoAction(mc, mcActionSetFlags, (void*)(intptr_t)mcFlagsUseWindowPalette);
  MCDoAction(mc, mcActionSetFlags, (void*)(intptr_t)(0x80000000L | 0x20000L));
  EXPECT_EQ(flags(0), mcFlagsUseWindowPalette);
  EXPECT_EQ(flags(0x80000000L), 0x20000L);
  EXPECT_EQ(MCDoAction(mc, 999, nullptr), badComponentSelector);
}

// Selections in another time scale, and what info says can be done with and without editing.
TEST_F(Controller, InfoOffersEditsOnlyForASelectionWithEditingEnabled) {
  MCEnableEditing(mc, false);
  select(250, 500, 1000);
  EXPECT_EQ(selection(), std::make_pair(scale / 4, scale / 2));
  EXPECT_EQ(MCDoAction(mc, mcActionSetSelectionBegin, nullptr), paramErr);
  EXPECT_EQ(info() & (mcInfoEditingEnabled | mcInfoCutAvailable | mcInfoCopyAvailable), 0);
  EXPECT_EQ(MCCut(mc), nullptr) << "no editing, no cut";
  EXPECT_EQ(GetMovieDuration(movie), scale * 2);
  MCEnableEditing(mc, true);
  select(scale / 4, 0);
  EXPECT_EQ(selection(), std::make_pair(scale / 4, 0)) << "select none keeps the start";
  EXPECT_EQ(info(), mcInfoEditingEnabled);
  select(0, scale / 2);
  const long edits = mcInfoCutAvailable | mcInfoCopyAvailable | mcInfoClearAvailable |
                     mcInfoPasteAvailable | mcInfoUndoAvailable;
  EXPECT_EQ(info() & edits, mcInfoCutAvailable | mcInfoCopyAvailable | mcInfoClearAvailable);
}

TEST_F(Controller, CopyingPutsTheSelectionOnTheScrapAndIsNoEdit) {
  select(0, scale / 2);
  Movie copy = MCCopy(mc);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(GetMovieDuration(copy), GetMovieTimeScale(copy) / 2);
  EXPECT_EQ(PutMovieOnScrap(copy, 0), noErr);
  DisposeMovie(copy);
  EXPECT_EQ(info() & (mcInfoPasteAvailable | mcInfoUndoAvailable), mcInfoPasteAvailable);
  EXPECT_EQ(PutMovieOnScrap(nullptr, 0), invalidMovie);
  EXPECT_TRUE(VTMovieScrapHasMovie()) << "a failed put leaves the scrap alone";
}

// An empty movie (File > New) gets a bar wide enough for its buttons; played with no port to
// draw in, it neither crashes nor keeps running. A picture pasted into it sizes it and shows.
TEST_F(Controller, AnEmptyMovieGetsAButtonBarAndAPastedPictureSizesIt) {
  select(0, scale / 2);
  Movie copy = MCCopy(mc);
  ASSERT_EQ(PutMovieOnScrap(copy, 0), noErr);
  DisposeMovie(copy);
  EXPECT_EQ(NewMovieController(nullptr, nullptr, 0), nullptr);
  Movie empty = NewMovie(newMovieActive);
  EXPECT_EQ(NewMovieController(empty, nullptr, 0), nullptr);
  Rect none{0, 0, 0, 0};
  MovieController emc = NewMovieController(empty, &none, mcTopLeftMovie);
  ASSERT_NE(emc, nullptr);
  Rect r{};
  MCGetControllerBoundsRect(emc, &r);
  EXPECT_EQ(r.bottom, 16);
  EXPECT_GE(r.right, 100);
  EXPECT_EQ(MCGetIndMovie(emc, 1), nullptr);
  MCDoAction(emc, mcActionPlay, (void*)(intptr_t)fixed1);
  MCIdle(emc);
  EXPECT_EQ(GetMovieRate(empty), 0);
  EXPECT_EQ(MCGetControllerInfo(emc, nullptr), paramErr);
  SetMovieGWorld(empty, GetWindowPort(window), nullptr);
  MCEnableEditing(emc, true);
  ASSERT_EQ(MCPaste(emc, nullptr), noErr);
  MCGetControllerBoundsRect(emc, &r);
  EXPECT_EQ(r.bottom * 1000 + r.right, 136 * 1000 + 160);
  MCDoAction(emc, mcActionDraw, window);
  EXPECT_TRUE(isRed(pixelAt(80, 60)));
  DisposeMovieController(emc);
  DisposeMovie(empty);
}

TEST_F(Controller, ADisposedControllerIsRefusedNotUsed) {
  DisposeMovieController(mc);  // TearDown disposes it again: that is ignored
  long stale = 7;
  EXPECT_EQ(MCGetControllerInfo(mc, &stale), badComponentInstance);
  EXPECT_EQ(stale, 0);
  EXPECT_EQ(MCDoAction(mc, mcActionPlay, nullptr), badComponentInstance);
  EXPECT_EQ(MCIsPlayerEvent(mc, nullptr), 0);
  EXPECT_EQ(MCGetVisible(nullptr), 0);
  EXPECT_EQ(MCCut(nullptr), nullptr);
  EXPECT_EQ(MCUndo(nullptr), badComponentInstance);
}

// Keys (only when enabled, never with Command); selections in whole frames by Shift+arrows and on
// the slider, kept through play and scrubbing; edits on them with undo.
TEST_F(Controller, KeysSelectionAndEditsOnIt) {
  EXPECT_EQ(key(' '), 0) << "keys are off until enabled";
  MCDoAction(mc, mcActionSetKeysEnabled, (void*)1);
  EXPECT_EQ(key(' ', cmdKey) + key('x'), 0);
  EXPECT_EQ(key(' '), 1);
  EXPECT_NE(GetMovieRate(movie), 0);
  const std::pair<char, TimeValue> moves[] = {
      {(char)kEndCharCode, 2 * scale}, {(char)kHomeCharCode, 0}, {(char)kRightArrowCharCode, f}};
  for (auto [ch, to] : moves) {
    EXPECT_EQ(key(ch), 1);
    EXPECT_EQ(now(), to);
  }
  EXPECT_EQ(GetMovieRate(movie), 0);
  for (int i = 0; i < 3; ++i) key((char)kRightArrowCharCode, shiftKey);
  key((char)kLeftArrowCharCode, shiftKey);
  EXPECT_EQ(selection(), std::make_pair(f, 2 * f));

  // Shift-drag from 1.55 s to 0.45 s: from the current frame's start to the start of the frame
  // under the mouse, which is shown; a shift-click past the end then moves the end at the
  // playhead, past the other (to a frame's end).
  select(0, 0);
  SetMovieTimeValue(movie, 15 * f + f / 2);
  VTAutomationPostDrag(sliderAt(10 * f), sliderAt(4 * f + f / 2), 4, shiftKey);
  ASSERT_EQ(deliver(mouseDown), 1);
  auto [st, sd] = selection();
  EXPECT_EQ(st + sd, 15 * f);
  EXPECT_EQ(st % f, 0);
  EXPECT_NEAR(st, 4 * f, f);
  EXPECT_EQ(now(), st);
  click(sliderAt(17 * f + f / 2), shiftKey);
  EXPECT_EQ(selection().first, 15 * f);
  std::tie(st, sd) = selection();
  EXPECT_EQ((st + sd) % f, 0);
  EXPECT_NEAR(st + sd, 18 * f, f);
  play();
  idleFor(20);
  VTAutomationPostDrag(sliderAt(2 * f), sliderAt(6 * f), 3);
  deliver(mouseDown);
  EXPECT_EQ(selection(), std::make_pair(st, sd));

  // Cut takes the selection, undo puts it back, redo cuts again; Paste at the start puts its
  // blue frames there; Clear removes a selection.
  Movie cut = MCCut(mc);
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(GetMovieDuration(cut), sd);
  ASSERT_EQ(MCUndo(mc), noErr);
  EXPECT_EQ(GetMovieDuration(movie), 2 * scale);
  ASSERT_EQ(VTMCRedo(mc), noErr);
  EXPECT_EQ(GetMovieDuration(movie), 2 * scale - sd);
  ASSERT_EQ(PutMovieOnScrap(cut, 0), noErr);
  DisposeMovie(cut);
  key((char)kHomeCharCode);
  ASSERT_EQ(MCPaste(mc, nullptr), noErr);
  EXPECT_EQ(selection(), std::make_pair(0, sd));
  EXPECT_TRUE(isBlue(pixelAt(80, 60)));
  ASSERT_EQ(MCClear(mc), noErr);
  EXPECT_EQ(GetMovieDuration(movie), 2 * scale - sd);
}

// Once grow-box bounds are set, the grow and zoom boxes scale the picture at its shape within
// them and the window follows; a movie too large for them shrinks to fit.
TEST_F(Controller, GrowBoxZoomBoxAndFittingTheScreen) {
  const Rect screen{40, 0, 600, 800};
  MCDoAction(mc, mcActionSetGrowBoxBounds, (void*)&screen);
  Rect win;
  auto size = [&] {  // the movie's, checking the window fits the screen and the controller
    Rect box, port;
    GetMovieBox(movie, &box);
    GetWindowPortBounds(window, &port);
    GetWindowBounds(window, kWindowStructureRgn, &win);
    EXPECT_TRUE(win.left >= 0 && win.top >= 40 && win.right <= 800 && win.bottom <= 600);
    EXPECT_EQ(port.bottom - port.top, box.bottom - box.top + 16);
    EXPECT_NEAR((box.right - box.left) * 3, (box.bottom - box.top) * 4, 4);
    return box.right - box.left;
  };
  VTAutomationPostDrag(global(152, 128), global(232, 130), 4);  // the grow box, 80 px right
  ASSERT_EQ(deliver(mouseDown), 1);
  EXPECT_EQ(size(), 240);
  MCDoAction(mc, mcActionDraw, window);
  EXPECT_TRUE(isRed(pixelAt(230, 170)));
  VTAutomationPostDrag(global(232, 188), global(2000, 2000), 4);
  deliver(mouseDown);
  const int dragged = size();
  const Rect before = win;
  for (int zoomed : {1, 0}) {
    Rect zoom;
    GetWindowBounds(window, kWindowZoomBoxRgn, &zoom);
    ASSERT_EQ(click(Point{(short)(zoom.top + 4), (short)(zoom.left + 4)}), 1);
    EXPECT_EQ(size() == dragged, !zoomed);
    EXPECT_EQ(zoomed ? win.bottom >= 596 || win.right >= 796 : EqualRect(&win, &before), true);
  }
  Rect huge{0, 0, 1200, 1600};
  MCPositionController(mc, &huge, nullptr, 0);
  MCDoAction(mc, mcActionSetGrowBoxBounds, (void*)&screen);
  EXPECT_LT(size(), 800);
}

// A Shift-extension outside the selection starts a new one at the playhead; inside it, the end
// nearer the playhead moves. What is drawn selected is what Cut takes.
TEST_F(Controller, ShiftExtensionsWorkFromThePlayhead) {
  MCDoAction(mc, mcActionSetKeysEnabled, (void*)1);
  struct Case {
    const char* what;
    TimeValue st, sd, playhead;
    int arrows;       // Shift+Right (positive) or Shift+Left presses
    TimeValue click;  // a Shift-click on the slider there instead, -1 for none
    TimeValue wantStart, wantEnd;
  };
  const Case cases[] = {
      {"before the selection: a new one", 10 * f, 10 * f, 0, 3, -1, 0, 3 * f},
      {"after it, backwards", 2 * f, 3 * f, 8 * f, -2, -1, 6 * f, 8 * f},
      {"inside, nearer the end", 2 * f, 6 * f, 7 * f, 1, -1, 2 * f, 9 * f},
      {"inside, nearer the start", 2 * f, 6 * f, 3 * f, 1, -1, 3 * f, 8 * f},
      {"inside, start moves back", 2 * f, 6 * f, 3 * f, -1, -1, f, 8 * f},
      {"nothing selected, mid-frame", 0, 0, 5 * f + f / 2, 2, -1, 5 * f, 7 * f},
      {"at the end, backwards", 4 * f, 2 * f, 20 * f, -1, -1, 19 * f, 20 * f},
      {"click outside: a new one", 10 * f, 10 * f, 2 * f, 0, 5 * f + f / 2, 2 * f, 6 * f},
      {"click inside: nearer end", 2 * f, 6 * f, 7 * f, 0, 12 * f + f / 2, 2 * f, 13 * f},
      {"click inside: nearer start", 2 * f, 6 * f, 3 * f, 0, f / 2, 0, 8 * f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    select(c.st, c.sd);
    SetMovieTimeValue(movie, c.playhead);
    for (int i = 0; i < std::abs(c.arrows); ++i)
      ASSERT_EQ(key(c.arrows > 0 ? (char)kRightArrowCharCode : (char)kLeftArrowCharCode, shiftKey),
                1);
    if (c.click >= 0) {
      ASSERT_EQ(click(sliderAt(c.click), shiftKey), 1);
    }
    EXPECT_EQ(selection(), std::make_pair(c.wantStart, c.wantEnd - c.wantStart));
    Movie cut = MCCut(mc);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(GetMovieDuration(cut), c.wantEnd - c.wantStart);
    EXPECT_EQ(GetMovieDuration(movie), 2 * scale - (c.wantEnd - c.wantStart));
    DisposeMovie(cut);
    ASSERT_EQ(MCUndo(mc), noErr);
    ASSERT_EQ(GetMovieDuration(movie), 2 * scale);
  }
}

// Undo walks back through every edit and Redo forward again; a new edit drops what could be
// redone; the history keeps its newest steps within its bounds.
TEST_F(Controller, UndoHistoryGoesBackAndForthThroughEveryEdit) {
  EXPECT_EQ(MCUndo(mc), paramErr) << "nothing to undo yet";
  EXPECT_EQ(VTMCRedo(mc), paramErr);
  select(0, f);
  Movie one = MCCopy(mc);
  ASSERT_NE(one, nullptr);
  // 120 pastes of one frame, then as many undos and redos.
  const int edits = 120;
  for (int i = 0; i < edits; ++i) {
    select(0, 0);
    ASSERT_EQ(MCPaste(mc, one), noErr) << i;
  }
  ASSERT_EQ(GetMovieDuration(movie), 2 * scale + edits * f);
  for (int i = edits - 1; i >= 0; --i) {
    ASSERT_TRUE(info() & mcInfoUndoAvailable) << i;
    ASSERT_EQ(MCUndo(mc), noErr) << i;
    ASSERT_EQ(GetMovieDuration(movie), 2 * scale + i * f);
  }
  EXPECT_FALSE(info() & mcInfoUndoAvailable);
  EXPECT_EQ(MCUndo(mc), paramErr);
  for (int i = 1; i <= edits; ++i) {
    ASSERT_EQ(VTMCRedo(mc), noErr) << i;
    ASSERT_EQ(GetMovieDuration(movie), 2 * scale + i * f);
  }
  EXPECT_EQ(VTMCRedo(mc), paramErr);

  // Two back, then a new edit: nothing is left to redo, and undo goes back over the new edit
  // first and then the older ones.
  ASSERT_EQ(MCUndo(mc), noErr);
  ASSERT_EQ(MCUndo(mc), noErr);
  select(0, 3 * f);
  ASSERT_EQ(MCClear(mc), noErr);
  EXPECT_EQ(VTMCRedo(mc), paramErr);
  ASSERT_EQ(MCUndo(mc), noErr);
  EXPECT_EQ(GetMovieDuration(movie), 2 * scale + (edits - 2) * f);
  ASSERT_EQ(MCUndo(mc), noErr);
  EXPECT_EQ(GetMovieDuration(movie), 2 * scale + (edits - 3) * f);

  // Past its step count the oldest steps go; past its memory all but the newest.
  auto* c = vt::controller::live(mc);
  for (size_t i = 0; i < vt::controller::kUndoSteps + 5; ++i) ASSERT_EQ(MCPaste(mc, one), noErr);
  EXPECT_EQ(c->editing.undoSteps.size(), vt::controller::kUndoSteps);
  EXPECT_TRUE(c->editing.redoSteps.empty());
  c->editing.undoMemory = vt::controller::historyBytes(*c) / 2;
  ASSERT_EQ(MCPaste(mc, one), noErr);
  EXPECT_LE(vt::controller::historyBytes(*c), c->editing.undoMemory);
  EXPECT_GT(c->editing.undoSteps.size(), 1u);
  c->editing.undoMemory = 1;
  const TimeValue before = GetMovieDuration(movie);
  ASSERT_EQ(MCPaste(mc, one), noErr);
  EXPECT_EQ(c->editing.undoSteps.size(), 1u) << "the newest step stays";
  ASSERT_EQ(MCUndo(mc), noErr);
  EXPECT_EQ(GetMovieDuration(movie), before);
  EXPECT_EQ(c->editing.undoSteps.size() + c->editing.redoSteps.size(), 1u);
  DisposeMovie(one);
}

// Delete and Backspace clear the selection as Clear does; Ctrl+Y and Ctrl+Shift+Z redo. The
// filter hears of both as an edit; with nothing to clear nothing happens.
TEST_F(Controller, DeleteKeysClearAndRedoKeysRedoTellingTheFilter) {
  FilterLog log;
  MCSetActionFilterWithRefCon(mc, NewMCActionFilterWithRefConUPP(logFilter), (long)&log);
  MCDoAction(mc, mcActionSetKeysEnabled, (void*)1);
  auto edited = [&] {
    return std::count(log.actions.begin(), log.actions.end(), mcActionMovieEdited);
  };
  const struct {
    char key;
    EventModifiers mods;
    bool redo;
  } keys[] = {{(char)kDeleteCharCode, 0, false},
              {(char)kBackspaceCharCode, 0, false},
              {'y', cmdKey, true},
              {'Z', cmdKey | shiftKey, true}};
  for (auto k : keys) {
    SCOPED_TRACE((int)k.key);
    log.actions.clear();
    TimeValue dur = GetMovieDuration(movie);
    if (k.redo) {
      select(0, 2 * f);
      ASSERT_EQ(MCClear(mc), noErr);
      ASSERT_EQ(MCUndo(mc), noErr);
      dur = GetMovieDuration(movie);
    } else {
      select(2 * f, 0);
      EXPECT_EQ(key(k.key, k.mods), 1);
      EXPECT_EQ(GetMovieDuration(movie), dur) << "nothing selected, nothing cleared";
      EXPECT_EQ(edited(), 0);
      select(2 * f, 3 * f);
    }
    EXPECT_EQ(key(k.key, k.mods), 1);
    EXPECT_EQ(GetMovieDuration(movie), dur - (k.redo ? 2 : 3) * f);
    EXPECT_EQ(edited(), 1);
  }
  // Without editing the keys are not the controller's: Ctrl+Y goes on to the menus.
  MCEnableEditing(mc, false);
  select(0, f);
  EXPECT_EQ(key((char)kDeleteCharCode), 0);
  EXPECT_EQ(key('y', cmdKey), 0);
  EXPECT_EQ(key('z', cmdKey), 0) << "undo is the Edit menu's";
}

// The time display: h:mm:ss.ff (never rounded up to a time not yet reached) in any time scale.
TEST(ControllerTime, FormatsHoursMinutesSecondsAndHundredths) {
  const struct {
    TimeValue t;
    TimeScale scale;
    const char* text;
  } cases[] = {{0, 600, "0:00:00.00"},
               {599, 600, "0:00:00.99"},
               {900, 600, "0:00:01.50"},
               {61 * 15360 + 7680, 15360, "0:01:01.50"},
               {3725 * 9000, 9000, "1:02:05.00"},
               {2002, 60000, "0:00:00.03"},
               {1000 * 36000 - 1, 1000, "9:59:59.99"},
               {-5, 600, "0:00:00.00"},
               {100, 0, "0:00:00.00"},
               {INT32_MAX, 90000, "6:37:40.92"}};
  for (auto c : cases) EXPECT_EQ(vt::controller::formatTime(c.t, c.scale), c.text) << c.t;
}

// The bar shows the time and duration where it is wide enough and not otherwise; a click on
// the display switches to frame numbers (the frame shown, of how many) and back.
TEST_F(Controller, TimeDisplayShowsTimesOrFramesWhereTheBarHasRoom) {
  auto* c = vt::controller::live(mc);
  vt::controller::BarLayout narrow = vt::controller::layout(*c);
  EXPECT_FALSE(narrow.timeShown) << "a 160 px bar keeps its room for the slider";
  SizeWindow(window, 480, 200, true);
  Rect wide{0, 0, 120, 420};
  MCPositionController(mc, &wide, nullptr, 0);
  vt::controller::BarLayout l = vt::controller::layout(*c);
  ASSERT_TRUE(l.timeShown);
  EXPECT_GE(l.slider.right - l.slider.left, 64);
  EXPECT_EQ(l.time.left, l.slider.right);
  const short mid = (short)((l.time.top + l.time.bottom) / 2);
  auto textPixels = [&] {  // dark pixels in the display
    int n = 0;
    for (short h = l.time.left + 2; h < l.time.right; ++h)
      for (short v = l.time.top + 2; v < l.time.bottom - 1; ++v) n += (pixelAt(h, v) & 0xFF) < 0x80;
    return n;
  };
  const struct {
    TimeValue t;
    bool frames;
    const char* text;
  } shots[] = {{0, false, "0:00:00.00 / 0:00:02.00"},
               {1500, false, "0:00:01.50 / 0:00:02.00"},
               {1500, true, "16 / 20"},
               {0, true, "1 / 20"},
               {2000, true, "20 / 20"},
               {2000, false, "0:00:02.00 / 0:00:02.00"}};
  for (auto s : shots) {
    if (c->bar.showFrames != s.frames) {
      ASSERT_EQ(click(global((short)(l.time.left + 10), mid)), 1);
    }
    ASSERT_EQ(c->bar.showFrames, s.frames);
    goTo(s.t, 1000);
    EXPECT_EQ(vt::controller::timeDisplayText(*c), s.text);
    EXPECT_GT(textPixels(), 20) << s.text;
  }
  // Frame numbers follow an edit.
  ASSERT_EQ(click(global((short)(l.time.left + 10), mid)), 1);
  select(0, scale / 2);
  ASSERT_EQ(MCClear(mc), noErr);
  goTo(0, 1000);
  EXPECT_EQ(vt::controller::timeDisplayText(*c), "1 / 15");
}

// The arrow keys step through the movie's frames from the one shown: after End the last is
// shown, so Left shows the one before it.
TEST_F(Controller, ArrowsStepFromTheFrameShown) {
  const TimeValue end = 2 * scale;
  MCDoAction(mc, mcActionSetKeysEnabled, (void*)1);
  const struct {
    TimeValue from;
    char key;
    TimeValue to;
  } cases[] = {
      {end, (char)kLeftArrowCharCode, 18 * f},         {19 * f, (char)kLeftArrowCharCode, 18 * f},
      {15 * f + 3, (char)kLeftArrowCharCode, 14 * f},  {3, (char)kLeftArrowCharCode, 0},
      {15 * f + 3, (char)kRightArrowCharCode, 16 * f}, {end, (char)kRightArrowCharCode, end},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " " + std::to_string((int)c.key));
    if (c.from == end) {
      ASSERT_EQ(key((char)kEndCharCode), 1);
    } else {
      goTo(c.from, scale);
    }
    ASSERT_EQ(now(), c.from);
    EXPECT_EQ(key(c.key), 1);
    EXPECT_EQ(now(), c.to);
  }
  // Ten steps back from the end in one action: frame 9, the last red one.
  key((char)kEndCharCode);
  MCDoAction(mc, mcActionStep, (void*)(intptr_t)-10);
  EXPECT_EQ(now(), 9 * f);
  EXPECT_TRUE(isRed(pixelAt(80, 60)));
}

}  // namespace

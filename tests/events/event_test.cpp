#include <Events.h>
#include <MacWindows.h>
#include <VTAutomation.h>
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include "events/event_queue.h"
#include "appleevents/ae_queue.h"

namespace {

Point pt(short h, short v) { return Point{v, h}; }

WindowRef window(short l, short t, short r, short b) {
  Rect rc{t, l, b, r};
  return NewCWindow(nullptr, &rc, nullptr, true, noGrowDocProc, (WindowRef)-1, true, 0);
}

// The kind of the event WaitNextEvent gives next, -1 when it gives none.
int waited(EventRecord& e, RgnHandle mouse = nullptr) {
  return WaitNextEvent(everyEvent, &e, 0, mouse) ? e.what : -1;
}

// Takes the pending activates and updates, none of them for `gone`.
void settleWindows(WindowRef gone = nullptr) {
  EventRecord e;
  for (int i = 0; i < 10 && GetNextEvent(updateMask | activMask, &e); ++i) {
    EXPECT_NE((WindowRef)e.message, gone);
    if (e.what == updateEvt) {
      BeginUpdate((WindowRef)e.message);
      EndUpdate((WindowRef)e.message);
    }
  }
}

// Every window and hook the test leaves goes with the reset.
class Queue : public ::testing::Test {
 protected:
  void SetUp() override { VTAutomationUseHeadless(640, 480); }
  void TearDown() override { VTAutomationResetAll(); }
};

}  // namespace

TEST_F(Queue, IdleWaitGivesANullEventAndHeadlessTimeMovesOnlyWhenTold) {
  EventRecord e{};
  e.what = 99;
  UInt32 before = TickCount();
  EXPECT_FALSE(WaitNextEvent(everyEvent, &e, 0, nullptr));
  EXPECT_EQ(e.what, nullEvent);
  EXPECT_EQ(e.message, 0u);
  EXPECT_TRUE(e.modifiers & btnState);                       // button up
  EXPECT_FALSE(WaitNextEvent(everyEvent, &e, 30, nullptr));  // even with a sleep
  EXPECT_EQ(TickCount(), before);
  VTAutomationAdvanceTicks(90);
  unsigned long final = 0;
  Delay(6, &final);
  EXPECT_EQ(final, before + 96);
}

TEST_F(Queue, KeysCarryCharacterKeyCodeModifiersAndTypedCodePoints) {
  EventRecord e{};
  VTAutomationPostKey('q', cmdKey, 0x0C);
  EXPECT_EQ(waited(e), keyDown);
  EXPECT_EQ(e.message & charCodeMask, (unsigned long)'q');
  EXPECT_EQ((e.message & keyCodeMask) >> 8, 0x0Cu);
  EXPECT_TRUE(e.modifiers & cmdKey);
  EXPECT_EQ(waited(e), keyUp);
  EXPECT_FALSE(WaitNextEvent(everyEvent, &e, 0, nullptr));
  // a, e-acute, a CJK character and a control character; then keys given only a character code.
  VTAutomationPostText("a\xC3\xA9\xE6\x97\xA5\x01");
  VTAutomationPostKey((char)0x8E);
  VTAutomationPostKey(kLeftArrowCharCode);
  std::vector<std::pair<unsigned long, char32_t>> got;
  while (WaitNextEvent(keyDownMask, &e, 0, nullptr))
    got.push_back({e.message & charCodeMask, vt::events::typedCodePoint(e)});
  EXPECT_EQ(got, (std::vector<std::pair<unsigned long, char32_t>>{{'a', U'a'},
                                                                  {0x8E, U'\u00E9'},
                                                                  {0, U'\u65E5'},
                                                                  {0x8E, U'\u00E9'},
                                                                  {kLeftArrowCharCode, 0}}));
}

TEST_F(Queue, MaskedReadsLeaveOtherEventsQueuedAndFlushStopsAtTheStopMask) {
  EventRecord e{};
  VTAutomationPostKey('a');
  VTAutomationPostClick(pt(300, 300));
  ASSERT_TRUE(GetNextEvent(mDownMask, &e));
  EXPECT_EQ(e.where.h, 300);
  EXPECT_FALSE(StillDown());                 // the user has already let go: a mouse-up is waiting
  ASSERT_TRUE(EventAvail(keyDownMask, &e));  // leaves the event in place
  ASSERT_TRUE(GetNextEvent(keyDownMask, &e));
  EXPECT_EQ(e.message & charCodeMask, (unsigned long)'a');
  FlushEvents(everyEvent, 0);
  EXPECT_EQ(VTAutomationPendingInput(), 0);
  VTAutomationPostKey('x');
  VTAutomationPostClick(pt(1, 30));
  VTAutomationPostKey('y');
  FlushEvents(keyDownMask | keyUpMask, mDownMask);
  EXPECT_TRUE(GetNextEvent(everyEvent, &e) && e.what == mouseDown);
  EXPECT_TRUE(GetNextEvent(keyDownMask, &e) && (e.message & charCodeMask) == 'y') << "kept";
}

TEST_F(Queue, PostEventTakesOnlyApplicationKindsAndRefusesAFlood) {
  EventRecord e{};
  EXPECT_EQ(PostEvent(keyDown, 'z'), noErr);
  EXPECT_EQ(PostEvent(updateEvt, 0), evtNotEnb);
  EXPECT_EQ(PostEvent(activateEvt, 0), evtNotEnb);
  ASSERT_TRUE(GetNextEvent(everyEvent, &e));
  EXPECT_EQ(e.message, (unsigned long)'z');
  int accepted = 0;
  for (int i = 0; i < 5000; ++i) accepted += PostEvent(keyDown, 'k') == noErr;
  EXPECT_LT(accepted, 5000);
  EXPECT_EQ(PostEvent(keyDown, 'k'), queueFull);
  FlushEvents(everyEvent, 0);
  EXPECT_EQ(PostEvent(keyDown, 'k'), noErr);
}

TEST_F(Queue, AppleEventsArriveAfterInputOnlyWhenAskedForAndOnce) {
  EventRecord e{};
  VTAutomationPostKey('a');
  vt::ae::postQuitApplication();
  EXPECT_TRUE(GetNextEvent(keyDownMask | keyUpMask, &e) && e.what == keyDown);
  EXPECT_TRUE(EventAvail(highLevelEventMask, &e) && e.what == kHighLevelEvent);
  EXPECT_EQ(waited(e), keyUp);
  EXPECT_EQ(waited(e), kHighLevelEvent);
  EXPECT_FALSE(WaitNextEvent(everyEvent, &e, 0, nullptr));
}

TEST_F(Queue, ActivatesComeBeforeInputAndUpdatesAfterUntilCleared) {
  EventRecord e{};
  WindowRef a = window(50, 50, 200, 200);
  settleWindows();
  WindowRef b = window(100, 100, 300, 300);
  VTAutomationPostKey('k');
  // What comes next: its kind, its window (0 for input) and, for activates, whether on.
  auto next = [&] {
    EXPECT_TRUE(WaitNextEvent(everyEvent, &e, 0, nullptr));
    bool input = e.what == keyDown || e.what == keyUp;
    return std::make_tuple(e.what, input ? nullptr : (WindowRef)e.message,
                           e.what == activateEvt && (e.modifiers & activeFlag));
  };
  using Ev = std::tuple<EventKind, WindowRef, bool>;
  for (const Ev& want :
       {Ev{activateEvt, a, false}, Ev{activateEvt, b, true}, Ev{keyDown, nullptr, false},
        Ev{keyUp, nullptr, false}, Ev{updateEvt, b, false}})
    EXPECT_EQ(next(), want);
  EXPECT_EQ(waited(e), updateEvt);  // still pending: the update region is not cleared
  BeginUpdate(b);
  EndUpdate(b);
  EXPECT_FALSE(WaitNextEvent(everyEvent, &e, 0, nullptr));
}

TEST_F(Queue, AWindowDisposedWithItsUpdatePendingLeavesNoEvent) {
  EventRecord e{};
  WindowRef w = window(100, 100, 300, 300);
  settleWindows();
  Rect r{0, 0, 10, 10};
  InvalWindowRect(w, &r);
  DisposeWindow(w);
  settleWindows(w);
  EXPECT_FALSE(WaitNextEvent(everyEvent, &e, 0, nullptr));
}

TEST_F(Queue, SuspendAndResumeComeOncePerChangeAndHighlightTheFrontWindow) {
  EventRecord e{};
  WindowRef a = window(50, 50, 200, 200);
  settleWindows();
  VTAutomationPostFocus(false);
  EXPECT_EQ(waited(e), osEvt);
  EXPECT_EQ((e.message >> 24) & 0xFF, (unsigned long)suspendResumeMessage);
  EXPECT_EQ(e.message & resumeFlag, 0u);
  EXPECT_FALSE(IsWindowHilited(a));
  VTAutomationPostFocus(false);
  EXPECT_FALSE(WaitNextEvent(everyEvent, &e, 0, nullptr));
  VTAutomationPostFocus(true);
  EXPECT_EQ(waited(e), osEvt);
  EXPECT_EQ(e.message & resumeFlag, (unsigned long)resumeFlag);
  EXPECT_TRUE(IsWindowHilited(a));
}

TEST_F(Queue, MouseMovesAreReportedOnlyOutsideTheMouseRegionAndGetMouseIsLocal) {
  EventRecord e{};
  VTAutomationPostMouseMove(pt(400, 400));
  EXPECT_FALSE(WaitNextEvent(everyEvent, &e, 0, nullptr));
  EXPECT_EQ(e.where.h, 400);  // the position is known all the same
  RgnHandle inside = NewRgn();
  SetRectRgn(inside, 0, 0, 100, 100);
  VTAutomationPostMouseMove(pt(50, 50));
  EXPECT_FALSE(WaitNextEvent(everyEvent, &e, 0, inside));
  VTAutomationPostMouseMove(pt(150, 50));
  EXPECT_EQ(waited(e, inside), osEvt);
  EXPECT_EQ((e.message >> 24) & 0xFF, (unsigned long)mouseMovedMessage);
  DisposeRgn(inside);
  SetPort(GetWindowPort(window(100, 120, 300, 300)));
  settleWindows();
  VTAutomationPostMouseMove(pt(130, 150));
  WaitNextEvent(everyEvent, &e, 0, nullptr);
  Point p;
  GetMouse(&p);
  EXPECT_EQ(std::make_pair(p.h, p.v), std::make_pair((short)30, (short)30));
}

TEST_F(Queue, MouseTrackingRunsTheModalHookEachTurnUntilTheRelease) {
  EventRecord e{};
  int calls = 0;
  VTAutomationSetModalHook([&] {
    if (++calls == 3) VTAutomationPostMouseUp(pt(10, 10));
  });
  VTAutomationPostMouseDown(pt(10, 10));
  ASSERT_TRUE(GetNextEvent(mDownMask, &e));
  EXPECT_TRUE(StillDown());
  Point where;
  while (vt::events::trackMouse(where)) {
  }
  // Two idle turns, the turn that posts the move and the release, the turn that takes the up.
  EXPECT_EQ(calls, 4);
  EXPECT_FALSE(Button());
}

TEST_F(Queue, MouseTrackingWithoutAReleaseEndsAfterBoundedIdleTurns) {
  EventRecord e{};
  VTAutomationPostMouseDown(pt(10, 10));
  ASSERT_TRUE(GetNextEvent(mDownMask, &e));
  Point where;
  int turns = 0;
  while (vt::events::trackMouse(where) && turns < 1000) ++turns;
  EXPECT_GT(turns, 10);
  EXPECT_LT(turns, 1000);
  EXPECT_FALSE(WaitMouseUp());
}

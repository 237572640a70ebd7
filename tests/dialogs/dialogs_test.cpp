#include <Dialogs.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <TextUtils.h>
#include <Resources.h>
#include <VTAutomation.h>
#include <VTAutomationUI.h>

#include "appleevents/ae_queue.h"
#include "dialogs/dialog_manager.h"
#include "fixtures.h"
#include "ui/widgets/painter.h"
#include "ui/window_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>

namespace {

const std::string kAppFile = std::string(VT_SOURCE_DIR) + "/Application Files/Vantrel.rsrc.json";

const unsigned char* P(const char* s) {
  static unsigned char buf[8][256];
  static int next = 0;
  unsigned char* b = buf[next++ % 8];
  b[0] = (unsigned char)strlen(s);
  memcpy(b + 1, s, b[0]);
  return b;
}

Point centre(const Rect& r) {
  return Point{(short)((r.top + r.bottom) / 2), (short)((r.left + r.right) / 2)};
}

struct Item {
  DialogItemType kind = 0;
  Handle h = nullptr;
  Rect r{};
};
Item itemOf(DialogRef d, short n) {
  Item i;
  GetDialogItem(d, n, &i.kind, &i.h, &i.r);
  return i;
}

std::string textOf(DialogRef d, short item) {
  Str255 s;
  GetDialogItemText(itemOf(d, item).h, s);
  return std::string((const char*)s + 1, s[0]);
}

// Filter used by tests: counts what it sees and hands the rest to the standard filter.
struct FilterLog {
  int events = 0, nulls = 0, updatesOfOthers = 0;
  short claim = 0;  // when nonzero, the first key press is claimed as this item
};
FilterLog gLog;
DialogRef gLastDialog = nullptr;

Boolean countingFilter(DialogRef d, EventRecord* e, DialogItemIndex* item) {
  ++gLog.events;
  gLastDialog = d;
  if (e->what == nullEvent) ++gLog.nulls;
  if (e->what == updateEvt && (WindowRef)e->message != GetDialogWindow(d)) ++gLog.updatesOfOthers;
  if (gLog.claim && e->what == keyDown) {
    *item = gLog.claim;
    return true;
  }
  return StdFilterProc(d, e, item);
}

int gUserCalls = 0;
DialogItemIndex gUserItem = 0;
bool gUserPortWasDialogs = false;
void userProc(DialogRef d, DialogItemIndex item) {
  ++gUserCalls;
  gUserItem = item;
  GrafPtr port;
  GetPort(&port);
  gUserPortWasDialogs = port == GetDialogPort(d);
}

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    VTAutomationUseHeadless(1280, 800);
    VTAutomationResetAll();
    VTSetAutoOpenApplicationResources(false);
    ASSERT_GT(VTOpenResourceFile(kAppFile.c_str()), 0);
    gLog = FilterLog{};
    gUserCalls = 0;
  }
  void TearDown() override {
    if (d) DisposeDialog(d);
    VTAutomationResetAll();
  }
  DialogRef d = nullptr;
  // The about box, in front.
  void openAbout() {
    d = GetNewDialog(128, nullptr, (WindowRef)-1);
    ASSERT_NE(d, nullptr);
  }
  // Runs ModalDialog with the hook acting once the loop is running.
  short runWith(ModalFilterUPP filter, std::function<void()> act) {
    bool done = false;
    VTAutomationSetModalHook([&] {
      if (!done) {
        done = true;
        act();
      }
    });
    DialogItemIndex item = 0;
    ModalDialog(filter, &item);
    VTAutomationSetModalHook(nullptr);
    return item;
  }
  short runKey(char c, EventModifiers mods = 0, ModalFilterUPP filter = nullptr) {
    return runWith(filter, [=] { VTAutomationPostKey(c, mods); });
  }
};

}  // namespace

TEST_F(Dialogs, AboutBoxIsBuiltFromItsResourcesInFront) {
  openAbout();
  WindowRef w = GetDialogWindow(d);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(GetWindowKind(w), 2);
  EXPECT_EQ(FrontWindow(), w);
  EXPECT_EQ(GetDialogFromWindow(w), d);
  ASSERT_EQ(CountDITL(d), 5);
  EXPECT_EQ(itemOf(d, 1).kind, ctrlItem + btnCtrl);
  EXPECT_EQ(textOf(d, 1), "OK");
  EXPECT_EQ(itemOf(d, 2).kind, statText | itemDisable);
  EXPECT_EQ(itemOf(d, 4).kind, userItem | itemDisable);
  EXPECT_EQ(itemOf(d, 4).h, nullptr);
  EXPECT_EQ(itemOf(d, 5).kind, iconItem | itemDisable);  // the application's icon
  EXPECT_EQ(itemOf(d, 6).h, nullptr);                    // no such item
  EXPECT_EQ(GetDialogDefaultItem(d), 1);
  EXPECT_EQ(VTAutomationFrontDialogItems()[1].text, "Vantrel 1.0");
  EXPECT_EQ(GetNewDialog(999, nullptr, (WindowRef)-1), nullptr);
  EXPECT_EQ(ResError(), resNotFound);
}

TEST_F(Dialogs, ModelessDialogEventsAreRecognisedAndAnsweredOnlyInside) {
  openAbout();
  VTAutomationPressDialogItem(1);
  EventRecord e;
  ASSERT_TRUE(GetNextEvent(mDownMask, &e));
  EXPECT_TRUE(IsDialogEvent(&e));
  DialogRef which = nullptr;
  DialogItemIndex item = 0;
  EXPECT_TRUE(DialogSelect(&e, &which, &item));
  EXPECT_EQ(which, d);
  EXPECT_EQ(item, 1);
  EventRecord outside{};
  outside.what = mouseDown;
  outside.where = Point{780, 10};
  EXPECT_FALSE(IsDialogEvent(&outside));
  EXPECT_FALSE(DialogSelect(&outside, &which, &item));
  EXPECT_FALSE(IsDialogEvent(nullptr));
}

TEST_F(Dialogs, TheDefaultButtonIsOutlinedOnScreenUntilUnset) {
  openAbout();
  SetDialogDefaultItem(d, 1);
  Rect g = VTAutomationFrontDialogItems()[0].globalRect;
  short mid = (short)((g.top + g.bottom) / 2);
  EXPECT_EQ(VTAutomationScreenPixel(g.left - 3, mid), vt::ui::colour::accent);  // the ring
  EXPECT_EQ(VTAutomationScreenPixel(g.left, g.top), vt::ui::colour::border);    // the frame
  bool ink = false;                                                             // the label
  for (short v = g.top + 3; v < g.bottom - 3; ++v)
    for (short h = g.left + 3; h < g.right - 3; ++h)
      ink = ink || ((VTAutomationScreenPixel(h, v) >> 8) & 0xFF) < 60;
  EXPECT_TRUE(ink);
  SetDialogDefaultItem(d, 0);
  EXPECT_EQ(VTAutomationScreenPixel(g.left - 3, mid), vt::ui::colour::white);
}

// Run modally it answers enabled items by click; a click on static text, a press on the button
// released away from it, a click on the desktop (a beep) and a drag of the title bar are no hits;
// the filter sees the key first and claims it as item 3.
TEST_F(Dialogs, ModalDialogAnswersOnlyClicksThatHitAnEnabledItem) {
  openAbout();
  long turns = VTAutomationModalTurns();
  EXPECT_EQ(runWith(nullptr, [] { VTAutomationPressDialogItem(1); }), 1);
  EXPECT_GT(VTAutomationModalTurns(), turns);
  VTAutomationResetBeepCount();
  gLog.claim = 3;
  Rect before = GetDialogWindow(d)->content, btn = VTAutomationFrontDialogItems()[0].globalRect;
  Rect title = vt::ui::titleBarRect(GetDialogWindow(d));
  Point grab{(short)((title.top + title.bottom) / 2), (short)(title.left + 40)};
  EXPECT_EQ(runWith(countingFilter,
                    [&] {
                      VTAutomationPressDialogItem(2);
                      VTAutomationPostMouseDown(centre(btn));
                      VTAutomationPostMouseUp(Point{(short)(btn.bottom + 30), btn.left});
                      VTAutomationPostClick(Point{700, 20});
                      VTAutomationPostDrag(grab, Point{(short)(grab.v + 50), (short)(grab.h - 60)});
                      VTAutomationPostKey('z');
                    }),
            3);
  EXPECT_EQ(gLastDialog, d);
  EXPECT_EQ(VTAutomationBeepCount(), 1);
  EXPECT_EQ(GetDialogWindow(d)->content.top, before.top + 50);
  EXPECT_EQ(GetDialogWindow(d)->content.left, before.left - 60);
}

// Return and Enter choose the default item; Escape and Command-period only once there is a
// cancel item.
TEST_F(Dialogs, KeysChooseTheDefaultAndCancelItems) {
  openAbout();
  SetDialogDefaultItem(d, 1);
  EXPECT_EQ(runKey(kReturnCharCode), 1);
  EXPECT_EQ(runKey(kEnterCharCode, 0, countingFilter), 1);
  EXPECT_EQ(runWith(countingFilter,
                    [] {
                      for (char c : {(char)kEscapeCharCode, 'x', (char)kReturnCharCode})
                        VTAutomationPostKey(c);
                    }),
            1);
  SetDialogCancelItem(d, 1);
  EXPECT_EQ(runKey(kEscapeCharCode), 1);
  EXPECT_EQ(runKey('.', cmdKey), 1);
}

TEST_F(Dialogs, TheStandardFilterNeverChoosesADisabledDefaultButton) {
  openAbout();
  EventRecord e{};
  DialogItemIndex item = 0;
  auto stdFilter = [&](EventKind what, char c, DialogRef in) {
    e.what = what;
    e.message = (unsigned char)c;
    item = 0;
    return StdFilterProc(in, &e, &item);
  };
  EXPECT_TRUE(stdFilter(keyDown, kReturnCharCode, d));
  EXPECT_EQ(item, 1);
  EXPECT_FALSE(stdFilter(keyDown, 'a', d));
  EXPECT_EQ(item, 0);
  EXPECT_FALSE(stdFilter(mouseDown, 0, d));
  EXPECT_FALSE(stdFilter(keyDown, kReturnCharCode, nullptr));
  Item ok = itemOf(d, 1);
  SetDialogItem(d, 1, ok.kind | itemDisable, ok.h, &ok.r);
  EXPECT_FALSE(stdFilter(keyDown, kReturnCharCode, d));
}

TEST_F(Dialogs, DisposingADialogFreesItsWindowAndHandles) {
  long handles = VTLiveHandleCount();
  openAbout();
  DisposeDialog(d);
  EXPECT_FALSE(VTAutomationHasFrontDialog());
  EXPECT_TRUE(VTAutomationListWindows().empty());
  EXPECT_EQ(VTLiveHandleCount(), handles);
  EXPECT_EQ(GetDialogWindow(d), nullptr);  // a disposed dialog is refused, not read
  DisposeDialog(d);
  d = nullptr;
}

TEST_F(Dialogs, UserItemsAndWhatTheModalLoopHandsOn) {
  vt::ae::reset();
  openAbout();
  UserItemUPP upp = NewUserItemUPP(userProc);
  Item user = itemOf(d, 4);
  SetDialogItem(d, 4, user.kind, (Handle)upp, &user.r);
  EXPECT_GE(gUserCalls, 1);  // drawn as soon as it is installed
  gUserCalls = 0;
  DrawDialog(d);
  EXPECT_EQ(gUserCalls, 1);
  EXPECT_EQ(gUserItem, 4);
  EXPECT_TRUE(gUserPortWasDialogs);
  EXPECT_EQ(itemOf(d, 4).h, (Handle)upp);

  // With nothing to do the loop turns on null events. An update of the dialog redraws it, user
  // item included; other windows' updates reach the filter without starving the null events;
  // a quit request arriving meanwhile is neither lost nor taken by the dialog.
  gUserCalls = 0;
  InvalWindowRect(GetDialogWindow(d), &user.r);
  Rect b{300, 40, 400, 200};
  WindowRef other = NewCWindow(nullptr, &b, P("behind"), true, noGrowDocProc, nullptr, true, 0);
  ASSERT_NE(other, nullptr);
  int turns = 0;
  VTAutomationSetModalHook([&] {
    if (++turns == 1) vt::ae::postQuitApplication();
    if (turns == 20) VTAutomationPressDialogItem(1);
  });
  DialogItemIndex item = 0;
  ModalDialog(countingFilter, &item);
  VTAutomationSetModalHook(nullptr);
  EXPECT_EQ(item, 1);
  EXPECT_GE(gUserCalls, 1);
  EXPECT_GE(gLog.updatesOfOthers, 1);
  EXPECT_GE(gLog.nulls, 10);
  EventRecord e;
  bool quit = false;
  for (int i = 0; i < 10 && !quit; ++i)
    quit = WaitNextEvent(everyEvent, &e, 0, nullptr) && e.what == kHighLevelEvent;
  EXPECT_TRUE(quit);
  DisposeWindow(other);
  DisposeUserItemUPP(upp);
  vt::ae::reset();
}

TEST_F(Dialogs, AlertsShowTheirParametersOrReturnAtOnceWithoutTheirResource) {
  Str255 err;
  NumToString(-2093, err);
  ParamText(P("Warning!"), P("Could not initialize QuickTime. Exiting."), err, nullptr);
  std::vector<std::string> shown;
  VTAutomationSetModalHook([&] {
    if (!shown.empty()) return;
    for (const auto& it : VTAutomationFrontDialogItems()) shown.push_back(it.text);
    VTAutomationPressDialogItem(VTAutomationFindDialogItem("OK"));
  });
  long windowsBefore = (long)VTAutomationListWindows().size();
  EXPECT_EQ(Alert(129, countingFilter), 1);
  VTAutomationSetModalHook(nullptr);
  EXPECT_EQ(shown,
            (std::vector<std::string>{"OK", "Warning!", "Could not initialize QuickTime. Exiting.",
                                      "Error: -2093"}));
  EXPECT_EQ((long)VTAutomationListWindows().size(), windowsBefore);  // gone again

  // Replacements are not expanded again, and null leaves a parameter empty.
  ParamText(P("^1"), P("one"), nullptr, nullptr);
  EXPECT_EQ(vt::dialogs::substitute("[^0|^1|^2|^3|^4|^]"), "[^1|one|||^4|^]");

  // Return answers the alert too, through the caller's filter and the standard one.
  VTAutomationSetModalHook([] { VTAutomationPostKey(kReturnCharCode); });
  EXPECT_EQ(CautionAlert(129, nullptr), 1);
  // Its one button also answers Escape.
  VTAutomationSetModalHook([] { VTAutomationPostKey(kEscapeCharCode); });
  EXPECT_EQ(NoteAlert(129, nullptr), 1);
  VTAutomationSetModalHook(nullptr);

  // Without its resource an alert returns at once, without a turn of the loop.
  gLog = FilterLog{};
  long turns = VTAutomationModalTurns();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Alert(4242, countingFilter), -1);
  EXPECT_EQ(StopAlert(4242, nullptr), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(VTAutomationModalTurns(), turns);
  EXPECT_TRUE(VTAutomationListWindows().empty());
  EXPECT_EQ(gLog.events, 0);
  // Without any resource file at all: the same.
  VTResetResources();
  EXPECT_EQ(Alert(129, nullptr), -1);
  EXPECT_EQ(GetNewDialog(128, nullptr, (WindowRef)-1), nullptr);
  DialogItemIndex item = 5;
  ModalDialog(nullptr, &item);  // no dialog to run
  EXPECT_EQ(item, -1);
}

TEST_F(Dialogs, EditTextFieldsTypeSelectAndTradeTextWithTheApplication) {
  std::string dir = vt_test::tempDir("dialogs");
  std::ofstream(dir + "/edit.json")
      << R"({"DLOG": [{"id": 300, "title": "Name", "bounds": [100, 100, 220, 400],
    "defaultItem": 1, "cancelItem": 2, "items": [
      {"kind": "button", "text": "OK", "rect": [80, 200, 100, 280]},
      {"kind": "button", "text": "Cancel", "rect": [80, 100, 100, 180]},
      {"kind": "editText", "text": "ab", "rect": [10, 10, 26, 280]},
      {"kind": "editText", "rect": [40, 10, 56, 280]},
      {"kind": "statText", "text": "^0 and more", "rect": [60, 10, 76, 280]}]}]})";
  ASSERT_GT(VTOpenResourceFile((dir + "/edit.json").c_str()), 0);
  d = GetNewDialog(300, nullptr, (WindowRef)-1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(runKey('c'), 3);
  EXPECT_EQ(textOf(d, 3), "abc");
  EXPECT_EQ(runKey(kTabCharCode), 4);
  EXPECT_EQ(runKey('z'), 4);
  EXPECT_EQ(textOf(d, 4), "z");

  // Shift+Tab goes back with the whole text selected, so text in any script typed there
  // replaces it and reaches the item's text as it is.
  EXPECT_EQ(runKey(kTabCharCode, shiftKey), 3);
  EXPECT_EQ(runWith(nullptr, [] { VTAutomationPostText("x\xC3\xBC\xE6\x97\xA5"); }), 3);
  for (int i = 0; i < 2; ++i) runWith(nullptr, [] {});  // the other two characters
  EXPECT_EQ(textOf(d, 3), "x\xC3\xBC\xE6\x97\xA5");
  // The application's text replaces the field's, and a range it selects is kept.
  SetDialogItemText(itemOf(d, 3).h, P("Movie 1"));
  SelectDialogItemText(d, 3, 6, 7);
  EXPECT_EQ(runKey('2'), 3);
  EXPECT_EQ(textOf(d, 3), "Movie 2");
  EXPECT_EQ(runKey(kEscapeCharCode), 2);

  SetDialogItemText(itemOf(d, 5).h, P("Now ^0"));
  ParamText(P("here"), nullptr, nullptr, nullptr);
  EXPECT_EQ(VTAutomationFrontDialogItems()[4].text, "Now here");
  EXPECT_EQ(textOf(d, 5), "Now ^0");   // the item keeps its own text
  SetDialogItemText(nullptr, P("x"));  // tolerated
  GetDialogItemText(nullptr, nullptr);
}

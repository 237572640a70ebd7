#include <MacMemory.h>
#include <QTAtoms.h>
#include <QuickTimeEffects.h>
#include <VTAutomation.h>
#include <VTAutomationEffects.h>
#include <VTAutomationNav.h>
#include <VTAutomationUI.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "core/fourcc.h"
#include "core/image.h"
#include "core/picture.h"
#include "effects/catalogue.h"
#include "effects/description.h"
#include "effects/render_api.h"
#include "events/event_queue.h"
#include "paramdialog/param_window.h"
#include "ui/window_server.h"

namespace {

int redOf(vt::Pixel p) { return (int)((p >> 16) & 0xFF); }
int blueOf(vt::Pixel p) { return (int)(p & 0xFF); }

class ParamDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { VTAutomationUseHeadless(1024, 768); }
  void TearDown() override {
    close();
    VTAutomationReset();
  }

  // Opens the dialog and lets it take its first update.
  void open(long sources, long listFlags = 0) {
    ASSERT_EQ(QTGetEffectsList(&list_, sources, sources, listFlags), noErr);
    ASSERT_EQ(QTNewAtomContainer(&sample_), noErr);
    ASSERT_EQ(QTCreateStandardParameterDialog(list_, sample_, 0, &dialog_), noErr);
    ASSERT_NE(dialog_, 0);
    deliver();
  }
  // Dismisses the dialog and releases both containers; the dismissal's answer.
  OSErr close() {
    OSErr err = dialog_ ? QTDismissStandardParameterDialog(dialog_) : (OSErr)noErr;
    if (list_) QTDisposeAtomContainer(list_);
    if (sample_) QTDisposeAtomContainer(sample_);
    dialog_ = 0;
    list_ = sample_ = nullptr;
    return err;
  }
  // Posts a key and hands it to the dialog.
  OSErr press(char c, EventModifiers mods = 0) {
    VTAutomationPostKey(c, mods);
    return deliver();
  }
  OSErr confirm() {
    return QTStandardParameterDialogDoAction(dialog_, pdActionConfirmDialog, nullptr);
  }
  OSErr handle(EventKind what, Point where = {}, unsigned long message = 0) {
    EventRecord e{what, message, 0, where, 0};
    return QTIsStandardParameterDialogEvent(&e, dialog_);
  }
  // Hands queued events to the dialog as the application's loop does; the first answer that
  // ends the dialog, else the last one.
  OSErr deliver(int maxEvents = 20) {
    OSErr last = featureUnsupported;
    for (int i = 0; i < maxEvents; ++i) {
      EventRecord e{};
      if (!vt::events::nextEvent(everyEvent, e, true)) break;
      last = QTIsStandardParameterDialogEvent(&e, dialog_);
      if (last == codecParameterDialogConfirm || last == userCanceledErr) return last;
    }
    return last;
  }

  // The data of the first atom of `type` in `parent` of the sample ("" when there is none).
  std::string atomData(OSType type, QTAtom parent = kParentAtomIsContainer) {
    QTAtom a = QTFindChildByIndex(sample_, parent, type, 1, nullptr);
    long size = 0;
    Ptr data = nullptr;
    if (!a || QTGetAtomDataPtr(sample_, a, &size, &data) != noErr) return "";
    return std::string(data, (size_t)size);
  }
  long readLong(OSType type) {
    std::string d = atomData(type);
    return d.size() == 4 ? (long)vt::readBE32((const uint8_t*)d.data()) : -1;
  }
  // Names both sources as a caller does, then renders the sample halfway through.
  bool renderHalfway(const vt::Image& a, const vt::Image& b, vt::Image& out) {
    if (QTCountChildrenOfType(sample_, kParentAtomIsContainer, kEffectSourceName) == 0)
      for (long i = 1; i <= 2; ++i)
        QTInsertChild(sample_, kParentAtomIsContainer, kEffectSourceName, i, 0, 4,
                      (void*)(i == 1 ? "srcA" : "srcB"), nullptr);
    vt::effects::EffectInputs in{&a, &b};
    return vt::effects::renderEffectSample((const uint8_t*)*sample_, (size_t)GetHandleSize(sample_),
                                           50, 100, in, out);
  }

  vt::paramdialog::Dialog* impl() { return vt::paramdialog::findDialog(dialog_); }

  // The centre of a rectangle local to the dialog (or already global).
  Point globalCentre(const Rect& r, bool local = true) {
    WindowRef w = impl()->window();
    return Point{(short)((local ? w->content.top : 0) + (r.top + r.bottom) / 2),
                 (short)((local ? w->content.left : 0) + (r.left + r.right) / 2)};
  }
  Point at(OSType code, VTEffectsControl control, int which = 0, int swatch = 0) {
    Rect r{};
    EXPECT_TRUE(VTAutomationEffectsDialogControlRect(code, control, which, &r, swatch));
    return globalCentre(r, false);
  }
  double param(OSType code, int which = 0) {
    for (const auto& p : VTAutomationEffectsDialogParams())
      if (p.code == code) return which ? p.end : p.start;
    ADD_FAILURE() << "no parameter";
    return -1;
  }
  OSErr click(Point where) {
    VTAutomationPostClick(where);
    return deliver();
  }
  // Drags a slider's knob from its centre to `percent` of its length.
  OSErr dragSlider(OSType code, int which, int percent, int steps) {
    Rect r{};
    EXPECT_TRUE(VTAutomationEffectsDialogControlRect(code, VTEffectsControl::slider, which, &r));
    Point from = globalCentre(r, false);
    VTAutomationPostDrag(from, Point{from.v, (short)(r.left + (r.right - r.left) * percent / 100)},
                         steps);
    return deliver();
  }
  // Clicks the field, replaces its text by typing, and leaves it with Tab.
  void type(OSType code, int which, const std::string& text) {
    click(at(code, VTEffectsControl::field, which));
    VTAutomationPostKey('a', cmdKey);
    VTAutomationPostText(text);
    VTAutomationPostKey(kTabCharCode);
    deliver(60);
  }

  QTAtomContainer list_ = nullptr, sample_ = nullptr;
  QTParameterDialog dialog_ = 0;
};

}  // namespace

TEST_F(ParamDialogTest, ListsTheOfferedEffectsRefusesBadArgumentsAndOffersTheModalForm) {
  for (long sources : {0L, 1L, 2L}) {
    open(sources);
    short expected = QTCountChildrenOfType(list_, kParentAtomIsContainer, kEffectTypeAtom);
    ASSERT_GT(expected, 0);
    EXPECT_EQ((short)VTAutomationEffectsDialogEffects().size(), expected) << sources;
    EXPECT_EQ(VTAutomationEffectsDialogSelected(), 0);
    ASSERT_FALSE(VTAutomationListWindows().empty());
    EXPECT_TRUE(VTAutomationListWindows().front().visible);
    EXPECT_EQ(close(), noErr);
    EXPECT_TRUE(VTAutomationListWindows().empty());
  }
  QTParameterDialog d = 77;
  QTAtomContainer c = nullptr;
  QTNewAtomContainer(&c);
  EXPECT_EQ(QTCreateStandardParameterDialog(nullptr, c, 0, &d), paramErr);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(QTCreateStandardParameterDialog(c, nullptr, 0, &d), paramErr);
  EXPECT_EQ(QTCreateStandardParameterDialog(c, c, 0, nullptr), paramErr);
  EXPECT_EQ(QTDismissStandardParameterDialog(0), paramErr);
  EXPECT_EQ(QTDismissStandardParameterDialog(12345), paramErr);
  EventRecord e{};
  EXPECT_EQ(QTIsStandardParameterDialogEvent(&e, 999), paramErr);
  EXPECT_EQ(QTStandardParameterDialogDoAction(999, pdActionConfirmDialog, nullptr), paramErr);

  open(2);
  EXPECT_EQ(QTIsStandardParameterDialogEvent(nullptr, dialog_), paramErr);
  EXPECT_EQ(QTStandardParameterDialogDoAction(dialog_, 9999, nullptr), featureUnsupported);
  // The container given at creation released before confirming: refused, not written.
  QTDisposeAtomContainer(sample_);
  EXPECT_EQ(confirm(), paramErr);
  ASSERT_EQ(QTNewAtomContainer(&sample_), noErr);
  EXPECT_EQ(QTDismissStandardParameterDialog(dialog_), noErr);
  // Dismissed twice: the second is a bad dialog, not a crash.
  EXPECT_EQ(QTDismissStandardParameterDialog(dialog_), paramErr);
  EXPECT_EQ(confirm(), paramErr);
  dialog_ = 0;

  // An effects list without any effect still gives a dialog; confirming it writes no parameters.
  ASSERT_EQ(QTCreateStandardParameterDialog(c, sample_, 0, &dialog_), noErr);
  EXPECT_TRUE(VTAutomationEffectsDialogEffects().empty());
  EXPECT_EQ(confirm(), noErr);
  EXPECT_EQ(QTCountChildren(sample_, kParentAtomIsContainer), 1);  // only 'what'
  EXPECT_EQ(close(), noErr);
  QTDisposeAtomContainer(c);

  // The modal form and optional tweens, for callers that ask for them.
  ASSERT_EQ(QTGetEffectsList(&list_, 2, 2, 0), noErr);
  ASSERT_EQ(QTNewAtomContainer(&sample_), noErr);
  EXPECT_EQ(QTCreateStandardParameterDialog(list_, sample_, 1 << 8, &dialog_), paramErr);
  ASSERT_EQ(
      QTCreateStandardParameterDialog(
          list_, sample_, pdOptionsModalDialogBox | pdOptionsAllowOptionalInterpolations, &dialog_),
      noErr);
  deliver();
  // Modal: clicks elsewhere and menu keys are the dialog's, with a beep for the click.
  long beeps = VTAutomationBeepCount();
  EXPECT_EQ(click(Point{5, 300}), noErr);  // the menu bar
  EXPECT_EQ(VTAutomationBeepCount() - beeps, 1);
  EXPECT_EQ(press('q', cmdKey), noErr);
  // "Animate" makes an optional parameter a tween that OK writes as one.
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kSlideTransitionType));
  EXPECT_FALSE(VTAutomationEffectsDialogParams()[1].tweened);
  click(at('angl', VTEffectsControl::animate));
  ASSERT_TRUE(VTAutomationEffectsDialogParams()[1].tweened);
  ASSERT_TRUE(VTAutomationEffectsDialogSetParam('angl', 180, 1));
  ASSERT_EQ(confirm(), noErr);
  QTAtom angle = QTFindChildByID(sample_, kParentAtomIsContainer, 'angl', 1, nullptr);
  EXPECT_NE(QTFindChildByID(sample_, angle, kParameterTweenAtom, 1, nullptr), 0);
  // Without the option no parameter offers "Animate".
  QTDismissStandardParameterDialog(dialog_);
  ASSERT_EQ(QTCreateStandardParameterDialog(list_, sample_, 0, &dialog_), noErr);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kSlideTransitionType));
  Rect r{};
  EXPECT_FALSE(VTAutomationEffectsDialogControlRect('angl', VTEffectsControl::animate, 0, &r));
}

TEST_F(ParamDialogTest, EventAnswersAndPreviewPicturesCopiedAndReleased) {
  long handlesBefore = VTLiveHandleCount();
  open(2);
  ASSERT_TRUE(VTAutomationEffectsDialogPressCancel());
  EXPECT_EQ(deliver(), userCanceledErr);

  EXPECT_EQ(press(kReturnCharCode), codecParameterDialogConfirm);
  EXPECT_EQ(press(kEscapeCharCode), userCanceledErr);
  // Ctrl shortcuts belong to the application's menus.
  EXPECT_EQ(press('q', cmdKey), featureUnsupported);

  // A press outside OK that is released elsewhere is not a confirmation.
  Rect ok = VTAutomationEffectsDialogButtonRect(true);
  Point in = globalCentre(ok, false);
  VTAutomationPostDrag(in, Point{(short)(ok.top - 60), (short)(ok.left - 200)});
  EXPECT_EQ(deliver(), noErr);

  // Null events animate the preview but leave idle time to the application.
  EXPECT_EQ(handle(nullEvent), featureUnsupported);

  // Events of another window and of the menu bar are not the dialog's.
  Rect r{500, 20, 700, 300};
  WindowRef other =
      NewCWindow(nullptr, &r, (const unsigned char*)"\x05Other", true, 0, nullptr, true, 0);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(handle(updateEvt, {}, (unsigned long)other), featureUnsupported);
  EXPECT_EQ(handle(mouseDown, Point{600, 100}), featureUnsupported);
  EXPECT_EQ(handle(mouseDown, Point{5, 300}), featureUnsupported);  // menu bar
  // Keys go to the front window's owner when the dialog is behind.
  SelectWindow(other);
  EXPECT_EQ(handle(keyDown, {}, kReturnCharCode), featureUnsupported);
  // A click on the dialog behind brings it forward without pressing what lies under it.
  EXPECT_EQ(handle(mouseDown, in), noErr);
  EXPECT_EQ(FrontWindow(), impl()->window());
  DisposeWindow(other);

  // Preview pictures: the dialog keeps copies and releases them when dismissed.
  vt::Image red(64, 48, vt::makePixel(255, 0, 0)), blue(64, 48, vt::makePixel(0, 0, 255));
  PicHandle pa = vt::makePicture(red), pb = vt::makePicture(blue);
  QTParamPreviewRecord ra{1, pa}, rb{2, pb}, bad3{3, nullptr}, bad1{1, nullptr};
  auto set = [&](QTParamPreviewRecord* rec) {
    return QTStandardParameterDialogDoAction(dialog_, pdActionSetPreviewPicture, rec);
  };
  EXPECT_EQ(set(&ra), noErr);
  EXPECT_EQ(set(&rb), noErr);
  // The caller kills its posters at once; the dialog keeps its copies.
  KillPicture(pa);
  KillPicture(pb);
  for (QTParamPreviewRecord* bad : {&bad3, &bad1, (QTParamPreviewRecord*)nullptr})
    EXPECT_EQ(set(bad), paramErr);

  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kCrossFadeTransitionType));
  // At the start of the animation the preview is source A; a second later it is halfway.
  EXPECT_GT(redOf(impl()->previewImage().at(90, 60)), 240);
  VTAutomationAdvanceTicks(60);
  handle(nullEvent);
  vt::Pixel mid = impl()->previewImage().at(90, 60);
  EXPECT_NEAR(redOf(mid), 128, 10);
  EXPECT_NEAR(blueOf(mid), 128, 10);
  // The preview is drawn on screen inside the dialog.
  WindowRef w = impl()->window();
  EXPECT_NEAR(redOf(VTAutomationScreenPixel((short)(w->content.left + 570 + 90),
                                            (short)(w->content.top + 30 + 60))),
              128, 12);
  EXPECT_EQ(close(), noErr);
  EXPECT_EQ(VTLiveHandleCount(), handlesBefore);
}

TEST_F(ParamDialogTest, ConfirmedAndClickedSettingsRenderAndStayWithTheirEffect) {
  open(2);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kCrossFadeTransitionType));
  ASSERT_EQ(confirm(), noErr);
  EXPECT_EQ(readLong(kParameterWhatName), (long)kCrossFadeTransitionType);
  vt::Image a(32, 24, vt::makePixel(200, 0, 0)), b(32, 24, vt::makePixel(0, 0, 200)), out(32, 24);
  ASSERT_TRUE(renderHalfway(a, b, out));
  EXPECT_NEAR(redOf(out.at(16, 12)), 100, 3);
  EXPECT_NEAR(blueOf(out.at(16, 12)), 100, 3);

  // Changing the end of the tween changes what renders: 0 -> 50 at the middle is 25%.
  ASSERT_TRUE(VTAutomationEffectsDialogSetParam('pcnt', 50, 1));
  ASSERT_EQ(confirm(), noErr);
  ASSERT_TRUE(renderHalfway(a, b, out));
  EXPECT_NEAR(redOf(out.at(16, 12)), 150, 3);
  // Source names added by the caller survive a second confirmation; nothing is duplicated.
  EXPECT_EQ(QTCountChildrenOfType(sample_, kParentAtomIsContainer, kEffectSourceName), 2);
  EXPECT_EQ(QTCountChildrenOfType(sample_, kParentAtomIsContainer, kParameterWhatName), 1);
  EXPECT_EQ(QTCountChildrenOfType(sample_, kParentAtomIsContainer, 'pcnt'), 1);
  // Out of range values are clamped, unknown parameters refused.
  EXPECT_TRUE(VTAutomationEffectsDialogSetParam('pcnt', 500, 1));
  EXPECT_DOUBLE_EQ(VTAutomationEffectsDialogParams().front().end, 100.0);
  EXPECT_FALSE(VTAutomationEffectsDialogSetParam('zzzz', 1));

  // Each effect keeps its settings while the dialog is open; only the chosen one is written.
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode('smpt'));
  ASSERT_TRUE(VTAutomationEffectsDialogSetParam('hori', 5));
  ASSERT_EQ(confirm(), noErr);
  EXPECT_NE(readLong('wpID'), -1);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kPushTransitionType));
  ASSERT_TRUE(VTAutomationEffectsDialogSetParam('from', 4));
  ASSERT_EQ(confirm(), noErr);
  EXPECT_EQ(readLong(kParameterWhatName), (long)kPushTransitionType);
  EXPECT_EQ(readLong('wpID'), -1);  // no stale parameter of the wipe
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode('smpt'));
  EXPECT_EQ(param('hori'), 5);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kPushTransitionType));
  EXPECT_EQ(param('from'), 4);

  // Clicks on a list row, a pop-up item, a slider, a switch and a swatch reach the sample.
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kCrossFadeTransitionType));
  auto entries = VTAutomationEffectsDialogEffects();
  int row = -1;
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].code == (OSType)kPushTransitionType) row = (int)i;
  ASSERT_GE(row, 0);
  for (const auto& hot : impl()->layout())
    if (hot.kind == vt::paramdialog::Hot::ListRow && hot.index == row)
      VTAutomationPostClick(globalCentre(hot.r));
  EXPECT_EQ(deliver(), noErr);
  ASSERT_EQ(VTAutomationEffectsDialogSelected(), row);

  // The direction's pop-up menu: pressed, dragged to "bottom" (3), released.
  std::vector<std::string> shown;
  VTAutomationSetModalHook([&] {
    Rect item{};
    if (shown.empty() && VTAutomationPopupMenu(&shown, nullptr) &&
        VTAutomationPopupMenuItemRect(2, &item)) {
      VTAutomationPostMouseMove(globalCentre(item, false));
      VTAutomationPostMouseUp(globalCentre(item, false));
    }
  });
  VTAutomationPostMouseDown(at('from', VTEffectsControl::popup));
  EXPECT_EQ(deliver(), noErr);
  VTAutomationSetModalHook(nullptr);
  EXPECT_EQ(shown.size(), 4u);
  ASSERT_TRUE(VTAutomationEffectsDialogPressOK());
  ASSERT_EQ(deliver(), codecParameterDialogConfirm);
  ASSERT_EQ(confirm(), noErr);
  EXPECT_EQ(readLong(kParameterWhatName), (long)kPushTransitionType);
  EXPECT_EQ(readLong('from'), 3);

  // The end slider dragged to its left end.
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kCrossFadeTransitionType));
  EXPECT_EQ(dragSlider('pcnt', 1, 0, 4), noErr);
  EXPECT_NEAR(param('pcnt', 1), 0.0, 0.5);

  // The wipe's softness switched on and its border coloured red.
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kWipeTransitionType));
  VTAutomationPostClick(at('soft', VTEffectsControl::check));
  VTAutomationPostClick(at('bclr', VTEffectsControl::swatch, 0, 2));
  EXPECT_EQ(deliver(), noErr);
  ASSERT_EQ(confirm(), noErr);
  std::string softData = atomData('soft');
  ASSERT_FALSE(softData.empty());
  EXPECT_NE(softData.find_first_not_of('\0'), std::string::npos);   // on
  EXPECT_EQ(atomData('bclr'), std::string("\xFF\xFF\0\0\0\0", 6));  // red
  // The written description is one the renderer accepts.
  vt::Image white(16, 16, vt::makePixel(255, 255, 255)), black(16, 16, vt::makePixel(0, 0, 0)),
      out16(16, 16);
  EXPECT_TRUE(renderHalfway(white, black, out16));
}

TEST_F(ParamDialogTest, TabArrowsAndNumberFieldsThatTakeValuesInTheirUnitsOrBeep) {
  open(2);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kPushTransitionType));
  EXPECT_EQ(VTAutomationEffectsDialogFocus().control, VTEffectsControl::list);
  // list -> start field -> end field -> direction pop-up -> easing pop-up -> its four curve
  // fields, and Shift+Tab back.
  using C = VTEffectsControl;
  for (C c :
       {C::field, C::field, C::popup, C::popup, C::field, C::field, C::field, C::field, C::list}) {
    press(kTabCharCode);
    EXPECT_EQ(VTAutomationEffectsDialogFocus().control, c);
  }
  for (int back = 0; back < 6; ++back) press(kTabCharCode, shiftKey);
  EXPECT_EQ(VTAutomationEffectsDialogFocus().code, (OSType)'from');
  press(kDownArrowCharCode);  // right (2) -> top (1)
  EXPECT_EQ(param('from'), 1);
  VTAutomationPostKey(kTabCharCode, shiftKey);  // the end of the percentage tween
  VTAutomationPostKey(kUpArrowCharCode);
  press(kUpArrowCharCode);
  EXPECT_DOUBLE_EQ(param('pcnt', 1), 100);  // clamped at the top of its range
  EXPECT_EQ(press(kEscapeCharCode), userCanceledErr);

  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(kSlideTransitionType));  // degrees 0..360
  struct Case {
    OSType code;
    int which;
    const char* typed;
    double expect;  // the last good value stays when refused
    bool beeps;
  } cases[] = {
      {'pcnt', 1, "25", 25, false},    {'pcnt', 1, "12,5 %", 12.5, false},
      {'pcnt', 1, "250", 12.5, true},  {'pcnt', 1, "-1", 12.5, true},
      {'pcnt', 1, "abc", 12.5, true},  {'pcnt', 0, "100%", 100, false},
      {'angl', 0, "270°", 270, false}, {'angl', 0, "361", 270, true},
      {'angl', 0, "90 px", 270, true},  // another parameter's unit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    long beeps = VTAutomationBeepCount();
    type(c.code, c.which, c.typed);
    EXPECT_DOUBLE_EQ(param(c.code, c.which), c.expect);
    EXPECT_EQ(VTAutomationBeepCount() - beeps, c.beeps ? 1 : 0);
    EXPECT_EQ(VTAutomationEffectsDialogFieldText(c.code, c.which),
              c.expect == 12.5 ? "12.5" : std::to_string((int)c.expect));
  }
}

// A dragged slider sets (and its field shows) a value at the parameter's own precision: whole
// pixels, degrees and percentages, hundredths of a fraction.
TEST_F(ParamDialogTest, DraggedSlidersKeepEachParametersPrecision) {
  open(2);
  const struct {
    OSType effect, code;
    const char* pattern;
  } cases[] = {
      {kCrossFadeTransitionType, 'pcnt', "^[0-9]+$"},
      {kSlideTransitionType, 'angl', "^[0-9]+$"},
      {'smpt', 'widt', "^[0-9]+$"},
      {'xplo', 'xcnt', "^0(\\.[0-9]{1,2})?$"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(vt::fourccString(c.code));
    ASSERT_TRUE(VTAutomationEffectsDialogSelectCode(c.effect));
    EXPECT_EQ(dragSlider(c.code, 0, 37, 3), noErr);
    std::string shown = VTAutomationEffectsDialogFieldText(c.code, 0);
    EXPECT_TRUE(std::regex_match(shown, std::regex(c.pattern))) << shown;
    EXPECT_DOUBLE_EQ(param(c.code), std::stod(shown)) << "the value is the one shown";
  }
}

TEST_F(ParamDialogTest, LongPopupMenusNoneEntryArrowKeysAndWholeNumbers) {
  VTAutomationUseHeadless(1024, 600);  // too low for the 36 wipes in one column
  open(2);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode('smpt'));
  Point anchor = at('wpID', VTEffectsControl::popup);
  std::vector<std::string> items;
  int turn = 0;
  VTAutomationSetModalHook([&] {
    if (!VTAutomationPopupMenu(&items, nullptr) || ++turn != 3) return;
    Rect first{}, last{};
    ASSERT_TRUE(VTAutomationPopupMenuItemRect(0, &first));
    ASSERT_TRUE(VTAutomationPopupMenuItemRect((int)items.size() - 1, &last));
    // Every pattern is on the screen: the list is taller than the screen, so in columns.
    Rect screen = VTAutomationScreenBounds();
    EXPECT_GT(last.left, first.left);
    EXPECT_LE(last.bottom, screen.bottom);
    EXPECT_LE(last.right, screen.right);
    Rect pick{};
    ASSERT_TRUE(VTAutomationPopupMenuItemRect(33, &pick));
    VTAutomationPostClick(globalCentre(pick, false));
  });
  click(anchor);  // a click: the menu stays open for the next one
  VTAutomationSetModalHook(nullptr);
  const auto& patterns = vt::effects::findEffect('smpt')->param('wpID')->enumValues;
  ASSERT_EQ(items.size(), patterns.size());
  EXPECT_EQ(param('wpID'), patterns[33].value);

  // The one-source list with its "none" entry.
  close();
  open(1, elOptionsIncludeNoneInList);
  auto entries = VTAutomationEffectsDialogEffects();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[0].code, 0u);
  EXPECT_TRUE(VTAutomationEffectsDialogParams().empty());
  EXPECT_EQ(press((char)kDownArrowCharCode), noErr);
  EXPECT_EQ(VTAutomationEffectsDialogSelected(), 1);
  VTAutomationPostKey((char)kUpArrowCharCode);
  EXPECT_EQ(press((char)kUpArrowCharCode), noErr);  // already at the top: stays
  EXPECT_EQ(VTAutomationEffectsDialogSelected(), 0);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectName(entries[1].name));
  EXPECT_FALSE(VTAutomationEffectsDialogSelectName("No Such Effect"));
  ASSERT_EQ(confirm(), noErr);
  EXPECT_EQ(readLong(kParameterWhatName), (long)entries[1].code);

  // Whole numbers only where the parameter is whole (Brightness); Return takes what was typed.
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode('brco'));
  type('brig', 0, "-1");
  type('brig', 0, "0.5");
  EXPECT_DOUBLE_EQ(param('brig'), -1);
  VTAutomationPostClick(at('cont', VTEffectsControl::field));
  VTAutomationPostKey('a', cmdKey);
  VTAutomationPostText("7");
  EXPECT_EQ(press(kReturnCharCode), codecParameterDialogConfirm);
  EXPECT_DOUBLE_EQ(param('cont'), 7);
}

TEST_F(ParamDialogTest, ImageAndColourChoosersReachTheSample) {
  std::string dir = std::string(VT_BINARY_DIR) + "/paramdialog-images";
  std::filesystem::create_directories(dir);
  vt::Image matte(64, 32, vt::makePixel(200, 0, 0));
  ASSERT_TRUE(vt::writePNG(matte, (dir + "/matte ünï.png").c_str()));
  std::ofstream(dir + "/notes.txt") << "not an image";

  open(2);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode('matt'));
  VTAutomationNavChooseFile(dir + "/notes.txt");  // not listed: the chooser is cancelled
  click(at('mtte', VTEffectsControl::chooseImage));
  auto listed = VTAutomationNavLastShown().items;
  EXPECT_EQ(std::count(listed.begin(), listed.end(), "notes.txt"), 0);
  EXPECT_EQ(std::count(listed.begin(), listed.end(), "matte ünï.png"), 1);
  VTAutomationNavChooseFile(dir + "/matte ünï.png");
  click(at('mtte', VTEffectsControl::chooseImage));
  EXPECT_EQ(VTAutomationEffectsDialogParams()[1].imageName, "matte ünï.png");
  ASSERT_EQ(confirm(), noErr);
  std::string m = atomData('mtte');
  ASSERT_EQ(m.size(), 8u + 64 * 32 * 4);
  EXPECT_EQ(vt::readBE32((const uint8_t*)m.data()), 64u);
  EXPECT_EQ(vt::readBE32((const uint8_t*)m.data() + 4), 32u);

  // The colour picker reaches any colour; Cancel keeps the old one.
  ASSERT_TRUE(VTAutomationEffectsDialogSelectCode('ckey'));  // key colour: default blue
  auto pickWith = [&](auto act) {
    VTColourPickerInfo seen;
    bool acted = false;
    VTAutomationSetModalHook([&] {
      if (!acted && VTAutomationColourPicker(&seen)) {
        acted = true;
        act(seen);
      }
    });
    click(at('keyc', VTEffectsControl::colourWell));
    VTAutomationSetModalHook(nullptr);
    EXPECT_TRUE(acted);
    return seen;
  };
  // The hex field has the focus with its text selected: typing replaces it. The picker spells
  // "Color" as the parameters do.
  VTColourPickerInfo seen = pickWith([](const VTColourPickerInfo& p) {
    EXPECT_EQ(VTAutomationListWindows().front().title, "Colors");
    EXPECT_EQ(p.prompt, "Key Color:");
    VTAutomationPostText("3366CC");
    VTAutomationPostKey(kReturnCharCode);
  });
  EXPECT_EQ(seen.hex, "0000FF");
  // The blue it had is reachable again: a quick pick, then hue 240 typed in; Cancel changes
  // nothing.
  seen = pickWith([&](const VTColourPickerInfo& p) {
    VTAutomationPostClick(globalCentre(p.swatches[2], false));
    VTAutomationPostKey(kEscapeCharCode);
  });
  EXPECT_EQ(seen.hex, "3366CC");
  EXPECT_DOUBLE_EQ(param('keyc'), 0x3333);
  pickWith([](const VTColourPickerInfo& p) {
    Rect hue = p.fields[3].rect;
    VTAutomationPostClick(Point{(short)((hue.top + hue.bottom) / 2), (short)(hue.left + 5)});
    for (const char* v : {"240", "100", "100"}) {  // hue, saturation, value
      VTAutomationPostKey('a', cmdKey);
      VTAutomationPostText(v);
      VTAutomationPostKey(kTabCharCode);
    }
    VTAutomationPostKey(kReturnCharCode);
  });
  EXPECT_DOUBLE_EQ(param('keyc'), 0);  // red and green gone: pure blue
}

// A frei0r plugin's text parameter is a field the user types into; the description stores the
// plugin and the value under the parameter's name.
TEST_F(ParamDialogTest, PluginTextParametersAreTypedAndStoredByName) {
  open(1);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectName("cairogradient"))
      << "frei0r-plugins is installed by scripts/install-deps.sh";
  auto params = VTAutomationEffectsDialogParams();
  ASSERT_FALSE(params.empty());
  ASSERT_EQ(params[0].name, "pattern");
  EXPECT_EQ(params[0].text, "gradient_linear");  // the plugin's default
  press(kTabCharCode);                           // the list -> the text field, its text selected
  ASSERT_EQ(VTAutomationEffectsDialogFocus().control, VTEffectsControl::field);
  for (char c : std::string("gradient_radial")) press(c);
  press(kTabCharCode);  // leaving the field takes the text
  EXPECT_EQ(VTAutomationEffectsDialogParams()[0].text, "gradient_radial");
  ASSERT_EQ(confirm(), noErr);
  EXPECT_EQ(atomData(vt::effects::kPluginNameAtom), "cairogradient");
  QTAtom holder = QTFindChildByIndex(sample_, kParentAtomIsContainer, vt::effects::kPluginParamAtom,
                                     1, nullptr);
  ASSERT_NE(holder, 0);
  EXPECT_EQ(atomData(vt::effects::kPluginParamName, holder), "pattern");
  EXPECT_EQ(atomData(vt::effects::kPluginParamValue, holder), "gradient_radial");
}

// On a low screen the window stays on it and the parameter panel scrolls: Tab reveals the last
// of pr0file's parameters for a click, hidden rows take no clicks, and the scroll bar pages.
TEST_F(ParamDialogTest, ParametersBelowALowScreenScrollIntoView) {
  VTAutomationUseHeadless(800, 480);
  open(1);
  ASSERT_TRUE(VTAutomationEffectsDialogSelectName("pr0file"))
      << "frei0r-plugins is installed by scripts/install-deps.sh";
  const auto params = VTAutomationEffectsDialogParams();
  ASSERT_GE(params.size(), 20u);
  const OSType last = params.back().code;
  const WindowRef w = impl()->window();
  EXPECT_LE(w->content.bottom, VTAutomationScreenBounds().bottom);
  const Rect bar = impl()->scrollBarRect();
  ASSERT_GT(bar.bottom - bar.top, 0);
  using C = VTEffectsControl;
  Rect r{};
  for (C c : {C::slider, C::check, C::popup})
    EXPECT_FALSE(VTAutomationEffectsDialogControlRect(last, c, 0, &r));
  for (int i = 0; i < 100 && VTAutomationEffectsDialogFocus().code != last; ++i)
    press(kTabCharCode);
  ASSERT_EQ(VTAutomationEffectsDialogFocus().code, last);
  const C kind = VTAutomationEffectsDialogFocus().control == C::field
                     ? C::slider
                     : VTAutomationEffectsDialogFocus().control;
  ASSERT_TRUE(VTAutomationEffectsDialogControlRect(last, kind, 0, &r));
  EXPECT_LE(r.bottom, w->content.top + bar.bottom);
  const double before = param(last);
  click(Point{(short)((r.top + r.bottom) / 2), (short)(r.left + (r.right - r.left) / 10)});
  EXPECT_NE(param(last), before);
  // A click in the track above the thumb pages back: the last row is hidden again.
  const int scrolled = impl()->paramScroll();
  ASSERT_GT(scrolled, 0);
  click(globalCentre(Rect{bar.top, bar.left, (short)(bar.top + 4), bar.right}));
  EXPECT_LT(impl()->paramScroll(), scrolled);
  EXPECT_FALSE(VTAutomationEffectsDialogControlRect(last, kind, 0, &r));
  // The thumb dragged past the bottom shows the last row again.
  const Point thumb = globalCentre(impl()->thumbRect());
  VTAutomationPostDrag(thumb, Point{(short)(thumb.v + 400), thumb.h}, 4);
  deliver();
  EXPECT_EQ(impl()->paramScroll(), scrolled);
}

// The focus chain knows controls by one int: every kind, row and value reads back as itself,
// and no two controls share an id, however many parameters an effect has.
TEST(ParamDialogControlID, EncodesDistinctlyAndDecodesToItself) {
  using vt::paramdialog::ControlID;
  using vt::paramdialog::Hot;
  std::set<int> seen;
  for (Hot::Kind kind : {Hot::ListRow, Hot::Field, Hot::TweenToggle, Hot::Cancel})
    for (int index : {0, 9, 10, 999, 1000, 4096, ControlID::kMaxIndex})
      for (int which : {0, 1}) {
        const ControlID id{kind, index, which};
        EXPECT_TRUE(seen.insert(id.encode()).second) << kind << " " << index << " " << which;
        EXPECT_GE(id.encode(), 0);
        EXPECT_EQ(ControlID::decode(id.encode()), id);
      }
}

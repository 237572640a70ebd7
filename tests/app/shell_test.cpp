// The life of the process, the event loop's dispatch, the modal dialog filter and the about box.
#include <algorithm>
#include <tuple>
#include <vector>

#include "app_fixture.h"
#include "fixtures.h"

namespace {

// "key=value ..." of the fields given, for a child's report.
std::string Report(std::initializer_list<std::pair<const char*, long>> fields) {
  std::string out;
  for (auto& [key, value] : fields)
    out += (out.empty() ? "" : " ") + std::string(key) + "=" + std::to_string(value);
  return out;
}

// The texts of a menu's own items, "|" between them ("-" for a separator).
std::string ItemTexts(short menuID) {
  std::string out;
  for (const auto& m : VTAutomationMenuBar())
    if (m.id == menuID)
      for (const auto& item : m.items)
        if (!item.platformItem) out += (out.empty() ? "" : "|") + item.text;
  return out;
}

bool HandlerInstalled(AEEventID id) {
  AEEventHandlerUPP handler = nullptr;
  SRefCon refcon = 0;
  return AEGetEventHandler(kCoreEventClass, id, &handler, &refcon, false) == noErr && handler;
}

}  // namespace

using ShellRun = AppTest;

// Quit ends the loop before the next event (the print event would be answered -1708) and
// releases the callbacks; a resource file without the menu bar does not stop start-up.
TEST_F(ShellRun, QuitEventEndsTheLoopBeforeTheNextEvent) {
  ChildRun run = RunApplication(
      [this] {
        VTResetResources();
        VTOpenResourceFile(vt_test::writeFile(tempDir_ + "/empty.rsrc.json", "{}\n").c_str());
        VTAEPostQuitApplication();
        const char* paths[] = {"/nonexistent.mov"};
        VTAEPostPrintDocuments(paths, 1);
      },
      [] {
        return Report({{"menus", (long)VTAutomationMenuBar().size()},
                       {"windows", (long)VTAutomationListWindows().size()},
                       {"lastResult", VTAELastHandlerResult()},
                       {"filter", gModalFilterUPP != NULL}});
      });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.report, "menus=0 windows=0 lastResult=0 filter=0");
}

// Without video effects the application ends right after start-up: no alert, no event handled,
// but the Apple event handlers are installed by the same call.
TEST_F(ShellRun, StartUpFailuresAndTheFileMenuBySystem) {
  ChildRun run = RunApplication(
      [] {
        VTSetGestaltAnswer(gestaltQuickTime, noErr, 0x02508000);
        VTAutomationPostKey('n', cmdKey);
      },
      [] {
        return Report({{"turns", VTAutomationModalTurns()},
                       {"windows", (long)VTAutomationListWindows().size()},
                       {"pending", VTAutomationPendingInput() > 0},
                       {"installed", HandlerInstalled(kAEOpenDocuments)}});
      });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.report, "turns=0 windows=0 pending=1 installed=1");

  // When the movie layer cannot start, one warning names the error (a second would never be
  // answered) and the process ends when it is dismissed, before the hooks or any event.
  static std::string seen;
  run = RunApplication(
      [] {
        VTSetEnterMoviesResult(-2093);
        VTAutomationPostKey('n', cmdKey);  // never handled
        VTAutomationSetModalHook([] {
          if (!VTAutomationHasFrontDialog() || !seen.empty()) return;
          seen = VTAutomationParamText(0) + "|" + VTAutomationParamText(1) + "|" +
                 VTAutomationParamText(2);
          for (auto& item : VTAutomationFrontDialogItems())
            if (item.text.find("-2093") != std::string::npos) seen += "|shown";
          VTAutomationPostKey('\r');
        });
      },
      [] {
        return seen + " " + Report({{"installed", HandlerInstalled(kAEQuitApplication)}});
      });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.report,
            "Warning!|Could not initialize QuickTime. Exiting.|-2093|shown installed=0");

  // On a 10.x system the File menu loses Quit and the separator above it; on 9.x, or when the
  // system version cannot be had, it keeps them. Nothing else is in it.
  const std::string document = "New|Open…|Close|Save|Save As…", whole = document + "|-|Quit";
  const std::tuple<OSErr, SInt32, std::string> cases[] = {{noErr, 0x1040, document},
                                                          {noErr, 0x1000, document},
                                                          {noErr, 0x0922, whole},
                                                          {noErr, 0x09FF, whole},
                                                          {gestaltUndefSelectorErr, 0x1040, whole}};
  for (const auto& [err, version, items] : cases) {
    ChildRun child = RunApplication(
        [err = err, version = version] {
          VTSetGestaltAnswer(gestaltSystemVersion, err, version);
          VTAEPostQuitApplication();
        },
        [] { return ItemTexts(kFileMenuResID); });
    EXPECT_EQ(child.report, items)
        << "version " << std::hex << version << " error " << std::dec << err;
  }
}

// As shipped, the application menu ends with Export Movie…, on while a movie window is open;
// 0x8106, the code of the separator start-up removes, is nobody's command, even with a movie
// window in front. Checked from the open dialog of File Open, after File New.
TEST_F(ShellRun, ShippedMenusAndTheRemovedSeparatorsCode) {
  static std::string seen;
  ChildRun run = RunApplication(
      [] {
        VTAutomationPostKey('n', cmdKey);
        VTAutomationPostKey('o', cmdKey);
        VTAutomationSetModalHook([] {
          VTNavDialogInfo open;
          if (!seen.empty() || !VTAutomationNavCurrent(&open)) return;
          seen = "asked";  // this hook runs again inside any dialog the command shows
          bool exportOn = false;
          for (const auto& m : VTAutomationMenuBar())
            if (m.id == kApplicationMenuResID && m.items.size() >= 6) exportOn = m.items[5].enabled;
          QTFrame_HandleFileMenuItem(QTFrame_GetFrontMovieWindow(), 0x8106);
          seen = Report({{"export", exportOn},
                         {"claimed", QTApp_HandleMenu(0x8106)},
                         {"dialogs", VTAutomationNavDialogCount()},
                         {"windows", (long)VTAutomationListWindows().size()}});
          VTAutomationPostKey((char)kEscapeCharCode);
          VTAEPostQuitApplication();
        });
      },
      [] {
        return ItemTexts(kFileMenuResID) + "\n" + ItemTexts(kApplicationMenuResID) + "\n" + seen;
      });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.report,
            "New|Open…|Close|Save|Save As…\n"
            "Make Effect Movie…|-|Copy Source Media|Refer to Source Media|-|Export Movie…\n"
            "export=1 claimed=0 dialogs=1 windows=2");
}

// Two dirty movie windows, the front one in front; the save-changes messages asked, in order.
class ShellModal : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    OpenMovieWindow("back.mov", true);
    front_ = OpenMovieWindow("front.mov", true);
    OnModalTurn([this](long) {
      VTNavDialogInfo info;
      if (VTAutomationNavCurrent(&info) && info.kind == VTNavDialogKind::saveChanges &&
          (messages_.empty() || messages_.back() != info.message))
        messages_.push_back(info.message);
    });
  }
  WindowReference front_ = nullptr;
  std::vector<std::string> messages_;
};

// Cancel abandons the quit, yet the window behind is still asked (as for closing).
TEST_F(ShellModal, CancelledQuitStillAsksTheWindowBehindAndReleasesNothing) {
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesCancel);
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesDontSave);
  QTFrame_QuitFramework();
  EXPECT_FALSE(gShuttingDown);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), front_);
  EXPECT_EQ(QTFrame_GetNextMovieWindow(front_), nullptr) << "the back window was closed";
  EXPECT_TRUE(Record(front_).fIsDirty);
  EXPECT_NE(gModalFilterUPP, nullptr) << "an abandoned quit releases nothing";
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_NE(messages_[0].find("front.mov"), std::string::npos);
  EXPECT_NE(messages_[0].find("quitting"), std::string::npos);
  EXPECT_NE(messages_[1].find("back.mov"), std::string::npos);
  EXPECT_EQ(messages_[1].find("quitting"), std::string::npos);
}

// After a cancelled quit a second one runs the whole procedure again; Save writes the movie
// before it completes.
TEST_F(ShellModal, ASecondQuitRunsAgainAndSaveWritesTheMovieFirst) {
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesCancel);
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesDontSave);
  QTFrame_QuitFramework();
  ASSERT_FALSE(gShuttingDown);
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesSave);
  VTAutomationNavSaveAs(tempDir_, "front.mov");
  QTFrame_QuitFramework();
  EXPECT_TRUE(gShuttingDown);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), nullptr);
  FSSpec spec;
  FInfo info;
  ASSERT_EQ(VTMakeFSSpecFromPath((tempDir_ + "/front.mov").c_str(), &spec), noErr);
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, (OSType)'MooV');
  EXPECT_EQ(info.fdCreator, (OSType)'TVOD');
}

// The about box, over open movie windows, drags by its title and closes only with item 1; the
// port and the current resource file are given back.
TEST_F(ShellModal, AboutBoxDragsByItsTitleAndClosesOnlyWithItemOne) {
  InstallMenuBar();
  WindowReference w = OpenMovieWindow("port.mov");
  SetPort(QTFrame_GetPortFromWindowReference(w));
  VTOpenResourceFile(VT_SOURCE_DIR "/Application Files/Vantrel.rsrc.json");
  short savedFile = CurResFile();
  Rect before{}, after{};
  bool dragged = false;
  OnModalTurn([&](long turn) {
    if (!VTAutomationHasFrontDialog()) return;
    WindowReference d = FrontWindow();
    if (turn == 1) {
      // The application's icon fills the space at the top left (its orange half at a quarter).
      auto items = VTAutomationFrontDialogItems();
      auto icon = std::find_if(items.begin(), items.end(),
                               [](const VTDialogItemInfo& i) { return i.kind == iconItem; });
      ASSERT_NE(icon, items.end());
      const Rect g = icon->globalRect;
      UInt32 orange = VTAutomationScreenPixel((short)(g.left + (g.right - g.left) / 4),
                                              (short)((g.top + g.bottom) / 2));
      EXPECT_GT((orange >> 16) & 0xFF, 200u);
      EXPECT_LT(orange & 0xFF, 100u) << std::hex << orange;
      before = InfoOf(d).structure;
      Point from = TitleBarPoint(d);
      VTAutomationPostDrag(from, Point{(short)(from.v + 30), (short)(from.h + 50)});
    } else if (turn == 20) {
      after = InfoOf(d).structure;
      // Clicks on every other item and a stray key do not close it; item 1 does.
      auto items = VTAutomationFrontDialogItems();
      ASSERT_GT(items.size(), 1u);
      for (auto& it : items)
        if (it.index != 1) VTAutomationPressDialogItem(it.index);
      VTAutomationPostKey('x');
    } else if (turn >= 60 && !dragged && VTAutomationPendingInput() == 0) {
      dragged = true;
      VTAutomationPressDialogItem(1);
    }
  });
  QTFrame_ShowAboutBox();
  EXPECT_TRUE(dragged) << "the about box closed before item 1 was pressed";
  EXPECT_EQ(after.left - before.left, 50);
  EXPECT_EQ(after.top - before.top, 30);
  EXPECT_FALSE(VTAutomationHasFrontDialog());
  EXPECT_EQ(CurrentPort(), QTFrame_GetPortFromWindowReference(w));
  EXPECT_EQ(CurResFile(), savedFile);
}

// The filter serves other windows' updates and idles movies, drags its own dialog by the title
// and leaves every other click to the standard filter.
TEST_F(ShellModal, DialogFilterServesUpdatesDragsItsDialogAndLeavesOtherClicks) {
  VTOpenResourceFile(VT_SOURCE_DIR "/Application Files/Vantrel.rsrc.json");
  DialogPtr dialog = GetNewDialog(kAboutBoxID, NULL, (WindowPtr)-1L);
  ASSERT_NE(dialog, nullptr);
  DialogItemIndex item = 77;
  auto filter = [&](EventRecord e) {
    return QTFrame_StandardModalDialogEventFilter(dialog, &e, &item);
  };
  Point title = TitleBarPoint(GetDialogWindow(dialog));
  VTAutomationPostMouseUp(Point{(short)(title.v + 10), (short)(title.h + 10)});
  EXPECT_TRUE(filter(MakeEvent(mouseDown, 0, 0, title)));
  EXPECT_EQ(item, 77) << "a drag ends no dialog";
  EXPECT_FALSE(filter(MakeEvent(updateEvt, (unsigned long)front_)));
  EXPECT_FALSE(filter(MakeEvent(nullEvent)));
  SetDialogDefaultItem(dialog, 1);
  EXPECT_TRUE(filter(MakeEvent(keyDown, kReturnCharCode)));
  EXPECT_EQ(item, 1);
  DisposeDialog(dialog);
}

class ShellDispatch : public AppTest {
 protected:
  void Dispatch(EventRecord e) { QTFrame_HandleEvent(&e); }
};

// Menu commands are routed by menu ID; command keys go through the menus and plain keys to
// the hook; a click in the bar that chooses nothing only unhighlights.
TEST_F(ShellDispatch, MenuCommandsAndKeysAreRoutedByMenuID) {
  InstallMenuBar();
  // The application menu goes to the hook (item 3: copy media).
  QTFrame_HandleMenuCommand((long)kApplicationMenuResID << 16 | 3);
  EXPECT_TRUE(gCopyMovieMedia);

  // File New makes a window titled for the default document; so does Ctrl+N.
  QTFrame_HandleMenuCommand((long)kFileMenuResID << 16 | 1);
  WindowReference w = QTFrame_GetFrontMovieWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Title(w), "untitled.mov");
  EXPECT_EQ(Record(w).fFileRefNum, -1);
  Dispatch(MakeEvent(keyDown, 'n', cmdKey));
  EXPECT_EQ(WindowCount(), 2);

  // Apple menu items other than the about item, no selection at all, plain and unbound keys and
  // a bar click released on the title do nothing.
  QTFrame_HandleMenuCommand((long)kAppleMenuResID << 16 | 2);
  QTFrame_HandleMenuCommand(0);
  EXPECT_EQ(VTAutomationModalTurns(), 0);
  Dispatch(MakeEvent(keyDown, 'n'));
  Dispatch(MakeEvent(autoKey, '%', cmdKey));
  Rect title;
  ASSERT_TRUE(VTAutomationMenuTitleRect(kFileMenuResID, &title));
  VTAutomationPostMouseUp(Centre(title));
  Dispatch(MakeEvent(mouseDown, 0, 0, Centre(title)));
  EXPECT_EQ(WindowCount(), 2);
  EXPECT_FALSE(gShuttingDown);
  EXPECT_EQ(VTAutomationHilitedMenu(), 0);

  // File Close closes the front movie window; File Quit (item 7) quits.
  QTFrame_HandleMenuCommand((long)kFileMenuResID << 16 | 3);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), w);
  QTFrame_HandleMenuCommand((long)kFileMenuResID << 16 | 7);
  EXPECT_TRUE(gShuttingDown);
}

// A click in a back window only brings it to the front; its title bar drags it; its close box
// closes it alone, and an Option-click on a close box offers every movie window for closing.
TEST_F(ShellDispatch, ClicksSuspendsAndUpdates) {
  WindowReference first = OpenMovieWindow("one.mov");
  WindowReference back = OpenMovieWindow("back.mov");
  WindowReference front = OpenMovieWindow("front.mov");
  // Move the back window clear of the front one so that a click can reach it.
  MoveWindow(back, (short)(InfoOf(front).structure.right + 20), 60, false);
  Dispatch(MakeEvent(mouseDown, 0, 0, Centre(InfoOf(back).content)));
  EXPECT_EQ(FrontWindow(), back);
  EXPECT_EQ(QTFrame_GetWindowReferenceFromPort(CurrentPort()), back);
  EXPECT_EQ(WindowCount(), 3);

  const Rect before = InfoOf(back).structure;
  Point from = TitleBarPoint(back), to{(short)(from.v + 40), (short)(from.h + 70)};
  VTAutomationPostMouseMove(to);
  VTAutomationPostMouseUp(to);
  Dispatch(MakeEvent(mouseDown, 0, 0, from));
  EXPECT_NE(InfoOf(back).structure.left, before.left);
  EXPECT_GT(InfoOf(back).structure.top, before.top);

  Point box = CloseBoxPoint(back);
  VTAutomationPostMouseUp(box);
  Dispatch(MakeEvent(mouseDown, 0, 0, box));
  EXPECT_EQ(WindowCount(), 2);
  EXPECT_NE(QTFrame_GetFrontMovieWindow(), back);

  Record(first).fIsDirty = true;  // the one asked
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesDontSave);
  box = CloseBoxPoint(QTFrame_GetFrontMovieWindow());
  VTAutomationPostMouseUp(box, optionKey);
  Dispatch(MakeEvent(mouseDown, 0, optionKey, box));
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), nullptr);
  EXPECT_EQ(VTAutomationNavDialogCount(), 1);

  // Suspend and resume set the foreground flag.
  Dispatch(MakeEvent(osEvt, (unsigned long)suspendResumeMessage << 24));
  EXPECT_FALSE(gAppInForeground);
  Dispatch(MakeEvent(osEvt, (unsigned long)mouseMovedMessage << 24 | resumeFlag));
  EXPECT_FALSE(gAppInForeground) << "mouse-moved messages change nothing";
  Dispatch(MakeEvent(osEvt, (unsigned long)suspendResumeMessage << 24 | resumeFlag));
  EXPECT_TRUE(gAppInForeground);
  // Unknown kinds and null update windows are ignored.
  Dispatch(MakeEvent(42));
  Dispatch(MakeEvent(updateEvt, 0));
  QTFrame_HandleEvent(nullptr);

  // An update leaves the window valid and the port unchanged.
  WindowReference w = OpenMovieWindow("update.mov");
  Rect r;
  GetWindowPortBounds(w, &r);
  InvalWindowRect(w, &r);
  const GrafPtr port = CurrentPort();
  Dispatch(MakeEvent(updateEvt, (unsigned long)w));
  EXPECT_EQ(CurrentPort(), port);
  EXPECT_FALSE(UpdatePending(w));
}

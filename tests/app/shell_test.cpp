// The life of the process, the event loop's dispatch, the modal dialog filter, the about box
// and the warning.
#include <vector>

#include "app_fixture.h"

namespace {

std::string Field(const std::string& report, const std::string& key) {
  auto at = report.find(key + "=");
  if (at == std::string::npos) return "?";
  auto end = report.find(' ', at);
  return report.substr(at + key.size() + 1,
                       end == std::string::npos ? end : end - at - key.size() - 1);
}

EventRecord MakeEvent(EventKind what, unsigned long message = 0, EventModifiers modifiers = 0) {
  EventRecord e{};
  e.what = what;
  e.message = message;
  e.modifiers = modifiers;
  return e;
}

}  // namespace

using ShellRun = AppTest;

// Quitting with no window ends the loop at its next turn: events queued behind the quit event
// are never handled, and the process ends with status 0.
TEST_F(ShellRun, QuitEventEndsTheLoopBeforeTheNextEvent) {
  MainRun run = RunApplication(
      [] {
        VTAEPostQuitApplication();
        const char* paths[] = {"/nonexistent.mov"};
        VTAEPostPrintDocuments(paths, 1);  // answered -1708 if it were ever handled
      },
      [] {
        return "windows=" + std::to_string(VTAutomationListWindows().size()) +
               " pending=" + std::to_string(VTAutomationPendingInput()) +
               " lastResult=" + std::to_string(VTAELastHandlerResult()) +
               " filter=" + std::to_string(gModalFilterUPP != NULL) + " ";
      });
  ASSERT_TRUE(run.exited) << "status " << run.status;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Field(run.report, "windows"), "0");
  EXPECT_EQ(Field(run.report, "lastResult"), "0") << "the print event after the quit was handled";
  EXPECT_EQ(Field(run.report, "filter"), "0") << "callbacks are released by a completed shutdown";
}

// On a 10.x system the File menu loses Quit and the separator above it; on 9.x, or when the
// system version cannot be had, it keeps them. Export comes last either way.
TEST_F(ShellRun, FileMenuLosesItemsSevenAndSixOnlyFromSystemTen) {
  auto fileItems = [] {
    MenuHandle m = GetMenuHandle(kFileMenuResID);
    return "items=" + std::to_string(m ? CountMenuItems(m) : -1) + " ";
  };
  struct Case {
    OSErr err;
    SInt32 version;
    const char* items;
  };
  for (Case c : {Case{noErr, 0x1040, "6"}, Case{noErr, 0x1000, "6"}, Case{noErr, 0x0922, "8"},
                 Case{noErr, 0x09FF, "8"}, Case{gestaltUndefSelectorErr, 0x1040, "8"}}) {
    MainRun run = RunApplication(
        [c] {
          VTSetGestaltAnswer(gestaltSystemVersion, c.err, c.version);
          VTAEPostQuitApplication();
        },
        fileItems);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(Field(run.report, "items"), c.items)
        << "version " << std::hex << c.version << " error " << std::dec << c.err;
  }
}

// Without video effects the application ends right after start-up: no alert, no event handled,
// but the Apple event handlers are installed by the same call.
TEST_F(ShellRun, MissingVideoEffectsQuitsSilently) {
  MainRun run = RunApplication(
      [] {
        VTSetGestaltAnswer(gestaltQuickTime, noErr, 0x02508000);
        VTAutomationPostKey('n', cmdKey);
      },
      [] {
        AEEventHandlerUPP handler = nullptr;
        SRefCon refcon = 0;
        OSErr installed =
            AEGetEventHandler(kCoreEventClass, kAEOpenDocuments, &handler, &refcon, false);
        return "turns=" + std::to_string(VTAutomationModalTurns()) +
               " windows=" + std::to_string(VTAutomationListWindows().size()) +
               " pending=" + std::to_string(VTAutomationPendingInput()) +
               " installed=" + std::to_string(installed == noErr && handler != nullptr) + " ";
      });
  ASSERT_TRUE(run.exited) << "status " << run.status;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Field(run.report, "turns"), "0") << "no alert or dialog was shown";
  EXPECT_EQ(Field(run.report, "windows"), "0");
  EXPECT_NE(Field(run.report, "pending"), "0");
  EXPECT_EQ(Field(run.report, "installed"), "1");
}

// When the movie layer cannot start, the user sees one warning naming the error, and the process
// ends as soon as it is dismissed: the hooks never start and no event is handled.
TEST_F(ShellRun, MovieLayerFailingShowsOneWarningThenEnds) {
  static std::string seen;
  static int alerts;
  MainRun run = RunApplication(
      [] {
        VTSetEnterMoviesResult(-2093);
        VTAutomationPostKey('n', cmdKey);  // never handled
        VTAutomationSetModalHook([] {
          if (!VTAutomationHasFrontDialog() || !seen.empty()) return;
          alerts++;
          seen = VTAutomationParamText(0) + "|" + VTAutomationParamText(1) + "|" +
                 VTAutomationParamText(2);
          for (auto& item : VTAutomationFrontDialogItems())
            if (item.text.find("-2093") != std::string::npos) seen += "|shown";
          for (char& c : seen)
            if (c == ' ') c = '_';  // the report's fields are space-separated
          VTAutomationPostKey('\r');
        });
      },
      [] {
        AEEventHandlerUPP handler = nullptr;
        SRefCon refcon = 0;
        OSErr installed =
            AEGetEventHandler(kCoreEventClass, kAEQuitApplication, &handler, &refcon, false);
        return "alerts=" + std::to_string(alerts) + " seen=" + seen +
               " windows=" + std::to_string(VTAutomationListWindows().size()) +
               " installed=" + std::to_string(installed == noErr && handler != nullptr) + " ";
      });
  ASSERT_TRUE(run.exited) << "status " << run.status;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Field(run.report, "alerts"), "1");
  EXPECT_EQ(Field(run.report, "seen"),
            "Warning!|Could_not_initialize_QuickTime._Exiting.|-2093|shown");
  EXPECT_EQ(Field(run.report, "installed"), "0") << "start-up went on after the failure";
}

// Start-up with a resource file lacking the menu bar runs on without one.
TEST_F(ShellRun, MissingMenuBarDoesNotStopStartUp) {
  MainRun run = RunApplication(
      [this] {
        std::string path = tempDir_ + "/empty.rsrc.json";
        FILE* f = fopen(path.c_str(), "w");
        fputs("{}\n", f);
        fclose(f);
        VTResetResources();
        VTOpenResourceFile(path.c_str());
        VTAEPostQuitApplication();
      },
      [] { return "menus=" + std::to_string(VTAutomationMenuBar().size()) + " "; });
  ASSERT_TRUE(run.exited) << "status " << run.status;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Field(run.report, "menus"), "0");
}

class ShellQuit : public AppTest {};

// Cancel on the front window abandons the quit, yet the pass goes on: the window behind is
// asked with the closing wording and closes on Don't Save.
TEST_F(ShellQuit, CancelInOneWindowAbandonsQuitButTheRestAreStillAsked) {
  WindowReference back = OpenMovieWindow("back.mov", true);
  WindowReference front = OpenMovieWindow("front.mov", true);
  ASSERT_EQ(QTFrame_GetFrontMovieWindow(), front);

  std::vector<std::string> messages;
  OnModalTurn([&messages](long) {
    VTNavDialogInfo info;
    if (VTAutomationNavCurrent(&info) && info.kind == VTNavDialogKind::saveChanges &&
        (messages.empty() || messages.back() != info.message))
      messages.push_back(info.message);
  });
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesCancel);
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesDontSave);

  QTFrame_QuitFramework();

  EXPECT_FALSE(gShuttingDown);
  EXPECT_EQ(VTAutomationNavDialogCount(), 2);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), front);
  EXPECT_EQ(QTFrame_GetNextMovieWindow(front), nullptr) << "the back window was closed";
  EXPECT_TRUE((**QTFrame_GetWindowObjectFromWindow(front)).fIsDirty);
  EXPECT_NE(gModalFilterUPP, nullptr) << "an abandoned quit releases nothing";
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].find("front.mov"), std::string::npos);
  EXPECT_NE(messages[0].find("quitting"), std::string::npos);
  EXPECT_NE(messages[1].find("back.mov"), std::string::npos);
  EXPECT_EQ(messages[1].find("quitting"), std::string::npos);
  (void)back;

  // A second quit runs the whole procedure again and completes.
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesDontSave);
  QTFrame_QuitFramework();
  EXPECT_TRUE(gShuttingDown);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), nullptr);
}

// A dirty window answered with Save is written to its file before the application ends.
TEST_F(ShellQuit, SaveAnswerWritesTheMovieAndCompletesTheQuit) {
  OpenMovieWindow("saved.mov", true);
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesSave);
  VTAutomationNavSaveAs(tempDir_, "saved.mov");

  QTFrame_QuitFramework();

  EXPECT_TRUE(gShuttingDown);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), nullptr);
  FSSpec spec;
  ASSERT_EQ(VTMakeFSSpecFromPath((tempDir_ + "/saved.mov").c_str(), &spec), noErr);
  FInfo info;
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  EXPECT_EQ(info.fdType, (OSType)'MooV');
  EXPECT_EQ(info.fdCreator, (OSType)'TVOD');
}

class ShellDispatch : public AppTest {};

TEST_F(ShellDispatch, MenuCommandsAreRoutedByMenuID) {
  InstallMenuBar();
  // Application menu: items 3 and 4 choose the media mode; the hook handles them.
  QTFrame_HandleMenuCommand((long)kApplicationMenuResID << 16 | 3);
  EXPECT_TRUE(gCopyMovieMedia);
  QTFrame_HandleMenuCommand((long)kApplicationMenuResID << 16 | 4);
  EXPECT_FALSE(gCopyMovieMedia);

  // File New makes a window titled for the default document.
  QTFrame_HandleMenuCommand((long)kFileMenuResID << 16 | 1);
  WindowReference w = QTFrame_GetFrontMovieWindow();
  ASSERT_NE(w, nullptr);
  Str255 title;
  GetWTitle(w, title);
  EXPECT_EQ(ToString(title), "untitled.mov");
  EXPECT_EQ((**QTFrame_GetWindowObjectFromWindow(w)).fFileRefNum, -1);

  // Apple menu items other than the about item, and no selection at all, do nothing.
  int windows = WindowCount();
  QTFrame_HandleMenuCommand((long)kAppleMenuResID << 16 | 2);
  QTFrame_HandleMenuCommand(0);
  EXPECT_EQ(WindowCount(), windows);
  EXPECT_EQ(VTAutomationModalTurns(), 0);
  EXPECT_EQ(VTAutomationHilitedMenu(), 0);

  // File Close closes the front movie window; File Quit (item 7) quits.
  QTFrame_HandleMenuCommand((long)kFileMenuResID << 16 | 3);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), nullptr);
  QTFrame_HandleMenuCommand((long)kFileMenuResID << 16 | 7);
  EXPECT_TRUE(gShuttingDown);
}

TEST_F(ShellDispatch, CommandKeysGoThroughTheMenusAndPlainKeysToTheHook) {
  InstallMenuBar();
  EventRecord key = MakeEvent(keyDown, 'n', cmdKey);
  QTFrame_HandleEvent(&key);
  EXPECT_NE(QTFrame_GetFrontMovieWindow(), nullptr) << "Ctrl+N is File New";
  int windows = WindowCount();

  EventRecord plain = MakeEvent(keyDown, 'n');
  QTFrame_HandleEvent(&plain);
  EventRecord unbound = MakeEvent(autoKey, '%', cmdKey);
  QTFrame_HandleEvent(&unbound);
  EXPECT_EQ(WindowCount(), windows);
  EXPECT_FALSE(gShuttingDown);
  EXPECT_EQ(VTAutomationHilitedMenu(), 0);
}

TEST_F(ShellDispatch, MenuBarClickThatChoosesNothingOnlyUnhighlights) {
  InstallMenuBar();
  Rect title;
  ASSERT_TRUE(VTAutomationMenuTitleRect(kFileMenuResID, &title));
  Point p{(short)((title.top + title.bottom) / 2), (short)((title.left + title.right) / 2)};
  VTAutomationPostMouseUp(p);  // released on the title: no item
  EventRecord down = MakeEvent(mouseDown);
  down.where = p;
  QTFrame_HandleEvent(&down);
  EXPECT_EQ(VTAutomationHilitedMenu(), 0);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), nullptr);
  EXPECT_FALSE(gShuttingDown);
}

TEST_F(ShellDispatch, ClickInABackWindowOnlyBringsItToTheFront) {
  WindowReference back = OpenMovieWindow("back.mov");
  WindowReference front = OpenMovieWindow("front.mov");
  ASSERT_EQ(FrontWindow(), front);
  VTWindowInfo backInfo{}, frontInfo{};
  for (auto& i : VTAutomationListWindows()) {
    if (i.window == back) backInfo = i;
    if (i.window == front) frontInfo = i;
  }
  // Move the back window clear of the front one so that a click can reach it.
  MoveWindow(back, (short)(frontInfo.structure.right + 20), 60, false);

  EventRecord click = MakeEvent(mouseDown);
  click.where = ContentPoint(back);
  QTFrame_HandleEvent(&click);
  EXPECT_EQ(FrontWindow(), back);
  EXPECT_EQ(QTFrame_GetWindowReferenceFromPort([] {
              GrafPtr p;
              GetPort(&p);
              return p;
            }()),
            back);
  EXPECT_EQ(WindowCount(), 2);
}

TEST_F(ShellDispatch, CloseBoxClosesOneWindowAndOptionClickClosesAll) {
  WindowReference first = OpenMovieWindow("one.mov");
  OpenMovieWindow("two.mov");
  WindowReference third = OpenMovieWindow("three.mov");

  Point box = CloseBoxPoint(third);
  EventRecord down = MakeEvent(mouseDown);
  down.where = box;
  VTAutomationPostMouseUp(box);
  QTFrame_HandleEvent(&down);
  EXPECT_EQ(WindowCount(), 2);
  EXPECT_NE(QTFrame_GetFrontMovieWindow(), third);

  // Option-click: every movie window is offered for closing, each dirty one asked.
  (**QTFrame_GetWindowObjectFromWindow(first)).fIsDirty = true;
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesDontSave);
  WindowReference front = QTFrame_GetFrontMovieWindow();
  box = CloseBoxPoint(front);
  VTAutomationPostMouseUp(box, optionKey);
  down.where = box;
  down.modifiers = optionKey;
  QTFrame_HandleEvent(&down);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), nullptr);
  EXPECT_EQ(VTAutomationNavDialogCount(), 1);
}

TEST_F(ShellDispatch, SuspendAndResumeSetTheForegroundFlag) {
  EventRecord suspend = MakeEvent(osEvt, (unsigned long)suspendResumeMessage << 24);
  QTFrame_HandleEvent(&suspend);
  EXPECT_FALSE(gAppInForeground);
  EventRecord moved = MakeEvent(osEvt, (unsigned long)mouseMovedMessage << 24 | resumeFlag);
  QTFrame_HandleEvent(&moved);
  EXPECT_FALSE(gAppInForeground) << "mouse-moved messages change nothing";
  EventRecord resume = MakeEvent(osEvt, (unsigned long)suspendResumeMessage << 24 | resumeFlag);
  QTFrame_HandleEvent(&resume);
  EXPECT_TRUE(gAppInForeground);

  // Unknown kinds and null update windows are ignored.
  EventRecord odd = MakeEvent(42);
  QTFrame_HandleEvent(&odd);
  EventRecord update = MakeEvent(updateEvt, 0);
  QTFrame_HandleEvent(&update);
  QTFrame_HandleEvent(nullptr);
}

TEST_F(ShellDispatch, UpdateEventLeavesTheWindowValidAndThePortUnchanged) {
  WindowReference w = OpenMovieWindow("update.mov");
  Rect r;
  GetWindowPortBounds(w, &r);
  InvalWindowRect(w, &r);
  GrafPtr before;
  GetPort(&before);
  EventRecord update = MakeEvent(updateEvt, (unsigned long)w);
  QTFrame_HandleEvent(&update);
  GrafPtr after;
  GetPort(&after);
  EXPECT_EQ(before, after);
  // Nothing is left to update: the queue holds no update event for the window.
  EventRecord next;
  bool sawUpdate = false;
  for (int i = 0; i < 8 && GetNextEvent(updateMask, &next); ++i)
    if (next.what == updateEvt && next.message == (unsigned long)w) sawUpdate = true;
  EXPECT_FALSE(sawUpdate);
}

TEST_F(ShellDispatch, DraggingAMovieWindowMovesIt) {
  WindowReference w = OpenMovieWindow("drag.mov");
  VTWindowInfo before{};
  for (auto& i : VTAutomationListWindows())
    if (i.window == w) before = i;
  Point from = TitleBarPoint(w);
  Point to{(short)(from.v + 40), (short)(from.h + 70)};
  VTAutomationPostMouseMove(to);
  VTAutomationPostMouseUp(to);
  EventRecord down = MakeEvent(mouseDown);
  down.where = from;
  QTFrame_HandleEvent(&down);
  VTWindowInfo after{};
  for (auto& i : VTAutomationListWindows())
    if (i.window == w) after = i;
  EXPECT_NE(after.structure.left, before.structure.left);
  EXPECT_GT(after.structure.top, before.structure.top);
}

class ShellDialogs : public AppTest {};

TEST_F(ShellDialogs, AboutBoxDragsByItsTitleAndClosesOnlyWithItemOne) {
  InstallMenuBar();
  Rect before{}, after{};
  bool dragged = false;
  OnModalTurn([&](long turn) {
    if (!VTAutomationHasFrontDialog()) return;
    WindowReference d = FrontWindow();
    if (turn == 1) {
      for (auto& i : VTAutomationListWindows())
        if (i.window == d) before = i.structure;
      Point from = TitleBarPoint(d);
      VTAutomationPostDrag(from, Point{(short)(from.v + 30), (short)(from.h + 50)});
    } else if (turn == 20) {
      for (auto& i : VTAutomationListWindows())
        if (i.window == d) after = i.structure;
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
}

TEST_F(ShellDialogs, AboutBoxRestoresPortAndResourceFile) {
  WindowReference w = OpenMovieWindow("port.mov");
  SetPort(QTFrame_GetPortFromWindowReference(w));
  short otherFile = VTOpenResourceFile(VT_SOURCE_DIR "/Application Files/Vantrel.rsrc.json");
  short savedFile = CurResFile();
  (void)otherFile;
  OnModalTurn([](long turn) {
    if (turn == 2) VTAutomationPressDialogItem(1);
  });
  QTFrame_ShowAboutBox();
  GrafPtr port;
  GetPort(&port);
  EXPECT_EQ(port, QTFrame_GetPortFromWindowReference(w));
  EXPECT_EQ(CurResFile(), savedFile);
}

// The filter serves other windows' updates and idles movies, drags its own dialog by the title
// and leaves every other click to the standard filter.
TEST_F(ShellDialogs, ModalFilterHandlesOnlyDragsOfItsOwnDialog) {
  WindowReference movie = OpenMovieWindow("behind.mov");
  DialogPtr dialog = GetNewDialog(kAboutBoxID, NULL, (WindowPtr)-1L);
  ASSERT_NE(dialog, nullptr);
  DialogItemIndex item = 77;

  EventRecord click = MakeEvent(mouseDown);
  click.where = TitleBarPoint(GetDialogWindow(dialog));
  Point to{(short)(click.where.v + 10), (short)(click.where.h + 10)};
  VTAutomationPostMouseUp(to);
  EXPECT_TRUE(QTFrame_StandardModalDialogEventFilter(dialog, &click, &item));
  EXPECT_EQ(item, 77) << "a drag ends no dialog";

  EventRecord update = MakeEvent(updateEvt, (unsigned long)movie);
  EXPECT_FALSE(QTFrame_StandardModalDialogEventFilter(dialog, &update, &item));
  EventRecord idle = MakeEvent(nullEvent);
  EXPECT_FALSE(QTFrame_StandardModalDialogEventFilter(dialog, &idle, &item));

  EventRecord ret = MakeEvent(keyDown, kReturnCharCode);
  SetDialogDefaultItem(dialog, 1);
  EXPECT_TRUE(QTFrame_StandardModalDialogEventFilter(dialog, &ret, &item));
  EXPECT_EQ(item, 1);
  DisposeDialog(dialog);
}

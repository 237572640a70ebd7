// The four required Apple events.
#include <filesystem>

#include "app_fixture.h"
#include "fixtures.h"

namespace {

// Hands the handler an Open Documents event for `paths` ("": an item that is no file), without
// its direct object when `withList` is false.
OSErr SendOpenDocuments(const std::vector<std::string>& paths, bool withList = true) {
  AppleEvent event, reply;
  AEDescList list;
  for (AEDesc* d : {&event, &reply, &list}) AEInitializeDesc(d);
  AECreateAppleEvent(kCoreEventClass, kAEOpenDocuments, NULL, kAutoGenerateReturnID,
                     kAnyTransactionID, &event);
  AECreateList(NULL, 0, false, &list);
  for (const std::string& path : paths) {
    FSSpec spec{};
    if (path.empty()) {
      AEPutPtr(&list, 0, 'bool', "\1", 1);  // an item that is no file
      continue;
    }
    EXPECT_EQ(VTMakeFSSpecFromPath(path.c_str(), &spec), noErr) << path;
    AEPutPtr(&list, 0, typeFSS, &spec, sizeof spec);
  }
  if (withList) AEPutParamDesc(&event, keyDirectObject, &list);
  OSErr err = QTApp_HandleOpenDocumentAppleEvent(&event, &reply, 0);
  AEDisposeDesc(&list);
  AEDisposeDesc(&event);
  return err;
}

// Small movies told apart by their sizes.
std::string MovieA() {
  return vt_test::fixture("app_a.mov", "-f lavfi -i testsrc=size=48x32:rate=5 -t 0.4 -c:v mjpeg");
}
std::string MovieB() {
  return vt_test::fixture("app_b80.mov",
                          "-f lavfi -i testsrc2=size=80x64:rate=5 -t 0.4 -c:v mjpeg");
}

}  // namespace

using AppleEventHandlers = AppTest;

// Print is refused, Open Application does nothing, also through the queue once installed.
TEST_F(AppleEventHandlers, HandlersRefusalsAndTheEffectsDialog) {
  EXPECT_EQ(QTApp_HandlePrintDocumentAppleEvent(NULL, NULL, 0), errAEEventNotHandled);
  EXPECT_EQ(QTApp_HandleOpenApplicationAppleEvent(NULL, NULL, 0), noErr);
  EXPECT_EQ(WindowCount(), 0);
  QTApp_InstallAppleEventHandlers();
  const char* paths[] = {"/nonexistent/file.mov"};
  ASSERT_EQ(VTAEPostPrintDocuments(paths, 1), noErr);
  EventRecord e{};
  ASSERT_TRUE(WaitNextEvent(highLevelEventMask, &e, 0, NULL));
  QTFrame_HandleEvent(&e);
  EXPECT_EQ(VTAELastHandlerResult(), errAEEventNotHandled);

  ASSERT_EQ(VTAEPostQuitApplication(), noErr);
  ASSERT_TRUE(WaitNextEvent(highLevelEventMask, &e, 0, NULL));
  QTFrame_HandleEvent(&e);
  EXPECT_EQ(VTAELastHandlerResult(), noErr);
  EXPECT_TRUE(gShuttingDown);
  QTApp_Stop(kStopAppPhase_BothPhases);

  // Without Apple events no handler is installed.
  AERemoveEventHandler(kCoreEventClass, kAEQuitApplication, gHandleQuitAppAEUPP, false);
  VTSetGestaltAnswer(gestaltAppleEventsAttr, noErr, 0);
  QTApp_InstallAppleEventHandlers();
  AEEventHandlerUPP h = nullptr;
  SRefCon refcon = 0;
  EXPECT_NE(AEGetEventHandler(kCoreEventClass, kAEQuitApplication, &h, &refcon, false), noErr);
  QTApp_Stop(kStopAppPhase_AfterDestroyWindows);  // disposing nothing is harmless

  // Documents arriving while an effects dialog is open do not replace the open job; documents
  // that cannot be opened open no dialog.
  gEffectsDialog = (QTParameterDialog)1;
  EXPECT_EQ(SendOpenDocuments({}), errAEEventNotHandled);
  EXPECT_EQ(gEffectsDialog, (QTParameterDialog)1);
  gEffectsDialog = 0;
  gAppInForeground = false;
  EXPECT_NE(SendOpenDocuments({}, false), noErr) << "no direct object at all";
  EXPECT_TRUE(gAppInForeground) << "set whatever happened";

  // A second item that is no file: its error, although the first one was fine.
  EXPECT_NE(SendOpenDocuments({MovieA(), ""}), noErr);
  EXPECT_EQ(gEffectsDialog, 0);

  // Of five documents only the first two become sources, in the order of the list. While the
  // effects dialog is open every event goes to it first; it consumes only its own.
  WindowReference movieWindow = OpenMovieWindow("behind.mov");
  ASSERT_NE(movieWindow, nullptr);
  EventRecord key = MakeEvent(keyDown, kEscapeCharCode);
  EXPECT_FALSE(QTApp_HandleEvent(&key)) << "no dialog: the event is the framework's";

  ASSERT_EQ(SendOpenDocuments({MovieB(), MovieA(), MovieB(), MovieA(), MovieB()}), noErr);
  EXPECT_EQ(gSpecCount, 2);
  ASSERT_NE(gEffectsDialog, 0);
  ASSERT_TRUE(VTAutomationEffectsDialogUp());
  Rect box[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_NE(gSrcMovies[i], nullptr);
    GetMovieBox(gSrcMovies[i], &box[i]);
  }
  EXPECT_EQ(box[0].right - box[0].left, 80);
  EXPECT_EQ(box[1].right - box[1].left, 48);

  EventRecord click = MakeEvent(mouseDown, 0, 0, Centre(InfoOf(movieWindow).content));
  EXPECT_FALSE(QTApp_HandleEvent(&click)) << "a click on another window passes on";
  EventRecord update = MakeEvent(updateEvt, (unsigned long)movieWindow);
  EXPECT_FALSE(QTApp_HandleEvent(&update)) << "another window's update passes on";
  EXPECT_NE(gEffectsDialog, 0);

  long dialogs = VTAutomationNavDialogCount();
  EXPECT_TRUE(QTApp_HandleEvent(&key)) << "Escape is the dialog's: consumed";
  EXPECT_EQ(gEffectsDialog, 0) << "Cancel ends the dialog within the event";
  EXPECT_EQ(gEffectSample, nullptr);
  EXPECT_EQ(gSrcMovies[0], nullptr);
  EXPECT_EQ(VTAutomationNavDialogCount(), dialogs) << "a cancelled dialog asks for no file";
  EXPECT_FALSE(QTApp_HandleEvent(&key));
}

// Every way an effect job ends gives back every file it opened.
TEST_F(AppleEventHandlers, EffectJobsLeaveNoFileOpenHoweverTheyEnd) {
  std::string a = MovieA(), b = MovieB(),
              sound =
                  vt_test::fixture("app_sound_only.mov",
                                   "-f lavfi -i sine=frequency=440:duration=0.4 -c:a pcm_s16le");
  namespace fs = std::filesystem;
  // Open descriptors, and those on a job's files (the count alone would let a cache that
  // opened them during the first job hide).
  auto openFiles = [&](bool onJobFiles) {
    long n = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      std::string target = fs::read_symlink(fd.path(), ec).string();
      bool job = false;
      for (const std::string& f : {a, b, sound, tempDir_ + "/fx.mov"})
        job |= !ec && target == fs::weakly_canonical(f).string();
      n += !onJobFiles || job;
    }
    return n;
  };
  enum class End { completed, cancelledAtSave, failed };
  auto job = [&](End end) {
    if (end == End::completed) VTAutomationNavSaveAs(tempDir_, "fx.mov");
    if (end == End::cancelledAtSave) VTAutomationNavCancelSave();
    // A source without video fails.
    ASSERT_EQ(SendOpenDocuments({a, end == End::failed ? sound : b}),
              end == End::failed ? OSErr{invalidTrack} : OSErr{noErr});
    if (end == End::failed) return;
    EventRecord key = MakeEvent(keyDown, kReturnCharCode);  // OK, as the user would answer
    SelectWindow(FrontWindow());
    EXPECT_TRUE(QTEffects_HandleEffectsDialogEvents(&key, 0));
    EXPECT_EQ(gEffectsDialog, 0);
    EXPECT_EQ(fs::remove(tempDir_ + "/fx.mov"), end == End::completed);
  };
  job(End::completed);  // first use loads fonts and libraries that stay loaded
  EXPECT_EQ(openFiles(true), 0);
  for (End end : {End::cancelledAtSave, End::failed, End::completed}) {
    long before = openFiles(false);
    job(end);
    EXPECT_EQ(openFiles(false), before) << "job ending " << (int)end;
    EXPECT_EQ(openFiles(true), 0) << "job ending " << (int)end;
  }
}

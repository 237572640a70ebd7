// Window objects, the walks over movie windows, and movie window creation and destruction.

#include <algorithm>

#include "QTUtilities.h"
#include "app_fixture.h"
#include "fixtures.h"

using WindowObjects = AppTest;

// Closing releases the record and the movie; a movie given without the file it belongs to
// cannot be titled or saved: refused, released. A new window is hidden, untitled and current;
// walks over movie windows see only the application's own records.
TEST_F(WindowObjects, CreatingClosingAndRefusingWindows) {
  long before = VTLiveHandleCount();
  EXPECT_FALSE(QTFrame_OpenMovieInWindow(NewMovie(newMovieActive), NULL));
  EXPECT_EQ(WindowCount(), 0);
  EXPECT_EQ(VTLiveHandleCount(), before);
  WindowReference w = OpenMovieWindow("leak.mov");
  ASSERT_NE(w, nullptr);
  EXPECT_GT(VTLiveHandleCount(), before);
  QTFrame_DestroyMovieWindow(w);
  EXPECT_EQ(VTLiveHandleCount(), before);
  EXPECT_EQ(WindowCount(), 0);

  // A window that is not the framework's is disposed without a question.
  WindowReference plain = OpenForeignWindow();
  QTFrame_DestroyMovieWindow(plain);
  EXPECT_EQ(WindowCount(), 0);
  QTFrame_DestroyMovieWindow(nullptr);
  EXPECT_EQ(VTAutomationNavDialogCount(), 0);

  // Without a movie it has no controller, and activating it leaves the port alone.
  w = QTFrame_CreateMovieWindow();
  ASSERT_NE(w, nullptr);
  VTWindowInfo info = InfoOf(w);
  EXPECT_FALSE(info.visible);
  EXPECT_EQ(info.title, "untitled");
  EXPECT_EQ(info.kind, kApplicationWindowKind);
  ASSERT_NE(QTFrame_GetWindowObjectFromWindow(w), nullptr);
  EXPECT_EQ(CurrentPort(), QTFrame_GetPortFromWindowReference(w));
  ASSERT_EQ(QTFrame_GetMCFromWindow(w), nullptr);
  SetPort(QTFrame_GetPortFromWindowReference(plain = OpenForeignWindow()));
  QTFrame_ActivateController(w, true);
  QTFrame_ActivateController(nullptr, false);
  EXPECT_EQ(CurrentPort(), QTFrame_GetPortFromWindowReference(plain));

  // The walks over movie windows skip windows without records; only records with the
  // application's tag, on application windows (not dialogs), count.
  QTFrame_DestroyMovieWindow(w);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), nullptr);
  WindowReference first = OpenMovieWindow("first.mov");
  OpenForeignWindow();  // between the two movie windows
  WindowReference second = OpenMovieWindow("second.mov");
  plain = OpenForeignWindow();
  DialogPtr dialog = GetNewDialog(kAboutBoxID, NULL, (WindowPtr)-1L);  // in front of all
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), second);
  EXPECT_EQ(QTFrame_GetNextMovieWindow(second), first);
  EXPECT_EQ(QTFrame_GetNextMovieWindow(first), nullptr);
  EXPECT_EQ(QTFrame_GetWindowObjectFromFrontWindow(), QTFrame_GetWindowObjectFromWindow(second));
  EXPECT_TRUE(QTFrame_IsAppWindow(plain));
  EXPECT_EQ(QTFrame_GetWindowObjectFromWindow(plain), nullptr);

  // A handle whose block is gone, and a record with another tag.
  Handle empty = NewEmptyHandle();
  SetWRefCon(plain, (long)empty);
  EXPECT_EQ(QTFrame_GetWindowObjectFromWindow(plain), nullptr);
  EXPECT_FALSE(QTFrame_IsWindowObjectOurs((WindowObject)empty));
  WindowObject foreign = (WindowObject)NewHandleClear(sizeof(WindowObjectRecord));
  (**foreign).fObjectType = 'abcd';
  SetWRefCon(plain, (long)foreign);
  EXPECT_EQ(QTFrame_GetWindowObjectFromWindow(plain), nullptr);
  EXPECT_EQ(QTFrame_GetMCFromWindow(plain), nullptr);
  EXPECT_EQ(QTFrame_GetAppDataFromWindow(plain), nullptr);
  EXPECT_EQ(QTFrame_GetAppDataFromWindowObject(foreign), nullptr);

  // A dialog carrying a tagged record is still no movie window: the kind decides first.
  (**foreign).fObjectType = kApplicationSignature;
  SetWRefCon(GetDialogWindow(dialog), (long)foreign);
  EXPECT_FALSE(QTFrame_IsAppWindow(GetDialogWindow(dialog)));
  EXPECT_EQ(QTFrame_GetWindowObjectFromWindow(GetDialogWindow(dialog)), nullptr);

  SetWRefCon(plain, 0);
  DisposeDialog(dialog);
  DisposeHandle((Handle)foreign);
  DisposeHandle(empty);
  EXPECT_FALSE(QTFrame_IsAppWindow(nullptr));
  EXPECT_FALSE(QTFrame_IsWindowObjectOurs(nullptr));
  EXPECT_EQ(QTFrame_GetNextAppWindow(nullptr), nullptr);
  EXPECT_EQ(QTFrame_GetWindowObjectFromWindow(nullptr), nullptr);
}

using MovieWindowClose = AppTest;

// Closing a dirty window asks, with its title and the application's name; Cancel keeps the
// window, its record and its changes.
TEST_F(MovieWindowClose, CancellingTheSaveQuestionKeepsTheWindowAndItsChanges) {
  WindowReference w = OpenMovieWindow("dirty.mov", true);
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesCancel);
  QTFrame_DestroyMovieWindow(w);

  VTNavDialogInfo shown = VTAutomationNavLastShown();
  EXPECT_EQ(shown.kind, VTNavDialogKind::saveChanges);
  EXPECT_EQ(shown.clientName, ToString(gAppName));
  EXPECT_FALSE(ToString(gAppName).empty());
  EXPECT_NE(shown.message.find("dirty.mov"), std::string::npos);
  EXPECT_EQ(shown.message.find("quitting"), std::string::npos);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), w);
  EXPECT_TRUE(Record(w).fIsDirty);
}

// Save chosen but its dialog cancelled: the window and its edits stay, and a quit is abandoned;
// so it is when the dialog ends without an answer.
TEST_F(MovieWindowClose, ACancelledSaveDialogKeepsTheEditsAndAbandonsTheQuit) {
  WindowReference w = OpenMovieWindow("dirty.mov", true);
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesSave);
  VTAutomationNavCancelSave();
  QTFrame_QuitFramework();
  EXPECT_FALSE(gShuttingDown);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), w);
  EXPECT_TRUE(Record(w).fIsDirty);
  VTAutomationNavCancelSave();
  EXPECT_FALSE(QTFrame_UpdateMovieFile(w));
  EXPECT_TRUE(Record(w).fIsDirty);
  gShuttingDown = true;
  VTAutomationNavSetTurnLimit(3);
  QTFrame_DestroyMovieWindow(w);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), w);
  EXPECT_FALSE(gShuttingDown);
  VTAutomationNavSetTurnLimit(500);
}

TEST_F(MovieWindowClose, DontSaveClosesTheWindowWritingNothing) {
  WindowReference w = OpenMovieWindow("dirty.mov", true);
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesDontSave);
  QTFrame_DestroyMovieWindow(w);
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), nullptr);
  FSSpec spec;
  EXPECT_EQ(VTMakeFSSpecFromPath((tempDir_ + "/dirty.mov").c_str(), &spec), fnfErr);
}

// Save As cancelled leaves the document alone; done, it replaces the window's movie, file and
// title, and Save then writes in place, without a dialog.
TEST_F(MovieWindowClose, SaveAsRetitlesTheWindowAndSaveThenWritesInPlace) {
  WindowReference w = OpenMovieWindow("before.mov", true);
  WindowObjectRecord& o = Record(w);
  Movie movie = o.fMovie;
  VTAutomationNavCancelSave();
  EXPECT_EQ(QTFrame_SaveAsMovieFile(w), userCanceledErr);
  EXPECT_EQ(o.fMovie, movie);
  EXPECT_EQ(o.fFileRefNum, -1);
  EXPECT_EQ(Title(w), "before.mov");
  EXPECT_EQ(VTAutomationNavLastShown().proposedName, "untitled.mov");
  EXPECT_EQ(QTFrame_SaveAsMovieFile(nullptr), paramErr);

  VTAutomationNavSaveAs(tempDir_, "after.mov");
  ASSERT_EQ(QTFrame_SaveAsMovieFile(w), noErr);
  EXPECT_FALSE(o.fIsDirty);
  EXPECT_NE(o.fFileRefNum, -1);
  EXPECT_EQ(o.fFileResID, movieInDataForkResID);
  EXPECT_EQ(Title(w), "after.mov");
  long dialogs = VTAutomationNavDialogCount();
  o.fIsDirty = true;
  EXPECT_TRUE(QTFrame_UpdateMovieFile(w));
  EXPECT_FALSE(o.fIsDirty);
  EXPECT_EQ(VTAutomationNavDialogCount(), dialogs);
}

// A movie of sound alone is a window holding the controller's bar with its speaker; the volume
// set there is what Save keeps and the next opening restores.
TEST_F(MovieWindowClose, ASoundOnlyMovieIsABarWhoseVolumeSaveKeeps) {
  std::string path = tempDir_ + "/sound.mov";
  ASSERT_EQ(
      vt_test::run("ffmpeg -v error -f lavfi -i sine=r=48000:d=1 -c:a pcm_s16le '" + path + "'"),
      0);
  WindowReference w = OpenMovieFile(path);
  ASSERT_NE(w, nullptr);
  Rect content;
  GetWindowPortBounds(w, &content);
  EXPECT_EQ(content.bottom - content.top, 16) << "the bar alone";
  EXPECT_GE(content.right - content.left, 160);
  MovieController mc = Record(w).fController;
  ASSERT_NE(mc, nullptr);
  EXPECT_TRUE(QTUtils_IsControllerButtonVisible(mc, kQTUtilsSpeakerButton));
  for (int i = 0; i < 3; ++i) VTAutomationPostKey(kDownArrowCharCode);
  EventRecord e;
  while (GetNextEvent(keyDownMask, &e)) MCIsPlayerEvent(mc, &e);
  EXPECT_EQ(GetMovieVolume(MCGetIndMovie(mc, 0)), kFullVolume - 3 * 32);
  EXPECT_TRUE(QTFrame_UpdateMovieFile(w));
  QTFrame_DestroyMovieWindow(w);

  w = OpenMovieFile(path);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(GetMovieVolume(Record(w).fMovie), kFullVolume - 3 * 32);
}

// Names in any script go from the keyboard to the disk, the title and the open dialog's list;
// names over 63 bytes get their short form, never a character cut in two.
TEST_F(MovieWindowClose, NamesInAnyScriptReachTheDiskTheTitleAndTheOpenDialog) {
  const std::string names[] = {"blue movie ünïcödé 日本.mov", "Ελληνική ταινία.mov",
                               "Кино на русском.mov", "中文电影.mov",
                               "とても長い名前の映画ファイルです、本当に長い名前.mov"};
  VTAutomationNavSetStartFolder(tempDir_);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    WindowReference typed = OpenMovieWindow("typed.mov", true);
    // The proposed name is selected without its extension: typing replaces it, ".mov" stays.
    OnModalTurn([&](long turn) {
      if (turn == 2) VTAutomationPostText(name.substr(0, name.size() - 4));
      if (turn == 3) VTAutomationPostKey(kReturnCharCode);
    });
    ASSERT_EQ(QTFrame_SaveAsMovieFile(typed), noErr);
    VTAutomationSetModalHook(nullptr);
    std::string title = Title(typed);
    if (name.size() <= 61) {
      EXPECT_EQ(title, name);
    } else {  // three whole characters kept, then the short form's tail
      EXPECT_LE(title.size(), 63u);
      EXPECT_EQ(title.compare(0, 9, name, 0, 9), 0);
      EXPECT_EQ(title.substr(title.size() - 4), ".mov");
    }
    QTFrame_DestroyMovieWindow(typed);
    VTAutomationNavChooseFile(tempDir_ + "/" + name);
    ASSERT_TRUE(QTFrame_OpenMovieInWindow(NULL, NULL)) << VTAutomationNavLastError();
    const auto& listed = VTAutomationNavLastShown().items;
    EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end());
    WindowReference again = QTFrame_GetFrontMovieWindow();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Title(again), title);
    EXPECT_EQ(VTAutomationListWindows().front().title, title);  // as drawn in the title bar
    QTFrame_DestroyMovieWindow(again);
  }
}

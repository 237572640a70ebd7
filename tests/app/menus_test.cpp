// The File, Edit and application menus: item states, checks, labels and command routing.
#include "app_fixture.h"

class Menus : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    InstallMenuBar();
  }
};

// Without a movie window only New, Open and (for another window in front) Close are on.
TEST_F(Menus, WithoutAMovieWindowOnlyNewOpenAndCloseForADialogAreOn) {
  DialogPtr dialog = nullptr;
  for (bool window : {false, true}) {
    SCOPED_TRACE(window ? "dialog in front" : "no window");
    if (window) {
      ASSERT_NE(dialog = GetNewDialog(kAboutBoxID, NULL, (WindowPtr)-1L), nullptr);
    }
    QTFrame_AdjustMenus(window ? FrontWindow() : NULL, NULL);
    for (short item : {1, 2}) EXPECT_TRUE(Item(kFileMenuResID, item).enabled) << item;
    EXPECT_EQ(Item(kFileMenuResID, 3).enabled, window);
    for (short item : {4, 5}) EXPECT_FALSE(Item(kFileMenuResID, item).enabled) << item;
    for (short item : {1, 3, 4, 5, 6, 8, 9})
      EXPECT_FALSE(Item(kEditMenuResID, item).enabled) << item;
    EXPECT_TRUE(Item(kApplicationMenuResID, 1).enabled);
  }
  DisposeDialog(dialog);
}

// Items 3 and 4 check the media mode (referencing is the start-up choice); File and Edit codes
// are left to the framework.
TEST_F(Menus, ApplicationMenuChecksTheMediaModeAndLeavesOtherCodes) {
  for (UInt16 choice : std::initializer_list<UInt16>{0, IDM_COPY_MEDIA, IDM_REFERENCE_MEDIA}) {
    if (choice) {
      EXPECT_TRUE(QTApp_HandleMenu(choice));
    }
    QTFrame_AdjustMenus(NULL, NULL);
    EXPECT_EQ(Item(kApplicationMenuResID, 3).checked, choice == IDM_COPY_MEDIA) << choice;
    EXPECT_EQ(Item(kApplicationMenuResID, 4).checked, choice != IDM_COPY_MEDIA) << choice;
  }
  EXPECT_FALSE(QTApp_HandleMenu(IDM_FILENEW));
  EXPECT_FALSE(QTApp_HandleMenu(IDM_EDITUNDO));
  EXPECT_FALSE(QTApp_HandleMenu(0));
}

// Export Movie is on exactly while a movie window is open, whatever window the framework names;
// without one it does nothing.
TEST_F(Menus, ExportMovieIsOnExactlyWhileAMovieWindowIsOpen) {
  EXPECT_FALSE(Item(kApplicationMenuResID, 6).enabled);
  EXPECT_TRUE(QTApp_HandleMenu(IDM_EXPORT_MOVIE));
  EXPECT_EQ(VTAutomationNavDialogCount(), 0);
  WindowReference movie = OpenMovieWindow("export.mov");
  OpenForeignWindow();
  for (WindowReference named : {(WindowReference)NULL, FrontWindow(), movie}) {
    QTFrame_AdjustMenus(named, NULL);
    EXPECT_TRUE(Item(kApplicationMenuResID, 6).enabled);
  }
  QTFrame_DestroyMovieWindow(movie);
  QTFrame_AdjustMenus(FrontWindow(), NULL);
  EXPECT_FALSE(Item(kApplicationMenuResID, 6).enabled);
}

// Make Effect Movie asks for sources; cancelling still opens the effects dialog, during which
// item 1 is off and starts nothing.
TEST_F(Menus, MakeEffectMovieIsOffWhileItsEffectsDialogIsOpen) {
  VTAutomationNavCancelOpen();
  EXPECT_TRUE(QTApp_HandleMenu(IDM_MAKE_EFFECT_MOVIE));
  EXPECT_EQ(VTAutomationNavDialogCount(), 1);
  EXPECT_EQ(VTAutomationNavLastShown().kind, VTNavDialogKind::open);
  EXPECT_EQ(VTAutomationNavLastShown().clientName, ToString(gAppName));
  ASSERT_NE(gEffectsDialog, 0);
  QTFrame_AdjustMenus(NULL, NULL);
  EXPECT_FALSE(Item(kApplicationMenuResID, 1).enabled);
  EXPECT_TRUE(QTApp_HandleMenu(IDM_MAKE_EFFECT_MOVIE));
  EXPECT_EQ(VTAutomationNavDialogCount(), 1) << "a second job while one is open";
  QTDismissStandardParameterDialog(gEffectsDialog);
  gEffectsDialog = 0;
  QTEffects_RespondToDialogSelection(userCanceledErr);
  QTFrame_AdjustMenus(NULL, NULL);
  EXPECT_TRUE(Item(kApplicationMenuResID, 1).enabled);
}

// With a movie window Save follows unsaved edits, and the Edit items the controller's own report.
TEST_F(Menus, SaveFollowsUnsavedEditsAndEditItemsTheController) {
  WindowReference w = OpenMovieWindow("menu.mov");
  QTFrame_AdjustMenus(w, NULL);
  EXPECT_TRUE(Item(kFileMenuResID, 3).enabled);
  EXPECT_TRUE(Item(kFileMenuResID, 5).enabled);
  EXPECT_FALSE(Item(kFileMenuResID, 4).enabled);
  Record(w).fIsDirty = true;
  QTFrame_AdjustMenus(w, NULL);
  EXPECT_TRUE(Item(kFileMenuResID, 4).enabled);
  MovieController mc = QTFrame_GetMCFromWindow(w);
  ASSERT_NE(mc, nullptr);
  long flags = 0;
  MCGetControllerInfo(mc, &flags);
  const std::pair<short, long> edits[] = {{1, mcInfoUndoAvailable},  {3, mcInfoCutAvailable},
                                          {4, mcInfoCopyAvailable},  {5, mcInfoPasteAvailable},
                                          {6, mcInfoClearAvailable}, {8, mcInfoEditingEnabled},
                                          {9, mcInfoEditingEnabled}};
  for (auto [item, flag] : edits)
    EXPECT_EQ(Item(kEditMenuResID, item).enabled, (flags & flag) != 0) << item;
}

// Copy and the selection commands leave the mark alone; Cut sets it. Unknown codes are ignored;
// Save and Close with no window do nothing.
TEST_F(Menus, OnlyEditsMarkTheWindowAndUnknownOrWindowlessCommandsDoNothing) {
  WindowReference w = OpenMovieWindow("menu.mov");
  QTFrame_HandleEditMenuItem(w, IDM_EDITCOPY);
  QTFrame_HandleEditMenuItem(w, IDM_EDITSELECTALL);
  QTFrame_HandleEditMenuItem(w, IDM_EDITSELECTNONE);
  QTFrame_HandleEditMenuItem(NULL, IDM_EDITPASTE);
  EXPECT_FALSE(Record(w).fIsDirty);
  QTFrame_HandleEditMenuItem(w, IDM_EDITCUT);
  EXPECT_TRUE(Record(w).fIsDirty);
  QTFrame_HandleFileMenuItem(w, 0x8142);
  QTFrame_HandleEditMenuItem(w, 0x8202);
  QTFrame_HandleFileMenuItem(NULL, IDM_FILESAVE);
  QTFrame_HandleFileMenuItem(NULL, IDM_FILESAVEAS);
  QTFrame_HandleFileMenuItem(NULL, IDM_FILECLOSE);
  EXPECT_EQ(WindowCount(), 1);
  EXPECT_FALSE(gShuttingDown);
  EXPECT_EQ(VTAutomationNavDialogCount(), 0);
}

// Item states keep the command-key modifiers; checks, labels and the whole menu's state.
TEST_F(Menus, ItemStatesKeepModifiersAndLabelsLoseAmpersands) {
  MenuHandle file = GetMenuHandle(kFileMenuResID);
  ASSERT_NE(file, nullptr);
  SetMenuItemModifiers(file, 4, kMenuShiftModifier);
  // Any state other than 0 disables; only the low byte of the code names the item.
  for (short state : {1, 0, -3}) {
    QTFrame_SetMenuItemState(file, state < 0 ? 0x7704 : IDM_FILESAVE, state);
    EXPECT_EQ(Item(kFileMenuResID, 4).enabled, state == 0) << state;
    EXPECT_EQ(Item(kFileMenuResID, 4).modifiers, kMenuShiftModifier) << state;
  }

  QTFrame_SetMenuItemCheck(file, IDM_FILEOPEN, true);
  EXPECT_TRUE(Item(kFileMenuResID, 2).checked);
  QTFrame_SetMenuItemCheck(file, IDM_FILEOPEN, false);
  EXPECT_FALSE(Item(kFileMenuResID, 2).checked);

  // Labels lose their ampersands; longer texts are cut at 255 characters.
  const std::pair<std::string, std::string> labels[] = {
      {"&Save &As&", "Save As"}, {"&&&", ""}, {std::string(400, 'x'), std::string(255, 'x')}};
  for (auto [label, shown] : labels) {
    QTFrame_SetMenuItemLabel(file, IDM_FILESAVEAS, label.data());
    Str255 text;
    GetMenuItemText(file, 5, text);
    EXPECT_EQ(ToString(text), shown);
  }

  // The whole menu goes through item 0, whatever the code: New goes off with it.
  QTFrame_SetMenuState(file, 12345, 1);
  EXPECT_FALSE(Item(kFileMenuResID, 1).enabled);
}

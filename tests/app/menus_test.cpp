// The File, Edit and application menus: item states, checks, labels and command routing.
#include <algorithm>

#include "app_fixture.h"

class Menus : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    InstallMenuBar();
  }
};

TEST_F(Menus, NoWindowDisablesDocumentCommands) {
  QTFrame_AdjustMenus(NULL, NULL);
  EXPECT_TRUE(ItemEnabled(kFileMenuResID, 1)) << "New is never changed";
  EXPECT_TRUE(ItemEnabled(kFileMenuResID, 2)) << "Open is never changed";
  EXPECT_FALSE(ItemEnabled(kFileMenuResID, 3));
  EXPECT_FALSE(ItemEnabled(kFileMenuResID, 4));
  EXPECT_FALSE(ItemEnabled(kFileMenuResID, 5));
  for (short item : {1, 3, 4, 5, 6, 8, 9}) EXPECT_FALSE(ItemEnabled(kEditMenuResID, item)) << item;
  EXPECT_TRUE(ItemEnabled(kApplicationMenuResID, 1));
}

TEST_F(Menus, NonMovieWindowInFrontEnablesOnlyClose) {
  DialogPtr dialog = GetNewDialog(kAboutBoxID, NULL, (WindowPtr)-1L);
  ASSERT_NE(dialog, nullptr);
  QTFrame_AdjustMenus(FrontWindow(), NULL);
  EXPECT_TRUE(ItemEnabled(kFileMenuResID, 3));
  EXPECT_FALSE(ItemEnabled(kFileMenuResID, 4));
  EXPECT_FALSE(ItemEnabled(kFileMenuResID, 5));
  for (short item : {1, 3, 4, 5, 6, 8, 9}) EXPECT_FALSE(ItemEnabled(kEditMenuResID, item)) << item;
  DisposeDialog(dialog);
}

TEST_F(Menus, SaveFollowsUnsavedEdits) {
  WindowReference w = OpenMovieWindow("menu.mov");
  QTFrame_AdjustMenus(w, NULL);
  EXPECT_TRUE(ItemEnabled(kFileMenuResID, 3));
  EXPECT_TRUE(ItemEnabled(kFileMenuResID, 5));
  EXPECT_FALSE(ItemEnabled(kFileMenuResID, 4));
  (**QTFrame_GetWindowObjectFromWindow(w)).fIsDirty = true;
  QTFrame_AdjustMenus(w, NULL);
  EXPECT_TRUE(ItemEnabled(kFileMenuResID, 4));
  // The Edit items follow the controller's own report, or stay off without a controller.
  MovieController mc = QTFrame_GetMCFromWindow(w);
  ASSERT_NE(mc, nullptr);
  long flags = 0;
  MCGetControllerInfo(mc, &flags);
  EXPECT_EQ(ItemEnabled(kEditMenuResID, 1), (flags & mcInfoUndoAvailable) != 0);
  EXPECT_EQ(ItemEnabled(kEditMenuResID, 3), (flags & mcInfoCutAvailable) != 0);
  EXPECT_EQ(ItemEnabled(kEditMenuResID, 4), (flags & mcInfoCopyAvailable) != 0);
  EXPECT_EQ(ItemEnabled(kEditMenuResID, 5), (flags & mcInfoPasteAvailable) != 0);
  EXPECT_EQ(ItemEnabled(kEditMenuResID, 6), (flags & mcInfoClearAvailable) != 0);
  EXPECT_EQ(ItemEnabled(kEditMenuResID, 8), (flags & mcInfoEditingEnabled) != 0);
  EXPECT_EQ(ItemEnabled(kEditMenuResID, 9), (flags & mcInfoEditingEnabled) != 0);

  // Copy and the selection commands leave the mark alone; Cut sets it.
  (**QTFrame_GetWindowObjectFromWindow(w)).fIsDirty = false;
  QTFrame_HandleEditMenuItem(w, IDM_EDITCOPY);
  QTFrame_HandleEditMenuItem(w, IDM_EDITSELECTALL);
  QTFrame_HandleEditMenuItem(w, IDM_EDITSELECTNONE);
  QTFrame_HandleEditMenuItem(NULL, IDM_EDITPASTE);
  EXPECT_FALSE((**QTFrame_GetWindowObjectFromWindow(w)).fIsDirty);
  QTFrame_HandleEditMenuItem(w, IDM_EDITCUT);
  EXPECT_TRUE((**QTFrame_GetWindowObjectFromWindow(w)).fIsDirty);
}

TEST_F(Menus, ApplicationMenuFollowsTheEffectsDialogAndMediaMode) {
  QTFrame_AdjustMenus(NULL, NULL);
  EXPECT_FALSE(ItemChecked(kApplicationMenuResID, 3));
  EXPECT_TRUE(ItemChecked(kApplicationMenuResID, 4)) << "referencing is the start-up choice";

  EXPECT_TRUE(QTApp_HandleMenu(IDM_COPY_MEDIA));
  QTFrame_AdjustMenus(NULL, NULL);
  EXPECT_TRUE(ItemChecked(kApplicationMenuResID, 3));
  EXPECT_FALSE(ItemChecked(kApplicationMenuResID, 4));

  EXPECT_TRUE(QTApp_HandleMenu(IDM_REFERENCE_MEDIA));
  QTFrame_AdjustMenus(NULL, NULL);
  EXPECT_FALSE(ItemChecked(kApplicationMenuResID, 3));
  EXPECT_TRUE(ItemChecked(kApplicationMenuResID, 4));

  // With a dialog open, item 1 is disabled and choosing it starts nothing but is still handled.
  gEffectsDialog = (QTParameterDialog)1;
  QTFrame_AdjustMenus(NULL, NULL);
  EXPECT_FALSE(ItemEnabled(kApplicationMenuResID, 1));
  long dialogs = VTAutomationNavDialogCount();
  EXPECT_TRUE(QTApp_HandleMenu(IDM_MAKE_EFFECT_MOVIE));
  EXPECT_EQ(VTAutomationNavDialogCount(), dialogs);
  gEffectsDialog = 0;
  QTFrame_AdjustMenus(NULL, NULL);
  EXPECT_TRUE(ItemEnabled(kApplicationMenuResID, 1));

  // File and Edit codes are left to the framework.
  EXPECT_FALSE(QTApp_HandleMenu(IDM_FILENEW));
  EXPECT_FALSE(QTApp_HandleMenu(IDM_EDITUNDO));
  EXPECT_FALSE(QTApp_HandleMenu(0));
}

// Making an effect movie from the menu asks for sources with the open dialog; cancelling it
// at once still opens the effects dialog for zero sources, and a second job waits for it.
TEST_F(Menus, MakeEffectMovieAsksForSources) {
  VTAutomationNavCancelOpen();
  EXPECT_TRUE(QTApp_HandleMenu(IDM_MAKE_EFFECT_MOVIE));
  EXPECT_EQ(VTAutomationNavDialogCount(), 1);
  EXPECT_EQ(VTAutomationNavLastShown().kind, VTNavDialogKind::open);
  EXPECT_EQ(VTAutomationNavLastShown().clientName, ToString(gAppName));
  ASSERT_NE(gEffectsDialog, 0);
  EXPECT_TRUE(QTApp_HandleMenu(IDM_MAKE_EFFECT_MOVIE));
  EXPECT_EQ(VTAutomationNavDialogCount(), 1) << "a second job while one is open";
  QTDismissStandardParameterDialog(gEffectsDialog);
  gEffectsDialog = 0;
  QTEffects_RespondToDialogSelection(userCanceledErr);
}

TEST_F(Menus, ItemStateKeepsCommandKeyModifiers) {
  MenuHandle file = GetMenuHandle(kFileMenuResID);
  ASSERT_NE(file, nullptr);
  SetMenuItemModifiers(file, 4, kMenuShiftModifier);
  QTFrame_SetMenuItemState(file, IDM_FILESAVE, 1);
  UInt8 mods = 0;
  GetMenuItemModifiers(file, 4, &mods);
  EXPECT_EQ(mods, kMenuShiftModifier);
  EXPECT_FALSE(ItemEnabled(kFileMenuResID, 4));
  QTFrame_SetMenuItemState(file, IDM_FILESAVE, 0);
  GetMenuItemModifiers(file, 4, &mods);
  EXPECT_EQ(mods, kMenuShiftModifier);
  EXPECT_TRUE(ItemEnabled(kFileMenuResID, 4));
  // Any state other than 0 disables; only the low byte of the code names the item.
  QTFrame_SetMenuItemState(file, 0x7704, -3);
  EXPECT_FALSE(ItemEnabled(kFileMenuResID, 4));

  QTFrame_SetMenuItemCheck(file, IDM_FILEOPEN, true);
  EXPECT_TRUE(ItemChecked(kFileMenuResID, 2));
  QTFrame_SetMenuItemCheck(file, IDM_FILEOPEN, false);
  EXPECT_FALSE(ItemChecked(kFileMenuResID, 2));

  // The whole menu goes through item 0.
  QTFrame_SetMenuState(file, 12345, 1);
  auto bar = VTAutomationMenuBar();
  auto fileMenu =
      std::find_if(bar.begin(), bar.end(), [](auto& m) { return m.id == kFileMenuResID; });
  ASSERT_NE(fileMenu, bar.end());
  EXPECT_FALSE(fileMenu->enabled);
}

TEST_F(Menus, LabelsLoseTheirAmpersands) {
  MenuHandle file = GetMenuHandle(kFileMenuResID);
  char save[] = "&Save &As&";
  QTFrame_SetMenuItemLabel(file, IDM_FILESAVEAS, save);
  Str255 text;
  GetMenuItemText(file, 5, text);
  EXPECT_EQ(ToString(text), "Save As");

  char onlyAmps[] = "&&&";
  QTFrame_SetMenuItemLabel(file, IDM_FILESAVEAS, onlyAmps);
  GetMenuItemText(file, 5, text);
  EXPECT_EQ(ToString(text), "");

  // Longer texts are cut at 255 characters instead of overrunning the string.
  std::string longText(400, 'x');
  QTFrame_SetMenuItemLabel(file, IDM_FILESAVEAS, longText.data());
  GetMenuItemText(file, 5, text);
  EXPECT_EQ(ToString(text), std::string(255, 'x'));
}

TEST_F(Menus, UnknownFileAndEditCodesAreIgnored) {
  OpenMovieWindow("ignored.mov");
  int windows = WindowCount();
  QTFrame_HandleFileMenuItem(QTFrame_GetFrontMovieWindow(), 0x8106);
  QTFrame_HandleFileMenuItem(QTFrame_GetFrontMovieWindow(), 0x8142);
  QTFrame_HandleEditMenuItem(QTFrame_GetFrontMovieWindow(), 0x8202);
  EXPECT_EQ(WindowCount(), windows);
  EXPECT_FALSE(gShuttingDown);
  // Save and Close with no window do nothing.
  QTFrame_HandleFileMenuItem(NULL, IDM_FILESAVE);
  QTFrame_HandleFileMenuItem(NULL, IDM_FILESAVEAS);
  QTFrame_HandleFileMenuItem(NULL, IDM_FILECLOSE);
  EXPECT_EQ(WindowCount(), windows);
  EXPECT_EQ(VTAutomationNavDialogCount(), 0);
}

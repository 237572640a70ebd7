// Resource IDs and menu numbers of the application's resource file. The code knows its menus,
// dialogs, alerts and strings only by these numbers.
#pragma once

// Menu bar and menus
enum {
  kMenuBarResID = 128,
  kAppleMenuResID = 128,
  kFileMenuResID = 129,
  kEditMenuResID = 130,
  kApplicationMenuResID = 131,
};

// Dialogs and alerts
enum {
  kAboutBoxID = 128,
  kAboutBoxOKItem = 1,
  kAboutBoxUserItem = 4,
  kAlertErrorID = 129,
};

// String lists
enum {
  kAppNameResID = 1000,
  kAppNameResIndex = 1,
};

// Menu command codes: (menu ID << 8) + item number.
enum {
  IDM_ABOUT = 0x8001,  // menu 128 item 1 (the high byte is 128 = 0x80)

  IDM_FILENEW = 0x8101,
  IDM_FILEOPEN = 0x8102,
  IDM_FILECLOSE = 0x8103,
  IDM_FILESAVE = 0x8104,
  IDM_FILESAVEAS = 0x8105,
  IDM_FILESEPARATOR = 0x8106,
  IDM_EXIT = 0x8107,

  IDM_EDITUNDO = 0x8201,
  IDM_EDITSEPARATOR1 = 0x8202,
  IDM_EDITCUT = 0x8203,
  IDM_EDITCOPY = 0x8204,
  IDM_EDITPASTE = 0x8205,
  IDM_EDITCLEAR = 0x8206,
  IDM_EDITSEPARATOR2 = 0x8207,
  IDM_EDITSELECTALL = 0x8208,
  IDM_EDITSELECTNONE = 0x8209,

  IDM_MAKE_EFFECT_MOVIE = 0x8301,
  IDM_COPY_MEDIA = 0x8303,
  IDM_REFERENCE_MEDIA = 0x8304,
  IDM_EXPORT_MOVIE = 0x8306,  // after a separator (item 5)
};

// Item numbers of File menu items removed on a 10.x system.
enum {
  kFileQuitItem = 7,
  kFileQuitSeparatorItem = 6,
};

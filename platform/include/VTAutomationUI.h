// Automation of menus and dialogs, for tests and tools (C++). Texts are UTF-8.
#pragma once
#include "MacTypes.h"
#include "Quickdraw.h"

#include <functional>
#include <string>
#include <vector>

struct VTMenuItemInfo {
  std::string text;  // "-" for a separator
  bool separator = false;
  bool enabled = false;  // the item and its menu both enabled
  bool checked = false;
  char commandKey = 0;        // upper-case key of its Ctrl equivalent, 0 for none
  UInt8 modifiers = 0;        // kMenu...Modifier bits
  bool platformItem = false;  // added by the platform (the application menu's Quit)
};

struct VTMenuInfo {
  short id = 0;
  std::string title;  // as shown: the application's name for the Apple menu
  bool enabled = false;
  std::vector<VTMenuItemInfo> items;  // the menu's own items, then any platform items
};

// The menus of the bar, left to right, as the user would see them.
std::vector<VTMenuInfo> VTAutomationMenuBar();
// Global rectangles of a menu's title in the bar, and of one of its items when the menu is open
// (menu-independent: where it would be drawn). False when the menu is not in the bar. Platform
// items follow the menu's own items: item CountMenuItems + 2 is "Quit" of the Apple menu.
bool VTAutomationMenuTitleRect(short menuID, Rect* r);
bool VTAutomationMenuItemRect(short menuID, short item, Rect* r);
// Posts the clicks that choose an item: a press on the title, a release on the item. The
// application's MenuSelect then tracks and reports it.
bool VTAutomationPostMenuChoice(short menuID, short item);
// The menu whose title is highlighted, 0 for none.
short VTAutomationHilitedMenu();
// SysBeep calls since start (or the last reset).
long VTAutomationBeepCount();
void VTAutomationResetBeepCount();

struct VTDialogItemInfo {
  short index = 0;  // item number, from 1
  short kind = 0;   // item kind without itemDisable
  bool enabled = false;
  bool visible = true;
  std::string text;   // as drawn: static texts with ^0..^3 replaced
  Rect rect{};        // local to the dialog's port
  Rect globalRect{};  // on the screen
};

// Whether a dialog (or alert) is the front window, and its items.
bool VTAutomationHasFrontDialog();
std::vector<VTDialogItemInfo> VTAutomationFrontDialogItems();
// The front dialog's first item whose displayed text equals text (or, failing that, contains
// it), or 0.
short VTAutomationFindDialogItem(const std::string& text);
// Posts a click at the centre of an item of the front dialog (a press and a release, through
// the event queue). False when there is no front dialog or no such item.
bool VTAutomationPressDialogItem(short item);
// The text field with the keyboard focus in the front window (a dialog's edit item, the save
// dialog's name...), with what a test needs to click, drag and check selections in it.
struct VTTextFieldInfo {
  std::string text;  // UTF-8
  // The selection [selectionStart, selectionEnd) in characters (code points); the two are equal
  // when only the caret shows. The caret is the end that Shift+arrows move.
  int selectionStart = 0;
  int selectionEnd = 0;
  int caret = 0;
  Rect globalRect{};  // the field's box on the screen
  // The screen x of each caret position, from before the first character to after the last
  // (text.length in characters + 1 entries), for clicks and drags at exact places.
  std::vector<short> caretX;
};
// False when the front window has no focused text field.
bool VTAutomationFocusedTextField(VTTextFieldInfo* info);
// The pop-up menu open now (a pop-up button's list): its items and highlighted item; false
// when none is open. Call it from the modal hook.
bool VTAutomationPopupMenu(std::vector<std::string>* items, int* highlighted);
// Global rectangle of one of its items (the menu may hang in several columns).
bool VTAutomationPopupMenuItemRect(int index, Rect* global);
// The colour picker up now (GetColor), for tests acting from the modal hook: the colour it
// shows and where its parts are (global). False when none is up.
struct VTColourPickerField {
  std::string label;  // "Red", "Green", "Blue", "Hue", "Saturation", "Value", "Hex"
  std::string text;
  Rect rect{};
};
struct VTColourPickerInfo {
  RGBColor colour{};
  std::string hex;  // "RRGGBB"
  std::string prompt;
  Rect square{}, hueStrip{}, ok{}, cancel{};
  std::vector<Rect> swatches;  // the six quick picks
  std::vector<VTColourPickerField> fields;
};
bool VTAutomationColourPicker(VTColourPickerInfo* info);
// Alerts that nobody can answer (a command-line tool has no screen and no user): each alert
// goes to `sink` as one line of its texts and returns its default item at once, as if that
// button had been pressed. An empty sink shows alerts again (the reset does this too).
void VTAutomationAnswerAlertsWith(std::function<void(const std::string& line)> sink);
// The current ParamText strings.
std::string VTAutomationParamText(int index);

// Closes every dialog, frees every menu and the bar, clears ParamText, the navigation
// answers and the beep count. For tests.
void VTResetMenusAndDialogs();

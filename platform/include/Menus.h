// Menu manager: the menu bar, menus and their items, command keys.
//
// The bar shows the installed menus left to right. Menu 128 (the Apple menu) is shown first as
// the application menu, titled with the application's name (string 1 of string list 1000); below
// its own items the platform appends a separator and "Quit <name>" (Ctrl+Q), which posts the
// quit-application Apple event and reports no selection to the caller. Those platform items are
// not items of menu 128: CountMenuItems and the item numbers do not see them.
// Command keys are typed with Ctrl (the event's cmdKey) and shown as "Ctrl+X".
#pragma once
#include "MacTypes.h"
#include "Events.h"

struct VTMenu;
typedef VTMenu* MenuRef;
typedef MenuRef MenuHandle;
typedef SInt16 MenuID;
typedef UInt16 MenuItemIndex;
typedef UInt32 MenuCommand;
typedef SInt16 CharParameter;

enum { kAppleMenuID = 128 };  // not a toolbox constant; the ID shown as the application menu

// Modifier keys of an item's command key (GetMenuItemModifiers).
enum {
  kMenuNoModifiers = 0,  // Ctrl + key
  kMenuShiftModifier = 1 << 0,
  kMenuOptionModifier = 1 << 1,
  kMenuControlModifier = 1 << 2,
  kMenuNoCommandModifier = 1 << 3  // the key alone, without Ctrl
};

// Item marks.
enum { noMark = 0, checkMark = 0x12 };
// hierMenu (-1) for InsertMenu: not supported here (no submenus).
enum { hierMenu = -1 };

// Menus.
MenuRef NewMenu(MenuID menuID, ConstStr255Param menuTitle);
// MENU resource `resourceID` as a new menu, or null (ResError tells why).
MenuRef GetMenu(short resourceID);
// Removes the menu from the bar if it is there and frees it.
void DisposeMenu(MenuRef theMenu);
MenuID GetMenuID(MenuRef menu);
void SetMenuTitle(MenuRef menu, ConstStr255Param title);
void GetMenuTitle(MenuRef menu, Str255 title);

// Items. Item numbers start at 1; item 0 stands for the whole menu in the enable calls.
// AppendMenu and InsertMenuItem take item text with the classic metacharacters: ';' or a return
// separates items, "(-" is a separator, '(' disables, "/X" sets command key X, "!c" the mark.
void AppendMenu(MenuRef menu, ConstStr255Param data);
void InsertMenuItem(MenuRef menu, ConstStr255Param itemString, short afterItem);
// Removes an item; the items after it move up by one. Out-of-range numbers are ignored.
void DeleteMenuItem(MenuRef menu, short item);
UInt16 CountMenuItems(MenuRef menu);
void EnableMenuItem(MenuRef menu, MenuItemIndex item);
void DisableMenuItem(MenuRef menu, MenuItemIndex item);
Boolean IsMenuItemEnabled(MenuRef menu, MenuItemIndex item);
void CheckMenuItem(MenuRef menu, short item, Boolean checked);
void SetItemMark(MenuRef menu, short item, CharParameter markChar);
void GetItemMark(MenuRef menu, short item, CharParameter* markChar);
void SetMenuItemText(MenuRef menu, short item, ConstStr255Param itemString);
void GetMenuItemText(MenuRef menu, short item, Str255 itemString);
// The command key of an item: its character, 0 for none.
void SetItemCmd(MenuRef menu, short item, CharParameter cmdChar);
void GetItemCmd(MenuRef menu, short item, CharParameter* cmdChar);
OSStatus GetMenuItemModifiers(MenuRef menu, MenuItemIndex item, UInt8* outModifiers);
OSStatus SetMenuItemModifiers(MenuRef menu, MenuItemIndex item, UInt8 modifiers);

// The menu bar.
// MBAR resource `menuBarID` with its MENU resources, as a menu list handle for SetMenuBar;
// null when the menu bar resource or one of its menus is missing or malformed.
Handle GetNewMBar(short menuBarID);
// A menu list handle of the current bar (a copy the caller disposes).
Handle GetMenuBar();
// Installs the menus of a menu list; the list handle may be disposed afterwards.
void SetMenuBar(Handle menuList);
void ClearMenuBar();
// Adds a menu to the bar before menu beforeID (0: at the end); DeleteMenu takes it out.
void InsertMenu(MenuRef theMenu, MenuID beforeID);
void DeleteMenu(MenuID menuID);
// A menu of the bar by ID, or null.
MenuRef GetMenuHandle(MenuID menuID);
// Redraws the bar now / at the next composition.
void DrawMenuBar();
void InvalMenuBar();
short GetMBarHeight();

// Tracks a press in the menu bar at startPt (global) until the button is released (or, after a
// click on a title, until the next click); draws the open menu and calls the modal hook every
// turn. Returns (menu ID << 16) | item, or 0 when nothing (or a disabled item) was chosen.
// The chosen menu's title stays highlighted until HiliteMenu(0).
long MenuSelect(Point startPt);
// The enabled item of an enabled menu in the bar whose command key is ch (case-insensitive), as
// (menu ID << 16) | item, or 0. The matched title is highlighted until HiliteMenu(0).
long MenuKey(CharParameter ch);
// Highlights the title of menuID (0: none).
void HiliteMenu(MenuID menuID);
void FlashMenuBar(MenuID menuID);

// The menu manager's model: menus, the bar, its layout on the screen and the overlay drawing.
#pragma once
#include <Menus.h>

#include <string>
#include <vector>

struct VTMenu {
  struct Item {
    std::string text;  // UTF-8 (a toolbox string); a text starting with '-' is a separator line
    bool enabled = true;
    char key = 0;  // command key, upper case
    UInt8 modifiers = 0;
    UInt8 mark = 0;  // checkMark or another mark character
    bool separator() const { return !text.empty() && text[0] == '-'; }
  };
  MenuID id = 0;
  std::string title;
  bool enabled = true;
  std::vector<Item> items;
  uint32_t magic = 0;
};

namespace vt::menus {

constexpr int kItemHeight = 20;
constexpr int kSeparatorHeight = 9;

// Null unless m is a live menu made by this manager.
VTMenu* validMenu(MenuRef m);
// The installed menus, left to right.
const std::vector<VTMenu*>& barMenus();

// What a menu shows: its own items, and for the Apple menu the platform's separator and Quit.
struct ShownItem {
  std::string text;  // UTF-8 (a toolbox string)
  bool separator = false;
  bool enabled = false;
  bool checked = false;
  UInt8 mark = 0;
  char key = 0;
  UInt8 modifiers = 0;
  bool platformQuit = false;
};
std::vector<ShownItem> shownItems(const VTMenu* m);
// The title shown in the bar (the application's name for the Apple menu).
std::string shownTitle(const VTMenu* m);
// "Ctrl+X" (with Shift+/Alt+ as the modifiers say), or "".
std::string keyLabel(char key, UInt8 modifiers);

// Layout (global coordinates).
Rect titleRect(int barIndex);
Rect menuRect(int barIndex);                  // the open menu's frame
Rect itemRect(int barIndex, int shownIndex);  // shownIndex from 0
int barIndexAt(Point p);                      // the title under p, or -1
int itemIndexAt(int barIndex, Point p);       // the shown item under p (from 0), or -1

// Tracking state drawn by the overlay.
void setOpenMenu(int barIndex, int hilitedItem);
MenuID hilitedMenu();
void setHilitedMenu(MenuID id);

// Installs the overlay that draws the bar and the open menu, and asks for recomposition.
void invalidateBar();

// The application menu's Quit: posts the quit-application Apple event.
void quitFromMenu();

void resetMenus();

}  // namespace vt::menus

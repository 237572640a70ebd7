// The widget kit's mouse tracking and the pieces every modal loop shares. Tracking runs its own
// loop (as DragWindow does): the modal hook runs each turn, so tests act as the user there.
#pragma once
#include <Events.h>
#include <MacWindows.h>

#include <functional>
#include <string>
#include <vector>

namespace vt::ui {

class TextField;

// The window's local (port) coordinates of a global point.
Point localPoint(WindowRef w, Point global);

// Follows a press on a control until the button is released: `shown(inside)` hears each change
// of whether the mouse is over r (local to w), the first at once, so the control can show itself
// pressed. True when released over r; false too when the window went away meanwhile.
bool trackPress(WindowRef w, const Rect& r, const std::function<void(bool inside)>& shown = {});

// Follows a drag until the button is released: `moved(local)` hears each position, the release
// point last. False when the window went away meanwhile.
bool trackDrag(WindowRef w, const std::function<void(Point local)>& moved);

// A pop-up menu of `items` hanging below `anchor` (local to `owner`), in a window of its own
// over everything (in columns when the list is longer than the screen is high), with `current`
// highlighted. mouseHeld: opened by a press that is still down, so the menu follows the drag
// and the release chooses; a release back on the anchor leaves it open for a click, as does
// opening it from the keyboard. Arrows move the highlight, Return or Space chooses, Escape or
// a click elsewhere closes it. The chosen item, or -1 when none was chosen.
int runPopupMenu(WindowRef owner, const Rect& anchor, const std::vector<std::string>& items,
                 int current, bool mouseHeld);

// Modal loops take every event but high-level ones, which wait for the application's own loop.
constexpr EventMask kModalEventMask = everyEvent & ~highLevelEventMask;
// Each turn of a modal loop starts with the modal hook (where tests act as the user), then
// takes the next event (a null event when none).
void beginModalTurn();
void nextModalEvent(EventRecord& e);

// What a mouse-down means to a dialog window.
enum class DialogClick {
  content,  // in the content: *local is set
  dragged,  // the title bar: the window has been dragged (within the desktop)
  frame,    // another part of the window: nothing to do
  outside,  // another window, the desktop or the menu bar
};
DialogClick dialogClick(WindowRef w, const EventRecord& e, Point* local);

// Automation's view of text fields: each area that shows fields registers a finder that tells
// which field of a window has the keyboard focus and where it is drawn (local box).
struct FocusedField {
  TextField* field = nullptr;
  Rect box{};
};
using FieldFinder = bool (*)(WindowRef w, FocusedField& out);
void addFieldFinder(FieldFinder finder);
bool findFocusedField(WindowRef w, FocusedField& out);

}  // namespace vt::ui

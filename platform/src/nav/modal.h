// Runs a navigation dialog as a platform modal window: a dialog window (kind 2) in front of
// everything, its own event loop, and the caller's event callback fed with the update events
// of other windows and with null events so they keep drawing and playing.
#pragma once
#include <Navigation.h>
#include <VTAutomationNav.h>

#include <string>

#include "ui/widgets/controls.h"

namespace vt::nav {

// What the runner needs of a dialog.
class ModalContent {
 public:
  virtual ~ModalContent() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
  // Local coordinates; true when the dialog must be redrawn. A press on a button is tracked
  // first and reaches click() only when released over the button.
  virtual bool click(int x, int y, uint32_t ticks, EventModifiers modifiers) = 0;
  virtual ui::Button* buttonAt(int, int) { return nullptr; }
  // A click that started a drag (selecting in a text field) is followed until release.
  virtual bool dragging() const { return false; }
  virtual bool drag(int, int) { return false; }
  virtual void endDrag() {}
  virtual bool key(const ui::KeyPress& k) = 0;
  virtual void draw(ui::Painter& p) = 0;
  virtual bool finished() const = 0;
  virtual int takeBeeps() { return 0; }
  // Called once per turn before events are read: automation answers act here. True when the
  // dialog must be redrawn.
  virtual bool automationTurn() { return false; }
  // Called to give up (turn limit reached, window could not be made).
  virtual void abandon() = 0;
  // What is shown, for automation.
  virtual void describe(VTNavDialogInfo& info) const = 0;
  // Where things are, local coordinates; false when there is no such thing.
  virtual bool buttonRect(const std::string& label, Rect& r) const = 0;
  virtual bool itemRect(const std::string&, Rect&) const { return false; }
  virtual bool nameFieldRect(Rect&) const { return false; }
  virtual bool pathMenuRect(Rect&) const { return false; }
  virtual bool pathMenuItemRect(int, Rect&) const { return false; }
};

struct ModalStats {
  long updatesPassed = 0;  // update events of other windows handed to the callback
  long nullsPassed = 0;
  long turns = 0;
};

// The dialog being run, innermost first; automation reads it.
struct RunningDialog {
  ModalContent* content = nullptr;
  WindowRef window = nullptr;
  ModalStats* stats = nullptr;
};
const RunningDialog* currentDialog();

// Shows the dialog and runs it until it finishes. noErr, or memFullErr when the window could
// not be made. `location` (-1,-1) centres the dialog on the desktop.
OSErr runModal(ModalContent& content, const std::string& titleUtf8, Point location,
               NavEventUPP eventProc, void* callBackUD, ModalStats& stats);

// A limit on loop turns per dialog, after which it is abandoned (tests use it so a dialog
// nobody answers cannot hang them); 0 = none.
void setTurnLimit(long turns);

}  // namespace vt::nav

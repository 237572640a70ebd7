// The dialog manager's model: dialogs as windows of kind 2 with an item list.
#pragma once
#include <Dialogs.h>

#include <memory>
#include <string>
#include <vector>

#include "resources/resource_file.h"
#include "ui/widgets/text_field.h"
#include "ui/widgets/tracking.h"

struct VTDialog {
  struct Item {
    SInt16 kind = 0;  // without itemDisable
    bool enabled = false;
    bool visible = true;
    Rect rect{};               // local to the dialog's port
    Handle handle = nullptr;   // what GetDialogItem hands out
    Handle ownText = nullptr;  // the text handle this manager made (freed with the dialog)
    SInt16 resID = 0;
    // Edit text: the field being edited; its text goes into the handle (UTF-8) after every
    // change, and text put into the handle replaces the field's.
    std::unique_ptr<vt::ui::TextField> field;
  };
  WindowRef window = nullptr;
  std::vector<Item> items;
  SInt16 defaultItem = 0;
  SInt16 cancelItem = 0;
  SInt16 focus = 0;       // edit text item taking keys, 0 for none
  SInt16 pressed = 0;     // button drawn pressed while tracked
  SInt16 alertType = -1;  // icon of an alert; -1 for a plain dialog
  uint32_t magic = 0;
};

namespace vt::dialogs {

VTDialog* validDialog(DialogRef d);
VTDialog* dialogOfWindow(WindowRef w);
// The frontmost visible dialog window's dialog, or null.
VTDialog* frontDialog();
std::vector<VTDialog*> allDialogs();

// A dialog (or alert) made from its resource, in front of `behind` (-1: all).
VTDialog* makeDialog(const vt::resources::DialogRes& res, WindowRef behind);

// The edit text item's field, brought up to date with the item's text handle.
vt::ui::TextField* editField(VTDialog* d, int index);
// The focused edit item's field and where it is drawn; automation finds fields through it.
bool focusedEditField(WindowRef w, vt::ui::FocusedField& out);

// The text an item holds (a toolbox string, UTF-8), and what it shows (^0..^3 replaced for static
// text).
std::string itemText(const VTDialog* d, int index);
std::string shownText(const VTDialog* d, int index);
std::string paramText(int index);
std::string substitute(const std::string& text);

// Drawing into the dialog's port.
void drawItem(VTDialog* d, int index);
void drawAll(VTDialog* d);

bool itemUsable(const VTDialog* d, int index);  // exists, enabled and shown
// The box an edit text item's field is drawn in (its frame lies outside the item's rectangle).
Rect fieldBox(const Rect& item);
// The enabled, shown item at a local point (from 1), or 0.
int itemAt(const VTDialog* d, Point local);
Rect globalRect(const VTDialog* d, const Rect& local);

void resetDialogs();

}  // namespace vt::dialogs

// Automation of the navigation dialogs (open, save, save-changes) for tests and tools.
// Not part of the application's API.
//
// Answers are queued per dialog kind and used, first in first out, by the next dialogs of that
// kind: the dialog still opens, lists its folder (asking the filter about every item) and runs
// its loop; on its first turn the answer acts as a user would (going to the folder, selecting,
// typing the name, pressing the buttons). Tests that prefer real input post clicks and keys
// from the modal hook and find the places to click with the geometry calls below.
#pragma once
#include <string>
#include <vector>

#include "MacWindows.h"
#include "Navigation.h"

enum class VTNavDialogKind { none = 0, open = 1, save = 2, saveChanges = 3 };

// Save-changes: the next such dialog answers Save, Don't Save or Cancel.
void VTAutomationNavAnswerSaveChanges(NavAskSaveChangesResult answer);
// Open: the next open dialog goes to the file's folder and chooses it. When the file is not
// listed there (hidden by the filter or the type list, or missing) the dialog is cancelled and
// VTAutomationNavLastError() says why.
void VTAutomationNavChooseFile(const std::string& path);
void VTAutomationNavCancelOpen();
// Save: the next save dialog goes to `folder`, types `name` and presses Save. When the name
// exists, the replace question is answered Replace (confirmReplace) or Cancel; after a Cancel
// the dialog takes the next queued save answer, or is cancelled when there is none. A `format`
// of 0 or more first chooses that item of the Format pop-up; an empty `name` then keeps the
// name the dialog shows.
void VTAutomationNavSaveAs(const std::string& folder, const std::string& name,
                           bool confirmReplace = true, int format = -1);
void VTAutomationNavCancelSave();
// Drops every queued answer.
void VTAutomationNavClearAnswers();
// Why the last automation answer could not be carried out ("" when it could).
std::string VTAutomationNavLastError();

// The folder the next open or save dialog starts in when the caller names none (by default the
// folder of the last dialog, else the working directory).
void VTAutomationNavSetStartFolder(const std::string& folder);

struct VTNavDialogInfo {
  VTNavDialogKind kind = VTNavDialogKind::none;
  WindowRef window = nullptr;  // null once the dialog is gone
  std::string windowTitle;     // UTF-8
  std::string clientName;
  std::string message;             // the prompt, or the save-changes question
  std::string proposedName;        // save: the name first proposed
  std::string name;                // save: the name in the field now
  std::string selectedName;        // save: the part of the name selected (typing replaces it)
  std::string folder;              // open/save: the folder listed
  std::vector<std::string> items;  // listed names, in order, after filtering
  std::vector<bool> itemIsFolder;
  std::vector<bool> itemEnabled;
  int selectedItem = -1;
  long filterCalls = 0;               // items the filter was asked about for this listing
  std::string sheetMessage;           // the question shown over the dialog ("" when none)
  std::vector<std::string> pathMenu;  // folder chain when the path menu is open
  std::vector<std::string> formats;   // save: the Format pop-up's items (none: no pop-up)
  int format = 0;                     // save: the one chosen
  std::vector<std::string> buttons;   // button labels
  bool previewShown = false;          // open: the selected file's poster is shown
  long updatesPassed = 0;             // update events of other windows handed to the event callback
  long nullsPassed = 0;               // null events handed to the event callback
  long turns = 0;
  int result = 0;  // after it closed: the OSErr the call returned
};

// The dialog up now (innermost); false when none is up. Call it from the modal hook.
bool VTAutomationNavCurrent(VTNavDialogInfo* info);
// The last dialog that closed, as it was when it closed.
VTNavDialogInfo VTAutomationNavLastShown();
// Number of navigation dialogs shown since the last reset.
long VTAutomationNavDialogCount();

// Where to click in the dialog up now (global coordinates), for real input.
bool VTAutomationNavButtonRect(const std::string& label, Rect* global);  // also sheet buttons
bool VTAutomationNavItemRect(const std::string& name, Rect* global);     // a listed row
bool VTAutomationNavNameFieldRect(Rect* global);
bool VTAutomationNavPathMenuRect(Rect* global);                 // the folder popup
bool VTAutomationNavPathMenuItemRect(int index, Rect* global);  // 0 = current folder

// Abandons (cancels) any dialog after this many loop turns; 0 = never. Keeps a test that
// forgot to answer from hanging.
void VTAutomationNavSetTurnLimit(long turns);

// Clears answers, counts, the start folder, the last error and the turn limit.
void VTAutomationNavReset();

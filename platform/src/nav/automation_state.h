// Queued automation answers and what the dialogs report, shared by the dialogs and
// VTAutomationNav.
#pragma once
#include <VTAutomationNav.h>

#include <deque>
#include <string>

namespace vt::nav {

struct OpenAnswer {
  bool cancel = false;
  std::string path;
};

struct SaveAnswer {
  bool cancel = false;
  std::string folder;
  std::string name;
  bool confirmReplace = true;
  int format = -1;  // the Format pop-up's choice to make first; -1: leave it
};

struct AutomationState {
  std::deque<NavAskSaveChangesResult> saveChanges;
  std::deque<OpenAnswer> opens;
  std::deque<SaveAnswer> saves;
  std::string lastError;
  std::string startFolder;  // set by automation; wins over the remembered folder
  std::string lastFolder;   // where the last open or save dialog was
  VTNavDialogInfo lastShown;
  long dialogCount = 0;
};

AutomationState& automation();

}  // namespace vt::nav

// VTAutomationNav: answers and observations of the navigation dialogs for tests and tools.
#include <VTAutomationNav.h>

#include "core/guard.h"
#include "core/reset.h"
#include "nav/automation_state.h"
#include "nav/browser.h"
#include "nav/modal.h"
#include "ui/text.h"

namespace vt::nav {
bool locateInCurrent(int what, const std::string& label, int index, Rect* global);
}

using namespace vt::nav;

void VTAutomationNavAnswerSaveChanges(NavAskSaveChangesResult answer) try {
  automation().saveChanges.push_back(answer);
} catch (...) {
  vtErrorFromException();
}

void VTAutomationNavChooseFile(const std::string& path) try {
  automation().opens.push_back(OpenAnswer{false, path});
} catch (...) {
  vtErrorFromException();
}

void VTAutomationNavCancelOpen() try {
  automation().opens.push_back(OpenAnswer{true, {}});
} catch (...) {
  vtErrorFromException();
}

void VTAutomationNavSaveAs(const std::string& folder, const std::string& name, bool confirmReplace,
                           int format) try {
  automation().saves.push_back(SaveAnswer{false, folder, name, confirmReplace, format});
} catch (...) {
  vtErrorFromException();
}

void VTAutomationNavCancelSave() try {
  automation().saves.push_back(SaveAnswer{true, {}, {}, false});
} catch (...) {
  vtErrorFromException();
}

void VTAutomationNavClearAnswers() try {
  AutomationState& a = automation();
  a.saveChanges.clear();
  a.opens.clear();
  a.saves.clear();
} catch (...) {
  vtErrorFromException();
}

std::string VTAutomationNavLastError() try { return automation().lastError; } catch (...) {
  vtErrorFromException();
  return {};
}

void VTAutomationNavSetStartFolder(const std::string& folder) try {
  automation().startFolder = folder.empty() ? std::string() : normaliseFolder(folder);
} catch (...) {
  vtErrorFromException();
}

bool VTAutomationNavCurrent(VTNavDialogInfo* info) try {
  const RunningDialog* d = currentDialog();
  if (!d || !info) return false;
  *info = VTNavDialogInfo{};
  d->content->describe(*info);
  info->window = d->window;
  Str255 title;
  GetWTitle(d->window, title);
  info->windowTitle = vt::ui::pascalToUtf8(title);
  if (d->stats) {
    info->updatesPassed = d->stats->updatesPassed;
    info->nullsPassed = d->stats->nullsPassed;
    info->turns = d->stats->turns;
  }
  return true;
} catch (...) {
  vtErrorFromException();
  return {};
}

VTNavDialogInfo VTAutomationNavLastShown() try { return automation().lastShown; } catch (...) {
  vtErrorFromException();
  return {};
}
long VTAutomationNavDialogCount() try { return automation().dialogCount; } catch (...) {
  vtErrorFromException();
  return {};
}

bool VTAutomationNavButtonRect(const std::string& label, Rect* global) try {
  return locateInCurrent(0, label, 0, global);
} catch (...) {
  vtErrorFromException();
  return {};
}
bool VTAutomationNavItemRect(const std::string& name, Rect* global) try {
  return locateInCurrent(1, name, 0, global);
} catch (...) {
  vtErrorFromException();
  return {};
}
bool VTAutomationNavNameFieldRect(Rect* global) try {
  return locateInCurrent(2, {}, 0, global);
} catch (...) {
  vtErrorFromException();
  return {};
}
bool VTAutomationNavPathMenuRect(Rect* global) try {
  return locateInCurrent(3, {}, 0, global);
} catch (...) {
  vtErrorFromException();
  return {};
}
bool VTAutomationNavPathMenuItemRect(int index, Rect* global) try {
  return locateInCurrent(4, {}, index, global);
} catch (...) {
  vtErrorFromException();
  return {};
}

void VTAutomationNavSetTurnLimit(long turns) try { setTurnLimit(turns); } catch (...) {
  vtErrorFromException();
}

void VTAutomationNavReset() try {
  VTAutomationNavClearAnswers();
  AutomationState& a = automation();
  a.lastError.clear();
  a.startFolder.clear();
  a.lastFolder.clear();
  a.lastShown = VTNavDialogInfo{};
  a.dialogCount = 0;
  setTurnLimit(0);
} catch (...) {
  vtErrorFromException();
}

namespace {
const vt::ResetRegistration kReset(vt::ResetStage::Dialogs, VTAutomationNavReset);
}

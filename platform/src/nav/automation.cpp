// VTAutomationNav: answers and observations of the navigation dialogs for tests and tools.
#include <VTAutomationNav.h>

#include "core/boundary.h"
#include "core/reset.h"
#include "nav/automation_state.h"
#include "nav/browser.h"
#include "nav/modal.h"
#include "ui/text.h"

namespace vt::nav {
bool locateInCurrent(int what, const std::string& label, int index, Rect* global);
}

using namespace vt::nav;

void VTAutomationNavAnswerSaveChanges(NavAskSaveChangesResult answer) {
  vt::apiCall(vt::noErrorState, [&] { automation().saveChanges.push_back(answer); });
}

void VTAutomationNavChooseFile(const std::string& path) {
  vt::apiCall(vt::noErrorState, [&] { automation().opens.push_back(OpenAnswer{false, path}); });
}

void VTAutomationNavCancelOpen() {
  vt::apiCall(vt::noErrorState, [&] { automation().opens.push_back(OpenAnswer{true, {}}); });
}

void VTAutomationNavSaveAs(const std::string& folder, const std::string& name, bool confirmReplace,
                           int format) {
  vt::apiCall(vt::noErrorState, [&] {
    automation().saves.push_back(SaveAnswer{false, folder, name, confirmReplace, format});
  });
}

void VTAutomationNavCancelSave() {
  vt::apiCall(vt::noErrorState, [&] {
    automation().saves.push_back(SaveAnswer{true, {}, {}, false});
  });
}

void VTAutomationNavClearAnswers() {
  vt::apiCall(vt::noErrorState, [&] {
    AutomationState& a = automation();
    a.saveChanges.clear();
    a.opens.clear();
    a.saves.clear();
  });
}

std::string VTAutomationNavLastError() {
  return vt::apiCall<std::string>(vt::noErrorState, {},
                                  [&]() -> std::string { return automation().lastError; });
}

void VTAutomationNavSetStartFolder(const std::string& folder) {
  vt::apiCall(vt::noErrorState, [&] {
    automation().startFolder = folder.empty() ? std::string() : normaliseFolder(folder);
  });
}

bool VTAutomationNavCurrent(VTNavDialogInfo* info) {
  return vt::apiCall<bool>(vt::noErrorState, {}, [&]() -> bool {
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
  });
}

VTNavDialogInfo VTAutomationNavLastShown() {
  return vt::apiCall<VTNavDialogInfo>(vt::noErrorState, {},
                                      [&]() -> VTNavDialogInfo { return automation().lastShown; });
}
long VTAutomationNavDialogCount() {
  return vt::apiCall<long>(vt::noErrorState, {},
                           [&]() -> long { return automation().dialogCount; });
}

bool VTAutomationNavButtonRect(const std::string& label, Rect* global) {
  return vt::apiCall<bool>(vt::noErrorState, {},
                           [&]() -> bool { return locateInCurrent(0, label, 0, global); });
}
bool VTAutomationNavItemRect(const std::string& name, Rect* global) {
  return vt::apiCall<bool>(vt::noErrorState, {},
                           [&]() -> bool { return locateInCurrent(1, name, 0, global); });
}
bool VTAutomationNavNameFieldRect(Rect* global) {
  return vt::apiCall<bool>(vt::noErrorState, {},
                           [&]() -> bool { return locateInCurrent(2, {}, 0, global); });
}
bool VTAutomationNavPathMenuRect(Rect* global) {
  return vt::apiCall<bool>(vt::noErrorState, {},
                           [&]() -> bool { return locateInCurrent(3, {}, 0, global); });
}
bool VTAutomationNavPathMenuItemRect(int index, Rect* global) {
  return vt::apiCall<bool>(vt::noErrorState, {},
                           [&]() -> bool { return locateInCurrent(4, {}, index, global); });
}

void VTAutomationNavSetTurnLimit(long turns) {
  vt::apiCall(vt::noErrorState, [&] { setTurnLimit(turns); });
}

void VTAutomationNavReset() {
  vt::apiCall(vt::noErrorState, [&] {
    VTAutomationNavClearAnswers();
    AutomationState& a = automation();
    a.lastError.clear();
    a.startFolder.clear();
    a.lastFolder.clear();
    a.lastShown = VTNavDialogInfo{};
    a.dialogCount = 0;
    setTurnLimit(0);
  });
}

namespace {
const vt::ResetRegistration kReset(vt::ResetStage::Dialogs, VTAutomationNavReset);
}

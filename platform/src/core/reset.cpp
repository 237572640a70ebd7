#include "core/reset.h"

#include <VTAutomation.h>
#include <VTAutomationUI.h>

#include <algorithm>
#include <vector>

#include "core/boundary.h"

namespace vt {
namespace {

struct Entry {
  ResetStage stage;
  void (*reset)();
};

std::vector<Entry>& registry() {
  static std::vector<Entry> r;  // filled by static initialisers, so made on first use
  return r;
}

}  // namespace

ResetRegistration::ResetRegistration(ResetStage stage, void (*reset)()) {
  registry().push_back({stage, reset});
}

}  // namespace vt

namespace {
void runStages(vt::ResetStage first, vt::ResetStage last) {
  std::vector<vt::Entry> order = vt::registry();
  std::stable_sort(order.begin(), order.end(),
                   [](const vt::Entry& a, const vt::Entry& b) { return a.stage < b.stage; });
  for (const vt::Entry& e : order)
    if (e.stage >= first && e.stage <= last) e.reset();
}
}  // namespace

void VTAutomationResetAll() {
  vt::apiCall(vt::noErrorState,
              [&] { runStages(vt::ResetStage::Controllers, vt::ResetStage::Managers); });
}

void VTResetMenusAndDialogs() {
  vt::apiCall(vt::noErrorState,
              [&] { runStages(vt::ResetStage::Dialogs, vt::ResetStage::Dialogs); });
}

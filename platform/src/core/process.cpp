#include <Processes.h>

#include <cstdio>
#include <cstdlib>

#include "core/boundary.h"
#include "core/reset.h"

namespace {
VTExitHook gExitHook = nullptr;
const vt::ResetRegistration kReset(vt::ResetStage::Managers, [] { gExitHook = nullptr; });
}  // namespace

void VTSetExitHook(VTExitHook hook) { gExitHook = hook; }

void ExitToShell() {
  bool hookThrew = false;
  vt::apiCall([&](OSErr) { hookThrew = true; },
              [] {
                if (gExitHook) gExitHook();
              });
  std::fflush(nullptr);
  std::exit(hookThrew ? 1 : 0);  // never returns, whatever the hook did
}

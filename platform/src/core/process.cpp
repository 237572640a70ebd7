#include <Processes.h>

#include <cstdio>
#include <cstdlib>

#include "core/guard.h"
#include "core/reset.h"

namespace {
VTExitHook gExitHook = nullptr;
const vt::ResetRegistration kReset(vt::ResetStage::Managers, [] { gExitHook = nullptr; });
}  // namespace

void VTSetExitHook(VTExitHook hook) { gExitHook = hook; }

void ExitToShell() try {
  if (gExitHook) gExitHook();
  std::fflush(nullptr);
  std::exit(0);
} catch (...) {
  vtErrorFromException();
  std::exit(1);  // never returns, whatever the hook did
}

#include <Processes.h>

#include <cstdio>
#include <cstdlib>

#include "core/guard.h"

namespace {
VTExitHook gExitHook = nullptr;
}

void VTSetExitHook(VTExitHook hook) { gExitHook = hook; }

void ExitToShell() try {
  if (gExitHook) gExitHook();
  std::fflush(nullptr);
  std::exit(0);
} catch (...) { vtErrorFromException(); }

#include <Processes.h>

#include <cstdio>
#include <cstdlib>

namespace {
VTExitHook gExitHook = nullptr;
}

void VTSetExitHook(VTExitHook hook) { gExitHook = hook; }

void ExitToShell() {
  if (gExitHook) gExitHook();
  std::fflush(nullptr);
  std::exit(0);
}

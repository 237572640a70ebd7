// Process manager.
#pragma once
#include "MacTypes.h"

// Ends the process with status 0. Does not return.
[[noreturn]] void ExitToShell();

// Vantrel addition: a hook run instead of ending the process, so an in-process test can
// observe the exit. The hook must not return (it throws or longjmps); if it does, the
// process ends as usual.
typedef void (*VTExitHook)();
void VTSetExitHook(VTExitHook hook);

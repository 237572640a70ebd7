// The guard at the API boundary: no exception reaches a toolbox caller. Public calls run behind
// the helpers of core/boundary.h, whose handlers turn what was thrown into its code here.
#pragma once
#include <MacTypes.h>

// The code for the exception being handled (call it only inside a handler): memFullErr for
// allocation, the matching file error for a system or file-system error, paramErr for a logic
// error, ioErr for anything else. Also recorded as the last guarded error.
OSErr vtErrorFromException() noexcept;
// The code of the last exception a guard caught on this thread (noErr when none).
OSErr vtLastGuardedError() noexcept;
#include <Appearance.h>

#include "core/guard.h"

// Deliberately does nothing: the platform draws everything in its one appearance.
OSStatus RegisterAppearanceClient() { return noErr; }
// Deliberately does nothing, as above.
OSStatus UnregisterAppearanceClient() { return noErr; }

// Appearance manager.
#pragma once
#include "MacTypes.h"

// Declares the application a client of the appearance services. Deliberately does nothing:
// every window, menu and dialog is drawn with the platform's one appearance. Returns noErr.
OSStatus RegisterAppearanceClient();
OSStatus UnregisterAppearanceClient();

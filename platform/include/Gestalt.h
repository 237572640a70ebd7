// Gestalt: what the platform offers.
#pragma once
#include "MacTypes.h"

enum {
  gestaltSystemVersion = 'sysv',
  gestaltQuickTime = 'qtim',
  gestaltQuickTimeVersion = 'qtim',
  gestaltQuickTimeFeatures = 'qtrs',
  gestaltAppleEventsAttr = 'evnt',
  gestaltAppearanceAttr = 'appr',
};
enum { gestaltAppleEventsPresent = 0, gestaltPPCQuickTimeLibPresent = 0 };
enum { gestaltUndefSelectorErr = -5551 };

OSErr Gestalt(OSType selector, SInt32* response);

// Vantrel additions: tests and tools can make a selector answer differently
// (an error, or another value) to exercise the application's fallbacks.
void VTSetGestaltAnswer(OSType selector, OSErr err, SInt32 response);
void VTResetGestaltAnswers();

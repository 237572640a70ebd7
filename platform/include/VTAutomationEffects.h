// Automation of the standard effects parameter dialog, for tests and tools (C++). Acts on the
// newest open parameter dialog. Texts are UTF-8.
#pragma once
#include "MacTypes.h"

#include <string>
#include <vector>

struct VTEffectsDialogEntry {
  std::string name;
  OSType code = 0;
};

struct VTEffectsDialogParam {
  OSType code = 0;
  std::string name;
  bool tweened = false;  // start and end values
  double start = 0;      // the value (first component for colours)
  double end = 0;        // tweened parameters only
};

// Whether a parameter dialog is open.
bool VTAutomationEffectsDialogUp();
// Its effects in list order, and the selected one's index (-1 when none is open).
std::vector<VTEffectsDialogEntry> VTAutomationEffectsDialogEffects();
int VTAutomationEffectsDialogSelected();
// Selects an effect by its listed name or its code (as the user's click on its row would).
bool VTAutomationEffectsDialogSelectName(const std::string& name);
bool VTAutomationEffectsDialogSelectCode(OSType code);
// The selected effect's parameters as the dialog holds them.
std::vector<VTEffectsDialogParam> VTAutomationEffectsDialogParams();
// Sets a parameter of the selected effect (which: 0 the value or start, 1 the end of a tween);
// the value is clamped to the parameter's range. False for an unknown parameter.
bool VTAutomationEffectsDialogSetParam(OSType code, double value, int which = 0);
// The same for a colour: red, green and blue from 0 to 65535.
bool VTAutomationEffectsDialogSetColour(OSType code, double red, double green, double blue,
                                        int which = 0);
// Posts a click on OK or Cancel through the event queue; the application's event loop then
// hands it to the dialog. False when no dialog is open.
bool VTAutomationEffectsDialogPressOK();
bool VTAutomationEffectsDialogPressCancel();
// Global rectangle of OK (true) or Cancel (false); empty when no dialog is open.
Rect VTAutomationEffectsDialogButtonRect(bool ok);

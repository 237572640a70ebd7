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
  bool tweened = false;   // start and end values
  double start = 0;       // the value (first component for colours)
  double end = 0;         // tweened parameters only
  std::string imageName;  // image parameters: the chosen file's name ("" for the default)
  std::string text;       // text parameters (UTF-8)
};

// The dialog's controls, as automation names them.
enum class VTEffectsControl {
  none,
  list,         // the effect list
  slider,       // a number's slider
  field,        // the typeable field beside it
  popup,        // an enumeration's pop-up menu
  check,        // a switch
  colourWell,   // a colour: opens the colour picker
  swatch,       // a colour: one of six quick picks
  chooseImage,  // an image: "Choose…" opens the open dialog for images
  clearImage,   // an image: "Default"
  animate,      // switches a parameter between one value and a tween (when the caller allows)
};

struct VTEffectsFocus {
  VTEffectsControl control = VTEffectsControl::none;
  OSType code = 0;  // the parameter (none for the list)
  int which = 0;
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
// Sets a text parameter (a frei0r plugin's string). False for an unknown or non-text parameter.
bool VTAutomationEffectsDialogSetText(OSType code, const std::string& text);
// Posts a click on OK or Cancel through the event queue; the application's event loop then
// hands it to the dialog. False when no dialog is open.
bool VTAutomationEffectsDialogPressOK();
bool VTAutomationEffectsDialogPressCancel();
// Global rectangle of OK (true) or Cancel (false); empty when no dialog is open.
Rect VTAutomationEffectsDialogButtonRect(bool ok);
// Global rectangle of a parameter's control (which: 0 the value or start, 1 the end of a
// tween; swatch: which quick pick). False when the selected effect shows no such control.
bool VTAutomationEffectsDialogControlRect(OSType code, VTEffectsControl control, int which,
                                          Rect* global, int swatch = 0);
// The control with the keyboard focus.
VTEffectsFocus VTAutomationEffectsDialogFocus();
// A number's field text as shown (or as being typed).
std::string VTAutomationEffectsDialogFieldText(OSType code, int which = 0);

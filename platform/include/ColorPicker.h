// The colour picker: a modal dialog with hue, saturation and value, red, green and blue, the
// hex form and six quick picks.
#pragma once
#include "Quickdraw.h"

#ifdef __cplusplus
extern "C" {
#endif

// Asks the user for a colour, starting from *inColor, with `prompt` shown above. `where` is
// the dialog's top-left corner on the screen; (0, 0) or (-1, -1) centres it. True with
// *outColor set when the user clicked OK; false (outColor untouched) after Cancel.
Boolean GetColor(Point where, ConstStr255Param prompt, const RGBColor* inColor, RGBColor* outColor);

#ifdef __cplusplus
}
#endif

// What the QuickDraw call files share: the error QDError reports and the pen's fills.
#pragma once
#include <Quickdraw.h>

#include "ui/window_server.h"

namespace vt::ui {

// Records the code QDError reports (the calls' boundary sink).
void recordQD(OSErr err) noexcept;

// Fills `area` of the port in `color`, or inverts it for the xor modes.
void penFill(VTPort* port, const Region& area, Pixel color, short mode);
// Fills `r` of the current port with its pen's colour and mode.
void paintWithPen(const Region& r);
// A pattern fill: 1 bits in the foreground colour, 0 bits in the background colour.
void patternFill(VTPort* p, const Region& r, const Pattern* pat);

}  // namespace vt::ui

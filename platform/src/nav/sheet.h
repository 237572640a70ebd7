// The question a navigation dialog shows over itself: a message and buttons; nothing else can
// be used until it is answered.
#pragma once
#include <string>
#include <vector>

#include "ui/widgets/controls.h"

namespace vt::nav {

struct Sheet {
  std::string message;
  std::string detail;
  std::vector<ui::Button> buttons;  // laid out right to left from the dialog's right edge
  int cancelIndex = -1;             // Escape answers this one
  bool active = false;

  void layout(int dialogWidth);
  void draw(ui::Painter& p, int dialogWidth) const;
  Rect bounds(int dialogWidth) const;
};

}  // namespace vt::nav

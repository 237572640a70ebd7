#include "nav/sheet.h"

#include <algorithm>

namespace vt::nav {

using ui::makeRect;
namespace colour = ui::colour;

namespace {
constexpr int kSheetWidth = 440;
constexpr int kSheetHeight = 132;
constexpr int kButtonWidth = 96;
constexpr int kButtonHeight = 24;
}  // namespace

Rect Sheet::bounds(int dialogWidth) const {
  int left = std::max(0, (dialogWidth - kSheetWidth) / 2);
  return makeRect(left, 0, left + kSheetWidth, kSheetHeight);
}

void Sheet::layout(int dialogWidth) {
  Rect b = bounds(dialogWidth);
  int right = b.right - 16;
  int top = b.bottom - 16 - kButtonHeight;
  for (auto& button : buttons) {
    button.rect = makeRect(right - kButtonWidth, top, right, top + kButtonHeight);
    right -= kButtonWidth + 12;
  }
}

void Sheet::draw(ui::Painter& p, int dialogWidth) const {
  Rect b = bounds(dialogWidth);
  p.fill(b, colour::sheet);
  p.frame(b, colour::border);
  int y = b.top + 24;
  for (const auto& line : ui::wrapText(p, message, b.right - b.left - 32, 13, true)) {
    p.text(b.left + 16, y, line, 13, colour::black, true);
    y += 18;
  }
  if (!detail.empty()) {
    for (const auto& line : ui::wrapText(p, detail, b.right - b.left - 32, 11, false)) {
      p.text(b.left + 16, y, line, 11, colour::black);
      y += 15;
    }
  }
  for (const auto& button : buttons) button.draw(p, colour::sheet);
}

}  // namespace vt::nav

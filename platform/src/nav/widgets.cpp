#include "nav/widgets.h"

#include <algorithm>

namespace vt::nav {

namespace {
constexpr int kSheetWidth = 440;
constexpr int kSheetHeight = 132;
constexpr int kButtonWidth = 96;
constexpr int kButtonHeight = 24;

bool isContinuation(char c) { return ((unsigned char)c & 0xC0) == 0x80; }
}  // namespace

void drawButton(Painter& p, const Button& b) {
  Rect r = b.rect;
  p.fill(r, colour::white);
  p.frame(r, b.enabled ? colour::border : colour::dim);
  if (b.isDefault && b.enabled) {
    Rect o = makeRect(r.left - 3, r.top - 3, r.right + 3, r.bottom + 3);
    p.frame(o, colour::accent, 2);
  }
  int w = p.textWidth(b.label, 12);
  int x = r.left + (r.right - r.left - w) / 2;
  int baseline = r.top + (r.bottom - r.top) / 2 + 5;
  p.text(x, baseline, b.label, 12, b.enabled ? colour::black : colour::dim);
}

int hitButton(const std::vector<Button>& buttons, int x, int y) {
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i].enabled && inRect(buttons[i].rect, x, y)) return (int)i;
  return -1;
}

void popUtf8(std::string& s) {
  while (!s.empty() && isContinuation(s.back())) s.pop_back();
  if (!s.empty()) s.pop_back();
}

std::vector<std::string> wrapText(Painter& p, const std::string& text, int width, int size,
                                  bool bold) {
  std::vector<std::string> lines;
  std::string line;
  size_t i = 0;
  while (i < text.size()) {
    size_t sp = text.find(' ', i);
    std::string word = text.substr(i, sp == std::string::npos ? std::string::npos : sp - i);
    i = sp == std::string::npos ? text.size() : sp + 1;
    std::string candidate = line.empty() ? word : line + " " + word;
    if (p.textWidth(candidate, size, bold) <= width) {
      line = candidate;
      continue;
    }
    if (!line.empty()) lines.push_back(line);
    line.clear();
    // A word wider than a whole line is cut at character boundaries.
    while (p.textWidth(word, size, bold) > width && word.size() > 1) {
      size_t cut = word.size();
      std::string head = word;
      while (head.size() > 1 && p.textWidth(head, size, bold) > width) {
        popUtf8(head);
        cut = head.size();
      }
      if (cut == 0) break;
      lines.push_back(head);
      word = word.substr(cut);
    }
    line = word;
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

std::string fitText(Painter& p, const std::string& text, int width, int size, bool bold) {
  if (p.textWidth(text, size, bold) <= width) return text;
  std::string s = text;
  while (!s.empty() && p.textWidth(s + "\xE2\x80\xA6", size, bold) > width) popUtf8(s);
  return s + "\xE2\x80\xA6";
}

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

int Sheet::defaultIndex() const {
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i].isDefault && buttons[i].enabled) return (int)i;
  return -1;
}

void Sheet::draw(Painter& p, int dialogWidth) const {
  Rect b = bounds(dialogWidth);
  p.fill(b, colour::sheet);
  p.frame(b, colour::border);
  int y = b.top + 24;
  for (const auto& line : wrapText(p, message, b.right - b.left - 32, 13, true)) {
    p.text(b.left + 16, y, line, 13, colour::black, true);
    y += 18;
  }
  if (!detail.empty()) {
    for (const auto& line : wrapText(p, detail, b.right - b.left - 32, 11, false)) {
      p.text(b.left + 16, y, line, 11, colour::black);
      y += 15;
    }
  }
  for (const auto& button : buttons) drawButton(p, button);
}

}  // namespace vt::nav

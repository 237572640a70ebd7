// Small pieces the navigation dialogs share: push buttons, message sheets, wrapped text and
// the key codes they answer.
#pragma once
#include <string>
#include <vector>

#include "nav/painter.h"

namespace vt::nav {

// Character codes of the keys the dialogs handle (low byte of a key event's message).
namespace key {
constexpr char home = 0x01;
constexpr char enter = 0x03;
constexpr char end = 0x04;
constexpr char backspace = 0x08;
constexpr char tab = 0x09;
constexpr char pageUp = 0x0B;
constexpr char pageDown = 0x0C;
constexpr char ret = 0x0D;
constexpr char escape = 0x1B;
constexpr char left = 0x1C;
constexpr char right = 0x1D;
constexpr char up = 0x1E;
constexpr char down = 0x1F;
constexpr char del = 0x7F;
}  // namespace key

struct Button {
  Rect rect{};
  std::string label;
  bool enabled = true;
  bool isDefault = false;
};

void drawButton(Painter& p, const Button& b);
// Index of the enabled button under (x, y), or -1.
int hitButton(const std::vector<Button>& buttons, int x, int y);

// Splits text into lines no wider than `width` at spaces (a word wider than the line is cut
// between characters, never inside a UTF-8 sequence).
std::vector<std::string> wrapText(Painter& p, const std::string& text, int width, int size,
                                  bool bold);
// Text cut with "…" to fit width.
std::string fitText(Painter& p, const std::string& text, int width, int size, bool bold = false);

// Removes the last UTF-8 character of s.
void popUtf8(std::string& s);

// A question shown over a dialog: a message and buttons; nothing else can be used until it
// is answered.
struct Sheet {
  std::string message;
  std::string detail;
  std::vector<Button> buttons;  // laid out right to left from the dialog's right edge
  int cancelIndex = -1;         // Escape answers this one
  bool active = false;

  void layout(int dialogWidth);
  void draw(Painter& p, int dialogWidth) const;
  Rect bounds(int dialogWidth) const;
  // Index of the default button for Return/Enter, -1 when none.
  int defaultIndex() const;
};

}  // namespace vt::nav

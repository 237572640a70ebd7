// The widget kit's controls: keys as controls read them, buttons (push, check box, radio,
// pop-up), sliders, pop-up menus and the keyboard focus chain. Models and drawing only; the
// tracking of the mouse in a window is in tracking.h.
#pragma once
#include <Events.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/widgets/painter.h"

namespace vt::ui {

// Character codes of the keys controls answer (the low byte of a key event's message).
namespace key {
constexpr char home = kHomeCharCode;
constexpr char enter = kEnterCharCode;
constexpr char end = kEndCharCode;
constexpr char backspace = kBackspaceCharCode;
constexpr char tab = kTabCharCode;
constexpr char pageUp = kPageUpCharCode;
constexpr char pageDown = kPageDownCharCode;
constexpr char ret = kReturnCharCode;
constexpr char escape = kEscapeCharCode;
constexpr char left = kLeftArrowCharCode;
constexpr char right = kRightArrowCharCode;
constexpr char up = kUpArrowCharCode;
constexpr char down = kDownArrowCharCode;
constexpr char del = kDeleteCharCode;
}  // namespace key

// A key press as controls see it.
struct KeyPress {
  char code = 0;      // character code: the key (arrows, Return, Tab...) or its Mac Roman form
  char32_t text = 0;  // the character it types; 0 for keys that type none
  bool command = false;
  bool shift = false;
  bool option = false;
  uint32_t ticks = 0;

  static KeyPress from(const EventRecord& e);
  // A key with this character code (printable codes type their Mac Roman character).
  static KeyPress of(char code, bool command = false, bool shift = false, uint32_t ticks = 0);
  // A key typing one Unicode character.
  static KeyPress typing(char32_t cp, uint32_t ticks = 0);
};

struct Button {
  enum Kind { push, checkBox, radio, popup };
  Kind kind = push;
  Rect rect{};
  std::string label;  // UTF-8; a pop-up shows its chosen item's text here
  bool enabled = true;
  bool isDefault = false;  // push: ringed, and Return presses it
  bool pressed = false;    // shown pressed while the mouse holds it
  int value = 0;           // check box and radio: 1 when on

  static Button pushButton(std::string label, bool isDefault = false, Rect rect = {}) {
    Button b;
    b.label = std::move(label);
    b.isDefault = isDefault;
    b.rect = rect;
    return b;
  }
  // background: what lies around the button (the default ring's surroundings).
  void draw(Painter& p, Pixel background = colour::background) const;
};
// Index of the enabled button under (x, y), or -1.
int hitButton(const std::vector<Button>& buttons, int x, int y);
// Index of the enabled default button, or -1.
int defaultButton(const std::vector<Button>& buttons);

// A horizontal slider showing its value as a filled bar with a label on it.
struct Slider {
  Rect rect{};
  double min = 0;
  double max = 1;
  double value = 0;
  std::string label;  // UTF-8, drawn over the bar
  bool enabled = true;

  void draw(Painter& p) const;
  // The value under a horizontal position, clamped to the range.
  double valueAt(int x) const;
};

// The list a pop-up button (or path menu) opens: its items hang below the anchor, in columns
// of rowsPerColumn items when a long list would not fit the screen.
struct PopupMenu {
  Rect anchor{};
  std::vector<std::string> items;  // UTF-8
  int current = 0;                 // highlighted item
  int rowHeight = 20;
  int rowsPerColumn = 0;  // 0: one column
  int columnWidth = 0;    // 0: the anchor's width

  int columns() const;
  int rows() const;  // in the longest column

  Rect itemRect(int index) const;
  int itemAt(int x, int y) const;  // -1 outside the items
  void draw(Painter& p) const;
};

// The order in which Tab and Shift+Tab move the keyboard focus among a window's controls.
class FocusChain {
 public:
  // The focusable controls in Tab order; the focus stays where it was when that control is
  // still in the order, else it goes to the first (or nowhere for an empty order).
  void setOrder(std::vector<int> ids);
  const std::vector<int>& order() const { return order_; }
  int focused() const { return focused_; }  // -1: none
  bool focus(int id);                       // false when the control is not in the chain
  // Tab (or Shift+Tab: backwards) moves to the next control, wrapping; the new focus.
  int advance(bool backwards);

 private:
  std::vector<int> order_;
  int focused_ = -1;
};

}  // namespace vt::ui

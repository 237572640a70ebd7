// The platform's colour picker, apart from its window: a hue strip and a saturation/value
// square, fields for red, green, blue (0-255), hue (degrees), saturation and value (percent)
// and the hex form, six quick picks, OK and Cancel. Local coordinates throughout.
#pragma once
#include <Quickdraw.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "ui/widgets/controls.h"
#include "ui/widgets/text_field.h"

namespace vt::ui {

// Six colours every colour control offers as quick picks (16-bit components).
const std::array<RGBColor, 6>& colourQuickPicks();

class ColourPicker {
 public:
  static constexpr int kWidth = 440;
  static constexpr int kHeight = 250;
  enum Field { red, green, blue, hue, saturation, value, hex, kFieldCount };
  enum class State { running, accepted, cancelled };

  ColourPicker(std::string prompt, RGBColor initial);

  RGBColor colour() const { return rgb_; }
  const RGBColor& original() const { return original_; }
  void setColour(RGBColor c);
  // Hue in degrees, saturation and value 0..1.
  void setHSV(double h, double s, double v);
  std::string hexText() const;
  State state() const { return state_; }
  int takeBeeps();

  // Input; each answers true when the picker needs redrawing.
  bool click(int x, int y, uint32_t ticks, bool shift);
  bool dragging() const { return drag_ != Drag::none; }
  bool drag(int x, int y);
  void endDrag() { drag_ = Drag::none; }
  bool key(const KeyPress& k);
  void draw(Painter& p);

  // What and where things are, for the window and automation.
  const std::string& prompt() const { return prompt_; }
  Rect squareRect() const;
  Rect hueRect() const;
  Rect swatchRect(int k) const;
  Rect fieldRect(int f) const;
  static const char* fieldLabel(int f);
  const std::vector<Button>& buttons() const { return buttons_; }  // Cancel, OK
  int focusedField() const { return focus_.focused(); }
  TextField& field(int f) { return fields_[(size_t)f]; }
  // Ends the picker as its buttons would.
  bool accept();
  void cancel() { state_ = State::cancelled; }

 private:
  enum class Drag { none, square, hue };
  void syncFields(int except = -1);
  // Takes a field's text; false (beep, text restored) when it is not a valid entry.
  bool commit(int f);
  bool focusField(int f);
  void pickSquare(int x, int y);
  void pickHue(int y);

  std::string prompt_;
  RGBColor original_;
  RGBColor rgb_;
  double h_ = 0, s_ = 0, v_ = 0;  // kept apart so hue survives grey and black
  std::array<TextField, kFieldCount> fields_;
  FocusChain focus_;
  std::vector<Button> buttons_;
  Drag drag_ = Drag::none;
  State state_ = State::running;
  int beeps_ = 0;
};

}  // namespace vt::ui

// The standard effects parameter dialog's state, apart from its window: the effects offered,
// the chosen one, its parameter values (with tweens) and the effect description OK writes.
#pragma once
#include <Movies.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/image.h"
#include "effects/catalogue.h"
#include "effects/easing.h"

namespace vt::paramdialog {

struct EffectEntry {
  OSType code = 0;
  std::string name;                               // UTF-8, as listed
  const vt::effects::EffectInfo* info = nullptr;  // null for "None" or unknown codes
};

struct ParamState {
  const vt::effects::ParamDesc* desc = nullptr;
  bool tweened = false;
  std::array<double, 3> start{};
  std::array<double, 3> end{};  // used when tweened
  // Image parameters: the chosen picture as the description stores it (empty: the effect's
  // default) and the name of the file it came from.
  std::vector<uint8_t> image;
  std::string imageName;
  std::string text;  // Text parameters (UTF-8)
};

// What the caller asked of the dialog.
struct DialogOptions {
  bool oneValue = false;        // no tweens: every parameter takes one value
  bool optionalTweens = false;  // parameters that may be tweened can be switched by the user
};

// Parses an effects list container ('name' + 'type' per ID). Empty when it holds none.
std::vector<EffectEntry> parseEffectsList(QTAtomContainer list);

// A value as the dialog shows it, with its unit ("25.0 %", an enumeration's name...).
std::string formatValue(const vt::effects::ParamDesc& d, const std::array<double, 3>& v);
// The unit numbers of a parameter are shown in ("%", "°", "px" or "").
std::string unitOf(const vt::effects::ParamDesc& d);
// A number as its field shows it, without the unit ("25", "0.25", "-1").
std::string formatNumber(const vt::effects::ParamDesc& d, double v);
// Decimals a parameter's slider sets: none for whole numbers, pixels, degrees and percentages,
// otherwise as many as its range needs for about a hundred steps ("0.25" of 0..1, "2.5" of 0..8).
int decimalsOf(const vt::effects::ParamDesc& d);
// A value from dragging the slider, rounded to those decimals and kept in range.
double sliderValue(const vt::effects::ParamDesc& d, double v);
// Typed text in the parameter's units (the unit may follow the number): the value, or nothing
// when the text is not a number, lies outside the parameter's range, or is not whole where
// the parameter takes whole numbers.
std::optional<double> parseNumber(const vt::effects::ParamDesc& d, std::string_view text);
// An image as an Image parameter's data, scaled down to at most kMaxImageSide on its longer
// side (an effect description is not the place for a full-size photograph).
constexpr int kMaxImageSide = 512;
std::vector<uint8_t> encodeImage(const Image& img);

class ParamModel {
 public:
  explicit ParamModel(std::vector<EffectEntry> effects, DialogOptions options = {});

  const std::vector<EffectEntry>& effects() const { return effects_; }
  int selected() const { return selected_; }
  // Chooses an effect; its parameters start from their defaults, or from the settings made
  // for it earlier while the dialog is open. False for a bad index.
  bool select(int index);
  const std::vector<ParamState>& params() const { return params_; }

  // The value of parameter `param` (which: 0 the value or start, 1 the end of a tween).
  const std::array<double, 3>& value(int param, int which) const;
  // Sets it, clamped to the parameter's range (enumerations snap to a listed value).
  void setValue(int param, int which, std::array<double, 3> v);
  // The same by parameter code; false for an unknown code or the end of a plain parameter.
  bool setParam(OSType code, int which, double value);
  bool setParam(OSType code, int which, const std::array<double, 3>& value);
  // An enumeration's next (or previous) listed value, wrapping; a switch turned over.
  void stepEnum(int param, int which, bool backwards);
  void toggle(int param, int which);
  // Moves a number by `steps` arrow steps (1, or a hundredth of a range narrower than 20),
  // clamped to the range; an enumeration by as many listed values.
  void nudge(int param, int which, int steps);
  // Whether the user may switch this parameter between one value and a tween.
  bool canSwitchTween(int param) const;
  // Switches it (a new tween starts and ends at the current value). False when not allowed.
  bool setTweened(int param, bool on);
  // An Image parameter's picture; an empty image goes back to the effect's default.
  bool setImage(int param, const Image& img, std::string name);
  // A Text parameter's value; false for other parameters.
  bool setText(int param, std::string text);
  bool setText(OSType code, std::string text);

  // The progress curve chosen for an effect with a percentage; nothing for other effects.
  std::optional<vt::effects::Easing> easing() const;

  // The current choice as a complete effect description (with source names when asked), or
  // null when memory runs out.
  QTAtomContainer buildDescription(bool withSources) const;
  // Writes 'what' and the parameters into target, replacing an earlier choice but keeping the
  // source names the caller put there.
  OSErr writeInto(QTAtomContainer target) const;

 private:
  std::vector<EffectEntry> effects_;
  DialogOptions options_;
  int selected_ = -1;
  std::vector<ParamState> params_;
  std::map<int, std::vector<ParamState>> kept_;  // settings of effects chosen before
};

}  // namespace vt::paramdialog

// The standard effects parameter dialog's state, apart from its window: the effects offered,
// the chosen one, its parameter values (with tweens) and the effect description OK writes.
#pragma once
#include <Movies.h>

#include <array>
#include <string>
#include <vector>

#include "effects/catalogue.h"

namespace vt::paramdialog {

struct EffectEntry {
  OSType code = 0;
  std::string name;                               // Mac Roman, as listed
  const vt::effects::EffectInfo* info = nullptr;  // null for "None" or unknown codes
};

struct ParamState {
  const vt::effects::ParamDesc* desc = nullptr;
  bool tweened = false;
  std::array<double, 3> start{};
  std::array<double, 3> end{};  // used when tweened
};

// Parses an effects list container ('name' + 'type' per ID). Empty when it holds none.
std::vector<EffectEntry> parseEffectsList(QTAtomContainer list);

// Preset colours offered as swatches (RGB 0..65535).
const std::vector<std::array<double, 3>>& colourPresets();

// A value as the dialog shows it, with its unit ("25.0 %", an enumeration's name...).
std::string formatValue(const vt::effects::ParamDesc& d, const std::array<double, 3>& v);

class ParamModel {
 public:
  explicit ParamModel(std::vector<EffectEntry> effects);

  const std::vector<EffectEntry>& effects() const { return effects_; }
  int selected() const { return selected_; }
  // Chooses an effect; its parameters start from their defaults. False for a bad index.
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

  // The current choice as a complete effect description (with source names when asked), or
  // null when memory runs out.
  QTAtomContainer buildDescription(bool withSources) const;
  // Writes 'what' and the parameters into target, replacing an earlier choice but keeping the
  // source names the caller put there.
  OSErr writeInto(QTAtomContainer target) const;

 private:
  std::vector<EffectEntry> effects_;
  int selected_ = -1;
  std::vector<ParamState> params_;
};

}  // namespace vt::paramdialog

// The standard effects parameter dialog: a modeless window listing effects, the selected
// effect's parameter controls, an animated preview and OK / Cancel.
#pragma once
#include <Events.h>
#include <MacWindows.h>
#include <Movies.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/image.h"
#include "effects/catalogue.h"

namespace vt::paramdialog {

struct EffectEntry {
  OSType code = 0;
  std::string name;                           // Mac Roman, as listed
  const vt::effects::EffectInfo* info = nullptr;  // null for "None" or unknown codes
};

struct ParamState {
  const vt::effects::ParamDesc* desc = nullptr;
  bool tweened = false;
  std::array<double, 3> start{};
  std::array<double, 3> end{};  // used when tweened
};

// A clickable area of the window (local coordinates).
struct Hot {
  enum Kind { ListRow, Slider, EnumCycle, Check, Swatch, OK, Cancel } kind;
  Rect r;
  int index = 0;  // effect row or parameter index
  int which = 0;  // 0 start / plain value, 1 end value
  int extra = 0;  // swatch preset
};

// The answers of event handling (the toolbox codes).
enum class Answer { NotMine, Handled, Confirm, Cancel };

class Dialog {
 public:
  // effects: the parsed effects list; target: the container confirm writes into.
  Dialog(std::vector<EffectEntry> effects, QTAtomContainer target);
  ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  bool open();  // makes the window; false when it cannot be made
  WindowRef window() const { return window_; }

  const std::vector<EffectEntry>& effects() const { return effects_; }
  int selected() const { return selected_; }
  void select(int index);
  std::vector<ParamState>& params() { return params_; }
  // Sets a parameter value (clamped to its range); false for an unknown code or a missing end.
  bool setParam(OSType code, int which, double value);

  void setPreview(int sourceID, const Image& img);
  bool hasPreview(int sourceID) const;

  // Writes 'what' and the parameters into the target container.
  OSErr confirm();
  // The current choice as a complete effect description (with source names), for the preview.
  QTAtomContainer buildDescription(bool withSources) const;

  Answer handleEvent(const EventRecord& e);
  void redraw();  // draws the whole content now
  std::vector<Hot> layout() const;
  Rect buttonRect(bool ok) const;  // global
  const Image& previewImage() const { return preview_; }

 private:
  void draw();
  void renderPreview();
  Answer click(Point local, bool shift);
  bool trackButton(const Rect& r);
  void applyHot(const Hot& h, Point local, bool backwards = false);

  std::vector<EffectEntry> effects_;
  QTAtomContainer target_;
  WindowRef window_ = nullptr;
  int selected_ = -1;
  int listScroll_ = 0;
  std::vector<ParamState> params_;
  Image srcA_, srcB_;
  bool hasA_ = false, hasB_ = false;
  Image preview_;
  uint32_t animStart_ = 0;
  uint32_t lastFrameTick_ = 0;
};

// Parses an effects list container ('name' + 'type' per ID). Empty when it holds none.
std::vector<EffectEntry> parseEffectsList(QTAtomContainer list);

// Registry of live dialogs, by the handle value the toolbox hands out.
long registerDialog(std::unique_ptr<Dialog> d);
Dialog* findDialog(long id);
bool removeDialog(long id);
Dialog* newestDialog();

// Preset colours offered as swatches (RGB 0..65535).
const std::vector<std::array<double, 3>>& colourPresets();

}  // namespace vt::paramdialog

// The standard effects parameter dialog's window: a modeless window listing the effects, the
// chosen effect's parameter controls, an animated preview and OK / Cancel, over a ParamModel.
#pragma once
#include <Events.h>
#include <MacWindows.h>
#include <Movies.h>

#include <memory>
#include <vector>

#include "core/image.h"
#include "paramdialog/param_model.h"

namespace vt::paramdialog {

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
  const ParamModel& model() const { return model_; }

  // As the user's choices would, with the window redrawn.
  void select(int index);
  bool setParam(OSType code, int which, double value);
  bool setParam(OSType code, int which, const std::array<double, 3>& value);

  void setPreview(int sourceID, const Image& img);
  bool hasPreview(int sourceID) const;

  // Writes the choice into the target container.
  OSErr confirm() { return model_.writeInto(target_); }

  Answer handleEvent(const EventRecord& e);
  void redraw();  // draws the whole content now
  std::vector<Hot> layout() const;
  Rect buttonRect(bool ok) const;  // global
  const Image& previewImage() const { return preview_; }

 private:
  void draw();
  void changed();  // a value changed: new preview, redrawn
  void renderPreview();
  Answer click(Point local, bool shift);
  void slide(const Hot& hot, Point local);

  ParamModel model_;
  QTAtomContainer target_;
  WindowRef window_ = nullptr;
  int listScroll_ = 0;
  int pressedButton_ = -1;  // Hot::OK or Hot::Cancel while tracked
  Image srcA_, srcB_;
  bool hasA_ = false, hasB_ = false;
  Image preview_;
  uint32_t animStart_ = 0;
  uint32_t lastFrameTick_ = 0;
};

// Registry of live dialogs, by the handle value the toolbox hands out.
long registerDialog(std::unique_ptr<Dialog> d);
Dialog* findDialog(long id);
bool removeDialog(long id);
Dialog* newestDialog();

}  // namespace vt::paramdialog

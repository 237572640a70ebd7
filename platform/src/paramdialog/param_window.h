// The standard effects parameter dialog's window: a modeless (or, when asked, modal) window
// listing the effects, the chosen effect's parameter controls, an animated preview and OK /
// Cancel, over a ParamModel.
#pragma once
#include <Events.h>
#include <MacWindows.h>
#include <Movies.h>

#include <map>
#include <memory>
#include <vector>

#include "core/image.h"
#include "paramdialog/param_model.h"
#include "ui/widgets/controls.h"
#include "ui/widgets/text_field.h"

namespace vt::paramdialog {

// A control of the window (local coordinates).
struct Hot {
  enum Kind {
    ListRow,      // a row of the effect list
    Slider,       // a number's slider
    Field,        // a number's field beside its slider
    Popup,        // an enumeration's pop-up menu
    Check,        // a switch
    Well,         // a colour: opens the colour picker
    Swatch,       // a colour: one of the quick picks beside the well
    ImageChoose,  // an image: opens the open dialog for images
    ImageClear,   // an image: back to the effect's default
    TweenToggle,  // "Animate": switches a parameter between one value and a tween
    OK,
    Cancel
  } kind;
  Rect r;
  int index = 0;  // effect row or parameter index
  int which = 0;  // 0 start / plain value, 1 end value
  int extra = 0;  // swatch number
};

// A control's identity in the focus chain, which knows controls by an int: its kind, its row or
// parameter and which value. Only what `encode` made is ever decoded.
struct ControlID {
  Hot::Kind kind = Hot::ListRow;
  int index = 0;  // up to kMaxIndex
  int which = 0;  // 0 or 1

  static constexpr int kMaxIndex = (1 << 19) - 1;
  static ControlID of(const Hot& hot) { return {hot.kind, hot.index, hot.which}; }
  int encode() const { return ((int)kind + 1) << 20 | (index & kMaxIndex) << 1 | (which & 1); }
  static ControlID decode(int id) {
    return {(Hot::Kind)((id >> 20) - 1), (id >> 1) & kMaxIndex, id & 1};
  }
  auto operator<=>(const ControlID&) const = default;
};

// The answers of event handling (the toolbox codes).
enum class Answer { NotMine, Handled, Confirm, Cancel };

class Dialog {
 public:
  // effects: the parsed effects list; target: the container confirm writes into.
  Dialog(std::vector<EffectEntry> effects, QTAtomContainer target, DialogOptions options = {},
         bool modal = false);
  ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  bool open();  // makes the window; false when it cannot be made
  WindowRef window() const { return window_; }
  const ParamModel& model() const { return model_; }
  bool modal() const { return modal_; }

  // As the user's choices would, with the window redrawn.
  void select(int index);
  bool setParam(OSType code, int which, double value);
  bool setParam(OSType code, int which, const std::array<double, 3>& value);
  bool setText(OSType code, const std::string& text);

  void setPreview(int sourceID, const Image& img);
  bool hasPreview(int sourceID) const;

  // Writes the choice into the target container.
  OSErr confirm() { return model_.writeInto(target_); }

  Answer handleEvent(const EventRecord& e);
  void redraw();  // draws the whole content now
  // The controls as shown: parameter rows scrolled out of the panel are left out.
  std::vector<Hot> layout() const;
  // The first parameter row shown, and the panel's scroll bar (empty when every row fits).
  int paramScroll() const { return paramScroll_; }
  Rect scrollBarRect() const;
  Rect thumbRect() const;
  Rect buttonRect(bool ok) const;  // global
  const Image& previewImage() const { return preview_; }
  // The control with the keyboard focus (kind ListRow for the effect list); false for none.
  bool focused(Hot& out) const;
  // The text of a number's field as shown (or being typed).
  std::string fieldText(int param, int which);
  // The focused number field and its box, for automation's view of text fields.
  ui::TextField* focusedField(Rect* box);

 private:
  int height() const;
  int paramRows() const;  // parameter rows the panel shows at once
  bool overflows() const { return (int)model_.params().size() > paramRows(); }
  std::vector<Hot> allControls() const;  // every control, hidden rows included
  void scrollTo(int row);
  void revealFocus();  // scrolls the focused parameter's row into the panel
  Answer clickScrollBar(Point local);
  void draw();
  void drawControl(vt::ui::Painter& p, const Hot& hot, const Hot* focus);
  void drawCurve(vt::ui::Painter& p, const vt::effects::Easing& easing) const;
  void changed();  // a value changed: fields follow, new preview, redrawn
  void renderPreview();
  void syncFields();
  void updateFocusOrder();
  ui::TextField& fieldFor(int param, int which);
  // Takes the focused field's typed text into the model; false (beep, text restored) when it
  // is no valid value.
  bool commitField();
  void setFocus(ControlID id);
  Answer click(Point local, const EventRecord& e);
  Answer key(const EventRecord& e);
  void slide(const Hot& hot, Point local);
  void popup(const Hot& hot, bool mouseHeld);
  void pickColour(const Hot& hot);
  void chooseImage(int param);

  ParamModel model_;
  QTAtomContainer target_;
  bool modal_ = false;
  WindowRef window_ = nullptr;
  int listScroll_ = 0;
  int paramScroll_ = 0;      // first parameter row shown
  int maxHeight_ = 1 << 20;  // the screen's room for the window
  int pressedButton_ = -1;   // Hot::OK or Hot::Cancel while tracked
  ui::FocusChain focus_;
  std::map<ControlID, ui::TextField> fields_;  // by field
  bool fieldEdited_ = false;                   // the focused field holds typed text not yet taken
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

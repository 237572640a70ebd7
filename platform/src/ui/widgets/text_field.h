// The one-line text field every dialog uses: UTF-8 text, a caret and a selection moved by keys
// and the mouse, cut/copy/paste with the system clipboard, a limit on the text's size and a
// filter on the characters it takes.
//
// Positions are byte offsets into the UTF-8 text, always on character boundaries; the caret
// moves by whole code points. x positions are relative to the box the field is drawn in.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "ui/widgets/controls.h"
#include "ui/widgets/painter.h"

namespace vt::ui {

class TextField {
 public:
  // What became of a key.
  enum class Result {
    ignored,  // not the field's (Return, Escape, Tab, other command keys...)
    handled,
    refused,  // the field's, but not allowed (too long, a character it does not take): beep
  };
  using Measure = std::function<int(std::string_view utf8)>;

  static constexpr int kPadding = 4;  // between the box's edge and the text

  TextField();

  const std::string& text() const { return text_; }
  // Replaces the text (malformed UTF-8 is dropped, the limit applied); the caret goes to the end.
  void setText(std::string_view utf8);

  // Limits: bytes of UTF-8, and characters (code points); 0 for none.
  void setMaxBytes(size_t n) { maxBytes_ = n; }
  void setMaxChars(size_t n) { maxChars_ = n; }
  // Which characters the field takes (control characters never).
  void setFilter(std::function<bool(char32_t)> accepts) { accepts_ = std::move(accepts); }
  // How text is measured (default: the platform's control font).
  void setMeasure(Measure m) { measure_ = std::move(m); }

  size_t caret() const { return caret_; }
  size_t anchor() const { return anchor_; }
  size_t selectionStart() const { return std::min(caret_, anchor_); }
  size_t selectionEnd() const { return std::max(caret_, anchor_); }
  bool hasSelection() const { return caret_ != anchor_; }
  bool allSelected() const {
    return !text_.empty() && selectionStart() == 0 && selectionEnd() == text_.size();
  }
  std::string selectedText() const;
  // Selects [from, to) (the caret at `to`), both moved back onto character boundaries.
  void select(size_t from, size_t to);
  void selectAll() { select(0, text_.size()); }

  Result key(const KeyPress& k);
  // Types text over the selection: characters the filter refuses are left out and text beyond
  // the limit is cut at a character boundary; refused when anything was left out.
  Result insert(std::string_view utf8);

  // The mouse: a press places the caret (Shift extends the selection; a second press at the
  // same place within the double-click time selects a word, a third the whole text); dragging
  // extends the selection, by words after a double click.
  void press(int x, uint32_t ticks, bool shift);
  void dragTo(int x);

  // Draws the field in box (white, framed; a focus ring, the selection and the caret when
  // focused) scrolled so the caret shows.
  void draw(Painter& p, const Rect& box, bool focused, bool enabled = true);
  // The x (relative to the box) of the caret position `offset`, given the current scrolling.
  int xOf(size_t offset) const;
  // The caret position nearest to x.
  size_t offsetAt(int x) const;

 private:
  int width(std::string_view s) const { return measure_ ? measure_(s) : 0; }
  void replaceSelection(const std::string& with);
  void moveTo(size_t offset, bool extend);
  void keepCaretVisible();
  size_t wordStart(size_t at) const;
  size_t wordEnd(size_t at) const;
  size_t wordLeft(size_t at) const;   // Ctrl+Left: the start of this or the previous word
  size_t wordRight(size_t at) const;  // Ctrl+Right: the end of this or the next word
  bool fits(size_t bytes, size_t chars) const;

  std::string text_;
  size_t caret_ = 0;
  size_t anchor_ = 0;
  size_t maxBytes_ = 0;
  size_t maxChars_ = 0;
  std::function<bool(char32_t)> accepts_;
  Measure measure_;
  int scroll_ = 0;      // pixels of text scrolled off to the left
  int innerWidth_ = 0;  // the text area of the last box drawn in
  // Clicks: their count at one place, for double (word) and triple (all) clicks.
  uint32_t lastPressTicks_ = 0;
  size_t lastPressOffset_ = 0;
  int pressCount_ = 0;
  size_t wordAnchorStart_ = 0;
  size_t wordAnchorEnd_ = 0;
};

}  // namespace vt::ui

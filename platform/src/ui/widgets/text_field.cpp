#include "ui/widgets/text_field.h"

#include <algorithm>
#include <vector>

#include "core/macroman.h"
#include "events/event_queue.h"
#include "ui/text.h"

namespace vt::ui {

namespace {

bool isControl(uint32_t cp) { return cp < 0x20 || cp == 0x7F; }

// Words for double clicks and Ctrl+arrows: runs of letters and digits (any non-ASCII character
// counts as a letter), runs of spaces, and single punctuation marks.
enum class CharClass { space, word, mark };
CharClass classOf(uint32_t cp) {
  if (cp == ' ') return CharClass::space;
  bool letter = (cp | 0x20) >= 'a' && (cp | 0x20) <= 'z';
  if (cp >= 0x80 || cp == '_' || (cp >= '0' && cp <= '9') || letter) return CharClass::word;
  return CharClass::mark;
}

uint32_t codePointAt(std::string_view s, size_t i) {
  uint32_t cp = 0;
  return i < s.size() && decodeUtf8(s, i, cp) ? cp : 0;
}

size_t countChars(std::string_view s) {
  size_t n = 0;
  for (char c : s)
    if (((unsigned char)c & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

TextField::TextField()
    : measure_([](std::string_view s) { return measureText(s, kControlTextSize, false); }) {}

void TextField::setText(std::string_view utf8) {
  text_.clear();
  size_t chars = 0;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    size_t len = decodeUtf8(utf8, i, cp);
    if (!len) {
      ++i;  // malformed bytes are dropped
      continue;
    }
    if (!fits(text_.size() + len, chars + 1)) break;
    text_.append(utf8.substr(i, len));
    ++chars;
    i += len;
  }
  caret_ = anchor_ = text_.size();
  scroll_ = 0;
  pressCount_ = 0;
}

bool TextField::fits(size_t bytes, size_t chars) const {
  return (maxBytes_ == 0 || bytes <= maxBytes_) && (maxChars_ == 0 || chars <= maxChars_);
}

std::string TextField::selectedText() const {
  return text_.substr(selectionStart(), selectionEnd() - selectionStart());
}

void TextField::select(size_t from, size_t to) {
  auto snap = [&](size_t i) {
    i = std::min(i, text_.size());
    while (i > 0 && i < text_.size() && ((unsigned char)text_[i] & 0xC0) == 0x80) --i;
    return i;
  };
  anchor_ = snap(from);
  caret_ = snap(to);
}

void TextField::replaceSelection(const std::string& with) {
  size_t start = selectionStart();
  text_.replace(start, selectionEnd() - start, with);
  caret_ = anchor_ = start + with.size();
}

void TextField::moveTo(size_t offset, bool extend) {
  caret_ = offset;
  if (!extend) anchor_ = offset;
}

TextField::Result TextField::insert(std::string_view utf8) {
  std::string rest = text_.substr(0, selectionStart()) + text_.substr(selectionEnd());
  size_t bytes = rest.size(), chars = countChars(rest);
  std::string taken;
  bool leftOut = false;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    size_t len = decodeUtf8(utf8, i, cp);
    if (!len) {
      ++i;
      leftOut = true;
      continue;
    }
    i += len;
    // Pasted lines and tabs become spaces; the field holds one line.
    if (cp == '\r' || cp == '\n' || cp == '\t') cp = ' ';
    if (isControl(cp) || (accepts_ && !accepts_(cp))) {
      leftOut = true;
      continue;
    }
    std::string one;
    appendUtf8(one, cp);
    if (!fits(bytes + taken.size() + one.size(), chars + 1)) {
      leftOut = true;
      break;
    }
    taken += one;
    ++chars;
  }
  if (!taken.empty()) replaceSelection(taken);
  return leftOut ? Result::refused : Result::handled;
}

size_t TextField::wordStart(size_t at) const {
  if (text_.empty()) return 0;
  if (at >= text_.size()) at = prevCharBoundary(text_, text_.size());
  CharClass c = classOf(codePointAt(text_, at));
  if (c == CharClass::mark) return at;
  while (at > 0) {
    size_t prev = prevCharBoundary(text_, at);
    if (classOf(codePointAt(text_, prev)) != c) break;
    at = prev;
  }
  return at;
}

size_t TextField::wordEnd(size_t at) const {
  if (text_.empty()) return 0;
  if (at >= text_.size()) at = prevCharBoundary(text_, text_.size());
  CharClass c = classOf(codePointAt(text_, at));
  at = nextCharBoundary(text_, at);
  if (c == CharClass::mark) return at;
  while (at < text_.size() && classOf(codePointAt(text_, at)) == c)
    at = nextCharBoundary(text_, at);
  return at;
}

size_t TextField::wordLeft(size_t at) const {
  while (at > 0 && classOf(codePointAt(text_, prevCharBoundary(text_, at))) == CharClass::space)
    at = prevCharBoundary(text_, at);
  return at == 0 ? 0 : wordStart(prevCharBoundary(text_, at));
}

size_t TextField::wordRight(size_t at) const {
  while (at < text_.size() && classOf(codePointAt(text_, at)) == CharClass::space)
    at = nextCharBoundary(text_, at);
  return at < text_.size() ? wordEnd(at) : text_.size();
}

TextField::Result TextField::key(const KeyPress& k) {
  if (k.command) {
    switch (k.code | 0x20) {  // either case
      case 'a': selectAll(); return Result::handled;
      case 'c':
        if (hasSelection()) events::setClipboardText(selectedText());
        return Result::handled;
      case 'x':
        if (hasSelection()) {
          events::setClipboardText(selectedText());
          replaceSelection({});
        }
        return Result::handled;
      case 'v': return insert(events::clipboardText());
      default: break;
    }
  }
  bool byWord = k.command || k.option;
  switch (k.code) {
    case key::left:
      moveTo(byWord                       ? wordLeft(caret_)
             : hasSelection() && !k.shift ? selectionStart()
                                          : prevCharBoundary(text_, caret_),
             k.shift);
      return Result::handled;
    case key::right:
      moveTo(byWord                       ? wordRight(caret_)
             : hasSelection() && !k.shift ? selectionEnd()
                                          : nextCharBoundary(text_, caret_),
             k.shift);
      return Result::handled;
    case key::home:
    case key::up: moveTo(0, k.shift); return Result::handled;
    case key::end:
    case key::down: moveTo(text_.size(), k.shift); return Result::handled;
    case key::backspace:
      if (!hasSelection()) anchor_ = prevCharBoundary(text_, caret_);
      replaceSelection({});
      return Result::handled;
    case key::del:
      if (!hasSelection()) anchor_ = nextCharBoundary(text_, caret_);
      replaceSelection({});
      return Result::handled;
    default: break;
  }
  if (k.command || !k.text) return Result::ignored;  // Return, Tab, Escape, menu keys...
  std::string typed;
  appendUtf8(typed, k.text);
  return insert(typed);
}

void TextField::press(int x, uint32_t ticks, bool shift) {
  size_t at = offsetAt(x);
  if (shift) {
    caret_ = at;
    pressCount_ = 1;
    return;
  }
  bool again = pressCount_ > 0 && ticks - lastPressTicks_ <= GetDblTime() && at == lastPressOffset_;
  pressCount_ = again ? pressCount_ + 1 : 1;
  lastPressTicks_ = ticks;
  lastPressOffset_ = at;
  if (pressCount_ == 1) {
    caret_ = anchor_ = at;
  } else if (pressCount_ == 2) {
    wordAnchorStart_ = wordStart(at);
    wordAnchorEnd_ = wordEnd(at);
    select(wordAnchorStart_, wordAnchorEnd_);
  } else {
    selectAll();
  }
}

void TextField::dragTo(int x) {
  size_t at = offsetAt(x);
  if (pressCount_ >= 3) return;
  if (pressCount_ < 2) {
    caret_ = at;
  } else if (at < wordAnchorStart_) {
    select(wordAnchorEnd_, wordStart(at));
  } else if (at > wordAnchorEnd_) {
    select(wordAnchorStart_, wordEnd(prevCharBoundary(text_, at)));
  } else {
    select(wordAnchorStart_, wordAnchorEnd_);
  }
}

int TextField::xOf(size_t offset) const {
  offset = std::min(offset, text_.size());
  return kPadding + width(std::string_view(text_).substr(0, offset)) - scroll_;
}

size_t TextField::offsetAt(int x) const {
  // The boundary nearest to x: widths are summed character by character.
  int target = x - kPadding + scroll_;
  size_t best = 0;
  int left = 0;
  for (size_t i = 0; i < text_.size();) {
    size_t next = nextCharBoundary(text_, i);
    int w = width(std::string_view(text_).substr(i, next - i));
    if (2 * target < 2 * left + w) return i;
    left += w;
    best = next;
    i = next;
  }
  return best;
}

void TextField::keepCaretVisible() {
  if (innerWidth_ <= 0) return;
  int total = width(text_);
  int caretPx = width(std::string_view(text_).substr(0, caret_));
  if (caretPx - scroll_ > innerWidth_ - 1) scroll_ = caretPx - innerWidth_ + 1;
  if (caretPx < scroll_) scroll_ = caretPx;
  scroll_ = std::clamp(scroll_, 0, std::max(0, total - innerWidth_ + 1));
}

void TextField::draw(Painter& p, const Rect& box, bool focused, bool enabled) {
  innerWidth_ = box.right - box.left - 2 * kPadding;
  keepCaretVisible();
  p.fill(box, colour::white);
  if (focused)
    p.frame(box, colour::accent, 2);
  else
    p.frame(box, enabled ? colour::border : colour::dim);
  Rect inner = outset(box, -2);
  p.clip(&inner);
  if (hasSelection()) {
    Rect sel = makeRect(box.left + xOf(selectionStart()), box.top + 3,
                        box.left + xOf(selectionEnd()), box.bottom - 3);
    p.fill(sel, focused ? colour::textSelection : colour::inactiveSelection);
  }
  p.text(box.left + kPadding - scroll_, p.centredBaseline(box, kControlTextSize), text_,
         kControlTextSize, enabled ? colour::black : colour::dim);
  if (focused && !hasSelection()) {
    int x = box.left + xOf(caret_);
    p.fill(makeRect(x, box.top + 4, x + 1, box.bottom - 4), colour::black);
  }
  p.clip(nullptr);
}

}  // namespace vt::ui

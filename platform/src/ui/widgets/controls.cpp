#include "ui/widgets/controls.h"

#include <algorithm>
#include <cmath>

#include "events/event_queue.h"

namespace vt::ui {

KeyPress KeyPress::from(const EventRecord& e) {
  KeyPress k;
  k.code = (char)(e.message & charCodeMask);
  k.text = events::typedCodePoint(e);
  k.command = (e.modifiers & cmdKey) != 0;
  k.shift = (e.modifiers & shiftKey) != 0;
  k.option = (e.modifiers & optionKey) != 0;
  k.ticks = e.when;
  return k;
}

KeyPress KeyPress::of(char code, bool command, bool shift, uint32_t ticks) {
  EventRecord e{};
  e.what = keyDown;
  e.message = (unsigned char)code;
  e.modifiers = (EventModifiers)((command ? cmdKey : 0) | (shift ? shiftKey : 0));
  e.when = ticks;
  return from(e);
}

KeyPress KeyPress::typing(char32_t cp, uint32_t ticks) {
  EventRecord e{};
  e.what = keyDown;
  e.message = events::keyMessage(cp, 0);
  e.when = ticks;
  return from(e);
}

void Button::draw(Painter& p, Pixel background) const {
  Rect r = rect;
  Pixel ink = enabled ? colour::black : colour::dim;
  switch (kind) {
    case push: {
      if (isDefault) p.fill(outset(r, 4), background);
      p.fill(r, pressed ? colour::selection : colour::white);
      p.frame(r, enabled ? colour::border : colour::dim);
      if (isDefault && enabled) p.frame(outset(r, 3), colour::accent, 2);
      int w = p.textWidth(label, kControlTextSize);
      p.text(r.left + (r.right - r.left - w) / 2, p.centredBaseline(r, kControlTextSize), label,
             kControlTextSize, pressed ? colour::selectionText : ink);
      break;
    }
    case checkBox:
    case radio: {
      int top = (r.top + r.bottom) / 2 - 6;
      Rect box = makeRect(r.left + 2, top, r.left + 14, top + 12);
      p.fill(box, pressed ? colour::dim : colour::white);
      p.frame(box, enabled ? colour::border : colour::dim);
      if (value) p.fill(outset(box, kind == radio ? -4 : -3), ink);
      if (!label.empty())
        p.text(r.left + 20, p.centredBaseline(r, kControlTextSize), label, kControlTextSize, ink);
      break;
    }
    case popup: {
      p.fill(r, pressed ? colour::textSelection : colour::white);
      p.frame(r, enabled ? colour::border : colour::dim);
      int base = p.centredBaseline(r, kControlTextSize);
      p.text(r.left + 8, base, fitText(p, label, r.right - r.left - 32, kControlTextSize),
             kControlTextSize, ink);
      p.text(r.right - 18, base, "\xE2\x96\xBE", kControlTextSize, ink);  // ▾
      break;
    }
  }
}

int hitButton(const std::vector<Button>& buttons, int x, int y) {
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i].enabled && inRect(buttons[i].rect, x, y)) return (int)i;
  return -1;
}

int defaultButton(const std::vector<Button>& buttons) {
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i].isDefault && buttons[i].enabled) return (int)i;
  return -1;
}

void Slider::draw(Painter& p) const {
  double span = max - min;
  double frac = span > 0 ? std::clamp((value - min) / span, 0.0, 1.0) : 0.0;
  p.fill(rect, colour::white);
  Rect bar = rect;
  bar.right = (short)(rect.left + (int)std::lround(frac * (rect.right - rect.left)));
  p.fill(bar, enabled ? colour::fill : colour::background);
  p.frame(rect, enabled ? colour::border : colour::dim);
  p.text(rect.left + 4, p.centredBaseline(rect, kControlTextSize), label, kControlTextSize,
         enabled ? colour::black : colour::dim);
}

double Slider::valueAt(int x) const {
  double frac = (double)(x - rect.left) / std::max(1, rect.right - rect.left - 1);
  return min + std::clamp(frac, 0.0, 1.0) * (max - min);
}

int PopupMenu::rows() const {
  int n = (int)items.size();
  return rowsPerColumn > 0 ? std::min(n, rowsPerColumn) : n;
}

int PopupMenu::columns() const {
  int r = rows();
  return r > 0 ? ((int)items.size() + r - 1) / r : 0;
}

Rect PopupMenu::itemRect(int index) const {
  int r = std::max(1, rows());
  int width = columnWidth > 0 ? columnWidth : anchor.right - anchor.left;
  int left = anchor.left + (index / r) * width;
  int top = anchor.bottom + (index % r) * rowHeight;
  return makeRect(left, top, left + width, top + rowHeight);
}

int PopupMenu::itemAt(int x, int y) const {
  for (int i = 0; i < (int)items.size(); ++i)
    if (inRect(itemRect(i), x, y)) return i;
  return -1;
}

void PopupMenu::draw(Painter& p) const {
  for (int i = 0; i < (int)items.size(); ++i) {
    Rect r = itemRect(i);
    bool hi = i == current;
    p.fill(r, hi ? colour::selection : colour::white);
    p.frame(r, colour::border);
    p.text(r.left + 8, p.centredBaseline(r, kControlTextSize),
           fitText(p, items[(size_t)i], r.right - r.left - 16, kControlTextSize), kControlTextSize,
           hi ? colour::selectionText : colour::black);
  }
}

void FocusChain::setOrder(std::vector<int> ids) {
  order_ = std::move(ids);
  if (std::find(order_.begin(), order_.end(), focused_) == order_.end())
    focused_ = order_.empty() ? -1 : order_.front();
}

bool FocusChain::focus(int id) {
  if (std::find(order_.begin(), order_.end(), id) == order_.end()) return false;
  focused_ = id;
  return true;
}

int FocusChain::advance(bool backwards) {
  if (order_.empty()) return focused_ = -1;
  auto at = std::find(order_.begin(), order_.end(), focused_);
  size_t n = order_.size();
  size_t i = at == order_.end() ? (backwards ? 0 : n - 1) : (size_t)(at - order_.begin());
  focused_ = order_[backwards ? (i + n - 1) % n : (i + 1) % n];
  return focused_;
}

}  // namespace vt::ui

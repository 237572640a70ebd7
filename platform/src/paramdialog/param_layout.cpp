// Where the effects dialog's controls are: the effect list, the parameter panel and its scroll
// bar, OK and Cancel.
#include <algorithm>
#include <cmath>

#include "paramdialog/param_layout.h"
#include "paramdialog/param_window.h"
#include "ui/widgets/colour_picker.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace vt::paramdialog {

using vt::effects::ParamType;
using vt::ui::makeRect;

std::vector<std::array<double, 3>> colourPresets() {
  std::vector<std::array<double, 3>> out;
  for (const RGBColor& c : vt::ui::colourQuickPicks())
    out.push_back({(double)c.red, (double)c.green, (double)c.blue});
  return out;
}

Pixel pixelOf(const std::array<double, 3>& c) {
  return makePixel((uint8_t)(c[0] / 257), (uint8_t)(c[1] / 257), (uint8_t)(c[2] / 257));
}

bool isNumber(const vt::effects::ParamDesc& d) {
  return d.type == ParamType::Fixed || d.type == ParamType::Long || d.type == ParamType::Double;
}

int Dialog::height() const {
  size_t most = 0;
  for (const auto& e : model_.effects())
    if (e.info) most = std::max(most, e.info->params.size());
  int h = kTop + (int)most * kParamPitch + 70;
  // Never taller than the screen: parameter rows that do not fit scroll.
  return std::min(std::max(kMinHeight, std::min(h, 1000)), maxHeight_);
}

int Dialog::paramRows() const { return std::max(1, (height() - 50 - kTop) / kParamPitch); }

Rect Dialog::scrollBarRect() const {
  if (!overflows()) return makeRect(0, 0, 0, 0);
  const int right = kParamLeft + kParamWidth;
  return makeRect(right - kScrollBarWidth, kTop, right, kTop + paramRows() * kParamPitch);
}

Rect Dialog::thumbRect() const {
  Rect bar = scrollBarRect();
  const int n = (int)model_.params().size(), rows = paramRows();
  const int track = bar.bottom - bar.top;
  const int len = std::max(kScrollBarWidth, track * rows / std::max(1, n));
  const int top = bar.top + (track - len) * paramScroll_ / std::max(1, n - rows);
  return makeRect(bar.left, top, bar.right, top + len);
}

void Dialog::scrollTo(int row) {
  row = std::clamp(row, 0, std::max(0, (int)model_.params().size() - paramRows()));
  if (row == paramScroll_) return;
  paramScroll_ = row;
  redraw();
}

void Dialog::revealFocus() {
  Hot f{};
  if (!focused(f) || f.kind == Hot::ListRow) return;
  if (f.index < paramScroll_)
    scrollTo(f.index);
  else if (f.index >= paramScroll_ + paramRows())
    scrollTo(f.index - paramRows() + 1);
}

// A click in the track pages; the thumb follows a drag.
Answer Dialog::clickScrollBar(Point local) {
  Rect thumb = thumbRect();
  if (local.v < thumb.top) {
    scrollTo(paramScroll_ - paramRows());
    return Answer::Handled;
  }
  if (local.v >= thumb.bottom) {
    scrollTo(paramScroll_ + paramRows());
    return Answer::Handled;
  }
  const Rect bar = scrollBarRect();
  const int from = paramScroll_, grabbed = local.v;
  const int span = (bar.bottom - bar.top) - (thumb.bottom - thumb.top);
  const int range = (int)model_.params().size() - paramRows();
  vt::ui::trackDrag(window_, [&](Point p) {
    scrollTo(from + (int)std::lround((double)(p.v - grabbed) * range / std::max(1, span)));
  });
  return Answer::Handled;
}

std::vector<Hot> Dialog::layout() const {
  std::vector<Hot> hots = allControls();
  const int first = paramScroll_, last = paramScroll_ + paramRows();
  hots.erase(std::remove_if(hots.begin(), hots.end(),
                            [&](const Hot& hot) {
                              return hot.kind != Hot::ListRow && hot.kind != Hot::OK &&
                                     hot.kind != Hot::Cancel &&
                                     (hot.index < first || hot.index >= last);
                            }),
             hots.end());
  return hots;
}

std::vector<Hot> Dialog::allControls() const {
  std::vector<Hot> hots;
  const auto& effects = model_.effects();
  const auto& params = model_.params();
  int h = height();
  int rows = (h - kTop - 50) / kRow;
  for (int i = listScroll_; i < (int)effects.size() && i < listScroll_ + rows; ++i) {
    int y = kTop + (i - listScroll_) * kRow;
    hots.push_back({Hot::ListRow, makeRect(10, y, 190, y + kRow), i, 0, 0});
  }
  // Room for the scroll bar when the rows do not fit.
  const int pw = overflows() ? kParamWidth - kScrollBarWidth - 6 : kParamWidth;
  for (int i = 0; i < (int)params.size(); ++i) {
    const auto& p = params[(size_t)i];
    int top = kTop + (i - paramScroll_) * kParamPitch;
    if (model_.canSwitchTween(i))
      hots.push_back({Hot::TweenToggle,
                      makeRect(kParamLeft + pw - 80, top, kParamLeft + pw, top + 16), i, 0, 0});
    int y = top + 18;
    int parts = p.tweened ? 2 : 1;
    int w = parts == 2 ? (pw - 10) / 2 : pw;
    for (int which = 0; which < parts; ++which) {
      int x = kParamLeft + which * (w + 10);
      switch (p.desc->type) {
        case ParamType::Enum:
          hots.push_back({Hot::Popup, makeRect(x, y, x + w, y + 20), i, which, 0});
          break;
        case ParamType::Bool:
          hots.push_back({Hot::Check, makeRect(x, y + 3, x + 14, y + 17), i, which, 0});
          break;
        case ParamType::RGB:
          hots.push_back({Hot::Well, makeRect(x, y, x + 40, y + 20), i, which, 0});
          for (int k = 0; k < (int)colourPresets().size(); ++k)
            hots.push_back({Hot::Swatch, makeRect(x + 50 + k * 20, y + 2, x + 66 + k * 20, y + 18),
                            i, which, k});
          break;
        case ParamType::Text:
          hots.push_back({Hot::Field, makeRect(x, y, x + w, y + 20), i, which, 0});
          break;
        case ParamType::Image:
          hots.push_back({Hot::ImageChoose, makeRect(x, y, x + 84, y + 20), i, which, 0});
          if (!p.image.empty())
            hots.push_back({Hot::ImageClear, makeRect(x + 90, y, x + 160, y + 20), i, which, 0});
          break;
        default: {
          int fieldLeft = x + w - kFieldWidth - 22;
          hots.push_back({Hot::Slider, makeRect(x, y + 1, fieldLeft - 6, y + 19), i, which, 0});
          hots.push_back(
              {Hot::Field, makeRect(fieldLeft, y, fieldLeft + kFieldWidth, y + 20), i, which, 0});
          break;
        }
      }
    }
  }
  hots.push_back({Hot::Cancel, makeRect(kWidth - 190, h - 40, kWidth - 110, h - 14), 0, 0, 0});
  hots.push_back({Hot::OK, makeRect(kWidth - 90, h - 40, kWidth - 10, h - 14), 0, 0, 0});
  return hots;
}

Rect Dialog::buttonRect(bool ok) const {
  Rect r{0, 0, 0, 0};
  for (const auto& hot : layout())
    if (hot.kind == (ok ? Hot::OK : Hot::Cancel)) r = hot.r;
  if (window_) OffsetRect(&r, window_->content.left, window_->content.top);
  return r;
}

}  // namespace vt::paramdialog

#include "paramdialog/param_window.h"

#include <AppleEvents.h>
#include <ColorPicker.h>
#include <Events.h>
#include <MacMemory.h>
#include <Navigation.h>
#include <QTAtoms.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "codec/demux.h"
#include "codec/registry.h"
#include "core/pstring.h"
#include "core/reset.h"
#include "effects/render_api.h"
#include "events/event_queue.h"
#include "files/fsspec.h"
#include "ui/text.h"
#include "ui/widgets/colour_picker.h"
#include "ui/widgets/painter.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace vt::paramdialog {

using vt::effects::ParamType;
using vt::ui::makeRect;
namespace colour = vt::ui::colour;

namespace {

constexpr int kWidth = 760;
constexpr int kMinHeight = 420;
constexpr int kTop = 30;
constexpr int kRow = 18;
constexpr int kParamLeft = 200;
constexpr int kParamWidth = 360;
constexpr int kParamPitch = 44;
constexpr int kPreviewLeft = 570;
constexpr int kPreviewW = 180;
constexpr int kPreviewH = 135;
constexpr int kCurveSide = 120;
constexpr int kFieldWidth = 56;
constexpr int kScrollBarWidth = 12;
constexpr int kAnimTicks = 120;  // one preview cycle: two seconds
constexpr int kTextSize = vt::ui::kControlTextSize;

bool inRect(Point p, const Rect& r) { return vt::ui::inRect(r, p.h, p.v); }

// The colour picker's quick picks, offered beside every colour well too.
std::vector<std::array<double, 3>> colourPresets() {
  std::vector<std::array<double, 3>> out;
  for (const RGBColor& c : vt::ui::colourQuickPicks())
    out.push_back({(double)c.red, (double)c.green, (double)c.blue});
  return out;
}

Pixel pixelOf(const std::array<double, 3>& c) {
  return makePixel((uint8_t)(c[0] / 257), (uint8_t)(c[1] / 257), (uint8_t)(c[2] / 257));
}

// Generated sources for a preview without pictures: warm bars for A, a cool checkerboard for B.
Image testImage(int which) {
  Image img(kPreviewW, kPreviewH);
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      if (which == 1) {
        uint8_t v = (uint8_t)(x * 255 / (img.width - 1));
        img.at(x, y) = ((x / 30) % 2) ? makePixel(230, 120, v / 2) : makePixel(250, 200, 60);
      } else {
        bool on = ((x / 20) + (y / 20)) % 2 == 0;
        img.at(x, y) = on ? makePixel(40, 90, 200) : makePixel(60, 190, 150);
      }
    }
  return img;
}

bool isNumber(const vt::effects::ParamDesc& d) {
  return d.type == ParamType::Fixed || d.type == ParamType::Long || d.type == ParamType::Double;
}

// The image chooser's filter: folders, and files an image importer reads.
Boolean imagesOnly(AEDesc*, void* info, void*, NavFilterModes) {
  auto* i = static_cast<NavFileOrFolderInfo*>(info);
  if (!i || i->isFolder) return true;
  return vt::codec::isImageType(i->fileAndFolder.fileInfo.finderInfo.fdType);
}

// Automation finds the focused number field through this.
bool focusedParamField(WindowRef w, vt::ui::FocusedField& out);

}  // namespace

Dialog::Dialog(std::vector<EffectEntry> effects, QTAtomContainer target, DialogOptions options,
               bool modal)
    : model_(std::move(effects), options), target_(target), modal_(modal) {
  preview_ = Image(kPreviewW, kPreviewH);
  animStart_ = vt::events::ticks();
}

Dialog::~Dialog() {
  if (window_ && vt::ui::isLiveWindow(window_)) DisposeWindow(window_);
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

bool Dialog::open() {
  Rect desk = vt::ui::desktopBounds();
  maxHeight_ =
      std::max(kTop + kParamPitch + 60, (desk.bottom - desk.top) - vt::ui::kTitleBarHeight);
  int h = height();
  int left = desk.left + std::max(0, ((desk.right - desk.left) - kWidth) / 2);
  int top = desk.top + vt::ui::kTitleBarHeight +
            std::max(0, ((desk.bottom - desk.top) - h - vt::ui::kTitleBarHeight) / 3);
  Rect bounds = makeRect(left, top, left + kWidth, top + h);
  static const unsigned char title[] =
      "\x07"
      "Effects";
  window_ = NewCWindow(nullptr, &bounds, title, true, movableDBoxProc, (WindowRef)-1L, false, 0);
  if (!window_) return false;
  SetWindowKind(window_, kDialogWindowKind);
  SelectWindow(window_);
  vt::ui::addFieldFinder(focusedParamField);
  updateFocusOrder();
  syncFields();
  renderPreview();
  redraw();
  return true;
}

void Dialog::select(int index) {
  commitField();
  if (!model_.select(index)) return;
  // Keep the selection in view.
  int rows = (height() - kTop - 50) / kRow;
  if (index < listScroll_) listScroll_ = index;
  if (index >= listScroll_ + rows) listScroll_ = index - rows + 1;
  animStart_ = vt::events::ticks();
  paramScroll_ = 0;
  fields_.clear();
  fieldEdited_ = false;
  updateFocusOrder();
  changed();
}

bool Dialog::setParam(OSType code, int which, double value) {
  if (!model_.setParam(code, which, value)) return false;
  changed();
  return true;
}

bool Dialog::setParam(OSType code, int which, const std::array<double, 3>& value) {
  if (!model_.setParam(code, which, value)) return false;
  changed();
  return true;
}

bool Dialog::setText(OSType code, const std::string& text) {
  if (!model_.setText(code, text)) return false;
  changed();
  return true;
}

void Dialog::changed() {
  syncFields();
  if (!window_) return;
  renderPreview();
  redraw();
}

ui::TextField& Dialog::fieldFor(int param, int which) {
  auto [it, made] = fields_.try_emplace(param * 10 + which);
  if (made) {
    const bool text = model_.params()[(size_t)param].desc->type == ParamType::Text;
    it->second.setMaxChars(text ? 64 : 16);
    if (text)
      it->second.setFilter([](char32_t c) { return c >= 0x20; });
    else
      it->second.setFilter([](char32_t c) { return c < 0x80 || c == U'°'; });
  }
  return it->second;
}

void Dialog::syncFields() {
  Hot f{};
  bool editing = fieldEdited_ && focused(f) && f.kind == Hot::Field;
  const auto& params = model_.params();
  for (int i = 0; i < (int)params.size(); ++i) {
    if (params[(size_t)i].desc->type == ParamType::Text) {
      if (editing && f.index == i) continue;
      ui::TextField& field = fieldFor(i, 0);
      if (field.text() != params[(size_t)i].text) field.setText(params[(size_t)i].text);
      continue;
    }
    if (!isNumber(*params[(size_t)i].desc)) continue;
    for (int which = 0; which < (params[(size_t)i].tweened ? 2 : 1); ++which) {
      if (editing && f.index == i && f.which == which) continue;
      ui::TextField& field = fieldFor(i, which);
      std::string text = formatNumber(*params[(size_t)i].desc, model_.value(i, which)[0]);
      if (field.text() != text) field.setText(text);
    }
  }
}

void Dialog::updateFocusOrder() {
  std::vector<int> order{idOf(Hot::ListRow, 0, 0)};
  for (const auto& hot : allControls()) switch (hot.kind) {
      case Hot::Field:
      case Hot::Popup:
      case Hot::Check:
      case Hot::Well:
      case Hot::ImageChoose:
      case Hot::TweenToggle: order.push_back(idOf(hot.kind, hot.index, hot.which)); break;
      default: break;
    }
  focus_.setOrder(order);
}

bool Dialog::focused(Hot& out) const {
  int id = focus_.focused();
  if (id < 0) return false;
  out.kind = (Hot::Kind)(id / 10000 - 1);
  out.index = (id % 10000) / 10;
  out.which = id % 10;
  if (out.kind == Hot::ListRow) return true;
  for (const auto& hot : allControls())
    if (hot.kind == out.kind && hot.index == out.index && hot.which == out.which) {
      out.r = hot.r;
      return true;
    }
  return false;
}

std::string Dialog::fieldText(int param, int which) {
  if (param < 0 || param >= (int)model_.params().size() ||
      (!isNumber(*model_.params()[(size_t)param].desc) &&
       model_.params()[(size_t)param].desc->type != ParamType::Text))
    return {};
  return fieldFor(param, which).text();
}

ui::TextField* Dialog::focusedField(Rect* box) {
  Hot f{};
  if (!focused(f) || f.kind != Hot::Field) return nullptr;
  if (box) *box = f.r;
  return &fieldFor(f.index, f.which);
}

bool Dialog::commitField() {
  Hot f{};
  if (!fieldEdited_ || !focused(f) || f.kind != Hot::Field) return true;
  fieldEdited_ = false;
  ui::TextField& field = fieldFor(f.index, f.which);
  if (model_.params()[(size_t)f.index].desc->type == ParamType::Text) {
    model_.setText(f.index, field.text());
    changed();
    return true;
  }
  auto v = parseNumber(*model_.params()[(size_t)f.index].desc, field.text());
  if (!v) {
    SysBeep(1);  // refused: the last good value stays
    syncFields();
    redraw();
    return false;
  }
  std::array<double, 3> value = model_.value(f.index, f.which);
  value[0] = *v;
  model_.setValue(f.index, f.which, value);
  changed();
  return true;
}

void Dialog::setFocus(int id) {
  if (id == focus_.focused()) return;
  commitField();
  focus_.focus(id);
  revealFocus();
  Hot f{};
  if (focused(f) && f.kind == Hot::Field) fieldFor(f.index, f.which).selectAll();
  redraw();
}

void Dialog::setPreview(int sourceID, const Image& img) {
  if (sourceID == 1) {
    srcA_ = img;
    hasA_ = true;
  } else {
    srcB_ = img;
    hasB_ = true;
  }
  changed();
}

bool Dialog::hasPreview(int sourceID) const { return sourceID == 1 ? hasA_ : hasB_; }

void Dialog::renderPreview() {
  static const Image genA = testImage(1), genB = testImage(2);
  int selected = model_.selected();
  if (selected < 0 || !model_.effects()[(size_t)selected].info) {
    preview_ = Image(kPreviewW, kPreviewH, colour::background);
    return;
  }
  uint32_t now = vt::events::ticks();
  lastFrameTick_ = now;
  int64_t t = (int64_t)((now - animStart_) % kAnimTicks);
  QTAtomContainer desc = model_.buildDescription(true);
  if (!desc) return;
  vt::effects::EffectInputs in;
  in.sourceA = hasA_ ? &srcA_ : &genA;
  in.sourceB = hasB_ ? &srcB_ : &genB;
  preview_ = Image(kPreviewW, kPreviewH);
  vt::effects::renderEffectSample((const uint8_t*)*desc, (size_t)GetHandleSize(desc), t, kAnimTicks,
                                  in, preview_);
  QTDisposeAtomContainer(desc);
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

void Dialog::draw() {
  vt::ui::PortPainter p(&window_->port);
  const auto& effects = model_.effects();
  const auto& params = model_.params();
  int h = height();
  Hot focus{};
  bool hasFocus = focused(focus);
  auto isFocused = [&](const Hot& hot) {
    return hasFocus && focus.kind == hot.kind && focus.index == hot.index &&
           focus.which == hot.which;
  };
  p.fill(makeRect(0, 0, kWidth, h), colour::background);
  p.text(10, 20, "Effect", kTextSize, colour::black, true);
  p.text(kParamLeft, 20, "Parameters", kTextSize, colour::black, true);
  p.text(kPreviewLeft, 20, "Preview", kTextSize, colour::black, true);
  Rect list = makeRect(10, kTop, 190, h - 50);
  p.fill(list, colour::white);
  p.frame(vt::ui::outset(list, 1),
          hasFocus && focus.kind == Hot::ListRow ? colour::accent : colour::border,
          hasFocus && focus.kind == Hot::ListRow ? 2 : 1);
  const int lastRow = std::min((int)params.size(), paramScroll_ + paramRows());
  for (int i = paramScroll_; i < lastRow; ++i) {
    std::string label = params[(size_t)i].desc->name;
    if (params[(size_t)i].tweened) label += "  (start, end)";
    p.text(kParamLeft, kTop + (i - paramScroll_) * kParamPitch + 12, label, kTextSize,
           colour::black);
  }
  if (overflows()) {
    // Drawn as a slider's bar: a white track, the thumb in the fill colour.
    const Rect bar = scrollBarRect(), thumb = thumbRect();
    p.fill(bar, colour::white);
    p.frame(bar, colour::border);
    p.fill(vt::ui::outset(thumb, -1), colour::fill);
    p.frame(thumb, colour::border);
  }
  for (const auto& hot : layout()) {
    const vt::effects::ParamDesc* d =
        hot.kind != Hot::ListRow && hot.kind != Hot::OK && hot.kind != Hot::Cancel
            ? model_.params()[(size_t)hot.index].desc
            : nullptr;
    switch (hot.kind) {
      case Hot::ListRow: {
        bool sel = hot.index == model_.selected();
        if (sel) p.fill(hot.r, colour::selection);
        p.text(hot.r.left + 4, hot.r.bottom - 5, effects[(size_t)hot.index].name, kTextSize,
               sel ? colour::selectionText : colour::black);
        break;
      }
      case Hot::Slider: {
        vt::ui::Slider s;
        s.rect = hot.r;
        s.min = d->minValue;
        s.max = d->maxValue;
        s.value = model_.value(hot.index, hot.which)[0];
        s.draw(p);
        break;
      }
      case Hot::Field: {
        fieldFor(hot.index, hot.which).draw(p, hot.r, isFocused(hot));
        p.text(hot.r.right + 4, p.centredBaseline(hot.r, kTextSize), unitOf(*d), kTextSize,
               colour::black);
        break;
      }
      case Hot::Popup: {
        vt::ui::Button b;
        b.kind = vt::ui::Button::popup;
        b.rect = hot.r;
        b.label = formatValue(*d, model_.value(hot.index, hot.which));
        b.draw(p);
        if (isFocused(hot)) p.frame(vt::ui::outset(hot.r, 2), colour::accent, 2);
        break;
      }
      case Hot::Check:
      case Hot::TweenToggle: {
        vt::ui::Button b;
        b.kind = vt::ui::Button::checkBox;
        b.rect = hot.kind == Hot::Check ? hot.r : hot.r;
        b.value = hot.kind == Hot::Check ? model_.value(hot.index, hot.which)[0] != 0
                                         : model_.params()[(size_t)hot.index].tweened;
        if (hot.kind == Hot::TweenToggle) b.label = "Animate";
        b.draw(p);
        if (isFocused(hot))
          p.frame(
              vt::ui::outset(
                  makeRect(hot.r.left + 2, hot.r.top + (hot.r.bottom - hot.r.top - 12) / 2,
                           hot.r.left + 14, hot.r.top + (hot.r.bottom - hot.r.top - 12) / 2 + 12),
                  2),
              colour::accent, 2);
        break;
      }
      case Hot::Well: {
        p.fill(hot.r, pixelOf(model_.value(hot.index, hot.which)));
        p.frame(hot.r, colour::border);
        p.frame(vt::ui::outset(hot.r, -2), colour::white);
        if (isFocused(hot)) p.frame(vt::ui::outset(hot.r, 2), colour::accent, 2);
        break;
      }
      case Hot::Swatch: {
        const auto c = colourPresets()[(size_t)hot.extra];
        const auto& v = model_.value(hot.index, hot.which);
        p.fill(hot.r, pixelOf(c));
        bool chosen = v[0] == c[0] && v[1] == c[1] && v[2] == c[2];
        p.frame(hot.r, chosen ? colour::selection : colour::border, chosen ? 2 : 1);
        break;
      }
      case Hot::ImageChoose:
      case Hot::ImageClear: {
        auto b = vt::ui::Button::pushButton(hot.kind == Hot::ImageChoose ? "Choose…" : "Default",
                                            false, hot.r);
        b.draw(p);
        if (isFocused(hot)) p.frame(vt::ui::outset(hot.r, 2), colour::accent, 2);
        if (hot.kind == Hot::ImageChoose) {
          const std::string& name = model_.params()[(size_t)hot.index].imageName;
          int x = hot.r.right + (name.empty() ? 8 : 84);
          p.text(x, p.centredBaseline(hot.r, kTextSize),
                 vt::ui::fitText(p, name.empty() ? "(the effect's own)" : name,
                                 kParamLeft + kParamWidth - (overflows() ? 18 : 0) - x, kTextSize),
                 kTextSize, colour::black);
        }
        break;
      }
      case Hot::OK:
      case Hot::Cancel: {
        auto b = vt::ui::Button::pushButton(hot.kind == Hot::OK ? "OK" : "Cancel",
                                            hot.kind == Hot::OK, hot.r);
        b.pressed = pressedButton_ == hot.kind;
        b.draw(p);
        break;
      }
    }
  }
  Rect pv = makeRect(kPreviewLeft, kTop, kPreviewLeft + kPreviewW, kTop + kPreviewH);
  p.image(pv, preview_);
  p.frame(vt::ui::outset(pv, 1), colour::border);
  if (auto easing = model_.easing()) drawCurve(p, *easing);
}

// The progress curve: time across, the percentage up, the straight line for comparison.
void Dialog::drawCurve(vt::ui::Painter& p, const vt::effects::Easing& easing) const {
  const int top = kTop + kPreviewH + 30;
  p.text(kPreviewLeft, top - 8, "Progress", kTextSize, colour::black, true);
  // Room above and below for curves that overshoot.
  const Rect box = makeRect(kPreviewLeft, top, kPreviewLeft + kCurveSide, top + kCurveSide);
  const int inset = kCurveSide / 5, side = kCurveSide - 2 * inset;
  p.fill(box, colour::white);
  p.frame(vt::ui::outset(box, 1), colour::border);
  const int x0 = box.left + inset, y0 = box.bottom - inset;
  p.frame(makeRect(x0, y0 - side, x0 + side, y0), colour::border);
  for (int i = 0; i <= side; ++i) {
    p.fill(makeRect(x0 + i, y0 - i, x0 + i + 1, y0 - i + 1), colour::border);
    const double v = vt::effects::ease(easing, (double)i / side);
    const int y =
        std::clamp(y0 - (int)std::lround(v * side), (int)box.top + 1, (int)box.bottom - 2);
    p.fill(makeRect(x0 + i - 1, y - 1, x0 + i + 1, y + 1), colour::selection);
  }
}

void Dialog::redraw() {
  if (!window_ || !vt::ui::isLiveWindow(window_)) return;
  draw();
  vt::ui::portChanged(&window_->port, makeRect(0, 0, kWidth, height()));
}

void Dialog::slide(const Hot& hot, Point local) {
  const auto& d = *model_.params()[(size_t)hot.index].desc;
  vt::ui::Slider s;
  s.rect = hot.r;
  s.min = d.minValue;
  s.max = d.maxValue;
  std::array<double, 3> v = model_.value(hot.index, hot.which);
  v[0] = sliderValue(d, s.valueAt(local.h));
  model_.setValue(hot.index, hot.which, v);
  syncFields();
}

void Dialog::popup(const Hot& hot, bool mouseHeld) {
  const auto& d = *model_.params()[(size_t)hot.index].desc;
  std::vector<std::string> names;
  int current = 0;
  double now = model_.value(hot.index, hot.which)[0];
  for (const auto& item : d.enumValues) {
    if ((double)item.value == now) current = (int)names.size();
    names.push_back(item.name);
  }
  int chosen = vt::ui::runPopupMenu(window_, hot.r, names, current, mouseHeld);
  if (!vt::ui::isLiveWindow(window_)) return;
  if (chosen >= 0) {
    std::array<double, 3> v = model_.value(hot.index, hot.which);
    v[0] = (double)d.enumValues[(size_t)chosen].value;
    model_.setValue(hot.index, hot.which, v);
  }
  changed();
}

void Dialog::pickColour(const Hot& hot) {
  const auto& v = model_.value(hot.index, hot.which);
  RGBColor in{(unsigned short)v[0], (unsigned short)v[1], (unsigned short)v[2]}, out{};
  std::string prompt = model_.params()[(size_t)hot.index].desc->name + ":";
  Str255 p;
  vt::toPascal(prompt, p);
  bool ok = GetColor(Point{-1, -1}, p, &in, &out);
  if (!vt::ui::isLiveWindow(window_)) return;
  if (ok)
    model_.setValue(hot.index, hot.which, {(double)out.red, (double)out.green, (double)out.blue});
  changed();
}

void Dialog::chooseImage(int param) {
  NavDialogOptions options{};
  NavGetDefaultDialogOptions(&options);
  options.dialogOptionFlags &= ~kNavAllowMultipleFiles;
  std::string message = "Choose an image for " + model_.params()[(size_t)param].desc->name + ":";
  vt::toPascal(message, options.message);
  NavReplyRecord reply{};
  OSErr err = NavGetFile(nullptr, &reply, &options, nullptr, nullptr, imagesOnly, nullptr, nullptr);
  if (!vt::ui::isLiveWindow(window_)) return;
  if (err == noErr && reply.validRecord) {
    FSSpec spec{};
    AEKeyword keyword = 0;
    DescType type = 0;
    Size size = 0;
    std::string path;
    vt::Result<Image> img = vt::Failure{};
    if (AEGetNthPtr(&reply.selection, 1, typeFSS, &keyword, &type, &spec, sizeof spec, &size) ==
            noErr &&
        vt::files::specToPath(spec, path) == noErr && (img = vt::codec::decodeStillImage(path)) &&
        !img->empty()) {
      model_.setImage(param, *img, path.substr(path.rfind('/') + 1));
    } else {
      SysBeep(1);  // not an image we can read after all
    }
    NavDisposeReply(&reply);
  }
  updateFocusOrder();
  changed();
}

Answer Dialog::click(Point local, const EventRecord& e) {
  if (overflows() && inRect(local, scrollBarRect())) return clickScrollBar(local);
  for (const auto& hot : layout()) {
    if (!inRect(local, hot.r)) continue;
    int id = idOf(hot.kind, hot.index, hot.which);
    switch (hot.kind) {
      case Hot::OK:
      case Hot::Cancel: {
        bool released = vt::ui::trackPress(window_, hot.r, [&](bool on) {
          pressedButton_ = on ? hot.kind : -1;
          redraw();
        });
        pressedButton_ = -1;
        if (!released) return Answer::Handled;
        if (hot.kind == Hot::Cancel) return Answer::Cancel;
        return commitField() ? Answer::Confirm : Answer::Handled;
      }
      case Hot::ListRow:
        setFocus(idOf(Hot::ListRow, 0, 0));
        select(hot.index);
        return Answer::Handled;
      case Hot::Slider: {
        // Follows the mouse while the button is held; the preview catches up on release. The
        // keyboard then works the slider's field.
        setFocus(idOf(Hot::Field, hot.index, hot.which));
        slide(hot, local);
        redraw();
        if (!vt::ui::trackDrag(window_, [&](Point p) {
              slide(hot, p);
              redraw();
            }))
          return Answer::Handled;  // the window went away meanwhile
        fieldFor(hot.index, hot.which).selectAll();
        changed();
        return Answer::Handled;
      }
      case Hot::Field: {
        ui::TextField& field = fieldFor(hot.index, hot.which);
        bool wasFocused = focus_.focused() == id;
        setFocus(id);
        field.press(local.h - hot.r.left, e.when, wasFocused && (e.modifiers & shiftKey));
        redraw();
        vt::ui::trackDrag(window_, [&](Point p) {
          field.dragTo(p.h - hot.r.left);
          redraw();
        });
        return Answer::Handled;
      }
      case Hot::Popup:
        setFocus(id);
        popup(hot, true);
        return Answer::Handled;
      case Hot::Check:
        setFocus(id);
        model_.toggle(hot.index, hot.which);
        changed();
        return Answer::Handled;
      case Hot::TweenToggle:
        setFocus(id);
        model_.setTweened(hot.index, !model_.params()[(size_t)hot.index].tweened);
        updateFocusOrder();
        changed();
        return Answer::Handled;
      case Hot::Well:
        setFocus(id);
        pickColour(hot);
        return Answer::Handled;
      case Hot::Swatch:
        commitField();
        model_.setValue(hot.index, hot.which, colourPresets()[(size_t)hot.extra]);
        changed();
        return Answer::Handled;
      case Hot::ImageChoose:
        setFocus(id);
        chooseImage(hot.index);
        return Answer::Handled;
      case Hot::ImageClear:
        commitField();
        model_.setImage(hot.index, Image(), "");
        updateFocusOrder();
        changed();
        return Answer::Handled;
    }
  }
  return Answer::Handled;
}

Answer Dialog::key(const EventRecord& e) {
  vt::ui::KeyPress k = vt::ui::KeyPress::from(e);
  Hot f{};
  bool hasFocus = focused(f);
  if (k.command) {
    // Clipboard keys work the focused field; other shortcuts stay the application's menus'
    // (a modal dialog keeps them from the menus).
    if (hasFocus && f.kind == Hot::Field &&
        fieldFor(f.index, f.which).key(k) != ui::TextField::Result::ignored) {
      fieldEdited_ = true;
      redraw();
      return Answer::Handled;
    }
    return modal_ ? Answer::Handled : Answer::NotMine;
  }
  if (k.code == vt::ui::key::ret || k.code == vt::ui::key::enter)
    return commitField() ? Answer::Confirm : Answer::Handled;
  if (k.code == vt::ui::key::escape) return Answer::Cancel;
  if (k.code == vt::ui::key::tab) {
    commitField();
    int next = focus_.advance(k.shift);
    revealFocus();
    Hot now{};
    if (focused(now) && now.kind == Hot::Field) fieldFor(now.index, now.which).selectAll();
    (void)next;
    redraw();
    return Answer::Handled;
  }
  if (!hasFocus) return Answer::Handled;
  bool up = k.code == vt::ui::key::up || k.code == vt::ui::key::right;
  bool down = k.code == vt::ui::key::down || k.code == vt::ui::key::left;
  bool space = k.code == ' ';
  switch (f.kind) {
    case Hot::ListRow: {
      int selected = model_.selected();
      if (k.code == vt::ui::key::up && selected > 0) select(selected - 1);
      if (k.code == vt::ui::key::down && selected + 1 < (int)model_.effects().size())
        select(selected + 1);
      break;
    }
    case Hot::Field: {
      ui::TextField& field = fieldFor(f.index, f.which);
      if (k.code == vt::ui::key::up || k.code == vt::ui::key::down) {
        // Up and down step the number; left and right stay the caret's.
        if (!commitField()) break;
        model_.nudge(f.index, f.which, k.code == vt::ui::key::up ? 1 : -1);
        changed();
        field.selectAll();
        redraw();
        break;
      }
      ui::TextField::Result r = field.key(k);
      if (r == ui::TextField::Result::refused) SysBeep(1);
      if (r != ui::TextField::Result::ignored) fieldEdited_ = true;
      redraw();
      break;
    }
    case Hot::Popup:
      if (space)
        popup(f, false);
      else if (up || down) {
        model_.nudge(f.index, f.which, up ? 1 : -1);
        changed();
      }
      break;
    case Hot::Check:
      if (space || up || down) {
        model_.toggle(f.index, f.which);
        changed();
      }
      break;
    case Hot::TweenToggle:
      if (space || up || down) {
        model_.setTweened(f.index, !model_.params()[(size_t)f.index].tweened);
        updateFocusOrder();
        changed();
      }
      break;
    case Hot::Well:
      if (space) {
        pickColour(f);
      } else if (up || down) {
        // Arrows step through the quick picks.
        const auto presets = colourPresets();
        const auto& v = model_.value(f.index, f.which);
        int at = -1;
        for (int i = 0; i < (int)presets.size(); ++i)
          if (presets[(size_t)i] == v) at = i;
        int n = (int)presets.size();
        int next = at < 0 ? (up ? 0 : n - 1) : (at + (up ? 1 : n - 1)) % n;
        model_.setValue(f.index, f.which, presets[(size_t)next]);
        changed();
      }
      break;
    case Hot::ImageChoose:
      if (space) chooseImage(f.index);
      break;
    default: break;
  }
  return Answer::Handled;
}

Answer Dialog::handleEvent(const EventRecord& e) {
  if (!window_ || !vt::ui::isLiveWindow(window_)) return Answer::NotMine;
  // A modal dialog stays in front and takes every click and key.
  bool mine = FrontWindow() == window_ || modal_;
  switch (e.what) {
    case nullEvent: {
      // Idle time drives the preview animation; the application still gets its idle turn.
      uint32_t now = vt::events::ticks();
      if (now - lastFrameTick_ >= 2) {
        renderPreview();
        redraw();
      }
      return Answer::NotMine;
    }
    case mouseDown: {
      Point local{};
      switch (vt::ui::dialogClick(window_, e, &local)) {
        case vt::ui::DialogClick::outside:
          if (!modal_) return Answer::NotMine;
          SysBeep(1);
          SelectWindow(window_);
          return Answer::Handled;
        case vt::ui::DialogClick::content:
          if (FrontWindow() != window_) {
            SelectWindow(window_);
            if (!modal_) return Answer::Handled;
          }
          return click(local, e);
        default: return Answer::Handled;
      }
    }
    case mouseUp: {
      WindowRef w = nullptr;
      FindWindow(e.where, &w);
      return w == window_ || modal_ ? Answer::Handled : Answer::NotMine;
    }
    case keyDown:
    case autoKey:
      if (!mine) return Answer::NotMine;
      return key(e);
    case keyUp:
      // The release follows its press: the dialog's unless it was a menu shortcut.
      if (!mine || ((e.modifiers & cmdKey) && !modal_)) return Answer::NotMine;
      return Answer::Handled;
    case updateEvt:
      if ((WindowRef)e.message != window_) return Answer::NotMine;
      BeginUpdate(window_);
      draw();
      EndUpdate(window_);
      return Answer::Handled;
    case activateEvt: return (WindowRef)e.message == window_ ? Answer::Handled : Answer::NotMine;
    default: return Answer::NotMine;
  }
}

// Registry

namespace {
std::map<long, std::unique_ptr<Dialog>>& registry() {
  static std::map<long, std::unique_ptr<Dialog>> r;
  return r;
}
long nextId = 0x5D1A0001;
// Before the screen reset, so each dialog disposes its own window.
const vt::ResetRegistration kReset(vt::ResetStage::Controllers, [] { registry().clear(); });

bool focusedParamField(WindowRef w, vt::ui::FocusedField& out) {
  for (auto& [id, d] : registry())
    if (d->window() == w) {
      out.field = d->focusedField(&out.box);
      return out.field != nullptr;
    }
  return false;
}
}  // namespace

long registerDialog(std::unique_ptr<Dialog> d) {
  long id = nextId++;
  registry()[id] = std::move(d);
  return id;
}

Dialog* findDialog(long id) {
  auto it = registry().find(id);
  return it == registry().end() ? nullptr : it->second.get();
}

bool removeDialog(long id) { return registry().erase(id) > 0; }

Dialog* newestDialog() {
  for (auto it = registry().rbegin(); it != registry().rend(); ++it) {
    Dialog* d = it->second.get();
    if (d->window() && vt::ui::isLiveWindow(d->window())) return d;
  }
  return nullptr;
}

}  // namespace vt::paramdialog

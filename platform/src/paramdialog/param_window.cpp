#include "paramdialog/param_window.h"

#include <Events.h>
#include <MacMemory.h>
#include <QTAtoms.h>

#include <algorithm>
#include <map>

#include "effects/render_api.h"
#include "events/event_queue.h"
#include "ui/text.h"
#include "ui/widgets/controls.h"
#include "ui/widgets/painter.h"
#include "ui/widgets/tracking.h"
#include "ui/window_server.h"

namespace vt::paramdialog {

using vt::effects::ParamType;
using vt::ui::makeRect;
namespace colour = vt::ui::colour;

namespace {

constexpr int kWidth = 640;
constexpr int kMinHeight = 420;
constexpr int kTop = 30;
constexpr int kRow = 18;
constexpr int kParamPitch = 38;
constexpr int kPreviewW = 180;
constexpr int kPreviewH = 135;
constexpr int kAnimTicks = 120;  // one preview cycle: two seconds
constexpr int kTextSize = vt::ui::kControlTextSize;

bool inRect(Point p, const Rect& r) { return vt::ui::inRect(r, p.h, p.v); }

int windowHeight(const std::vector<EffectEntry>& effects) {
  size_t most = 0;
  for (const auto& e : effects)
    if (e.info) most = std::max(most, e.info->params.size());
  int h = kTop + (int)most * kParamPitch + 70;
  return std::max(kMinHeight, std::min(h, 1000));
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

}  // namespace

Dialog::Dialog(std::vector<EffectEntry> effects, QTAtomContainer target)
    : model_(std::move(effects)), target_(target) {
  preview_ = Image(kPreviewW, kPreviewH);
  animStart_ = vt::events::ticks();
}

Dialog::~Dialog() {
  if (window_ && vt::ui::isLiveWindow(window_)) DisposeWindow(window_);
}

bool Dialog::open() {
  Rect desk = vt::ui::desktopBounds();
  int h = windowHeight(model_.effects());
  int left = desk.left + std::max(0, ((desk.right - desk.left) - kWidth) / 2);
  int top = desk.top + vt::ui::kTitleBarHeight +
            std::max(0, ((desk.bottom - desk.top) - h - vt::ui::kTitleBarHeight) / 3);
  Rect bounds = makeRect(left, top, left + kWidth, top + h);
  static const unsigned char title[] = "\x07" "Effects";
  window_ = NewCWindow(nullptr, &bounds, title, true, movableDBoxProc, (WindowRef)-1L, false, 0);
  if (!window_) return false;
  SetWindowKind(window_, kDialogWindowKind);
  SelectWindow(window_);
  renderPreview();
  redraw();
  return true;
}

void Dialog::select(int index) {
  if (!model_.select(index)) return;
  // Keep the selection in view.
  int rows = (int)((windowHeight(model_.effects()) - kTop - 50) / kRow);
  if (index < listScroll_) listScroll_ = index;
  if (index >= listScroll_ + rows) listScroll_ = index - rows + 1;
  animStart_ = vt::events::ticks();
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

void Dialog::changed() {
  if (!window_) return;
  renderPreview();
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
  vt::effects::renderEffectSample((const uint8_t*)*desc, (size_t)GetHandleSize(desc), t,
                                  kAnimTicks, in, preview_);
  QTDisposeAtomContainer(desc);
}

std::vector<Hot> Dialog::layout() const {
  std::vector<Hot> hots;
  const auto& effects = model_.effects();
  const auto& params = model_.params();
  int h = windowHeight(effects);
  int rows = (h - kTop - 50) / kRow;
  for (int i = listScroll_; i < (int)effects.size() && i < listScroll_ + rows; ++i) {
    int y = kTop + (i - listScroll_) * kRow;
    hots.push_back({Hot::ListRow, makeRect(10, y, 190, y + kRow), i, 0, 0});
  }
  for (int i = 0; i < (int)params.size(); ++i) {
    const auto& p = params[i];
    int y = kTop + i * kParamPitch + 16;
    int parts = p.tweened ? 2 : 1;
    int w = parts == 2 ? 115 : 240;
    for (int which = 0; which < parts; ++which) {
      int x = 200 + which * 125;
      switch (p.desc->type) {
        case ParamType::Enum:
          hots.push_back({Hot::EnumCycle, makeRect(x, y, x + w, y + 18), i, which, 0});
          break;
        case ParamType::Bool:
          hots.push_back({Hot::Check, makeRect(x, y + 2, x + 14, y + 16), i, which, 0});
          break;
        case ParamType::RGB:
          for (int k = 0; k < (int)colourPresets().size(); ++k)
            hots.push_back({Hot::Swatch, makeRect(x + k * 19, y, x + k * 19 + 16, y + 18), i,
                            which, k});
          break;
        default:
          hots.push_back({Hot::Slider, makeRect(x, y, x + w, y + 18), i, which, 0});
          break;
      }
    }
  }
  hots.push_back({Hot::Cancel, makeRect(450, h - 40, 530, h - 14), 0, 0, 0});
  hots.push_back({Hot::OK, makeRect(550, h - 40, 630, h - 14), 0, 0, 0});
  return hots;
}

Rect Dialog::buttonRect(bool ok) const {
  Rect r{0, 0, 0, 0};
  for (const auto& hot : layout())
    if (hot.kind == (ok ? Hot::OK : Hot::Cancel)) r = hot.r;
  if (window_) {
    r.left += window_->content.left;
    r.right += window_->content.left;
    r.top += window_->content.top;
    r.bottom += window_->content.top;
  }
  return r;
}


void Dialog::draw() {
  vt::ui::PortPainter p(&window_->port);
  const auto& effects = model_.effects();
  int h = windowHeight(effects);
  p.fill(makeRect(0, 0, kWidth, h), colour::background);
  p.text(10, 20, "Effect", kTextSize, colour::black, true);
  p.text(200, 20, "Parameters", kTextSize, colour::black, true);
  p.text(450, 20, "Preview", kTextSize, colour::black, true);
  p.fill(makeRect(10, kTop, 190, h - 50), colour::white);
  p.frame(makeRect(9, kTop - 1, 191, h - 49), colour::border);
  for (const auto& hot : layout()) {
    switch (hot.kind) {
      case Hot::ListRow: {
        bool sel = hot.index == model_.selected();
        if (sel) p.fill(hot.r, colour::selection);
        p.text(hot.r.left + 4, hot.r.bottom - 5,
               ui::macRomanToUtf8(effects[(size_t)hot.index].name), kTextSize,
               sel ? colour::selectionText : colour::black);
        break;
      }
      case Hot::Slider: {
        const auto& d = *model_.params()[(size_t)hot.index].desc;
        vt::ui::Slider s;
        s.rect = hot.r;
        s.min = d.minValue;
        s.max = d.maxValue;
        s.value = model_.value(hot.index, hot.which)[0];
        s.label = formatValue(d, model_.value(hot.index, hot.which));
        s.draw(p);
        break;
      }
      case Hot::EnumCycle: {
        const auto& d = *model_.params()[(size_t)hot.index].desc;
        p.fill(hot.r, colour::white);
        p.frame(hot.r, colour::border);
        int base = p.centredBaseline(hot.r, kTextSize);
        p.text(hot.r.left + 4, base, formatValue(d, model_.value(hot.index, hot.which)), kTextSize,
               colour::black);
        p.text(hot.r.right - 14, base, ">", kTextSize, colour::black, true);
        break;
      }
      case Hot::Check: {
        vt::ui::Button b;
        b.kind = vt::ui::Button::checkBox;
        b.rect = hot.r;
        b.value = model_.value(hot.index, hot.which)[0] != 0;
        b.draw(p);
        break;
      }
      case Hot::Swatch: {
        const auto& c = colourPresets()[(size_t)hot.extra];
        const auto& v = model_.value(hot.index, hot.which);
        p.fill(hot.r,
               makePixel((uint8_t)(c[0] / 257), (uint8_t)(c[1] / 257), (uint8_t)(c[2] / 257)));
        bool chosen = v[0] == c[0] && v[1] == c[1] && v[2] == c[2];
        p.frame(hot.r, chosen ? colour::selection : colour::border, chosen ? 2 : 1);
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
  const auto& params = model_.params();
  for (int i = 0; i < (int)params.size(); ++i) {
    std::string label = params[(size_t)i].desc->name;
    if (params[(size_t)i].tweened) label += "  (start, end)";
    p.text(200, kTop + i * kParamPitch + 12, label, kTextSize, colour::black);
  }
  Rect pv = makeRect(450, kTop, 450 + kPreviewW, kTop + kPreviewH);
  p.image(pv, preview_);
  p.frame(vt::ui::outset(pv, 1), colour::border);
}

void Dialog::redraw() {
  if (!window_ || !vt::ui::isLiveWindow(window_)) return;
  draw();
  vt::ui::portChanged(&window_->port, makeRect(0, 0, kWidth, windowHeight(model_.effects())));
}

void Dialog::slide(const Hot& hot, Point local) {
  const auto& d = *model_.params()[(size_t)hot.index].desc;
  vt::ui::Slider s;
  s.rect = hot.r;
  s.min = d.minValue;
  s.max = d.maxValue;
  std::array<double, 3> v = model_.value(hot.index, hot.which);
  v[0] = s.valueAt(local.h);
  model_.setValue(hot.index, hot.which, v);
}

Answer Dialog::click(Point local, bool shift) {
  for (const auto& hot : layout()) {
    if (!inRect(local, hot.r)) continue;
    switch (hot.kind) {
      case Hot::OK:
      case Hot::Cancel: {
        bool released = vt::ui::trackPress(window_, hot.r, [&](bool on) {
          pressedButton_ = on ? hot.kind : -1;
          redraw();
        });
        if (!released) return Answer::Handled;
        return hot.kind == Hot::OK ? Answer::Confirm : Answer::Cancel;
      }
      case Hot::ListRow:
        select(hot.index);
        return Answer::Handled;
      case Hot::Slider:
        // Follows the mouse while the button is held; the preview catches up on release.
        slide(hot, local);
        redraw();
        if (!vt::ui::trackDrag(window_, [&](Point p) {
              slide(hot, p);
              redraw();
            }))
          return Answer::Handled;  // the window went away meanwhile
        changed();
        return Answer::Handled;
      case Hot::EnumCycle:
        // Shift-click steps back through long lists such as the wipe patterns.
        model_.stepEnum(hot.index, hot.which, shift);
        changed();
        return Answer::Handled;
      case Hot::Check:
        model_.toggle(hot.index, hot.which);
        changed();
        return Answer::Handled;
      case Hot::Swatch:
        model_.setValue(hot.index, hot.which, colourPresets()[(size_t)hot.extra]);
        changed();
        return Answer::Handled;
    }
  }
  return Answer::Handled;
}

Answer Dialog::handleEvent(const EventRecord& e) {
  if (!window_ || !vt::ui::isLiveWindow(window_)) return Answer::NotMine;
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
          return Answer::NotMine;
        case vt::ui::DialogClick::content:
          if (FrontWindow() != window_) {
            SelectWindow(window_);
            return Answer::Handled;
          }
          return click(local, (e.modifiers & shiftKey) != 0);
        default:
          return Answer::Handled;
      }
    }
    case mouseUp: {
      WindowRef w = nullptr;
      FindWindow(e.where, &w);
      return w == window_ ? Answer::Handled : Answer::NotMine;
    }
    case keyDown:
    case autoKey: {
      if (FrontWindow() != window_) return Answer::NotMine;
      if (e.modifiers & cmdKey) return Answer::NotMine;  // menu shortcuts stay the application's
      char c = (char)(e.message & charCodeMask);
      if (c == kReturnCharCode || c == kEnterCharCode) return Answer::Confirm;
      if (c == kEscapeCharCode) return Answer::Cancel;
      int selected = model_.selected();
      if (c == kUpArrowCharCode && selected > 0) select(selected - 1);
      if (c == kDownArrowCharCode && selected + 1 < (int)model_.effects().size())
        select(selected + 1);
      return Answer::Handled;
    }
    case keyUp:
      // The release follows its press: the dialog's unless it was a menu shortcut.
      if (FrontWindow() != window_ || (e.modifiers & cmdKey)) return Answer::NotMine;
      return Answer::Handled;
    case updateEvt:
      if ((WindowRef)e.message != window_) return Answer::NotMine;
      BeginUpdate(window_);
      draw();
      EndUpdate(window_);
      return Answer::Handled;
    case activateEvt:
      return (WindowRef)e.message == window_ ? Answer::Handled : Answer::NotMine;
    default:
      return Answer::NotMine;
  }
}

// Registry

namespace {
std::map<long, std::unique_ptr<Dialog>>& registry() {
  static std::map<long, std::unique_ptr<Dialog>> r;
  return r;
}
long nextId = 0x5D1A0001;
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

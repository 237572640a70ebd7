// Drawing the effects dialog: the list, the parameter controls, the animated preview and the
// progress curve.
#include <MacMemory.h>
#include <QTAtoms.h>

#include <algorithm>
#include <cmath>

#include "effects/render_api.h"
#include "events/event_queue.h"
#include "paramdialog/param_layout.h"
#include "paramdialog/param_window.h"
#include "ui/text.h"
#include "ui/widgets/painter.h"
#include "ui/window_server.h"

namespace vt::paramdialog {

using vt::ui::makeRect;
namespace colour = vt::ui::colour;

namespace {

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

void Dialog::draw() {
  vt::ui::PortPainter p(&window_->port);
  const auto& params = model_.params();
  int h = height();
  Hot focus{};
  bool hasFocus = focused(focus);
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
  for (const auto& hot : layout()) drawControl(p, hot, hasFocus ? &focus : nullptr);
  Rect pv = makeRect(kPreviewLeft, kTop, kPreviewLeft + kPreviewW, kTop + kPreviewH);
  p.image(pv, preview_);
  p.frame(vt::ui::outset(pv, 1), colour::border);
  if (auto easing = model_.easing()) drawCurve(p, *easing);
}

// One control as it stands, with the focus ring when `focus` is it.
void Dialog::drawControl(vt::ui::Painter& p, const Hot& hot, const Hot* focus) {
  const auto& effects = model_.effects();
  auto isFocused = [&](const Hot& h) {
    return focus && focus->kind == h.kind && focus->index == h.index && focus->which == h.which;
  };
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
        p.frame(vt::ui::outset(
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

}  // namespace vt::paramdialog

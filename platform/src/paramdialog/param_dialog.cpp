#include "paramdialog/param_dialog.h"

#include <Events.h>
#include <MacMemory.h>
#include <QTAtoms.h>
#include <QuickTimeEffects.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "core/fourcc.h"
#include "effects/render_api.h"
#include "events/event_queue.h"
#include "ui/text.h"
#include "ui/window_server.h"

namespace vt::paramdialog {

using vt::effects::ParamDesc;
using vt::effects::ParamType;
using vt::effects::TweenFlag;

namespace {

constexpr int kWidth = 640;
constexpr int kMinHeight = 420;
constexpr int kTop = 30;
constexpr int kRow = 18;
constexpr int kParamPitch = 38;
constexpr int kPreviewW = 180;
constexpr int kPreviewH = 135;
constexpr int kAnimTicks = 120;  // one preview cycle: two seconds

const Pixel kWhite = makePixel(255, 255, 255);
const Pixel kBlack = makePixel(0, 0, 0);
const Pixel kFace = makePixel(232, 232, 232);
const Pixel kSelect = makePixel(60, 100, 200);
const Pixel kFill = makePixel(150, 180, 235);
const Pixel kFrame = makePixel(90, 90, 90);

Rect mkRect(int left, int top, int right, int bottom) {
  Rect r;
  r.left = (short)left;
  r.top = (short)top;
  r.right = (short)right;
  r.bottom = (short)bottom;
  return r;
}

bool inRect(Point p, const Rect& r) {
  return p.h >= r.left && p.h < r.right && p.v >= r.top && p.v < r.bottom;
}

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

std::array<double, 3> clampValue(const ParamDesc& d, std::array<double, 3> v) {
  if (d.type == ParamType::RGB) {
    for (auto& c : v) c = std::clamp(c, 0.0, 65535.0);
    return v;
  }
  double lo = std::min(d.minValue, d.maxValue), hi = std::max(d.minValue, d.maxValue);
  if (d.type == ParamType::Bool) {
    v[0] = v[0] != 0 ? 1 : 0;
  } else if (d.type == ParamType::Enum) {
    // Only listed values are valid; snap to the nearest one.
    if (!d.enumValues.empty()) {
      long best = d.enumValues.front().value;
      for (const auto& it : d.enumValues)
        if (std::fabs((double)it.value - v[0]) < std::fabs((double)best - v[0])) best = it.value;
      v[0] = (double)best;
    }
  } else {
    if (std::isnan(v[0])) v[0] = lo;
    if (hi > lo) v[0] = std::clamp(v[0], lo, hi);
    if (d.type == ParamType::Long) v[0] = std::round(v[0]);
  }
  return v;
}

std::string formatValue(const ParamDesc& d, const std::array<double, 3>& v) {
  char buf[64];
  switch (d.type) {
    case ParamType::Enum:
      for (const auto& it : d.enumValues)
        if ((double)it.value == v[0]) return it.name;
      std::snprintf(buf, sizeof buf, "%ld", (long)v[0]);
      return buf;
    case ParamType::Long:
      std::snprintf(buf, sizeof buf, "%ld", (long)v[0]);
      break;
    default:
      std::snprintf(buf, sizeof buf, "%.1f", v[0]);
      break;
  }
  std::string s = buf;
  if (d.usage == "percent") s += " %";
  else if (d.usage == "degrees") s += " deg";
  else if (d.usage == "pixels") s += " px";
  return s;
}

void putCode(QTAtomContainer c, QTAtom parent, QTAtomType type, long value, QTAtom* out) {
  uint8_t b[4] = {(uint8_t)(value >> 24), (uint8_t)(value >> 16), (uint8_t)(value >> 8),
                  (uint8_t)value};
  QTInsertChild(c, parent, type, 1, 0, 4, b, out);
}

}  // namespace

const std::vector<std::array<double, 3>>& colourPresets() {
  static const std::vector<std::array<double, 3>> presets = {
      {0, 0, 0},         {65535, 65535, 65535}, {65535, 0, 0},
      {0, 65535, 0},     {0, 0, 65535},         {65535, 65535, 0},
  };
  return presets;
}

std::vector<EffectEntry> parseEffectsList(QTAtomContainer list) {
  std::vector<EffectEntry> out;
  if (!list) return out;
  short n = QTCountChildrenOfType(list, kParentAtomIsContainer, kEffectTypeAtom);
  for (short i = 1; i <= n; ++i) {
    QTAtomID id = 0;
    QTAtom typeAtom = QTFindChildByIndex(list, kParentAtomIsContainer, kEffectTypeAtom, i, &id);
    if (!typeAtom) continue;
    uint8_t code[4] = {0, 0, 0, 0};
    long got = 0;
    if (QTCopyAtomDataToPtr(list, typeAtom, true, 4, code, &got) != noErr || got != 4) continue;
    EffectEntry e;
    e.code = (OSType)((uint32_t)code[0] << 24 | (uint32_t)code[1] << 16 |
                      (uint32_t)code[2] << 8 | code[3]);
    e.info = vt::effects::findEffect(e.code);
    QTAtom nameAtom = QTFindChildByID(list, kParentAtomIsContainer, kEffectNameAtom, id, nullptr);
    if (nameAtom) {
      unsigned char buf[256] = {0};
      long size = 0;
      if (QTCopyAtomDataToPtr(list, nameAtom, true, 256, buf, &size) == noErr && size > 0) {
        size_t len = std::min<size_t>(buf[0], (size_t)size - 1);
        e.name.assign((const char*)buf + 1, len);
      }
    }
    if (e.name.empty()) e.name = e.info ? vt::ui::utf8ToMacRoman(e.info->name)
                                        : (e.code == 0 ? "None" : "?");
    out.push_back(std::move(e));
  }
  return out;
}

Dialog::Dialog(std::vector<EffectEntry> effects, QTAtomContainer target)
    : effects_(std::move(effects)), target_(target) {
  preview_ = Image(kPreviewW, kPreviewH);
  animStart_ = vt::events::ticks();
  if (!effects_.empty()) select(0);
}

Dialog::~Dialog() {
  if (window_ && vt::ui::isLiveWindow(window_)) DisposeWindow(window_);
}

bool Dialog::open() {
  Rect desk = vt::ui::desktopBounds();
  int h = windowHeight(effects_);
  int left = desk.left + std::max(0, ((desk.right - desk.left) - kWidth) / 2);
  int top = desk.top + vt::ui::kTitleBarHeight +
            std::max(0, ((desk.bottom - desk.top) - h - vt::ui::kTitleBarHeight) / 3);
  Rect bounds = mkRect(left, top, left + kWidth, top + h);
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
  if (index < 0 || index >= (int)effects_.size()) return;
  selected_ = index;
  params_.clear();
  if (const auto* info = effects_[index].info) {
    for (const auto& d : info->params) {
      if (d.type == ParamType::Image) continue;  // no image inputs in this dialog
      ParamState s;
      s.desc = &d;
      s.tweened = d.tween == TweenFlag::Always || (d.tween == TweenFlag::Optional && d.defaultTweened);
      s.start = d.defaultValue;
      s.end = d.defaultTweened ? d.defaultEnd : d.defaultValue;
      params_.push_back(s);
    }
  }
  // Keep the selection in view.
  int rows = (int)((windowHeight(effects_) - kTop - 50) / kRow);
  if (selected_ < listScroll_) listScroll_ = selected_;
  if (selected_ >= listScroll_ + rows) listScroll_ = selected_ - rows + 1;
  animStart_ = vt::events::ticks();
  if (window_) {
    renderPreview();
    redraw();
  }
}

bool Dialog::setParam(OSType code, int which, double value) {
  for (auto& p : params_) {
    if (p.desc->code != code) continue;
    if (which == 1 && !p.tweened) return false;
    auto& slot = which == 1 ? p.end : p.start;
    std::array<double, 3> v = slot;
    v[0] = value;
    slot = clampValue(*p.desc, v);
    if (window_) {
      renderPreview();
      redraw();
    }
    return true;
  }
  return false;
}

void Dialog::setPreview(int sourceID, const Image& img) {
  if (sourceID == 1) {
    srcA_ = img;
    hasA_ = true;
  } else {
    srcB_ = img;
    hasB_ = true;
  }
  if (window_) {
    renderPreview();
    redraw();
  }
}

bool Dialog::hasPreview(int sourceID) const { return sourceID == 1 ? hasA_ : hasB_; }

QTAtomContainer Dialog::buildDescription(bool withSources) const {
  QTAtomContainer c = nullptr;
  if (QTNewAtomContainer(&c) != noErr) return nullptr;
  OSType code = selected_ >= 0 ? effects_[selected_].code : 0;
  putCode(c, kParentAtomIsContainer, kParameterWhatName, (long)code, nullptr);
  if (withSources && selected_ >= 0 && effects_[selected_].info) {
    int n = effects_[selected_].info->sources;
    if (n >= 1) {
      uint8_t a[4] = {'s', 'r', 'c', 'A'};
      QTInsertChild(c, kParentAtomIsContainer, kEffectSourceName, 1, 0, 4, a, nullptr);
    }
    if (n >= 2) {
      uint8_t b[4] = {'s', 'r', 'c', 'B'};
      QTInsertChild(c, kParentAtomIsContainer, kEffectSourceName, 2, 0, 4, b, nullptr);
    }
  }
  for (const auto& p : params_) {
    std::vector<uint8_t> first = vt::effects::encodeValue(*p.desc, p.start);
    if (first.empty()) continue;
    long tweenType = vt::effects::tweenTypeFor(*p.desc);
    if (p.tweened && tweenType != 0) {
      std::vector<uint8_t> data = first;
      std::vector<uint8_t> second = vt::effects::encodeValue(*p.desc, p.end);
      data.insert(data.end(), second.begin(), second.end());
      QTAtom holder = 0, tween = 0;
      if (QTInsertChild(c, kParentAtomIsContainer, p.desc->code, 1, 0, 0, nullptr, &holder) !=
              noErr ||
          QTInsertChild(c, holder, kParameterTweenAtom, 1, 0, 0, nullptr, &tween) != noErr) {
        QTDisposeAtomContainer(c);
        return nullptr;
      }
      putCode(c, tween, kTweenTypeAtom, tweenType, nullptr);
      QTInsertChild(c, tween, kTweenDataAtom, 1, 0, (long)data.size(), data.data(), nullptr);
    } else {
      QTInsertChild(c, kParentAtomIsContainer, p.desc->code, 1, 0, (long)first.size(),
                    first.data(), nullptr);
    }
  }
  return c;
}

OSErr Dialog::confirm() {
  // The caller may have released its container meanwhile.
  if (!target_ || !VTIsValidHandle(target_)) return paramErr;
  QTAtomContainer made = buildDescription(false);
  if (!made) return memFullErr;
  // Replace any earlier choice; source names the caller added stay.
  for (;;) {
    QTAtom child = 0, victim = 0;
    while (QTNextChildAnyType(target_, kParentAtomIsContainer, child, &child) == noErr && child) {
      QTAtomType type = 0;
      QTAtomID id = 0;
      QTGetAtomTypeAndID(target_, child, &type, &id);
      if (type != kEffectSourceName) {
        victim = child;
        break;
      }
    }
    if (!victim) break;
    if (QTRemoveAtom(target_, victim) != noErr) break;
  }
  OSErr err = QTInsertChildren(target_, kParentAtomIsContainer, made);
  QTDisposeAtomContainer(made);
  return err;
}

void Dialog::renderPreview() {
  static const Image genA = testImage(1), genB = testImage(2);
  if (selected_ < 0 || !effects_[selected_].info) {
    preview_ = Image(kPreviewW, kPreviewH, kFace);
    return;
  }
  uint32_t now = vt::events::ticks();
  lastFrameTick_ = now;
  int64_t t = (int64_t)((now - animStart_) % kAnimTicks);
  QTAtomContainer desc = buildDescription(true);
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
  int h = windowHeight(effects_);
  int rows = (h - kTop - 50) / kRow;
  for (int i = listScroll_; i < (int)effects_.size() && i < listScroll_ + rows; ++i) {
    int y = kTop + (i - listScroll_) * kRow;
    hots.push_back({Hot::ListRow, mkRect(10, y, 190, y + kRow), i, 0, 0});
  }
  for (int i = 0; i < (int)params_.size(); ++i) {
    const auto& p = params_[i];
    int y = kTop + i * kParamPitch + 16;
    int parts = p.tweened ? 2 : 1;
    int w = parts == 2 ? 115 : 240;
    for (int which = 0; which < parts; ++which) {
      int x = 200 + which * 125;
      switch (p.desc->type) {
        case ParamType::Enum:
          hots.push_back({Hot::EnumCycle, mkRect(x, y, x + w, y + 18), i, which, 0});
          break;
        case ParamType::Bool:
          hots.push_back({Hot::Check, mkRect(x, y + 2, x + 14, y + 16), i, which, 0});
          break;
        case ParamType::RGB:
          for (int k = 0; k < (int)colourPresets().size(); ++k)
            hots.push_back({Hot::Swatch, mkRect(x + k * 19, y, x + k * 19 + 16, y + 18), i,
                            which, k});
          break;
        default:
          hots.push_back({Hot::Slider, mkRect(x, y, x + w, y + 18), i, which, 0});
          break;
      }
    }
  }
  hots.push_back({Hot::Cancel, mkRect(450, h - 40, 530, h - 14), 0, 0, 0});
  hots.push_back({Hot::OK, mkRect(550, h - 40, 630, h - 14), 0, 0, 0});
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
  VTPort* port = &window_->port;
  int h = windowHeight(effects_);
  vt::ui::TextStyle text;
  vt::ui::TextStyle bold;
  bold.bold = true;
  vt::ui::fillRect(port, mkRect(0, 0, kWidth, h), kFace);
  vt::ui::drawString(port, 10, 20, "Effect", bold);
  vt::ui::drawString(port, 200, 20, "Parameters", bold);
  vt::ui::drawString(port, 450, 20, "Preview", bold);
  vt::ui::fillRect(port, mkRect(10, kTop, 190, h - 50), kWhite);
  vt::ui::frameRect(port, mkRect(9, kTop - 1, 191, h - 49), kFrame);
  for (const auto& hot : layout()) {
    switch (hot.kind) {
      case Hot::ListRow: {
        bool sel = hot.index == selected_;
        if (sel) vt::ui::fillRect(port, hot.r, kSelect);
        vt::ui::TextStyle s = text;
        s.color = sel ? kWhite : kBlack;
        vt::ui::drawString(port, hot.r.left + 4, hot.r.bottom - 5, effects_[hot.index].name, s);
        break;
      }
      case Hot::Slider: {
        const auto& p = params_[hot.index];
        const auto& v = hot.which ? p.end : p.start;
        double span = p.desc->maxValue - p.desc->minValue;
        double frac = span > 0 ? (v[0] - p.desc->minValue) / span : 0;
        frac = std::clamp(frac, 0.0, 1.0);
        vt::ui::fillRect(port, hot.r, kWhite);
        Rect bar = hot.r;
        bar.right = (short)(bar.left + (int)std::lround(frac * (hot.r.right - hot.r.left)));
        vt::ui::fillRect(port, bar, kFill);
        vt::ui::frameRect(port, hot.r, kFrame);
        vt::ui::drawString(port, hot.r.left + 4, hot.r.bottom - 5,
                           vt::ui::utf8ToMacRoman(formatValue(*p.desc, v)), text);
        break;
      }
      case Hot::EnumCycle: {
        const auto& p = params_[hot.index];
        vt::ui::fillRect(port, hot.r, kWhite);
        vt::ui::frameRect(port, hot.r, kFrame);
        vt::ui::drawString(port, hot.r.left + 4, hot.r.bottom - 5,
                           vt::ui::utf8ToMacRoman(formatValue(*p.desc, hot.which ? p.end : p.start)),
                           text);
        vt::ui::drawString(port, hot.r.right - 14, hot.r.bottom - 5, ">", bold);
        break;
      }
      case Hot::Check: {
        const auto& p = params_[hot.index];
        vt::ui::fillRect(port, hot.r, kWhite);
        vt::ui::frameRect(port, hot.r, kFrame);
        if ((hot.which ? p.end : p.start)[0] != 0)
          vt::ui::fillRect(port, mkRect(hot.r.left + 3, hot.r.top + 3, hot.r.right - 3,
                                        hot.r.bottom - 3), kBlack);
        break;
      }
      case Hot::Swatch: {
        const auto& p = params_[hot.index];
        const auto& c = colourPresets()[hot.extra];
        const auto& v = hot.which ? p.end : p.start;
        vt::ui::fillRect(port, hot.r,
                         makePixel((uint8_t)(c[0] / 257), (uint8_t)(c[1] / 257), (uint8_t)(c[2] / 257)));
        bool chosen = v[0] == c[0] && v[1] == c[1] && v[2] == c[2];
        vt::ui::frameRect(port, hot.r, chosen ? kSelect : kFrame, chosen ? 2 : 1, chosen ? 2 : 1);
        break;
      }
      case Hot::OK:
      case Hot::Cancel: {
        vt::ui::fillRect(port, hot.r, kWhite);
        bool ok = hot.kind == Hot::OK;
        vt::ui::frameRect(port, hot.r, kBlack, ok ? 2 : 1, ok ? 2 : 1);
        const char* label = ok ? "OK" : "Cancel";
        int w = vt::ui::measureText(label, 12, false);
        vt::ui::drawString(port, (hot.r.left + hot.r.right - w) / 2, hot.r.bottom - 8, label, text);
        break;
      }
    }
  }
  for (int i = 0; i < (int)params_.size(); ++i) {
    std::string label = params_[i].desc->name;
    if (params_[i].tweened) label += "  (start, end)";
    vt::ui::drawString(port, 200, kTop + i * kParamPitch + 12, vt::ui::utf8ToMacRoman(label), text);
  }
  Rect pv = mkRect(450, kTop, 450 + kPreviewW, kTop + kPreviewH);
  vt::ui::drawImage(port, preview_, pv);
  vt::ui::frameRect(port, mkRect(pv.left - 1, pv.top - 1, pv.right + 1, pv.bottom + 1), kFrame);
}

void Dialog::redraw() {
  if (!window_ || !vt::ui::isLiveWindow(window_)) return;
  draw();
  vt::ui::portChanged(&window_->port, mkRect(0, 0, kWidth, windowHeight(effects_)));
}

bool Dialog::trackButton(const Rect& r) {
  Point where{0, 0};
  while (vt::events::trackMouse(where)) {
  }
  Point local{(short)(where.v - window_->content.top), (short)(where.h - window_->content.left)};
  return inRect(local, r);
}

void Dialog::applyHot(const Hot& hot, Point local, bool backwards) {
  auto& p = params_[hot.index];
  auto& slot = hot.which ? p.end : p.start;
  std::array<double, 3> v = slot;
  switch (hot.kind) {
    case Hot::Slider: {
      double frac = (double)(local.h - hot.r.left) / std::max(1, hot.r.right - hot.r.left - 1);
      frac = std::clamp(frac, 0.0, 1.0);
      v[0] = p.desc->minValue + frac * (p.desc->maxValue - p.desc->minValue);
      break;
    }
    case Hot::EnumCycle: {
      const auto& items = p.desc->enumValues;
      if (items.empty()) return;
      size_t at = 0;
      for (size_t k = 0; k < items.size(); ++k)
        if ((double)items[k].value == v[0]) at = k;
      // Shift-click steps back through long lists such as the wipe patterns.
      size_t next = backwards ? (at + items.size() - 1) % items.size() : (at + 1) % items.size();
      v[0] = (double)items[next].value;
      break;
    }
    case Hot::Check:
      v[0] = v[0] != 0 ? 0 : 1;
      break;
    case Hot::Swatch:
      v = colourPresets()[hot.extra];
      break;
    default:
      return;
  }
  slot = clampValue(*p.desc, v);
}

Answer Dialog::click(Point local, bool shift) {
  for (const auto& hot : layout()) {
    if (!inRect(local, hot.r)) continue;
    switch (hot.kind) {
      case Hot::OK:
        return trackButton(hot.r) ? Answer::Confirm : Answer::Handled;
      case Hot::Cancel:
        return trackButton(hot.r) ? Answer::Cancel : Answer::Handled;
      case Hot::ListRow:
        select(hot.index);
        return Answer::Handled;
      case Hot::Slider: {
        // Follows the mouse while the button is held.
        applyHot(hot, local);
        redraw();
        Point where{0, 0};
        while (vt::events::trackMouse(where)) {
          applyHot(hot, Point{(short)(where.v - window_->content.top),
                              (short)(where.h - window_->content.left)});
          redraw();
        }
        applyHot(hot, Point{(short)(where.v - window_->content.top),
                            (short)(where.h - window_->content.left)});
        renderPreview();
        redraw();
        return Answer::Handled;
      }
      default:
        applyHot(hot, local, shift);
        renderPreview();
        redraw();
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
      WindowRef w = nullptr;
      WindowPartCode part = FindWindow(e.where, &w);
      if (w != window_) return Answer::NotMine;
      if (part == inDrag) {
        Rect limit = vt::ui::desktopBounds();
        DragWindow(window_, e.where, &limit);
        return Answer::Handled;
      }
      if (part != inContent) return Answer::Handled;
      if (FrontWindow() != window_) {
        SelectWindow(window_);
        return Answer::Handled;
      }
      return click(Point{(short)(e.where.v - window_->content.top),
                         (short)(e.where.h - window_->content.left)},
                   (e.modifiers & shiftKey) != 0);
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
      if (c == kUpArrowCharCode && selected_ > 0) select(selected_ - 1);
      if (c == kDownArrowCharCode && selected_ + 1 < (int)effects_.size()) select(selected_ + 1);
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

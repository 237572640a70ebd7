#include "paramdialog/param_model.h"

#include <MacMemory.h>
#include <QTAtoms.h>
#include <QuickTimeEffects.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/macroman.h"
#include "effects/description.h"
#include "effects/render_api.h"

namespace vt::paramdialog {

using vt::effects::ParamDesc;
using vt::effects::ParamType;
using vt::effects::TweenFlag;

namespace {

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

void putCode(QTAtomContainer c, QTAtom parent, QTAtomType type, long value, QTAtom* out) {
  uint8_t b[4] = {(uint8_t)(value >> 24), (uint8_t)(value >> 16), (uint8_t)(value >> 8),
                  (uint8_t)value};
  QTInsertChild(c, parent, type, 1, 0, 4, b, out);
}

}  // namespace

std::string formatValue(const ParamDesc& d, const std::array<double, 3>& v) {
  char buf[64];
  switch (d.type) {
    case ParamType::Enum:
      for (const auto& it : d.enumValues)
        if ((double)it.value == v[0]) return it.name;
      std::snprintf(buf, sizeof buf, "%ld", (long)v[0]);
      return buf;
    case ParamType::Long: std::snprintf(buf, sizeof buf, "%ld", (long)v[0]); break;
    default: std::snprintf(buf, sizeof buf, "%.1f", v[0]); break;
  }
  std::string s = buf;
  if (d.usage == "percent")
    s += " %";
  else if (d.usage == "degrees")
    s += " deg";
  else if (d.usage == "pixels")
    s += " px";
  return s;
}

std::string unitOf(const ParamDesc& d) {
  if (d.type == ParamType::Enum || d.type == ParamType::Bool) return "";
  if (d.usage == "percent") return "%";
  if (d.usage == "degrees") return "°";
  if (d.usage == "pixels") return "px";
  return "";
}

std::string formatNumber(const ParamDesc& d, double v) {
  char buf[64];
  if (d.type == ParamType::Long || d.type == ParamType::Enum) {
    std::snprintf(buf, sizeof buf, "%ld", std::lround(v));
    return buf;
  }
  std::snprintf(buf, sizeof buf, "%.3f", v);
  std::string s = buf;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

int decimalsOf(const ParamDesc& d) {
  if (d.type == ParamType::Long || d.type == ParamType::Enum || d.type == ParamType::Bool) return 0;
  if (d.usage == "pixels" || d.usage == "degrees" || d.usage == "percent") return 0;
  const double span = std::fabs(d.maxValue - d.minValue);
  return span >= 50 ? 0 : span >= 5 ? 1 : 2;
}

double sliderValue(const ParamDesc& d, double v) {
  const double scale = std::pow(10.0, decimalsOf(d));
  const double lo = std::min(d.minValue, d.maxValue), hi = std::max(d.minValue, d.maxValue);
  return std::clamp(std::round(v * scale) / scale, lo, hi);
}

std::optional<double> parseNumber(const ParamDesc& d, std::string_view text) {
  auto trim = [](std::string_view& t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  };
  trim(text);
  // The parameter's own unit may be typed after the number (degrees also as "deg").
  const std::string own = unitOf(d);
  for (std::string_view unit : {std::string_view(own), std::string_view(own == "°" ? "deg" : "")}) {
    if (!unit.empty() && text.size() > unit.size() && text.ends_with(unit)) {
      text.remove_suffix(unit.size());
      break;
    }
  }
  trim(text);
  std::string number(text);
  std::replace(number.begin(), number.end(), ',', '.');  // either decimal mark
  if (!number.empty() && number.front() == '+') number.erase(0, 1);
  double v = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
  if (number.empty() || ec != std::errc() || end != number.data() + number.size() ||
      !std::isfinite(v))
    return std::nullopt;
  double lo = std::min(d.minValue, d.maxValue), hi = std::max(d.minValue, d.maxValue);
  const double slack = 1e-9 * std::max(1.0, hi - lo);
  if (hi > lo && (v < lo - slack || v > hi + slack)) return std::nullopt;
  if (d.type == ParamType::Long && std::fabs(v - std::round(v)) > 1e-9) return std::nullopt;
  return std::clamp(v, lo, hi > lo ? hi : v);
}

std::vector<uint8_t> encodeImage(const Image& img) {
  if (img.empty()) return {};
  const Image* src = &img;
  Image scaled;
  int longer = std::max(img.width, img.height);
  if (longer > kMaxImageSide) {
    scaled.resize(std::max(1, img.width * kMaxImageSide / longer),
                  std::max(1, img.height * kMaxImageSide / longer));
    scaleImage(img, scaled);
    src = &scaled;
  }
  std::vector<uint8_t> out(8 + (size_t)src->width * src->height * 4);
  auto put = [&](size_t at, uint32_t v) {
    out[at] = (uint8_t)(v >> 24);
    out[at + 1] = (uint8_t)(v >> 16);
    out[at + 2] = (uint8_t)(v >> 8);
    out[at + 3] = (uint8_t)v;
  };
  put(0, (uint32_t)src->width);
  put(4, (uint32_t)src->height);
  size_t at = 8;
  for (Pixel p : src->pixels) {
    put(at, p);
    at += 4;
  }
  return out;
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
    e.code = (OSType)((uint32_t)code[0] << 24 | (uint32_t)code[1] << 16 | (uint32_t)code[2] << 8 |
                      code[3]);
    QTAtom nameAtom = QTFindChildByID(list, kParentAtomIsContainer, kEffectNameAtom, id, nullptr);
    if (nameAtom) {
      unsigned char buf[256] = {0};
      long size = 0;
      if (QTCopyAtomDataToPtr(list, nameAtom, true, 256, buf, &size) == noErr && size > 0) {
        size_t len = std::min<size_t>(buf[0], (size_t)size - 1);
        e.name = vt::toolboxToUtf8(std::string_view((const char*)buf + 1, len));
      }
    }
    // Plugin effects share one code and are told apart by name.
    e.info = vt::effects::findEffect(e.code, e.name);
    if (e.name.empty()) e.name = e.info ? e.info->name : (e.code == 0 ? "None" : "?");
    out.push_back(std::move(e));
  }
  return out;
}

ParamModel::ParamModel(std::vector<EffectEntry> effects, DialogOptions options)
    : effects_(std::move(effects)), options_(options) {
  if (!effects_.empty()) select(0);
}

bool ParamModel::select(int index) {
  if (index < 0 || index >= (int)effects_.size()) return false;
  if (selected_ >= 0) kept_[selected_] = params_;
  selected_ = index;
  params_.clear();
  if (auto kept = kept_.find(index); kept != kept_.end()) {
    params_ = kept->second;
    return true;
  }
  if (const auto* info = effects_[(size_t)index].info) {
    for (const auto& d : info->params) {
      ParamState s;
      s.desc = &d;
      s.tweened = !options_.oneValue && (d.tween == TweenFlag::Always ||
                                         (d.tween == TweenFlag::Optional && d.defaultTweened));
      s.start = d.defaultValue;
      s.end = d.defaultTweened ? d.defaultEnd : d.defaultValue;
      s.text = d.defaultText;
      params_.push_back(s);
    }
  }
  return true;
}

const std::array<double, 3>& ParamModel::value(int param, int which) const {
  const ParamState& p = params_[(size_t)param];
  return which ? p.end : p.start;
}

void ParamModel::setValue(int param, int which, std::array<double, 3> v) {
  ParamState& p = params_[(size_t)param];
  (which ? p.end : p.start) = clampValue(*p.desc, v);
}

bool ParamModel::setParam(OSType code, int which, double value) {
  for (size_t i = 0; i < params_.size(); ++i)
    if (params_[i].desc->code == code) {
      std::array<double, 3> v = this->value((int)i, which);
      v[0] = value;
      return setParam(code, which, v);
    }
  return false;
}

bool ParamModel::setParam(OSType code, int which, const std::array<double, 3>& value) {
  for (size_t i = 0; i < params_.size(); ++i) {
    if (params_[i].desc->code != code) continue;
    if (which == 1 && !params_[i].tweened) return false;
    setValue((int)i, which, value);
    return true;
  }
  return false;
}

void ParamModel::stepEnum(int param, int which, bool backwards) {
  const auto& items = params_[(size_t)param].desc->enumValues;
  if (items.empty()) return;
  std::array<double, 3> v = value(param, which);
  size_t at = 0;
  for (size_t k = 0; k < items.size(); ++k)
    if ((double)items[k].value == v[0]) at = k;
  size_t next = backwards ? (at + items.size() - 1) % items.size() : (at + 1) % items.size();
  v[0] = (double)items[next].value;
  setValue(param, which, v);
}

void ParamModel::nudge(int param, int which, int steps) {
  const ParamDesc& d = *params_[(size_t)param].desc;
  if (d.type == ParamType::Enum) {
    for (int i = 0; i < std::abs(steps); ++i) stepEnum(param, which, steps < 0);
    return;
  }
  if (d.type == ParamType::Bool) {
    if (steps % 2) toggle(param, which);
    return;
  }
  if (d.type == ParamType::RGB || d.type == ParamType::Image || d.type == ParamType::Text) return;
  double range = std::fabs(d.maxValue - d.minValue);
  // Whole units where the range is wide, hundredths of it where it is narrow (0..1).
  double step = d.type == ParamType::Long || range >= 20 ? 1 : range / 100;
  if (step <= 0) step = 1;
  std::array<double, 3> v = value(param, which);
  v[0] = std::round((v[0] + steps * step) / step) * step;  // onto the step grid
  setValue(param, which, v);
}

bool ParamModel::canSwitchTween(int param) const {
  const ParamDesc& d = *params_[(size_t)param].desc;
  return options_.optionalTweens && !options_.oneValue && d.tween == TweenFlag::Optional &&
         vt::effects::tweenTypeFor(d) != 0;
}

bool ParamModel::setTweened(int param, bool on) {
  if (!canSwitchTween(param)) return false;
  ParamState& p = params_[(size_t)param];
  if (on && !p.tweened) p.end = p.start;
  p.tweened = on;
  return true;
}

bool ParamModel::setImage(int param, const Image& img, std::string name) {
  ParamState& p = params_[(size_t)param];
  if (p.desc->type != ParamType::Image) return false;
  p.image = encodeImage(img);
  p.imageName = p.image.empty() ? std::string() : std::move(name);
  return true;
}

bool ParamModel::setText(int param, std::string text) {
  ParamState& p = params_[(size_t)param];
  if (p.desc->type != ParamType::Text) return false;
  p.text = std::move(text);
  return true;
}

bool ParamModel::setText(OSType code, std::string text) {
  for (size_t i = 0; i < params_.size(); ++i)
    if (params_[i].desc->code == code) return setText((int)i, std::move(text));
  return false;
}

void ParamModel::toggle(int param, int which) {
  std::array<double, 3> v = value(param, which);
  v[0] = v[0] != 0 ? 0 : 1;
  setValue(param, which, v);
}

std::optional<vt::effects::Easing> ParamModel::easing() const {
  std::optional<vt::effects::Easing> e;
  for (const auto& p : params_) {
    if (!vt::effects::isEasingParam(p.desc->code)) continue;
    if (!e) e.emplace();
    if (p.desc->code == vt::effects::kEaseKindParam) e->kind = (int)std::lround(p.start[0]);
    for (size_t k = 0; k < 4; ++k)
      if (p.desc->code == vt::effects::kBezierParams[k]) e->bezier[k] = p.start[0];
  }
  return e;
}

QTAtomContainer ParamModel::buildDescription(bool withSources) const {
  const vt::effects::EffectInfo* info = selected_ >= 0 ? effects_[selected_].info : nullptr;
  if (info) {
    std::vector<vt::effects::DescriptionParam> values;
    for (const auto& p : params_)
      values.push_back({p.desc->code, p.start, p.tweened, p.end,
                        p.desc->type == ParamType::Text
                            ? std::vector<uint8_t>(p.text.begin(), p.text.end())
                            : p.image});
    std::vector<uint8_t> bytes = vt::effects::buildDescription(*info, withSources, values);
    Handle h = nullptr;
    if (PtrToHand(bytes.data(), &h, (long)bytes.size()) != noErr) return nullptr;
    return h;
  }
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
    if (p.desc->type == ParamType::Image) {
      // No picture chosen: the effect's own default.
      if (!p.image.empty())
        QTInsertChild(c, kParentAtomIsContainer, p.desc->code, 1, 0, (long)p.image.size(),
                      const_cast<uint8_t*>(p.image.data()), nullptr);
      continue;
    }
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
      QTInsertChild(c, kParentAtomIsContainer, p.desc->code, 1, 0, (long)first.size(), first.data(),
                    nullptr);
    }
  }
  return c;
}

OSErr ParamModel::writeInto(QTAtomContainer target) const {
  // The caller may have released its container meanwhile.
  if (!target || !VTIsValidHandle(target)) return paramErr;
  QTAtomContainer made = buildDescription(false);
  if (!made) return memFullErr;
  // Replace any earlier choice; source names the caller added stay.
  for (;;) {
    QTAtom child = 0, victim = 0;
    while (QTNextChildAnyType(target, kParentAtomIsContainer, child, &child) == noErr && child) {
      QTAtomType type = 0;
      QTAtomID id = 0;
      QTGetAtomTypeAndID(target, child, &type, &id);
      if (type != kEffectSourceName) {
        victim = child;
        break;
      }
    }
    if (!victim) break;
    if (QTRemoveAtom(target, victim) != noErr) break;
  }
  OSErr err = QTInsertChildren(target, kParentAtomIsContainer, made);
  QTDisposeAtomContainer(made);
  return err;
}

}  // namespace vt::paramdialog

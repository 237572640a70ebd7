#include "paramdialog/param_model.h"

#include <MacMemory.h>
#include <QTAtoms.h>
#include <QuickTimeEffects.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/macroman.h"
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
    if (e.name.empty()) e.name = e.info ? vt::utf8ToMacRoman(e.info->name)
                                        : (e.code == 0 ? "None" : "?");
    out.push_back(std::move(e));
  }
  return out;
}

ParamModel::ParamModel(std::vector<EffectEntry> effects) : effects_(std::move(effects)) {
  if (!effects_.empty()) select(0);
}

bool ParamModel::select(int index) {
  if (index < 0 || index >= (int)effects_.size()) return false;
  selected_ = index;
  params_.clear();
  if (const auto* info = effects_[(size_t)index].info) {
    for (const auto& d : info->params) {
      if (d.type == ParamType::Image) continue;  // no image inputs in this dialog
      ParamState s;
      s.desc = &d;
      s.tweened =
          d.tween == TweenFlag::Always || (d.tween == TweenFlag::Optional && d.defaultTweened);
      s.start = d.defaultValue;
      s.end = d.defaultTweened ? d.defaultEnd : d.defaultValue;
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

void ParamModel::toggle(int param, int which) {
  std::array<double, 3> v = value(param, which);
  v[0] = v[0] != 0 ? 0 : 1;
  setValue(param, which, v);
}

QTAtomContainer ParamModel::buildDescription(bool withSources) const {
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

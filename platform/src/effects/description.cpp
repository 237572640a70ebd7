#include "effects/description.h"

#include <MacErrors.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/fourcc.h"

namespace vt::effects {
namespace {

// Descriptions that cannot be read: a broken layout, or atoms whose data is not what the
// format says.
vt::Status malformed(const char* why) { return vt::Status::failure(invalidAtomErr, why); }
// Well-formed descriptions of effects that are not here.
vt::Status unknownEffect(const char* why) { return vt::Status::failure(noCodecErr, why); }

bool decodeImage(const uint8_t* p, size_t n, ImageRef& img) {
  if (n < 8) return false;
  uint32_t w = readBE32(p), h = readBE32(p + 4);
  if (w == 0 || h == 0 || w > 16384 || h > 16384) return false;
  if ((n - 8) / 4 / w < h) return false;
  img.pixels = p + 8;
  img.width = (int)w;
  img.height = (int)h;
  return true;
}

// A plain value of the parameter's type.
bool decodePlain(const ParamDesc& pd, const uint8_t* p, size_t n, ParsedParam& out) {
  auto& v = out.start;
  switch (pd.type) {
    case ParamType::Fixed:
      if (n != 4) return false;
      v[0] = (int32_t)readBE32(p) / 65536.0;
      return true;
    case ParamType::Long:
    case ParamType::Enum:
      if (n != 4) return false;
      v[0] = (int32_t)readBE32(p);
      return true;
    case ParamType::Bool:
      if (n != 1 && n != 2 && n != 4) return false;
      v[0] = std::any_of(p, p + n, [](uint8_t b) { return b != 0; }) ? 1 : 0;
      return true;
    case ParamType::RGB:
      if (n != 6) return false;
      for (int i = 0; i < 3; ++i) v[(size_t)i] = readBE16(p + 2 * i);
      return true;
    case ParamType::Double: {
      if (n != 8) return false;
      uint64_t bits = readBE64(p);
      double d;
      std::memcpy(&d, &bits, 8);
      if (!std::isfinite(d)) return false;
      v[0] = d;
      return true;
    }
    case ParamType::Image: return decodeImage(p, n, out.image);
    case ParamType::Text: out.text = std::string_view((const char*)p, n); return true;
  }
  return false;
}

bool decodeTweenValue(long type, const uint8_t* p, std::array<double, 3>& v) {
  switch (type) {
    case 1: v[0] = (int16_t)readBE16(p); return true;
    case 2: v[0] = (int32_t)readBE32(p); return true;
    case 3: v[0] = (int32_t)readBE32(p) / 65536.0; return true;
    case 8:
      for (int i = 0; i < 3; ++i) v[(size_t)i] = readBE16(p + 2 * i);
      return true;
    default: return false;
  }
}

using vt::atoms::View;

// The first child of a type, or -1.
int child(const View& v, int parent, OSType type, int index = 1) {
  return v.findByIndex(parent, type, index);
}
bool isLeaf(const View& v, int n) { return v.node(n).isLeaf(); }
size_t dataSize(const View& v, int n) { return isLeaf(v, n) ? v.node(n).dataSize() : 0; }
const uint8_t* dataOf(const View& v, int n) { return v.bytes() + v.node(n).dataOffset(); }

bool readTime(const View& t, int atom, int64_t& out) {
  if (!isLeaf(t, atom)) return false;
  if (dataSize(t, atom) == 4)
    out = (int32_t)readBE32(dataOf(t, atom));
  else if (dataSize(t, atom) == 8)
    out = (int64_t)readBE64(dataOf(t, atom));
  else
    return false;
  return true;
}

bool decodeTween(const ParamDesc& pd, const View& t, int atom, ParsedParam& out) {
  int twen = child(t, atom, 'twen');
  if (twen < 0 || isLeaf(t, twen)) return false;
  int type = child(t, twen, 'twnt');
  int data = child(t, twen, 'data');
  if (data < 0) data = child(t, twen, 'twdt');
  if (type < 0 || data < 0 || dataSize(t, type) != 4 || !isLeaf(t, data)) return false;
  long tt = (long)readBE32(dataOf(t, type));
  size_t elem = tt == 1 ? 2 : tt == 2 || tt == 3 ? 4 : tt == 8 ? 6 : 0;
  if (elem == 0) return false;
  bool rgbParam = pd.type == ParamType::RGB;
  bool numericParam =
      pd.type == ParamType::Fixed || pd.type == ParamType::Long || pd.type == ParamType::Double;
  if (rgbParam != (tt == 8) || (!rgbParam && !numericParam)) return false;
  if (dataSize(t, data) != elem * 2) return false;
  const uint8_t* p = dataOf(t, data);
  if (!decodeTweenValue(tt, p, out.start) || !decodeTweenValue(tt, p + elem, out.end)) return false;
  int st = child(t, twen, 'twst');
  if (st >= 0 && !readTime(t, st, out.offset)) return false;
  int du = child(t, twen, 'twdu');
  if (du >= 0 && (!readTime(t, du, out.duration) || out.duration < 0)) return false;
  out.tweened = true;
  return true;
}

double clampTo(const ParamDesc& pd, double v) {
  if (!std::isfinite(v)) return pd.defaultValue[0];
  if (pd.type == ParamType::Enum) {
    long x = std::lround(v);
    for (const auto& e : pd.enumValues)
      if (e.value == x) return (double)x;
    return pd.defaultValue[0];
  }
  if (pd.type == ParamType::Long) v = std::round(v);
  return std::clamp(v, pd.minValue, pd.maxValue);
}

}  // namespace

uint32_t ImageRef::at(int x, int y) const { return readBE32(pixels + ((size_t)y * width + x) * 4); }

const ParamValue& ParamSet::get(OSType code) const {
  static const ParamValue zero{};
  if (info)
    for (size_t i = 0; i < info->params.size() && i < values.size(); ++i)
      if (info->params[i].code == code) return values[i];
  return zero;
}

uint64_t hashBytes(const uint8_t* p, size_t n, uint64_t h) {
  for (size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 1099511628211ULL;
  }
  return h;
}

vt::Status parseDescription(const uint8_t* bytes, size_t size, View& tree, Description& out) {
  out = Description{};
  if (!bytes || tree.parse(bytes, size) != noErr)
    return vt::Status::failure(invalidAtomContainerErr, "the atom container is malformed");
  int what = child(tree, 0, 'what');
  if (what < 0) return malformed("no effect type atom");
  if (!isLeaf(tree, what) || dataSize(tree, what) != 4)
    return malformed("the effect type atom is not 4 bytes");
  out.effect = readBE32(dataOf(tree, what));
  if (out.effect == kPluginEffectType) {
    int plug = child(tree, 0, kPluginNameAtom);
    if (plug < 0 || !isLeaf(tree, plug)) return malformed("no plugin name");
    out.info = findPlugin(std::string_view((const char*)dataOf(tree, plug), dataSize(tree, plug)));
    if (!out.info) return unknownEffect("the plugin is not installed");
  } else {
    out.info = findEffect(out.effect);
    if (!out.info) return unknownEffect("the effect is not in the catalogue");
  }
  for (int i = 1; i <= (int)out.sources.size(); ++i) {
    int s = child(tree, 0, 'src ', i);
    if (s < 0) break;
    if (!isLeaf(tree, s) || dataSize(tree, s) != 4)
      return malformed("a source name is not 4 bytes");
    out.sources[(size_t)out.sourceCount++] = readBE32(dataOf(tree, s));
  }
  const auto& params = out.info->params;
  if (out.info->isPlugin()) {
    for (int k = 1;; ++k) {
      int atom = child(tree, 0, kPluginParamAtom, k);
      if (atom < 0) break;
      int nameAtom = isLeaf(tree, atom) ? -1 : child(tree, atom, kPluginParamName);
      if (nameAtom < 0 || !isLeaf(tree, nameAtom))
        return malformed("a plugin parameter has no name");
      std::string_view name((const char*)dataOf(tree, nameAtom), dataSize(tree, nameAtom));
      size_t i = 0;
      while (i < params.size() && i < (size_t)kMaxParams && params[i].name != name) ++i;
      if (i == params.size() || i == (size_t)kMaxParams) continue;  // the plugin dropped it
      ParsedParam& pp = out.params[i];
      int value = child(tree, atom, kPluginParamValue);
      bool ok = value >= 0 ? isLeaf(tree, value) && decodePlain(params[i], dataOf(tree, value),
                                                                dataSize(tree, value), pp)
                           : decodeTween(params[i], tree, atom, pp);
      if (!ok) return malformed("a parameter's data does not match its type");
      pp.present = true;
    }
  } else {
    for (size_t i = 0; i < params.size() && i < (size_t)kMaxParams; ++i) {
      const ParamDesc& pd = params[i];
      if (isEasingParam(pd.code)) continue;
      int atom = child(tree, 0, pd.code);
      if (atom < 0) continue;
      ParsedParam& pp = out.params[i];
      bool ok = isLeaf(tree, atom) ? decodePlain(pd, dataOf(tree, atom), dataSize(tree, atom), pp)
                                   : decodeTween(pd, tree, atom, pp);
      if (!ok) return malformed("a parameter's data does not match its type");
      pp.present = true;
    }
  }
  // A curve this reader does not understand leaves the progress linear, as an older reader does.
  if (int e = child(tree, 0, kEasingAtom); e >= 0 && isLeaf(tree, e)) {
    Easing easing;
    if (decodeEasing(dataOf(tree, e), dataSize(tree, e), easing)) out.easing = easing;
  }
  out.seed = hashBytes(bytes, size);
  return {};
}

void defaultParams(const EffectInfo& info, double fraction, ParamSet& out) {
  out.info = &info;
  for (size_t i = 0; i < info.params.size() && i < (size_t)kMaxParams; ++i) {
    const ParamDesc& pd = info.params[i];
    ParamValue& v = out.values[i];
    v = ParamValue{};
    v.text = pd.defaultText;
    for (size_t c = 0; c < 3; ++c)
      v.v[c] = pd.defaultTweened
                   ? pd.defaultValue[c] + (pd.defaultEnd[c] - pd.defaultValue[c]) * fraction
                   : pd.defaultValue[c];
  }
}

void evaluateParams(const Description& d, int64_t time, int64_t duration, ParamSet& out) {
  const EffectInfo& info = *d.info;
  double sampleFraction = duration > 0 ? std::clamp((double)time / (double)duration, 0.0, 1.0) : 0;
  defaultParams(info, ease(d.easing, sampleFraction), out);
  for (size_t i = 0; i < info.params.size() && i < (size_t)kMaxParams; ++i) {
    const OSType code = info.params[i].code;
    if (code == kEaseKindParam && !info.isPlugin()) out.values[i].v[0] = d.easing.kind;
    for (size_t k = 0; k < 4 && !info.isPlugin(); ++k)
      if (code == kBezierParams[k]) out.values[i].v[0] = easingPoints(d.easing)[k];
  }
  for (size_t i = 0; i < info.params.size() && i < (size_t)kMaxParams; ++i) {
    const ParsedParam& pp = d.params[i];
    if (!pp.present) continue;
    const ParamDesc& pd = info.params[i];
    ParamValue& v = out.values[i];
    v.image = pp.image;
    if (pd.type == ParamType::Text) v.text = pp.text;
    double f = 0;
    if (pp.tweened) {
      int64_t len = pp.duration >= 0 ? pp.duration : duration;
      double rel = (double)time - (double)pp.offset;
      f = len > 0 ? std::clamp(rel / (double)len, 0.0, 1.0)
                  : (rel >= 0 && pp.duration == 0 ? 1 : 0);
      f = ease(d.easing, f);
    }
    for (size_t c = 0; c < 3; ++c) {
      double x = pp.start[c] + (pp.end[c] - pp.start[c]) * f;
      v.v[c] = pd.type == ParamType::RGB ? std::clamp(x, 0.0, 65535.0) : x;
    }
    if (pd.type != ParamType::RGB && pd.type != ParamType::Image && pd.type != ParamType::Text)
      v.v[0] = clampTo(pd, v.v[0]);
  }
}

namespace {

// A parameter's value: a plain leaf of `plainType` in `parent`, or a tween inside a new atom
// of `tweenHolder` (0: inside `parent` itself).
void addValue(vt::atoms::Atom& parent, OSType plainType, OSType tweenHolder, const ParamDesc& pd,
              const DescriptionParam& p) {
  if (!p.tweened || tweenTypeFor(pd) == 0) {
    parent.add(plainType, 1, encodeValue(pd, p.start));
    return;
  }
  vt::atoms::Atom& twen = (tweenHolder ? parent.add(tweenHolder, 1) : parent).add('twen', 1);
  twen.addBE32('twnt', 1, (uint32_t)tweenTypeFor(pd));
  auto a = encodeValue(pd, p.start), b = encodeValue(pd, p.end);
  a.insert(a.end(), b.begin(), b.end());
  twen.add('data', 1, a);
}

std::vector<uint8_t> build(OSType effect, const EffectInfo* info, int sources,
                           const std::vector<DescriptionParam>& params) {
  vt::atoms::Atom root = vt::atoms::newRoot();
  root.addOSType('what', 1, effect);
  if (sources >= 1) root.addOSType('src ', 1, 'srcA');
  if (sources >= 2) root.addOSType('src ', 2, 'srcB');
  if (info && info->isPlugin()) {
    root.add(kPluginNameAtom, 1, std::vector<uint8_t>(info->plugin.begin(), info->plugin.end()));
    int32_t id = 0;
    for (const auto& p : params) {
      const ParamDesc* pd = info->param(p.code);
      if (!pd) continue;
      vt::atoms::Atom& holder = root.add(kPluginParamAtom, ++id);
      holder.add(kPluginParamName, 1, std::vector<uint8_t>(pd->name.begin(), pd->name.end()));
      if (pd->type == ParamType::Text)
        holder.add(kPluginParamValue, 1, p.raw);  // the text's UTF-8 bytes
      else
        addValue(holder, kPluginParamValue, 0, *pd, p);
    }
    return vt::atoms::serialise(root);
  }
  Easing easing;
  for (const auto& p : params) {
    if (info && isEasingParam(p.code) && p.raw.empty()) {
      if (p.code == kEaseKindParam) easing.kind = (int)std::lround(p.start[0]);
      for (size_t k = 0; k < 4; ++k)
        if (p.code == kBezierParams[k]) easing.bezier[k] = p.start[0];
      continue;
    }
    const ParamDesc* pd = info ? info->param(p.code) : nullptr;
    if (pd && pd->type == ParamType::Image && p.raw.empty()) continue;  // the effect's default
    if (!p.raw.empty() || !pd) {
      root.add(p.code, 1, p.raw);
      continue;
    }
    addValue(root, p.code, p.code, *pd, p);
  }
  if (auto e = encodeEasing(easing); !e.empty()) root.add(kEasingAtom, 1, e);
  return vt::atoms::serialise(root);
}

}  // namespace

std::vector<uint8_t> buildDescription(OSType effect, int sources,
                                      const std::vector<DescriptionParam>& params) {
  return build(effect, findEffect(effect), sources, params);
}

std::vector<uint8_t> buildDescription(const EffectInfo& info, bool withSources,
                                      const std::vector<DescriptionParam>& params) {
  return build(info.code, &info, withSources ? info.sources : 0, params);
}

}  // namespace vt::effects

// The built-in effects and their parameters. Where the platform's documentation leaves a
// value open, these are our choices, used everywhere:
// - Push 'from': 1 top, 2 right, 3 bottom, 4 left; default 2 (B enters from the right).
// - Slide 'angl': degrees clockwise, 0 = B comes from the top; default 90.
// - Explode/Implode 'xcnt'/'ycnt': the centre as a fraction of width and height (0.5, 0.5).
// - Zoom: A zooms towards the viewer while B grows out of the centre.
// - Gradient Wipe: matte 'mtte' (Image; default a radial gradient, centre first) and
//   softness 'soft' (Fixed 0..1, 0.1).
// - Alpha Compositor and Chroma Key reach their composite at 50%: it fades in over A in the
//   first half and out to B in the second, so every transition starts at A and ends at B.
// - Chroma Key 'keyc' default pure blue; 'tolr' an RGB distance 0..255 (60), with a soft
//   rim of a quarter of the tolerance.
// - Blur and Sharpen default kernels 5 and 3; General Convolution 'cel1'..'cel9' row-major.
// - Film noise codes 'dden', 'dsiz', 'fade'; Fire is 'fire' (lower case).
// - Image parameters are big-endian width, height and 0xAARRGGBB words (description.h).
#include "effects/catalogue.h"

#include <cmath>
#include <cstring>

#include "core/fourcc.h"
#include "effects/easing.h"
#include "effects/frei0r.h"
#include "effects/gallery.h"
#include "effects/smpte.h"

namespace vt::effects {
namespace {

using T = ParamType;
using W = TweenFlag;

ParamDesc param(OSType code, const char* name, ParamType type, TweenFlag tween, double lo,
                double hi, double def, const char* usage = "") {
  ParamDesc p;
  p.code = code;
  p.name = name;
  p.type = type;
  p.tween = tween;
  p.minValue = lo;
  p.maxValue = hi;
  p.defaultValue = {def, 0, 0};
  p.usage = usage;
  return p;
}
ParamDesc rgb(OSType code, const char* name, TweenFlag tween, double r, double g, double b) {
  ParamDesc p = param(code, name, T::RGB, tween, 0, 65535, 0, "color");
  p.defaultValue = {r, g, b};
  return p;
}
ParamDesc enumeration(OSType code, const char* name, long def, std::vector<EnumItem> items) {
  double lo = 1e9, hi = -1e9;
  for (const auto& i : items) {
    lo = std::min(lo, (double)i.value);
    hi = std::max(hi, (double)i.value);
  }
  ParamDesc p = param(code, name, T::Enum, W::Never, lo, hi, (double)def);
  p.enumValues = std::move(items);
  return p;
}
ParamDesc percentage() {
  ParamDesc p = param('pcnt', "Percentage", T::Fixed, W::Always, 0, 100, 0, "percent");
  p.defaultTweened = true;
  p.defaultEnd = {100, 0, 0};
  return p;
}
ParamDesc image(OSType code, const char* name) {
  return param(code, name, T::Image, W::Never, 0, 0, 0, "image");
}

std::vector<ParamDesc> smpteParams(PatternFamily family, int def) {
  std::vector<EnumItem> items;
  for (const auto& p : smptePatterns())
    if (p.family == family) items.push_back({p.id, p.name});
  static const char* randomNames[4] = {"Random Wipe", "Random Iris", "Random Radial",
                                       "Random Matrix"};
  items.push_back({501 + (int)family, randomNames[(int)family]});
  items.push_back({kRandomAnyPattern, "Random"});
  return {percentage(),
          enumeration('wpID', "Wipe Type", def, std::move(items)),
          param('soft', "Soft Edges", T::Bool, W::Never, 0, 1, 0),
          param('widt', "Border Width", T::Fixed, W::Optional, 0, 64, 0, "pixels"),
          rgb('bclr', "Border Color", W::Optional, 0, 0, 0),
          param('hori', "Horizontal Repeat", T::Long, W::Optional, 1, 32, 1),
          param('vert', "Vertical Repeat", T::Long, W::Optional, 1, 32, 1)};
}

std::vector<EnumItem> kernelSizes() {
  std::vector<EnumItem> v;
  for (int k = 3; k <= 15; k += 2) v.push_back({k, std::to_string(k) + "x" + std::to_string(k)});
  return v;
}

void addTransitions(std::vector<EffectInfo>& c) {
  const ParamDesc pc = percentage();
  c.push_back({'dslv', "Cross Fade", 2, {pc}});
  c.push_back({'push',
               "Push",
               2,
               {pc, enumeration('from', "From", 2,
                                {{1, "Top"}, {2, "Right"}, {3, "Bottom"}, {4, "Left"}})}});
  c.push_back({'slid',
               "Slide",
               2,
               {pc, param('angl', "Angle", T::Fixed, W::Optional, 0, 360, 90, "degrees")}});
  c.push_back({'zoom', "Zoom", 2, {pc}});
  for (auto [code, name] : {std::pair<OSType, const char*>{'xplo', "Explode"}, {'mplo', "Implode"}})
    c.push_back({code,
                 name,
                 2,
                 {pc, param('xcnt', "Center X", T::Fixed, W::Optional, 0, 1, 0.5, "fraction"),
                  param('ycnt', "Center Y", T::Fixed, W::Optional, 0, 1, 0.5, "fraction")}});
  c.push_back({'smpt', "SMPTE Wipe", 2, smpteParams(PatternFamily::Wipe, 1)});
  c.push_back({'smp2', "SMPTE Iris", 2, smpteParams(PatternFamily::Iris, 101)});
  c.push_back({'smp3', "SMPTE Radial", 2, smpteParams(PatternFamily::Radial, 201)});
  c.push_back({'smp4', "SMPTE Matrix", 2, smpteParams(PatternFamily::Matrix, 301)});
  c.push_back({'matt',
               "Gradient Wipe",
               2,
               {pc, image('mtte', "Matte"),
                param('soft', "Softness", T::Fixed, W::Optional, 0, 1, 0.1, "fraction")}});
  c.push_back(
      {'blnd',
       "Alpha Compositor",
       2,
       {pc,
        enumeration('bMod', "Blend Mode", 1,
                    {{1, "Straight Alpha"}, {2, "Premultiplied Alpha"}, {3, "Reverse Alpha"}}),
        rgb('mclr', "Premultiply Color", W::Never, 0, 0, 0)}});
  c.push_back({'ckey',
               "Chroma Key",
               2,
               {pc, rgb('keyc', "Key Color", W::Never, 0, 0, 65535),
                param('tolr', "Tolerance", T::Fixed, W::Optional, 0, 255, 60)}});
}

// After ffmpeg's xfade filter: its transitions that the effects above do not already give.
void addXfadeTransitions(std::vector<EffectInfo>& c) {
  const ParamDesc pc = percentage();
  auto xfade = [&](OSType code, const char* name, OSType choice, const char* label,
                   std::vector<EnumItem> items) {
    EffectInfo e{code, name, 2, {pc}};
    if (choice) {
      const long first = items.front().value;
      e.params.push_back(enumeration(choice, label, first, std::move(items)));
    }
    c.push_back(std::move(e));
  };
  const std::vector<EnumItem> fourWays = {{1, "Left"}, {2, "Right"}, {3, "Up"}, {4, "Down"}};
  std::vector<EnumItem> eightWays = fourWays;
  eightWays.insert(eightWays.end(),
                   {{5, "Top Left"}, {6, "Top Right"}, {7, "Bottom Left"}, {8, "Bottom Right"}});
  xfade('xwip', "Wipe", 'xdir', "Direction", eightWays);
  std::vector<EnumItem> wipeStyles = eightWays;
  wipeStyles.insert(wipeStyles.end(), {{9, "Vertical Open"},
                                       {10, "Vertical Close"},
                                       {11, "Horizontal Open"},
                                       {12, "Horizontal Close"},
                                       {13, "Circle Open"},
                                       {14, "Circle Close"},
                                       {15, "Radial"}});
  xfade('xsmo', "Smooth Wipe", 'xsty', "Style", wipeStyles);
  xfade('xslc', "Slices", 'xdir', "Direction", fourWays);
  xfade('xwnd', "Wind", 'xdir', "Direction", fourWays);
  xfade('xcov', "Cover", 'xdir', "Direction", fourWays);
  xfade('xrvl', "Reveal", 'xdir', "Direction", fourWays);
  xfade('xfth', "Fade Through", 'xvia', "Through", {{1, "Black"}, {2, "White"}, {3, "Grays"}});
  xfade('xton', "Tonal Fade", 'xsty', "Pace", {{1, "Fast"}, {2, "Slow"}});
  xfade('xsqz', "Squeeze", 'xdir', "Direction", {{1, "Horizontal"}, {2, "Vertical"}});
  xfade('xzin', "Zoom In", 0, "", {});
  xfade('xpix', "Pixelize", 0, "", {});
  xfade('xhbl', "Horizontal Blur", 0, "", {});
  xfade('xdst', "Distance", 0, "", {});
  xfade('xcrp', "Crop", 'xsty', "Shape", {{1, "Circle"}, {2, "Rectangle"}});
  xfade('xdis', "Random Dissolve", 0, "", {});
}

void addGalleryTransitions(std::vector<EffectInfo>& c) {
  const ParamDesc pc = percentage();
  for (const auto& g : galleryTransitions()) {
    c.push_back({g.code, g.name, 2, {pc}});
    if (g.code == 'gdip')
      c.back().params.push_back(rgb(kDipColorParam, "Color", W::Optional, 0, 0, 0));
  }
}

void addFilters(std::vector<EffectInfo>& c) {
  c.push_back({'blur',
               "Blur",
               1,
               {enumeration('ksiz', "Kernel Size", 5, kernelSizes()),
                param('ksum', "Kernel Sum", T::Fixed, W::Never, 0, 4, 1)}});
  c.push_back({'shrp',
               "Sharpen",
               1,
               {enumeration('ksiz', "Kernel Size", 3, kernelSizes()),
                param('ksum', "Kernel Sum", T::Fixed, W::Never, 0, 4, 1)}});
  c.push_back({'edge', "Edge Detection", 1, {}});
  c.push_back({'embs', "Emboss", 1, {}});
  {
    EffectInfo g{'genk', "General Convolution", 1, {}};
    // Row-major: 'cel1' is the top-left weight, 'cel5' the centre, 'cel9' bottom-right.
    for (int i = 1; i <= 9; ++i) {
      std::string code = "cel" + std::to_string(i);
      OSType oc = ((OSType)'c' << 24) | ((OSType)'e' << 16) | ((OSType)'l' << 8) | (OSType)code[3];
      std::string name = "Cell " + std::to_string(i);
      ParamDesc p = param(oc, "", T::Fixed, W::Never, -16, 16, i == 5 ? 1 : 0);
      p.name = name;
      g.params.push_back(p);
    }
    c.push_back(g);
  }
  c.push_back({'solr',
               "Color Style",
               1,
               {param('solr', "Solarize Amount", T::Long, W::Optional, 0, 255, 255),
                param('solp', "Solarize Point", T::Long, W::Optional, 0, 255, 128),
                param('post', "Posterize Levels", T::Long, W::Optional, 0, 256, 0)}});
  c.push_back(
      {'tint',
       "Color Tint",
       1,
       {enumeration(
            'tint', "Tint Type", 3,
            {{1, "Black and White"}, {2, "X-Ray"}, {3, "Sepia"}, {4, "Cobalt"}, {100, "Other"}}),
        rgb('back', "Dark Color", W::Optional, 0, 0, 0),
        rgb('fore', "Light Color", W::Optional, 65535, 65535, 65535),
        param('brig', "Brightness", T::Long, W::Optional, -255, 255, 0),
        param('cont', "Contrast", T::Long, W::Optional, -255, 255, 0)}});
  c.push_back({'rgbb',
               "RGB Balance",
               1,
               {param('rmul', "Red", T::Fixed, W::Optional, 0, 4, 1),
                param('gmul', "Green", T::Fixed, W::Optional, 0, 4, 1),
                param('bmul', "Blue", T::Fixed, W::Optional, 0, 4, 1)}});
  c.push_back({'hsvb',
               "HSL Balance",
               1,
               {param('hmul', "Hue", T::Fixed, W::Optional, 0, 4, 1),
                param('smul', "Saturation", T::Fixed, W::Optional, 0, 4, 1),
                param('vmul', "Lightness", T::Fixed, W::Optional, 0, 4, 1)}});
  c.push_back({'brco',
               "Brightness and Contrast",
               1,
               {param('brig', "Brightness", T::Long, W::Optional, -255, 255, 0),
                param('cont', "Contrast", T::Long, W::Optional, -255, 255, 0)}});
  c.push_back({'gain',
               "Alpha Gain",
               1,
               {param('gain', "Gain", T::Fixed, W::Never, 0, 8, 1),
                param('offs', "Offset", T::Fixed, W::Never, -1, 1, 0),
                param('pinT', "Top", T::Fixed, W::Never, 0, 1, 1),
                param('pinB', "Bottom", T::Fixed, W::Never, 0, 1, 0)}});
  c.push_back({'fmns',
               "Film Noise",
               1,
               {param('hden', "Hair Density", T::Long, W::Never, 0, 100, 10),
                param('hlen', "Hair Length", T::Long, W::Never, 0, 100, 30),
                param('sden', "Scratch Density", T::Long, W::Never, 0, 100, 20),
                param('sdur', "Scratch Duration", T::Long, W::Never, 1, 100, 8),
                param('swid', "Scratch Width", T::Long, W::Never, 1, 16, 1, "pixels"),
                param('dden', "Dust Density", T::Long, W::Never, 0, 100, 20),
                param('dsiz', "Dust Size", T::Long, W::Never, 1, 32, 3, "pixels"),
                param('fade', "Film Fade", T::Long, W::Optional, 0, 100, 30, "percent")}});
  {
    ParamDesc x = param('xcnt', "Flare X", T::Fixed, W::Always, -2, 2, 0);
    ParamDesc y = param('ycnt', "Flare Y", T::Fixed, W::Always, -2, 2, 0);
    x.defaultTweened = y.defaultTweened = true;
    c.push_back({'lens',
                 "Lens Flare",
                 1,
                 {param('size', "Size", T::Fixed, W::Optional, 1, 20, 1),
                  param('gbri', "Glow Brightness", T::Fixed, W::Optional, 0, 1, 1), x, y,
                  enumeration('ftyp', "Flare Type", 1,
                              {{1, "Standard"}, {2, "Wide Angle"}, {3, "Telephoto"}}),
                  rgb('flrc', "Flare Color", W::Never, 65535, 65535, 65535),
                  param('fbri', "Flare Brightness", T::Fixed, W::Never, 0, 2, 1),
                  param('fsiz', "Flare Size", T::Fixed, W::Never, 0, 1, 0.5)}});
  }
}

void addGenerators(std::vector<EffectInfo>& c) {
  c.push_back({'fire',
               "Fire",
               0,
               {param('sprd', "Spread Rate", T::Long, W::Never, 0, 100, 60),
                param('decy', "Sputter Rate", T::Long, W::Never, 0, 100, 30),
                param('watr', "Water Rate", T::Long, W::Never, 0, 100, 0),
                param('rset', "Restart Rate", T::Long, W::Never, 0, 100, 50)}});
  c.push_back({'clou',
               "Cloud",
               0,
               {rgb('fgdc', "Cloud Color", W::Optional, 65535, 65535, 65535),
                rgb('bckc', "Background Color", W::Optional, 0x3000, 0x6000, 0xD000),
                param('rotc', "Rotation", T::Double, W::Optional, 0, 360, 0, "degrees")}});
  c.push_back({'ripl', "Ripple", 0, {image('mask', "Mask")}});
}

// Every effect with a percentage takes a progress curve.
void addEasing(std::vector<EffectInfo>& c) {
  for (auto& e : c)
    if (e.param('pcnt')) {
      e.params.push_back(enumeration(kEaseKindParam, "Easing", kEaseLinear,
                                     {{kEaseLinear, "Linear"},
                                      {kEaseIn, "Ease In"},
                                      {kEaseOut, "Ease Out"},
                                      {kEaseInOut, "Ease In-Out"},
                                      {kEaseBezier, "Cubic Bezier"}}));
      static const char* names[4] = {"Curve X1", "Curve Y1", "Curve X2", "Curve Y2"};
      const Easing custom;
      for (size_t i = 0; i < 4; ++i)
        e.params.push_back(param(kBezierParams[i], names[i], T::Fixed, W::Never, i % 2 ? -1 : 0,
                                 i % 2 ? 2 : 1, custom.bezier[i]));
    }
}

std::vector<EffectInfo> build() {
  std::vector<EffectInfo> c;
  addTransitions(c);
  addXfadeTransitions(c);
  addGalleryTransitions(c);
  addFilters(c);
  addGenerators(c);
  addEasing(c);
  return c;
}

// The built-in effects alone: asking whether a code is an effect must not load every plugin
// (that costs a tool tens of milliseconds at start), and plugins all share one code.
const std::vector<EffectInfo>& builtIns() {
  static const std::vector<EffectInfo> c = build();
  return c;
}

}  // namespace

const std::vector<EffectInfo>& catalogue() {
  static const std::vector<EffectInfo> c = [] {
    std::vector<EffectInfo> all = builtIns();
    const auto& plugins = frei0r::pluginEffects();
    all.insert(all.end(), plugins.begin(), plugins.end());
    return all;
  }();
  return c;
}

const EffectInfo* findEffect(OSType code) {
  if (code == kPluginEffectType) return nullptr;
  for (const auto& e : builtIns())
    if (e.code == code) return &e;
  return nullptr;
}

const EffectInfo* findPlugin(std::string_view name) {
  for (const auto& e : catalogue())
    if (e.isPlugin() && e.plugin == name) return &e;
  return nullptr;
}

const EffectInfo* findEffect(OSType code, std::string_view name) {
  return code == kPluginEffectType ? findPlugin(name) : findEffect(code);
}

std::vector<uint8_t> encodeValue(const ParamDesc& p, const std::array<double, 3>& v) {
  std::vector<uint8_t> out;
  auto put32 = [&](uint32_t x) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back((uint8_t)(x >> shift));
  };
  switch (p.type) {
    case ParamType::Fixed: put32((uint32_t)(int32_t)std::lround(v[0] * 65536.0)); break;
    case ParamType::Long:
    case ParamType::Enum: put32((uint32_t)(int32_t)std::lround(v[0])); break;
    case ParamType::Bool: out.push_back(v[0] != 0 ? 1 : 0); break;
    case ParamType::RGB:
      for (int i = 0; i < 3; ++i) {
        long c = std::lround(std::min(65535.0, std::max(0.0, v[i])));
        out.push_back((uint8_t)(c >> 8));
        out.push_back((uint8_t)c);
      }
      break;
    case ParamType::Double: {
      uint64_t bits;
      std::memcpy(&bits, &v[0], 8);
      put32((uint32_t)(bits >> 32));
      put32((uint32_t)bits);
      break;
    }
    case ParamType::Image:
    case ParamType::Text: break;
  }
  return out;
}

long tweenTypeFor(const ParamDesc& p) {
  switch (p.type) {
    case ParamType::Fixed: return 3;
    case ParamType::Long: return 2;
    case ParamType::RGB: return 8;
    default: return 0;
  }
}

}  // namespace vt::effects

// effect-render: renders one effect on still pictures.
//
//   effect-render --effect CODE|PLUGIN [--param CODE=VALUE ...] --percent P [--size WxH]
//                 [A.png [B.png]] -o OUT.png
//
// VALUE is a number, an "R,G,B" colour (0..255 each) or, for image parameters, a PNG path.
// P is the transition's percentage, and for other effects the position within the sample
// (which drives animation and film noise). The output has the size of A, or --size, or
// 320x240 for generators.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/fourcc.h"
#include "core/image.h"
#include "effects/catalogue.h"
#include "effects/description.h"
#include "effects/render_api.h"
#include "common/tool_main.h"

using namespace vt::effects;

namespace {

int usage(const char* why) {
  if (why) std::fprintf(stderr, "effect-render: %s\n", why);
  std::fprintf(stderr,
               "usage: effect-render --effect CODE [--param CODE=VALUE ...] --percent P "
               "[--size WxH] [A.png [B.png]] -o OUT.png\n");
  return 2;
}

bool parseCode(const std::string& s, OSType& code) {
  if (s.size() != 4) return false;
  code = 0;
  for (char c : s) code = (code << 8) | (unsigned char)c;
  return true;
}

// An image parameter's bytes: big-endian width, height, then 0xAARRGGBB words.
std::vector<uint8_t> imageBytes(const vt::Image& img) {
  std::vector<uint8_t> out(8 + img.pixels.size() * 4);
  vt::writeBE32(out.data(), (uint32_t)img.width);
  vt::writeBE32(out.data() + 4, (uint32_t)img.height);
  for (size_t i = 0; i < img.pixels.size(); ++i)
    vt::writeBE32(out.data() + 8 + 4 * i, img.pixels[i]);
  return out;
}

bool parseParam(const EffectInfo& info, const std::string& arg, DescriptionParam& out,
                std::string& why) {
  size_t eq = arg.find('=');
  OSType code = 0;
  // Plugin parameters may be named ("Radius=0.4").
  const ParamDesc* pd = nullptr;
  if (eq != std::string::npos && info.isPlugin())
    for (const auto& p : info.params)
      if (strcasecmp(p.name.c_str(), arg.substr(0, eq).c_str()) == 0) pd = &p;
  if (pd) {
    code = pd->code;
  } else if (eq == std::string::npos || !parseCode(arg.substr(0, eq), code)) {
    why = "a parameter is CODE=VALUE with a four-character code: " + arg;
    return false;
  } else {
    pd = info.param(code);
  }
  if (!pd) {
    why = info.name + " has no parameter '" + arg.substr(0, eq) + "'";
    return false;
  }
  std::string value = arg.substr(eq + 1);
  out = DescriptionParam{};
  out.code = code;
  if (pd->type == ParamType::Text) {
    out.raw.assign(value.begin(), value.end());
    return true;
  }
  if (pd->type == ParamType::Image) {
    vt::Image img;
    if (!vt::readPNG(value.c_str(), img)) {
      why = "cannot read the picture " + value;
      return false;
    }
    out.raw = imageBytes(img);
    return true;
  }
  char* end = nullptr;
  if (pd->type == ParamType::RGB) {
    int r, g, b;
    char extra;
    if (std::sscanf(value.c_str(), "%d,%d,%d%c", &r, &g, &b, &extra) != 3) {
      why = "a color is R,G,B: " + value;
      return false;
    }
    out.start = {r * 257.0, g * 257.0, b * 257.0};
    return true;
  }
  double v = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || *end) {
    why = "not a number: " + value;
    return false;
  }
  out.start = {v, 0, 0};
  return true;
}

}  // namespace

static int run(int argc, char** argv) {
  std::string effect, outPath;
  std::vector<std::string> params, inputs;
  double percent = -1;
  int width = 0, height = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--effect" || a == "--param" || a == "--percent" || a == "-o" || a == "--size") {
      const char* v = next();
      if (!v) return usage(("missing value after " + a).c_str());
      if (a == "--effect")
        effect = v;
      else if (a == "--param")
        params.push_back(v);
      else if (a == "-o")
        outPath = v;
      else if (a == "--size") {
        if (std::sscanf(v, "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0 ||
            width > 16384 || height > 16384)
          return usage("--size is WxH");
      } else {
        char* end;
        percent = std::strtod(v, &end);
        if (*end || percent < 0 || percent > 100) return usage("--percent is 0..100");
      }
    } else if (a == "-h" || a == "--help") {
      return usage(nullptr);
    } else if (!a.empty() && a[0] == '-') {
      return usage(("unknown option " + a).c_str());
    } else {
      inputs.push_back(a);
    }
  }
  // A code, or a plugin's name.
  OSType code = 0;
  const EffectInfo* info = findPlugin(effect);
  if (!info && !parseCode(effect, code))
    return usage("--effect needs a four-character code or a plugin's name");
  if (!info) info = findEffect(code);
  if (!info) {
    std::fprintf(stderr, "effect-render: '%s' is not an effect (see effect-list)\n",
                 effect.c_str());
    return 1;
  }
  if (percent < 0) return usage("--percent is required");
  if (outPath.empty()) return usage("-o OUT.png is required");
  if ((int)inputs.size() != info->sources) {
    std::fprintf(stderr, "effect-render: %s takes %d source picture(s), %zu given\n",
                 info->name.c_str(), info->sources, inputs.size());
    return 2;
  }
  vt::Image pics[2];
  for (size_t k = 0; k < inputs.size(); ++k)
    if (!vt::readPNG(inputs[k].c_str(), pics[k])) {
      std::fprintf(stderr, "effect-render: cannot read %s\n", inputs[k].c_str());
      return 1;
    }
  std::vector<DescriptionParam> list;
  if (info->param('pcnt')) list.push_back({'pcnt', {percent, 0, 0}});
  for (const auto& p : params) {
    DescriptionParam dp;
    std::string why;
    if (!parseParam(*info, p, dp, why)) {
      std::fprintf(stderr, "effect-render: %s\n", why.c_str());
      return 2;
    }
    list.push_back(dp);
  }
  if (!width) {
    width = inputs.empty() ? 320 : pics[0].width;
    height = inputs.empty() ? 240 : pics[0].height;
  }
  std::vector<uint8_t> sample = buildDescription(*info, true, list);
  EffectInputs in;
  in.sourceA = inputs.size() >= 1 ? &pics[0] : nullptr;
  in.sourceB = inputs.size() >= 2 ? &pics[1] : nullptr;
  vt::Image out(width, height);
  // The position within the sample is the percentage: 'pcnt' given plainly wins for
  // transitions; other effects animate with it.
  if (!renderEffectSample(sample.data(), sample.size(), (int64_t)(percent * 100), 10000, in, out)) {
    std::fprintf(stderr, "effect-render: the effect description was not accepted\n");
    return 1;
  }
  if (!vt::writePNG(out, outPath.c_str())) {
    std::fprintf(stderr, "effect-render: cannot write %s\n", outPath.c_str());
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  return guardedToolMain("effect-render", [&] { return run(argc, argv); });
}

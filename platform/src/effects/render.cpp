#include "effects/render.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "effects/frei0r.h"
#include "effects/render_api.h"

namespace vt::effects {
namespace {

// A plugin's clock over one effect sample: the plugins' animations (plasma, particles, ...)
// are paced for seconds, and the same progress gives the same picture in preview and export.
constexpr double kPluginSeconds = 10.0;

// The input at the output's size: the image itself when it fits, else a scaled copy kept in
// per-thread scratch (reused from frame to frame), or black when absent.
const Image* fitted(const Image* in, const Image& out, Image& scratch) {
  if (in && !in->empty() && in->width == out.width && in->height == out.height &&
      in->pixels.size() == out.pixels.size())
    return in;
  scratch.resize(out.width, out.height);
  if (in && !in->empty() && in->pixels.size() == (size_t)in->width * in->height)
    scaleImage(*in, scratch);
  else
    std::fill(scratch.pixels.begin(), scratch.pixels.end(), makePixel(0, 0, 0));
  return &scratch;
}

void fallback(const Image* a, Image& out) {
  if (out.empty()) return;
  thread_local Image scratch;
  const Image* src = fitted(a, out, scratch);
  std::memcpy(out.pixels.data(), src->pixels.data(), out.pixels.size() * sizeof(Pixel));
}

}  // namespace

bool renderEffect(const EffectInfo& info, const ParamSet& params, const Image* a, const Image* b,
                  Image& out, uint64_t seed, double fraction) {
  if (out.empty()) return true;
  if (out.pixels.size() != (size_t)out.width * out.height) out.resize(out.width, out.height);
  thread_local Image scratchA, scratchB;
  Frame f;
  f.params = &params;
  f.out = &out;
  f.seed = seed;
  f.fraction = std::clamp(fraction, 0.0, 1.0);
  if (info.sources >= 1) f.a = fitted(a, out, scratchA);
  if (info.sources >= 2) f.b = fitted(b, out, scratchB);
  if (info.isPlugin())
    return frei0r::render(info, params, f.a, f.b, out, f.fraction * kPluginSeconds);
  if (info.sources == 2)
    renderTransition(info.code, f);
  else if (info.sources == 1)
    renderFilter(info.code, f);
  else
    renderGenerator(info.code, f);
  return true;
}

// A plugin effect's movie may be opened where the plugin is missing: it is still an effect.
bool isEffectType(OSType code) { return code == kPluginEffectType || findEffect(code) != nullptr; }

namespace {

// Draws a read description at a time within its sample; a malformed one draws source A.
bool renderParsed(bool valid, const Description& desc, int64_t time, int64_t duration,
                  const EffectInputs& inputs, Image& out) {
  if (!valid) {
    fallback(inputs.sourceA, out);
    return false;
  }
  thread_local ParamSet params;
  evaluateParams(desc, time, duration, params);
  double fraction = duration > 0 ? (double)time / (double)duration : 0;
  // Randomness depends on the description and the time, never on anything else.
  return renderEffect(*desc.info, params, inputs.sourceA, inputs.sourceB, out, desc.seed, fraction);
}

}  // namespace

bool renderEffectSample(const uint8_t* sample, size_t sampleSize, int64_t time, int64_t duration,
                        const EffectInputs& inputs, Image& out) {
  // Playback draws one sample many times: it is parsed once, from a private copy that image
  // parameters point into, and read again only when the bytes change.
  thread_local vt::atoms::View view;
  thread_local std::vector<uint8_t> bytes;
  thread_local Description desc;
  thread_local bool valid = false;
  if (!sample || sampleSize == 0) {
    fallback(inputs.sourceA, out);
    return false;
  }
  if (bytes.size() != sampleSize || std::memcmp(bytes.data(), sample, sampleSize) != 0) {
    bytes.assign(sample, sample + sampleSize);
    valid = parseDescription(bytes.data(), bytes.size(), view, desc).ok();
  }
  return renderParsed(valid, desc, time, duration, inputs, out);
}

struct PreparedEffect::Parsed {
  std::vector<uint8_t> bytes;  // image parameters point into it
  vt::atoms::View view;
  Description desc;
  bool valid = false;
};

PreparedEffect::PreparedEffect() : parsed_(std::make_unique<Parsed>()) {}
PreparedEffect::~PreparedEffect() = default;

bool PreparedEffect::prepare(std::vector<uint8_t> sample) {
  Parsed& p = *parsed_;
  p.bytes = std::move(sample);
  p.desc = Description();
  p.valid = !p.bytes.empty() && parseDescription(p.bytes.data(), p.bytes.size(), p.view, p.desc);
  return p.valid;
}

const std::vector<uint8_t>& PreparedEffect::bytes() const { return parsed_->bytes; }

bool PreparedEffect::render(int64_t time, int64_t duration, const EffectInputs& inputs,
                            Image& out) const {
  return renderParsed(parsed_->valid, parsed_->desc, time, duration, inputs, out);
}

bool PreparedEffect::takesYuv() const {
  const Parsed& p = *parsed_;
  return p.valid && !p.desc.info->isPlugin() && p.desc.info->sources == 2 &&
         transitionTakesYuv(p.desc.info->code);
}

bool PreparedEffect::renderYuv(int64_t time, int64_t duration, const YuvView& a, const YuvView& b,
                               YuvImage& out) const {
  if (!takesYuv()) return false;
  thread_local ParamSet params;
  evaluateParams(parsed_->desc, time, duration, params);
  return renderTransitionYuv(parsed_->desc.info->code, params, parsed_->desc.seed, a, b, out);
}

}  // namespace vt::effects

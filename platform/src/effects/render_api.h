// What the movie layer asks of the effects engine when it draws an effect track.
#pragma once
#include <MacTypes.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/image.h"
#include "core/yuv_image.h"

namespace vt::effects {

// True when `code` names an effect of the catalogue (so a video sample description with this
// codec type is an effect track's).
bool isEffectType(OSType code);

struct EffectInputs {
  // Sources matched by name: the effect description's 'src ' atoms name 'srcA'/'srcB'; the
  // caller resolves the effect track's input map ('dtst' names) to these two slots.
  const Image* sourceA = nullptr;  // null when absent
  const Image* sourceB = nullptr;
};

// Renders one frame of the effect described by `sample` (the effect track's sample bytes: an
// atom container) at media time `time` within a sample lasting `duration`, into `out`, whose
// size the caller sets beforehand. A malformed description draws source A scaled to `out`, or
// black when there is no source A, and returns false; true when the effect was rendered.
bool renderEffectSample(const uint8_t* sample, size_t sampleSize, int64_t time, int64_t duration,
                        const EffectInputs& inputs, Image& out);

// One effect sample read once and drawn many times (playback shows a sample for many frames).
class PreparedEffect {
 public:
  PreparedEffect();
  ~PreparedEffect();
  PreparedEffect(const PreparedEffect&) = delete;
  PreparedEffect& operator=(const PreparedEffect&) = delete;
  // Takes the sample's bytes and reads them; false when the description is malformed (it
  // still draws as renderEffectSample does).
  bool prepare(std::vector<uint8_t> sample);
  // The bytes last prepared.
  const std::vector<uint8_t>& bytes() const;
  // As renderEffectSample with the prepared bytes.
  bool render(int64_t time, int64_t duration, const EffectInputs& inputs, Image& out) const;
  // True when the effect can be drawn on 4:2:0 planes (renderYuv) as it would be drawn on
  // pictures and then converted.
  bool takesYuv() const;
  // Draws on planes into `out` (whose size the caller sets); false when the effect or the
  // inputs do not allow it (the caller then draws pictures).
  bool renderYuv(int64_t time, int64_t duration, const YuvView& a, const YuvView& b,
                 YuvImage& out) const;

 private:
  struct Parsed;
  std::unique_ptr<Parsed> parsed_;
};

}  // namespace vt::effects

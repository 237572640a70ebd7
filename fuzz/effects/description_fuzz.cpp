// Fuzz target: arbitrary bytes as an effect description, read and rendered at a small size
// with two sources. Nothing may crash, read out of bounds or hang; a rejected description
// must draw source A.
#include <cstdint>
#include <cstring>

#include "core/image.h"
#include "effects/description.h"
#include "effects/render_api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const vt::Image a(24, 16, vt::makePixel(10, 20, 30));
  static const vt::Image b(7, 5, vt::makePixel(200, 100, 50));
  vt::Image out(24, 16);
  vt::effects::EffectInputs in;
  in.sourceA = &a;
  in.sourceB = &b;
  int64_t time = (int64_t)(size % 101);
  bool ok = vt::effects::renderEffectSample(data, size, time, 100, in, out);
  if (!ok && out.pixels != a.pixels) __builtin_trap();
  // The parameters themselves, at odd times.
  vt::atoms::View view;
  vt::effects::Description d;
  if (vt::effects::parseDescription(data, size, view, d)) {
    vt::effects::ParamSet ps;
    for (int64_t t : {(int64_t)-5, (int64_t)0, (int64_t)1 << 40})
      vt::effects::evaluateParams(d, t, (int64_t)(size % 3) - 1, ps);
  }
  return 0;
}

// Seeds for the effect description fuzz driver: every catalogue effect with its parameters
// (tweened where they may be).
#include "replay_driver.h"
#include "effects/catalogue.h"
#include "effects/description.h"

std::vector<std::vector<uint8_t>> vtFuzzSeeds() {
  using namespace vt::effects;
  std::vector<std::vector<uint8_t>> out;
  for (const auto& e : catalogue()) {
    std::vector<DescriptionParam> ps;
    for (const auto& p : e.params) {
      if (p.type == ParamType::Image) {
        std::vector<uint8_t> img = {0, 0, 0, 2, 0, 0, 0, 1, 255, 0, 0, 0, 255, 255, 255, 255};
        ps.push_back({p.code, {}, false, {}, img});
        continue;
      }
      DescriptionParam d{p.code, p.defaultValue};
      d.tweened = tweenTypeFor(p) != 0;
      d.end =
          p.tween == TweenFlag::Never ? p.defaultValue : std::array<double, 3>{p.maxValue, 0, 0};
      ps.push_back(d);
    }
    out.push_back(buildDescription(e, true, ps));
  }
  return out;
}

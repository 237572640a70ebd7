// Time per 1920x1080 frame of every effect, against a plain copy of one frame measured in the
// same run (the memory floor). Targets: cross fade and SMPTE patterns within 4x the copy;
// filters and generators at 60 frames per second or more.
//
//   effects_bench [--quick]   (--quick: one SMPTE pattern per family instead of all 133)
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/image.h"
#include "effects/catalogue.h"
#include "effects/description.h"
#include "effects/render_api.h"
#include "effects/smpte.h"

using namespace vt::effects;

namespace {

constexpr int W = 1920, H = 1080;

// Wall time per frame, the fastest of several runs: a frame is ready when its last band is, and
// the fastest run is the one least disturbed by other processes on a shared machine.
double wallNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

template <class F>
double fastestSeconds(int runs, const F& f) {
  f();  // warm-up: caches, pattern fields, scratch buffers
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    double t0 = wallNow();
    f();
    best = std::min(best, wallNow() - t0);
  }
  return best;
}

vt::Image picture(int salt) {
  vt::Image img(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      img.at(x, y) =
          vt::makePixel((uint8_t)(x + salt), (uint8_t)(y * 3 + salt), (uint8_t)((x ^ y) + salt));
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int runs = 15;
  vt::Image a = picture(0), b = picture(90), out(W, H), copy(W, H);
  const double copyT = fastestSeconds(runs * 2, [&] {
    std::memcpy(copy.pixels.data(), a.pixels.data(), a.pixels.size() * sizeof(vt::Pixel));
  });
  std::printf("baseline: copy of one %dx%d frame %.3f ms (wall time, fastest run)\n\n", W, H,
              copyT * 1e3);
  std::printf("%-34s %9s %8s %8s  %s\n", "effect", "ms", "x copy", "fps", "target");
  int failures = 0;
  auto measure = [&](const std::string& label, OSType code, std::vector<DescriptionParam> params,
                     const char* targetKind) {
    const EffectInfo* info = findEffect(code);
    auto sample = buildDescription(code, info->sources, params);
    EffectInputs in;
    in.sourceA = info->sources >= 1 ? &a : nullptr;
    in.sourceB = info->sources >= 2 ? &b : nullptr;
    double t = fastestSeconds(
        runs, [&] { renderEffectSample(sample.data(), sample.size(), 5000, 10000, in, out); });
    double ratio = t / copyT, fps = 1 / t;
    std::string target = "-";
    bool ok = true;
    if (std::strcmp(targetKind, "copy4") == 0) {
      ok = ratio <= 4;
      target = std::string("<= 4x copy ") + (ok ? "ok" : "MISSED");
    } else if (std::strcmp(targetKind, "fps60") == 0) {
      ok = fps >= 60;
      target = std::string(">= 60 fps ") + (ok ? "ok" : "MISSED");
    }
    failures += !ok;
    std::printf("%-34s %9.3f %8.2f %8.1f  %s\n", label.c_str(), t * 1e3, ratio, fps,
                target.c_str());
    return t;
  };
  for (const auto& e : catalogue()) {
    if (e.isPlugin()) continue;  // outside code: not ours to time
    std::string label = e.name + " (" + std::string(1, (char)(e.code >> 24)) +
                        (char)(e.code >> 16) + (char)(e.code >> 8) + (char)e.code + ")";
    if (e.sources == 2) {
      bool smpte = e.code == 'smpt' || e.code == 'smp2' || e.code == 'smp3' || e.code == 'smp4';
      if (!smpte) {
        measure(label, e.code, {{'pcnt', {50, 0, 0}}}, e.code == 'dslv' ? "copy4" : "-");
        continue;
      }
      // Every pattern of the family (or its first in --quick), reporting the slowest.
      double worst = 0;
      int worstId = 0, count = 0;
      for (const auto& p : smptePatterns()) {
        const ParamDesc* w = e.param('wpID');
        bool inFamily = false;
        for (const auto& v : w->enumValues) inFamily |= v.value == p.id;
        if (!inFamily || (quick && count > 0)) continue;
        ++count;
        auto sample =
            buildDescription(e.code, 2, {{'pcnt', {50, 0, 0}}, {'wpID', {(double)p.id, 0, 0}}});
        EffectInputs in{&a, &b};
        double t = fastestSeconds(
            5, [&] { renderEffectSample(sample.data(), sample.size(), 0, 1, in, out); });
        if (t > worst) {
          worst = t;
          worstId = p.id;
        }
      }
      char buf[96];
      std::snprintf(buf, sizeof buf, "%s, slowest of %d: %d", label.c_str(), count, worstId);
      measure(buf, e.code, {{'pcnt', {50, 0, 0}}, {'wpID', {(double)worstId, 0, 0}}}, "copy4");
      measure(label + " soft, border 4", e.code,
              {{'pcnt', {50, 0, 0}},
               {'wpID', {(double)worstId, 0, 0}},
               {'soft', {1, 0, 0}},
               {'widt', {4, 0, 0}}},
              "-");
      continue;
    }
    // HSL with the hue kept takes its common path; the hue turn is measured apart.
    if (e.code == 'hsvb') {
      measure(label, e.code, {{'smul', {0.5, 0, 0}}, {'vmul', {1.2, 0, 0}}}, "fps60");
      measure(label + " hue turn", e.code, {{'hmul', {1.5, 0, 0}}}, "-");
      continue;
    }
    measure(label, e.code, {}, "fps60");
  }
  std::printf("\n%d target(s) missed\n", failures);
  return 0;
}

// Splitting one export into chunks that machines make apart: frame ranges on the movie's frame
// list, and the warm-up that effects with memory need to draw a chunk's first frame as one
// export would.
#include <MacErrors.h>

#include <algorithm>
#include <string>

#include "effects/catalogue.h"
#include "export/export.h"
#include "model/model.h"

namespace vt::exporter {
namespace {

// Plugins with memory (frame delays, trails, feedback) look back a bounded way; 2.5 s at 30
// frames per second covers their usual settings, and a chunk pays for it once.
constexpr int64_t kPluginWarmUp = 75;

}  // namespace

void chunkFrames(int64_t frames, int k, int n, int64_t& first, int64_t& count) {
  // Near-equal runs without drift: chunk k ends where k/n of the frames do.
  first = frames * (k - 1) / n;
  count = frames * k / n - first;
}

int64_t warmUpFrames(VTMovie* movie) {
  if (!movie) return 0;
  for (const auto& t : movie->tracks) {
    if (!t->enabled() || !t->media) continue;
    for (const auto& d : t->media->descriptions)
      if (d.format() == vt::effects::kPluginEffectType) return kPluginWarmUp;
  }
  return 0;
}

OSErr narrowToChunk(VTMovie* movie, int k, int n, Plan& p, int64_t& firstNumber, int64_t& warmUp,
                    std::string& message) {
  if (n < 1 || k < 1 || k > n) {
    message = "a chunk is K/N with K from 1 to N";
    return paramErr;
  }
  if (p.frames < n) {
    message = "the range has " + std::to_string(p.frames) + " frames, fewer than " +
              std::to_string(n) + " chunks";
    return paramErr;
  }
  int64_t first = 0, count = 0;
  chunkFrames(p.frames, k, n, first, count);
  // The first chunk keeps a range that begins inside a frame; the others begin on theirs.
  if (first > 0) p.first = p.list.start(p.firstFrame + first);
  p.firstFrame += first;
  p.frames = count;
  p.end = p.list.finish(p.firstFrame + count - 1);
  firstNumber = first;
  warmUp = std::min(warmUpFrames(movie), p.firstFrame);
  return noErr;
}

}  // namespace vt::exporter

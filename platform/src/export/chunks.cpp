// Splitting one export into chunks that machines make apart: frame ranges on the movie's frame
// list, and the warm-up that effects with memory need to draw a chunk's first frame as one
// export would.
#include <MacErrors.h>

#include <string>

#include "effects/catalogue.h"
#include "export/export.h"
#include "model/model.h"

namespace vt::exporter {

void chunkFrames(int64_t frames, int k, int n, int64_t& first, int64_t& count) {
  // Near-equal runs without drift: chunk k ends where k/n of the frames do.
  first = frames * (k - 1) / n;
  count = frames * k / n - first;
}

// A plugin may remember without bound (feedback that decays but never ends, phases that
// advance, frames counted) and says nothing of it: only the frames from the start reproduce
// its picture. They are composed, not encoded, so a chunk's cost grows by composing alone.
int64_t warmUpFrames(VTMovie* movie, int64_t firstFrame) {
  if (!movie || firstFrame <= 0) return 0;
  for (const auto& t : movie->tracks) {
    if (!t->enabled() || !t->media) continue;
    for (const auto& d : t->media->descriptions)
      if (d.format() == vt::effects::kPluginEffectType) return firstFrame;
  }
  return 0;
}

OSErr narrowToChunk(int k, int n, Plan& p, int64_t& firstNumber, std::string& message) {
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
  return noErr;
}

}  // namespace vt::exporter

// Edit list maths: inserting and removing stretches of a track's timeline.
#include <vector>

#include "model/internal.h"

namespace vt::movie {

namespace {

// The part of an edit from `offset` on: it goes on with the media time shown there.
Edit editFrom(const VTTrack& t, const Edit& e, int64_t offset) {
  Edit rest = e;
  rest.duration = e.duration - offset;
  if (e.mediaTime >= 0 && t.media && t.movie)
    rest.mediaTime = editMediaTime(e, offset, t.movie->timeScale, t.media->timeScale);
  return rest;
}

}  // namespace

void insertEdits(VTTrack& t, int64_t at, const std::vector<Edit>& add) {
  int64_t dur = t.duration();
  std::vector<Edit> out;
  if (at >= dur) {
    out = t.edits;
    if (at > dur) out.push_back(Edit{at - dur, -1, fixed1});
    out.insert(out.end(), add.begin(), add.end());
  } else {
    int64_t start = 0;
    for (const Edit& e : t.edits) {
      int64_t end = start + e.duration;
      if (at >= start && at < end) {
        if (at > start) {
          Edit first = e;
          first.duration = at - start;
          out.push_back(first);
        }
        out.insert(out.end(), add.begin(), add.end());
        out.push_back(editFrom(t, e, at - start));
      } else {
        out.push_back(e);
      }
      start = end;
    }
  }
  t.edits = std::move(out);
}

void deleteEdits(VTTrack& t, int64_t from, int64_t length) {
  int64_t a = from, b = from + length;
  std::vector<Edit> out;
  int64_t start = 0;
  for (const Edit& e : t.edits) {
    int64_t end = start + e.duration;
    if (end <= a || start >= b) {
      out.push_back(e);
    } else {
      if (start < a) {
        Edit head = e;
        head.duration = a - start;
        out.push_back(head);
      }
      if (end > b) out.push_back(editFrom(t, e, b - start));
    }
    start = end;
  }
  t.edits = std::move(out);
}

}  // namespace vt::movie

// The controller's edit history: every edit of its movie can be undone and redone, step by
// step, within a bound on steps and on the memory the saved movie states take.
#include <MacErrors.h>
#include <Movies.h>

#include "controller/controller.h"
#include "model/model.h"

namespace vt::controller {

namespace {

// What a saved state of the movie takes: its tables (the media data itself is shared).
size_t stateBytes(Movie m) {
  size_t n = sizeof(VTMovie);
  for (const auto& t : m->tracks) {
    n +=
        sizeof(VTTrack) + t->edits.size() * sizeof(vt::movie::Edit) + t->userData.items.size() * 64;
    if (!t->media) continue;
    n += sizeof(VTMedia) + t->media->samples.memoryBytes() + t->media->inputMap.size();
    for (const auto& d : t->media->descriptions) n += sizeof d + d.bytes.size();
    for (const auto& r : t->media->dataRefs) n += sizeof r + r.data.size() + r.path.size();
  }
  return n;
}

void drop(std::deque<UndoStep>& steps, bool oldest) {
  UndoStep s = oldest ? steps.front() : steps.back();
  if (oldest)
    steps.pop_front();
  else
    steps.pop_back();
  DisposeMovieEditState(s.state);
}

void dropAll(std::deque<UndoStep>& steps) {
  while (!steps.empty()) drop(steps, false);
}

// Oldest undo steps go first; redo steps only when no undo step is left to drop.
void trim(VTController& c) {
  Editing& e = c.editing;
  while (e.undoSteps.size() > kUndoSteps) drop(e.undoSteps, true);
  while (historyBytes(c) > e.undoMemory && e.undoSteps.size() + e.redoSteps.size() > 1) {
    if (e.undoSteps.size() > (e.redoSteps.empty() ? 1u : 0u))
      drop(e.undoSteps, true);
    else
      drop(e.redoSteps, true);
  }
}

// Moves the movie to the newest state of `from`, saving where it was on `to`.
OSErr travel(VTController& c, std::deque<UndoStep>& from, std::deque<UndoStep>& to) {
  if (from.empty()) return paramErr;
  OSErr err = noErr;
  UndoStep here{saveState(c.movie, err), stateBytes(c.movie)};
  if (!here.state) return err;
  err = UseMovieEditState(c.movie, from.back().state);
  if (err != noErr) {
    DisposeMovieEditState(here.state);
    return err;
  }
  drop(from, false);
  to.push_back(here);
  trim(c);
  return noErr;
}

}  // namespace

MovieEditState saveState(Movie m, OSErr& err) {
  MovieEditState s = NewMovieEditState(m);
  if (!s) err = GetMoviesError() ? GetMoviesError() : (OSErr)memFullErr;
  return s;
}

size_t historyBytes(const VTController& c) {
  size_t n = 0;
  for (const UndoStep& s : c.editing.undoSteps) n += s.bytes;
  for (const UndoStep& s : c.editing.redoSteps) n += s.bytes;
  return n;
}

void recordEdit(VTController& c, MovieEditState before) {
  // Measured on the movie as the edit left it: near what the state took before it (more after
  // a paste), and the state itself is opaque here.
  dropAll(c.editing.redoSteps);
  c.editing.undoSteps.push_back(UndoStep{before, stateBytes(c.movie)});
  trim(c);
}

OSErr undoEdit(VTController& c) { return travel(c, c.editing.undoSteps, c.editing.redoSteps); }
OSErr redoEdit(VTController& c) { return travel(c, c.editing.redoSteps, c.editing.undoSteps); }

void clearHistory(VTController& c) {
  dropAll(c.editing.undoSteps);
  dropAll(c.editing.redoSteps);
}

}  // namespace vt::controller

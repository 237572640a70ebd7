// The selection and the edit commands: Shift-extension by whole frames, and cut, copy, paste,
// clear, undo and redo, each edit kept in the history so it can be undone.
#include <MacErrors.h>
#include <Movies.h>

#include <algorithm>

#include "controller/controller.h"

namespace vt::controller {

namespace {

// An edit of the controller's own: the picture and frame list are redone, and a movie that had
// no picture (a new one) takes the size of the picture the edit gave it.
void afterEdit(VTController& c) {
  c.picture.forget();
  c.bar.framesDuration = -1;
  Rect nat{0, 0, 0, 0};
  GetMovieNaturalBoundsRect(c.movie, &nat);
  if (EmptyRect(&c.geometry.movieRect) && !EmptyRect(&nat)) {
    resizeMovie(c, nat.right - nat.left, nat.bottom - nat.top);
    growBoundsSet(c);
  }
  setTime(c, GetMovieTime(c.movie, nullptr));
}

// An edit just made (or not): kept in the history and shown, or its saved state let go.
OSErr finishEdit(VTController& c, MovieEditState before, OSErr err) {
  if (err != noErr) {
    DisposeMovieEditState(before);
    return err;
  }
  recordEdit(c, before);
  afterEdit(c);
  return noErr;
}

}  // namespace

// Where the frame shown at t starts, and where the next one starts (the movie's end after the
// last frame): the places stepping lands on. Without pictures every time is its own frame.
TimeValue frameStart(const VTController& c, TimeValue t) {
  const OSType video = VideoMediaType;
  TimeValue at = -1;
  GetMovieNextInterestingTime(c.movie, nextTimeStep | nextTimeEdgeOK, 1, &video, t, -IntToFixed(1),
                              &at, nullptr);
  return at >= 0 ? at : t;
}

TimeValue frameEnd(const VTController& c, TimeValue t) {
  const OSType video = VideoMediaType;
  TimeValue at = -1;
  GetMovieNextInterestingTime(c.movie, nextTimeStep, 1, &video, t, IntToFixed(1), &at, nullptr);
  TimeValue dur = GetMovieDuration(c.movie);
  if (at < 0)
    return GetMovieIndTrackType(c.movie, 1, VideoMediaType, movieTrackMediaType) ? dur : t;
  return std::min(at, dur);
}

// Selects between a fixed end and a moving one.
void selectBetween(VTController& c, TimeValue anchor, TimeValue moving) {
  TimeValue lo = std::min(anchor, moving), hi = std::max(anchor, moving);
  SetMovieSelection(c.movie, lo, hi - lo);
}

// A Shift-extension works from the playhead. Within the selection (its ends included) the end
// nearer the playhead moves and the other stays; elsewhere, or with nothing selected, a new
// selection starts where the frame at the playhead starts. Answers the end that stays and
// the one that moves, as they are now.
void selectionEnds(const VTController& c, TimeValue& anchor, TimeValue& moving) {
  TimeValue st = 0, sd = 0;
  GetMovieSelection(c.movie, &st, &sd);
  TimeValue now = GetMovieTime(c.movie, nullptr);
  if (sd > 0 && now >= st && now <= st + sd) {
    bool startMoves = now - st < st + sd - now;
    anchor = startMoves ? st + sd : st;
    moving = startMoves ? st : st + sd;
    return;
  }
  anchor = moving = now >= GetMovieDuration(c.movie) ? now : frameStart(c, now);
}

// Shift+arrow: moves the selection's moving end by one frame and shows the time there.
void extendByFrame(VTController& c, bool forward) {
  if (GetMovieRate(c.movie) != 0) SetMovieRate(c.movie, 0);
  TimeValue anchor = 0, moving = 0;
  selectionEnds(c, anchor, moving);
  moving = forward ? frameEnd(c, moving) : moving > 0 ? frameStart(c, moving - 1) : 0;
  selectBetween(c, anchor, moving);
  setTime(c, moving);
}

bool hasSelection(Movie m) {
  TimeValue st = 0, sd = 0;
  GetMovieSelection(m, &st, &sd);
  return sd > 0;
}

// The movie changed under the controller: its picture and frame list are redone.
void movieEdited(VTController& c) {
  c.picture.forget();
  c.bar.framesDuration = -1;
  setTime(c, GetMovieTime(c.movie, nullptr));
}

Movie copyOrCut(VTController& c, bool cut) {
  if (!c.editing.enabled || !hasSelection(c.movie)) return nullptr;
  if (!cut) return CopyMovieSelection(c.movie);
  MovieEditState before = NewMovieEditState(c.movie);
  if (!before) return nullptr;
  Movie out = CutMovieSelection(c.movie);
  if (!out) {
    DisposeMovieEditState(before);
    return nullptr;
  }
  recordEdit(c, before);
  afterEdit(c);
  return out;
}

OSErr paste(VTController& c, Movie src) {
  if (!c.editing.enabled) return paramErr;
  Movie fromScrap = nullptr;
  if (!src) {
    fromScrap = NewMovieFromScrap(0);
    if (!fromScrap) return noMovieFound;
    src = fromScrap;
  }
  OSErr err = noErr;
  MovieEditState before = saveState(c.movie, err);
  if (before) {
    // Without a selection the paste goes in at the current time.
    if (!hasSelection(c.movie)) SetMovieSelection(c.movie, GetMovieTime(c.movie, nullptr), 0);
    PasteMovieSelection(c.movie, src);
    err = finishEdit(c, before, GetMoviesError());
  }
  if (fromScrap) DisposeMovie(fromScrap);
  return err;
}

OSErr clearSelection(VTController& c) {
  if (!c.editing.enabled) return paramErr;
  if (!hasSelection(c.movie)) return noErr;  // nothing selected: nothing to clear or undo
  OSErr err = noErr;
  MovieEditState before = saveState(c.movie, err);
  if (!before) return err;
  ClearMovieSelection(c.movie);
  return finishEdit(c, before, GetMoviesError());
}

OSErr undo(VTController& c) {
  if (!c.editing.enabled) return paramErr;
  OSErr err = undoEdit(c);
  if (err == noErr) afterEdit(c);
  return err;
}

OSErr redo(VTController& c) {
  if (!c.editing.enabled) return paramErr;
  OSErr err = redoEdit(c);
  if (err != noErr) return err;
  afterEdit(c);
  // No menu command tells the application of this edit: the filter hears it as one.
  doAction(c, mcActionMovieEdited, nullptr);
  return noErr;
}

long controllerInfo(const VTController& c) {
  long f = 0;
  if (c.editing.enabled) {
    f |= mcInfoEditingEnabled;
    if (hasSelection(c.movie)) f |= mcInfoCutAvailable | mcInfoCopyAvailable | mcInfoClearAvailable;
    if (VTMovieScrapHasMovie()) f |= mcInfoPasteAvailable;
    if (!c.editing.undoSteps.empty()) f |= mcInfoUndoAvailable;
  }
  if (movieHasSound(c.movie)) f |= mcInfoHasSound;
  if (GetMovieRate(c.movie) != 0) f |= mcInfoIsPlaying;
  if (c.playback.looping) f |= mcInfoIsLooping;
  if (c.playback.looping && c.playback.palindrome) f |= mcInfoIsInPalindrome;
  return f;
}

}  // namespace vt::controller

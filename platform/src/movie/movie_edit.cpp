// Editing whole movies: segments, the selection (cut, copy, paste, clear) and edit states.
#include <Movies.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "core/guard.h"
#include "core/reset.h"
#include "model/internal.h"

using namespace vt::movie;

struct VTMovieEditState {
  VTMovie* snapshot = nullptr;
  const VTMovie* owner = nullptr;
};

namespace {

std::set<VTMovieEditState*>& liveStates() {
  static std::set<VTMovieEditState*> s;
  return s;
}

// Whether a track takes part in an effect: as the effect, or as one of its sources (which are
// drawn only through the effect). Media pasted into such a track would not be seen as pasted.
bool inEffect(const VTMovie& m, const VTTrack& t) {
  for (const auto& r : t.references)
    if (r.type == kTrackReferenceModifier && !r.ids.empty()) return true;
  for (const auto& other : m.tracks)
    for (const auto& r : other->references)
      if (r.type == kTrackReferenceModifier &&
          std::find(r.ids.begin(), r.ids.end(), t.id) != r.ids.end())
        return true;
  return false;
}

const vt::ResetRegistration kReset(vt::ResetStage::MovieUsers, [] {
  for (VTMovieEditState* s : liveStates()) {
    delete s->snapshot;
    delete s;
  }
  liveStates().clear();
});

// The destination track a source track's segment goes into: the first unused track of the same
// media type and time scale that is drawn on its own, or a new one shaped like the source. The
// same time scale keeps the copied samples' times exact.
VTTrack* matchTrack(VTMovie& dst, const VTTrack& src, std::set<VTTrack*>& used) {
  for (auto& t : dst.tracks)
    if (t->media && t->media->mediaType == src.media->mediaType &&
        t->media->timeScale == src.media->timeScale && !used.count(t.get()) && !inEffect(dst, *t)) {
      used.insert(t.get());
      return t.get();
    }
  Track t = NewMovieTrack(&dst, src.width, src.height, src.volume);
  if (!t) return nullptr;
  if (!NewTrackMedia(t, src.media->mediaType, src.media->timeScale, nullptr, 0)) return nullptr;
  CopyTrackSettings(const_cast<VTTrack*>(&src), t);
  used.insert(t);
  return t;
}

}  // namespace

OSErr InsertMovieSegment(Movie srcMovie, Movie dstMovie, TimeValue srcIn, TimeValue srcDuration,
                         TimeValue dstIn) try {
  if (!isLiveMovie(srcMovie) || !isLiveMovie(dstMovie)) {
    setError(invalidMovie);
    return invalidMovie;
  }
  if (srcIn < 0 || srcDuration < 0 || dstIn < 0 || srcMovie == dstMovie) {
    setError(paramErr);
    return paramErr;
  }
  if (srcDuration == 0) {
    setError(noErr);
    return noErr;
  }
  VTMovie& src = *srcMovie;
  VTMovie& dst = *dstMovie;
  int64_t dstDuration = scaleUp(srcDuration, dst.timeScale, src.timeScale);
  std::set<VTTrack*> used;
  std::vector<VTTrack*> before;
  for (auto& t : dst.tracks) before.push_back(t.get());
  for (auto& st : src.tracks) {
    if (!st->media) continue;
    int64_t avail = st->duration() - srcIn;
    if (avail <= 0) continue;
    VTTrack* dt = matchTrack(dst, *st, used);
    if (!dt) return GetMoviesError() ? GetMoviesError() : (OSErr)memFullErr;
    OSErr err = InsertTrackSegment(st.get(), dt, srcIn,
                                   (TimeValue)std::min<int64_t>(avail, srcDuration), dstIn);
    if (err) return err;
  }
  // Tracks that got nothing still shift by the inserted length.
  for (VTTrack* t : before)
    if (!used.count(t)) InsertEmptyTrackSegment(t, dstIn, (TimeValue)dstDuration);
  setError(noErr);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSErr DeleteMovieSegment(Movie theMovie, TimeValue startTime, TimeValue duration) try {
  if (!isLiveMovie(theMovie)) {
    setError(invalidMovie);
    return invalidMovie;
  }
  if (startTime < 0 || duration < 0) {
    setError(paramErr);
    return paramErr;
  }
  for (auto& t : theMovie->tracks) {
    OSErr err = DeleteTrackSegment(t.get(), startTime, duration);
    if (err) return err;
  }
  setError(noErr);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSErr InsertEmptyMovieSegment(Movie dstMovie, TimeValue dstIn, TimeValue dstDuration) try {
  if (!isLiveMovie(dstMovie)) {
    setError(invalidMovie);
    return invalidMovie;
  }
  for (auto& t : dstMovie->tracks) {
    OSErr err = InsertEmptyTrackSegment(t.get(), dstIn, dstDuration);
    if (err) return err;
  }
  setError(noErr);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

Movie CopyMovieSelection(Movie theMovie) try {
  if (!isLiveMovie(theMovie)) {
    setError(invalidMovie);
    return nullptr;
  }
  VTMovie& m = *theMovie;
  Movie copy = NewMovie(0);
  copy->timeScale = m.timeScale;
  CopyMovieSettings(theMovie, copy);
  if (m.selectionDuration > 0) {
    OSErr err = InsertMovieSegment(theMovie, copy, (TimeValue)m.selectionTime,
                                   (TimeValue)m.selectionDuration, 0);
    if (err) {
      DisposeMovie(copy);
      setError(err);
      return nullptr;
    }
  }
  copy->selectionTime = 0;
  copy->selectionDuration = copy->duration();
  setError(noErr);
  return copy;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

Movie CutMovieSelection(Movie theMovie) try {
  Movie copy = CopyMovieSelection(theMovie);
  if (!copy) return nullptr;
  ClearMovieSelection(theMovie);
  return copy;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

void ClearMovieSelection(Movie theMovie) try {
  if (!isLiveMovie(theMovie)) return setError(invalidMovie);
  VTMovie& m = *theMovie;
  if (m.selectionDuration > 0)
    DeleteMovieSegment(theMovie, (TimeValue)m.selectionTime, (TimeValue)m.selectionDuration);
  m.selectionDuration = 0;
  m.currentTime = std::min<int64_t>(m.selectionTime, m.duration());
  setError(noErr);
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

void PasteMovieSelection(Movie theMovie, Movie src) try {
  if (!isLiveMovie(theMovie) || !isLiveMovie(src)) return setError(invalidMovie);
  VTMovie& m = *theMovie;
  if (m.selectionDuration > 0) ClearMovieSelection(theMovie);
  int64_t at = std::min<int64_t>(m.selectionTime, m.duration());
  OSErr err = InsertMovieSegment(src, theMovie, 0, (TimeValue)src->duration(), (TimeValue)at);
  if (err) return setError(err);
  m.selectionTime = at;
  m.selectionDuration = scaleUp(src->duration(), m.timeScale, src->timeScale);
  setError(noErr);
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

MovieEditState NewMovieEditState(Movie theMovie) try {
  if (!isLiveMovie(theMovie)) {
    setError(invalidMovie);
    return nullptr;
  }
  auto* s = new VTMovieEditState();
  s->snapshot = cloneMovie(*theMovie);
  // The snapshot is not a movie of its own: callers cannot reach it.
  forgetMovieObject(s->snapshot);
  s->owner = theMovie;
  liveStates().insert(s);
  setError(noErr);
  return s;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

OSErr UseMovieEditState(Movie theMovie, MovieEditState toState) try {
  if (!isLiveMovie(theMovie)) {
    setError(invalidMovie);
    return invalidMovie;
  }
  if (!toState || !liveStates().count(toState) || toState->owner != theMovie) {
    setError(paramErr);
    return paramErr;
  }
  VTMovie& m = *theMovie;
  const VTMovie& s = *toState->snapshot;
  // Tracks keep their identity where they still exist; others come back or go.
  std::vector<std::unique_ptr<VTTrack>> tracks;
  for (const auto& st : s.tracks) {
    std::unique_ptr<VTTrack> t;
    for (auto& mt : m.tracks)
      if (mt && mt->id == st->id) t = std::move(mt);
    if (!t) {
      t = std::make_unique<VTTrack>();
      t->movie = &m;
    }
    copyTrackState(*t, *st);
    tracks.push_back(std::move(t));
  }
  m.tracks = std::move(tracks);
  m.timeScale = s.timeScale;
  m.selectionTime = s.selectionTime;
  m.selectionDuration = s.selectionDuration;
  m.currentTime = s.currentTime;
  m.posterTime = s.posterTime;
  m.userData = s.userData;
  m.nextTrackID = std::max(m.nextTrackID, s.nextTrackID);
  setError(noErr);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSErr DisposeMovieEditState(MovieEditState state) try {
  if (!state || !liveStates().count(state)) {
    setError(paramErr);
    return paramErr;
  }
  liveStates().erase(state);
  delete state->snapshot;
  delete state;
  setError(noErr);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

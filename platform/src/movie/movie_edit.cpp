// Editing whole movies: segments, the selection (cut, copy, paste, clear) and edit states.
#include <Movies.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "core/reset.h"
#include "movie/calls.h"

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
                         TimeValue dstIn) {
  return statusCall([&]() -> OSErr {
    if (!liveMovie(srcMovie) || !liveMovie(dstMovie)) return invalidMovie;
    if (srcIn < 0 || srcDuration < 0 || dstIn < 0 || srcMovie == dstMovie) return paramErr;
    if (srcDuration == 0) return noErr;
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
    return noErr;
  });
}

OSErr DeleteMovieSegment(Movie theMovie, TimeValue startTime, TimeValue duration) {
  return movieStatus(theMovie, [&](VTMovie& m) -> OSErr {
    if (startTime < 0 || duration < 0) return paramErr;
    for (auto& t : m.tracks)
      if (OSErr err = DeleteTrackSegment(t.get(), startTime, duration)) return err;
    return noErr;
  });
}

OSErr InsertEmptyMovieSegment(Movie dstMovie, TimeValue dstIn, TimeValue dstDuration) {
  return movieStatus(dstMovie, [&](VTMovie& m) -> OSErr {
    for (auto& t : m.tracks)
      if (OSErr err = InsertEmptyTrackSegment(t.get(), dstIn, dstDuration)) return err;
    return noErr;
  });
}

Movie CopyMovieSelection(Movie theMovie) {
  return withMovie(theMovie, Movie{}, [&](VTMovie& m) -> Movie {
    Movie copy = NewMovie(0);
    copy->timeScale = m.timeScale;
    CopyMovieSettings(&m, copy);
    if (m.selectionDuration > 0) {
      OSErr err = InsertMovieSegment(&m, copy, (TimeValue)m.selectionTime,
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
  });
}

Movie CutMovieSelection(Movie theMovie) {
  return movieCall(Movie{}, [&]() -> Movie {
    Movie copy = CopyMovieSelection(theMovie);
    if (copy) ClearMovieSelection(theMovie);
    return copy;
  });
}

void ClearMovieSelection(Movie theMovie) {
  withMovie(theMovie, [&](VTMovie& m) {
    if (m.selectionDuration > 0)
      DeleteMovieSegment(&m, (TimeValue)m.selectionTime, (TimeValue)m.selectionDuration);
    m.selectionDuration = 0;
    m.currentTime = std::min<int64_t>(m.selectionTime, m.duration());
    setError(noErr);
  });
}

void PasteMovieSelection(Movie theMovie, Movie src) {
  withMovie(theMovie, [&](VTMovie& m) {
    if (!liveMovie(src)) return setError(invalidMovie);
    if (m.selectionDuration > 0) ClearMovieSelection(&m);
    int64_t at = std::min<int64_t>(m.selectionTime, m.duration());
    OSErr err = InsertMovieSegment(src, &m, 0, (TimeValue)src->duration(), (TimeValue)at);
    if (err) return setError(err);
    m.selectionTime = at;
    m.selectionDuration = scaleUp(src->duration(), m.timeScale, src->timeScale);
    setError(noErr);
  });
}

MovieEditState NewMovieEditState(Movie theMovie) {
  return withMovie(theMovie, MovieEditState{}, [&](VTMovie& m) -> MovieEditState {
    auto state = std::make_unique<VTMovieEditState>();
    state->snapshot = cloneMovie(m);
    // The snapshot is not a movie of its own: callers cannot reach it.
    forgetMovieObject(state->snapshot);
    state->owner = &m;
    liveStates().insert(state.get());
    return state.release();
  });
}

OSErr UseMovieEditState(Movie theMovie, MovieEditState toState) {
  return movieStatus(theMovie, [&](VTMovie& m) -> OSErr {
    if (!toState || !liveStates().count(toState) || toState->owner != &m) return paramErr;
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
    return noErr;
  });
}

OSErr DisposeMovieEditState(MovieEditState state) {
  return statusCall([&]() -> OSErr {
    if (!state || !liveStates().count(state)) return paramErr;
    liveStates().erase(state);
    delete state->snapshot;
    delete state;
    return noErr;
  });
}

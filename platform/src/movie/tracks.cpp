// Tracks: their settings, segments of their edit lists, references between tracks and the
// times where something changes.
#include <Movies.h>

#include <algorithm>
#include <cstring>

#include "movie/calls.h"

using namespace vt::movie;

namespace {

bool isAudible(OSType t) { return t == 'soun' || t == 'musi' || t == 'MPEG'; }

bool hasCharacteristic(const VTTrack& t, OSType c) {
  if (!t.media) return false;
  OSType m = t.media->mediaType;
  switch (c) {
    case VisualMediaCharacteristic:
    case kCharacteristicCanSendVideo: return isVisualMediaType(m);
    case AudioMediaCharacteristic: return isAudible(m);
    case kCharacteristicCanStep: return m == 'vide' || m == 'text' || m == 'MPEG' || m == 'sprt';
    case kCharacteristicProvidesActions: return m == 'sprt' || m == 'flsh';
    default: return false;
  }
}

VTTrack::Reference* findRef(VTTrack& t, OSType type) {
  for (auto& r : t.references)
    if (r.type == type) return &r;
  return nullptr;
}

// The reference of `type` when `index` (1-based) is one of its entries.
VTTrack::Reference* findRefEntry(VTTrack& t, OSType type, long index) {
  VTTrack::Reference* r = findRef(t, type);
  return r && index >= 1 && index <= (long)r->ids.size() ? r : nullptr;
}

}  // namespace

long GetMovieTrackCount(Movie theMovie) {
  return withMovie(theMovie, 0L, [&](VTMovie& m) { return (long)m.tracks.size(); });
}

Track GetMovieIndTrack(Movie theMovie, long index) {
  return withMovie(theMovie, Track{}, [&](VTMovie& m) -> Track {
    if (index < 1 || index > (long)m.tracks.size()) return setError(badTrackIndex), nullptr;
    return m.tracks[index - 1].get();
  });
}

Track GetMovieIndTrackType(Movie theMovie, long index, OSType trackType, long flags) {
  return withMovie(theMovie, Track{}, [&](VTMovie& m) -> Track {
    long seen = 0;
    for (const auto& t : m.tracks) {
      if ((flags & movieTrackEnabledOnly) && !t->enabled()) continue;
      bool match;
      if (flags & movieTrackCharacteristic)
        match = hasCharacteristic(*t, trackType);
      else
        match = t->media && t->media->mediaType == trackType;
      if (match && ++seen == index) return t.get();
    }
    setError(badTrackIndex);
    return nullptr;
  });
}

Track GetMovieTrack(Movie theMovie, long trackID) {
  return withMovie(theMovie, Track{}, [&](VTMovie& m) -> Track {
    for (const auto& t : m.tracks)
      if ((long)t->id == trackID) return t.get();
    setError(trackIDNotFound);
    return nullptr;
  });
}

Track NewMovieTrack(Movie theMovie, Fixed width, Fixed height, short trackVolume) {
  return withMovie(theMovie, Track{}, [&](VTMovie& m) -> Track {
    if (width < 0 || height < 0) return setError(paramErr), nullptr;
    auto t = std::make_unique<VTTrack>();
    t->movie = &m;
    t->id = m.nextTrackID++;
    t->width = width;
    t->height = height;
    t->volume = trackVolume;
    VTTrack* raw = t.get();
    m.tracks.push_back(std::move(t));
    return raw;
  });
}

void DisposeMovieTrack(Track theTrack) {
  withTrack(theTrack, [&](VTTrack& t) {
    auto& v = t.movie->tracks;
    v.erase(std::remove_if(v.begin(), v.end(), [&](const auto& p) { return p.get() == &t; }),
            v.end());
  });
}

long GetTrackID(Track theTrack) {
  return withTrack(theTrack, 0L, [&](VTTrack& t) { return (long)t.id; });
}
Movie GetTrackMovie(Track theTrack) {
  return withTrack(theTrack, Movie{}, [&](VTTrack& t) { return t.movie; });
}
Media GetTrackMedia(Track theTrack) {
  return withTrack(theTrack, Media{}, [&](VTTrack& t) { return t.media.get(); });
}
TimeValue GetTrackDuration(Track theTrack) {
  return withTrack(theTrack, TimeValue{0}, [&](VTTrack& t) { return clampTV(t.duration()); });
}
void GetTrackDimensions(Track theTrack, Fixed* width, Fixed* height) {
  if (width) *width = 0;
  if (height) *height = 0;
  withTrack(theTrack, [&](VTTrack& t) {
    if (width) *width = t.width;
    if (height) *height = t.height;
  });
}
void SetTrackDimensions(Track theTrack, Fixed width, Fixed height) {
  withTrack(theTrack, [&](VTTrack& t) {
    t.width = width;
    t.height = height;
  });
}
Boolean GetTrackEnabled(Track theTrack) {
  return withTrack(theTrack, Boolean{false}, [&](VTTrack& t) -> Boolean { return t.enabled(); });
}
void SetTrackEnabled(Track theTrack, Boolean isEnabled) {
  withTrack(theTrack, [&](VTTrack& t) {
    t.headerFlags = isEnabled ? (t.headerFlags | 1) : (t.headerFlags & ~1u);
  });
}
short GetTrackLayer(Track theTrack) {
  return withTrack(theTrack, short{0}, [&](VTTrack& t) { return t.layer; });
}
void SetTrackLayer(Track theTrack, short layer) {
  withTrack(theTrack, [&](VTTrack& t) { t.layer = layer; });
}
short GetTrackVolume(Track theTrack) {
  return withTrack(theTrack, short{0}, [&](VTTrack& t) { return t.volume; });
}
void SetTrackVolume(Track theTrack, short volume) {
  withTrack(theTrack, [&](VTTrack& t) { t.volume = volume; });
}
void GetTrackMatrix(Track theTrack, MatrixRecord* matrix) {
  withTrack(theTrack, [&](VTTrack& t) { matrixToRecord(t.matrix, matrix); });
}
void SetTrackMatrix(Track theTrack, const MatrixRecord* matrix) {
  withTrack(theTrack, [&](VTTrack& t) { matrixFromRecord(t.matrix, matrix); });
}

OSErr CopyTrackSettings(Track srcTrack, Track dstTrack) {
  return trackStatus(srcTrack, [&](VTTrack& s) -> OSErr {
    VTTrack* d = liveTrack(dstTrack);
    if (!d) return invalidTrack;
    std::memcpy(d->matrix, s.matrix, sizeof d->matrix);
    d->layer = s.layer;
    d->alternateGroup = s.alternateGroup;
    d->volume = s.volume;
    d->headerFlags = s.headerFlags;
    d->userData = s.userData;
    if (s.media && d->media) {
      d->media->language = s.media->language;
      d->media->quality = s.media->quality;
    }
    return noErr;
  });
}

UserData GetTrackUserData(Track theTrack) {
  return withTrack(theTrack, UserData{}, [&](VTTrack& t) { return &t.userData; });
}

TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack) {
  return withTrack(theTrack, TimeValue{-1}, [&](VTTrack& t) -> TimeValue {
    int64_t mt;
    Fixed rate;
    if (!trackTimeToMediaTime(t, value, mt, rate)) return -1;
    return clampTV(mt);
  });
}

// ---- segments -----------------------------------------------------------------------------------

OSErr InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime,
                           TimeValue mediaDuration, Fixed mediaRate) {
  return trackStatus(theTrack, [&](VTTrack& t) -> OSErr {
    if (!t.media) return invalidMedia;
    if (mediaTime < -1 || mediaDuration < 0 || mediaRate <= 0 || trackStart < -1) return paramErr;
    if (mediaTime >= 0 && (int64_t)mediaTime + mediaDuration > t.media->duration())
      return invalidDuration;
    Edit e;
    e.mediaTime = mediaTime;
    e.rate = mediaRate;
    // Long enough to show the whole media span and no more: the first offset that would show
    // what follows it.
    if (mediaTime >= 0)
      e.duration = editOffsetOf(e, (int64_t)mediaTime + mediaDuration, t.movie->timeScale,
                                t.media->timeScale);
    else
      e.duration = scaleUp((int64_t)mediaDuration * 65536 / mediaRate, t.movie->timeScale,
                           t.media->timeScale);
    insertEdits(t, trackStart < 0 ? t.duration() : trackStart, {e});
    return noErr;
  });
}

OSErr InsertEmptyTrackSegment(Track dstTrack, TimeValue dstIn, TimeValue dstDuration) {
  return trackStatus(dstTrack, [&](VTTrack& t) -> OSErr {
    if (dstIn < 0 || dstDuration < 0) return paramErr;
    if (dstIn < t.duration()) insertEdits(t, dstIn, {Edit{dstDuration, -1, fixed1}});
    return noErr;
  });
}

OSErr DeleteTrackSegment(Track theTrack, TimeValue startTime, TimeValue duration) {
  return trackStatus(theTrack, [&](VTTrack& t) -> OSErr {
    if (startTime < 0 || duration < 0) return paramErr;
    deleteEdits(t, startTime, duration);
    return noErr;
  });
}

// ---- track references ---------------------------------------------------------------------------

OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, long* addedIndex) {
  return trackStatus(theTrack, [&](VTTrack& t) -> OSErr {
    VTTrack* r = liveTrack(refTrack);
    if (!r) return invalidTrack;
    if (r->movie != t.movie || r == &t || refType == 0) return paramErr;
    VTTrack::Reference* ref = findRef(t, refType);
    if (!ref) ref = &t.references.emplace_back(VTTrack::Reference{refType, {}});
    ref->ids.push_back(r->id);
    if (addedIndex) *addedIndex = (long)ref->ids.size();
    return noErr;
  });
}

OSErr DeleteTrackReference(Track theTrack, OSType refType, long index) {
  return trackStatus(theTrack, [&](VTTrack& t) -> OSErr {
    VTTrack::Reference* r = findRefEntry(t, refType, index);
    if (!r) return badTrackIndex;
    r->ids.erase(r->ids.begin() + (index - 1));
    return noErr;
  });
}

OSErr SetTrackReference(Track theTrack, Track refTrack, OSType refType, long index) {
  return trackStatus(theTrack, [&](VTTrack& t) -> OSErr {
    VTTrack::Reference* r = findRefEntry(t, refType, index);
    if (!r) return badTrackIndex;
    if (refTrack && !isLiveTrack(refTrack)) return invalidTrack;
    r->ids[index - 1] = refTrack ? refTrack->id : 0;
    return noErr;
  });
}

Track GetTrackReference(Track theTrack, OSType refType, long index) {
  return withTrack(theTrack, Track{}, [&](VTTrack& t) -> Track {
    VTTrack::Reference* r = findRefEntry(t, refType, index);
    if (!r) return setError(badTrackIndex), nullptr;
    uint32_t id = r->ids[index - 1];
    for (const auto& x : t.movie->tracks)
      if (id != 0 && x->id == id) return x.get();
    return nullptr;
  });
}

long GetTrackReferenceCount(Track theTrack, OSType refType) {
  return withTrack(theTrack, 0L, [&](VTTrack& t) {
    VTTrack::Reference* r = findRef(t, refType);
    return r ? (long)r->ids.size() : 0L;
  });
}

OSType GetNextTrackReferenceType(Track theTrack, OSType refType) {
  return withTrack(theTrack, OSType{0}, [&](VTTrack& t) -> OSType {
    bool passed = refType == 0;
    for (const auto& r : t.references) {
      if (passed && !r.ids.empty()) return r.type;
      if (r.type == refType) passed = true;
    }
    return 0;
  });
}

// ---- interesting times --------------------------------------------------------------------------

namespace {

// The nearest time after `time` (before it, backward) where one of `flags`' kinds of change
// happens in the track, with how long what starts there lasts; -1 when there is none.
void nextInterestingTime(const VTTrack& t, short flags, TimeValue time, bool backward,
                         int64_t& best, int64_t& bestDur) {
  bool edgeOK = (flags & nextTimeEdgeOK) != 0;
  best = -1;
  bestDur = 0;
  auto consider = [&](int64_t cand, int64_t dur) {
    bool ok = backward ? (cand < time || (edgeOK && cand == time))
                       : (cand > time || (edgeOK && cand == time));
    if (!ok || cand < 0) return;
    if (best < 0 || (backward ? cand > best : cand < best)) {
      best = cand;
      bestDur = dur;
    }
  };
  // Edit boundaries.
  if (flags & (nextTimeMediaEdit | nextTimeTrackEdit)) {
    int64_t start = 0;
    for (const Edit& e : t.edits) {
      consider(start, e.duration);
      start += e.duration;
    }
  }
  // Samples: where the shown frame changes, as drawing sees it; for sync samples only, the first
  // such place that shows a sync sample.
  bool samples = (flags & (nextTimeMediaSample | nextTimeStep)) != 0;
  bool syncOnly = (flags & nextTimeSyncSample) && !samples;
  if (samples || syncOnly) {
    int64_t at = trackShownChange(t, time, !backward, edgeOK);
    for (long guard = 0; syncOnly && at >= 0 && guard < 100000; ++guard) {
      long s = trackSampleAt(t, at);
      if (s >= 0 && t.media->sampleInfo((uint32_t)s).sync) break;
      at = trackShownChange(t, at, !backward, false);
    }
    if (at >= 0) {
      int64_t next = trackShownChange(t, at, true, false);
      consider(at, (next >= 0 ? next : t.duration()) - at);
    }
  }
}

}  // namespace

void GetTrackNextInterestingTime(Track theTrack, short flags, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration) {
  if (interestingTime) *interestingTime = -1;
  if (interestingDuration) *interestingDuration = 0;
  withTrack(theTrack, [&](VTTrack& t) {
    if (!t.media) return;
    int64_t best, bestDur;
    nextInterestingTime(t, flags, time, rate < 0, best, bestDur);
    if (best >= 0 && best <= INT32_MAX) {
      if (interestingTime) *interestingTime = (TimeValue)best;
      if (interestingDuration) *interestingDuration = clampTV(bestDur);
    }
  });
}

void GetMovieNextInterestingTime(Movie theMovie, short flags, short numMediaTypes,
                                 const OSType* whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration) {
  if (interestingTime) *interestingTime = -1;
  if (interestingDuration) *interestingDuration = 0;
  withMovie(theMovie, [&](VTMovie& m) {
    int64_t best = -1, bestDur = 0;
    for (const auto& t : m.tracks) {
      if (!t->enabled() || !t->media) continue;
      if (numMediaTypes > 0 && whichMediaTypes &&
          std::find(whichMediaTypes, whichMediaTypes + numMediaTypes, t->media->mediaType) ==
              whichMediaTypes + numMediaTypes)
        continue;
      TimeValue it, d;
      GetTrackNextInterestingTime(t.get(), flags, time, rate, &it, &d);
      if (it < 0) continue;
      if (best < 0 || (rate < 0 ? it > best : it < best)) {
        best = it;
        bestDur = d;
      }
    }
    setError(noErr);
    if (interestingTime) *interestingTime = (TimeValue)best;
    if (interestingDuration) *interestingDuration = (TimeValue)bestDur;
  });
}

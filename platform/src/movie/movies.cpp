// Movies, tracks, media and edits.
#include <MacMemory.h>
#include <Movies.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "atoms/atom_tree.h"
#include "core/fourcc.h"
#include "core/guard.h"
#include "core/pstring.h"
#include "model/internal.h"
#include "movie/storage.h"

using namespace vt::movie;

namespace {

VTMovie* liveMovie(Movie m) {
  if (!isLiveMovie(m)) {
    setError(invalidMovie);
    return nullptr;
  }
  setError(noErr);
  return m;
}
VTTrack* liveTrack(Track t) {
  if (!isLiveTrack(t)) {
    setError(invalidTrack);
    return nullptr;
  }
  setError(noErr);
  return t;
}
VTMedia* liveMedia(Media m) {
  if (!isLiveMedia(m)) {
    setError(invalidMedia);
    return nullptr;
  }
  setError(noErr);
  return m;
}

TimeValue clampTV(int64_t v) { return (TimeValue)std::clamp<int64_t>(v, INT32_MIN, INT32_MAX); }

bool isVisualMediaType(OSType t) {
  switch (t) {
    case 'vide':
    case 'text':
    case 'sprt':
    case 'tx3g':
    case 'subt':
    case 'sbtl':
    case 'clcp':
    case 'MPEG':
    case 'moov':
    case 'flsh':
    case 'qd3d':
    case 'twen': return true;
    default: return false;
  }
}
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

// Natural bounds: the visual tracks' rectangles through their matrices.
void naturalBounds(const VTMovie& m, double& l, double& t, double& r, double& b) {
  bool any = false;
  l = t = r = b = 0;
  for (const auto& tr : m.tracks) {
    if (!tr->enabled() || !tr->media || !isVisualMediaType(tr->media->mediaType)) continue;
    double w = tr->width / 65536.0, h = tr->height / 65536.0;
    if (w <= 0 || h <= 0) continue;
    const Fixed* x = tr->matrix;
    double pts[4][2] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
    for (auto& p : pts) {
      double X = p[0] * x[0] / 65536.0 + p[1] * x[3] / 65536.0 + x[6] / 65536.0;
      double Y = p[0] * x[1] / 65536.0 + p[1] * x[4] / 65536.0 + x[7] / 65536.0;
      if (!any) {
        l = r = X;
        t = b = Y;
        any = true;
      }
      l = std::min(l, X);
      r = std::max(r, X);
      t = std::min(t, Y);
      b = std::max(b, Y);
    }
  }
}

}  // namespace

// ---- movies -------------------------------------------------------------------------------------

Movie NewMovie(long flags) try {
  VTMovie* m = newMovieObject();
  m->active = (flags & newMovieActive) != 0;
  setError(noErr);
  return m;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

void DisposeMovie(Movie theMovie) try {
  if (!liveMovie(theMovie)) return;
  destroyMovie(theMovie);
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

TimeScale GetMovieTimeScale(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? m->timeScale : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

void SetMovieTimeScale(Movie theMovie, TimeScale timeScale) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return;
  if (timeScale <= 0) {
    setError(paramErr);
    return;
  }
  TimeScale old = m->timeScale;
  if (old == timeScale) return;
  // Edit boundaries are converted, not durations, so the sum stays exact; times are boundaries
  // too (where the selection or the current frame starts).
  auto boundary = [&](int64_t v) { return scaleUp(v, timeScale, old); };
  for (auto& t : m->tracks) {
    int64_t start = 0, newStart = 0;
    for (Edit& e : t->edits) {
      int64_t end = start + e.duration;
      int64_t newEnd = boundary(end);
      e.duration = newEnd - newStart;
      start = end;
      newStart = newEnd;
    }
  }
  int64_t previewEnd = boundary(m->previewTime + m->previewDuration);
  m->previewTime = boundary(m->previewTime);
  m->previewDuration = previewEnd - m->previewTime;
  int64_t selectionEnd = boundary(m->selectionTime + m->selectionDuration);
  m->selectionTime = boundary(m->selectionTime);
  m->selectionDuration = selectionEnd - m->selectionTime;
  m->posterTime = boundary(m->posterTime);
  m->currentTime = boundary(m->currentTime);
  m->timeScale = timeScale;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

TimeValue GetMovieDuration(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? clampTV(m->duration()) : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

void GetMovieNaturalBoundsRect(Movie theMovie, Rect* r) try {
  VTMovie* m = liveMovie(theMovie);
  if (!r) return;
  *r = Rect{0, 0, 0, 0};
  if (!m) return;
  double l, t, rr, b;
  naturalBounds(*m, l, t, rr, b);
  *r = Rect{(short)t, (short)l, (short)b, (short)rr};
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

void GetMovieBox(Movie theMovie, Rect* box) try {
  VTMovie* m = liveMovie(theMovie);
  if (!box) return;
  *box = Rect{0, 0, 0, 0};
  if (!m) return;
  double l, t, r, b;
  naturalBounds(*m, l, t, r, b);
  const Fixed* x = m->matrix;
  double sx = x[0] / 65536.0, sy = x[4] / 65536.0, tx = x[6] / 65536.0, ty = x[7] / 65536.0;
  double L = l * sx + tx, R = r * sx + tx, T = t * sy + ty, B = b * sy + ty;
  auto rnd = [](double v) { return (short)std::clamp(std::lround(v), -32768L, 32767L); };
  *box = Rect{rnd(std::min(T, B)), rnd(std::min(L, R)), rnd(std::max(T, B)), rnd(std::max(L, R))};
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

void SetMovieBox(Movie theMovie, const Rect* box) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return;
  if (!box || box->right < box->left || box->bottom < box->top) {
    setError(invalidRect);
    return;
  }
  double l, t, r, b;
  naturalBounds(*m, l, t, r, b);
  double sx = (r > l) ? (box->right - box->left) / (r - l) : 1.0;
  double sy = (b > t) ? (box->bottom - box->top) / (b - t) : 1.0;
  m->matrix[0] = (Fixed)std::lround(sx * 65536);
  m->matrix[4] = (Fixed)std::lround(sy * 65536);
  m->matrix[1] = m->matrix[3] = 0;
  m->matrix[6] = (Fixed)std::lround((box->left - l * sx) * 65536);
  m->matrix[7] = (Fixed)std::lround((box->top - t * sy) * 65536);
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

void GetMovieMatrix(Movie theMovie, MatrixRecord* matrix) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m || !matrix) return;
  for (int i = 0; i < 9; ++i) matrix->matrix[i / 3][i % 3] = m->matrix[i];
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
void SetMovieMatrix(Movie theMovie, const MatrixRecord* matrix) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return;
  static const Fixed identity[9] = {fixed1, 0, 0, 0, fixed1, 0, 0, 0, 0x40000000};
  for (int i = 0; i < 9; ++i) m->matrix[i] = matrix ? matrix->matrix[i / 3][i % 3] : identity[i];
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

void SetMoviePlayHints(Movie theMovie, long flags, long flagsMask) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return;
  m->playHints = (m->playHints & ~flagsMask) | (flags & flagsMask);
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
long VTGetMoviePlayHints(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? m->playHints : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

Fixed GetMoviePreferredRate(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? m->preferredRate : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMoviePreferredRate(Movie theMovie, Fixed rate) try {
  if (VTMovie* m = liveMovie(theMovie)) m->preferredRate = rate;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
short GetMoviePreferredVolume(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? m->preferredVolume : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMoviePreferredVolume(Movie theMovie, short volume) try {
  if (VTMovie* m = liveMovie(theMovie)) m->preferredVolume = volume;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
short GetMovieVolume(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? m->volume : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMovieVolume(Movie theMovie, short volume) try {
  if (VTMovie* m = liveMovie(theMovie)) m->volume = volume;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
TimeValue GetMoviePosterTime(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? clampTV(m->posterTime) : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMoviePosterTime(Movie theMovie, TimeValue posterTime) try {
  if (VTMovie* m = liveMovie(theMovie)) m->posterTime = posterTime;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
void GetMovieSelection(Movie theMovie, TimeValue* selectionTime, TimeValue* selectionDuration) try {
  VTMovie* m = liveMovie(theMovie);
  if (selectionTime) *selectionTime = m ? clampTV(m->selectionTime) : 0;
  if (selectionDuration) *selectionDuration = m ? clampTV(m->selectionDuration) : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
void SetMovieSelection(Movie theMovie, TimeValue selectionTime, TimeValue selectionDuration) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return;
  if (selectionDuration < 0) {
    selectionTime += selectionDuration;
    selectionDuration = -selectionDuration;
  }
  m->selectionTime = selectionTime;
  m->selectionDuration = selectionDuration;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
TimeValue GetMovieTime(Movie theMovie, TimeRecord* currentTime) try {
  VTMovie* m = liveMovie(theMovie);
  TimeValue v = m ? clampTV(m->currentTime) : 0;
  if (currentTime) {
    currentTime->value.hi = m && m->currentTime < 0 ? -1 : 0;
    currentTime->value.lo = (UInt32)v;
    currentTime->scale = m ? m->timeScale : 0;
    currentTime->base = m ? &m->timeBase : nullptr;
  }
  return v;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMovieTimeValue(Movie theMovie, TimeValue newtime) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return;
  m->currentTime = std::clamp<int64_t>(newtime, 0, m->duration());
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
Fixed GetMovieRate(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? m->timeBase.rate : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMovieRate(Movie theMovie, Fixed rate) try {
  if (VTMovie* m = liveMovie(theMovie)) m->timeBase.rate = rate;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
Boolean GetMovieActive(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m && m->active;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMovieActive(Movie theMovie, Boolean active) try {
  if (VTMovie* m = liveMovie(theMovie)) m->active = active != 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
void SetMovieGWorld(Movie theMovie, CGrafPtr port, GDHandle gdh) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return;
  m->port = port;
  m->device = gdh;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
void GetMovieGWorld(Movie theMovie, CGrafPtr* port, GDHandle* gdh) try {
  VTMovie* m = liveMovie(theMovie);
  if (port) *port = m ? m->port : nullptr;
  if (gdh) *gdh = m ? m->device : nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
MovieProgressUPP NewMovieProgressUPP(MovieProgressProcPtr proc) { return proc; }
void DisposeMovieProgressUPP(MovieProgressUPP) {
}  // the UPP is the procedure itself: nothing to free
void SetMovieProgressProc(Movie theMovie, MovieProgressUPP p, long refcon) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return;
  m->progressProc = p;
  m->progressRefcon = refcon;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
TimeBase GetMovieTimeBase(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? &m->timeBase : nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
long GetTimeBaseFlags(TimeBase tb) try {
  if (!tb) {
    setError(paramErr);
    return 0;
  }
  setError(noErr);
  return tb->flags;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetTimeBaseFlags(TimeBase tb, long timeBaseFlags) try {
  if (!tb) {
    setError(paramErr);
    return;
  }
  setError(noErr);
  tb->flags = timeBaseFlags;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

OSErr CopyMovieSettings(Movie srcMovie, Movie dstMovie) try {
  VTMovie* s = liveMovie(srcMovie);
  VTMovie* d = s ? liveMovie(dstMovie) : nullptr;
  if (!s || !d) return invalidMovie;
  d->preferredRate = s->preferredRate;
  d->preferredVolume = s->preferredVolume;
  d->volume = s->volume;
  std::memcpy(d->matrix, s->matrix, sizeof d->matrix);
  d->userData = s->userData;
  d->playHints = s->playHints;
  d->timeBase.flags = s->timeBase.flags;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

UserData GetMovieUserData(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? &m->userData : nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

long VTGetMovieFilePath(Movie theMovie, char* buf, long bufSize) try {
  VTMovie* m = liveMovie(theMovie);
  std::string p = m ? m->filePath : std::string();
  if (buf && bufSize > 0) {
    size_t n = std::min<size_t>(p.size(), (size_t)bufSize - 1);
    std::memcpy(buf, p.data(), n);
    buf[n] = 0;
  }
  return (long)p.size();
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

// ---- tracks -------------------------------------------------------------------------------------

long GetMovieTrackCount(Movie theMovie) try {
  VTMovie* m = liveMovie(theMovie);
  return m ? (long)m->tracks.size() : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

Track GetMovieIndTrack(Movie theMovie, long index) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return nullptr;
  if (index < 1 || index > (long)m->tracks.size()) {
    setError(badTrackIndex);
    return nullptr;
  }
  return m->tracks[index - 1].get();
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

Track GetMovieIndTrackType(Movie theMovie, long index, OSType trackType, long flags) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return nullptr;
  long seen = 0;
  for (const auto& t : m->tracks) {
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
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

Track GetMovieTrack(Movie theMovie, long trackID) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return nullptr;
  for (const auto& t : m->tracks)
    if ((long)t->id == trackID) return t.get();
  setError(trackIDNotFound);
  return nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

Track NewMovieTrack(Movie theMovie, Fixed width, Fixed height, short trackVolume) try {
  VTMovie* m = liveMovie(theMovie);
  if (!m) return nullptr;
  if (width < 0 || height < 0) {
    setError(paramErr);
    return nullptr;
  }
  auto t = std::make_unique<VTTrack>();
  t->movie = m;
  t->id = m->nextTrackID++;
  t->width = width;
  t->height = height;
  t->volume = trackVolume;
  VTTrack* raw = t.get();
  m->tracks.push_back(std::move(t));
  return raw;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

void DisposeMovieTrack(Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return;
  auto& v = t->movie->tracks;
  v.erase(std::remove_if(v.begin(), v.end(), [&](const auto& p) { return p.get() == t; }), v.end());
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

long GetTrackID(Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  return t ? (long)t->id : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
Movie GetTrackMovie(Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  return t ? t->movie : nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
Media GetTrackMedia(Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  return t ? t->media.get() : nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
TimeValue GetTrackDuration(Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  return t ? clampTV(t->duration()) : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void GetTrackDimensions(Track theTrack, Fixed* width, Fixed* height) try {
  VTTrack* t = liveTrack(theTrack);
  if (width) *width = t ? t->width : 0;
  if (height) *height = t ? t->height : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
void SetTrackDimensions(Track theTrack, Fixed width, Fixed height) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return;
  t->width = width;
  t->height = height;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
Boolean GetTrackEnabled(Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  return t && t->enabled();
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetTrackEnabled(Track theTrack, Boolean isEnabled) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return;
  t->headerFlags = isEnabled ? (t->headerFlags | 1) : (t->headerFlags & ~1u);
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
short GetTrackLayer(Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  return t ? t->layer : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetTrackLayer(Track theTrack, short layer) try {
  if (VTTrack* t = liveTrack(theTrack)) t->layer = layer;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
short GetTrackVolume(Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  return t ? t->volume : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetTrackVolume(Track theTrack, short volume) try {
  if (VTTrack* t = liveTrack(theTrack)) t->volume = volume;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
void GetTrackMatrix(Track theTrack, MatrixRecord* matrix) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t || !matrix) return;
  for (int i = 0; i < 9; ++i) matrix->matrix[i / 3][i % 3] = t->matrix[i];
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
void SetTrackMatrix(Track theTrack, const MatrixRecord* matrix) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return;
  static const Fixed identity[9] = {fixed1, 0, 0, 0, fixed1, 0, 0, 0, 0x40000000};
  for (int i = 0; i < 9; ++i) t->matrix[i] = matrix ? matrix->matrix[i / 3][i % 3] : identity[i];
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

OSErr CopyTrackSettings(Track srcTrack, Track dstTrack) try {
  VTTrack* s = liveTrack(srcTrack);
  VTTrack* d = s ? liveTrack(dstTrack) : nullptr;
  if (!s || !d) return invalidTrack;
  std::memcpy(d->matrix, s->matrix, sizeof d->matrix);
  d->layer = s->layer;
  d->alternateGroup = s->alternateGroup;
  d->volume = s->volume;
  d->headerFlags = s->headerFlags;
  d->userData = s->userData;
  if (s->media && d->media) {
    d->media->language = s->media->language;
    d->media->quality = s->media->quality;
  }
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

UserData GetTrackUserData(Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  return t ? &t->userData : nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return -1;
  int64_t mt;
  Fixed rate;
  if (!trackTimeToMediaTime(*t, value, mt, rate)) return -1;
  return clampTV(mt);
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

OSErr InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime,
                           TimeValue mediaDuration, Fixed mediaRate) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return invalidTrack;
  if (!t->media) return (setError(invalidMedia), invalidMedia);
  if (mediaTime < -1 || mediaDuration < 0 || mediaRate <= 0 || trackStart < -1) {
    setError(paramErr);
    return paramErr;
  }
  if (mediaTime >= 0 && (int64_t)mediaTime + mediaDuration > t->media->duration()) {
    setError(invalidDuration);
    return invalidDuration;
  }
  Edit e;
  e.mediaTime = mediaTime;
  e.rate = mediaRate;
  // Long enough to show the whole media span and no more: the first offset that would show
  // what follows it.
  if (mediaTime >= 0)
    e.duration = editOffsetOf(e, (int64_t)mediaTime + mediaDuration, t->movie->timeScale,
                              t->media->timeScale);
  else
    e.duration = scaleUp((int64_t)mediaDuration * 65536 / mediaRate, t->movie->timeScale,
                         t->media->timeScale);
  insertEdits(*t, trackStart < 0 ? t->duration() : trackStart, {e});
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSErr InsertEmptyTrackSegment(Track dstTrack, TimeValue dstIn, TimeValue dstDuration) try {
  VTTrack* t = liveTrack(dstTrack);
  if (!t) return invalidTrack;
  if (dstIn < 0 || dstDuration < 0) return (setError(paramErr), paramErr);
  if (dstIn < t->duration()) insertEdits(*t, dstIn, {Edit{dstDuration, -1, fixed1}});
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSErr DeleteTrackSegment(Track theTrack, TimeValue startTime, TimeValue duration) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return invalidTrack;
  if (startTime < 0 || duration < 0) return (setError(paramErr), paramErr);
  deleteEdits(*t, startTime, duration);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

// ---- track references ---------------------------------------------------------------------------

OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, long* addedIndex) try {
  VTTrack* t = liveTrack(theTrack);
  VTTrack* r = t ? liveTrack(refTrack) : nullptr;
  if (!t || !r) return invalidTrack;
  if (r->movie != t->movie || r == t) return (setError(paramErr), paramErr);
  if (refType == 0) return (setError(paramErr), paramErr);
  auto it = std::find_if(t->references.begin(), t->references.end(),
                         [&](const VTTrack::Reference& x) { return x.type == refType; });
  if (it == t->references.end()) {
    t->references.push_back(VTTrack::Reference{refType, {}});
    it = t->references.end() - 1;
  }
  it->ids.push_back(r->id);
  if (addedIndex) *addedIndex = (long)it->ids.size();
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

static VTTrack::Reference* findRef(VTTrack* t, OSType type) {
  for (auto& r : t->references)
    if (r.type == type) return &r;
  return nullptr;
}

OSErr DeleteTrackReference(Track theTrack, OSType refType, long index) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return invalidTrack;
  VTTrack::Reference* r = findRef(t, refType);
  if (!r || index < 1 || index > (long)r->ids.size())
    return (setError(badTrackIndex), badTrackIndex);
  r->ids.erase(r->ids.begin() + (index - 1));
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSErr SetTrackReference(Track theTrack, Track refTrack, OSType refType, long index) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return invalidTrack;
  VTTrack::Reference* r = findRef(t, refType);
  if (!r || index < 1 || index > (long)r->ids.size())
    return (setError(badTrackIndex), badTrackIndex);
  if (refTrack && !isLiveTrack(refTrack)) return (setError(invalidTrack), invalidTrack);
  r->ids[index - 1] = refTrack ? refTrack->id : 0;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

Track GetTrackReference(Track theTrack, OSType refType, long index) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return nullptr;
  VTTrack::Reference* r = findRef(t, refType);
  if (!r || index < 1 || index > (long)r->ids.size()) {
    setError(badTrackIndex);
    return nullptr;
  }
  uint32_t id = r->ids[index - 1];
  for (const auto& x : t->movie->tracks)
    if (id != 0 && x->id == id) return x.get();
  return nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

long GetTrackReferenceCount(Track theTrack, OSType refType) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return 0;
  VTTrack::Reference* r = findRef(t, refType);
  return r ? (long)r->ids.size() : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

OSType GetNextTrackReferenceType(Track theTrack, OSType refType) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return 0;
  bool passed = refType == 0;
  for (const auto& r : t->references) {
    if (passed && !r.ids.empty()) return r.type;
    if (r.type == refType) passed = true;
  }
  return 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

// ---- interesting times --------------------------------------------------------------------------

void GetTrackNextInterestingTime(Track theTrack, short flags, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration) try {
  if (interestingTime) *interestingTime = -1;
  if (interestingDuration) *interestingDuration = 0;
  VTTrack* t = liveTrack(theTrack);
  if (!t || !t->media) return;
  bool backward = rate < 0;
  bool edgeOK = (flags & nextTimeEdgeOK) != 0;
  int64_t best = -1, bestDur = 0;
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
    for (const Edit& e : t->edits) {
      consider(start, e.duration);
      start += e.duration;
    }
  }
  // Samples: where the shown frame changes, as drawing sees it; for sync samples only, the first
  // such place that shows a sync sample.
  bool samples = (flags & (nextTimeMediaSample | nextTimeStep)) != 0;
  bool syncOnly = (flags & nextTimeSyncSample) && !samples;
  if (samples || syncOnly) {
    int64_t at = trackShownChange(*t, time, !backward, edgeOK);
    for (long guard = 0; syncOnly && at >= 0 && guard < 100000; ++guard) {
      long s = trackSampleAt(*t, at);
      if (s >= 0 && t->media->sampleInfo((uint32_t)s).sync) break;
      at = trackShownChange(*t, at, !backward, false);
    }
    if (at >= 0) {
      int64_t next = trackShownChange(*t, at, true, false);
      consider(at, (next >= 0 ? next : t->duration()) - at);
    }
  }
  if (best >= 0 && best <= INT32_MAX) {
    if (interestingTime) *interestingTime = (TimeValue)best;
    if (interestingDuration) *interestingDuration = clampTV(bestDur);
  }
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

void GetMovieNextInterestingTime(Movie theMovie, short flags, short numMediaTypes,
                                 const OSType* whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration) try {
  if (interestingTime) *interestingTime = -1;
  if (interestingDuration) *interestingDuration = 0;
  VTMovie* m = liveMovie(theMovie);
  if (!m) return;
  int64_t best = -1, bestDur = 0;
  for (const auto& t : m->tracks) {
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
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

// ---- media --------------------------------------------------------------------------------------

Media NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale, Handle dataRef,
                    OSType dataRefType) try {
  VTTrack* t = liveTrack(theTrack);
  if (!t) return nullptr;
  if (timeScale <= 0 || mediaType == 0) {
    setError(paramErr);
    return nullptr;
  }
  auto md = std::make_unique<VTMedia>();
  md->track = t;
  md->mediaType = mediaType;
  md->timeScale = timeScale;
  if (dataRef) {
    std::string path;
    if (dataRefType != rAliasType || !resolveAlias(dataRef, path)) {
      setError(couldNotResolveDataRef);
      return nullptr;
    }
    DataRef ref;
    ref.flags = 0;
    ref.path = path;
    ref.data = makeAliasBytes(path);
    ref.source = openFileSource(path);
    md->dataRefs.push_back(std::move(ref));
  }
  t->media = std::move(md);
  t->edits.clear();
  return t->media.get();
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

void DisposeTrackMedia(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  if (!m) return;
  m->track->edits.clear();
  m->track->media.reset();
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

Track GetMediaTrack(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  return m ? m->track : nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
TimeScale GetMediaTimeScale(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  return m ? m->timeScale : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMediaTimeScale(Media theMedia, TimeScale timeScale) try {
  VTMedia* m = liveMedia(theMedia);
  if (!m) return;
  if (timeScale <= 0) return setError(paramErr);
  // Only before any sample: sample durations are counted in the scale.
  if (m->sampleCount() > 0) return setError(invalidMedia);
  m->timeScale = timeScale;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
TimeValue GetMediaDuration(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  return m ? clampTV(m->duration()) : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
short GetMediaLanguage(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  return m ? (short)m->language : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMediaLanguage(Media theMedia, short language) try {
  if (VTMedia* m = liveMedia(theMedia)) m->language = (uint16_t)language;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
short GetMediaQuality(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  return m ? (short)m->quality : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void SetMediaQuality(Media theMedia, short quality) try {
  if (VTMedia* m = liveMedia(theMedia)) m->quality = (uint16_t)quality;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}
long GetMediaSampleCount(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  return m ? (long)m->sampleCount() : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
long GetMediaSampleDescriptionCount(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  return m ? (long)m->descriptions.size() : 0;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}
void GetMediaSampleDescription(Media theMedia, long index, SampleDescriptionHandle descH) try {
  VTMedia* m = liveMedia(theMedia);
  if (!m) return;
  if (!descH || index < 1 || index > (long)m->descriptions.size()) return setError(paramErr);
  OSErr err = descriptionToHandle(*m, m->descriptions[index - 1].bytes, descH);
  setError(err);
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

OSErr BeginMediaEdits(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  if (!m) return invalidMedia;
  m->editing = true;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}
OSErr EndMediaEdits(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  if (!m) return invalidMedia;
  m->editing = false;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSErr AddMediaSample(Media theMedia, Handle dataIn, long inOffset, unsigned long size,
                     TimeValue durationPerSample, SampleDescriptionHandle sampleDescriptionH,
                     long numberOfSamples, short sampleFlags, TimeValue* sampleTime) try {
  VTMedia* m = liveMedia(theMedia);
  if (!m) return invalidMedia;
  auto fail = [](OSErr e) {
    setError(e);
    return e;
  };
  if (!dataIn || !*dataIn || inOffset < 0 || numberOfSamples < 1 || durationPerSample < 0)
    return fail(paramErr);
  Size have = GetHandleSize(dataIn);
  if ((unsigned long)inOffset > (unsigned long)have || size > (unsigned long)(have - inOffset) ||
      size > 0xFFFFFFFFul)
    return fail(paramErr);
  if (size % (unsigned long)numberOfSamples != 0) return fail(paramErr);
  std::vector<uint8_t> descBytes;
  if (sampleDescriptionH) {
    OSErr err = handleToDescription(*m, sampleDescriptionH, descBytes);
    if (err) return fail(err);
  } else if (m->descriptions.empty()) {
    return fail(badImageDescription);
  }
  // Where new data goes: the movie's own file when it is open for writing, else memory.
  int refIndex = 0;
  uint64_t offset = 0;
  OSErr err = appendMediaData(*m, (const uint8_t*)*dataIn + inOffset, size, refIndex, offset);
  if (err) return fail(err);
  uint32_t descIndex;
  if (sampleDescriptionH)
    descIndex = findOrAddDescription(*m, descBytes, (uint16_t)refIndex);
  else
    descIndex = findOrAddDescription(*m, m->descriptions.back().bytes, (uint16_t)refIndex);
  int64_t start = m->duration();
  uint32_t each = (uint32_t)(size / (unsigned long)numberOfSamples);
  uint32_t fpp = 0, bpp = 0;
  if (m->mediaType == SoundMediaType &&
      m->descriptions[descIndex - 1].soundFramePacking(fpp, bpp) && numberOfSamples % fpp == 0 &&
      size == (unsigned long)numberOfSamples / fpp * bpp) {
    // Sound frames are kept as packets of many frames.
    uint32_t most = std::max(fpp, kSoundPacketFrames - kSoundPacketFrames % fpp);
    for (long done = 0; done < numberOfSamples;) {
      uint32_t frames = (uint32_t)std::min<long>(most, numberOfSamples - done);
      m->appendSample(
          offset + (uint64_t)done / fpp * bpp, frames / fpp * bpp,
          (uint32_t)std::min<uint64_t>((uint64_t)frames * durationPerSample, UINT32_MAX), descIndex,
          true);
      done += frames;
    }
    if (sampleTime) *sampleTime = clampTV(start);
    return noErr;
  }
  for (long i = 0; i < numberOfSamples; ++i)
    m->appendSample(offset + (uint64_t)i * each, each, (uint32_t)durationPerSample, descIndex,
                    (sampleFlags & mediaSampleNotSync) == 0);
  if (sampleTime) *sampleTime = clampTV(start);
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSErr GetMediaSample(Media theMedia, Handle dataOut, long maxSizeToGrow, long* size, TimeValue time,
                     TimeValue* sampleTime, TimeValue* durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, long* sampleDescriptionIndex, long,
                     long* numberOfSamples, short* sampleFlags) try {
  VTMedia* m = liveMedia(theMedia);
  if (!m) return invalidMedia;
  long s = m->sampleAtDecodeTime(time);
  if (s < 0) {
    setError(invalidTime);
    return invalidTime;
  }
  SampleInfo info = m->sampleInfo((uint32_t)s);
  if (dataOut) {
    if (maxSizeToGrow > 0 && info.size > (uint32_t)maxSizeToGrow) {
      setError(maxSizeToGrowTooSmall);
      return maxSizeToGrowTooSmall;
    }
    std::vector<uint8_t> bytes;
    if (OSErr err = m->loadSample((uint32_t)s, bytes)) {
      setError(err);
      return err;
    }
    SetHandleSize(dataOut, (Size)bytes.size());
    if (MemError()) return (setError(memFullErr), memFullErr);
    if (!bytes.empty()) std::memcpy(*dataOut, bytes.data(), bytes.size());
  }
  if (sampleDescriptionH && info.descIndex >= 1 && info.descIndex <= m->descriptions.size()) {
    OSErr err =
        descriptionToHandle(*m, m->descriptions[info.descIndex - 1].bytes, sampleDescriptionH);
    if (err) return (setError(err), err);
  }
  if (size) *size = (long)info.size;
  if (sampleTime) *sampleTime = clampTV(info.decodeTime);
  if (durationPerSample) *durationPerSample = (TimeValue)info.duration;
  if (sampleDescriptionIndex) *sampleDescriptionIndex = (long)info.descIndex;
  if (numberOfSamples) *numberOfSamples = 1;
  uint32_t fpp = 0, bpp = 0;
  if (m->mediaType == SoundMediaType && info.descIndex >= 1 &&
      info.descIndex <= m->descriptions.size() &&
      m->descriptions[info.descIndex - 1].soundFramePacking(fpp, bpp) && info.size % bpp == 0) {
    // A packet of sound frames answers as the frames it holds.
    long frames = (long)(info.size / bpp * fpp);
    if (numberOfSamples) *numberOfSamples = frames;
    if (durationPerSample && frames > 0) *durationPerSample = (TimeValue)(info.duration / frames);
  }
  if (sampleFlags) *sampleFlags = info.sync ? 0 : mediaSampleNotSync;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

MediaHandler GetMediaHandler(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  // The media is its own handler: MediaGetName recognises it.
  return m ? reinterpret_cast<MediaHandler>(m) : nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

static std::string handlerDisplayName(OSType type) {
  switch (type) {
    case 'vide': return "Video Track";
    case 'soun': return "Sound Track";
    case 'text': return "Text Track";
    case 'tmcd': return "Timecode Track";
    case 'sprt': return "Sprite Track";
    case 'MPEG': return "MPEG Track";
    case 'musi': return "Music Track";
    case 'tx3g': return "Subtitle Track";
    case 'sbtl': return "Subtitle Track";
    case 'subt': return "Subtitle Track";
    case 'clcp': return "Closed Caption Track";
    default: return vt::fourccString(type) + " Track";
  }
}

ComponentResult MediaGetName(MediaHandler mh, Str255 name, long, long* actualNameType) try {
  VTMedia* m = reinterpret_cast<VTMedia*>(mh);
  if (!isLiveMedia(m)) return badComponentInstance;
  if (name) vt::toPascal(handlerDisplayName(m->mediaType), name);
  if (actualNameType) *actualNameType = kMediaHandlerName;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

void GetMediaHandlerDescription(Media theMedia, OSType* mediaType, Str255 creatorName,
                                OSType* creatorManufacturer) try {
  VTMedia* m = liveMedia(theMedia);
  if (mediaType) *mediaType = m ? m->mediaType : 0;
  if (creatorManufacturer) *creatorManufacturer = m ? m->handlerManufacturer : 0;
  if (creatorName) vt::toPascal(m ? m->handlerName : std::string(), creatorName);
} catch (...) {
  vt::movie::setError(vtErrorFromException());
}

OSErr SetMediaInputMap(Media theMedia, QTAtomContainer inputMap) try {
  VTMedia* m = liveMedia(theMedia);
  if (!m) return invalidMedia;
  if (!inputMap) {
    m->inputMap.clear();
    return noErr;
  }
  if (!*inputMap) return (setError(nilHandleErr), nilHandleErr);
  Size n = GetHandleSize(inputMap);
  const uint8_t* p = (const uint8_t*)*inputMap;
  // A container: 12-byte header and one root atom that spans the rest.
  if (n < 32 || vt::readBE32(p + 12) < 20 || vt::readBE32(p + 12) > (uint32_t)(n - 12)) {
    setError(invalidAtomContainerErr);
    return invalidAtomContainerErr;
  }
  m->inputMap.assign(p, p + n);
  m->inputMap[10] = m->inputMap[11] = 0;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

OSErr GetMediaInputMap(Media theMedia, QTAtomContainer* inputMap) try {
  if (!inputMap) return (setError(paramErr), paramErr);
  *inputMap = nullptr;
  VTMedia* m = liveMedia(theMedia);
  if (!m) return invalidMedia;
  std::vector<uint8_t> bytes = m->inputMap;
  if (bytes.empty()) bytes = vt::atoms::serialise(vt::atoms::newRoot());
  Handle h = NewHandle((Size)bytes.size());
  if (!h) return (setError(memFullErr), memFullErr);
  std::memcpy(*h, bytes.data(), bytes.size());
  *inputMap = h;
  return noErr;
} catch (...) {
  return vtErrorFromException();
}

UserData GetMediaUserData(Media theMedia) try {
  VTMedia* m = liveMedia(theMedia);
  return m ? &m->userData : nullptr;
} catch (...) {
  vt::movie::setError(vtErrorFromException());
  return {};
}

OSErr GetMoviesError() try { return lastError(); } catch (...) {
  return vtErrorFromException();
}

// Movies: their settings, geometry, time and the calls that answer the last error.
#include <MacMemory.h>
#include <Movies.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "movie/calls.h"

using namespace vt::movie;

namespace {

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

// Converts the movie's times from its old scale to `timeScale`. Edit boundaries are converted,
// not durations, so the sum stays exact; times are boundaries too (where the selection or the
// current frame starts).
void rescaleMovie(VTMovie& m, TimeScale timeScale) {
  TimeScale old = m.timeScale;
  auto boundary = [&](int64_t v) { return scaleUp(v, timeScale, old); };
  for (auto& t : m.tracks) {
    int64_t start = 0, newStart = 0;
    for (Edit& e : t->edits) {
      int64_t end = start + e.duration;
      int64_t newEnd = boundary(end);
      e.duration = newEnd - newStart;
      start = end;
      newStart = newEnd;
    }
  }
  int64_t previewEnd = boundary(m.previewTime + m.previewDuration);
  m.previewTime = boundary(m.previewTime);
  m.previewDuration = previewEnd - m.previewTime;
  int64_t selectionEnd = boundary(m.selectionTime + m.selectionDuration);
  m.selectionTime = boundary(m.selectionTime);
  m.selectionDuration = selectionEnd - m.selectionTime;
  m.posterTime = boundary(m.posterTime);
  m.currentTime = boundary(m.currentTime);
  m.timeScale = timeScale;
}

}  // namespace

bool vt::movie::isVisualMediaType(OSType t) {
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

Movie NewMovie(long flags) {
  return movieCall(Movie{}, [&] {
    VTMovie* m = newMovieObject();
    m->active = (flags & newMovieActive) != 0;
    setError(noErr);
    return m;
  });
}

void DisposeMovie(Movie theMovie) {
  withMovie(theMovie, [&](VTMovie& m) { destroyMovie(&m); });
}

TimeScale GetMovieTimeScale(Movie theMovie) {
  return withMovie(theMovie, TimeScale{0}, [&](VTMovie& m) { return m.timeScale; });
}

void SetMovieTimeScale(Movie theMovie, TimeScale timeScale) {
  withMovie(theMovie, [&](VTMovie& m) {
    if (timeScale <= 0) return setError(paramErr);
    if (m.timeScale != timeScale) rescaleMovie(m, timeScale);
  });
}

TimeValue GetMovieDuration(Movie theMovie) {
  return withMovie(theMovie, TimeValue{0}, [&](VTMovie& m) { return clampTV(m.duration()); });
}

void GetMovieNaturalBoundsRect(Movie theMovie, Rect* r) {
  if (r) *r = Rect{0, 0, 0, 0};
  withMovie(theMovie, [&](VTMovie& m) {
    if (!r) return;
    double l, t, rr, b;
    naturalBounds(m, l, t, rr, b);
    *r = Rect{(short)t, (short)l, (short)b, (short)rr};
  });
}

void GetMovieBox(Movie theMovie, Rect* box) {
  if (box) *box = Rect{0, 0, 0, 0};
  withMovie(theMovie, [&](VTMovie& m) {
    if (!box) return;
    double l, t, r, b;
    naturalBounds(m, l, t, r, b);
    const Fixed* x = m.matrix;
    double sx = x[0] / 65536.0, sy = x[4] / 65536.0, tx = x[6] / 65536.0, ty = x[7] / 65536.0;
    double L = l * sx + tx, R = r * sx + tx, T = t * sy + ty, B = b * sy + ty;
    auto rnd = [](double v) { return (short)std::clamp(std::lround(v), -32768L, 32767L); };
    *box = Rect{rnd(std::min(T, B)), rnd(std::min(L, R)), rnd(std::max(T, B)), rnd(std::max(L, R))};
  });
}

void SetMovieBox(Movie theMovie, const Rect* box) {
  withMovie(theMovie, [&](VTMovie& m) {
    if (!box || box->right < box->left || box->bottom < box->top) return setError(invalidRect);
    double l, t, r, b;
    naturalBounds(m, l, t, r, b);
    double sx = (r > l) ? (box->right - box->left) / (r - l) : 1.0;
    double sy = (b > t) ? (box->bottom - box->top) / (b - t) : 1.0;
    m.matrix[0] = (Fixed)std::lround(sx * 65536);
    m.matrix[4] = (Fixed)std::lround(sy * 65536);
    m.matrix[1] = m.matrix[3] = 0;
    m.matrix[6] = (Fixed)std::lround((box->left - l * sx) * 65536);
    m.matrix[7] = (Fixed)std::lround((box->top - t * sy) * 65536);
  });
}

void GetMovieMatrix(Movie theMovie, MatrixRecord* matrix) {
  withMovie(theMovie, [&](VTMovie& m) { matrixToRecord(m.matrix, matrix); });
}
void SetMovieMatrix(Movie theMovie, const MatrixRecord* matrix) {
  withMovie(theMovie, [&](VTMovie& m) { matrixFromRecord(m.matrix, matrix); });
}

void SetMoviePlayHints(Movie theMovie, long flags, long flagsMask) {
  withMovie(theMovie,
            [&](VTMovie& m) { m.playHints = (m.playHints & ~flagsMask) | (flags & flagsMask); });
}
long VTGetMoviePlayHints(Movie theMovie) {
  return withMovie(theMovie, 0L, [&](VTMovie& m) { return m.playHints; });
}

Fixed GetMoviePreferredRate(Movie theMovie) {
  return withMovie(theMovie, Fixed{0}, [&](VTMovie& m) { return m.preferredRate; });
}
void SetMoviePreferredRate(Movie theMovie, Fixed rate) {
  withMovie(theMovie, [&](VTMovie& m) { m.preferredRate = rate; });
}
short GetMoviePreferredVolume(Movie theMovie) {
  return withMovie(theMovie, short{0}, [&](VTMovie& m) { return m.preferredVolume; });
}
void SetMoviePreferredVolume(Movie theMovie, short volume) {
  withMovie(theMovie, [&](VTMovie& m) { m.preferredVolume = volume; });
}
short GetMovieVolume(Movie theMovie) {
  return withMovie(theMovie, short{0}, [&](VTMovie& m) { return m.volume; });
}
void SetMovieVolume(Movie theMovie, short volume) {
  withMovie(theMovie, [&](VTMovie& m) { m.volume = volume; });
}
TimeValue GetMoviePosterTime(Movie theMovie) {
  return withMovie(theMovie, TimeValue{0}, [&](VTMovie& m) { return clampTV(m.posterTime); });
}
void SetMoviePosterTime(Movie theMovie, TimeValue posterTime) {
  withMovie(theMovie, [&](VTMovie& m) { m.posterTime = posterTime; });
}
void GetMovieSelection(Movie theMovie, TimeValue* selectionTime, TimeValue* selectionDuration) {
  if (selectionTime) *selectionTime = 0;
  if (selectionDuration) *selectionDuration = 0;
  withMovie(theMovie, [&](VTMovie& m) {
    if (selectionTime) *selectionTime = clampTV(m.selectionTime);
    if (selectionDuration) *selectionDuration = clampTV(m.selectionDuration);
  });
}
void SetMovieSelection(Movie theMovie, TimeValue selectionTime, TimeValue selectionDuration) {
  withMovie(theMovie, [&](VTMovie& m) {
    if (selectionDuration < 0) {
      selectionTime += selectionDuration;
      selectionDuration = -selectionDuration;
    }
    m.selectionTime = selectionTime;
    m.selectionDuration = selectionDuration;
  });
}
TimeValue GetMovieTime(Movie theMovie, TimeRecord* currentTime) {
  if (currentTime) {
    currentTime->value.hi = 0;
    currentTime->value.lo = 0;
    currentTime->scale = 0;
    currentTime->base = nullptr;
  }
  return withMovie(theMovie, TimeValue{0}, [&](VTMovie& m) {
    TimeValue v = clampTV(m.currentTime);
    if (currentTime) {
      currentTime->value.hi = m.currentTime < 0 ? -1 : 0;
      currentTime->value.lo = (UInt32)v;
      currentTime->scale = m.timeScale;
      currentTime->base = &m.timeBase;
    }
    return v;
  });
}
void SetMovieTimeValue(Movie theMovie, TimeValue newtime) {
  withMovie(theMovie,
            [&](VTMovie& m) { m.currentTime = std::clamp<int64_t>(newtime, 0, m.duration()); });
}
Fixed GetMovieRate(Movie theMovie) {
  return withMovie(theMovie, Fixed{0}, [&](VTMovie& m) { return m.timeBase.rate; });
}
void SetMovieRate(Movie theMovie, Fixed rate) {
  withMovie(theMovie, [&](VTMovie& m) { m.timeBase.rate = rate; });
}
Boolean GetMovieActive(Movie theMovie) {
  return withMovie(theMovie, Boolean{false}, [&](VTMovie& m) -> Boolean { return m.active; });
}
void SetMovieActive(Movie theMovie, Boolean active) {
  withMovie(theMovie, [&](VTMovie& m) { m.active = active != 0; });
}
void SetMovieGWorld(Movie theMovie, CGrafPtr port, GDHandle gdh) {
  withMovie(theMovie, [&](VTMovie& m) {
    m.port = port;
    m.device = gdh;
  });
}
void GetMovieGWorld(Movie theMovie, CGrafPtr* port, GDHandle* gdh) {
  if (port) *port = nullptr;
  if (gdh) *gdh = nullptr;
  withMovie(theMovie, [&](VTMovie& m) {
    if (port) *port = m.port;
    if (gdh) *gdh = m.device;
  });
}
MovieProgressUPP NewMovieProgressUPP(MovieProgressProcPtr proc) { return proc; }
void DisposeMovieProgressUPP(MovieProgressUPP) {
}  // the UPP is the procedure itself: nothing to free
void SetMovieProgressProc(Movie theMovie, MovieProgressUPP p, long refcon) {
  withMovie(theMovie, [&](VTMovie& m) {
    m.progressProc = p;
    m.progressRefcon = refcon;
  });
}
TimeBase GetMovieTimeBase(Movie theMovie) {
  return withMovie(theMovie, TimeBase{}, [&](VTMovie& m) { return &m.timeBase; });
}
long GetTimeBaseFlags(TimeBase tb) {
  return movieCall(0L, [&] {
    setError(tb ? OSErr(noErr) : OSErr(paramErr));
    return tb ? tb->flags : 0L;
  });
}
void SetTimeBaseFlags(TimeBase tb, long timeBaseFlags) {
  movieCall([&] {
    setError(tb ? OSErr(noErr) : OSErr(paramErr));
    if (tb) tb->flags = timeBaseFlags;
  });
}

OSErr CopyMovieSettings(Movie srcMovie, Movie dstMovie) {
  return movieStatus(srcMovie, [&](VTMovie& s) -> OSErr {
    VTMovie* d = liveMovie(dstMovie);
    if (!d) return invalidMovie;
    d->preferredRate = s.preferredRate;
    d->preferredVolume = s.preferredVolume;
    d->volume = s.volume;
    std::memcpy(d->matrix, s.matrix, sizeof d->matrix);
    d->userData = s.userData;
    d->playHints = s.playHints;
    d->timeBase.flags = s.timeBase.flags;
    return noErr;
  });
}

UserData GetMovieUserData(Movie theMovie) {
  return withMovie(theMovie, UserData{}, [&](VTMovie& m) { return &m.userData; });
}

long VTGetMovieFilePath(Movie theMovie, char* buf, long bufSize) {
  if (buf && bufSize > 0) buf[0] = 0;
  return withMovie(theMovie, 0L, [&](VTMovie& m) {
    const std::string& p = m.filePath;
    if (buf && bufSize > 0) {
      size_t n = std::min<size_t>(p.size(), (size_t)bufSize - 1);
      std::memcpy(buf, p.data(), n);
      buf[n] = 0;
    }
    return (long)p.size();
  });
}

OSErr GetMoviesError() { return lastError(); }

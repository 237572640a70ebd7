// The movie toolbox's public-call boundary: its objects' liveness checks and the wrappers every
// public call of the area runs through, on the one boundary of core/boundary.h. The area's
// error state is the per-thread last error (and the sticky error) of the movie model.
#pragma once
#include <MacErrors.h>
#include <Movies.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "core/boundary.h"
#include "model/internal.h"

namespace vt::movie {

// The object behind a handle, or nullptr when the handle is not a live one. Nothing recorded.
inline VTMovie* liveMovie(Movie m) { return isLiveMovie(m) ? m : nullptr; }
inline VTTrack* liveTrack(Track t) { return isLiveTrack(t) ? t : nullptr; }
inline VTMedia* liveMedia(Media m) { return isLiveMedia(m) ? m : nullptr; }

// A call that answers a value: a throw is recorded and answers `fallback`.
template <class R, class Body>
R movieCall(R fallback, Body&& body) noexcept {
  return vt::apiCall(setError, fallback, std::forward<Body>(body));
}
template <class Body>
void movieCall(Body&& body) noexcept {
  vt::apiCall(setError, std::forward<Body>(body));
}

// A call on one object: a dead handle records the object's "invalid" code and answers
// `fallback`; a live one clears the last error and runs `body` on the object.
template <class R, class Body>
R withMovie(Movie m, R fallback, Body&& body) noexcept {
  return vt::apiOn(setError, liveMovie, m, invalidMovie, fallback, std::forward<Body>(body));
}
template <class Body>
void withMovie(Movie m, Body&& body) noexcept {
  vt::apiOn(setError, liveMovie, m, invalidMovie, std::forward<Body>(body));
}
template <class R, class Body>
R withTrack(Track t, R fallback, Body&& body) noexcept {
  return vt::apiOn(setError, liveTrack, t, invalidTrack, fallback, std::forward<Body>(body));
}
template <class Body>
void withTrack(Track t, Body&& body) noexcept {
  vt::apiOn(setError, liveTrack, t, invalidTrack, std::forward<Body>(body));
}
template <class R, class Body>
R withMedia(Media m, R fallback, Body&& body) noexcept {
  return vt::apiOn(setError, liveMedia, m, invalidMedia, fallback, std::forward<Body>(body));
}
template <class Body>
void withMedia(Media m, Body&& body) noexcept {
  vt::apiOn(setError, liveMedia, m, invalidMedia, std::forward<Body>(body));
}

// A call that answers its code: the code answered (a throw's too) is also the last error.
template <class Body>
OSErr statusCall(Body&& body) noexcept {
  OSErr err = vt::apiStatus(std::forward<Body>(body));
  setError(err);
  return err;
}
// The same on one object; a dead handle answers the object's "invalid" code.
template <class Body>
OSErr movieStatus(Movie m, Body&& body) noexcept {
  return statusCall([&]() -> OSErr {
    VTMovie* mv = liveMovie(m);
    return mv ? body(*mv) : OSErr(invalidMovie);
  });
}
template <class Body>
OSErr trackStatus(Track t, Body&& body) noexcept {
  return statusCall([&]() -> OSErr {
    VTTrack* tr = liveTrack(t);
    return tr ? body(*tr) : OSErr(invalidTrack);
  });
}
template <class Body>
OSErr mediaStatus(Media m, Body&& body) noexcept {
  return statusCall([&]() -> OSErr {
    VTMedia* md = liveMedia(m);
    return md ? body(*md) : OSErr(invalidMedia);
  });
}

// A 64-bit time as a toolbox TimeValue, saturated.
inline TimeValue clampTV(int64_t v) {
  return (TimeValue)std::clamp<int64_t>(v, INT32_MIN, INT32_MAX);
}
// Media types that draw something.
bool isVisualMediaType(OSType t);

}  // namespace vt::movie

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

// What the boundary needs of each kind of object: its liveness check and its "invalid" code.
template <class T>
struct ObjectKind;
template <>
struct ObjectKind<VTMovie> {
  static constexpr OSErr invalid = invalidMovie;
  static VTMovie* live(VTMovie* m) { return liveMovie(m); }
};
template <>
struct ObjectKind<VTTrack> {
  static constexpr OSErr invalid = invalidTrack;
  static VTTrack* live(VTTrack* t) { return liveTrack(t); }
};
template <>
struct ObjectKind<VTMedia> {
  static constexpr OSErr invalid = invalidMedia;
  static VTMedia* live(VTMedia* m) { return liveMedia(m); }
};

// A call on one object: a dead handle records the object's "invalid" code and answers
// `fallback`; a live one clears the last error and runs `body` on the object.
template <class T, class R, class Body>
R withObject(T* h, R fallback, Body&& body) noexcept {
  return vt::apiOn(setError, ObjectKind<T>::live, h, ObjectKind<T>::invalid, fallback,
                   std::forward<Body>(body));
}
template <class T, class Body>
void withObject(T* h, Body&& body) noexcept {
  vt::apiOn(setError, ObjectKind<T>::live, h, ObjectKind<T>::invalid, std::forward<Body>(body));
}

// A call that answers its code: the code answered (a throw's too) is also the last error.
template <class Body>
OSErr statusCall(Body&& body) noexcept {
  OSErr err = vt::apiStatus(std::forward<Body>(body));
  setError(err);
  return err;
}
// The same on one object; a dead handle answers the object's "invalid" code.
template <class T, class Body>
OSErr statusOn(T* h, Body&& body) noexcept {
  return statusCall([&]() -> OSErr {
    T* obj = ObjectKind<T>::live(h);
    return obj ? body(*obj) : ObjectKind<T>::invalid;
  });
}

// The calls by the kind of object they take.
template <class... A>
auto withMovie(Movie m, A&&... a) noexcept {
  return withObject(m, std::forward<A>(a)...);
}
template <class... A>
auto withTrack(Track t, A&&... a) noexcept {
  return withObject(t, std::forward<A>(a)...);
}
template <class... A>
auto withMedia(Media m, A&&... a) noexcept {
  return withObject(m, std::forward<A>(a)...);
}
template <class Body>
OSErr movieStatus(Movie m, Body&& body) noexcept {
  return statusOn(m, std::forward<Body>(body));
}
template <class Body>
OSErr trackStatus(Track t, Body&& body) noexcept {
  return statusOn(t, std::forward<Body>(body));
}
template <class Body>
OSErr mediaStatus(Media m, Body&& body) noexcept {
  return statusOn(m, std::forward<Body>(body));
}

// A 64-bit time as a toolbox TimeValue, saturated.
inline TimeValue clampTV(int64_t v) {
  return (TimeValue)std::clamp<int64_t>(v, INT32_MIN, INT32_MAX);
}
// Media types that draw something.
bool isVisualMediaType(OSType t);

// A movie's or track's matrix to and from the toolbox record (none: the identity).
inline void matrixToRecord(const Fixed* m, MatrixRecord* r) {
  if (r)
    for (int i = 0; i < 9; ++i) r->matrix[i / 3][i % 3] = m[i];
}
inline void matrixFromRecord(Fixed* m, const MatrixRecord* r) {
  static const Fixed identity[9] = {fixed1, 0, 0, 0, fixed1, 0, 0, 0, 0x40000000};
  for (int i = 0; i < 9; ++i) m[i] = r ? r->matrix[i / 3][i % 3] : identity[i];
}

}  // namespace vt::movie

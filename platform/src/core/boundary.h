// The public-call boundary, written once: every toolbox call runs its body through `apiCall`
// (or an area's wrapper built on it), so no exception reaches a caller and the area's error
// state is kept the same way everywhere.
//
//   TimeScale GetMovieTimeScale(Movie m) {
//     return withMovie(m, TimeScale{0}, [&](VTMovie& mv) { return mv.timeScale; });
//   }
//
// An area supplies a `Sink` (how a code is recorded: a per-thread "last error", a global, or
// nothing when the call returns its code) and, for its objects, a liveness check that yields the
// object or the area's "invalid" code. Liveness checks themselves never touch the error state.
#pragma once
#include <MacTypes.h>

#include <type_traits>
#include <utility>

#include "core/guard.h"

namespace vt {

// The record of calls with no error state of their own (automation, counts, lookups): the
// fence already keeps the code as the last guarded error.
inline constexpr auto noErrorState = [](OSErr) noexcept {};

// Runs `body` behind the exception fence. A throw is turned into its toolbox code, handed to
// `record`, and the call returns `fallback`.
template <class R, class Record, class Body>
R apiCall(Record&& record, R fallback, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    record(vtErrorFromException());
    return fallback;
  }
}

// The same for calls that return nothing.
template <class Record, class Body>
void apiCall(Record&& record, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
    record(vtErrorFromException());
  }
}

// For calls whose result is their error code: a throw becomes the returned code.
template <class Body>
OSErr apiStatus(Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return vtErrorFromException();
  }
}

// For calls on an object: `find(handle)` returns the live object or nullptr; a dead handle
// records `invalid` and returns `fallback`; otherwise the error state is cleared and `body`
// runs on the object behind the fence.
template <class R, class Record, class Find, class Handle, class Body>
R apiOn(Record&& record, Find&& find, Handle h, OSErr invalid, R fallback, Body&& body) noexcept {
  return apiCall(record, fallback, [&]() -> R {
    auto* obj = find(h);
    if (!obj) {
      record(invalid);
      return fallback;
    }
    record(OSErr(0));
    return body(*obj);
  });
}

template <class Record, class Find, class Handle, class Body>
void apiOn(Record&& record, Find&& find, Handle h, OSErr invalid, Body&& body) noexcept {
  apiCall(record, [&] {
    auto* obj = find(h);
    if (!obj) {
      record(invalid);
      return;
    }
    record(OSErr(0));
    body(*obj);
  });
}

// For calls on an object in areas that keep no error state: a dead handle gives `fallback`.
template <class R, class Find, class Handle, class Body>
R apiOnLive(Find&& find, Handle h, R fallback, Body&& body) noexcept {
  return apiOn(noErrorState, find, h, OSErr(0), fallback, body);
}

template <class Find, class Handle, class Body>
void apiOnLive(Find&& find, Handle h, Body&& body) noexcept {
  apiOn(noErrorState, find, h, OSErr(0), body);
}

}  // namespace vt

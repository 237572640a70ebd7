// No exception crosses the API: what is thrown inside a call comes back as its error code.
#include <gtest/gtest.h>

#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <utility>

#include "core/guard.h"

namespace {
std::function<void()> gThrow;  // the next allocation runs it
}

void* operator new(std::size_t n) {
  if (gThrow) std::exchange(gThrow, nullptr)();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
// Not inlined, so the compiler does not pair them with its own idea of operator new.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST(Guard, ACallReturnsTheCodeOfWhatWasThrownInside) {
  auto fileError = [](int e) {
    return [e] { throw std::filesystem::filesystem_error("", {e, std::generic_category()}); };
  };
  FSSpec spec;
  FSMakeFSSpec(0, 0, (ConstStr255Param) "\x13/tmp/guard-test.mov", &spec);
  Movie movie = nullptr;
  short ref = 0;
  auto create = [&] { return CreateMovieFile(&spec, 'TVOD', smSystemScript, 0, &ref, &movie); };
  auto newMovie = [&] {
    movie = NewMovie(0);
    return GetMoviesError();
  };
  FSSpec other;
  auto makeSpec = [&] { return FSMakeFSSpec(0, 0, (ConstStr255Param) "\x01z", &other); };
  const struct {
    std::function<void()> thrown;
    std::function<OSErr()> call;
    OSErr code;
  } cases[] = {
      {[] { throw std::bad_alloc(); }, newMovie, memFullErr},
      {fileError(EACCES), makeSpec, permErr},
      {fileError(ENOSPC), create, dskFulErr},
      {[] { throw 1; }, create, ioErr},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    gThrow = cases[i].thrown;
    EXPECT_EQ(cases[i].call(), cases[i].code) << i;
    EXPECT_EQ(vtLastGuardedError(), cases[i].code) << i;  // the guard caught it, not the call
    EXPECT_EQ(movie, nullptr) << i;
  }
}

#include "core/boundary.h"

TEST(Boundary, ACallOnADeadObjectRecordsInvalidAndALiveOneClearsTheError) {
  struct Obj {
    int v = 7;
  } live;
  OSErr last = 99;
  auto record = [&](OSErr e) { last = e; };
  auto find = [&](int h) { return h == 1 ? &live : nullptr; };
  EXPECT_EQ(vt::apiOn(record, find, 0, invalidMovie, -1, [](Obj& o) { return o.v; }), -1);
  EXPECT_EQ(last, invalidMovie);
  EXPECT_EQ(vt::apiOn(record, find, 1, invalidMovie, -1, [](Obj& o) { return o.v; }), 7);
  EXPECT_EQ(last, noErr);
  EXPECT_EQ(
      vt::apiOn(record, find, 1, invalidMovie, -1, [](Obj&) -> int { throw std::bad_alloc(); }),
      -1);
  EXPECT_EQ(last, memFullErr);
  EXPECT_EQ(vt::apiStatus([]() -> OSErr { throw std::out_of_range("x"); }), paramErr);
}

// No exception crosses the API: a failure thrown inside a call comes back as its error code.
// Allocations are made to throw on demand by replacing operator new.
#include <gtest/gtest.h>

#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>

#include "core/guard.h"

namespace {
enum class Throw { Nothing, BadAlloc, NoSuchFile, NoAccess, DiskFull, Runtime, Logic, Int };
Throw gArmed = Throw::Nothing;

[[noreturn]] void throwIt(Throw t) {
  auto fs = [](int e) {
    return std::filesystem::filesystem_error("injected", std::error_code(e, std::generic_category()));
  };
  switch (t) {
    case Throw::BadAlloc: throw std::bad_alloc();
    case Throw::NoSuchFile: throw fs(ENOENT);
    case Throw::NoAccess: throw fs(EACCES);
    case Throw::DiskFull: throw std::system_error(ENOSPC, std::generic_category());
    case Throw::Runtime: throw std::runtime_error("injected");
    case Throw::Logic: throw std::out_of_range("injected");
    default: throw 7;
  }
}
}  // namespace

void* operator new(std::size_t n) {
  if (gArmed != Throw::Nothing) {
    Throw t = gArmed;
    gArmed = Throw::Nothing;  // the exception itself may allocate
    throwIt(t);
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST(Guard, MapsEachExceptionToItsCode) {
  const struct { Throw t; OSErr code; } cases[] = {
      {Throw::BadAlloc, memFullErr}, {Throw::NoSuchFile, fnfErr}, {Throw::NoAccess, permErr},
      {Throw::DiskFull, dskFulErr},  {Throw::Runtime, ioErr},     {Throw::Logic, paramErr},
      {Throw::Int, ioErr}};
  for (const auto& c : cases) {
    OSErr got = noErr;
    try {
      throwIt(c.t);
    } catch (...) {
      got = vtErrorFromException();
    }
    EXPECT_EQ(got, c.code) << (int)c.t;
  }
}

TEST(Guard, CallsReturnTheCodeOfWhatWasThrownInside) {
  FSSpec spec;
  FSMakeFSSpec(0, 0, (ConstStr255Param) "\x13/tmp/guard-test.mov", &spec);
  Movie movie = nullptr;
  short ref = 0;
  const struct {
    const char* call;
    Throw t;
    std::function<OSErr()> run;
    OSErr code;
  } cases[] = {
      {"FSMakeFSSpec", Throw::NoAccess,
       [] { FSSpec s; return FSMakeFSSpec(0, 0, (ConstStr255Param) "\x05" "a.mov", &s); },
       permErr},
      {"NewMovie", Throw::BadAlloc,
       [&] { movie = NewMovie(0); return movie ? noErr : GetMoviesError(); }, memFullErr},
      {"CreateMovieFile", Throw::DiskFull,
       [&] { return CreateMovieFile(&spec, 'TVOD', smSystemScript, 0, &ref, &movie); }, dskFulErr},
  };
  for (const auto& c : cases) {
    gArmed = c.t;
    EXPECT_EQ(c.run(), c.code) << c.call;
    EXPECT_EQ(vtLastGuardedError(), c.code) << c.call;
    EXPECT_EQ(movie, nullptr) << c.call;
    gArmed = Throw::Nothing;
  }
}
// The movie toolbox entered once for the whole test program, however many files include this.
#pragma once
#include <Movies.h>
#include <gtest/gtest.h>

namespace vt_test {

class MoviesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(EnterMovies(), noErr); }
  void TearDown() override { ExitMovies(); }
};
inline ::testing::Environment* const gMoviesEnvironment =
    ::testing::AddGlobalTestEnvironment(new MoviesEnvironment);

}  // namespace vt_test

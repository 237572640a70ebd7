// Writing a movie file over an old one never loses the old one: a full disk, a killed process
// or a second writer leave it whole, and nothing else behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "helpers.h"

namespace {

// A movie in memory with `frames` samples of 100 KB.
Movie movieOf(int frames) { return mt::videoMovie(frames, 100 << 10, 60); }

size_t entriesIn(const std::string& dir) {
  return (size_t)std::distance(std::filesystem::directory_iterator(dir), {});
}

// The two ways a movie file replaces another: flattened (Save As) and created, then given its
// movie (the effect movie).
constexpr long kReplace = createMovieFileDeleteCurFile | createMovieFileDontCreateResFile;

OSErr flattenOver(Movie m, const std::string& path) {
  Movie out = mt::flatten(
      m, path, flattenAddMovieToDataFork | flattenForceMovieResourceBeforeMovieData, kReplace);
  OSErr err = GetMoviesError();
  if (out) DisposeMovie(out);
  return err;
}

OSErr createOver(Movie m, const std::string& path) { return mt::saveAs(m, path, kReplace); }

int gProgressPipe = -1;
// Tells the test the flatten is past its middle, then waits to be killed.
OSErr signalHalfWay(Movie, short message, short, Fixed percent, long) {
  if (message == movieProgressUpdatePercent && percent > fixed1 / 2) {
    (void)!write(gProgressPipe, "x", 1);
    for (;;) pause();
  }
  return noErr;
}

TEST(SafeSaving, AFullDiskLeavesTheOldFileWhole) {
  Movie old = movieOf(23), large = movieOf(70);  // 2.3 MB and 7 MB
  for (auto write : {flattenOver, createOver}) {
    std::string dir = vt_test::tempDir("full-disk");
    vt_test::SmallDisk disk(dir);
    ASSERT_EQ(flattenOver(old, dir + "/movie.mov"), noErr);
    std::vector<uint8_t> before = mt::readFile(dir + "/movie.mov");
    EXPECT_EQ(write(large, dir + "/movie.mov"), dskFulErr);
    EXPECT_EQ(mt::readFile(dir + "/movie.mov"), before);
    EXPECT_EQ(entriesIn(dir), 1u);  // the file itself, nothing beside it
  }
  DisposeMovie(old);
  DisposeMovie(large);
}

TEST(SafeSaving, AKillInTheMiddleOfAFlattenLeavesTheOldFileWhole) {
  std::string dir = vt_test::tempDir("killed");
  Movie old = movieOf(4), large = movieOf(300);
  ASSERT_EQ(flattenOver(old, dir + "/movie.mov"), noErr);
  std::vector<uint8_t> before = mt::readFile(dir + "/movie.mov");
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  gProgressPipe = pipeFds[1];
  SetMovieProgressProc(large, signalHalfWay, 0);
  pid_t child = fork();
  if (child == 0) _exit(flattenOver(large, dir + "/movie.mov"));
  close(pipeFds[1]);
  char c = 0;
  EXPECT_EQ(read(pipeFds[0], &c, 1), 1) << "the flatten never got half-way";
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(pipeFds[0]);
  EXPECT_EQ(mt::readFile(dir + "/movie.mov"), before);
  EXPECT_EQ(entriesIn(dir), 1u);  // the file itself, nothing beside it
  DisposeMovie(old);
  DisposeMovie(large);
}

TEST(SafeSaving, ASecondWriterNeverSilentlyUndoesTheFirst) {
  Movie first = movieOf(3), second = movieOf(5);
  for (bool existing : {false, true}) {
    std::string dir = vt_test::tempDir("two-writers"), path = dir + "/movie.mov";
    if (existing) {
      ASSERT_EQ(flattenOver(first, path), noErr);
    }
    // The first writer is still building its file when the second saves a whole one.
    FSSpec s = mt::spec(path);
    short ref = 0, resId = 0;
    ASSERT_EQ(CreateMovieFile(&s, 'TVOD', smSystemScript, kReplace | createMovieFileDontCreateMovie,
                              &ref, nullptr),
              noErr);
    ASSERT_EQ(flattenOver(second, path), noErr);
    std::vector<uint8_t> saved = mt::readFile(path);
    EXPECT_EQ(AddMovieResource(first, ref, &resId, nullptr), existing ? fBsyErr : dupFNErr);
    CloseMovieFile(ref);
    EXPECT_EQ(mt::readFile(path), saved) << existing;
    EXPECT_EQ(entriesIn(dir), 1u);  // the file itself, nothing beside it
  }
  DisposeMovie(first);
  DisposeMovie(second);
}

}  // namespace

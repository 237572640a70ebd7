// The host-file layer: one open file per file, busy by device and inode however the name is
// spelled, and writers that never clobber (open files, racing writers, modes, links, kills).
#include <MacErrors.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "files/host_file.h"
#include "fixtures.h"

namespace {

namespace fs = std::filesystem;
using vt::files::HostFile;
using vt::files::PendingFile;

// A folder with the open file "a.mov", and the other names that lead to it.
struct Names {
  std::string dir = vt_test::tempDir("hostfile");
  std::string file = vt_test::writeFile(dir + "/a.mov", "the movie");
  Names() {
    fs::create_directory(dir + "/sub");
    fs::create_directory_symlink("..", dir + "/sub/up");  // a symlinked folder
    fs::create_symlink("a.mov", dir + "/link.mov");
    fs::create_hard_link(file, dir + "/hard.mov");
  }
};

std::vector<std::string> hidden(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string()[0] == '.') names.push_back(e.path().filename());
  return names;
}

OSErr write(PendingFile& p, const std::string& bytes) {
  return ::write(p.fd(), bytes.data(), bytes.size()) == (ssize_t)bytes.size() ? (OSErr)noErr
                                                                              : (OSErr)ioErr;
}

// Writes `bytes` and commits: the first error.
OSErr finish(PendingFile& p, const std::string& bytes) {
  OSErr err = write(p, bytes);
  return err == noErr ? p.commit() : err;
}

fs::perms modeOf(const std::string& path) { return fs::status(path).permissions(); }

// The end of a process killed by SIGKILL: no destructor runs.
void die() { ::kill(::getpid(), SIGKILL); }

// Runs `job` (which ends in die()) in a child process.
void killedAfter(const std::function<void()>& job) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    job();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
}

}  // namespace

TEST(HostFiles, OneOpenFilePerFileAndItsReadsSurviveAReplacedName) {
  Names n;
  auto a = HostFile::open(n.file);
  ASSERT_TRUE(a);
  for (const std::string& spelling :
       {n.dir + "/./a.mov", n.dir + "/sub/up/a.mov", n.dir + "/link.mov", n.dir + "/hard.mov"})
    EXPECT_EQ(HostFile::open(spelling), a) << spelling;
  // A file put under the name later is another file; the open one still reads its own bytes.
  vt_test::writeFile(n.dir + "/new", "replacement");
  fs::rename(n.dir + "/new", n.file);
  auto b = HostFile::open(n.file);
  ASSERT_TRUE(b);
  EXPECT_NE(a, b);
  char got[9] = {};
  ASSERT_TRUE(a->read(0, 9, got));
  EXPECT_EQ(std::string(got, 9), "the movie");
  EXPECT_FALSE(a->read(5, 9, got));  // past the end is a failed read, not a short one
  OSErr err = noErr;
  EXPECT_FALSE(HostFile::open(n.dir + "/missing", &err));
  EXPECT_EQ(err, fnfErr);
  EXPECT_FALSE(HostFile::open(n.dir + "/sub", &err));
  EXPECT_EQ(err, bdNamErr);
}

TEST(HostFiles, WritersRefuseAnOpenFileHoweverNamedAndMayReplaceAnotherHardLink) {
  Names n;
  auto open = HostFile::open(n.file);
  ASSERT_TRUE(open);
  const struct {
    std::string path;
    OSErr begin;
  } cases[] = {
      {n.file, fBsyErr},
      {n.dir + "/./a.mov", fBsyErr},
      {n.dir + "/sub/../a.mov", fBsyErr},
      {n.dir + "/sub/up/a.mov", fBsyErr},
      {n.dir + "/link.mov", fBsyErr},  // followed: its target is the open file
      {n.dir + "/hard.mov", noErr},    // another name: replaced, the open file stays
  };
  for (const auto& c : cases) {
    PendingFile p;
    ASSERT_EQ(p.begin(c.path, true), c.begin) << c.path;
    if (c.begin == noErr) {
      EXPECT_EQ(finish(p, "new"), noErr);
    }
    EXPECT_EQ(vt_test::readFile(c.path), c.begin == noErr ? "new" : "the movie") << c.path;
    EXPECT_EQ(vt_test::readFile(n.file), "the movie") << c.path;
  }
  EXPECT_TRUE(vt::files::nameIsBusy(n.dir + "/link.mov"));
  EXPECT_TRUE(vt::files::isBusy(n.dir + "/sub/up/a.mov"));
  // A movie that opens the file while a writer works still keeps it.
  open.reset();
  PendingFile late;
  ASSERT_EQ(late.begin(n.file, true), noErr);
  open = HostFile::open(n.file);
  EXPECT_EQ(late.commit(), fBsyErr);
  EXPECT_EQ(vt_test::readFile(n.file), "the movie");
  EXPECT_EQ(hidden(n.dir), std::vector<std::string>{});
}

TEST(HostFiles, ReplacingKeepsTheModeAndFollowsASymlinkIntoItsFolder) {
  Names n;
  fs::create_directory(n.dir + "/elsewhere");
  vt_test::writeFile(n.dir + "/elsewhere/target.mov", "old");
  fs::create_symlink("elsewhere/target.mov", n.dir + "/to-target.mov");
  ::chmod((n.dir + "/elsewhere/target.mov").c_str(), 0600);
  ::chmod(n.file.c_str(), 0640);
  for (const std::string& path : {n.dir + "/to-target.mov", n.file}) {
    PendingFile p;
    ASSERT_EQ(p.begin(path, true), noErr);
    ASSERT_EQ(finish(p, "replaced"), noErr);
  }
  EXPECT_TRUE(fs::is_symlink(n.dir + "/to-target.mov"));
  EXPECT_EQ(modeOf(n.dir + "/elsewhere/target.mov"), fs::perms{0600});
  EXPECT_EQ(vt_test::readFile(n.dir + "/elsewhere/target.mov"), "replaced");
  EXPECT_EQ(modeOf(n.file), fs::perms{0640});
  EXPECT_EQ(hidden(n.dir), std::vector<std::string>{});
  EXPECT_EQ(hidden(n.dir + "/elsewhere"), std::vector<std::string>{});
}

TEST(HostFiles, OfTwoRacingWritersOnlyTheFirstToFinishSucceeds) {
  for (bool existed : {false, true}) {
    Names n;
    const std::string path = n.dir + "/out.mov";
    if (existed) vt_test::writeFile(path, "older");
    for (bool folder : {false, true}) {
      if (folder) fs::remove(path);
      PendingFile first, second;
      auto begin = [&](PendingFile& p) {
        return folder ? p.beginFolder(path, true) : p.begin(path, true);
      };
      ASSERT_EQ(begin(first), noErr);
      ASSERT_EQ(begin(second), noErr);
      ASSERT_EQ(folder ? first.commit() : finish(first, "first"), noErr);
      const OSErr lost = existed && !folder ? fBsyErr : dupFNErr;
      EXPECT_EQ(second.commit(), lost) << existed << folder;
      if (!folder) {
        EXPECT_EQ(vt_test::readFile(path), "first");
      }
      EXPECT_EQ(fs::is_directory(path), folder);
    }
    EXPECT_EQ(hidden(n.dir), std::vector<std::string>{});
  }
}

TEST(HostFiles, AKilledWriterLeavesNothingOrAFolderTheNextFolderWriterRemoves) {
  Names n;
  killedAfter([&] {
    PendingFile p;
    if (p.begin(n.file, true) == noErr) write(p, "half");
    die();
  });
  EXPECT_EQ(hidden(n.dir), std::vector<std::string>{});
  EXPECT_EQ(vt_test::readFile(n.file), "the movie");

  killedAfter([&] {
    PendingFile p;
    if (p.beginFolder(n.dir + "/frames", true) == noErr)
      vt_test::writeFile(p.openablePath() + "/frame-1.png");
    die();
  });
  ASSERT_EQ(hidden(n.dir).size(), 1u);  // a folder cannot be unnamed
  PendingFile live, next;
  ASSERT_EQ(live.beginFolder(n.dir + "/other", true), noErr);
  ASSERT_EQ(next.beginFolder(n.dir + "/frames", true), noErr);
  // Only the dead writer's folder went: the live writers' stay until they finish.
  EXPECT_EQ(hidden(n.dir).size(), 2u);
  EXPECT_TRUE(fs::exists(live.openablePath()));
  vt_test::writeFile(next.openablePath() + "/frame-1.png");
  ASSERT_EQ(next.commit(), noErr);
  live.discard();
  EXPECT_EQ(hidden(n.dir), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(n.dir + "/frames/frame-1.png"));
  // A folder that holds files is never replaced; a file of the name is.
  PendingFile again;
  EXPECT_EQ(again.beginFolder(n.dir + "/frames", true), dupFNErr);
  ASSERT_EQ(again.beginFolder(n.dir + "/hard.mov", true), noErr);
  EXPECT_EQ(again.commit(), noErr);
  EXPECT_TRUE(fs::is_directory(n.dir + "/hard.mov"));
}

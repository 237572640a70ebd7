// Saves into a file the user named that fail tell what failed, on which file and why; documents
// keep their state. Failed opens and cancels show nothing.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app_fixture.h"
#include "export/progress.h"
#include "fixtures.h"

namespace {

class FailureWarnings : public AppTest {
 protected:
  std::vector<std::string> warnings_;
  std::function<void()> onTurn_;  // acts as the user on every modal turn, before the alerts

  void SetUp() override {
    AppTest::SetUp();
    // Every alert that comes up is read and dismissed with Return, once.
    auto answered = std::make_shared<bool>(false);
    OnModalTurn(
        [this, answered](long) {
          if (onTurn_) onTurn_();
          if (!VTAutomationHasFrontDialog()) {
            *answered = false;
            return;
          }
          if (*answered) return;
          *answered = true;
          std::string shown;
          for (auto& item : VTAutomationFrontDialogItems()) shown += item.text + "|";
          warnings_.push_back(shown);
          VTAutomationPostKey((char)kReturnCharCode);
        },
        5000);
  }

  // The one warning shown since the last call, "" when none was.
  std::string TakeWarning() {
    EXPECT_LE(warnings_.size(), 1u) << "one failure, one warning";
    std::string w = warnings_.empty() ? "" : warnings_.front();
    warnings_.clear();
    return w;
  }

  std::string MovieFixture(const std::string& ext = "mov") {
    return vt_test::fixture("warn_src." + ext,
                            "-f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v mjpeg");
  }
  std::string CopyInto(const std::string& from, const std::string& name) {
    std::string to = tempDir_ + "/" + name;
    std::filesystem::copy_file(from, to);
    return to;
  }

  // Runs `body` in a child process that cannot write to `folder` (as an unprivileged user when
  // the tests run as root, who writes anywhere); returns what the body returned.
  std::string InReadOnlyFolder(const std::string& folder, std::function<std::string()> body) {
    chmod(folder.c_str(), 0555);
    ChildRun run = InChild([&](int fd) {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
      std::string out = body();
      _exit(write(fd, out.data(), out.size()) < 0 ? 3 : 0);
    });
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(run.status, 0);
    return run.report;
  }
};

// The open fails without a word, as a cancelled one does: no window is the only answer.
TEST_F(FailureWarnings, FailedOrCancelledOpensShowNothing) {
  std::string path = CopyInto(MovieFixture(), "damaged.mov");
  // The movie atom (at the end, after the media data) is cut in half.
  std::string bytes = vt_test::readFile(path);
  size_t moov = bytes.rfind("moov");
  ASSERT_NE(moov, std::string::npos);
  std::filesystem::resize_file(path, moov + (bytes.size() - moov) / 2);

  VTAutomationNavChooseFile(path);
  EXPECT_FALSE(QTFrame_OpenMovieInWindow(NULL, NULL));
  ASSERT_EQ(VTAutomationNavLastError(), "") << "the damaged file was offered and chosen";
  EXPECT_EQ(TakeWarning(), "");

  VTAutomationNavCancelOpen();
  EXPECT_FALSE(QTFrame_OpenMovieInWindow(NULL, NULL));
  EXPECT_EQ(TakeWarning(), "");
  EXPECT_EQ(WindowCount(), 0);
}

TEST_F(FailureWarnings, FailedSavesAreReported) {
  // Saving an edited imported movie in place is refused and reported.
  WindowReference w = OpenMovieFile(CopyInto(MovieFixture("avi"), "clip.avi"));
  ASSERT_NE(w, nullptr);
  Record(w).fIsDirty = true;
  EXPECT_FALSE(QTFrame_UpdateMovieFile(w));
  std::string text = TakeWarning();
  for (const std::string& part : {std::string("Could not save \"clip.avi\""),
                                  std::string("use Save As"), std::to_string(badFileFormat)})
    EXPECT_NE(text.find(part), std::string::npos) << text;
  EXPECT_TRUE(Record(w).fIsDirty);

  // Save As over a file an open movie reads, another window's or the window's own, is refused
  // and reported in words true of both.
  WindowReference own = OpenMovieFile(CopyInto(MovieFixture(), "own.mov"));
  ASSERT_NE(OpenMovieFile(CopyInto(MovieFixture(), "busy.mov")), nullptr);
  w = OpenMovieWindow("new.mov", true);
  for (auto [window, name] : {std::pair{w, "busy.mov"}, std::pair{own, "own.mov"}}) {
    VTAutomationNavSaveAs(tempDir_, name, true);
    EXPECT_EQ(QTFrame_SaveAsMovieFile(window), fBsyErr) << name;
    EXPECT_EQ(TakeWarning(), "OK|Warning!|Could not save \"" + std::string(name) +
                                 "\": the file is in use by an open movie.|Error: -47|");
    EXPECT_EQ(std::filesystem::file_size(tempDir_ + "/" + name),
              std::filesystem::file_size(MovieFixture()));
  }
  // The document is as it was (unsaved, without a file).
  EXPECT_TRUE(Record(w).fIsDirty && Record(w).fFileRefNum == -1);

  // A save that fails on a full disk keeps the file it was to replace, and the window its movie.
  // 9 MB of frames, more than the small disk below holds beside the old file.
  w = OpenMovieFile(vt_test::fixture(
      "warn_big.mov",
      "-f lavfi -i testsrc=size=320x240:rate=10 -t 4 -c:v rawvideo -pix_fmt rgb24"));
  ASSERT_NE(w, nullptr);
  Movie movie = Record(w).fMovie;
  std::string dir = tempDir_ + "/small", old(23 << 17, 'o');  // 2.9 MB
  mkdir(dir.c_str(), 0700);
  vt_test::SmallDisk disk(dir);
  vt_test::writeFile(dir + "/old.mov", old);
  VTAutomationNavSaveAs(dir, "old.mov", true);
  EXPECT_EQ(QTFrame_SaveAsMovieFile(w), dskFulErr);
  text = TakeWarning();
  EXPECT_NE(text.find("Could not save \"old.mov\""), std::string::npos) << text;
  EXPECT_EQ(vt_test::readFile(dir + "/old.mov"), old);
  EXPECT_EQ(Record(w).fMovie, movie);
}

// A cancel in the progress window of Save As is the user's choice: no alert, no file, and the
// document as it was.
TEST_F(FailureWarnings, SaveAsCancelledInItsProgressWindowShowsNothing) {
  WindowReference w = OpenMovieFile(vt_test::fixture(
      "flatten_av.mov", "-f lavfi -i testsrc2=size=320x240 -f lavfi -i sine -t 4 -c:a aac"));
  ASSERT_NE(w, nullptr);
  Movie movie = Record(w).fMovie;
  bool clicked = false;
  onTurn_ = [&clicked] {
    auto* progress = vt::exporter::ProgressWindow::current();
    if (clicked || !progress) return;
    VTAutomationPostClick(Centre(progress->cancelRect()));
    clicked = true;
  };
  VTAutomationNavSaveAs(tempDir_, "copy.mov");
  EXPECT_EQ(QTFrame_SaveAsMovieFile(w), userCanceledErr);
  EXPECT_TRUE(clicked) << "the progress window never showed";
  EXPECT_EQ(TakeWarning(), "");
  EXPECT_EQ(Record(w).fMovie, movie);
  EXPECT_FALSE(std::filesystem::exists(tempDir_ + "/copy.mov"));
}

// Saves of a new movie and of an effect movie into a read-only folder are reported.
// Where nobody can answer (the tools), a warning is one line to a sink and is dismissed at once.
TEST_F(FailureWarnings, UnansweredAlertsGoToTheSinkAsOneLineWithoutWaiting) {
  std::vector<std::string> lines;
  VTAutomationAnswerAlertsWith([&](const std::string& line) { lines.push_back(line); });
  unsigned char message[] =
      "\x0c"
      "Disk is full";
  QTFrame_ShowWarning(message, -34);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Warning! Disk is full Error: -34");
  EXPECT_TRUE(warnings_.empty()) << "no alert came up";
  EXPECT_FALSE(VTAutomationHasFrontDialog());
  VTAutomationAnswerAlertsWith(nullptr);
  QTFrame_ShowWarning(message, -34);
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_NE(TakeWarning().find("Disk is full"), std::string::npos) << "shown again";
}

TEST_F(FailureWarnings, SavesIntoAReadOnlyFolderAreReported) {
  std::string locked = tempDir_ + "/locked";
  std::filesystem::create_directory(locked);
  std::string report = InReadOnlyFolder(locked, [&] {
    WindowReference w = OpenMovieWindow("new.mov", true);
    VTAutomationNavSaveAs(locked, "kept.mov");
    bool saved = QTFrame_UpdateMovieFile(w);
    std::string out = (saved ? "saved " : "failed ") +
                      std::string(Record(w).fIsDirty ? "dirty " : "clean ") + TakeWarning() + "\n";

    // The effect maker, with a generator (no sources) confirmed in its dialog.
    gSpecCount = 0;
    QTNewAtomContainer(&gEffectSample);
    OSType what = EndianU32_NtoB('fire');
    QTInsertChild(gEffectSample, kParentAtomIsContainer, 'what', 1, 0, 4, &what, nullptr);
    VTAutomationNavSaveAs(locked, "effect.mov");
    QTEffects_RespondToDialogSelection(codecParameterDialogConfirm);
    return out + TakeWarning();
  });
  EXPECT_NE(report.find("failed dirty OK|Warning!|Could not save \"kept.mov\": the folder or "
                        "the file is read-only.|Error: -54|"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("Could not save the effect movie \"effect.mov\": the folder or the "
                        "file is read-only."),
            std::string::npos)
      << report;
  EXPECT_TRUE(std::filesystem::is_empty(locked));
}

}  // namespace

// File commands and the effect movie's save step that fail tell the user so: the warning alert
// names what failed, the file and the reason, and the document keeps its state.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app_fixture.h"
#include "fixtures.h"

namespace {

class FailureWarnings : public AppTest {
 protected:
  std::vector<std::string> warnings_;

  void SetUp() override {
    AppTest::SetUp();
    // Every alert that comes up is read and dismissed with Return, once.
    auto answered = std::make_shared<bool>(false);
    OnModalTurn(
        [this, answered](long) {
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

  std::string MovieFixture() {
    return vt_test::fixture("warn_src.mov",
                            "-f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v mjpeg");
  }
  std::string CopyInto(const std::string& from, const std::string& name) {
    std::string to = tempDir_ + "/" + name;
    std::filesystem::copy_file(from, to);
    return to;
  }
  FSSpec Spec(const std::string& path) {
    FSSpec spec;
    VTMakeFSSpecFromPath(path.c_str(), &spec);
    return spec;
  }

  // Runs `body` in a child process that cannot write to `folder` (as an unprivileged user when
  // the tests run as root, who writes anywhere); returns what the body returned.
  std::string InReadOnlyFolder(const std::string& folder, std::function<std::string()> body) {
    chmod(folder.c_str(), 0555);
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
      std::string out = body();
      if (write(fds[1], out.data(), out.size()) < 0) _exit(3);
      _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[1024];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    chmod(folder.c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return out;
  }
};

TEST_F(FailureWarnings, DamagedFileChosenInOpenIsReported) {
  std::string path = CopyInto(MovieFixture(), "damaged.mov");
  // The movie atom (at the end, after the media data) is cut in half.
  auto size = std::filesystem::file_size(path);
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  size_t moov = bytes.rfind("moov");
  ASSERT_NE(moov, std::string::npos);
  std::filesystem::resize_file(path, moov + (size - moov) / 2);

  VTAutomationNavChooseFile(path);
  EXPECT_FALSE(QTFrame_OpenMovieInWindow(NULL, NULL));
  ASSERT_EQ(VTAutomationNavLastError(), "") << "the damaged file was offered and chosen";
  std::string w = TakeWarning();
  EXPECT_NE(w.find("Could not open \"damaged.mov\""), std::string::npos) << w;
  EXPECT_NE(w.find("damaged or is not a movie this application can read"), std::string::npos) << w;
  EXPECT_EQ(WindowCount(), 0);

  // Cancelling is the user's choice: no warning.
  VTAutomationNavCancelOpen();
  EXPECT_FALSE(QTFrame_OpenMovieInWindow(NULL, NULL));
  EXPECT_EQ(TakeWarning(), "");
}

TEST_F(FailureWarnings, SaveAsOverAFileAnotherWindowReadsIsRefusedAndReported) {
  FSSpec busy = Spec(CopyInto(MovieFixture(), "busy.mov"));
  ASSERT_TRUE(QTFrame_OpenMovieInWindow(NULL, &busy));
  WindowReference w = OpenMovieWindow("new.mov", true);
  VTAutomationNavSaveAs(tempDir_, "busy.mov", true);
  EXPECT_NE(QTFrame_SaveAsMovieFile(w), noErr);
  std::string text = TakeWarning();
  EXPECT_NE(text.find("Could not save \"busy.mov\""), std::string::npos) << text;
  EXPECT_NE(text.find("in use"), std::string::npos) << text;
  // The document is as it was (unsaved, without a file), the other window's file intact.
  WindowObject o = QTFrame_GetWindowObjectFromWindow(w);
  EXPECT_TRUE((**o).fIsDirty && (**o).fFileRefNum == -1);
  EXPECT_EQ(std::filesystem::file_size(tempDir_ + "/busy.mov"),
            std::filesystem::file_size(MovieFixture()));
}

TEST_F(FailureWarnings, SavingAnEditedImportedMovieIsReported) {
  std::string avi =
      vt_test::fixture("warn_src.avi", "-f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v mjpeg");
  FSSpec spec = Spec(CopyInto(avi, "clip.avi"));
  ASSERT_TRUE(QTFrame_OpenMovieInWindow(NULL, &spec));
  WindowReference w = QTFrame_GetFrontMovieWindow();
  (**QTFrame_GetWindowObjectFromWindow(w)).fIsDirty = true;
  EXPECT_FALSE(QTFrame_UpdateMovieFile(w));
  std::string text = TakeWarning();
  for (const std::string& part : {std::string("Could not save \"clip.avi\""),
                                  std::string("use Save As"), std::to_string(badFileFormat)})
    EXPECT_NE(text.find(part), std::string::npos) << text;
  EXPECT_TRUE((**QTFrame_GetWindowObjectFromWindow(w)).fIsDirty);
}

// Save (of a new movie, through Save As) and the effect movie's save into a folder that cannot
// be written: reported with the file's name; the window stays, unsaved.
TEST_F(FailureWarnings, SavesIntoAReadOnlyFolderAreReported) {
  std::string locked = tempDir_ + "/locked";
  std::filesystem::create_directory(locked);
  std::string report = InReadOnlyFolder(locked, [&] {
    WindowReference w = OpenMovieWindow("new.mov", true);
    VTAutomationNavSaveAs(locked, "kept.mov");
    bool saved = QTFrame_UpdateMovieFile(w);
    std::string out =
        (saved ? "saved " : "failed ") +
        std::string((**QTFrame_GetWindowObjectFromWindow(w)).fIsDirty ? "dirty " : "clean ") +
        TakeWarning() + "\n";

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

// Export Movie... with its progress window, and vantrel-make, which must build the movies
// Make Effect Movie builds.
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "app_fixture.h"
#include "export/progress.h"
#include "fixtures.h"

namespace {

// movie-info's description of a file (with `options`), less the file's own name and path.
std::string structure(const std::string& file, const std::string& options = "") {
  std::string out, kept, line;
  EXPECT_EQ(vt_test::run(Tool("movie-info") + options + " '" + file + "'", &out), 0) << file;
  for (std::istringstream lines(out); std::getline(lines, line);) {
    if (size_t self = line.find(file); self != std::string::npos)
      line.replace(self, file.size(), "SELF");
    if (line.find("\"file\":") == std::string::npos) kept += line + "\n";
  }
  return kept;
}

long entryCount(const std::string& dir) {
  return std::distance(std::filesystem::directory_iterator(dir), {});
}

// Runs vantrel-make with `args`; its exit status, and what it said in *log.
int Make(const std::string& args, std::string* log) {
  return vt_test::run(Tool("vantrel-make") + " " + args + " 2>&1", log);
}

void ClickCancel() {
  VTAutomationPostClick(Centre(vt::exporter::ProgressWindow::current()->cancelRect()));
}

}  // namespace

TEST_F(AppTest, MakeToolRefusesBadInputAndBuildsWhatTheDialogBuilds) {
  const std::string a =
      vt_test::fixture("make_a.mov", "-f lavfi -i testsrc2=size=160x120:rate=15 -t 1 -c:v libx264");
  const std::string sound =
      vt_test::fixture("make_sound.m4a", "-f lavfi -i sine=frequency=440 -t 1 -c:a aac");
  const std::string text = vt_test::writeFile(tempDir_ + "/notes.mov", "not a movie");
  const std::string out = " -o '" + tempDir_ + "/out.mov'";
  for (const std::string& args : {
           "--effect zzzz '" + a + "'",                    // no such effect
           "--effect dslv '" + a + "'",                    // a transition, for one source
           "--effect blur --param ksiz=2x2 '" + a + "'",   // not a listed name
           "--effect blur --param ksum=9 '" + a + "'",     // out of range
           "--effect blur --param nope=1 '" + a + "'",     // no such parameter
           std::string("--effect clou --param fgdc=red"),  // a colour is #rrggbb
           "--effect blur --param ksum=1:2 '" + a + "'",   // not a tween
           "'" + text + "'",                               // not a movie
           "'" + sound + "'",                              // no video
           "'" + a + "' '" + a + "' '" + a + "'",          // three sources
           "'" + tempDir_ + "/missing.mov'",
           "--effect toolong '" + a + "'",
       }) {
    std::string log;
    EXPECT_EQ(Make(args + out, &log), 2) << args << ": " << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << args << ": " << log;
  }
  EXPECT_EQ(entryCount(tempDir_), 1);  // the text file only
  // Values as the dialog shows them are taken.
  std::string log;
  EXPECT_EQ(Make("--effect clou --param fgdc=#ff8000 --param rotc=90 --export '" + tempDir_ +
                     "/clouds.mp4'" + out,
                 &log),
            0)
      << log;
  EXPECT_EQ(entryCount(tempDir_), 3);

  // With good input it builds the movie the dialog builds, from 0, 1 or 2 sources.
  const std::string src[2] = {
      a,
      vt_test::fixture("make_b.mp4", "-f lavfi -i testsrc2=size=200x100:rate=10 -t 2 -c:v mpeg4")};
  for (int n = 0; n <= 2; n++)
    for (bool copy : {false, true}) {
      SCOPED_TRACE(std::to_string(n) + (copy ? " sources, copied" : " sources, referred to"));
      const std::string mode = copy ? "copy" : "refer";
      const std::string dialog = "dialog-" + std::to_string(n) + mode + ".mov";
      VTAutomationNavReset();
      for (int k = 0; k < n; k++) VTAutomationNavChooseFile(src[k]);
      if (n < 2) VTAutomationNavCancelOpen();
      VTAutomationNavSaveAs(tempDir_, dialog);
      gCopyMovieMedia = copy;
      QTEffects_PromptUserForFilesAndMakeEffect();
      ASSERT_NE(gEffectsDialog, 0L);
      ASSERT_TRUE(VTAutomationEffectsDialogPressOK());
      for (int turn = 0; gEffectsDialog != 0 && turn < 200; turn++) {
        EventRecord e;
        if (WaitNextEvent(everyEvent, &e, 0, nullptr)) QTApp_HandleEvent(&e);
      }
      ASSERT_EQ(gEffectsDialog, 0L);

      std::string tool = tempDir_ + "/tool.mov", args, said;
      for (int k = 0; k < n; k++) args += " '" + src[k] + "'";
      ASSERT_EQ(Make("--" + mode + args + " -o '" + tool + "'", &said), 0) << said;
      EXPECT_EQ(structure(tool), structure(tempDir_ + "/" + dialog));
    }
}

// The proposed name is the window's with ".mp4", within a file name's 63 bytes: a long name is
// cut between characters, never through one.
TEST_F(AppTest, ExportProposesTheWindowsNameCutBetweenCharacters) {
  auto times = [](int n, const std::string& s) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
  };
  const std::string e = "\xC3\xA9", kanji = "\xE6\x97\xA5", smile = "\xF0\x9F\x98\x80";
  const std::pair<std::string, std::string> names[] = {
      {"clip.mov", "clip.mp4"},
      {times(30, e) + ".mov", times(29, e) + ".mp4"},
      {"a" + times(30, e) + ".mov", "a" + times(29, e) + ".mp4"},
      {times(20, kanji) + ".mov", times(19, kanji) + ".mp4"},
      {"ab" + times(15, smile), "ab" + times(14, smile) + ".mp4"},
  };
  WindowReference w = OpenMovieWindow("export.mov");
  for (const auto& [title, proposed] : names) {
    SetWTitle(w, PStr(title));
    VTAutomationNavCancelSave();
    QTFrame_HandleMenuCommand(kExportItem);
    EXPECT_EQ(VTAutomationNavLastShown().proposedName, proposed) << title;
  }
}

TEST_F(AppTest, ExportShowsProgressCancelsCleanlyAndWritesTheChosenFormat) {
  const std::string src = vt_test::fixture(
      "export_long.mov", "-f lavfi -i testsrc2=size=320x240:rate=25 -t 8 -c:v libx264 -g 25");
  WindowReference w = OpenMovieFile(src);
  ASSERT_NE(w, nullptr);
  Movie movie = Record(w).fMovie;
  const TimeValue duration = GetMovieDuration(movie);

  // Cancel in the progress window, once it has shown some progress.
  VTAutomationNavSaveAs(tempDir_, "cancelled.mp4");
  bool clicked = false;
  OnModalTurn([&](long turn) {
    if (turn < 3 || !vt::exporter::ProgressWindow::current() || clicked) return;
    ClickCancel();
    clicked = true;
  });
  QTFrame_HandleMenuCommand(kExportItem);
  EXPECT_TRUE(clicked) << "the progress window never showed";
  EXPECT_EQ(entryCount(tempDir_), 0) << "nothing of the cancelled export is left";
  EXPECT_FALSE(VTAutomationHasFrontDialog()) << "a cancel is not an error";
  VTAutomationSetModalHook(nullptr);

  // The chosen format gives the extension; a typed extension chooses its format; a name without
  // one gets the format's; the last format is proposed again (-1: left as proposed).
  const struct {
    int format;
    const char *typed, *written, *expect;  // expect: codec,frames
  } formats[] = {
      {0, "", "export_long.mp4", "h264,200"},    {2, "", "export_long/frame-%06d.png", "png,200"},
      {1, "", "export_long.mov", "prores,200"},  {-1, "again", "again.mov", "prores,200"},
      {1, "typed.mp4", "typed.mp4", "h264,200"}, {0, "typed.MOV", "typed.MOV", "prores,200"},
  };
  for (const auto& f : formats) {
    SCOPED_TRACE(f.written);
    VTAutomationNavSaveAs(tempDir_, f.typed, true, f.format);
    QTFrame_HandleMenuCommand(kExportItem);
    EXPECT_EQ(VTAutomationNavLastShown().formats.size(), 3u);
    EXPECT_EQ(VTAutomationNavLastShown().message, "Export Movie As:");
    EXPECT_EQ(Probe(tempDir_ + "/" + f.written,
                    "-count_frames -show_entries stream=codec_name,nb_read_frames"),
              std::string(f.expect) + "\n");
  }
  EXPECT_EQ(QTFrame_GetFrontMovieWindow(), w);
  EXPECT_EQ(GetMovieDuration(movie), duration);
  EXPECT_FALSE(Record(w).fIsDirty);
}

TEST_F(AppTest, ExportAndTheMakeToolNeverReplaceTheMovieTheyRead) {
  InstallMenuBar();
  const std::string victim = tempDir_ + "/victim.mov";
  std::filesystem::copy_file(
      vt_test::fixture("make_a.mov", "-f lavfi -i testsrc2=size=160x120:rate=15 -t 1 -c:v libx264"),
      victim);
  std::filesystem::create_directory(tempDir_ + "/sub");
  std::filesystem::create_directory_symlink("..", tempDir_ + "/sub/up");
  const std::string before = vt_test::readFile(victim);
  for (const std::string& out :
       {victim, tempDir_ + "/./victim.mov", tempDir_ + "/sub/up/victim.mov"}) {
    std::string log;
    EXPECT_EQ(Make("--effect blur --refer '" + victim + "' -o '" + out + "'", &log), 1) << out;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("is the source"), std::string::npos) << log;
    EXPECT_EQ(vt_test::readFile(victim), before) << out;
  }

  // With ProRes chosen the dialog proposes another name than the open file's own.
  WindowReference w = OpenMovieFile(victim);
  ASSERT_NE(w, nullptr);
  VTAutomationNavSaveAs(tempDir_, "", true, 1);
  QTFrame_HandleMenuCommand(kExportItem);
  EXPECT_EQ(VTAutomationNavLastShown().name, "victim 2.mov");
  EXPECT_TRUE(std::filesystem::exists(tempDir_ + "/victim 2.mov"));
  // Its own name typed and Replace confirmed: refused, and the user is told.
  int warnings = 0;
  OnModalTurn([&](long) {
    if (!VTAutomationHasFrontDialog()) return;
    ++warnings;
    VTAutomationPostKey((char)kReturnCharCode);
  });
  VTAutomationNavSaveAs(tempDir_, "victim.mov", true, 1);
  QTFrame_HandleMenuCommand(kExportItem);
  VTAutomationSetModalHook(nullptr);
  EXPECT_GE(warnings, 1);
  EXPECT_EQ(vt_test::readFile(victim), before);
}

// A reference effect movie has the committed atom tree and description, atom for atom: a change
// in what the writer puts where fails here. Only the output's path is left out (SELF); the file
// holds dates, but movie-info does not print them.
TEST_F(AppTest, MadeEffectMovieKeepsTheCommittedAtomLayout) {
  const std::string raw = " -t 0.4 -c:v rawvideo -pix_fmt rgb24 -fflags +bitexact -flags +bitexact";
  const std::string a = vt_test::fixture("golden_a.mov",
                                         "-f lavfi -i testsrc=size=32x24:rate=10" + raw),
                    b = vt_test::fixture("golden_b.mov",
                                         "-f lavfi -i smptebars=size=32x24:rate=10" + raw),
                    out = tempDir_ + "/golden.mov";
  std::string log;
  ASSERT_EQ(Make("--effect dslv --copy '" + a + "' '" + b + "' -o '" + out + "'", &log), 0) << log;
  const std::string json = structure(out, " --atoms");
  const std::string golden = std::string(VT_SOURCE_DIR) + "/tests/app/golden_effect_movie.json";
  EXPECT_EQ(json, vt_test::readFile(golden))
      << "new layout in " << vt_test::writeFile(tempDir_ + "/layout.json", json)
      << "; if meant, copy it to " << golden;
}

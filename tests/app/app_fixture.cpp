#include "app_fixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "core/pstring.h"
#include "fixtures.h"

PStr::PStr(const std::string& text) { vt::toPascal(text, s); }

std::string ToString(ConstStr255Param s) { return vt::fromPascal(s); }

std::string Title(WindowReference w) {
  Str255 title;
  GetWTitle(w, title);
  return ToString(title);
}

WindowObjectRecord& Record(WindowReference w) {
  static WindowObjectRecord none;
  WindowObject o = QTFrame_GetWindowObjectFromWindow(w);
  EXPECT_NE(o, nullptr) << "not a movie window";
  return o ? **o : none;
}

Point Centre(const Rect& r) {
  return Point{(short)((r.top + r.bottom) / 2), (short)((r.left + r.right) / 2)};
}

GrafPtr CurrentPort() {
  GrafPtr port = nullptr;
  GetPort(&port);
  return port;
}

EventRecord MakeEvent(EventKind what, unsigned long message, EventModifiers modifiers,
                      Point where) {
  return EventRecord{what, message, 0, where, modifiers};
}

bool UpdatePending(WindowReference w) {
  EventRecord next;
  bool pending = false;
  for (int i = 0; i < 8 && GetNextEvent(updateMask, &next); ++i)
    pending |= next.what == updateEvt && next.message == (unsigned long)w;
  return pending;
}

void AppTest::SetUp() {
  VTAutomationUseHeadless();
  VTAutomationResetAll();
  VTAutomationNavSetTurnLimit(500);
  VTSetAutoOpenApplicationResources(false);
  gAppResFile = VTOpenResourceFile(VT_SOURCE_DIR "/Application Files/Vantrel.rsrc.json");
  ASSERT_NE(gAppResFile, -1) << "the application's resource file did not open";
  GetIndString(gAppName, kAppNameResID, kAppNameResIndex);
  ASSERT_EQ(EnterMovies(), noErr);
  // The shell's globals as start-up leaves them (the file type list is released at TearDown).
  gShuttingDown = false;
  gAppInForeground = true;
  gModalFilterUPP = NewModalFilterUPP(QTFrame_StandardModalDialogEventFilter);
  gUserItemProcUPP = NewUserItemUPP(QTFrame_StandardUserItemProcedure);
  gEffectsDialog = 0;
  gCopyMovieMedia = false;
  gExportFormat = 0;
  tempDir_ = vt_test::tempDir("app");
}

void AppTest::TearDown() {
  VTAutomationSetModalHook(nullptr);
  // Close what the test left open without asking, so records and movies are released.
  for (int i = 0; i < 100 && QTFrame_GetFrontMovieWindow(); ++i) {
    Record(QTFrame_GetFrontMovieWindow()).fIsDirty = false;
    QTFrame_DestroyMovieWindow(QTFrame_GetFrontMovieWindow());
  }
  if (gValidFileTypes != NULL) DisposePtr((Ptr)gValidFileTypes);
  gValidFileTypes = NULL;
  VTAutomationResetAll();
}

WindowReference AppTest::OpenMovieWindow(const std::string& name, bool dirty) {
  Movie m = NewMovie(newMovieActive);
  EXPECT_NE(m, nullptr);
  FSSpec spec;
  VTMakeFSSpecFromPath((tempDir_ + "/" + name).c_str(), &spec);
  EXPECT_TRUE(QTFrame_OpenMovieInWindow(m, &spec));
  WindowReference w = QTFrame_GetFrontMovieWindow();
  // An empty movie gives the window no height; give it a content area to click in.
  if (w != NULL) SizeWindow(w, 160, 120, true);
  if (w != NULL && dirty) Record(w).fIsDirty = true;
  return w;
}

WindowReference AppTest::OpenMovieFile(const std::string& path) {
  FSSpec spec;
  EXPECT_EQ(VTMakeFSSpecFromPath(path.c_str(), &spec), noErr) << path;
  EXPECT_TRUE(QTFrame_OpenMovieInWindow(NULL, &spec)) << path;
  return QTFrame_GetFrontMovieWindow();
}

WindowReference AppTest::OpenForeignWindow() {
  Rect r = {100, 100, 200, 300};
  WindowReference w =
      NewCWindow(NULL, &r, PStr("Other"), true, noGrowDocProc, (WindowPtr)-1L, true, 0);
  EXPECT_NE(w, nullptr);
  return w;
}

void AppTest::InstallMenuBar() {
  Handle bar = GetNewMBar(kMenuBarResID);
  ASSERT_NE(bar, nullptr);
  SetMenuBar(bar);
  DisposeHandle(bar);
  DrawMenuBar();
}

void AppTest::OnModalTurn(std::function<void(long)> act, long limit) {
  auto turn = std::make_shared<long>(0);
  VTAutomationSetModalHook([act, limit, turn]() {
    long t = ++*turn;
    if (t == limit) ADD_FAILURE() << "a modal loop ran " << limit << " turns without ending";
    if (t > limit) return;
    act(t);
  });
}

VTMenuItemInfo AppTest::Item(short menuID, short item) {
  for (const auto& m : VTAutomationMenuBar())
    if (m.id == menuID && item >= 1 && item <= (short)m.items.size()) return m.items[item - 1];
  ADD_FAILURE() << "no item " << item << " in menu " << menuID;
  return VTMenuItemInfo{};
}

int AppTest::WindowCount() { return (int)VTAutomationListWindows().size(); }

VTWindowInfo InfoOf(WindowReference w) {
  for (const auto& i : VTAutomationListWindows())
    if (i.window == w) return i;
  ADD_FAILURE() << "window not listed";
  return VTWindowInfo{};
}

Point AppTest::TitleBarPoint(WindowReference w) {
  VTWindowInfo i = InfoOf(w);
  return Point{(short)((i.structure.top + i.content.top) / 2),
               (short)((i.structure.left + i.structure.right) / 2)};
}

Point AppTest::CloseBoxPoint(WindowReference w) {
  // Walk along the title bar until FindWindow answers inGoAway.
  Point p = TitleBarPoint(w);
  for (p.h = InfoOf(w).structure.left; p.h < InfoOf(w).structure.right; ++p.h) {
    WindowPtr found = nullptr;
    if (FindWindow(p, &found) == inGoAway && found == w) return p;
  }
  ADD_FAILURE() << "no close box found";
  return p;
}

std::string Tool(const std::string& name) {
  return "'" VT_BINARY_DIR "/tools/" + name + "/" + name + "'";
}

std::string Probe(const std::string& file, const std::string& query) {
  std::string out;
  EXPECT_EQ(vt_test::run("ffprobe -v error " + query + " -of csv=p=0 '" + file + "'", &out), 0);
  return out;
}

vt::Image FrameOf(const std::string& movie, const std::string& png, const std::string& seconds,
                  const std::string& env) {
  EXPECT_EQ(vt_test::run(env + Tool("movie-frame") + " '" + movie + "' --time " + seconds +
                         " -o '" + png + "' 2>/dev/null"),
            0)
      << movie << " at " << seconds;
  vt::Image img;
  EXPECT_TRUE(vt::readPNG(png.c_str(), img)) << png;
  return img;
}

ChildRun InChild(std::function<void(int fd)> body, int seconds) {
  ChildRun run;
  int fds[2];
  if (pipe(fds) != 0) return run;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    alarm(seconds);  // a loop that never ends kills the child instead of hanging the test
    body(fds[1]);
    _exit(4);
  }
  close(fds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) run.report.append(buf, (size_t)n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return run;
}

// The child's report travels through this pipe.
static int gReportFd = -1;
static std::function<std::string()> gReport;

ChildRun RunApplication(std::function<void()> prepare, std::function<std::string()> report) {
  return InChild([&](int fd) {
    gReportFd = fd;
    gReport = report;
    prepare();
    VTSetExitHook([] {
      std::string text = gReport();
      _exit(write(gReportFd, text.data(), text.size()) < 0 ? 3 : 0);
    });
    VTApp_Main();  // never returns
  });
}

#include "app_fixture.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "fixtures.h"

PStr::PStr(const std::string& text) {
  size_t n = text.size() > 255 ? 255 : text.size();
  s[0] = (unsigned char)n;
  memcpy(s + 1, text.data(), n);
}

std::string ToString(ConstStr255Param s) {
  if (s == nullptr) return "";
  return std::string((const char*)s + 1, s[0]);
}

static void ResetApplicationGlobals() {
  gShuttingDown = false;
  gAppInForeground = true;
  if (gValidFileTypes != NULL) DisposePtr((Ptr)gValidFileTypes);
  gValidFileTypes = NULL;
  gModalFilterUPP = NewModalFilterUPP(QTFrame_StandardModalDialogEventFilter);
  gUserItemProcUPP = NewUserItemUPP(QTFrame_StandardUserItemProcedure);
  gEffectsDialog = 0;
  gCopyMovieMedia = false;
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
  ResetApplicationGlobals();
  tempDir_ = vt_test::tempDir("app");
}

void AppTest::TearDown() {
  VTAutomationSetModalHook(nullptr);
  // Close what the test left open without asking, so records and movies are released.
  WindowReference w = QTFrame_GetFrontMovieWindow();
  while (w != NULL) {
    WindowReference next = QTFrame_GetNextMovieWindow(w);
    WindowObject o = QTFrame_GetWindowObjectFromWindow(w);
    if (o != NULL) (**o).fIsDirty = false;
    QTFrame_DestroyMovieWindow(w);
    w = next;
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
  if (w != NULL && dirty) (**QTFrame_GetWindowObjectFromWindow(w)).fIsDirty = true;
  return w;
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

static const VTMenuItemInfo* FindItem(const std::vector<VTMenuInfo>& bar, short menuID,
                                      short item) {
  for (const auto& m : bar)
    if (m.id == menuID && item >= 1 && item <= (short)m.items.size()) return &m.items[item - 1];
  return nullptr;
}

bool AppTest::ItemEnabled(short menuID, short item) {
  auto bar = VTAutomationMenuBar();
  const VTMenuItemInfo* i = FindItem(bar, menuID, item);
  EXPECT_NE(i, nullptr) << "menu " << menuID << " item " << item;
  return i != nullptr && i->enabled;
}

bool AppTest::ItemChecked(short menuID, short item) {
  auto bar = VTAutomationMenuBar();
  const VTMenuItemInfo* i = FindItem(bar, menuID, item);
  EXPECT_NE(i, nullptr) << "menu " << menuID << " item " << item;
  return i != nullptr && i->checked;
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
  Point p;
  p.v = (short)((i.structure.top + i.content.top) / 2);
  p.h = (short)((i.structure.left + i.structure.right) / 2);
  return p;
}

Point AppTest::CloseBoxPoint(WindowReference w) {
  // The close box sits at the left end of the title bar; FindWindow says where exactly, so
  // walk along the bar until it answers inGoAway.
  VTWindowInfo i = InfoOf(w);
  Point p;
  p.v = (short)((i.structure.top + i.content.top) / 2);
  for (short h = i.structure.left; h < i.structure.right; ++h) {
    p.h = h;
    WindowPtr found = nullptr;
    if (FindWindow(p, &found) == inGoAway && found == w) return p;
  }
  ADD_FAILURE() << "no close box found";
  return p;
}

Point AppTest::ContentPoint(WindowReference w) {
  VTWindowInfo i = InfoOf(w);
  Point p;
  p.v = (short)((i.content.top + i.content.bottom) / 2);
  p.h = (short)((i.content.left + i.content.right) / 2);
  return p;
}

// The child's report travels through this pipe.
static int gReportFd = -1;
static std::function<std::string()> gReport;

static void ReportAndLeave() {
  std::string text = gReport ? gReport() : "";
  if (write(gReportFd, text.data(), text.size()) < 0) _exit(3);
  _exit(0);
}

MainRun RunApplication(std::function<void()> prepare, std::function<std::string()> report,
                       int seconds) {
  MainRun run;
  int fds[2];
  if (pipe(fds) != 0) return run;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    alarm(seconds);  // a loop that never ends kills the child instead of hanging the test
    gReportFd = fds[1];
    gReport = report;
    prepare();
    VTSetExitHook(ReportAndLeave);
    VTApp_Main();
    _exit(4);  // VTApp_Main never returns
  }
  close(fds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) run.report.append(buf, (size_t)n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exited = WIFEXITED(status);
  run.status = run.exited ? WEXITSTATUS(status) : -WTERMSIG(status);
  return run;
}

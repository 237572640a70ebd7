// The application's in-process tests: a headless screen, its resources, helpers to act.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ComApplication.h"
#include "ComFramework.h"
#include "ComResource.h"
#include "MacFramework.h"
#include "VTAutomation.h"
#include "VTAutomationNav.h"
#include "VTAutomationUI.h"
#include "VTAutomationEffects.h"
#include "Vantrel.h"
#include "core/image.h"

// A length-prefixed copy of a C string.
struct PStr {
  Str255 s;
  explicit PStr(const std::string& text);
  operator StringPtr() { return s; }
};

std::string ToString(ConstStr255Param s);
std::string Title(WindowReference w);
// The platform's listing of window `w` (fails the test when it is not listed).
VTWindowInfo InfoOf(WindowReference w);
// The framework's record of movie window `w`.
WindowObjectRecord& Record(WindowReference w);
Point Centre(const Rect& r);
GrafPtr CurrentPort();
// Whether the queue still holds an update event for `w` (taking the update events it finds).
bool UpdatePending(WindowReference w);
EventRecord MakeEvent(EventKind what, unsigned long message = 0, EventModifiers modifiers = 0,
                      Point where = {});

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new movie window showing an empty movie, titled `name`, as File New makes them.
  WindowReference OpenMovieWindow(const std::string& name, bool dirty = false);
  // Opens the movie file at `path` in a new window, as File Open does; the window or null.
  WindowReference OpenMovieFile(const std::string& path);
  // A plain application window (kind 8) with no window object, in front.
  WindowReference OpenForeignWindow();
  // Installs menu bar 128 as start-up does, without removing any item.
  void InstallMenuBar();
  // Runs `act` on every modal turn; after `limit` turns fails the test (a loop without end).
  void OnModalTurn(std::function<void(long turn)> act, long limit = 400);

  // An item of menu `menuID`, from the platform's own view of the bar.
  VTMenuItemInfo Item(short menuID, short item);

  int WindowCount();
  // Global point in the middle of the title bar, and on the close box.
  Point TitleBarPoint(WindowReference w);
  Point CloseBoxPoint(WindowReference w);

  std::string tempDir_;
};

// What a forked child process did: how it ended and what it wrote back.
struct ChildRun {
  int status = -1;  // the exit status, or minus the signal that ended it
  std::string report;
};
// The quoted path of the build's tool `name`, ready for a shell command.
std::string Tool(const std::string& name);
// What ffprobe says of `file` for `query` (e.g. "-show_entries stream=codec_name"), as CSV.
std::string Probe(const std::string& file, const std::string& query);
// The frame movie-frame draws from `movie` at `seconds` into `png`, with `env` before the command.
vt::Image FrameOf(const std::string& movie, const std::string& png,
                  const std::string& seconds = "0", const std::string& env = "");
// The command of Export Movie… as the menu bar delivers it.
const long kExportItem = ((long)kApplicationMenuResID << 16) | (IDM_EXPORT_MOVIE & 0xFF);

// Runs `body` in a forked child that writes its report to `fd` and ends with _exit.
ChildRun InChild(std::function<void(int fd)> body, int seconds = 30);
// Runs VTApp_Main in a child after `prepare`; `report` is what it says at ExitToShell.
ChildRun RunApplication(std::function<void()> prepare, std::function<std::string()> report);

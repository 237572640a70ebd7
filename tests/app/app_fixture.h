// Shared set-up for the application's in-process tests: a headless screen, the application's
// resource file, the shell's globals as start-up leaves them, and helpers to act as the user.
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

// A length-prefixed copy of a C string.
struct PStr {
  Str255 s;
  explicit PStr(const std::string& text);
  operator StringPtr() { return s; }
};

std::string ToString(ConstStr255Param s);
// The platform's listing of window `w` (fails the test when it is not listed).
VTWindowInfo InfoOf(WindowReference w);

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new movie window showing an empty movie, titled `name`, as File New makes them.
  WindowReference OpenMovieWindow(const std::string& name, bool dirty = false);
  // A plain application window (kind 8) with no window object, in front.
  WindowReference OpenForeignWindow();
  // Installs menu bar 128 as start-up does, without removing any item.
  void InstallMenuBar();
  // Runs `act` on every turn of the next modal loops; fails the test and stops acting after
  // `limit` turns so that a loop that never ends is noticed.
  void OnModalTurn(std::function<void(long turn)> act, long limit = 400);

  // State of an item of menu `menuID`, from the platform's own view of the bar.
  bool ItemEnabled(short menuID, short item);
  bool ItemChecked(short menuID, short item);

  int WindowCount();
  // Global point in the middle of the title bar, of the close box, of the content.
  Point TitleBarPoint(WindowReference w);
  Point CloseBoxPoint(WindowReference w);
  Point ContentPoint(WindowReference w);

  std::string tempDir_;
};

// Result of running the whole application (start-up, loop, shutdown) in a child process: what
// the exit hook found when the process ended.
struct MainRun {
  bool exited = false;
  int status = -1;
  std::string report;  // the lines the exit hook wrote
};
// Runs VTApp_Main in a forked child after `prepare`, bounded by `seconds`. When the process
// ends through ExitToShell, `report` is called in the child and its text comes back here.
MainRun RunApplication(std::function<void()> prepare, std::function<std::string()> report,
                       int seconds = 30);

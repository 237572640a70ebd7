// vantrel-snapshot: runs the real application on the headless screen, brings it to a scene and
// writes the screen as PNG. Used for the README's pictures and for looking at the UI without a
// display.
//
//   vantrel-snapshot OUT.png [--scene main|menu|about] [--menu ID] [FILE ...]
//
// Files given are dropped on the application (an open-documents event) before the scene.
#include <AppleEvents.h>
#include <Processes.h>
#include <Resources.h>
#include <VTAutomation.h>
#include <VTAutomationUI.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MacFramework.h"
#include "common/tool_main.h"

namespace {

std::string gOut;
std::string gScene = "main";
short gMenuID = 131;
int gStatus = 1;
long gTurn = 0;
bool gShot = false;

Point centre(const Rect& r) {
  return Point{(short)((r.top + r.bottom) / 2), (short)((r.left + r.right) / 2)};
}

void finish() {
  gShot = true;
  gStatus = VTAutomationSnapshot(gOut) ? 0 : 1;
  if (gStatus) std::fprintf(stderr, "vantrel-snapshot: cannot write %s\n", gOut.c_str());
}

// Acts as the user once per turn of whatever modal loop is running.
void onModalTurn() {
  ++gTurn;
  if (gShot) return;
  Rect r;
  if (gScene == "menu") {
    if (gTurn == 1 && VTAutomationMenuTitleRect(gMenuID, &r)) VTAutomationPostMouseMove(centre(r));
    if (gTurn == 4) {
      finish();
      Rect screen = VTAutomationScreenBounds();
      VTAutomationPostMouseUp(Point{(short)(screen.bottom - 5), (short)(screen.right - 5)});
      VTAEPostQuitApplication();
    }
  } else if (gScene == "about") {
    if (gTurn == 1 && VTAutomationMenuTitleRect(128, &r)) VTAutomationPostMouseMove(centre(r));
    if (gTurn == 3 && VTAutomationMenuItemRect(128, 1, &r)) {
      VTAutomationPostMouseMove(centre(r));
      VTAutomationPostMouseUp(centre(r));
    }
    if (gTurn > 3 && VTAutomationHasFrontDialog()) {
      finish();
      VTAutomationPostKey('\r');
      VTAEPostQuitApplication();
    }
  }
  if (gTurn > 2000) {
    std::fprintf(stderr, "vantrel-snapshot: the scene never came up\n");
    std::exit(1);
  }
}

// The plain scene is taken when the application ends: every event before the quit (documents
// dropped on it, their dialogs' first drawing) has been handled by then.
[[noreturn]] void onExit() {
  if (!gShot && gScene == "main") finish();
  std::fflush(nullptr);
  std::_Exit(gShot ? gStatus : 1);
}

}  // namespace

static int run(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--scene" && i + 1 < argc) {
      gScene = argv[++i];
    } else if (a == "--menu" && i + 1 < argc) {
      gMenuID = (short)std::atoi(argv[++i]);
      gScene = "menu";
    } else if (gOut.empty()) {
      gOut = a;
    } else {
      files.push_back(a);
    }
  }
  if (gOut.empty()) {
    std::fprintf(
        stderr,
        "usage: vantrel-snapshot OUT.png [--scene main|menu|about] [--menu ID] [FILE ...]\n");
    return 2;
  }
  VTAutomationUseHeadless(1280, 800);
  // Installed, the resource file is where the application finds its own; in the build tree
  // (none there), the source's.
  if (VTOpenApplicationResourceFile() < 0 &&
      (ResError() != fnfErr || VTOpenResourceFile(VT_RESOURCE_FILE) < 0)) {
    std::fprintf(stderr, "vantrel-snapshot: cannot open the resource file %s\n", VT_RESOURCE_FILE);
    return 1;
  }
  VTAutomationSetModalHook(onModalTurn);
  VTSetExitHook(onExit);
  // No one answers a warning here (a file that cannot be opened): it is said and dismissed.
  VTAutomationAnswerAlertsWith([](const std::string& line) {
    std::fprintf(stderr, "vantrel-snapshot: %s\n", line.c_str());
  });

  if (!files.empty()) {
    std::vector<const char*> paths;
    for (auto& f : files) paths.push_back(f.c_str());
    VTAEPostOpenDocuments(paths.data(), (long)paths.size());
  }
  if (gScene == "main") {
    VTAEPostQuitApplication();
  } else {
    // A press in the empty right end of the menu bar starts menu tracking, a modal loop in
    // which the scene is set up and photographed.
    Rect screen = VTAutomationScreenBounds();
    VTAutomationPostMouseDown(Point{2, (short)(screen.right - 5)});
  }
  VTApp_Main();
  return gShot ? gStatus : 1;
}

int main(int argc, char** argv) {
  return guardedToolMain("vantrel-snapshot", [&] { return run(argc, argv); });
}

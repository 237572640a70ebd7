// The navigation dialogs on the headless window server, answered through the automation API
// and through real clicks and keys posted from the modal hook.
#include <AppleEvents.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <Navigation.h>
#include <VTAutomation.h>
#include <VTAutomationNav.h>
#include <VTAutomationUI.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/pstring.h"
#include "fixtures.h"
#include "nav/browser.h"

namespace {

// The n-th chosen file of a reply, as a host path ("" when there is none).
std::string chosenPath(NavReplyRecord& reply, long n = 1) {
  FSSpec spec{};
  if (AEGetNthPtr(&reply.selection, n, typeFSS, nullptr, nullptr, &spec, sizeof spec, nullptr))
    return "";
  char buf[4096];
  if (VTFSSpecToPath(&spec, buf, sizeof buf) != noErr) return "";
  return buf;
}

// Copies a small generated movie to `dest`.
void copyMovie(const std::string& dest) {
  std::filesystem::copy_file(
      vt_test::fixture("nav-small.mov", "-f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v mjpeg"),
      dest);
}

// Steps run from the modal hook one after another, each once the input the previous one
// posted has been consumed.
struct Script {
  std::vector<std::function<void()>> steps;
  size_t next = 0;
  void install(std::vector<std::function<void()>> script) {
    steps = std::move(script);
    next = 0;
    VTAutomationSetModalHook([this] {
      if (VTAutomationPendingInput() > 0 || next >= steps.size()) return;
      steps[next++]();
    });
  }
};

// Clicks a listed item (or a button) of the running dialog.
void clickItem(const std::string& name, EventModifiers mods = 0, bool button = false) {
  Rect r{};
  ASSERT_TRUE(button ? VTAutomationNavButtonRect(name, &r) : VTAutomationNavItemRect(name, &r))
      << name;
  VTAutomationPostClick(Point{(short)((r.top + r.bottom) / 2), (short)((r.left + r.right) / 2)},
                        mods);
}

// What the event callback saw.
struct CallbackLog {
  long nulls = 0;
  std::vector<WindowRef> updates;
  long starts = 0, terminates = 0;
};

void logEvent(NavEventCallbackMessage selector, NavCBRecPtr parms, void* ud) {
  auto* log = static_cast<CallbackLog*>(ud);
  if (selector == kNavCBStart) ++log->starts;
  if (selector == kNavCBTerminate) ++log->terminates;
  if (selector != kNavCBEvent) return;
  EventRecord* e = parms->eventData.eventDataParms.event;
  if (e->what == nullEvent) ++log->nulls;
  if (e->what == updateEvt) {
    WindowRef w = (WindowRef)e->message;
    log->updates.push_back(w);
    BeginUpdate(w);
    EndUpdate(w);
  }
}

// The default options, as the application names itself.
NavDialogOptions defaultOptions() {
  NavDialogOptions o;
  EXPECT_EQ(NavGetDefaultDialogOptions(&o), noErr);
  vt::toPascal("Vantrel", o.clientName);
  return o;
}

class NavDialogs : public ::testing::Test {
 protected:
  const std::string dir = vt::nav::normaliseFolder(vt_test::tempDir("nav-dialogs"));
  Script script;

  void SetUp() override {
    VTAutomationUseHeadless(1024, 768);
    VTAutomationResetAll();
    VTAutomationNavSetTurnLimit(5000);  // an unanswered dialog fails the test, never hangs it
    mkdir((dir + "/Clips").c_str(), 0755);
    mkdir((dir + "/archive").c_str(), 0755);
    vt_test::writeFile(dir + "/Clips/inner.mov");
    vt_test::writeFile(dir + "/beta.mov");
    vt_test::writeFile(dir + "/Alpha.mov");
    vt_test::writeFile(dir + "/notes.txt");
    VTAutomationNavSetStartFolder(dir);
  }
  void TearDown() override { VTAutomationResetAll(); }

  // Runs the save-changes dialog; 0 when it fails to run.
  NavAskSaveChangesResult askSaveChanges(
      NavAskSaveChangesAction action = kNavSaveChangesClosingDocument, CallbackLog* log = nullptr) {
    NavDialogOptions o = defaultOptions();
    vt::toPascal("Clip.mov", o.savedFileName);
    NavAskSaveChangesResult got = 0;
    EXPECT_EQ(NavAskSaveChanges(&o, action, &got, log ? logEvent : nullptr, log), noErr);
    return got;
  }

  OSErr openDialog(NavReplyRecord& reply, NavTypeListHandle types = nullptr) {
    NavDialogOptions o = defaultOptions();
    o.dialogOptionFlags &= ~(kNavAllowMultipleFiles | kNavNoTypePopup);
    return NavGetFile(nullptr, &reply, &o, nullptr, nullptr, nullptr, types, nullptr);
  }

  OSErr saveDialog(NavReplyRecord& reply, const std::string& proposed = "untitled.mov") {
    NavDialogOptions o = defaultOptions();
    o.dialogOptionFlags |= kNavNoTypePopup | kNavDontAutoTranslate;
    vt::toPascal(proposed, o.savedFileName);
    vt::toPascal("Save Movie as:", o.message);
    return NavPutFile(nullptr, &reply, &o, nullptr, 'MooV', 'TVOD', nullptr);
  }
};

}  // namespace

TEST_F(NavDialogs, SaveChangesAnswersAndWindowsBehindGetUpdatesButNoClicks) {
  const NavAskSaveChangesResult answers[] = {kNavAskSaveChangesSave, kNavAskSaveChangesDontSave,
                                             kNavAskSaveChangesCancel};
  for (NavAskSaveChangesResult want : answers) {
    VTAutomationNavAnswerSaveChanges(want);
    EXPECT_EQ(askSaveChanges(), want);
    EXPECT_TRUE(VTAutomationListWindows().empty());  // the dialog is gone
  }
  EXPECT_EQ(VTAutomationNavDialogCount(), 3);
  // Unanswered, it gives up as Cancel: it never loses the document.
  VTAutomationNavSetTurnLimit(20);
  EXPECT_EQ(askSaveChanges(kNavSaveChangesQuittingApplication), kNavAskSaveChangesCancel);

  // Missing arguments are refused without a dialog.
  NavDialogOptions o = defaultOptions();
  NavAskSaveChangesResult got = 0;
  EXPECT_EQ(NavAskSaveChanges(nullptr, kNavSaveChangesClosingDocument, &got, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(NavAskSaveChanges(&o, kNavSaveChangesClosingDocument, nullptr, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(VTAutomationNavDialogCount(), 4);  // none shown for them
  EXPECT_EQ(NavGetDefaultDialogOptions(nullptr), paramErr);
  EXPECT_EQ(NavDisposeReply(nullptr), paramErr);
  EXPECT_EQ(NavGetFile(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            paramErr);

  // Windows behind the dialog get their updates through the callback but never a click.
  VTAutomationNavSetTurnLimit(5000);
  Rect bounds{60, 20, 300, 400};
  WindowRef doc = NewCWindow(nullptr, &bounds, nullptr, true, 4, (WindowRef)-1, true, 0);
  ASSERT_NE(doc, nullptr);
  VTAutomationResetBeepCount();
  // After a few null events the window behind is clicked and invalidated; once its update has
  // reached the callback, Escape.
  int phase = 0;
  WindowRef front = nullptr;
  VTAutomationSetModalHook([&] {
    VTNavDialogInfo info;
    if (!VTAutomationNavCurrent(&info)) return;
    if (phase == 0 && info.nullsPassed >= 2) {
      Rect r{0, 0, 40, 40};
      InvalWindowRect(doc, &r);
      VTAutomationPostClick(Point{100, 30});
      phase = 1;
    } else if (phase == 1 && info.updatesPassed > 0 && info.nullsPassed >= 4) {
      front = FrontWindow();
      VTAutomationPostKey(kEscapeCharCode);
      phase = 2;
    }
  });
  CallbackLog log;
  EXPECT_EQ(askSaveChanges(kNavSaveChangesClosingDocument, &log), kNavAskSaveChangesCancel);
  EXPECT_GT(log.nulls, 0);
  ASSERT_FALSE(log.updates.empty());
  for (WindowRef w : log.updates) EXPECT_EQ(w, doc);  // never the dialog's own window
  EXPECT_EQ(log.starts, 1);
  EXPECT_EQ(log.terminates, 1);
  EXPECT_NE(front, doc);  // the click did not bring it forward
  EXPECT_EQ(VTAutomationBeepCount(), 1);
  EXPECT_EQ(FrontWindow(), doc);  // and it is the front window again once the dialog is gone
  DisposeWindow(doc);
}

TEST_F(NavDialogs, OpenReturnsTheChosenFilesAsFSSpecsOrCancelsAndPreviewsMovies) {
  VTAutomationNavChooseFile(dir + "/beta.mov");
  NavReplyRecord reply;
  ASSERT_EQ(openDialog(reply), noErr);
  ASSERT_TRUE(reply.validRecord);
  long count = 0;
  ASSERT_EQ(AECountItems(&reply.selection, &count), noErr);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(chosenPath(reply), dir + "/beta.mov");
  EXPECT_FALSE(reply.replacing);
  EXPECT_EQ(NavDisposeReply(&reply), noErr);
  EXPECT_FALSE(reply.validRecord);
  EXPECT_EQ(NavDisposeReply(&reply), noErr);  // twice is harmless
  VTNavDialogInfo info = VTAutomationNavLastShown();
  EXPECT_EQ(info.folder, dir);

  // Cancelled: no reply.
  VTAutomationNavCancelOpen();
  EXPECT_EQ(openDialog(reply), userCanceledErr);
  EXPECT_FALSE(reply.validRecord);
  EXPECT_EQ(NavDisposeReply(&reply), noErr);
  // And by the Escape key.
  script.install({[] { VTAutomationPostKey(kEscapeCharCode); }});
  EXPECT_EQ(openDialog(reply), userCanceledErr);

  // Several files when the options allow it.
  script.install({[] { clickItem("Alpha.mov"); }, [] { clickItem("notes.txt", cmdKey); },
                  [] { clickItem("Open", 0, true); }});
  NavDialogOptions o = defaultOptions();
  ASSERT_TRUE(o.dialogOptionFlags & kNavAllowMultipleFiles);
  ASSERT_EQ(NavGetFile(nullptr, &reply, &o, nullptr, nullptr, nullptr, nullptr, nullptr), noErr);
  ASSERT_EQ(AECountItems(&reply.selection, &count), noErr);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(chosenPath(reply), dir + "/Alpha.mov");
  EXPECT_EQ(chosenPath(reply, 2), dir + "/notes.txt");
  NavDisposeReply(&reply);

  // The preview shows the selected movie's poster.
  copyMovie(dir + "/real.mov");
  std::vector<bool> seen;
  auto record = [&] {
    VTNavDialogInfo now;
    ASSERT_TRUE(VTAutomationNavCurrent(&now));
    seen.push_back(now.previewShown);
  };
  auto escape = [] { VTAutomationPostKey(kEscapeCharCode); };
  script.install({[] { clickItem("real.mov"); }, [&] { record(), clickItem("notes.txt"); },
                  [&] { record(), escape(); }});
  EXPECT_EQ(openDialog(reply), userCanceledErr);
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));

  // Without previews allowed there is no preview at all.
  script.install({[] { clickItem("real.mov"); }, [&] { record(), escape(); }});
  o.dialogOptionFlags &= ~kNavAllowPreviews;
  EXPECT_EQ(NavGetFile(nullptr, &reply, &o, nullptr, nullptr, nullptr, nullptr, nullptr),
            userCanceledErr);
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_FALSE(seen.back());
}

namespace {
struct FilterLog {
  int calls = 0, folders = 0;
};
FilterLog* gFilterLog = nullptr;

// Shows folders and files whose name does not contain "notes".
Boolean nameFilter(AEDesc* item, void* info, void* ud, NavFilterModes mode) {
  EXPECT_EQ(ud, gFilterLog);
  EXPECT_EQ(mode, kNavFilteringBrowserList);
  EXPECT_EQ(item->descriptorType, typeFSS);
  EXPECT_GE(AEGetDescDataSize(item), 70);
  FSSpec spec{};
  AEGetDescData(item, &spec, sizeof spec);
  bool folder = static_cast<NavFileOrFolderInfo*>(info)->isFolder;
  ++gFilterLog->calls;
  gFilterLog->folders += folder;
  return folder || vt::fromPascal(spec.name).find("notes") == std::string::npos;
}
}  // namespace

TEST_F(NavDialogs, FilterAndTypeListChooseWhatIsListed) {
  FilterLog log;
  gFilterLog = &log;
  VTAutomationNavChooseFile(dir + "/Alpha.mov");
  NavReplyRecord reply;
  NavObjectFilterUPP filter = NewNavObjectFilterUPP(nameFilter);
  NavDialogOptions o = defaultOptions();
  ASSERT_EQ(NavGetFile(nullptr, &reply, &o, nullptr, nullptr, filter, nullptr, &log), noErr);
  NavDisposeReply(&reply);
  EXPECT_EQ(log.calls, 5);
  EXPECT_EQ(log.folders, 2);
  VTNavDialogInfo info = VTAutomationNavLastShown();
  EXPECT_EQ(info.items, (std::vector<std::string>{"archive", "Clips", "Alpha.mov", "beta.mov"}));
  EXPECT_EQ(info.itemIsFolder, (std::vector<bool>{true, true, false, false}));

  // A file the filter hides cannot be chosen.
  VTAutomationNavChooseFile(dir + "/notes.txt");
  EXPECT_EQ(NavGetFile(nullptr, &reply, &o, nullptr, nullptr, filter, nullptr, &log),
            userCanceledErr);
  DisposeNavObjectFilterUPP(filter);
  EXPECT_NE(VTAutomationNavLastError().find("not listed"), std::string::npos);
  gFilterLog = nullptr;

  // A real movie with a text-file name and a text file with a movie name.
  std::string typed = dir + "/typed";
  mkdir(typed.c_str(), 0755);
  copyMovie(typed + "/clip.txt");
  vt_test::writeFile(typed + "/fake.mov", "just some words, not a movie");
  mkdir((typed + "/sub").c_str(), 0755);
  NavTypeListHandle types = (NavTypeListHandle)NewHandleClear(sizeof(NavTypeList));
  (*types)->componentSignature = 'QTsh';
  (*types)->osType[0] = 'MooV';
  VTAutomationNavSetStartFolder(typed);
  for (int count : {1, 3000}) {  // a count larger than the handle holds is not read past it
    (*types)->osTypeCount = (short)count;
    VTAutomationNavCancelOpen();
    EXPECT_EQ(openDialog(reply, types), userCanceledErr);
    EXPECT_EQ(VTAutomationNavLastShown().items, (std::vector<std::string>{"sub", "clip.txt"}));
  }
  DisposeHandle((Handle)types);
}

TEST_F(NavDialogs, SaveRepliesAndTheStartingFolder) {
  // A name longer than an FSSpec holds comes back whole.
  const std::string name = std::string(80, 'e') + " long clip name.mov";
  VTAutomationNavSaveAs(dir + "/Clips", name);
  NavReplyRecord reply;
  ASSERT_EQ(saveDialog(reply), noErr);
  ASSERT_TRUE(reply.validRecord);
  EXPECT_FALSE(reply.replacing);
  EXPECT_EQ(chosenPath(reply), dir + "/Clips/" + name);
  EXPECT_FALSE(std::filesystem::exists(dir + "/Clips/" + name));
  NavDisposeReply(&reply);
  VTNavDialogInfo info = VTAutomationNavLastShown();
  EXPECT_EQ(info.proposedName, "untitled.mov");
  EXPECT_EQ(info.message, "Save Movie as:");
  EXPECT_EQ(info.clientName, "Vantrel");

  // Over an existing file: asked, and the reply says it replaces (the file stays: the caller
  // deletes it); or the question declined and another name chosen.
  for (bool replace : {true, false}) {
    VTAutomationNavSaveAs(dir, "beta.mov", replace);
    if (!replace) VTAutomationNavSaveAs(dir, "gamma.mov");
    ASSERT_EQ(saveDialog(reply), noErr);
    EXPECT_EQ(reply.replacing, replace);
    EXPECT_EQ(chosenPath(reply), dir + (replace ? "/beta.mov" : "/gamma.mov"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/beta.mov"));
    NavDisposeReply(&reply);
  }

  // Declining with nothing else to do cancels the dialog.
  VTAutomationNavSaveAs(dir, "beta.mov", false);
  EXPECT_EQ(saveDialog(reply), userCanceledErr);
  EXPECT_FALSE(reply.validRecord);
  VTAutomationNavCancelSave();
  EXPECT_EQ(saveDialog(reply), userCanceledErr);

  VTAutomationNavSetStartFolder("");
  // A folder as the location starts there, a file starts in its folder.
  for (bool open : {true, false}) {
    FSSpec spec{};
    std::string path = dir + (open ? "/Clips" : "/Clips/inner.mov");
    ASSERT_EQ(VTMakeFSSpecFromPath(path.c_str(), &spec), noErr);
    AEDesc where;
    ASSERT_EQ(AECreateDesc(typeFSS, &spec, sizeof spec, &where), noErr);
    if (open)
      VTAutomationNavCancelOpen();
    else
      VTAutomationNavCancelSave();
    EXPECT_EQ(open
                  ? NavGetFile(&where, &reply, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
                  : NavPutFile(&where, &reply, nullptr, nullptr, 'MooV', 'TVOD', nullptr),
              userCanceledErr);
    EXPECT_EQ(VTAutomationNavLastShown().folder, dir + "/Clips");
    AEDisposeDesc(&where);
  }
  // Without a location the next dialog starts in the folder of the last chosen file.
  VTAutomationNavChooseFile(dir + "/beta.mov");
  ASSERT_EQ(openDialog(reply), noErr);
  NavDisposeReply(&reply);
  VTAutomationNavCancelSave();
  EXPECT_EQ(saveDialog(reply), userCanceledErr);
  EXPECT_EQ(VTAutomationNavLastShown().folder, dir);
}

#include <Events.h>
#include <MacErrors.h>
#include <MacMemory.h>
#include <Menus.h>
#include <Resources.h>
#include <VTAutomation.h>
#include <VTAutomationUI.h>

#include "appleevents/ae_queue.h"
#include "events/event_queue.h"
#include "fixtures.h"
#include "menus/menu_manager.h"
#include "resources/resource_manager.h"
#include "ui/window_server.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string kAppFile = std::string(VT_SOURCE_DIR) + "/Application Files/Vantrel.rsrc.json";

std::string itemText(MenuRef m, short item) {
  Str255 s;
  GetMenuItemText(m, item, s);
  return std::string((const char*)s + 1, s[0]);
}

// A length-prefixed copy of `text`, for the call it is built in.
struct P {
  Str255 s;
  explicit P(const char* text) : s{(unsigned char)strlen(text)} { memcpy(s + 1, text, s[0]); }
  operator ConstStr255Param() const { return s; }
};

Point centre(const Rect& r) {
  return Point{(short)((r.top + r.bottom) / 2), (short)((r.left + r.right) / 2)};
}
// Where a menu's title (item 0), or one of its items when open, is on the screen.
Rect onScreen(short menu, short item = 0) {
  Rect r{};
  EXPECT_TRUE(item ? VTAutomationMenuItemRect(menu, item, &r) : VTAutomationMenuTitleRect(menu, &r))
      << menu << "/" << item;
  return r;
}

bool quitPosted() {
  EventRecord e;
  if (!vt::ae::peekPendingEvent(e)) return false;
  return e.what == kHighLevelEvent && e.message == 'aevt' &&
         (((UInt32)(UInt16)e.where.v << 16) | (UInt16)e.where.h) == 'quit';
}

class Menus : public ::testing::Test {
 protected:
  void SetUp() override {
    VTAutomationUseHeadless(1024, 768);
    VTAutomationResetAll();
    VTSetAutoOpenApplicationResources(false);
    ASSERT_GT(VTOpenResourceFile(kAppFile.c_str()), 0);
  }
  void TearDown() override { VTAutomationResetAll(); }
  // The application's bar, as start-up installs it (File items 7 and 6 removed).
  void installBar(bool removeQuit = true) {
    Handle bar = GetNewMBar(128);
    ASSERT_NE(bar, nullptr);
    SetMenuBar(bar);
    DisposeHandle(bar);
    if (removeQuit) {
      DeleteMenuItem(GetMenuHandle(129), 7);
      DeleteMenuItem(GetMenuHandle(129), 6);
    }
    DrawMenuBar();
  }
  // What the application's loop does with a press in the bar.
  long selectFromQueue() {
    EventRecord e;
    if (!GetNextEvent(mDownMask, &e)) return -1;
    return MenuSelect(e.where);
  }
};

}  // namespace

// Ctrl+Q goes to the application's own Quit while it has one, else to the platform's.
TEST_F(Menus, CommandQIsTheApplicationsQuitWhileItHasOneElseThePlatforms) {
  installBar(false);
  MenuRef file = GetMenuHandle(129);
  ASSERT_EQ(CountMenuItems(file), 7);
  EXPECT_EQ(MenuKey('q'), (129L << 16) | 7);
  EXPECT_FALSE(quitPosted());
  DeleteMenuItem(file, 7);
  EXPECT_EQ(MenuKey('q'), 0);
  EXPECT_TRUE(quitPosted());
}

TEST_F(Menus, DeletingItemsMovesLaterOnesUpWithTheirStateAndKeys) {
  installBar();
  MenuRef file = GetMenuHandle(129);
  ASSERT_EQ(CountMenuItems(file), 5);
  DeleteMenuItem(file, 2);
  EXPECT_EQ(itemText(file, 2), "Close");
  CharParameter key;
  GetItemCmd(file, 2, &key);
  EXPECT_EQ(key, 'W');
  EXPECT_FALSE(IsMenuItemEnabled(file, 2));
  for (short bad : {0, -1, 5, 300}) DeleteMenuItem(file, bad);
  EXPECT_EQ(CountMenuItems(file), 4);
  DeleteMenuItem(nullptr, 1);
  EXPECT_EQ(CountMenuItems(nullptr), 0);
  EXPECT_EQ(itemText(file, 9), "");
}

TEST_F(Menus, AppendMenuMetacharactersMakeItemsAndANewMenuJoinsTheBarOnce) {
  installBar();
  MenuRef m = NewMenu(200, P("Tools"));
  AppendMenu(m, P("First/F;(-;(Second;Third!\x12"));
  ASSERT_EQ(CountMenuItems(m), 4);
  EXPECT_EQ(itemText(m, 1), "First");
  EXPECT_FALSE(IsMenuItemEnabled(m, 2));
  EXPECT_FALSE(IsMenuItemEnabled(m, 3));
  EXPECT_EQ(itemText(m, 3), "Second");
  CharParameter c;
  GetItemMark(m, 4, &c);
  EXPECT_EQ(c, checkMark);
  InsertMenuItem(m, P("Zero"), 0);  // First, with its key, moves to item 2
  InsertMenu(m, 0);
  InsertMenu(m, 0);
  EXPECT_EQ(VTAutomationMenuBar().size(), 5u);
  EXPECT_EQ(MenuKey('f'), (200L << 16) | 2);
  DisposeMenu(m);
  EXPECT_EQ(GetMenuHandle(200), nullptr);
  EXPECT_EQ(CountMenuItems(m), 0);  // a disposed menu is refused, not read
}

TEST_F(Menus, MissingPartialOrUnparsableBarsGiveNoBarAndLeaveNoMenus) {
  EXPECT_EQ(GetNewMBar(999), nullptr);
  EXPECT_EQ(ResError(), resNotFound);
  const std::string dir = vt_test::tempDir("menus");
  std::string partial = vt_test::writeFile(dir + "/partial.json",
                                           R"({"MBAR": [{"id": 128, "menus": [1, 2]}],)"
                                           R"( "MENU": [{"id": 1, "title": "One", "items": []}]})");
  ASSERT_GT(VTOpenResourceFile(partial.c_str()), 0);
  long handles = VTLiveHandleCount();
  EXPECT_EQ(GetNewMBar(128), nullptr);
  EXPECT_EQ(VTLiveHandleCount(), handles);
  const size_t menus = VTAutomationMenuBar().size();
  Handle junk = NewHandleClear(64);
  SetMenuBar(junk);  // not a menu list: ignored
  DisposeHandle(junk);
  EXPECT_EQ(VTAutomationMenuBar().size(), menus);
  VTResetResources();
  std::string bad = vt_test::writeFile(dir + "/bad.json", R"({"MBAR": [{"id": 128, "menus": [1)");
  EXPECT_EQ(VTOpenResourceFile(bad.c_str()), -1);
  EXPECT_EQ(GetNewMBar(128), nullptr);
  EXPECT_EQ(GetMenu(129), nullptr);
}

// A broken application resource file is said once on standard error, with the file and its first
// problem.
TEST_F(Menus, ABrokenApplicationResourceFileIsSaidOnceNamingTheFile) {
  const std::string path = vt_test::tempDir("menus") + "/Vantrel.rsrc.json";
  const std::string good = vt_test::readFile(kAppFile);
  auto edited = [&](const std::string& from, const std::string& to) {
    return std::string(good).replace(good.find(from), from.size(), to);
  };
  for (const std::string& text :
       {good.substr(0, good.size() / 2),             // truncated
        std::string("\x89PNG\r\n\x1a\n\0\xff", 10),  // binary
        std::string(), std::string(vt::resources::kMaxResourceFileBytes + 1, ' '),
        edited("\"defaultItem\": 1", "\"defaultItem\": 999"),
        edited("{ \"id\": 131, \"title\"", "{ \"id\": 132, \"title\""),  // no MENU 131
        edited("{ \"id\": 130, \"title\"", "{ \"id\": 130.5, \"title\"")}) {
    vt_test::writeFile(path, text);
    VTResetResources();
    vt::resources::setApplicationResourcePath(path);
    VTSetAutoOpenApplicationResources(true);
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetNewMBar(128), nullptr);
    EXPECT_EQ(GetNewMBar(128), nullptr);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    size_t at = said.find(path + ": ");
    EXPECT_TRUE(at != std::string::npos && said.size() > at + path.size() + 3) << said;
  }
}

// Enabling, checks, texts and modifiers of items, as the bar shows them, and command keys.
TEST_F(Menus, EnableCheckTextModifiersAndKeys) {
  installBar();
  MenuRef edit = GetMenuHandle(130);
  EXPECT_FALSE(IsMenuItemEnabled(edit, 3));
  EnableMenuItem(edit, 3);
  EXPECT_TRUE(IsMenuItemEnabled(edit, 3));
  // Item 0 is the whole menu: a disabled menu has no enabled items, and keeps their states.
  DisableMenuItem(edit, 0);
  EXPECT_FALSE(IsMenuItemEnabled(edit, 0));
  EXPECT_FALSE(IsMenuItemEnabled(edit, 3));
  EnableMenuItem(edit, 0);
  EXPECT_TRUE(IsMenuItemEnabled(edit, 3));

  UInt8 mods = 0xFF;
  EXPECT_EQ(SetMenuItemModifiers(edit, 3, kMenuShiftModifier | kMenuOptionModifier), noErr);
  DisableMenuItem(edit, 3);
  EnableMenuItem(edit, 3);
  EXPECT_EQ(GetMenuItemModifiers(edit, 3, &mods), noErr);
  EXPECT_EQ(mods, kMenuShiftModifier | kMenuOptionModifier);
  EXPECT_EQ(GetMenuItemModifiers(edit, 0, &mods), paramErr);
  EXPECT_EQ(GetMenuItemModifiers(edit, 10, &mods), paramErr);
  EXPECT_EQ(SetMenuItemModifiers(nullptr, 1, 0), paramErr);

  MenuRef app = GetMenuHandle(131);
  CheckMenuItem(app, 3, true);
  CheckMenuItem(app, 4, false);
  auto bar = VTAutomationMenuBar();
  ASSERT_EQ(bar.size(), 4u);
  // The Apple menu shows the platform's Quit after a separator, not as an item of its own.
  ASSERT_EQ(bar[0].items.size(), 3u);
  EXPECT_FALSE(bar[0].items[0].platformItem);
  EXPECT_TRUE(bar[0].items[1].separator);
  EXPECT_EQ(bar[0].items[2].commandKey, 'Q');
  EXPECT_TRUE(bar[0].items[2].platformItem);
  EXPECT_EQ(CountMenuItems(GetMenuHandle(128)), 1);
  EXPECT_EQ(vt::menus::keyLabel('E', 0), "Ctrl+E");
  EXPECT_EQ(vt::menus::keyLabel('S', kMenuShiftModifier), "Ctrl+Shift+S");
  EXPECT_EQ(vt::menus::keyLabel(0, 0), "");
  EXPECT_TRUE(bar[3].items[2].checked);
  EXPECT_FALSE(bar[3].items[3].checked);

  SetMenuItemText(app, 1, P("Make Another\xC9"));
  EXPECT_EQ(itemText(app, 1), "Make Another\xC9");
  EXPECT_EQ(VTAutomationMenuBar()[3].items[0].text, "Make Another\u2026");
  SetMenuItemText(app, 1, P(""));
  EXPECT_EQ(itemText(app, 1), "");

  // Command keys find only enabled items.
  EXPECT_EQ(MenuKey('n'), (129L << 16) | 1);
  EXPECT_EQ(VTAutomationHilitedMenu(), 129);
  HiliteMenu(0);
  EXPECT_EQ(MenuKey('O'), (129L << 16) | 2);
  EXPECT_EQ(MenuKey('w'), 0);  // Close starts disabled
  EnableMenuItem(GetMenuHandle(129), 3);
  EXPECT_EQ(MenuKey('w'), (129L << 16) | 3);
  EXPECT_EQ(MenuKey('e'), (131L << 16) | 1);
  HiliteMenu(0);
  DisableMenuItem(GetMenuHandle(131), 0);  // the whole menu off
  EXPECT_EQ(MenuKey('e'), 0);
  EXPECT_EQ(MenuKey('k'), 0);
  EXPECT_EQ(MenuKey(0), 0);
  EXPECT_EQ(VTAutomationHilitedMenu(), 0);

  // An item that needs Shift answers only with Shift held, and one that needs no Ctrl never.
  MenuRef file = GetMenuHandle(129);
  SetItemCmd(file, 5, 's');
  SetMenuItemModifiers(file, 5, kMenuShiftModifier);
  EnableMenuItem(file, 5);
  EXPECT_EQ(MenuKey('S'), 0);
  vt::events::setCurrentModifiers(cmdKey | shiftKey);
  EXPECT_EQ(MenuKey('S'), (129L << 16) | 5);
  // Shift with a letter is another shortcut, even when its item is disabled: Ctrl+Shift+S never
  // runs Ctrl+S. With a symbol Shift may be how it is typed.
  SetItemCmd(file, 3, 's');
  SetItemCmd(file, 2, '?');
  DisableMenuItem(file, 5);
  EXPECT_EQ(MenuKey('S'), 0);
  EXPECT_EQ(MenuKey('?'), (129L << 16) | 2);
  vt::events::setCurrentModifiers(cmdKey);
  EXPECT_EQ(MenuKey('S'), (129L << 16) | 3);
  SetMenuItemModifiers(file, 1, kMenuNoCommandModifier);
  EXPECT_EQ(MenuKey('n'), 0);
  EXPECT_FALSE(quitPosted());
}

// MenuSelect follows clicks and keys; a clicked title stays open until the next click.
TEST_F(Menus, MenuSelectFollowsInjectedClicksAndKeys) {
  installBar();
  // Press on File, release on Open.
  ASSERT_TRUE(VTAutomationPostMenuChoice(129, 2));
  long turns = VTAutomationModalTurns();
  EXPECT_EQ(selectFromQueue(), (129L << 16) | 2);
  EXPECT_GT(VTAutomationModalTurns(), turns);
  EXPECT_EQ(VTAutomationHilitedMenu(), 129);
  HiliteMenu(0);

  // Released on a disabled item, on a separator, or away from the menu: nothing.
  ASSERT_TRUE(VTAutomationPostMenuChoice(129, 4));
  EXPECT_EQ(selectFromQueue(), 0);
  ASSERT_TRUE(VTAutomationPostMenuChoice(130, 2));
  EXPECT_EQ(selectFromQueue(), 0);
  VTAutomationPostDrag(centre(onScreen(130)), Point{600, 900});
  EXPECT_EQ(selectFromQueue(), 0);
  EXPECT_EQ(VTAutomationHilitedMenu(), 0);

  // Pressing one title and sliding to another menu's item chooses from that menu.
  VTAutomationPostMouseDown(centre(onScreen(129)));
  VTAutomationPostMouseMove(centre(onScreen(131)));
  vt::events::post(mouseUp, 0, centre(onScreen(131, 1)), 0);  // no move to coalesce with
  EXPECT_EQ(selectFromQueue(), (131L << 16) | 1);

  // The Apple menu's own item is chosen as any other; the platform's Quit posts the quit event.
  ASSERT_TRUE(VTAutomationPostMenuChoice(128, 1));
  EXPECT_EQ(selectFromQueue(), (128L << 16) | 1);
  EXPECT_FALSE(quitPosted());
  ASSERT_TRUE(VTAutomationPostMenuChoice(128, CountMenuItems(GetMenuHandle(128)) + 2));
  EXPECT_EQ(selectFromQueue(), 0);
  EXPECT_TRUE(quitPosted());
  EXPECT_EQ(VTAutomationHilitedMenu(), 0);

  EnableMenuItem(GetMenuHandle(130), 8);
  VTAutomationPostClick(centre(onScreen(130)));
  VTAutomationPostClick(centre(onScreen(130, 8)));
  EXPECT_EQ(selectFromQueue(), (130L << 16) | 8);

  // Down skips disabled items and separators, Right moves on.
  DisableMenuItem(GetMenuHandle(129), 1);
  const Point file = centre(onScreen(129));
  VTAutomationPostClick(file);
  VTAutomationPostKey(kDownArrowCharCode);  // Open (New is disabled)
  VTAutomationPostKey(kReturnCharCode);
  EXPECT_EQ(selectFromQueue(), (129L << 16) | 2);
  HiliteMenu(0);
  VTAutomationPostClick(file);
  VTAutomationPostKey(kRightArrowCharCode);  // Edit
  VTAutomationPostKey(kUpArrowCharCode);     // from the bottom: Select All (Select None is off)
  VTAutomationPostKey(kReturnCharCode);
  EXPECT_EQ(selectFromQueue(), (130L << 16) | 8);
  HiliteMenu(0);

  // Escape closes an open menu: the keys after it choose nothing. A click elsewhere closes it too.
  VTAutomationPostClick(file);
  for (int c : {kEscapeCharCode, kDownArrowCharCode, kReturnCharCode}) VTAutomationPostKey(c);
  EXPECT_EQ(selectFromQueue(), 0);
  vt::events::flush(everyEvent);
  VTAutomationPostClick(file);
  VTAutomationPostClick(Point{500, 500});
  EXPECT_EQ(selectFromQueue(), 0);

  // An open menu greys its disabled items.
  EnableMenuItem(GetMenuHandle(130), 3);  // Cut enabled, Copy disabled
  const Rect cut = onScreen(130, 3), copy = onScreen(130, 4);
  // The darkest pixel of a row of text shows how it was drawn.
  auto darkest = [](const Rect& r) {
    const vt::Image& scr = vt::ui::composeScreen();
    int best = 255;
    for (short v = r.top; v < r.bottom; ++v)
      for (short h = r.left; h < r.left + 60; ++h) {
        UInt32 p = scr.at(h, v);
        best = std::min<int>(best, (int)((p >> 8) & 0xFF));
      }
    return best;
  };
  int cutInk = -1, copyInk = -1;
  VTAutomationPostClick(centre(onScreen(130)));  // opens and stays open
  VTAutomationSetModalHook([&] {
    if (cutInk < 0) {
      cutInk = darkest(cut);
      copyInk = darkest(copy);
      VTAutomationPostKey(kEscapeCharCode);
    }
  });
  EXPECT_EQ(selectFromQueue(), 0);
  VTAutomationSetModalHook(nullptr);
  EXPECT_LT(cutInk, 60);    // black text
  EXPECT_GT(copyInk, 100);  // grey text
  // Closed again: the bar no longer covers the place where the menu was.
  UInt32 after = VTAutomationScreenPixel(cut.left + 30, cut.top + 10);
  EXPECT_NE(after, 0xFFFFFFFFu);
}

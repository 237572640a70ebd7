#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "fake_painter.h"
#include "fixtures.h"
#include "nav/file_dialog.h"
#include "nav/save_changes.h"

using namespace vt::nav;
using vt_test::RecordingPainter;

namespace {

bool pressKey(FileDialog& d, char c, bool command = false, bool shift = false, uint32_t ticks = 0) {
  return d.key(vt::ui::KeyPress::of(c, command, shift, ticks));
}

void clickAt(FileDialog& d, const Rect& r, uint32_t ticks) {
  d.click((r.left + r.right) / 2, (r.top + r.bottom) / 2, ticks);
}

FileDialogConfig saveConfig(const std::string& proposed) {
  FileDialogConfig c;
  c.save = true;
  c.proposedName = proposed;
  return c;
}

// A browser and a dialog on it, shown on the test tree unless told otherwise.
class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir((root + "/Clips").c_str(), 0755);
    vt_test::writeFile(root + "/Clips/inner.mov");
    vt_test::writeFile(root + "/first.mov");
    vt_test::writeFile(root + "/second.mov");
  }
  const std::string root = normaliseFolder(vt_test::tempDir("nav-dialog"));
  Browser b;
  std::optional<FileDialog> dialog;
  FileDialog& show(const FileDialogConfig& c, const std::string& folder = "") {
    dialog.emplace(c, b);
    EXPECT_TRUE(dialog->goToFolder(folder.empty() ? root : folder));
    return *dialog;
  }
  // Clicks the listed row of `name`, with Ctrl or Shift held when asked.
  void clickRow(const std::string& name, uint32_t ticks, bool ctrl = false, bool shift = false) {
    for (size_t i = 0; i < b.entries().size(); ++i) {
      if (b.entries()[i].name != name) continue;
      Rect r = dialog->rowRect((int)i);
      dialog->click(r.left + 30, r.top + 5, ticks, ctrl, shift);
      return;
    }
    ADD_FAILURE() << name << " is not listed";
  }
};
class OpenDialog : public DialogTest {};
class SaveDialog : public DialogTest {};

}  // namespace

TEST_F(OpenDialog, KeysAndClicksWalkTheListEnterFoldersChooseAndCancel) {
  FileDialog& d = show(FileDialogConfig{});
  // The first item is selected on arrival: the folder.
  EXPECT_EQ(b.selectedEntry()->name, "Clips");
  pressKey(d, key::down);
  EXPECT_EQ(b.selectedEntry()->name, "first.mov");
  pressKey(d, key::up);
  pressKey(d, key::ret);  // Return on a folder goes into it
  EXPECT_EQ(d.state(), DialogState::running);
  EXPECT_EQ(b.folder(), root + "/Clips");
  pressKey(d, key::up, true, false, 0);  // Ctrl+Up: back out, the folder stays selected
  EXPECT_EQ(b.folder(), root);
  EXPECT_EQ(b.selectedEntry()->name, "Clips");
  pressKey(d, key::right);  // Right arrow enters too
  EXPECT_EQ(b.folder(), root + "/Clips");
  pressKey(d, key::left);
  EXPECT_EQ(b.folder(), root);
  pressKey(d, 's', false, false, 500);  // typing selects
  EXPECT_EQ(b.selectedEntry()->name, "second.mov");
  pressKey(d, key::enter);
  EXPECT_EQ(d.state(), DialogState::accepted);
  EXPECT_EQ(d.chosenPath(), root + "/second.mov");

  // Escape, Command-period and the Cancel button cancel.
  for (int variant = 0; variant < 3; ++variant) {
    FileDialog& c = show(FileDialogConfig{});
    if (variant == 0) pressKey(c, key::escape);
    if (variant == 1) pressKey(c, '.', true, false, 0);
    if (variant == 2) clickAt(c, c.buttons()[FileDialog::kCancelButton].rect, 0);
    EXPECT_EQ(c.state(), DialogState::cancelled) << variant;
    EXPECT_TRUE(c.chosenPath().empty());
  }

  // Clicks select or clear; double clicks open.
  FileDialog& k = show(FileDialogConfig{});
  // A click below the items clears the selection and disables Open.
  k.click(k.listRect().left + 20, k.listRect().bottom - 5, 0);
  EXPECT_EQ(b.selected(), -1);
  EXPECT_FALSE(k.buttons()[FileDialog::kActionButton].enabled);
  pressKey(k, key::ret);
  EXPECT_EQ(k.state(), DialogState::running);
  EXPECT_GT(k.takeBeeps(), 0);
  clickRow("first.mov", 100);
  EXPECT_EQ(b.selectedEntry()->name, "first.mov");
  // A second click long after is not a double click.
  clickRow("first.mov", 200);
  EXPECT_EQ(k.state(), DialogState::running);
  // Double click on a folder goes in.
  clickRow("Clips", 300);
  clickRow("Clips", 310);
  EXPECT_EQ(b.folder(), root + "/Clips");
  clickRow("inner.mov", 400);
  clickRow("inner.mov", 405);
  EXPECT_EQ(k.state(), DialogState::accepted);
  EXPECT_EQ(k.chosenPath(), root + "/Clips/inner.mov");
}

TEST_F(OpenDialog, PathMenuAndLongListsStayInsideTheDialog) {
  std::string deep = normaliseFolder(vt_test::tempDir("nav-deep"));
  for (int i = 0; i < 30; ++i) {
    deep += "/d" + std::to_string(i);
    mkdir(deep.c_str(), 0755);
  }
  const std::string parent = deep.substr(0, deep.rfind('/'));
  FileDialog& d = show(FileDialogConfig{}, deep);
  clickAt(d, d.pathRect(), 0);
  ASSERT_TRUE(d.pathMenuOpen());
  auto last = [&] { return (int)d.pathMenuItems().size() - 1; };
  ASSERT_GE(last(), 2);
  EXPECT_EQ(d.pathMenuItems()[0], deep);
  EXPECT_EQ(d.pathMenuItems()[1], parent);
  EXPECT_EQ(d.pathMenuItems()[last()], "/");
  EXPECT_LE(d.pathMenuItemRect(last()).bottom, FileDialog::kHeight);
  clickAt(d, d.pathMenuItemRect(1), 0);
  EXPECT_FALSE(d.pathMenuOpen());
  EXPECT_EQ(b.folder(), parent);
  // A click outside the open menu just closes it.
  clickAt(d, d.pathRect(), 0);
  d.click(FileDialog::kWidth - 5, 5, 0);
  EXPECT_FALSE(d.pathMenuOpen());
  EXPECT_EQ(b.folder(), parent);
  clickAt(d, d.pathRect(), 0);
  clickAt(d, d.pathMenuItemRect(last()), 0);
  EXPECT_EQ(b.folder(), "/");

  // A long list scrolls to the selection; its strip pages without moving it.
  std::string d0 = normaliseFolder(vt_test::tempDir("nav-many"));
  for (int i = 0; i < 60; ++i) vt_test::writeFile(d0 + "/file" + std::to_string(100 + i) + ".mov");
  FileDialog& m = show(FileDialogConfig{}, d0);
  Rect l = m.listRect();
  EXPECT_TRUE(m.click(l.right - 3, l.bottom - 4, 0));
  EXPECT_GT(m.scrollTop(), 0);
  EXPECT_EQ(b.selected(), 0);
  EXPECT_TRUE(m.click(l.right - 3, l.top + 3, 0));
  EXPECT_EQ(m.scrollTop(), 0);
  EXPECT_EQ(m.state(), DialogState::running);
  pressKey(m, key::end);
  EXPECT_EQ(b.selected(), 59);
  EXPECT_GE(m.rowRect(59).top, l.top);
  EXPECT_LE(m.rowRect(59).bottom, l.bottom);
  EXPECT_GT(m.scrollTop(), 0);
  pressKey(m, key::home);
  EXPECT_EQ(m.scrollTop(), 0);
}

// Typing over the proposed name replaces the name and keeps its extension.
TEST_F(SaveDialog, TheProposedNameIsSelectedWithoutItsExtension) {
  const struct {
    const char *proposed, *selected, *typed;
  } cases[] = {
      {"untitled.mov", "untitled", "n.mov"},
      {"clip.final.mp4", "clip.final", "n.mp4"},
      {"notes", "notes", "n"},
      {".profile", ".profile", "n"},  // a leading dot starts no extension
      {"\xC3\xA9t\xC3\xA9.mov", "\xC3\xA9t\xC3\xA9", "n.mov"},
      {"", "", "n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.proposed);
    FileDialog& d = show(saveConfig(c.proposed));
    EXPECT_EQ(d.selectedName(), c.selected);
    pressKey(d, 'n');
    EXPECT_EQ(d.name(), c.typed);
  }
}

TEST_F(SaveDialog, NamesTypedOverTheProposedOneTabToTheListAndImpossibleOnesRefused) {
  FileDialog& d = show(saveConfig("untitled.mov"));
  pressKey(d, 'n');
  pressKey(d, '/');  // never part of a name
  EXPECT_EQ(d.name(), "n.mov");
  EXPECT_EQ(d.takeBeeps(), 1);
  pressKey(d, key::tab);  // to the list: letters now select
  pressKey(d, 'c', false, false, 10);
  ASSERT_NE(b.selectedEntry(), nullptr);
  EXPECT_EQ(b.selectedEntry()->name, "Clips");
  EXPECT_EQ(d.name(), "n.mov");
  pressKey(d, key::tab, false, false, 20);  // back to the name: letters type over its stem
  pressKey(d, 'x', false, false, 30);
  EXPECT_EQ(d.name(), "x.mov");
  pressKey(d, key::ret, false, false, 40);
  EXPECT_EQ(d.state(), DialogState::accepted);
  EXPECT_EQ(d.chosenPath(), root + "/x.mov");
  EXPECT_FALSE(d.replacing());

  // Empty, impossible and overlong names are refused.
  FileDialog& e = show(saveConfig("untitled.mov"));
  pressKey(e, key::backspace);
  EXPECT_EQ(e.name(), ".mov");
  e.setName("");
  EXPECT_FALSE(e.buttons()[FileDialog::kActionButton].enabled);
  pressKey(e, key::ret);
  EXPECT_EQ(e.state(), DialogState::running);
  // Names the file system cannot hold are refused too.
  e.setName("..");
  EXPECT_FALSE(e.pressAction());
  EXPECT_EQ(e.state(), DialogState::running);
  // Typed names stop at the file system's limit.
  e.setName("");
  e.takeBeeps();
  for (int i = 0; i < 300; ++i) pressKey(e, 'a');
  EXPECT_EQ(e.name().size(), 255u);
  EXPECT_GT(e.takeBeeps(), 0);
  // A name given whole is cut at a character, never inside one.
  e.setName(std::string(254, 'a') + "\xC3\xA9");
  EXPECT_EQ(e.name(), std::string(254, 'a'));
}

TEST_F(SaveDialog, ExistingNamesFoldersListedFilesFormatsAndPreviews) {
  b.setFilesDisabled(true);
  FileDialog& d = show(saveConfig("first.mov"));
  pressKey(d, key::ret);
  ASSERT_TRUE(d.sheet().active);
  EXPECT_EQ(d.sheet().message, "“first.mov” already exists. Do you want to replace it?");
  // Return answers the safe default, Cancel, as Escape does: back to the dialog.
  for (char answer : {key::ret, key::escape}) {
    pressKey(d, answer);
    EXPECT_FALSE(d.sheet().active) << (int)answer;
    EXPECT_EQ(d.state(), DialogState::running);
    pressKey(d, key::ret);
    ASSERT_TRUE(d.sheet().active);
  }
  // Other keys and clicks outside its buttons do nothing while the question is up.
  pressKey(d, 'x');
  EXPECT_EQ(d.name(), "first.mov");
  clickAt(d, d.buttons()[FileDialog::kCancelButton].rect, 0);
  EXPECT_EQ(d.state(), DialogState::running);
  Rect replace{};
  for (const auto& btn : d.sheet().buttons)
    if (btn.label == "Replace") replace = btn.rect;
  clickAt(d, replace, 0);
  EXPECT_EQ(d.state(), DialogState::accepted);
  EXPECT_TRUE(d.replacing());
  EXPECT_EQ(d.chosenPath(), root + "/first.mov");

  // A folder is never replaced.
  FileDialog& f = show(saveConfig("Clips"));
  pressKey(f, key::ret);
  ASSERT_TRUE(f.sheet().active);
  EXPECT_NE(f.sheet().message.find("is a folder"), std::string::npos);
  EXPECT_EQ(f.sheet().buttons.size(), 1u);
  pressKey(f, key::ret);
  EXPECT_FALSE(f.sheet().active);
  EXPECT_EQ(f.state(), DialogState::running);

  // Without confirmation an existing file is replaced at once.
  FileDialogConfig c = saveConfig("second.mov");
  c.confirmReplace = false;
  FileDialog& d2 = show(c);
  pressKey(d2, key::ret);
  EXPECT_FALSE(d2.sheet().active);
  EXPECT_EQ(d2.state(), DialogState::accepted);
  EXPECT_TRUE(d2.replacing());

  // Listed files lend their name; folders open.
  b.setFilesDisabled(true);
  FileDialog& l = show(saveConfig("untitled.mov"));
  EXPECT_EQ(b.selected(), -1);  // nothing chosen in the list at first
  clickRow("second.mov", 10);
  EXPECT_EQ(l.name(), "second.mov");
  EXPECT_FALSE(b.selectedEntry()->enabled);  // listed dimmed
  clickRow("Clips", 100);
  pressKey(l, key::ret);  // with a folder chosen in the list, Return opens it
  EXPECT_EQ(b.folder(), root + "/Clips");
  EXPECT_EQ(l.state(), DialogState::running);
  clickAt(l, l.nameRect(), 200);  // back to the name field
  pressKey(l, key::ret);
  EXPECT_EQ(l.state(), DialogState::accepted);
  EXPECT_EQ(l.chosenPath(), root + "/Clips/second.mov");

  // The format menu opens inside the dialog and sets the extension, not the name.
  c = saveConfig("clip.mp4");
  c.formats = {{"MPEG-4", "mp4"}, {"QuickTime", "mov"}, {"PNG sequence", ""}};
  FileDialog& g = show(c);
  for (int chosen : {2, 1, 0}) {
    SCOPED_TRACE(chosen);
    clickAt(g, g.formatRect(), 0);
    ASSERT_TRUE(g.formatMenuOpen());
    for (int i = 0; i < 3; ++i) {
      Rect r = g.formatMenuItemRect(i);
      EXPECT_TRUE(r.top >= 0 && r.bottom <= FileDialog::kHeight) << "item " << i << " is cut off";
    }
    clickAt(g, g.formatMenuItemRect(chosen), 0);
    EXPECT_EQ(g.format(), chosen);
    EXPECT_EQ(g.selectedName(), "clip");
  }
  EXPECT_EQ(g.name(), "clip.mp4");

  // In an open dialog the preview follows the selection.
  FileDialogConfig oc;
  oc.previews = true;
  oc.actionLabel = "Choose";
  FileDialog& o = show(oc);
  o.setPreviewMaker([](const std::string& path, vt::Image& img) {
    if (path.find("first") == std::string::npos) return false;
    img = vt::Image(32, 24);
    return true;
  });
  b.selectByName("first.mov");
  pressKey(o, key::up);
  pressKey(o, key::down);  // the preview follows the selection
  for (auto [images, label] : {std::pair{1, "Choose"}, {0, "No preview"}}) {
    RecordingPainter r;
    o.draw(r);
    EXPECT_EQ(r.images, images);
    EXPECT_TRUE(r.drew(label));
    pressKey(o, key::down);
  }
}

TEST(SaveChanges, WordingAndTheThreeAnswersByKeyAndButton) {
  const std::string ask = "Do you want to save the changes you made in the document “";
  EXPECT_EQ(saveChangesMessage("Clip.mov", kNavSaveChangesClosingDocument), ask + "Clip.mov”?");
  EXPECT_EQ(saveChangesMessage("Clip.mov", kNavSaveChangesQuittingApplication),
            ask + "Clip.mov” before quitting?");
  EXPECT_EQ(saveChangesMessage("", kNavSaveChangesClosingDocument), ask + "untitled”?");
  struct Case {
    char c;
    bool cmd;
    NavAskSaveChangesResult want;
  } cases[] = {{key::ret, false, kNavAskSaveChangesSave},
               {key::enter, false, kNavAskSaveChangesSave},
               {key::escape, false, kNavAskSaveChangesCancel},
               {'.', true, kNavAskSaveChangesCancel},
               {'d', true, kNavAskSaveChangesDontSave}};
  for (const auto& k : cases) {
    SaveChangesDialog d("Vantrel", "A", kNavSaveChangesClosingDocument);
    EXPECT_TRUE(d.key(k.c, k.cmd));
    EXPECT_EQ(d.answer(), k.want) << (int)k.c;
  }
  SaveChangesDialog plain("Vantrel", "A", kNavSaveChangesClosingDocument);
  EXPECT_FALSE(plain.key('d', false));  // a plain letter is not Don't Save
  EXPECT_FALSE(plain.done());
  const NavAskSaveChangesResult byButton[] = {kNavAskSaveChangesSave, kNavAskSaveChangesCancel,
                                              kNavAskSaveChangesDontSave};
  for (int i = 0; i < 3; ++i) {
    SaveChangesDialog d("Vantrel", "A", kNavSaveChangesQuittingApplication);
    const Rect& r = d.buttons()[i].rect;
    EXPECT_TRUE(d.click((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    EXPECT_EQ(d.answer(), byButton[i]);
    EXPECT_FALSE(d.click((r.left + r.right) / 2, (r.top + r.bottom) / 2));  // answered once
  }
  SaveChangesDialog d("Vantrel", "A", kNavSaveChangesClosingDocument);
  EXPECT_FALSE(d.click(1, 1));
  RecordingPainter p;
  d.draw(p);
  EXPECT_TRUE(p.drewContaining("“A”?"));
  EXPECT_TRUE(p.drew("Don’t Save"));
}

TEST_F(OpenDialog, SeveralFilesByControlAndShiftClicks) {
  vt_test::writeFile(root + "/third.mov");
  FileDialogConfig c;
  c.multiple = true;
  FileDialog& d = show(c);
  clickRow("third.mov", 0);
  clickRow("first.mov", 100, true);  // Ctrl-click adds
  pressKey(d, key::ret, false, false, 200);
  EXPECT_EQ(d.state(), DialogState::accepted);
  EXPECT_EQ(d.chosenPaths(), (std::vector<std::string>{root + "/first.mov", root + "/third.mov"}));

  // Shift-click takes the range; the folder inside it is passed over.
  FileDialog& d2 = show(c);  // the folder "Clips" is selected first
  clickRow("second.mov", 0, false, true);
  EXPECT_EQ(d2.marked().size(), 2u);
  // Ctrl-click on a chosen row unchooses it.
  clickRow("first.mov", 50, true);
  pressKey(d2, key::ret, false, false, 100);
  EXPECT_EQ(d2.chosenPaths(), (std::vector<std::string>{root + "/second.mov"}));

  // A plain click or an arrow forgets the other rows; without the option Ctrl-click is a click.
  FileDialog& d3 = show(FileDialogConfig{});
  clickRow("third.mov", 0, true);
  EXPECT_TRUE(d3.marked().empty());
  pressKey(d3, key::ret, false, false, 100);
  EXPECT_EQ(d3.chosenPaths(), (std::vector<std::string>{root + "/third.mov"}));
}

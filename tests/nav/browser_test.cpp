#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixtures.h"
#include "nav/browser.h"

using namespace vt::nav;

namespace {

std::vector<std::string> names(const Browser& b) {
  std::vector<std::string> out;
  for (const auto& e : b.entries()) out.push_back(e.name);
  return out;
}

// A folder with two subfolders, three files, a hidden file and a pipe.
std::string makeTree() {
  std::string d = vt_test::tempDir("nav-browser");
  mkdir((d + "/zeta").c_str(), 0755);
  mkdir((d + "/Alpha").c_str(), 0755);
  vt_test::writeFile(d + "/b.txt");
  vt_test::writeFile(d + "/A.mov");
  vt_test::writeFile(d + "/c");
  vt_test::writeFile(d + "/.hidden");
  mkfifo((d + "/pipe").c_str(), 0644);
  return d;
}

}  // namespace

TEST(Browser, ListsFoldersFirstSkipsHiddenAndSpecialFilesMovesTheSelectionAndKeepsItsListing) {
  std::string d = makeTree();
  Browser b;
  ASSERT_TRUE(b.open(d));
  EXPECT_EQ(names(b), (std::vector<std::string>{"Alpha", "zeta", "A.mov", "b.txt", "c"}));
  EXPECT_TRUE(b.entries()[0].isFolder);
  EXPECT_FALSE(b.entries()[2].isFolder);
  // The selection moves and clamps.
  EXPECT_EQ(b.selected(), -1);
  b.moveSelection(1);
  EXPECT_EQ(b.selected(), 0);
  b.moveSelection(-5);
  EXPECT_EQ(b.selected(), 0);
  b.moveSelection(100);
  EXPECT_EQ(b.selected(), 4);
  b.select(-1);
  b.moveSelection(-1);  // from nothing, up starts at the end
  EXPECT_EQ(b.selected(), 4);
  b.select(99);
  EXPECT_EQ(b.selected(), 4);
  EXPECT_EQ(b.selectedPath(), normaliseFolder(d) + "/c");
  // An unreadable folder keeps the current listing.
  EXPECT_FALSE(b.open(d + "/does-not-exist"));
  EXPECT_TRUE(b.readError());
  EXPECT_EQ(b.folder(), normaliseFolder(d));
  EXPECT_EQ(b.entries().size(), 5u);
  // A file is not a folder either.
  EXPECT_FALSE(b.open(d + "/b.txt"));
  // Entering and leaving folders from the keyboard is the dialog's test; here the edges.
  ASSERT_TRUE(b.selectByName("b.txt"));
  EXPECT_FALSE(b.enterSelected());
  Browser root;
  ASSERT_TRUE(root.open("/"));
  EXPECT_FALSE(root.goUp());
  b.setShowHidden(true);
  ASSERT_TRUE(b.reload());
  EXPECT_EQ(names(b).size(), 6u);
  EXPECT_EQ(names(b)[2], ".hidden");

  // Paths and the chain of folders above one.
  EXPECT_EQ(folderChain("/a/b"), (std::vector<std::string>{"/a/b", "/a", "/"}));
  EXPECT_EQ(folderChain("/"), (std::vector<std::string>{"/"}));
  EXPECT_EQ(normaliseFolder("/a/b/../c//"), "/a/c");
  EXPECT_EQ(normaliseFolder("/"), "/");
  EXPECT_EQ(displayName("/a/long name"), "long name");
  EXPECT_EQ(displayName("/"), "/");
  EXPECT_EQ(joinPath("/", "x"), "/x");
  EXPECT_EQ(joinPath("/a", "x"), "/a/x");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(normaliseFolder(""), normaliseFolder(cwd));
}

TEST(Browser, TypingSelectsByPrefixBrokenLinksAreSkippedLongNamesListedWhole) {
  std::string d = vt_test::tempDir("nav-type");
  mkdir((d + "/Movies").c_str(), 0755);
  vt_test::writeFile(d + "/apple.mov");
  vt_test::writeFile(d + "/banana.mov");
  vt_test::writeFile(d + "/mango.png");
  vt_test::writeFile(d + "/melon.png");
  Browser b;
  ASSERT_TRUE(b.open(d));
  b.typeSelect("m", 100);
  EXPECT_EQ(b.selectedEntry()->name, "mango.png");  // name order, not folder-first order
  b.typeSelect("e", 110);
  EXPECT_EQ(b.selectedEntry()->name, "melon.png");
  // After a pause the typing starts again.
  b.typeSelect("M", 300);
  b.typeSelect("o", 310);
  EXPECT_EQ(b.selectedEntry()->name, "Movies");
  b.typeSelect("b", 400);
  EXPECT_EQ(b.selectedEntry()->name, "banana.mov");
  // No name starts with it: the next name after it.
  b.typeSelect("c", 800);
  EXPECT_EQ(b.selectedEntry()->name, "mango.png");
  b.typeSelect("z", 1200);
  EXPECT_EQ(b.selected(), (int)b.entries().size() - 1);

  // Broken links are skipped; long names are listed whole.
  d = vt_test::tempDir("nav-link");
  ASSERT_EQ(symlink((d + "/nowhere").c_str(), (d + "/dangling").c_str()), 0);
  mkdir((d + "/real").c_str(), 0755);
  ASSERT_EQ(symlink((d + "/real").c_str(), (d + "/link-to-folder").c_str()), 0);
  std::string longName = std::string(80, 'L') + ".mov";
  vt_test::writeFile(d + "/" + longName);
  ASSERT_TRUE(b.open(d));
  EXPECT_EQ(names(b), (std::vector<std::string>{"link-to-folder", "real", longName}));
  EXPECT_TRUE(b.entries()[0].isFolder);
}

#include <MacMemory.h>
#include <QTAtoms.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fixtures.h"

namespace fs = std::filesystem;

namespace {

OSErr writeSpeed(long speed) {
  QTAtomContainer c = nullptr;
  EXPECT_EQ(QTNewAtomContainer(&c), noErr);
  uint32_t be = __builtin_bswap32((uint32_t)speed);
  EXPECT_EQ(QTInsertChild(c, 0, ConnectionSpeedPrefsType, 1, 0, 4, &be, nullptr), noErr);
  OSErr err = SetQuickTimePreference(ConnectionSpeedPrefsType, c);
  QTDisposeAtomContainer(c);
  return err;
}

}  // namespace

TEST(Prefs, RoundTripRewriteAndDamagedOrUnwritableStores) {
  // A config folder of its own, so that nothing else is read or overwritten.
  const std::string dir = vt_test::tempDir("prefs");
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  QTAtomContainer c = (QTAtomContainer)1;
  EXPECT_EQ(GetQuickTimePreference(ConnectionSpeedPrefsType, &c), resNotFound);
  EXPECT_EQ(c, nullptr);

  ASSERT_EQ(writeSpeed(5600), noErr);
  EXPECT_TRUE(fs::exists(dir + "/vantrel/cspd.qtpref"));
  ASSERT_EQ(GetQuickTimePreference(ConnectionSpeedPrefsType, &c), noErr);
  long size = 0;
  Ptr p;
  QTAtom a = QTFindChildByID(c, 0, ConnectionSpeedPrefsType, 1, nullptr);
  ASSERT_EQ(QTGetAtomDataPtr(c, a, &size, &p), noErr);
  ASSERT_EQ(size, 4);
  EXPECT_EQ(std::memcmp(p, "\x00\x00\x15\xE0", 4), 0);  // 5600, big-endian
  QTDisposeAtomContainer(c);

  // Rewriting replaces the file and leaves no temporary behind.
  ASSERT_EQ(writeSpeed(2800), noErr);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/vantrel"), {}), 1);
  EXPECT_EQ(GetQuickTimePreference('none', &c), resNotFound);

  // A damaged store is an error, not an empty preference.
  std::ofstream(dir + "/vantrel/cspd.qtpref") << "not an atom container at all";
  c = (QTAtomContainer)1;
  EXPECT_EQ(GetQuickTimePreference(ConnectionSpeedPrefsType, &c), invalidAtomContainerErr);
  EXPECT_EQ(c, nullptr);

  // A container that is not well formed is not stored.
  Handle bad = NewHandleClear(40);
  EXPECT_EQ(SetQuickTimePreference(ConnectionSpeedPrefsType, bad), invalidAtomContainerErr);
  DisposeHandle(bad);
  EXPECT_EQ(SetQuickTimePreference(ConnectionSpeedPrefsType, nullptr), paramErr);

  // A config path that cannot be a folder: the error comes back, nothing crashes.
  std::ofstream(dir + "/blocker") << "file";
  setenv("XDG_CONFIG_HOME", (dir + "/blocker").c_str(), 1);
  EXPECT_NE(writeSpeed(1400), noErr);
}

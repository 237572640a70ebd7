#include <Files.h>
#include <MacErrors.h>
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "core/macroman.h"
#include "files/fsspec.h"
#include "files/host_file.h"
#include "fixtures.h"

namespace fs = std::filesystem;

namespace {

std::string specName(const FSSpec& s) { return std::string((const char*)s.name + 1, s.name[0]); }

std::string pathOf(const FSSpec& s) {
  std::string p;
  EXPECT_EQ(vt::files::specToPath(s, p), noErr);
  return p;
}

// A Pascal string from text (at most 255 bytes).
struct P {
  unsigned char b[256];
  explicit P(const std::string& s) {
    b[0] = (unsigned char)s.size();
    std::memcpy(b + 1, s.data(), s.size());
  }
  operator const unsigned char*() const { return b; }
};

// The FSSpec of a path, which must be made with `want`.
FSSpec specOf(const std::string& path, OSErr want = noErr) {
  FSSpec spec{};
  EXPECT_EQ(VTMakeFSSpecFromPath(path.c_str(), &spec), want) << path;
  return spec;
}

bool xattrsSupported(const std::string& dir) {
  std::string probe = dir + "/.xattr-probe";
  vt_test::writeFile(probe);
  bool ok = ::setxattr(probe.c_str(), "user.vantrel.probe", "1", 1, 0) == 0;
  fs::remove(probe);
  return ok;
}

}  // namespace

TEST(FSSpecs, PathRoundTripsThroughDirectoryIDsAndTheWorkingDirectory) {
  std::string dir = vt_test::tempDir("fsspec-roundtrip");
  fs::create_directories(dir + "/sub");
  vt_test::writeFile(dir + "/sub/clip.mov");

  FSSpec spec = specOf(dir + "/sub/clip.mov");
  EXPECT_EQ(specName(spec), "clip.mov");
  EXPECT_EQ(pathOf(spec), fs::path(dir + "/sub/clip.mov").lexically_normal().string());

  // The same folder keeps its ID; another folder gets another.
  FSSpec again = specOf(dir + "/sub/./clip.mov");
  EXPECT_EQ(again.parID, spec.parID);
  FSSpec other = specOf(dir + "/sub");
  EXPECT_NE(other.parID, spec.parID);
  EXPECT_EQ(specName(other), "sub");

  // FSMakeFSSpec by folder ID and name, and with an empty name for the folder itself.
  FSSpec byID;
  EXPECT_EQ(FSMakeFSSpec(spec.vRefNum, spec.parID, P("clip.mov"), &byID), noErr);
  EXPECT_EQ(0, std::memcmp(&byID, &spec, sizeof spec));
  FSSpec folderSpec;
  EXPECT_EQ(FSMakeFSSpec(spec.vRefNum, spec.parID, P(""), &folderSpec), noErr);
  EXPECT_EQ(specName(folderSpec), "sub");

  // A partial path with separators, relative to a folder ID, and one climbing out of it.
  FSSpec partial;
  long top = vt::files::dirIDForFolder(dir);
  EXPECT_EQ(FSMakeFSSpec(-1, top, P("sub/clip.mov"), &partial), noErr);
  EXPECT_EQ(0, std::memcmp(&partial, &spec, sizeof spec));
  EXPECT_EQ(FSMakeFSSpec(-1, spec.parID, P("../sub/clip.mov"), &partial), noErr);
  EXPECT_EQ(0, std::memcmp(&partial, &spec, sizeof spec));
  EXPECT_EQ(FSMakeFSSpec(-1, top, P("nosub/clip.mov"), &partial), dirNFErr);

  char buf[4096];
  ASSERT_EQ(VTFSSpecToPath(&spec, buf, sizeof buf), noErr);
  EXPECT_EQ(std::string(buf), pathOf(spec));
  EXPECT_EQ(VTFSSpecToPath(&spec, buf, 5), paramErr);

  // A bare name is relative to the working directory.
  fs::path saved = fs::current_path();
  fs::current_path(dir + "/sub");
  EXPECT_EQ(FSMakeFSSpec(0, 0, P("clip.mov"), &partial), noErr);
  EXPECT_EQ(pathOf(partial), fs::canonical(dir).string() + "/sub/clip.mov");
  fs::current_path(saved);
}

TEST(FSSpecs, MissingFileAndMissingFolder) {
  std::string dir = vt_test::tempDir("fsspec-missing");
  // The folder exists: the FSSpec is valid for creating the file.
  FSSpec spec = specOf(dir + "/new.mov", fnfErr);
  EXPECT_EQ(specName(spec), "new.mov");
  EXPECT_EQ(FSpCreate(&spec, 'TVOD', 'MooV', smSystemScript), noErr);
  EXPECT_TRUE(fs::exists(dir + "/new.mov"));
  EXPECT_EQ(FSpCreate(&spec, 'TVOD', 'MooV', smSystemScript), dupFNErr);

  spec = specOf(dir + "/nofolder/new.mov", dirNFErr);
  EXPECT_EQ(FSMakeFSSpec(-1, 987654, P("x"), &spec), dirNFErr);
  EXPECT_EQ(FSMakeFSSpec(7, 0, P("x"), &spec), nsvErr);
  EXPECT_EQ(FSMakeFSSpec(0, 0, P("x"), nullptr), paramErr);

  // A spec whose name byte claims more than 63 bytes is rejected, not read past the name.
  FSSpec bad = spec;
  bad.name[0] = 200;
  std::string p;
  EXPECT_EQ(vt::files::specToPath(bad, p), bdNamErr);
}

TEST(FSSpecs, NamesFitTheClassicSeventyBytesAndLongOnesGetUniqueShortForms) {
  std::string dir = vt_test::tempDir("fsspec-long");
  // Callers copy specs by the classic 70-byte size; a 62- or 63-byte name would not fit.
  for (size_t len : {61u, 62u, 63u}) {
    std::string name(len, 'n');
    FSSpec spec = specOf(vt_test::writeFile(dir + "/" + name)), copy;
    EXPECT_LE(offsetof(FSSpec, name) + 1 + spec.name[0], 70u);
    std::memset(&copy, 0xEE, sizeof copy);
    std::memcpy(&copy, &spec, 70);
    EXPECT_EQ(pathOf(copy), dir + "/" + name);
  }
  std::string longA = std::string(80, 'a') + ".mov";
  std::string longB = std::string(80, 'a') + "b.mov";  // same prefix, different name
  vt_test::writeFile(dir + "/" + longA, "A");
  vt_test::writeFile(dir + "/" + longB, "B");

  FSSpec a = specOf(dir + "/" + longA);
  FSSpec b = specOf(dir + "/" + longB);
  EXPECT_LE(a.name[0], 61);
  EXPECT_NE(specName(a), specName(b));
  EXPECT_NE(specName(a).find('#'), std::string::npos);
  EXPECT_EQ(specName(a).substr(specName(a).size() - 4), ".mov");  // extension kept
  EXPECT_EQ(pathOf(a), dir + "/" + longA);
  EXPECT_EQ(pathOf(b), dir + "/" + longB);

  // A fresh process (table forgotten) still resolves by scanning the folder.
  vt::files::reset();
  FSSpec viaName;
  std::string shortA = specName(a);
  ASSERT_EQ(FSMakeFSSpec(0, vt::files::dirIDForFolder(dir), P(shortA), &viaName), noErr);
  EXPECT_EQ(pathOf(viaName), dir + "/" + longA);

  // A long name of a file not yet made: the FSSpec creates the file under its real name.
  std::string longC = std::string(100, 'c') + "\xC3\xA9" + std::string(10, 'd');
  FSSpec c = specOf(dir + "/" + longC, fnfErr);
  ASSERT_EQ(FSpCreate(&c, 'TVOD', 'MooV', smSystemScript), noErr);
  EXPECT_TRUE(fs::exists(dir + "/" + longC));
  EXPECT_EQ(FSpDelete(&c), noErr);
  EXPECT_FALSE(fs::exists(dir + "/" + longC));

  // Short forms never split a UTF-8 sequence.
  std::string s =
      vt::files::shortName(std::string(51, 'x') + "\xC3\xA9\xC3\xA9" + std::string(20, 'y'));
  EXPECT_LE(s.size(), 61u);
  EXPECT_TRUE(vt::isValidUtf8(s)) << s;
  EXPECT_EQ(vt::files::shortName("short.mov"), "short.mov");
}

TEST(FSSpecs, DeleteRenameAndBusyFiles) {
  std::string dir = vt_test::tempDir("fsspec-ops");
  vt_test::writeFile(dir + "/one");
  vt_test::writeFile(dir + "/two");
  FSSpec one = specOf(dir + "/one");
  FSSpec two = specOf(dir + "/two");

  EXPECT_EQ(FSpRename(&one, P("two")), dupFNErr);  // never replaces
  EXPECT_EQ(FSpRename(&one, P("a/b")), bdNamErr);
  EXPECT_EQ(FSpRename(&one, P("three")), noErr);
  EXPECT_FALSE(fs::exists(dir + "/one"));
  EXPECT_TRUE(fs::exists(dir + "/three"));
  EXPECT_EQ(FSpDelete(&one), fnfErr);

  auto open = vt::files::HostFile::open(dir + "/two");
  ASSERT_TRUE(open);
  EXPECT_EQ(FSpDelete(&two), fBsyErr);
  EXPECT_TRUE(fs::exists(dir + "/two"));
  open.reset();
  EXPECT_EQ(FSpDelete(&two), noErr);
  EXPECT_FALSE(fs::exists(dir + "/two"));

  // A folder that is not empty is busy; an empty one is deleted.
  fs::create_directories(dir + "/full");
  vt_test::writeFile(dir + "/full/f");
  FSSpec full = specOf(dir + "/full");
  EXPECT_EQ(FSpDelete(&full), fBsyErr);
  fs::remove(dir + "/full/f");
  EXPECT_EQ(FSpDelete(&full), noErr);
}

TEST(FSSpecs, TypeAndCreatorKeptInExtendedAttributes) {
  std::string dir = vt_test::tempDir("fsspec-xattr");
  if (!xattrsSupported(dir)) GTEST_SKIP() << "no user extended attributes here";
  FSSpec spec = specOf(dir + "/m.mov", fnfErr);
  ASSERT_EQ(FSpCreate(&spec, 'TVOD', 'MooV', smSystemScript), noErr);
  OSType type = 0, creator = 0;
  ASSERT_TRUE(vt::files::readTypeCreator(dir + "/m.mov", type, creator));
  EXPECT_EQ(type, (OSType)'MooV');
  EXPECT_EQ(creator, (OSType)'TVOD');
  // Stored big-endian, first character first.
  unsigned char raw[4];
  ASSERT_EQ(::getxattr((dir + "/m.mov").c_str(), "user.vantrel.type", raw, 4), 4);
  EXPECT_EQ(0, std::memcmp(raw, "MooV", 4));

  FInfo info{};
  info.fdType = 'PNGf';
  info.fdCreator = 'ogle';
  EXPECT_EQ(FSpSetFInfo(&spec, &info), noErr);
  ASSERT_TRUE(vt::files::readTypeCreator(dir + "/m.mov", type, creator));
  EXPECT_EQ(type, (OSType)'PNGf');
  EXPECT_EQ(creator, (OSType)'ogle');

  // A file without attributes answers false and leaves the values alone.
  vt_test::writeFile(dir + "/plain");
  type = 1;
  EXPECT_FALSE(vt::files::readTypeCreator(dir + "/plain", type, creator));
  EXPECT_EQ(type, 1u);
  FSSpec missing = specOf(dir + "/gone", fnfErr);
  EXPECT_EQ(FSpSetFInfo(&missing, &info), fnfErr);
}

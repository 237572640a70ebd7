#include <MacErrors.h>
#include <MacMemory.h>
#include <Resources.h>
#include <sys/stat.h>

#include "core/fourcc.h"
#include "fixtures.h"
#include "core/macroman.h"
#include "resources/resource_file.h"
#include "resources/resource_manager.h"

#include <gtest/gtest.h>

#include <string>

using namespace vt::resources;
using vt::isValidUtf8;
using vt::macRomanToUtf8;
using vt::utf8ToMacRoman;

namespace {

std::string pstr(const unsigned char* s) { return std::string((const char*)s + 1, s[0]); }

std::string writeFile(const std::string& name, const std::string& text) {
  return vt_test::writeFile(vt_test::tempDir("resources") + "/" + name, text);
}

class ResourceManager : public ::testing::Test {
 protected:
  void SetUp() override {
    VTSetAutoOpenApplicationResources(false);
    VTResetResources();
  }
  void TearDown() override { VTResetResources(); }
};

}  // namespace

TEST_F(ResourceManager, MissingOrBrokenFilesAreRefusedWithACode) {
  EXPECT_EQ(VTOpenResourceFile("/nonexistent/Vantrel.rsrc.json"), -1);
  EXPECT_EQ(ResError(), fnfErr);
  EXPECT_EQ(VTOpenResourceFile(nullptr), -1);
  EXPECT_EQ(ResError(), paramErr);
  // Only a regular file is read: a FIFO would block start-up for good, a folder reads as empty.
  const std::string dir = vt_test::tempDir("resources-odd"), fifo = dir + "/fifo.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& odd : {fifo, dir}) {
    EXPECT_EQ(VTOpenResourceFile(odd.c_str()), -1) << odd;
    EXPECT_EQ(ResError(), fnfErr) << odd;
    EXPECT_NE(lastOpenError().find("not a regular file"), std::string::npos) << lastOpenError();
  }

  const char* broken[] = {
      "",                                                         // empty
      R"({"MENU": [)",                                            // truncated
      "[1, 2, 3]",                                                // not an object
      R"({"MENU": {"id": 1}})",                                   // type not an array
      R"({"MENU": [{"id": "128", "title": "x", "items": []}]})",  // id a string
      R"({"MENU": [{"id": 40000, "title": "x", "items": []}]})",  // id out of range
      R"({"MENU": [{"id": 1, "items": []}]})",                    // no title
      R"({"MENU": [{"id": 1, "title": 5, "items": []}]})",
      R"({"MENU": [{"id": 1, "title": "x", "items": [{"text": "a", "key": "ab"}]}]})",
      R"({"MENU": [{"id": 1, "title": "x", "items": [{"text": "a", "enabled": 1}]}]})",
      R"({"MENU": [{"id": 1, "title": "x", "items": []}, {"id": 1, "title": "y", "items": []}]})",
      R"({"MBAR": [{"id": 128, "menus": [128, "129"]}]})",
      R"({"STR#": [{"id": 1000, "strings": ["a", null]}]})",
      R"({"DLOG": [{"id": 128, "bounds": [0, 0, 10], "items": []}]})",
      R"({"DLOG": [{"id": 128, "bounds": [10, 0, 0, 10], "items": []}]})",
      R"({"DLOG": [{"id": 128, "bounds": [0, 0, 10, 10], )"
      R"("items": [{"kind": "slider", "rect": [0,0,1,1]}]}]})",
      R"({"DLOG": [{"id": 128, "bounds": [0, 0, 10, 10], "defaultItem": 2, )"
      R"("items": [{"kind": "button", "rect": [0,0,1,1]}]}]})",
      R"({"ALRT": [{"id": 129, "alertType": "scary", "bounds": [0, 0, 10, 10], "items": []}]})",
  };

  for (const char* text : broken) {
    std::string path = writeFile("broken.json", text);
    EXPECT_EQ(VTOpenResourceFile(path.c_str()), -1) << text;
    EXPECT_EQ(ResError(), mapReadErr) << text;
    EXPECT_FALSE(lastOpenError().empty());
  }
  // Nothing was opened, so lookups find nothing and strings come back empty.
  EXPECT_EQ(CurResFile(), -1);
  Str255 s = {3, 'a', 'b', 'c'};
  GetIndString(s, 1000, 1);
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(ResError(), resNotFound);
  EXPECT_FALSE(findMenuBar(128));
  EXPECT_EQ(GetResource('MBAR', 128), nullptr);
  // Hostile text is bounded: nesting, string length and file size.
  for (const std::string& hostile :
       {std::string(100000, '['),
        "{\"STR \": [{\"id\": 1, \"text\": \"" + std::string(300, 'x') + "\"}]}",
        std::string(kMaxResourceFileBytes + 10, ' ')})
    EXPECT_FALSE(parseResourceFile(hostile).file) << hostile.substr(0, 20);
  // Unknown types and comments pass; their IDs still have to be sound.
  auto ok = parseResourceFile("{\"comment\": 1, \"icns\": [{\"id\": 5, \"data\": [1,2]}]}");
  ASSERT_TRUE(ok.file) << ok.error;
  EXPECT_EQ(ok.file->idsOf('icns'), std::vector<SInt16>{5});
}

TEST_F(ResourceManager, IndexedStringsStayInBounds) {
  std::string path =
      writeFile("strings.json",
                "{\"STR#\": [{\"id\": 7, \"strings\": [\"one\", \"\", \"caf\u00e9\"]}],"
                " \"STR \": [{\"id\": 9, \"text\": \"single\"}]}");
  ASSERT_GT(VTOpenResourceFile(path.c_str()), 0) << lastOpenError();
  const struct {
    short id, index;
    const char* want;  // UTF-8, as every toolbox string
    OSErr err;
  } cases[] = {{7, 1, "one", noErr},        {7, 2, "", noErr},        {7, 3, "caf\xC3\xA9", noErr},
               {7, 0, "", resNotFound},     {7, -1, "", resNotFound}, {7, 4, "", resNotFound},
               {7, 32767, "", resNotFound}, {8, 1, "", resNotFound}};
  for (const auto& c : cases) {
    Str255 s = {3, 'o', 'l', 'd'};
    GetIndString(s, c.id, c.index);
    EXPECT_EQ(pstr(s), c.want) << c.id << "/" << c.index;
    EXPECT_EQ(ResError(), c.err) << c.id << "/" << c.index;
  }
  GetIndString(nullptr, 7, 1);  // tolerated

  StringHandle str = GetString(9);
  ASSERT_NE(str, nullptr);
  EXPECT_EQ(pstr(*str), "single");
  Handle list = GetResource('STR#', 7);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(GetHandleSize(list), 2 + 4 + 1 + 6);
  const unsigned char* p = (const unsigned char*)*list;
  EXPECT_EQ(vt::readBE16(p), 3);
  EXPECT_EQ(p[2], 3);
}

TEST_F(ResourceManager, ChainAndLoadedHandles) {
  std::string a = writeFile(
      "a.json",
      "{\"STR \": [{\"id\": 1, \"text\": \"from a\"}, {\"id\": 2, \"text\": \"only a\"}]}");
  std::string b = writeFile("b.json", "{\"STR \": [{\"id\": 1, \"text\": \"from b\"}]}");
  short ra = VTOpenResourceFile(a.c_str());
  short rb = VTOpenResourceFile(b.c_str());
  ASSERT_GT(ra, 0);
  ASSERT_GT(rb, 0);
  EXPECT_EQ(CurResFile(), rb);

  Handle h1 = GetResource('STR ', 1);
  ASSERT_NE(h1, nullptr);
  EXPECT_EQ(pstr((unsigned char*)*h1), "from b");
  EXPECT_EQ(GetResource('STR ', 1), h1);       // one handle per resource
  EXPECT_NE(GetResource('STR ', 2), nullptr);  // found further down the chain
  EXPECT_EQ(Get1Resource('STR ', 2), nullptr);
  EXPECT_EQ(ResError(), resNotFound);
  EXPECT_EQ(CountResources('STR '), 2);
  EXPECT_EQ(Count1Resources('STR '), 1);

  UseResFile(ra);
  EXPECT_EQ(pstr((unsigned char*)*GetResource('STR ', 1)), "from a");
  UseResFile(999);
  EXPECT_EQ(ResError(), resFNotFound);
  EXPECT_EQ(CurResFile(), ra);

  // Released and detached handles are no longer handed out.
  UseResFile(rb);
  long live = VTLiveHandleCount();
  ReleaseResource(h1);
  EXPECT_EQ(VTLiveHandleCount(), live - 1);
  Handle h2 = GetResource('STR ', 1);
  ASSERT_NE(h2, nullptr);
  DetachResource(h2);
  EXPECT_NE(GetResource('STR ', 1), h2);
  DisposeHandle(h2);
  // A handle the caller disposed behind our back is replaced, not handed out dead.
  Handle h3 = GetResource('STR ', 1);
  DisposeHandle(h3);
  Handle h4 = GetResource('STR ', 1);
  ASSERT_TRUE(VTIsValidHandle(h4));
  EXPECT_EQ(pstr((unsigned char*)*h4), "from b");

  EXPECT_EQ(applicationName(), "Vantrel");  // neither file names the application
  std::string named =
      writeFile("named.json", "{\"STR#\": [{\"id\": 1000, \"strings\": [\"Kino\"]}]}");
  short rn = VTOpenResourceFile(named.c_str());
  ASSERT_GT(rn, 0);
  EXPECT_EQ(applicationName(), "Kino");
  CloseResFile(rn);
  UseResFile(rb);

  CloseResFile(rb);
  EXPECT_EQ(CurResFile(), ra);
  CloseResFile(rb);
  EXPECT_EQ(ResError(), resFNotFound);
}

TEST(MacRoman, ConvertsBothWays) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += (char)c;
  std::string utf8 = macRomanToUtf8(all);
  EXPECT_TRUE(isValidUtf8(utf8));
  EXPECT_EQ(utf8ToMacRoman(utf8), all);
  EXPECT_EQ(macRomanToUtf8("\xC9"), "\u2026");
  EXPECT_EQ(utf8ToMacRoman("\u4e2d"), "?");  // not in Mac Roman
  EXPECT_EQ(utf8ToMacRoman("a\xFF"
                           "b"),
            "a?b");                             // malformed byte
  EXPECT_EQ(utf8ToMacRoman("\xE2\x80"), "??");  // truncated sequence
  EXPECT_FALSE(isValidUtf8("\xC0\x80"));        // overlong
}

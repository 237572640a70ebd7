#include <AppleEvents.h>
#include <MacMemory.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "appleevents/ae_queue.h"
#include "fixtures.h"

namespace {

std::string pathOf(const FSSpec& spec) {
  char buf[4096] = "";
  EXPECT_EQ(VTFSSpecToPath(&spec, buf, sizeof buf), noErr);
  return buf;
}

long count(const AEDescList& list) {
  long n = -1;
  EXPECT_EQ(AECountItems(&list, &n), noErr);
  return n;
}

OSErr putText(AEDescList& list, long index, DescType type, const std::string& s) {
  return AEPutPtr(&list, index, type, s.data(), (Size)s.size());
}

// The event ID a high-level event record carries, split over `where`.
uint32_t idOf(const EventRecord& e) {
  return ((uint32_t)(uint16_t)e.where.v << 16) | (uint16_t)e.where.h;
}

// Takes the next pending event and processes it as the event loop does.
OSErr processNext() {
  EventRecord e{};
  EXPECT_TRUE(vt::ae::takePendingEvent(e));
  return AEProcessAppleEvent(&e);
}

// What the handlers saw.
struct Seen {
  std::vector<std::string> files;
  unsigned long refcon = 0;
  int calls = 0;
};
Seen gSeen;

OSErr openDocsHandler(const AppleEvent* event, AppleEvent*, unsigned long refcon) {
  ++gSeen.calls;
  gSeen.refcon = refcon;
  AEDescList list;
  OSErr err = AEGetParamDesc(event, keyDirectObject, typeAEList, &list);
  long n = err == noErr ? count(list) : 0;
  for (long i = 1; i <= n && err == noErr; ++i) {
    FSSpec spec;
    err = AEGetNthPtr(&list, i, typeFSS, nullptr, nullptr, &spec, sizeof spec, nullptr);
    if (err == noErr) gSeen.files.push_back(pathOf(spec));
  }
  AEDisposeDesc(&list);
  return err;
}

// Two files with awkward names, and a list to put items in; no descriptor may outlive a test.
class AppleEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    live_ = VTLiveHandleCount();
    gSeen = Seen();
    ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  }
  void TearDown() override {
    AEDisposeDesc(&list);
    vt::ae::reset();
    EXPECT_EQ(VTLiveHandleCount(), live_) << "descriptor handles leaked";
  }
  // Item i as an FSSpec, fetched by the classic 70-byte size.
  OSErr asSpec(long i) {
    return AEGetNthPtr(&list, i, typeFSS, nullptr, nullptr, &spec, 70, nullptr);
  }
  const std::string dir = vt_test::tempDir("ae-list"),
                    a = vt_test::writeFile(dir + "/clip one.mov"),
                    b = vt_test::writeFile(dir + "/caf\xC3\xA9%.mov");
  AEDescList list{};
  FSSpec spec{};
  int32_t number = 42;
  long live_ = 0;
};

}  // namespace

TEST_F(AppleEvents, FileURLsAndPathsComeBackAsCompleteFSSpecs) {
  ASSERT_EQ(putText(list, 0, typeFileURL, "file://" + dir + "/clip%20one.mov"), noErr);
  ASSERT_EQ(putText(list, 0, typeUTF8Text, b), noErr);
  Size actual = 0;
  ASSERT_EQ(AEGetNthPtr(&list, 1, typeFSS, nullptr, nullptr, &spec, sizeof spec, &actual), noErr);
  EXPECT_EQ(actual, (Size)sizeof(FSSpec));
  EXPECT_EQ(pathOf(spec), a);
  std::memset(&spec, 0xEE, sizeof spec);
  ASSERT_EQ(asSpec(2), noErr);  // by the classic size, still complete
  EXPECT_EQ(pathOf(spec), b);
}

TEST_F(AppleEvents, AnFSSpecItemComesBackAsAPercentEncodedURLOrAPath) {
  ASSERT_EQ(VTMakeFSSpecFromPath(b.c_str(), &spec), noErr);
  char text[512] = "";
  Size actual = 0;
  auto asText = [&](long i, DescType as) {
    EXPECT_EQ(AEGetNthPtr(&list, i, as, nullptr, nullptr, text, sizeof text - 1, &actual), noErr);
    return std::string(text, (size_t)actual);
  };
  ASSERT_EQ(AEPutPtr(&list, 0, typeFSS, &spec, sizeof spec), noErr);
  EXPECT_EQ(asText(1, typeFileURL), "file://" + dir + "/caf%C3%A9%25.mov");
  ASSERT_EQ(AEPutPtr(&list, 1, typeFSS, &spec, 70), noErr);  // stored by the classic size
  EXPECT_EQ(asText(1, typeUTF8Text), b);
}

TEST_F(AppleEvents, ItemsThatAreNotFilesOrNotThereAreRefusedAndShortBuffersGetAPrefix) {
  putText(list, 0, typeUTF8Text, b);
  AEPutPtr(&list, 0, typeSInt32, &number, 4);
  putText(list, 0, typeUTF8Text, dir + "/no/such.mov");
  putText(list, 0, typeUTF8Text, dir + "/later.mov");
  putText(list, 0, typeFileURL, "http://example.com/x.mov");
  for (auto [index, want] : std::vector<std::pair<long, OSErr>>{{2, errAECoercionFail},
                                                                {0, errAEIllegalIndex},
                                                                {6, errAEIllegalIndex},
                                                                {3, errAECoercionFail},
                                                                {4, noErr},
                                                                {5, errAECoercionFail}})
    EXPECT_EQ(asSpec(index), want) << "item " << index;
  char two[2];
  DescType type = 0;
  Size actual = 0;
  ASSERT_EQ(AEGetNthPtr(&list, 1, typeWildCard, nullptr, &type, two, 2, &actual), noErr);
  EXPECT_EQ(type, (DescType)typeUTF8Text);
  EXPECT_EQ(actual, (Size)b.size());
  EXPECT_EQ(std::string(two, 2), b.substr(0, 2));
  int16_t small = 0;
  ASSERT_EQ(AEGetNthPtr(&list, 2, typeSInt16, nullptr, nullptr, &small, 2, nullptr), noErr);
  EXPECT_EQ(small, 42);
}

TEST_F(AppleEvents, ItemsAreReplacedAndDeletedAndADuplicateIsIndependent) {
  for (int i = 0; i < 3; ++i) AEPutPtr(&list, 0, typeSInt32, &number, 4);
  ASSERT_EQ(putText(list, 3, typeUTF8Text, a), noErr);
  ASSERT_EQ(asSpec(3), noErr);
  EXPECT_EQ(AEPutPtr(&list, 99, typeSInt32, &number, 4), errAEIllegalIndex);
  ASSERT_EQ(AEDeleteItem(&list, 1), noErr);
  AEDescList copy;
  ASSERT_EQ(AEDuplicateDesc(&list, &copy), noErr);
  AEDeleteItem(&copy, 1);
  EXPECT_EQ(count(list), 2);
  AEDisposeDesc(&copy);
}

TEST_F(AppleEvents, APlainDescriptorIsNeitherAListNorAnEvent) {
  AEDesc plain, none;
  ASSERT_EQ(AECreateDesc(typeSInt32, &number, 4, &plain), noErr);
  long n = 0;
  EXPECT_EQ(AECountItems(&plain, &n), errAEWrongDataType);
  EXPECT_EQ(AEGetNthPtr(&plain, 1, typeWildCard, nullptr, nullptr, &number, 4, nullptr),
            errAEWrongDataType);
  EXPECT_EQ(AEGetParamDesc(&plain, keyDirectObject, typeAEList, &none), errAENotAppleEvent);
  AEDisposeDesc(&plain);
  EXPECT_EQ(plain.dataHandle, nullptr);
}

TEST_F(AppleEvents, ListBytesClaimingAHugeCountOrItemAreCorruptData) {
  AEPutPtr(&list, 0, typeSInt32, &number, 4);
  Handle h = (Handle)list.dataHandle;
  uint32_t huge = 0x7FFFFFFF, one = 1;
  std::memcpy(*h, &huge, 4);
  long n = -1;
  EXPECT_EQ(AECountItems(&list, &n), errAECorruptData);
  EXPECT_EQ(n, 0);
  std::memcpy(*h, &one, 4);
  std::memcpy(*h + 12, &huge, 4);
  EXPECT_EQ(AECountItems(&list, &n), errAECorruptData);
}

TEST_F(AppleEvents, EventParametersAreFoundCoercedAndDeleted) {
  AppleEvent event;
  ASSERT_EQ(AECreateAppleEvent(kCoreEventClass, kAEOpenDocuments, nullptr, kAutoGenerateReturnID,
                               kAnyTransactionID, &event),
            noErr);
  AEDesc found;
  EXPECT_EQ(AEGetParamDesc(&event, keyDirectObject, typeAEList, &found), errAEDescNotFound);
  EXPECT_EQ(found.dataHandle, nullptr);
  // A lone file as the direct object comes back as a one-item list.
  ASSERT_EQ(AEPutParamPtr(&event, keyDirectObject, typeUTF8Text, "/tmp", 4), noErr);
  ASSERT_EQ(AEGetParamDesc(&event, keyDirectObject, typeAEList, &found), noErr);
  EXPECT_EQ(count(found), 1);
  AEDisposeDesc(&found);
  ASSERT_EQ(AEPutParamPtr(&event, 'numb', typeSInt32, &number, 4), noErr);
  EXPECT_EQ(AEGetParamPtr(&event, 'numb', typeFSS, nullptr, nullptr, 0, nullptr),
            errAECoercionFail);
  ASSERT_EQ(AEDeleteParam(&event, 'numb'), noErr);
  EXPECT_EQ(AEGetParamPtr(&event, 'numb', typeSInt32, nullptr, &number, 4, nullptr),
            errAEDescNotFound);
  AEDisposeDesc(&event);
}

TEST_F(AppleEvents, OpenDocumentsGivesItsHandlerEveryFileInOrderOrAnEmptyList) {
  std::vector<std::string> paths;
  for (int i = 0; i < 5; ++i) paths.push_back(vt_test::writeFile(dir + "/m" + std::to_string(i)));
  std::vector<const char*> c;
  for (auto& p : paths) c.push_back(p.c_str());
  AEEventHandlerUPP open = NewAEEventHandlerUPP(openDocsHandler);
  ASSERT_EQ(AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, open, 77, false), noErr);
  ASSERT_EQ(VTAEPostOpenDocuments(c.data(), (long)c.size()), noErr);
  EXPECT_EQ(processNext(), noErr);
  EXPECT_EQ(gSeen.files, paths);
  EXPECT_EQ(gSeen.refcon, 77u);
  gSeen = Seen();
  ASSERT_EQ(VTAEPostOpenDocuments(nullptr, 0), noErr);
  EXPECT_EQ(processNext(), noErr);
  EXPECT_EQ(gSeen.calls, 1);
  EXPECT_TRUE(gSeen.files.empty());
  EXPECT_EQ(VTAEPostOpenDocuments(nullptr, 2), paramErr);
  DisposeAEEventHandlerUPP(open);
}

TEST_F(AppleEvents, AHandlersRefusalIsWhatTheSenderGets) {
  AEEventHandlerUPP print = NewAEEventHandlerUPP(
      [](const AppleEvent*, AppleEvent*, unsigned long) -> OSErr { return errAEEventNotHandled; });
  ASSERT_EQ(AEInstallEventHandler(kCoreEventClass, kAEPrintDocuments, print, 0, false), noErr);
  const char* file = a.c_str();
  ASSERT_EQ(VTAEPostPrintDocuments(&file, 1), noErr);
  EventRecord e{};
  ASSERT_TRUE(vt::ae::peekPendingEvent(e));  // only peeked: processing takes it itself
  EXPECT_EQ(AEProcessAppleEvent(&e), errAEEventNotHandled);
  EXPECT_EQ(VTAELastHandlerResult(), errAEEventNotHandled);
  EXPECT_FALSE(vt::ae::hasPendingEvent());
}

TEST_F(AppleEvents, UnhandledOrProcessedOrLowLevelEventsAreRefused) {
  EventRecord e{}, key{};
  vt::ae::postQuitFromSignal();
  ASSERT_TRUE(vt::ae::takePendingEvent(e));
  EXPECT_EQ(idOf(e), (uint32_t)'quit');  // the ID as the event record carries it
  EXPECT_EQ(AEProcessAppleEvent(&e), errAEEventNotHandled);
  key.what = 3;
  EXPECT_EQ(AEProcessAppleEvent(&key), errAENotAppleEvent);
  EXPECT_EQ(AEProcessAppleEvent(&e), errAENotAppleEvent);
}

TEST_F(AppleEvents, AnItemThatIsNotAFileStopsTheOpenHandlerWithItsError) {
  AEEventHandlerUPP open = NewAEEventHandlerUPP(openDocsHandler);
  ASSERT_EQ(AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, open, 0, false), noErr);
  AppleEvent event;
  ASSERT_EQ(AECreateAppleEvent(kCoreEventClass, kAEOpenDocuments, nullptr, kAutoGenerateReturnID,
                               kAnyTransactionID, &event),
            noErr);
  putText(list, 0, typeUTF8Text, a);
  AEPutPtr(&list, 0, typeSInt32, &number, 4);
  AEPutParamDesc(&event, keyDirectObject, &list);
  ASSERT_EQ(VTAEPostAppleEvent(&event), noErr);
  AEDisposeDesc(&event);
  EXPECT_EQ(processNext(), errAECoercionFail);
  EXPECT_EQ(gSeen.files, std::vector<std::string>{a});
  DisposeAEEventHandlerUPP(open);
}

TEST_F(AppleEvents, SystemWildcardHandlersRunBehindApplicationOnesUntilRemoved) {
  AEEventHandlerUPP open = NewAEEventHandlerUPP(openDocsHandler), got = nullptr;
  AEEventHandlerUPP counting = NewAEEventHandlerUPP(
      [](const AppleEvent*, AppleEvent*, unsigned long) -> OSErr { return ++gSeen.calls, noErr; });
  ASSERT_EQ(AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, open, 0, false), noErr);
  ASSERT_EQ(AEInstallEventHandler(typeWildCard, typeWildCard, counting, 0, true), noErr);
  VTAEPostQuitApplication();
  EXPECT_EQ(processNext(), noErr);
  EXPECT_EQ(gSeen.calls, 1);
  EXPECT_EQ(AERemoveEventHandler(kCoreEventClass, kAEOpenDocuments, counting, false),
            errAEHandlerNotFound);
  EXPECT_EQ(AERemoveEventHandler(kCoreEventClass, kAEOpenDocuments, open, false), noErr);
  EXPECT_EQ(AEGetEventHandler(kCoreEventClass, kAEOpenDocuments, &got, nullptr, false),
            errAEHandlerNotFound);
  DisposeAEEventHandlerUPP(open);
}

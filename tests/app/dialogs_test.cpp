// The open and save dialogs, the list of openable file types and the file filter.
#include "app_fixture.h"
#include "fixtures.h"

namespace {

// Whether the open dialog's filter shows an item.
bool Shown(DescType type, bool folder, OSType fileType) {
  AEDesc desc{type, nullptr};
  NavFileOrFolderInfo info{};
  info.isFolder = folder;
  info.fileAndFolder.fileInfo.finderInfo.fdType = fileType;
  return QTFrame_FilterFiles(&desc, &info, nullptr, kNavFilteringBrowserList);
}

std::vector<OSType> TypeList() {
  std::vector<OSType> types;
  if (gValidFileTypes == NULL) return types;
  long n = GetPtrSize((Ptr)gValidFileTypes) / (long)sizeof(OSType);
  types.assign(gValidFileTypes, gValidFileTypes + n);
  return types;
}

// The sub-types of the movie importers, then of the graphics importers.
std::vector<OSType> ImporterSubTypes() {
  std::vector<OSType> found;
  for (OSType type : {MovieImportType, GraphicsImporterComponentType}) {
    ComponentDescription look{type, 0, 0, 0, movieImportSubTypeIsFileExtension};
    for (Component c = nullptr; (c = FindNextComponent(c, &look)) != nullptr;) {
      ComponentDescription d{};
      GetComponentInfo(c, &d, nullptr, nullptr, nullptr);
      found.push_back(d.componentSubType);
    }
  }
  return found;
}

}  // namespace

using FileTypes = AppTest;

// The filter's first call builds the list, once: movies, then movie and graphics importers;
// folders are always shown.
TEST_F(FileTypes, ListFilterAndFileDialogs) {
  EXPECT_TRUE(Shown(typeFSS, false, 'MooV'));
  const std::vector<OSType> round = ImporterSubTypes();
  std::vector<OSType> expected{'MooV'};
  expected.insert(expected.end(), round.begin(), round.end());
  EXPECT_EQ(TypeList(), expected);
  OSType* first = gValidFileTypes;
  EXPECT_EQ(QTFrame_BuildFileTypeList(), noErr);
  EXPECT_EQ(gValidFileTypes, first);
  EXPECT_FALSE(Shown(typeFSS, false, 'TEXT'));
  EXPECT_FALSE(Shown(typeFSS, false, 0));
  EXPECT_TRUE(Shown(typeFSS, true, 'TEXT'));
  EXPECT_TRUE(Shown('volm', false, 'TEXT'));
  for (OSType t : round) EXPECT_TRUE(Shown(typeFSS, false, t));

  // The list grows in steps of 100 types; once it cannot grow it keeps what it has, takes no more.
  ASSERT_EQ(QTFrame_BuildFileTypeList(), noErr);  // resets the growth state
  DisposePtr((Ptr)gValidFileTypes);
  gValidFileTypes = (OSType*)NewPtrClear(400);
  ASSERT_NE(gValidFileTypes, nullptr);
  ASSERT_FALSE(round.empty());

  long next = 0;
  const int rounds = 2000 / (int)round.size() + 1;  // far more than one block holds
  for (int r = 0; r < rounds; ++r) {
    QTFrame_AddComponentFileTypes(MovieImportType, &next);
    QTFrame_AddComponentFileTypes(GraphicsImporterComponentType, &next);
  }
  EXPECT_GT(next, 100) << "the list never grew past its first block";
  EXPECT_LE(next * 4, GetPtrSize((Ptr)gValidFileTypes));
  EXPECT_EQ(GetPtrSize((Ptr)gValidFileTypes) % 400, 0);
  for (long i = 0; i < next; ++i)
    ASSERT_EQ(gValidFileTypes[i], round[(size_t)i % round.size()]) << "at " << i;
  if (next < (long)round.size() * rounds) {
    long stopped = next;
    QTFrame_AddComponentFileTypes(GraphicsImporterComponentType, &next);
    EXPECT_EQ(next, stopped) << "a list that could not grow took more types";
  }
  QTFrame_AddComponentFileTypes(MovieImportType, nullptr);  // ignored

  // The open dialog's type list carries the signature, count and types.
  OSType types[] = {'MooV', 'PNGf', 'JPEG'};
  EXPECT_EQ(QTFrame_CreateOpenHandle(kApplicationSignature, 0, types), nullptr);
  EXPECT_EQ(QTFrame_CreateOpenHandle(kApplicationSignature, -1, types), nullptr);
  EXPECT_EQ(QTFrame_CreateOpenHandle(kApplicationSignature, 3, NULL), nullptr);
  NavTypeListHandle h =
      (NavTypeListHandle)QTFrame_CreateOpenHandle(kApplicationSignature, 3, types);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ((**h).osTypeCount, 3);
  EXPECT_EQ((**h).osType[2], (OSType)'JPEG');
  EXPECT_GE(GetHandleSize((Handle)h), (Size)(sizeof(NavTypeList) + 2 * sizeof(OSType)));
  DisposeHandle((Handle)h);

  // Missing outputs are parameter errors that show no dialog.
  FSSpec spec;
  Boolean selected = true, replacing = true;
  EXPECT_EQ(QTFrame_GetOneFileWithPreview(0, NULL, NULL, NULL), paramErr);
  EXPECT_EQ(QTFrame_PutFile(PStr("p"), PStr("n"), NULL, &selected, &replacing), paramErr);
  EXPECT_EQ(QTFrame_PutFile(PStr("p"), PStr("n"), &spec, NULL, &replacing), paramErr);
  EXPECT_EQ(QTFrame_PutFile(PStr("p"), PStr("n"), &spec, &selected, NULL), paramErr);
  EXPECT_EQ(VTAutomationNavDialogCount(), 0);
  VTAutomationNavCancelSave();
  EXPECT_EQ(QTFrame_PutFile(PStr("Save Effect Movie File As:"), PStr("untitled.mov"), &spec,
                            &selected, &replacing),
            userCanceledErr);
  EXPECT_FALSE(selected);
  EXPECT_FALSE(replacing);
  EXPECT_EQ(VTAutomationNavLastShown().clientName, ToString(gAppName));

  VTAutomationNavSaveAs(tempDir_, "new.mov");
  EXPECT_EQ(QTFrame_PutFile(PStr("p"), PStr("x.mov"), &spec, &selected, &replacing), noErr);
  EXPECT_TRUE(selected);
  EXPECT_FALSE(replacing);
  EXPECT_EQ(ToString(spec.name), "new.mov");

  vt_test::writeFile(tempDir_ + "/old.mov");
  VTAutomationNavSaveAs(tempDir_, "old.mov", true);
  EXPECT_EQ(QTFrame_PutFile(PStr("p"), PStr("x.mov"), &spec, &selected, &replacing), noErr);
  EXPECT_TRUE(selected);
  EXPECT_TRUE(replacing);

  // While a file dialog is up, windows behind it are redrawn and idled through the callback.
  WindowReference w = OpenMovieWindow("behind.mov");
  EventRecord update = MakeEvent(updateEvt, (unsigned long)w);
  NavCBRec rec{};
  rec.eventData.eventDataParms.event = &update;
  Rect r;
  GetWindowPortBounds(w, &r);
  InvalWindowRect(w, &r);
  QTFrame_HandleNavEvent(kNavCBEvent, &rec, nullptr);
  EXPECT_FALSE(UpdatePending(w));

  // Other selectors and a missing record are ignored.
  QTFrame_HandleNavEvent(kNavCBStart, &rec, nullptr);
  QTFrame_HandleNavEvent(kNavCBEvent, nullptr, nullptr);
  rec.eventData.eventDataParms.event = nullptr;
  QTFrame_HandleNavEvent(kNavCBEvent, &rec, nullptr);
}

#include <MacMemory.h>
#include <MovieUserData.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "atoms/userdata_impl.h"

namespace {

Handle textHandle(const std::string& s) {
  Handle h = NewHandle((Size)s.size());
  if (!s.empty()) std::memcpy(*h, s.data(), s.size());
  return h;
}

std::string handleText(Handle h) { return std::string(*h, (size_t)GetHandleSize(h)); }

}  // namespace

TEST(UserData, ItemsAndTextRecordsRewrittenAddedAndRead) {
  UserData ud = nullptr;
  ASSERT_EQ(NewUserData(&ud), noErr);
  uint8_t one[4] = {0, 0, 0, 1}, zero[4] = {0, 0, 0, 0};
  // Two LOOP items, as some files carry: removing the first as often as there are items
  // leaves none, and index-0 set then creates exactly one.
  ASSERT_EQ(SetUserDataItem(ud, one, 4, 'LOOP', 0), noErr);
  Handle h = textHandle(std::string(4, '\0'));
  ASSERT_EQ(AddUserData(ud, h, 'LOOP'), noErr);
  EXPECT_EQ(CountUserDataType(ud, 'LOOP'), 2);
  for (int n = CountUserDataType(ud, 'LOOP'); n > 0; --n)
    EXPECT_EQ(RemoveUserData(ud, 'LOOP', 1), noErr);
  EXPECT_EQ(RemoveUserData(ud, 'LOOP', 1), userDataItemNotFound);
  ASSERT_EQ(SetUserDataItem(ud, one, 4, 'LOOP', 0), noErr);
  ASSERT_EQ(SetUserDataItem(ud, zero, 4, 'LOOP', 0), noErr);  // replaces, does not add
  EXPECT_EQ(CountUserDataType(ud, 'LOOP'), 1);
  EXPECT_EQ(ud->items[0].data, std::vector<uint8_t>(zero, zero + 4));
  // Only the next index of a type may be created.
  EXPECT_EQ(SetUserDataItem(ud, one, 4, 'LOOP', 3), userDataItemNotFound);
  EXPECT_EQ(SetUserDataItem(ud, one, 4, 'LOOP', 2), noErr);
  EXPECT_EQ(CountUserDataType(ud, 'LOOP'), 2);
  DisposeHandle(h);

  // Reads copy whole items and leave the buffer alone otherwise.
  uint8_t wloc[4] = {0x00, 0x64, 0x00, 0xC8};
  ASSERT_EQ(SetUserDataItem(ud, wloc, 4, 'WLOC', 0), noErr);
  uint8_t read[4] = {9, 9, 9, 9};
  EXPECT_EQ(GetUserDataItem(ud, read, 4, 'WLOC', 0), noErr);
  EXPECT_EQ(std::memcmp(read, wloc, 4), 0);
  // A buffer of another size than the item: as if the item were not there.
  for (auto [size, type] : {std::pair{2, 'WLOC'}, {6, 'WLOC'}, {4, 'none'}}) {
    uint8_t untouched[6] = {7, 7, 7, 7, 7, 7};
    EXPECT_EQ(GetUserDataItem(ud, untouched, size, type, 1), userDataItemNotFound) << size;
    EXPECT_EQ(untouched[0], 7) << size;
  }
  EXPECT_EQ(GetUserDataItem(nullptr, read, 4, 'LOOP', 0), paramErr);

  h = NewHandle(0);
  ASSERT_EQ(GetUserData(ud, h, 'WLOC', 1), noErr);
  EXPECT_EQ(GetHandleSize(h), 4);
  EXPECT_EQ(GetUserData(ud, h, 'WLOC', 2), userDataItemNotFound);
  DisposeHandle(h);

  // Types in order of first appearance.
  uint8_t b = 1;
  SetUserDataItem(ud, &b, 1, 'SelO', 0);
  SetUserDataItem(ud, &b, 1, 'WLOC', 2);
  const OSType order[] = {0, 'LOOP', 'WLOC', 'SelO', 0};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(GetNextUserDataType(ud, order[i]), (long)order[i + 1]);

  // Text items hold records of length, language and text.
  h = textHandle("(c) Vantrel");
  ASSERT_EQ(AddUserDataText(ud, h, kUserDataTextCopyright, 1, -1), noErr);
  const auto& item = ud->items.back();
  EXPECT_EQ(item.type, (OSType)0xA9637079);
  EXPECT_EQ(std::string(item.data.begin(), item.data.end()),
            std::string("\0\x0B\0\0(c) Vantrel", 15));

  // The same language replaces its record; another language adds one.
  Handle fr = textHandle("droits");
  ASSERT_EQ(AddUserDataText(ud, fr, kUserDataTextCopyright, 1, 1 /* France */), noErr);
  Handle en = textHandle("new");
  ASSERT_EQ(AddUserDataText(ud, en, kUserDataTextCopyright, 1, -1), noErr);
  EXPECT_EQ(CountUserDataType(ud, kUserDataTextCopyright), 1);
  Handle out = NewHandle(0);
  ASSERT_EQ(GetUserDataText(ud, out, kUserDataTextCopyright, 1, -1), noErr);
  EXPECT_EQ(handleText(out), "new");
  ASSERT_EQ(GetUserDataText(ud, out, kUserDataTextCopyright, 1, 1), noErr);
  EXPECT_EQ(handleText(out), "droits");

  // An empty text is an item with a record of length 0.
  Handle empty = NewHandle(0);
  ASSERT_EQ(AddUserDataText(ud, empty, kUserDataTextFullName, 1, -1), noErr);
  EXPECT_EQ(ud->items.back().data, (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(AddUserDataText(ud, empty, kUserDataTextFullName, 5, -1), userDataItemNotFound);

  // Removing the last record removes the item.
  EXPECT_EQ(RemoveUserDataText(ud, kUserDataTextCopyright, 1, 1), noErr);
  EXPECT_EQ(RemoveUserDataText(ud, kUserDataTextCopyright, 1, 1), userDataItemNotFound);
  EXPECT_EQ(RemoveUserDataText(ud, kUserDataTextCopyright, 1, -1), noErr);
  EXPECT_EQ(CountUserDataType(ud, kUserDataTextCopyright), 0);

  // A damaged text item (a file's record claiming more bytes than it has) is not rewritten.
  ud->items.push_back({kUserDataTextInformation, {0x00, 0x40, 0x00, 0x00, 'x'}});
  EXPECT_EQ(GetUserDataText(ud, out, kUserDataTextInformation, 1, -1), badFileFormat);
  EXPECT_EQ(AddUserDataText(ud, en, kUserDataTextInformation, 1, -1), badFileFormat);
  EXPECT_EQ(ud->items.back().data.size(), 5u);

  for (Handle x : {h, fr, en, out, empty}) DisposeHandle(x);
  DisposeUserData(ud);
}

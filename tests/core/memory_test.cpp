#include <MacErrors.h>
#include <MacMemory.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

// Resizing keeps the contents and the handle; a locked block does not move; each handle is
// counted while it lives; bad handles are rejected; handles concatenate.
TEST(Handles, ResizeLockCountRejectAndConcatenate) {
  const long live = VTLiveHandleCount();
  Handle h = NewHandleClear(8);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(VTLiveHandleCount(), live + 1);
  EXPECT_EQ(std::string(*h, GetHandleSize(h)), std::string(8, '\0'));
  std::memcpy(*h, "ABCDEFGH", 8);
  // Growing far past the block moves it; the same handle must still reach the bytes.
  SetHandleSize(h, 1 << 20);
  ASSERT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 1 << 20);
  EXPECT_EQ(std::memcmp(*h, "ABCDEFGH", 8), 0);
  SetHandleSize(h, 3);
  EXPECT_EQ(std::string(*h, GetHandleSize(h)), "ABC");

  HLock(h);
  Ptr before = *h;
  SetHandleSize(h, 1 << 22);  // past the block
  EXPECT_EQ(MemError(), memLockedErr);
  EXPECT_EQ(*h, before);
  EXPECT_EQ(GetHandleSize(h), 3);
  EXPECT_TRUE(HGetState(h) & kHandleLockedMask);
  HUnlock(h);
  SetHandleSize(h, 1 << 22);
  EXPECT_EQ(MemError(), noErr);
  DisposeHandle(h);
  EXPECT_EQ(VTLiveHandleCount(), live);

  // A disposed handle, or no handle at all, is rejected, not followed.
  EXPECT_FALSE(VTIsValidHandle(h));
  EXPECT_EQ(GetHandleSize(h), 0);
  EXPECT_EQ(MemError(), memWZErr);
  DisposeHandle(h);  // a second disposal is reported, not a double free
  EXPECT_EQ(MemError(), memWZErr);
  DisposeHandle(nullptr);
  EXPECT_EQ(MemError(), nilHandleErr);
  char local[16];
  EXPECT_FALSE(VTIsValidHandle(reinterpret_cast<Handle>(local)));
  EXPECT_EQ(NewHandle(-1), nullptr);
  EXPECT_EQ(MemError(), paramErr);

  // An empty handle grows by concatenation, also with itself.
  Handle e = NewEmptyHandle();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(*e, nullptr);
  EXPECT_EQ(PtrAndHand("xy", e, 2), noErr);
  EXPECT_EQ(HandAndHand(e, e), noErr);  // appending a handle to itself
  EXPECT_EQ(std::string(*e, GetHandleSize(e)), "xyxy");
  Handle copy = e;
  EXPECT_EQ(HandToHand(&copy), noErr);
  EXPECT_NE(copy, e);
  EXPECT_EQ(std::string(*copy, GetHandleSize(copy)), "xyxy");
  DisposeHandle(copy);
  DisposeHandle(e);
}

TEST(Pointers, GrowInPlaceWithinReserveAndBlockMovesOverlap) {
  Ptr p = NewPtrClear(400);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(GetPtrSize(p), 400);
  p[0] = 'M';
  SetPtrSize(p, 800);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(GetPtrSize(p), 800);
  EXPECT_EQ(p[0], 'M');
  EXPECT_EQ(p[799], 0);
  SetPtrSize(p, 8);
  SetPtrSize(p, 1L << 30);  // far beyond the reserve: refused, block unchanged
  EXPECT_EQ(MemError(), memFullErr);
  EXPECT_EQ(GetPtrSize(p), 8);
  DisposePtr(p);

  // Block moves copy overlapping ranges as if through a buffer.
  for (auto [from, to, want] : {std::tuple{0, 2, "0101234567"}, {2, 0, "2345678989"}}) {
    char buf[16] = "0123456789";
    BlockMoveData(buf + from, buf + to, 8);
    EXPECT_EQ(std::string(buf, 10), want);
  }
}

#include <MacMemory.h>
#include <Quickdraw.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

Rect rect(short l, short t, short r, short b) {
  Rect x;
  SetRect(&x, l, t, r, b);
  return x;
}

bool sameRect(const Rect& a, const Rect& b) { return EqualRect(&a, &b); }
Rect offset(Rect r, short h, short v) { return OffsetRect(&r, h, v), r; }
Rect inset(Rect r, short h, short v) { return InsetRect(&r, h, v), r; }
Rect united(Rect a, Rect b) {
  Rect u{};
  return UnionRect(&a, &b, &u), u;
}

}  // namespace

TEST(RectsAndRegions, ArithmeticShapeEqualityOffsetAndBadHandles) {
  Rect r = offset(rect(10, 20, 110, 70), -10, 5);
  EXPECT_TRUE(sameRect(r, rect(0, 25, 100, 75)));
  // Right and bottom edges are outside the rectangle.
  EXPECT_TRUE(PtInRect(Point{25, 0}, &r));
  EXPECT_FALSE(PtInRect(Point{25, 100}, &r));
  EXPECT_FALSE(PtInRect(Point{75, 50}, &r));
  // Insetting past the middle leaves an empty rectangle, normalised to zeros.
  EXPECT_TRUE(sameRect(inset(rect(0, 0, 10, 10), 6, 6), rect(0, 0, 0, 0)));
  EXPECT_TRUE(sameRect(inset(rect(0, 0, 10, 10), -2, -3), rect(-2, -3, 12, 13)));

  Rect a = rect(0, 0, 50, 50), b = rect(25, 25, 100, 100), out;
  EXPECT_TRUE(SectRect(&a, &b, &out));
  EXPECT_TRUE(sameRect(out, rect(25, 25, 50, 50)));
  // Touching edges do not intersect.
  Rect c = rect(50, 0, 60, 50);
  EXPECT_FALSE(SectRect(&a, &c, &out));
  EXPECT_TRUE(EmptyRect(&out));
  EXPECT_TRUE(sameRect(united(a, b), rect(0, 0, 100, 100)));
  EXPECT_TRUE(sameRect(united(a, rect(500, 500, 500, 600)), a));  // an empty one adds nothing
  EXPECT_TRUE(EmptyRect(nullptr));

  // Regions: membership and bounds are the pixel model test's; here shape, equality, offset.
  long handlesBefore = VTLiveHandleCount();
  RgnHandle ra = NewRgn(), rb = NewRgn(), rd = NewRgn();
  ASSERT_TRUE(ra && rb && rd);
  EXPECT_TRUE(EmptyRgn(ra));
  SetRectRgn(ra, 0, 0, 100, 100);
  SetRectRgn(rb, 50, 50, 150, 150);
  UnionRgn(ra, rb, rd);
  EXPECT_FALSE(IsRegionRectangular(rd));
  XorRgn(ra, ra, rd);
  EXPECT_TRUE(EmptyRgn(rd));

  // The same area built two ways compares equal.
  SetRectRgn(ra, 0, 0, 40, 30);
  SetRectRgn(rb, 40, 0, 100, 30);
  UnionRgn(ra, rb, rd);
  SetRectRgn(ra, 0, 0, 100, 30);
  EXPECT_TRUE(EqualRgn(rd, ra));
  EXPECT_TRUE(IsRegionRectangular(rd));
  OffsetRgn(rd, 5, 7);
  Rect bounds;
  GetRegionBounds(rd, &bounds);
  EXPECT_TRUE(sameRect(bounds, rect(5, 7, 105, 37)));

  for (RgnHandle rr : {ra, rb, rd}) DisposeRgn(rr);
  EXPECT_EQ(VTLiveHandleCount(), handlesBefore);

  RgnHandle rr = NewRgn();
  DisposeRgn(rr);
  // A disposed or null region reads as empty and is never written.
  EXPECT_TRUE(EmptyRgn(rr));
  EXPECT_TRUE(EmptyRgn(nullptr));
  EXPECT_FALSE(PtInRgn(Point{0, 0}, nullptr));
  bounds = Rect{1, 2, 3, 4};
  GetRegionBounds(nullptr, &bounds);
  EXPECT_TRUE(EmptyRect(&bounds));
  SetRectRgn(rr, 0, 0, 10, 10);
  UnionRgn(nullptr, rr, rr);
  DisposeRgn(rr);
  DisposeRgn(nullptr);
  // A plain handle of another size is not taken for a region.
  Handle h = NewHandle(4);
  EXPECT_TRUE(EmptyRgn((RgnHandle)h));
  DisposeHandle(h);
}

TEST(Regions, AgreeWithAPixelModelUnderRandomOperations) {
  // Every operation is checked point by point against a plain bitmap of the same shapes.
  constexpr int N = 48;
  unsigned seed = 12345;
  auto rnd = [&](int n) {
    seed = seed * 1103515245u + 12345u;
    return (int)((seed >> 16) % (unsigned)n);
  };
  RgnHandle acc = NewRgn(), tmp = NewRgn();
  std::vector<char> model(N * N, 0);
  for (int step = 0; step < 300; ++step) {
    short l = (short)rnd(N), t = (short)rnd(N);
    short r = (short)(l + rnd(N - l) + 1), b = (short)(t + rnd(N - t) + 1);
    SetRectRgn(tmp, l, t, r, b);
    int op = rnd(4);
    switch (op) {
      case 0: UnionRgn(acc, tmp, acc); break;
      case 1: SectRgn(acc, tmp, acc); break;
      case 2: DiffRgn(acc, tmp, acc); break;
      default: XorRgn(acc, tmp, acc); break;
    }
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x) {
        bool inRect = x >= l && x < r && y >= t && y < b;
        char& m = model[y * N + x];
        m = op == 0   ? (m || inRect)
            : op == 1 ? (m && inRect)
            : op == 2 ? (m && !inRect)
                      : (m != inRect);
      }
    // Keep the region from dying out so later steps stay interesting.
    if (EmptyRgn(acc)) {
      SetRectRgn(acc, 5, 5, 30, 30);
      for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) model[y * N + x] = x >= 5 && x < 30 && y >= 5 && y < 30;
    }
    int mismatches = 0;
    Rect want{N, N, 0, 0}, bounds;  // the model's bounding box
    for (short y = 0; y < N; ++y)
      for (short x = 0; x < N; ++x) {
        mismatches += (PtInRgn(Point{y, x}, acc) != 0) != (model[y * N + x] != 0);
        if (!model[y * N + x]) continue;
        want = Rect{std::min(want.top, y), std::min(want.left, x),
                    std::max(want.bottom, (short)(y + 1)), std::max(want.right, (short)(x + 1))};
      }
    ASSERT_EQ(mismatches, 0) << "after step " << step;
    GetRegionBounds(acc, &bounds);
    ASSERT_TRUE(sameRect(bounds, want)) << "after step " << step;
  }
  DisposeRgn(acc);
  DisposeRgn(tmp);
}

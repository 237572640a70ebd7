#include <MacMemory.h>
#include <gtest/gtest.h>

#include "core/picture.h"
#include "fixtures.h"
#include "ui/text.h"
#include "ui/window_server.h"
#include "ui_fixture.h"

using Drawing = HeadlessScreen;

namespace {

const RGBColor kRed{0xFFFF, 0, 0};
const RGBColor kBlue{0, 0, 0xFFFF};
const RGBColor kBlack{0, 0, 0};
constexpr UInt32 kRedPixel = 0xFFFF0000u;
constexpr UInt32 kWhitePixel = 0xFFFFFFFFu;

int countNonWhite(short left, short top, short right, short bottom) {
  int n = 0;
  for (short v = top; v < bottom; ++v)
    for (short h = left; h < right; ++h)
      if (VTAutomationScreenPixel(h, v) != kWhitePixel) ++n;
  return n;
}

}  // namespace

TEST_F(Drawing, PaintAndEraseShowOnScreenAtTheWindowsPlaceAndInSnapshots) {
  WindowRef w = drawIn(100, 100, 300, 250);
  RGBForeColor(&kRed);
  Rect r{10, 20, 30, 60};  // local
  PaintRect(&r);
  EXPECT_EQ(VTAutomationScreenPixel(100 + 20, 100 + 10), kRedPixel);
  EXPECT_EQ(VTAutomationScreenPixel(100 + 59, 100 + 29), kRedPixel);
  EXPECT_EQ(VTAutomationScreenPixel(100 + 60, 100 + 29), kWhitePixel);  // right edge excluded
  RGBColor fg;
  GetForeColor(&fg);
  EXPECT_EQ(fg.red, 0xFFFF);
  EraseRect(&r);
  EXPECT_EQ(VTAutomationScreenPixel(120, 110), kWhitePixel);

  // The backing store keeps the drawing while another window covers and uncovers it.
  PaintRect(&r);
  WindowRef cover = makeWindow(90, 90, 200, 200);
  EXPECT_NE(VTAutomationScreenPixel(120, 110), kRedPixel);
  DisposeWindow(cover);
  EXPECT_EQ(VTAutomationScreenPixel(120, 110), kRedPixel);
  // Moving the window carries its content along.
  MoveWindow(w, 400, 300, false);
  EXPECT_EQ(VTAutomationScreenPixel(420, 310), kRedPixel);

  // A snapshot writes the screen as PNG, the title bar drawn above the content.
  std::string dir = vt_test::tempDir("snapshot");
  ASSERT_TRUE(VTAutomationSnapshot(dir + "/screen.png"));
  vt::Image img;
  ASSERT_TRUE(vt::readPNG((dir + "/screen.png").c_str(), img));
  EXPECT_EQ(img.width, 800);
  EXPECT_EQ(img.height, 600);
  EXPECT_EQ(img.at(420, 310) & 0xFFFFFF, 0xFF0000u);
  EXPECT_NE(img.at(500, 285), img.at(5, 300));
  EXPECT_FALSE(VTAutomationSnapshot(dir + "/no/such/dir/x.png"));
}

TEST_F(Drawing, ClippingLinesFramesAndPatterns) {
  WindowRef w = drawIn(100, 100, 300, 250);
  RGBForeColor(&kRed);
  Rect clip{0, 0, 20, 20};
  ClipRect(&clip);
  Rect all{0, 0, 150, 200};
  PaintRect(&all);
  EXPECT_EQ(VTAutomationScreenPixel(110, 110), kRedPixel);
  EXPECT_EQ(VTAutomationScreenPixel(130, 110), kWhitePixel);
  Rect wide{-32767, -32767, 32767, 32767};
  ClipRect(&wide);

  // Between BeginUpdate and EndUpdate drawing lands only in the update region.
  drainUpdates();
  RGBForeColor(&kBlue);
  Rect part{50, 50, 60, 60};
  InvalWindowRect(w, &part);
  BeginUpdate(w);
  PaintRect(&all);
  EndUpdate(w);
  EXPECT_EQ(VTAutomationScreenPixel(155, 155), 0xFF0000FFu);
  EXPECT_EQ(VTAutomationScreenPixel(110, 110), kRedPixel);  // outside the update: untouched

  // Lines, frames and patterns.
  RGBForeColor(&kBlack);
  MoveTo(10, 10);
  LineTo(60, 10);
  EXPECT_EQ(VTAutomationScreenPixel(130, 110), 0xFF000000u);
  Point pen;
  GetPen(&pen);
  EXPECT_EQ(pen.h, 60);
  // A diagonal with a 3x3 pen covers both ends.
  PenSize(3, 3);
  MoveTo(10, 20);
  LineTo(40, 50);
  EXPECT_EQ(VTAutomationScreenPixel(111, 121), 0xFF000000u);
  EXPECT_EQ(VTAutomationScreenPixel(142, 152), 0xFF000000u);
  PenNormal();
  Rect f{100, 100, 120, 140};
  FrameRect(&f);
  EXPECT_EQ(VTAutomationScreenPixel(200, 200), 0xFF000000u);  // corner
  EXPECT_EQ(VTAutomationScreenPixel(210, 210), kWhitePixel);  // inside
  InvertRect(&f);
  EXPECT_EQ(VTAutomationScreenPixel(200, 200), kWhitePixel);
  EXPECT_EQ(VTAutomationScreenPixel(210, 210), 0xFF000000u);
  Pattern gray;
  GetQDGlobalsGray(&gray);
  Rect p{0, 150, 8, 158};
  FillRect(&p, &gray);
  EXPECT_EQ(countNonWhite(250, 100, 258, 108), 32);  // half the pixels
}

TEST_F(Drawing, TextIsDrawnMeasuredAndCachedInEveryScript) {
  ASSERT_TRUE(vt::ui::fontsAvailable()) << "DejaVu Sans is needed";
  drawIn(100, 100, 400, 250);
  TextSize(12);
  short w1 = StringWidth((ConstStr255Param) "\x01W");
  short w5 = StringWidth((ConstStr255Param) "\x05WWWWW");
  EXPECT_GT(w1, 3);
  EXPECT_GT(w5, w1 * 4);
  EXPECT_EQ(StringWidth((ConstStr255Param) "\x00"), 0);
  TextFace(bold);
  EXPECT_GE(StringWidth((ConstStr255Param) "\x05WWWWW"), w5);
  TextFace(normal);
  TextSize(24);
  EXPECT_GT(StringWidth((ConstStr255Param) "\x05WWWWW"), w5 * 3 / 2);
  FontInfo fi;
  GetFontInfo(&fi);
  EXPECT_GT(fi.ascent, 10);
  EXPECT_GT(fi.descent, 1);
  EXPECT_GE(fi.widMax, w5 / 5);

  EXPECT_EQ(countNonWhite(100, 100, 400, 150), 0);
  MoveTo(10, 30);
  DrawString((ConstStr255Param) "\x05Hello");
  EXPECT_GT(countNonWhite(100, 100, 400, 150), 40);
  Point pen;
  GetPen(&pen);
  EXPECT_GT(pen.h, 10 + 40);  // the pen advanced past the text
  // Bytes that are not UTF-8 (classic Mac Roman text) still draw as their characters.
  MoveTo(10, 80);
  DrawString((ConstStr255Param) "\x02\x80\x8E");  // "Äé"
  EXPECT_GT(countNonWhite(100, 150, 400, 200), 20);
  EXPECT_EQ(vt::ui::toolboxToUtf8("\x80\xA5"), "\xC3\x84\xE2\x80\xA2");
  EXPECT_EQ(vt::ui::toolboxToUtf8("Äé 日本"), "Äé 日本");
  // Cut to a byte limit between characters, never inside one; malformed bytes dropped.
  EXPECT_EQ(vt::ui::utf8ToToolbox("ab日本", 6), "ab日");
  EXPECT_EQ(vt::ui::utf8ToToolbox(std::string("a\xFF") + "b", 255), "ab");

  vt::Image img(100, 64, vt::makePixel(255, 255, 255));
  vt::ui::TextStyle st;
  // Truncated and invalid UTF-8 draws replacement glyphs without reading past the end.
  EXPECT_GT(vt::ui::drawText(img, 2, 20, "ab\xC3", st), 0);
  EXPECT_GT(vt::ui::measureText("\xFF\xFE", 12, false), 0);
  // Drawing far outside the image is clipped away.
  EXPECT_GT(vt::ui::drawText(img, -5000, 20, "text", st), 0);
  EXPECT_GT(vt::ui::drawText(img, 5, 5000, "text", st), 0);
  EXPECT_EQ(vt::ui::measureText("", 12, false), 0);

  int before = vt::ui::measureText("Hello", 12, false);
  // Hundreds of large sizes overflow the cache; drawing goes on correctly after it is emptied.
  for (int size = 100; size < 420; ++size) {
    st.size = size;
    EXPECT_GT(vt::ui::drawText(img, 0, 60, "Wg", st), size / 2);
  }
  EXPECT_EQ(vt::ui::measureText("Hello", 12, false), before);
  // Sizes out of range are clamped, not passed on to the rasteriser.
  EXPECT_GT(vt::ui::measureText("W", -4, false), 0);
  EXPECT_LE(vt::ui::measureText("W", 100000, false), vt::ui::measureText("W", 512, false));

  // Every script a file name may use draws ink and advances: Latin, Greek, Cyrillic from
  // DejaVu; Japanese and Chinese from the fallback font.
  const char* names[] = {"ünïcödé", "Ελληνικά", "Кириллица", "ひらがな", "日本語", "中文名"};
  DisposeWindow(FrontWindow());  // a new window in its place is not moved aside
  Rect c;
  GetWindowBounds(drawIn(100, 100, 400, 420), kWindowContentRgn, &c);
  ASSERT_EQ(c.top, 100);
  TextSize(14);
  for (int row = 0; row < 6; ++row) {
    std::string name(names[row]);
    Str255 p;
    vt::toPascal(name, p);
    EXPECT_GT(StringWidth(p), 20) << name;
    MoveTo(10, (short)(row * 30 + 20));
    DrawString(p);
    EXPECT_GT(countNonWhite(100, (short)(100 + row * 30), 400, (short)(130 + row * 30)), 30)
        << name;
  }
}

TEST_F(Drawing, PicturesDrawScaledAndOffscreenPortsIntoTheirOwnImage) {
  drawIn(100, 100, 300, 250);
  vt::Image src(2, 2, vt::makePixel(0, 200, 0));
  long before = VTLiveHandleCount();
  PicHandle pic = vt::makePicture(src);
  ASSERT_NE(pic, nullptr);
  Rect dst{10, 10, 50, 90};
  DrawPicture(pic, &dst);
  EXPECT_EQ(VTAutomationScreenPixel(110 + 40, 110 + 20), vt::makePixel(0, 200, 0));
  EXPECT_EQ(VTAutomationScreenPixel(100 + 95, 100 + 5), kWhitePixel);
  KillPicture(pic);
  EXPECT_EQ(VTLiveHandleCount(), before);
  // A handle that is not a picture draws nothing.
  Handle junk = NewHandleClear(8);
  DrawPicture((PicHandle)junk, &dst);
  DisposeHandle(junk);

  // An offscreen port draws into its own image.
  VTPort* off = vt::ui::newOffscreenPort(40, 30);
  ASSERT_NE(off, nullptr);
  GrafPtr saved;
  GetPort(&saved);
  SetPort(off);
  RGBForeColor(&kRed);
  Rect r{0, 0, 30, 40};
  PaintRect(&r);
  EXPECT_EQ(off->pixels->at(39, 29), kRedPixel);
  PixMapHandle pm = GetPortPixMap(off);
  ASSERT_NE(pm, nullptr);
  EXPECT_EQ((*pm)->pixelSize, 32);
  EXPECT_EQ((*pm)->rowBytes, 160);
  SetPort(saved);
  vt::ui::disposeOffscreenPort(off);
  GrafPtr now;
  GetPort(&now);
  EXPECT_EQ(now, saved);
}

// The text calls: drawing and measuring toolbox text in the current port's font and style.
#include <MacErrors.h>
#include <MacMemory.h>
#include <Quickdraw.h>

#include "core/boundary.h"
#include "ui/quickdraw.h"
#include "ui/server_state.h"
#include "ui/text.h"

using namespace vt::ui;

namespace {

TextStyle styleOf(const VTPort* p) {
  TextStyle s;
  s.size = p->txSize > 0 ? p->txSize : 12;
  s.bold = (p->txFace & bold) != 0;
  s.color = toPixel(p->fg);
  return s;
}

}  // namespace

// Text

void DrawText(const void* textBuf, short firstByte, short byteCount) {
  vt::apiCall(recordQD, [&] {
    if (!textBuf || byteCount <= 0 || firstByte < 0) return;
    VTPort* p = currentPort();
    std::string_view s((const char*)textBuf + firstByte, (size_t)byteCount);
    int adv = drawString(p, p->pnLoc.h, p->pnLoc.v, s, styleOf(p));
    p->pnLoc.h = (short)(p->pnLoc.h + adv);
  });
}

void DrawString(ConstStr255Param s) {
  vt::apiCall(recordQD, [&] {
    if (s) DrawText(s + 1, 0, s[0]);
  });
}

void DrawChar(short ch) {
  vt::apiCall(recordQD, [&] {
    char c = (char)ch;
    DrawText(&c, 0, 1);
  });
}

short TextWidth(const void* textBuf, short firstByte, short byteCount) {
  return vt::apiCall<short>(recordQD, {}, [&]() -> short {
    if (!textBuf || byteCount <= 0 || firstByte < 0) return 0;
    VTPort* p = currentPort();
    TextStyle st = styleOf(p);
    std::string utf8 =
        toolboxToUtf8(std::string_view((const char*)textBuf + firstByte, (size_t)byteCount));
    return (short)std::min(32767, measureText(utf8, st.size, st.bold));
  });
}

short StringWidth(ConstStr255Param s) {
  return vt::apiCall<short>(recordQD, {},
                            [&]() -> short { return s ? TextWidth(s + 1, 0, s[0]) : 0; });
}

short CharWidth(short ch) {
  return vt::apiCall<short>(recordQD, {}, [&]() -> short {
    char c = (char)ch;
    return TextWidth(&c, 0, 1);
  });
}

void TextSize(short size) {
  vt::apiCall(recordQD, [&] { currentPort()->txSize = size < 0 ? 0 : size; });
}
void TextFont(short font) {
  vt::apiCall(recordQD, [&] { currentPort()->txFont = font; });
}
void TextFace(StyleParameter face) {
  vt::apiCall(recordQD, [&] { currentPort()->txFace = (Style)face; });
}
void TextMode(short mode) {
  vt::apiCall(recordQD, [&] { currentPort()->txMode = mode; });
}

void GetFontInfo(FontInfo* info) {
  vt::apiCall(recordQD, [&] {
    if (!info) return;
    TextStyle st = styleOf(currentPort());
    FontMetrics m = fontMetrics(st.size, st.bold);
    info->ascent = (short)m.ascent;
    info->descent = (short)m.descent;
    info->widMax = (short)m.widMax;
    info->leading = (short)m.leading;
  });
}

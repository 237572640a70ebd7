// Text drawn with FreeType (DejaVu Sans and DejaVu Sans Bold).
#pragma once
#include <MacTypes.h>

#include <string>
#include <string_view>

#include "core/image.h"

namespace vt::ui {

struct TextStyle {
  int size = 12;  // pixels per em
  bool bold = false;
  Pixel color = makePixel(0, 0, 0);
};

struct FontMetrics {
  int ascent = 0;
  int descent = 0;  // positive, below the baseline
  int leading = 0;
  int widMax = 0;
};

// False when the fonts cannot be loaded; text then draws nothing and measures zero.
bool fontsAvailable();
FontMetrics fontMetrics(int size, bool bold);
// Width in pixels of a UTF-8 string.
int measureText(std::string_view utf8, int size, bool bold);
// Draws UTF-8 text with its baseline at y, starting at x, blended into dst within `clip`
// (dst coordinates; null = all of dst). Returns the advance width.
int drawText(Image& dst, int x, int y, std::string_view utf8, const TextStyle& style,
             const Rect* clip = nullptr);

// Mac Roman (the toolbox's string encoding) to UTF-8.
std::string macRomanToUtf8(std::string_view macRoman);
// A length-prefixed string to UTF-8; null gives "".
std::string pascalToUtf8(const unsigned char* pstr);
// UTF-8 to Mac Roman; characters without a Mac Roman form become '?'.
std::string utf8ToMacRoman(std::string_view utf8);

}  // namespace vt::ui

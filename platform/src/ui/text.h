// Text drawn with FreeType: DejaVu Sans and DejaVu Sans Bold, and for characters they lack
// (Chinese, Japanese...) the fonts fontconfig finds for them.
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

// A toolbox string (UTF-8; bytes that are not read as Mac Roman) as UTF-8.
std::string toolboxToUtf8(std::string_view bytes);
// A length-prefixed toolbox string as UTF-8; null gives "".
std::string pascalToUtf8(const unsigned char* pstr);
// UTF-8 for a toolbox string: at most maxBytes, cut between characters.
std::string utf8ToToolbox(std::string_view utf8, size_t maxBytes = 255);

}  // namespace vt::ui

// What the navigation dialogs need to draw themselves: rectangles, text and pictures in the
// dialog's local coordinates. The window glue implements it over the window's backing store.
#pragma once
#include <MacTypes.h>

#include <string>

#include "core/image.h"

namespace vt::nav {

class Painter {
 public:
  virtual ~Painter() = default;
  virtual void fill(const Rect& r, Pixel colour) = 0;
  virtual void frame(const Rect& r, Pixel colour, int thickness = 1) = 0;
  // UTF-8 text with its baseline at y.
  virtual void text(int x, int baseline, const std::string& utf8, int size, Pixel colour,
                    bool bold = false) = 0;
  virtual int textWidth(const std::string& utf8, int size, bool bold = false) = 0;
  // Draws img scaled into r.
  virtual void image(const Rect& r, const Image& img) = 0;
};

// Palette shared by the dialogs.
namespace colour {
constexpr Pixel background = makePixel(236, 236, 236);
constexpr Pixel white = makePixel(255, 255, 255);
constexpr Pixel black = makePixel(0, 0, 0);
constexpr Pixel border = makePixel(150, 150, 150);
constexpr Pixel dim = makePixel(160, 160, 160);
constexpr Pixel selection = makePixel(56, 117, 215);
constexpr Pixel selectionText = makePixel(255, 255, 255);
constexpr Pixel accent = makePixel(40, 90, 190);
constexpr Pixel sheet = makePixel(248, 248, 248);
constexpr Pixel folder = makePixel(110, 150, 210);
}  // namespace colour

inline Rect makeRect(int left, int top, int right, int bottom) {
  return Rect{(short)top, (short)left, (short)bottom, (short)right};
}
inline bool inRect(const Rect& r, int x, int y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace vt::nav

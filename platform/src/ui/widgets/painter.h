// The widget kit's drawing: one palette, a painter interface that controls draw through (into a
// window's port, or into an image), and the text helpers every dialog shares.
#pragma once
#include <MacTypes.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/image.h"

struct VTPort;

namespace vt::ui {

// The palette of every dialog and control.
namespace colour {
constexpr Pixel background = makePixel(236, 236, 236);  // dialog face
constexpr Pixel white = makePixel(255, 255, 255);
constexpr Pixel black = makePixel(0, 0, 0);
constexpr Pixel border = makePixel(150, 150, 150);  // control frames
constexpr Pixel dim = makePixel(160, 160, 160);     // disabled ink
constexpr Pixel selection = makePixel(56, 117, 215);
constexpr Pixel selectionText = makePixel(255, 255, 255);
constexpr Pixel textSelection = makePixel(180, 205, 245);  // selected text in a focused field
constexpr Pixel inactiveSelection = makePixel(212, 212, 212);
constexpr Pixel accent = makePixel(40, 90, 190);  // default ring, focus ring
constexpr Pixel fill = makePixel(150, 180, 235);  // slider fill
constexpr Pixel sheet = makePixel(248, 248, 248);
constexpr Pixel folder = makePixel(110, 150, 210);
}  // namespace colour

constexpr int kControlTextSize = 12;

inline Rect makeRect(int left, int top, int right, int bottom) {
  return Rect{(short)top, (short)left, (short)bottom, (short)right};
}
inline bool inRect(const Rect& r, int x, int y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}
// r grown by d on every side (shrunk for negative d).
inline Rect outset(const Rect& r, int d) {
  return makeRect(r.left - d, r.top - d, r.right + d, r.bottom + d);
}

class Painter {
 public:
  virtual ~Painter() = default;
  virtual void fill(const Rect& r, Pixel colour) = 0;
  // UTF-8 text with its baseline at y; returns the advance.
  virtual int text(int x, int baseline, std::string_view utf8, int size, Pixel colour,
                   bool bold = false) = 0;
  // The platform's text measure unless a painter has its own.
  virtual int textWidth(std::string_view utf8, int size, bool bold = false);
  // Draws img scaled into r.
  virtual void image(const Rect& r, const Image& img) = 0;

  // A frame of the given thickness lying inside r.
  void frame(const Rect& r, Pixel colour, int thickness = 1);
  // Keeps what is drawn next inside r (local); null lifts the limit.
  void clip(const Rect* r);
  // The baseline that centres one line of text of `size` vertically in r.
  int centredBaseline(const Rect& r, int size, bool bold = false);

 protected:
  // r cut to the clip; the clip itself (null when none).
  Rect clipped(const Rect& r) const;
  const Rect* clipRect() const { return clipped_ ? &clip_ : nullptr; }

 private:
  Rect clip_{};
  bool clipped_ = false;
};

// Draws into an image (a dialog's canvas) with the platform's text.
class ImagePainter : public Painter {
 public:
  explicit ImagePainter(Image& target) : img_(target) {}
  void fill(const Rect& r, Pixel c) override;
  int text(int x, int baseline, std::string_view utf8, int size, Pixel c,
           bool bold = false) override;
  void image(const Rect& r, const Image& src) override;

 private:
  Rect bounds(const Rect& r) const;  // cut to the image and the clip
  Image& img_;
};

// Draws into a window's (or offscreen) port, local coordinates, within the port's clipping.
class PortPainter : public Painter {
 public:
  explicit PortPainter(VTPort* port) : port_(port) {}
  void fill(const Rect& r, Pixel c) override;
  int text(int x, int baseline, std::string_view utf8, int size, Pixel c,
           bool bold = false) override;
  void image(const Rect& r, const Image& src) override;

 private:
  VTPort* port_;
};

// UTF-8 code point boundaries: the byte offset after (before) the character at (ending at) i.
size_t nextCharBoundary(std::string_view s, size_t i);
size_t prevCharBoundary(std::string_view s, size_t i);

// Splits text into lines no wider than `width`: at returns, then at spaces; a word wider than
// a line is cut between characters, never inside a UTF-8 sequence.
std::vector<std::string> wrapText(Painter& p, std::string_view text, int width, int size,
                                  bool bold = false);
// Text cut with "…" to fit width.
std::string fitText(Painter& p, std::string_view text, int width, int size, bool bold = false);

}  // namespace vt::ui

#include "ui/widgets/painter.h"

#include <algorithm>

#include "ui/text.h"
#include "ui/window_server.h"

namespace vt::ui {

namespace {

Rect intersect(const Rect& a, const Rect& b) {
  return makeRect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                  std::min(a.bottom, b.bottom));
}

bool empty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

TextStyle styleOf(int size, Pixel colour, bool bold) {
  TextStyle st;
  st.size = size;
  st.bold = bold;
  st.color = colour;
  return st;
}

bool isContinuation(char c) { return ((unsigned char)c & 0xC0) == 0x80; }

}  // namespace

int Painter::centredBaseline(const Rect& r, int size, bool bold) {
  FontMetrics m = fontMetrics(size, bold);
  return (r.top + r.bottom) / 2 + (m.ascent - m.descent) / 2;
}

int Painter::textWidth(std::string_view utf8, int size, bool bold) {
  return measureText(utf8, size, bold);
}

void Painter::frame(const Rect& r, Pixel c, int t) {
  fill(makeRect(r.left, r.top, r.right, r.top + t), c);
  fill(makeRect(r.left, r.bottom - t, r.right, r.bottom), c);
  fill(makeRect(r.left, r.top, r.left + t, r.bottom), c);
  fill(makeRect(r.right - t, r.top, r.right, r.bottom), c);
}

void Painter::clip(const Rect* r) {
  clipped_ = r != nullptr;
  if (r) clip_ = *r;
}

Rect Painter::clipped(const Rect& r) const { return clipped_ ? intersect(r, clip_) : r; }

// Image painter

Rect ImagePainter::bounds(const Rect& r) const {
  return clipped(intersect(r, makeRect(0, 0, img_.width, img_.height)));
}

void ImagePainter::fill(const Rect& r, Pixel c) {
  Rect k = bounds(r);
  for (int y = k.top; y < k.bottom; ++y) std::fill(img_.row(y) + k.left, img_.row(y) + k.right, c);
}

int ImagePainter::text(int x, int baseline, std::string_view utf8, int size, Pixel c, bool bold) {
  Rect k = bounds(makeRect(0, 0, img_.width, img_.height));
  return drawText(img_, x, baseline, utf8, styleOf(size, c, bold), &k);
}

void ImagePainter::image(const Rect& r, const Image& src) {
  if (src.empty() || empty(r)) return;
  Image scaled(r.right - r.left, r.bottom - r.top);
  scaleImage(src, scaled);
  Rect k = bounds(r);
  for (int y = k.top; y < k.bottom; ++y)
    for (int x = k.left; x < k.right; ++x)
      img_.at(x, y) = scaled.at(x - r.left, y - r.top) | 0xFF000000u;
}

// Port painter

void PortPainter::fill(const Rect& r, Pixel c) {
  Rect k = clipped(r);
  if (!empty(k)) fillRect(port_, k, c);
}

int PortPainter::text(int x, int baseline, std::string_view utf8, int size, Pixel c, bool bold) {
  return drawUtf8(port_, x, baseline, utf8, styleOf(size, c, bold), clipRect());
}

void PortPainter::image(const Rect& r, const Image& src) {
  if (src.empty() || empty(r)) return;
  Rect k = clipped(r);
  if (empty(k)) return;
  if (k.left == r.left && k.top == r.top && k.right == r.right && k.bottom == r.bottom) {
    drawImage(port_, src, r);
    return;
  }
  // Scaled to the whole of r, shown only inside the clip.
  Image scaled(r.right - r.left, r.bottom - r.top);
  scaleImage(src, scaled);
  Image part(k.right - k.left, k.bottom - k.top);
  for (int y = 0; y < part.height; ++y)
    std::copy_n(scaled.row(y + k.top - r.top) + (k.left - r.left), part.width, part.row(y));
  drawImage(port_, part, k);
}

// Text

size_t nextCharBoundary(std::string_view s, size_t i) {
  if (i >= s.size()) return s.size();
  ++i;
  while (i < s.size() && isContinuation(s[i])) ++i;
  return i;
}

size_t prevCharBoundary(std::string_view s, size_t i) {
  if (i == 0) return 0;
  i = std::min(i, s.size()) - 1;
  while (i > 0 && isContinuation(s[i])) --i;
  return i;
}

namespace {

void wrapParagraph(Painter& p, std::string_view text, int width, int size, bool bold,
                   std::vector<std::string>& lines) {
  std::string line;
  size_t i = 0;
  while (i < text.size()) {
    size_t sp = text.find(' ', i);
    size_t end = sp == std::string_view::npos ? text.size() : sp;
    std::string word(text.substr(i, end - i));
    i = sp == std::string_view::npos ? text.size() : sp + 1;
    std::string candidate = line.empty() ? word : line + " " + word;
    if (p.textWidth(candidate, size, bold) <= width) {
      line = candidate;
      continue;
    }
    if (!line.empty()) lines.push_back(line);
    line.clear();
    // A word wider than a whole line is cut at character boundaries.
    while (word.size() > 1 && p.textWidth(word, size, bold) > width) {
      size_t cut = word.size();
      while (cut > 0 && p.textWidth(std::string_view(word).substr(0, cut), size, bold) > width)
        cut = prevCharBoundary(word, cut);
      if (cut == 0) cut = nextCharBoundary(word, 0);  // not even one character fits
      lines.push_back(word.substr(0, cut));
      word.erase(0, cut);
    }
    line = word;
  }
  lines.push_back(line);
}

}  // namespace

std::vector<std::string> wrapText(Painter& p, std::string_view text, int width, int size,
                                  bool bold) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
    wrapParagraph(p, text.substr(start, i - start), width, size, bold, lines);
    start = i + 1;
  }
  return lines;
}

std::string fitText(Painter& p, std::string_view text, int width, int size, bool bold) {
  if (p.textWidth(text, size, bold) <= width) return std::string(text);
  static constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
  size_t n = text.size();
  while (n > 0 &&
         p.textWidth(std::string(text.substr(0, n)) + std::string(kEllipsis), size, bold) > width)
    n = prevCharBoundary(text, n);
  return std::string(text.substr(0, n)) + std::string(kEllipsis);
}

}  // namespace vt::ui

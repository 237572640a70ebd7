// A painter that records what was drawn, with fixed-width text, so dialog tests need no fonts.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "nav/painter.h"

namespace nav_test {

class RecordingPainter : public vt::nav::Painter {
 public:
  struct Text {
    int x, y;
    std::string s;
    bool bold;
  };
  std::vector<Text> texts;
  int images = 0;

  void fill(const Rect&, vt::Pixel) override {}
  void frame(const Rect&, vt::Pixel, int) override {}
  void text(int x, int baseline, const std::string& s, int, vt::Pixel, bool bold) override {
    texts.push_back({x, baseline, s, bold});
  }
  int textWidth(const std::string& s, int, bool) override {
    int chars = 0;
    for (unsigned char c : s)
      if ((c & 0xC0) != 0x80) ++chars;
    return chars * 7;
  }
  void image(const Rect&, const vt::Image&) override { ++images; }

  bool drew(const std::string& s) const {
    return std::any_of(texts.begin(), texts.end(), [&](const Text& t) { return t.s == s; });
  }
  bool drewContaining(const std::string& s) const {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const Text& t) { return t.s.find(s) != std::string::npos; });
  }
};

}  // namespace nav_test

// A painter that records what was drawn, with fixed-width text, so dialog tests need no fonts.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "ui/widgets/painter.h"

namespace vt_test {

constexpr int kCharWidth = 7;

inline int fixedWidth(std::string_view s) {  // in characters, not UTF-8 bytes
  return kCharWidth *
         (int)std::count_if(s.begin(), s.end(), [](unsigned char c) { return (c & 0xC0) != 0x80; });
}

class RecordingPainter : public vt::ui::Painter {
 public:
  struct Text {
    int x, y;
    std::string s;
    bool bold;
  };
  std::vector<Text> texts;
  int images = 0;

  void fill(const Rect&, vt::Pixel) override {}
  int text(int x, int baseline, std::string_view s, int, vt::Pixel, bool bold) override {
    texts.push_back({x, baseline, std::string(s), bold});
    return fixedWidth(s);
  }
  int textWidth(std::string_view s, int, bool) override { return fixedWidth(s); }
  void image(const Rect&, const vt::Image&) override { ++images; }

  bool drew(const std::string& s) const {
    return std::any_of(texts.begin(), texts.end(), [&](const Text& t) { return t.s == s; });
  }
  bool drewContaining(const std::string& s) const {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const Text& t) { return t.s.find(s) != std::string::npos; });
  }
};

}  // namespace vt_test

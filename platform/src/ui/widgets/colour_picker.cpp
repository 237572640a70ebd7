#include "ui/widgets/colour_picker.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "core/image.h"

namespace vt::ui {
namespace {

constexpr int kSquare = 160;
constexpr int kTop = 34;
constexpr int kFieldLeft = 356;
constexpr int kFieldWidth = 56;
constexpr int kFieldPitch = 24;

RGBColor fromHSV(double h, double s, double v) {
  h = std::fmod(std::fmod(h, 360.0) + 360.0, 360.0) / 60.0;
  int i = (int)h;
  double f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  double r, g, b;
  switch (i) {
    case 0: r = v, g = t, b = p; break;
    case 1: r = q, g = v, b = p; break;
    case 2: r = p, g = v, b = t; break;
    case 3: r = p, g = q, b = v; break;
    case 4: r = t, g = p, b = v; break;
    default: r = v, g = p, b = q; break;
  }
  auto c = [](double x) { return (unsigned short)std::lround(std::clamp(x, 0.0, 1.0) * 65535); };
  return RGBColor{c(r), c(g), c(b)};
}

Pixel pixelOf(const RGBColor& c) {
  return makePixel((uint8_t)(c.red >> 8), (uint8_t)(c.green >> 8), (uint8_t)(c.blue >> 8));
}

bool isDigit(char32_t c) { return c >= '0' && c <= '9'; }

}  // namespace

const std::array<RGBColor, 6>& colourQuickPicks() {
  static const std::array<RGBColor, 6> picks = {{{0, 0, 0},
                                                 {65535, 65535, 65535},
                                                 {65535, 0, 0},
                                                 {0, 65535, 0},
                                                 {0, 0, 65535},
                                                 {65535, 65535, 0}}};
  return picks;
}

const char* ColourPicker::fieldLabel(int f) {
  static const char* labels[] = {"Red", "Green", "Blue", "Hue", "Saturation", "Value", "Hex"};
  return f >= 0 && f < kFieldCount ? labels[f] : "";
}

ColourPicker::ColourPicker(std::string prompt, RGBColor initial)
    : prompt_(std::move(prompt)), original_(initial) {
  for (int f = 0; f < kFieldCount; ++f) {
    fields_[(size_t)f].setMaxChars(f == hex ? 7 : 3);
    fields_[(size_t)f].setFilter(f == hex
                                     ? [](char32_t c) { return std::isxdigit((int)c) || c == '#'; }
                                     : [](char32_t c) { return isDigit(c); });
  }
  focus_.setOrder({hex, red, green, blue, hue, saturation, value});
  buttons_.push_back(Button::pushButton(
      "Cancel", false, makeRect(kWidth - 190, kHeight - 36, kWidth - 106, kHeight - 12)));
  buttons_.push_back(Button::pushButton(
      "OK", true, makeRect(kWidth - 96, kHeight - 36, kWidth - 12, kHeight - 12)));
  setColour(initial);
  fields_[hex].selectAll();
}

void ColourPicker::setColour(RGBColor c) {
  rgb_ = c;
  double r = c.red / 65535.0, g = c.green / 65535.0, b = c.blue / 65535.0;
  double hi = std::max({r, g, b}), lo = std::min({r, g, b}), d = hi - lo;
  v_ = hi;
  s_ = hi > 0 ? d / hi : 0;
  if (d > 0) {  // grey keeps the hue it had
    double h = hi == r ? std::fmod((g - b) / d, 6.0) : hi == g ? (b - r) / d + 2 : (r - g) / d + 4;
    h_ = std::fmod(h * 60 + 360, 360);
  }
  syncFields();
}

void ColourPicker::setHSV(double h, double s, double v) {
  h_ = std::fmod(std::fmod(h, 360.0) + 360.0, 360.0);
  s_ = std::clamp(s, 0.0, 1.0);
  v_ = std::clamp(v, 0.0, 1.0);
  rgb_ = fromHSV(h_, s_, v_);
  syncFields();
}

std::string ColourPicker::hexText() const {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X%02X%02X", rgb_.red >> 8, rgb_.green >> 8, rgb_.blue >> 8);
  return buf;
}

void ColourPicker::syncFields(int except) {
  long values[] = {rgb_.red >> 8,         rgb_.green >> 8,       rgb_.blue >> 8,
                   std::lround(h_) % 360, std::lround(s_ * 100), std::lround(v_ * 100)};
  for (int f = 0; f < kFieldCount; ++f) {
    if (f == except) continue;
    fields_[(size_t)f].setText(f == hex ? hexText() : std::to_string(values[f]));
  }
}

bool ColourPicker::commit(int f) {
  if (f < 0 || f >= kFieldCount) return true;
  std::string t = fields_[(size_t)f].text();
  bool ok = !t.empty();
  if (ok && f == hex) {
    if (t[0] == '#') t.erase(0, 1);
    ok = t.size() == 6 && t.find('#') == std::string::npos;
    if (ok) {
      unsigned long v = std::stoul(t, nullptr, 16);
      auto c = [](unsigned long x) { return (unsigned short)(x * 257); };
      RGBColor rgb{c((v >> 16) & 0xFF), c((v >> 8) & 0xFF), c(v & 0xFF)};
      if (rgb.red != rgb_.red || rgb.green != rgb_.green || rgb.blue != rgb_.blue) setColour(rgb);
    }
  } else if (ok) {
    long n = std::stol(t);
    long limit = f <= blue ? 255 : f == hue ? 359 : 100;
    ok = n <= limit;
    if (ok) {
      long current[] = {rgb_.red >> 8,         rgb_.green >> 8,       rgb_.blue >> 8,
                        std::lround(h_) % 360, std::lround(s_ * 100), std::lround(v_ * 100)};
      if (n != current[f]) {
        if (f <= blue) {
          RGBColor c = rgb_;
          unsigned short* parts[] = {&c.red, &c.green, &c.blue};
          *parts[f] = (unsigned short)(n * 257);
          setColour(c);
        } else {
          setHSV(f == hue ? (double)n : h_, f == saturation ? n / 100.0 : s_,
                 f == value ? n / 100.0 : v_);
        }
      }
    }
  }
  if (!ok) ++beeps_;
  syncFields();
  return ok;
}

bool ColourPicker::focusField(int f) {
  int was = focus_.focused();
  if (was == f) return false;
  commit(was);
  focus_.focus(f);
  fields_[(size_t)f].selectAll();
  return true;
}

int ColourPicker::takeBeeps() {
  int b = beeps_;
  beeps_ = 0;
  return b;
}

Rect ColourPicker::squareRect() const { return makeRect(12, kTop, 12 + kSquare, kTop + kSquare); }
Rect ColourPicker::hueRect() const {
  return makeRect(12 + kSquare + 10, kTop, 12 + kSquare + 28, kTop + kSquare);
}
Rect ColourPicker::swatchRect(int k) const {
  int x = 12 + k * 26;
  return makeRect(x, kHeight - 34, x + 20, kHeight - 14);
}
Rect ColourPicker::fieldRect(int f) const {
  int y = kTop + f * kFieldPitch;
  return makeRect(kFieldLeft, y, kFieldLeft + kFieldWidth, y + 20);
}

void ColourPicker::pickSquare(int x, int y) {
  Rect r = squareRect();
  double s = std::clamp((double)(x - r.left) / (kSquare - 1), 0.0, 1.0);
  double v = 1 - std::clamp((double)(y - r.top) / (kSquare - 1), 0.0, 1.0);
  setHSV(h_, s, v);
}

void ColourPicker::pickHue(int y) {
  Rect r = hueRect();
  setHSV(std::clamp((double)(y - r.top) / kSquare, 0.0, 1.0) * 359.0, s_, v_);
}

bool ColourPicker::accept() {
  if (!commit(focus_.focused())) return false;
  state_ = State::accepted;
  return true;
}

bool ColourPicker::click(int x, int y, uint32_t ticks, bool shift) {
  if (inRect(squareRect(), x, y)) {
    commit(focus_.focused());
    drag_ = Drag::square;
    pickSquare(x, y);
    return true;
  }
  if (inRect(outset(hueRect(), 2), x, y)) {
    commit(focus_.focused());
    drag_ = Drag::hue;
    pickHue(y);
    return true;
  }
  for (int k = 0; k < (int)colourQuickPicks().size(); ++k)
    if (inRect(swatchRect(k), x, y)) {
      commit(focus_.focused());
      setColour(colourQuickPicks()[(size_t)k]);
      return true;
    }
  for (int f = 0; f < kFieldCount; ++f)
    if (inRect(fieldRect(f), x, y)) {
      bool changed = focusField(f);
      fields_[(size_t)f].press(x - fieldRect(f).left, ticks, shift && !changed);
      return true;
    }
  int b = hitButton(buttons_, x, y);
  if (b == 1) return accept() || true;
  if (b == 0) cancel();
  return b >= 0;
}

bool ColourPicker::drag(int x, int y) {
  if (drag_ == Drag::square)
    pickSquare(x, y);
  else if (drag_ == Drag::hue)
    pickHue(y);
  else
    return false;
  return true;
}

bool ColourPicker::key(const KeyPress& k) {
  if (!k.command && (k.code == key::ret || k.code == key::enter)) {
    accept();
    return true;
  }
  if (!k.command && k.code == key::escape) {
    cancel();
    return true;
  }
  if (!k.command && k.code == key::tab) {
    int was = focus_.focused();
    commit(was);
    int now = focus_.advance(k.shift);
    fields_[(size_t)now].selectAll();
    return true;
  }
  int f = focus_.focused();
  if (f < 0) return false;
  // Up and down step the focused number.
  if (!k.command && f != hex && (k.code == key::up || k.code == key::down)) {
    if (!commit(f)) return true;
    long n = std::stol(fields_[(size_t)f].text()) + (k.code == key::up ? 1 : -1);
    long limit = f <= blue ? 255 : f == hue ? 359 : 100;
    fields_[(size_t)f].setText(std::to_string(std::clamp(n, 0L, limit)));
    commit(f);
    fields_[(size_t)f].selectAll();
    return true;
  }
  TextField::Result r = fields_[(size_t)f].key(k);
  if (r == TextField::Result::refused) ++beeps_;
  return r != TextField::Result::ignored;
}

void ColourPicker::draw(Painter& p) {
  p.fill(makeRect(0, 0, kWidth, kHeight), colour::background);
  p.text(12, 22, prompt_, kControlTextSize, colour::black, true);
  // The square: saturation across, value down, at the current hue.
  Rect sq = squareRect();
  Image img(kSquare, kSquare);
  for (int y = 0; y < kSquare; ++y)
    for (int x = 0; x < kSquare; ++x)
      img.at(x, y) = pixelOf(fromHSV(h_, x / (double)(kSquare - 1), 1 - y / (double)(kSquare - 1)));
  p.image(sq, img);
  p.frame(outset(sq, 1), colour::border);
  int mx = sq.left + (int)std::lround(s_ * (kSquare - 1)),
      my = sq.top + (int)std::lround((1 - v_) * (kSquare - 1));
  p.frame(makeRect(mx - 4, my - 4, mx + 5, my + 5), v_ > 0.5 ? colour::black : colour::white);
  Rect hr = hueRect();
  Image strip(1, kSquare);
  for (int y = 0; y < kSquare; ++y) strip.at(0, y) = pixelOf(fromHSV(y * 359.0 / kSquare, 1, 1));
  p.image(hr, strip);
  p.frame(outset(hr, 1), colour::border);
  int hy = hr.top + (int)std::lround(h_ / 359.0 * (kSquare - 1));
  p.fill(makeRect(hr.left - 3, hy - 1, hr.right + 3, hy + 1), colour::black);
  // New above original.
  Rect now = makeRect(hr.right + 12, kTop, hr.right + 72, kTop + 40);
  Rect was = makeRect(hr.right + 12, kTop + 40, hr.right + 72, kTop + 80);
  p.fill(now, pixelOf(rgb_));
  p.fill(was, pixelOf(original_));
  p.frame(makeRect(now.left - 1, now.top - 1, was.right + 1, was.bottom + 1), colour::border);
  for (int f = 0; f < kFieldCount; ++f) {
    Rect r = fieldRect(f);
    int w = p.textWidth(fieldLabel(f), kControlTextSize);
    p.text(r.left - 8 - w, p.centredBaseline(r, kControlTextSize), fieldLabel(f), kControlTextSize,
           colour::black);
    fields_[(size_t)f].draw(p, r, focus_.focused() == f);
    const char* unit = f == hue ? "°" : (f == saturation || f == value) ? "%" : "";
    p.text(r.right + 4, p.centredBaseline(r, kControlTextSize), unit, kControlTextSize,
           colour::black);
  }
  for (int k = 0; k < (int)colourQuickPicks().size(); ++k) {
    const RGBColor& c = colourQuickPicks()[(size_t)k];
    Rect r = swatchRect(k);
    p.fill(r, pixelOf(c));
    bool chosen = c.red == rgb_.red && c.green == rgb_.green && c.blue == rgb_.blue;
    p.frame(r, chosen ? colour::selection : colour::border, chosen ? 2 : 1);
  }
  for (const auto& b : buttons_) b.draw(p);
}

}  // namespace vt::ui

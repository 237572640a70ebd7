// Track and movie pictures at every small size and at widths around the vector widths, for
// every family of pixel formats, with guard bytes around every pixel buffer: a converter or
// loop that writes past a row or an image is caught in whatever build runs the test (the
// sanitizers do not see FFmpeg's assembly). Pictures are also checked against what the samples
// hold, so a black or shifted picture fails too.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>

#include "../effects/effects_test_util.h"
#include "builders.h"
#include "codec/video_format.h"
#include "codec/yuv.h"
#include "compose/compose.h"
#include "compose/tracks.h"
#include "core/fourcc.h"

using codec_test::openMovie;
using vt::makePixel;
using vt::Pixel;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSample = 5;  // the sanitizer build checks every fifth size
#else
constexpr int kSample = 1;
#endif

// The colour a YUV sample (limited range, BT.601) shows.
Pixel yuvColour(int y, int u, int v) {
  double c = 1.164 * (y - 16), d = u - 128, e = v - 128;
  auto ch = [](double x) { return (uint8_t)std::clamp((int)std::lround(x), 0, 255); };
  return makePixel(ch(c + 1.596 * e), ch(c - 0.392 * d - 0.813 * e), ch(c + 2.017 * d));
}

constexpr int kU = 168, kV = 98;  // constant chroma of the 4:2:0 pattern
int lumaAt(int x, int y) { return 16 + (x * 29 + y * 13) % 220; }
uint8_t byteAt(int x, int y) { return (uint8_t)(x * 7 + y * 13); }
Pixel rgbAt(int x, int y) {
  return makePixel((uint8_t)(x * 29 + 7), (uint8_t)(y * 53 + 11), (uint8_t)((x + y) * 17));
}

// The uncompressed formats, told apart by depth: RGB (24), palette (8), grey where white is
// zero (40) and planar 4:2:0 (12).
struct RawFormat {
  const char* name;
  OSType codec;
  int depth, tolerance;
};
const RawFormat kRawFormats[] = {{"RGB", 'raw ', 24, 0},
                                 {"palette", 'raw ', 8, 0},
                                 {"grey", 'raw ', 40, 1},
                                 {"4:2:0", 'I420', 12, 4}};

std::vector<uint8_t> rawSample(const RawFormat& f, int w, int h) {
  std::vector<uint8_t> b;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Pixel p = rgbAt(x, y);
      if (f.depth == 24)
        b.insert(b.end(), {vt::pixelR(p), vt::pixelG(p), vt::pixelB(p)});
      else
        b.push_back(f.depth == 12 ? (uint8_t)lumaAt(x, y) : byteAt(x, y));
    }
  size_t chroma = (size_t)((w + 1) / 2) * ((h + 1) / 2);
  if (f.depth == 12) {
    b.insert(b.end(), chroma, kU);
    b.insert(b.end(), chroma, kV);
  }
  return b;
}

Pixel rawExpected(const RawFormat& f, int x, int y) {
  static const std::vector<Pixel> palette = vt::codec::defaultPalette(8);
  const uint8_t white = (uint8_t)(255 - byteAt(x, y));
  switch (f.depth) {
    case 24: return rgbAt(x, y);
    case 8: return palette[byteAt(x, y)];
    case 40: return makePixel(white, white, white);
    default: return yuvColour(lumaAt(x, y), kU, kV);
  }
}

// The first pixel that differs from `want` by more than `tolerance`, as text; "" when none.
std::string mismatch(const vt::Image& img, int w, int h, const std::function<Pixel(int, int)>& want,
                     int tolerance) {
  if (img.width != w || img.height != h)
    return "size " + std::to_string(img.width) + "x" + std::to_string(img.height);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Pixel p = img.at(x, y), q = want(x, y);
      if (et::channelDiff(p, q) > tolerance) {
        char text[96];
        std::snprintf(text, sizeof text, "pixel %d,%d is %06X, not %06X", x, y, p & 0xFFFFFF,
                      q & 0xFFFFFF);
        return text;
      }
    }
  return "";
}

class Sizes : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::setPixelGuards(true);
    faults_ = vt::pixelGuardFaults();
  }
  void TearDown() override {
    vt::setPixelGuards(false);
    EXPECT_EQ(vt::pixelGuardFaults(), faults_) << "a pixel buffer was written outside its block";
  }
  // The track's picture, the movie's, and (when `doubled` is asked for) the movie's at twice
  // the size, which makes the converter scale: no write outside a buffer, every pixel right
  // (a scaled pattern blends neighbours, so only a `flat` one is compared when doubled).
  void check(const std::string& what, Track t, Movie m, int w, int h,
             const std::function<Pixel(int, int)>& want, int tolerance, bool doubled, bool flat) {
    vt::Image track = compose_test::trackPicture(t, 0), movie = compose_test::moviePicture(m, 0);
    vt::Image big;
    if (doubled) {
      MatrixRecord twice = {{{IntToFixed(2), 0, 0}, {0, IntToFixed(2), 0}, {0, 0, 0x40000000}}};
      SetMovieMatrix(m, &twice);
      big = compose_test::moviePicture(m, 0);
      SetMovieMatrix(m, nullptr);
    }
    std::string at = what + " at " + std::to_string(w) + "x" + std::to_string(h);
    ASSERT_EQ(vt::pixelGuardFaults(), faults_) << at;
    ASSERT_EQ(mismatch(track, w, h, want, tolerance), "") << at << " track";
    ASSERT_EQ(mismatch(movie, w, h, want, tolerance), "") << at << " movie";
    if (doubled && flat) {
      ASSERT_EQ(mismatch(big, 2 * w, 2 * h, want, tolerance), "") << at;
    }
    ASSERT_TRUE(!doubled || big.width == 2 * w) << at << " doubled";
    for (Pixel p : big.pixels) ASSERT_EQ(vt::pixelA(p), 255) << at << " doubled";
  }
  long faults_ = 0;
};

}  // namespace

TEST_F(Sizes, UncompressedFormatsAtEverySize) {
  std::vector<std::pair<int, int>> sizes;
  for (int h = 1; h <= 64; ++h)
    for (int w = 1; w <= 64; ++w) sizes.push_back({w, h});
  // Widths around the multiples of 8 (and so of 16, 32 and 64) up to 1930.
  for (int m = 72; m <= 1928; m += 8)
    for (int w : {m - 1, m, m + 1}) sizes.insert(sizes.end(), {{w, 2}, {w, 5}});
  sizes.insert(sizes.end(), {{1930, 2}, {1930, 5}});
  int n = 0;
  for (const RawFormat& f : kRawFormats)
    for (auto [w, h] : sizes) {
      if (n++ % kSample) continue;
      VTMovie* m = vt::movie::newMovieObject();
      compose_test::oneSampleTrack(m, w, h, f.codec, f.depth, 1, rawSample(f, w, h), 600);
      // Scaled every seventh case only: scaler set-up is slow.
      auto want = [&f](int x, int y) { return rawExpected(f, x, y); };
      check(f.name, m->tracks[0].get(), m, w, h, want, f.tolerance, n % 7 == 0, false);
      DisposeMovie(m);
      if (HasFatalFailure()) return;
    }
}

namespace {

// The sizes of the tracks in each coded fixture: small widths, small heights at a width that
// used to fail, and widths around the multiples of 64 and of the other vector widths.
std::vector<std::pair<int, int>> codedSizes(bool even) {
  std::set<std::pair<int, int>> s;  // sorted, each size once
  for (int i = 1; i <= 64; ++i) s.insert({{i, 6}, {200, i}});
  std::vector<int> around = {72,  80,  88,  96,  104, 112, 120, 128, 136,
                             152, 168, 184, 216, 360, 424, 648, 1928};
  for (int m = 64; m <= 1920; m += 64) around.push_back(m);
  for (int m : around)
    for (int w : {m - 1, m, m + 1}) s.insert({std::min(w, 1930), 2});
  if (even) std::erase_if(s, [](auto wh) { return wh.first % 2 || wh.second % 2; });
  return {s.begin(), s.end()};
}

// One ffmpeg run makes a movie with a track per size, each one flat-coloured frame.
std::string codedFixture(const std::string& name, const std::string& source,
                         const std::string& codecArgs, bool even) {
  auto sizes = codedSizes(even);
  std::string graph = "[0]split=" + std::to_string(sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) graph += "[i" + std::to_string(i) + "]";
  std::string maps;
  for (size_t i = 0; i < sizes.size(); ++i) {
    graph += ";[i" + std::to_string(i) + "]crop=" + std::to_string(sizes[i].first) + ":" +
             std::to_string(sizes[i].second) + ":0:0[o" + std::to_string(i) + "]";
    maps += " -map '[o" + std::to_string(i) + "]'";
  }
  return vt_test::fixture(name, "-f lavfi -i color=c=0x246DAA:s=1930x64:r=25:d=0.04," + source +
                                    " -filter_complex '" + graph + "'" + maps + " " + codecArgs);
}

}  // namespace

TEST_F(Sizes, CodedFormatsAtEveryTrackSize) {
  // A colour the GIF encoder's 3-3-2 palette holds exactly.
  const Pixel flat = makePixel(0x24, 0x6D, 0xAA), grey = makePixel(94, 94, 94);
  struct {
    const char *name, *source, *args;
    bool even;
    Pixel colour;
    int tolerance;
  } cases[] = {
      {"sizes_h264.mov", "format=rgb24", "-c:v libx264 -pix_fmt yuv420p", true, flat, 8},
      {"sizes_mjpeg420.mov", "format=rgb24", "-c:v mjpeg -pix_fmt yuvj420p", false, flat, 8},
      {"sizes_mjpeg422.mov", "format=rgb24", "-c:v mjpeg -pix_fmt yuvj422p", false, flat, 8},
      {"sizes_mjpeg444.mov", "format=rgb24", "-c:v mjpeg -pix_fmt yuvj444p", false, flat, 8},
      {"sizes_prores.mov", "format=rgb24", "-c:v prores_ks -pix_fmt yuv422p10le", true, flat, 8},
      {"sizes_png.mov", "format=rgb24", "-c:v png -pix_fmt rgb24", false, flat, 4},
      {"sizes_png_alpha.mov", "format=rgb24", "-c:v png -pix_fmt rgba", false, flat, 4},
      // Converted to the GIF palette up front, undithered, so the picture stays flat.
      {"sizes_gif.mov", "scale=sws_dither=none,format=bgr8", "-c:v gif", false, flat, 2},
      {"sizes_grey.mov", "format=rgb24", "-c:v rawvideo -pix_fmt gray", false, grey, 6},
  };
  for (const auto& c : cases) {
    Movie m = openMovie(codedFixture(c.name, c.source, c.args, c.even));
    ASSERT_NE(m, nullptr) << c.name;
    const auto sizes = codedSizes(c.even);
    ASSERT_EQ(GetMovieTrackCount(m), (long)sizes.size()) << c.name;
    for (size_t i = 1; i <= sizes.size(); ++i) SetTrackEnabled(GetMovieIndTrack(m, (long)i), false);
    // Every track has the size it was cropped to; one at a time is shown.
    for (size_t i = 0; i < sizes.size(); i += kSample) {
      Track t = GetMovieIndTrack(m, (long)i + 1);
      SetTrackEnabled(t, true);
      auto want = [&](int, int) { return c.colour; };
      check(c.name, t, m, sizes[i].first, sizes[i].second, want, c.tolerance, true, true);
      SetTrackEnabled(t, false);
      if (HasFatalFailure()) return;
    }
    DisposeMovie(m);
  }
}

namespace {
// Luma varies, chroma is flat and the colours stay in gamut, so converting to pictures and
// back loses nothing but rounding.
std::vector<uint8_t> planar(int w, int h, int u, int v, int shift) {
  std::vector<uint8_t> b;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.push_back((uint8_t)(60 + (x * 7 + y * 3 + shift) % 120));
  size_t chroma = (size_t)((w + 1) / 2) * ((h + 1) / 2);
  b.insert(b.end(), chroma, (uint8_t)u);
  b.insert(b.end(), chroma, (uint8_t)v);
  return b;
}
}  // namespace

// A cross fade or a hard-edged wipe drawn on its sources' decoded planes is the transition of
// their pictures converted, to one code value, at odd and even sizes and at every point; the
// wipe's chroma is compared away from its edge (there the picture path's converter filters
// across it).
TEST_F(Sizes, TransitionsOnPlanesMatchThePicturePath) {
  for (OSType effect : {'dslv', 'smpt'})
    for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {7, 5}, {33, 17}, {64, 48}, {127, 31}}) {
      VTMovie* m = vt::movie::newMovieObject();
      const auto lumaA = planar(w, h, 140, 120, 0), lumaB = planar(w, h, 110, 135, 50);
      VTTrack* a = compose_test::oneSampleTrack(m, w, h, 'I420', 12, 0, lumaA, 600);
      VTTrack* b = compose_test::oneSampleTrack(m, w, h, 'I420', 12, 0, lumaB, 600);
      VTTrack* fx = compose_test::crossFade(m, w, h, {a, b}, {'srcA', 'srcB'}, effect);
      vt::compose::Composer composer(m);
      vt::codec::YuvConverter converter;
      const TimeValue times[] = {0, 150, 299, 450, 599};
      vt::YuvImage planes[5], converted;
      for (int i = 0; i < 5; ++i) {
        vt::compose::PictureRequest rq;
        rq.time = times[i];
        rq.yuv = true;
        vt::compose::TrackPicture pic;
        ASSERT_EQ(vt::compose::pictureOf(fx, rq, pic), noErr);
        ASSERT_TRUE(pic.image == nullptr && pic.yuv.width == w) << "not drawn on planes";
        ASSERT_EQ(composer.frame(times[i], planes[i]), noErr);
      }
      for (int i = 0; i < 5; ++i) {
        std::string at = vt::fourccString(effect) + " " + std::to_string(w) + "x" +
                         std::to_string(h) + " at " + std::to_string(times[i]);
        vt::compose::PictureRequest rq;  // no planes asked for: the sources mixed as pictures
        rq.time = times[i];
        vt::compose::TrackPicture mixed;
        ASSERT_EQ(vt::compose::pictureOf(fx, rq, mixed), noErr) << at;
        ASSERT_TRUE(mixed.image != nullptr) << at;
        ASSERT_EQ(converter.toYuv(*mixed.image, converted), noErr) << at;
        ASSERT_EQ(vt::pixelGuardFaults(), faults_) << at;
        // Which source each pixel of the wipe shows (their lumas always differ).
        auto fromB = [&](int x, int y) {
          x = std::clamp(x, 0, w - 1), y = std::clamp(y, 0, h - 1);
          return planes[i].plane(0)[y * planes[i].stride[0] + x] == lumaB[(size_t)y * w + x];
        };
        auto nearEdge = [&](int cx, int cy) {
          for (int y = 2 * cy - 4; y <= 2 * cy + 5; ++y)
            for (int x = 2 * cx - 4; x <= 2 * cx + 5; ++x)
              if (fromB(x, y) != fromB(2 * cx, 2 * cy)) return true;
          return false;
        };
        for (int p = 0; p < 3; ++p) {
          const int pw = p ? (w + 1) / 2 : w, ph = p ? (h + 1) / 2 : h;
          for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
              // The picture path's last chroma column or row of an odd size is made from one
              // pixel and whatever the converter reads beside it: not comparable.
              if (p && ((w % 2 && x == pw - 1) || (h % 2 && y == ph - 1))) continue;
              if (p && effect != 'dslv' && nearEdge(x, y)) continue;
              int ours = planes[i].plane(p)[y * planes[i].stride[p] + x];
              int theirs = converted.plane(p)[y * converted.stride[p] + x];
              ASSERT_LE(std::abs(ours - theirs), 1)
                  << at << " plane " << p << " at " << x << "," << y;
            }
        }
      }
      if (effect == 'smpt' && w >= 33) {  // half-way, the wipe shows both
        int shownB = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            shownB += planes[2].plane(0)[y * planes[2].stride[0] + x] == lumaB[(size_t)y * w + x];
        EXPECT_GT(shownB, w * h / 4);
        EXPECT_LT(shownB, w * h * 3 / 4);
      }
      DisposeMovie(m);
    }
}

// The movie's picture of a fade drawn on planes is those planes converted once, the same
// whether the rows are converted in bands across the cores or whole (odd heights, rows the
// converter cannot store into).
TEST_F(Sizes, APlaneFadesPictureIsItsPlanesConvertedOnce) {
  for (auto [w, h] : {std::pair{64, 48}, {320, 240}, {321, 241}, {384, 386}}) {
    std::string at = std::to_string(w) + "x" + std::to_string(h);
    VTMovie* m = vt::movie::newMovieObject();
    VTTrack* a =
        compose_test::oneSampleTrack(m, w, h, 'I420', 12, 0, planar(w, h, 140, 120, 0), 600);
    VTTrack* b =
        compose_test::oneSampleTrack(m, w, h, 'I420', 12, 0, planar(w, h, 90, 160, 50), 600);
    compose_test::crossFade(m, w, h, {a, b}, {'srcA', 'srcB'});
    vt::compose::Composer composer(m);
    vt::YuvImage planes;
    vt::Image picture, expected;
    ASSERT_EQ(composer.frame(200, planes), noErr) << at;
    ASSERT_EQ(composer.frame(200, picture), noErr) << at;
    vt::codec::YuvConverter converter;
    ASSERT_EQ(converter.toImage(planes.view(), expected), noErr) << at;
    ASSERT_EQ(picture.width, w) << at;
    EXPECT_TRUE(picture.pixels == expected.pixels) << at;
    EXPECT_EQ(vt::pixelGuardFaults(), faults_) << at;
    DisposeMovie(m);
  }
}

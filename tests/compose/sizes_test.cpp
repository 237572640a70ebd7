// Track and movie pictures at every small size and at widths around the vector widths, for
// every family of pixel formats, with guard bytes around every pixel buffer: a converter or
// loop that writes past a row or an image is caught in whatever build runs the test (the
// sanitizers do not see FFmpeg's assembly). Pictures are also checked against what the samples
// hold, so a black or shifted picture fails too.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "builders.h"
#include "codec/video_format.h"

using codec_test::openMovie;
using codec_test::pictImage;
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

constexpr int kU = 168, kV = 98;  // constant chroma of the YUV patterns
int lumaAt(int x, int y) { return 16 + (x * 29 + y * 13) % 220; }
Pixel rgbAt(int x, int y) {
  return makePixel((uint8_t)(x * 29 + 7), (uint8_t)(y * 53 + 11), (uint8_t)((x + y) * 17));
}

// One uncompressed format: its sample description codec and depth, how a sample of a given
// size is laid out, and what each pixel must show.
struct RawFormat {
  const char* name;
  OSType codec;
  int depth;
  std::function<std::vector<uint8_t>(int w, int h)> sample;
  std::function<Pixel(int x, int y)> expected;
  int tolerance;
};

// The bytes of a w x h plane, `per` bytes a pixel, from `at(x, y)`.
std::vector<uint8_t> plane(int w, int h, const std::function<std::vector<uint8_t>(int, int)>& at) {
  std::vector<uint8_t> b;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      auto px = at(x, y);
      b.insert(b.end(), px.begin(), px.end());
    }
  return b;
}

const std::vector<RawFormat>& rawFormats() {
  static const std::vector<Pixel> palette = vt::codec::defaultPalette(8);
  static const std::vector<Pixel> lumaColours = [] {
    std::vector<Pixel> c;
    for (int y = 0; y < 256; ++y) c.push_back(yuvColour(y, kU, kV));
    return c;
  }();
  auto grey = [](int x, int y) { return (uint8_t)(x * 29 + y * 7); };
  static const std::vector<RawFormat> formats = {
      {"RGB", 'raw ', 24,
       [](int w, int h) {
         return plane(w, h, [](int x, int y) -> std::vector<uint8_t> {
           Pixel p = rgbAt(x, y);
           return {vt::pixelR(p), vt::pixelG(p), vt::pixelB(p)};
         });
       },
       rgbAt, 0},
      {"palette", 'raw ', 8,
       [](int w, int h) {
         return plane(w, h, [](int x, int y) -> std::vector<uint8_t> {
           return {(uint8_t)(x * 7 + y * 13)};
         });
       },
       [](int x, int y) { return palette[(uint8_t)(x * 7 + y * 13)]; }, 0},
      {"grey", 'raw ', 40,
       [grey](int w, int h) {
         return plane(w, h, [grey](int x, int y) -> std::vector<uint8_t> { return {grey(x, y)}; });
       },
       [grey](int x, int y) {  // white is zero
         uint8_t v = (uint8_t)(255 - grey(x, y));
         return makePixel(v, v, v);
       },
       1},
      {"4:2:0", 'I420', 12,
       [](int w, int h) {
         size_t chroma = (size_t)((w + 1) / 2) * ((h + 1) / 2);
         std::vector<uint8_t> b = plane(
             w, h, [](int x, int y) -> std::vector<uint8_t> { return {(uint8_t)lumaAt(x, y)}; });
         b.insert(b.end(), chroma, kU);
         b.insert(b.end(), chroma, kV);
         return b;
       },
       [](int x, int y) { return lumaColours[(size_t)lumaAt(x, y)]; }, 4},
  };
  return formats;
}

vt::Image picture(PicHandle pic) {
  vt::Image img = pictImage(pic);
  if (pic) KillPicture(pic);
  return img;
}

// The first pixel that differs from `want` by more than `tolerance`, as text; "" when none.
std::string mismatch(const vt::Image& img, int w, int h, const std::function<Pixel(int, int)>& want,
                     int tolerance) {
  if (img.width != w || img.height != h)
    return "size " + std::to_string(img.width) + "x" + std::to_string(img.height);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Pixel p = img.at(x, y), q = want(x, y);
      for (int s = 0; s < 32; s += 8)
        if (std::abs((int)((p >> s) & 255) - (int)((q >> s) & 255)) > tolerance) {
          char text[96];
          std::snprintf(text, sizeof text, "pixel %d,%d is %06X, not %06X", x, y, p & 0xFFFFFF,
                        q & 0xFFFFFF);
          return text;
        }
    }
  return "";
}

// Widths around the multiples of 8 (and so of 16, 32 and 64) up to 1930.
std::vector<int> wideWidths() {
  std::vector<int> out;
  for (int m = 72; m <= 1928; m += 8)
    for (int w : {m - 1, m, m + 1}) out.push_back(w);
  out.push_back(1930);
  return out;
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
    vt::Image track = picture(GetTrackPict(t, 0)), movie = picture(GetMoviePict(m, 0)), big;
    if (doubled) {
      MatrixRecord twice = {{{IntToFixed(2), 0, 0}, {0, IntToFixed(2), 0}, {0, 0, 0x40000000}}};
      SetMovieMatrix(m, &twice);
      big = picture(GetMoviePict(m, 0));
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
  for (int w : wideWidths())
    for (int h : {2, 5}) sizes.push_back({w, h});
  int n = 0;
  for (const RawFormat& f : rawFormats())
    for (auto [w, h] : sizes) {
      if (n++ % kSample) continue;
      VTMovie* m = vt::movie::newMovieObject();
      compose_test::rawTrack(m, w, h, f.codec, f.depth, f.sample(w, h));
      // Scaled every seventh case only: scaler set-up is slow.
      check(f.name, m->tracks[0].get(), m, w, h, f.expected, f.tolerance, n % 7 == 0, false);
      DisposeMovie(m);
      if (HasFatalFailure()) return;
    }
}

namespace {

// The sizes of the tracks in each coded fixture: small widths, small heights at a width that
// used to fail, and widths around the multiples of 64 and of the other vector widths.
std::vector<std::pair<int, int>> codedSizes(bool even) {
  std::vector<std::pair<int, int>> s;
  for (int i = 1; i <= 64; ++i) s.insert(s.end(), {{i, 6}, {200, i}});
  std::vector<int> around = {72,  80,  88,  96,  104, 112, 120, 128, 136,
                             152, 168, 184, 216, 360, 424, 648, 1928};
  for (int m = 64; m <= 1920; m += 64) around.push_back(m);
  for (int m : around)
    for (int w : {m - 1, m, m + 1}) s.push_back({std::min(w, 1930), 2});
  std::sort(s.begin(), s.end());
  s.erase(std::unique(s.begin(), s.end()), s.end());
  if (even) std::erase_if(s, [](auto wh) { return wh.first % 2 || wh.second % 2; });
  return s;
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
    const char* name;
    const char* source;
    const char* args;
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
    std::string path = codedFixture(c.name, c.source, c.args, c.even);
    ASSERT_FALSE(path.empty());
    Movie m = openMovie(path);
    ASSERT_NE(m, nullptr) << c.name;
    const long tracks = GetMovieTrackCount(m);
    ASSERT_EQ(tracks, (long)codedSizes(c.even).size()) << c.name;
    for (long i = 1; i <= tracks; ++i) SetTrackEnabled(GetMovieIndTrack(m, i), false);
    for (long i = 1; i <= tracks; ++i) {
      if ((i - 1) % kSample) continue;
      Track t = GetMovieIndTrack(m, i);
      Fixed fw, fh;
      GetTrackDimensions(t, &fw, &fh);
      SetTrackEnabled(t, true);
      auto want = [&](int, int) { return c.colour; };
      check(c.name, t, m, FixedToInt(fw), FixedToInt(fh), want, c.tolerance, true, true);
      SetTrackEnabled(t, false);
      if (HasFatalFailure()) return;
    }
    DisposeMovie(m);
  }
}

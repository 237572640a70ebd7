// Shared helpers of the decoding tests: ffmpeg's own decode of a frame, and PSNR.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "core/image.h"
#include "fixtures.h"
#include "movies.h"

namespace codec_test {

// Frame `n` (display order) of `path` as decoded by the ffmpeg command, w x h, 0xAARRGGBB.
inline vt::Image referenceFrame(const std::string& path, int n, int w, int h) {
  std::string out = vt_test::tempDir("ref") + "/frame.bgra";
  std::string cmd = "ffmpeg -nostdin -loglevel error -y -i '" + path + "' -vf 'select=eq(n\\," +
                    std::to_string(n) + ")' -vsync 0 -frames:v 1 -f rawvideo -pix_fmt bgra '" +
                    out + "' 2>&1";
  std::string log;
  vt::Image img;
  if (vt_test::run(cmd, &log) != 0) {
    ADD_FAILURE() << "reference decode failed: " << log;
    return img;
  }
  FILE* f = std::fopen(out.c_str(), "rb");
  if (!f) return img;
  img.resize(w, h);
  size_t got = std::fread(img.pixels.data(), 4, img.pixels.size(), f);
  std::fclose(f);
  if (got != img.pixels.size()) {
    ADD_FAILURE() << "reference frame " << n << " has " << got << " pixels, expected " << w * h;
    img = vt::Image();
  }
  return img;
}

// PSNR over R, G and B; infinity for identical images, 0 for mismatched sizes.
inline double psnr(const vt::Image& a, const vt::Image& b) {
  if (a.width != b.width || a.height != b.height || a.empty()) return 0;
  double se = 0;
  for (size_t i = 0; i < a.pixels.size(); i++) {
    vt::Pixel p = a.pixels[i], q = b.pixels[i];
    for (int sh = 0; sh < 24; sh += 8) {
      double d = (double)((p >> sh) & 0xFF) - (double)((q >> sh) & 0xFF);
      se += d * d;
    }
  }
  double mse = se / ((double)a.pixels.size() * 3);
  if (mse == 0) return INFINITY;
  return 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace codec_test

#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>

#include "core/picture.h"

namespace codec_test {

using vt_test::openMovie;

inline vt::Image pictImage(PicHandle pic) {
  vt::Image img;
  if (pic) {
    EXPECT_TRUE(vt::pictureToImage(pic, img));
  }
  return img;
}

// Enters the movie toolbox for the whole test program.
class MoviesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(EnterMovies(), noErr); }
  void TearDown() override { ExitMovies(); }
};

}  // namespace codec_test

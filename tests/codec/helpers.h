// Shared helpers of the decoding tests: ffmpeg's own decode of a frame, PSNR, fixtures.
#pragma once
#include <Files.h>
#include <MacErrors.h>
#include <Movies.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "core/image.h"
#include "core/picture.h"
#include "fixtures.h"
#include "movies.h"
#include "movies_env.h"

namespace codec_test {

using vt_test::openMovie;

// Frame `n` (display order) of `path` as decoded by the ffmpeg command, w x h, 0xAARRGGBB.
inline vt::Image referenceFrame(const std::string& path, int n, int w, int h) {
  std::string bytes;
  vt_test::run("ffmpeg -nostdin -loglevel error -i '" + path + "' -vf 'select=eq(n\\," +
                   std::to_string(n) + ")' -vsync 0 -frames:v 1 -f rawvideo -pix_fmt bgra -",
               &bytes);
  vt::Image img;
  if (bytes.size() != (size_t)w * h * 4) {
    ADD_FAILURE() << "ffmpeg's frame " << n << " of " << path << " has " << bytes.size() / 4
                  << " pixels, expected " << w * h;
    return img;
  }
  img.resize(w, h);
  std::memcpy(img.pixels.data(), bytes.data(), bytes.size());
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

inline vt::Image pictImage(PicHandle pic) {
  vt::Image img;
  if (pic) {
    EXPECT_TRUE(vt::pictureToImage(pic, img));
  }
  return img;
}

// The picture `pic` as an image, which is then killed.
inline vt::Image takePict(PicHandle pic) {
  vt::Image img = pictImage(pic);
  if (pic) KillPicture(pic);
  return img;
}

const std::string kSrc = "-f lavfi -i testsrc2=size=";

// An H.264 movie with B-frames, 320x240, 2 s at 25 fps.
inline std::string avcBFrames() {
  return vt_test::fixture("avc_bframes.mov",
                          kSrc + "320x240:rate=25 -t 2 -c:v libx264 -bf 3 -g 15 -pix_fmt yuv420p");
}

// The foreign movie `name`: imp.mkv, imp.webm (3 s), imp.avi, imp.ts or imp.gif (80x60).
inline std::string foreign(const std::string& name) {
  static const std::map<std::string, std::string> recipes = {
      {"imp.mkv", "160x120:rate=25 -t 2 -c:v libx264 -bf 2 -pix_fmt yuv420p"},
      {"imp.webm", "160x120:rate=10 -t 3 -c:v libvpx -b:v 200k"},
      {"imp.avi", "160x120:rate=15 -t 2 -c:v mpeg4"},
      {"imp.ts", "160x120:rate=25 -t 2 -c:v mpeg2video"},
      {"imp.gif", "80x60:rate=10 -t 2"}};
  return vt_test::fixture(name, kSrc + recipes.at(name));
}

// A 97x61 still picture in the format its extension names.
inline std::string still(const std::string& ext) {
  return vt_test::fixture("still." + ext, kSrc + "98x62 -vf scale=97:61 -frames:v 1");
}

}  // namespace codec_test

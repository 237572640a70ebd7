// The platform's one pixel format: 32-bit 0xAARRGGBB words in host order (SDL's ARGB8888).
// Decoded frames, window backing stores, pictures and effect inputs and outputs all use it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vt {

using Pixel = uint32_t;

constexpr Pixel makePixel(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
  return ((Pixel)a << 24) | ((Pixel)r << 16) | ((Pixel)g << 8) | b;
}
constexpr uint8_t pixelA(Pixel p) { return (uint8_t)(p >> 24); }
constexpr uint8_t pixelR(Pixel p) { return (uint8_t)(p >> 16); }
constexpr uint8_t pixelG(Pixel p) { return (uint8_t)(p >> 8); }
constexpr uint8_t pixelB(Pixel p) { return (uint8_t)p; }

// A frame: width x height pixels, rows packed (stride == width).
struct Image {
  int width = 0;
  int height = 0;
  std::vector<Pixel> pixels;

  Image() = default;
  Image(int w, int h, Pixel fill = makePixel(0, 0, 0))
      : width(w > 0 ? w : 0), height(h > 0 ? h : 0), pixels((size_t)width * height, fill) {}

  bool empty() const { return width <= 0 || height <= 0; }
  Pixel* row(int y) { return pixels.data() + (size_t)y * width; }
  const Pixel* row(int y) const { return pixels.data() + (size_t)y * width; }
  Pixel& at(int x, int y) { return pixels[(size_t)y * width + x]; }
  Pixel at(int x, int y) const { return pixels[(size_t)y * width + x]; }
  void resize(int w, int h) {
    width = w > 0 ? w : 0;
    height = h > 0 ? h : 0;
    pixels.resize((size_t)width * height);
  }
};

// Scales src into dst's size (bilinear); used wherever inputs of different sizes meet.
void scaleImage(const Image& src, Image& dst);

// Writes an image as PNG; false on failure.
bool writePNG(const Image& img, const char* path);
// Reads a PNG (any colour type) into an image; false on failure.
bool readPNG(const char* path, Image& img);

}  // namespace vt

// The platform's one pixel format: 32-bit 0xAARRGGBB words in host order (SDL's ARGB8888).
// Decoded frames, window backing stores, pictures and effect inputs and outputs all use it.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vt {

using Pixel = uint32_t;

// Pixel storage. Blocks start on a 64-byte boundary (the widest SIMD store a writer makes) and
// end with slack, so reads a little past the last row stay inside the block. In the checking
// mode (tests) each block is fenced by guard bytes that are verified when it is freed.
namespace pixel_memory {
void* allocate(size_t bytes);
void release(void* block, size_t bytes) noexcept;
extern std::atomic<bool> guarded;
}  // namespace pixel_memory

template <class T>
struct PixelAllocator {
  using value_type = T;
  PixelAllocator() = default;
  template <class U>
  PixelAllocator(const PixelAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(pixel_memory::allocate(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { pixel_memory::release(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const PixelAllocator<U>&) const {
    return true;
  }
};
using PixelBuffer = std::vector<uint32_t, PixelAllocator<uint32_t>>;

// A foreign writer (swscale, SIMD loops) may store whole blocks of this many bytes per row; an
// image whose rows are a multiple of it can be handed to such a writer directly.
constexpr int kWriterRowBytes = 256;

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
  PixelBuffer pixels;

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
    size_t n = (size_t)width * height;
    // Checked blocks are exactly as large as the image, so the guard sits right after it.
    if (pixel_memory::guarded.load(std::memory_order_relaxed) && pixels.capacity() != n) {
      PixelBuffer exact(n);
      for (size_t i = 0; i < n && i < pixels.size(); ++i) exact[i] = pixels[i];
      pixels.swap(exact);
    } else {
      pixels.resize(n);
    }
  }
  // True when every row can take a writer's whole-block stores without spilling into the next.
  bool rowsTakeBlockStores() const {
    return ((size_t)width * sizeof(Pixel)) % kWriterRowBytes == 0;
  }
};

// The checking mode for tests: pixel blocks allocated while it is on carry guard bytes before
// and after them. A damaged guard is counted (and reported on standard error) when the block
// is freed or checked.
void setPixelGuards(bool on);
// True when the guards around the image's block are intact (always true for unguarded blocks).
bool pixelGuardsIntact(const Image& img);
// Damaged guards found so far.
long pixelGuardFaults();

// Scales src into dst's size (bilinear); used wherever inputs of different sizes meet.
void scaleImage(const Image& src, Image& dst);

// Writes an image as PNG; false on failure.
bool writePNG(const Image& img, const char* path);
// Reads a PNG (any colour type) into an image; false on failure.
bool readPNG(const char* path, Image& img);

}  // namespace vt

#include "core/image.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace vt {

namespace pixel_memory {

std::atomic<bool> guarded{false};

namespace {

// Every block starts with a header of kAlign bytes (so the pixels keep the alignment) and
// ends with kSlack bytes; a checked block fills both with a pattern.
constexpr size_t kAlign = 64;
constexpr size_t kSlack = 1024;
constexpr uint64_t kPlain = 0x706978656C73ULL;  // "pixels"
constexpr uint64_t kChecked = 0x6775617264ULL;  // "guard"
constexpr uint8_t kFence = 0xA5;

struct Header {
  uint64_t kind;
  uint64_t bytes;
};
static_assert(sizeof(Header) <= kAlign);

std::atomic<long> faults{0};

uint8_t* headerOf(const void* block) { return (uint8_t*)block - kAlign; }

bool fenceIntact(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != kFence) return false;
  return true;
}

bool intact(const void* block) {
  const uint8_t* base = headerOf(block);
  Header h;
  std::memcpy(&h, base, sizeof h);
  if (h.kind == kPlain) return true;
  bool ok = h.kind == kChecked && fenceIntact(base + sizeof h, kAlign - sizeof h) &&
            fenceIntact((const uint8_t*)block + h.bytes, kSlack);
  if (!ok) {
    faults.fetch_add(1);
    std::fprintf(stderr, "pixel buffer guard damaged: a write went outside a %zu-byte image\n",
                 (size_t)h.bytes);
  }
  return ok;
}

}  // namespace

void* allocate(size_t bytes) {
  if (bytes > SIZE_MAX - kAlign - kSlack - kAlign) throw std::bad_alloc();
  size_t total = (kAlign + bytes + kSlack + kAlign - 1) / kAlign * kAlign;
  auto* base = static_cast<uint8_t*>(std::aligned_alloc(kAlign, total));
  if (!base) throw std::bad_alloc();
  Header h{guarded.load(std::memory_order_relaxed) ? kChecked : kPlain, bytes};
  std::memcpy(base, &h, sizeof h);
  if (h.kind == kChecked) {
    std::memset(base + sizeof h, kFence, kAlign - sizeof h);
    std::memset(base + kAlign + bytes, kFence, kSlack);
  }
  return base + kAlign;
}

void release(void* block, size_t) noexcept {
  if (!block) return;
  intact(block);
  std::free(headerOf(block));
}

}  // namespace pixel_memory

void setPixelGuards(bool on) { pixel_memory::guarded.store(on); }

bool pixelGuardsIntact(const Image& img) {
  return img.pixels.capacity() == 0 || pixel_memory::intact(img.pixels.data());
}

long pixelGuardFaults() { return pixel_memory::faults.load(); }

void scaleImage(const Image& src, Image& dst) {
  if (dst.empty()) return;
  if (src.empty()) {
    std::fill(dst.pixels.begin(), dst.pixels.end(), makePixel(0, 0, 0));
    return;
  }
  if (src.width == dst.width && src.height == dst.height) {
    dst.pixels = src.pixels;
    return;
  }
  // 16.16 fixed-point source coordinates of each destination pixel centre.
  const int64_t sx = ((int64_t)src.width << 16) / dst.width;
  const int64_t sy = ((int64_t)src.height << 16) / dst.height;
  for (int y = 0; y < dst.height; ++y) {
    int64_t fy = (y * sy) + sy / 2 - 0x8000;
    if (fy < 0) fy = 0;
    int y0 = (int)(fy >> 16);
    int y1 = y0 + 1 < src.height ? y0 + 1 : y0;
    uint32_t wy = (uint32_t)(fy & 0xFFFF) >> 8;
    const Pixel* r0 = src.row(y0);
    const Pixel* r1 = src.row(y1);
    Pixel* out = dst.row(y);
    for (int x = 0; x < dst.width; ++x) {
      int64_t fx = (x * sx) + sx / 2 - 0x8000;
      if (fx < 0) fx = 0;
      int x0 = (int)(fx >> 16);
      int x1 = x0 + 1 < src.width ? x0 + 1 : x0;
      uint32_t wx = (uint32_t)(fx & 0xFFFF) >> 8;
      Pixel p00 = r0[x0], p01 = r0[x1], p10 = r1[x0], p11 = r1[x1];
      Pixel result = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        uint32_t a = (p00 >> shift) & 0xFF, b = (p01 >> shift) & 0xFF;
        uint32_t c = (p10 >> shift) & 0xFF, d = (p11 >> shift) & 0xFF;
        uint32_t top = a * (256 - wx) + b * wx;
        uint32_t bot = c * (256 - wx) + d * wx;
        uint32_t v = (top * (256 - wy) + bot * wy + (1 << 15)) >> 16;
        result |= (v > 255 ? 255 : v) << shift;
      }
      out[x] = result;
    }
  }
}

bool writePNG(const Image& img, const char* path) {
  if (img.empty() || !path) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path, "wb"), std::fclose);
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_init_io(png, f.get());
  png_set_IHDR(png, info, (png_uint_32)img.width, (png_uint_32)img.height, 8,
               PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<unsigned char> row((size_t)img.width * 4);
  for (int y = 0; y < img.height; ++y) {
    const Pixel* src = img.row(y);
    for (int x = 0; x < img.width; ++x) {
      row[x * 4 + 0] = pixelR(src[x]);
      row[x * 4 + 1] = pixelG(src[x]);
      row[x * 4 + 2] = pixelB(src[x]);
      row[x * 4 + 3] = pixelA(src[x]);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool readPNG(const char* path, Image& img) {
  if (!path) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path, "rb"), std::fclose);
  if (!f) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return false;
  }
  png_init_io(png, f.get());
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_read_update_info(png, info);
  png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (w == 0 || h == 0 || w > 32768 || h > 32768) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  std::vector<unsigned char> buf((size_t)w * h * 4);
  std::vector<png_bytep> rows(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = buf.data() + (size_t)y * w * 4;
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  img.resize((int)w, (int)h);
  for (size_t i = 0; i < (size_t)w * h; ++i)
    img.pixels[i] = makePixel(buf[i * 4], buf[i * 4 + 1], buf[i * 4 + 2], buf[i * 4 + 3]);
  return true;
}

}  // namespace vt

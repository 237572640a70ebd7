#include "core/picture.h"

#include <MacMemory.h>

#include <cstring>

namespace vt {

PicHandle makePicture(const Image& img) {
  if (img.empty()) return nullptr;
  size_t pixelBytes = (size_t)img.width * img.height * sizeof(Pixel);
  Handle h = NewHandleClear((Size)(kPictureHeaderSize + pixelBytes));
  if (!h) return nullptr;
  auto* pic = reinterpret_cast<Picture*>(*h);
  pic->picSize = (short)((kPictureHeaderSize + pixelBytes) & 0xFFFF);
  pic->picFrame = Rect{0, 0, (short)img.height, (short)img.width};
  int32_t dims[2] = {img.width, img.height};
  std::memcpy(*h + 12, dims, sizeof dims);
  std::memcpy(*h + kPictureHeaderSize, img.pixels.data(), pixelBytes);
  return reinterpret_cast<PicHandle>(h);
}

bool pictureToImage(PicHandle pic, Image& img) {
  Handle h = reinterpret_cast<Handle>(pic);
  if (!h || !VTIsValidHandle(h) || !*h) return false;
  Size size = GetHandleSize(h);
  if (size < (Size)kPictureHeaderSize) return false;
  int32_t dims[2];
  std::memcpy(dims, *h + 12, sizeof dims);
  if (dims[0] <= 0 || dims[1] <= 0 || dims[0] > 32768 || dims[1] > 32768) return false;
  size_t pixelBytes = (size_t)dims[0] * dims[1] * sizeof(Pixel);
  if ((size_t)size < kPictureHeaderSize + pixelBytes) return false;
  img.resize(dims[0], dims[1]);
  std::memcpy(img.pixels.data(), *h + kPictureHeaderSize, pixelBytes);
  return true;
}

}  // namespace vt

// The platform's picture format. A PicHandle's block is:
//   offset 0:  Picture header (picSize: low 16 bits of the block size; picFrame: bounds)
//   offset 12: int32 width, int32 height (host order)
//   offset 20: width*height pixels, 0xAARRGGBB words (vt::Pixel), rows packed
// Pictures are made by the movie layer (GetTrackPict, GetMoviePict) and drawn by QuickDraw.
#pragma once
#include <Quickdraw.h>

#include "core/image.h"

namespace vt {

constexpr size_t kPictureHeaderSize = 20;

// A new picture holding a copy of img, with picFrame = (0, 0, height, width); null when out of
// memory or img is empty.
PicHandle makePicture(const Image& img);
// Copies the picture's pixels into img; false when pic is not a valid picture of ours.
bool pictureToImage(PicHandle pic, Image& img);

}  // namespace vt

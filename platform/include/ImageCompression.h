// Image compression manager: image (video sample) descriptions.
#pragma once
#include "MacTypes.h"
#include "Quickdraw.h"

typedef OSType CodecType;
typedef unsigned short CodecFlags;
typedef UInt32 CodecQ;

// The 86-byte video sample description, in host byte order in memory (the movie layer swaps
// to big-endian when writing files). Extensions (e.g. 'avcC') follow the 86 bytes.
#pragma pack(push, 2)
struct ImageDescription {
  SInt32 idSize;
  CodecType cType;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt16 version;
  SInt16 revisionLevel;
  SInt32 vendor;
  CodecQ temporalQuality;
  CodecQ spatialQuality;
  SInt16 width;
  SInt16 height;
  Fixed hRes;
  Fixed vRes;
  SInt32 dataSize;
  SInt16 frameCount;
  Str31 name;
  SInt16 depth;
  SInt16 clutID;
};
#pragma pack(pop)
static_assert(sizeof(ImageDescription) == 86, "image description is 86 bytes");
typedef ImageDescription* ImageDescriptionPtr;
typedef ImageDescriptionPtr* ImageDescriptionHandle;

enum {
  codecMinQuality = 0x000,
  codecLowQuality = 0x100,
  codecNormalQuality = 0x200,
  codecHighQuality = 0x300,
  codecMaxQuality = 0x3FF,
  codecLosslessQuality = 0x400,
};

// The image compressor is not part of this platform. It is declared weak so that callers can
// test whether the entry point is bound (its address is null here).
OSErr CompressImage(PixMapHandle src, const Rect* srcRect, CodecQ quality, CodecType cType,
                    ImageDescriptionHandle desc, Ptr data) __attribute__((weak));

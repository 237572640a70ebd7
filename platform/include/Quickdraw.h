// QuickDraw: ports, regions, pictures, colours, cursors, graphics devices.
#pragma once
#include "MacTypes.h"

struct VTPort;      // a drawing port (window port or offscreen world)
struct VTRegion;    // a region
struct VTGDevice;   // a graphics device (the screen)

typedef VTPort* GrafPtr;
typedef VTPort* CGrafPtr;
typedef VTPort* GWorldPtr;
typedef GrafPtr* GrafPtrPtr;

struct VTRegionRecord;
typedef VTRegion** RgnHandle;

struct RGBColor {
  unsigned short red;
  unsigned short green;
  unsigned short blue;
};

// A picture: a handle whose block starts with this header; our platform stores the frame's
// pixels (32-bit, see the platform's image format) right after it.
struct Picture {
  short picSize;  // low 16 bits of the size, as on the original platform
  Rect picFrame;
};
typedef Picture* PicPtr;
typedef PicPtr* PicHandle;

struct PixMap {
  Ptr baseAddr;
  short rowBytes;
  Rect bounds;
  short pmVersion;
  short packType;
  long packSize;
  Fixed hRes;
  Fixed vRes;
  short pixelType;
  short pixelSize;
  short cmpCount;
  short cmpSize;
};
typedef PixMap* PixMapPtr;
typedef PixMapPtr* PixMapHandle;

struct GDevice {
  short gdRefNum;
  short gdID;
  short gdType;
  PixMapHandle gdPMap;
  Rect gdRect;
};
typedef GDevice* GDPtr;
typedef GDPtr* GDHandle;

struct Bits16Array {
  short data[16];
};
struct Cursor {
  short data[16];
  short mask[16];
  Point hotSpot;
};
typedef Cursor* CursPtr;
typedef CursPtr* CursHandle;

// QuickDraw: ports, regions, pictures, colours, cursors, graphics devices.
#pragma once
#include "MacTypes.h"

struct VTPort;     // a drawing port (window port or offscreen world)
struct VTRegion;   // a region
struct VTGDevice;  // a graphics device (the screen)

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

struct Pattern {
  UInt8 pat[8];
};
typedef const Pattern* ConstPatternParam;

struct BitMap {
  Ptr baseAddr;
  short rowBytes;
  Rect bounds;
};

struct FontInfo {
  short ascent;
  short descent;
  short widMax;
  short leading;
};

typedef unsigned char Style;
typedef short StyleParameter;
enum {
  normal = 0,
  bold = 1,
  italic = 2,
  underline = 4,
  outline = 8,
  shadow = 0x10,
  condense = 0x20,
  extend = 0x40
};

// Transfer modes (pen and copy).
enum {
  srcCopy = 0,
  srcOr = 1,
  srcXor = 2,
  srcBic = 3,
  patCopy = 8,
  patOr = 9,
  patXor = 10,
  patBic = 11
};

// Pixel types of a pixel map; the screen is 32-bit direct colour.
enum { RGBDirect = 16 };
enum { clutType = 0, fixedType = 1, directType = 2 };

// Ports
void GetPort(GrafPtr* port);
void SetPort(GrafPtr port);
Rect* GetPortBounds(CGrafPtr port, Rect* rect);
RgnHandle GetPortVisibleRegion(CGrafPtr port, RgnHandle visRgn);
RgnHandle GetPortClipRegion(CGrafPtr port, RgnHandle clipRgn);
PixMapHandle GetPortPixMap(CGrafPtr port);
void LocalToGlobal(Point* pt);
void GlobalToLocal(Point* pt);
void SetOrigin(short h, short v);
// Presents what was drawn into the port now instead of at the next event.
void QDFlushPortBuffer(CGrafPtr port, RgnHandle region);

// Rectangles
void SetRect(Rect* r, short left, short top, short right, short bottom);
void OffsetRect(Rect* r, short dh, short dv);
void InsetRect(Rect* r, short dh, short dv);
Boolean SectRect(const Rect* src1, const Rect* src2, Rect* dstRect);
void UnionRect(const Rect* src1, const Rect* src2, Rect* dstRect);
Boolean EqualRect(const Rect* rect1, const Rect* rect2);
Boolean EmptyRect(const Rect* r);
Boolean PtInRect(Point pt, const Rect* r);
void SetPt(Point* pt, short h, short v);
Boolean EqualPt(Point pt1, Point pt2);
void AddPt(Point src, Point* dst);
void SubPt(Point src, Point* dst);

// Drawing with the current port's pen and colours
void EraseRect(const Rect* r);
void PaintRect(const Rect* r);
void FrameRect(const Rect* r);
void InvertRect(const Rect* r);
void FillRect(const Rect* r, const Pattern* pat);
void EraseOval(const Rect* r);
void PaintOval(const Rect* r);
void FrameOval(const Rect* r);
void RGBForeColor(const RGBColor* color);
void RGBBackColor(const RGBColor* color);
void GetForeColor(RGBColor* color);
void GetBackColor(RGBColor* color);
void ForeColor(long color);
void BackColor(long color);
enum {
  blackColor = 33,
  whiteColor = 30,
  redColor = 205,
  greenColor = 341,
  blueColor = 409,
  cyanColor = 273,
  magentaColor = 137,
  yellowColor = 69
};
void MoveTo(short h, short v);
void Move(short dh, short dv);
void LineTo(short h, short v);
void Line(short dh, short dv);
void GetPen(Point* pt);
void PenSize(short width, short height);
void PenMode(short mode);
void PenNormal();
void ClipRect(const Rect* r);
void GetClip(RgnHandle rgn);
void SetClip(RgnHandle rgn);

// Text (DejaVu Sans stands in for every font family)
void DrawString(ConstStr255Param s);
void DrawText(const void* textBuf, short firstByte, short byteCount);
void DrawChar(short ch);
short StringWidth(ConstStr255Param s);
short TextWidth(const void* textBuf, short firstByte, short byteCount);
short CharWidth(short ch);
void TextSize(short size);
void TextFont(short font);
void TextFace(StyleParameter face);
void TextMode(short mode);
void GetFontInfo(FontInfo* info);

// Regions (coordinates local to whatever the caller means; global for GetGrayRgn)
RgnHandle NewRgn();
void DisposeRgn(RgnHandle rgn);
void RectRgn(RgnHandle rgn, const Rect* r);
void SetRectRgn(RgnHandle rgn, short left, short top, short right, short bottom);
void SetEmptyRgn(RgnHandle rgn);
void CopyRgn(RgnHandle srcRgn, RgnHandle dstRgn);
void SectRgn(RgnHandle srcRgnA, RgnHandle srcRgnB, RgnHandle dstRgn);
void UnionRgn(RgnHandle srcRgnA, RgnHandle srcRgnB, RgnHandle dstRgn);
void DiffRgn(RgnHandle srcRgnA, RgnHandle srcRgnB, RgnHandle dstRgn);
void XorRgn(RgnHandle srcRgnA, RgnHandle srcRgnB, RgnHandle dstRgn);
void OffsetRgn(RgnHandle rgn, short dh, short dv);
void InsetRgn(RgnHandle rgn, short dh, short dv);
Boolean EmptyRgn(RgnHandle rgn);
Boolean EqualRgn(RgnHandle rgnA, RgnHandle rgnB);
Boolean PtInRgn(Point pt, RgnHandle rgn);
Boolean RectInRgn(const Rect* r, RgnHandle rgn);
Rect* GetRegionBounds(RgnHandle region, Rect* bounds);
Boolean IsRegionRectangular(RgnHandle region);
// The desktop: the screen below the menu bar, global coordinates. Owned by the system.
RgnHandle GetGrayRgn();
void PaintRgn(RgnHandle rgn);
void EraseRgn(RgnHandle rgn);
void FrameRgn(RgnHandle rgn);
void InvertRgn(RgnHandle rgn);
void FillRgn(RgnHandle rgn, const Pattern* pat);
// Classic QuickDraw error: region operations record memFullErr here.
short QDError();

// Pictures
void DrawPicture(PicHandle myPicture, const Rect* dstRect);
void KillPicture(PicHandle myPicture);

// Graphics devices: one screen, 32-bit direct colour.
GDHandle GetMainDevice();
GDHandle GetGDevice();
void SetGDevice(GDHandle gd);
GDHandle GetDeviceList();
GDHandle GetNextDevice(GDHandle curDevice);
// The deepest device the global rectangle touches; null when it touches none.
GDHandle GetMaxDevice(const Rect* globalRect);

// Global patterns and cursors
Pattern* GetQDGlobalsBlack(Pattern* black);
Pattern* GetQDGlobalsWhite(Pattern* white);
Pattern* GetQDGlobalsGray(Pattern* gray);
Pattern* GetQDGlobalsLightGray(Pattern* ltGray);
Pattern* GetQDGlobalsDarkGray(Pattern* dkGray);
Cursor* GetQDGlobalsArrow(Cursor* arrow);
BitMap* GetQDGlobalsScreenBits(BitMap* screenBits);
void InitCursor();
void SetCursor(const Cursor* crsr);
void HideCursor();
void ShowCursor();
void ObscureCursor();

// Basic toolbox types shared by every manager.
#pragma once
#include <cstddef>
#include <cstdint>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;

typedef unsigned char Boolean;
typedef SInt16 OSErr;
typedef SInt32 OSStatus;
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef OSType* OSTypePtr;
typedef long Size;
typedef SInt32 Fixed;
typedef Fixed* FixedPtr;
typedef SInt32 Fract;
typedef short ScriptCode;
typedef short LangCode;
typedef short RegionCode;
typedef UInt32 ByteCount;
typedef UInt32 ItemCount;
typedef SInt16 ResID;
typedef long SRefCon;  // pointer-sized on LP64: the reference constants carry handles
typedef UInt16 EventKind;
typedef UInt16 EventModifiers;
typedef UInt32 UTCDateTime32;

typedef char* Ptr;
typedef Ptr* Handle;
typedef long (*ProcPtr)();
typedef ProcPtr UniversalProcPtr;

typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str32[33];
typedef unsigned char Str31[32];
typedef unsigned char Str27[28];
typedef unsigned char Str15[16];
typedef unsigned char* StringPtr;
typedef StringPtr* StringHandle;
typedef const unsigned char* ConstStringPtr;
typedef const unsigned char* ConstStr255Param;
typedef const unsigned char* ConstStr63Param;
typedef const unsigned char* ConstStr31Param;

struct Point {
  short v;
  short h;
};
typedef Point* PointPtr;

struct Rect {
  short top;
  short left;
  short bottom;
  short right;
};
typedef Rect* RectPtr;

struct FixedPoint {
  Fixed x;
  Fixed y;
};

struct FixedRect {
  Fixed left;
  Fixed top;
  Fixed right;
  Fixed bottom;
};

struct wide {
  SInt32 hi;
  UInt32 lo;
};

struct NumVersion {
  UInt8 majorRev;
  UInt8 minorAndBugRev;
  UInt8 stage;
  UInt8 nonRelRev;
};

enum { noErr = 0 };
enum { kNilOptions = 0 };
enum { kUnknownType = 0x3F3F3F3F };  // '????'

// Movie time: a count of units of a time scale.
typedef SInt32 TimeValue;
typedef SInt32 TimeScale;
typedef SInt64 TimeValue64;
typedef wide CompTimeValue;

constexpr Fixed IntToFixed(int v) { return (Fixed)((UInt32)v << 16); }
constexpr int FixedToInt(Fixed f) { return f >> 16; }
constexpr Fixed fixed1 = 0x00010000;

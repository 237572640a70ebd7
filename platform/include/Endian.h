// Byte-order conversion between the host (N) and big-endian (B) or little-endian (L) order.
#pragma once
#include "MacTypes.h"

constexpr UInt16 VTSwap16(UInt16 v) { return (UInt16)((v >> 8) | (v << 8)); }
constexpr UInt32 VTSwap32(UInt32 v) {
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr UInt16 EndianU16_NtoB(UInt16 v) { return VTSwap16(v); }
constexpr UInt32 EndianU32_NtoB(UInt32 v) { return VTSwap32(v); }
constexpr UInt16 EndianU16_NtoL(UInt16 v) { return v; }
constexpr UInt32 EndianU32_NtoL(UInt32 v) { return v; }
#else
constexpr UInt16 EndianU16_NtoB(UInt16 v) { return v; }
constexpr UInt32 EndianU32_NtoB(UInt32 v) { return v; }
constexpr UInt16 EndianU16_NtoL(UInt16 v) { return VTSwap16(v); }
constexpr UInt32 EndianU32_NtoL(UInt32 v) { return VTSwap32(v); }
#endif
constexpr UInt16 EndianU16_BtoN(UInt16 v) { return EndianU16_NtoB(v); }
constexpr UInt32 EndianU32_BtoN(UInt32 v) { return EndianU32_NtoB(v); }
constexpr UInt16 EndianU16_LtoN(UInt16 v) { return EndianU16_NtoL(v); }
constexpr UInt32 EndianU32_LtoN(UInt32 v) { return EndianU32_NtoL(v); }
constexpr SInt16 EndianS16_NtoB(SInt16 v) { return (SInt16)EndianU16_NtoB((UInt16)v); }
constexpr SInt32 EndianS32_NtoB(SInt32 v) { return (SInt32)EndianU32_NtoB((UInt32)v); }
constexpr SInt16 EndianS16_BtoN(SInt16 v) { return (SInt16)EndianU16_BtoN((UInt16)v); }
constexpr SInt32 EndianS32_BtoN(SInt32 v) { return (SInt32)EndianU32_BtoN((UInt32)v); }

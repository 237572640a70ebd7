// Four-character codes inside the platform. In code they are written as literals ('moov');
// these helpers read and write them (and other big-endian numbers) in file byte order.
#pragma once
#include <MacTypes.h>

#include <string>

namespace vt {

// 'abcd' as text; bytes outside printable ASCII are shown as \xNN.
std::string fourccString(OSType code);

inline uint32_t readBE32(const unsigned char* p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}
inline uint16_t readBE16(const unsigned char* p) { return (uint16_t)((p[0] << 8) | p[1]); }
inline uint64_t readBE64(const unsigned char* p) {
  return ((uint64_t)readBE32(p) << 32) | readBE32(p + 4);
}
inline void writeBE32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}
inline void writeBE16(unsigned char* p, uint16_t v) {
  p[0] = (unsigned char)(v >> 8);
  p[1] = (unsigned char)v;
}
inline void writeBE64(unsigned char* p, uint64_t v) {
  writeBE32(p, (uint32_t)(v >> 32));
  writeBE32(p + 4, (uint32_t)v);
}

}  // namespace vt

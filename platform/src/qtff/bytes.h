// Big-endian byte building for atoms.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/fourcc.h"

namespace vt::qtff {

class ByteWriter {
 public:
  std::vector<uint8_t> out;
  void u8(uint8_t v) { out.push_back(v); }
  void u16(uint16_t v) {
    out.push_back((uint8_t)(v >> 8));
    out.push_back((uint8_t)v);
  }
  void u32(uint32_t v) {
    size_t n = out.size();
    out.resize(n + 4);
    writeBE32(&out[n], v);
  }
  void u64(uint64_t v) {
    u32((uint32_t)(v >> 32));
    u32((uint32_t)v);
  }
  void bytes(const void* p, size_t n) {
    const uint8_t* b = (const uint8_t*)p;
    out.insert(out.end(), b, b + n);
  }
  void bytes(const std::vector<uint8_t>& v) { out.insert(out.end(), v.begin(), v.end()); }
  void zeros(size_t n) { out.resize(out.size() + n, 0); }
  // Opens an atom; returns its start for end().
  size_t begin(uint32_t type) {
    size_t at = out.size();
    u32(0);
    u32(type);
    return at;
  }
  size_t beginFull(uint32_t type, uint8_t version, uint32_t flags) {
    size_t at = begin(type);
    u32(((uint32_t)version << 24) | (flags & 0xFFFFFF));
    return at;
  }
  void end(size_t at) { writeBE32(&out[at], (uint32_t)(out.size() - at)); }
  void patch32(size_t at, uint32_t v) { writeBE32(&out[at], v); }
};

}  // namespace vt::qtff

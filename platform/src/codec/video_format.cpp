#include "codec/video_format.h"

#include <ImageCompression.h>

#include <cstring>

#include "core/fourcc.h"

namespace vt::codec {

namespace {

constexpr size_t kDescHeader = 86;

// Reads a QuickDraw colour table (seed, flags, count-1, then value/r/g/b words) at p. Returns
// the bytes it used, 0 when it does not fit.
size_t readColorTable(const uint8_t* p, size_t avail, std::vector<Pixel>& out) {
  if (avail < 8) return 0;
  int count = (int16_t)readBE16(p + 6) + 1;
  if (count <= 0 || count > 256) return 0;
  size_t need = 8 + (size_t)count * 8;
  if (need > avail) return 0;
  out.assign(256, makePixel(0, 0, 0));
  // A device table (flag 0x8000) is in index order and its value fields mean nothing; other
  // tables name each entry's index.
  bool byPosition = (readBE16(p + 4) & 0x8000) != 0;
  for (int i = 0; i < count; i++) {
    const uint8_t* e = p + 8 + (size_t)i * 8;
    int idx = byPosition ? i : readBE16(e);
    if (idx >= 256) idx = i;
    out[idx] = makePixel(e[2], e[4], e[6]);
  }
  out.resize(count);
  return need;
}

bool finishParse(const uint8_t* rest, size_t restSize, VideoFormat& f) {
  f.colorTable.clear();
  int bits = f.depth & 0x1F;
  bool indexed = f.depth <= 8 || (f.depth > 32 && bits <= 8);
  if (f.clutID == 0 && indexed) {
    size_t used = readColorTable(rest, restSize, f.colorTable);
    if (used == 0) return false;
    rest += used;
    restSize -= used;
  }
  f.extensions.assign(rest, rest + restSize);
  return f.width > 0 && f.height > 0;
}

}  // namespace

bool VideoFormat::extension(OSType type, std::vector<uint8_t>& out, bool withHeader) const {
  size_t pos = 0;
  while (pos + 8 <= extensions.size()) {
    uint32_t size = readBE32(&extensions[pos]);
    OSType t = readBE32(&extensions[pos + 4]);
    if (size == 0 && t == 0) break;  // optional terminator
    if (size < 8 || size > extensions.size() - pos) break;
    if (t == type) {
      size_t from = withHeader ? pos : pos + 8;
      out.assign(extensions.begin() + from, extensions.begin() + pos + size);
      return true;
    }
    pos += size;
  }
  return false;
}

namespace {

// Reads an MPEG-4 descriptor length (1 to 4 bytes of 7 bits each).
bool descLen(const std::vector<uint8_t>& b, size_t& pos, size_t& len) {
  len = 0;
  for (int i = 0; i < 4; i++) {
    if (pos >= b.size()) return false;
    uint8_t c = b[pos++];
    len = (len << 7) | (c & 0x7F);
    if (!(c & 0x80)) return true;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> esdsConfig(const std::vector<uint8_t>& esds, uint8_t* objectType) {
  if (objectType) *objectType = 0;
  size_t pos = 4;  // version and flags
  size_t len;
  while (pos < esds.size()) {
    uint8_t tag = esds[pos++];
    if (!descLen(esds, pos, len)) break;
    if (tag == 0x03) {  // ES_Descriptor: skip its fixed fields and descend
      if (pos + 3 > esds.size()) break;
      uint8_t flags = esds[pos + 2];
      pos += 3;
      if (flags & 0x80) pos += 2;
      if (flags & 0x40) {
        if (pos >= esds.size()) break;
        pos += 1 + esds[pos];
      }
      if (flags & 0x20) pos += 2;
    } else if (tag == 0x04) {  // DecoderConfigDescriptor: 13 fixed bytes, then children
      if (objectType && pos < esds.size()) *objectType = esds[pos];
      pos += 13;
    } else if (tag == 0x05) {
      if (len > esds.size() - pos) break;
      return std::vector<uint8_t>(esds.begin() + pos, esds.begin() + pos + len);
    } else {
      if (len > esds.size() - pos) break;
      pos += len;
    }
  }
  return {};
}

std::vector<uint8_t> VideoFormat::decoderConfig() const {
  std::vector<uint8_t> out;
  switch (codec) {
    case 'avc1':
    case 'avc3':
      if (extension('avcC', out)) return out;
      break;
    case 'hvc1':
    case 'hev1':
      if (extension('hvcC', out)) return out;
      break;
    case 'av01':
      if (extension('av1C', out)) return out;
      break;
    case 'mp4v':
      if (extension('esds', out)) return esdsConfig(out);
      break;
    case 'SVQ3':
      // The decoder finds its sequence header inside the whole 'SMI ' atom.
      if (extension('SMI ', out, true)) return out;
      break;
    default: break;
  }
  if (extension('glbl', out)) return out;
  return {};
}

std::vector<Pixel> defaultPalette(int bits) {
  std::vector<Pixel> p;
  switch (bits) {
    case 1: p = {makePixel(255, 255, 255), makePixel(0, 0, 0)}; break;
    case 2:
      p = {makePixel(255, 255, 255), makePixel(0xAC, 0xAC, 0xAC), makePixel(0x55, 0x55, 0x55),
           makePixel(0, 0, 0)};
      break;
    case 4: {
      static const uint32_t k16[16] = {0xFFFFFF, 0xFCF305, 0xFF6402, 0xDD0806, 0xF20884, 0x4600A5,
                                       0x0000D4, 0x02ABEA, 0x1FB714, 0x006411, 0x562C05, 0x90713A,
                                       0xC0C0C0, 0x808080, 0x404040, 0x000000};
      for (uint32_t c : k16) p.push_back(0xFF000000u | c);
      break;
    }
    case 8: {
      // 6x6x6 cube from white down, then red, green, blue and grey ramps, then black.
      static const uint8_t cube[6] = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
      static const uint8_t ramp[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
      for (int r = 0; r < 6; r++)
        for (int g = 0; g < 6; g++)
          for (int b = 0; b < 6; b++) p.push_back(makePixel(cube[r], cube[g], cube[b]));
      p.pop_back();  // the cube's black comes last in the table
      for (uint8_t v : ramp) p.push_back(makePixel(v, 0, 0));
      for (uint8_t v : ramp) p.push_back(makePixel(0, v, 0));
      for (uint8_t v : ramp) p.push_back(makePixel(0, 0, v));
      for (uint8_t v : ramp) p.push_back(makePixel(v, v, v));
      p.push_back(makePixel(0, 0, 0));
      break;
    }
    default: break;
  }
  return p;
}

std::vector<Pixel> VideoFormat::palette() const {
  int bits = depth & 0x1F;
  bool grey = depth > 32;
  if (bits == 0 || bits > 8 || (depth > 8 && !grey)) return {};
  if (!colorTable.empty()) return colorTable;
  if (grey) {
    // Grey ramps run from white to black.
    int n = 1 << bits;
    std::vector<Pixel> p;
    for (int i = 0; i < n; i++) {
      int v = 255 - (i * 255) / (n - 1);
      p.push_back(makePixel((uint8_t)v, (uint8_t)v, (uint8_t)v));
    }
    return p;
  }
  return defaultPalette(bits);
}

bool parseSampleEntry(const uint8_t* d, size_t size, VideoFormat& f) {
  if (!d || size < kDescHeader) return false;
  uint32_t declared = readBE32(d);
  if (declared < kDescHeader || declared > size) return false;
  f.codec = readBE32(d + 4);
  f.width = readBE16(d + 32);
  f.height = readBE16(d + 34);
  f.depth = (int16_t)readBE16(d + 82);
  f.clutID = (int16_t)readBE16(d + 84);
  return finishParse(d + kDescHeader, declared - kDescHeader, f);
}

bool parseImageDescription(const void* data, size_t size, VideoFormat& f) {
  if (!data || size < kDescHeader) return false;
  ImageDescription id;
  std::memcpy(&id, data, sizeof id);
  size_t declared = id.idSize > 0 ? (size_t)id.idSize : size;
  if (declared < kDescHeader) return false;
  if (declared > size) declared = size;
  f.codec = id.cType;
  f.width = (uint16_t)id.width;
  f.height = (uint16_t)id.height;
  f.depth = id.depth;
  f.clutID = id.clutID;
  const uint8_t* rest = static_cast<const uint8_t*>(data) + kDescHeader;
  return finishParse(rest, declared - kDescHeader, f);
}

}  // namespace vt::codec

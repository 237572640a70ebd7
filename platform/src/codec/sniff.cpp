#include "codec/sniff.h"

#include <algorithm>
#include <cstring>

#include "files/host_file.h"

namespace vt::codec {

namespace {

constexpr size_t kSniffBytes = 65536;

bool isTransportStream(const std::vector<uint8_t>& h, size_t packet, size_t lead) {
  size_t packets = 0;
  for (size_t p = lead; p < h.size(); p += packet) {
    if (h[p] != 0x47) return false;
    packets++;
  }
  return packets >= 2 || (packets == 1 && h.size() == packet);
}

// Matroska's EBML header names its document type; WebM is Matroska restricted to web codecs.
bool matroskaIsWebM(const std::vector<uint8_t>& h) {
  size_t limit = std::min<size_t>(h.size(), 64);
  static const uint8_t kDocType[] = {0x42, 0x82};
  for (size_t i = 4; i + 3 < limit; i++)
    if (h[i] == kDocType[0] && h[i + 1] == kDocType[1]) {
      size_t len = h[i + 2] & 0x7F;
      if (i + 3 + len <= h.size() && len == 4 && std::memcmp(&h[i + 3], "webm", 4) == 0)
        return true;
      return false;
    }
  return false;
}

// The length of the MPEG audio frame whose header starts at p, 0 when p holds no header.
size_t mpegAudioFrame(const uint8_t* p, size_t n) {
  if (n < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
  int version = (p[1] >> 3) & 3;      // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5, 1: reserved
  int layer = 4 - ((p[1] >> 1) & 3);  // 4 means reserved
  int bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
  if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return 0;
  static const uint16_t kKbps[5][14] = {
      {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // 1, layer I
      {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // 1, layer II
      {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // 1, layer III
      {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // 2, layer I
      {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};         // 2, layers II, III
  static const int kRates[3] = {44100, 48000, 32000};
  bool one = version == 3;
  int row = one ? layer - 1 : (layer == 1 ? 3 : 4);
  int kbps = kKbps[row][bitrateIndex - 1];
  int rate = kRates[rateIndex] >> (one ? 0 : version == 2 ? 1 : 2);
  if (layer == 1) return (size_t)((12 * kbps * 1000 / rate + padding) * 4);
  int perFrame = layer == 3 && !one ? 72 : 144;
  return (size_t)(perFrame * kbps * 1000 / rate + padding);
}

}  // namespace

bool readHead(const vt::files::HostFile& file, std::vector<uint8_t>& head) {
  head.resize(kSniffBytes);
  size_t n = 0;
  while (n < head.size()) {
    int64_t r = file.readSome(n, head.size() - n, head.data() + n);
    if (r < 0) return false;
    if (r == 0) break;
    n += (size_t)r;
  }
  head.resize(n);
  return true;
}

OSType sniffHead(const std::vector<uint8_t>& h) {
  auto starts = [&](const char* s, size_t n, size_t at = 0) {
    return h.size() >= at + n && std::memcmp(h.data() + at, s, n) == 0;
  };
  if (starts("\x89PNG\r\n\x1a\n", 8)) return 'PNGf';
  if (starts("\xFF\xD8\xFF", 3)) return 'JPEG';
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return 'GIFf';
  if (starts("II*\0", 4) || starts("MM\0*", 4)) return 'TIFF';
  if (starts("RIFF", 4) && starts("WEBP", 4, 8)) return 'WEBP';
  if (starts("RIFF", 4) && starts("AVI ", 4, 8)) return 'VfW ';
  if (starts("BM", 2) && h.size() >= 18) {
    uint32_t dib = h[14] | (h[15] << 8) | (h[16] << 16) | ((uint32_t)h[17] << 24);
    if (dib == 12 || dib == 40 || dib == 52 || dib == 56 || dib == 64 || dib == 108 || dib == 124)
      return 'BMPf';
  }
  if (starts("\x1A\x45\xDF\xA3", 4)) return matroskaIsWebM(h) ? 'WebM' : 'MkvF';
  if ((starts("RIFF", 4) || starts("RF64", 4)) && starts("WAVE", 4, 8)) return 'WAVE';
  if (starts("FORM", 4) && starts("AIFF", 4, 8)) return 'AIFF';
  if (starts("FORM", 4) && starts("AIFC", 4, 8)) return 'AIFC';
  if (starts("fLaC", 4)) return 'flac';
  if (starts("OggS", 4)) return 'OggS';
  if (starts("ID3", 3) && h.size() >= 10) {
    // A tag first: what follows it decides (tags too large for the head count as MP3).
    size_t tag = 10 + ((size_t)(h[6] & 0x7F) << 21 | (size_t)(h[7] & 0x7F) << 14 |
                       (size_t)(h[8] & 0x7F) << 7 | (h[9] & 0x7F));
    if (h[5] & 0x10) tag += 10;  // footer
    if (tag + 4 > h.size()) return 'MPG3';
    if (std::memcmp(&h[tag], "fLaC", 4) == 0) return 'flac';
    if (mpegAudioFrame(&h[tag], h.size() - tag)) return 'MPG3';
    return 0;
  }
  if (size_t n = mpegAudioFrame(h.data(), h.size())) {
    // Two frames in a row, so that stray sync bits in other data do not pass.
    if (n < h.size() && mpegAudioFrame(&h[n], h.size() - n)) return 'MPG3';
  }
  if (starts("\0\0\x01\xBA", 4) || starts("\0\0\x01\xB3", 4)) return 'MPEG';
  if (isTransportStream(h, 188, 0) || (h.size() > 4 && isTransportStream(h, 192, 4))) return 'MPEG';
  return 0;
}

const char* demuxerFor(OSType type, const std::vector<uint8_t>& h) {
  switch (type) {
    case 'MkvF':
    case 'WebM': return "matroska";
    case 'VfW ': return "avi";
    case 'MPEG':
      if (h.size() >= 4 && h[0] == 0 && h[1] == 0 && h[2] == 1)
        return h[3] == 0xBA ? "mpeg" : "mpegvideo";
      return "mpegts";
    case 'WAVE': return "wav";
    case 'AIFF':
    case 'AIFC': return "aiff";
    case 'MPG3': return "mp3";
    case 'flac': return "flac";
    case 'OggS': return "ogg";
    case 'GIFf': return "gif";
    case 'PNGf': return "png_pipe";
    case 'JPEG': return "jpeg_pipe";
    case 'BMPf': return "bmp_pipe";
    case 'TIFF': return "tiff_pipe";
    case 'WEBP': return "webp_pipe";
    default: return nullptr;
  }
}

bool isImageType(OSType t) {
  return t == 'PNGf' || t == 'JPEG' || t == 'GIFf' || t == 'BMPf' || t == 'TIFF' || t == 'WEBP';
}

bool isMovieImportType(OSType t) {
  return t == 'MkvF' || t == 'WebM' || t == 'VfW ' || t == 'MPEG' || t == 'GIFf' ||
         isSoundFileType(t);
}

bool isSoundFileType(OSType t) {
  return t == 'WAVE' || t == 'AIFF' || t == 'AIFC' || t == 'MPG3' || t == 'flac' || t == 'OggS';
}

OSType sniffFileType(const std::string& path) {
  auto file = vt::files::HostFile::open(path);
  return file ? sniffFileType(*file) : 0;
}

OSType sniffFileType(const vt::files::HostFile& file) {
  std::vector<uint8_t> head;
  if (!readHead(file, head)) return 0;
  return sniffHead(head);
}

}  // namespace vt::codec

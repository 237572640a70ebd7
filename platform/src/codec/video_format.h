// A video sample description as the decoder needs it: codec, size, depth, palette and the
// extension atoms that carry decoder configuration ('avcC', 'hvcC', 'esds', 'glbl', ...).
#pragma once
#include <MacTypes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/image.h"

namespace vt::codec {

struct VideoFormat {
  OSType codec = 0;
  int codecID = 0;  // libavcodec's codec ID when no four-character code names the codec
  int width = 0;
  int height = 0;
  int depth = 24;
  int clutID = -1;
  std::vector<Pixel> colorTable;    // embedded colour table (clutID 0), empty otherwise
  std::vector<uint8_t> extensions;  // extension atoms, file byte order

  // Payload of the first extension atom of `type` (with its 8-byte header when withHeader),
  // or false when there is none.
  bool extension(OSType type, std::vector<uint8_t>& out, bool withHeader = false) const;
  // The bytes a decoder needs as its global configuration for this codec (may be empty).
  std::vector<uint8_t> decoderConfig() const;
  // The palette for indexed and grey depths (1, 2, 4, 8, 33..40); empty for direct colour.
  std::vector<Pixel> palette() const;
};

// The DecoderSpecificInfo bytes inside an 'esds' payload (empty when there are none), and the
// object type its decoder configuration names (0 when absent).
std::vector<uint8_t> esdsConfig(const std::vector<uint8_t>& esds, uint8_t* objectType = nullptr);

// Parses a sample description laid out as in a movie file (big-endian, starting with the
// 4-byte size). False when it is too short or its sizes disagree.
bool parseSampleEntry(const uint8_t* data, size_t size, VideoFormat& out);

// Parses an ImageDescription block as the movie layer keeps it in memory (the 86-byte header
// in host order, then the colour table and extension atoms in file order).
bool parseImageDescription(const void* data, size_t size, VideoFormat& out);

// The default colour table of the classic desktop for an indexed depth (1, 2, 4, 8 bits).
std::vector<Pixel> defaultPalette(int bits);

}  // namespace vt::codec

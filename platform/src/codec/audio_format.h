// A sound sample description as a decoder needs it: which codec, the stream's rate and channels,
// how the sample table packs frames, and the decoder's configuration from the extension atoms
// ('esds', 'alac', 'dOps', 'dfLa', 'glbl', ...). FFmpeg stays behind this header.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vt::codec {

struct AudioFormat {
  OSType codec = 0;
  int codecID = 0;     // libavcodec's codec ID; 0 when no decoder is known for the format
  int sampleRate = 0;  // frames per second of the stream
  int channels = 0;
  int bitsPerSample = 0;
  // Descriptions that count frames: frames and bytes of one packet (0 for variable packets).
  uint32_t framesPerPacket = 0;
  uint32_t bytesPerPacket = 0;
  std::vector<uint8_t> config;  // the decoder's global configuration, may be empty
};

// Reads a sound sample description laid out as in a movie file (big-endian, starting with its
// 4-byte size), versions 0, 1 and 2. False when it is too short or damaged; a description of a
// codec nobody decodes parses, with codecID 0.
bool parseSoundEntry(const uint8_t* data, size_t size, AudioFormat& out);

// Sound descriptions for streams from other containers (file layout, big-endian): version 0 for
// 16-bit PCM and compressed audio, version 2 for rates above 16 bits and other PCM. `config` is
// the libavformat extradata of the stream; codecs without a movie code keep libavcodec's name.
std::vector<uint8_t> makeSoundEntry(int codecID, int sampleRate, int channels, int bitsPerSample,
                                    const std::vector<uint8_t>& config);

// An 'esds' payload for MPEG-4 elementary streams (objectType 0x40 AAC, 0x20 visual, ...).
std::vector<uint8_t> makeEsds(uint8_t objectType, bool audio, const uint8_t* config, size_t size);

}  // namespace vt::codec

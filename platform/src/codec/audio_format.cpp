#include "codec/audio_format.h"

#include <cmath>
#include <cstring>

#include "codec/video_format.h"
#include "core/fourcc.h"
#include "model/model.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vt::codec {

namespace {

// Flags of version 2 linear PCM descriptions.
constexpr uint32_t kPcmFloat = 1, kPcmBigEndian = 2, kPcmSigned = 4, kPcmPacked = 8;
// Codecs without a movie code keep libavcodec's name in this extension atom.
constexpr OSType kCodecNameAtom = 'avcn';

unsigned int avTag(OSType codec) {
  return ((codec >> 24) & 0xFF) | ((codec >> 8) & 0xFF00) | ((codec << 8) & 0xFF0000) |
         ((codec << 24) & 0xFF000000u);
}

AVCodecID pcmCodec(int bits, bool isFloat, bool bigEndian, bool isSigned) {
  if (isFloat) {
    if (bits == 32) return bigEndian ? AV_CODEC_ID_PCM_F32BE : AV_CODEC_ID_PCM_F32LE;
    if (bits == 64) return bigEndian ? AV_CODEC_ID_PCM_F64BE : AV_CODEC_ID_PCM_F64LE;
    return AV_CODEC_ID_NONE;
  }
  switch (bits) {
    case 8: return isSigned ? AV_CODEC_ID_PCM_S8 : AV_CODEC_ID_PCM_U8;
    case 16:
      if (!isSigned) return bigEndian ? AV_CODEC_ID_PCM_U16BE : AV_CODEC_ID_PCM_U16LE;
      return bigEndian ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_PCM_S16LE;
    case 24: return bigEndian ? AV_CODEC_ID_PCM_S24BE : AV_CODEC_ID_PCM_S24LE;
    case 32: return bigEndian ? AV_CODEC_ID_PCM_S32BE : AV_CODEC_ID_PCM_S32LE;
    default: return AV_CODEC_ID_NONE;
  }
}

// The decoder for MPEG-4 elementary streams by their object type.
AVCodecID mpeg4AudioCodec(uint8_t objectType) {
  switch (objectType) {
    case 0x40:
    case 0x66:
    case 0x67:
    case 0x68: return AV_CODEC_ID_AAC;
    case 0x69:
    case 0x6B: return AV_CODEC_ID_MP3;
    case 0xA5: return AV_CODEC_ID_AC3;
    case 0xA6: return AV_CODEC_ID_EAC3;
    case 0xA9: return AV_CODEC_ID_DTS;
    case 0xAD: return AV_CODEC_ID_OPUS;
    case 0xDD: return AV_CODEC_ID_VORBIS;
    default: return AV_CODEC_ID_NONE;
  }
}

// 'dOps' (big-endian) to the OpusHead packet libavcodec takes (little-endian).
std::vector<uint8_t> opusHead(const std::vector<uint8_t>& dops, int channels) {
  if (dops.size() < 11) return {};
  std::vector<uint8_t> h = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, dops[1]};
  uint16_t preskip = readBE16(&dops[2]);
  uint32_t rate = readBE32(&dops[4]);
  uint16_t gain = readBE16(&dops[8]);
  h.push_back((uint8_t)preskip);
  h.push_back((uint8_t)(preskip >> 8));
  for (int i = 0; i < 4; ++i) h.push_back((uint8_t)(rate >> (8 * i)));
  h.push_back((uint8_t)gain);
  h.push_back((uint8_t)(gain >> 8));
  h.push_back(dops[10]);  // channel mapping family
  if (dops[10] != 0) {
    size_t need = 11 + 2 + (size_t)std::max(channels, (int)dops[1]);
    if (dops.size() < need) return {};
    h.insert(h.end(), dops.begin() + 11, dops.begin() + (long)need);
  }
  return h;
}

// OpusHead back to 'dOps'.
std::vector<uint8_t> dOps(const std::vector<uint8_t>& head) {
  if (head.size() < 19 || std::memcmp(head.data(), "OpusHead", 8) != 0) return {};
  std::vector<uint8_t> d = {0, head[9]};
  uint16_t preskip = (uint16_t)(head[10] | (head[11] << 8));
  uint32_t rate = head[12] | (head[13] << 8) | (head[14] << 16) | ((uint32_t)head[15] << 24);
  d.push_back((uint8_t)(preskip >> 8));
  d.push_back((uint8_t)preskip);
  for (int i = 3; i >= 0; --i) d.push_back((uint8_t)(rate >> (8 * i)));
  d.push_back(head[17]);  // output gain, little-endian in the packet
  d.push_back(head[16]);
  d.insert(d.end(), head.begin() + 18, head.end());
  return d;
}

void putAtom(std::vector<uint8_t>& out, OSType type, const std::vector<uint8_t>& payload) {
  size_t at = out.size();
  out.resize(at + 8);
  writeBE32(&out[at], (uint32_t)(8 + payload.size()));
  writeBE32(&out[at + 4], type);
  out.insert(out.end(), payload.begin(), payload.end());
}

void putDescriptor(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& body) {
  out.push_back(tag);
  size_t n = body.size();
  out.push_back((uint8_t)(0x80 | ((n >> 21) & 0x7F)));
  out.push_back((uint8_t)(0x80 | ((n >> 14) & 0x7F)));
  out.push_back((uint8_t)(0x80 | ((n >> 7) & 0x7F)));
  out.push_back((uint8_t)(n & 0x7F));
  out.insert(out.end(), body.begin(), body.end());
}

}  // namespace

std::vector<uint8_t> makeEsds(uint8_t objectType, bool audio, const uint8_t* cfg, size_t n) {
  // Stream type 5 (audio) or 4 (visual), shifted, with the reserved bit set.
  std::vector<uint8_t> dcd = {
      objectType, (uint8_t)(audio ? 0x15 : 0x11), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  if (n) putDescriptor(dcd, 0x05, std::vector<uint8_t>(cfg, cfg + n));
  std::vector<uint8_t> es = {0, 0, 0};
  putDescriptor(es, 0x04, dcd);
  putDescriptor(es, 0x06, {0x02});
  std::vector<uint8_t> out = {0, 0, 0, 0};
  putDescriptor(out, 0x03, es);
  return out;
}

bool parseSoundEntry(const uint8_t* d, size_t size, AudioFormat& f) {
  f = AudioFormat();
  if (!d || size < 36) return false;
  uint32_t declared = readBE32(d);
  if (declared < 36 || declared > size) return false;
  vt::movie::SampleDesc sd;
  sd.bytes.assign(d, d + declared);
  uint16_t version = sd.soundVersion();
  if (version > 2 || (version == 1 && declared < 52) || (version == 2 && declared < 72))
    return false;
  f.codec = sd.format();
  uint32_t channels = sd.channels();
  f.channels = channels <= 64 ? (int)channels : 0;
  f.bitsPerSample = (int)std::min<uint32_t>(sd.bitsPerSample(), 64);
  double rate = sd.sampleRate();
  f.sampleRate = rate >= 1 && rate <= 1e6 ? (int)std::lround(rate) : 0;
  sd.soundFramePacking(f.framesPerPacket, f.bytesPerPacket);

  std::vector<uint8_t> ext;
  bool littleEndian =
      sd.extension(SoundMediaType, 'enda', ext) && ext.size() >= 2 && readBE16(ext.data()) != 0;
  AVCodecID id = AV_CODEC_ID_NONE;
  int bits = f.bitsPerSample;
  switch (f.codec) {
    case 'twos': id = pcmCodec(bits, false, true, true); break;
    case 'sowt': id = pcmCodec(bits, false, bits == 8, true); break;
    case 'raw ':
    case 'NONE':
    case 0: id = bits == 8 ? AV_CODEC_ID_PCM_U8 : pcmCodec(bits, false, true, true); break;
    case 'in24': id = pcmCodec(24, false, !littleEndian, true); break;
    case 'in32': id = pcmCodec(32, false, !littleEndian, true); break;
    case 'fl32': id = pcmCodec(32, true, !littleEndian, true); break;
    case 'fl64': id = pcmCodec(64, true, !littleEndian, true); break;
    case 'lpcm': {
      uint32_t flags = version == 2 ? readBE32(d + 60) : 0;
      id = pcmCodec(bits, flags & kPcmFloat, flags & kPcmBigEndian, flags & kPcmSigned);
      (void)kPcmPacked;
      break;
    }
    case 'mp4a': {
      uint8_t objectType = 0x40;  // without a configuration: AAC
      if (sd.extension(SoundMediaType, 'esds', ext)) {
        f.config = esdsConfig(ext, &objectType);
        if (objectType == 0) objectType = 0x40;
      }
      id = mpeg4AudioCodec(objectType);
      break;
    }
    case 'alac':
      id = AV_CODEC_ID_ALAC;
      // The decoder reads the whole 'alac' atom, header included.
      if (sd.extension(SoundMediaType, 'alac', ext)) putAtom(f.config, 'alac', ext);
      break;
    case 'Opus':
      id = AV_CODEC_ID_OPUS;
      if (sd.extension(SoundMediaType, 'dOps', ext)) f.config = opusHead(ext, f.channels);
      break;
    case 'fLaC':
      id = AV_CODEC_ID_FLAC;
      // Version and flags, then metadata blocks; the first is the stream information.
      if (sd.extension(SoundMediaType, 'dfLa', ext) && ext.size() >= 8 + 34 && (ext[4] & 0x7F) == 0)
        f.config.assign(ext.begin() + 8, ext.begin() + 8 + 34);
      break;
    case kUnknownType:
      if (sd.extension(SoundMediaType, kCodecNameAtom, ext)) {
        std::string name(ext.begin(), ext.end());
        const AVCodec* c = avcodec_find_decoder_by_name(name.c_str());
        if (c && c->type == AVMEDIA_TYPE_AUDIO) id = c->id;
      }
      break;
    default: {
      const AVCodecTag* tables[] = {avformat_get_mov_audio_tags(), nullptr};
      id = av_codec_get_id(tables, avTag(f.codec));
      break;
    }
  }
  if (f.config.empty() && sd.extension(SoundMediaType, 'glbl', ext)) f.config = ext;
  f.codecID = id;
  return true;
}

std::vector<uint8_t> makeSoundEntry(int codecID, int sampleRate, int channels, int bitsPerSample,
                                    const std::vector<uint8_t>& config) {
  AVCodecID id = (AVCodecID)codecID;
  const AVCodecTag* tables[] = {avformat_get_mov_audio_tags(), nullptr};
  unsigned int tag = 0;
  OSType format = av_codec_get_tag2(tables, id, &tag) ? (OSType)avTag(tag) : (OSType)kUnknownType;
  const AVCodecDescriptor* desc = avcodec_descriptor_get(id);
  bool companded = id == AV_CODEC_ID_PCM_MULAW || id == AV_CODEC_ID_PCM_ALAW;
  // Linear PCM of a fixed layout (not the framed kinds of discs and broadcast).
  bool pcm = desc && std::strncmp(desc->name, "pcm_", 4) == 0 && !companded &&
             av_get_bits_per_sample(id) > 0 && format != kUnknownType;
  int bits = pcm                                        ? av_get_bits_per_sample(id)
             : bitsPerSample > 0 && bitsPerSample <= 32 ? bitsPerSample
                                                        : 16;
  std::vector<uint8_t> ext;
  bool classic = sampleRate > 0 && sampleRate < 65536 && channels >= 1 && channels <= 2;
  if (pcm) {
    bool plain = id == AV_CODEC_ID_PCM_S16LE || id == AV_CODEC_ID_PCM_S16BE ||
                 id == AV_CODEC_ID_PCM_U8 || id == AV_CODEC_ID_PCM_S8;
    if (id == AV_CODEC_ID_PCM_S8) format = 'twos';
    if (!plain || !classic) format = 'lpcm';
  } else if (companded) {
    bits = 16;
  } else if (id == AV_CODEC_ID_AAC || id == AV_CODEC_ID_VORBIS) {
    // Vorbis has no code of its own; MPEG-4 readers know its object type.
    format = 'mp4a';
    uint8_t objectType = id == AV_CODEC_ID_AAC ? 0x40 : 0xDD;
    putAtom(ext, 'esds', makeEsds(objectType, true, config.data(), config.size()));
  } else if (id == AV_CODEC_ID_OPUS) {
    std::vector<uint8_t> d = dOps(config);
    if (!d.empty()) putAtom(ext, 'dOps', d);
  } else if (id == AV_CODEC_ID_FLAC) {
    // The stream information block, marked as the last metadata block.
    const uint8_t* info = config.data();
    size_t n = config.size();
    if (n >= 8 + 34 && std::memcmp(info, "fLaC", 4) == 0) {
      info += 8;
      n -= 8;
    }
    if (n >= 34) {
      std::vector<uint8_t> d = {0, 0, 0, 0, 0x80, 0, 0, 34};
      d.insert(d.end(), info, info + 34);
      putAtom(ext, 'dfLa', d);
    }
  } else if (id == AV_CODEC_ID_ALAC) {
    if (config.size() >= 12 && readBE32(config.data() + 4) == 'alac')
      putAtom(ext, 'alac', std::vector<uint8_t>(config.begin() + 8, config.end()));
    else if (!config.empty())
      putAtom(ext, 'alac', config);
  } else if (!config.empty()) {
    putAtom(ext, 'glbl', config);
  }
  if (format == kUnknownType && desc) {
    std::vector<uint8_t> name(desc->name, desc->name + std::strlen(desc->name));
    putAtom(ext, kCodecNameAtom, name);
  }

  bool v2 = format == 'lpcm' || !classic;
  std::vector<uint8_t> e(v2 ? 72 : 36, 0);
  writeBE32(&e[4], format);
  writeBE16(&e[14], 1);
  if (!v2) {
    writeBE16(&e[24], (uint16_t)channels);
    writeBE16(&e[26], (uint16_t)bits);
    writeBE32(&e[32], (uint32_t)sampleRate << 16);
  } else {
    writeBE16(&e[16], 2);
    writeBE16(&e[24], 3);
    writeBE16(&e[26], 16);
    writeBE16(&e[28], 0xFFFE);
    writeBE32(&e[32], 0x00010000);
    writeBE32(&e[36], 72);
    double r = sampleRate;
    uint64_t rbits;
    std::memcpy(&rbits, &r, sizeof rbits);
    writeBE64(&e[40], rbits);
    writeBE32(&e[48], (uint32_t)channels);
    writeBE32(&e[52], 0x7F000000);
    if (pcm) {
      bool isFloat = id == AV_CODEC_ID_PCM_F32LE || id == AV_CODEC_ID_PCM_F32BE ||
                     id == AV_CODEC_ID_PCM_F64LE || id == AV_CODEC_ID_PCM_F64BE;
      bool bigEndian = desc && std::strstr(desc->name, "be") != nullptr;
      bool isSigned =
          id != AV_CODEC_ID_PCM_U8 && id != AV_CODEC_ID_PCM_U16LE && id != AV_CODEC_ID_PCM_U16BE;
      writeBE32(&e[56], (uint32_t)bits);
      writeBE32(&e[60], (isFloat ? kPcmFloat : 0) | (bigEndian ? kPcmBigEndian : 0) |
                            (isSigned && !isFloat ? kPcmSigned : 0) | kPcmPacked);
      writeBE32(&e[64], (uint32_t)(bits / 8 * channels));
      writeBE32(&e[68], 1);
    }
  }
  e.insert(e.end(), ext.begin(), ext.end());
  writeBE32(&e[0], (uint32_t)e.size());
  return e;
}

}  // namespace vt::codec

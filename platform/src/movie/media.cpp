// Media: their settings, their samples (added and read back), descriptions, handlers and input
// maps.
#include <MacMemory.h>
#include <Movies.h>

#include <algorithm>
#include <cstring>

#include "atoms/atom_tree.h"
#include "core/fourcc.h"
#include "core/pstring.h"
#include "movie/calls.h"
#include "movie/storage.h"

using namespace vt::movie;

namespace {

std::string handlerDisplayName(OSType type) {
  switch (type) {
    case 'vide': return "Video Track";
    case 'soun': return "Sound Track";
    case 'text': return "Text Track";
    case 'tmcd': return "Timecode Track";
    case 'sprt': return "Sprite Track";
    case 'MPEG': return "MPEG Track";
    case 'musi': return "Music Track";
    case 'tx3g': return "Subtitle Track";
    case 'sbtl': return "Subtitle Track";
    case 'subt': return "Subtitle Track";
    case 'clcp': return "Closed Caption Track";
    default: return vt::fourccString(type) + " Track";
  }
}

// Checks AddMediaSample's arguments and gives the stored form of a new description (empty
// when the media's last description is meant).
OSErr checkNewSamples(const VTMedia& m, Handle dataIn, long inOffset, unsigned long size,
                      TimeValue durationPerSample, SampleDescriptionHandle descH,
                      long numberOfSamples, std::vector<uint8_t>& descBytes) {
  if (!dataIn || !*dataIn || inOffset < 0 || numberOfSamples < 1 || durationPerSample < 0)
    return paramErr;
  Size have = GetHandleSize(dataIn);
  if ((unsigned long)inOffset > (unsigned long)have || size > (unsigned long)(have - inOffset) ||
      size > 0xFFFFFFFFul)
    return paramErr;
  if (size % (unsigned long)numberOfSamples != 0) return paramErr;
  if (descH) return handleToDescription(m, descH, descBytes);
  return m.descriptions.empty() ? OSErr(badImageDescription) : OSErr(noErr);
}

// Sound frames are kept as packets of many frames. False when the samples are not whole
// packets of the description's frames.
bool appendSoundPackets(VTMedia& m, uint64_t offset, unsigned long size, TimeValue each,
                        uint32_t descIndex, long numberOfSamples) {
  uint32_t fpp = 0, bpp = 0;
  if (m.mediaType != SoundMediaType || !m.descriptions[descIndex - 1].soundFramePacking(fpp, bpp) ||
      numberOfSamples % fpp != 0 || size != (unsigned long)numberOfSamples / fpp * bpp)
    return false;
  uint32_t most = std::max(fpp, kSoundPacketFrames - kSoundPacketFrames % fpp);
  for (long done = 0; done < numberOfSamples;) {
    uint32_t frames = (uint32_t)std::min<long>(most, numberOfSamples - done);
    m.appendSample(offset + (uint64_t)done / fpp * bpp, frames / fpp * bpp,
                   (uint32_t)std::min<uint64_t>((uint64_t)frames * each, UINT32_MAX), descIndex,
                   true);
    done += frames;
  }
  return true;
}

}  // namespace

Media NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale, Handle dataRef,
                    OSType dataRefType) {
  return withTrack(theTrack, Media{}, [&](VTTrack& t) -> Media {
    if (timeScale <= 0 || mediaType == 0) return setError(paramErr), nullptr;
    auto md = std::make_unique<VTMedia>();
    md->track = &t;
    md->mediaType = mediaType;
    md->timeScale = timeScale;
    if (dataRef) {
      std::string path;
      if (dataRefType != rAliasType || !resolveAlias(dataRef, path))
        return setError(couldNotResolveDataRef), nullptr;
      DataRef ref;
      ref.flags = 0;
      ref.path = path;
      ref.data = makeAliasBytes(path);
      ref.source = openFileSource(path);
      md->dataRefs.push_back(std::move(ref));
    }
    t.media = std::move(md);
    t.edits.clear();
    return t.media.get();
  });
}

void DisposeTrackMedia(Media theMedia) {
  withMedia(theMedia, [&](VTMedia& m) {
    VTTrack* t = m.track;
    t->edits.clear();
    t->media.reset();
  });
}

Track GetMediaTrack(Media theMedia) {
  return withMedia(theMedia, Track{}, [&](VTMedia& m) { return m.track; });
}
TimeScale GetMediaTimeScale(Media theMedia) {
  return withMedia(theMedia, TimeScale{0}, [&](VTMedia& m) { return m.timeScale; });
}
void SetMediaTimeScale(Media theMedia, TimeScale timeScale) {
  withMedia(theMedia, [&](VTMedia& m) {
    if (timeScale <= 0) return setError(paramErr);
    // Only before any sample: sample durations are counted in the scale.
    if (m.sampleCount() > 0) return setError(invalidMedia);
    m.timeScale = timeScale;
  });
}
TimeValue GetMediaDuration(Media theMedia) {
  return withMedia(theMedia, TimeValue{0}, [&](VTMedia& m) { return clampTV(m.duration()); });
}
short GetMediaLanguage(Media theMedia) {
  return withMedia(theMedia, short{0}, [&](VTMedia& m) { return (short)m.language; });
}
void SetMediaLanguage(Media theMedia, short language) {
  withMedia(theMedia, [&](VTMedia& m) { m.language = (uint16_t)language; });
}
short GetMediaQuality(Media theMedia) {
  return withMedia(theMedia, short{0}, [&](VTMedia& m) { return (short)m.quality; });
}
void SetMediaQuality(Media theMedia, short quality) {
  withMedia(theMedia, [&](VTMedia& m) { m.quality = (uint16_t)quality; });
}
long GetMediaSampleCount(Media theMedia) {
  return withMedia(theMedia, 0L, [&](VTMedia& m) { return (long)m.sampleCount(); });
}
long GetMediaSampleDescriptionCount(Media theMedia) {
  return withMedia(theMedia, 0L, [&](VTMedia& m) { return (long)m.descriptions.size(); });
}
void GetMediaSampleDescription(Media theMedia, long index, SampleDescriptionHandle descH) {
  withMedia(theMedia, [&](VTMedia& m) {
    if (!descH || index < 1 || index > (long)m.descriptions.size()) return setError(paramErr);
    setError(descriptionToHandle(m, m.descriptions[index - 1].bytes, descH));
  });
}

OSErr BeginMediaEdits(Media theMedia) {
  return mediaStatus(theMedia, [&](VTMedia& m) -> OSErr {
    m.editing = true;
    return noErr;
  });
}
OSErr EndMediaEdits(Media theMedia) {
  return mediaStatus(theMedia, [&](VTMedia& m) -> OSErr {
    m.editing = false;
    return noErr;
  });
}

OSErr AddMediaSample(Media theMedia, Handle dataIn, long inOffset, unsigned long size,
                     TimeValue durationPerSample, SampleDescriptionHandle sampleDescriptionH,
                     long numberOfSamples, short sampleFlags, TimeValue* sampleTime) {
  return mediaStatus(theMedia, [&](VTMedia& m) -> OSErr {
    std::vector<uint8_t> descBytes;
    OSErr err = checkNewSamples(m, dataIn, inOffset, size, durationPerSample, sampleDescriptionH,
                                numberOfSamples, descBytes);
    if (err) return err;
    // Where new data goes: the movie's own file when it is open for writing, else memory.
    int refIndex = 0;
    uint64_t offset = 0;
    err = appendMediaData(m, (const uint8_t*)*dataIn + inOffset, size, refIndex, offset);
    if (err) return err;
    uint32_t descIndex = findOrAddDescription(
        m, sampleDescriptionH ? descBytes : m.descriptions.back().bytes, (uint16_t)refIndex);
    int64_t start = m.duration();
    if (!appendSoundPackets(m, offset, size, durationPerSample, descIndex, numberOfSamples)) {
      uint32_t each = (uint32_t)(size / (unsigned long)numberOfSamples);
      for (long i = 0; i < numberOfSamples; ++i)
        m.appendSample(offset + (uint64_t)i * each, each, (uint32_t)durationPerSample, descIndex,
                       (sampleFlags & mediaSampleNotSync) == 0);
    }
    if (sampleTime) *sampleTime = clampTV(start);
    return noErr;
  });
}

OSErr GetMediaSample(Media theMedia, Handle dataOut, long maxSizeToGrow, long* size, TimeValue time,
                     TimeValue* sampleTime, TimeValue* durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, long* sampleDescriptionIndex, long,
                     long* numberOfSamples, short* sampleFlags) {
  return mediaStatus(theMedia, [&](VTMedia& m) -> OSErr {
    long s = m.sampleAtDecodeTime(time);
    if (s < 0) return invalidTime;
    SampleInfo info = m.sampleInfo((uint32_t)s);
    if (dataOut) {
      if (maxSizeToGrow > 0 && info.size > (uint32_t)maxSizeToGrow) return maxSizeToGrowTooSmall;
      std::vector<uint8_t> bytes;
      if (OSErr err = m.loadSample((uint32_t)s, bytes)) return err;
      SetHandleSize(dataOut, (Size)bytes.size());
      if (MemError()) return memFullErr;
      if (!bytes.empty()) std::memcpy(*dataOut, bytes.data(), bytes.size());
    }
    bool described = info.descIndex >= 1 && info.descIndex <= m.descriptions.size();
    if (sampleDescriptionH && described) {
      OSErr err =
          descriptionToHandle(m, m.descriptions[info.descIndex - 1].bytes, sampleDescriptionH);
      if (err) return err;
    }
    if (size) *size = (long)info.size;
    if (sampleTime) *sampleTime = clampTV(info.decodeTime);
    if (durationPerSample) *durationPerSample = (TimeValue)info.duration;
    if (sampleDescriptionIndex) *sampleDescriptionIndex = (long)info.descIndex;
    if (numberOfSamples) *numberOfSamples = 1;
    uint32_t fpp = 0, bpp = 0;
    if (m.mediaType == SoundMediaType && described &&
        m.descriptions[info.descIndex - 1].soundFramePacking(fpp, bpp) && info.size % bpp == 0) {
      // A packet of sound frames answers as the frames it holds.
      long frames = (long)(info.size / bpp * fpp);
      if (numberOfSamples) *numberOfSamples = frames;
      if (durationPerSample && frames > 0) *durationPerSample = (TimeValue)(info.duration / frames);
    }
    if (sampleFlags) *sampleFlags = info.sync ? 0 : mediaSampleNotSync;
    return noErr;
  });
}

MediaHandler GetMediaHandler(Media theMedia) {
  // The media is its own handler: MediaGetName recognises it.
  return withMedia(theMedia, MediaHandler{},
                   [&](VTMedia& m) { return reinterpret_cast<MediaHandler>(&m); });
}

// A component call: it answers its code and leaves the movie toolbox's last error alone.
ComponentResult MediaGetName(MediaHandler mh, Str255 name, long, long* actualNameType) {
  return vt::apiStatus([&]() -> OSErr {
    VTMedia* m = liveMedia(reinterpret_cast<VTMedia*>(mh));
    if (!m) return badComponentInstance;
    if (name) vt::toPascal(handlerDisplayName(m->mediaType), name);
    if (actualNameType) *actualNameType = kMediaHandlerName;
    return noErr;
  });
}

void GetMediaHandlerDescription(Media theMedia, OSType* mediaType, Str255 creatorName,
                                OSType* creatorManufacturer) {
  if (mediaType) *mediaType = 0;
  if (creatorManufacturer) *creatorManufacturer = 0;
  if (creatorName) vt::toPascal(std::string(), creatorName);
  withMedia(theMedia, [&](VTMedia& m) {
    if (mediaType) *mediaType = m.mediaType;
    if (creatorManufacturer) *creatorManufacturer = m.handlerManufacturer;
    if (creatorName) vt::toPascal(m.handlerName, creatorName);
  });
}

OSErr SetMediaInputMap(Media theMedia, QTAtomContainer inputMap) {
  return mediaStatus(theMedia, [&](VTMedia& m) -> OSErr {
    if (!inputMap) {
      m.inputMap.clear();
      return noErr;
    }
    if (!*inputMap) return nilHandleErr;
    Size n = GetHandleSize(inputMap);
    const uint8_t* p = (const uint8_t*)*inputMap;
    // A container: 12-byte header and one root atom that spans the rest.
    if (n < 32 || vt::readBE32(p + 12) < 20 || vt::readBE32(p + 12) > (uint32_t)(n - 12))
      return invalidAtomContainerErr;
    m.inputMap.assign(p, p + n);
    m.inputMap[10] = m.inputMap[11] = 0;
    return noErr;
  });
}

OSErr GetMediaInputMap(Media theMedia, QTAtomContainer* inputMap) {
  return statusCall([&]() -> OSErr {
    if (!inputMap) return paramErr;
    *inputMap = nullptr;
    VTMedia* m = liveMedia(theMedia);
    if (!m) return invalidMedia;
    std::vector<uint8_t> bytes = m->inputMap;
    if (bytes.empty()) bytes = vt::atoms::serialise(vt::atoms::newRoot());
    Handle h = NewHandle((Size)bytes.size());
    if (!h) return memFullErr;
    std::memcpy(*h, bytes.data(), bytes.size());
    *inputMap = h;
    return noErr;
  });
}

UserData GetMediaUserData(Media theMedia) {
  return withMedia(theMedia, UserData{}, [&](VTMedia& m) { return &m.userData; });
}

// A movie's sound at normal speed, at the device's rate: every enabled sound track through its
// edit list, decoded, placed by the sample table's times and mixed at the track's volume.
// Positions are device-rate frames from the movie's start. Rendering forward from where the last
// call ended costs only the new packets; any other position starts the decoders again (with a
// little pre-roll for codecs whose frames overlap).
#pragma once
#include <MacTypes.h>
#include <Movies.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace vt::codec {
class AudioDecoder;
}

namespace vt::audio {

class TrackSound {
 public:
  TrackSound(VTTrack* track, int rate, int channels);
  ~TrackSound();
  // Adds `frames` frames of the track's sound from movie position `pos` into out, times gain.
  void mixInto(int64_t pos, int frames, float* out, float gain);

 private:
  // Copies `count` frames of the media's stream from media frame `m` (device rate) into out.
  void pull(int64_t m, int count, float* out, float gain);
  void seek(int64_t m);
  bool decodeNext();
  void padTo(int64_t end);
  int64_t avail() const;  // frames ready: the silence, then pending_ from readAt_
  vt::codec::AudioDecoder* decoderFor(uint32_t description);

  VTTrack* track_;
  int rate_, channels_;
  uint64_t seenGeneration_ = 0;  // the media's generation the decoders were made for
  int64_t nextPos_ = -1;         // movie position the last call ended at
  bool streaming_ = false;       // the decoders hold a stream
  bool placed_ = false;          // the stream's position is settled
  int64_t streamPos_ = 0;        // media frame of what plays next
  int64_t silence_ = 0;          // frames of silence ahead of pending_[readAt_]
  std::vector<float> pending_;
  size_t readAt_ = 0;  // in frames
  long nextPacket_ = 0;
  std::map<uint32_t, std::unique_ptr<vt::codec::AudioDecoder>> decoders_;  // by description
  std::map<uint32_t, bool> refused_;  // descriptions nobody decodes: silence
  uint32_t lastDescription_ = 0;
  std::vector<uint8_t> packet_;
  std::vector<float> decoded_;
};

class MovieSound {
 public:
  MovieSound(Movie movie, int rate, int channels);
  ~MovieSound();
  // Writes (not adds) `frames` frames of the movie's sound from position `pos` into out.
  void render(int64_t pos, int frames, float* out);
  int64_t durationFrames() const;

 private:
  Movie movie_;
  int rate_, channels_;
  std::map<VTTrack*, std::unique_ptr<TrackSound>> tracks_;
};

}  // namespace vt::audio

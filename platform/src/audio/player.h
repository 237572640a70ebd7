// A movie's sound playing on the device, and the clock it gives the picture. Playing starts a
// timeline: device frame D0 is movie position p0, and every later device frame is the position
// `rate` times further on, wrapping or turning back at the ends of the played span as the
// looping mode says. What the device plays and what the clock answers both follow from that one
// rule, so picture and sound cannot drift apart; if rendering falls behind, the device plays
// silence while the timeline (and the picture) carries on.
#pragma once
#include <MacTypes.h>
#include <Movies.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/device.h"
#include "audio/movie_sound.h"

namespace vt::audio {

enum class Looping { None, Loop, Palindrome };

class Player {
 public:
  explicit Player(Movie movie);
  ~Player();

  // Plays from movie time `from` at `rate` (negative: backwards) over [start, end) of the movie.
  void play(TimeValue from, Fixed rate, TimeValue start, TimeValue end, Looping looping);
  void stop();
  bool playing() const { return playing_; }
  // Renders ahead of the device and applies the movie's volume; call at every idle.
  void pump();

  struct Position {
    TimeValue time = 0;  // movie time being heard
    int direction = 1;   // +1 forwards, -1 backwards
    bool ended = false;  // a span that does not loop has been played to its end
    int64_t hostNs = 0;  // the device clock's time the answer is for
  };
  // Where the sound is now; false when not playing.
  bool position(Position& out);
  // Device frames heard as silence since play because they were not rendered in time (the
  // caller's idles came too far apart): how continuous the sound was.
  int64_t lateFrames() const { return late_; }
  int deviceRate() const { return rate_; }

 private:
  struct Place {
    double pos;  // movie position, device-rate frames
    int dir;
    bool ended;
  };
  Place placeAt(int64_t frame) const;
  void renderUntil(int64_t frame);
  void renderBlock(int64_t frame, int frames, float* out);
  // Movie sound at normal speed over [from, from + count), through a window that keeps what
  // was rendered last, so slow speeds and block edges never go back to the decoders.
  const float* source(int64_t from, int count);

  Movie movie_;
  Device& device_;
  Voice voice_;
  int rate_, channels_;
  std::unique_ptr<MovieSound> sound_;
  bool playing_ = false;
  // The timeline.
  int64_t d0_ = 0;
  double p0_ = 0, speed_ = 1, a_ = 0, b_ = 0;
  int dir0_ = 1;
  Looping looping_ = Looping::None;
  int64_t rendered_ = 0;  // device frames up to here are queued
  int64_t late_ = 0;
  // The source window.
  int64_t windowStart_ = 0;
  std::vector<float> window_;
  std::vector<float> block_, scratch_;
};

// Picture log for tests: controllers note each picture they show while playing.
void logPicture(Movie movie, TimeValue time, int64_t hostNs);

}  // namespace vt::audio

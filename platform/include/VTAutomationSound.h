// Sound and picture sinks for tests: the headless sound device records what it plays with the
// time each buffer is heard, and movie controllers log the pictures they show while playing.
// Not part of the application's API.
#pragma once
#include <cstdint>
#include <vector>

#include "Movies.h"

// Paces the headless sound device by the real clock, on a thread of its own (true), or by the
// headless ticks that only the caller moves (false, the default).
void VTAutomationSoundUseRealClock(bool real);
// The device's rate (frames per second) and channels per frame.
long VTAutomationSoundRate();
short VTAutomationSoundChannels();
// The clock the device's play times are on, in nanoseconds.
int64_t VTAutomationSoundNow();

struct VTSoundBuffer {
  int64_t playTime;            // when the first frame is heard (VTAutomationSoundNow's clock)
  int64_t frame;               // the device frame it starts at
  std::vector<float> samples;  // interleaved, VTAutomationSoundChannels per frame
};
// Starts recording what the device plays (forgetting what was recorded before);
// VTAutomationResetAll() ends it.
void VTAutomationSoundStartRecording();
// Lets the sink paced by the ticks play what they have made due (playing movies do this when
// idled; a beep alone needs it).
void VTAutomationSoundService();
std::vector<VTSoundBuffer> VTAutomationSoundRecording();

struct VTPictureShown {
  int64_t time;  // the clock reading the picture was chosen for
  Movie movie;
  TimeValue movieTime;
};
// Starts (or restarts) the log of pictures controllers show while movies play; the log from
// entry `from` on.
void VTAutomationPictureLogStart();
std::vector<VTPictureShown> VTAutomationPictureLog(size_t from = 0);

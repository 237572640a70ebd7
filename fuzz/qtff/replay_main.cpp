// Seeds for the movie atom fuzz driver: movie atoms made by our writer (a video track with
// edits and references, a sound track).
#include "replay_driver.h"

#include <MacMemory.h>
#include <Movies.h>

#include "core/fourcc.h"
#include "model/internal.h"
#include "qtff/writer.h"

static std::vector<uint8_t> seedMovie(bool sound) {
  Movie m = NewMovie(0);
  Track t = NewMovieTrack(m, 8 << 16, 8 << 16, 0);
  Media md = NewTrackMedia(t, sound ? SoundMediaType : VideoMediaType, 600, nullptr, 0);
  Handle desc = NewHandleClear(sound ? 36 : 86);
  vt::writeBE32((uint8_t*)*desc + 4, sound ? 'twos' : 'avc1');
  Handle data = NewHandleClear(64);
  for (int i = 0; i < 20; ++i)
    AddMediaSample(md, data, 0, 16 + i, 10 + i % 3, desc, 1, i % 4 ? mediaSampleNotSync : 0,
                   nullptr);
  InsertEmptyTrackSegment(t, 0, 30);
  InsertMediaIntoTrack(t, -1, 5, 100, 0x18000);
  Track t2 = NewMovieTrack(m, 0, 0, 0);
  NewTrackMedia(t2, VideoMediaType, 90000, nullptr, 0);
  long idx;
  AddTrackReference(t, t2, 'ssrc', &idx);
  std::vector<uint8_t> out = vt::qtff::buildMovieAtom(*m, "");
  DisposeHandle(desc);
  DisposeHandle(data);
  DisposeMovie(m);
  return out;
}

std::vector<std::vector<uint8_t>> vtFuzzSeeds() { return {seedMovie(false), seedMovie(true)}; }

#include <VTAutomationSound.h>

#include "audio/device.h"
#include "audio/player.h"
#include "core/boundary.h"
#include "core/reset.h"

namespace {

struct PictureLog {
  bool on = false;
  std::vector<VTPictureShown> entries;
};
PictureLog& pictures() {
  static PictureLog log;
  return log;
}

// Recording, the test clock and the picture log are test state: back to off for the next test.
// Run with what points into movies, as the log holds movies.
const vt::ResetRegistration kReset(vt::ResetStage::MovieUsers, [] {
  vt::audio::Device::get().stopRecording();
  vt::audio::Device::get().useRealClock(false);
  pictures() = PictureLog{};
});

}  // namespace

namespace vt::audio {

void logPicture(Movie movie, TimeValue time, int64_t hostNs) {
  PictureLog& log = pictures();
  if (log.on) log.entries.push_back(VTPictureShown{hostNs, movie, time});
}

}  // namespace vt::audio

using vt::noErrorState;
using vt::audio::Device;

void VTAutomationSoundUseRealClock(bool real) {
  vt::apiCall(noErrorState, [&] { Device::get().useRealClock(real); });
}

long VTAutomationSoundRate() {
  return vt::apiCall(noErrorState, 0L, [] {
    Device::get().ensureOpen();
    return (long)Device::get().rate();
  });
}

short VTAutomationSoundChannels() {
  return vt::apiCall(noErrorState, short(0), [] {
    Device::get().ensureOpen();
    return (short)Device::get().channels();
  });
}

int64_t VTAutomationSoundNow() {
  return vt::apiCall(noErrorState, int64_t(0), [] { return Device::get().nowNs(); });
}

void VTAutomationSoundStartRecording() {
  vt::apiCall(noErrorState, [] { Device::get().startRecording(); });
}

void VTAutomationSoundService() {
  vt::apiCall(noErrorState, [] { Device::get().service(); });
}

std::vector<VTSoundBuffer> VTAutomationSoundRecording() {
  return vt::apiCall(noErrorState, std::vector<VTSoundBuffer>{}, [] {
    std::vector<VTSoundBuffer> out;
    for (auto& r : Device::get().recording())
      out.push_back(VTSoundBuffer{r.playTimeNs, r.frame, std::move(r.samples)});
    return out;
  });
}

void VTAutomationPictureLogStart() {
  pictures().on = true;
  pictures().entries.clear();
}

std::vector<VTPictureShown> VTAutomationPictureLog(size_t from) {
  return vt::apiCall(noErrorState, std::vector<VTPictureShown>{}, [&] {
    const auto& e = pictures().entries;
    if (from >= e.size()) return std::vector<VTPictureShown>{};
    return std::vector<VTPictureShown>(e.begin() + (long)from, e.end());
  });
}

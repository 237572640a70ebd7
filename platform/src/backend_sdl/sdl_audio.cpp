// The sound device through SDL2 audio: 48 kHz stereo float, SDL converting to what the card
// takes. A buffer SDL asks for is heard once the one already queued has played.
#include <SDL.h>

#include <chrono>
#include <memory>

#include "audio/output.h"

namespace vt::backend_sdl {
namespace {

int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class SdlOutput final : public vt::audio::Output {
 public:
  ~SdlOutput() override { stop(); }
  int rate() const override { return rate_; }
  int channels() const override { return channels_; }
  int64_t nowNs() override { return steadyNs(); }

  bool start(Pull pull) override {
    stop();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    initialised_ = true;
    pull_ = std::move(pull);
    SDL_AudioSpec want{}, have{};
    want.freq = 48000;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
      stop();
      return false;
    }
    rate_ = have.freq;
    channels_ = have.channels;
    bufferNs_ = (int64_t)have.samples * 1000000000 / have.freq;
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

  void stop() override {
    if (device_) SDL_CloseAudioDevice(device_);
    device_ = 0;
    if (initialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    initialised_ = false;
  }

 private:
  static void SDLCALL callback(void* self, Uint8* stream, int len) {
    auto* o = static_cast<SdlOutput*>(self);
    int frames = len / (int)(sizeof(float) * o->channels_);
    o->pull_(reinterpret_cast<float*>(stream), frames, steadyNs() + o->bufferNs_);
  }

  SDL_AudioDeviceID device_ = 0;
  bool initialised_ = false;
  Pull pull_;
  int rate_ = 48000, channels_ = 2;
  int64_t bufferNs_ = 0;
};

std::unique_ptr<vt::audio::Output> makeOutput() { return std::make_unique<SdlOutput>(); }

}  // namespace

void registerAudio() { vt::audio::registerOutputFactory(makeOutput); }

}  // namespace vt::backend_sdl

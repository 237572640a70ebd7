// The sound device behind the mixer: a small interface the backends implement (SDL2 audio in
// backend_sdl; the headless sink in this area), so this area never sees SDL.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

namespace vt::audio {

class Output {
 public:
  // Fills `frames` interleaved float frames; `playTimeNs` is when the first of them will be heard,
  // on the output's clock (nowNs).
  using Pull = std::function<void(float* dst, int frames, int64_t playTimeNs)>;

  virtual ~Output() = default;
  virtual int rate() const = 0;
  virtual int channels() const = 0;
  // The clock play times are given on.
  virtual int64_t nowNs() = 0;
  // Starts pulling, from a thread of the output's own or from service(). False when the device
  // cannot start.
  virtual bool start(Pull pull) = 0;
  virtual void stop() = 0;
  // Outputs without a thread of their own pull, on the caller's thread, what has become due.
  virtual void service() {}
  virtual bool pullsOnCaller() const { return false; }
};

// The SDL backend registers its output; used unless the screen is headless. When it cannot be
// made or started (no sound device), the headless sink paced by the real clock stands in.
using OutputFactory = std::unique_ptr<Output> (*)();
void registerOutputFactory(OutputFactory factory);

// The headless sink: plays into memory, paced by the headless clock (the ticks only the caller
// moves) or by the real clock on a thread of its own. It can record what it plays.
std::unique_ptr<Output> makeHeadlessOutput(bool realClock);

}  // namespace vt::audio

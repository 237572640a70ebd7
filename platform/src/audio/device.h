// The process's sound device and its mixer. Every movie that plays sound owns a voice: a queue
// of rendered blocks, each stamped with the device frame it starts at. The device pulls from all
// voices at once; frames nobody rendered in time are silence. Device frames count from the
// device's start and never go back, so a voice's position follows from the frame being heard.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/output.h"

namespace vt::audio {

class Voice {
 public:
  // Called on the main thread when a device that pulls on the caller's thread needs frames up to
  // `frame`: the voice renders them first.
  std::function<void(int64_t frame)> fillTo;

  // Queues frames for device frames [start, start + frames).
  void push(int64_t start, const float* samples, int frames, int channels);
  // Forgets every queued frame from device frame `from` on.
  void discardFrom(int64_t from);
  void setGain(float g) { gain_.store(g); }

  // The device's side: adds this voice's frames for [start, start + frames) into dst.
  void mixInto(float* dst, int64_t start, int frames, int channels);

 private:
  struct Block {
    int64_t start = 0;
    std::vector<float> samples;
  };
  std::mutex m_;
  std::deque<Block> blocks_;
  std::vector<std::vector<float>> spare_;  // buffers of consumed blocks, for reuse
  std::atomic<float> gain_{1.0f};
  int channels_ = 0;
};

// When each device frame is heard: every buffer handed out starts at a known host time and is
// heard for its length; a buffer that starts late leaves silence before it, during which the
// frame heard stands still. So the answer never goes back as host time goes on (a clock that
// went back would take the picture back with it).
class HeardClock {
 public:
  void reset() { count_ = 0; }
  void started(int64_t frame, int frames, int64_t ns);
  // The frame heard at host time ns, never past `handedOut`; `handedOut` before any buffer.
  int64_t frameAt(int64_t ns, int rate, int64_t handedOut) const;

 private:
  struct Anchor {
    int64_t frame, frames, ns;
  };
  Anchor anchors_[4] = {};
  int count_ = 0;
};

class Device {
 public:
  static Device& get();
  // Opens the output on first use; reopens when the screen changed between headless and not.
  void ensureOpen();
  int rate() const { return rate_; }
  int channels() const { return channels_; }
  int64_t nowNs();
  // Device frames handed to the output so far: the next pull starts here.
  int64_t handedOut();
  // The device frame heard at host time `ns` (never past what was handed out).
  int64_t frameAt(int64_t ns);
  void add(Voice* v);
  void remove(Voice* v);
  // Lets outputs without a thread pull what is due; call from the main thread.
  void service();
  // Replaces the headless sink (tests): paced by the real clock or by the ticks.
  void useRealClock(bool real);
  // False when a display's sound device could not be opened and the sink stands in (nothing
  // is heard); the headless screen's sink counts as its device.
  bool hasSoundDevice();
  // Plays the system beep: a short tone mixed over whatever plays. False when nothing would
  // be heard.
  bool beep();

  // Recording of what is played, for tests.
  struct Recorded {
    int64_t playTimeNs;
    int64_t frame;
    std::vector<float> samples;
  };
  void startRecording();
  void stopRecording();
  std::vector<Recorded> recording();

 private:
  Device() = default;
  void open();
  void close();
  void pull(float* dst, int frames, int64_t playTimeNs);

  std::unique_ptr<Output> out_;
  const void* backend_ = nullptr;  // the screen the output was opened for
  bool headless_ = false, realClock_ = false;
  bool standIn_ = false;  // the sink in place of a display's device that did not open
  Voice beep_;
  bool beepAdded_ = false;
  int64_t beepEnd_ = 0;
  int rate_ = 48000, channels_ = 2;
  std::mutex m_;  // voices, anchors, recording
  std::vector<Voice*> voices_;
  int64_t handedOut_ = 0;
  HeardClock heard_;
  bool recording_ = false;
  std::vector<Recorded> recorded_;
  bool inService_ = false;
};

}  // namespace vt::audio

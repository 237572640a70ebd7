// The headless sink: a device that plays into nothing at a steady 48 kHz, one buffer queued
// ahead of the one being heard, as a sound card does. Paced by the headless ticks (it pulls when
// serviced, everything that time has made due) or by the real clock on a thread of its own, which
// (like a card whose feeder was late) starts a buffer late when it wakes late and says so in the
// buffer's play time.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/output.h"
#include "events/backend.h"

namespace vt::audio {

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kBufferFrames = 1024;
constexpr int64_t kBufferNs = (int64_t)kBufferFrames * 1000000000 / kRate;

int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class HeadlessOutput final : public Output {
 public:
  explicit HeadlessOutput(bool realClock)
      : real_(realClock), buf_((size_t)kBufferFrames * kChannels) {}
  ~HeadlessOutput() override { stop(); }
  int rate() const override { return kRate; }
  int channels() const override { return kChannels; }
  int64_t nowNs() override {
    if (real_) return steadyNs();
    // Ticks are sixtieths of a second.
    return (int64_t)vt::events::backend().ticks() * 1000000000 / 60;
  }
  bool pullsOnCaller() const override { return !real_; }

  bool start(Pull pull) override {
    stop();
    pull_ = std::move(pull);
    next_ = nowNs() + kBufferNs;
    if (real_) {
      running_ = true;
      thread_ = std::thread([this] { run(); });
    }
    return true;
  }

  void stop() override {
    if (thread_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(m_);
        running_ = false;
      }
      wake_.notify_all();
      thread_.join();
    }
    pull_ = nullptr;
  }

  void service() override {
    if (real_ || !pull_) return;
    // Everything whose turn to be queued has come: each buffer is handed over while the one
    // before it plays.
    int64_t now = nowNs();
    while (next_ - kBufferNs <= now) {
      pull_(buf_.data(), kBufferFrames, next_);
      next_ += kBufferNs;
    }
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(m_);
    while (running_) {
      int64_t due = next_ - kBufferNs;
      int64_t now = steadyNs();
      if (now < due) {
        wake_.wait_for(lock, std::chrono::nanoseconds(due - now));
        continue;
      }
      // Late past the point where the queued buffer ran out: this one starts now.
      int64_t playAt = std::max(next_, now);
      lock.unlock();
      pull_(buf_.data(), kBufferFrames, playAt);
      lock.lock();
      next_ = playAt + kBufferNs;
    }
  }

  bool real_;
  Pull pull_;
  std::vector<float> buf_;
  int64_t next_ = 0;  // when the next buffer starts to be heard
  std::thread thread_;
  std::mutex m_;
  std::condition_variable wake_;
  bool running_ = false;
};

}  // namespace

std::unique_ptr<Output> makeHeadlessOutput(bool realClock) {
  return std::make_unique<HeadlessOutput>(realClock);
}

}  // namespace vt::audio

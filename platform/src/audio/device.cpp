#include "audio/device.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "events/backend.h"

namespace vt::audio {

namespace {

OutputFactory gFactory = nullptr;

const bool kBeepRegistered =
    (vt::events::registerBeepSound([] { return Device::get().beep(); }), true);

}  // namespace

void registerOutputFactory(OutputFactory factory) { gFactory = factory; }

// ---- voices -------------------------------------------------------------------------------------

void Voice::push(int64_t start, const float* samples, int frames, int channels) {
  if (frames <= 0) return;
  std::lock_guard<std::mutex> lock(m_);
  channels_ = channels;
  Block b;
  b.start = start;
  if (!spare_.empty()) {
    b.samples = std::move(spare_.back());
    spare_.pop_back();
  }
  b.samples.assign(samples, samples + (size_t)frames * channels);
  blocks_.push_back(std::move(b));
}

void Voice::discardFrom(int64_t from) {
  std::lock_guard<std::mutex> lock(m_);
  while (!blocks_.empty() && blocks_.back().start >= from) {
    spare_.push_back(std::move(blocks_.back().samples));
    blocks_.pop_back();
  }
  if (!blocks_.empty() && channels_ > 0) {
    Block& b = blocks_.back();
    size_t keep = (size_t)(from - b.start) * (size_t)channels_;
    if (keep < b.samples.size()) b.samples.resize(keep);
  }
}

void Voice::mixInto(float* dst, int64_t start, int frames, int channels) {
  std::lock_guard<std::mutex> lock(m_);
  const float g = gain_.load();
  const int64_t end = start + frames;
  while (!blocks_.empty()) {
    Block& b = blocks_.front();
    int64_t bFrames = (int64_t)(b.samples.size() / (size_t)channels);
    // A block is played up to where the next one starts (a newer rendering replaces the rest).
    int64_t bEnd = b.start + bFrames;
    if (blocks_.size() > 1) bEnd = std::min(bEnd, blocks_[1].start);
    if (bEnd <= start) {
      spare_.push_back(std::move(b.samples));
      blocks_.pop_front();
      continue;
    }
    if (b.start >= end) break;
    int64_t from = std::max(start, b.start), to = std::min(end, bEnd);
    const float* src = b.samples.data() + (size_t)(from - b.start) * channels;
    float* d = dst + (size_t)(from - start) * channels;
    size_t n = (size_t)(to - from) * channels;
    for (size_t i = 0; i < n; ++i) d[i] += src[i] * g;
    if (bEnd > end) break;
    spare_.push_back(std::move(b.samples));
    blocks_.pop_front();
  }
}

// ---- the device ---------------------------------------------------------------------------------

Device& Device::get() {
  // Never destroyed: an output thread may still be pulling while the process ends; the exit
  // handler below stops it first.
  static Device* d = [] {
    auto* dev = new Device();
    std::atexit([] { Device::get().close(); });
    return dev;
  }();
  return *d;
}

void Device::open() {
  vt::events::Backend& screen = vt::events::backend();
  backend_ = &screen;
  headless_ = screen.isHeadless();
  if (!headless_ && gFactory) out_ = gFactory();
  standIn_ = !headless_ && !out_;
  if (!out_) out_ = makeHeadlessOutput(headless_ ? realClock_ : true);
  rate_ = out_->rate();
  channels_ = out_->channels();
  {
    std::lock_guard<std::mutex> lock(m_);
    heard_.reset();
  }
  if (!out_->start([this](float* dst, int frames, int64_t ns) { pull(dst, frames, ns); })) {
    out_ = makeHeadlessOutput(true);
    standIn_ = !headless_;
    rate_ = out_->rate();
    channels_ = out_->channels();
    out_->start([this](float* dst, int frames, int64_t ns) { pull(dst, frames, ns); });
  }
}

void Device::close() {
  if (out_) out_->stop();
  out_.reset();
}

void Device::ensureOpen() {
  // A new screen (tests make one per case) has a clock of its own: the device starts again.
  if (out_ && &vt::events::backend() == backend_) return;
  close();
  open();
}

void Device::useRealClock(bool real) {
  realClock_ = real;
  if (out_ && headless_) {
    close();
    open();
  }
}

int64_t Device::nowNs() {
  ensureOpen();
  return out_->nowNs();
}

int64_t Device::handedOut() {
  std::lock_guard<std::mutex> lock(m_);
  return handedOut_;
}

int64_t Device::frameAt(int64_t ns) {
  std::lock_guard<std::mutex> lock(m_);
  return heard_.frameAt(ns, rate_, handedOut_);
}

void HeardClock::started(int64_t frame, int frames, int64_t ns) {
  // Keep the latest anchors, oldest first.
  if (count_ == 4) {
    std::memmove(&anchors_[0], &anchors_[1], sizeof(Anchor) * 3);
    count_ = 3;
  }
  anchors_[count_++] = Anchor{frame, frames, ns};
}

int64_t HeardClock::frameAt(int64_t ns, int rate, int64_t handedOut) const {
  if (count_ == 0) return handedOut;
  // The latest buffer that had started playing by then; before all of them, the oldest.
  const Anchor* a = &anchors_[0];
  for (int i = 0; i < count_; ++i)
    if (anchors_[i].ns <= ns && anchors_[i].frame >= a->frame) a = &anchors_[i];
  int64_t f = a->frame + (int64_t)((__int128)(ns - a->ns) * rate / 1000000000);
  return std::min({f, a->frame + a->frames, handedOut});
}

void Device::add(Voice* v) {
  ensureOpen();
  std::lock_guard<std::mutex> lock(m_);
  if (std::find(voices_.begin(), voices_.end(), v) == voices_.end()) voices_.push_back(v);
}

void Device::remove(Voice* v) {
  std::lock_guard<std::mutex> lock(m_);
  voices_.erase(std::remove(voices_.begin(), voices_.end(), v), voices_.end());
}

void Device::service() {
  if (!out_ || inService_) return;
  inService_ = true;
  out_->service();
  inService_ = false;
}

void Device::pull(float* dst, int frames, int64_t playTimeNs) {
  std::fill(dst, dst + (size_t)frames * channels_, 0.0f);
  if (out_ && out_->pullsOnCaller()) {
    // On the main thread: voices may render what they have not yet.
    std::vector<Voice*> voices;
    int64_t end;
    {
      std::lock_guard<std::mutex> lock(m_);
      voices = voices_;
      end = handedOut_ + frames;
    }
    for (Voice* v : voices)
      if (v->fillTo) v->fillTo(end);
  }
  std::lock_guard<std::mutex> lock(m_);
  int64_t start = handedOut_;
  for (Voice* v : voices_) v->mixInto(dst, start, frames, channels_);
  for (size_t i = 0; i < (size_t)frames * channels_; ++i) dst[i] = std::clamp(dst[i], -1.0f, 1.0f);
  handedOut_ = start + frames;
  heard_.started(start, frames, playTimeNs);
  if (recording_)
    recorded_.push_back(
        Recorded{playTimeNs, start, std::vector<float>(dst, dst + (size_t)frames * channels_)});
}

bool Device::hasSoundDevice() {
  ensureOpen();
  return !standIn_;
}

bool Device::beep() {
  if (!hasSoundDevice()) return false;
  // 880 Hz for 150 ms, faded in and out over 5 ms so it starts and ends without a click.
  constexpr double kFreq = 880, kSeconds = 0.15, kFade = 0.005, kLevel = 0.3;
  const int frames = (int)(rate_ * kSeconds), fade = (int)(rate_ * kFade);
  std::vector<float> tone((size_t)frames * channels_);
  for (int i = 0; i < frames; ++i) {
    double env = std::min({1.0, (double)i / fade, (double)(frames - 1 - i) / fade});
    float v = (float)(kLevel * env * std::sin(2 * M_PI * kFreq * i / rate_));
    for (int c = 0; c < channels_; ++c) tone[(size_t)i * channels_ + c] = v;
  }
  if (!beepAdded_) {
    add(&beep_);
    beepAdded_ = true;
  }
  // Beeps in a row follow one another instead of cutting the last one short.
  const int64_t start = std::max(handedOut(), beepEnd_);
  beep_.push(start, tone.data(), frames, channels_);
  beepEnd_ = start + frames;
  return true;
}

void Device::startRecording() {
  ensureOpen();
  std::lock_guard<std::mutex> lock(m_);
  recorded_.clear();
  recording_ = true;
}

void Device::stopRecording() {
  std::lock_guard<std::mutex> lock(m_);
  recording_ = false;
}

std::vector<Device::Recorded> Device::recording() {
  std::lock_guard<std::mutex> lock(m_);
  return recorded_;
}

}  // namespace vt::audio

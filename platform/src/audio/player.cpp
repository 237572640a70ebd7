#include "audio/player.h"

#include <algorithm>
#include <cmath>

#include "model/model.h"

namespace vt::audio {

namespace {

// Frames rendered at a time, and how far ahead of the device the queue is kept.
constexpr int kBlock = 1024;
constexpr double kLeadSeconds = 0.5;
// Playing starts this far past the frames the device already has, so the first block is queued
// before the device reaches it.
constexpr int kStartMargin = 128;
// What play() renders at once, before returning (the rest follows at the next idle).
constexpr int kFirstRender = 2048;

}  // namespace

Player::Player(Movie movie) : movie_(movie), device_(Device::get()) {
  device_.ensureOpen();
  rate_ = device_.rate();
  channels_ = device_.channels();
  sound_ = std::make_unique<MovieSound>(movie, rate_, channels_);
  voice_.fillTo = [this](int64_t frame) { renderUntil(frame); };
  device_.add(&voice_);
}

Player::~Player() { device_.remove(&voice_); }

void Player::play(TimeValue from, Fixed rate, TimeValue start, TimeValue end, Looping looping) {
  if (rate == 0 || !vt::movie::isLiveMovie(movie_) || end <= start) {
    stop();
    return;
  }
  double scale = (double)rate_ / movie_->timeScale;
  // Whole frames: at normal speed every device frame is then one frame of the movie's sound.
  a_ = std::round(start * scale);
  b_ = std::round(end * scale);
  p0_ = std::clamp(std::round(from * scale), a_, b_);
  speed_ = std::fabs(rate / 65536.0);
  dir0_ = rate > 0 ? 1 : -1;
  looping_ = looping;
  window_.clear();
  // The first frames are rendered before the device frame they start at is chosen (the
  // timeline depends only on the distance from it), so the device cannot overtake them while
  // decoders open.
  d0_ = 0;
  block_.resize((size_t)kFirstRender * channels_);
  renderBlock(0, kFirstRender, block_.data());
  d0_ = device_.handedOut() + kStartMargin;
  voice_.discardFrom(d0_);
  voice_.push(d0_, block_.data(), kFirstRender, channels_);
  rendered_ = d0_ + kFirstRender;
  late_ = 0;
  playing_ = true;
  pump();
}

void Player::stop() {
  if (!playing_) return;
  playing_ = false;
  voice_.discardFrom(device_.handedOut());
}

Player::Place Player::placeAt(int64_t frame) const {
  double u = (double)std::max<int64_t>(frame - d0_, 0) * speed_;
  double len = b_ - a_;
  Place p{p0_, dir0_, false};
  if (looping_ == Looping::None || len <= 0) {
    p.pos = p0_ + dir0_ * u;
    if (p.pos >= b_ || p.pos <= a_) {
      p.ended = dir0_ > 0 ? p.pos >= b_ : p.pos <= a_;
      p.pos = std::clamp(p.pos, a_, b_);
    }
    return p;
  }
  // Distance travelled from the end the motion started towards.
  double x = (dir0_ > 0 ? p0_ - a_ : b_ - p0_) + u;
  if (looping_ == Looping::Loop) {
    double k = std::fmod(x, len);
    p.pos = dir0_ > 0 ? a_ + k : b_ - k;
    return p;
  }
  double k = std::fmod(x, 2 * len);
  bool turned = k >= len;
  if (turned) k -= len;
  p.dir = turned ? -dir0_ : dir0_;
  p.pos = p.dir > 0 ? a_ + k : b_ - k;
  return p;
}

const float* Player::source(int64_t from, int count) {
  int64_t have = (int64_t)(window_.size() / channels_);
  if (window_.empty() || from < windowStart_ || from > windowStart_ + have) {
    window_.clear();
    windowStart_ = from;
    have = 0;
  }
  int64_t need = from + count - (windowStart_ + have);
  if (need > 0) {
    size_t at = window_.size();
    window_.resize(at + (size_t)need * channels_);
    sound_->render(windowStart_ + have, (int)need, window_.data() + at);
  }
  // Keep a little before `from` and drop the rest of the past.
  int64_t keepFrom = std::max(windowStart_, from - 4);
  if (keepFrom - windowStart_ > 8192) {
    window_.erase(window_.begin(), window_.begin() + (long)((keepFrom - windowStart_) * channels_));
    windowStart_ = keepFrom;
  }
  return window_.data() + (size_t)(from - windowStart_) * channels_;
}

void Player::renderBlock(int64_t frame, int frames, float* out) {
  int done = 0;
  while (done < frames) {
    Place p = placeAt(frame + done);
    if (p.ended) {
      std::fill(out + (size_t)done * channels_, out + (size_t)frames * channels_, 0.0f);
      return;
    }
    // Device frames until the motion reaches the end it heads for (or the block ends).
    double room = p.dir > 0 ? b_ - p.pos : p.pos - a_;
    int n = (int)std::clamp<double>(std::ceil(room / speed_), 1, frames - done);
    float* o = out + (size_t)done * channels_;
    if (speed_ == 1.0 && p.pos == std::floor(p.pos)) {
      int64_t q = (int64_t)p.pos;
      if (p.dir > 0) {
        const float* s = source(q, n);
        std::copy(s, s + (size_t)n * channels_, o);
      } else {
        // Backwards: the frames before q, last first.
        const float* s = source(q - n, n);
        for (int i = 0; i < n; ++i)
          std::copy(s + (size_t)(n - 1 - i) * channels_, s + (size_t)(n - i) * channels_,
                    o + (size_t)i * channels_);
      }
    } else {
      // Another speed: the frames this stretch passes over, read between neighbours.
      double last = p.pos + p.dir * speed_ * (n - 1);
      int64_t lo = (int64_t)std::floor(std::min(p.pos, last));
      int64_t hi = (int64_t)std::floor(std::max(p.pos, last)) + 2;
      const float* s = source(lo, (int)(hi - lo));
      for (int i = 0; i < n; ++i) {
        double x = p.pos + p.dir * speed_ * i - (double)lo;
        int64_t k = std::clamp<int64_t>((int64_t)x, 0, hi - lo - 2);
        float f = (float)(x - (double)k);
        for (int c = 0; c < channels_; ++c)
          o[(size_t)i * channels_ + c] =
              s[(size_t)k * channels_ + c] * (1 - f) + s[(size_t)(k + 1) * channels_ + c] * f;
      }
    }
    done += n;
  }
}

void Player::renderUntil(int64_t frame) {
  if (!playing_) return;
  // Frames the device took before they were rendered are gone: carry on from where it is.
  const int64_t out = device_.handedOut();
  if (out > rendered_) {
    late_ += out - rendered_;
    rendered_ = out;
  }
  block_.resize((size_t)kBlock * channels_);
  while (rendered_ < frame) {
    Place p = placeAt(rendered_);
    if (p.ended) break;
    renderBlock(rendered_, kBlock, block_.data());
    voice_.push(rendered_, block_.data(), kBlock, channels_);
    rendered_ += kBlock;
  }
}

void Player::pump() {
  if (vt::movie::isLiveMovie(movie_)) {
    short v = movie_->volume;
    voice_.setGain(v > 0 ? v / 256.0f : 0.0f);
  }
  if (playing_) renderUntil(device_.handedOut() + (int64_t)(kLeadSeconds * rate_));
  device_.service();
}

bool Player::position(Position& out) {
  if (!playing_ || !vt::movie::isLiveMovie(movie_)) return false;
  int64_t ns = device_.nowNs();
  Place p = placeAt(device_.frameAt(ns));
  out.time = (TimeValue)std::llround(p.pos * movie_->timeScale / rate_);
  out.direction = p.dir;
  out.ended = p.ended;
  out.hostNs = ns;
  return true;
}

}  // namespace vt::audio

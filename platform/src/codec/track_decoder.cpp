#include "codec/track_decoder.h"

#include <MacErrors.h>

#include <algorithm>

namespace vt::codec {

namespace {
// More samples than this in one track is not a real movie; refuse rather than allocate.
constexpr int64_t kMaxSamples = 20'000'000;
// Frames decoded ahead of the one asked for are kept up to this count.
constexpr size_t kMaxPending = 32;
}  // namespace

TrackDecoder::TrackDecoder(SampleSource& source, int threads) : src_(source), threads_(threads) {}
TrackDecoder::~TrackDecoder() = default;

void TrackDecoder::invalidate() {
  indexed_ = false;
  info_.clear();
  byDisplay_.clear();
  nextFeed_ = -1;
  pending_.clear();
}

bool TrackDecoder::buildIndex() {
  if (indexed_) return true;
  int64_t n = src_.sampleCount();
  if (n < 0 || n > kMaxSamples) return false;
  info_.resize((size_t)n);
  byDisplay_.resize((size_t)n);
  for (int64_t i = 0; i < n; i++) {
    if (!src_.sampleInfo(i, info_[(size_t)i])) {
      info_.clear();
      byDisplay_.clear();
      return false;
    }
    byDisplay_[(size_t)i] = {info_[(size_t)i].displayTime(), i};
  }
  std::stable_sort(byDisplay_.begin(), byDisplay_.end());
  indexed_ = true;
  return true;
}

int64_t TrackDecoder::sampleAtMediaTime(int64_t t) {
  if (!buildIndex() || byDisplay_.empty() || t < 0) return -1;
  const auto& last = byDisplay_.back();
  int64_t end = last.first + std::max<int64_t>(info_[(size_t)last.second].duration, 1);
  if (t >= end) return -1;
  auto it = std::upper_bound(byDisplay_.begin(), byDisplay_.end(),
                             std::make_pair(t, INT64_MAX));
  // Before the first displayed frame (a decoder delay not hidden by an edit), show that frame.
  if (it == byDisplay_.begin()) return byDisplay_.front().second;
  return std::prev(it)->second;
}

int64_t TrackDecoder::syncBefore(int64_t index) {
  int desc = info_[(size_t)index].descriptionIndex;
  for (int64_t i = index; i >= 0; i--) {
    const SampleInfo& s = info_[(size_t)i];
    if (s.descriptionIndex != desc) return i + 1;  // a new description starts a new stream
    if (s.sync) return i;
  }
  return 0;
}

OSErr TrackDecoder::ensureDecoder(int descriptionIndex) {
  if (dec_ && decDesc_ == descriptionIndex) return noErr;
  dec_.reset();
  nextFeed_ = -1;
  pending_.clear();
  VideoFormat fmt;
  OSErr err = src_.format(descriptionIndex, fmt);
  if (err != noErr) return err;
  auto opened = VideoDecoder::open(fmt, threads_);
  if (!opened) return opened.error();
  dec_ = std::move(opened.value());
  decDesc_ = descriptionIndex;
  return noErr;
}

OSErr TrackDecoder::imageAtMediaTime(int64_t t, Image& out) {
  if (!buildIndex()) return invalidMedia;
  int64_t k = sampleAtMediaTime(t);
  if (k < 0) return invalidTime;
  return imageForSample(k, out);
}

OSErr TrackDecoder::imageForSample(int64_t k, Image& out) {
  if (!buildIndex()) return invalidMedia;
  if (k < 0 || k >= (int64_t)info_.size()) return invalidSampleNum;
  const int64_t target = info_[(size_t)k].displayTime();
  const int desc = info_[(size_t)k].descriptionIndex;
  OSErr err = ensureDecoder(desc);
  if (err != noErr) return err;

  auto takePending = [&](Image& img, OSErr& result) -> bool {
    for (size_t i = 0; i < pending_.size(); i++) {
      if (pending_[i].pts != target) continue;
      result = conv_.convert(pending_[i], img);
      lastDropped_ = target;
      std::erase_if(pending_, [&](const Frame& f) { return f.pts <= target; });
      return true;
    }
    return false;
  };
  OSErr result = noErr;
  if (nextFeed_ >= 0 && takePending(out, result)) return result;

  const int64_t s = syncBefore(k);
  // Carry on with the stream when it already holds the sync sample (or reaches it next):
  // stepping forward then costs only the new samples.
  bool resume = nextFeed_ >= 0 && (nextFeed_ == s || (fedFrom_ <= s && nextFeed_ > s)) &&
                target > lastDropped_ && !dec_->drained();
  if (!resume) {
    dec_->reset();
    pending_.clear();
    fedFrom_ = s;
    nextFeed_ = s;
    lastDropped_ = INT64_MIN;
  }

  Frame fallback;  // the latest frame before the target, for streams whose times are off
  bool sendFailed = false;
  int64_t count = (int64_t)info_.size();
  for (;;) {
    Frame f;
    while (dec_->receive(f)) {
      if (f.pts < target) {
        lastDropped_ = std::max(lastDropped_, f.pts);
        if (fallback.empty() || f.pts >= fallback.pts) fallback = std::move(f);
        continue;
      }
      if (pending_.size() >= kMaxPending) pending_.erase(pending_.begin());
      pending_.push_back(std::move(f));
    }
    if (takePending(out, result)) return result;
    if (nextFeed_ < count && info_[(size_t)nextFeed_].descriptionIndex == desc) {
      err = src_.readSample(nextFeed_, buf_);
      if (err != noErr && nextFeed_ > k) {
        // A later sample cannot be read (a cut-off file): what was sent can still come out.
        count = nextFeed_;
        continue;
      }
      if (err != noErr) {
        nextFeed_ = -1;
        return err;
      }
      if (!buf_.empty()) {
        const SampleInfo& si = info_[(size_t)nextFeed_];
        if (dec_->send(buf_.data(), buf_.size(), si.displayTime(), si.sync) != noErr)
          sendFailed = true;
        samplesSent_++;
      }
      nextFeed_++;
    } else if (!dec_->drained()) {
      dec_->drain();
    } else {
      break;
    }
  }
  // Drained without an exact match: the stream's times did not survive decoding.
  if (!fallback.empty() && !sendFailed) {
    lastDropped_ = target;
    return conv_.convert(fallback, out);
  }
  return sendFailed ? codecBadDataErr : codecErr;
}

}  // namespace vt::codec

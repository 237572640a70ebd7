#include "compose/stream.h"

#include <MacErrors.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "codec/yuv.h"
#include "core/guard.h"

namespace vt::compose {

namespace {
// More samples than this in one track is not a real movie; refuse rather than allocate.
constexpr int64_t kMaxSamples = 20'000'000;
// Every stream's index (about 48 bytes a sample) draws on one budget for the process: the
// model keeps a table of a million equal samples in a few bytes, so a few tiny files could
// otherwise ask for gigabytes between them. 3 M entries is over 30 hours at 25 frames a second.
constexpr int64_t kIndexBudget = 3'000'000;
std::atomic<int64_t> gIndexCharged{0};

bool chargeIndex(int64_t n) {
  int64_t have = gIndexCharged.load();
  do {
    if (n > kIndexBudget - have) return false;
  } while (!gIndexCharged.compare_exchange_weak(have, have + n));
  return true;
}
// Queued sample bytes beyond this wait until the worker has used some (raw video is large).
constexpr size_t kMaxQueuedBytes = 48u << 20;
// Packets a decoder holds before it hands out a frame (frame threads, reordering): queued in
// addition when decoding ahead, so the frames ahead really come out.
constexpr int64_t kDecoderDelay = 4;
// Converted frames kept ahead of the one asked for stay within this many bytes (a 4K frame is
// 33 MB), however many frames ahead the caller asks for.
constexpr int64_t kAheadBytes = 100LL << 20;
// Frames handed out as planes kept for asking again, within this many bytes (decoders' buffers
// they hold are not reused meanwhile).
constexpr int64_t kRecentBytes = 64LL << 20;
constexpr size_t kRecentFrames = 4;
// Frames below this size are decoded on the worker alone.
constexpr int64_t kThreadedPixels = 640 * 360;
}  // namespace

struct SourceStream::Job {
  enum Kind { Start, Packet, Drain } kind = Packet;
  uint64_t epoch = 0;
  std::vector<uint8_t> bytes;
  int64_t pts = 0;
  bool sync = true;
  int desc = 0;  // Start: the description whose decoder the stream needs
  codec::VideoFormat format;
};

SourceStream::SourceStream(codec::SampleSource& source, int threads)
    : src_(source), threads_(threads), converter_(1) {}

SourceStream::~SourceStream() {
  {
    std::lock_guard<std::mutex> l(m_);
    stop_ = true;
  }
  work_.notify_all();
  if (worker_.joinable()) worker_.join();
  gIndexCharged -= charged_;
}

bool SourceStream::buildIndex() {
  if (indexed_) return true;
  if (indexError_ != noErr) return false;
  int64_t n = src_.sampleCount();
  if (n < 0 || n > kMaxSamples) {
    indexError_ = invalidMedia;
    return false;
  }
  if (!chargeIndex(n)) {
    indexError_ = memFullErr;
    return false;
  }
  charged_ = n;
  auto fail = [&](OSErr err) {
    std::vector<codec::SampleInfo>().swap(info_);
    std::vector<std::pair<int64_t, int64_t>>().swap(byDisplay_);
    gIndexCharged -= charged_;
    charged_ = 0;
    indexError_ = err;
    return false;
  };
  try {
    info_.resize((size_t)n);
    byDisplay_.resize((size_t)n);
  } catch (const std::bad_alloc&) {
    return fail(memFullErr);
  }
  for (int64_t i = 0; i < n; i++) {
    if (!src_.sampleInfo(i, info_[(size_t)i])) return fail(invalidMedia);
    byDisplay_[(size_t)i] = {info_[(size_t)i].displayTime(), i};
  }
  std::stable_sort(byDisplay_.begin(), byDisplay_.end());
  indexed_ = true;
  return true;
}

int64_t SourceStream::sampleAtMediaTime(int64_t t) {
  if (!buildIndex() || byDisplay_.empty() || t < 0) return -1;
  const auto& last = byDisplay_.back();
  int64_t end = last.first + std::max<int64_t>(info_[(size_t)last.second].duration, 1);
  if (t >= end) return -1;
  auto it = std::upper_bound(byDisplay_.begin(), byDisplay_.end(), std::make_pair(t, INT64_MAX));
  // Before the first displayed frame (a decoder delay not hidden by an edit), show that frame.
  if (it == byDisplay_.begin()) return byDisplay_.front().second;
  return std::prev(it)->second;
}

bool SourceStream::sampleSpan(int64_t k, int64_t& start, int64_t& end) {
  if (!buildIndex() || k < 0 || k >= (int64_t)info_.size()) return false;
  start = info_[(size_t)k].displayTime();
  auto it =
      std::upper_bound(byDisplay_.begin(), byDisplay_.end(), std::make_pair(start, INT64_MAX));
  end =
      it != byDisplay_.end() ? it->first : start + std::max<int64_t>(info_[(size_t)k].duration, 1);
  return true;
}

int64_t SourceStream::syncBefore(int64_t index) {
  int desc = info_[(size_t)index].descriptionIndex;
  for (int64_t i = index; i >= 0; i--) {
    const codec::SampleInfo& s = info_[(size_t)i];
    if (s.descriptionIndex != desc) return i + 1;  // a new description starts a new stream
    if (s.sync) return i;
  }
  return 0;
}

void SourceStream::recycle(Image&& image) {
  if (!image.pixels.empty() && spare_.size() < maxReady_ + 1) spare_.push_back(std::move(image));
}

// Starts a new stream at sample `sync`, making everything queued or decoded stale (called with
// m_ held).
void SourceStream::restart(int64_t sync, int desc) {
  ++epoch_;
  jobs_.clear();
  queuedBytes_ = 0;
  while (!ready_.empty()) {
    recycle(std::move(ready_.front().image));
    ready_.pop_front();
  }
  fallback_ = codec::Frame();
  haveFallback_ = false;
  backlog_ = false;  // frames still held belong to the old epoch
  drained_ = false;
  error_ = noErr;
  badData_ = false;
  refused_.clear();
  Job start;
  start.kind = Job::Start;
  start.epoch = epoch_;
  start.desc = desc;
  OSErr err = src_.format(desc, start.format);
  if (err != noErr) error_ = err;
  jobs_.push_back(std::move(start));
  work_.notify_all();
  nextFeed_ = fedFrom_ = sync;
  readable_ = (int64_t)info_.size();
  streamDesc_ = desc;
  drainSent_ = false;
  delivered_ = INT64_MIN;
}

OSErr SourceStream::feedOne() {
  const int64_t i = nextFeed_;
  Job job;
  OSErr err = src_.readSample(i, job.bytes);
  if (err != noErr && i > target_) {
    // A later sample cannot be read (a cut-off file): the stream ends before it, and what was
    // queued can still come out.
    readable_ = i;
    return noErr;
  }
  if (err != noErr) {
    nextFeed_ = -1;  // the stream has a hole: start again next time
    return err;
  }
  nextFeed_++;
  if (job.bytes.empty()) return noErr;
  job.kind = Job::Packet;
  job.pts = info_[(size_t)i].displayTime();
  job.sync = info_[(size_t)i].sync;
  std::lock_guard<std::mutex> l(m_);
  job.epoch = epoch_;
  queuedBytes_ += job.bytes.size();
  jobs_.push_back(std::move(job));
  work_.notify_all();
  return noErr;
}

OSErr SourceStream::feedUpTo(int64_t last, int desc) {
  while (nextFeed_ >= 0 && nextFeed_ <= last && nextFeed_ < readable_ &&
         info_[(size_t)nextFeed_].descriptionIndex == desc) {
    {
      std::lock_guard<std::mutex> l(m_);
      if (queuedBytes_ >= kMaxQueuedBytes) break;
    }
    OSErr err = feedOne();
    if (err != noErr) return err;
  }
  return noErr;
}

void SourceStream::remember(const codec::Frame& f) {
  YuvView v;
  if (!codec::yuvViewOf(f, 0, 0, v)) return;
  const int64_t bytes = (int64_t)v.width * v.height * 3 / 2;
  const size_t keep = (size_t)std::clamp<int64_t>(kRecentBytes / std::max<int64_t>(bytes, 1), 0,
                                                  (int64_t)kRecentFrames);
  if (!recent_.empty() && recent_.back().pts >= f.pts) recent_.clear();  // a new run: kept in order
  while (!recent_.empty() && recent_.size() >= keep) recent_.pop_front();
  if (keep > 0) recent_.push_back(f.share());
}

OSErr SourceStream::take(Ready& ready, Image& out, int width, int height, codec::Frame* raw) {
  if (!ready.raw.empty()) {
    if (raw) {
      remember(ready.raw);
      *raw = std::move(ready.raw);
      return noErr;
    }
    return fallbackConverter_.convert(ready.raw, out, width, height);  // the kind wanted changed
  }
  if (raw) *raw = codec::Frame();
  std::swap(out, ready.image);
  recycle(std::move(ready.image));
  if (width > 0 && height > 0 && (out.width != width || out.height != height)) {
    // Converted before the wanted size changed.
    Image scaled(width, height);
    scaleImage(out, scaled);
    out = std::move(scaled);
  }
  return noErr;
}

OSErr SourceStream::takeFallback(Image& out, int width, int height, codec::Frame* raw) {
  codec::Frame f = std::move(fallback_);
  haveFallback_ = false;
  YuvView planes;
  if (raw && codec::yuvViewOf(f, width, height, planes)) {
    remember(f);
    *raw = std::move(f);
    return noErr;
  }
  if (raw) *raw = codec::Frame();
  return fallbackConverter_.convert(f, out, width, height);
}

OSErr SourceStream::picture(int64_t k, Image& out, int width, int height, int ahead,
                            codec::Frame* raw) {
  if (!buildIndex()) return indexError_;
  if (k < 0 || k >= (int64_t)info_.size()) return invalidSampleNum;
  const int64_t frameBytes = 4LL * std::max(width, 1) * std::max(height, 1);
  ahead = std::clamp(ahead, 0, (int)std::clamp<int64_t>(kAheadBytes / frameBytes - 1, 0, 16));
  if (ahead > 0 && !worker_.joinable()) worker_ = std::thread([this] { workerLoop(); });
  const int64_t target = info_[(size_t)k].displayTime();
  const int desc = info_[(size_t)k].descriptionIndex;
  const int64_t sync = syncBefore(k);
  target_ = k;
  // A frame handed out a moment ago, asked for again: no need to go back to the key frame.
  if (raw && target <= delivered_)
    for (const codec::Frame& f : recent_) {
      YuvView planes;
      if (f.pts == target && codec::yuvViewOf(f, width, height, planes)) {
        *raw = f.share();
        if (!raw->empty()) return noErr;
      }
    }

  std::unique_lock<std::mutex> l(m_);
  outW_ = width;
  outH_ = height;
  rawWanted_ = raw != nullptr;
  maxReady_ = (size_t)ahead + 1;
  while (!ready_.empty() && ready_.front().pts < target) {
    recycle(std::move(ready_.front().image));
    ready_.pop_front();
  }
  // Carry on with the running stream when it holds the key frame before the target (or
  // reaches it next): stepping forward then costs only the new samples.
  bool resume = nextFeed_ >= 0 && desc == streamDesc_ && !drainSent_ && error_ == noErr &&
                target > delivered_ && target >= dropBelow_ &&
                (nextFeed_ == sync || (fedFrom_ <= sync && nextFeed_ > sync));
  bool served = !ready_.empty() && ready_.front().pts == target;
  if (!resume && !served) restart(sync, desc);
  dropBelow_ = target;
  work_.notify_all();  // room may have appeared
  l.unlock();

  OSErr err = feedUpTo(k + (ahead > 0 ? ahead + kDecoderDelay : 0), desc);
  if (err != noErr) return err;
  l.lock();
  for (;;) {
    if (!ready_.empty()) {
      Ready r = std::move(ready_.front());
      ready_.pop_front();
      delivered_ = target;
      work_.notify_all();
      // Frames come out in display order, so a later one means the target's frame is missing:
      // its sample was refused, or its times did not survive decoding (then the latest frame
      // before it is what shows).
      if (r.pts != target && refusedTarget(target)) {
        ready_.push_front(std::move(r));
        return codecBadDataErr;
      }
      if (r.pts != target && haveFallback_) {
        ready_.push_front(std::move(r));
        return takeFallback(out, width, height, raw);
      }
      return take(r, out, width, height, raw);
    }
    if (error_ != noErr) {
      nextFeed_ = -1;
      return error_;
    }
    // Rather than wait for the worker, run what is queued here.
    if (step(l)) continue;
    if (busy_) {
      done_.wait(l);
      continue;
    }
    // Everything queued has run without producing the target: queue more, or drain.
    if (nextFeed_ >= 0 && nextFeed_ < readable_ &&
        info_[(size_t)nextFeed_].descriptionIndex == desc) {
      l.unlock();
      err = feedOne();
      l.lock();
      if (err != noErr) return err;
      continue;
    }
    if (!drainSent_) {
      Job drain;
      drain.kind = Job::Drain;
      drain.epoch = epoch_;
      jobs_.push_back(std::move(drain));
      drainSent_ = true;
      work_.notify_all();
      continue;
    }
    delivered_ = target;
    if (haveFallback_ && !badData_) return takeFallback(out, width, height, raw);
    return badData_ ? codecBadDataErr : codecErr;
  }
}

bool SourceStream::refusedTarget(int64_t pts) const {
  return std::find(refused_.begin(), refused_.end(), pts) != refused_.end();
}

bool SourceStream::canStep() const {
  if (busy_) return false;
  return backlog_ ? ready_.size() < maxReady_ : !jobs_.empty();
}

bool SourceStream::step(std::unique_lock<std::mutex>& l) {
  if (!canStep()) return false;
  busy_ = true;
  Job job;
  const bool haveJob = !backlog_;
  if (haveJob) {
    job = std::move(jobs_.front());
    jobs_.pop_front();
    queuedBytes_ -= std::min(queuedBytes_, job.bytes.size());
  }
  l.unlock();
  OSErr failed = noErr;
  bool refused = false;
  try {
    if (haveJob) runJob(job, failed, refused);
    deliver();
  } catch (...) {
    // Out of memory in the decoder or converter: the stream fails, the process goes on.
    failed = vtErrorFromException();
  }
  l.lock();
  if (haveJob && job.epoch == epoch_) {
    if (job.kind == Job::Start) decoderEpoch_ = job.epoch;
    if (failed != noErr) error_ = failed;
    if (refused) {
      badData_ = true;
      if (refused_.size() < 64) refused_.push_back(job.pts);
    }
    if (job.kind == Job::Drain) drained_ = true;
  }
  busy_ = false;
  done_.notify_all();
  work_.notify_all();
  return true;
}

// Runs one job on the decoder (m_ not held; the caller owns the decoder for the while).
void SourceStream::runJob(Job& job, OSErr& failed, bool& refused) {
  if (job.kind == Job::Start) {
    held_ = codec::Frame();
    haveHeld_ = false;
    if (decoder_ && job.desc == decoderDesc_) {
      decoder_->reset();
      return;
    }
    decoder_.reset();
    decoderDesc_ = 0;
    if (job.format.width <= 0) return;  // the description could not be read (reported)
    int threads = (int64_t)job.format.width * job.format.height >= kThreadedPixels ? threads_ : 1;
    auto opened = codec::VideoDecoder::open(job.format, threads);
    if (!opened) {
      failed = opened.error();
      return;
    }
    decoder_ = std::move(opened.value());
    decoderDesc_ = job.desc;
    return;
  }
  bool unshown = false;
  {
    std::lock_guard<std::mutex> l(m_);
    if (job.epoch != decoderEpoch_) return;  // the decoder was started for another stream
    unshown = job.pts < dropBelow_;
  }
  if (!decoder_) return;
  if (job.kind == Job::Packet) {
    // A frame before the one asked for is never shown: when nothing refers to it either (a
    // player that fell behind, a jump forward), it need not be decoded at all.
    decoder_->skipUnreferenced(unshown);
    refused = decoder_->send(job.bytes.data(), job.bytes.size(), job.pts, job.sync) != noErr;
    sent_++;
  } else {
    decoder_->drain();
  }
}

// Moves the frames the decoder has into the ready queue (converted) or the fallback, until the
// queue is full; the rest wait in the decoder (m_ not held; the caller owns the decoder).
void SourceStream::deliver() {
  for (;;) {
    codec::Frame f;
    if (haveHeld_) {
      f = std::move(held_);
      haveHeld_ = false;
    } else if (!decoder_ || !decoder_->receive(f)) {
      break;
    } else {
      decoded_++;
    }
    std::unique_lock<std::mutex> l(m_);
    if (decoderEpoch_ != epoch_) break;  // stale: the next start resets the decoder
    if (f.pts < dropBelow_) {
      if (!haveFallback_ || f.pts >= fallback_.pts) {
        fallback_ = std::move(f);
        haveFallback_ = true;
      }
      continue;
    }
    if (ready_.size() >= maxReady_) {
      held_ = std::move(f);
      haveHeld_ = true;
      backlog_ = true;
      return;
    }
    const uint64_t epoch = epoch_;
    const int w = outW_, h = outH_;
    YuvView planes;
    if (rawWanted_ && codec::yuvViewOf(f, w, h, planes)) {
      translucent_.store(false);
      const int64_t pts = f.pts;
      ready_.push_back(Ready{pts, Image(), std::move(f)});
      done_.notify_all();
      continue;
    }
    Image image;
    if (!spare_.empty()) {
      image = std::move(spare_.back());
      spare_.pop_back();
    }
    l.unlock();
    translucent_.store(f.translucent());
    OSErr err = converter_.convert(f, image, w, h);
    l.lock();
    if (err == noErr && epoch == epoch_) {
      ready_.push_back(Ready{f.pts, std::move(image), codec::Frame()});
      done_.notify_all();
    } else {
      recycle(std::move(image));
    }
  }
  std::lock_guard<std::mutex> l(m_);
  backlog_ = false;
}

void SourceStream::workerLoop() {
  std::unique_lock<std::mutex> l(m_);
  for (;;) {
    work_.wait(l, [&] { return stop_ || canStep(); });
    if (stop_) return;
    step(l);
  }
}

}  // namespace vt::compose

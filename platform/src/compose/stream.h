// The pictures of one video media.
//
// The caller's thread reads every sample's bytes (so the movie model is only ever touched
// there) and queues them as jobs. Whoever is free runs the jobs: the caller while it waits for
// a picture, and, once decoding ahead is asked for, a worker thread that goes on decoding and
// converting the next frames while the caller shows the current one. One job runs at a time,
// so the decoder has one user at a time. A request the queued stream cannot reach (a jump
// back, or past the next key frame) cancels the queue and starts again from the key frame
// before it; frames before a request are decoded but never converted.
#pragma once
#include <MacTypes.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "codec/decoder.h"
#include "codec/samples.h"
#include "core/image.h"

namespace vt::compose {

class SourceStream {
 public:
  // The source must outlive the stream. threads: the decoder's own (0: libavcodec's choice).
  explicit SourceStream(codec::SampleSource& source, int threads = 0);
  ~SourceStream();
  SourceStream(const SourceStream&) = delete;
  SourceStream& operator=(const SourceStream&) = delete;

  // The sample shown at media time t (the latest display time not after t; before the first,
  // the first), or -1 outside the media.
  int64_t sampleAtMediaTime(int64_t t);
  // Why the sample index could not be made: memFullErr when the index budget shared by every
  // stream is spent, invalidMedia for a table that cannot be read; noErr otherwise.
  OSErr indexError() const { return indexError_; }
  // The display interval [start, end) of sample k, in media time.
  bool sampleSpan(int64_t k, int64_t& start, int64_t& end);
  // The picture of sample k at width x height (0 x 0: as decoded) into `out`; the buffer `out`
  // held before is reused for later frames. `ahead`: how many frames after this one to
  // decode meanwhile. Errors: invalidMedia, invalidSampleNum, the source's read errors,
  // noCodecErr, codecBadDataErr (the sample is damaged), codecErr.
  // With `raw`, a frame whose planes YUV consumers take as they are (codec/yuv.h) comes out
  // there unconverted, `out` untouched; any other comes out in `out` with `raw` emptied.
  OSErr picture(int64_t k, Image& out, int width, int height, int ahead,
                codec::Frame* raw = nullptr);

  // Samples handed to the decoder so far (tests check that stepping reuses work).
  int64_t samplesDecoded() const { return sent_.load(); }
  // Frames that came out of the decoder so far (those nothing refers to are skipped when they
  // will not be shown).
  int64_t framesDecoded() const { return decoded_.load(); }
  // True when the pictures carry alpha worth blending.
  bool translucent() const { return translucent_.load(); }

 private:
  struct Job;
  struct Ready {
    int64_t pts;
    Image image;
    codec::Frame raw;  // instead of the image: planes handed out as they are
  };

  bool buildIndex();
  int64_t syncBefore(int64_t index);
  void restart(int64_t sync, int desc);
  OSErr feedUpTo(int64_t last, int desc);
  OSErr feedOne();
  OSErr take(Ready& ready, Image& out, int width, int height, codec::Frame* raw);
  OSErr takeFallback(Image& out, int width, int height, codec::Frame* raw);
  void recycle(Image&& image);
  bool refusedTarget(int64_t pts) const;
  // Runs one job (or hands out frames the decoder holds) if there is one and nobody else is
  // running one; called and returning with m_ held.
  bool canStep() const;
  bool step(std::unique_lock<std::mutex>& l);
  void runJob(Job& job, OSErr& failed, bool& refused);
  void deliver();
  void workerLoop();

  // The caller's thread only.
  codec::SampleSource& src_;
  const int threads_;
  bool indexed_ = false;
  OSErr indexError_ = noErr;  // why the index could not be made (memFullErr: over the budget)
  int64_t charged_ = 0;       // entries taken from the shared index budget
  std::vector<codec::SampleInfo> info_;
  std::vector<std::pair<int64_t, int64_t>> byDisplay_;  // (display time, index), sorted
  int64_t nextFeed_ = -1;  // next sample to queue; -1: no stream running
  int64_t fedFrom_ = 0;    // the key frame the running stream started at
  int64_t readable_ = 0;   // samples from here on could not be read: the stream ends there
  int64_t target_ = 0;     // the sample asked for last
  int streamDesc_ = 0;     // its description
  bool drainSent_ = false;
  int64_t delivered_ = INT64_MIN;  // the last display time handed out in this stream
  codec::FrameConverter fallbackConverter_;
  // The last frames handed out as planes (shared, not copied), so that asking again for one of
  // them (play after a stop, a step back) does not start the stream again from its key frame.
  std::deque<codec::Frame> recent_;
  void remember(const codec::Frame& f);

  // Whoever runs a job (busy_ set under m_) owns these while it runs.
  std::unique_ptr<codec::VideoDecoder> decoder_;
  int decoderDesc_ = 0;  // the description it was opened for
  codec::FrameConverter converter_;
  codec::Frame held_;  // decoded, waiting for room in ready_
  bool haveHeld_ = false;

  // Shared, guarded by m_.
  std::mutex m_;
  std::condition_variable work_;  // the worker waits for something to run
  std::condition_variable done_;  // the caller waits for frames or the end of a job
  uint64_t epoch_ = 0;            // jobs and frames of older epochs are stale
  uint64_t decoderEpoch_ = 0;     // the epoch the decoder was last started for
  std::deque<Job> jobs_;
  size_t queuedBytes_ = 0;
  std::deque<Ready> ready_;  // converted frames, display order
  size_t maxReady_ = 1;
  bool backlog_ = false;           // the decoder holds frames that found no room
  int64_t dropBelow_ = INT64_MIN;  // frames before this display time are not converted
  int outW_ = 0, outH_ = 0;
  bool rawWanted_ = false;  // frames YUV consumers take are kept unconverted
  codec::Frame fallback_;   // the latest frame before dropBelow_, unconverted
  bool haveFallback_ = false;
  bool busy_ = false;             // a job is running
  bool drained_ = false;          // the stream's drain has run
  OSErr error_ = noErr;           // a decoder that could not open
  bool badData_ = false;          // a sample the decoder refused
  std::vector<int64_t> refused_;  // display times of refused samples (the first few)
  bool stop_ = false;
  std::vector<Image> spare_;

  std::atomic<int64_t> sent_{0};
  std::atomic<int64_t> decoded_{0};
  std::atomic<bool> translucent_{false};
  std::thread worker_;  // started when decoding ahead is first asked for
};

}  // namespace vt::compose

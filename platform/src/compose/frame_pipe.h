// Hands composed frames to a consumer on its own thread (an encoder, a stream writer), so
// consuming one frame overlaps composing the next. Two buffers go round: the one being
// consumed and the one being composed.
#pragma once
#include <MacTypes.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "core/guard.h"
#include "core/image.h"
#include "core/yuv_image.h"

namespace vt::compose {

// Frames are pictures (Image) or planes (YuvImage), whichever the consumer takes.
template <class Picture>
class BasicFramePipe {
 public:
  // The consumer gets each frame with its index; an error from it ends the pipe.
  using Sink = std::function<OSErr(const Picture&, int64_t index)>;
  explicit BasicFramePipe(Sink sink) : sink_(std::move(sink)), thread_([this] { run(); }) {}
  ~BasicFramePipe() { finish(); }
  BasicFramePipe(const BasicFramePipe&) = delete;
  BasicFramePipe& operator=(const BasicFramePipe&) = delete;

  // Takes the frame (swapped with a spare buffer); the consumer's error once it failed.
  OSErr put(Picture& frame) {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return !full_ || error_; });
    if (error_) return error_;
    std::swap(frame, pending_);
    full_ = true;
    cv_.notify_all();
    return noErr;
  }
  // Waits until every frame is consumed; the consumer's error, if any.
  OSErr finish() {
    {
      std::lock_guard<std::mutex> l(m_);
      done_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    return error_;
  }

 private:
  void run() {
    Picture frame;
    for (int64_t index = 0;; index++) {
      {
        std::unique_lock<std::mutex> l(m_);
        cv_.wait(l, [&] { return full_ || done_; });
        if (!full_) return;
        std::swap(frame, pending_);
        full_ = false;
        cv_.notify_all();
      }
      OSErr err = noErr;
      try {
        err = sink_(frame, index);
      } catch (...) {
        err = vtErrorFromException();  // this thread's end: nothing may escape it
      }
      if (err) {
        std::lock_guard<std::mutex> l(m_);
        error_ = err;
        cv_.notify_all();
        return;
      }
    }
  }

  Sink sink_;
  std::mutex m_;
  std::condition_variable cv_;
  Picture pending_;
  bool full_ = false, done_ = false;
  OSErr error_ = noErr;
  std::thread thread_;
};

using FramePipe = BasicFramePipe<Image>;
using PlanePipe = BasicFramePipe<YuvImage>;

}  // namespace vt::compose

#include "effects/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vt::effects {
namespace {

class Pool {
 public:
  Pool() {
    unsigned n = std::thread::hardware_concurrency();
    n = std::clamp(n, 1u, (unsigned)kMaxBands / 4);
    for (unsigned i = 1; i < n; ++i) workers_.emplace_back([this] { loop(); });
  }
  ~Pool() {
    {
      std::lock_guard<std::mutex> l(m_);
      stop_ = true;
    }
    cv_.notify_all();
    for (auto& t : workers_) t.join();
  }
  int threads() const { return (int)workers_.size() + 1; }
  std::mutex& callerLock() { return caller_; }

  void run(int rows, int bands, BandsFn fn, void* ctx) {
    Job job{fn, ctx, rows, bands};
    {
      std::lock_guard<std::mutex> l(m_);
      job_ = &job;
      ++generation_;
    }
    cv_.notify_all();
    work(job);
    std::unique_lock<std::mutex> l(m_);
    // Wait until every band is done and no worker still holds the job.
    done_.wait(l, [&] { return job.finished == job.bands && active_ == 0; });
    job_ = nullptr;
  }

 private:
  struct Job {
    BandsFn fn;
    void* ctx;
    int rows, bands;
    std::atomic<int> next{0};
    int finished = 0;  // guarded by m_
  };

  void work(Job& job) {
    for (;;) {
      int b = job.next.fetch_add(1);
      if (b >= job.bands) return;
      int begin = (int)((long)job.rows * b / job.bands);
      int end = (int)((long)job.rows * (b + 1) / job.bands);
      job.fn(job.ctx, begin, end, b);
      std::lock_guard<std::mutex> l(m_);
      if (++job.finished == job.bands) done_.notify_all();
    }
  }
  void loop() {
    unsigned long seen = 0;
    for (;;) {
      Job* job;
      {
        std::unique_lock<std::mutex> l(m_);
        cv_.wait(l, [&] { return stop_ || (generation_ != seen && job_); });
        if (stop_) return;
        seen = generation_;
        job = job_;
        ++active_;
      }
      work(*job);
      std::lock_guard<std::mutex> l(m_);
      if (--active_ == 0) done_.notify_all();
    }
  }

  std::vector<std::thread> workers_;
  std::mutex m_, caller_;
  std::condition_variable cv_, done_;
  bool stop_ = false;
  unsigned long generation_ = 0;
  Job* job_ = nullptr;
  int active_ = 0;
};

Pool& pool() {
  static Pool p;
  return p;
}

std::atomic<int> maxThreads{0};

}  // namespace

void setMaxThreads(int n) { maxThreads.store(n < 0 ? 0 : n); }

void runBands(int rows, long pixelsPerRow, BandsFn fn, void* context) {
  if (rows <= 0) return;
  // Below ~64k pixels the hand-off costs more than it saves.
  if ((long)rows * pixelsPerRow < 65536 || rows < 4) {
    fn(context, 0, rows, 0);
    return;
  }
  Pool& p = pool();
  if (p.threads() == 1 || maxThreads.load() == 1) {
    fn(context, 0, rows, 0);
    return;
  }
  std::unique_lock<std::mutex> lock(p.callerLock(), std::try_to_lock);
  if (!lock.owns_lock()) {
    fn(context, 0, rows, 0);
    return;
  }
  int bands = std::min({rows, p.threads() * 4, kMaxBands});
  p.run(rows, bands, fn, context);
}

void runRows(int rows, long pixelsPerRow, RowsFn fn, void* context) {
  struct Forward {
    RowsFn fn;
    void* context;
  } fw{fn, context};
  runBands(
      rows, pixelsPerRow,
      [](void* c, int b, int e, int) {
        auto* f = static_cast<Forward*>(c);
        f->fn(f->context, b, e);
      },
      &fw);
}

}  // namespace vt::effects

// A media's sample table, stored as runs.
//
// Samples that share a value share one entry: a run of equal durations, a run of samples of one
// size lying back to back in the data, a run of one description, of sync samples or of one
// composition offset. A file's tables therefore cost memory in proportion to the tables
// themselves (each stored run comes from at least one table entry of four or more bytes), never
// to the number of samples they declare: a constant sample size over a million samples is one
// entry. Lookups by sample number or time are binary searches over the runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vt::movie {

struct SampleInfo;

// Samples [first, first + count) whose data lies back to back from `offset`, each `size`
// bytes, all with description `descIndex`.
struct SampleSpan {
  uint32_t first = 0;
  uint32_t count = 0;
  uint64_t offset = 0;
  uint32_t size = 0;
  uint32_t descIndex = 0;
  uint64_t bytes() const { return (uint64_t)count * size; }
};

class SampleTable {
 public:
  uint32_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Sum of the durations (media time scale).
  int64_t totalDuration() const;
  SampleInfo info(uint32_t index) const;
  uint64_t offset(uint32_t index) const;
  uint32_t size(uint32_t index) const;
  int64_t decodeTime(uint32_t index) const;
  uint32_t duration(uint32_t index) const;
  int32_t compositionOffset(uint32_t index) const;
  uint32_t descIndex(uint32_t index) const;
  bool sync(uint32_t index) const;
  bool hasCompositionOffsets() const { return anyCompositionOffset_; }
  bool allSync() const;
  // The same size for every sample (0 when there are none or sizes differ).
  uint32_t constantSize() const;
  // The sample whose decode interval holds t (the last of several starting there), or -1.
  long atDecodeTime(int64_t t) const;

  // One more sample at the end.
  void append(uint64_t offset, uint32_t size, uint32_t duration, uint32_t descIndex, bool sync,
              int32_t compositionOffset);

  // Column by column, for tables stored that way in files. Each column grows on its own;
  // finishColumns() then keeps the samples that both the data and timing columns cover, and
  // gives the rest composition offset 0 and the sync flag where none was given.
  void appendData(uint64_t offset, uint32_t size, uint32_t count, uint32_t descIndex);
  void appendTiming(uint32_t duration, uint32_t count);
  void appendCompositionOffsets(int32_t value, uint32_t count);
  void appendSync(bool sync, uint32_t count);
  void finishColumns();
  // Room for this many more data runs (a reader that knows its table's size).
  void reserveData(size_t runs) { data_.reserve(data_.size() + runs); }

  // Calls f for every span, in sample order: each is the longest stretch with data back to back,
  // one size and one description (samples of differing sizes come one span each).
  void forEachSpan(const std::function<void(const SampleSpan&)>& f) const;
  // Moves sample data: `to` answers each span's new offset (its samples stay back to back).
  void relocate(const std::function<uint64_t(const SampleSpan&)>& to);
  // Runs of equal durations / composition offsets, in order: f(count, value).
  void forEachDurationRun(const std::function<void(uint32_t, uint32_t)>& f) const;
  void forEachCompositionOffsetRun(const std::function<void(uint32_t, int32_t)>& f) const;
  // The sync samples in order (0-based), when not every sample is one.
  void forEachSyncSample(const std::function<void(uint32_t)>& f) const;

  // Bytes held (for bounds and tests).
  size_t memoryBytes() const;

 private:
  template <class T>
  struct Run {
    uint32_t first;
    T value;
  };
  // A stretch of samples of one size, back to back in the data.
  struct DataRun {
    uint64_t offset;
    uint32_t first;
    uint32_t size;
  };
  struct TimeRun {
    int64_t start;
    uint32_t first;
    uint32_t duration;
  };
  static void addData(std::vector<DataRun>& runs, uint32_t& length, uint64_t offset, uint32_t size,
                      uint32_t count);
  template <class T>
  static void push(std::vector<Run<T>>& runs, uint32_t& length, T value, uint32_t count);
  template <class T>
  static T valueAt(const std::vector<Run<T>>& runs, uint32_t index);
  template <class T>
  static void cut(std::vector<Run<T>>& runs, uint32_t& length, uint32_t keep);
  const DataRun& dataRunOf(uint32_t index) const;
  const TimeRun& timeRunOf(uint32_t index) const;

  uint32_t count_ = 0;
  std::vector<DataRun> data_;
  uint32_t dataLength_ = 0;
  std::vector<Run<uint32_t>> desc_;
  uint32_t descLength_ = 0;
  std::vector<TimeRun> time_;
  uint32_t timeLength_ = 0;
  std::vector<Run<int32_t>> cto_;
  uint32_t ctoLength_ = 0;
  bool anyCompositionOffset_ = false;
  std::vector<Run<uint8_t>> sync_;
  uint32_t syncLength_ = 0;
};

}  // namespace vt::movie

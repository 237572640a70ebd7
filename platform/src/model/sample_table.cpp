#include "model/sample_table.h"

#include <algorithm>

#include "model/model.h"

namespace vt::movie {

template <class T>
void SampleTable::push(std::vector<Run<T>>& runs, uint32_t& length, T value, uint32_t count) {
  count = std::min(count, UINT32_MAX - length);
  if (count == 0) return;
  if (runs.empty() || !(runs.back().value == value)) runs.push_back(Run<T>{length, value});
  length += count;
}

template <class T>
T SampleTable::valueAt(const std::vector<Run<T>>& runs, uint32_t index) {
  auto it = std::upper_bound(runs.begin(), runs.end(), index,
                             [](uint32_t i, const Run<T>& r) { return i < r.first; });
  return it == runs.begin() ? T{} : std::prev(it)->value;
}

template <class T>
void SampleTable::cut(std::vector<Run<T>>& runs, uint32_t& length, uint32_t keep) {
  if (keep >= length) return;
  while (!runs.empty() && runs.back().first >= keep) runs.pop_back();
  length = keep;
}

const SampleTable::DataRun& SampleTable::dataRunOf(uint32_t index) const {
  auto it = std::upper_bound(data_.begin(), data_.end(), index,
                             [](uint32_t i, const DataRun& r) { return i < r.first; });
  return *std::prev(it);
}

const SampleTable::TimeRun& SampleTable::timeRunOf(uint32_t index) const {
  auto it = std::upper_bound(time_.begin(), time_.end(), index,
                             [](uint32_t i, const TimeRun& r) { return i < r.first; });
  return *std::prev(it);
}

int64_t SampleTable::totalDuration() const {
  if (time_.empty()) return 0;
  const TimeRun& r = time_.back();
  return r.start + (int64_t)(timeLength_ - r.first) * r.duration;
}

uint64_t SampleTable::offset(uint32_t index) const {
  if (index >= count_) return 0;
  const DataRun& r = dataRunOf(index);
  return r.offset + (uint64_t)(index - r.first) * r.size;
}

uint32_t SampleTable::size(uint32_t index) const {
  return index < count_ ? dataRunOf(index).size : 0;
}

int64_t SampleTable::decodeTime(uint32_t index) const {
  if (index >= count_) return 0;
  const TimeRun& r = timeRunOf(index);
  return r.start + (int64_t)(index - r.first) * r.duration;
}

uint32_t SampleTable::duration(uint32_t index) const {
  return index < count_ ? timeRunOf(index).duration : 0;
}

int32_t SampleTable::compositionOffset(uint32_t index) const {
  return index < count_ && anyCompositionOffset_ ? valueAt(cto_, index) : 0;
}

uint32_t SampleTable::descIndex(uint32_t index) const {
  return index < count_ ? valueAt(desc_, index) : 0;
}

bool SampleTable::sync(uint32_t index) const {
  return index < count_ && valueAt(sync_, index) != 0;
}

bool SampleTable::allSync() const { return sync_.empty() || (sync_.size() == 1 && sync_[0].value); }

uint32_t SampleTable::constantSize() const {
  if (data_.empty()) return 0;
  uint32_t s = data_[0].size;
  for (const DataRun& r : data_)
    if (r.size != s) return 0;
  return s;
}

SampleInfo SampleTable::info(uint32_t index) const {
  SampleInfo s;
  if (index >= count_) return s;
  s.index = index;
  s.decodeTime = decodeTime(index);
  s.compositionOffset = compositionOffset(index);
  s.duration = duration(index);
  s.size = size(index);
  s.offset = offset(index);
  s.descIndex = descIndex(index);
  s.sync = sync(index);
  return s;
}

long SampleTable::atDecodeTime(int64_t t) const {
  if (t < 0 || count_ == 0 || t >= totalDuration()) return -1;
  // The last run starting at or before t. It lasts: a run of zero-length samples ends where it
  // starts, so the run after it starts there too (and t is before the end of the last run).
  auto it = std::upper_bound(time_.begin(), time_.end(), t,
                             [](int64_t v, const TimeRun& r) { return v < r.start; });
  const TimeRun& r = *std::prev(it);
  uint32_t end = it == time_.end() ? timeLength_ : it->first;
  uint64_t k = (uint64_t)(t - r.start) / std::max<uint32_t>(r.duration, 1);
  return (long)std::min<uint64_t>(r.first + k, end - 1);
}

void SampleTable::addData(std::vector<DataRun>& runs, uint32_t& length, uint64_t offset,
                          uint32_t size, uint32_t count) {
  count = std::min(count, UINT32_MAX - length);
  if (count == 0) return;
  bool joins = false;
  if (!runs.empty()) {
    const DataRun& b = runs.back();
    uint64_t held = (uint64_t)(length - b.first) * b.size;
    joins = b.size == size && b.offset <= UINT64_MAX - held && b.offset + held == offset;
  }
  if (!joins) runs.push_back(DataRun{offset, length, size});
  length += count;
}

void SampleTable::appendData(uint64_t offset, uint32_t size, uint32_t count, uint32_t descIndex) {
  count = std::min(count, UINT32_MAX - dataLength_);
  addData(data_, dataLength_, offset, size, count);
  push(desc_, descLength_, descIndex, count);
}

void SampleTable::appendTiming(uint32_t duration, uint32_t count) {
  count = std::min(count, UINT32_MAX - timeLength_);
  if (count == 0) return;
  if (time_.empty() || time_.back().duration != duration)
    time_.push_back(TimeRun{totalDuration(), timeLength_, duration});
  timeLength_ += count;
}

void SampleTable::appendCompositionOffsets(int32_t value, uint32_t count) {
  if (value != 0 && count) anyCompositionOffset_ = true;
  push(cto_, ctoLength_, value, count);
}

void SampleTable::appendSync(bool sync, uint32_t count) {
  push(sync_, syncLength_, (uint8_t)(sync ? 1 : 0), count);
}

void SampleTable::finishColumns() {
  uint32_t n = std::min(dataLength_, timeLength_);
  while (!data_.empty() && data_.back().first >= n) data_.pop_back();
  dataLength_ = n;
  cut(desc_, descLength_, n);
  while (!time_.empty() && time_.back().first >= n) time_.pop_back();
  timeLength_ = n;
  cut(cto_, ctoLength_, n);
  appendCompositionOffsets(0, n - ctoLength_);
  anyCompositionOffset_ =
      std::any_of(cto_.begin(), cto_.end(), [](const Run<int32_t>& r) { return r.value != 0; });
  cut(sync_, syncLength_, n);
  appendSync(true, n - syncLength_);
  count_ = n;
}

void SampleTable::append(uint64_t offset, uint32_t size, uint32_t duration, uint32_t descIndex,
                         bool sync, int32_t compositionOffset) {
  if (count_ == UINT32_MAX) return;
  appendData(offset, size, 1, descIndex);
  appendTiming(duration, 1);
  appendCompositionOffsets(compositionOffset, 1);
  appendSync(sync, 1);
  ++count_;
}

void SampleTable::forEachSpan(const std::function<void(const SampleSpan&)>& f) const {
  size_t d = 0, k = 0;
  uint32_t s = 0;
  while (s < count_) {
    while (d + 1 < data_.size() && data_[d + 1].first <= s) ++d;
    while (k + 1 < desc_.size() && desc_[k + 1].first <= s) ++k;
    uint32_t dataEnd = d + 1 < data_.size() ? data_[d + 1].first : count_;
    uint32_t descEnd = k + 1 < desc_.size() ? desc_[k + 1].first : count_;
    SampleSpan span;
    span.first = s;
    span.count = std::min(dataEnd, descEnd) - s;
    span.size = data_[d].size;
    span.offset = data_[d].offset + (uint64_t)(s - data_[d].first) * span.size;
    span.descIndex = desc_[k].value;
    f(span);
    s += span.count;
  }
}

void SampleTable::relocate(const std::function<uint64_t(const SampleSpan&)>& to) {
  std::vector<DataRun> moved;
  uint32_t length = 0;
  forEachSpan(
      [&](const SampleSpan& span) { addData(moved, length, to(span), span.size, span.count); });
  data_ = std::move(moved);
  dataLength_ = length;
}

void SampleTable::forEachDurationRun(const std::function<void(uint32_t, uint32_t)>& f) const {
  for (size_t i = 0; i < time_.size(); ++i) {
    uint32_t end = i + 1 < time_.size() ? time_[i + 1].first : timeLength_;
    f(end - time_[i].first, time_[i].duration);
  }
}

void SampleTable::forEachCompositionOffsetRun(
    const std::function<void(uint32_t, int32_t)>& f) const {
  for (size_t i = 0; i < cto_.size(); ++i) {
    uint32_t end = i + 1 < cto_.size() ? cto_[i + 1].first : ctoLength_;
    f(end - cto_[i].first, cto_[i].value);
  }
}

void SampleTable::forEachSyncSample(const std::function<void(uint32_t)>& f) const {
  for (size_t i = 0; i < sync_.size(); ++i) {
    if (!sync_[i].value) continue;
    uint32_t end = i + 1 < sync_.size() ? sync_[i + 1].first : syncLength_;
    for (uint32_t s = sync_[i].first; s < end; ++s) f(s);
  }
}

size_t SampleTable::memoryBytes() const {
  return data_.capacity() * sizeof(DataRun) + desc_.capacity() * sizeof(Run<uint32_t>) +
         time_.capacity() * sizeof(TimeRun) + cto_.capacity() * sizeof(Run<int32_t>) +
         sync_.capacity() * sizeof(Run<uint8_t>);
}

}  // namespace vt::movie

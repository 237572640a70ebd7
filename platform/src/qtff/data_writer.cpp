#include "qtff/data_writer.h"

#include <MacErrors.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "files/host_file.h"
#include "files/positional_io.h"

namespace vt::qtff {

namespace {

constexpr size_t kBufferSize = 8u << 20;
constexpr size_t kReadChunk = 4u << 20;

// Appends to the file at increasing offsets through a buffer of kBufferSize bytes.
class BufferedWriter {
 public:
  explicit BufferedWriter(int fd) : fd_(fd) { buf_.reserve(kBufferSize); }
  // Room for `n` more bytes at the buffer's end, flushing first when they would not fit; null
  // when the flush fails (errno set).
  uint8_t* reserve(size_t n) {
    if (buf_.size() + n > buf_.capacity() && !flush()) return nullptr;
    size_t at = buf_.size();
    buf_.resize(at + n);
    return buf_.data() + at;
  }
  void append(const std::vector<uint8_t>& bytes) {
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
  }
  bool flush() {
    if (buf_.empty()) return true;
    if (!vt::files::writeAt(fd_, written_, buf_.data(), buf_.size())) return false;
    // The disk starts on it now, while the rest is copied: the sync at the end finds less to do.
    ::sync_file_range(fd_, (off_t)written_, (off_t)buf_.size(), SYNC_FILE_RANGE_WRITE);
    written_ += buf_.size();
    buf_.clear();
    return true;
  }

 private:
  int fd_;
  std::vector<uint8_t> buf_;
  uint64_t written_ = 0;
};

}  // namespace

OSErr writeFlatFile(int fd, const FlatLayout& layout, const CopyProgress& progress) {
  BufferedWriter out(fd);
  out.append(layout.head);
  uint64_t copied = 0;
  for (const DataRun& r : layout.runs) {
    for (uint64_t done = 0; done < r.size;) {
      size_t chunk = (size_t)std::min<uint64_t>(r.size - done, kReadChunk);
      uint8_t* dst = out.reserve(chunk);
      if (!dst) return vt::files::errnoToOSErr(errno);
      if (!r.source->read(r.from + done, (uint32_t)chunk, dst)) {
        vt::movie::noteMissingData(r.source->filePath());
        return couldNotResolveDataRef;
      }
      done += chunk;
      copied += chunk;
    }
    if (OSErr err = progress ? progress(copied) : OSErr(noErr)) return err;
  }
  out.append(layout.tail);
  return out.flush() ? OSErr(noErr) : vt::files::errnoToOSErr(errno);
}

}  // namespace vt::qtff

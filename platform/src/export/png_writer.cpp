// A folder of numbered PNG images, one file per frame.
#include <MacErrors.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "export/writers.h"
#include "files/positional_io.h"

namespace vt::exporter {
namespace {

OSErr writeFile(const std::string& path, const uint8_t* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fromErrno(errno);
  if (!vt::files::writeAt(fd, 0, data, size)) {
    const int e = errno;
    ::close(fd);
    return fromErrno(e);
  }
  return ::close(fd) == 0 ? (OSErr)noErr : fromErrno(errno);
}

}  // namespace

PngWriter::~PngWriter() {
  avcodec_free_context(&enc_);
  av_packet_free(&pkt_);
}

OSErr PngWriter::open(const std::string& folder, const Plan& p, const Options& o) {
  folder_ = folder;
  if (OSErr err = openEncoder("png", AV_PIX_FMT_RGB24, p, false, o, enc_)) return err;
  pkt_ = av_packet_alloc();
  if (!pkt_) return memFullErr;
  return conv_.open(p.width, p.height, AV_PIX_FMT_RGB24);
}

OSErr PngWriter::write(const Image& image, int64_t index) {
  AVFrame* f = conv_.convert(image);
  if (!f) return memFullErr;
  f->pts = index;
  if (avcodec_send_frame(enc_, f) < 0 || avcodec_receive_packet(enc_, pkt_) < 0) return codecErr;
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%06lld.png", (long long)index + 1);
  OSErr err = writeFile(folder_ + name, pkt_->data, (size_t)pkt_->size);
  av_packet_unref(pkt_);
  return err;
}

}  // namespace vt::exporter

// Joining the chunks of an export: PNG folders moved into one, or the chunks' picture packets
// copied one after another without encoding them again, with the sound of the whole range.
#include <MacErrors.h>
#include <Movies.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/movie_sound.h"
#include "codec/decoder.h"
#include "export/export.h"
#include "export/writers.h"
#include "model/model.h"

namespace vt::exporter {
namespace {

// One chunk file's picture stream, read packet by packet.
class ChunkReader {
 public:
  ~ChunkReader() { avformat_close_input(&in_); }
  OSErr open(const std::string& file, std::string& why) {
    if (avformat_open_input(&in_, file.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(in_, nullptr) < 0) {
      why = file + " is not a chunk that can be read";
      return paramErr;
    }
    for (unsigned i = 0; i < in_->nb_streams; i++)
      if (in_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !stream_)
        stream_ = in_->streams[i];
    if (!stream_) {
      why = file + " holds no pictures";
      return paramErr;
    }
    return noErr;
  }
  AVStream* stream() const { return stream_; }
  // What the chunk says it is ("" for a file that is no chunk).
  std::string tag() const {
    const AVDictionaryEntry* e = av_dict_get(in_->metadata, "comment", nullptr, 0);
    return e ? e->value : "";
  }
  // The next picture packet; false at the end.
  bool next(AVPacket* pkt) {
    while (av_read_frame(in_, pkt) >= 0) {
      if (pkt->stream_index == stream_->index) return true;
      av_packet_unref(pkt);
    }
    return false;
  }

 private:
  AVFormatContext* in_ = nullptr;
  AVStream* stream_ = nullptr;
};

bool sameStream(const AVCodecParameters* a, const AVCodecParameters* b) {
  return a->codec_id == b->codec_id && a->width == b->width && a->height == b->height &&
         a->format == b->format && a->extradata_size == b->extradata_size &&
         (a->extradata_size == 0 || !std::memcmp(a->extradata, b->extradata, a->extradata_size));
}

// PNG chunks are numbered in the whole range already: their files move into one folder.
OSErr joinFolders(const std::vector<std::string>& chunks, const std::string& folder, int64_t frames,
                  std::string& message) {
  int64_t found = 0;
  for (const auto& c : chunks) {
    DIR* d = opendir(c.c_str());
    if (!d) {
      message = c + " is not a folder of frames";
      return paramErr;
    }
    while (dirent* e = readdir(d)) found += std::strncmp(e->d_name, "frame-", 6) == 0;
    closedir(d);
  }
  if (found != frames) {
    message = "the chunks hold " + std::to_string(found) + " frames; the range has " +
              std::to_string(frames);
    return paramErr;
  }
  // Every frame is found before any moves, so a refused join leaves the chunks as they were.
  std::vector<size_t> holder((size_t)frames);
  auto nameOf = [](int64_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06lld.png", (long long)i + 1);
    return std::string(name);
  };
  for (int64_t i = 0; i < frames; i++) {
    struct stat st;
    size_t c = 0;
    while (c < chunks.size() && stat((chunks[c] + nameOf(i)).c_str(), &st) != 0) c++;
    if (c == chunks.size()) {
      message = "no chunk holds " + nameOf(i).substr(1);
      return paramErr;
    }
    holder[(size_t)i] = c;
  }
  auto from = [&](int64_t i) { return chunks[holder[(size_t)i]] + nameOf(i); };
  for (int64_t i = 0; i < frames; i++)
    if (::rename(from(i).c_str(), (folder + nameOf(i)).c_str())) {
      const int e = errno;  // another file system, say: what moved goes back
      while (i-- > 0) ::rename((folder + nameOf(i)).c_str(), from(i).c_str());
      return fromErrno(e);
    }
  return noErr;
}

// Opens every chunk's reader; paramErr when one cannot be read or differs from the first, or
// when they hold neither H.264 nor ProRes.
OSErr openReaders(const std::vector<std::string>& chunks,
                  std::vector<std::unique_ptr<ChunkReader>>& readers, std::string& message) {
  for (const auto& c : chunks) {
    readers.push_back(std::make_unique<ChunkReader>());
    if (OSErr err = readers.back()->open(c, message)) return err;
    if (!sameStream(readers[0]->stream()->codecpar, readers.back()->stream()->codecpar)) {
      message = c + " was encoded unlike " + chunks[0];
      return paramErr;
    }
  }
  const AVCodecID codec = readers[0]->stream()->codecpar->codec_id;
  if (codec != AV_CODEC_ID_H264 && codec != AV_CODEC_ID_PRORES) {
    message = chunks[0] + " is neither H.264 nor ProRes";
    return paramErr;
  }
  return noErr;
}

// The joined file: the chunks' picture packets in order, each chunk going on where the previous
// one ends in the first chunk's time base, and the sound of the whole range, as one export
// mixes it, encoded as the pictures go by.
class JoinWriter {
 public:
  ~JoinWriter() {
    if (fmt_) {
      if (fmt_->pb) avio_closep(&fmt_->pb);
      avformat_free_context(fmt_);
    }
    av_packet_free(&pkt_);
    av_packet_free(&soundPkt_);
  }

  OSErr open(VTMovie* movie, const Plan& p, const std::string& file, const AVStream* video) {
    const bool h264 = video->codecpar->codec_id == AV_CODEC_ID_H264;
    if (avformat_alloc_output_context2(&fmt_, nullptr, h264 ? "mp4" : "mov", file.c_str()) < 0)
      return memFullErr;
    pkt_ = av_packet_alloc();
    soundPkt_ = av_packet_alloc();
    vs_ = avformat_new_stream(fmt_, nullptr);
    if (!pkt_ || !soundPkt_ || !vs_ || avcodec_parameters_copy(vs_->codecpar, video->codecpar) < 0)
      return memFullErr;
    vs_->codecpar->codec_tag = 0;
    vs_->time_base = video->time_base;
    vs_->avg_frame_rate = AVRational{p.fpsNum, p.fpsDen};
    const bool global = fmt_->oformat->flags & AVFMT_GLOBALHEADER;
    sound_ = soundPlan(movie, p, h264 ? Format::h264 : Format::prores);
    if (sound_.present) {
      if (OSErr err = encoder_.open(sound_, h264, global)) return err;
      as_ = avformat_new_stream(fmt_, nullptr);
      if (!as_ || avcodec_parameters_from_context(as_->codecpar, encoder_.context()) < 0)
        return memFullErr;
      as_->time_base = encoder_.context()->time_base;
      mixer_ = std::make_unique<vt::audio::MovieSound>(movie, sound_.rate, sound_.channels);
    }
    volume_ = std::abs(movie->volume) / 256.0f;
    soundEnd_ = sound_.present ? sound_.endOf(p, p.frames) : 0;
    int r = avio_open(&fmt_->pb, file.c_str(), AVIO_FLAG_WRITE);
    if (r < 0 || (r = avformat_write_header(fmt_, nullptr)) < 0) return fromAv(r);
    return noErr;
  }

  // Copies one chunk's pictures, with the sound heard up to each.
  OSErr append(ChunkReader& reader, std::string& message) {
    AVPacket* pkt = pkt_;
    const AVRational tb = reader.stream()->time_base;
    int64_t start = AV_NOPTS_VALUE, end = offset_;
    while (reader.next(pkt)) {
      av_packet_rescale_ts(pkt, tb, vs_->time_base);
      if (pkt->pts == AV_NOPTS_VALUE) pkt->pts = pkt->dts;
      if (start == AV_NOPTS_VALUE)
        start = reader.stream()->start_time != AV_NOPTS_VALUE
                    ? av_rescale_q(reader.stream()->start_time, tb, vs_->time_base)
                    : pkt->pts;
      pkt->pts += offset_ - start;
      pkt->dts = (pkt->dts == AV_NOPTS_VALUE ? pkt->pts : pkt->dts + offset_ - start);
      // Reordered streams start their decode times early; they must still rise across a join.
      if (pkt->dts <= lastDts_) pkt->dts = lastDts_ + 1;
      if (pkt->dts > pkt->pts) {
        message = "the chunks' frames cannot be put in order";
        return paramErr;
      }
      lastDts_ = pkt->dts;
      end = std::max(end, pkt->pts + std::max<int64_t>(pkt->duration, 1));
      frames_++;
      pkt->stream_index = vs_->index;
      pkt->pos = -1;
      const int64_t heard = av_rescale_q(pkt->dts, vs_->time_base, AVRational{1, sound_.rate});
      if (OSErr err = soundUpTo(std::clamp<int64_t>(heard, 0, soundEnd_), false)) return err;
      if (int r = av_interleaved_write_frame(fmt_, pkt); r < 0) return fromAv(r);
    }
    offset_ = end;
    return noErr;
  }

  // Pictures copied so far.
  int64_t frames() const { return frames_; }

  // The rest of the sound and the file's end.
  OSErr finish() {
    if (OSErr err = soundUpTo(soundEnd_, true)) return err;
    int r;
    if ((r = av_write_trailer(fmt_)) < 0 || (r = avio_closep(&fmt_->pb)) < 0) return fromAv(r);
    return noErr;
  }

 private:
  // Mixes and encodes the sound up to `upTo` frames from the range's start.
  OSErr soundUpTo(int64_t upTo, bool last) {
    std::vector<float> samples;
    const SoundEncoder::Deliver deliver = [this](AVCodecContext* enc) {
      return writePackets(fmt_, enc, as_, soundPkt_);
    };
    while (mixer_ && (soundDone_ < upTo || last)) {
      const int n = (int)std::min<int64_t>(upTo - soundDone_, 4800);
      samples.assign((size_t)n * sound_.channels, 0.0f);
      if (n > 0) mixer_->render(sound_.start + soundDone_, n, samples.data());
      for (float& v : samples) v *= volume_;
      soundDone_ += n;
      const bool end = last && soundDone_ >= upTo;
      if (OSErr e = encoder_.add(samples.data(), (size_t)n, end, deliver)) return e;
      if (end) break;
    }
    return noErr;
  }

  AVFormatContext* fmt_ = nullptr;
  AVPacket* pkt_ = nullptr;
  AVPacket* soundPkt_ = nullptr;
  AVStream* vs_ = nullptr;
  AVStream* as_ = nullptr;
  SoundPlan sound_;
  SoundEncoder encoder_;
  std::unique_ptr<vt::audio::MovieSound> mixer_;
  float volume_ = 1;
  int64_t soundEnd_ = 0, soundDone_ = 0;
  int64_t offset_ = 0, lastDts_ = INT64_MIN, frames_ = 0;
};

}  // namespace

OSErr joinChunks(VTMovie* movie, const std::vector<std::string>& chunks, const std::string& path,
                 const Options& options, std::string& message) {
  codec::quietLibraries();
  Plan p;
  OSErr err = plan(movie, options.from, options.to, 0, 0, p, message);
  if (err) return err;
  const std::string name = path.substr(path.rfind('/') + 1);
  auto failed = [&](OSErr e) {
    if (message.empty()) message = describe(e);
    message = "“" + name + "” was not written: " + message + ".";
    return e;
  };
  if (chunks.empty()) return failed(paramErr);
  struct stat st;
  const bool folder = stat(chunks[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  TempOutput out;
  if ((err = out.create(path, folder))) return failed(err);
  if (folder) {
    if ((err = joinFolders(chunks, out.temp(), p.frames, message)) || (err = out.commit()))
      return failed(err);
    for (const auto& c : chunks) rmdir(c.c_str());  // emptied; one holding more stays
    return noErr;
  }
  std::vector<std::unique_ptr<ChunkReader>> readers;
  if ((err = openReaders(chunks, readers, message))) return failed(err);
  JoinWriter writer;
  if ((err = writer.open(movie, p, out.temp(), readers[0]->stream()))) return failed(err);
  Options tagOf = options;
  tagOf.chunks = (int)chunks.size();
  for (auto& reader : readers) {
    tagOf.chunk = (int)(&reader - readers.data()) + 1;
    int64_t first = 0, count = 0;
    chunkFrames(p.frames, tagOf.chunk, tagOf.chunks, first, count);
    if (reader->tag() != chunkTag(tagOf, p.firstFrame + first, count)) {
      message = chunks[(size_t)tagOf.chunk - 1] + " is not chunk " + std::to_string(tagOf.chunk) +
                " of " + std::to_string(tagOf.chunks) + " of this range";
      return failed(paramErr);
    }
    if ((err = writer.append(*reader, message))) return failed(err);
  }
  if (writer.frames() != p.frames) {
    message = "the chunks hold " + std::to_string(writer.frames()) + " frames; the range has " +
              std::to_string(p.frames);
    return failed(paramErr);
  }
  if ((err = writer.finish())) return failed(err);
  return (err = out.commit()) ? failed(err) : (OSErr)noErr;
}

}  // namespace vt::exporter

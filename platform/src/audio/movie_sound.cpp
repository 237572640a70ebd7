#include "audio/movie_sound.h"

#include <MacErrors.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "codec/audio_decoder.h"
#include "model/model.h"

namespace vt::audio {

namespace {

// Codecs whose frames overlap need this much of the stream before a new position.
constexpr double kPrerollSeconds = 0.08;

using vt::movie::scaleNearest;

}  // namespace

TrackSound::TrackSound(VTTrack* track, int rate, int channels)
    : track_(track), rate_(rate), channels_(channels) {}
TrackSound::~TrackSound() = default;

vt::codec::AudioDecoder* TrackSound::decoderFor(uint32_t description) {
  auto it = decoders_.find(description);
  if (it != decoders_.end()) return it->second.get();
  if (refused_.count(description)) return nullptr;
  const VTMedia* m = track_->media.get();
  vt::codec::AudioFormat f;
  if (description >= 1 && description <= m->descriptions.size()) {
    const auto& b = m->descriptions[description - 1].bytes;
    if (vt::codec::parseSoundEntry(b.data(), b.size(), f)) {
      if (f.sampleRate <= 0) f.sampleRate = m->timeScale;
      auto d = vt::codec::AudioDecoder::open(f, rate_, channels_, m->timeScale);
      if (d) return (decoders_[description] = std::move(d.value())).get();
    }
  }
  // A codec nobody decodes plays as silence; the picture goes on.
  refused_[description] = true;
  return nullptr;
}

int64_t TrackSound::avail() const {
  return silence_ + (int64_t)(pending_.size() / channels_ - readAt_);
}

void TrackSound::padTo(int64_t end) {
  int64_t have = streamPos_ + avail();
  if (end <= have) return;
  // A gap is counted, not stored: a damaged time table can ask for days of silence. Packets
  // are decoded only when everything before them has been played, so the gap comes first.
  if (avail() == silence_) {
    pending_.clear();
    readAt_ = 0;
    silence_ += end - have;
  } else {
    pending_.resize(pending_.size() + (size_t)(end - have) * channels_, 0.0f);
  }
}

void TrackSound::seek(int64_t m) {
  const VTMedia* md = track_->media.get();
  streaming_ = true;
  pending_.clear();
  readAt_ = 0;
  silence_ = 0;
  for (auto& d : decoders_) d.second->reset();
  long n = (long)md->sampleCount();
  int64_t t = scaleNearest(m, md->timeScale, rate_);
  long j = md->sampleAtDecodeTime(std::max<int64_t>(t, 0));
  if (j < 0) {
    // Before the first packet (the stream starts there) or after the last (silence).
    j = t < 0 || n == 0 ? 0 : n;
  } else {
    uint32_t fpp = 0, bpp = 0;
    vt::movie::SampleInfo info = md->sampleInfo((uint32_t)j);
    bool packed = info.descIndex >= 1 && info.descIndex <= md->descriptions.size() &&
                  md->descriptions[info.descIndex - 1].soundFramePacking(fpp, bpp);
    if (!packed && j > 0) {
      int64_t from = t - (int64_t)(kPrerollSeconds * md->timeScale);
      long k = md->sampleAtDecodeTime(std::max<int64_t>(from, 0));
      j = std::max(0L, std::min(k, j - 1));
    }
  }
  nextPacket_ = j;
  placed_ = j == 0;
  streamPos_ =
      j < n ? scaleNearest(md->sampleInfo((uint32_t)j).decodeTime, rate_, md->timeScale) : m;
}

bool TrackSound::decodeNext() {
  const VTMedia* md = track_->media.get();
  if (nextPacket_ >= (long)md->sampleCount()) return false;
  vt::movie::SampleInfo info = md->sampleInfo((uint32_t)nextPacket_++);
  int64_t end = scaleNearest(info.decodeTime + info.duration, rate_, md->timeScale);
  int64_t have = streamPos_ + avail();
  // Timing differences below this are rounding, not gaps.
  const int64_t slack = std::max(rate_ / 200, 1);
  vt::codec::AudioDecoder* dec = decoderFor(info.descIndex);
  if (dec && info.descIndex != lastDescription_ && lastDescription_ != 0) dec->reset();
  lastDescription_ = info.descIndex;
  decoded_.clear();
  int64_t first = vt::codec::AudioDecoder::kNoTime;
  bool ok = dec && md->loadSample(info.index, packet_) == noErr &&
            dec->decode(packet_.data(), packet_.size(), info.decodeTime, decoded_, &first) == noErr;
  if (!ok) {
    // A packet that cannot be read or decoded is silence for its length.
    padTo(end);
    return true;
  }
  if (decoded_.empty()) return true;
  int64_t at =
      first != vt::codec::AudioDecoder::kNoTime ? scaleNearest(first, rate_, md->timeScale) : have;
  size_t skip = 0;
  // After a start in the middle, the first frames go exactly where their time says; from the
  // media's start, and later on, frames follow one another unless their times are off by more
  // than rounding (decoders stamp differently what they hold back or leave out at the start).
  int64_t tolerance = placed_ ? slack : 0;
  placed_ = true;
  if (at > have + tolerance) {
    padTo(at);
  } else if (at < have - tolerance) {
    // Overlaps what is already there (a decoder's own delay, damaged times): the later wins.
    skip = std::min((size_t)(have - at) * channels_, decoded_.size());
  }
  pending_.insert(pending_.end(), decoded_.begin() + (long)skip, decoded_.end());
  return true;
}

void TrackSound::pull(int64_t m, int count, float* out, float gain) {
  // Far ahead of the stream, or behind it: start again there.
  if (!streaming_ || m < streamPos_ || m > streamPos_ + avail() + rate_ / 4) seek(m);
  while (streamPos_ < m) {
    if (avail() == 0 && !decodeNext()) return;
    int64_t quiet = std::min(silence_, m - streamPos_);
    silence_ -= quiet;
    streamPos_ += quiet;
    int64_t drop = std::min(avail(), m - streamPos_);
    readAt_ += (size_t)drop;
    streamPos_ += drop;
  }
  while (count > 0) {
    if (avail() == 0 && !decodeNext()) {
      // The media ended: the rest is silence, and the stream stays at its end.
      return;
    }
    if (silence_ > 0) {
      int n = (int)std::min<int64_t>(silence_, count);
      silence_ -= n;
      streamPos_ += n;
      out += (size_t)n * channels_;
      count -= n;
      continue;
    }
    int64_t n = std::min<int64_t>(avail(), count);
    const float* src = pending_.data() + readAt_ * channels_;
    size_t k = (size_t)n * channels_;
    for (size_t i = 0; i < k; ++i) out[i] += src[i] * gain;
    out += k;
    readAt_ += (size_t)n;
    streamPos_ += n;
    count -= (int)n;
  }
  // Drop what was played once it outweighs what is left.
  if (readAt_ > 4096 && readAt_ * channels_ * 2 > pending_.size()) {
    pending_.erase(pending_.begin(), pending_.begin() + (long)(readAt_ * channels_));
    readAt_ = 0;
  }
}

void TrackSound::mixInto(int64_t pos, int frames, float* out, float gain) {
  uint64_t g = track_->media ? track_->media->generation.value() : 0;
  if (g != seenGeneration_) {
    // The media changed (an edit, new samples): decoders and position start over.
    seenGeneration_ = g;
    decoders_.clear();
    refused_.clear();
    lastDescription_ = 0;
    streaming_ = false;
  }
  const VTMedia* md = track_->media.get();
  if (!md || !track_->movie) return;
  TimeScale ms = track_->movie->timeScale, ds = md->timeScale;
  if (pos != nextPos_) streaming_ = false;
  int64_t editStart = 0;
  size_t k = 0;
  while (frames > 0 && k < track_->edits.size()) {
    const vt::movie::Edit& e = track_->edits[k];
    int64_t b0 = scaleNearest(editStart, rate_, ms);
    int64_t b1 = scaleNearest(editStart + e.duration, rate_, ms);
    if (pos >= b1) {
      editStart += e.duration;
      ++k;
      continue;
    }
    int seg = (int)std::min<int64_t>(frames, b1 - pos);
    if (pos < b0) seg = (int)std::min<int64_t>(frames, b0 - pos);
    // Empty edits are silence; so are edits that play their media at another speed.
    else if (e.mediaTime >= 0 && e.rate == fixed1)
      pull(scaleNearest(e.mediaTime, rate_, ds) + (pos - b0), seg, out, gain);
    pos += seg;
    out += (size_t)seg * channels_;
    frames -= seg;
  }
  nextPos_ = pos + frames;
}

// ---- the movie ----------------------------------------------------------------------------------

MovieSound::MovieSound(Movie movie, int rate, int channels)
    : movie_(movie), rate_(rate), channels_(channels) {}
MovieSound::~MovieSound() = default;

int64_t MovieSound::durationFrames() const {
  if (!vt::movie::isLiveMovie(movie_)) return 0;
  return scaleNearest(movie_->duration(), rate_, movie_->timeScale);
}

void MovieSound::render(int64_t pos, int frames, float* out) {
  std::fill(out, out + (size_t)frames * channels_, 0.0f);
  if (!vt::movie::isLiveMovie(movie_)) {
    tracks_.clear();
    return;
  }
  std::set<VTTrack*> present;
  for (const auto& t : movie_->tracks) {
    if (!t->enabled() || !t->media || t->media->mediaType != SoundMediaType) continue;
    VTTrack* tr = t.get();
    present.insert(tr);
    auto& ts = tracks_[tr];
    if (!ts) ts = std::make_unique<TrackSound>(tr, rate_, channels_);
    float gain = t->volume > 0 ? t->volume / 256.0f : 0.0f;
    ts->mixInto(pos, frames, out, gain);
  }
  for (auto it = tracks_.begin(); it != tracks_.end();)
    it = present.count(it->first) ? std::next(it) : tracks_.erase(it);
}

}  // namespace vt::audio

#include "compose/tracks.h"

#include <MacErrors.h>
#include <Movies.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "atoms/atom_tree.h"
#include "codec/samples.h"
#include "codec/yuv.h"
#include "compose/stream.h"
#include "core/fourcc.h"
#include "effects/render_api.h"
#include "model/model.h"

namespace vt::compose {

namespace {

// Effect tracks may take other effect tracks as sources; deeper chains are refused, which
// also stops reference cycles.
constexpr int kMaxEffectDepth = 8;
// A picture bigger than this is not made (a damaged header must not allocate gigabytes).
constexpr int64_t kMaxPixels = 8192LL * 8192;
// An effect renders within this square whatever the movie's size: its picture and those of
// its sources stay at 64 MB each. A track's picture asked for on its own (a poster, a preview)
// stays within the smaller one.
constexpr int kEffectSide = 4096;
constexpr int kLoneEffectSide = 2048;

// Shrinks w x h (aspect kept, at least 1 x 1) to fit within limitW x limitH and the square.
void fitWithin(int& w, int& h, int limitW, int limitH) {
  if (limitW <= 0 || limitH <= 0) limitW = limitH = kLoneEffectSide;
  limitW = std::min(limitW, kEffectSide);
  limitH = std::min(limitH, kEffectSide);
  if (w <= limitW && h <= limitH) return;
  double k = std::min((double)limitW / w, (double)limitH / h);
  w = std::max(1, (int)std::lround(w * k));
  h = std::max(1, (int)std::lround(h * k));
}

// The media of a track as the decoder's sample source. It reaches the media through the track
// on every call, so it never holds on to a media that was replaced.
class MediaSource : public codec::SampleSource {
 public:
  explicit MediaSource(VTTrack* t) : track_(t) {}
  int64_t sampleCount() override {
    return track_->media ? (int64_t)track_->media->sampleCount() : 0;
  }
  bool sampleInfo(int64_t i, codec::SampleInfo& out) override {
    VTMedia* m = track_->media.get();
    if (!m || i < 0 || i >= (int64_t)m->sampleCount()) return false;
    vt::movie::SampleInfo s = m->sampleInfo((uint32_t)i);
    out.decodeTime = s.decodeTime;
    out.duration = s.duration;
    out.compositionOffset = s.compositionOffset;
    out.sync = s.sync;
    out.descriptionIndex = (int)s.descIndex;
    return true;
  }
  OSErr readSample(int64_t i, std::vector<uint8_t>& out) override {
    VTMedia* m = track_->media.get();
    if (!m || i < 0 || i >= (int64_t)m->sampleCount()) return invalidSampleNum;
    return m->loadSample((uint32_t)i, out);
  }
  OSErr format(int d, codec::VideoFormat& out) override {
    VTMedia* m = track_->media.get();
    if (!m || d < 1 || d > (int)m->descriptions.size()) return invalidSampleDescIndex;
    const auto& b = m->descriptions[(size_t)d - 1].bytes;
    return codec::parseSampleEntry(b.data(), b.size(), out) ? (OSErr)noErr
                                                            : (OSErr)badImageDescription;
  }

 private:
  VTTrack* track_;
};

// A track's decoding state, kept for as long as its media stays the same.
struct TrackState final : vt::movie::TrackDrawState {
  uint64_t generation = 0;
  std::unique_ptr<MediaSource> source;
  std::unique_ptr<SourceStream> stream;  // after `source`: it reads through it
  int streamsMade = 0;
  Image picture;               // the last picture handed out
  int64_t pictureSample = -1;  // the decoded sample it shows; -1 when none (or an effect's)
  codec::Frame raw;            // instead of `picture`: the decoded frame's own planes
  bool pictureRaw = false;
  YuvImage yuvPicture;      // an effect drawn on planes
  Image sourcePictures[2];  // an effect's sources that came as planes, converted
  // An effect track's sample last drawn, read once for all the frames it lasts: its
  // description, and the references its sources come through under the input map it was
  // resolved with (the map can change without the media's generation).
  int64_t effectSample = -1;
  vt::effects::PreparedEffect effect;
  std::vector<uint8_t> effectInputMap;
  int sourceRefs[2] = {0, 0};
};

TrackState& stateOf(VTTrack* t) {
  auto* s = dynamic_cast<TrackState*>(t->drawState.get());
  if (!s) {
    auto fresh = std::make_unique<TrackState>();
    s = fresh.get();
    t->drawState = std::move(fresh);
  }
  uint64_t g = t->media ? t->media->generation.value() : 0;
  if (s->generation != g) {
    s->stream.reset();
    s->source.reset();
    s->generation = g;
    s->pictureSample = -1;
    s->raw = codec::Frame();
    s->pictureRaw = false;
    s->effectSample = -1;
  }
  return *s;
}

SourceStream& streamOf(VTTrack* t, TrackState& s) {
  if (!s.stream) {
    s.source = std::make_unique<MediaSource>(t);
    s.stream = std::make_unique<SourceStream>(*s.source);
    s.streamsMade++;
  }
  return *s.stream;
}

VTTrack* trackByID(VTMovie* movie, uint32_t id) {
  if (!movie || id == 0) return nullptr;
  for (auto& t : movie->tracks)
    if (t->id == id) return t.get();
  return nullptr;
}

// The track referenced with 'ssrc' at 1-based `index`.
VTTrack* sourceTrack(VTTrack* t, int index) {
  for (const auto& r : t->references)
    if (r.type == 'ssrc' && index >= 1 && index <= (int)r.ids.size())
      return trackByID(t->movie, r.ids[(size_t)index - 1]);
  return nullptr;
}

// The input map as (reference index, source name) pairs. Accepts a container with its header
// or bare input atoms.
std::vector<std::pair<int, OSType>> inputNames(const std::vector<uint8_t>& map) {
  std::vector<std::pair<int, OSType>> out;
  if (map.empty()) return out;
  std::vector<uint8_t> bytes;
  vt::atoms::View v;
  if (v.parse(map.data(), map.size()) != noErr) {
    // Bare atoms: wrap them in a container so the checked parser walks them.
    vt::atoms::Atom root = vt::atoms::newRoot();
    size_t p = 0;
    while (p + 8 <= map.size()) {
      uint32_t sz = readBE32(&map[p]);
      if (sz < 8 || sz > map.size() - p) return out;
      root.children.push_back(vt::atoms::verbatimAtom({&map[p], sz}));
      p += sz;
    }
    if (p != map.size()) return out;
    bytes = vt::atoms::serialise(root);
    if (v.parse(bytes.data(), bytes.size()) != noErr) return out;
  }
  for (int in : v.children(0)) {
    const auto& n = v.node(in);
    if (n.type != 0x0000696E) continue;
    int name = v.findByIndex(in, 'dtst', 1);
    OSType nm = 0;
    if (name >= 0 && v.data(name).size() >= 4) nm = readBE32(v.data(name).data());
    out.push_back({n.id, nm});
  }
  return out;
}

// The effect description's source names in order ('src ' atoms by index).
std::vector<OSType> effectSourceNames(const std::vector<uint8_t>& sample) {
  std::vector<OSType> out;
  vt::atoms::View v;
  if (v.parse(sample.data(), sample.size()) != noErr) return out;
  int count = v.countOfType(0, 'src ');
  for (int i = 1; i <= count; i++) {
    int n = v.findByIndex(0, 'src ', i);
    if (n >= 0 && v.data(n).size() >= 4) out.push_back(readBE32(v.data(n).data()));
  }
  return out;
}

// The references (1-based, 0: none) that source A and B of an effect sample come through: the
// description's 'src ' names (A first) matched with the input map's names; without a map, the
// references in order.
void resolveSourceRefs(const VTTrack* t, const std::vector<uint8_t>& sample, int refs[2]) {
  std::vector<OSType> names = effectSourceNames(sample);
  auto inputs = inputNames(t->media->inputMap);
  for (int slot = 0; slot < 2; slot++) {
    OSType want = slot < (int)names.size() ? names[(size_t)slot] : (slot == 0 ? 'srcA' : 'srcB');
    int ref = 0;
    for (auto& [r, nm] : inputs)
      if (nm == want) ref = r;
    if (!ref && inputs.empty()) ref = slot + 1;
    refs[slot] = ref;
  }
}

void sourcesFromRefs(VTTrack* t, const int refs[2], VTTrack* out[2]) {
  for (int slot = 0; slot < 2; slot++) {
    VTTrack* st = refs[slot] ? sourceTrack(t, refs[slot]) : nullptr;
    out[slot] = st == t ? nullptr : st;
  }
}

void resolveSources(VTTrack* t, const std::vector<uint8_t>& sample, VTTrack* out[2]) {
  int refs[2];
  resolveSourceRefs(t, sample, refs);
  sourcesFromRefs(t, refs, out);
}

// Where a track is in its edit list at a movie time.
struct EditPosition {
  int64_t mediaTime = 0;
  Fixed rate = fixed1;
  int64_t editStart = 0, editEnd = 0;
  vt::movie::Edit edit;
};

bool locate(const VTTrack& t, int64_t time, EditPosition& at) {
  if (!vt::movie::trackTimeToMediaTime(t, time, at.mediaTime, at.rate, &at.editStart, &at.editEnd))
    return false;
  int64_t start = 0;
  for (const vt::movie::Edit& e : t.edits) {
    if (start == at.editStart && e.duration > 0) {
      at.edit = e;
      break;
    }
    start += e.duration;
  }
  return true;
}

// The movie-time interval that media interval [from, to) (which holds the position) covers,
// by the same rule that maps movie times to media times, so a cached picture is reused exactly
// where that picture is the one shown.
Span movieSpan(const VTTrack& t, int64_t time, const EditPosition& at, int64_t from, int64_t to) {
  Span s{at.editStart, at.editEnd};
  TimeScale ms = t.movie ? t.movie->timeScale : 600, ds = t.media->timeScale;
  if (at.rate <= 0 || ms <= 0 || ds <= 0) return Span{time, time + 1};
  int64_t a = vt::movie::editOffsetOf(at.edit, from, ms, ds);
  int64_t b = vt::movie::editOffsetOf(at.edit, to, ms, ds);
  if (a != INT64_MAX) s.intersect(Span{at.editStart + a, s.end});
  if (b != INT64_MAX) s.intersect(Span{s.start, at.editStart + b});
  if (s.start > time) s.start = time;
  if (s.end <= time) s.end = time + 1;
  return s;
}

OSErr pictureAt(VTTrack* t, const PictureRequest& rq, TrackPicture& out, int depth);

thread_local std::string tMissingFile;

// Notes the file sample `k`'s data should come from after it could not be read.
OSErr noteMissing(const VTTrack* t, int64_t k, OSErr err) {
  if (!isMissingData(err) || !t->media) return err;
  const VTMedia& m = *t->media;
  tMissingFile = "the movie's own data";
  if (k < 0 || k >= (int64_t)m.sampleCount()) return err;
  uint32_t d = m.samples.descIndex((uint32_t)k);
  if (d == 0 || d > m.descriptions.size()) return err;
  uint16_t r = m.descriptions[d - 1].dataRefIndex();
  if (r == 0 || r > m.dataRefs.size()) return err;
  tMissingFile = vt::movie::dataRefFile(m.dataRefs[r - 1]);
  return err;
}

OSErr effectPicture(VTTrack* t, long sample, const EditPosition& at, const PictureRequest& rq,
                    TrackPicture& out, int depth) {
  VTMedia* m = t->media.get();
  vt::movie::SampleInfo s = m->sampleInfo((uint32_t)sample);
  int w = trackWidth(t), h = trackHeight(t);
  if (w <= 0 || h <= 0) {  // an effect track without dimensions takes its description's
    const auto& d = m->descriptions[s.descIndex - 1];
    w = d.width();
    h = d.height();
  }
  if (w <= 0 || h <= 0 || (int64_t)w * h > kMaxPixels) return invalidTrack;
  // Each effect track keeps its picture: rendered at a size the movie cannot show, a few of
  // them would hold gigabytes for a small frame.
  fitWithin(w, h, rq.limitWidth, rq.limitHeight);
  TrackState& state = stateOf(t);
  if (state.effectSample != sample || state.effectInputMap != m->inputMap) {
    state.effectSample = -1;
    std::vector<uint8_t> bytes;
    if (OSErr err = m->loadSample((uint32_t)sample, bytes)) return noteMissing(t, sample, err);
    resolveSourceRefs(t, bytes, state.sourceRefs);
    state.effect.prepare(std::move(bytes));
    state.effectInputMap = m->inputMap;
    state.effectSample = sample;
  }
  state.pictureSample = -1;
  state.pictureRaw = false;
  out.span = movieSpan(*t, rq.time, at, s.decodeTime, s.decodeTime + s.duration);

  VTTrack* sources[2];
  sourcesFromRefs(t, state.sourceRefs, sources);
  // Sources are drawn at the effect's size, so the renderer never scales them; as planes when
  // the effect can be drawn on them.
  const bool yuv = rq.yuv && state.effect.takesYuv();
  PictureRequest sub{rq.time, w, h, rq.ahead, nullptr, w, h, yuv};
  TrackPicture pics[2];
  bool anySource = false;
  for (int slot = 0; slot < 2; slot++) {
    OSErr err = sources[slot] ? pictureAt(sources[slot], sub, pics[slot], depth + 1) : (OSErr)noErr;
    // A source whose data is gone fails the effect: rendered without it, it would be black.
    if (isMissingData(err) || err == memFullErr) return err;
    if (!sources[slot] || err != noErr) {
      pics[slot] = TrackPicture();
      continue;
    }
    anySource = true;
    out.span.intersect(pics[slot].span);
    out.translucent |= pics[slot].translucent;
  }
  // Without moving sources the effect changes continuously.
  if (!anySource) out.span = Span{rq.time, rq.time + 1};
  int64_t into = std::clamp<int64_t>(at.mediaTime - s.decodeTime, 0, s.duration);
  if (yuv && !pics[0].yuv.empty() && !pics[1].yuv.empty() && !out.translucent) {
    YuvImage* planes = rq.intoYuv ? rq.intoYuv : &state.yuvPicture;
    planes->resize(w, h);
    if (state.effect.renderYuv(into, s.duration, pics[0].yuv, pics[1].yuv, *planes)) {
      out.yuv = planes->view();
      return noErr;
    }
  }
  // Pictures for the renderer: a source that came as planes is converted.
  for (int slot = 0; slot < 2; slot++) {
    if (pics[slot].yuv.empty()) continue;
    thread_local codec::YuvConverter converter;
    if (OSErr err = converter.toImage(pics[slot].yuv, state.sourcePictures[slot])) return err;
    pics[slot].image = &state.sourcePictures[slot];
  }
  Image* target = rq.into && rq.into->width == w && rq.into->height == h ? rq.into : &state.picture;
  target->resize(w, h);
  vt::effects::EffectInputs in;
  in.sourceA = pics[0].image;
  in.sourceB = pics[1].image;
  // A description the renderer cannot read still draws (source A, or black).
  state.effect.render(into, s.duration, in, *target);
  out.image = target;
  return noErr;
}

OSErr pictureAt(VTTrack* t, const PictureRequest& rq, TrackPicture& out, int depth) {
  out = TrackPicture();
  if (depth > kMaxEffectDepth) return invalidTrack;
  if (!t || !t->media || !hasVideoMedia(t)) return invalidTrack;
  EditPosition at;
  if (!locate(*t, rq.time, at)) return invalidTime;
  VTMedia* m = t->media.get();
  long sample = m->sampleShownAt(at.mediaTime);
  if (sample < 0) return invalidTime;
  vt::movie::SampleInfo si = m->sampleInfo((uint32_t)sample);
  if (si.descIndex < 1 || si.descIndex > m->descriptions.size()) return invalidSampleDescIndex;
  if (vt::effects::isEffectType(m->descriptions[si.descIndex - 1].format()))
    return effectPicture(t, sample, at, rq, out, depth);

  int w = rq.width, h = rq.height;
  if (w <= 0 || h <= 0) {
    w = std::max(trackWidth(t), 0);
    h = std::max(trackHeight(t), 0);
    if (w == 0 || h == 0) w = h = 0;  // no dimensions: as decoded
  }
  if ((int64_t)w * h > kMaxPixels) return invalidTrack;
  TrackState& state = stateOf(t);
  SourceStream& stream = streamOf(t, state);
  int64_t k = stream.sampleAtMediaTime(at.mediaTime);
  if (k < 0) return stream.indexError() == memFullErr ? (OSErr)memFullErr : (OSErr)invalidTime;
  YuvView planes;
  bool have =
      state.pictureSample == k &&
      (state.pictureRaw ? codec::yuvViewOf(state.raw, w, h, planes)
                        : w == 0 || (state.picture.width == w && state.picture.height == h));
  if (have && state.pictureRaw && !rq.yuv) {
    // Kept as planes, now wanted as a picture.
    thread_local codec::FrameConverter converter;
    if (OSErr err = converter.convert(state.raw, state.picture, w, h)) return err;
    state.raw = codec::Frame();
    state.pictureRaw = false;
  }
  if (!have) {
    state.pictureSample = -1;
    OSErr err = stream.picture(k, state.picture, w, h, rq.ahead, rq.yuv ? &state.raw : nullptr);
    if (err != noErr) return noteMissing(t, k, err);
    state.pictureRaw = rq.yuv && codec::yuvViewOf(state.raw, w, h, planes);
    state.pictureSample = k;
  }
  int64_t from = 0, to = 0;
  stream.sampleSpan(k, from, to);
  out.span = movieSpan(*t, rq.time, at, from, to);
  out.translucent = !state.pictureRaw && stream.translucent();
  if (state.pictureRaw)
    out.yuv = planes;
  else
    out.image = &state.picture;
  return noErr;
}

}  // namespace

OSErr pictureOf(VTTrack* track, const PictureRequest& request, TrackPicture& out) {
  return pictureAt(track, request, out, 0);
}

bool isMissingData(OSErr err) {
  return err == endOfDataReached || err == couldNotResolveDataRef || err == ioErr;
}

const std::string& missingDataFile() { return tMissingFile; }

int trackWidth(const VTTrack* t) { return (int)std::lround(t->width / 65536.0); }
int trackHeight(const VTTrack* t) { return (int)std::lround(t->height / 65536.0); }

bool hasVideoMedia(const VTTrack* t) {
  return t->media && (t->media->mediaType == VideoMediaType || t->media->mediaType == 'mpeg');
}

bool isEffectTrack(VTTrack* t) {
  if (!t || !t->media || !hasVideoMedia(t)) return false;
  for (const auto& d : t->media->descriptions)
    if (vt::effects::isEffectType(d.format())) return true;
  return false;
}

bool isEffectSource(VTMovie* movie, const VTTrack* t) {
  for (auto& e : movie->tracks) {
    if (!e->enabled()) continue;
    for (const auto& r : e->references)
      if (r.type == 'ssrc' && std::find(r.ids.begin(), r.ids.end(), t->id) != r.ids.end())
        return t->id != 0;
  }
  return false;
}

int effectSources(VTTrack* t, VTTrack* out[2]) {
  out[0] = out[1] = nullptr;
  if (!isEffectTrack(t) || t->media->sampleCount() == 0) return 0;
  std::vector<uint8_t> bytes;
  if (t->media->loadSample(0, bytes) != noErr) return 0;
  resolveSources(t, bytes, out);
  return (out[0] != nullptr) + (out[1] != nullptr);
}

int streamsMadeFor(VTTrack* track) {
  auto* s = track ? dynamic_cast<TrackState*>(track->drawState.get()) : nullptr;
  return s ? s->streamsMade : 0;
}

}  // namespace vt::compose

#include "codec/pictures.h"

#include <MacErrors.h>
#include <MacMemory.h>
#include <Movies.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>

#include "atoms/atom_tree.h"
#include "codec/track_decoder.h"
#include "core/fourcc.h"
#include "core/picture.h"
#include "effects/render_api.h"
#include "model/model.h"

namespace vt::codec {

namespace {

// Effect tracks may take other effect tracks as sources; deeper chains are refused, which
// also stops reference cycles.
constexpr int kMaxEffectDepth = 8;
// A track bigger than this is not drawn (a damaged header must not allocate gigabytes).
constexpr int64_t kMaxPixels = 8192LL * 8192;

// The media of a track as the decoder's sample source. It reaches the media through the track
// on every call, so it never holds on to a media that was replaced.
class MediaSource : public SampleSource {
 public:
  explicit MediaSource(VTTrack* t) : track_(t) {}
  int64_t sampleCount() override { return track_->media ? (int64_t)track_->media->sampleCount() : 0; }
  bool sampleInfo(int64_t i, SampleInfo& out) override {
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
  OSErr format(int d, VideoFormat& out) override {
    VTMedia* m = track_->media.get();
    if (!m || d < 1 || d > (int)m->descriptions.size()) return invalidSampleDescIndex;
    const auto& b = m->descriptions[(size_t)d - 1].bytes;
    return parseSampleEntry(b.data(), b.size(), out) ? (OSErr)noErr : (OSErr)badImageDescription;
  }

 private:
  VTTrack* track_;
};

// What a cached decoder was made for. Tracks are found by address, and a disposed track's
// address can come back for a new one: the data sources (held weakly), descriptions and the
// shape of the sample table must also match before a decoder is reused.
struct MediaFingerprint {
  const VTMedia* media = nullptr;
  std::vector<std::weak_ptr<vt::movie::DataSource>> sources;
  std::vector<std::vector<uint8_t>> descriptions;
  size_t samples = 0;
  uint64_t firstOffset = 0, lastOffset = 0;
  int64_t duration = 0;

  static MediaFingerprint of(const VTMedia* m) {
    MediaFingerprint f;
    f.media = m;
    for (const auto& r : m->dataRefs) f.sources.push_back(r.source);
    for (const auto& d : m->descriptions) f.descriptions.push_back(d.bytes);
    f.samples = m->sampleCount();
    if (f.samples) {
      f.firstOffset = m->samples.offset(0);
      f.lastOffset = m->samples.offset((uint32_t)f.samples - 1);
    }
    f.duration = m->duration();
    return f;
  }
  bool matches(const VTMedia* m) const {
    if (m != media || m->sampleCount() != samples || m->dataRefs.size() != sources.size() ||
        m->descriptions.size() != descriptions.size() || m->duration() != duration)
      return false;
    if (samples && (m->samples.offset(0) != firstOffset ||
                    m->samples.offset((uint32_t)samples - 1) != lastOffset))
      return false;
    for (size_t i = 0; i < sources.size(); i++) {
      auto live = sources[i].lock();
      if (live != m->dataRefs[i].source || (!live && !sources[i].expired())) return false;
      if (!live && m->dataRefs[i].source) return false;
    }
    for (size_t i = 0; i < descriptions.size(); i++)
      if (descriptions[i] != m->descriptions[i].bytes) return false;
    return true;
  }
};

struct CachedDecoder {
  MediaFingerprint fingerprint;
  std::unique_ptr<MediaSource> source;
  std::unique_ptr<TrackDecoder> decoder;
  int made = 0;  // decoders made for this track (each one starts again from a key frame)
};

std::map<VTTrack*, CachedDecoder>& cache() {
  static std::map<VTTrack*, CachedDecoder> c;
  return c;
}

TrackDecoder& decoderFor(VTTrack* t) {
  auto& c = cache();
  // Drop decoders of tracks that are gone.
  for (auto it = c.begin(); it != c.end();)
    it = vt::movie::isLiveTrack(it->first) ? std::next(it) : c.erase(it);
  CachedDecoder& d = c[t];
  VTMedia* m = t->media.get();
  // The fingerprint notices new samples and changed descriptions or data sources. (The media's
  // samplesChanged flag is no guide: it stays set on every media built in memory.)
  if (!d.decoder || !d.fingerprint.matches(m)) {
    d.fingerprint = MediaFingerprint::of(m);
    d.source = std::make_unique<MediaSource>(t);
    d.decoder = std::make_unique<TrackDecoder>(*d.source);
    d.made++;
  }
  return *d.decoder;
}

int trackWidth(const VTTrack* t) { return (int)std::lround(t->width / 65536.0); }
int trackHeight(const VTTrack* t) { return (int)std::lround(t->height / 65536.0); }

bool isVisual(const VTTrack* t) {
  return t->media && (t->media->mediaType == VideoMediaType || t->media->mediaType == 'mpeg');
}

OSType sampleFormat(const VTMedia* m, long sample) {
  vt::movie::SampleInfo s = m->sampleInfo((uint32_t)sample);
  if (s.descIndex < 1 || s.descIndex > m->descriptions.size()) return 0;
  return m->descriptions[s.descIndex - 1].format();
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
  std::vector<uint8_t> bytes = map;
  vt::atoms::View v;
  if (v.parse(bytes.data(), bytes.size()) != noErr) {
    // Bare atoms: wrap them in a container so the checked parser walks them.
    std::vector<uint8_t> wrapped(vt::atoms::kContainerHeaderSize + vt::atoms::kAtomHeaderSize, 0);
    writeBE32(&wrapped[12], (uint32_t)(vt::atoms::kAtomHeaderSize + map.size()));
    writeBE32(&wrapped[16], vt::atoms::kRootType);
    writeBE32(&wrapped[20], 1);
    uint16_t count = 0;
    for (size_t p = 0; p + 8 <= map.size();) {
      uint32_t sz = readBE32(&map[p]);
      if (sz < 8 || sz > map.size() - p) break;
      count++;
      p += sz;
    }
    writeBE16(&wrapped[26], count);
    wrapped.insert(wrapped.end(), map.begin(), map.end());
    bytes.swap(wrapped);
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

OSErr trackImageAt(VTTrack* t, int64_t time, Image& out, int depth);

// Renders effect sample `sample` of track t at movie time `time` (media time `mediaTime`).
OSErr effectImage(VTTrack* t, long sample, int64_t time, int64_t mediaTime, Image& out,
                  int depth) {
  VTMedia* m = t->media.get();
  std::vector<uint8_t> bytes;
  if (OSErr err = m->loadSample((uint32_t)sample, bytes)) return err;
  vt::movie::SampleInfo s = m->sampleInfo((uint32_t)sample);

  // Which input is source A and which B: the description's 'src ' names (A first) matched
  // with the input map's names; without a map, the references in order.
  std::vector<OSType> names = effectSourceNames(bytes);
  auto inputs = inputNames(m->inputMap);
  int refFor[2] = {0, 0};
  for (int slot = 0; slot < 2; slot++) {
    OSType want = slot < (int)names.size() ? names[(size_t)slot] : (slot == 0 ? 'srcA' : 'srcB');
    for (auto& [ref, nm] : inputs)
      if (nm == want) refFor[slot] = ref;
    if (!refFor[slot] && inputs.empty()) refFor[slot] = slot + 1;
  }
  Image src[2];
  bool have[2] = {false, false};
  for (int slot = 0; slot < 2; slot++) {
    VTTrack* st = refFor[slot] ? sourceTrack(t, refFor[slot]) : nullptr;
    if (!st || st == t) continue;
    have[slot] = trackImageAt(st, time, src[slot], depth + 1) == noErr;
  }
  vt::effects::EffectInputs in;
  in.sourceA = have[0] ? &src[0] : nullptr;
  in.sourceB = have[1] ? &src[1] : nullptr;
  int64_t into = std::clamp<int64_t>(mediaTime - s.decodeTime, 0, s.duration);
  // A description the renderer cannot read still draws (source A, or black).
  vt::effects::renderEffectSample(bytes.data(), bytes.size(), into, s.duration, in, out);
  return noErr;
}

OSErr trackImageAt(VTTrack* t, int64_t time, Image& out, int depth) {
  if (depth > kMaxEffectDepth) return invalidTrack;
  if (!t || !t->media || !isVisual(t)) return invalidTrack;
  int64_t mediaTime;
  Fixed rate;
  if (!vt::movie::trackTimeToMediaTime(*t, time, mediaTime, rate)) return invalidTime;
  VTMedia* m = t->media.get();
  long sample = m->sampleAtTime(mediaTime);
  if (sample < 0) sample = m->sampleAtDecodeTime(mediaTime);
  if (sample < 0) return invalidTime;
  int w = trackWidth(t), h = trackHeight(t);
  OSType fmt = sampleFormat(m, sample);
  if (vt::effects::isEffectType(fmt)) {
    if (w <= 0 || h <= 0) {  // an effect track without dimensions takes its description's
      const auto& d = m->descriptions[m->sampleInfo((uint32_t)sample).descIndex - 1];
      w = d.width();
      h = d.height();
    }
    if (w <= 0 || h <= 0 || (int64_t)w * h > kMaxPixels) return invalidTrack;
    out = Image(w, h);
    return effectImage(t, sample, time, mediaTime, out, depth);
  }
  // Decoded straight into the caller's image, whose buffer is reused from call to call.
  OSErr err = decoderFor(t).imageAtMediaTime(mediaTime, out);
  if (err != noErr) return err;
  if (w <= 0 || h <= 0 || (w == out.width && h == out.height)) return noErr;
  if ((int64_t)w * h > kMaxPixels) return invalidTrack;
  Image scaled(w, h);
  scaleImage(out, scaled);
  out = std::move(scaled);
  return noErr;
}

// Tracks that feed an enabled effect track do not draw themselves.
std::set<uint32_t> effectSourceIDs(VTMovie* movie) {
  std::set<uint32_t> ids;
  for (auto& t : movie->tracks) {
    if (!t->enabled()) continue;
    for (const auto& r : t->references)
      if (r.type == 'ssrc')
        for (uint32_t id : r.ids)
          if (id) ids.insert(id);
  }
  return ids;
}

struct Affine {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;  // x' = a x + c y + tx, y' = b x + d y + ty
};

Affine fromFixed(const Fixed m[9]) {
  Affine r;
  r.a = m[0] / 65536.0;
  r.b = m[1] / 65536.0;
  r.c = m[3] / 65536.0;
  r.d = m[4] / 65536.0;
  r.tx = m[6] / 65536.0;
  r.ty = m[7] / 65536.0;
  return r;
}

// First p, then q.
Affine then(const Affine& p, const Affine& q) {
  Affine r;
  r.a = q.a * p.a + q.c * p.b;
  r.b = q.b * p.a + q.d * p.b;
  r.c = q.a * p.c + q.c * p.d;
  r.d = q.b * p.c + q.d * p.d;
  r.tx = q.a * p.tx + q.c * p.ty + q.tx;
  r.ty = q.b * p.tx + q.d * p.ty + q.ty;
  return r;
}

// s drawn over under by its alpha.
inline Pixel over(Pixel s, Pixel under) {
  uint32_t alpha = s >> 24;
  if (alpha == 255) return s;
  if (alpha == 0) return under;
  Pixel r = 0xFF000000u;
  for (int sh = 0; sh < 24; sh += 8)
    r |= ((((s >> sh) & 0xFF) * alpha + ((under >> sh) & 0xFF) * (255 - alpha)) / 255) << sh;
  return r;
}

// Copies img into dst with its top-left at (x, y), translucent pixels over what is below.
void blit(const Image& img, int x, int y, Image& dst) {
  int x0 = std::max(0, x), y0 = std::max(0, y);
  int x1 = std::min(dst.width, x + img.width), y1 = std::min(dst.height, y + img.height);
  for (int yy = y0; yy < y1; yy++) {
    const Pixel* from = img.row(yy - y) + (x0 - x);
    Pixel* to = dst.row(yy) + x0;
    for (int i = 0; i < x1 - x0; i++) to[i] = over(from[i], to[i]);
  }
}

bool integral(double v, int& out) {
  double r = std::round(v);
  if (std::fabs(v - r) > 1e-6 || std::fabs(r) > 1e6) return false;
  out = (int)r;
  return true;
}

// Draws img through m into dst (pixel centres mapped back into the image, bilinear).
void drawTransformed(const Image& img, const Affine& m, Image& dst) {
  // The usual cases, a track placed at whole pixels with or without scaling, are plain copies.
  int x0i, y0i, x1i, y1i;
  if (m.b == 0 && m.c == 0 && m.a > 0 && m.d > 0 && integral(m.tx, x0i) && integral(m.ty, y0i) &&
      integral(m.tx + m.a * img.width, x1i) && integral(m.ty + m.d * img.height, y1i) &&
      x1i > x0i && y1i > y0i) {
    if (x1i - x0i == img.width && y1i - y0i == img.height) {
      blit(img, x0i, y0i, dst);
    } else if ((int64_t)(x1i - x0i) * (y1i - y0i) <= kMaxPixels) {
      Image scaled(x1i - x0i, y1i - y0i);
      scaleImage(img, scaled);
      blit(scaled, x0i, y0i, dst);
    }
    return;
  }
  double det = m.a * m.d - m.b * m.c;
  if (img.empty() || std::fabs(det) < 1e-9) return;
  // Inverse mapping.
  double ia = m.d / det, ib = -m.b / det, ic = -m.c / det, id = m.a / det;
  double itx = -(ia * m.tx + ic * m.ty), ity = -(ib * m.tx + id * m.ty);
  // Bounding box of the image in dst.
  double xs[4], ys[4];
  int k = 0;
  for (double x : {0.0, (double)img.width})
    for (double y : {0.0, (double)img.height}) {
      xs[k] = m.a * x + m.c * y + m.tx;
      ys[k] = m.b * x + m.d * y + m.ty;
      k++;
    }
  int x0 = std::max(0, (int)std::floor(*std::min_element(xs, xs + 4)));
  int x1 = std::min(dst.width, (int)std::ceil(*std::max_element(xs, xs + 4)));
  int y0 = std::max(0, (int)std::floor(*std::min_element(ys, ys + 4)));
  int y1 = std::min(dst.height, (int)std::ceil(*std::max_element(ys, ys + 4)));
  for (int y = y0; y < y1; y++) {
    Pixel* row = dst.row(y);
    for (int x = x0; x < x1; x++) {
      double px = x + 0.5, py = y + 0.5;
      double sx = ia * px + ic * py + itx, sy = ib * px + id * py + ity;
      if (sx < 0 || sy < 0 || sx >= img.width || sy >= img.height) continue;
      // Bilinear between the four nearest source pixel centres.
      double fx = sx - 0.5, fy = sy - 0.5;
      int ix = (int)std::floor(fx), iy = (int)std::floor(fy);
      double wx = fx - ix, wy = fy - iy;
      int ax = std::clamp(ix, 0, img.width - 1), bx = std::clamp(ix + 1, 0, img.width - 1);
      int ay = std::clamp(iy, 0, img.height - 1), by = std::clamp(iy + 1, 0, img.height - 1);
      Pixel p00 = img.at(ax, ay), p10 = img.at(bx, ay), p01 = img.at(ax, by), p11 = img.at(bx, by);
      auto mix = [&](int sh) {
        double v = ((p00 >> sh) & 0xFF) * (1 - wx) * (1 - wy) + ((p10 >> sh) & 0xFF) * wx * (1 - wy) +
                   ((p01 >> sh) & 0xFF) * (1 - wx) * wy + ((p11 >> sh) & 0xFF) * wx * wy;
        return (Pixel)std::clamp((int)std::lround(v), 0, 255) << sh;
      };
      row[x] = over(mix(0) | mix(8) | mix(16) | mix(24), row[x]);
    }
  }
}

}  // namespace

OSErr trackImage(VTTrack* track, int64_t time, Image& out) { return trackImageAt(track, time, out, 0); }

OSErr movieImage(VTMovie* movie, int64_t time, Image& out) {
  if (!movie) return invalidMovie;
  Rect box;
  GetMovieBox(movie, &box);
  int w = box.right - box.left, h = box.bottom - box.top;
  if (w <= 0 || h <= 0) return invalidRect;
  if ((int64_t)w * h > kMaxPixels) return invalidRect;
  out = Image(w, h, makePixel(0, 0, 0));
  std::set<uint32_t> sources = effectSourceIDs(movie);
  std::vector<VTTrack*> order;
  for (auto& t : movie->tracks)
    if (t->enabled() && isVisual(t.get()) && !sources.count(t->id)) order.push_back(t.get());
  // Higher layers first, so that lower layers end up on top.
  std::stable_sort(order.begin(), order.end(),
                   [](const VTTrack* a, const VTTrack* b) { return a->layer > b->layer; });
  Affine toBox = fromFixed(movie->matrix);
  toBox.tx -= box.left;
  toBox.ty -= box.top;
  for (VTTrack* t : order) {
    Image img;
    OSErr err = trackImage(t, time, img);
    // A frame whose data cannot be read is missing: that is an error, not a black picture.
    if (err == endOfDataReached || err == couldNotResolveDataRef || err == ioErr) return err;
    if (err != noErr) continue;  // nothing shown by this track now
    drawTransformed(img, then(fromFixed(t->matrix), toBox), out);
  }
  return noErr;
}

void forgetTrackDecoders() { cache().clear(); }

int decodersMadeFor(VTTrack* track) {
  auto it = cache().find(track);
  return it == cache().end() ? 0 : it->second.made;
}

}  // namespace vt::codec

PicHandle GetTrackPict(Track theTrack, TimeValue time) {
  if (!vt::movie::isLiveTrack(theTrack)) {
    vt::movie::setError(invalidTrack);
    return nullptr;
  }
  vt::Image img;
  OSErr err = vt::codec::trackImage(theTrack, time, img);
  vt::movie::setError(err);
  if (err != noErr) return nullptr;
  PicHandle pic = vt::makePicture(img);
  if (!pic) vt::movie::setError(memFullErr);
  return pic;
}

PicHandle GetMoviePict(Movie theMovie, TimeValue time) {
  if (!vt::movie::isLiveMovie(theMovie)) {
    vt::movie::setError(invalidMovie);
    return nullptr;
  }
  vt::Image img;
  OSErr err = vt::codec::movieImage(theMovie, time, img);
  vt::movie::setError(err);
  if (err != noErr) return nullptr;
  PicHandle pic = vt::makePicture(img);
  if (!pic) {
    vt::movie::setError(memFullErr);
    return nullptr;
  }
  // The picture's frame is the movie box.
  Rect box;
  GetMovieBox(theMovie, &box);
  (**pic).picFrame = box;
  return pic;
}

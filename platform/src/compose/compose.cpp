#include "compose/compose.h"

#include <MacErrors.h>
#include <MacMemory.h>
#include <Movies.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "codec/yuv.h"
#include "core/boundary.h"
#include "core/picture.h"
#include "effects/parallel.h"
#include "model/model.h"

namespace vt::compose {

namespace {

constexpr int64_t kMaxPixels = 8192LL * 8192;

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

// Copies img into dst with its top-left at (x, y); translucent pixels go over what is below.
void blit(const Image& img, int x, int y, bool translucent, Image& dst) {
  int x0 = std::max(0, x), y0 = std::max(0, y);
  int x1 = std::min(dst.width, x + img.width), y1 = std::min(dst.height, y + img.height);
  if (x1 <= x0) return;
  for (int yy = y0; yy < y1; yy++) {
    const Pixel* from = img.row(yy - y) + (x0 - x);
    Pixel* to = dst.row(yy) + x0;
    if (!translucent) {
      std::memcpy(to, from, (size_t)(x1 - x0) * sizeof(Pixel));
      continue;
    }
    for (int i = 0; i < x1 - x0; i++) to[i] = over(from[i], to[i]);
  }
}

// Where an axis-aligned, upright placement puts the image: [x0, x1) x [y0, y1) in whole pixels.
bool placement(const Affine& m, int w, int h, int& x0, int& y0, int& x1, int& y1) {
  if (m.b != 0 || m.c != 0 || m.a <= 0 || m.d <= 0 || w <= 0 || h <= 0) return false;
  double fx0 = m.tx, fy0 = m.ty, fx1 = m.tx + m.a * w, fy1 = m.ty + m.d * h;
  if (std::fabs(fx0) > 1e6 || std::fabs(fy0) > 1e6 || std::fabs(fx1) > 1e6 || std::fabs(fy1) > 1e6)
    return false;
  x0 = (int)std::lround(fx0);
  y0 = (int)std::lround(fy0);
  x1 = (int)std::lround(fx1);
  y1 = (int)std::lround(fy1);
  return x1 > x0 && y1 > y0 && (int64_t)(x1 - x0) * (y1 - y0) <= kMaxPixels;
}

// Draws img through m into dst (pixel centres mapped back into the image, bilinear).
void drawTransformed(const Image& img, const Affine& m, Image& dst) {
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
        double v = ((p00 >> sh) & 0xFF) * (1 - wx) * (1 - wy) +
                   ((p10 >> sh) & 0xFF) * wx * (1 - wy) + ((p01 >> sh) & 0xFF) * (1 - wx) * wy +
                   ((p11 >> sh) & 0xFF) * wx * wy;
        return (Pixel)std::clamp((int)std::lround(v), 0, 255) << sh;
      };
      row[x] = over(mix(0) | mix(8) | mix(16) | mix(24), row[x]);
    }
  }
}

// The tracks drawn, back to front: enabled visual tracks that are not only effect sources,
// higher layers first so that lower layers end up on top.
std::vector<VTTrack*> drawOrder(VTMovie* movie) {
  std::vector<VTTrack*> order;
  for (auto& t : movie->tracks)
    if (t->enabled() && hasVideoMedia(t.get()) && !isEffectSource(movie, t.get()))
      order.push_back(t.get());
  std::stable_sort(order.begin(), order.end(),
                   [](const VTTrack* a, const VTTrack* b) { return a->layer > b->layer; });
  return order;
}

// Red and dark grey stripes over [x0, x1) x [y0, y1): where a missing picture would be.
void hatch(Image& img, int x0, int y0, int x1, int y1) {
  x0 = std::clamp(x0, 0, img.width), x1 = std::clamp(x1, 0, img.width);
  y0 = std::clamp(y0, 0, img.height), y1 = std::clamp(y1, 0, img.height);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      img.pixels[(size_t)y * img.width + x] =
          ((x + y) / 8) % 2 ? makePixel(200, 30, 30) : makePixel(40, 40, 40);
}

void fillBlack(Image& img) { std::fill(img.pixels.begin(), img.pixels.end(), makePixel(0, 0, 0)); }

// The span a picture is reported for always holds its time.
Span clampedSpan(Span s, int64_t time) {
  if (s.start > time) s.start = time;
  if (s.end <= time) s.end = time + 1;
  return s;
}

}  // namespace

Composer::Composer(VTMovie* movie) : movie_(movie) {}
Composer::~Composer() = default;

void Composer::setSize(int width, int height) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
}

OSErr Composer::sizes(Rect& box, int& w, int& h) const {
  if (!vt::movie::isLiveMovie(movie_)) return invalidMovie;
  GetMovieBox(movie_, &box);
  const int boxW = box.right - box.left, boxH = box.bottom - box.top;
  if (boxW <= 0 || boxH <= 0) return invalidRect;
  w = width_ > 0 && height_ > 0 ? width_ : boxW;
  h = width_ > 0 && height_ > 0 ? height_ : boxH;
  if ((int64_t)w * h > kMaxPixels) return invalidRect;
  return noErr;
}

OSErr Composer::frame(int64_t time, Image& buffer, const Image*& picture, Span* span) {
  picture = nullptr;
  markedMissing_ = false;
  Rect box;
  int w = 0, h = 0;
  if (OSErr err = sizes(box, w, h)) return err;
  const int boxW = box.right - box.left, boxH = box.bottom - box.top;
  Image& out = buffer;
  out.resize(w, h);

  // Movie space to the picture: the movie matrix, the box's corner to the origin, the box
  // scaled to the picture.
  Affine toBox = fromFixed(movie_->matrix);
  toBox.tx -= box.left;
  toBox.ty -= box.top;
  Affine toOut = then(toBox, Affine{(double)w / boxW, 0, 0, (double)h / boxH, 0, 0});

  Span shown;
  const std::vector<VTTrack*> order = drawOrder(movie_);
  if (pictureFromPlanes(order, time, w, h, boxW, boxH, out, picture, shown)) {
    if (span) *span = clampedSpan(shown, time);
    return noErr;
  }
  bool painted = false;
  // A track's own picture that covers everything and is all there is so far: it is the
  // picture unless another track draws over it (then it is copied into `out` first).
  const Image* alone = nullptr;
  struct Hole {
    int x0, y0, x1, y1;
  };
  std::vector<Hole> holes;
  for (VTTrack* t : order) {
    Affine m = then(fromFixed(t->matrix), toOut);
    int tw = trackWidth(t), th = trackHeight(t);
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool placed = placement(m, tw, th, x0, y0, x1, y1);
    PictureRequest rq;
    rq.time = time;
    rq.ahead = ahead_;
    rq.limitWidth = boxW;
    rq.limitHeight = boxH;
    // Effects are rendered at their own size (their parameters are in their pixels); decoded
    // pictures come converted straight to the size they are drawn at.
    bool effect = isEffectTrack(t);
    if (placed && !effect) {
      rq.width = x1 - x0;
      rq.height = y1 - y0;
    }
    // The first picture to cover everything at its own size is drawn straight into `out`.
    bool whole = placed && !painted && x0 == 0 && y0 == 0 && x1 == w && y1 == h;
    if (whole && effect && tw == w && th == h) rq.into = &out;
    TrackPicture pic;
    OSErr err = pictureOf(t, rq, pic);
    // A frame whose data cannot be read is missing: that is an error, not a black picture.
    if (isMissingData(err) && markMissing_) {
      if (placed)
        holes.push_back({x0, y0, x1, y1});
      else
        holes.push_back({0, 0, w, h});
      shown.intersect(Span{time, time + 1});  // looked at again on every frame
      continue;
    }
    if (isMissingData(err) || err == memFullErr) return err;
    if (err != noErr) {
      // Nothing shown by this track now, but perhaps from its next frame on: the picture holds
      // only until then (not for ever, which would keep a gap's black over later frames).
      int64_t next = vt::movie::trackShownChange(*t, time, true, false);
      shown.intersect(Span{time, next > time ? next : INT64_MAX});
      continue;
    }
    shown.intersect(pic.span);
    if (pic.image == &out) {
      if (pic.translucent)
        for (Pixel& p : out.pixels) p = over(p, makePixel(0, 0, 0));
      painted = true;
      continue;
    }
    const Image& img = *pic.image;
    const bool fits = placed && img.width == x1 - x0 && img.height == y1 - y0;
    if (whole && fits && !pic.translucent) {
      alone = &img;
      painted = true;
      continue;
    }
    if (alone) {
      blit(*alone, 0, 0, false, out);
      alone = nullptr;
    } else if (!painted) {
      fillBlack(out);
    }
    painted = true;
    if (fits) {
      blit(img, x0, y0, pic.translucent, out);
    } else if (placed) {
      Image scaled(x1 - x0, y1 - y0);
      scaleImage(img, scaled);
      blit(scaled, x0, y0, pic.translucent, out);
    } else {
      drawTransformed(img, m, out);
    }
  }
  if (!painted) fillBlack(out);
  if (!holes.empty() && alone) {
    blit(*alone, 0, 0, false, out);
    alone = nullptr;
  }
  for (const Hole& r : holes) hatch(out, r.x0, r.y0, r.x1, r.y1);
  markedMissing_ = !holes.empty();
  picture = alone ? alone : &out;
  if (span) *span = clampedSpan(shown, time);
  return noErr;
}

OSErr Composer::frame(int64_t time, Image& out, Span* span) {
  const Image* picture = nullptr;
  OSErr err = frame(time, out, picture, span);
  if (err == noErr && picture != &out) out = *picture;
  return err;
}

bool Composer::wholeTrack(const std::vector<VTTrack*>& order, int64_t time, int w, int h, int boxW,
                          int boxH, bool effectsOnly, YuvImage& into, Image* intoImage,
                          TrackPicture& pic) {
  // Any failure falls to the picture path, which marks what is missing.
  if (order.size() != 1) return false;
  VTTrack* t = order[0];
  const bool effect = isEffectTrack(t);
  if (effectsOnly && !effect) return false;
  Rect box;
  GetMovieBox(movie_, &box);
  Affine toBox = fromFixed(movie_->matrix);
  toBox.tx -= box.left;
  toBox.ty -= box.top;
  Affine m = then(fromFixed(t->matrix),
                  then(toBox, Affine{(double)w / boxW, 0, 0, (double)h / boxH, 0, 0}));
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  if (!placement(m, trackWidth(t), trackHeight(t), x0, y0, x1, y1) || x0 != 0 || y0 != 0 ||
      x1 != w || y1 != h)
    return false;
  PictureRequest rq;
  rq.time = time;
  rq.ahead = ahead_;
  rq.limitWidth = boxW;
  rq.limitHeight = boxH;
  rq.yuv = true;
  if (effect) {
    if (trackWidth(t) != w || trackHeight(t) != h) return false;  // drawn at its own size
    rq.intoYuv = &into;
    rq.into = intoImage;  // an effect that is not drawn on planes
  } else {
    rq.width = w;
    rq.height = h;
  }
  if (pictureOf(t, rq, pic) != noErr || pic.translucent) return false;
  if (pic.image) return pic.image->width == w && pic.image->height == h;
  return pic.yuv.width == w && pic.yuv.height == h;
}

bool Composer::frameFromPlanes(int64_t time, int w, int h, int boxW, int boxH, YuvImage& out) {
  TrackPicture pic;
  if (!wholeTrack(drawOrder(movie_), time, w, h, boxW, boxH, false, out, nullptr, pic))
    return false;
  if (pic.image) return converter_->toYuv(*pic.image, out) == noErr;  // a picture after all
  if (pic.yuv.plane[0] == out.plane(0)) return true;
  out.resize(w, h);
  for (int p = 0; p < 3; ++p) {
    const int rows = p ? (h + 1) / 2 : h, bytes = p ? (w + 1) / 2 : w;
    for (int y = 0; y < rows; ++y)
      std::memcpy(out.plane(p) + (size_t)y * out.stride[p],
                  pic.yuv.plane[p] + (size_t)y * pic.yuv.stride[p], (size_t)bytes);
  }
  return true;
}

bool Composer::pictureFromPlanes(const std::vector<VTTrack*>& order, int64_t time, int w, int h,
                                 int boxW, int boxH, Image& out, const Image*& picture,
                                 Span& span) {
  TrackPicture pic;
  if (!wholeTrack(order, time, w, h, boxW, boxH, true, planes_, &out, pic)) return false;
  span = pic.span;
  picture = &out;
  if (pic.image) {
    if (pic.image != &out) out = *pic.image;
    return true;
  }
  // One conversion at the end, in bands across the cores.
  if (bandConverters_.empty()) bandConverters_.resize(vt::effects::kMaxBands);
  auto converter = [&](int band) -> codec::YuvConverter& {
    auto& c = bandConverters_[(size_t)band];
    if (!c) c = std::make_unique<codec::YuvConverter>();
    return *c;
  };
  if (h % 2 || !out.rowsTakeBlockStores()) return converter(0).toImage(pic.yuv, out) == noErr;
  std::atomic<bool> failed{false};
  vt::effects::parallelBands(h / 2, 2L * w, [&](int b, int e, int band) {
    if (converter(band).toImageRows(pic.yuv, out, 2 * b, 2 * e)) failed = true;
  });
  return !failed;
}

OSErr Composer::frame(int64_t time, YuvImage& out) {
  Rect box;
  int w = 0, h = 0;
  if (OSErr err = sizes(box, w, h)) return err;
  const int boxW = box.right - box.left, boxH = box.bottom - box.top;
  if (!converter_) converter_ = std::make_unique<codec::YuvConverter>();
  if (frameFromPlanes(time, w, h, boxW, boxH, out)) return noErr;
  const Image* picture = nullptr;
  if (OSErr err = frame(time, rgb_, picture)) return err;
  return converter_->toYuv(*picture, out);
}

vt::movie::FrameList movieFrames(VTMovie* movie) {
  if (!vt::movie::isLiveMovie(movie)) return {};
  return vt::movie::movieFrames(*movie, [movie](const VTTrack& t) {
    vt::movie::TrackKind kind;
    auto* track = const_cast<VTTrack*>(&t);
    if (!hasVideoMedia(track)) return kind;
    kind.drawn = t.enabled() && !isEffectSource(movie, track);
    if (isEffectTrack(track)) {
      kind.role = vt::movie::TrackKind::effect;
      VTTrack* sources[2];
      effectSources(track, sources);
      for (VTTrack* s : sources)
        if (s) kind.sources.push_back(s);
    } else {
      kind.role = vt::movie::TrackKind::decoded;
    }
    return kind;
  });
}

void frameRate(const vt::movie::FrameList& frames, int& num, int& den) {
  num = 30;
  den = 1;
  int64_t n = 0, d = 1;
  if (!frames.rate(n, d)) {
    if (frames.count() == 0 || frames.end() <= 0) return;
    // Frames that keep their own times: their average rate.
    n = frames.count() * (int64_t)frames.scale();
    d = frames.end();
  }
  int64_t g = std::gcd(n, d);
  n /= g;
  d /= g;
  // Keep the fraction within the stream header's range.
  while (n > INT32_MAX || d > INT32_MAX) {
    n /= 2;
    d = std::max<int64_t>(d / 2, 1);
  }
  if (n <= 0) return;
  num = (int)n;
  den = (int)d;
}

void movieFrameRate(VTMovie* movie, int& num, int& den) { frameRate(movieFrames(movie), num, den); }

OSErr trackImage(VTTrack* track, int64_t time, Image& out) {
  TrackPicture pic;
  PictureRequest rq;
  rq.time = time;
  OSErr err = pictureOf(track, rq, pic);
  if (err == noErr) out = *pic.image;
  return err;
}

}  // namespace vt::compose

namespace {
VTTrack* liveTrack(Track t) { return vt::movie::isLiveTrack(t) ? t : nullptr; }
VTMovie* liveMovie(Movie m) { return vt::movie::isLiveMovie(m) ? m : nullptr; }
}  // namespace

PicHandle GetTrackPict(Track theTrack, TimeValue time) {
  return vt::apiOn(vt::movie::setError, liveTrack, theTrack, invalidTrack, PicHandle{},
                   [&](VTTrack& track) -> PicHandle {
                     vt::compose::TrackPicture pic;
                     vt::compose::PictureRequest rq;
                     rq.time = time;
                     OSErr err = vt::compose::pictureOf(&track, rq, pic);
                     vt::movie::setError(err);
                     if (err != noErr) return nullptr;
                     PicHandle p = vt::makePicture(*pic.image);
                     if (!p) vt::movie::setError(memFullErr);
                     return p;
                   });
}

PicHandle GetMoviePict(Movie theMovie, TimeValue time) {
  return vt::apiOn(vt::movie::setError, liveMovie, theMovie, invalidMovie, PicHandle{},
                   [&](VTMovie& movie) -> PicHandle {
                     vt::Image img;
                     vt::compose::Composer composer(&movie);
                     OSErr err = composer.frame(time, img);
                     vt::movie::setError(err);
                     if (err != noErr) return nullptr;
                     PicHandle pic = vt::makePicture(img);
                     if (!pic) {
                       vt::movie::setError(memFullErr);
                       return nullptr;
                     }
                     // The picture's frame is the movie box.
                     Rect box;
                     GetMovieBox(&movie, &box);
                     (**pic).picFrame = box;
                     return pic;
                   });
}

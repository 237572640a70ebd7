// A movie's picture at a time: every enabled visual track that is not only an effect source,
// lower layers on top, through the track and movie matrices into the movie box (black where
// nothing is drawn), effect tracks rendered from their sources.
//
// A Composer is the frame path of one caller (a controller, a renderer): it keeps no pictures
// itself (each track keeps its decoder and last picture), so any number of callers share the
// decoding work. Sequential callers ask for a few frames of decode-ahead; a request the decoded
// frames do not reach (a seek, a step back) cancels them.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "compose/tracks.h"
#include "core/image.h"
#include "model/frames.h"

struct VTMovie;
struct VTTrack;

namespace vt::codec {
class YuvConverter;
}

namespace vt::compose {

class Composer {
 public:
  explicit Composer(VTMovie* movie);
  ~Composer();

  // Pictures come at width x height, the movie box scaled to fill it; 0 x 0: the box's size.
  void setSize(int width, int height);
  // Frames past each picture that the sources decode meanwhile (0: none, for single pictures).
  void setDecodeAhead(int frames) { ahead_ = frames; }
  // Playback: a track whose data is missing is left out and its place hatched, so the rest
  // still shows and the gap is plain to see. Otherwise such a frame is an error.
  void setMarkMissing(bool mark) { markMissing_ = mark; }
  // The last picture has a track marked missing (and is looked at again on every frame).
  bool markedMissing() const { return markedMissing_; }
  // The movie's picture at movie time `time`: `picture` points to `buffer` (whose storage is
  // reused from call to call) or, when one opaque track's picture is the whole of it, to that
  // picture itself, not copied. It stays valid until the next call. `span`, when given, gets
  // the movie-time interval over which this picture stays the same.
  // invalidMovie, invalidRect (an empty or huge box).
  OSErr frame(int64_t time, Image& buffer, const Image*& picture, Span* span = nullptr);
  // The same, always into `out`.
  OSErr frame(int64_t time, Image& out, Span* span = nullptr);
  // The same as 4:2:0 planes (BT.601, limited range) for consumers that take them: a movie
  // that is one track filling the picture (decoded, or an effect that mixes its sources'
  // pixels) is drawn on its decoded planes and never converted; any other is composed as a
  // picture and converted once.
  OSErr frame(int64_t time, YuvImage& out);

 private:
  // The one track of the drawn `order` that fills the picture, asked for as planes (an effect drawn
  // into `into`, or into `intoImage` when it is not drawn on planes); false when the movie is not
  // that (with effectsOnly, not an effect), or it fails.
  bool wholeTrack(const std::vector<VTTrack*>& order, int64_t time, int w, int h, int boxW,
                  int boxH, bool effectsOnly, YuvImage& into, Image* intoImage, TrackPicture& pic);
  // The planes case above; false when it does not apply or fails (the picture path then
  // decides), with `out` done when true.
  bool frameFromPlanes(int64_t time, int w, int h, int boxW, int boxH, YuvImage& out);
  // A picture: an effect filling it that is drawn on its sources' planes is converted once at
  // the end, instead of each source being converted and mixed as pictures.
  bool pictureFromPlanes(const std::vector<VTTrack*>& order, int64_t time, int w, int h, int boxW,
                         int boxH, Image& out, const Image*& picture, Span& span);
  // The movie box and the size drawn (the one set, or the box's); a code when the movie is
  // gone or the picture cannot be drawn.
  OSErr sizes(Rect& box, int& w, int& h) const;

  VTMovie* movie_;
  Image rgb_;  // the picture converted to planes when the movie cannot be drawn on them
  std::unique_ptr<codec::YuvConverter> converter_;
  YuvImage planes_;  // an effect drawn on planes, converted once into the picture
  // One a band, made by the band's thread (scalers are not shared between threads).
  std::vector<std::unique_ptr<codec::YuvConverter>> bandConverters_;
  int width_ = 0, height_ = 0;
  int ahead_ = 0;
  bool markMissing_ = false;
  bool markedMissing_ = false;
};

// The movie's frames as this layer draws them: the tracks drawn, effects at their sources'
// frames (model/frames.h).
vt::movie::FrameList movieFrames(VTMovie* movie);

// The movie's frame rate, frames per second num / den: its frames' exact rate, else their
// average; 30 when it has none.
void movieFrameRate(VTMovie* movie, int& num, int& den);
// The same for a frame list already made.
void frameRate(const vt::movie::FrameList& frames, int& num, int& den);

// The track's picture at movie time `time` at the track's dimensions (no matrix).
OSErr trackImage(VTTrack* track, int64_t time, Image& out);

}  // namespace vt::compose

// One track's picture at a movie time: decoded video through its edit list, or an effect
// rendered from its source tracks. Each track keeps its stream and last picture in its draw
// state, made again when its media changes.
#pragma once
#include <MacTypes.h>

#include <cstdint>
#include <string>

#include "core/image.h"
#include "core/yuv_image.h"

struct VTMovie;
struct VTTrack;

namespace vt::compose {

// A movie-time interval [start, end) over which a picture stays the same.
struct Span {
  int64_t start = INT64_MIN;
  int64_t end = INT64_MAX;
  void intersect(const Span& o) {
    if (o.start > start) start = o.start;
    if (o.end < end) end = o.end;
  }
};

// What is asked of a track.
struct PictureRequest {
  int64_t time = 0;  // movie time
  int width = 0;     // wanted size; 0 x 0: the track's own dimensions
  int height = 0;
  int ahead = 0;          // frames to decode ahead of this one
  Image* into = nullptr;  // an effect renders straight into this image when given
  // An effect is rendered no larger than this (its aspect kept): what the picture it lands
  // in can show, and never beyond a fixed bound (0 x 0: that bound alone).
  int limitWidth = 0;
  int limitHeight = 0;
  // The caller takes 4:2:0 planes: decoded frames that have them come as they are, and
  // effects that can be drawn on them are (into `intoYuv` when given).
  bool yuv = false;
  YuvImage* intoYuv = nullptr;
};

// What a track shows: the image or planes (owned by the track, or the request's), valid until
// the track is asked again.
struct TrackPicture {
  const Image* image = nullptr;
  YuvView yuv;  // instead of `image` (then null), when planes were asked for and are had
  Span span;
  bool translucent = false;
};

// invalidTime when the track shows nothing at the time (an empty edit, past its end);
// invalidTrack for tracks that draw nothing; decoding errors otherwise.
OSErr pictureOf(VTTrack* track, const PictureRequest& request, TrackPicture& out);

// Errors meaning a picture's data is not there (a truncated, missing or unreadable file): a
// frame with such a picture is an error, never black.
bool isMissingData(OSErr err);
// The file whose data was last found missing on this thread ("" when none): the data file a
// failed picture needed, so that a caller can name it.
const std::string& missingDataFile();

// Tracks drawn from decoded frames: video media only (other visual media types are not drawn).
bool hasVideoMedia(const VTTrack* t);
// True when the track shows an effect at movie time `time` (its sample there is an effect's).
bool isEffectTrack(VTTrack* t);
// The tracks an enabled effect track takes as sources (they are not drawn on their own).
bool isEffectSource(VTMovie* movie, const VTTrack* t);
// The track's dimensions, rounded.
int trackWidth(const VTTrack* t);
int trackHeight(const VTTrack* t);
// The tracks referenced as sources by an effect track (for the frame model).
int effectSources(VTTrack* t, VTTrack* out[2]);

// Streams made for a track since it was first drawn (tests: stepping must keep one).
int streamsMadeFor(VTTrack* track);

}  // namespace vt::compose

// Images of tracks and movies at a movie time: decoding through each track's edit list,
// effect tracks rendered from their sources, visual tracks composed by layer.
#pragma once
#include <MacTypes.h>

#include "core/image.h"

struct VTMovie;
struct VTTrack;

namespace vt::codec {

// The track's image at movie time `time`, at the track's dimensions (no matrix). invalidTime
// when the track shows nothing then (an empty edit, past its end).
OSErr trackImage(VTTrack* track, int64_t time, Image& out);
// The movie's image at `time`: every enabled visual track that is not only an effect source,
// lower layers on top, through the track and movie matrices, into the movie box (black where
// nothing is drawn). The box's size gives the image's size.
OSErr movieImage(VTMovie* movie, int64_t time, Image& out);
// Decoders kept per track between calls.
void forgetTrackDecoders();
// How many decoders were made for a track since it was first drawn (for tests: stepping
// through a movie must keep one).
int decodersMadeFor(VTTrack* track);

}  // namespace vt::codec

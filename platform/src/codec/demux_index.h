// Describing and indexing the streams of a foreign container, in one pass over its packets
// that keeps no sample data.
#pragma once
#include <MacTypes.h>

#include "codec/demux.h"

struct AVStream;

namespace vt::codec {

// The video stream's format and sample description; noErr or why it cannot be a track.
OSErr describeVideo(AVStream* st, DemuxStream& s);
// An audio stream we can decode, with its rate as the time scale; false for the rest.
bool describeAudio(AVStream* st, DemuxStream& s);

}  // namespace vt::codec

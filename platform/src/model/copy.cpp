// Whole-movie copies (undo states, copy and paste) and freeing movies.
#include <cstring>

#include "model/internal.h"

namespace vt::movie {

void copyTrackState(VTTrack& t, const VTTrack& st) {
  t.id = st.id;
  t.headerFlags = st.headerFlags;
  t.layer = st.layer;
  t.alternateGroup = st.alternateGroup;
  t.volume = st.volume;
  std::memcpy(t.matrix, st.matrix, sizeof t.matrix);
  t.width = st.width;
  t.height = st.height;
  t.creationTime = st.creationTime;
  t.modificationTime = st.modificationTime;
  t.edits = st.edits;
  t.references = st.references;
  t.userData = st.userData;
  t.extras = st.extras;
  if (st.media) {
    if (!t.media) t.media = std::make_unique<VTMedia>();
    *t.media = *st.media;
    t.media->track = &t;
    t.media->editing = false;
  } else {
    t.media.reset();
  }
}

VTMovie* cloneMovie(const VTMovie& src) {
  VTMovie* m = newMovieObject();
  m->timeScale = src.timeScale;
  m->preferredRate = src.preferredRate;
  m->preferredVolume = src.preferredVolume;
  m->volume = src.volume;
  std::memcpy(m->matrix, src.matrix, sizeof m->matrix);
  m->creationTime = src.creationTime;
  m->modificationTime = src.modificationTime;
  m->previewTime = src.previewTime;
  m->previewDuration = src.previewDuration;
  m->posterTime = src.posterTime;
  m->selectionTime = src.selectionTime;
  m->selectionDuration = src.selectionDuration;
  m->currentTime = src.currentTime;
  m->nextTrackID = src.nextTrackID;
  m->userData = src.userData;
  m->extras = src.extras;
  m->timeBase = src.timeBase;
  m->active = src.active;
  m->playHints = src.playHints;
  m->memoryData = src.memoryData;
  for (const auto& st : src.tracks) {
    auto t = std::make_unique<VTTrack>();
    t->movie = m;
    copyTrackState(*t, *st);
    m->tracks.push_back(std::move(t));
  }
  return m;
}

void destroyMovie(VTMovie* m) {
  if (!m) return;
  forgetMovieObject(m);
  delete m;
}

}  // namespace vt::movie

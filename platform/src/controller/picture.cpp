// The frame path: the movie's picture at the current time, composed at the movie rectangle's
// size and drawn into the movie's port.
#include <Quickdraw.h>

#include "controller/controller.h"
#include "model/model.h"
#include "ui/window_server.h"

namespace vt::controller {

VTPort* moviePort(const VTController& c) {
  CGrafPtr port = nullptr;
  GetMovieGWorld(c.movie, &port, nullptr);
  if (!port || !ui::isLivePort(port)) return nullptr;
  return port;
}

WindowRef controllerWindow(const VTController& c) {
  VTPort* port = moviePort(c);
  return port ? port->window : nullptr;
}

// At the very end the last frame stays up rather than what follows it (nothing).
TimeValue pictureTime(const VTController& c) {
  TimeValue t = GetMovieTime(c.movie, nullptr);
  TimeValue dur = GetMovieDuration(c.movie);
  return dur > 0 && t >= dur ? dur - 1 : t;
}

bool drawnIsCurrent(const VTController& c) {
  TimeValue t = pictureTime(c);
  const Picture& p = c.picture;
  return p.drawnValid && t >= p.drawn.start && t < p.drawn.end;
}

namespace {

// A value that changes with anything that changes the movie's pictures: its box and matrix,
// its tracks' edit lists, flags, layers and matrices, and their media's samples (whose generations
// are never reused), so pictures prepared before an edit made behind the controller's back are
// never shown after it.
uint64_t contentsKey(Movie m) {
  uint64_t h = 1469598103934665603ULL;
  auto mix = [&h](uint64_t v) { h = (h ^ v) * 1099511628211ULL; };
  mix((uint64_t)m->tracks.size());
  for (const auto& t : m->tracks) {
    mix(t->headerFlags);
    mix((uint64_t)(uint16_t)t->layer);
    for (Fixed f : t->matrix) mix((uint32_t)f);
    mix(t->edits.size());
    for (const auto& e : t->edits)
      mix((uint64_t)e.duration ^ ((uint64_t)e.mediaTime << 20) ^ (uint32_t)e.rate);
    if (t->media) mix(t->media->generation.value());
  }
  for (Fixed f : m->matrix) mix((uint32_t)f);
  Rect box;
  GetMovieBox(m, &box);
  mix(((uint64_t)(uint16_t)box.top << 48) | ((uint64_t)(uint16_t)box.left << 32) |
      ((uint64_t)(uint16_t)box.bottom << 16) | (uint16_t)box.right);
  return h;
}

// Takes the prepared picture for time t, if there is one: pictures whose time has passed are
// dropped, and once the time has gone round the loop, those of the lap just ended.
bool takePrepared(Picture& p, TimeValue t, Image& out) {
  if (p.prepared.empty()) return false;
  if (t < p.lastShown) {  // round the loop
    while (!p.prepared.empty() && !p.prepared.front().nextLap) {
      p.spare.push_back(std::move(p.prepared.front().image));
      p.prepared.pop_front();
      p.framesDropped++;
    }
    for (Prepared& f : p.prepared) f.nextLap = false;
  }
  while (!p.prepared.empty() && !p.prepared.front().nextLap) {
    Prepared& f = p.prepared.front();
    if (t < f.span.start) return false;  // not due yet: the picture for t is not among them
    if (t < f.span.end) {
      std::swap(out, f.image);
      p.drawn = f.span;
      p.spare.push_back(std::move(f.image));
      p.prepared.pop_front();
      return true;
    }
    p.spare.push_back(std::move(f.image));
    p.prepared.pop_front();
    p.framesDropped++;
  }
  return false;
}

}  // namespace

void drawMovie(VTController& c) {
  VTPort* port = moviePort(c);
  const Rect& box = c.geometry.movieRect;
  if (!port || EmptyRect(&box)) return;
  Picture& p = c.picture;
  if (!p.composer) p.composer = std::make_unique<compose::Composer>(c.movie);
  p.composer->setSize(box.right - box.left, box.bottom - box.top);
  // Playing forward, the sources decode the next frames while this one is shown.
  Fixed rate = GetMovieRate(c.movie);
  p.composer->setDecodeAhead(rate > 0 ? 3 : 0);
  p.composer->setMarkMissing(true);
  const TimeValue t = pictureTime(c);
  const uint64_t key = contentsKey(c.movie);
  const bool unchanged = key == p.preparedFrom;
  if (rate <= 0 || !unchanged) p.discardPrepared();
  p.preparedFrom = key;
  const Image* shown = nullptr;
  if (rate > 0 && unchanged && !p.direct && drawnIsCurrent(c)) {
    // Drawn again (an update while playing): composing it again would take the sources back
    // behind the pictures prepared, restarting their decoding.
    shown = &p.frame;
  } else {
    if (rate > 0 && takePrepared(p, t, p.frame)) {
      p.drawnValid = true;
      shown = &p.frame;
    } else {
      p.drawnValid = p.composer->frame(t, p.frame, shown, &p.drawn) == noErr;
      // Nothing is prepared past a picture with a track missing: it is composed again each
      // tick.
      p.direct = p.drawnValid && (shown != &p.frame || p.composer->markedMissing());
    }
    if (rate != 0) {
      p.framesShown++;
      p.lastShown = t;
    }
  }
  if (p.drawnValid)
    ui::drawImage(port, *shown, box);
  else
    ui::fillRect(port, box, 0xFF000000);  // nothing visual at this time
  ui::portChanged(port, box);
}

void redraw(VTController& c) {
  drawMovie(c);
  drawBar(c);
}

}  // namespace vt::controller

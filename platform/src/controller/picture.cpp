// The frame path: the movie's picture at the current time, composed at the movie rectangle's
// size and drawn into the movie's port.
#include <Quickdraw.h>

#include "controller/controller.h"
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
  const Image* shown = nullptr;
  p.drawnValid = p.composer->frame(pictureTime(c), p.frame, shown, &p.drawn) == noErr;
  if (rate != 0) p.framesComposed++;
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

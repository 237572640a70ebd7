// The standard movie controller's public calls: a movie drawn in its window's port with a bar
// under it (play, time slider with the selection, step buttons, speaker and volume). Each call
// finds its controller and hands the work to the part that owns it (see controller.h).
#include <MacErrors.h>
#include <MovieControllers.h>

#include <type_traits>
#include <unordered_set>
#include <vector>

#include "controller/controller.h"
#include "core/boundary.h"
#include "core/reset.h"
#include "model/model.h"
#include "ui/window_server.h"

namespace vt::controller {

namespace {

constexpr uint32_t kMagic = 0x4D43746C;  // 'MCtl'

std::unordered_set<VTController*>& controllers() {
  static std::unordered_set<VTController*> set;
  return set;
}

const ResetRegistration kReset(ResetStage::Controllers, [] {
  std::vector<VTController*> all(controllers().begin(), controllers().end());
  for (VTController* c : all) DisposeMovieController(handle(*c));
});

// A call that answers a component result: `dead` for a handle that is no live controller, the
// thrown code when the body throws, else the body's result (noErr for a body that answers
// nothing).
template <class Body>
ComponentResult withController(MovieController mc, OSErr dead, Body&& body) noexcept {
  OSErr code = noErr;
  auto run = [&](VTController& c) -> ComponentResult {
    if constexpr (std::is_void_v<decltype(body(c))>) {
      body(c);
      return noErr;
    } else {
      return body(c);
    }
  };
  ComponentResult r = apiOn([&](OSErr e) { code = e; }, live, mc, dead, ComponentResult{0}, run);
  return code != noErr ? code : r;
}

// A call that answers a movie: nullptr for a dead handle or a throw.
template <class Body>
Movie movieOf(MovieController mc, Body&& body) noexcept {
  return apiOn(vt::noErrorState, live, mc, noErr, Movie{nullptr}, body);
}

}  // namespace

VTController* live(MovieController mc) {
  auto* c = reinterpret_cast<VTController*>(mc);
  if (!c || !controllers().count(c) || c->magic != kMagic) return nullptr;
  return c;
}

MovieController handle(VTController& c) { return reinterpret_cast<MovieController>(&c); }

}  // namespace vt::controller

using namespace vt::controller;

// A UPP is the procedure pointer itself: nothing to make that could fail, nothing to release.
MCActionFilterWithRefConUPP NewMCActionFilterWithRefConUPP(MCActionFilterWithRefConProcPtr proc) {
  return proc;
}
void DisposeMCActionFilterWithRefConUPP(MCActionFilterWithRefConUPP) {}

MovieController NewMovieController(Movie theMovie, const Rect* movieRect, long someFlags) {
  return vt::apiCall(vt::noErrorState, MovieController{nullptr}, [&]() -> MovieController {
    if (!vt::movie::isLiveMovie(theMovie) || !movieRect) return nullptr;
    auto* c = new (std::nothrow) VTController();
    if (!c) return nullptr;
    c->magic = kMagic;
    c->movie = theMovie;
    Geometry& g = c->geometry;
    g.movieRect = *movieRect;
    SetMovieBox(theMovie, &g.movieRect);
    g.barRect = attachedBarRect(g.movieRect);
    g.visible = !(someFlags & mcNotVisible);
    c->bar.useBadge = (someFlags & mcWithBadge) != 0;
    c->playback.lastTick = TickCount();
    controllers().insert(c);
    return handle(*c);
  });
}

void DisposeMovieController(MovieController mc) {
  vt::apiOn(vt::noErrorState, live, mc, noErr, [](VTController& c) {
    controllers().erase(&c);
    clearHistory(c);
    c.magic = 0;
    delete &c;
  });
}

ComponentResult MCIsPlayerEvent(MovieController mc, const EventRecord* e) {
  return withController(mc, 0, [&](VTController& c) -> ComponentResult {
    if (!e) return 0;
    WindowRef w = controllerWindow(c);
    switch (e->what) {
      case nullEvent: MCIdle(mc); return 0;  // idle time is everyone's: the event stays unclaimed
      case ::mouseDown: return vt::controller::mouseDown(c, e);
      case ::keyDown:
      case autoKey: return vt::controller::keyDown(c, e);
      case updateEvt:
        if (!w || (WindowRef)e->message != w) return 0;
        BeginUpdate(w);
        // What neither the movie nor the bar covers (e.g. where a hidden bar was) is erased.
        if (VTPort* port = moviePort(c)) vt::ui::fillRect(port, port->portRect, 0xFFFFFFFF);
        doAction(c, mcActionDraw, w);
        EndUpdate(w);
        return 1;
      case activateEvt:
        // Activation is also the framework's business: answer 0 so it sees the event too.
        if (w && (WindowRef)e->message == w) MCActivate(mc, w, (e->modifiers & activeFlag) != 0);
        return 0;
      default: return 0;
    }
  });
}

ComponentResult MCIdle(MovieController mc) {
  return withController(mc, badComponentInstance,
                        [](VTController& c) { return doAction(c, mcActionIdle, nullptr); });
}

ComponentResult MCActivate(MovieController mc, WindowRef, Boolean activate) {
  return withController(mc, badComponentInstance, [&](VTController& c) {
    return doAction(c, activate ? mcActionActivate : mcActionDeactivate, nullptr);
  });
}

ComponentResult MCDoAction(MovieController mc, short action, void* params) {
  return withController(mc, badComponentInstance,
                        [&](VTController& c) { return doAction(c, action, params); });
}

ComponentResult MCSetActionFilterWithRefCon(MovieController mc, MCActionFilterWithRefConUPP blob,
                                            long refCon) {
  return withController(mc, badComponentInstance, [&](VTController& c) {
    c.filter = blob;
    c.refCon = blob ? refCon : 0;
  });
}

ComponentResult MCEnableEditing(MovieController mc, Boolean enabled) {
  return withController(mc, badComponentInstance,
                        [&](VTController& c) { c.editing.enabled = enabled; });
}

ComponentResult MCGetControllerInfo(MovieController mc, long* someFlags) {
  if (!someFlags) return paramErr;
  *someFlags = 0;
  return withController(mc, badComponentInstance,
                        [&](VTController& c) { *someFlags = controllerInfo(c); });
}

ComponentResult MCUndo(MovieController mc) {
  return withController(mc, badComponentInstance, [](VTController& c) { return undo(c); });
}

ComponentResult VTMCRedo(MovieController mc) {
  return withController(mc, badComponentInstance, [](VTController& c) { return redo(c); });
}

Movie MCCut(MovieController mc) {
  return movieOf(mc, [](VTController& c) { return copyOrCut(c, true); });
}

Movie MCCopy(MovieController mc) {
  return movieOf(mc, [](VTController& c) { return copyOrCut(c, false); });
}

ComponentResult MCPaste(MovieController mc, Movie srcMovie) {
  return withController(mc, badComponentInstance,
                        [&](VTController& c) { return paste(c, srcMovie); });
}

ComponentResult MCClear(MovieController mc) {
  return withController(mc, badComponentInstance,
                        [](VTController& c) { return clearSelection(c); });
}

ComponentResult MCGetVisible(MovieController mc) {
  return withController(
      mc, 0, [](VTController& c) -> ComponentResult { return c.geometry.visible ? 1 : 0; });
}

ComponentResult MCSetVisible(MovieController mc, Boolean visible) {
  return withController(mc, badComponentInstance,
                        [&](VTController& c) { setVisible(c, visible != 0); });
}

ComponentResult MCGetControllerBoundsRect(MovieController mc, Rect* bounds) {
  if (!bounds) return paramErr;
  *bounds = Rect{0, 0, 0, 0};
  return withController(mc, badComponentInstance, [&](VTController& c) { *bounds = boundsOf(c); });
}

ComponentResult MCIsControllerAttached(MovieController mc) {
  return withController(
      mc, 0, [](VTController& c) -> ComponentResult { return c.geometry.attached ? 1 : 0; });
}

ComponentResult MCSetControllerAttached(MovieController mc, Boolean attach) {
  return withController(mc, badComponentInstance,
                        [&](VTController& c) { setAttached(c, attach != 0); });
}

ComponentResult MCPositionController(MovieController mc, const Rect* movieRect,
                                     const Rect* controllerRect, long) {
  return withController(mc, badComponentInstance,
                        [&](VTController& c) { position(c, movieRect, controllerRect); });
}

Movie MCGetIndMovie(MovieController mc, short index) {
  return movieOf(mc, [&](VTController& c) { return index == 0 ? c.movie : nullptr; });
}

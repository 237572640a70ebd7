// The standard movie controller is not built yet (a later piece of work). Until it is,
// NewMovieController makes no controller, so windows show their movies without one and the
// application's controller-dependent commands stay disabled, as they do on the original
// platform when a controller cannot be made. Every call on a controller reports an invalid
// controller instead of pretending to act.
#include <MacErrors.h>
#include <MovieControllers.h>

MCActionFilterWithRefConUPP NewMCActionFilterWithRefConUPP(MCActionFilterWithRefConProcPtr proc) {
  return proc;
}
void DisposeMCActionFilterWithRefConUPP(MCActionFilterWithRefConUPP) {}

MovieController NewMovieController(Movie, const Rect*, long) { return nullptr; }
void DisposeMovieController(MovieController) {}
ComponentResult MCIsPlayerEvent(MovieController, const EventRecord*) { return 0; }
ComponentResult MCIdle(MovieController) { return badComponentInstance; }
ComponentResult MCActivate(MovieController, WindowRef, Boolean) { return badComponentInstance; }
ComponentResult MCDoAction(MovieController, short, void*) { return badComponentInstance; }
ComponentResult MCSetActionFilterWithRefCon(MovieController, MCActionFilterWithRefConUPP, long) {
  return badComponentInstance;
}
ComponentResult MCEnableEditing(MovieController, Boolean) { return badComponentInstance; }
ComponentResult MCGetControllerInfo(MovieController, long* someFlags) {
  if (someFlags) *someFlags = 0;
  return badComponentInstance;
}
ComponentResult MCUndo(MovieController) { return badComponentInstance; }
Movie MCCut(MovieController) { return nullptr; }
Movie MCCopy(MovieController) { return nullptr; }
ComponentResult MCPaste(MovieController, Movie) { return badComponentInstance; }
ComponentResult MCClear(MovieController) { return badComponentInstance; }
ComponentResult MCGetVisible(MovieController) { return 0; }
ComponentResult MCSetVisible(MovieController, Boolean) { return badComponentInstance; }
ComponentResult MCGetControllerBoundsRect(MovieController, Rect* bounds) {
  if (bounds) *bounds = Rect{0, 0, 0, 0};
  return badComponentInstance;
}
ComponentResult MCIsControllerAttached(MovieController) { return 0; }
ComponentResult MCSetControllerAttached(MovieController, Boolean) { return badComponentInstance; }
ComponentResult MCPositionController(MovieController, const Rect*, const Rect*, long) {
  return badComponentInstance;
}
Movie MCGetIndMovie(MovieController, short) { return nullptr; }
// The movie scrap comes with the controller's editing.
OSErr PutMovieOnScrap(Movie, long) { return unimpErr; }
Movie NewMovieFromScrap(long) { return nullptr; }

// The standard movie controller's state, one record per purpose, and the pieces its files
// share. The files: controller.cpp (the public calls), actions.cpp (the action dispatch),
// playback.cpp (the clock, play/stop, stepping, sound sync), picture.cpp (the frame path),
// geometry.cpp (picture and bar rectangles, zoom and grow), input.cpp (mouse and keys),
// editing.cpp (the selection and the edit commands), undo.cpp (the edit history), bar.cpp (the
// bar's layout and drawing), scrap.cpp (the movie scrap).
#pragma once
#include <MovieControllers.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "audio/player.h"
#include "compose/compose.h"
#include "core/image.h"

struct VTPort;

namespace vt::controller {

constexpr short kBarHeight = 16;
// A bar narrower than this has no room for its buttons and slider (e.g. a sound-only or an
// empty movie, whose box is empty).
constexpr short kMinBarWidth = 160;
constexpr short kPlayWidth = 20;
constexpr short kStepWidth = 14;
constexpr short kSpeakerWidth = 18;
// Volume: the arrow keys move it by an eighth of full volume.
constexpr short kVolumeStep = 32;
// The grow box at the bar's right end, shown once the application sets grow-box bounds.
constexpr short kGrowWidth = 15;
// The smallest picture resizing goes down to.
constexpr short kMinMovieSide = 32;
// The edit history keeps at most this many steps, and drops its oldest ones once the movie
// states it holds take more than a controller's undoMemory (kUndoMemory unless a test lowers
// it), always keeping the newest step.
constexpr size_t kUndoSteps = 256;
constexpr size_t kUndoMemory = size_t(256) << 20;

// One step of the edit history: the movie as it was on the other side of an edit.
struct UndoStep {
  MovieEditState state = nullptr;
  size_t bytes = 0;
};

// Where the picture and the bar are (local to the movie's port), and the zoom box's memory.
struct Geometry {
  Rect movieRect{0, 0, 0, 0};
  Rect barRect{0, 0, 0, 0};
  bool attached = true;
  bool visible = true;
  Rect growBounds{0, 0, 0, 0};
  // While zoomed: the movie box and window place the user had before.
  bool zoomed = false;
  Rect userMovieRect{0, 0, 0, 0};
  Point userWindowPlace{0, 0};
};

// The clock and what it plays.
struct Playback {
  bool looping = false;
  bool palindrome = false;
  bool playSelection = false;
  bool playEveryFrame = false;
  // The tick of the last advance and the fraction of a movie time unit left over.
  uint32_t lastTick = 0;
  double carry = 0;
  // The movie's sound, made the first time a movie with sound plays; while it plays, its clock
  // is the movie's.
  std::unique_ptr<audio::Player> sound;
};

// A picture composed before it is due, for the movie-time span it shows; `nextLap` when it
// starts the played span again after the loop point still ahead.
struct Prepared {
  Image image;
  compose::Span span;
  bool nextLap = false;
};
// Prepared pictures kept while playing forward: enough to ride out a slow frame, few enough to
// bound memory (three 4K pictures are about 100 MB).
constexpr size_t kPreparedFrames = 3;

// The frame path: the movie's pictures composed at the movie rectangle's size into a buffer
// reused from frame to frame (or taken straight from the one track that makes the picture).
// `drawn` is the movie-time span over which the picture last drawn stays the same, so playback
// composes only when the picture changes. Playing forward, the next pictures are composed in
// idle time ahead of when they are due (`prepared`, in play order), so a tick only draws.
struct Picture {
  std::unique_ptr<compose::Composer> composer;
  Image frame;
  compose::Span drawn;
  bool drawnValid = false;
  std::deque<Prepared> prepared;
  size_t preparedFrames = kPreparedFrames;  // at most this many (0: each composed when due)
  // The picture drawn last was one track's own, not composed: that track's decoding ahead
  // already has the next ones ready, and preparing them would only copy them.
  bool direct = false;
  std::vector<Image> spare;   // buffers of prepared pictures, reused
  uint64_t preparedFrom = 0;  // the movie's contents they were composed from
  TimeValue lastShown = 0;    // the time of the picture drawn last while playing
  long framesShown = 0;       // pictures drawn while playing (benchmarks count them)
  long framesDropped = 0;     // prepared pictures whose time passed before they were drawn
  // The movie, its box or the time changed: no picture drawn or prepared holds.
  void forget() {
    drawnValid = false;
    discardPrepared();
  }
  void discardPrepared() {
    for (Prepared& f : prepared) spare.push_back(std::move(f.image));
    prepared.clear();
  }
};

// What the bar shows and how.
struct Bar {
  bool active = true;
  long flags = 0;
  long explicitFlags = 0;
  bool useBadge = false;
  // The volume is being dragged: the slider shows it instead of the time.
  bool adjustingVolume = false;
  // The time display shows frame numbers instead of h:mm:ss.ff.
  bool showFrames = false;
  // The movie's frames (for frame numbers), made when first needed after an edit.
  movie::FrameList frames;
  TimeValue framesDuration = -1;
  // The time display's width, measured for the movie's duration and time scale.
  mutable short timeWidth = 0;
  mutable TimeValue timeWidthDuration = -1;
  mutable TimeScale timeWidthScale = 0;
};

struct Input {
  bool keysEnabled = false;
  bool dragEnabled = true;
};

// The edit commands' switch and their history, the newest step at the back of each.
struct Editing {
  bool enabled = false;
  std::deque<UndoStep> undoSteps, redoSteps;
  size_t undoMemory = kUndoMemory;
};

}  // namespace vt::controller

struct VTController {
  uint32_t magic = 0;
  Movie movie = nullptr;
  MCActionFilterWithRefConUPP filter = nullptr;
  long refCon = 0;
  vt::controller::Geometry geometry;
  vt::controller::Playback playback;
  vt::controller::Picture picture;
  vt::controller::Bar bar;
  vt::controller::Input input;
  vt::controller::Editing editing;
};

namespace vt::controller {

// The controller behind a handle, or nullptr for anything that is not a live one.
VTController* live(MovieController mc);
MovieController handle(VTController& c);
// False once the application's filter (or anything it called) disposed of the controller.
inline bool stillLive(VTController& c) { return live(handle(c)) != nullptr; }

// Actions: offered to the application's filter first (true when it handled one), then done.
bool filtered(VTController& c, short action, void* params);
ComponentResult doAction(VTController& c, short action, void* params);

// Playback. setTime moves the playhead (clamped to the movie) and shows it; play starts at a
// rate (0 stops); step shows another frame, counted from the one shown; advance is the clock's
// tick; syncSound restarts the sound where the movie is, or stops it.
void setTime(VTController& c, TimeValue t);
void play(VTController& c, Fixed rate);
void togglePlay(VTController& c);
void step(VTController& c, long steps);
void advance(VTController& c);
void syncSound(VTController& c);
void syncTimeBaseFlags(VTController& c);
void setVolume(VTController& c, short volume);
TimeValue fromTimeRecord(const VTController& c, const TimeRecord* tr);

// The frame path: the movie's port (nullptr without a live one), drawing the picture at the
// current time, and whether the picture drawn last is still the one for it.
VTPort* moviePort(const VTController& c);
WindowRef controllerWindow(const VTController& c);
void drawMovie(VTController& c);
// The time whose picture shows: at the very end, the last frame's.
TimeValue pictureTime(const VTController& c);
bool drawnIsCurrent(const VTController& c);
void redraw(VTController& c);
// Composes the next picture due while playing forward, if there is room for one; false when
// nothing was composed.
bool prepareNext(VTController& c);

// Geometry.
Rect boundsOf(const VTController& c);
// Where the bar goes when attached: under the movie, at least kMinBarWidth wide.
Rect attachedBarRect(const Rect& movieRect);
void invalidateWindow(VTController& c, const Rect& r);
void resizeMovie(VTController& c, int width, int height);
void growBoundsSet(VTController& c);
void toggleZoom(VTController& c, WindowRef w);
void dragGrow(VTController& c, WindowRef w, Point start);
void setVisible(VTController& c, bool visible);
void setAttached(VTController& c, bool attach);
void position(VTController& c, const Rect* movieRect, const Rect* controllerRect);
// Converts a global point into the port's local coordinates.
Point toLocal(WindowRef w, Point global);

// Input: the events the controller claims (1) or leaves (0).
ComponentResult mouseDown(VTController& c, const EventRecord* e);
ComponentResult keyDown(VTController& c, const EventRecord* e);

// Editing. The selection's ends as a Shift-extension sees them, the frame edges it moves
// between, and the edit commands (each records its step in the history).
void selectionEnds(const VTController& c, TimeValue& anchor, TimeValue& moving);
void selectBetween(VTController& c, TimeValue anchor, TimeValue moving);
TimeValue frameStart(const VTController& c, TimeValue t);
TimeValue frameEnd(const VTController& c, TimeValue t);
void extendByFrame(VTController& c, bool forward);
bool hasSelection(Movie m);
Movie copyOrCut(VTController& c, bool cut);
OSErr paste(VTController& c, Movie src);
OSErr clearSelection(VTController& c);
OSErr undo(VTController& c);
OSErr redo(VTController& c);
long controllerInfo(const VTController& c);
void movieEdited(VTController& c);

// The edit history. recordEdit takes `before` (the movie before an edit just made) and drops
// the redo steps; undoEdit and redoEdit move the movie one step and answer paramErr when there
// is none.
void recordEdit(VTController& c, MovieEditState before);
// Saves the movie as it is now; nullptr (with the code in err) when it cannot.
MovieEditState saveState(Movie m, OSErr& err);
OSErr undoEdit(VTController& c);
OSErr redoEdit(VTController& c);
void clearHistory(VTController& c);
size_t historyBytes(const VTController& c);

// The bar. Layout is in local coordinates of the movie's port.
struct BarLayout {
  Rect bar, play, slider, time, stepBack, stepForward, speaker, grow;
  bool steps = false, speakerShown = false, growShown = false, timeShown = false;
};
BarLayout layout(const VTController& c);
// The slider position of a time and the time at a horizontal position.
short sliderX(const BarLayout& l, TimeValue t, TimeValue duration);
TimeValue sliderTime(const BarLayout& l, short h, TimeValue duration);
bool movieHasSound(Movie m);
void drawBar(VTController& c);

// The time display: "h:mm:ss.ff" (hundredths of a second, never rounded up) for a time in a
// time scale, and the bar's text, "time / duration" or, showing frames, "frame / frames" (the
// frame shown, counted from 1).
std::string formatTime(TimeValue t, TimeScale scale);
std::string timeDisplayText(VTController& c);

}  // namespace vt::controller

// The standard movie controller's state and the pieces its calls share: bar layout, drawing
// and playback.
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

}  // namespace vt::controller

struct VTController {
  uint32_t magic = 0;
  Movie movie = nullptr;
  Rect movieRect{0, 0, 0, 0};  // local to the movie's port
  Rect barRect{0, 0, 0, 0};
  bool attached = true;
  bool visible = true;
  bool active = true;
  long flags = 0;
  long explicitFlags = 0;
  MCActionFilterWithRefConUPP filter = nullptr;
  long refCon = 0;
  bool keysEnabled = false;
  bool editing = false;
  bool useBadge = false;
  bool dragEnabled = true;
  bool looping = false;
  bool palindrome = false;
  bool playSelection = false;
  bool playEveryFrame = false;
  Rect growBounds{0, 0, 0, 0};
  // The zoom box: while zoomed, the movie box and window place the user had before.
  bool zoomed = false;
  Rect userMovieRect{0, 0, 0, 0};
  Point userWindowPlace{0, 0};
  // Playback: the tick of the last advance and the fraction of a movie time unit left over.
  uint32_t lastTick = 0;
  double carry = 0;
  // The frame path: the movie's pictures composed at the movie rectangle's size into a buffer
  // reused from frame to frame (or taken straight from the one track that makes the picture).
  // `drawn` is the movie-time span over which the picture last drawn stays the same, so
  // playback composes only when the picture changes.
  std::unique_ptr<vt::compose::Composer> composer;
  vt::Image frame;
  vt::compose::Span drawn;
  bool drawnValid = false;
  long framesComposed = 0;  // pictures composed while playing (benchmarks count them)
  // Edit history: the newest step at the back of each.
  std::deque<vt::controller::UndoStep> undoSteps, redoSteps;
  size_t undoMemory = vt::controller::kUndoMemory;
  int inFilter = 0;
  // The movie's sound, made the first time a movie with sound plays; while it plays, its clock
  // is the movie's.
  std::unique_ptr<vt::audio::Player> sound;
  // The volume is being dragged: the bar's slider shows it instead of the time.
  bool adjustingVolume = false;
  // The time display shows frame numbers instead of h:mm:ss.ff.
  bool showFrames = false;
  // The movie's frames (for frame numbers), made when first needed after an edit.
  vt::movie::FrameList frames;
  TimeValue framesDuration = -1;
  // The time display's width, measured for the movie's duration and time scale.
  mutable short timeWidth = 0;
  mutable TimeValue timeWidthDuration = -1;
  mutable TimeScale timeWidthScale = 0;
};

namespace vt::controller {

VTController* live(MovieController mc);

// Layout (local coordinates of the movie's port).
struct BarLayout {
  Rect bar, play, slider, time, stepBack, stepForward, speaker, grow;
  bool steps = false, speakerShown = false, growShown = false, timeShown = false;
};
BarLayout layout(const VTController& c);
// Where the bar goes when attached: under the movie, at least kMinBarWidth wide.
Rect attachedBarRect(const Rect& movieRect);
// The slider position of a time and the time at a horizontal position.
short sliderX(const BarLayout& l, TimeValue t, TimeValue duration);
TimeValue sliderTime(const BarLayout& l, short h, TimeValue duration);
bool movieHasSound(Movie m);

// The edit history. recordEdit takes `before` (the movie before an edit just made) and drops
// the redo steps; undoEdit and redoEdit move the movie one step and answer paramErr when there
// is none.
void recordEdit(VTController& c, MovieEditState before);
OSErr undoEdit(VTController& c);
OSErr redoEdit(VTController& c);
void clearHistory(VTController& c);
size_t historyBytes(const VTController& c);

// The time display: "h:mm:ss.ff" (hundredths of a second, never rounded up) for a time in a
// time scale, and the bar's text, "time / duration" or, showing frames, "frame / frames" (the
// frame shown, counted from 1).
std::string formatTime(TimeValue t, TimeScale scale);
std::string timeDisplayText(VTController& c);

// Drawing into the movie's port; false when the movie has no live port.
VTPort* moviePort(const VTController& c);
// Draws the movie's picture at the current time.
void drawMovie(VTController& c);
// True when the picture drawn last is still the one for the current time.
bool drawnIsCurrent(const VTController& c);
void drawBar(VTController& c);

}  // namespace vt::controller

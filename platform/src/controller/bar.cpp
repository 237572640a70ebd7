// The controller bar: its layout, its drawing and the time display.
#include <MacMemory.h>
#include <Quickdraw.h>

#include <algorithm>
#include <cstdio>

#include "controller/controller.h"
#include "ui/text.h"
#include "ui/window_server.h"

namespace vt::controller {

namespace {

constexpr Pixel kBarFace = 0xFFD8D8D8;
constexpr Pixel kBarFaceInactive = 0xFFEDEDED;
constexpr Pixel kBarEdge = 0xFF5A5A5A;
constexpr Pixel kGlyph = 0xFF202020;
constexpr Pixel kGlyphInactive = 0xFF9A9A9A;
constexpr Pixel kTrack = 0xFFFFFFFF;
constexpr Pixel kSelection = 0xFF7A8FB8;
constexpr Pixel kThumb = 0xFF303030;

// The time display: its text size, the room around the text, and the slider it must leave.
constexpr int kTimeTextSize = 10;
constexpr int kTimePadding = 6;
constexpr int kMinSliderWidth = 64;

Rect rect(int top, int left, int bottom, int right) {
  return Rect{(short)top, (short)left, (short)bottom, (short)right};
}

// A triangle pointing right (dir > 0) or left, filled column by column inside r.
void triangle(VTPort* port, const Rect& r, int dir, Pixel color) {
  int w = r.right - r.left, h = r.bottom - r.top;
  int mid = r.top + h / 2;
  for (int i = 0; i < w; ++i) {
    int half = (h / 2) * (w - i) / std::max(w, 1);
    int x = dir > 0 ? r.left + i : r.right - 1 - i;
    ui::fillRect(port, rect(mid - half, x, mid + half + 1, x + 1), color);
  }
}

Rect centred(const Rect& cell, int w, int h) {
  int l = cell.left + (cell.right - cell.left - w) / 2;
  int t = cell.top + (cell.bottom - cell.top - h) / 2;
  return rect(t, l, t + h, l + w);
}

}  // namespace

bool movieHasSound(Movie m) {
  return m && GetMovieIndTrackType(m, 1, AudioMediaCharacteristic,
                                   movieTrackCharacteristic | movieTrackEnabledOnly) != nullptr;
}

BarLayout layout(const VTController& c) {
  BarLayout l{};
  l.bar = c.geometry.barRect;
  const Rect& b = c.geometry.barRect;
  int right = b.right;
  l.growShown = !EmptyRect(&c.geometry.growBounds) && !EmptyRect(&c.geometry.movieRect);
  if (l.growShown) {
    l.grow = rect(b.top, right - kGrowWidth, b.bottom, right);
    right -= kGrowWidth;
  }
  // A silent movie shows no speaker unless the button was set explicitly.
  bool speakerExplicit = (c.bar.explicitFlags & mcFlagSuppressSpeakerButton) != 0;
  l.speakerShown =
      !(c.bar.flags & mcFlagSuppressSpeakerButton) && (speakerExplicit || movieHasSound(c.movie));
  if (l.speakerShown) {
    l.speaker = rect(b.top, right - kSpeakerWidth, b.bottom, right);
    right -= kSpeakerWidth;
  }
  l.steps = !(c.bar.flags & mcFlagSuppressStepButtons);
  if (l.steps) {
    l.stepForward = rect(b.top, right - kStepWidth, b.bottom, right);
    l.stepBack = rect(b.top, right - 2 * kStepWidth, b.bottom, right - kStepWidth);
    right -= 2 * kStepWidth;
  }
  // The time display takes room only while the slider keeps enough. Its width is that of the
  // longest text the movie can show, so it does not jitter as the time runs.
  if (c.bar.timeWidthScale != GetMovieTimeScale(c.movie) ||
      c.bar.timeWidthDuration != GetMovieDuration(c.movie)) {
    c.bar.timeWidthScale = GetMovieTimeScale(c.movie);
    c.bar.timeWidthDuration = GetMovieDuration(c.movie);
    std::string longest = formatTime(c.bar.timeWidthDuration, c.bar.timeWidthScale);
    int text = ui::measureText(longest + " / " + longest, kTimeTextSize, false);
    c.bar.timeWidth = text > 0 ? (short)(text + 2 * kTimePadding) : (short)0;
  }
  if (c.bar.timeWidth > 0 && right - (b.left + kPlayWidth) - c.bar.timeWidth >= kMinSliderWidth) {
    l.timeShown = true;
    l.time = rect(b.top, right - c.bar.timeWidth, b.bottom, right);
    right -= c.bar.timeWidth;
  }
  l.play = rect(b.top, b.left, b.bottom, std::min<int>(b.left + kPlayWidth, right));
  l.slider = rect(b.top, l.play.right, b.bottom, std::max<int>(right, l.play.right));
  return l;
}

// The slider's track leaves 4 px at either end for the thumb.
short sliderX(const BarLayout& l, TimeValue t, TimeValue duration) {
  int left = l.slider.left + 4, right = l.slider.right - 4;
  if (right <= left || duration <= 0) return (short)left;
  t = std::clamp<TimeValue>(t, 0, duration);
  return (short)(left + (int64_t)(right - left) * t / duration);
}

TimeValue sliderTime(const BarLayout& l, short h, TimeValue duration) {
  int left = l.slider.left + 4, right = l.slider.right - 4;
  if (right <= left || duration <= 0) return 0;
  int x = std::clamp<int>(h, left, right);
  return (TimeValue)((int64_t)(x - left) * duration / (right - left));
}

std::string formatTime(TimeValue t, TimeScale scale) {
  int64_t hundredths = scale > 0 && t > 0 ? (int64_t)t * 100 / scale : 0;
  char text[40];
  std::snprintf(text, sizeof text, "%lld:%02d:%02d.%02d", (long long)(hundredths / 360000),
                (int)(hundredths / 6000 % 60), (int)(hundredths / 100 % 60),
                (int)(hundredths % 100));
  return text;
}

// The movie's frames, listed once per state of the movie.
static const vt::movie::FrameList& movieFrames(VTController& c) {
  TimeValue dur = GetMovieDuration(c.movie);
  if (c.bar.framesDuration != dur) {
    c.bar.frames = vt::compose::movieFrames(c.movie);
    c.bar.framesDuration = dur;
  }
  return c.bar.frames;
}

std::string timeDisplayText(VTController& c) {
  TimeScale scale = GetMovieTimeScale(c.movie);
  if (c.bar.showFrames) {
    const vt::movie::FrameList& frames = movieFrames(c);
    if (!frames.empty()) {
      int64_t shown = frames.frameAt(std::clamp<int64_t>(pictureTime(c), 0, frames.end() - 1));
      return std::to_string(shown + 1) + " / " + std::to_string(frames.count());
    }
  }
  return formatTime(GetMovieTime(c.movie, nullptr), scale) + " / " +
         formatTime(GetMovieDuration(c.movie), scale);
}

namespace {

// The slider: its track, filled over [from, to) when that is not empty, and the thumb at x.
void drawSlider(VTPort* port, const BarLayout& l, int from, int to, short x, Pixel thumb) {
  Rect track = rect(l.slider.top + 5, l.slider.left + 4, l.slider.bottom - 5, l.slider.right - 4);
  ui::fillRect(port, track, kTrack);
  if (from < to) ui::fillRect(port, rect(track.top, from, track.bottom, to), kSelection);
  ui::frameRect(port, track, kBarEdge);
  ui::fillRect(port, rect(l.slider.top + 2, x - 2, l.slider.bottom - 2, x + 3), thumb);
}

// The slider shows the volume while it is dragged (the track filled up to the level), and
// otherwise the selection on the track and the thumb at the current time.
void drawSliderFor(VTPort* port, const BarLayout& l, const VTController& c) {
  if (l.slider.right - l.slider.left <= 8) return;
  if (c.bar.adjustingVolume) {
    short v = std::clamp<short>(GetMovieVolume(c.movie), 0, kFullVolume);
    short x = sliderX(l, v, kFullVolume);
    drawSlider(port, l, l.slider.left + 4, x, x, kThumb);
    return;
  }
  TimeValue dur = GetMovieDuration(c.movie);
  TimeValue selTime = 0, selDur = 0;
  GetMovieSelection(c.movie, &selTime, &selDur);
  int from = 0, to = 0;
  if (selDur > 0 && dur > 0) {
    from = sliderX(l, selTime, dur);
    to = std::max<int>(sliderX(l, selTime + selDur, dur), from + 1);
  }
  drawSlider(port, l, from, to, sliderX(l, GetMovieTime(c.movie, nullptr), dur),
             c.bar.active ? kThumb : kGlyphInactive);
}

// Play shows a triangle when stopped and two bars while playing.
void drawPlay(VTPort* port, const BarLayout& l, bool playing, Pixel glyph) {
  Rect g = centred(l.play, 8, 10);
  if (playing) {
    ui::fillRect(port, rect(g.top, g.left, g.bottom, g.left + 3), glyph);
    ui::fillRect(port, rect(g.top, g.right - 3, g.bottom, g.right), glyph);
  } else {
    triangle(port, g, +1, glyph);
  }
  ui::fillRect(port, rect(l.play.top, l.play.right - 1, l.play.bottom, l.play.right), kBarEdge);
}

void drawTime(VTPort* port, const BarLayout& l, const std::string& text, Pixel glyph) {
  ui::fillRect(port, rect(l.time.top, l.time.left, l.time.bottom, l.time.left + 1), kBarEdge);
  ui::TextStyle style;
  style.size = kTimeTextSize;
  style.color = glyph;
  Rect inside = rect(l.time.top + 1, l.time.left + 1, l.time.bottom - 1, l.time.right);
  ui::drawUtf8(port, l.time.left + kTimePadding, l.time.bottom - 4, text, style, &inside);
}

void drawSteps(VTPort* port, const BarLayout& l, Pixel glyph) {
  Rect back = centred(l.stepBack, 8, 8);
  ui::fillRect(port, rect(back.top, back.left, back.bottom, back.left + 2), glyph);
  triangle(port, rect(back.top, back.left + 2, back.bottom, back.right), -1, glyph);
  Rect fwd = centred(l.stepForward, 8, 8);
  triangle(port, rect(fwd.top, fwd.left, fwd.bottom, fwd.right - 2), +1, glyph);
  ui::fillRect(port, rect(fwd.top, fwd.right - 2, fwd.bottom, fwd.right), glyph);
  ui::fillRect(port, rect(l.stepBack.top, l.stepBack.left, l.stepBack.bottom, l.stepBack.left + 1),
               kBarEdge);
}

// A cone, and a bar of sound for each third of full volume (none when muted).
void drawSpeaker(VTPort* port, const BarLayout& l, short volume, Pixel glyph) {
  Rect s = centred(l.speaker, 14, 10);
  ui::fillRect(port, rect(s.top + 3, s.left, s.bottom - 3, s.left + 3), glyph);
  triangle(port, rect(s.top, s.left + 3, s.bottom, s.left + 8), -1, glyph);
  for (int i = 0; i < 3 && volume > i * kFullVolume / 3; ++i)
    ui::fillRect(
        port,
        rect(s.top + 4 - 2 * i, s.left + 9 + 2 * i, s.bottom - 4 + 2 * i, s.left + 10 + 2 * i),
        glyph);
  ui::fillRect(port, rect(l.speaker.top, l.speaker.left, l.speaker.bottom, l.speaker.left + 1),
               kBarEdge);
}

// Three diagonal ridges.
void drawGrow(VTPort* port, const BarLayout& l, Pixel glyph) {
  const Rect& box = l.grow;
  ui::fillRect(port, rect(box.top, box.left, box.bottom, box.left + 1), kBarEdge);
  for (int k = 0; k < 3; ++k) {
    int reach = 4 + 3 * k;
    for (int i = 0; i <= reach; ++i)
      ui::fillRect(port,
                   rect(box.bottom - 3 - i, box.right - 3 - reach + i, box.bottom - 2 - i,
                        box.right - 2 - reach + i),
                   glyph);
  }
}

}  // namespace

void drawBar(VTController& c) {
  VTPort* port = moviePort(c);
  if (!port || !c.geometry.visible || EmptyRect(&c.geometry.barRect)) return;
  BarLayout l = layout(c);
  Pixel glyph = c.bar.active ? kGlyph : kGlyphInactive;
  ui::fillRect(port, l.bar, c.bar.active ? kBarFace : kBarFaceInactive);
  ui::frameRect(port, l.bar, kBarEdge);
  drawPlay(port, l, GetMovieRate(c.movie) != 0, glyph);
  drawSliderFor(port, l, c);
  if (l.timeShown) drawTime(port, l, timeDisplayText(c), glyph);
  if (l.steps) drawSteps(port, l, glyph);
  if (l.speakerShown) drawSpeaker(port, l, GetMovieVolume(c.movie), glyph);
  if (l.growShown) drawGrow(port, l, glyph);
  ui::portChanged(port, l.bar);
}

}  // namespace vt::controller

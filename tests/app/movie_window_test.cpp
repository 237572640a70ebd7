// Movie windows driven as a user drives them, through the application's event dispatch and menus.
#include <cmath>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "effect_movie.h"
#include "fixtures.h"

#include "app_fixture.h"

namespace {

// Frame n of these fixtures is red n*4 on green 128, so the picture says which frame it is.
const std::string kNumbered = "format=rgb24,geq=r='N*4':g=128:b=0";
std::string numberedMovie(const std::string& name, const std::string& rate,
                          const std::string& filters = "", const std::string& options = "") {
  return vt_test::fixture(name, "-f lavfi -i \"color=s=96x72:r=" + rate + ":d=2," + kNumbered +
                                    filters + "\" " + options + " -c:v png");
}
// A blue movie of `size` ("WxH").
std::string solidMovie(const std::string& size) {
  return vt_test::fixture("fit_" + size + ".mov",
                          "-f lavfi -i color=c=blue:s=" + size + ":r=10:d=0.2 -c:v mjpeg");
}
// -1 for a picture that is none of them (black, the bar, another movie's).
int frameNumber(UInt32 argb) {
  if (std::abs((int)vt::pixelG(argb) - 128) > 2 || vt::pixelB(argb) > 2) return -1;
  return (int)std::lround(vt::pixelR(argb) / 4.0);
}

class MovieWindow : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    InstallMenuBar();
  }

  // Hands every queued event to the application as its event loop does, then one idle turn.
  void Deliver() {
    EventRecord e;
    for (int turn = 0; turn < 500; ++turn) {
      bool got = WaitNextEvent(everyEvent, &e, 0, nullptr);
      if (!QTApp_HandleEvent(&e)) {
        bool taken = false;
        for (WindowReference w = QTFrame_GetFrontMovieWindow(); w && !taken;
             w = QTFrame_GetNextMovieWindow(w))
          if (MovieController mc = QTFrame_GetMCFromWindow(w)) taken = MCIsPlayerEvent(mc, &e);
        if (!taken) QTFrame_HandleEvent(&e);
      }
      if (!got) return;
    }
    ADD_FAILURE() << "the event queue never emptied";
  }
  void Choose(short menu, short item) {
    ASSERT_TRUE(VTAutomationPostMenuChoice(menu, item));
    Deliver();
  }
  void Key(char key, EventModifiers mods = 0, int times = 1) {
    for (int i = 0; i < times; ++i) VTAutomationPostKey(key, mods);
    Deliver();
  }
  WindowReference Open(const std::string& path) {
    VTAutomationNavChooseFile(path);
    Choose(kFileMenuResID, 2);
    WindowReference w = QTFrame_GetFrontMovieWindow();
    EXPECT_NE(w, nullptr) << path;
    return w;
  }
  Rect Box(WindowReference w) {
    Rect r;
    GetMovieBox(Record(w).fMovie, &r);
    return r;
  }
  // A controller action taking movie time `t`.
  void Act(WindowReference w, short action, TimeValue t) {
    TimeRecord r{};
    r.value.lo = (UInt32)t;
    r.scale = GetMovieTimeScale(Record(w).fMovie);
    MCDoAction(QTFrame_GetMCFromWindow(w), action, &r);
  }
  void GoTo(WindowReference w, TimeValue t) { Act(w, mcActionGoToTime, t); }
  void Select(WindowReference w, TimeValue start, TimeValue duration) {
    Act(w, mcActionSetSelectionBegin, start);
    Act(w, mcActionSetSelectionDuration, duration);
  }
  // Drags the grow box by (dh, dv).
  void Grow(WindowReference w, short dh, short dv) {
    Rect c = InfoOf(w).content;
    Point grow{(short)(c.bottom - 4), (short)(c.right - 4)};
    VTAutomationPostDrag(grow, Point{(short)(grow.v + dv), (short)(grow.h + dh)});
    Deliver();
  }
  // Opens `path`, copies all of it and closes it again.
  void CopyAll(const std::string& path) {
    ASSERT_NE(Open(path), nullptr);
    Choose(kEditMenuResID, 8);
    Choose(kEditMenuResID, 4);
    Choose(kFileMenuResID, 3);
  }
  // What the window shows a few pixels into its movie.
  UInt32 Shown(WindowReference w) {
    Rect c = InfoOf(w).content;
    return VTAutomationScreenPixel((short)(c.left + 8), (short)(c.top + 8));
  }
};

// The movie as the public calls show it: for each track its kind, samples and edits (where
// each starts, for how long, and the media time it shows first).
std::string Structure(Movie m) {
  std::string s = "duration " + std::to_string(GetMovieDuration(m));
  for (long i = 1; i <= GetMovieTrackCount(m); ++i) {
    Track t = GetMovieIndTrack(m, i);
    OSType type = 0;
    GetMediaHandlerDescription(GetTrackMedia(t), &type, nullptr, nullptr);
    s += "\ntrack " + std::to_string(type) + " samples " +
         std::to_string(GetMediaSampleCount(GetTrackMedia(t))) + " edits";
    TimeValue at = 0, length = 0;
    GetTrackNextInterestingTime(t, nextTimeTrackEdit | nextTimeEdgeOK, 0, fixed1, &at, &length);
    for (int n = 0; at >= 0 && n < 1000; ++n) {
      s += " " + std::to_string(at) + "+" + std::to_string(length) + ">" +
           std::to_string(TrackTimeToMediaTime(at, t));
      GetTrackNextInterestingTime(t, nextTimeTrackEdit, at, fixed1, &at, &length);
    }
  }
  return s;
}

int Width(const Rect& r) { return r.right - r.left; }
int Height(const Rect& r) { return r.bottom - r.top; }

// A chosen file opens in a visible window with its name, scaled down at its shape when larger
// than the screen, bar included.
TEST_F(MovieWindow, OpensScaledToFitAndResizesAtTheMovieShape) {
  const struct { int w, h; } sizes[] = {{1920, 1080}, {600, 1400}, {320, 240}};
  Rect desk;
  GetRegionBounds(GetGrayRgn(), &desk);
  for (auto s : sizes) {
    std::string size = std::to_string(s.w) + "x" + std::to_string(s.h);
    SCOPED_TRACE(size);
    WindowReference w = Open(solidMovie(size));
    ASSERT_NE(w, nullptr);
    VTWindowInfo info = InfoOf(w);
    Rect box = Box(w);
    EXPECT_TRUE(info.visible);
    EXPECT_EQ(Title(w), "fit_" + size + ".mov");
    EXPECT_NE(Record(w).fFileRefNum, -1);
    EXPECT_FALSE(Record(w).fIsDirty);
    EXPECT_TRUE(info.structure.top >= desk.top && info.structure.left >= desk.left &&
                info.structure.bottom <= desk.bottom && info.structure.right <= desk.right);
    EXPECT_EQ(Height(info.content), Height(box) + 16) << "the bar is inside the window";
    if (s.w <= Width(desk) && s.h + 60 <= Height(desk)) {
      EXPECT_TRUE(Width(box) == s.w && Height(box) == s.h);
    } else {
      EXPECT_NEAR((double)Width(box) / Height(box), (double)s.w / s.h, 0.02);
      // The largest that fits: one side of the window meets the screen's.
      EXPECT_GE(
          std::max(Height(info.structure) - Height(desk), Width(info.structure) - Width(desk)), -2);
    }
    Choose(kFileMenuResID, 3);
  }

  // The grow box scales the picture at its shape (the larger of the two moves wins, down to a
  // smallest size); the zoom box goes to the largest size that fits and back to the user's.
  WindowReference w = Open(solidMovie("320x240"));
  ASSERT_NE(w, nullptr);
  const struct { short dh, dv; } drags[] = {{-1000, -1000}, {448, 10}, {10, 100}, {-40, -90}};
  for (auto d : drags) {
    SCOPED_TRACE(d.dh);
    const int w0 = Width(Box(w)), h0 = Height(Box(w));
    Grow(w, d.dh, d.dv);
    const Rect box = Box(w);
    if (d.dh == -1000)
      EXPECT_TRUE(Width(box) >= 32 && Width(box) <= 64) << Width(box);
    else
      EXPECT_NEAR(Width(box), std::max(w0 + d.dh, (h0 + d.dv) * w0 / h0), 1);
    EXPECT_NEAR(Width(box) * 3, Height(box) * 4, 4);
  }
  const Rect user = Box(w), placed = InfoOf(w).structure;
  for (bool zoomed : {true, false, true}) {
    SCOPED_TRACE(zoomed);
    Rect zoom;
    GetWindowBounds(w, kWindowZoomBoxRgn, &zoom);
    ASSERT_FALSE(EmptyRect(&zoom));
    VTAutomationPostClick(Centre(zoom));
    Deliver();
    VTWindowInfo info = InfoOf(w);
    Rect box = Box(w);
    EXPECT_NEAR(Width(box) * 3, Height(box) * 4, 4);
    if (zoomed) {
      EXPECT_GT(Width(box), Width(user));
      EXPECT_GE(Height(info.structure), Height(desk) - 2);
      EXPECT_LE(info.structure.bottom, desk.bottom);
    } else {
      EXPECT_TRUE(EqualRect(&box, &user));
      EXPECT_TRUE(EqualRect(&info.structure, &placed));
    }
  }
}

// Right shows the next frame and Left the one before, each frame exactly once, whatever the
// frame durations, time scales and edits.
TEST_F(MovieWindow, ArrowKeysStepThroughEveryFrameOnceAndPastesLand) {
  const std::string drop = ",select='not(eq(mod(n\\,7)\\,3))'",
                    vfr = "-fps_mode vfr -video_track_timescale 30000";
  const struct {
    const char* name;
    std::string path;
    int cutAt, cut;  // frames cut from the movie through the window before stepping
  } movies[] = {
      {"30 fps", numberedMovie("step_30.mov", "30"), 0, 0},
      {"29.97 fps, variable", numberedMovie("step_vfr.mov", "30000/1001", drop, vfr), 0, 0},
      {"edited", numberedMovie("step_vfr.mov", "30000/1001", drop, vfr), 20, 10},
  };
  for (const auto& m : movies) {
    SCOPED_TRACE(m.name);
    WindowReference w = Open(m.path);
    ASSERT_NE(w, nullptr);
    Track track = GetMovieIndTrackType(Record(w).fMovie, 1, VideoMediaType, movieTrackMediaType);
    const long frames = GetMediaSampleCount(GetTrackMedia(track)) - m.cut;
    ASSERT_GT(frames, 40);
    if (m.cut) {
      Key((char)kRightArrowCharCode, 0, m.cutAt);
      Key((char)kRightArrowCharCode, shiftKey, m.cut);
      Choose(kEditMenuResID, 3);
      Key((char)kHomeCharCode);
    }
    // Every frame is a different picture, so a strictly rising run of them as long as the movie's
    // frames, ending on the last, is every frame once, in order.
    std::vector<int> forward{frameNumber(Shown(w))}, back;
    EXPECT_EQ(forward[0], 0);
    for (long i = 1; i < frames; ++i) {
      Key((char)kRightArrowCharCode);
      forward.push_back(frameNumber(Shown(w)));
      EXPECT_GT(forward[i], forward[i - 1]) << "step " << i;
    }
    for (long i = frames - 2; i >= 0; --i) {
      Key((char)kLeftArrowCharCode);
      back.insert(back.begin(), frameNumber(Shown(w)));
    }
    const int last = forward.back();
    forward.pop_back();
    EXPECT_EQ(back, forward);
    Key((char)kEndCharCode);
    EXPECT_EQ(frameNumber(Shown(w)), last) << "the last frame";
    VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesDontSave);
    Choose(kFileMenuResID, 3);
  }

  // Frames copied from a movie and pasted into File > New are in the file Save writes, as
  // movie-frame draws it from there.
  WindowReference from = Open(numberedMovie("paste_src.mov", "10"));
  ASSERT_NE(from, nullptr);
  Key((char)kRightArrowCharCode, 0, 5);
  Key((char)kRightArrowCharCode, shiftKey, 8);  // frames 5 to 12
  Choose(kEditMenuResID, 4);
  Choose(kFileMenuResID, 1);
  WindowReference w = QTFrame_GetFrontMovieWindow();
  ASSERT_NE(w, from);
  Choose(kEditMenuResID, 5);
  EXPECT_GE(frameNumber(Shown(w)), 5) << "the window shows the pasted picture";
  VTAutomationNavSaveAs(tempDir_, "pasted.mov");
  Choose(kFileMenuResID, 4);
  const std::string saved = tempDir_ + "/pasted.mov", png = tempDir_ + "/frame.png";
  // Times in seconds and the source frame there.
  const std::pair<const char*, int> shots[] = {{"0", 5}, {"0.45", 9}, {"0.75", 12}};
  for (auto [time, frame] : shots) {
    const vt::Image img = FrameOf(saved, png, time);
    EXPECT_EQ(frameNumber(img.pixels.at(8 * img.width + 8)), frame) << time;
  }
  EXPECT_NE(vt_test::run(Tool("movie-frame") + " '" + saved + "' --time 0.85 -o '" + png +
                         "' 2>/dev/null"),
            0)
      << "past the end";

  // Frames pasted into an effect movie go into a track of their own, are drawn where they land
  // (not hidden behind the effect), and the effect goes on after them.
  auto colour = [](const std::string& name, const char* c, const std::string& more) {
    return vt_test::fixture(
        name, std::string("-f lavfi -i color=c=") + c + ":s=64x48:r=10:d=2 -c:v png " + more);
  };
  const std::string fx = tempDir_ + "/fade.mov";
  ASSERT_EQ(vt_test::makeEffectMovie(fx, colour("fxp_red.mov", "0xC83C14", ""),
                                     colour("fxp_blue.mov", "0x1450C8", ""), 'dslv', 64, 48, true),
            noErr);
  CopyAll(colour("fxp_green.mov", "0x14C83C", "-video_track_timescale 600"));
  w = Open(fx);
  ASSERT_NE(w, nullptr);
  Movie m = Record(w).fMovie;
  const long tracks = GetMovieTrackCount(m);
  const TimeValue d = GetMovieDuration(m);
  Key((char)kRightArrowCharCode, 0, 5);
  const TimeValue at = GetMovieTime(m, nullptr);
  ASSERT_GT(at, 0);
  Choose(kEditMenuResID, 5);
  EXPECT_EQ(GetMovieTrackCount(m), tracks + 1);
  const TimeValue pasted = GetMovieDuration(m) - d;
  ASSERT_GT(pasted, 0);
  for (TimeValue t : {at, at + pasted / 2, at + pasted - 1}) {
    GoTo(w, t);
    UInt32 p = Shown(w);
    EXPECT_TRUE(vt::pixelG(p) > 180 && vt::pixelR(p) < 60) << std::hex << p << " at " << t;
  }
  GoTo(w, at + pasted + d / 4);  // the fade halfway through its own time
  UInt32 p = Shown(w);
  EXPECT_TRUE(vt::pixelR(p) > 70 && vt::pixelR(p) < 150 && vt::pixelB(p) > 70 &&
              vt::pixelB(p) < 150)
      << std::hex << p;
}

// Select 1-2 s, Home, then Shift+Right ten times: the selection is a new one of the ten frames
// from the playhead, and Cut removes exactly those.
TEST_F(MovieWindow, ShiftArrowsFromHomeSelectAndCutTheFramesFromThePlayhead) {
  WindowReference w = Open(numberedMovie("sel_30.mov", "30"));
  ASSERT_NE(w, nullptr);
  Movie m = Record(w).fMovie;
  const TimeScale s = GetMovieTimeScale(m);
  const TimeValue whole = GetMovieDuration(m);
  ASSERT_EQ(whole, 2 * s);
  Select(w, s, s);
  Key((char)kHomeCharCode);
  Key((char)kRightArrowCharCode, shiftKey, 10);
  TimeValue st = -1, sd = -1;
  GetMovieSelection(m, &st, &sd);
  EXPECT_EQ(st, 0);
  EXPECT_NEAR(sd, s / 3, 1) << "ten frames at 30 fps";
  Choose(kEditMenuResID, 3);
  EXPECT_EQ(GetMovieDuration(m), whole - sd);
  // Frames 10 to 59 are all there, in order: exactly the first ten went.
  for (int k = 0; k < 50; ++k) {
    GoTo(w, (TimeValue)((int64_t)k * s / 30 + s / 60));
    EXPECT_EQ(frameNumber(Shown(w)), k + 10) << "frame " << k << " after the cut";
  }
  EXPECT_TRUE(Record(w).fIsDirty);
}

// Ten edits of every kind (cut, paste, clear, Delete, pastes of sound), each marking the
// document changed, are undone one by one through the Edit menu back to the movie as opened,
// and redone by both Redo keys to the last, each step giving the same structure and the same
// frames as when it was made. Redo marks the document changed, so closing after it asks to save.
TEST_F(MovieWindow, UndoAndRedoRetraceTenMixedEditsAndRedoAsksToSave) {
  const std::string sound = vt_test::fixture(
      "undo_sound.mov", "-f lavfi -i sine=frequency=440:duration=0.5 -c:a pcm_s16le");
  WindowReference w = Open(numberedMovie("undo_10.mov", "10"));
  ASSERT_NE(w, nullptr);
  Movie m = Record(w).fMovie;
  const TimeValue f = GetMovieTimeScale(m) / 10;
  auto frames = [&] {
    std::vector<int> shown;
    Deliver();
    for (TimeValue t = f / 2; t < GetMovieDuration(m); t += f) {
      GoTo(w, t);
      shown.push_back(frameNumber(Shown(w)));
    }
    return shown;
  };
  auto copySound = [&] {
    CopyAll(sound);
    ASSERT_EQ(QTFrame_GetFrontMovieWindow(), w);
  };
  auto at = [&](TimeValue start, TimeValue length, short item) {
    Select(w, start, length);
    GoTo(w, start);
    if (item)
      Choose(kEditMenuResID, item);
    else
      Key((char)kDeleteCharCode);
  };
  const std::function<void()> edits[] = {
      [&] { at(2 * f, 3 * f, 3); },                // cut
      [&] { at(0, 0, 5); },                        // paste
      [&] { at(5 * f, 2 * f, 6); },                // clear
      [&] { at(3 * f, 2 * f, 0); },                // Delete
      [&] { copySound(), at(4 * f, 0, 5); },       // paste of sound
      [&] { at(0, 2 * f, 3); },                    // cut
      [&] { at(6 * f, 0, 5); },                    // paste
      [&] { at(f, f, 6); },                        // clear
      [&] { copySound(), at(10 * f, 2 * f, 5); },  // paste of sound over a selection
      [&] { at(0, f, 0); },                        // Delete
  };
  std::vector<std::string> structures{Structure(m)};
  std::vector<std::vector<int>> pictures{frames()};
  for (size_t i = 0; i < std::size(edits); ++i) {
    Record(w).fIsDirty = false;
    edits[i]();
    EXPECT_TRUE(Record(w).fIsDirty) << "edit " << i + 1 << ", by the menu or by Delete";
    structures.push_back(Structure(m));
    pictures.push_back(frames());
    ASSERT_NE(structures[i + 1], structures[i]) << "edit " << i + 1 << " changed nothing";
  }
  EXPECT_EQ(GetMovieTrackCount(m), 2);
  for (size_t i = std::size(edits); i-- > 0;) {
    SCOPED_TRACE("undo to " + std::to_string(i));
    Choose(kEditMenuResID, 1);
    EXPECT_EQ(Structure(m), structures[i]);
    EXPECT_EQ(frames(), pictures[i]);
  }
  QTFrame_AdjustMenus(w, NULL);
  EXPECT_FALSE(Item(kEditMenuResID, 1).enabled) << "back where the movie was opened";
  for (size_t i = 1; i <= std::size(edits); ++i) {
    SCOPED_TRACE("redo to " + std::to_string(i));
    Key(i % 2 ? 'Z' : 'y', i % 2 ? cmdKey | shiftKey : cmdKey);  // both Redo keys
    EXPECT_EQ(Structure(m), structures[i]);
    EXPECT_EQ(frames(), pictures[i]);
  }

  // Saved under a new name by Ctrl+Shift+S, undone and saved again: a Redo is an unsaved edit.
  VTAutomationNavSaveAs(tempDir_, "redone.mov");
  Key('S', cmdKey | shiftKey);
  EXPECT_EQ(Title(w), "redone.mov");
  EXPECT_FALSE(Record(w).fIsDirty);
  m = Record(w).fMovie;
  at(0, 2 * f, 3);
  Choose(kEditMenuResID, 1);
  Choose(kFileMenuResID, 4);
  ASSERT_FALSE(Record(w).fIsDirty);
  Key('y', cmdKey);
  EXPECT_TRUE(Record(w).fIsDirty);
  const long asked = VTAutomationNavDialogCount();
  VTAutomationNavAnswerSaveChanges(kNavAskSaveChangesDontSave);
  Choose(kFileMenuResID, 3);
  EXPECT_EQ(VTAutomationNavDialogCount(), asked + 1);
  EXPECT_EQ(VTAutomationNavLastShown().kind, VTNavDialogKind::saveChanges);
  EXPECT_EQ(WindowCount(), 0);
}

// A window shrunk with the grow box exports the movie at its own size; the dialog shows that
// size and offers the size as shown as well.
TEST_F(MovieWindow, ExportWritesTheOwnSizeOrTheSizeShownWhenChosen) {
  WindowReference w = Open(vt_test::fixture(
      "export_size.mov", "-f lavfi -i testsrc=size=320x240:rate=25 -t 0.4 -c:v libx264"));
  ASSERT_NE(w, nullptr);
  Grow(w, -160, -100);
  const Rect shown = Box(w);
  ASSERT_LT(Width(shown), 200);
  const std::string dir = vt_test::tempDir("export-size"),
                    size = std::to_string(Width(shown)) + "," + std::to_string(Height(shown));
  const struct {
    int format;
    const char* name;
    std::string size;
  } cases[] = {{0, "own.mp4", "320,240"}, {5, "shown", size}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    VTAutomationNavSaveAs(dir, k.name, true, k.format);
    QTFrame_HandleMenuCommand(kExportItem);
    const auto formats = VTAutomationNavLastShown().formats;
    ASSERT_EQ(formats.size(), 6u);
    EXPECT_EQ(formats[0], "MPEG-4 (H.264, AAC), 320 \xC3\x97 240");
    EXPECT_NE(formats[5].find(std::to_string(Width(shown)) + " \xC3\x97 " +
                              std::to_string(Height(shown)) + " as shown"),
              std::string::npos)
        << formats[5];
    const std::string media =
        k.format == 5 ? dir + "/" + k.name + "/frame-%06d.png" : dir + "/" + k.name;
    EXPECT_EQ(Probe(media, "-show_entries stream=width,height"), k.size + "\n");
  }
}

}  // namespace

// The SDL backend on a real (virtual) display. Run under xvfb-run; skips without a display.
#include <MovieControllers.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>

#include "appleevents/ae_queue.h"
#include "core/image.h"
#include "events/backend.h"
#include "events/event_queue.h"
#include "fixtures.h"
#include "movies.h"

namespace {

class SdlScreen : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // CTest asks for headless; this test exists to exercise the real backend where there is a
    // display.
    setenv("VANTREL_HEADLESS", "auto", 1);
    setenv("VANTREL_SCREEN_SIZE", "800x600", 1);
    // A private instance socket: a running application must not take this process's launch.
    setenv("XDG_RUNTIME_DIR", vt_test::tempDir("sdl-runtime").c_str(), 1);
  }
  void SetUp() override {
    if (vt::events::backend().isHeadless()) GTEST_SKIP() << "no display";
    vt::ae::reset();
    FlushEvents(everyEvent, 0);
  }
};

bool nextOfKind(EventKind kind, EventRecord& e) {
  for (int i = 0; i < 200; ++i) {
    if (WaitNextEvent(everyEvent, &e, 1, nullptr) && e.what == kind) return true;
    if (e.what == updateEvt) {
      BeginUpdate((WindowRef)e.message);
      EndUpdate((WindowRef)e.message);
    }
  }
  return false;
}

void pushKey(SDL_Keycode sym, SDL_Scancode code, Uint16 mod = 0) {
  SDL_Event ev{};
  ev.type = SDL_KEYDOWN;
  ev.key.keysym.sym = sym;
  ev.key.keysym.scancode = code;
  ev.key.keysym.mod = mod;
  ASSERT_EQ(SDL_PushEvent(&ev), 1);
}

}  // namespace

TEST_F(SdlScreen, ScreenWindowsMouseKeysTypedTextAndSignals) {
  EXPECT_STREQ(vt::events::backend().name(), "sdl");
  EXPECT_EQ(vt::events::backend().screenWidth(), 800);
  Rect r{100, 100, 300, 400};
  WindowRef w = NewCWindow(nullptr, &r, (ConstStr255Param) "\x04Test", true, noGrowDocProc,
                           (WindowRef)-1, true, 0);
  ASSERT_NE(w, nullptr);
  SetPort(GetWindowPort(w));
  Rect box{10, 10, 50, 50};
  PaintRect(&box);
  EventRecord e;
  EXPECT_TRUE(nextOfKind(updateEvt, e));
  EXPECT_EQ((WindowRef)e.message, w);
  BeginUpdate(w);
  EndUpdate(w);
  DisposeWindow(w);

  SDL_Event ev{};
  ev.type = SDL_MOUSEBUTTONDOWN;
  ev.button.button = SDL_BUTTON_LEFT;
  ev.button.x = 321;
  ev.button.y = 123;
  ASSERT_EQ(SDL_PushEvent(&ev), 1);
  ASSERT_TRUE(nextOfKind(mouseDown, e));
  EXPECT_EQ(e.where.h, 321);
  EXPECT_EQ(e.where.v, 123);
  EXPECT_TRUE(Button());
  ev.type = SDL_MOUSEBUTTONUP;
  ASSERT_EQ(SDL_PushEvent(&ev), 1);
  ASSERT_TRUE(nextOfKind(mouseUp, e));
  EXPECT_FALSE(Button());

  pushKey(SDLK_q, SDL_SCANCODE_Q, KMOD_LCTRL);
  pushKey(SDLK_a, SDL_SCANCODE_A, KMOD_LSHIFT | KMOD_LALT);
  pushKey(SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER);
  ASSERT_TRUE(nextOfKind(keyDown, e));
  EXPECT_EQ(e.message & charCodeMask, (unsigned long)'q');
  EXPECT_EQ((e.message & keyCodeMask) >> 8, (unsigned long)SDL_SCANCODE_Q);
  EXPECT_TRUE(e.modifiers & cmdKey);
  ASSERT_TRUE(nextOfKind(keyDown, e));
  EXPECT_EQ(e.message & charCodeMask, (unsigned long)'A');
  EXPECT_TRUE(e.modifiers & optionKey);
  EXPECT_TRUE(e.modifiers & shiftKey);
  EXPECT_FALSE(e.modifiers & cmdKey);
  ASSERT_TRUE(nextOfKind(keyDown, e));
  EXPECT_EQ(e.message & charCodeMask, (unsigned long)kEnterCharCode);

  // A key that types text and the text it typed: one key-down, carrying the text's character.
  pushKey(SDLK_e, SDL_SCANCODE_E);
  SDL_Event text{};
  text.type = SDL_TEXTINPUT;
  std::strcpy(text.text.text, "\xC3\xA9");  // the layout made it e-acute
  SDL_Event commit = text;                  // an input method's commit: text without a key
  std::strcpy(commit.text.text, "\xE6\x97\xA5\xE6\x9C\xAC");
  for (SDL_Event* t : {&text, &commit}) ASSERT_EQ(SDL_PushEvent(t), 1);
  std::vector<char32_t> typed;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(nextOfKind(keyDown, e));
    typed.push_back(vt::events::typedCodePoint(e));
  }
  EXPECT_EQ(typed, (std::vector<char32_t>{U'\u00E9', U'\u65E5', U'\u672C'}));
  EXPECT_EQ(e.message & charCodeMask, 0u);    // no Mac Roman form
  EXPECT_FALSE(EventAvail(keyDownMask, &e));  // nothing typed twice

  vt::events::setClipboardText("clip \xE6\x97\xA5");
  EXPECT_EQ(vt::events::clipboardText(), "clip \xE6\x97\xA5");

  // SIGTERM and closing the display quit; SIGUSR1 writes a snapshot.
  std::raise(SIGTERM);
  ASSERT_TRUE(nextOfKind(kHighLevelEvent, e));
  EXPECT_EQ(e.message, (unsigned long)'aevt');
  EXPECT_EQ((UInt32)(((UInt16)e.where.v << 16) | (UInt16)e.where.h), (UInt32)'quit');
  ev = SDL_Event{};
  ev.type = SDL_QUIT;
  ASSERT_EQ(SDL_PushEvent(&ev), 1);
  ASSERT_TRUE(nextOfKind(kHighLevelEvent, e));
  EXPECT_EQ((UInt32)(((UInt16)e.where.v << 16) | (UInt16)e.where.h), (UInt32)'quit');

  std::string path = vt_test::tempDir("sdl-snapshot") + "/screen.png";
  setenv("VANTREL_SNAPSHOT_PATH", path.c_str(), 1);
  std::raise(SIGUSR1);
  WaitNextEvent(everyEvent, &e, 0, nullptr);
  vt::Image img;
  ASSERT_TRUE(vt::readPNG(path.c_str(), img));
  EXPECT_EQ(img.width, 800);
  EXPECT_EQ(img.height, 600);
  unsetenv("VANTREL_SNAPSHOT_PATH");
}

// Sound goes out through SDL audio: its disk driver writes what it plays to a file.
TEST_F(SdlScreen, MovieSoundPlaysThroughSdlAudio) {
  std::string out = vt_test::tempDir("sdl-sound") + "/out.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
  ASSERT_EQ(EnterMovies(), noErr);
  std::string path = vt_test::fixture(
      "sdl_tone.mov", "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 -c:a pcm_s16le");
  Movie movie = vt_test::openMovie(path);
  ASSERT_NE(movie, nullptr);
  Rect r{100, 100, 200, 400}, box{0, 0, 0, 0};
  WindowRef w = NewCWindow(nullptr, &r, (ConstStr255Param) "\x04Tone", true, noGrowDocProc,
                           (WindowRef)-1, true, 0);
  SetMovieGWorld(movie, GetWindowPort(w), nullptr);
  MovieController mc = NewMovieController(movie, &box, mcTopLeftMovie);
  MCDoAction(mc, mcActionPlay, (void*)(intptr_t)IntToFixed(1));
  for (int i = 0; i < 400 && GetMovieRate(movie) != 0; ++i, SDL_Delay(5)) MCIdle(mc);
  EXPECT_EQ(GetMovieRate(movie), 0) << "played to the end by the sound's clock";
  DisposeMovieController(mc);
  DisposeMovie(movie);
  DisposeWindow(w);
  // Stereo float at 48 kHz: count the tone's rising zero crossings.
  std::ifstream in(out, std::ios::binary);
  std::vector<float> s(48000 * 4);
  s.resize((size_t)in.read((char*)s.data(), (std::streamsize)(s.size() * 4)).gcount() / 4);
  long crossings = 0, sounding = 0;
  for (size_t i = 2; i < s.size(); i += 2) {
    crossings += s[i - 2] < 0 && s[i] >= 0;
    sounding += std::fabs(s[i]) > 1e-3;
  }
  ASSERT_GT(sounding, 40000);
  EXPECT_NEAR(crossings * 48000.0 / sounding, 440, 10);
}

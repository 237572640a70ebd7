// The display backend behind the window server: a small table of operations that the SDL2
// backend and the always-built headless backend provide.
#pragma once
#include <MacTypes.h>
#include <Quickdraw.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/image.h"

namespace vt::events {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual const char* name() const = 0;
  virtual bool isHeadless() const = 0;
  virtual int screenWidth() const = 0;
  virtual int screenHeight() const = 0;
  // Reads host input and posts it as events (nothing for headless).
  virtual void pumpInput() = 0;
  // Shows the composed screen; `damage` (global) is the part that changed.
  virtual void present(const vt::Image& screen, const Rect& damage) = 0;
  // Sixtieths of a second since the backend started.
  virtual uint32_t ticks() = 0;
  // Sleeps until host input arrives or `ms` pass (headless: returns at once).
  virtual void waitForInput(int ms) = 0;
  // The cursor to show (null: the standard arrow); a visibility change.
  virtual void setCursor(const Cursor*, bool visible) { (void)visible; }
  // The system clipboard's text, UTF-8 (headless: one kept in memory).
  virtual std::string clipboardText() = 0;
  virtual void setClipboardText(std::string_view utf8) = 0;
  // Headless clock control; other backends ignore it.
  virtual void advanceTicks(uint32_t) {}
  // Headless: the screen takes a new size (64 to 8192 pixels a side); false elsewhere.
  virtual bool resizeScreen(int, int) { return false; }
};

// The backend in use, chosen on first use: headless when VANTREL_HEADLESS=1 or when a caller
// asked for it (useHeadless), headless too when no display backend is registered; otherwise
// the registered SDL backend. When that cannot start (no display), the program says so in one
// line and exits with status 1: an application running on invisibly could not even be quit.
// VANTREL_HEADLESS=auto takes the display when there is one and headless quietly otherwise.
Backend& backend();
bool haveBackend();
// Replaces the backend by a headless one of the given size; its clock moves only when advanced,
// or with real time when `wallClock` (benchmarks of real-time playback).
void useHeadless(int width, int height, bool wallClock = false);

// The SDL area registers its factory from a static constructor in an object file that every
// program linking it compiles (see backend_sdl/CMakeLists.txt). Returns null when it cannot
// start (e.g. no display), with the reason in `why`.
using BackendFactory = std::unique_ptr<Backend> (*)(std::string& why);
void registerBackendFactory(BackendFactory factory);

// How SysBeep is noticed: a short tone through the sound output (registered by the audio area;
// false when there is no sound device), failing that a flash of the menu bar (the menus area).
using BeepSound = bool (*)();
using BeepFlash = void (*)();
void registerBeepSound(BeepSound sound);
void registerBeepFlash(BeepFlash flash);

// Called whenever the backend is replaced, so the window server can reset its screen.
using BackendChangedHook = void (*)();
void setBackendChangedHook(BackendChangedHook hook);

}  // namespace vt::events

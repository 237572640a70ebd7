#include "events/backend.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vt::events {
namespace {

// In-memory screen: input is injected through the queue, time moves only when told to (or,
// on a wall clock, with real time as well).
class HeadlessBackend final : public Backend {
 public:
  HeadlessBackend(int w, int h, bool wallClock = false) : w_(w), h_(h), wall_(wallClock) {}
  const char* name() const override { return "headless"; }
  bool isHeadless() const override { return true; }
  int screenWidth() const override { return w_; }
  int screenHeight() const override { return h_; }
  // Deliberately does nothing: headless input arrives only through the automation API.
  void pumpInput() override {}
  // Deliberately does nothing: the composed screen is kept by the window server and read from
  // there by snapshots.
  void present(const vt::Image&, const Rect&) override {}
  uint32_t ticks() override {
    if (!wall_) return ticks_;
    auto elapsed = std::chrono::steady_clock::now() - start_;
    return ticks_ +
           (uint32_t)(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * 60 /
                      1000000);
  }
  void waitForInput(int) override {}
  void advanceTicks(uint32_t n) override { ticks_ += n; }
  bool resizeScreen(int w, int h) override {
    if (w < 64 || h < 64 || w > 8192 || h > 8192) return false;
    w_ = w;
    h_ = h;
    return true;
  }
  std::string clipboardText() override { return clipboard_; }
  void setClipboardText(std::string_view utf8) override { clipboard_ = utf8; }

 private:
  int w_, h_;
  bool wall_;
  uint32_t ticks_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::string clipboard_;
};

struct Selection {
  std::unique_ptr<Backend> current;
  BackendFactory factory = nullptr;
  BackendChangedHook changed = nullptr;
};

// Never destroyed: the backend (and the display libraries it loaded) lives until the process
// ends, whatever order other static objects go in.
Selection& sel() {
  static Selection* s = new Selection();
  return *s;
}

int clampDim(int v, int def) { return v >= 64 && v <= 8192 ? v : def; }

}  // namespace

Backend& backend() {
  Selection& s = sel();
  if (!s.current) {
    const char* env = std::getenv("VANTREL_HEADLESS");
    bool headless = env && std::strcmp(env, "1") == 0;
    bool fallback = env && std::strcmp(env, "auto") == 0;
    if (!headless && s.factory) {
      std::string why;
      s.current = s.factory(why);
      if (!s.current && !fallback) {
        std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, why.c_str());
        std::exit(1);
      }
    }
    if (!s.current) s.current = std::make_unique<HeadlessBackend>(1280, 800);
    if (s.changed) s.changed();
  }
  return *s.current;
}

bool haveBackend() { return sel().current != nullptr; }

void useHeadless(int width, int height, bool wallClock) {
  Selection& s = sel();
  s.current =
      std::make_unique<HeadlessBackend>(clampDim(width, 1280), clampDim(height, 800), wallClock);
  if (s.changed) s.changed();
}

void registerBackendFactory(BackendFactory factory) { sel().factory = factory; }

void setBackendChangedHook(BackendChangedHook hook) { sel().changed = hook; }

}  // namespace vt::events

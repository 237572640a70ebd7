// The SDL2 backend: one SDL window is the whole screen.
#include <SDL.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "appleevents/ae_queue.h"
#include "core/icon.h"
#include "events/backend.h"
#include "events/event_queue.h"
#include "ui/window_server.h"

namespace vt::backend_sdl {
namespace {

volatile std::sig_atomic_t gSnapshotRequested = 0;
std::atomic<bool> gRaiseRequested{false};

void onRaise() { gRaiseRequested = true; }

constexpr int kMinWidth = 640, kMinHeight = 480, kMaxSide = 8192;
// Left above a first run's window for the title bar a window manager adds.
constexpr int kTitleAllowance = 40;

// The screen window's place and size, kept between runs.
struct Geometry {
  int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
  int w = 1280, h = 800;
};

std::string geometryPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string dir;
  if (config && config[0] == '/')
    dir = config;
  else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
    dir = std::string(home) + "/.config";
  else
    return {};
  return dir + "/vantrel/screen";
}

Geometry loadGeometry() {
  Geometry g;
  std::ifstream in(geometryPath());
  int x, y, w, h, display = 0;
  const bool saved =
      in >> x >> y >> w >> h && w >= kMinWidth && h >= kMinHeight && w <= kMaxSide && h <= kMaxSide;
  if (saved) {
    g.w = w;
    g.h = h;
    // Only where a display still shows the title bar (a monitor may have gone).
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
      SDL_Rect d;
      if (SDL_GetDisplayBounds(i, &d) == 0 && x + 100 > d.x && x < d.x + d.w && y >= d.y &&
          y < d.y + d.h - 40) {
        g.x = x;
        g.y = y;
        display = i;
      }
    }
  }
  // The window fits the display it opens on, so its menu bar is never above the top edge: a
  // first run leaves room for a title bar; a size saved on a larger monitor is cut to this one.
  SDL_Rect u;
  if (SDL_GetDisplayUsableBounds(display, &u) == 0 && u.w > 0 && u.h > 0) {
    const int room = saved ? 0 : kTitleAllowance;
    g.w = std::max(kMinWidth, std::min(g.w, u.w));
    g.h = std::max(kMinHeight, std::min(g.h, u.h - room));
  }
  if (const char* size = std::getenv("VANTREL_SCREEN_SIZE")) {
    int sw = 0, sh = 0;
    if (std::sscanf(size, "%dx%d", &sw, &sh) == 2 && sw >= 320 && sh >= 240 && sw <= 4096 &&
        sh <= 4096) {
      g.w = sw;
      g.h = sh;
    }
  }
  return g;
}

void saveGeometry(SDL_Window* window) {
  std::string path = geometryPath();
  if (path.empty() || (SDL_GetWindowFlags(window) &
                       (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_FULLSCREEN | SDL_WINDOW_MINIMIZED)))
    return;
  int x, y, w, h;
  SDL_GetWindowPosition(window, &x, &y);
  SDL_GetWindowSize(window, &w, &h);
  std::string dir = path.substr(0, path.rfind('/'));
  ::mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0700);
  ::mkdir(dir.c_str(), 0700);
  // Written whole under another name first, so a crash never leaves half a line.
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << x << ' ' << y << ' ' << w << ' ' << h << '\n';
    if (!out) return;
  }
  std::rename(tmp.c_str(), path.c_str());
}

void onSignal(int) { vt::ae::postQuitFromSignal(); }
void onSnapshotSignal(int) { gSnapshotRequested = 1; }

// Where SIGUSR1 writes the screen: $VANTREL_SNAPSHOT_PATH, else /tmp/vantrel-<pid>.png.
std::string snapshotPath() {
  if (const char* p = std::getenv("VANTREL_SNAPSHOT_PATH"); p && *p) return p;
  return "/tmp/vantrel-" + std::to_string((long)getpid()) + ".png";
}

EventModifiers modifiersOf(Uint16 mod) {
  EventModifiers m = 0;
  if (mod & KMOD_CTRL) m |= cmdKey;
  if (mod & KMOD_SHIFT) m |= shiftKey;
  if (mod & KMOD_ALT) m |= optionKey;
  if (mod & KMOD_CAPS) m |= alphaLock;
  if (mod & KMOD_GUI) m |= controlKey;
  return m;
}

// The character a key gives (US layout for shifted symbols); 0 for keys that give none.
unsigned char charOf(const SDL_Keysym& k) {
  switch (k.sym) {
    case SDLK_RETURN: return kReturnCharCode;
    case SDLK_KP_ENTER: return kEnterCharCode;
    case SDLK_ESCAPE: return kEscapeCharCode;
    case SDLK_BACKSPACE: return kBackspaceCharCode;
    case SDLK_TAB: return kTabCharCode;
    case SDLK_DELETE: return kDeleteCharCode;
    case SDLK_LEFT: return kLeftArrowCharCode;
    case SDLK_RIGHT: return kRightArrowCharCode;
    case SDLK_UP: return kUpArrowCharCode;
    case SDLK_DOWN: return kDownArrowCharCode;
    case SDLK_HOME: return kHomeCharCode;
    case SDLK_END: return kEndCharCode;
    case SDLK_PAGEUP: return kPageUpCharCode;
    case SDLK_PAGEDOWN: return kPageDownCharCode;
    default: break;
  }
  if (k.sym < 32 || k.sym > 126) return 0;
  char c = (char)k.sym;
  bool shift = (k.mod & KMOD_SHIFT) != 0;
  bool caps = (k.mod & KMOD_CAPS) != 0;
  // Command keys report the plain character, as menu equivalents expect.
  if (k.mod & KMOD_CTRL) return (unsigned char)c;
  if (c >= 'a' && c <= 'z') return (unsigned char)((shift != caps) ? c - 32 : c);
  if (!shift) return (unsigned char)c;
  static const char kPlain[] = "1234567890-=[]\\;',./`";
  static const char kShifted[] = "!@#$%^&*()_+{}|:\"<>?~";
  const char* at = std::strchr(kPlain, c);
  return (unsigned char)(at ? kShifted[at - kPlain] : c);
}

// Opens SDL's video on the display the environment names, and only there: SDL's own fallbacks
// would try Wayland for an X display that failed (printing about XDG_RUNTIME_DIR) and end on
// drivers that show nothing. On failure SDL's error is the one line the user will read.
bool openVideo() {
  auto env = [](const char* name) -> std::string {
    const char* v = std::getenv(name);
    return v ? v : "";
  };
  auto tryDriver = [](const char* driver) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, driver);
    return SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
  };
  const std::string asked = env("SDL_VIDEODRIVER"), x11 = env("DISPLAY");
  std::string wayland = env("WAYLAND_DISPLAY");
  if (!asked.empty()) {
    // The user's choice, whatever it is, and SDL's own words when it fails.
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0) return true;
    std::string why = SDL_GetError();
    SDL_SetError("cannot open a display with SDL_VIDEODRIVER=%s (%s)", asked.c_str(), why.c_str());
    return false;
  }
  if (wayland.empty() && !env("XDG_RUNTIME_DIR").empty()) {
    // A Wayland session may leave WAYLAND_DISPLAY unset: its socket has the default name.
    struct stat st {};
    if (::stat((env("XDG_RUNTIME_DIR") + "/wayland-0").c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
      wayland = "wayland-0";
  }
  if (!x11.empty() && tryDriver("x11")) return true;
  if (!wayland.empty() && tryDriver("wayland")) return true;
  if (!x11.empty())
    SDL_SetError("cannot open the X display \"%s\"", x11.c_str());
  else if (!wayland.empty())
    SDL_SetError("cannot open the Wayland display \"%s\"", wayland.c_str());
  else
    SDL_SetError("no display to open: DISPLAY and WAYLAND_DISPLAY are not set");
  return false;
}

class SdlBackend final : public vt::events::Backend {
 public:
  static std::unique_ptr<SdlBackend> create() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (!openVideo()) return nullptr;
    Geometry g = loadGeometry();
    auto b = std::unique_ptr<SdlBackend>(new SdlBackend(g.w, g.h));
    if (!b->open(g)) return nullptr;
    return b;
  }

  ~SdlBackend() override {
    if (cursor_) SDL_FreeCursor(cursor_);
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  }

  const char* name() const override { return "sdl"; }
  bool isHeadless() const override { return false; }
  int screenWidth() const override { return w_; }
  int screenHeight() const override { return h_; }

  void pumpInput() override {
    SDL_Event ev;
    while (SDL_PollEvent(&ev)) handle(ev);
    flushPendingKey();
    if (gRaiseRequested.exchange(false)) {
      // Another launch handed over: show ourselves, in front, with the keyboard.
      if (SDL_GetWindowFlags(window_) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(window_);
      SDL_RaiseWindow(window_);
      SDL_SetWindowInputFocus(window_);
    }
    if (gSnapshotRequested) {
      // Lets an outside script (the end-to-end test, the README's screenshot) see the screen.
      gSnapshotRequested = 0;
      vt::writePNG(vt::ui::composeScreen(), snapshotPath().c_str());
    }
  }

  void present(const vt::Image& screen, const Rect& damage) override {
    if (screen.width != w_ || screen.height != h_) return;
    SDL_Rect r{damage.left, damage.top, damage.right - damage.left, damage.bottom - damage.top};
    if (r.w <= 0 || r.h <= 0) return;
    SDL_UpdateTexture(texture_, &r, screen.row(r.y) + r.x, screen.width * 4);
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
  }

  uint32_t ticks() override { return (uint32_t)(SDL_GetTicks64() * 60 / 1000); }

  void waitForInput(int ms) override { SDL_WaitEventTimeout(nullptr, ms); }

  std::string clipboardText() override {
    char* text = SDL_GetClipboardText();
    std::string out = text ? text : "";
    SDL_free(text);
    return out;
  }
  void setClipboardText(std::string_view utf8) override {
    SDL_SetClipboardText(std::string(utf8).c_str());
  }

  void setCursor(const Cursor* c, bool visible) override {
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
    if (!c) {
      SDL_SetCursor(SDL_GetDefaultCursor());
      return;
    }
    Uint8 data[32], mask[32];
    for (int i = 0; i < 16; ++i) {
      data[2 * i] = (Uint8)((unsigned short)c->data[i] >> 8);
      data[2 * i + 1] = (Uint8)c->data[i];
      mask[2 * i] = (Uint8)((unsigned short)c->mask[i] >> 8);
      mask[2 * i + 1] = (Uint8)c->mask[i];
    }
    SDL_Cursor* made = SDL_CreateCursor(data, mask, 16, 16, c->hotSpot.h, c->hotSpot.v);
    if (!made) return;
    SDL_SetCursor(made);
    if (cursor_) SDL_FreeCursor(cursor_);
    cursor_ = made;
  }

 private:
  SdlBackend(int w, int h) : w_(w), h_(h) {}

  bool open(const Geometry& g) {
    window_ = SDL_CreateWindow("Vantrel", g.x, g.y, w_, h_, SDL_WINDOW_RESIZABLE);
    if (!window_) return false;
    SDL_SetWindowMinimumSize(window_, kMinWidth, kMinHeight);
    // Task bars and window switchers show it (_NET_WM_ICON under X).
    vt::Image icon = vt::appIcon(64);
    if (SDL_Surface* s =
            SDL_CreateRGBSurfaceWithFormatFrom(icon.pixels.data(), icon.width, icon.height, 32,
                                               icon.width * 4, SDL_PIXELFORMAT_ARGB8888)) {
      SDL_SetWindowIcon(window_, s);
      SDL_FreeSurface(s);
    }
    renderer_ =
        SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) return false;
    SDL_RenderSetLogicalSize(renderer_, w_, h_);
    texture_ =
        SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w_, h_);
    if (!texture_) return false;
    vt::ae::setRaiseHandler(onRaise);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGUSR1, onSnapshotSignal);
    // Typed text arrives as text input events, composed by the input method.
    SDL_StartTextInput();
    return true;
  }

  // A key that types text waits for its text input event, which carries the character the
  // layout and input method made of it; posting the key as well would type it twice.
  struct PendingKey {
    bool waiting = false;
    unsigned char ch = 0;
    unsigned char scancode = 0;
    EventModifiers modifiers = 0;
    bool repeat = false;
  };

  // A text key whose text never came (text input off, or a key the layout gives no text) is
  // posted as the key it is.
  void flushPendingKey() {
    if (!pending_.waiting) return;
    pending_.waiting = false;
    unsigned long msg = ((unsigned long)pending_.scancode << 8) | pending_.ch;
    vt::events::post(pending_.repeat ? autoKey : keyDown, msg, vt::events::mouseGlobal(),
                     pending_.modifiers);
  }

  void handle(const SDL_Event& ev) {
    namespace events = vt::events;
    switch (ev.type) {
      case SDL_QUIT:
        // Closing the screen window quits the application the orderly way.
        vt::ae::postQuitApplication();
        break;
      case SDL_WINDOWEVENT:
        if (ev.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) vt::ui::setForeground(true);
        if (ev.window.event == SDL_WINDOWEVENT_FOCUS_LOST) vt::ui::setForeground(false);
        if (ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
          resized(ev.window.data1, ev.window.data2);
        if (ev.window.event == SDL_WINDOWEVENT_MOVED ||
            ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
          saveGeometry(window_);
        if (ev.window.event == SDL_WINDOWEVENT_EXPOSED ||
            ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
          vt::ui::invalidateScreen(vt::ui::screenBounds());
        break;
      case SDL_MOUSEMOTION:
        events::setMouseGlobal(Point{(short)ev.motion.y, (short)ev.motion.x});
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        Point where{(short)ev.button.y, (short)ev.button.x};
        EventModifiers m = modifiersOf((Uint16)SDL_GetModState());
        events::setMouseGlobal(where);
        events::post(ev.type == SDL_MOUSEBUTTONDOWN ? mouseDown : mouseUp, 0, where,
                     (EventModifiers)(m | (ev.type == SDL_MOUSEBUTTONDOWN ? 0 : btnState)));
        break;
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        flushPendingKey();
        EventModifiers m = modifiersOf(ev.key.keysym.mod);
        events::setCurrentModifiers(m);
        unsigned char ch = charOf(ev.key.keysym);
        if (!ch) break;  // modifier keys and keys without a character
        unsigned char scancode = (unsigned char)(ev.key.keysym.scancode & 0xFF);
        if (ev.type == SDL_KEYDOWN && ch >= 0x20 && ch != kDeleteCharCode && !(m & cmdKey)) {
          pending_ = PendingKey{true, ch, scancode, m, ev.key.repeat != 0};
          break;
        }
        unsigned long msg = ((unsigned long)scancode << 8) | ch;
        EventKind kind = ev.type == SDL_KEYUP ? keyUp : ev.key.repeat ? autoKey : keyDown;
        events::post(kind, msg, events::mouseGlobal(), m);
        break;
      }
      case SDL_TEXTINPUT: {
        // The text of the key just pressed, or a commit from the input method (no key then).
        bool fromKey = pending_.waiting;
        pending_.waiting = false;
        EventModifiers m = fromKey ? pending_.modifiers : modifiersOf((Uint16)SDL_GetModState());
        events::postText(ev.text.text, m, fromKey ? pending_.scancode : 0,
                         fromKey && pending_.repeat);
        break;
      }
      default: break;
    }
  }

  // The screen window has a new size: the screen (the desktop the windows live on) takes it.
  void resized(int w, int h) {
    w = std::clamp(w, kMinWidth, kMaxSide);
    h = std::clamp(h, kMinHeight, kMaxSide);
    if (w == w_ && h == h_) return;
    SDL_Texture* t =
        SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w, h);
    if (!t) return;  // keeps the old size, scaled
    SDL_DestroyTexture(texture_);
    texture_ = t;
    w_ = w;
    h_ = h;
    SDL_RenderSetLogicalSize(renderer_, w_, h_);
    vt::ui::screenResized();
  }

  int w_, h_;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  SDL_Cursor* cursor_ = nullptr;
  PendingKey pending_;
};

std::unique_ptr<vt::events::Backend> makeBackend(std::string& why) {
  std::unique_ptr<vt::events::Backend> b = SdlBackend::create();
  if (!b) {
    why = SDL_GetError();
    return nullptr;
  }
  vt::ae::initialiseProcess(true);
  return b;
}

}  // namespace

void registerAudio();

void registerBackend() {
  vt::events::registerBackendFactory(makeBackend);
  registerAudio();
}

}  // namespace vt::backend_sdl

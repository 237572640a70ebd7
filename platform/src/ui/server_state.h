// The window server's private state, shared by its source files.
#pragma once
#include <deque>
#include <set>
#include <vector>

#include "ui/window_server.h"

namespace vt::ui {

constexpr uint32_t kWindowMagic = 0x57494E44;  // 'WIND'
constexpr uint32_t kPortMagic = 0x504F5254;    // 'PORT'
constexpr int kMaxPortDimension = 4096;

struct PendingActivate {
  VTWindow* window;
  bool active;
};

struct Server {
  bool initialised = false;
  std::vector<VTWindow*> order;  // front to back
  std::set<const VTWindow*> liveWindows;
  std::set<const VTPort*> livePorts;
  VTPort* screenPort = nullptr;  // the port current before any SetPort
  VTPort* current = nullptr;
  VTWindow* activeWindow = nullptr;
  std::deque<PendingActivate> activates;
  Image screen;
  Rect damage{0, 0, 0, 0};
  bool composedStale = true;  // the screen image no longer shows the current state
  OverlayHook overlay = nullptr;
  bool foreground = true;
  Cursor cursor{};
  bool cursorIsArrow = true;
  int cursorHidden = 0;
  VTWindow* pressedCloseBox = nullptr;
  VTWindow* pressedZoomBox = nullptr;
};

Server& server();
// Makes sure the server is set up (screen size from the backend, event sources, pump hook).
void ensureServer();
VTPort* validPort(GrafPtr p);  // p when live, else null
VTWindow* validWindow(WindowRef w);

// Visibility bookkeeping around a change of window geometry, order or visibility: the content
// that becomes visible gets update events, the front window gets its activate event.
struct ExposeScope {
  ExposeScope();
  ~ExposeScope();
  std::vector<std::pair<VTWindow*, Region>> before;
  std::vector<Rect> oldStructures;
};
void updateActivation();
// A document window shown for the first time goes where the whole of it is on the desktop and
// where it does not sit exactly on (or completely cover) another document window.
void placeNewWindow(VTWindow* w);
// Moves a window the desktop's right or bottom edge cuts back inside (see screenResized).
void moveInside(VTWindow* w, bool redraw);
bool isDocumentWindow(const VTWindow* w);
void initPort(VTPort& port, Image* pixels, int width, int height);

}  // namespace vt::ui

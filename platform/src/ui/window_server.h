// The window server: the screen, windows (front to back), their ports and backing stores, the
// compositor and the hooks other areas use to draw into windows and over the screen.
//
// Coordinates: global = screen pixels, (0,0) top-left; a window port's local coordinates have
// (0,0) at the content's top-left. Every window owns a backing store (vt::Image) of its content
// size that its port draws into; the compositor draws the desktop, window frames and contents
// back to front, then the overlay (menu bar and open menus, drawn by the menus area).
#pragma once
#include <Events.h>
#include <MacWindows.h>
#include <Quickdraw.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/image.h"
#include "ui/region.h"
#include "ui/text.h"

// A drawing port: a window's, or an offscreen one.
struct VTPort {
  vt::Image* pixels = nullptr;  // what the port draws into (window store or ownImage)
  vt::Image ownImage;           // storage of an offscreen port
  VTWindow* window = nullptr;   // null for offscreen ports
  Rect portRect{0, 0, 0, 0};    // local; top-left is the origin (SetOrigin)
  vt::ui::Region clip;          // local; empty means wide open
  bool clipSet = false;
  Point pnLoc{0, 0};
  Point pnSize{1, 1};  // v = height, h = width
  short pnMode = patCopy;
  RGBColor fg{0, 0, 0};
  RGBColor bg{0xFFFF, 0xFFFF, 0xFFFF};
  short txFont = 0;
  short txSize = 0;  // 0 = the system size (12)
  Style txFace = 0;
  short txMode = srcOr;
  const vt::ui::Region* updateClip = nullptr;  // set between BeginUpdate and EndUpdate
  PixMap pixMap{};
  PixMapPtr pixMapPtr = nullptr;
  uint32_t magic = 0;
};

struct VTWindow {
  VTPort port;
  short procID = 0;
  short kind = 8;
  bool visible = false;
  bool goAway = false;
  bool hilited = false;
  long refCon = 0;
  std::string title;         // toolbox string: UTF-8
  Rect content{0, 0, 0, 0};  // global
  vt::Image store;           // the content's pixels
  vt::ui::Region update;     // local
  vt::ui::Region updateInProgress;
  bool inUpdate = false;
  bool placed = false;   // a document window is placed on the desktop when first shown
  bool zoomBox = false;  // shown by the window's contents' owner (a movie controller)
  bool zoomed = false;   // the zoom box answers inZoomIn (back to the user's size)
  uint32_t magic = 0;
};

namespace vt::ui {

constexpr int kMenuBarHeight = 20;
constexpr int kTitleBarHeight = 20;
constexpr int kCloseBoxSize = 12;
constexpr int kGrowBoxSize = 15;
// New document windows that would sit exactly on another go this far down and right.
constexpr int kStaggerStep = 20;

// Screen
Rect screenBounds();
// The desktop: screen minus the menu bar (global).
Rect desktopBounds();

// Windows
bool isLiveWindow(WindowRef w);  // made by NewCWindow and not yet disposed
bool isLivePort(CGrafPtr p);
const std::vector<VTWindow*>& windowsFrontToBack();
bool hasTitleBar(const VTWindow* w);
bool hasCloseBox(const VTWindow* w);
bool hasGrowBox(const VTWindow* w);
Rect structureRect(const VTWindow* w);  // global, frame included
Rect titleBarRect(const VTWindow* w);   // global; empty when the window has none
Rect closeBoxRect(const VTWindow* w);   // global; empty when the window has none
Rect zoomBoxRect(const VTWindow* w);    // global; empty when the window has none
// Where the title is drawn: between the close and zoom boxes (global; empty without a title bar).
Rect titleTextRect(const VTWindow* w);
// The zoom box of a document window whose contents can be zoomed (by a movie controller, which
// resizes the window itself); `zoomed` is true while the contents are at their zoomed size.
void setZoomBox(VTWindow* w, bool shown, bool zoomed);
// Distances from the content to the structure's edges (left, top, right, bottom).
Rect frameInsets(const VTWindow* w);
// What part of which visible window lies at a global point (FindWindow without the menu bar).
WindowPartCode hitTest(Point global, WindowRef* window);
// The part of a window's content that no window in front of it covers (local coordinates).
Region visibleContent(const VTWindow* w);
// Invalidates a window's content area (local coordinates), posting an update event.
void invalidate(VTWindow* w, const Region& local);

// Drawing into a port, local coordinates, clipped to the port's rectangle, its clip region and
// (during an update) the update region. Colours are vt::Pixel.
VTPort* currentPort();
Pixel toPixel(const RGBColor& c);
RGBColor toRGB(Pixel p);
void fillRect(VTPort* port, const Rect& r, Pixel color);
void fillRegion(VTPort* port, const Region& r, Pixel color);
void invertRect(VTPort* port, const Rect& r);
void frameRect(VTPort* port, const Rect& r, Pixel color, int penWidth = 1, int penHeight = 1);
// Draws a toolbox string with its baseline at v; returns the advance width.
int drawString(VTPort* port, int h, int v, std::string_view bytes, const TextStyle& style);
// The same for UTF-8 text, kept inside `within` (local) when given.
int drawUtf8(VTPort* port, int h, int v, std::string_view utf8, const TextStyle& style,
             const Rect* within = nullptr);
// Draws img scaled into dst (local).
void drawImage(VTPort* port, const Image& img, const Rect& dst);
// The region drawing is clipped to, in local coordinates.
Region drawClip(const VTPort* port);
// Marks what changed on screen after drawing into a port (the compositor presents it).
void portChanged(VTPort* port, const Rect& local);

// Offscreen ports (for offscreen worlds and pictures).
VTPort* newOffscreenPort(int width, int height);
void disposeOffscreenPort(VTPort* port);

// Compositor
// Marks part of the screen (global) for recomposition and presentation. The overlay's owner
// calls it whenever what it draws changes.
void invalidateScreen(const Rect& global);
// The backend's screen changed size (the screen window was resized): the screen follows, and
// windows left beyond the new edges are moved back into reach.
void screenResized();
// Composes the screen now (when anything changed since the last composition) and returns it.
const Image& composeScreen();
// Composes what changed and hands it to the backend; called by the event pump.
void flushScreen();
// The menus area draws the menu bar and open menus on top of the composed screen.
using OverlayHook = void (*)(Image& screen);
void setOverlayHook(OverlayHook hook);

// Disposes every window and resets ports, cursor and screen state.
void resetWindowServer();

// Focus: the screen window lost (false) or gained (true) the input focus.
void setForeground(bool foreground);
bool isForeground();

// The cursor last set with SetCursor (null: the arrow), and whether it is shown.
const Cursor* currentCursor();
bool cursorVisible();

}  // namespace vt::ui

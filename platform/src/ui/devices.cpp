// Graphics devices, global patterns, cursors, the mouse position and font numbers.
#include <Events.h>
#include <Fonts.h>
#include <Quickdraw.h>

#include <cstring>
#include <strings.h>

#include "core/boundary.h"
#include "core/pstring.h"
#include "events/backend.h"
#include "events/event_queue.h"
#include "ui/server_state.h"
#include "ui/text.h"

using namespace vt::ui;

namespace {

struct Device {
  GDevice gd{};
  GDPtr gdPtr = &gd;
  PixMap pm{};
  PixMapPtr pmPtr = &pm;
};

Device& device() {
  static Device d;
  Rect s = screenBounds();
  d.gd.gdType = directType;
  d.gd.gdRect = s;
  d.gd.gdPMap = &d.pmPtr;
  d.pm.bounds = s;
  d.pm.pixelType = RGBDirect;
  d.pm.pixelSize = 32;
  d.pm.cmpCount = 3;
  d.pm.cmpSize = 8;
  d.pm.rowBytes = (short)((s.right - s.left) * 4);
  d.pm.hRes = d.pm.vRes = 72 << 16;
  d.pm.baseAddr = nullptr;  // the screen is composed, not drawn into directly
  return d;
}

// The standard arrow: hot spot at its tip.
const Cursor kArrow = {
    {0x0000, 0x4000, 0x6000, 0x7000, 0x7800, 0x7C00, 0x7E00, 0x7F00, 0x7F80, 0x7C00, 0x6C00, 0x4600,
     0x0600, 0x0300, 0x0300, 0x0000},
    {(short)0xC000, (short)0xE000, (short)0xF000, (short)0xF800, (short)0xFC00, (short)0xFE00,
     (short)0xFF00, (short)0xFF80, (short)0xFFC0, (short)0xFFE0, (short)0xFE00, (short)0xEF00,
     (short)0xCF00, (short)0x0780, (short)0x0780, (short)0x0380},
    {1, 1}};

Pattern pattern(uint8_t a, uint8_t b) { return Pattern{{a, b, a, b, a, b, a, b}}; }

void applyCursor() {
  Server& s = server();
  vt::events::backend().setCursor(s.cursorIsArrow ? nullptr : &s.cursor, s.cursorHidden <= 0);
}

}  // namespace

GDHandle GetMainDevice() {
  return vt::apiCall<GDHandle>(vt::noErrorState, {}, [&]() -> GDHandle { return &device().gdPtr; });
}
GDHandle GetGDevice() {
  return vt::apiCall<GDHandle>(vt::noErrorState, {}, [&]() -> GDHandle { return GetMainDevice(); });
}
// Deliberately does nothing: there is one device, always current.
void SetGDevice(GDHandle) {}
GDHandle GetDeviceList() {
  return vt::apiCall<GDHandle>(vt::noErrorState, {}, [&]() -> GDHandle { return GetMainDevice(); });
}
GDHandle GetNextDevice(GDHandle) { return nullptr; }

GDHandle GetMaxDevice(const Rect* globalRect) {
  return vt::apiCall<GDHandle>(vt::noErrorState, {}, [&]() -> GDHandle {
    if (!globalRect) return nullptr;
    Rect s = screenBounds();
    Rect r;
    if (!SectRect(globalRect, &s, &r)) return nullptr;
    return GetMainDevice();
  });
}

// A pattern of alternating rows into `p` (when given).
static Pattern* copyPattern(Pattern* p, uint8_t even, uint8_t odd) {
  return vt::apiCall<Pattern*>(vt::noErrorState, {}, [&] {
    if (p) *p = pattern(even, odd);
    return p;
  });
}
Pattern* GetQDGlobalsBlack(Pattern* p) { return copyPattern(p, 0xFF, 0xFF); }
Pattern* GetQDGlobalsWhite(Pattern* p) { return copyPattern(p, 0x00, 0x00); }
Pattern* GetQDGlobalsGray(Pattern* p) { return copyPattern(p, 0xAA, 0x55); }
Pattern* GetQDGlobalsLightGray(Pattern* p) { return copyPattern(p, 0x88, 0x22); }
Pattern* GetQDGlobalsDarkGray(Pattern* p) { return copyPattern(p, 0x77, 0xDD); }

Cursor* GetQDGlobalsArrow(Cursor* arrow) {
  return vt::apiCall<Cursor*>(vt::noErrorState, {}, [&]() -> Cursor* {
    if (arrow) *arrow = kArrow;
    return arrow;
  });
}

BitMap* GetQDGlobalsScreenBits(BitMap* bits) {
  return vt::apiCall<BitMap*>(vt::noErrorState, {}, [&]() -> BitMap* {
    if (bits) {
      bits->baseAddr = nullptr;
      bits->bounds = screenBounds();
      bits->rowBytes = (short)((bits->bounds.right - bits->bounds.left) * 4);
    }
    return bits;
  });
}

void InitCursor() {
  vt::apiCall(vt::noErrorState, [&] {
    Server& s = server();
    ensureServer();
    s.cursorIsArrow = true;
    s.cursorHidden = 0;
    applyCursor();
  });
}

void SetCursor(const Cursor* c) {
  vt::apiCall(vt::noErrorState, [&] {
    Server& s = server();
    ensureServer();
    if (!c || std::memcmp(c, &kArrow, sizeof(Cursor)) == 0) {
      s.cursorIsArrow = true;
    } else {
      s.cursor = *c;
      s.cursorIsArrow = false;
    }
    applyCursor();
  });
}

void HideCursor() {
  vt::apiCall(vt::noErrorState, [&] {
    ensureServer();
    ++server().cursorHidden;
    applyCursor();
  });
}

void ShowCursor() {
  vt::apiCall(vt::noErrorState, [&] {
    ensureServer();
    if (server().cursorHidden > 0) --server().cursorHidden;
    applyCursor();
  });
}

// Deliberately does nothing: the pointer is not hidden while typing on this platform.
void ObscureCursor() {}

void GetMouse(Point* mouseLoc) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!mouseLoc) return;
    vt::events::pump();
    *mouseLoc = vt::events::mouseGlobal();
    GlobalToLocal(mouseLoc);
  });
}

// Font numbers: every family draws with the one face; names map to the classic numbers so
// that code that stores font numbers round-trips them.
namespace {
struct FontName {
  short id;
  const char* name;
};
const FontName kFonts[] = {{systemFont, "Chicago"},         {applFont, "Geneva"},
                           {kFontIDNewYork, "New York"},    {kFontIDGeneva, "Geneva"},
                           {kFontIDMonaco, "Monaco"},       {kFontIDTimes, "Times"},
                           {kFontIDHelvetica, "Helvetica"}, {kFontIDCourier, "Courier"}};
}  // namespace

void GetFNum(ConstStr255Param name, short* familyID) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!familyID) return;
    *familyID = applFont;
    if (!name) return;
    std::string n = vt::fromPascal(name);
    for (const FontName& f : kFonts)
      if (f.id != applFont && strcasecmp(n.c_str(), f.name) == 0) {
        *familyID = f.id;
        return;
      }
  });
}

void GetFontName(short familyID, Str255 name) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!name) return;
    name[0] = 0;
    for (const FontName& f : kFonts)
      if (f.id == familyID) {
        vt::toPascal(f.name, name);
        return;
      }
  });
}

short GetSysFont() { return systemFont; }
short GetAppFont() { return applFont; }

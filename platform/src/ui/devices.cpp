// Graphics devices, global patterns, cursors, the mouse position and font numbers.
#include <Events.h>
#include <Fonts.h>
#include <Quickdraw.h>

#include <cstring>
#include <strings.h>

#include "core/guard.h"
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

GDHandle GetMainDevice() try { return &device().gdPtr; } catch (...) {
  vtErrorFromException();
  return {};
}
GDHandle GetGDevice() try { return GetMainDevice(); } catch (...) {
  vtErrorFromException();
  return {};
}
// Deliberately does nothing: there is one device, always current.
void SetGDevice(GDHandle) {}
GDHandle GetDeviceList() try { return GetMainDevice(); } catch (...) {
  vtErrorFromException();
  return {};
}
GDHandle GetNextDevice(GDHandle) { return nullptr; }

GDHandle GetMaxDevice(const Rect* globalRect) try {
  if (!globalRect) return nullptr;
  Rect s = screenBounds();
  Rect r;
  if (!SectRect(globalRect, &s, &r)) return nullptr;
  return GetMainDevice();
} catch (...) {
  vtErrorFromException();
  return {};
}

Pattern* GetQDGlobalsBlack(Pattern* p) try {
  if (p) *p = pattern(0xFF, 0xFF);
  return p;
} catch (...) {
  vtErrorFromException();
  return {};
}
Pattern* GetQDGlobalsWhite(Pattern* p) try {
  if (p) *p = pattern(0x00, 0x00);
  return p;
} catch (...) {
  vtErrorFromException();
  return {};
}
Pattern* GetQDGlobalsGray(Pattern* p) try {
  if (p) *p = pattern(0xAA, 0x55);
  return p;
} catch (...) {
  vtErrorFromException();
  return {};
}
Pattern* GetQDGlobalsLightGray(Pattern* p) try {
  if (p) *p = pattern(0x88, 0x22);
  return p;
} catch (...) {
  vtErrorFromException();
  return {};
}
Pattern* GetQDGlobalsDarkGray(Pattern* p) try {
  if (p) *p = pattern(0x77, 0xDD);
  return p;
} catch (...) {
  vtErrorFromException();
  return {};
}

Cursor* GetQDGlobalsArrow(Cursor* arrow) try {
  if (arrow) *arrow = kArrow;
  return arrow;
} catch (...) {
  vtErrorFromException();
  return {};
}

BitMap* GetQDGlobalsScreenBits(BitMap* bits) try {
  if (bits) {
    bits->baseAddr = nullptr;
    bits->bounds = screenBounds();
    bits->rowBytes = (short)((bits->bounds.right - bits->bounds.left) * 4);
  }
  return bits;
} catch (...) {
  vtErrorFromException();
  return {};
}

void InitCursor() try {
  Server& s = server();
  ensureServer();
  s.cursorIsArrow = true;
  s.cursorHidden = 0;
  applyCursor();
} catch (...) {
  vtErrorFromException();
}

void SetCursor(const Cursor* c) try {
  Server& s = server();
  ensureServer();
  if (!c || std::memcmp(c, &kArrow, sizeof(Cursor)) == 0) {
    s.cursorIsArrow = true;
  } else {
    s.cursor = *c;
    s.cursorIsArrow = false;
  }
  applyCursor();
} catch (...) {
  vtErrorFromException();
}

void HideCursor() try {
  ensureServer();
  ++server().cursorHidden;
  applyCursor();
} catch (...) {
  vtErrorFromException();
}

void ShowCursor() try {
  ensureServer();
  if (server().cursorHidden > 0) --server().cursorHidden;
  applyCursor();
} catch (...) {
  vtErrorFromException();
}

// Deliberately does nothing: the pointer is not hidden while typing on this platform.
void ObscureCursor() {}

void GetMouse(Point* mouseLoc) try {
  if (!mouseLoc) return;
  vt::events::pump();
  *mouseLoc = vt::events::mouseGlobal();
  GlobalToLocal(mouseLoc);
} catch (...) {
  vtErrorFromException();
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

void GetFNum(ConstStr255Param name, short* familyID) try {
  if (!familyID) return;
  *familyID = applFont;
  if (!name) return;
  std::string n = vt::fromPascal(name);
  for (const FontName& f : kFonts)
    if (f.id != applFont && strcasecmp(n.c_str(), f.name) == 0) {
      *familyID = f.id;
      return;
    }
} catch (...) {
  vtErrorFromException();
}

void GetFontName(short familyID, Str255 name) try {
  if (!name) return;
  name[0] = 0;
  for (const FontName& f : kFonts)
    if (f.id == familyID) {
      vt::toPascal(f.name, name);
      return;
    }
} catch (...) {
  vtErrorFromException();
}

short GetSysFont() { return systemFont; }
short GetAppFont() { return applFont; }

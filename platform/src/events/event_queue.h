// The event queue: what WaitNextEvent and every modal loop (window drags, close boxes, menu
// tracking, modal dialogs, alerts, navigation dialogs) read events from.
//
// Order of delivery: activate events, then queued input and OS events, then a pending Apple
// event (as kHighLevelEvent), then update events, then null events. Update and activate events
// come from the window server; they are never stored in the queue, so a window disposed before
// its event is delivered leaves nothing stale behind.
#pragma once
#include <Events.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vt::events {

// The next event matching mask. remove=false leaves it pending (EventAvail). Pumps the backend
// first. Returns false with a null event (where/modifiers current) when nothing matches.
bool nextEvent(EventMask mask, EventRecord& e, bool remove);

// One turn of a loop that waits: nextEvent, and when nothing is pending, paces the caller (the
// SDL backend sleeps until input arrives or up to `sleepTicks`, at most ~10 ms for 0; headless
// never sleeps). mouseRgn (global) asks for mouse-moved OS events when the mouse leaves it.
bool waitNextEvent(EventMask mask, EventRecord& e, uint32_t sleepTicks, RgnHandle mouseRgn);

// Adds an event to the queue (where and modifiers as given; when = now). False when the queue
// is full (the event is dropped; the queue is bounded).
bool post(EventKind what, unsigned long message, Point where, EventModifiers modifiers);
// Internal kind for mouse movement queued by injected input; consumed by tracking loops.
constexpr EventKind kMouseMovedKind = 0x7F;
bool postMouseMove(Point where);
void flush(EventMask mask, EventMask stopMask = 0);

// Text typed on the keyboard. A key event carries the Unicode code point of the character it
// types in the message's bits 32 and up, above the classic fields; its character code is the
// Mac Roman form of that character (0 when Mac Roman has none), so code that reads only the
// character code sees what it always did.
constexpr int kCodePointShift = 32;
static_assert(sizeof(unsigned long) * 8 >= kCodePointShift + 21, "messages carry code points");
unsigned long keyMessage(char32_t codePoint, unsigned char keyCode);
// The character a key event types: the carried code point, else the character code read as Mac
// Roman; 0 for keys that type nothing (control keys, arrows).
char32_t typedCodePoint(const EventRecord& e);
// Posts one key event (keyDown, or autoKey when repeating) per code point of utf8; malformed
// bytes and control characters are skipped. False when the queue filled up.
bool postText(std::string_view utf8, EventModifiers modifiers, unsigned char keyCode = 0,
              bool repeat = false);

// The system clipboard's text (UTF-8), through the backend.
std::string clipboardText();
void setClipboardText(std::string_view utf8);
int pendingCount();

// The input state as the application has seen it: updated as events are taken from the queue
// (and directly by the SDL backend for motion).
Point mouseGlobal();
void setMouseGlobal(Point p);
bool buttonDown();  // looks ahead: a queued mouse-up means the button is already up
EventModifiers currentModifiers();
void setCurrentModifiers(EventModifiers m);

// Mouse tracking for modal loops (DragWindow, TrackGoAway, MenuSelect, controls): one turn
// calls the modal hook, pumps, and takes the next mouse move or release. Returns true while the
// button is still down (where = current position) and false once released (where = release
// point). Headless: after 60 turns in a row in which the queue held no mouse event (the hook
// posted none), the injected gesture has ended and the button counts as released at the last
// position, so a test that forgets the mouse-up cannot hang.
bool trackMouse(Point& where);

// The tick clock (sixtieths of a second).
uint32_t ticks();

// The hook a test installs to act as the user; every modal loop calls callModalHook() once per
// turn. The hook may post events and may itself be re-entered by nested loops it starts.
void setModalHook(std::function<void()> hook);
void callModalHook();
long modalTurns();

// Pumps the backend (host input, signals, other instances' Apple events) and runs the pump
// hooks (the compositor presents the screen there).
void pump();
using PumpHook = void (*)();
void addPumpHook(PumpHook hook);

// The window server supplies update and activate events. remove=false only peeks.
struct WindowEventSource {
  bool (*activate)(EventRecord& e, bool remove) = nullptr;
  bool (*update)(EventRecord& e, bool remove) = nullptr;
  // Region test for WaitNextEvent's mouse region (regions belong to QuickDraw).
  bool (*pointInRegion)(RgnHandle rgn, Point p) = nullptr;
};
void setWindowEventSource(const WindowEventSource& source);

// Empties the queue, resets mouse, modifiers, modal hook and turn count.
void resetQueue();

}  // namespace vt::events

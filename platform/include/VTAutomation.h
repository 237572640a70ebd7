// Automation of the platform for tests and command-line tools: a headless screen, injected
// input, a clock only the caller moves, window listings and screen snapshots.
// Not part of the application's API (the application never includes it).
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "Events.h"
#include "MacWindows.h"

// Makes the screen headless (in-memory framebuffer, injected input, manual clock) with the
// given size. Call before the first window is made; calling again resets the window server.
// With `wallClock` the clock also runs with real time (benchmarks of real-time playback).
void VTAutomationUseHeadless(short width = 1280, short height = 800, bool wallClock = false);
// True when the headless backend is the one in use.
bool VTAutomationIsHeadless();
// The screen's bounds in global coordinates (top-left 0,0).
Rect VTAutomationScreenBounds();
// Resizes the headless screen as a user resizes the screen window; windows follow as they do
// there. False (nothing changes) when the screen is not headless or the size is out of range.
bool VTAutomationResizeScreen(short width, short height);

// Input. Points are global; modifiers are the event record's (cmdKey, shiftKey, optionKey...).
// Events go into the queue in order; a mouse move is consumed by tracking loops (and by
// WaitNextEvent, which reports it only as a mouse-moved event when a mouse region asks).
void VTAutomationPostMouseDown(Point where, EventModifiers modifiers = 0);
void VTAutomationPostMouseUp(Point where, EventModifiers modifiers = 0);
void VTAutomationPostMouseMove(Point where);
// Down and up at the same point.
void VTAutomationPostClick(Point where, EventModifiers modifiers = 0);
// Down, moves in `steps` steps, up at `to`.
void VTAutomationPostDrag(Point from, Point to, int steps = 4, EventModifiers modifiers = 0);
// A key press (key down then key up). `key` is the character code (e.g. 'q', kReturnCharCode);
// keyCode goes into the message's second byte.
void VTAutomationPostKey(char key, EventModifiers modifiers = 0, unsigned char keyCode = 0);
// Typed text, as the keyboard and input methods give it: one key-down event per character,
// carrying its Unicode code point, so text in any script can be typed into fields.
void VTAutomationPostText(const std::string& utf8, EventModifiers modifiers = 0);
// The system clipboard's text (UTF-8); headless, one kept in memory.
std::string VTAutomationClipboardText();
void VTAutomationSetClipboardText(const std::string& utf8);
// Suspend (false) or resume (true): the screen window lost or gained the focus.
void VTAutomationPostFocus(bool focused);
// Events waiting in the queue (not counting update and activate events).
int VTAutomationPendingInput();

// Clock: headless ticks move only when a caller advances them.
void VTAutomationAdvanceTicks(UInt32 ticks);
UInt32 VTAutomationTicks();

struct VTWindowInfo {
  WindowRef window;
  short kind;
  std::string title;  // UTF-8
  Rect structure;     // global
  Rect content;       // global
  bool visible;
  bool hilited;
  long refCon;
};
// All windows, front to back, hidden ones included.
std::vector<VTWindowInfo> VTAutomationListWindows();

// Composes the screen (desktop, windows, menu bar, open menus) and writes it as PNG.
bool VTAutomationSnapshot(const std::string& pngPath);
// The colour (0xAARRGGBB) of one composed screen pixel; 0 outside the screen.
UInt32 VTAutomationScreenPixel(short h, short v);

// A hook called once per turn of every modal loop (window drags, close boxes, menu tracking,
// modal dialogs, alerts, navigation dialogs). Tests act as the user from here. Null removes it.
void VTAutomationSetModalHook(std::function<void()> hook);
// Number of modal loop turns since the last reset; tests use it to see that a loop ran.
long VTAutomationModalTurns();

// Disposes every window, empties the event queue, removes the modal hook and puts the mouse,
// button, modifiers and focus back to their start (the clock keeps running forward); empties a
// headless clipboard. Tests call it between cases.
void VTAutomationReset();
// Puts every manager back to its start, in one call: controllers, windows and the event queue
// (as VTAutomationReset), dialogs, menus and navigation answers, live movies and edit states,
// the movie and resource errors, decoders, directory IDs, Apple event handlers and queue,
// resource files, Gestalt answers and the exit hook.
void VTAutomationResetAll();

// The pending Apple events of this process, for the event queue (WaitNextEvent) and the
// process start-up. Single-threaded except postQuitFromSignal.
#pragma once
#include <AEDataModel.h>
#include <Events.h>

#include <string>
#include <vector>

namespace vt::ae {

// True when an Apple event waits to be delivered (also checks a quit requested by a signal).
bool hasPendingEvent();
// Fills the high-level event record of the next pending event without removing it:
// what = 23 (kHighLevelEvent), message = event class, where = event ID (v = high 16 bits,
// h = low 16 bits), when = 0, modifiers = 0. False when none is pending.
bool peekPendingEvent(EventRecord& e);
// Like peekPendingEvent, and moves the event out of the queue: it becomes the event that the
// next AEProcessAppleEvent handles. (AEProcessAppleEvent also takes the front of the queue
// itself when the caller only peeked.)
bool takePendingEvent(EventRecord& e);

// Queues a copy of the event (made by AECreateAppleEvent); the caller keeps its own.
void postAppleEvent(const AppleEvent& event);
void postOpenApplication();
void postOpenDocuments(const std::vector<std::string>& paths);
void postPrintDocuments(const std::vector<std::string>& paths);
void postQuitApplication();
// A later launch without files (the user started the application again).
void postReopenApplication();
// Async-signal-safe: only sets a flag; the quit event is queued at the next hasPendingEvent,
// peek, take or pollExternal.
void postQuitFromSignal();

// Reads the command line (/proc/self/cmdline) and queues open-documents with the file
// arguments, or open-application without any. With singleInstance, a running instance of the
// application gets the files instead and this process exits with status 0; otherwise this
// process starts listening for later launches (pollExternal accepts them).
void initialiseProcess(bool singleInstance);
// Same, with the arguments given (argv[0] excluded); for tests and tools.
void initialiseProcessWithArguments(const std::vector<std::string>& args, bool singleInstance);
// Accepts open-documents requests from later launches. Never blocks for long.
void pollExternal();
// Called whenever a later launch handed over (its files or a plain start): the display
// backend brings the application's window to the front with the keyboard. Called from
// pollExternal.
using RaiseHandler = void (*)();
void setRaiseHandler(RaiseHandler handler);
// Path of the single-instance socket ($XDG_RUNTIME_DIR, else /tmp): one per display, so its
// name carries the display's (DISPLAY without the screen number, else WAYLAND_DISPLAY).
std::string instanceSocketPath();

// Result the handler returned for the last processed event (errAEEventNotHandled when no
// handler was found); noErr before any.
OSErr lastHandlerResult();

// Drops queued events, handlers, the listening socket and the last result (tests).
void reset();

}  // namespace vt::ae

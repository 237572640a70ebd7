// The event manager's public calls, on the event queue.
#include <Events.h>

#include <chrono>
#include <thread>

#include "events/backend.h"
#include "events/event_queue.h"

namespace ev = vt::events;

Boolean WaitNextEvent(EventMask eventMask, EventRecord* theEvent, UInt32 sleep, RgnHandle mouseRgn) {
  EventRecord e{};
  bool got = ev::waitNextEvent(eventMask, e, sleep, mouseRgn);
  if (theEvent) *theEvent = e;
  return got;
}

Boolean GetNextEvent(EventMask eventMask, EventRecord* theEvent) {
  EventRecord e{};
  bool got = ev::nextEvent(eventMask, e, true);
  if (theEvent) *theEvent = e;
  return got;
}

Boolean EventAvail(EventMask eventMask, EventRecord* theEvent) {
  EventRecord e{};
  bool got = ev::nextEvent(eventMask, e, false);
  if (theEvent) *theEvent = e;
  return got;
}

void FlushEvents(EventMask whichMask, EventMask stopMask) { ev::flush(whichMask, stopMask); }

OSErr PostEvent(EventKind eventNum, UInt32 eventMsg) {
  // Only the kinds an application may post go into the queue; the others come from the system.
  switch (eventNum) {
    case mouseDown:
    case mouseUp:
    case keyDown:
    case keyUp:
    case autoKey:
    case diskEvt:
    case 10:  // app1Evt .. app3Evt
    case 11:
    case 12:
      break;
    default:
      return evtNotEnb;
  }
  if (!ev::post(eventNum, eventMsg, ev::mouseGlobal(), ev::currentModifiers())) return queueFull;
  return noErr;
}

Boolean Button() {
  ev::pump();
  return ev::buttonDown();
}

Boolean StillDown() {
  ev::pump();
  return ev::buttonDown();
}

Boolean WaitMouseUp() {
  Point p;
  return ev::trackMouse(p);
}

UInt32 TickCount() { return ev::ticks(); }
UInt32 GetDblTime() { return 30; }
UInt32 GetCaretTime() { return 32; }

void Delay(unsigned long numTicks, unsigned long* finalTicks) {
  ev::Backend& b = ev::backend();
  if (b.isHeadless()) {
    b.advanceTicks((uint32_t)numTicks);
  } else {
    // A plain sleep: waiting for input would return at once while input is pending.
    std::this_thread::sleep_for(std::chrono::milliseconds((long long)numTicks * 1000 / 60));
  }
  if (finalTicks) *finalTicks = b.ticks();
}

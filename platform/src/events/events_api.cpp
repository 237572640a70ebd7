// The event manager's public calls, on the event queue.
#include <Events.h>
#include <VTAutomationUI.h>

#include <chrono>
#include <thread>

#include "core/boundary.h"
#include "core/reset.h"
#include "events/backend.h"
#include "events/event_queue.h"

namespace ev = vt::events;

namespace {
// The caller's record gets the event, or a null event when none came.
template <class Fetch>
Boolean fetchEvent(EventRecord* theEvent, Fetch&& fetch) {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    EventRecord e{};
    bool got = fetch(e);
    if (theEvent) *theEvent = e;
    return got;
  });
}
}  // namespace

Boolean WaitNextEvent(EventMask eventMask, EventRecord* theEvent, UInt32 sleep,
                      RgnHandle mouseRgn) {
  return fetchEvent(
      theEvent, [&](EventRecord& e) { return ev::waitNextEvent(eventMask, e, sleep, mouseRgn); });
}

Boolean GetNextEvent(EventMask eventMask, EventRecord* theEvent) {
  return fetchEvent(theEvent, [&](EventRecord& e) { return ev::nextEvent(eventMask, e, true); });
}

Boolean EventAvail(EventMask eventMask, EventRecord* theEvent) {
  return fetchEvent(theEvent, [&](EventRecord& e) { return ev::nextEvent(eventMask, e, false); });
}

void FlushEvents(EventMask whichMask, EventMask stopMask) {
  vt::apiCall(vt::noErrorState, [&] { ev::flush(whichMask, stopMask); });
}

OSErr PostEvent(EventKind eventNum, UInt32 eventMsg) {
  return vt::apiStatus([&]() -> OSErr {
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
      case 12: break;
      default: return evtNotEnb;
    }
    if (!ev::post(eventNum, eventMsg, ev::mouseGlobal(), ev::currentModifiers())) return queueFull;
    return noErr;
  });
}

Boolean Button() {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    ev::pump();
    return ev::buttonDown();
  });
}

Boolean StillDown() {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    ev::pump();
    return ev::buttonDown();
  });
}

Boolean WaitMouseUp() {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    Point p;
    return ev::trackMouse(p);
  });
}

UInt32 TickCount() {
  return vt::apiCall<UInt32>(vt::noErrorState, {}, [&]() -> UInt32 { return ev::ticks(); });
}
UInt32 GetDblTime() { return 30; }
UInt32 GetCaretTime() { return 32; }

void Delay(unsigned long numTicks, unsigned long* finalTicks) {
  vt::apiCall(vt::noErrorState, [&] {
    ev::Backend& b = ev::backend();
    if (b.isHeadless()) {
      b.advanceTicks((uint32_t)numTicks);
    } else {
      // A plain sleep: waiting for input would return at once while input is pending.
      std::this_thread::sleep_for(std::chrono::milliseconds((long long)numTicks * 1000 / 60));
    }
    if (finalTicks) *finalTicks = b.ticks();
  });
}

namespace {
long gBeeps = 0;
ev::BeepSound gBeepSound = nullptr;
ev::BeepFlash gBeepFlash = nullptr;
const vt::ResetRegistration kReset(vt::ResetStage::Dialogs, [] { gBeeps = 0; });
}  // namespace

namespace vt::events {
void registerBeepSound(BeepSound sound) { gBeepSound = sound; }
void registerBeepFlash(BeepFlash flash) { gBeepFlash = flash; }
}  // namespace vt::events

// Heard when there is a sound device, seen otherwise; counted for tests either way.
void SysBeep(short) {
  vt::apiCall(vt::noErrorState, [&] {
    ++gBeeps;
    if (gBeepSound && gBeepSound()) return;
    if (gBeepFlash) gBeepFlash();
  });
}
long VTAutomationBeepCount() { return gBeeps; }
void VTAutomationResetBeepCount() { gBeeps = 0; }

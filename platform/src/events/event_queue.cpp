#include "events/event_queue.h"

#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "appleevents/ae_queue.h"
#include "core/macroman.h"
#include "events/backend.h"

namespace vt::events {
namespace {

constexpr size_t kQueueLimit = 512;
constexpr int kHeadlessIdleTurns = 60;

struct State {
  std::deque<EventRecord> queue;
  Point mouse{0, 0};
  bool button = false;
  EventModifiers modifiers = 0;
  std::function<void()> modalHook;
  long modalTurns = 0;
  WindowEventSource windowSource;
  std::vector<PumpHook> pumpHooks;
  bool pumping = false;
  std::chrono::steady_clock::time_point lastNull{};
  int idleTrackingTurns = 0;
};

State& st() {
  static State s;
  return s;
}

bool kindInMask(EventKind what, EventMask mask) {
  if (what == kHighLevelEvent) return (mask & highLevelEventMask) != 0;
  if (what == osEvt) return (mask & osMask) != 0;
  if (what >= 16) return false;
  return (mask & (1u << what)) != 0;
}

// What the application has now seen of the mouse and keyboard.
void noteDelivered(const EventRecord& e) {
  State& s = st();
  switch (e.what) {
    case mouseDown:
      s.mouse = e.where;
      s.button = true;
      break;
    case mouseUp:
      s.mouse = e.where;
      s.button = false;
      break;
    case kMouseMovedKind: s.mouse = e.where; return;
    default: break;
  }
  if (e.what >= mouseDown && e.what <= autoKey)
    s.modifiers = (EventModifiers)(e.modifiers & ~(btnState | activeFlag));
}

EventModifiers modifiersNow() {
  State& s = st();
  return (EventModifiers)(s.modifiers | (s.button ? 0 : btnState));
}

void fillNull(EventRecord& e) {
  e.what = nullEvent;
  e.message = 0;
  e.when = ticks();
  e.where = st().mouse;
  e.modifiers = modifiersNow();
}

bool outside(RgnHandle rgn, Point p) {
  const WindowEventSource& w = st().windowSource;
  return rgn && w.pointInRegion && !w.pointInRegion(rgn, p);
}

bool takeFromQueue(EventMask mask, EventRecord& e, bool remove, RgnHandle mouseRgn) {
  State& s = st();
  for (size_t i = 0; i < s.queue.size();) {
    EventRecord q = s.queue[i];
    if (q.what == kMouseMovedKind) {
      if (!remove) {
        ++i;
        continue;
      }
      s.queue.erase(s.queue.begin() + (long)i);
      noteDelivered(q);
      // A mouse region asks for a report when the mouse is outside it.
      if ((mask & osMask) && outside(mouseRgn, q.where)) {
        e = q;
        e.what = osEvt;
        e.message = (unsigned long)mouseMovedMessage << 24;
        e.modifiers = modifiersNow();
        return true;
      }
      continue;
    }
    if (kindInMask(q.what, mask)) {
      e = q;
      if (remove) {
        s.queue.erase(s.queue.begin() + (long)i);
        noteDelivered(q);
      }
      return true;
    }
    ++i;
  }
  return false;
}

bool highLevel(EventRecord& e, bool remove) {
  if (remove) return vt::ae::takePendingEvent(e);
  return vt::ae::peekPendingEvent(e);
}

bool nextEventImpl(EventMask mask, EventRecord& e, bool remove, RgnHandle mouseRgn) {
  pump();
  State& s = st();
  if ((mask & activMask) && s.windowSource.activate && s.windowSource.activate(e, remove))
    return true;
  if (takeFromQueue(mask, e, remove, mouseRgn)) return true;
  if (mask & highLevelEventMask) {
    if (highLevel(e, remove)) {
      e.what = kHighLevelEvent;
      e.when = ticks();
      return true;
    }
  }
  if ((mask & updateMask) && s.windowSource.update && s.windowSource.update(e, remove)) return true;
  fillNull(e);
  return false;
}

}  // namespace

bool nextEvent(EventMask mask, EventRecord& e, bool remove) {
  return nextEventImpl(mask, e, remove, nullptr);
}

bool waitNextEvent(EventMask mask, EventRecord& e, uint32_t sleepTicks, RgnHandle mouseRgn) {
  if (nextEventImpl(mask, e, true, mouseRgn)) return true;
  Backend& b = backend();
  if (b.isHeadless()) return false;
  // Pacing: a lone null event comes back at once; a run of them is held to about 100 per
  // second (or the caller's sleep), waking early for input, so an idle loop costs little.
  State& s = st();
  using namespace std::chrono;
  auto now = steady_clock::now();
  int minGapMs = 10;
  int waitMs = (int)(minGapMs - duration_cast<milliseconds>(now - s.lastNull).count());
  if (sleepTicks > 0) waitMs = (int)std::min<uint32_t>(sleepTicks * 1000 / 60, 250);
  if (waitMs > 0) {
    b.waitForInput(waitMs);
    if (nextEventImpl(mask, e, true, mouseRgn)) return true;
  }
  s.lastNull = steady_clock::now();
  return false;
}

bool post(EventKind what, unsigned long message, Point where, EventModifiers modifiers) {
  State& s = st();
  if (s.queue.size() >= kQueueLimit) return false;
  EventRecord e{};
  e.what = what;
  e.message = message;
  e.when = ticks();
  e.where = where;
  e.modifiers = modifiers;
  s.queue.push_back(e);
  return true;
}

bool postMouseMove(Point where) {
  State& s = st();
  // Consecutive moves collapse into the latest.
  if (!s.queue.empty() && s.queue.back().what == kMouseMovedKind) {
    s.queue.back().where = where;
    return true;
  }
  return post(kMouseMovedKind, 0, where, 0);
}

void flush(EventMask mask, EventMask stopMask) {
  State& s = st();
  for (size_t i = 0; i < s.queue.size();) {
    EventKind w = s.queue[i].what;
    if (w != kMouseMovedKind && kindInMask(w, stopMask)) break;
    if (w == kMouseMovedKind || kindInMask(w, mask)) {
      if (w == kMouseMovedKind) noteDelivered(s.queue[i]);
      s.queue.erase(s.queue.begin() + (long)i);
    } else {
      ++i;
    }
  }
}

unsigned long keyMessage(char32_t codePoint, unsigned char keyCode) {
  int roman = codePoint >= 0x20 && codePoint != 0x7F ? macRomanByte(codePoint) : -1;
  return ((unsigned long)codePoint << kCodePointShift) | ((unsigned long)keyCode << 8) |
         (unsigned char)(roman < 0 ? 0 : roman);
}

char32_t typedCodePoint(const EventRecord& e) {
  if (e.what != keyDown && e.what != autoKey && e.what != keyUp) return 0;
  auto carried = (char32_t)(e.message >> kCodePointShift);
  if (carried) return carried;
  unsigned char c = (unsigned char)(e.message & charCodeMask);
  if (c < 0x20 || c == 0x7F) return 0;
  std::string utf8 = macRomanToUtf8(std::string_view((const char*)&c, 1));
  uint32_t cp = 0;
  decodeUtf8(utf8, 0, cp);
  return cp;
}

bool postText(std::string_view utf8, EventModifiers modifiers, unsigned char keyCode, bool repeat) {
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    size_t len = decodeUtf8(utf8, i, cp);
    i += len ? len : 1;
    if (!len || cp < 0x20 || cp == 0x7F) continue;
    if (!post(repeat ? autoKey : keyDown, keyMessage(cp, keyCode), mouseGlobal(), modifiers))
      return false;
  }
  return true;
}

std::string clipboardText() { return backend().clipboardText(); }
void setClipboardText(std::string_view utf8) { backend().setClipboardText(utf8); }

int pendingCount() { return (int)st().queue.size(); }

Point mouseGlobal() { return st().mouse; }
void setMouseGlobal(Point p) { st().mouse = p; }

bool buttonDown() {
  State& s = st();
  if (!s.button) return false;
  for (const EventRecord& e : s.queue)
    if (e.what == mouseUp) return false;
  return true;
}

EventModifiers currentModifiers() { return modifiersNow(); }
void setCurrentModifiers(EventModifiers m) {
  st().modifiers = (EventModifiers)(m & ~(btnState | activeFlag));
}

bool trackMouse(Point& where) {
  callModalHook();
  pump();
  State& s = st();
  for (size_t i = 0; i < s.queue.size(); ++i) {
    EventRecord q = s.queue[i];
    if (q.what == kMouseMovedKind || q.what == mouseUp) {
      s.queue.erase(s.queue.begin() + (long)i);
      noteDelivered(q);
      s.idleTrackingTurns = 0;
      where = q.where;
      return q.what == kMouseMovedKind;
    }
    if (q.what == mouseDown) break;  // a new click: the earlier press ended unseen
  }
  where = s.mouse;
  if (!s.button) return false;
  Backend& b = backend();
  if (b.isHeadless()) {
    // Injected input: after a run of turns in which neither the queue nor the hook moved the
    // mouse, the gesture has ended and the button counts as released where it is.
    if (++s.idleTrackingTurns < kHeadlessIdleTurns) return true;
    s.idleTrackingTurns = 0;
    s.button = false;
    return false;
  }
  b.waitForInput(10);
  where = s.mouse;
  return true;
}

uint32_t ticks() { return backend().ticks(); }

void setModalHook(std::function<void()> hook) { st().modalHook = std::move(hook); }

void callModalHook() {
  State& s = st();
  ++s.modalTurns;
  if (s.modalHook) {
    // A copy: the hook may replace or remove itself.
    auto hook = s.modalHook;
    hook();
  }
}

long modalTurns() { return st().modalTurns; }

void pump() {
  State& s = st();
  if (s.pumping) return;
  s.pumping = true;
  backend().pumpInput();
  vt::ae::pollExternal();
  for (PumpHook h : s.pumpHooks) h();
  s.pumping = false;
}

void addPumpHook(PumpHook hook) {
  for (PumpHook h : st().pumpHooks)
    if (h == hook) return;
  st().pumpHooks.push_back(hook);
}

void setWindowEventSource(const WindowEventSource& source) { st().windowSource = source; }

void resetQueue() {
  State& s = st();
  s.queue.clear();
  s.mouse = Point{0, 0};
  s.button = false;
  s.modifiers = 0;
  s.modalHook = nullptr;
  s.modalTurns = 0;
  s.idleTrackingTurns = 0;
}

}  // namespace vt::events

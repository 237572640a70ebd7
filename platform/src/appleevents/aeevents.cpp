// Handlers, the queue of pending events and their dispatch.
#include <MacErrors.h>
#include <MacMemory.h>

#include <csignal>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <utility>

#include "appleevents/ae_queue.h"
#include "appleevents/aedesc.h"
#include "core/boundary.h"
#include "core/reset.h"

namespace vt::ae {
void closeInstanceListener();  // aeprocess.cpp

namespace {

constexpr EventKind kHighLevelEventKind = 23;

struct Handler {
  AEEventHandlerUPP proc;
  SRefCon refcon;
};
using HandlerTable = std::map<std::pair<AEEventClass, AEEventID>, Handler>;

struct State {
  HandlerTable appHandlers, sysHandlers;
  std::deque<std::vector<uint8_t>> queue;         // encoded events waiting for delivery
  std::optional<std::vector<uint8_t>> delivered;  // taken by the event queue, not yet handled
  OSErr lastResult = noErr;
};

State& state() {
  static State s;
  return s;
}

volatile std::sig_atomic_t gQuitRequested = 0;

void takeSignalledQuit() {
  if (gQuitRequested) {
    gQuitRequested = 0;
    postQuitApplication();
  }
}

bool classAndID(const std::vector<uint8_t>& bytes, AEEventClass& cls, AEEventID& id) {
  EventParts parts;
  if (!decodeEvent(bytes, parts)) return false;
  cls = id = 0;
  for (const Item& a : parts.attributes) {
    if (a.data.size() != 4) continue;
    if (a.keyword == keyEventClassAttr) std::memcpy(&cls, a.data.data(), 4);
    if (a.keyword == keyEventIDAttr) std::memcpy(&id, a.data.data(), 4);
  }
  return true;
}

void fillRecord(const std::vector<uint8_t>& bytes, EventRecord& e) {
  AEEventClass cls = 0;
  AEEventID id = 0;
  classAndID(bytes, cls, id);
  e.what = kHighLevelEventKind;
  e.message = cls;
  e.when = 0;
  e.where.v = (short)(id >> 16);
  e.where.h = (short)(id & 0xFFFF);
  e.modifiers = 0;
}

const Handler* lookup(const HandlerTable& table, AEEventClass cls, AEEventID id) {
  const std::pair<AEEventClass, AEEventID> keys[] = {
      {cls, id}, {cls, typeWildCard}, {typeWildCard, id}, {typeWildCard, typeWildCard}};
  for (const auto& k : keys) {
    auto it = table.find(k);
    if (it != table.end()) return &it->second;
  }
  return nullptr;
}

HandlerTable& tableFor(Boolean isSysHandler) {
  return isSysHandler ? state().sysHandlers : state().appHandlers;
}

}  // namespace

bool hasPendingEvent() {
  takeSignalledQuit();
  return !state().queue.empty();
}

bool peekPendingEvent(EventRecord& e) {
  takeSignalledQuit();
  if (state().queue.empty()) return false;
  fillRecord(state().queue.front(), e);
  return true;
}

bool takePendingEvent(EventRecord& e) {
  takeSignalledQuit();
  State& s = state();
  if (s.queue.empty()) return false;
  fillRecord(s.queue.front(), e);
  // An event delivered earlier but never handled is dropped: its record is gone.
  s.delivered = std::move(s.queue.front());
  s.queue.pop_front();
  return true;
}

void postAppleEvent(const AppleEvent& event) {
  if (event.descriptorType != typeAppleEvent) return;
  std::vector<uint8_t> bytes = bytesOf(event);
  AEEventClass cls;
  AEEventID id;
  if (classAndID(bytes, cls, id)) state().queue.push_back(std::move(bytes));
}

namespace {
void postSimple(AEEventID id) {
  AppleEvent e;
  if (AECreateAppleEvent(kCoreEventClass, id, nullptr, kAutoGenerateReturnID, kAnyTransactionID,
                         &e) != noErr)
    return;
  postAppleEvent(e);
  AEDisposeDesc(&e);
}

// Files one open or print request carries at most. The application takes the first two as an
// effect's sources; turning thousands of paths into file specifications would stall the event
// loop for many seconds.
constexpr size_t kMaxRequestFiles = 64;

OSErr postFiles(AEEventID id, const std::vector<std::string>& paths) {
  AppleEvent e;
  OSErr err = makeFileListEvent(
      id,
      paths.size() <= kMaxRequestFiles
          ? paths
          : std::vector<std::string>(paths.begin(), paths.begin() + (long)kMaxRequestFiles),
      e);
  if (err != noErr) return err;
  postAppleEvent(e);
  AEDisposeDesc(&e);
  return noErr;
}
}  // namespace

void postOpenApplication() { postSimple(kAEOpenApplication); }
void postQuitApplication() { postSimple(kAEQuitApplication); }
void postReopenApplication() { postSimple(kAEReopenApplication); }
void postQuitFromSignal() { gQuitRequested = 1; }
void postOpenDocuments(const std::vector<std::string>& paths) {
  postFiles(kAEOpenDocuments, paths);
}
void postPrintDocuments(const std::vector<std::string>& paths) {
  postFiles(kAEPrintDocuments, paths);
}

OSErr lastHandlerResult() { return state().lastResult; }

void reset() {
  State& s = state();
  s.appHandlers.clear();
  s.sysHandlers.clear();
  s.queue.clear();
  s.delivered.reset();
  s.lastResult = noErr;
  gQuitRequested = 0;
  closeInstanceListener();
}

const ResetRegistration kReset(ResetStage::Managers, reset);

}  // namespace vt::ae

using vt::ae::state;

AEEventHandlerUPP NewAEEventHandlerUPP(AEEventHandlerProcPtr userRoutine) { return userRoutine; }

// Deliberately does nothing: a handler reference is the routine itself.
void DisposeAEEventHandlerUPP(AEEventHandlerUPP /*userUPP*/) {}

OSErr AEInstallEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                            AEEventHandlerUPP handler, SRefCon handlerRefcon,
                            Boolean isSysHandler) {
  return vt::apiStatus([&]() -> OSErr {
    if (handler == nullptr) return paramErr;
    vt::ae::tableFor(isSysHandler)[{theAEEventClass, theAEEventID}] = {handler, handlerRefcon};
    return noErr;
  });
}

OSErr AERemoveEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                           AEEventHandlerUPP handler, Boolean isSysHandler) {
  return vt::apiStatus([&]() -> OSErr {
    auto& table = vt::ae::tableFor(isSysHandler);
    auto it = table.find({theAEEventClass, theAEEventID});
    // A null handler removes whatever is installed; another must match.
    if (it == table.end() || (handler != nullptr && it->second.proc != handler))
      return errAEHandlerNotFound;
    table.erase(it);
    return noErr;
  });
}

OSErr AEGetEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                        AEEventHandlerUPP* handler, SRefCon* handlerRefcon, Boolean isSysHandler) {
  return vt::apiStatus([&]() -> OSErr {
    auto& table = vt::ae::tableFor(isSysHandler);
    auto it = table.find({theAEEventClass, theAEEventID});
    if (it == table.end()) return errAEHandlerNotFound;
    if (handler) *handler = it->second.proc;
    if (handlerRefcon) *handlerRefcon = it->second.refcon;
    return noErr;
  });
}

OSErr AEProcessAppleEvent(const EventRecord* theEventRecord) {
  return vt::apiStatus([&]() -> OSErr {
    if (theEventRecord == nullptr) return paramErr;
    if (theEventRecord->what != vt::ae::kHighLevelEventKind) return errAENotAppleEvent;
    vt::ae::State& s = state();
    std::vector<uint8_t> bytes;
    if (s.delivered) {
      bytes = std::move(*s.delivered);
      s.delivered.reset();
    } else if (!s.queue.empty()) {
      bytes = std::move(s.queue.front());
      s.queue.pop_front();
    } else {
      return errAENotAppleEvent;
    }
    AEEventClass cls;
    AEEventID id;
    if (!vt::ae::classAndID(bytes, cls, id)) return errAECorruptData;

    const vt::ae::Handler* found = vt::ae::lookup(s.appHandlers, cls, id);
    if (found == nullptr) found = vt::ae::lookup(s.sysHandlers, cls, id);
    if (found == nullptr) {
      s.lastResult = errAEEventNotHandled;
      return errAEEventNotHandled;
    }
    vt::ae::Handler handler = *found;  // the handler may install or remove handlers
    AppleEvent event, reply;
    OSErr err = vt::ae::makeDesc(typeAppleEvent, bytes.data(), bytes.size(), event);
    if (err != noErr) return err;
    err = AECreateAppleEvent(kCoreEventClass, kAEAnswer, nullptr, kAutoGenerateReturnID,
                             kAnyTransactionID, &reply);
    if (err != noErr) {
      AEDisposeDesc(&event);
      return err;
    }
    OSErr result = handler.proc(&event, &reply, (unsigned long)handler.refcon);
    s.lastResult = result;
    AEDisposeDesc(&event);
    AEDisposeDesc(&reply);
    return result;
  });
}

OSErr VTAEPostOpenApplication() {
  return vt::apiStatus([&]() -> OSErr {
    vt::ae::postOpenApplication();
    return noErr;
  });
}

namespace {
std::vector<std::string> pathList(const char* const* paths, long count) {
  std::vector<std::string> out;
  for (long i = 0; i < count; ++i)
    if (paths[i]) out.emplace_back(paths[i]);
  return out;
}
}  // namespace

OSErr VTAEPostOpenDocuments(const char* const* paths, long count) {
  return vt::apiStatus([&]() -> OSErr {
    if (count < 0 || (count > 0 && paths == nullptr)) return paramErr;
    return vt::ae::postFiles(kAEOpenDocuments, pathList(paths, count));
  });
}

OSErr VTAEPostPrintDocuments(const char* const* paths, long count) {
  return vt::apiStatus([&]() -> OSErr {
    if (count < 0 || (count > 0 && paths == nullptr)) return paramErr;
    return vt::ae::postFiles(kAEPrintDocuments, pathList(paths, count));
  });
}

OSErr VTAEPostQuitApplication() {
  return vt::apiStatus([&]() -> OSErr {
    vt::ae::postQuitApplication();
    return noErr;
  });
}

OSErr VTAEPostAppleEvent(const AppleEvent* theAppleEvent) {
  return vt::apiStatus([&]() -> OSErr {
    if (theAppleEvent == nullptr) return paramErr;
    if (theAppleEvent->descriptorType != typeAppleEvent) return errAENotAppleEvent;
    size_t before = state().queue.size();
    vt::ae::postAppleEvent(*theAppleEvent);
    return state().queue.size() > before ? (OSErr)noErr : (OSErr)errAECorruptData;
  });
}

OSErr VTAELastHandlerResult() {
  return vt::apiStatus([&]() -> OSErr { return vt::ae::lastHandlerResult(); });
}

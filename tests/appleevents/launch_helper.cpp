// Test helper: a process that starts like the application and prints the Apple events it gets.
//   VT_HELPER_MODE unset: initialise (no single instance), print the pending events, exit.
//   VT_HELPER_MODE=serve: initialise as the single instance; print "READY"; then wait (at most
//   VT_HELPER_WAIT seconds) for a later launch to hand over files, print them, and exit.
#include <AppleEvents.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "appleevents/ae_queue.h"

namespace {

OSErr printEvent(const AppleEvent* event, AppleEvent*, unsigned long) {
  AEEventID id = 0;
  AEGetAttributePtr(event, keyEventIDAttr, typeType, nullptr, &id, sizeof id, nullptr);
  id = htonl(id);  // the code's characters in reading order
  std::printf("EVENT %.4s\n", (const char*)&id);
  AEDescList list;
  if (AEGetParamDesc(event, keyDirectObject, typeAEList, &list) == noErr) {
    long n = 0;
    AECountItems(&list, &n);
    for (long i = 1; i <= n; ++i) {
      FSSpec spec;
      OSErr err = AEGetNthPtr(&list, i, typeFSS, nullptr, nullptr, &spec, sizeof spec, nullptr);
      char path[4096] = "";
      if (err == noErr) VTFSSpecToPath(&spec, path, sizeof path);
      std::printf("FILE %d %s\n", err, path);
    }
    AEDisposeDesc(&list);
  }
  std::fflush(stdout);
  return noErr;
}

int drain() {
  int handled = 0;
  EventRecord e;
  while (vt::ae::takePendingEvent(e)) {
    AEProcessAppleEvent(&e);
    ++handled;
  }
  return handled;
}

}  // namespace

int main() {
  AEInstallEventHandler(typeWildCard, typeWildCard, NewAEEventHandlerUPP(printEvent), 0, false);
  const char* mode = std::getenv("VT_HELPER_MODE");
  bool serve = mode && std::strcmp(mode, "serve") == 0;
  vt::ae::initialiseProcess(serve);
  drain();
  if (!serve) return 0;
  std::printf("READY\n");
  std::fflush(stdout);
  const char* wait = std::getenv("VT_HELPER_WAIT");
  int deciseconds = 10 * (wait ? std::atoi(wait) : 20);
  for (int i = 0; i < deciseconds; ++i) {
    vt::ae::pollExternal();
    if (drain() > 0) return 0;
    usleep(100000);
  }
  std::printf("TIMEOUT\n");
  return 3;
}

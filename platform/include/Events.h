// Event manager.
#pragma once
#include "MacTypes.h"

struct EventRecord {
  EventKind what;
  unsigned long message;  // pointer-sized: update and activate events carry a window
  UInt32 when;
  Point where;
  EventModifiers modifiers;
};
typedef EventRecord* EventPtr;

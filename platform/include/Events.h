// Event manager.
#pragma once
#include "MacTypes.h"
#include "Quickdraw.h"

struct EventRecord {
  EventKind what;
  unsigned long message;  // pointer-sized: update and activate events carry a window
  UInt32 when;
  Point where;
  EventModifiers modifiers;
};
typedef EventRecord* EventPtr;

typedef UInt16 EventMask;

enum {
  nullEvent = 0,
  mouseDown = 1,
  mouseUp = 2,
  keyDown = 3,
  keyUp = 4,
  autoKey = 5,
  updateEvt = 6,
  diskEvt = 7,
  activateEvt = 8,
  osEvt = 15,
  kHighLevelEvent = 23,
};

enum {
  mDownMask = 1 << mouseDown,
  mUpMask = 1 << mouseUp,
  keyDownMask = 1 << keyDown,
  keyUpMask = 1 << keyUp,
  autoKeyMask = 1 << autoKey,
  updateMask = 1 << updateEvt,
  diskMask = 1 << diskEvt,
  activMask = 1 << activateEvt,
  highLevelEventMask = 0x0400,
  osMask = 0x8000,
  everyEvent = 0xFFFF,
};

enum {
  activeFlagBit = 0,
  btnStateBit = 7,
  cmdKeyBit = 8,
  shiftKeyBit = 9,
  alphaLockBit = 10,
  optionKeyBit = 11,
  controlKeyBit = 12,
};
enum {
  activeFlag = 1,
  btnState = 0x80,
  cmdKey = 0x100,  // the Ctrl key
  shiftKey = 0x200,
  alphaLock = 0x400,
  optionKey = 0x800,  // the Alt key
  controlKey = 0x1000,
};

enum { charCodeMask = 0x000000FF, keyCodeMask = 0x0000FF00, osEvtMessageMask = (long)0xFF000000 };
enum { suspendResumeMessage = 0x01, mouseMovedMessage = 0xFA };
enum { resumeFlag = 1, convertClipboardFlag = 2 };

// Character codes of special keys.
enum {
  kHomeCharCode = 1,
  kEnterCharCode = 3,
  kEndCharCode = 4,
  kBackspaceCharCode = 8,
  kTabCharCode = 9,
  kPageUpCharCode = 11,
  kPageDownCharCode = 12,
  kReturnCharCode = 13,
  kEscapeCharCode = 27,
  kLeftArrowCharCode = 28,
  kRightArrowCharCode = 29,
  kUpArrowCharCode = 30,
  kDownArrowCharCode = 31,
  kSpaceCharCode = 32,
  kDeleteCharCode = 127,
};

enum { evtNotEnb = 1, queueFull = -1 };

Boolean WaitNextEvent(EventMask eventMask, EventRecord* theEvent, UInt32 sleep, RgnHandle mouseRgn);
Boolean GetNextEvent(EventMask eventMask, EventRecord* theEvent);
Boolean EventAvail(EventMask eventMask, EventRecord* theEvent);
void FlushEvents(EventMask whichMask, EventMask stopMask);
OSErr PostEvent(EventKind eventNum, UInt32 eventMsg);

// Mouse position in the current port's local coordinates.
void GetMouse(Point* mouseLoc);
Boolean Button();
Boolean StillDown();
Boolean WaitMouseUp();
UInt32 TickCount();
UInt32 GetDblTime();
UInt32 GetCaretTime();
// Waits numTicks sixtieths of a second (the clock moves on); finalTicks gets TickCount() after.
void Delay(unsigned long numTicks, unsigned long* finalTicks);

// Sounds the alert sound (where the display has audio) and counts it.
void SysBeep(short duration);

// Memory manager: relocatable blocks (handles) and non-relocatable blocks (pointers).
//
// A Handle points at a master pointer that lives outside the block, so SetHandleSize may move
// the block and every holder of the handle still finds it. A locked handle's block never moves.
// Pointer blocks never move; SetPtrSize grows them in place within the room reserved for them.
#pragma once
#include "MacTypes.h"

Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
Handle NewEmptyHandle();
void DisposeHandle(Handle h);
Size GetHandleSize(Handle h);
void SetHandleSize(Handle h, Size newSize);
void HLock(Handle h);
void HUnlock(Handle h);
void HLockHi(Handle h);
void HNoPurge(Handle h);
SInt8 HGetState(Handle h);
void HSetState(Handle h, SInt8 flags);
void MoveHHi(Handle h);
OSErr HandToHand(Handle* theHndl);
OSErr PtrToHand(const void* srcPtr, Handle* dstHndl, long size);
OSErr PtrToXHand(const void* srcPtr, Handle dstHndl, long size);
OSErr HandAndHand(Handle hand1, Handle hand2);
OSErr PtrAndHand(const void* ptr1, Handle hand2, long size);
long Munger(Handle h, long offset, const void* ptr1, long len1, const void* ptr2, long len2);

Ptr NewPtr(Size byteCount);
Ptr NewPtrClear(Size byteCount);
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p);
void SetPtrSize(Ptr p, Size newSize);

OSErr MemError();

void BlockMove(const void* srcPtr, void* destPtr, Size byteCount);
void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount);
void BlockZero(void* destPtr, Size byteCount);

// Handle state bits returned by HGetState.
enum { kHandleIsResourceBit = 5, kHandlePurgeableBit = 6, kHandleLockedBit = 7 };
enum { kHandleLockedMask = 0x80, kHandlePurgeableMask = 0x40, kHandleIsResourceMask = 0x20 };

// Vantrel additions (not in the original toolbox).
// True when h is a live handle made by NewHandle and not yet disposed.
Boolean VTIsValidHandle(Handle h);
// Number of live handles and pointer blocks; tests use it to find leaks.
long VTLiveHandleCount();
long VTLivePtrCount();

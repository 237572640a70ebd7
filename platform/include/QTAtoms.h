// Atom containers: trees of typed, numbered atoms in one handle, in the published byte layout
// (12-byte header, a root atom 'sean' ID 1, 20-byte atom headers, big-endian), so a
// container's bytes can be stored as a sample or in a file unchanged. Also the movie layer's
// preferences, which are stored as atom containers.
//
// A QTAtom is the byte offset of an atom in its container; kParentAtomIsContainer (0) names
// the root. Any edit that changes sizes invalidates the QTAtom values after the edit point,
// and data pointers unless the container is locked. Every call checks the container's bytes;
// a malformed container answers invalidAtomContainerErr, a QTAtom that is not an atom of the
// container invalidAtomErr.
#pragma once
#include "MacErrors.h"
#include "MacTypes.h"
#include "Movies.h"

typedef Handle QTAtomContainerHandle;

OSErr QTNewAtomContainer(QTAtomContainer* atomData);
OSErr QTDisposeAtomContainer(QTAtomContainer atomData);

// Inserts a leaf (dataSize bytes copied from data; zero-filled when data is null) under
// parent. index 0 appends after all children; index n (1-based) inserts before the n-th child
// of that type. id 0 picks a new unique ID. duplicateAtomTypeAndIDErr when parent already has
// a child of that type and ID; atomIndexInvalidErr for an index beyond count + 1.
OSErr QTInsertChild(QTAtomContainer container, QTAtom parentAtom, QTAtomType atomType, QTAtomID id,
                    short index, long dataSize, void* data, QTAtom* newAtom);
// Copies every top-level atom of childrenContainer (with descendants) under parentAtom.
OSErr QTInsertChildren(QTAtomContainer container, QTAtom parentAtom,
                       QTAtomContainer childrenContainer);

// Lookups answer 0 when nothing is found (or the container is malformed).
QTAtom QTFindChildByIndex(QTAtomContainer container, QTAtom parentAtom, QTAtomType atomType,
                          short index, QTAtomID* id);
QTAtom QTFindChildByID(QTAtomContainer container, QTAtom parentAtom, QTAtomType atomType,
                       QTAtomID id, short* index);
short QTCountChildrenOfType(QTAtomContainer container, QTAtom parentAtom, QTAtomType childType);
short QTCountChildren(QTAtomContainer container, QTAtom parentAtom);
// currentChild 0 gives the first child; *nextChild is 0 after the last.
OSErr QTNextChildAnyType(QTAtomContainer container, QTAtom parentAtom, QTAtom currentChild,
                         QTAtom* nextChild);
// The distinct child types in order of first appearance: 0 gives the first, 0 after the last.
QTAtomType QTGetNextChildType(QTAtomContainer container, QTAtom parentAtom,
                              QTAtomType currentChildType);
OSErr QTGetAtomTypeAndID(QTAtomContainer container, QTAtom atom, QTAtomType* atomType,
                         QTAtomID* id);
// The parent of an atom (kParentAtomIsContainer for top-level atoms).
QTAtom QTGetAtomParent(QTAtomContainer container, QTAtom childAtom);

// Data of a leaf: its size and a pointer into the container (lock the container to keep the
// pointer valid). notLeafAtomErr for an atom with children.
OSErr QTGetAtomDataPtr(QTAtomContainer container, QTAtom atom, long* dataSize, Ptr* atomData);
// Copies a leaf's data into dataPtr. The data must fit in maxSize; with sizeOrLessOK false it
// must be exactly maxSize bytes (paramErr otherwise, nothing copied).
OSErr QTCopyAtomDataToPtr(QTAtomContainer container, QTAtom atom, Boolean sizeOrLessOK,
                          long maxSize, void* dataPtr, long* actualSize);
OSErr QTSetAtomData(QTAtomContainer container, QTAtom atom, long dataSize, void* atomData);
OSErr QTSetAtomID(QTAtomContainer container, QTAtom atom, QTAtomID newID);

// A new container holding a copy of the atom (and its descendants) at its top level; the
// whole container when atom is kParentAtomIsContainer.
OSErr QTCopyAtom(QTAtomContainer container, QTAtom atom, QTAtomContainer* targetContainer);
// Replaces the data or children of targetAtom (keeping its type and ID) with those of
// replacementAtom.
OSErr QTReplaceAtom(QTAtomContainer targetContainer, QTAtom targetAtom,
                    QTAtomContainer replacementContainer, QTAtom replacementAtom);
OSErr QTRemoveAtom(QTAtomContainer container, QTAtom atom);
OSErr QTRemoveChildren(QTAtomContainer container, QTAtom atom);

// Locking keeps the handle (and data pointers into it) in place; calls nest.
OSErr QTLockContainer(QTAtomContainer container);
OSErr QTUnlockContainer(QTAtomContainer container);

// Preferences of the movie layer, one atom container per type, kept under
// $XDG_CONFIG_HOME/vantrel/ (default ~/.config/vantrel/). Get answers a new container that the
// caller disposes; resNotFound (and a null container) when none is stored,
// invalidAtomContainerErr when the stored one is damaged.
enum { ConnectionSpeedPrefsType = 'cspd', BandwidthManagementPrefsType = 'bwmg' };
enum {
  kDataRate144ModemRate = 1400,
  kDataRate288ModemRate = 2800,
  kDataRateISDNRate = 5600,
  kDataRateDualISDNRate = 11200,
  kDataRate256kbpsRate = 25600,
  kDataRate384kbpsRate = 38400,
  kDataRate512kbpsRate = 51200,
  kDataRate768kbpsRate = 76800,
  kDataRate1MbpsRate = 100000,
  kDataRateT1Rate = 150000,
  kDataRateInfiniteRate = 0x7FFFFFFF,
};
// Stored as the 'cspd' atom's data: exactly 4 bytes, big-endian.
struct ConnectionSpeedPrefsRecord {
  SInt32 connectionSpeed;
};
static_assert(sizeof(ConnectionSpeedPrefsRecord) == 4, "the stored record is 4 bytes");
OSErr GetQuickTimePreference(OSType preferenceType, QTAtomContainer* preferenceAtom);
OSErr SetQuickTimePreference(OSType preferenceType, QTAtomContainer preferenceAtom);

// Movie toolbox: movies, tracks, media, time, movie files.
// Types shared with other managers come first; the operations follow.
#pragma once
#include "Components.h"
#include "Files.h"
#include "ImageCompression.h"
#include "MacErrors.h"
#include "MacTypes.h"
#include "Quickdraw.h"

struct VTMovie;
struct VTTrack;
struct VTMedia;
struct VTTimeBase;
struct VTUserData;
typedef VTMovie* Movie;
typedef Movie* PtrMovie;
typedef VTTrack* Track;
typedef VTMedia* Media;
typedef VTTimeBase* TimeBase;
typedef VTUserData* UserData;
typedef Handle SampleDescriptionHandle;
typedef long MediaSampleFlags;
typedef ComponentInstance MediaHandler;
typedef Component MediaHandlerComponent;
typedef Handle AliasHandle;

struct TimeRecord {
  CompTimeValue value;
  TimeScale scale;
  TimeBase base;
};

// Atom containers (operations in QTAtoms.h).
typedef Handle QTAtomContainer;
typedef long QTAtom;
typedef long QTAtomType;
typedef long QTAtomID;
enum { kParentAtomIsContainer = 0 };

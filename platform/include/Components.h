// Component manager.
#pragma once
#include "MacTypes.h"

struct ComponentDescription {
  OSType componentType;
  OSType componentSubType;
  OSType componentManufacturer;
  UInt32 componentFlags;
  UInt32 componentFlagsMask;
};

struct VTComponentRecord;
struct VTComponentInstanceRecord;
typedef VTComponentRecord* Component;
typedef VTComponentInstanceRecord* ComponentInstance;
typedef SInt32 ComponentResult;

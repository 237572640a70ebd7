// Apple event descriptors.
#pragma once
#include "MacTypes.h"

typedef FourCharCode DescType;
typedef FourCharCode AEKeyword;
typedef FourCharCode AEEventClass;
typedef FourCharCode AEEventID;

struct VTAEDescData;
typedef VTAEDescData** AEDataStorage;

struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle;
};
typedef AEDesc* AEDescPtr;
typedef AEDesc AEDescList;
typedef AEDescList AERecord;
typedef AERecord AppleEvent;
typedef AppleEvent* AppleEventPtr;
typedef Handle AEDataStorageType;

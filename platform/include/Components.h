// Component manager: the registry of installed components (movie importers, graphics
// importers) and their instances.
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

enum {
  kAnyComponentType = 0,
  kAnyComponentSubType = 0,
  kAnyComponentManufacturer = 0,
  kAnyComponentFlagsMask = 0,
};

// The next component after `aComponent` (null: the first) that matches `looking`: type,
// subtype and manufacturer where they are not 0, and the flags under componentFlagsMask.
// Components come in a fixed order. Null when there is no further match.
Component FindNextComponent(Component aComponent, ComponentDescription* looking);
// How many components match `looking` (all of them for a null description).
long CountComponents(ComponentDescription* looking);
// The component's description (flags mask 0); its name and information strings go into the
// handles given (length-prefixed), which are resized to fit. Icons are not kept (the handle is
// left unchanged). invalidComponentID for an unknown component.
OSErr GetComponentInfo(Component aComponent, ComponentDescription* cd, Handle componentName,
                       Handle componentInfo, Handle componentIcon);
// Opens an instance of the component (null when it cannot be opened).
ComponentInstance OpenComponent(Component aComponent);
OSErr OpenAComponent(Component aComponent, ComponentInstance* ci);
// Closes an instance; badComponentInstance for anything that is not a live instance.
OSErr CloseComponent(ComponentInstance aComponentInstance);
// The component an instance was opened from (null for an invalid instance).
Component VTGetComponentOfInstance(ComponentInstance ci);

// File manager: file specifications and Finder information.
#pragma once
#include "MacTypes.h"

struct FSSpec {
  short vRefNum;
  long parID;
  Str63 name;
};
typedef FSSpec* FSSpecPtr;
typedef FSSpec** FSSpecHandle;

struct FInfo {
  OSType fdType;
  OSType fdCreator;
  UInt16 fdFlags;
  Point fdLocation;
  short fdFldr;
};

enum {
  fsCurPerm = 0x00,
  fsRdPerm = 0x01,
  fsWrPerm = 0x02,
  fsRdWrPerm = 0x03,
  fsRdWrShPerm = 0x04,
};

enum { smSystemScript = -1, smCurrentScript = -2, smRoman = 0 };

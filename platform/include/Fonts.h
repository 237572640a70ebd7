// Font manager. One family (DejaVu Sans) stands in for every font number.
#pragma once
#include "MacTypes.h"

enum {
  systemFont = 0,
  applFont = 1,
  kFontIDNewYork = 2,
  kFontIDGeneva = 3,
  kFontIDMonaco = 4,
  kFontIDTimes = 20,
  kFontIDHelvetica = 21,
  kFontIDCourier = 22,
};

// The font number of a family name; families we do not know give applFont.
void GetFNum(ConstStr255Param name, short* familyID);
void GetFontName(short familyID, Str255 name);
short GetSysFont();
short GetAppFont();

// Window manager.
#pragma once
#include "Quickdraw.h"

struct VTWindow;
typedef VTWindow* WindowPtr;
typedef VTWindow* WindowRef;
typedef WindowPtr CWindowPtr;

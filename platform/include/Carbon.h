// Everything the application sees of the platform, in one include.
#pragma once
#include "MacTypes.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "TextUtils.h"
#include "FixMath.h"
#include "Gestalt.h"
#include "Processes.h"
#include "Endian.h"
#include "Quickdraw.h"
#include "MacWindows.h"
#include "Events.h"
#include "Files.h"
#include "AEDataModel.h"
#include "Components.h"
#include "ImageCompression.h"
#include "Movies.h"
#include "MovieControllers.h"
// Headers of managers that are still being filled in are included when present.
#if __has_include("Menus.h")
#include "Menus.h"
#endif
#if __has_include("Dialogs.h")
#include "Dialogs.h"
#endif
#if __has_include("Resources.h")
#include "Resources.h"
#endif
#if __has_include("AppleEvents.h")
#include "AppleEvents.h"
#endif
#if __has_include("Navigation.h")
#include "Navigation.h"
#endif
#if __has_include("Appearance.h")
#include "Appearance.h"
#endif
#if __has_include("QTAtoms.h")
#include "QTAtoms.h"
#endif
#if __has_include("MovieUserData.h")
#include "MovieUserData.h"
#endif
#if __has_include("QuickTimeComponents.h")
#include "QuickTimeComponents.h"
#endif
#if __has_include("QuickTimeEffects.h")
#include "QuickTimeEffects.h"
#endif
#if __has_include("Scrap.h")
#include "Scrap.h"
#endif

// The standard movie controller.
#pragma once
#include "Components.h"
#include "Events.h"
#include "MacWindows.h"
#include "Movies.h"

typedef ComponentInstance MovieController;
typedef short mcAction;
typedef unsigned long MCInterfaceElement;

typedef Boolean (*MCActionFilterWithRefConProcPtr)(MovieController theController, short action,
                                                   void* params, long refCon);
typedef MCActionFilterWithRefConProcPtr MCActionFilterWithRefConUPP;
MCActionFilterWithRefConUPP NewMCActionFilterWithRefConUPP(MCActionFilterWithRefConProcPtr proc);
void DisposeMCActionFilterWithRefConUPP(MCActionFilterWithRefConUPP upp);

enum {
  mcActionIdle = 1,
  mcActionDraw = 2,
  mcActionActivate = 3,
  mcActionDeactivate = 4,
  mcActionMouseDown = 5,
  mcActionKey = 6,
  mcActionPlay = 8,
  mcActionGoToTime = 12,
  mcActionSetVolume = 14,
  mcActionGetVolume = 15,
  mcActionStep = 18,
  mcActionSetLooping = 21,
  mcActionGetLooping = 22,
  mcActionSetLoopIsPalindrome = 23,
  mcActionGetLoopIsPalindrome = 24,
  mcActionSetGrowBoxBounds = 25,
  mcActionControllerSizeChanged = 26,
  mcActionSetSelectionBegin = 29,
  mcActionSetSelectionDuration = 30,
  mcActionSetKeysEnabled = 32,
  mcActionGetKeysEnabled = 33,
  mcActionSetPlaySelection = 34,
  mcActionGetPlaySelection = 35,
  mcActionSetUseBadge = 36,
  mcActionGetUseBadge = 37,
  mcActionSetFlags = 38,
  mcActionGetFlags = 39,
  mcActionSetPlayEveryFrame = 40,
  mcActionGetPlayEveryFrame = 41,
  mcActionGetPlayRate = 42,
  mcActionShowBalloon = 43,
  mcActionBadgeClick = 44,
  mcActionMovieClick = 45,
  mcActionSuspend = 46,
  mcActionResume = 47,
  mcActionSetControllerKeysEnabled = 48,
  mcActionGetTimeSliderRect = 49,
  mcActionMovieEdited = 50,
  mcActionGetDragEnabled = 51,
  mcActionSetDragEnabled = 52,
  mcActionPrerollAndPlay = 57,
};

enum {
  mcFlagSuppressMovieFrame = 1 << 0,
  mcFlagSuppressStepButtons = 1 << 1,
  mcFlagSuppressSpeakerButton = 1 << 2,
  mcFlagsUseWindowPalette = 1 << 3,
  mcFlagsDontInvalidate = 1 << 4,
  mcFlagsUseCustomButton = 1 << 5,
};
enum { mcFlagQTVRExplicitFlagSet = (long)0x80000000 };

enum {
  mcInfoUndoAvailable = 1 << 0,
  mcInfoCutAvailable = 1 << 1,
  mcInfoCopyAvailable = 1 << 2,
  mcInfoPasteAvailable = 1 << 3,
  mcInfoClearAvailable = 1 << 4,
  mcInfoHasSound = 1 << 5,
  mcInfoIsPlaying = 1 << 6,
  mcInfoIsLooping = 1 << 7,
  mcInfoIsInPalindrome = 1 << 8,
  mcInfoEditingEnabled = 1 << 9,
  mcInfoMovieIsInteractive = 1 << 10,
};

enum {
  mcTopLeftMovie = 1 << 0,
  mcScaleMovieToFit = 1 << 1,
  mcWithBadge = 1 << 2,
  mcNotVisible = 1 << 3,
  mcWithFrame = 1 << 4,
};

MovieController NewMovieController(Movie theMovie, const Rect* movieRect, long someFlags);
void DisposeMovieController(MovieController mc);
ComponentResult MCIsPlayerEvent(MovieController mc, const EventRecord* e);
ComponentResult MCIdle(MovieController mc);
ComponentResult MCActivate(MovieController mc, WindowRef w, Boolean activate);
ComponentResult MCDoAction(MovieController mc, short action, void* params);
ComponentResult MCSetActionFilterWithRefCon(MovieController mc, MCActionFilterWithRefConUPP blob,
                                            long refCon);
ComponentResult MCEnableEditing(MovieController mc, Boolean enabled);
ComponentResult MCGetControllerInfo(MovieController mc, long* someFlags);
// Undo steps back through the controller's edit history (paramErr when there is nothing to
// undo); VTMCRedo steps forward again over what was undone, until a new edit drops those steps.
ComponentResult MCUndo(MovieController mc);
ComponentResult VTMCRedo(MovieController mc);
Movie MCCut(MovieController mc);
Movie MCCopy(MovieController mc);
ComponentResult MCPaste(MovieController mc, Movie srcMovie);
ComponentResult MCClear(MovieController mc);
ComponentResult MCGetVisible(MovieController mc);
ComponentResult MCSetVisible(MovieController mc, Boolean visible);
ComponentResult MCGetControllerBoundsRect(MovieController mc, Rect* bounds);
ComponentResult MCIsControllerAttached(MovieController mc);
ComponentResult MCSetControllerAttached(MovieController mc, Boolean attach);
ComponentResult MCPositionController(MovieController mc, const Rect* movieRect,
                                     const Rect* controllerRect, long someFlags);
Movie MCGetIndMovie(MovieController mc, short index);
// The movie scrap (in memory, for this process). PutMovieOnScrap stores a copy of the whole
// movie, replacing what the scrap held; NewMovieFromScrap gives the caller a new copy of it,
// or null (GetMoviesError: noMovieFound) when the scrap holds no movie.
OSErr PutMovieOnScrap(Movie theMovie, long movieScrapFlags);
Movie NewMovieFromScrap(long newMovieFlags);
// True when the scrap holds a movie.
Boolean VTMovieScrapHasMovie();
// Empties the movie scrap (tests; the scrap otherwise lives until the process ends).
void VTMovieScrapClear();

// The application shell: start-up and shutdown, the event loop and its dispatch, movie window
// creation and destruction, the shared modal dialog filter, the about box and the warning.
#pragma once
#include "MacPrefix.h"

#include "ComFramework.h"

// Shell state, shared with the document framework and the application hooks.
extern Boolean gShuttingDown;
extern Boolean gAppInForeground;
extern short gAppResFile;
extern Str255 gAppName;
extern ModalFilterUPP gModalFilterUPP;
extern UserItemUPP gUserItemProcUPP;

// Title and bounds of every new window, before the document gives it its own.
extern Str255 gWindowTitle;
extern Rect gWindowRect;

// Start-up and shutdown
void QTFrame_QuitFramework(void);

// Event dispatch
void QTFrame_HandleEvent(EventRecord* theEvent);
void QTFrame_HandleMenuCommand(long theMenuResult);
void QTFrame_HandleKeyPress(EventRecord* theEvent);

// Movie windows
WindowReference QTFrame_CreateMovieWindow(void);
void QTFrame_DestroyMovieWindow(WindowReference theWindow);

// Modal dialogs, about box and warnings
Boolean QTFrame_StandardModalDialogEventFilter(DialogPtr theDialog, EventRecord* theEvent,
                                               DialogItemIndex* theItemHit);
void QTFrame_StandardUserItemProcedure(DialogPtr theDialog, DialogItemIndex theItem);
void QTFrame_ShowAboutBox(void);
void QTFrame_ShowWarning(StringPtr theMessage, OSErr theErr);

// The whole life of the process, as the process entry runs it: start-up, the event loop,
// shutdown, and the end of the process through ExitToShell. The executable's `main` is this
// call; in-process tests run it with the exit intercepted (VTSetExitHook).
int VTApp_Main(void);

// The application shell: start-up and shutdown, the event loop and its dispatch, movie window
// creation and destruction, the shared modal dialog filter, the about box and the warning.
#include "MacFramework.h"

#include "ComApplication.h"
#include "ComResource.h"

Boolean gShuttingDown = false;
Boolean gAppInForeground = false;
short gAppResFile = -1;
Str255 gAppName = {0};
ModalFilterUPP gModalFilterUPP = NULL;
UserItemUPP gUserItemProcUPP = NULL;

Str255 gWindowTitle = {8, 'u', 'n', 't', 'i', 't', 'l', 'e', 'd'};
Rect gWindowRect = {10, 10, 480, 640};

namespace {

// The behind argument that puts a new window in front of all others.
WindowPtr const kInFrontOfAll = (WindowPtr)-1L;

// The parts of the system version that tell a 10.x system from a 9.x one.
const SInt32 kLastClassicSystemVersion = 0x09FF;

const unsigned char kQuickTimeFailedMessage[] =
    "\x28"
    "Could not initialize QuickTime. Exiting.";
const unsigned char kWarningTitle[] =
    "\x08"
    "Warning!";

void SetArrowCursor() {
  Cursor myArrow;
  SetCursor(GetQDGlobalsArrow(&myArrow));
}

}  // namespace

static void QTFrame_InitMacEnvironment(void);
static Boolean QTFrame_InitMenuBar(void);
static void QTFrame_MainEventLoop(void);
static Boolean QTFrame_CheckMovieControllers(EventRecord* theEvent);

//////////
// Start-up and shutdown
//////////

int VTApp_Main(void) {
  QTFrame_InitMacEnvironment();

  OSErr myErr = EnterMovies();
  if (myErr != noErr) {
    QTFrame_ShowWarning((StringPtr)kQuickTimeFailedMessage, myErr);
    ExitToShell();
  }

  QTApp_Init(kInitAppPhase_BothPhases);
  QTFrame_MainEventLoop();

  ExitMovies();
  ExitToShell();
}

#ifndef VANTREL_APP_LIBRARY
int main(void) { return VTApp_Main(); }
#endif

static void QTFrame_InitMacEnvironment(void) {
  InitCursor();
  QTFrame_InitMenuBar();
  gAppInForeground = true;

  gModalFilterUPP = NewModalFilterUPP(QTFrame_StandardModalDialogEventFilter);
  gUserItemProcUPP = NewUserItemUPP(QTFrame_StandardUserItemProcedure);

  gAppResFile = CurResFile();
  GetIndString(gAppName, kAppNameResID, kAppNameResIndex);
}

static Boolean QTFrame_InitMenuBar(void) {
  Handle myMenuBar = GetNewMBar(kMenuBarResID);
  RegisterAppearanceClient();
  if (myMenuBar == NULL) return false;

  SetMenuBar(myMenuBar);
  DisposeHandle(myMenuBar);

  // From 10.0 on the system's application menu quits (through the quit Apple event), so the
  // File menu loses Quit and the separator above it.
  SInt32 myResponse = 0;
  if (Gestalt(gestaltSystemVersion, &myResponse) == noErr &&
      myResponse > kLastClassicSystemVersion) {
    MenuReference myMenu = GetMenuHandle(kFileMenuResID);
    if (myMenu != NULL) {
      DeleteMenuItem(myMenu, kFileQuitItem);
      DeleteMenuItem(myMenu, kFileQuitSeparatorItem);
    }
  }

  QTFrame_AdjustMenus(NULL, NULL);
  DrawMenuBar();
  return true;
}

void QTFrame_QuitFramework(void) {
  gShuttingDown = true;

  QTApp_Stop(kStopAppPhase_BeforeDestroyWindows);
  QTFrame_CloseMovieWindows();

  // A Cancel in a save-changes dialog abandons the shutdown.
  if (!gShuttingDown) return;

  QTApp_Stop(kStopAppPhase_AfterDestroyWindows);

  if (gValidFileTypes != NULL) {
    DisposePtr((Ptr)gValidFileTypes);
    gValidFileTypes = NULL;
  }

  // Cleared as well, so nothing can reach a released callback afterwards.
  if (gModalFilterUPP != NULL) DisposeModalFilterUPP(gModalFilterUPP);
  gModalFilterUPP = NULL;
  if (gUserItemProcUPP != NULL) DisposeUserItemUPP(gUserItemProcUPP);
  gUserItemProcUPP = NULL;
}

//////////
// Event loop and dispatch
//////////

static void QTFrame_MainEventLoop(void) {
  EventRecord myEvent;

  while (!gShuttingDown) {
    // Dispatched whether or not an event was pending: an empty turn is a null event.
    WaitNextEvent(everyEvent, &myEvent, 0, NULL);

    Boolean isHandled = QTApp_HandleEvent(&myEvent);
    if (!isHandled) isHandled = QTFrame_CheckMovieControllers(&myEvent);
    if (!isHandled) QTFrame_HandleEvent(&myEvent);
  }
}

static Boolean QTFrame_CheckMovieControllers(EventRecord* theEvent) {
  WindowReference myWindow = QTFrame_GetFrontMovieWindow();
  while (myWindow != NULL) {
    MovieController myMC = QTFrame_GetMCFromWindow(myWindow);
    if (myMC != NULL && MCIsPlayerEvent(myMC, theEvent)) return true;
    myWindow = QTFrame_GetNextMovieWindow(myWindow);
  }
  return false;
}

void QTFrame_HandleEvent(EventRecord* theEvent) {
  if (theEvent == NULL) return;

  WindowReference myWindow = FrontWindow();

  switch (theEvent->what) {
    case nullEvent: {
      WindowReference myMovieWindow = QTFrame_GetFrontMovieWindow();
      while (myMovieWindow != NULL) {
        if (gAppInForeground) QTApp_Idle(myMovieWindow);
        myMovieWindow = QTFrame_GetNextMovieWindow(myMovieWindow);
      }
      break;
    }

    case mouseDown: {
      short myWindowPart = FindWindow(theEvent->where, &myWindow);
      switch (myWindowPart) {
        case inMenuBar:
          QTFrame_AdjustMenus(FrontWindow(), NULL);
          QTFrame_HandleMenuCommand(MenuSelect(theEvent->where));
          break;

        case inContent:
          if (myWindow != FrontWindow()) {
            SelectWindow(myWindow);
            SetPort(QTFrame_GetPortFromWindowReference(myWindow));
          } else {
            QTApp_HandleContentClick(myWindow, theEvent);
          }
          break;

        case inDrag: {
          Rect myLimitRect;
          GetRegionBounds(GetGrayRgn(), &myLimitRect);

          WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(myWindow);
          Rect myAlignRect = {0, 0, 0, 0};
          Boolean hasAlignRect = false;
          if (myWindowObject != NULL) {
            if ((**myWindowObject).fMovie != NULL) {
              GetMovieBox((**myWindowObject).fMovie, &myAlignRect);
              hasAlignRect = true;
            }
            if ((**myWindowObject).fGraphicsImporter != NULL) {
              GraphicsImportGetNaturalBounds((**myWindowObject).fGraphicsImporter, &myAlignRect);
              hasAlignRect = true;
            }
          }
          // A record with neither a movie nor an image has nothing to align on.
          if (hasAlignRect)
            DragAlignedWindow(myWindow, theEvent->where, &myLimitRect, &myAlignRect, NULL);
          else
            DragWindow(myWindow, theEvent->where, &myLimitRect);
          break;
        }

        case inGoAway:
          if (TrackGoAway(myWindow, theEvent->where)) {
            if (theEvent->modifiers & optionKey)
              QTFrame_CloseMovieWindows();
            else
              QTFrame_DestroyMovieWindow(myWindow);
          }
          break;

        default: break;
      }
      break;
    }

    case keyDown:
    case autoKey: QTFrame_HandleKeyPress(theEvent); break;

    case updateEvt: {
      myWindow = (WindowReference)theEvent->message;
      if (myWindow == NULL) break;

      WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(myWindow);
      if (myWindowObject != NULL && (**myWindowObject).fGraphicsImporter != NULL)
        GraphicsImportDraw((**myWindowObject).fGraphicsImporter);

      Rect myRefreshArea = {0, 0, 0, 0};
      RgnHandle myVisibleRgn = NewRgn();
      if (myVisibleRgn != NULL) {
        GetPortVisibleRegion((CGrafPtr)QTFrame_GetPortFromWindowReference(myWindow), myVisibleRgn);
        GetRegionBounds(myVisibleRgn, &myRefreshArea);
      }
      QTApp_Draw(myWindow, &myRefreshArea);
      if (myVisibleRgn != NULL) DisposeRgn(myVisibleRgn);
      break;
    }

    case activateEvt:
      myWindow = (WindowReference)theEvent->message;
      if (QTFrame_IsAppWindow(myWindow))
        QTFrame_ActivateController(myWindow, (theEvent->modifiers & activeFlag) != 0);
      break;

    case osEvt:
      if (((theEvent->message >> 24) & 0xFF) == suspendResumeMessage) {
        gAppInForeground = (theEvent->message & resumeFlag) != 0;
        if (myWindow != NULL) QTFrame_ActivateController(myWindow, gAppInForeground);
      }
      break;

    case kHighLevelEvent: AEProcessAppleEvent(theEvent); break;

    default: break;
  }
}

void QTFrame_HandleMenuCommand(long theMenuResult) {
  SetArrowCursor();

  UInt16 myMenuID = (UInt16)((theMenuResult >> 16) & 0xFFFF);
  UInt16 myItem = (UInt16)(theMenuResult & 0xFFFF);
  UInt16 myCommand = (UInt16)((myMenuID << 8) + myItem);

  switch (myMenuID) {
    case kAppleMenuResID:
      if (myItem == 1) QTFrame_ShowAboutBox();
      break;
    case kFileMenuResID:
      QTFrame_HandleFileMenuItem(QTFrame_GetFrontMovieWindow(), myCommand);
      break;
    case kEditMenuResID:
      QTFrame_HandleEditMenuItem(QTFrame_GetFrontMovieWindow(), myCommand);
      break;
    default: QTApp_HandleMenu(myCommand); break;
  }

  HiliteMenu(0);
}

void QTFrame_HandleKeyPress(EventRecord* theEvent) {
  if (theEvent == NULL) return;
  char myKey = (char)(theEvent->message & charCodeMask);

  if (theEvent->modifiers & cmdKey) {
    QTFrame_AdjustMenus(FrontWindow(), NULL);
    QTFrame_HandleMenuCommand(MenuKey(myKey));
  } else {
    QTApp_HandleKeyPress(myKey);
  }
}

//////////
// Movie windows
//////////

WindowReference QTFrame_CreateMovieWindow(void) {
  WindowReference myWindow =
      NewCWindow(NULL, &gWindowRect, gWindowTitle, false, noGrowDocProc, kInFrontOfAll, true, 0);
  QTFrame_CreateWindowObject(myWindow);
  return myWindow;
}

void QTFrame_DestroyMovieWindow(WindowReference theWindow) {
  WindowObject myWindowObject = QTFrame_GetWindowObjectFromWindow(theWindow);
  if (myWindowObject == NULL) {
    if (theWindow != NULL) DisposeWindow(theWindow);
    return;
  }

  if ((**myWindowObject).fIsDirty) {
    NavEventUPP myEventUPP = NewNavEventUPP(QTFrame_HandleNavEvent);
    Str255 myTitle;
    NavDialogOptions myDialogOptions;
    NavAskSaveChangesAction myAction;
    NavAskSaveChangesResult myReply = kNavAskSaveChangesCancel;

    GetWTitle(theWindow, myTitle);
    NavGetDefaultDialogOptions(&myDialogOptions);
    BlockMoveData(gAppName, myDialogOptions.clientName, gAppName[0] + 1);
    BlockMoveData(myTitle, myDialogOptions.savedFileName, myTitle[0] + 1);

    myAction = gShuttingDown ? kNavSaveChangesQuittingApplication : kNavSaveChangesClosingDocument;
    // A dialog that cannot run must not lose the changes: it counts as Cancel.
    if (NavAskSaveChanges(&myDialogOptions, myAction, &myReply, myEventUPP, NULL) != noErr)
      myReply = kNavAskSaveChangesCancel;
    if (myEventUPP != NULL) DisposeNavEventUPP(myEventUPP);

    switch (myReply) {
      case kNavAskSaveChangesSave:
        // A save that did not happen (cancelled, disk full) keeps the window and its edits,
        // as a Cancel does; closing it would lose them.
        if (!QTFrame_UpdateMovieFile(theWindow)) {
          gShuttingDown = false;
          return;
        }
        break;
      case kNavAskSaveChangesDontSave: break;
      case kNavAskSaveChangesCancel:
      default: gShuttingDown = false; return;
    }
  }

  QTFrame_CloseWindowObject(myWindowObject);
  DisposeWindow(theWindow);
}

//////////
// Modal dialogs, about box and warnings
//////////

Boolean QTFrame_StandardModalDialogEventFilter(DialogPtr theDialog, EventRecord* theEvent,
                                               DialogItemIndex* theItemHit) {
  Boolean isHandled = false;
  if (theEvent == NULL) return false;

  switch (theEvent->what) {
    case updateEvt: {
      WindowReference myWindow = (WindowReference)theEvent->message;
      if (myWindow != NULL && myWindow != GetDialogWindow(theDialog)) QTFrame_HandleEvent(theEvent);
      break;
    }
    case nullEvent:
      if (gAppInForeground) QTFrame_IdleMovieWindows();
      break;
    case mouseDown: {
      WindowPtr myWindow = NULL;
      short myPart = FindWindow(theEvent->where, &myWindow);
      if (myPart == inDrag && myWindow == GetDialogWindow(theDialog)) {
        Rect myLimitRect;
        GetRegionBounds(GetGrayRgn(), &myLimitRect);
        DragWindow(myWindow, theEvent->where, &myLimitRect);
        isHandled = true;
      }
      break;
    }
    default: break;
  }

  if (!isHandled) isHandled = StdFilterProc(theDialog, theEvent, theItemHit);
  return isHandled;
}

void QTFrame_StandardUserItemProcedure(DialogPtr theDialog, DialogItemIndex theItem) {
  // Deliberately draws nothing: the default button's outline comes from SetDialogDefaultItem.
  (void)theDialog;
  (void)theItem;
}

void QTFrame_ShowAboutBox(void) {
  short mySavedResFile = CurResFile();
  GrafPtr mySavedPort;
  GetPort(&mySavedPort);
  UseResFile(gAppResFile);

  QTFrame_ActivateController(QTFrame_GetFrontMovieWindow(), false);

  DialogPtr myDialog = GetNewDialog(kAboutBoxID, NULL, kInFrontOfAll);
  if (myDialog != NULL) {
    SetPortDialogPort(myDialog);
    SetDialogDefaultItem(myDialog, kAboutBoxOKItem);

    DialogItemType myItemKind = 0;
    Handle myItemHandle = NULL;
    Rect myItemRect = {0, 0, 0, 0};
    GetDialogItem(myDialog, kAboutBoxUserItem, &myItemKind, &myItemHandle, &myItemRect);
    SetDialogItem(myDialog, kAboutBoxUserItem, myItemKind, (Handle)gUserItemProcUPP, &myItemRect);

    DialogItemIndex myItem = 0;
    do {
      ModalDialog(gModalFilterUPP, &myItem);
    } while (myItem != kAboutBoxOKItem);
  }

  SetPort(mySavedPort);
  UseResFile(mySavedResFile);
  if (myDialog != NULL) DisposeDialog(myDialog);
}

void QTFrame_ShowWarning(StringPtr theMessage, OSErr theErr) {
  short mySavedResFile = CurResFile();
  UseResFile(gAppResFile);

  Str255 myErrorString;
  NumToString(theErr, myErrorString);
  ParamText(kWarningTitle, theMessage, myErrorString, NULL);
  Alert(kAlertErrorID, gModalFilterUPP);

  UseResFile(mySavedResFile);
}
